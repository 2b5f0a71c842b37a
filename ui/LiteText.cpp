#include "ui/LiteText.h"

#include <olectl.h>
#include <shellapi.h>

#include <climits>
#include <iterator>
#include <vector>

#include "support/Boundary.h"
#include "ui/Painting.h"
#include "xml/XmlNode.h"

namespace {

// The window property that leads from a window to its CLiteText.
const wchar_t kObjectProperty[] = L"CorvaneLiteText.Object";
// The class of the controls the object creates itself: the rich edit class under our own procedure, so
// the object is bound from the window's first message and can initialise on WM_CREATE.
const wchar_t kClassName[] = L"CorvaneLiteText";
// The rich edit class's own procedure, behind kClassName.
WNDPROC g_richEditClassProc = nullptr;
// The object whose window CreateWindowExW is making on this thread, until the window's first message.
thread_local CLiteText* t_creating = nullptr;

// The parent reflects notifications back as message + OCM__BASE; the originals are all below WM_USER.
bool IsReflected(UINT message) {
  return message >= OCM__BASE && message < OCM__BASE + WM_USER;
}

bool RegisterControlClass(WNDPROC procedure) {
  if (g_richEditClassProc) return true;
  WNDCLASSEXW richEdit = {};
  richEdit.cbSize = sizeof(richEdit);
  if (!GetClassInfoExW(nullptr, L"RichEdit20W", &richEdit)) return false;
  // Same extra bytes and styles: the rich edit keeps its state in them.
  WNDCLASSEXW control = richEdit;
  control.style &= ~CS_GLOBALCLASS;
  control.hInstance = GetModuleHandleW(nullptr);
  control.lpszClassName = kClassName;
  control.lpfnWndProc = procedure;
  if (!RegisterClassExW(&control) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
  g_richEditClassProc = richEdit.lpfnWndProc;
  return true;
}

// A format's effect bits under mask replaced by effect (subscript and superscript share one mask, so
// setting one clears the other), with the mask marked valid.
void SetEffect(CHARFORMAT2W& format, DWORD mask, DWORD effect) {
  format.dwEffects = (format.dwEffects & ~mask) | effect;
  format.dwMask |= mask;
}

struct EffectElement {
  const wchar_t* name;
  DWORD mask;
  DWORD effect;
};
const EffectElement kEffectElements[] = {
    {L"b", CFM_BOLD, CFE_BOLD},
    {L"i", CFM_ITALIC, CFE_ITALIC},
    {L"u", CFM_UNDERLINE, CFE_UNDERLINE},
    {L"t", CFM_STRIKEOUT, CFE_STRIKEOUT},
    {L"sub", CFM_SUBSCRIPT, CFE_SUBSCRIPT},
    {L"sup", CFM_SUPERSCRIPT, CFE_SUPERSCRIPT},
};

const EffectElement* FindEffectElement(const std::wstring& name) {
  for (const EffectElement& effect : kEffectElements) {
    if (name == effect.name) return &effect;
  }
  return nullptr;
}

const LONG kTwipsPerPoint = 20;

}  // namespace

CLiteText::CLiteText(ILiteTextCallback* callback) : callback(callback) {}

CLiteText::~CLiteText() {
  if (hwnd && IsWindow(hwnd)) DestroyWindow(hwnd);
  // A window that could not be destroyed (another thread's) must not keep calling into a dead object.
  if (hwnd) Unbind();
  links.clear();
}

HWND CLiteText::Create(HWND parent, const RECT& rect, UINT id) {
  if (hwnd || !RegisterControlClass(WindowProc)) return nullptr;
  t_creating = this;
  HWND window = CreateWindowExW(
      0, kClassName, L"",
      WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | ES_READONLY | ES_AUTOVSCROLL | ES_MULTILINE,
      rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, parent,
      reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  t_creating = nullptr;
  // A window that failed during its creation may have been bound without ever reaching WM_NCDESTROY.
  if (!window && hwnd) {
    hwnd = nullptr;
    previousProc = DefWindowProcW;
  }
  return window;
}

bool CLiteText::Attach(HWND window) {
  if (hwnd || !window || !IsWindow(window) || GetPropW(window, kObjectProperty)) return false;
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId()) return false;
  WNDPROC previous = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC));
  if (!previous || !Bind(window, previous)) return false;
  SetLastError(ERROR_SUCCESS);
  if (!SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WindowProc)) &&
      GetLastError() != ERROR_SUCCESS) {
    Unbind();
    return false;
  }
  Initialise();
  return true;
}

