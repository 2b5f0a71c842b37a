#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Driver.h"
#include "LocalServer.h"
#include "SampleProducts.h"

namespace {

using e2e::CInstallerProcess;

const wchar_t kTitle[] = L"Pagewing Quillora Edition";

std::string ReadBytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The build tree's folder of signed installer fixtures, beside bin/.
std::wstring Installers() { return e2e::ProgramFolder() + L"\\..\\installers\\signed"; }

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!local_server::Available()) GTEST_SKIP() << "no local update server (run through scripts/test)";
    ForgetThePartner();
    folder = e2e::MakeTempFolder(L"e2e-install");
    log = folder + L"\\installers.log";
    ASSERT_TRUE(local_server::PublishSampleProducts(Installers()));
  }
  void TearDown() override { e2e::RemoveFolder(folder); }

  // One run of the real program through to its last page; the pages it showed are read off its controls.
  void InstallToTheLastPage(const char* shotName) {
    CInstallerProcess installer;
    // The environment of the child: its own temporary folder and the fixture installers' log.
    std::wstring environment = L"TMP=" + folder;
    ASSERT_TRUE(installer.Start(e2e::ProgramFolder() + L"\\Installer.exe", L"",
                                environment + std::wstring(1, L'\0') + L"CORVANE_INSTALLER_LOG=" + log));
    ASSERT_NE(nullptr, installer.WaitForWindow(kTitle, 30000));
    installer.Click(9002);
    ASSERT_TRUE(e2e::WaitFor([&] { return installer.IsEnabled(IDOK); }, 5000));
    installer.PostCommand(IDOK);
    ASSERT_TRUE(e2e::WaitFor([&] { return installer.IsVisible(9001); }, 120000)) << "the last page never came";
    EXPECT_FALSE(installer.IsVisible(IDOK));
    EXPECT_FALSE(installer.IsVisible(9100));
    CreateDirectoryW((e2e::ProgramFolder() + L"\\..\\screenshots").c_str(), nullptr);
    installer.Screenshot(e2e::ProgramFolder() + L"\\..\\screenshots\\" + std::wstring(shotName, shotName + strlen(shotName)));
    // Windows Installer knows no Quillora under Wine, so the launch button starts nothing and closes.
    installer.PostCommand(9001);
    DWORD exitCode = 0;
    ASSERT_TRUE(installer.WaitForExit(15000, &exitCode));
    EXPECT_EQ(0xFFFFFFFFu, exitCode);
    // Installers are deleted when the program ends.
    EXPECT_FALSE(e2e::FileExists(folder + L"\\QuilloraSetup.exe"));
    EXPECT_FALSE(e2e::FileExists(folder + L"\\setup.exe"));
  }

  // What the partner's installer registers, and what tells the program the partner is installed.
  static void ForgetThePartner() {
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE,
                    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Wingquill.exe", KEY_WOW64_32KEY, 0);
  }

  std::wstring folder, log;
};

// The shell's open command for http records the address in a file instead of starting a browser, for the
// life of the object; the command that was there comes back afterwards.
class CWebPageRecorder {
 public:
  explicit CWebPageRecorder(const std::wstring& file) {
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\http\\shell\\open\\command", 0, nullptr, 0,
                        KEY_READ | KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
      key = nullptr;
      return;
    }
    wchar_t old[1024] = {};
    DWORD size = sizeof(old) - sizeof(wchar_t);
    saved = RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(old), &size) == ERROR_SUCCESS;
    previous = old;
    Set(L"\"C:\\windows\\system32\\cmd.exe\" /c echo %1>>\"" + file + L"\"");
  }
  ~CWebPageRecorder() {
    if (!key) return;
    if (saved) Set(previous);
    else RegDeleteValueW(key, nullptr);
    RegCloseKey(key);
  }
  bool Ready() const { return key != nullptr; }

 private:
  void Set(const std::wstring& command) {
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                   static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
  }
  HKEY key = nullptr;
  bool saved = false;
  std::wstring previous;
};

