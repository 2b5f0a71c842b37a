#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "LocalServer.h"
#include "RecordingTaskbar.h"
#include "ScriptedMsi.h"
#include "ScriptedWindow.h"
#include "app/Shell.h"
#include "support/AtExit.h"
#include "support/File.h"
#include "ui/TaskbarController.h"

namespace {

const wchar_t kQuilloraManifest[] = L"/public/QLWin5/update.xml";
const wchar_t kPagewingManifest[] = L"/downloads/jp/download/xml/mgr/w-quillora/PagewingInstall.xml";

std::string ReadBytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ToUtf8(const std::wstring& text) { return std::string(text.begin(), text.end()); }

size_t CountRequests(const char* fragment, size_t from) {
  std::vector<std::string> requests = local_server::Requests();
  size_t count = 0;
  for (size_t i = from; i < requests.size(); ++i) count += requests[i].find(fragment) != std::string::npos;
  return count;
}

// Index of the first request since `from` whose line holds fragment; SIZE_MAX when there is none.
size_t FirstRequest(const char* fragment, size_t from) {
  std::vector<std::string> requests = local_server::Requests();
  for (size_t i = from; i < requests.size(); ++i) {
    if (requests[i].find(fragment) != std::string::npos) return i;
  }
  return SIZE_MAX;
}

// A session against the local server: both products offered in version 6, signed installers, nothing
// installed, installers logging into a file, the temporary folder private to the test.
class Workflow : public ::testing::Test {
 public:
  void SetUp() override {
    if (!local_server::Available()) GTEST_SKIP() << "no local update server (run through scripts/test)";
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kPagewingAppPathsKey, KEY_WOW64_32KEY, 0);
    ForgetPagewingManifestUrlForTesting();
    wchar_t value[MAX_PATH];
    GetTempPathW(MAX_PATH, value);
    temp = std::wstring(value) + L"corvane-workflow-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(temp.c_str(), nullptr);
    DWORD length = GetEnvironmentVariableW(L"TMP", value, MAX_PATH);
    savedTmp = length ? std::wstring(value, length) : L"";
    SetEnvironmentVariableW(L"TMP", temp.c_str());
    log = temp + L"\\installers.log";
    SetEnvironmentVariableW(L"CORVANE_INSTALLER_LOG", log.c_str());
    CTaskbarController::Instance()->UseTaskbarForTesting(&taskbar);
    quilloraSetup = ReadBytes(BuildPath(L"installers\\signed\\QuilloraSetup.exe"));
    pagewingSetup = ReadBytes(BuildPath(L"installers\\signed\\setup.exe"));
    Serve(quilloraSetup.size(), pagewingSetup.size());
  }
  void TearDown() override {
    RunAtExitCalls();  // the temporary-file controller deletes what the session wrote
    SetEnvironmentVariableW(L"TMP", savedTmp.empty() ? nullptr : savedTmp.c_str());
    for (const wchar_t* name : {L"CORVANE_INSTALLER_LOG", L"CORVANE_QUILLORA_EXIT", L"CORVANE_PAGEWING_EXIT"})
      SetEnvironmentVariableW(name, nullptr);
    DeleteFileW(log.c_str());
    RemoveDirectoryW(temp.c_str());
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kPagewingAppPathsKey, KEY_WOW64_32KEY, 0);
  }

  // Manifests offering version 6 of each product with the given lengths (0: no length attribute).
  void Serve(uint64_t quilloraLength, uint64_t pagewingLength, const std::string& installerMeta = "") {
    auto length = [](uint64_t n) { return n ? " length=\"" + std::to_string(n) + "\"" : std::string(); };
    local_server::Put(kQuilloraManifest,
                      "<update><release version=\"6.0\"><executable url=\"" +
                          ToUtf8(local_server::Url(true, L"/installers/QuilloraSetup.exe")) + "\"" +
                          length(quilloraLength) + "/></release></update>");
    local_server::Put(kPagewingManifest,
                      "<update><release version=\"6.0.0.0\"><executable url=\"" +
                          ToUtf8(local_server::Url(true, L"/installers/setup.exe")) + "\"" + length(pagewingLength) +
                          " params=\"/S /v\"/></release></update>");
    local_server::Put(L"/installers/QuilloraSetup.exe", quilloraSetup, installerMeta);
    local_server::Put(L"/installers/setup.exe", pagewingSetup, installerMeta);
    local_server::Put(L"/location-check", "elsewhere");
  }

  // An installer in the temporary folder or in a run's private folder inside it.
  bool TempHoldsInstallers() const {
    std::vector<std::wstring> folders{temp + L"\\"};
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((temp + L"\\Quillora-*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do folders.push_back(temp + L"\\" + found.cFileName + L"\\");
      while (FindNextFileW(search, &found));
      FindClose(search);
    }
    for (const std::wstring& folder : folders) {
      if (FileExists((folder + L"QuilloraSetup.exe").c_str(), true) || FileExists((folder + L"setup.exe").c_str(), true))
        return true;
    }
    return false;
  }

  CScriptedMsi nothingInstalled{{}};
  CMsiApiOverride msi{nothingInstalled};
  CRecordingTaskbar taskbar;  // until an at-exit drain ends the taskbar controller
  CScriptedWindow window;
  CInstallSession session{window};
  std::wstring temp, savedTmp, log;
  std::string quilloraSetup, pagewingSetup;
};

