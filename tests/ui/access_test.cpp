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

INT_PTR CALLBACK QuietDialog(HWND, UINT message, WPARAM, LPARAM) {
  return message == WM_INITDIALOG;
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
  bool operator==(const Child& other) const { return role == other.role && name == other.name; }
};
void PrintTo(const Child& c, std::ostream* out) {
  *out << c.role << " \"" << std::string(c.name.begin(), c.name.end()) << "\"";
}

// What a screen reader finds on a page, through the object's own interface: Wine's accessibility layer
// does not carry it to another process.
TEST_F(ProgramDialog, TheAccessibleObjectNamesThePageTextsAndControls) {
  ASSERT_NE(nullptr, Open(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)));
  CLiteText text(nullptr);
  ASSERT_TRUE(ShowAgreement(dialog, text));
  // As the program starts: the progress bar hidden, the focus on the box (a hidden window takes none).
  ShowWindow(GetDlgItem(dialog, 9100), SW_HIDE);
  ShowWindow(dialog, SW_SHOW);
  SetFocus(GetDlgItem(dialog, 9002));
  const struct {
    int page;
    std::vector<Child> children;
    long focused;  // child id of the focus
  } cases[] = {
      {0,
       {{ROLE_SYSTEM_STATICTEXT, L"Welcome to"},
        {ROLE_SYSTEM_STATICTEXT, L"Pagewing Quillora Edition"},
        {ROLE_SYSTEM_STATICTEXT,
         L"Seamlessly file documents, business cards, photos, receipts and more into Quillora."},
        {ROLE_SYSTEM_PUSHBUTTON, L"Get Started"},
        {ROLE_SYSTEM_CHECKBUTTON, kSentence},
        {ROLE_SYSTEM_STATICTEXT, kSentence},
        {ROLE_SYSTEM_LINK, L"Quillora Terms of Service"},
        {ROLE_SYSTEM_LINK, L"Pagewing Terms of Use"}},
       5},
      {5,
       {{ROLE_SYSTEM_STATICTEXT, L"Congratulations you're all set"},
        {ROLE_SYSTEM_PUSHBUTTON, L"Launch Quillora"}},
       2},
  };
  for (const auto& c : cases) {
    ShowPageControls(dialog, c.page);
    RECT client;
    GetClientRect(dialog, &client);
    CArtwork art;
    std::vector<PaintedLabel> labels =
        PaintedLabels(client, ContentLayout(), art, c.page,
                      reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)));
    CComOwnerT<IAccessible> owner(CreateWindowAccessible(dialog, DescribeWindow(dialog, labels, &text, L"")));
    IAccessible* object = owner.Get();
    ASSERT_NE(nullptr, object);
    long count = 0;
    object->get_accChildCount(&count);
    std::vector<Child> children;
    for (long id = 1; id <= count; ++id) {
      VARIANT child = {};
      child.vt = VT_I4;
      child.lVal = id;
      BSTR name = nullptr;
      VARIANT role = {};
      object->get_accName(child, &name);
      object->get_accRole(child, &role);
      children.push_back({role.lVal, name ? name : L""});
      SysFreeString(name);
    }
    EXPECT_EQ(c.children, children) << "page " << c.page;
    VARIANT focus = {};
    object->get_accFocus(&focus);
    EXPECT_EQ(c.focused, focus.vt == VT_I4 ? focus.lVal : -1) << "page " << c.page;
  }
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
