#include <gtest/gtest.h>

#include <string>

#include "LocalServer.h"
#include "ScriptedWindow.h"
#include "install/Detection.h"

namespace {

const wchar_t kQuilloraPath[] = L"/public/QLWin5/update.xml";
const wchar_t kPagewingPath[] = L"/downloads/jp/download/xml/mgr/w-quillora/PagewingInstall.xml";
const wchar_t kPagewingChinaPath[] = L"/downloads/jp/download/xml/mgr/w-quillora/cn/PagewingInstall.xml";
const wchar_t kRegionPath[] = L"/location-check";

std::string Manifest(const std::string& release, const std::string& executable) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<update><release " + release + "><executable " + executable +
         "/></release></update>";
}

size_t CountRequests(const char* fragment, size_t from) {
  std::vector<std::string> requests = local_server::Requests();
  size_t count = 0;
  for (size_t i = from; i < requests.size(); ++i) count += requests[i].find(fragment) != std::string::npos;
  return count;
}

class Manifests : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!local_server::Available()) GTEST_SKIP() << "no local update server (run through scripts/test)";
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kPagewingAppPathsKey, KEY_WOW64_32KEY, 0);
    local_server::Remove(kRegionPath);
    local_server::Remove(kPagewingChinaPath);
    ForgetPagewingManifestUrlForTesting();
  }
  void TearDown() override { ForgetPagewingManifestUrlForTesting(); }
};

TEST_F(Manifests, WhatEachManifestYields) {
  const std::wstring unexpected = English(31041);
  struct Case {
    const char* name;
    std::string body;
    std::string meta;
    bool pagewing;  // which reader
    bool accepted;
    std::wstring error;  // the box's text when not accepted
    const wchar_t* version = L"0";
    uint64_t length = 0;
    bool fromUrl = true;
    const wchar_t* location = L"";
    const wchar_t* params = L"";
  } cases[] = {
      {"quillora, full", Manifest("version=\"5.8.1 beta\"", "url=\"https://x/q.exe\" length=\"900\""), "", false,
       true, L"", L"5.8.1.0", 900, true, L"https://x/q.exe", L"/passive /suppressclient"},
      {"pagewing, full", Manifest("version=\"2.1.0.7\"", "url=\"https://x/s.exe\" length=\"007\" params=\"/S /v\""),
       "", true, true, L"", L"2.1.0.7", 7, true, L"https://x/s.exe", L"/S /v"},
      {"quillora version with a label", Manifest("version=\"5.8.1 (27)\"", "url=\"u\""), "", false, true, L"",
       L"5.8.1.0", 0, true, L"u", L"/passive /suppressclient"},
      {"pagewing version with a label", Manifest("version=\"5.8.1 (27)\"", "url=\"u\""), "", true, true, L"",
       L"5.8.1.0", 0, true, L"u", L""},
      {"length not a number", Manifest("version=\"1\"", "url=\"u\" length=\"12ab\""), "", true, true, L"", L"1", 0,
       true, L"u", L""},
      {"no version, no length", Manifest("", "url=\"u\""), "", false, true, L"", L"0", 0, true, L"u",
       L"/passive /suppressclient"},
      {"quillora: file wins over url", Manifest("", "url=\"u\" file=\"C:\\setup\\q.exe\""), "", false, true, L"",
       L"0", 0, false, L"C:\\setup\\q.exe", L"/passive /suppressclient"},
      {"pagewing: url and file", Manifest("", "url=\"u\" file=\"C:\\s.exe\""), "", true, false, unexpected},
      {"quillora: file only", Manifest("version=\"1\"", "file=\"C:\\setup\\q.exe\""), "", false, true, L"", L"1", 0,
       false, L"C:\\setup\\q.exe", L"/passive /suppressclient"},
      {"pagewing: file only", Manifest("", "file=\"C:\\setup\\s.exe\" params=\"/S\""), "", true, true, L"", L"0", 0,
       false, L"C:\\setup\\s.exe", L"/S"},
      {"neither url nor file", Manifest("version=\"1\"", "length=\"5\""), "", false, false, English(31040)},
      {"root is Update", "<Update><release><executable url=\"u\"/></release></Update>", "", false, false, unexpected},
      {"no release", "<update><releases><executable url=\"u\"/></releases></update>", "", true, false, unexpected},
      {"no executable", "<update><release version=\"1\"/></update>", "", false, false, unexpected},
      {"second release ignored", "<update><release version=\"1\"><executable url=\"a\"/></release>"
                                 "<release version=\"2\"><executable url=\"b\"/></release></update>",
       "", false, true, L"", L"1", 0, true, L"a", L"/passive /suppressclient"},
      {"not XML", "this is not xml", "", false, false, unexpected + L"\r\nINVALID_DOC"},
      {"unclosed", "<update><release>", "", true, false, unexpected + L"\r\nINCOMPLETE_DOC"},
      {"invalid UTF-8", std::string("<update a=\"\xC3\x28\"/>"), "", false, false, unexpected + L"\r\nUNEXPECTED_CHAR"},
      {"empty body", "", "", false, false, unexpected + L"\r\nINVALID_DOC"},
      {"204 No Content", "", R"({"status": 204})", true, false, unexpected + L"\r\nINVALID_DOC"},
      {"404", "<html>missing</html>", R"({"status": 404})", false, false, English(31042)},
      {"500 for the partner", "x", R"({"status": 500})", true, false,
       L"Pagewing Manager Quillora Edition download failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    local_server::Put(c.pagewing ? kPagewingPath : kQuilloraPath, c.body, c.meta);
    CScriptedWindow window;
    CInstallSession session(window);
    bool accepted = c.pagewing ? session.ReadPagewingManifest() : session.ReadQuilloraManifest();
    ASSERT_EQ(c.accepted, accepted);
    const ProductInfo& product = c.pagewing ? session.pagewing : session.quillora;
    if (!c.accepted) {
      ASSERT_EQ(1u, window.shown.size());
      EXPECT_EQ(c.error, window.shown[0].text);
      EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONERROR), window.shown[0].type);
      EXPECT_FALSE(product.manifestRead);
      continue;
    }
    EXPECT_TRUE(window.shown.empty());
    EXPECT_TRUE(product.manifestRead);
    EXPECT_TRUE(ParseVersion(c.version) == product.manifestVersion);
    EXPECT_EQ(c.length, product.length);
    EXPECT_EQ(c.fromUrl, product.fromUrl);
    EXPECT_EQ(c.location, product.location);
    EXPECT_EQ(c.fromUrl ? L"" : c.location, product.localFile);
    EXPECT_EQ(c.params, product.params);
    EXPECT_TRUE(product.needed);  // nothing is installed in the test prefix
    EXPECT_EQ(c.pagewing, product.elevated);
  }
}