TEST_F(Workflow, BothProductsFromStartToTheLastPage) {
  size_t before = local_server::Requests().size();
  session.OnStart();
  EXPECT_LT(FirstRequest("PagewingInstall.xml", before), FirstRequest("QLWin5/update.xml", before));
  EXPECT_EQ((std::vector<int>{1, 2, 3, 4, 5}), window.pages);
  EXPECT_TRUE(window.shown.empty());
  EXPECT_TRUE(window.closedWith.empty());
  EXPECT_EQ((std::vector<bool>{false, true}), window.startEnabled);
  EXPECT_FALSE(window.progressVisible);
  EXPECT_EQ("QUILLORA|/passive /suppressclient\nPAGEWING|/S /v\n", ReadBytes(log));
  EXPECT_FALSE(session.quillora.needed);
  EXPECT_FALSE(session.pagewing.needed);

  // One bar over both downloads, in bytes: it passes the first installer's size and ends at the sum.
  const DWORD total = static_cast<DWORD>(quilloraSetup.size() + pagewingSetup.size());
  ASSERT_FALSE(window.progress.empty());
  bool reachedFirst = false;
  for (const auto& p : window.progress) {
    EXPECT_EQ(total, p.first);
    reachedFirst |= p.second == quilloraSetup.size();
  }
  EXPECT_TRUE(reachedFirst);
  EXPECT_EQ(total, window.progress.back().second);

  // The installers are deleted when the program ends, not before.
  EXPECT_TRUE(TempHoldsInstallers());
  RunAtExitCalls();
  EXPECT_FALSE(TempHoldsInstallers());

  // The partner's installer registered its program: a second session detects it and skips it.
  CScriptedWindow again;
  CInstallSession second(again);
  second.OnStart();
  EXPECT_EQ((std::vector<int>{1, 3, 5}), again.pages);
  EXPECT_FALSE(second.pagewing.needed);
}

