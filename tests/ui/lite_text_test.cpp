#include <gtest/gtest.h>

#include <windows.h>
#include <olectl.h>
#include <richedit.h>

#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/Boundary.h"
#include "support/SystemLibrary.h"
#include "ui/LiteText.h"
#include "xml/XmlDocument.h"

namespace {

struct RichEditLibrary : ::testing::Environment {
  void SetUp() override { ASSERT_NE(nullptr, LoadSystemLibrary(L"RICHED20.DLL")); }
};
::testing::Environment* const richEditLibrary = ::testing::AddGlobalTestEnvironment(new RichEditLibrary);

const wchar_t kAgreement[] =
    L"<text>I agree to the <a href=\"quillora:tos\">Quillora Terms of Service</a> and the "
    L"<a href=\"pagewing:tos\">Pagewing Terms of Use</a>.</text>";

// Reflects notifications back to the child, as the main dialog does, and offers an 11-pixel font: 8.25
// points at 96 dpi, a height that is not whole points.
LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  static HFONT font = CreateFontW(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Tahoma");
  if (message == WM_NOTIFY) {
    return SendMessageW(reinterpret_cast<NMHDR*>(lParam)->hwndFrom, OCM__BASE + message, wParam, lParam);
  }
  if (message == WM_GETFONT) return reinterpret_cast<LRESULT>(font);
  return DefWindowProcW(window, message, wParam, lParam);
}

struct Recorder : ILiteTextCallback {
  void OnCreate(CLiteText* control) override {
    events.push_back(L"create");
    if (whenCreated) whenCreated(control);
  }
  void OnDestroy(CLiteText*) override { events.push_back(L"destroy"); }
  void OnRequestResize(CLiteText*, const RECT& requested) override { resizes.push_back(requested); }
  bool OnLinkClicked(CLiteText*, const std::wstring& href) override {
    if (throwsOnClick) throw std::runtime_error("link");
    clicks.push_back(href);
    return handlesClicks;
  }
  std::vector<std::wstring> events, clicks;
  std::vector<RECT> resizes;
  bool handlesClicks = true;
  bool throwsOnClick = false;
  std::function<void(CLiteText*)> whenCreated;
};

bool Render(CLiteText& control, const std::wstring& markup) {
  CXMLDocument document;
  return document.LoadFromString(markup) && control.SetContent(document.GetRoot());
}

std::wstring PlainText(HWND edit) {
  wchar_t buffer[512] = {};
  GETTEXTEX request = {sizeof(buffer), GT_DEFAULT, 1200, nullptr, nullptr};
  SendMessageW(edit, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&request), reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

CHARFORMAT2W FormatAt(HWND edit, LONG position) {
  SendMessageW(edit, EM_SETSEL, position, position + 1);
  CHARFORMAT2W format = {};
  format.cbSize = sizeof(format);
  SendMessageW(edit, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
  return format;
}

// What the parent sends the control when the rich edit notifies it.
LRESULT SendReflected(HWND edit, NMHDR& header, UINT code) {
  header = {edit, 9000, code};
  return SendMessageW(edit, OCM__BASE + WM_NOTIFY, 9000, reinterpret_cast<LPARAM>(&header));
}

LRESULT ClickLink(HWND edit, UINT mouseMessage, LONG start) {
  ENLINK link = {};
  link.msg = mouseMessage;
  link.chrg = {start, start + 1};
  return SendReflected(edit, link.nmhdr, EN_LINK);
}

HWND NewRichEdit(HWND parent) {
  return CreateWindowExW(0, L"RichEdit20W", L"<text>raw</text>",
                         (parent ? WS_CHILD : 0) | ES_READONLY | ES_MULTILINE, 10, 10, 460, 60, parent,
                         parent ? reinterpret_cast<HMENU>(9000) : nullptr, nullptr, nullptr);
}

class LiteTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW parentClass = {0,       ParentProc, 0,       0,       instance,
                             nullptr, nullptr,    nullptr, nullptr, L"LiteTextParent"};
    RegisterClassW(&parentClass);
    parent = CreateWindowExW(0, L"LiteTextParent", L"", WS_OVERLAPPEDWINDOW, 0, 0, 500, 200, nullptr, nullptr,
                             instance, nullptr);
    edit = NewRichEdit(parent);
    ASSERT_TRUE(control.Attach(edit));
  }
  void TearDown() override { DestroyWindow(parent); }

  Recorder recorder;
  HWND parent = nullptr;
  HWND edit = nullptr;
  CLiteText control{&recorder};
};

TEST_F(LiteTextTest, RendersTextAndRecordsLinks) {
  const struct {
    const wchar_t* markup;
    const wchar_t* text;
    std::map<LONG, std::wstring> links;
  } cases[] = {
      {kAgreement,
       L"I agree to the Quillora Terms of Service and the Pagewing Terms of Use.",
       {{15, L"quillora:tos"}, {49, L"pagewing:tos"}}},
      {L"<text>a<unknown/>b</text>", L"a<unknown>b", {}},
      {L"<text><x default=\"D\">content</x></text>", L"D", {}},
      {L"<text><x default=\"\">content</x></text>", L"", {}},
      {L"<text><x>own <b>lost</b>text</x></text>", L"own text", {}},
      {L"<text><B>own</B></text>", L"own", {}},
      {L"<text><a>plain</a> <a href=\"\">empty</a></text>", L"plain empty", {{6, L""}}},
      {L"<text><a href=\"x\"/><a href=\"y\">second</a></text>", L"second", {{0, L"x"}}},
      {L"<text>a<!--c--><![CDATA[d]]><?p i?>b</text>", L"ab", {}},
      {L"<text><b>x<i>y</i><span>z</span></b><font>w</font></text>", L"xyzw", {}},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(Render(control, c.markup)) << c.markup;
    EXPECT_EQ(c.text, PlainText(edit)) << c.markup;
    EXPECT_EQ(c.links, control.GetLinks()) << c.markup;
  }

  ASSERT_TRUE(Render(control, kAgreement));
  for (LONG position = 0; position < 71; ++position) {
    bool inLink = (position >= 15 && position < 40) || (position >= 49 && position < 70);
    EXPECT_EQ(inLink, (FormatAt(edit, position).dwEffects & CFE_LINK) != 0) << position;
  }
}

TEST_F(LiteTextTest, ElementsSetTheirFormatAndRestoreTheOneBefore) {
  const LONG base = FormatAt(edit, 0).yHeight, kBase = -1;  // the parent's font
  ASSERT_NE(0, base % 20) << base;
  const COLORREF kAny = CLR_INVALID, kEmphasis = RGB(0, 43, 145);
  const struct {
    const wchar_t* markup;
    LONG position;
    DWORD on, off;
    LONG height;
    COLORREF color;
    const wchar_t* face;
  } cases[] = {
      {L"<text><b>x</b>n</text>", 0, CFE_BOLD, 0, 0, kAny, nullptr},
      {L"<text><b>x</b>n</text>", 1, 0, CFE_BOLD, 0, kAny, nullptr},
      {L"<text><i>x</i></text>", 0, CFE_ITALIC, 0, 0, kAny, nullptr},
      {L"<text><u>x</u></text>", 0, CFE_UNDERLINE, 0, 0, kAny, nullptr},
      {L"<text><t>x</t></text>", 0, CFE_STRIKEOUT, 0, 0, kAny, nullptr},
      {L"<text><sub>x</sub></text>", 0, CFE_SUBSCRIPT, CFE_SUPERSCRIPT, 0, kAny, nullptr},
      {L"<text><sub><sup>x</sup></sub></text>", 0, CFE_SUPERSCRIPT, CFE_SUBSCRIPT, 0, kAny, nullptr},
      {L"<text><b>x<i>y</i>z</b>w</text>", 1, CFE_BOLD | CFE_ITALIC, 0, 0, kAny, nullptr},
      {L"<text><b>x<i>y</i>z</b>w</text>", 2, CFE_BOLD, CFE_ITALIC, 0, kAny, nullptr},
      {L"<text><b>x<i>y</i>z</b>w</text>", 3, 0, CFE_BOLD | CFE_ITALIC, 0, kAny, nullptr},
      {L"<text><B>x</B></text>", 0, 0, CFE_BOLD, 0, kAny, nullptr},
      {L"<text><a>x</a></text>", 0, 0, CFE_LINK, 0, kAny, nullptr},
      {L"<text><a href=\"x\"/><a href=\"y\">second</a></text>", 0, 0, CFE_LINK, 0, kAny, nullptr},
      {L"<text><font size=\"12\">x</font>y</text>", 0, 0, 0, 240, kAny, nullptr},
      {L"<text><font size=\"12\">x</font>y</text>", 1, 0, 0, kBase, kAny, nullptr},
      {L"<text><font size=\"12pt\">x</font></text>", 0, 0, 0, kBase, kAny, nullptr},
      {L"<text><font size=\"-1\">x</font></text>", 0, 0, 0, kBase, kAny, nullptr},
      {L"<text><font color=\"#ff8000\">x</font></text>", 0, 0, CFE_AUTOCOLOR, 0, RGB(255, 128, 0), nullptr},
      {L"<text><font color=\"#f80\">x</font></text>", 0, CFE_AUTOCOLOR, 0, 0, kAny, nullptr},
      {L"<text><font face=\"Courier New\">x</font></text>", 0, 0, 0, 0, kAny, L"Courier New"},
      {L"<text><font face=\"A face name that is far too long to fit\">x</font></text>", 0, 0, 0, 0, kAny,
       L"Tahoma"},
      {L"<text><font size=\"8\"><strong>x</strong></font></text>", 0, 0, CFE_AUTOCOLOR, 180, kEmphasis,
       nullptr},
      {L"<text><strong>x</strong>y</text>", 0, 0, CFE_AUTOCOLOR, 180, kEmphasis, nullptr},
      {L"<text><strong>x</strong>y</text>", 1, CFE_AUTOCOLOR, 0, kBase, kAny, nullptr},
      {L"<text><strong><strong>x</strong></strong></text>", 0, 0, 0, 200, kAny, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::wstring(c.markup) + L" at " + std::to_wstring(c.position));
    ASSERT_TRUE(Render(control, c.markup));
    CHARFORMAT2W format = FormatAt(edit, c.position);
    EXPECT_EQ(c.on, format.dwEffects & c.on);
    EXPECT_EQ(0u, format.dwEffects & c.off);
    EXPECT_EQ(c.height == kBase ? base : c.height ? c.height : format.yHeight, format.yHeight);
    EXPECT_EQ(c.color == kAny ? format.crTextColor : c.color, format.crTextColor);
    EXPECT_STREQ(c.face ? c.face : format.szFaceName, format.szFaceName);
  }

  ASSERT_TRUE(Render(control, L"<text><font bgcolor=\"#102030\">x</font>y</text>"));
  EXPECT_EQ(0u, FormatAt(edit, 0).dwEffects & CFE_AUTOBACKCOLOR);
  EXPECT_EQ(RGB(0x10, 0x20, 0x30), FormatAt(edit, 0).crBackColor);
  EXPECT_NE(0u, FormatAt(edit, 1).dwEffects & CFE_AUTOBACKCOLOR);
}

TEST_F(LiteTextTest, OnlyALeftButtonDownAtALinkStartIsAClick) {
  ASSERT_TRUE(Render(control, kAgreement));
  const struct {
    UINT message;
    LONG start;
    LRESULT result;
    std::vector<std::wstring> clicks;
  } cases[] = {
      {WM_LBUTTONDOWN, 15, 1, {L"quillora:tos"}},
      {WM_LBUTTONDOWN, 49, 1, {L"pagewing:tos"}},
      {WM_LBUTTONDOWN, 16, 0, {}},
      {WM_LBUTTONDOWN, 0, 0, {}},
      {WM_LBUTTONUP, 15, 0, {}},
      {WM_MOUSEMOVE, 15, 0, {}},
  };
  for (const auto& c : cases) {
    recorder.clicks.clear();
    EXPECT_EQ(c.result, ClickLink(edit, c.message, c.start)) << c.message << " at " << c.start;
    EXPECT_EQ(c.clicks, recorder.clicks) << c.message << " at " << c.start;
  }
}

// A link handler that throws: the exception does not unwind through the system's SendMessageW, it waits
// for our code after it, once.
TEST_F(LiteTextTest, AThrowingLinkHandlerDoesNotUnwindThroughTheSystem) {
  ASSERT_TRUE(Render(control, kAgreement));
  recorder.throwsOnClick = true;
  EXPECT_NO_THROW(ClickLink(edit, WM_LBUTTONDOWN, 15));
  EXPECT_THROW(ThrowKeptException(), std::runtime_error);
  EXPECT_NO_THROW(ThrowKeptException());
}

TEST_F(LiteTextTest, ARealClickReachesTheOwnerAndTheFocusStaysWithTheParent) {
  ASSERT_TRUE(Render(control, kAgreement));
  POINTL point = {};
  SendMessageW(edit, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&point), 20);
  SendMessageW(edit, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(point.x + 1, point.y + 2));
  SendMessageW(edit, WM_LBUTTONUP, 0, MAKELPARAM(point.x + 1, point.y + 2));
  EXPECT_EQ(std::vector<std::wstring>{L"quillora:tos"}, recorder.clicks);
  EXPECT_NE(edit, GetFocus());
}