// A whole install with the keyboard only: both terms pages open from their links, the box is checked with
// Space, the start button pressed with Enter, and on the last page the launch button has the focus.
TEST_F(EndToEnd, ByKeyboardOnly) {
  const std::wstring opened = folder + L"\\opened.txt";
  CWebPageRecorder recorder(opened);
  ASSERT_TRUE(recorder.Ready());
  CInstallerProcess installer;
  ASSERT_TRUE(installer.Start(e2e::ProgramFolder() + L"\\Installer.exe", L"",
                              L"TMP=" + folder + std::wstring(1, L'\0') + L"CORVANE_INSTALLER_LOG=" + log));
  ASSERT_NE(nullptr, installer.WaitForWindow(kTitle, 30000));
  auto pages = [&] {
    std::string text = ReadBytes(opened);
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
      lines.push_back(text.substr(start, end - start));
    return lines;
  };
  const struct {
    const char* what;
    WORD key;
    bool shift;
    int focus;           // the control that has the focus afterwards (the opened page may take it)
    const char* opened;  // the page opened, if any
  } steps[] = {
      {"the box has the focus at first", 0, false, 9002, nullptr},
      {"Tab to the first link", VK_TAB, false, 9000, nullptr},
      {"Enter opens it", VK_RETURN, false, 9000, "/legal/tos.php"},
      {"Tab to the second link", VK_TAB, false, 9000, nullptr},
      {"Enter opens it", VK_RETURN, false, 9000, "/imaging/quillora/downloads/en-eula.html"},
      {"Tab passes the disabled start button", VK_TAB, false, 9002, nullptr},
      {"Shift+Tab enters at the last link", VK_TAB, true, 9000, nullptr},
      {"Shift+Tab to the first", VK_TAB, true, 9000, nullptr},
      {"Enter opens the first", VK_RETURN, false, 9000, "/legal/tos.php"},
      {"Shift+Tab back to the box", VK_TAB, true, 9002, nullptr},
      {"Space checks it", VK_SPACE, false, 9002, nullptr},
      {"Shift+Tab to the start button, now enabled", VK_TAB, true, IDOK, nullptr},
  };
  size_t pagesOpened = 0;
  for (const auto& step : steps) {
    if (step.key) installer.PressKey(step.key, step.shift);
    if (step.opened) ++pagesOpened;
    EXPECT_TRUE(e2e::WaitFor(
        [&] {
          int focus = installer.FocusedControl();
          return (focus == step.focus || (step.opened && focus == 0)) && pages().size() == pagesOpened;
        },
        10000))
        << step.what << ": focus on " << installer.FocusedControl() << ", " << pages().size() << " pages";
    std::vector<std::string> lines = pages();
    if (step.opened && !lines.empty()) {
      EXPECT_NE(std::string::npos, lines.back().find(step.opened)) << step.what << ": " << lines.back();
    }
  }
  EXPECT_TRUE(installer.IsChecked(9002));
  installer.PressKey(VK_RETURN);
  ASSERT_TRUE(e2e::WaitFor([&] { return installer.IsVisible(9001); }, 120000)) << "the last page never came";
  EXPECT_TRUE(e2e::WaitFor([&] { return installer.FocusedControl() == 9001; }, 5000));
  installer.PressKey(VK_RETURN);
  DWORD exitCode = 0;
  ASSERT_TRUE(installer.WaitForExit(15000, &exitCode));
  EXPECT_EQ(0xFFFFFFFFu, exitCode);
  EXPECT_EQ("QUILLORA|/passive /suppressclient\nPAGEWING|/S /lang=en\n", ReadBytes(log));
}

TEST_F(EndToEnd, BothProductsAreInstalledThenThePartnersIsDetected) {
  InstallToTheLastPage("page5-installed.bmp");
  EXPECT_EQ("QUILLORA|/passive /suppressclient\nPAGEWING|/S /lang=en\n", ReadBytes(log));

  // The partner's installer registered its program: the next run installs only the main product.
  DeleteFileW(log.c_str());
  InstallToTheLastPage("page5-second-run.bmp");
  EXPECT_EQ("QUILLORA|/passive /suppressclient\n", ReadBytes(log));
}

