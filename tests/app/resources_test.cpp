#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/Shell.h"

namespace {

const LANGID kLanguages[] = {1028, 1029, 1030, 1031, 1033, 1035, 1036, 1040, 1041, 1042, 1043, 1045, 1046,
                             1049, 1053, 1054, 1055, 1057, 1065, 1066, 1086, 2052, 2068, 2070, 3082};
const LANGID kEnglish = 1033;

struct EnglishText {
  UINT id;
  const wchar_t* text;
};
const EnglishText kEnglishTexts[] = {
    {100, L"Corvane"},
    {31000, L"Quillora"},
    {31031, L"Are you sure you want to cancel?"},
    {31040, L"No URL specified"},
    {31041, L"Unexpected XML"},
    {31042, L"Quillora download failed"},
    {31043, L"{0} download failed"},
    {31045, L"Unknown failure"},
    {31046, L"No command specified"},
    {31050, L"Installation failed\n\nDo you want to continue?"},
    {31051, L"File has no signature."},
    {31052, L"File signature is no valid."},
    {31053, L"File signature is disallowed."},
    {31054, L"File signature is not trusted."},
    {31055, L"File signature is disabled."},
    {31056, L"File signature has an error."},
    {31059, L"ERROR: Installation must be done by an Administrator"},
    {31060, L"Download failed: File size is not correct"},
    {31061, L"Welcome to"},
    {31063, L"Seamlessly file documents, business cards, photos, receipts\nand more into Quillora."},
    {31064, L"Congratulations\nyou're all set"},
    {31065, L"Downloading Software"},
    {31066, L"Setting up Software"},
    {31067, L"{0} of {1}"},
    {31068, L"Quillora"},
};
// Names, the same in every language.
const std::set<UINT> kUntranslated = {100, 31000, 31068};

// Installer.exe as a data file: its resources, none of its code.
class InstallerResources : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring exe(path, length);
    exe = exe.substr(0, exe.find_last_of(L"\\/")) + L"\\Installer.exe";
    module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  }
  static void TearDownTestSuite() {
    if (module) FreeLibrary(module);
  }
  void SetUp() override { ASSERT_NE(nullptr, module) << "Installer.exe not found beside the tests"; }

  // The string as the resource holds it for one language: strings are stored in blocks of 16, each a
  // length-prefixed UTF-16 text.
  static std::optional<std::wstring> ReadString(UINT id, LANGID language) {
    HRSRC found = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
    if (!found) return std::nullopt;
    const WCHAR* p = static_cast<const WCHAR*>(LockResource(LoadResource(module, found)));
    for (UINT i = 0; i < id % 16; ++i) p += 1 + *p;
    return std::wstring(p + 1, *p);
  }

  static BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
    reinterpret_cast<std::vector<LANGID>*>(param)->push_back(language);
    return TRUE;
  }

  static std::vector<LANGID> LanguagesOf(LPCWSTR type, LPCWSTR name) {
    std::vector<LANGID> languages;
    EnumResourceLanguagesW(module, type, name, CollectLanguage, reinterpret_cast<LONG_PTR>(&languages));
    std::sort(languages.begin(), languages.end());
    return languages;
  }

  static std::wstring ResourceBytesAsText(LPCWSTR type, LPCWSTR name, LANGID language) {
    HRSRC found = FindResourceExW(module, type, name, language);
    if (!found) return std::wstring();
    const wchar_t* p = static_cast<const wchar_t*>(LockResource(LoadResource(module, found)));
    return std::wstring(p, SizeofResource(module, found) / sizeof(wchar_t));
  }

  static HMODULE module;
};
HMODULE InstallerResources::module = nullptr;