// The keyboard reaches the links: Tab enters at the first, Shift+Tab at the last; Enter and Space open the
// focused one as a click would; the dialog manager is asked for Tab only while another link follows.
TEST_F(LiteTextTest, TheKeyboardMovesBetweenLinksAndOpensThem) {
  ASSERT_TRUE(Render(control, kAgreement));
  HWND sibling = CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_TABSTOP, 0, 0, 10, 10, parent, nullptr, nullptr,
                                 nullptr);
  EXPECT_TRUE(GetWindowLongPtrW(edit, GWL_STYLE) & WS_TABSTOP);
  const struct {
    const char* name;
    bool shift;  // held while the focus arrives and the keys go
    std::vector<WPARAM> keys;
    int focused;
    bool wantsTab;
    std::vector<std::wstring> clicks;
  } cases[] = {
      {"Tab enters at the first link", false, {}, 0, true, {}},
      {"Shift+Tab enters at the last", true, {}, 1, true, {}},
      {"Space opens the first", false, {VK_SPACE}, 0, true, {L"quillora:tos"}},
      {"Shift+Tab from the last goes back", true, {VK_TAB}, 0, false, {}},
      {"other keys do nothing", false, {'A', VK_RIGHT}, 0, true, {}},
      {"Tab, then Enter opens the second", false, {VK_TAB, VK_RETURN}, 1, false, {L"pagewing:tos"}},
  };
  for (const auto& c : cases) {
    BYTE keys[256] = {};
    keys[VK_SHIFT] = c.shift ? 0x80 : 0;
    SetKeyboardState(keys);
    SetFocus(sibling);
    recorder.clicks.clear();
    SetFocus(edit);
    for (WPARAM key : c.keys) SendMessageW(edit, WM_KEYDOWN, key, 0);
    EXPECT_EQ(edit, GetFocus()) << c.name;
    EXPECT_EQ(c.focused, control.GetFocusedLink()) << c.name;
    EXPECT_EQ(c.clicks, recorder.clicks) << c.name;
    MSG tab = {edit, WM_KEYDOWN, VK_TAB, 0, 0, {0, 0}};
    EXPECT_EQ(c.wantsTab, (SendMessageW(edit, WM_GETDLGCODE, VK_TAB, reinterpret_cast<LPARAM>(&tab)) &
                           DLGC_WANTTAB) != 0)
        << c.name;
  }
  BYTE keys[256] = {};
  SetKeyboardState(keys);
  SetFocus(parent);
  EXPECT_EQ(-1, control.GetFocusedLink());
  // Given back from outside (the window active again), the focus returns to the link that had it.
  SetFocus(edit);
  EXPECT_EQ(1, control.GetFocusedLink());
  EXPECT_EQ(L"Pagewing Terms of Use", control.GetLinkText(1));
}