TEST_F(Workflow, WhichPagesFollowFromWhatIsInstalled) {
  struct Case {
    const char* name;
    std::vector<Related> installed;
    std::vector<int> pages;
    const char* logged;
  } cases[] = {
      {"only the partner's package needed", {{L"{A}", {{2, L"6.0", L"C:\\Q\\"}}}}, {2, 4, 5}, "PAGEWING|/S /v\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CScriptedMsi msi(c.installed);
    CMsiApiOverride useIt(msi);
    session.OnStart();
    EXPECT_EQ(c.pages, window.pages);
    EXPECT_EQ(c.logged, ReadBytes(log));
  }
  // Nothing needed: straight to the last page, no installer fetched.
  CScriptedMsi both({{L"{A}", {{4, L"7.0", L"C:\\Q\\"}}}});
  CMsiApiOverride useBoth(both);
  CScriptedWindow window2;
  CInstallSession session2(window2);
  size_t before = local_server::Requests().size();
  session2.OnStart();
  EXPECT_EQ(std::vector<int>{5}, window2.pages);
  EXPECT_EQ(0u, CountRequests("/installers/", before));
}

// Without both sizes there is no bar over both downloads: each runs from 0 to its own length.
TEST_F(Workflow, WithoutLengthsEachDownloadRunsOverItsOwnSize) {
  for (bool quilloraLength : {false, true}) {
    SCOPED_TRACE(quilloraLength ? "only the partner's size missing" : "no size at all");
    Serve(quilloraLength ? quilloraSetup.size() : 0, 0);
    CScriptedWindow w;
    CInstallSession s(w);
    s.OnStart();
    ASSERT_EQ((std::vector<int>{1, 2, 3, 4, 5}), w.pages);
    ASSERT_FALSE(w.progress.empty());
    EXPECT_EQ(0u, w.progress.front().second);
    DWORD range = 0;
    for (const auto& p : w.progress) {
      EXPECT_TRUE(p.first == quilloraSetup.size() || p.first == pagewingSetup.size()) << p.first;
      EXPECT_LE(p.second, p.first);
      if (p.first != range) {
        EXPECT_EQ(0u, p.second) << "a new download's bar starts at 0";
      }
      range = p.first;
    }
    EXPECT_EQ(pagewingSetup.size(), w.progress.back().first);
    EXPECT_EQ(pagewingSetup.size(), w.progress.back().second);
    RunAtExitCalls();
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kPagewingAppPathsKey, KEY_WOW64_32KEY, 0);
    ForgetPagewingManifestUrlForTesting();
  }
}

TEST_F(Workflow, ProgressArithmetic) {
  struct Case {
    uint64_t total, done;
    DWORD received, contentLength;
    DWORD range, position;
  } cases[] = {
      {50000000, 0, 10000000, 10000000, 50000000, 10000000},        // both sizes known: one bar in bytes
      {50000000, 10000000, 40000000, 40000000, 50000000, 50000000},
      {0, 0, 500, 2000, 2000, 500},                                   // no total: this download's own length
      {0, 1000, 500, 0, 0, 500},                                      // nothing known at all
      {3000000000ull, 1000000000, 500000000, 0, 100, 50},            // above 0x7FFFFFFF: percent
      {0x80000000ull, 0, 0x40000000, 0, 100, 50},
  };
  for (const Case& c : cases) {
    CScriptedWindow w;
    CInstallSession s(w);
    s.totalBytes = c.total;
    s.doneBytes = c.done;
    taskbar.values.clear();
    bool cancel = false;
    s.OnProgress(nullptr, c.received, c.contentLength, &cancel);
    ASSERT_EQ(1u, w.progress.size());
    EXPECT_EQ(c.range, w.progress[0].first);
    EXPECT_EQ(c.position, w.progress[0].second);
    // The taskbar button shows what the bar shows.
    ASSERT_EQ(1u, taskbar.values.size());
    EXPECT_EQ(std::make_pair(ULONGLONG{c.position}, ULONGLONG{c.range}), taskbar.values[0]);
    EXPECT_FALSE(cancel);
    EXPECT_EQ(1, w.pumps);
  }
}

TEST_F(Workflow, TaskbarStateFollowsTheDownloads) {
  struct Case {
    const char* name;
    int pending;  // downloads counted in the byte total and not yet ended
    void (*report)(CInstallSession&);
    std::vector<TBPFLAG> states;
  } cases[] = {
      {"a download begins", 1, [](CInstallSession& s) { s.OnBegin(nullptr, L"", 0); }, {TBPF_NORMAL}},
      {"the loader fails", 1, [](CInstallSession& s) { s.OnError(nullptr, ERROR_INTERNET_CONNECTION_RESET); },
       {TBPF_NOPROGRESS}},
      {"the last counted download ends", 1, [](CInstallSession& s) { s.OnEnd(nullptr, false); }, {TBPF_NOPROGRESS}},
      {"the first of two ends", 2, [](CInstallSession& s) { s.OnEnd(nullptr, false); }, {}},
      // Without every length nothing was counted: the state stays as the begin or error report left it.
      {"a download without a length ends", 0, [](CInstallSession& s) { s.OnEnd(nullptr, false); }, {}},
  };
  for (const Case& c : cases) {
    CScriptedWindow w;
    CInstallSession s(w);
    s.pendingDownloads = c.pending;
    taskbar.states.clear();
    c.report(s);
    EXPECT_EQ(c.states, taskbar.states) << c.name;
    EXPECT_EQ(1, w.pumps) << c.name;
  }
}