TEST_F(Manifests, AnAcceptedManifestIsNotFetchedAgain) {
  local_server::Put(kQuilloraPath, Manifest("version=\"1\"", "url=\"u\""));
  CScriptedWindow window;
  CInstallSession session(window);
  size_t before = local_server::Requests().size();
  ASSERT_TRUE(session.ReadQuilloraManifest());
  ASSERT_TRUE(session.ReadQuilloraManifest());
  EXPECT_EQ(1u, CountRequests("QLWin5/update.xml", before));
}

TEST_F(Manifests, TheRegionCheckPicksThePartnersManifestOnce) {
  struct Case {
    const char* name;
    std::string answer;
    std::string meta;
    bool china;
    size_t requests;  // tries of the check
  } cases[] = {
      {"CHINA", "CHINA", "", true, 1},
      {"with a line break", "CHINA\n", "", false, 1},
      {"lower case", "china", "", false, 1},
      {"busy once", "CHINA", R"({"status": 503, "times": 1, "headers": {"Retry-After": "0"}})", true, 2},
      {"the check fails", "CHINA", R"({"status": 503, "headers": {"Retry-After": "0"}})", false, 4},
      {"no such page", "CHINA", R"({"status": 404})", false, 1},
      {"an answer that never ends", "CHINA", R"({"mode": "endless", "chunk": 64, "delay_ms": 5})", false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ForgetPagewingManifestUrlForTesting();
    local_server::Put(kRegionPath, c.answer, c.meta);
    local_server::Put(kPagewingPath, Manifest("version=\"1\"", "url=\"default\""));
    local_server::Put(kPagewingChinaPath, Manifest("version=\"1\"", "url=\"china\""));
    size_t before = local_server::Requests().size();
    CScriptedWindow window;
    CInstallSession session(window);
    ASSERT_TRUE(session.ReadPagewingManifest());
    EXPECT_EQ(c.china ? L"china" : L"default", session.pagewing.location);
    // A second session of the same process reuses the decision.
    CInstallSession again(window);
    ASSERT_TRUE(again.ReadPagewingManifest());
    EXPECT_EQ(c.requests, CountRequests("/location-check", before));
  }
}

TEST_F(Manifests, HostileBodiesEndInTheReadersMessage) {
  struct Case {
    const char* name;
    std::string body;
  } cases[] = {
      {"50 MB of garbage", std::string(50 * 1024 * 1024, '\x9C')},
      // Whole and well formed, but far larger than any manifest.
      {"2 MB", Manifest("version=\"1\"", "url=\"https://localhost/x.exe\"") + "<!--" + std::string(2 << 20, 'x') + "-->"},
      {"a million levels deep", [] {
         std::string deep;
         deep.reserve(7 * 1000000 + 20);
         for (int i = 0; i < 1000000; ++i) deep += "<a>";
         return deep;
       }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    local_server::Put(kQuilloraPath, c.body);
    CScriptedWindow window;
    CInstallSession session(window);
    EXPECT_FALSE(session.ReadQuilloraManifest());
    ASSERT_EQ(1u, window.shown.size());
    EXPECT_EQ(0u, window.shown[0].text.find(English(31041)));
  }
}

}  // namespace
