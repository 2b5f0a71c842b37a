#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>

#include <string>
#include <vector>

#include "app/Shell.h"
#include "ui/Accessible.h"
#include "ui/Layout.h"
#include "ui/LiteText.h"
#include "ui/Painting.h"

namespace {

const wchar_t kSentence[] = L"I agree to the Quillora Terms of Service and the Pagewing Terms of Use.";

// The clicks the dialog's controls reported, and the page its WM_GETOBJECT describes (none: -1) as the
// program's window does, with the agreement text g_text.
std::vector<int> g_clicks;
int g_page = -1;
const CLiteText* g_text = nullptr;

// Links opened, as 1000 + their index in reading order among g_clicks, instead of starting a browser.
const int kLinkOpened = 1000;
struct CLinkRecorder final : ILiteTextCallback {
  void OnCreate(CLiteText*) override {}
  void OnDestroy(CLiteText*) override {}
  void OnRequestResize(CLiteText*, const RECT&) override {}
  bool OnLinkClicked(CLiteText* control, const std::wstring& href) override {
    int index = 0;
    for (const auto& link : control->GetLinks()) {
      if (link.second == href) g_clicks.push_back(kLinkOpened + index);
      ++index;
    }
    return true;
  }
};

INT_PTR CALLBACK QuietDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) g_clicks.push_back(LOWORD(wParam));
  if (message != WM_GETOBJECT || static_cast<LONG>(lParam) != OBJID_CLIENT || g_page < 0)
    return message == WM_INITDIALOG;
  RECT client;
  GetClientRect(dialog, &client);
  CArtwork art;
  auto font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
  CComOwnerT<IAccessible> object(CreateWindowAccessible(
      dialog,
      DescribeWindow(dialog, PaintedLabels(client, ContentLayout(), art, g_page, font), g_text, g_page)));
  SetWindowLongPtrW(dialog, DWLP_MSGRESULT, AccessibleResult(object.Get(), wParam));
  return TRUE;
}

void Pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

std::wstring Take(BSTR text) {
  std::wstring taken = text ? text : L"";
  SysFreeString(text);
  return taken;
}

VARIANT ChildId(long id) {
  VARIANT child = {};
  child.vt = VT_I4;
  child.lVal = id;
  return child;
}

BOOL CALLBACK TakeLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR list) {
  reinterpret_cast<std::vector<WORD>*>(list)->push_back(language);
  return TRUE;
}

std::wstring TextOf(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return text;
}

// The mark-up without its tags: what the sentence says in plain words (the translations use no entities).
std::wstring WithoutMarkup(const std::wstring& markup) {
  std::wstring plain;
  bool inTag = false;
  for (wchar_t c : markup) {
    if (c == L'<') inTag = true;
    else if (c == L'>') inTag = false;
    else if (!inTag) plain += c;
  }
  return plain;
}

// The real dialog templates of Installer.exe, made into windows here, with the program's strings.
class ProgramDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    wchar_t exe[MAX_PATH];
    std::wstring path(exe, GetModuleFileNameW(nullptr, exe, MAX_PATH));
    program = LoadLibraryExW((path.substr(0, path.find_last_of(L"\\/")) + L"\\Installer.exe").c_str(),
                             nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, program);
    g_module.SetResourceInstance(program);
  }
  void TearDown() override {
    g_page = -1;
    g_text = nullptr;
    if (dialog) DestroyWindow(dialog);
    g_module.SetResourceInstance(nullptr);
    if (program) FreeLibrary(program);
  }

  HWND Open(WORD language) {
    if (dialog) DestroyWindow(dialog);
    HRSRC found = FindResourceExW(program, RT_DIALOG, MAKEINTRESOURCEW(6100), language);
    const void* bytes = found ? LockResource(LoadResource(program, found)) : nullptr;
    dialog = bytes
                 ? CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                              static_cast<const DLGTEMPLATE*>(bytes), nullptr, QuietDialog, 0)
                 : nullptr;
    return dialog;
  }

  HMODULE program = nullptr;
  HWND dialog = nullptr;
};

