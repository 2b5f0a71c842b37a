#include "install/Session.h"

#include <shellapi.h>

#include "app/Shell.h"
#include "app/StringIds.h"
#include "support/Handle.h"
#include "support/Log.h"
#include "support/MessagePump.h"

namespace {

ShellStartFunction g_shellStart = nullptr;

}  // namespace

CShellStartOverride::CShellStartOverride(ShellStartFunction start) : previous(g_shellStart) {
  g_shellStart = start;
}
CShellStartOverride::~CShellStartOverride() { g_shellStart = previous; }

int CInstallSession::RunInstaller(const std::wstring& path, const std::wstring& params, bool elevate, bool wait,
                                  std::shared_ptr<CFileHandle> hold) {
  if (path.empty()) {
    LogError(L"No installer to run");
    window.ShowMessage(LoadResString(kNoCommandSpecified), MB_OK | MB_ICONERROR);
    return InstallerFailedStop;
  }
  const std::wstring failed = LoadResString(kInstallationFailed);
  auto askToContinue = [&] {
    int answer = window.ShowMessage(failed, MB_YESNO | MB_ICONERROR | MB_DEFBUTTON2) == IDYES ? InstallerFailedRetry
                                                                                           : InstallerFailedStop;
    LogInfo(answer == InstallerFailedRetry ? L"The user chose to try again" : L"The user chose to stop");
    return answer;
  };

  SHELLEXECUTEINFOW execute = {};
  execute.cbSize = sizeof(execute);
  // The shell's own error box would come on top of ours, one failure told twice: ours is enough.
  execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  // Before Vista there is no elevation prompt: "runas" would ask for another account's credentials.
  execute.lpVerb = elevate && g_osMajor >= 6 ? L"runas" : L"open";
  execute.lpFile = path.c_str();
  execute.lpParameters = params.empty() ? nullptr : params.c_str();  // no parameters at all, not ""
  execute.nShow = SW_SHOWNORMAL;

  // The file stays held until the process has ended: a running program's file can be renamed and another
  // put in its place, and a self-extracting installer reads its payload from its own path as it runs.
  struct CReleaseOnReturn {
    std::shared_ptr<CFileHandle>& hold;
    ~CReleaseOnReturn() {
      if (hold) hold->Reset();
    }
  } release{hold};
  LogInfo(L"Running " + path + L" with parameters \"" + params + L"\", verb " + execute.lpVerb);
  BOOL started = (g_shellStart ? g_shellStart : ShellExecuteExW)(&execute);
  DWORD startError = GetLastError();
  if (!started) {
    if (startError == ERROR_CANCELLED) {
      LogWarning(L"The elevation was refused");
      return askToContinue();  // the user refused the elevation prompt
    }
    LogError(L"The installer could not be started: error " + std::to_wstring(startError));
    window.ShowMessage(failed, MB_OK | MB_ICONERROR);
    return InstallerFailedStop;
  }
  CHandle process(execute.hProcess);
  // Handed to a program that was already running: there is nothing to wait for or judge.
  if (!process) {
    LogWarning(L"The start was handed to a program already running: nothing to wait for");
    return InstallerFailedStop;
  }
  if (!wait) return InstallerSucceeded;

  // Messages sent to us are answered to the end, even once the window is closing: an installer that
  // announces a change to every window with SendMessage waits for our answer while we wait for it.
  if (PumpedWait(process.Get(), INFINITE, {AfterQuit::AnswerSentMessages}) == WaitEnd::Signalled) {
    DWORD exitCode = 1;
    if (!GetExitCodeProcess(process.Get(), &exitCode)) {
      LogError(L"The installer ended with an unknown exit code: error " + std::to_wstring(GetLastError()));
      exitCode = 1;
    } else if (exitCode == 0) {
      LogInfo(L"The installer ended with exit code 0");
      return InstallerSucceeded;
    } else if (exitCode == ERROR_SUCCESS_REBOOT_REQUIRED || exitCode == ERROR_SUCCESS_RESTART_REQUIRED) {
      LogWarning(L"The installer ended with exit code " + std::to_wstring(exitCode) +
                 L": it asks for a restart, which counts as a failure here");
    } else {
      LogError(L"The installer ended with exit code " + std::to_wstring(exitCode) + L" (" + HexCode(exitCode) + L")");
    }
    // Any other code is a failure, a restart request (3010) included.
    return askToContinue();
  }
  // The wait itself failed. Waiting again would fail the same way and show box after box: stop here.
  LogError(L"Waiting for the installer failed: error " + std::to_wstring(GetLastError()));
  window.ShowMessage(failed, MB_OK | MB_ICONERROR);
  return InstallerFailedStop;
}