bool CLiteText::Bind(HWND window, WNDPROC previous) {
  if (!SetPropW(window, kObjectProperty, this)) return false;
  hwnd = window;
  previousProc = previous;
  return true;
}

void CLiteText::Unbind() {
  // Give the window its procedure back, unless someone subclassed it after us: then theirs stays in
  // charge and ours must keep forwarding.
  if (reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_WNDPROC)) == WindowProc) {
    SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previousProc));
  }
  RemovePropW(hwnd, kObjectProperty);
  hwnd = nullptr;
  previousProc = DefWindowProcW;
}

LRESULT CALLBACK CLiteText::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = static_cast<CLiteText*>(GetPropW(window, kObjectProperty));
  if (!self) {
    // The first message of a window that Create is making.
    self = t_creating;
    t_creating = nullptr;
    if (!self || !self->Bind(window, g_richEditClassProc)) {
      return CallWindowProcW(g_richEditClassProc ? g_richEditClassProc : DefWindowProcW, window, message,
                             wParam, lParam);
    }
  }
  LRESULT result = 0;
  // Reached from the system (and through SendMessageW from the dialog): a callback's exception is kept
  // for our code beyond the system's frames.
  if (!RunAtBoundary([&] { result = self->ProcessMessage(message, wParam, lParam); })) result = 0;
  if (message == WM_NCDESTROY) self->Unbind();
  return result;
}

LRESULT CLiteText::ProcessMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: {
      LRESULT result = CallWindowProcW(previousProc, hwnd, message, wParam, lParam);
      if (result != -1) Initialise();
      return result;
    }
    case WM_DESTROY:
      if (callback) callback->OnDestroy(this);
      break;
    case WM_SETFOCUS:
      // The rich edit never learns of the focus, so it shows no caret or selection.
      return OnSetFocus(reinterpret_cast<HWND>(wParam));
    case WM_KILLFOCUS:
      SetFocusedLink(-1);
      break;
    case WM_LBUTTONDOWN: {
      clicking = true;
      LRESULT result = CallWindowProcW(previousProc, hwnd, message, wParam, lParam);
      clicking = false;
      return result;
    }
    case WM_KEYDOWN:
    case WM_CHAR:
      if (OnKey(message, wParam)) return 0;
      break;
    case kOpenLinkMessage:
      if (wParam < links.size()) OpenLink(static_cast<size_t>(wParam));
      return 0;
    case WM_PAINT:
      return OnPaint(wParam, lParam);
    case WM_UPDATEUISTATE: {
      LRESULT result = CallWindowProcW(previousProc, hwnd, message, wParam, lParam);
      if (textCue || focusedLink >= 0) InvalidateRect(hwnd, nullptr, TRUE);
      return result;
    }
    case WM_SETCURSOR:
      // The rich edit would show an I-beam over text that cannot be edited.
      if (reinterpret_cast<HWND>(wParam) == hwnd && LOWORD(lParam) == HTCLIENT) {
        SetCursor(LoadCursorW(nullptr, IDC_ARROW));
        return TRUE;
      }
      break;
    case WM_GETDLGCODE:
      return DialogCode(reinterpret_cast<const MSG*>(lParam));
    case OCM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->code == EN_REQUESTRESIZE) {
        RECT requested = reinterpret_cast<const REQRESIZE*>(lParam)->rc;
        if (callback && requested.left < requested.right) callback->OnRequestResize(this, requested);
        return 0;
      }
      if (header->code == EN_LINK) return OnLink(*reinterpret_cast<const ENLINK*>(lParam));
      return DefWindowProcW(hwnd, WM_NOTIFY, wParam, lParam);
    }
    default:
      if (IsReflected(message)) return DefWindowProcW(hwnd, message - OCM__BASE, wParam, lParam);
      break;
  }
  return CallWindowProcW(previousProc, hwnd, message, wParam, lParam);
}