TEST_F(ProgramDialog, TheAgreementBoxIsNamedWithThePlainSentenceInEveryLanguage) {
  std::vector<WORD> languages;
  EnumResourceLanguagesW(program, RT_DIALOG, MAKEINTRESOURCEW(6100), TakeLanguage,
                         reinterpret_cast<LONG_PTR>(&languages));
  EXPECT_EQ(25u, languages.size());
  for (WORD language : languages) {
    ASSERT_NE(nullptr, Open(language)) << language;
    std::wstring expected = WithoutMarkup(TextOf(GetDlgItem(dialog, 9000)));
    CLiteText text(nullptr);
    EXPECT_TRUE(ShowAgreement(dialog, text)) << language;
    EXPECT_FALSE(expected.empty()) << language;
    EXPECT_EQ(expected, TextOf(GetDlgItem(dialog, 9002))) << language;
  }
}

struct Child {
  LONG role;
  std::wstring name;
  bool own = false;           // an object of its own: the system's, for a control
  std::wstring action = L"";  // the default action
  std::wstring value = L"";
  bool operator==(const Child& o) const {
    return role == o.role && name == o.name && own == o.own && action == o.action && value == o.value;
  }
};
void PrintTo(const Child& c, std::ostream* out) {
  *out << c.role << " \"" << std::string(c.name.begin(), c.name.end()) << (c.own ? "\" own \"" : "\" \"")
       << std::string(c.action.begin(), c.action.end()) << "\" "
       << std::string(c.value.begin(), c.value.end());
}