// Each page shows only its own controls: the progress bar while an installer downloads, none while one runs.
// The pages are recognised from outside: a download page by the request for its installer (served slowly),
// a setup page by the line its installer logs when it starts (it then takes its time).
TEST_F(EndToEnd, EachPageShowsOnlyItsControls) {
  const std::string slowly = R"({"mode": "trickle", "chunk": 8192, "delay_ms": 50})";
  local_server::Put(L"/installers/QuilloraSetup.exe", ReadBytes(Installers() + L"\\QuilloraSetup.exe"), slowly);
  local_server::Put(L"/installers/setup.exe", ReadBytes(Installers() + L"\\setup.exe"), slowly);
  const size_t before = local_server::Requests().size();
  auto requested = [&](const char* path) {
    std::vector<std::string> requests = local_server::Requests();
    for (size_t i = before; i < requests.size(); ++i) {
      if (requests[i].find(path) != std::string::npos) return true;
    }
    return false;
  };
  auto started = [&](const char* name) { return ReadBytes(log).find(name) != std::string::npos; };
  CInstallerProcess installer;
  const std::wstring environment = L"TMP=" + folder + std::wstring(1, L'\0') + L"CORVANE_INSTALLER_LOG=" + log +
                                   std::wstring(1, L'\0') + L"CORVANE_INSTALLER_WAIT_MS=1000";
  ASSERT_TRUE(installer.Start(e2e::ProgramFolder() + L"\\Installer.exe", L"", environment));
  ASSERT_NE(nullptr, installer.WaitForWindow(kTitle, 30000));
  installer.Click(9002);
  installer.PostCommand(IDOK);
  struct Page {
    const char* name;
    std::function<bool()> arrived, stillThere;
    bool progressBar;
  } pages[] = {
      {"1", [&] { return requested("/QuilloraSetup.exe"); }, [&] { return !requested("/setup.exe"); }, true},
      {"2", [&] { return requested("/setup.exe"); }, [&] { return !started("QUILLORA|"); }, true},
      {"3", [&] { return started("QUILLORA|"); }, [&] { return !started("PAGEWING|"); }, false},
      {"4", [&] { return started("PAGEWING|"); }, [&] { return !installer.IsVisible(9001); }, false},
  };
  for (const Page& p : pages) {
    SCOPED_TRACE(std::string("page ") + p.name);
    ASSERT_TRUE(e2e::WaitFor(p.arrived, 60000)) << "never came";
    const bool shown[] = {installer.IsVisible(IDOK), installer.IsVisible(9002), installer.IsVisible(9000),
                          installer.IsVisible(9001), installer.IsVisible(9100)};
    ASSERT_TRUE(p.stillThere()) << "the page went by while it was read";
    EXPECT_EQ((std::vector<bool>{false, false, false, false, p.progressBar}),
              std::vector<bool>(std::begin(shown), std::end(shown)));
  }
  ASSERT_TRUE(e2e::WaitFor([&] { return installer.IsVisible(9001); }, 30000));
  installer.PostCommand(9001);
  DWORD exitCode = 0;
  EXPECT_TRUE(installer.WaitForExit(15000, &exitCode));
  ASSERT_TRUE(local_server::PublishSampleProducts(Installers()));
}

