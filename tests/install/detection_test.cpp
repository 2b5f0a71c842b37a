#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/Shell.h"
#include "install/Detection.h"
#include "support/Handle.h"
#include "ScriptedMsi.h"

namespace {

const wchar_t kCodeA[] = L"{11111111-1111-1111-1111-111111111111}";
const wchar_t kCodeB[] = L"{22222222-2222-2222-2222-222222222222}";

TEST(QuilloraDetection, WindowsInstallerRules) {
  struct Case {
    const char* name;
    std::vector<Related> installed;
    const wchar_t* offered;
    bool needed;
    bool elevated;
    const wchar_t* version;   // installedVersion afterwards
    const wchar_t* location;  // installLocation afterwards (it starts as "C:\previous\")
  } cases[] = {
      {"nothing related", {}, L"5.8.1", true, false, L"0.0.0.0", L"C:\\previous\\"},
      {"per user, same version", {{kCodeA, {{2, L"5.8.1.0", L"C:\\Users\\u\\Quillora\\"}}}}, L"5.8.1", false, false,
       L"5.8.1.0", L"C:\\Users\\u\\Quillora\\"},
      {"per machine, older", {{kCodeA, {{4, L"5.7", L"C:\\Program Files\\Quillora\\"}}}}, L"5.8", true, true,
       L"5.7.0.0", L"C:\\Program Files\\Quillora\\"},
      {"per machine, newer", {{kCodeA, {{4, L"6.0", L"C:\\PF\\"}}}}, L"5.8", false, true, L"6.0.0.0", L"C:\\PF\\"},
      {"per user wins over per machine", {{kCodeA, {{4, L"9.0", L"C:\\PF\\"}, {1, L"5.0", L"C:\\U\\"}}}}, L"5.8",
       true, false, L"5.0.0.0", L"C:\\U\\"},
      {"first related product with a version wins",
       {{kCodeA, {{2, nullptr, L"C:\\A\\"}, {4, nullptr, L"C:\\A\\"}}}, {kCodeB, {{4, L"5.9", L"C:\\B\\"}}}},
       L"5.8", false, true, L"5.9.0.0", L"C:\\B\\"},
      {"later related products are not asked", {{kCodeA, {{2, L"5.0", L"C:\\A\\"}}}, {kCodeB, {{2, L"9.0", L"C:\\B\\"}}}},
       L"5.8", true, false, L"5.0.0.0", L"C:\\A\\"},
      {"unreadable location keeps the old one", {{kCodeA, {{2, L"5.9", nullptr}}}}, L"5.8", false, false, L"5.9.0.0",
       L"C:\\previous\\"},
      {"0.0.0.0 counts as absent", {{kCodeA, {{2, L"0.0.0.0", L"C:\\Z\\"}}}}, L"0.0.0.0", true, false, L"0.0.0.0",
       L"C:\\Z\\"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CScriptedMsi msi(c.installed);
    CMsiApiOverride useScripted(msi);
    ProductInfo quillora(L"QuilloraSetup.exe");
    quillora.manifestVersion = ParseVersion(c.offered);
    quillora.installLocation = L"C:\\previous\\";
    DetectQuillora(quillora);
    EXPECT_EQ(c.needed, quillora.needed);
    EXPECT_EQ(c.elevated, quillora.elevated);
    EXPECT_TRUE(ParseVersion(c.version) == quillora.installedVersion);
    EXPECT_EQ(c.location, quillora.installLocation);
    for (DWORD contexts : msi.contextsAsked) EXPECT_TRUE(contexts == 3 || contexts == 4) << contexts;
  }
}

TEST(QuilloraDetection, BeforeVistaElevatedMeansNotAnAdministrator) {
  CScriptedMsi msi({{kCodeA, {{4, L"5.0", L"C:\\PF\\"}}}});
  CMsiApiOverride useScripted(msi);
  unsigned savedMajor = g_osMajor;
  g_osMajor = 5;
  ProductInfo quillora(L"QuilloraSetup.exe");
  quillora.manifestVersion = ParseVersion(L"5.8");
  DetectQuillora(quillora);
  g_osMajor = savedMajor;
  EXPECT_TRUE(quillora.needed);
  EXPECT_EQ(!IsUserAdmin(), quillora.elevated);
}

// The partner's package, through the prefix's real registry and real files with version resources.
class PagewingDetection : public ::testing::Test {
 protected:
  void TearDown() override { RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kPagewingAppPathsKey, KEY_WOW64_32KEY, 0); }

  static void Register(const std::wstring& path, DWORD type = REG_SZ) {
    CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPagewingAppPathsKey, 0, nullptr, 0,
                                             KEY_WRITE | KEY_WOW64_32KEY, nullptr, key.Put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.Get(), nullptr, 0, type, reinterpret_cast<const BYTE*>(path.c_str()),
                                            static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t))));
  }

  static std::wstring Fixture(const wchar_t* name) {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.find_last_of(L"\\/")) + L"\\" + name;
  }
};