int CALLBACK TakeFace(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM face) {
  *reinterpret_cast<std::wstring*>(face) = font->lfFaceName;
  return 0;
}

TEST_F(LiteTextTest, InAMirroredWindowTheSentenceReadsRightToLeftAndItsLinksWork) {
  // The rich edit orders what it can shape: the text needs a face with Arabic letters.
  LOGFONTW arabic = {};
  arabic.lfCharSet = ARABIC_CHARSET;
  std::wstring face;
  HDC screen = GetDC(nullptr);
  EnumFontFamiliesExW(screen, &arabic, TakeFace, reinterpret_cast<LPARAM>(&face), 0);
  ReleaseDC(nullptr, screen);
  if (face.empty()) GTEST_SKIP() << "no font with Arabic letters";
  // The Persian agreement: "with <terms of Quillora> and <terms of Pagewing> I agree."
  const std::wstring markup =
      L"<text><font face=\"" + face +
      L"\">\u0628\u0627 <a href=\"quillora:tos\">\u0634\u0631\u0627\u06cc\u0637 "
      L"Quillora</a> \u0648 <a href=\"pagewing:tos\">\u0634\u0631\u0627\u06cc\u0637 Pagewing</a> "
      L"\u0645\u0648\u0627\u0641\u0642\u0645.</font></text>";
  HWND mirrored = CreateWindowExW(WS_EX_LAYOUTRTL, L"LiteTextParent", L"", WS_OVERLAPPEDWINDOW, 0, 0, 500,
                                  200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  HWND rtlEdit = NewRichEdit(mirrored);
  CLiteText rtl(&recorder);
  ASSERT_TRUE(rtl.Attach(rtlEdit));
  ASSERT_TRUE(Render(rtl, markup));
  // Where a character stands on the screen, whichever way the control's own coordinates run.
  auto at = [&](LONG position) {
    POINTL point = {};
    SendMessageW(rtlEdit, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&point), position);
    POINT p = {point.x, point.y};
    MapWindowPoints(rtlEdit, nullptr, &p, 1);
    return p.x;
  };
  ASSERT_EQ(2u, rtl.GetLinks().size());
  const LONG first = rtl.GetLinks().begin()->first, second = rtl.GetLinks().rbegin()->first;
  const LONG last = static_cast<LONG>(PlainText(rtlEdit).size()) - 1;
  EXPECT_GT(at(0), at(first)) << "the opening stands right of the first link";
  EXPECT_GT(at(first), at(second)) << "the first link right of the second";
  EXPECT_GT(at(second), at(last)) << "the full stop ends the sentence on the left";

  // A click in the middle of the second link's first letter.
  POINTL from = {}, to = {};
  SendMessageW(rtlEdit, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&from), second);
  SendMessageW(rtlEdit, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&to), second + 1);
  LPARAM point = MAKELPARAM((from.x + to.x) / 2, from.y + 2);
  SendMessageW(rtlEdit, WM_LBUTTONDOWN, MK_LBUTTON, point);
  SendMessageW(rtlEdit, WM_LBUTTONUP, 0, point);
  EXPECT_EQ(std::vector<std::wstring>{L"pagewing:tos"}, recorder.clicks);
  DestroyWindow(mirrored);
}