TEST_F(InstallerResources, EveryStringInEveryLanguage) {
  std::vector<LANGID> expected(std::begin(kLanguages), std::end(kLanguages));
  for (const EnglishText& e : kEnglishTexts) {
    EXPECT_EQ(expected, LanguagesOf(RT_STRING, MAKEINTRESOURCEW(e.id / 16 + 1))) << "string block of " << e.id;
    for (LANGID language : kLanguages) {
      std::optional<std::wstring> text = ReadString(e.id, language);
      ASSERT_TRUE(text.has_value()) << e.id << " in " << language;
      EXPECT_FALSE(text->empty()) << e.id << " is empty in " << language;
      if (language == kEnglish) {
        EXPECT_EQ(std::wstring(e.text), *text) << e.id;
      } else if (kUntranslated.count(e.id)) {
        EXPECT_EQ(std::wstring(e.text), *text) << e.id << " in " << language;
      } else {
        EXPECT_NE(std::wstring(e.text), *text) << e.id << " is an English copy in " << language;
      }
      // Every placeholder and line break of the English text survives translation.
      for (const wchar_t* placeholder : {L"{0}", L"{1}"}) {
        if (std::wstring(e.text).find(placeholder) != std::wstring::npos) {
          EXPECT_NE(std::wstring::npos, text->find(placeholder)) << e.id << " in " << language;
        }
      }
      EXPECT_EQ(std::count(e.text, e.text + wcslen(e.text), L'\n'), std::count(text->begin(), text->end(), L'\n'))
          << e.id << " in " << language;
    }
  }
}

TEST_F(InstallerResources, TheDialogInEveryLanguageWithTranslatedTextsAndFixedLinks) {
  std::vector<LANGID> expected(std::begin(kLanguages), std::end(kLanguages));
  EXPECT_EQ(expected, LanguagesOf(RT_DIALOG, MAKEINTRESOURCEW(6100)));
  for (LANGID language : kLanguages) {
    std::wstring dialog = ResourceBytesAsText(RT_DIALOG, MAKEINTRESOURCEW(6100), language);
    ASSERT_FALSE(dialog.empty()) << language;
    EXPECT_NE(std::wstring::npos, dialog.find(L"href=\"quillora:tos\"")) << language;
    EXPECT_NE(std::wstring::npos, dialog.find(L"href=\"pagewing:tos\"")) << language;
    EXPECT_NE(std::wstring::npos, dialog.find(L"<text>")) << language;
    std::wstring upper = dialog;  // class names are case-insensitive and the resource compiler capitalises them
    for (wchar_t& c : upper) c = towupper(c);
    EXPECT_NE(std::wstring::npos, upper.find(L"RICHEDIT20W")) << language;
    bool english = language == kEnglish;
    for (const wchar_t* text : {L"Get Started", L"Launch Quillora", L"I agree to the"})
      EXPECT_EQ(english, dialog.find(text) != std::wstring::npos) << language << ": " << text;
  }
}

TEST_F(InstallerResources, ManifestVersionAndIcon) {
  HRSRC manifest = FindResourceW(module, MAKEINTRESOURCEW(1), RT_MANIFEST);
  ASSERT_NE(nullptr, manifest);
  std::string text(static_cast<const char*>(LockResource(LoadResource(module, manifest))),
                   SizeofResource(module, manifest));
  for (const char* required : {"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
                               "level=\"asInvoker\"", ">false</dpiAware>",
                               "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                               "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                               "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {
    EXPECT_NE(std::string::npos, text.find(required)) << required;
  }

  HRSRC icon = FindResourceW(module, MAKEINTRESOURCEW(100), RT_GROUP_ICON);
  ASSERT_NE(nullptr, icon);
  // GRPICONDIR: 6-byte header, then 14-byte entries whose first byte is the width (0 means 256).
  const BYTE* group = static_cast<const BYTE*>(LockResource(LoadResource(module, icon)));
  WORD count = *reinterpret_cast<const WORD*>(group + 4);
  std::set<int> sizes;
  for (WORD i = 0; i < count; ++i) sizes.insert(group[6 + 14 * i] ? group[6 + 14 * i] : 256);
  EXPECT_EQ((std::set<int>{16, 24, 32, 48, 64, 128, 256}), sizes);
}

TEST(VersionResource, NamesTheProgram) {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring exe(path, length);
  exe = exe.substr(0, exe.find_last_of(L"\\/")) + L"\\Installer.exe";
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &handle);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, info.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize));
  EXPECT_EQ(MAKELONG(1, 1), fixed->dwFileVersionMS);
  EXPECT_EQ(0u, fixed->dwFileVersionLS);
  EXPECT_EQ(MAKELONG(1, 1), fixed->dwProductVersionMS);
  EXPECT_EQ(0u, fixed->dwProductVersionLS);

  struct Field {
    const wchar_t* name;
    const wchar_t* value;
  } fields[] = {{L"FileDescription", L"Quillora Install Helper"}, {L"InternalName", L"Installer"},
                {L"OriginalFilename", L"Installer.exe"},          {L"ProductName", L"Quillora"},
                {L"FileVersion", L"1.1.0.0"},                      {L"ProductVersion", L"1.1.0.0"}};
  for (const Field& f : fields) {
    wchar_t* value = nullptr;
    UINT valueLength = 0;
    std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + f.name;
    ASSERT_TRUE(VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &valueLength))
        << f.name;
    EXPECT_STREQ(f.value, value) << f.name;
  }
}