TEST_F(PagewingDetection, AppPathsAndFileVersion) {
  struct Case {
    const char* name;
    std::wstring registered;  // empty: no App Paths entry
    const wchar_t* offered;
    bool needed;
    const wchar_t* version;
    DWORD type = REG_SZ;  // of the App Paths value
  } cases[] = {
      {"not registered", L"", L"5.9.9.9", true, L"0.0.0.0"},
      {"registered, file missing", Fixture(L"no-such-Wingquill.exe"), L"5.9.9.9", true, L"0.0.0.0"},
      {"newer installed", Fixture(L"versioned_6_0_0_0.exe"), L"5.9.9.9", false, L"6.0.0.0"},
      {"same version", Fixture(L"versioned_5_9_9_9.exe"), L"5.9.9.9", false, L"5.9.9.9"},
      {"older installed", Fixture(L"versioned_5_9_9_9.exe"), L"6.0", true, L"5.9.9.9"},
      {"0.0.0.0 counts as absent", Fixture(L"versioned_0_0_0_0.exe"), L"0", true, L"0.0.0.0"},
      {"a file without version", Fixture(L"net_tests.exe"), L"1.0", true, L"0.0.0.0"},
      // Only a plain string is a path: an expandable one is not read, and the package counts as missing.
      {"registered as REG_EXPAND_SZ", Fixture(L"versioned_6_0_0_0.exe"), L"5.9.9.9", true, L"0.0.0.0", REG_EXPAND_SZ},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kPagewingAppPathsKey, KEY_WOW64_32KEY, 0);
    if (!c.registered.empty()) Register(c.registered, c.type);
    ProductInfo pagewing(L"setup.exe");
    pagewing.manifestVersion = ParseVersion(c.offered);
    DetectPagewing(pagewing);
    EXPECT_EQ(c.needed, pagewing.needed);
    EXPECT_TRUE(ParseVersion(c.version) == pagewing.installedVersion);
    EXPECT_TRUE(pagewing.elevated);  // always, from Vista on
  }
}

TEST_F(PagewingDetection, BeforeVistaOnlyANonAdministratorIsElevated) {
  unsigned savedMajor = g_osMajor;
  g_osMajor = 5;
  ProductInfo pagewing(L"setup.exe");
  DetectPagewing(pagewing);
  g_osMajor = savedMajor;
  EXPECT_EQ(!IsUserAdmin(), pagewing.elevated);
}

TEST(VersionText, ParsesLikeTheManifestsWriteIt) {
  struct Case {
    const wchar_t* text;
    ProductVersion expected;
  } cases[] = {
      {L"5.8.1.27", {5, 8, 1, 27}},     {L"5", {5, 0, 0, 0}},          {L"", {0, 0, 0, 0}},
      {L"5.x.2", {5, 0, 2, 0}},         {L"5.8.1 (27)", {5, 8, 1, 0}}, {L"5.8.1 beta", {5, 8, 1, 0}},
      {L" 7. +8", {7, 8, 0, 0}},        {L"1.2.3.4.5", {1, 2, 3, 4}},  // a fifth part is ignored
      {L"99999999999.1", {4294967295u, 1, 0, 0}},                    // saturates at 32 bits
      {L"...", {0, 0, 0, 0}},
  };
  for (const Case& c : cases) EXPECT_TRUE(c.expected == ParseVersion(c.text)) << std::string(c.text, c.text + wcslen(c.text));

  struct Order {
    ProductVersion installed, offered;
    bool atLeast;
  } orders[] = {
      {{5, 8, 1, 0}, {5, 8, 1, 0}, true}, {{5, 8, 1, 1}, {5, 8, 1, 0}, true}, {{5, 7, 9, 9}, {5, 8, 0, 0}, false},
      {{6, 0, 0, 0}, {5, 9, 9, 9}, true}, {{0, 0, 0, 1}, {0, 0, 0, 2}, false}, {{4294967295u, 0, 0, 0}, {1, 0, 0, 0}, true},
  };
  for (const Order& o : orders) EXPECT_EQ(o.atLeast, o.installed >= o.offered);
}

}  // namespace