TEST(LiteTextShell, AClickNobodyHandlesStillCounts) {
  // A program the shell can open that ends by itself and leaves no window behind.
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  std::wstring markup = std::wstring(L"<text><a href=\"") + system + L"\\hostname.exe\">x</a></text>";
  for (bool withOwner : {false, true}) {
    Recorder owner;
    owner.handlesClicks = false;
    CLiteText control(withOwner ? &owner : nullptr);
    ASSERT_TRUE(control.Attach(NewRichEdit(nullptr)));
    ASSERT_TRUE(Render(control, markup));
    EXPECT_EQ(1, ClickLink(control.GetHwnd(), WM_LBUTTONDOWN, 0));
    EXPECT_EQ(withOwner ? 1u : 0u, owner.clicks.size());
  }
}

TEST_F(LiteTextTest, ReportsOnlyRequestsWithAWidth) {
  for (RECT rect : {RECT{0, 0, 100, 20}, RECT{10, 0, 10, 20}, RECT{20, 0, 10, 20}, RECT{-5, 7, -4, 7}}) {
    recorder.resizes.clear();
    REQRESIZE request = {};
    request.rc = rect;
    EXPECT_EQ(0, SendReflected(edit, request.nmhdr, EN_REQUESTRESIZE));
    ASSERT_EQ(rect.left < rect.right ? 1u : 0u, recorder.resizes.size()) << rect.left << "," << rect.right;
    EXPECT_TRUE(recorder.resizes.empty() || EqualRect(&rect, &recorder.resizes[0]));
  }

  recorder.resizes.clear();  // the real control asks through its parent
  ASSERT_TRUE(Render(control, kAgreement));
  SendMessageW(edit, EM_REQUESTRESIZE, 0, 0);
  ASSERT_EQ(1u, recorder.resizes.size());
  EXPECT_LT(recorder.resizes[0].top, recorder.resizes[0].bottom);
}

