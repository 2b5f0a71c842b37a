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

 private:
  friend class CSingletonT<CTaskbarController>;
  CTaskbarController() = default;
  void ReleaseTaskbar();

  ITaskbarList3* taskbar = nullptr;
};