// What a screen reader finds on a page and what it can do there, through the object the window hands out:
// Wine's accessibility layer does not carry it to another process. Where Wine's objects for the controls
// know no buttons, the window's own object answers as Windows' objects do.
TEST_F(ProgramDialog, TheAccessibleObjectNamesThePageTextsAndControls) {
  ASSERT_NE(nullptr, Open(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)));
  CLinkRecorder links;
  CLiteText text(&links);
  ASSERT_TRUE(ShowAgreement(dialog, text));
  g_text = &text;
  HWND bar = GetDlgItem(dialog, 9100);
  // As the program starts: the progress bar hidden, the focus on the box (a hidden window takes none).
  ShowWindow(bar, SW_HIDE);
  ShowWindow(dialog, SW_SHOW);
  SetFocus(GetDlgItem(dialog, 9002));
  auto welcome = [](const wchar_t* boxAction) {
    return std::vector<Child>{
        {ROLE_SYSTEM_STATICTEXT, L"Welcome to"},
        {ROLE_SYSTEM_STATICTEXT, L"Pagewing Quillora Edition"},
        {ROLE_SYSTEM_STATICTEXT,
         L"Seamlessly file documents, business cards, photos, receipts and more into Quillora."},
        {ROLE_SYSTEM_PUSHBUTTON, L"Get Started", true, L"Press"},
        {ROLE_SYSTEM_CHECKBUTTON, kSentence, true, boxAction},
        {ROLE_SYSTEM_STATICTEXT, kSentence, true},
        {ROLE_SYSTEM_LINK, L"Quillora Terms of Service", false, L"Jump"},
        {ROLE_SYSTEM_LINK, L"Pagewing Terms of Use", false, L"Jump"}};
  };
  const struct {
    int page;
    bool agreed;   // the box checked and the start button enabled
    int progress;  // the bar's position in 100,000,000 bytes; hidden when negative
    std::vector<Child> children;
    long focused;               // child id of the focus
    std::vector<long> pressed;  // child ids whose default action is done, in order
    std::vector<int> clicks;    // what the dialog heard of them
  } cases[] = {
      // An unavailable start button is not pressed, whoever asks; the box is checked; a link opens.
      {0, false, -1, welcome(L"Check"), 5, {4, 5, 8}, {9002, kLinkOpened + 1}},
      {0, true, -1, welcome(L"Uncheck"), 5, {4}, {IDOK}},
      // Half of it: a hundred times the position is more than 32 bits hold.
      {1,
       true,
       50000000,
       {{ROLE_SYSTEM_STATICTEXT, L"Downloading Software"},
        {ROLE_SYSTEM_STATICTEXT, L"1 of 2"},
        {ROLE_SYSTEM_STATICTEXT, L"Quillora"},
        {ROLE_SYSTEM_PROGRESSBAR, L"Quillora", true, L"", L"50%"}},
       -1,
       {},
       {}},
      {5,
       true,
       -1,
       {{ROLE_SYSTEM_STATICTEXT, L"Congratulations you're all set"},
        {ROLE_SYSTEM_PUSHBUTTON, L"Launch Quillora", true, L"Press"}},
       2,
       {2},
       {9001}},
  };
  for (const auto& c : cases) {
    CheckDlgButton(dialog, 9002, c.agreed ? BST_CHECKED : BST_UNCHECKED);
    EnableWindow(GetDlgItem(dialog, IDOK), c.agreed);
    ShowPageControls(dialog, c.page);
    ShowWindow(bar, c.progress >= 0 ? SW_SHOW : SW_HIDE);
    SendMessageW(bar, PBM_SETRANGE32, 0, 100000000);
    SendMessageW(bar, PBM_SETPOS, c.progress, 0);
    g_page = c.page;
    CComOwnerT<IAccessible> owner;
    ASSERT_EQ(S_OK, AccessibleObjectFromWindow(dialog, static_cast<DWORD>(OBJID_CLIENT),
                                               __uuidof(IAccessible), reinterpret_cast<void**>(owner.Put())));
    IAccessible* object = owner.Get();
    long count = 0;
    object->get_accChildCount(&count);
    std::vector<Child> children;
    for (long id = 1; id <= count; ++id) {
      VARIANT child = ChildId(id);
      BSTR name = nullptr, action = nullptr, value = nullptr;
      VARIANT role = {};
      IDispatch* own = nullptr;
      object->get_accName(child, &name);
      object->get_accRole(child, &role);
      object->get_accDefaultAction(child, &action);
      object->get_accValue(child, &value);
      if (object->get_accChild(child, &own) == S_OK) own->Release();
      children.push_back({role.lVal, Take(name), own != nullptr, Take(action), Take(value)});
    }
    EXPECT_EQ(c.children, children) << "page " << c.page;
    VARIANT focus = {};
    object->get_accFocus(&focus);
    EXPECT_EQ(c.focused, focus.vt == VT_I4 ? focus.lVal : -1) << "page " << c.page;
    g_clicks.clear();
    for (long id : c.pressed) object->accDoDefaultAction(ChildId(id));
    Pump();
    EXPECT_EQ(c.clicks, g_clicks) << "page " << c.page;
  }
}

// A screen reader's events, with the words their objects give: a control's name when it takes the focus,
// the window's description when it changes.
HWND g_listenedTo = nullptr;
std::vector<std::pair<DWORD, std::wstring>> g_heard;
const DWORD kLiveRegionChanged = 0x8019;

void CALLBACK Listen(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD, DWORD) {
  // The platform passing the focus through the window while a page hides the control that had it is not
  // the page's doing.
  bool focus = event == EVENT_OBJECT_FOCUS && GetParent(window) == g_listenedTo && IsWindowVisible(window);
  bool page = event != EVENT_OBJECT_FOCUS && window == g_listenedTo;
  IAccessible* accessible = nullptr;
  VARIANT id = {};
  if ((!focus && !page) || AccessibleObjectFromEvent(window, object, child, &accessible, &id) != S_OK) return;
  BSTR text = nullptr;
  if (focus)
    accessible->get_accName(id, &text);
  else
    accessible->get_accDescription(id, &text);
  accessible->Release();
  g_heard.emplace_back(event, Take(text));
}