TEST_F(Workflow, CancelDuringADownload) {
  Serve(quilloraSetup.size(), pagewingSetup.size(), R"({"mode": "trickle", "chunk": 16384, "delay_ms": 5})");
  struct Case {
    const char* name;
    std::deque<int> answers;
    bool cancelled;
    bool closeAgain;  // the close box is clicked again while the question is open
  } cases[] = {
      {"confirmed", {IDYES}, true, false},
      {"declined twice", {IDNO, IDNO}, false, false},
      {"asked again while open, confirmed", {IDYES}, true, true},
      {"asked again while open, declined", {IDNO}, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CScriptedWindow w;
    CInstallSession s(w);
    w.answers = c.answers;
    int cancels = 0;
    // The user presses Esc at the first reports of the first download, as often as there are answers.
    w.onPump = [&] {
      if (s.GetPage() == PageDownloadQuillora && !w.progress.empty() && cancels < static_cast<int>(c.answers.size())) {
        ++cancels;
        s.OnCancel();
      }
    };
    w.onShow = [&] {
      if (c.closeAgain && w.broughtToFront == 0) s.OnCancel();
    };
    s.OnStart();
    ASSERT_EQ(c.answers.size(), w.shown.size());
    EXPECT_EQ(c.closeAgain ? 1 : 0, w.broughtToFront);
    for (const ShownMessage& m : w.shown) {
      EXPECT_EQ(English(31031), m.text);
      EXPECT_EQ(static_cast<UINT>(MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2), m.type);
      EXPECT_TRUE(m.ownerless);
    }
    if (c.cancelled) {
      EXPECT_EQ(std::vector<int>{IDCANCEL}, w.closedWith);
      EXPECT_EQ(std::vector<int>{1}, w.pages);
      EXPECT_EQ("", ReadBytes(log));
      EXPECT_FALSE(TempHoldsInstallers());
    } else {
      EXPECT_TRUE(w.closedWith.empty());
      EXPECT_EQ(5, w.pages.back());
    }
    RunAtExitCalls();
    DeleteFileW(log.c_str());
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kPagewingAppPathsKey, KEY_WOW64_32KEY, 0);
    ForgetPagewingManifestUrlForTesting();
  }
}

TEST_F(Workflow, AFailedInstallerOffersToContinueAndTheNextStartReusesWhatItHas) {
  SetEnvironmentVariableW(L"CORVANE_QUILLORA_EXIT", L"3010");
  window.answers = {IDYES};
  session.OnStart();
  EXPECT_EQ((std::vector<int>{1, 2, 3, 0}), window.pages);
  ASSERT_EQ(1u, window.shown.size());
  EXPECT_EQ(English(31050), window.shown[0].text);
  EXPECT_TRUE(window.closedWith.empty());

  SetEnvironmentVariableW(L"CORVANE_QUILLORA_EXIT", L"0");
  size_t before = local_server::Requests().size();
  size_t reports = window.progress.size();
  session.OnStart();
  EXPECT_EQ(0u, local_server::Requests().size() - before);  // no manifest, no installer fetched again
  // The second pass counts from zero: its bar would span both installers once, not twice.
  EXPECT_EQ(quilloraSetup.size() + pagewingSetup.size(), session.totalBytes);
  EXPECT_EQ(session.totalBytes, session.doneBytes);
  EXPECT_EQ(reports, window.progress.size());
  EXPECT_EQ((std::vector<int>{1, 2, 3, 0, 1, 2, 3, 4, 5}), window.pages);
  EXPECT_EQ("QUILLORA|/passive /suppressclient\nQUILLORA|/passive /suppressclient\nPAGEWING|/S /v\n",
            ReadBytes(log));
}