TEST_F(LiteTextTest, AttachInitialisesTheControlAsALabel) {
  EXPECT_EQ(std::vector<std::wstring>{L"create"}, recorder.events);
  EXPECT_EQ(edit, control.GetHwnd());
  EXPECT_EQ(ENM_LINK | ENM_REQUESTRESIZE, SendMessageW(edit, EM_GETEVENTMASK, 0, 0));
  EXPECT_EQ(RGB(255, 255, 255), static_cast<COLORREF>(SendMessageW(edit, EM_SETBKGNDCOLOR, 0, RGB(1, 2, 3))));
  control.SetBackgroundColor(RGB(9, 8, 7));
  EXPECT_EQ(RGB(9, 8, 7), static_cast<COLORREF>(SendMessageW(edit, EM_SETBKGNDCOLOR, 0, RGB(1, 2, 3))));
  EXPECT_STREQ(L"Tahoma", FormatAt(edit, 0).szFaceName);
  EXPECT_EQ(DLGC_STATIC, SendMessageW(edit, WM_GETDLGCODE, 0, 0));
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  EXPECT_EQ(TRUE, SendMessageW(edit, WM_SETCURSOR, reinterpret_cast<WPARAM>(edit), HTCLIENT));
  EXPECT_EQ(LoadCursorW(nullptr, IDC_ARROW), GetCursor());

  HWND gone = NewRichEdit(parent);
  DestroyWindow(gone);
  CLiteText other(nullptr);
  EXPECT_FALSE(other.Attach(nullptr));
  EXPECT_FALSE(other.Attach(gone));
  EXPECT_FALSE(other.Attach(edit)) << "held by another object";
  EXPECT_FALSE(control.Attach(NewRichEdit(parent))) << "already attached";
  EXPECT_EQ(nullptr, other.GetHwnd());
}