void CLiteText::Initialise() {
  // A mirrored window makes its controls mirrored too. The rich edit orders right-to-left paragraphs
  // itself, and drawn into a mirrored DC as well they would come out reversed a second time (Wine's rich
  // edit does that): the control keeps its mirrored place but draws unmirrored, reading right to left.
  LONG_PTR extended = GetWindowLongPtrW(hwnd, GWL_EXSTYLE);
  rightToLeft = (extended & (WS_EX_LAYOUTRTL | WS_EX_RTLREADING)) != 0;
  if (extended & WS_EX_LAYOUTRTL) {
    SetWindowLongPtrW(hwnd, GWL_EXSTYLE, (extended & ~WS_EX_LAYOUTRTL) | WS_EX_RTLREADING);
  }
  SendMessageW(hwnd, EM_SETEVENTMASK, 0, ENM_LINK | ENM_REQUESTRESIZE);
  HWND parent = GetParent(hwnd);
  if (HFONT font = parent ? reinterpret_cast<HFONT>(SendMessageW(parent, WM_GETFONT, 0, 0)) : nullptr) {
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  SendMessageW(hwnd, EM_SETBKGNDCOLOR, 0, backgroundColor);
  if (callback) callback->OnCreate(this);
}

void CLiteText::SetBackgroundColor(COLORREF color) {
  backgroundColor = color;
  if (hwnd) SendMessageW(hwnd, EM_SETBKGNDCOLOR, 0, backgroundColor);
}

LRESULT CLiteText::OnLink(const ENLINK& link) {
  if (link.msg != WM_LBUTTONDOWN) return 0;
  auto found = links.find(link.chrg.cpMin);
  if (found == links.end()) return 0;
  OpenLink(found->second);
  // Handled either way, so the rich edit does not also act on the click.
  return 1;
}

void CLiteText::OpenLink(size_t index) {
  OpenLink(std::next(links.begin(), static_cast<std::ptrdiff_t>(index))->second);
}

void CLiteText::OpenLink(const std::wstring& link) {
  // A copy: the owner may replace the content, and with it the map, while it handles the link.
  const std::wstring href = link;
  if (!callback || !callback->OnLinkClicked(this, href)) {
    // A page that does not open is not worth a message: the user can try again.
    ShellExecuteW(GetParent(hwnd), nullptr, href.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  }
}

LRESULT CLiteText::OnSetFocus(HWND previous) {
  // The mouse never leaves the focus on a label, and a text without links has nothing for the keyboard.
  HWND parent = GetParent(hwnd);
  if (clicking || links.empty()) {
    SetFocus(parent);
    return 0;
  }
  int last = static_cast<int>(links.size()) - 1;
  if (previous && GetParent(previous) == parent) {
    // From a sibling: Tab enters at the first link, Shift+Tab at the last, as if each were a control.
    SetFocusedLink(GetKeyState(VK_SHIFT) < 0 ? last : 0);
  } else {
    // The window is active again (the opened page had taken the foreground): the same link as before.
    SetFocusedLink(lastFocusedLink >= 0 && lastFocusedLink <= last ? lastFocusedLink : 0);
  }
  return 0;
}

LRESULT CLiteText::DialogCode(const MSG* message) const {
  LRESULT code = DLGC_STATIC;
  if (focusedLink < 0 || !message) return code;
  if (message->message == WM_CHAR) return code | DLGC_WANTCHARS;
  if (message->message != WM_KEYDOWN) return code;
  if (message->wParam == VK_TAB) {
    // The last link going forward (the first going back) lets the dialog move the focus on.
    int next = focusedLink + (GetKeyState(VK_SHIFT) < 0 ? -1 : 1);
    if (next >= 0 && next < static_cast<int>(links.size())) code |= DLGC_WANTTAB;
  } else if (message->wParam == VK_RETURN || message->wParam == VK_SPACE) {
    // Enter would otherwise press the default button.
    code |= DLGC_WANTMESSAGE;
  }
  return code;
}

bool CLiteText::OnKey(UINT message, WPARAM key) {
  if (focusedLink < 0) return false;
  // No caret shows, so the rich edit has nothing to do with keys while a link holds the focus.
  if (message != WM_KEYDOWN) return true;
  if (key == VK_TAB) {
    bool back = GetKeyState(VK_SHIFT) < 0;
    int next = focusedLink + (back ? -1 : 1);
    if (next >= 0 && next < static_cast<int>(links.size())) SetFocusedLink(next);
    else SendMessageW(GetParent(hwnd), WM_NEXTDLGCTL, back ? 1 : 0, FALSE);
  } else if (key == VK_RETURN || key == VK_SPACE) {
    OpenLink(static_cast<size_t>(focusedLink));
  }
  return true;
}

void CLiteText::SetFocusedLink(int index) {
  if (index == focusedLink) return;
  focusedLink = index;
  if (index >= 0) lastFocusedLink = index;
  InvalidateRect(hwnd, nullptr, TRUE);
}

void CLiteText::SetTextCue(bool shown) {
  if (shown == textCue) return;
  textCue = shown;
  if (hwnd) InvalidateRect(hwnd, nullptr, TRUE);
}

std::wstring CLiteText::GetLinkText(size_t index) const {
  if (!hwnd || index >= links.size()) return std::wstring();
  auto link = std::next(links.begin(), static_cast<std::ptrdiff_t>(index));
  auto end = linkEnds.find(link->first);
  if (end == linkEnds.end() || end->second <= link->first) return std::wstring();
  std::wstring text(static_cast<size_t>(end->second - link->first) + 1, L'\0');
  TEXTRANGEW range = {{link->first, end->second}, &text[0]};
  text.resize(static_cast<size_t>(SendMessageW(hwnd, EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range))));
  return text;
}

bool CLiteText::CueShown() const {
  if (!textCue && focusedLink < 0) return false;
  // The dialog manager decides when cues show: once the keyboard has been used.
  HWND parent = GetParent(hwnd);
  return !(SendMessageW(parent ? parent : hwnd, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS);
}

bool CLiteText::RangeBounds(LONG start, LONG end, RECT& bounds) const {
  RECT client;
  if (!GetClientRect(hwnd, &client) || end < start) return false;
  // Every character's leading edge, so a range that reads right to left, or mixes both ways, is covered.
  LONG left = LONG_MAX, right = LONG_MIN;
  for (LONG i = start; i <= end; ++i) {
    POINTL at = {};
    SendMessageW(hwnd, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&at), i);
    left = at.x < left ? at.x : left;
    right = at.x > right ? at.x : right;
  }
  RECT around = {left - 1, client.top, right + 1, client.bottom};
  return IntersectRect(&bounds, &around, &client) != FALSE;
}

bool CLiteText::TextBounds(RECT& bounds) const {
  LONG end = TextEnd();
  if (!RangeBounds(0, end, bounds)) return false;
  if (!rightToLeft || end == 0) return true;
  // A character's position is its leading edge, the right one when it reads right to left, and the
  // paragraph's end gives no edge beyond the last glyph: widen the frame by that glyph's width.
  wchar_t last[2] = {};
  TEXTRANGEW range = {{end - 1, end}, last};
  SendMessageW(hwnd, EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range));
  HDC dc = GetDC(hwnd);
  if (!dc) return true;
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0)));
  SIZE size = {};
  if (GetTextExtentPoint32W(dc, last, 1, &size)) bounds.left = bounds.left - size.cx > 0 ? bounds.left - size.cx : 0;
  SelectObject(dc, old);
  ReleaseDC(hwnd, dc);
  return true;
}