TEST_F(Workflow, FailuresCloseTheWindowWithTheirMessage) {
  struct Case {
    const char* name;
    std::function<void(Workflow&)> arrange;
    std::wstring message;  // empty: no box
    bool installersLeft;
    bool memoryRunsOut = false;  // in the middle of the partner's download
    const char* neverRequested = nullptr;
  } cases[] = {
      {"manifest missing", [](Workflow&) { local_server::Put(kQuilloraManifest, "", R"({"status": 404})"); },
       English(31042), false},
      // The partner's manifest is read first; once it failed, the main product's is not even asked for.
      {"partner's manifest missing",
       [](Workflow&) { local_server::Put(kPagewingManifest, "", R"({"status": 404})"); },
       L"Pagewing Manager Quillora Edition download failed", false, false, "QLWin5/update.xml"},
      {"installer one byte short",
       [](Workflow& t) { t.Serve(t.quilloraSetup.size() + 1, t.pagewingSetup.size()); }, English(31060), false},
      {"unsigned installer",
       [](Workflow& t) {
         t.Serve(0, 0);
         local_server::Put(L"/installers/QuilloraSetup.exe",
                           ReadBytes(BuildPath(L"installers\\unsigned\\QuilloraSetup.exe")));
       },
       English(31051), false},
      {"installer fails, user stops", [](Workflow&) { SetEnvironmentVariableW(L"CORVANE_QUILLORA_EXIT", L"1603"); },
       English(31050), true},
      // A server that accepts the request and never answers: the loader gives up at its silence limit.
      {"manifest never answers",
       [](Workflow&) {
         CUrlLoader::SetSilenceLimitForTesting(600);
         local_server::Put(kQuilloraManifest, "", R"({"mode": "stall", "stall_ms": 3000})");
       },
       English(31042), false},
      {"memory runs out mid-download", [](Workflow& t) { t.Serve(0, 0, R"({"mode": "trickle", "chunk": 8192, "delay_ms": 5})"); },
       L"Pagewing Manager Quillora Edition download failed", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Serve(quilloraSetup.size(), pagewingSetup.size());
    c.arrange(*this);
    size_t before = local_server::Requests().size();
    {
      // The session ends before the temporary files go, as the window does before the at-exit drain: a
      // downloaded installer it still holds could not be deleted otherwise.
      CScriptedWindow w;
      CInstallSession s(w);
      w.onPump = [&] {
        if (c.memoryRunsOut && s.GetPage() == PageDownloadPagewing && w.progress.size() > 1 && w.progress.back().second)
          throw std::bad_alloc();
      };
      s.OnStart();
      ASSERT_EQ(1u, w.shown.size());
      EXPECT_EQ(c.message, w.shown[0].text);
      EXPECT_EQ(std::vector<int>{IDCANCEL}, w.closedWith);
      EXPECT_EQ(false, w.startEnabled.front());
      EXPECT_EQ(c.installersLeft, TempHoldsInstallers());
      if (c.neverRequested) {
        EXPECT_EQ(0u, CountRequests(c.neverRequested, before));
      }
    }
    RunAtExitCalls();
    EXPECT_FALSE(TempHoldsInstallers());
    CUrlLoader::SetSilenceLimitForTesting(0);
    SetEnvironmentVariableW(L"CORVANE_QUILLORA_EXIT", nullptr);
    ForgetPagewingManifestUrlForTesting();
  }
}

TEST_F(Workflow, BeforeVistaAProductNeedingAnAdministratorStopsEverything) {
  struct Case {
    const char* name;
    bool needed;  // both products
    bool stops;
  } cases[] = {
      {"the partner's package needed", true, true},
      // Nothing to install, so nothing to refuse: the last page, no box.
      {"nothing needed", false, false},
  };
  unsigned savedMajor = g_osMajor;
  g_osMajor = 5;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CScriptedWindow w;
    CInstallSession s(w);
    // Both manifests read before, the partner's package for a user who is no administrator.
    s.pagewing.manifestRead = s.quillora.manifestRead = true;
    s.pagewing.elevated = true;
    s.pagewing.needed = s.quillora.needed = c.needed;
    size_t before = local_server::Requests().size();
    s.OnStart();
    EXPECT_EQ(c.stops ? std::vector<int>{IDCANCEL} : std::vector<int>{}, w.closedWith);
    EXPECT_EQ(c.stops ? std::vector<int>{} : std::vector<int>{PageDone}, w.pages);
    ASSERT_EQ(c.stops ? 1u : 0u, w.shown.size());
    if (c.stops) {
      EXPECT_EQ(English(31059), w.shown[0].text);
    }
    EXPECT_EQ(before, local_server::Requests().size());  // before any download
  }
  g_osMajor = savedMajor;
}

