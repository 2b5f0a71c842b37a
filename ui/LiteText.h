// A read-only rich edit control ("RichEdit20W") used as a small mark-up label: it renders the children of
// an XML element as formatted text, makes <a href="..."> elements clickable, and tells its owner about
// creation, destruction, size requests and link clicks.
//
// Mark-up (element names are case-sensitive; the root element itself is not rendered, only its children):
//   b i u t sub sup   bold, italic, underline, strike-out, subscript, superscript
//   a href="..."      a link; the href is recorded under the character position where the link starts
//   font              face="name" size="points" color="#rrggbb" bgcolor="#rrggbb", each optional
//   strong            the emphasis colour, and one point larger than the whole points of the text around it
//   span              no change
// Every element starts from the format in force where it begins, and the format after it is the one before
// it. An element without a rule (or an `a` without href, or a second `a` at a position that already has
// one) renders as text instead: its "default" attribute if present, else its own direct text, else its
// name as "<name>". Attribute values that do not read leave that part of the format unchanged.
//
// The parent window must send its children's notifications back to them as message + 0x2000 (OCM__BASE),
// as CDialog::ReflectNotification does: link clicks and size requests arrive that way.
//
// Keyboard: a control with links is a tab stop. Tab and Shift+Tab move the focus from link to link before
// they leave the control (it is entered at the first link going forward, at the last going back); Enter or
// Space opens the focused link exactly as a click does; when the window is activated again, the focus
// returns to the link that had it. A click still never leaves the focus here.
// Focus cues follow the parent's rule for them (WM_QUERYUISTATE, UISF_HIDEFOCUS): a focus rectangle around
// the focused link, or around the whole text while the control it labels has the focus (SetTextCue).
//
// A control that reads right to left (WS_EX_RTLREADING), or is mirrored (WS_EX_LAYOUTRTL, as every control
// of a mirrored dialog is), lays its text out in right-to-left paragraphs. A mirrored one is turned into a
// right-to-left reading one when attached: it stays where the mirrored layout put it but draws unmirrored.
#pragma once

#include <windows.h>
#include <richedit.h>

#include <map>
#include <string>

class CLiteText;
class CXMLElement;

// Implemented by the control's owner, which outlives it. All calls come on the window's thread.
class ILiteTextCallback {
 public:
  // The control is attached and initialised (event mask, the parent's font, background colour).
  virtual void OnCreate(CLiteText* control) = 0;
  // The window is being destroyed (WM_DESTROY); the handle is still valid.
  virtual void OnDestroy(CLiteText* control) = 0;
  // The control's content asks for this rectangle; only rectangles with left < right are reported.
  virtual void OnRequestResize(CLiteText* control, const RECT& requested) = 0;
  // A link was clicked. True when the owner handled it; false lets the control open href with the shell.
  virtual bool OnLinkClicked(CLiteText* control, const std::wstring& href) = 0;

 protected:
  ~ILiteTextCallback() = default;
};

class CLiteText {
 public:
  // callback: not owned, may be null.
  explicit CLiteText(ILiteTextCallback* callback);
  CLiteText(const CLiteText&) = delete;
  CLiteText& operator=(const CLiteText&) = delete;
  // Destroys the window if it still exists.
  ~CLiteText();

  // Creates the control as a child of parent (read-only, multi-line, visible); the rich edit library must
  // be loaded. Null when it could not be created or this object already has a window.
  HWND Create(HWND parent, const RECT& rect, UINT id);
  // Takes over an existing rich edit window (from a dialog template) by replacing its window procedure,
  // then initialises it and calls OnCreate. False when window is not a window of this process, this object
  // already has one, or another CLiteText holds it.
  bool Attach(HWND window);
  // Replaces the whole text with the rendering of element's children and forgets the old links. False when
  // element is null or there is no window.
  bool SetContent(const CXMLElement* element);

  // Null when detached, and again after the window's last message.
  HWND GetHwnd() const { return hwnd; }
  // The hrefs by the character position where their link text starts.
  const std::map<LONG, std::wstring>& GetLinks() const { return links; }
  // The text of link `index` (in reading order); empty when there is no such link.
  std::wstring GetLinkText(size_t index) const;
  // The link that has the keyboard focus, -1 when none has.
  int GetFocusedLink() const { return focusedLink; }
  // Posted with a link's index (in reading order) as wParam, opens it as a click does: what a screen
  // reader's default action on the link asks for. Posted, so that the one who asks does not wait.
  static const UINT kOpenLinkMessage = WM_APP + 0x4C;
  // Frames the whole text while the control it belongs to (a check box) has the focus.
  void SetTextCue(bool shown);
  // The room a focus rectangle takes beside the text it frames, in pixels: a control shows the frame
  // around its whole text when it is this much wider than the text needs.
  static constexpr LONG kCueRoom = 2;

  // White by default; applied at once when attached.
  COLORREF GetBackgroundColor() const { return backgroundColor; }
  void SetBackgroundColor(COLORREF color);
  // The text colour of `strong`; red 0, green 43, blue 145 by default. Takes effect at the next SetContent.
  COLORREF GetEmphasisColor() const { return emphasisColor; }
  void SetEmphasisColor(COLORREF color) { emphasisColor = color; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  bool Bind(HWND window, WNDPROC previous);
  void Unbind();
  LRESULT ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void Initialise();
  LRESULT OnLink(const ENLINK& link);
  void OpenLink(const std::wstring& href);
  // Link `index` in reading order, which must exist.
  void OpenLink(size_t index);
  LRESULT OnSetFocus(HWND previous);
  bool OnKey(UINT message, WPARAM key);
  LRESULT DialogCode(const MSG* message) const;
  void SetFocusedLink(int index);
  bool CueShown() const;
  bool RangeBounds(LONG start, LONG end, RECT& bounds) const;
  bool TextBounds(RECT& bounds) const;
  LRESULT OnPaint(WPARAM wParam, LPARAM lParam);
  LONG TextEnd() const;

  CHARFORMAT2W GetInsertionFormat() const;
  void SetInsertionFormat(CHARFORMAT2W& format);
  bool ApplyElementFormat(const CXMLElement& element, CHARFORMAT2W& format);
  void AppendFallbackText(const CXMLElement& element);
  void AppendText(const wchar_t* text);
  LONG MoveCaretToEnd();

  HWND hwnd = nullptr;
  WNDPROC previousProc = DefWindowProcW;
  ILiteTextCallback* callback;
  COLORREF backgroundColor = RGB(255, 255, 255);
  COLORREF emphasisColor = RGB(0, 43, 145);
  std::map<LONG, std::wstring> links;
  // Where each link's text ends, by where it starts.
  std::map<LONG, LONG> linkEnds;
  int focusedLink = -1;
  // The link that had the focus last, for when the window gets it back.
  int lastFocusedLink = -1;
  bool textCue = false;
  // A mouse click is under way: the focus it gives the control goes on to the parent.
  bool clicking = false;
  // The window reads right to left: the text is laid out in right-to-left paragraphs.
  bool rightToLeft = false;
};