LRESULT CLiteText::OnPaint(WPARAM wParam, LPARAM lParam) {
  if (!CueShown()) return CallWindowProcW(previousProc, hwnd, WM_PAINT, wParam, lParam);
  // The cue goes over what the rich edit paints, only where it painted: elsewhere the cue is already there.
  HRGN update = CreateRectRgn(0, 0, 0, 0);
  bool painting = update && GetUpdateRgn(hwnd, update, FALSE) > NULLREGION;
  LRESULT result = CallWindowProcW(previousProc, hwnd, WM_PAINT, wParam, lParam);
  RECT cue;
  bool framed = false;
  if (focusedLink >= 0 && focusedLink < static_cast<int>(links.size())) {
    LONG start = std::next(links.begin(), focusedLink)->first;
    auto found = linkEnds.find(start);
    framed = RangeBounds(start, found != linkEnds.end() ? found->second : start, cue);
  } else {
    framed = TextBounds(cue);
  }
  if (painting && framed) {
    if (HDC dc = GetDC(hwnd)) {
      SelectClipRgn(dc, update);
      DrawFocusCue(dc, cue);
      ReleaseDC(hwnd, dc);
    }
  }
  if (update) DeleteObject(update);
  return result;
}

LONG CLiteText::TextEnd() const {
  GETTEXTLENGTHEX length = {GTL_NUMCHARS | GTL_PRECISE, 1200};
  return static_cast<LONG>(SendMessageW(hwnd, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0));
}