// The program's own string access, pointed at the real string table.
TEST_F(InstallerResources, LoadAndFormatThroughTheStringTable) {
  g_module.SetResourceInstance(module);
  EXPECT_EQ(L"Are you sure you want to cancel?", LoadResString(31031));
  EXPECT_EQ(L"Installation failed\n\nDo you want to continue?", LoadResString(31050));
  EXPECT_EQ(L"", LoadResString(12345));  // absent: empty, no error
  EXPECT_EQ(L"1 of 2", FormatResString(31067, L"1", L"2"));
  EXPECT_EQ(L"Pagewing Manager Quillora Edition download failed",
            FormatResString(31043, L"Pagewing Manager Quillora Edition"));
  EXPECT_EQ(L"", FormatResString(12345, L"x"));
  g_module.SetResourceInstance(nullptr);

  // The step counter follows each language's template: Traditional Chinese puts the total first.
  std::optional<std::wstring> chinese = ReadString(31067, 1028);
  ASSERT_TRUE(chinese.has_value());
  EXPECT_EQ(L"2 之 1", Format(*chinese, L"1", L"2"));
}

// Right to left follows the language of the resources the loader picked, not the user's language as such.
TEST_F(InstallerResources, TheLoadedLanguageDecidesTheReadingOrder) {
  for (LANGID language : kLanguages) EXPECT_EQ(language == 1065, IsRightToLeftLanguage(language)) << language;
  EXPECT_TRUE(IsRightToLeftLanguage(MAKELANGID(LANG_ARABIC, SUBLANG_ARABIC_SAUDI_ARABIA)));  // added later
  EXPECT_TRUE(IsRightToLeftLanguage(MAKELANGID(LANG_HEBREW, SUBLANG_DEFAULT)));
  EXPECT_FALSE(IsRightToLeftLanguage(0));

  g_module.SetResourceInstance(module);
  const LANGID uiLanguage = GetThreadUILanguage();
  const LCID locale = GetThreadLocale();
  const struct {
    LANGID user, loaded;
  } cases[] = {{1065, 1065}, {1033, 1033}, {1041, 1041},
               {MAKELANGID(LANG_ARABIC, SUBLANG_ARABIC_SAUDI_ARABIA), 1033}};  // no Arabic table: English
  for (const auto& c : cases) {
    // Windows picks resources by the thread's interface language, Wine by the thread's locale.
    SetThreadUILanguage(c.user);
    SetThreadLocale(MAKELCID(c.user, SORT_DEFAULT));
    EXPECT_EQ(c.loaded, LoadedLanguage()) << c.user;
    EXPECT_EQ(c.loaded == 1065, IsRightToLeftUi()) << c.user;
  }
  SetThreadUILanguage(uiLanguage);
  SetThreadLocale(locale);
  g_module.SetResourceInstance(nullptr);
}

}  // namespace