// The installers are written to, and run from, a folder of this run's own: files of those names that others
// left in the temporary folder (one held open without write sharing) stay as they were, a DLL planted there
// is not loaded by a started installer, and the private folder is gone after exit.
TEST_F(EndToEnd, InstallersRunFromAPrivateFolderAndTouchNothingElse) {
  const std::string theirs[] = {"somebody's QuilloraSetup.exe", "somebody's setup.exe"};
  const std::wstring names[] = {folder + L"\\QuilloraSetup.exe", folder + L"\\setup.exe"};
  for (int i = 0; i < 2; ++i) {
    std::ofstream(names[i].c_str(), std::ios::binary) << theirs[i];
  }
  HANDLE held = CreateFileW(names[1].c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, held);
  ASSERT_TRUE(CopyFileW((e2e::ProgramFolder() + L"\\planted_dll.dll").c_str(),
                        (folder + L"\\corvane_probe.dll").c_str(), FALSE));

  CInstallerProcess installer;
  std::wstring environment = L"TMP=" + folder + std::wstring(1, L'\0') + L"CORVANE_INSTALLER_LOG=" + log +
                             std::wstring(1, L'\0') + L"CORVANE_INSTALLER_LOAD=corvane_probe.dll";
  ASSERT_TRUE(installer.Start(e2e::ProgramFolder() + L"\\Installer.exe", L"", environment));
  ASSERT_NE(nullptr, installer.WaitForWindow(kTitle, 30000));
  installer.Click(9002);
  installer.PostCommand(IDOK);
  ASSERT_TRUE(e2e::WaitFor([&] { return installer.IsVisible(9001); }, 120000)) << "the last page never came";
  installer.PostCommand(9001);
  DWORD exitCode = 0;
  ASSERT_TRUE(installer.WaitForExit(15000, &exitCode));
  CloseHandle(held);

  for (int i = 0; i < 2; ++i) EXPECT_EQ(theirs[i], ReadBytes(names[i]));
  EXPECT_FALSE(e2e::FileExists(folder + L"\\corvane_probe.dll.loaded")) << "an installer loaded the planted DLL";
  // Both ran from the same new folder inside the temporary folder, which is gone now.
  std::string ran = ReadBytes(log), prefix = " ran from " + std::string(folder.begin(), folder.end()) + "\\Quillora-";
  size_t quillora = ran.find("QUILLORA" + prefix), pagewing = ran.find("PAGEWING" + prefix);
  ASSERT_NE(std::string::npos, quillora) << ran;
  ASSERT_NE(std::string::npos, pagewing) << ran;
  std::string privateFolder = ran.substr(quillora + 8 + 10, folder.size() + 1 + 25);
  EXPECT_NE(std::string::npos, ran.find(privateFolder + "\\QuilloraSetup.exe"));
  EXPECT_NE(std::string::npos, ran.find(privateFolder + "\\setup.exe"));
  EXPECT_FALSE(e2e::FileExists(std::wstring(privateFolder.begin(), privateFolder.end())));
}