bool CLiteText::SetContent(const CXMLElement* element) {
  links.clear();
  linkEnds.clear();
  if (!hwnd) return false;
  SetFocusedLink(-1);
  lastFocusedLink = -1;
  SendMessageW(hwnd, EM_SETSEL, 0, -1);
  SetWindowTextW(hwnd, L"");
  SendMessageW(hwnd, EM_EMPTYUNDOBUFFER, 0, 0);
  if (rightToLeft) {
    // Set on the empty paragraph, so the text is laid out right to left as it arrives; paragraphs that
    // line breaks start take their format from it.
    PARAFORMAT2 paragraph = {};
    paragraph.cbSize = sizeof(paragraph);
    paragraph.dwMask = PFM_RTLPARA;
    paragraph.wEffects = PFE_RTLPARA;
    SendMessageW(hwnd, EM_SETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&paragraph));
  }
  if (!element || !element->IsElement()) return false;

  // Walked with an explicit stack, like the XML library itself, so no nesting depth can exhaust the
  // thread's stack. Each open element keeps the format that was in force where it began.
  struct Open {
    CXMLNode* next;
    CHARFORMAT2W before;
    LONG linkStart;  // where the link this element makes starts; -1 when it makes none
  };
  std::vector<Open> open;
  open.push_back({element->GetFirstChild(), GetInsertionFormat(), -1});
  while (!open.empty()) {
    CXMLNode* node = open.back().next;
    if (!node) {
      SetInsertionFormat(open.back().before);
      if (open.back().linkStart >= 0) linkEnds[open.back().linkStart] = TextEnd();
      open.pop_back();
      continue;
    }
    open.back().next = node->GetNext();
    if (node->IsContent()) {
      const auto* text = static_cast<const CXMLContent*>(node);
      AppendText(text->GetText());
    } else if (node->IsElement()) {
      const auto* child = static_cast<const CXMLElement*>(node);
      CHARFORMAT2W before = GetInsertionFormat();
      CHARFORMAT2W format = before;
      if (ApplyElementFormat(*child, format)) {
        open.push_back({child->GetFirstChild(), before, child->GetName() == L"a" ? TextEnd() : -1});
      } else {
        AppendFallbackText(*child);
        SetInsertionFormat(before);
      }
    }
    // Comments, CDATA sections, processing instructions and DOCTYPEs render nothing.
  }
  // Links are for the keyboard too: a text with links is a tab stop.
  LONG_PTR style = GetWindowLongPtrW(hwnd, GWL_STYLE);
  SetWindowLongPtrW(hwnd, GWL_STYLE, links.empty() ? style & ~WS_TABSTOP : style | WS_TABSTOP);
  return true;
}

