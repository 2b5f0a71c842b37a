// Process start and teardown of the install helper.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>

#include "app/Shell.h"
#include "install/CorvaneDlg.h"
#include "support/AtExit.h"
#include "support/BlockProfiler.h"
#include "support/RegistryStore.h"
#include "support/SystemLibrary.h"

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
  HRESULT ole = OleInitialize(nullptr);

  // comctl32 is no known DLL: version 6, as the manifest asks, comes through the activation context, and
  // never by import.
  INITCOMMONCONTROLSEX controls = {sizeof(controls),
                                   ICC_BAR_CLASSES | ICC_DATE_CLASSES | ICC_USEREX_CLASSES | ICC_COOL_CLASSES};
  if (auto init = SystemProc<decltype(&::InitCommonControlsEx)>(L"comctl32.dll", "InitCommonControlsEx"))
    init(&controls);

  // Registers the RichEdit20W class that the agreement text uses. Without it the dialog cannot be created,
  // DialogBoxParamW fails and the program goes straight to teardown.
  HMODULE richEdit = LoadSystemLibrary(L"RICHED20.DLL");

  g_module.Init(instance);
  // Nothing leaves the entry point as an exception: the runtime would end the process there, past the
  // teardown that deletes the downloaded installers. The window has told the user of any failure it met.
  try {
    CCorvaneDlg dialog(instance);
    dialog.DoModal(GetActiveWindow());  // its result (launched or not) does not reach the exit code
  } catch (...) {
  }
  // The dialog is gone; now the singletons go, newest first: the temporary installers are deleted only
  // after the last installer finished and after the application may have been launched.
  try {
    RunAtExitCalls();
  } catch (...) {
  }
  g_module.Term();

  if (richEdit) FreeLibrary(richEdit);
  if (ole == S_OK || ole == S_FALSE) OleUninitialize();
  return -1;
}