TEST_F(LiteTextTest, DestructionIsReportedAndTheHandleForgotten) {
  DestroyWindow(edit);
  EXPECT_EQ((std::vector<std::wstring>{L"create", L"destroy"}), recorder.events);
  EXPECT_EQ(nullptr, control.GetHwnd());
  EXPECT_FALSE(control.SetContent(nullptr));

  HWND owned = NewRichEdit(parent);
  { CLiteText(nullptr).Attach(owned); }
  EXPECT_FALSE(IsWindow(owned));
}

TEST_F(LiteTextTest, EachContentStartsAfresh) {
  ASSERT_TRUE(Render(control, L"<text><b><a href=\"x\">bold link</a></b></text>"));
  ASSERT_TRUE(Render(control, L"<text>plain</text>"));
  EXPECT_EQ(L"plain", PlainText(edit));
  EXPECT_TRUE(control.GetLinks().empty());
  EXPECT_EQ(0u, FormatAt(edit, 0).dwEffects & (CFE_BOLD | CFE_LINK));
  EXPECT_FALSE(control.SetContent(nullptr));
  EXPECT_EQ(L"", PlainText(edit));

  // Far deeper than a recursive walk could go on a thread's stack.
  std::wstring open, close;
  for (int i = 0; i < 20000; ++i) open += L"<span>", close += L"</span>";
  ASSERT_TRUE(Render(control, L"<text>" + open + L"<b>deep</b>" + close + L"</text>"));
  EXPECT_EQ(L"deep", PlainText(edit));
}

TEST_F(LiteTextTest, ACreatedControlIsInitialisedOnceTheRichEditIsReady) {
  Recorder owner;
  owner.whenCreated = [](CLiteText* created) { EXPECT_TRUE(Render(*created, L"<text><b>ready</b></text>")); };
  CLiteText created(&owner);
  HWND window = created.Create(parent, RECT{0, 100, 200, 130}, 77);
  ASSERT_NE(nullptr, window);
  EXPECT_EQ(window, created.GetHwnd());
  EXPECT_EQ(std::vector<std::wstring>{L"create"}, owner.events);
  EXPECT_EQ(L"ready", PlainText(window));
  EXPECT_NE(0u, FormatAt(window, 0).dwEffects & CFE_BOLD);
  EXPECT_EQ(77, GetDlgCtrlID(window));
  const LONG_PTR style = WS_CHILD | WS_VISIBLE | ES_READONLY | ES_MULTILINE | ES_AUTOVSCROLL;
  EXPECT_EQ(style, GetWindowLongPtrW(window, GWL_STYLE) & style);
  EXPECT_EQ(ENM_LINK | ENM_REQUESTRESIZE, SendMessageW(window, EM_GETEVENTMASK, 0, 0));
  EXPECT_EQ(nullptr, created.Create(parent, RECT{0, 0, 10, 10}, 78));
}

}  // namespace
