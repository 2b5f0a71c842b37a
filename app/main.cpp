// Process start and teardown of the install helper.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include "app/Shell.h"
#include "install/CorvaneDlg.h"
#include "support/AtExit.h"
#include "support/BlockProfiler.h"
#include "support/Log.h"
#include "support/RegistryStore.h"
#include "support/SystemLibrary.h"
#include "support/TempFiles.h"

namespace {

// Made before the entry point runs and destroyed after it returns, in reverse order: the placement is
// written back before the profiler reports the run's time, so the time covers the whole run.
struct CProcessStatics {
  CBlockProfiler profiler{nullptr, L"\n", true};
  CRegistryStore store{HKEY_CURRENT_USER, L"Software\\Quillora\\Corvane"};
  bool keyCreated = store.CreateKey();
  CWindowPlacementHolder placement{store};
};

CProcessStatics g_statics;

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
  // Before anything can load a DLL: the program usually runs from a Downloads folder, where a planted
  // DLL named like a system one would otherwise be found first.
  RestrictDllSearchToSystem();
  // The TLS code behind WinInet loads crypt32.dll by name on first use. Windows honours the restricted search
  // for that load; Wine's delay-load path does not. Loaded now from the system directory, it is the module
  // every later load by that name gets.
  SystemModule(L"crypt32.dll");

  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);

  // The shared temporary folder, not the run's private one: that one is deleted when the run ends, and the
  // log is for afterwards. Without a log the run goes on all the same.
  SYSTEMTIME started;
  GetLocalTime(&started);
  CLog& log = RunLog();
  log.Open(GetTempDirectory(), started, {ProgramVersion(), IsUserAdmin(), LoadedLanguage()});

  HRESULT ole = OleInitialize(nullptr);
  if (FAILED(ole)) LogWarning(L"OleInitialize failed: " + HexCode(static_cast<DWORD>(ole)));

  // comctl32 is no known DLL: version 6, as the manifest asks, comes through the activation context, and
  // never by import.
  INITCOMMONCONTROLSEX controls = {sizeof(controls),
                                   ICC_BAR_CLASSES | ICC_DATE_CLASSES | ICC_USEREX_CLASSES | ICC_COOL_CLASSES};
  if (auto init = SystemProc<decltype(&::InitCommonControlsEx)>(L"comctl32.dll", "InitCommonControlsEx"))
    init(&controls);

  // Registers the RichEdit20W class that the agreement text uses. Without it the dialog cannot be created,
  // DialogBoxParamW fails and the program goes straight to teardown.
  HMODULE richEdit = LoadSystemLibrary(L"RICHED20.DLL");
  if (!richEdit) LogError(L"RICHED20.DLL could not be loaded: error " + std::to_wstring(GetLastError()));

  g_module.Init(instance);
  // Nothing leaves the entry point as an exception: the runtime would end the process there, past the
  // teardown that deletes the downloaded installers. The window has told the user of any failure it met.
  try {
    CCorvaneDlg dialog(instance);
    // Its result (launched or not) does not reach the exit code.
    INT_PTR result = dialog.DoModal(GetActiveWindow());
    if (result == 0 || result == -1) {
      log.RecordOutcome(RunOutcome::Failed, L"the window could not be created: error " +
                                                std::to_wstring(GetLastError()));
    } else if (result == IDOK && log.GetOutcome() == RunOutcome::Unknown) {
      log.RecordOutcome(RunOutcome::Succeeded, L"Quillora was launched");
    }
    LogInfo(L"Window closed with result " + std::to_wstring(result));
  } catch (...) {
    log.RecordOutcome(RunOutcome::Failed, L"an unexpected failure ended the window");
  }
  // The dialog is gone; now the singletons go, newest first: the temporary installers are deleted only
  // after the last installer finished and after the application may have been launched.
  try {
    RunAtExitCalls();
  } catch (...) {
    LogWarning(L"An unexpected failure interrupted the clean-up of temporary files");
  }
  g_module.Term();
  // Download threads that outlive the window may still write; from here on their lines are dropped.
  log.Finish();

  if (richEdit) FreeLibrary(richEdit);
  if (ole == S_OK || ole == S_FALSE) OleUninitialize();
  return -1;
}
