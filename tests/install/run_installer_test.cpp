#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "ScriptedWindow.h"
#include "app/Shell.h"

namespace {

std::string ReadLog(const std::wstring& path) {
  std::ifstream in(path.c_str());
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class RunInstaller : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    log = std::wstring(folder) + L"corvane-installer-log-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    DeleteFileW(log.c_str());
    SetEnvironmentVariableW(L"CORVANE_INSTALLER_LOG", log.c_str());
  }
  void TearDown() override {
    SetEnvironmentVariableW(L"CORVANE_INSTALLER_LOG", nullptr);
    SetEnvironmentVariableW(L"CORVANE_QUILLORA_EXIT", nullptr);
    DeleteFileW(log.c_str());
  }
  std::wstring log;
  const std::wstring installer = BuildPath(L"installers\\unsigned\\QuilloraSetup.exe");
};

// The window is closing (a quit message waits for the modal loop) while an installer runs: the installer
// is still waited for, without spinning on the message that cannot be taken.
TEST_F(RunInstaller, AQuitMessageDoesNotMakeTheWaitSpin) {
  SetEnvironmentVariableW(L"CORVANE_INSTALLER_WAIT_MS", L"700");
  CScriptedWindow window;
  CInstallSession session(window);
  PostQuitMessage(3);
  FILETIME created, exited, kernel, user, kernelAfter, userAfter;
  GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
  EXPECT_EQ(InstallerSucceeded, session.RunInstaller(installer, L"", false, true));
  GetThreadTimes(GetCurrentThread(), &created, &exited, &kernelAfter, &userAfter);
  SetEnvironmentVariableW(L"CORVANE_INSTALLER_WAIT_MS", nullptr);
  auto ticks = [](const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  uint64_t busy = ticks(kernelAfter) - ticks(kernel) + ticks(userAfter) - ticks(user);
  EXPECT_LT(busy, 1000000u) << "100-ns units of CPU while waiting";  // 0.1 s of the 0.7 s wait
  MSG message;
  ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

LRESULT CALLBACK CountSettingChanges(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  static int* count = nullptr;
  if (message == WM_CREATE) count = static_cast<int*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
  if (message == WM_SETTINGCHANGE && count) ++*count;
  return DefWindowProcW(window, message, wParam, lParam);
}

// After the quit message an installer that sends our windows a message (a settings change announced to
// all) is still answered, or it would wait for us while we wait for it; the quit message is there again
// for the modal loop afterwards.
TEST_F(RunInstaller, AfterAQuitMessageSentMessagesAreStillHandled) {
  SetEnvironmentVariableW(L"CORVANE_INSTALLER_BROADCAST", L"1");
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = CountSettingChanges;
  windowClass.lpszClassName = L"CorvaneBroadcastTarget";
  RegisterClassW(&windowClass);
  int changes = 0;
  HWND target = CreateWindowExW(0, L"CorvaneBroadcastTarget", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                nullptr, &changes);
  ASSERT_NE(nullptr, target);
  CScriptedWindow window;
  CInstallSession session(window);
  PostQuitMessage(4);
  EXPECT_EQ(InstallerSucceeded, session.RunInstaller(installer, L"", false, true));
  SetEnvironmentVariableW(L"CORVANE_INSTALLER_BROADCAST", nullptr);
  EXPECT_EQ(1, changes);
  MSG message;
  ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(4u, message.wParam);
  DestroyWindow(target);
}

TEST_F(RunInstaller, ExitCodesAndAnswers) {
  const UINT question = MB_YESNO | MB_ICONERROR | MB_DEFBUTTON2;
  struct Case {
    const char* name;
    const wchar_t* exitCode;
    int answer;  // 0: no box expected
    int expected;
  } cases[] = {
      {"success", L"0", 0, InstallerSucceeded},
      {"restart requested, user continues", L"3010", IDYES, InstallerFailedRetry},
      {"restart requested, user stops", L"3010", IDNO, InstallerFailedStop},
      {"failure, user stops", L"1603", IDNO, InstallerFailedStop},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetEnvironmentVariableW(L"CORVANE_QUILLORA_EXIT", c.exitCode);
    CScriptedWindow window;
    if (c.answer) window.answers.push_back(c.answer);
    CInstallSession session(window);
    EXPECT_EQ(c.expected, session.RunInstaller(installer, L"/passive /suppressclient", false, true));
    if (c.answer) {
      ASSERT_EQ(1u, window.shown.size());
      EXPECT_EQ(English(31050), window.shown[0].text);
      EXPECT_EQ(question, window.shown[0].type);
      EXPECT_FALSE(window.shown[0].ownerless);
    } else {
      EXPECT_TRUE(window.shown.empty());
    }
  }
  // Every run got exactly the parameters it was given.
  std::string expected;
  for (int i = 0; i < 4; ++i) expected += "QUILLORA|/passive /suppressclient\n";
  EXPECT_EQ(expected, ReadLog(log));
}

TEST_F(RunInstaller, ParametersAndStartFailures) {
  struct Case {
    const char* name;
    std::wstring path;
    const wchar_t* params;
    bool wait;
    int expected;
    UINT boxText;  // 0: no box
    UINT boxType;
    const char* logged;  // what the installer logged; null: it did not run
  } cases[] = {
      {"empty params pass nothing at all", installer, L"", true, InstallerSucceeded, 0, 0, "QUILLORA|\n"},
      {"not waiting", installer, L"/PagewingSetup", false, InstallerSucceeded, 0, 0, nullptr},
      {"empty path", L"", L"", true, InstallerFailedStop, 31046, MB_OK | MB_ICONERROR, nullptr},
      {"missing program", BuildPath(L"installers\\no-such-setup.exe"), L"", true, InstallerFailedStop, 31050,
       MB_OK | MB_ICONERROR, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteFileW(log.c_str());
    CScriptedWindow window;
    CInstallSession session(window);
    EXPECT_EQ(c.expected, session.RunInstaller(c.path, c.params, false, c.wait));
    if (c.boxText) {
      ASSERT_EQ(1u, window.shown.size());
      EXPECT_EQ(English(c.boxText), window.shown[0].text);
      EXPECT_EQ(c.boxType, window.shown[0].type);
    } else {
      EXPECT_TRUE(window.shown.empty());
    }
    if (c.logged) {
      EXPECT_EQ(c.logged, ReadLog(log));
    }
  }
}

// Stands in for the shell: notes the verb and fails as the row says (the elevation prompt refused, ...).
std::wstring g_verb;
DWORD g_startError = 0;
BOOL WINAPI FailingStart(SHELLEXECUTEINFOW* info) {
  g_verb = info->lpVerb ? info->lpVerb : L"";
  SetLastError(g_startError);
  return FALSE;
}

TEST_F(RunInstaller, TheVerbByWindowsVersionAndARefusedElevation) {
  const UINT question = MB_YESNO | MB_ICONERROR | MB_DEFBUTTON2;
  struct Case {
    const char* name;
    unsigned osMajor;
    bool elevate;
    DWORD startError;
    int answer;  // to the question, when one comes
    const wchar_t* verb;
    UINT boxType;
    int expected;
  } cases[] = {
      {"prompt refused, user continues", 6, true, ERROR_CANCELLED, IDYES, L"runas", question, InstallerFailedRetry},
      {"prompt refused, user stops", 10, true, ERROR_CANCELLED, IDNO, L"runas", question, InstallerFailedStop},
      {"not elevated", 10, false, ERROR_ACCESS_DENIED, IDOK, L"open", MB_OK | MB_ICONERROR, InstallerFailedStop},
      // Before Vista there is no prompt to ask: "runas" would ask for another account instead.
      {"before Vista", 5, true, ERROR_ACCESS_DENIED, IDOK, L"open", MB_OK | MB_ICONERROR, InstallerFailedStop},
  };
  CShellStartOverride scripted(FailingStart);
  const unsigned savedMajor = g_osMajor;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_osMajor = c.osMajor;
    g_startError = c.startError;
    CScriptedWindow window;
    window.answers.push_back(c.answer);
    CInstallSession session(window);
    EXPECT_EQ(c.expected, session.RunInstaller(installer, L"/passive", c.elevate, true));
    EXPECT_EQ(c.verb, g_verb);
    ASSERT_EQ(1u, window.shown.size());
    EXPECT_EQ(English(31050), window.shown[0].text);
    EXPECT_EQ(c.boxType, window.shown[0].type);
  }
  g_osMajor = savedMajor;
}

}  // namespace
