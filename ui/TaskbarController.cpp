#include "ui/TaskbarController.h"

CTaskbarController::~CTaskbarController() { ReleaseTaskbar(); }

void CTaskbarController::ReleaseTaskbar() {
  if (taskbar) taskbar->Release();
  taskbar = nullptr;
}

HRESULT CTaskbarController::Create() {
  ReleaseTaskbar();
  void* created = nullptr;
  HRESULT result = CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_ALL, IID_ITaskbarList3, &created);
  taskbar = SUCCEEDED(result) ? static_cast<ITaskbarList3*>(created) : nullptr;
  return result;
}

void CTaskbarController::UseTaskbarForTesting(ITaskbarList3* list) {
  if (list) list->AddRef();
  ReleaseTaskbar();
  taskbar = list;
}

HRESULT CTaskbarController::SetProgressValue(HWND window, ULONGLONG completed, ULONGLONG total) {
  return taskbar ? taskbar->SetProgressValue(window, completed, total) : E_NOINTERFACE;
}

HRESULT CTaskbarController::SetProgressState(HWND window, TBPFLAG state) {
  return taskbar ? taskbar->SetProgressState(window, state) : E_NOINTERFACE;
}