// A silent server never holds the window: closed while a manifest is awaited, the program ends at once with
// no box; asked to cancel while an installer download is stalled, or waits to be tried again after a busy
// answer, it asks at once and ends on Yes.
TEST_F(EndToEnd, ASilentServerNeverHoldsTheWindow) {
  const std::wstring manifest = L"/downloads/jp/download/xml/mgr/w-quillora/PagewingInstall.xml";
  const std::wstring installer = L"/installers/QuilloraSetup.exe";
  struct Case {
    const char* name;
    std::wstring stalled;
    const char* meta;
  } cases[] = {
      {"manifest", manifest, R"({"mode": "stall", "stall_ms": 20000})"},
      {"installer", installer, R"({"mode": "stall", "after": 65536, "stall_ms": 20000})"},
      {"installer, waiting to try again", installer, R"({"status": 503, "headers": {"Retry-After": "20"}})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(local_server::PublishSampleProducts(Installers()));
    local_server::Put(c.stalled, c.stalled == installer ? ReadBytes(Installers() + L"\\QuilloraSetup.exe") : "",
                      c.meta);
    auto requested = [&] {
      std::string path(c.stalled.begin(), c.stalled.end());
      for (const std::string& line : local_server::Requests()) {
        if (line.find(path) != std::string::npos) return true;
      }
      return false;
    };
    size_t before = local_server::Requests().size();
    CInstallerProcess program;
    ASSERT_TRUE(program.Start(e2e::ProgramFolder() + L"\\Installer.exe", L"", L"TMP=" + folder));
    ASSERT_NE(nullptr, program.WaitForWindow(kTitle, 30000));
    program.Click(9002);
    program.PostCommand(IDOK);
    ASSERT_TRUE(e2e::WaitFor([&] { return local_server::Requests().size() > before && requested(); }, 30000));
    Sleep(300);  // well into the silence

    DWORD asked = GetTickCount();
    program.PostCommand(IDCANCEL);
    if (c.stalled == installer) {
      HWND box = program.WaitForMessageBox(1000);
      ASSERT_NE(nullptr, box) << "the cancel question did not come within 1 s";
      EXPECT_EQ(L"Are you sure you want to cancel?", CInstallerProcess::MessageBoxText(box));
      // Asked again while the question is open: still one question, and No keeps the download going.
      program.PostCommand(IDCANCEL);
      Sleep(300);
      EXPECT_EQ(1, program.CountMessageBoxes());
      CInstallerProcess::AnswerMessageBox(box, IDNO);
      DWORD exitCode = 0;
      EXPECT_FALSE(program.WaitForExit(500, &exitCode));
      EXPECT_EQ(0, program.CountMessageBoxes());
      asked = GetTickCount();
      program.PostCommand(IDCANCEL);
      box = program.WaitForMessageBox(1000);
      ASSERT_NE(nullptr, box) << "the cancel question did not come again within 1 s";
      CInstallerProcess::AnswerMessageBox(box, IDYES);
    }
    DWORD exitCode = 0;
    ASSERT_TRUE(program.WaitForExit(2000, &exitCode)) << "still running 2 s after the close";
    EXPECT_LT(GetTickCount() - asked, 2000u);
    EXPECT_EQ(0xFFFFFFFFu, exitCode);
    EXPECT_FALSE(e2e::FileExists(folder + L"\\QuilloraSetup.exe"));
  }
  ASSERT_TRUE(local_server::PublishSampleProducts(Installers()));
}

// Whole installs over a harder route: a line that breaks once in each installer's download, the system's
// proxy, or both. The install completes; the second request of a broken download asked only for the rest,
// vouched for by the first answer's ETag; through the proxy, every request the server saw passed through it.
TEST_F(EndToEnd, WholeInstallsOverAHarderRoute) {
  const struct {
    const char* name;
    const char* installerMeta;
    bool proxy;
  } cases[] = {
      {"a line that breaks once", R"({"mode": "drop", "drop_after": 40000, "times": 1, "validator": "etag"})", false},
      {"through the system's proxy", "", true},
      {"through the proxy, breaking once", R"({"mode": "drop", "drop_after": 40000, "times": 1, "validator": "etag"})",
       true},
  };
  const wchar_t* const names[] = {L"QuilloraSetup.exe", L"setup.exe"};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(local_server::PublishSampleProducts(Installers()));
    for (const wchar_t* name : names) {
      local_server::Put(std::wstring(L"/installers/") + name, ReadBytes(Installers() + L"\\" + name), c.installerMeta);
    }
    std::unique_ptr<local_server::CThroughProxy> proxy(c.proxy ? new local_server::CThroughProxy : nullptr);
    ForgetThePartner();
    DeleteFileW(log.c_str());
    size_t before = local_server::Requests().size();
    InstallToTheLastPage("page5-harder-route.bmp");
    EXPECT_EQ("QUILLORA|/passive /suppressclient\nPAGEWING|/S /lang=en\n", ReadBytes(log));
    std::vector<std::string> requests = local_server::Requests();
    requests.erase(requests.begin(), requests.begin() + before);
    for (const wchar_t* name : names) {
      std::string path = "/installers/" + std::string(name, name + wcslen(name)) + "\"";
      std::vector<std::string> mine;
      for (const std::string& request : requests) {
        if (request.find(path) != std::string::npos && request.find("\"proxy\"") == std::string::npos)
          mine.push_back(request);
      }
      ASSERT_EQ(*c.installerMeta ? 2u : 1u, mine.size()) << path;
      EXPECT_EQ(std::string::npos, mine[0].find("\"Range\"")) << mine[0];
      if (mine.size() == 2) {
        EXPECT_NE(std::string::npos, mine[1].find("\"Range\": \"bytes=40000-\"")) << mine[1];
      }
    }
    // The platform keeps connections for the whole process, so one tunnel may carry several requests: every
    // connection the server saw must have come through a tunnel of its own.
    size_t tunnels = 0;
    std::set<std::string> connections;
    for (const std::string& request : requests) {
      if (request.find("\"scheme\": \"proxy\"") != std::string::npos) ++tunnels;
      else connections.insert(request.substr(request.find("\"connection\"")));
    }
    EXPECT_EQ(c.proxy ? connections.size() : 0u, tunnels);
  }
}

}  // namespace