TEST_F(Workflow, CancelByPage) {
  struct Case {
    int page;
    bool closes;
    bool sentBack;
  } cases[] = {{PageWelcome, true, false}, {PageDone, true, false}, {PageSetupQuillora, false, true},
               {PageSetupPagewing, false, true}};
  for (const Case& c : cases) {
    CScriptedWindow w;
    CInstallSession s(w);
    s.SetPage(c.page);
    s.OnCancel();
    EXPECT_EQ(c.closes, !w.closedWith.empty()) << c.page;
    EXPECT_EQ(c.sentBack ? 1 : 0, w.sentToBack) << c.page;
    EXPECT_TRUE(w.shown.empty());
  }
}

TEST_F(Workflow, LaunchStartsTheInstalledApplication) {
  std::wstring application = temp + L"\\app";
  CreateDirectoryW(application.c_str(), nullptr);
  ASSERT_TRUE(CopyFileW(BuildPath(L"installers\\unsigned\\QuilloraSetup.exe").c_str(),
                        (application + L"\\Quillora.exe").c_str(), FALSE));
  const std::wstring withBackslash = application + L"\\";
  struct Case {
    const char* name;
    std::vector<Related> installed;
    const char* logged;
    std::wstring known = L"";  // the location found when the manifest was read
  } cases[] = {
      {"location without a trailing backslash", {{L"{A}", {{2, L"6.0", application.c_str()}}}},
       "QUILLORA|/PagewingSetup\n"},
      {"location with one", {{L"{A}", {{2, L"6.0", withBackslash.c_str()}}}}, "QUILLORA|/PagewingSetup\n"},
      {"no location found", {}, ""},
      {"found with the manifest only", {}, "QUILLORA|/PagewingSetup\n", withBackslash},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteFileW(log.c_str());
    CScriptedMsi msi(c.installed);
    CMsiApiOverride useIt(msi);
    CScriptedWindow w;
    CInstallSession s(w);
    s.quillora.installLocation = c.known;
    s.OnLaunch();
    EXPECT_EQ(std::vector<int>{IDOK}, w.closedWith);
    EXPECT_TRUE(w.shown.empty());
    // The application is started without waiting for it: give it time to write, more on a busy machine.
    for (int waited = 0; waited < (*c.logged ? 5000 : 300) && ReadBytes(log) != c.logged; waited += 50) Sleep(50);
    EXPECT_EQ(c.logged, ReadBytes(log));
  }
  DeleteFileW((application + L"\\Quillora.exe").c_str());
  RemoveDirectoryW(application.c_str());
}

TEST_F(Workflow, LinksOpenTheTermsPages) {
  struct Case {
    const wchar_t* target;
    const wchar_t* path;  // null: nothing opens
  } cases[] = {
      {L"quillora:tos", L"/legal/tos.php"},
      {L"pagewing:tos", L"/imaging/quillora/downloads/en-eula.html"},  // the tests run in English
      {L"Quillora:tos", nullptr},
      {L"https://elsewhere.example/", nullptr},
  };
  for (const Case& c : cases) {
    CScriptedWindow w;
    CInstallSession s(w);
    EXPECT_TRUE(s.OnLinkClicked(c.target));
    if (c.path) {
      ASSERT_EQ(1u, w.opened.size());
      EXPECT_EQ(local_server::Url(false, c.path), w.opened[0]);
    } else {
      EXPECT_TRUE(w.opened.empty());
    }
  }
  // The partner's licence in the user's language, by its primary language: every French region reads the
  // French page. Languages without a page of their own read the English one.
  struct Licence {
    LANGID language;
    const wchar_t* file;
  } licences[] = {
      {MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH), L"fr-eula.html"},
      {MAKELANGID(LANG_FRENCH, SUBLANG_FRENCH_CANADIAN), L"fr-eula.html"},
      {MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN), L"jp-eula.html"},
      {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), L"en-eula.html"},
      {MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), L"en-eula.html"},
      {MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), L"en-eula.html"},
  };
  for (const Licence& l : licences) EXPECT_STREQ(l.file, PagewingLicenceFile(l.language)) << std::hex << l.language;
}

}  // namespace
