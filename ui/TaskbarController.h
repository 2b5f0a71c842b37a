// Mirrors download progress on the window's taskbar button (ITaskbarList3, Windows 7 and later). Without
// the taskbar object every call is harmless and answers E_NOINTERFACE.
#pragma once

#include <windows.h>
#include <shobjidl.h>

#include "support/AtExit.h"

class CTaskbarController final : public CSingletonT<CTaskbarController> {
 public:
  ~CTaskbarController() override;

  // Releases what it holds and asks COM for a new taskbar list; the object's HrInit is not called.
  HRESULT Create();
  HRESULT SetProgressValue(HWND window, ULONGLONG completed, ULONGLONG total);
  HRESULT SetProgressState(HWND window, TBPFLAG state);
  bool HasTaskbar() const { return taskbar != nullptr; }
  // Takes this list (one reference of its own) in place of the one it holds: tests give it a recording one.
  void UseTaskbarForTesting(ITaskbarList3* list);

  // The taskbar list exists from Windows 7 (6.1) on; before it, none is asked for.
  static bool Available(unsigned osMajor, unsigned osMinor) {
    return osMajor > 6 || (osMajor == 6 && osMinor >= 1);
  }

 private:
  friend class CSingletonT<CTaskbarController>;
  CTaskbarController() = default;
  void ReleaseTaskbar();

  ITaskbarList3* taskbar = nullptr;
};