// Each page of an install in which the partner's installer fails once is told. Heard in this process:
// Wine's accessibility layer cannot hand the window's object to a hook in another.
TEST_F(ProgramDialog, EveryPageOfAnInstallIsAnnounced) {
  ASSERT_NE(nullptr, Open(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)));
  CLiteText text(nullptr);
  ASSERT_TRUE(ShowAgreement(dialog, text));
  g_text = &text;
  g_page = 0;
  ShowWindow(GetDlgItem(dialog, 9100), SW_HIDE);
  ShowWindow(dialog, SW_SHOW);
  SetFocus(GetDlgItem(dialog, 9002));  // the user checked the box and pressed Enter
  Pump();
  g_listenedTo = dialog;
  HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_FOCUS, kLiveRegionChanged, nullptr, Listen,
                                       GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
  ASSERT_NE(nullptr, hook);
  const struct {
    int page;
    const wchar_t* focus;  // the control that takes the focus, if any
    const wchar_t* words;
  } steps[] = {
      {1, nullptr, L"Downloading Software\n1 of 2\nQuillora"},
      {2, nullptr, L"Downloading Software\n1 of 2\nPagewing Manager"},
      {3, nullptr, L"Setting up Software\n2 of 2\nQuillora"},
      {4, nullptr, L"Setting up Software\n2 of 2\nPagewing Manager"},
      {0, kSentence, L"Welcome to\nPagewing Quillora Edition"},     // it failed; the user continues
      {5, L"Launch Quillora", L"Congratulations\nyou're all set"},  // and nothing is missing any more
  };
  for (const auto& step : steps) {
    g_heard.clear();
    // As the program's window turns a page, with the start button disabled while the install runs.
    EnableWindow(GetDlgItem(dialog, IDOK), FALSE);
    g_page = step.page;
    ShowPageControls(dialog, step.page);
    AnnouncePage(dialog);
    Pump();
    std::vector<std::pair<DWORD, std::wstring>> expected = {{EVENT_OBJECT_DESCRIPTIONCHANGE, step.words},
                                                            {kLiveRegionChanged, step.words}};
    if (step.focus) expected.insert(expected.begin(), {EVENT_OBJECT_FOCUS, step.focus});
    EXPECT_EQ(expected, g_heard) << "page " << step.page;
  }
  UnhookWinEvent(hook);
}

// The colours a paint sets for its texts, from a recording of it.
int CALLBACK TakeTextColours(HDC, HANDLETABLE*, const ENHMETARECORD* record, int, LPARAM data) {
  auto* found = reinterpret_cast<std::pair<COLORREF, DWORD>*>(data);
  if (record->iType == EMR_SETTEXTCOLOR)
    found->first = reinterpret_cast<const EMRSETTEXTCOLOR*>(record)->crColor;
  if (record->iType == EMR_SETBKMODE) found->second = reinterpret_cast<const EMRSETBKMODE*>(record)->iMode;
  return 1;
}

TEST(HighContrast, PaintedTextsTakeTheSystemColours) {
  const struct {
    int on;
    COLORREF text;
    DWORD backgroundMode;
  } cases[] = {
      {0, RGB(255, 255, 255), TRANSPARENT},
      {1, GetSysColor(COLOR_WINDOWTEXT), OPAQUE},
  };
  for (const auto& c : cases) {
    SetHighContrastForTesting(c.on);
    HDC recording = CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
    CArtwork art;
    CBackdrop backdrop;
    PaintContent(recording, RECT{0, 0, 600, 400}, backdrop, ContentLayout(), art, 5,
                 static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)));
    HENHMETAFILE metafile = CloseEnhMetaFile(recording);
    std::pair<COLORREF, DWORD> found = {CLR_INVALID, 0};
    EnumEnhMetaFile(nullptr, metafile, TakeTextColours, &found, nullptr);
    DeleteEnhMetaFile(metafile);
    EXPECT_EQ(c.text, found.first) << "high contrast " << c.on;
    EXPECT_EQ(c.backgroundMode, found.second) << "high contrast " << c.on;
  }
  SetHighContrastForTesting(-1);
}

}  // namespace