namespace {

// Whatever a run's URLs and sign-ins carry besides the host and path; it must never reach the log.
const char kCanary[] = "c4n4ry7391";

// The run's own log in folder (there is one per run), or empty.
std::string ReadRunLog(const std::wstring& folder) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\Quillora Setup *.log").c_str(), &found);
  std::string text;
  for (BOOL more = search != INVALID_HANDLE_VALUE; more && text.empty(); more = FindNextFileW(search, &found)) {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) text = ReadBytes(folder + L"\\" + found.cFileName);
  }
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
  return text;
}

// Takes every name a log started within the coming seconds could have, with folders.
void TakeLogNames(const std::wstring& folder, int seconds) {
  SYSTEMTIME time;
  GetLocalTime(&time);
  ULARGE_INTEGER now;
  SystemTimeToFileTime(&time, reinterpret_cast<FILETIME*>(&now));
  for (int second = 0; second <= seconds; ++second) {
    ULARGE_INTEGER moment = {{0, 0}};
    moment.QuadPart = now.QuadPart + second * 10000000ull;
    FileTimeToSystemTime(reinterpret_cast<FILETIME*>(&moment), &time);
    wchar_t stamp[32];
    swprintf(stamp, 32, L"%04u-%02u-%02u %02u-%02u-%02u", time.wYear, time.wMonth, time.wDay, time.wHour,
             time.wMinute, time.wSecond);
    for (int n = 1; n <= 20; ++n) {
      CreateDirectoryW((folder + L"\\Quillora Setup " + stamp + (n > 1 ? L" (" + std::to_wstring(n) + L")" : L"") +
                        L".log").c_str(), nullptr);
    }
  }
}

BOOL CALLBACK CollectEdits(HWND child, LPARAM edits) {
  wchar_t name[16];
  if (GetClassNameW(child, name, 16) && _wcsicmp(name, L"Edit") == 0 && IsWindowVisible(child))
    reinterpret_cast<std::vector<HWND>*>(edits)->push_back(child);
  return TRUE;
}

}  // namespace