CHARFORMAT2W CLiteText::GetInsertionFormat() const {
  CHARFORMAT2W format = {};
  format.cbSize = sizeof(format);
  SendMessageW(hwnd, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
  return format;
}

void CLiteText::SetInsertionFormat(CHARFORMAT2W& format) {
  SendMessageW(hwnd, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
}

bool CLiteText::ApplyElementFormat(const CXMLElement& element, CHARFORMAT2W& format) {
  const std::wstring name = element.GetName();
  const EffectElement* effect = FindEffectElement(name);
  if (effect) {
    SetEffect(format, effect->mask, effect->effect);
  } else if (name == L"a") {
    std::wstring href;
    if (!element.GetAttribute(L"href", href)) return false;
    // Only one link can start at a position: a click reports the start of its link.
    if (!links.emplace(MoveCaretToEnd(), std::move(href)).second) return false;
    SetEffect(format, CFM_LINK, CFE_LINK);
  } else if (name == L"font") {
    std::wstring face;
    // A face name cut to fit would name another font, or none: a name too long is ignored.
    if (element.GetAttribute(L"face", face) && !face.empty() && face.size() < LF_FACESIZE) {
      face.copy(format.szFaceName, face.size());
      format.szFaceName[face.size()] = L'\0';
      format.dwMask |= CFM_FACE;
    }
    unsigned points = 0;
    // The height is kept in twips in a LONG: a size that does not fit ("-1" reads as 4294967295) is
    // unreadable rather than wrapped to a negative height.
    if (element.GetAttribute(L"size", points) && points <= static_cast<unsigned>(LONG_MAX / kTwipsPerPoint)) {
      format.yHeight = static_cast<LONG>(points) * kTwipsPerPoint;
      format.dwMask |= CFM_SIZE;
    }
    COLORREF color = 0;
    if (element.GetAttributeColor(L"color", color)) {
      format.crTextColor = color;
      SetEffect(format, CFM_COLOR, 0);
    }
    if (element.GetAttributeColor(L"bgcolor", color)) {
      format.crBackColor = color;
      SetEffect(format, CFM_BACKCOLOR, 0);
    }
  } else if (name == L"strong") {
    format.crTextColor = emphasisColor;
    SetEffect(format, CFM_COLOR, 0);
    format.yHeight = format.yHeight / kTwipsPerPoint * kTwipsPerPoint + kTwipsPerPoint;
    format.dwMask |= CFM_SIZE;
  } else if (name != L"span") {
    return false;
  }
  SetInsertionFormat(format);
  return true;
}

void CLiteText::AppendFallbackText(const CXMLElement& element) {
  std::wstring text;
  if (!element.GetAttribute(L"default", text) && !element.GetText(text, false)) {
    text = L"<" + std::wstring(element.GetName()) + L">";
  }
  AppendText(text.c_str());
}

void CLiteText::AppendText(const wchar_t* text) {
  MoveCaretToEnd();
  if (!text || !*text) return;
  SendMessageW(hwnd, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text));
  MoveCaretToEnd();
}

LONG CLiteText::MoveCaretToEnd() {
  LONG end = TextEnd();
  CHARRANGE range = {end, end};
  SendMessageW(hwnd, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
  SendMessageW(hwnd, EM_SCROLLCARET, 0, 0);
  // Where the control put the caret, which is what a link notification will report.
  SendMessageW(hwnd, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
  return range.cpMin;
}