// The log of whole runs, as support reads it: each tells its requests, checks, installer runs and boxes,
// ends with the outcome in words, and holds nothing of what the URLs and the proxy's sign-in carried besides
// host and path. A sign-in to a proxy is answered with the canary as its password (on Wine the tunnel then
// fails: the run ends at the first manifest, which is a failure the log must tell too).
TEST_F(EndToEnd, TheRunsLogTellsItsStory) {
  const std::string canary = kCanary;
  const std::wstring secret(canary.begin(), canary.end());
  const struct {
    const char* name;
    std::function<void()> publish;
    bool proxy;
    std::vector<const char*> lines;  // in the log, in this order
    const char* outcome;             // in its last line; null: no log can be made
    const char* ran;                 // the installers that ran
  } cases[] = {
      {"a whole install",
       [] {},
       false,
       {"Page 0 shown", "Manifest of Pagewing: offers 6.0.0.0", "needed, not installed",
        "Manifest of Quillora: offers 6.0.0.0", "/installers/QuilloraSetup.exe: proxy none, TLS yes, status 200",
        "Size check of Quillora: passed", "Signature of ", "verdict valid",
        "/installers/setup.exe: proxy none, TLS yes, status 200", "Running ", "verb open",
        "The installer ended with exit code 0", "Page 5 shown"},
       "Run outcome: SUCCEEDED - every needed product was installed",
       "QUILLORA|/passive /suppressclient\nPAGEWING|/S /lang=en\n"},
      {"a tampered installer",
       [&] { local_server::Put(L"/installers/QuilloraSetup.exe", ReadBytes(Installers() + L"\\..\\tampered\\QuilloraSetup.exe")); },
       false,
       {"Size check of Quillora: passed", "TRUST_E_BAD_DIGEST", "verdict error", "Message box shown: \"",
        "Message box answered: OK"},
       "Run outcome: FAILED - the installer of Quillora was not obtained",
       ""},
      {"URLs that carry secrets",
       [&] {
         local_server::PublishSampleProducts(Installers(), [&](const std::wstring& url) {
           return L"https://user:" + secret + L"@" + url.substr(8) + L"?token=" + secret + L"#" + secret;
         });
       },
       false,
       {"from https://" , "/installers/QuilloraSetup.exe (size", "GET https://localhost:",
        "/installers/QuilloraSetup.exe: proxy none"},
       "Run outcome: SUCCEEDED",
       "QUILLORA|/passive /suppressclient\nPAGEWING|/S /lang=en\n"},
      {"a proxy that asks for a password",
       [&] { local_server::Put(L"/_proxy.json", "{\"user\": \"corvane\", \"password\": \"" + canary + "\"}"); },
       true,
       {"/location-check/: proxy 127.0.0.1:"},
       "Run outcome: ",
       nullptr},
      // Every name the log could take is taken: the install runs as it always does, without a log.
      {"no log can be made", [] {}, false, {}, nullptr, "QUILLORA|/passive /suppressclient\nPAGEWING|/S /lang=en\n"},
  };
  int row = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(local_server::PublishSampleProducts(Installers()));
    c.publish();
    struct CForgetPassword {
      ~CForgetPassword() { local_server::Remove(L"/_proxy.json"); }
    } forget;
    std::unique_ptr<local_server::CThroughProxy> proxy(c.proxy ? new local_server::CThroughProxy : nullptr);
    ForgetThePartner();
    const std::wstring runFolder = folder + L"\\run" + std::to_wstring(++row);
    CreateDirectoryW(runFolder.c_str(), nullptr);
    if (!c.outcome) TakeLogNames(runFolder, 30);
    DeleteFileW(log.c_str());

    CInstallerProcess installer;
    ASSERT_TRUE(installer.Start(e2e::ProgramFolder() + L"\\Installer.exe", L"",
                                L"TMP=" + runFolder + std::wstring(1, L'\0') + L"CORVANE_INSTALLER_LOG=" + log));
    ASSERT_NE(nullptr, installer.WaitForWindow(kTitle, 30000));
    installer.Click(9002);
    installer.PostCommand(IDOK);
    // Through to the end: boxes are answered (a sign-in with the canary), the last page's button pressed.
    DWORD exitCode = 0;
    const DWORD start = GetTickCount();
    bool launched = false;
    while (!installer.WaitForExit(100, &exitCode)) {
      ASSERT_LT(GetTickCount() - start, 120000u) << "the run never ended";
      if (HWND box = installer.WaitForMessageBox(0)) {
        std::vector<HWND> edits;
        EnumChildWindows(box, CollectEdits, reinterpret_cast<LPARAM>(&edits));
        if (edits.size() >= 2) {
          SendMessageW(edits[0], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"corvane"));
          SendMessageW(edits[1], WM_SETTEXT, 0, reinterpret_cast<LPARAM>(secret.c_str()));
        }
        CInstallerProcess::AnswerMessageBox(box, IDOK);
        Sleep(300);
      } else if (!launched && installer.IsVisible(9001)) {
        launched = true;
        installer.PostCommand(9001);
      }
    }

    if (c.ran) {
      EXPECT_EQ(c.ran, ReadBytes(log));
    }
    std::string text = ReadRunLog(runFolder);
    if (!c.outcome) {
      EXPECT_EQ("", text);
      continue;
    }
    ASSERT_FALSE(text.empty()) << "no log in the run's temporary folder";
    size_t at = 0;
    for (const char* line : c.lines) {
      size_t found = text.find(line, at);
      EXPECT_NE(std::string::npos, found) << "\"" << line << "\" missing after offset " << at << " in:\n" << text;
      if (found != std::string::npos) at = found;
    }
    size_t last = text.rfind('\n', text.size() - 2);
    EXPECT_NE(std::string::npos, text.substr(last + 1).find(c.outcome)) << text.substr(last + 1);
    EXPECT_EQ(std::string::npos, text.find(canary)) << text;
  }
  ASSERT_TRUE(local_server::PublishSampleProducts(Installers()));
}
