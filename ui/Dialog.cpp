#include "ui/Dialog.h"

#include <olectl.h>

#include <vector>

#include "app/Shell.h"
#include "support/Boundary.h"

namespace {

// Messages whose result a dialog procedure returns directly instead of through DWLP_MSGRESULT.
bool ReturnsResultDirectly(UINT message) {
  switch (message) {
    case WM_INITDIALOG:
    case WM_CHARTOITEM:
    case WM_COMPAREITEM:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_QUERYDRAGICON:
    case WM_VKEYTOITEM:
      return true;
    default:
      return false;
  }
}

// A copy of dialog template `id` with WS_EX_LAYOUTRTL set; false when there is no such template.
bool LoadMirroredTemplate(HINSTANCE instance, UINT id, std::vector<BYTE>& copy) {
  HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(id), RT_DIALOG);
  DWORD size = found ? SizeofResource(instance, found) : 0;
  const BYTE* bytes = found ? static_cast<const BYTE*>(LockResource(LoadResource(instance, found))) : nullptr;
  if (!bytes || size < sizeof(DLGTEMPLATE)) return false;
  copy.assign(bytes, bytes + size);
  // DLGTEMPLATEEX starts with version 1 and signature 0xFFFF, its extended style after the help id;
  // the older DLGTEMPLATE has it right after the style.
  DWORD* extendedStyle = nullptr;
  const WORD* words = reinterpret_cast<const WORD*>(bytes);
  if (size >= 12 && words[0] == 1 && words[1] == 0xFFFF) {
    extendedStyle = reinterpret_cast<DWORD*>(copy.data() + 8);
  } else {
    extendedStyle = reinterpret_cast<DWORD*>(copy.data() + 4);
  }
  *extendedStyle |= WS_EX_LAYOUTRTL;
  return true;
}

}  // namespace

INT_PTR CDialog::DoModal(HWND owner) {
  // A right-to-left language gets the window mirrored, as the system mirrors its own windows. The flag
  // goes into the template, not onto the finished window, so that every control is created mirrored.
  std::vector<BYTE> mirrored;
  if (IsRightToLeftUi() && LoadMirroredTemplate(instance, templateId, mirrored)) {
    return DialogBoxIndirectParamW(instance, reinterpret_cast<const DLGTEMPLATE*>(mirrored.data()), owner,
                                   DialogProc, reinterpret_cast<LPARAM>(this));
  }
  return DialogBoxParamW(instance, MAKEINTRESOURCEW(templateId), owner, DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  CDialog* self;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<CDialog*>(lParam);
    self->hwnd = window;
    SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
  } else {
    // Messages before WM_INITDIALOG (WM_SETFONT) arrive while no object is attached yet.
    self = reinterpret_cast<CDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    if (!self) return FALSE;
  }

  LRESULT result = 0;
  bool handled = false;
  try {
    handled = self->ProcessWindowMessage(message, wParam, lParam, result);
    // What a window procedure of ours below this one kept (a control's, reached through SendMessageW).
    ThrowKeptException();
  } catch (...) {
    self->Fail();
  }
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, DWLP_USER, 0);
    self->hwnd = nullptr;
    self->OnFinalMessage();
  }
  if (!handled) return FALSE;
  if (ReturnsResultDirectly(message)) return static_cast<INT_PTR>(result);
  SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
  return TRUE;
}

void CDialog::Fail() noexcept {
  if (!failing) {
    failing = true;
    try {
      OnUnexpectedFailure();
      return;
    } catch (...) {
    }
  }
  if (hwnd) ::EndDialog(hwnd, IDCANCEL);
}

bool CDialog::ReflectNotification(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  HWND child = nullptr;
  switch (message) {
    case WM_COMMAND:
      child = reinterpret_cast<HWND>(lParam);
      break;
    case WM_NOTIFY:
      child = reinterpret_cast<NMHDR*>(lParam)->hwndFrom;
      break;
    case WM_PARENTNOTIFY:
      if (LOWORD(wParam) == WM_CREATE || LOWORD(wParam) == WM_DESTROY) child = reinterpret_cast<HWND>(lParam);
      else child = GetDlgItem(hwnd, HIWORD(wParam));
      break;
    case WM_DRAWITEM:
      if (wParam) child = reinterpret_cast<DRAWITEMSTRUCT*>(lParam)->hwndItem;
      break;
    case WM_MEASUREITEM:
      if (wParam) child = GetDlgItem(hwnd, reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)->CtlID);
      break;
    case WM_COMPAREITEM:
      if (wParam) child = reinterpret_cast<COMPAREITEMSTRUCT*>(lParam)->hwndItem;
      break;
    case WM_DELETEITEM:
      if (wParam) child = reinterpret_cast<DELETEITEMSTRUCT*>(lParam)->hwndItem;
      break;
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_HSCROLL:
    case WM_VSCROLL:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
      child = reinterpret_cast<HWND>(lParam);
      break;
    default:
      return false;
  }
  if (!child || !IsWindow(child)) return false;
  result = SendMessageW(child, OCM__BASE + message, wParam, lParam);
  return true;
}

void CDialog::CenterWindow() {
  RECT window;
  GetWindowRect(hwnd, &window);
  RECT area;
  HWND owner = GetWindow(hwnd, GW_OWNER);
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof(monitor);
  if (owner && IsWindowVisible(owner) && !IsIconic(owner)) {
    GetWindowRect(owner, &area);
  } else if (GetMonitorInfoW(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &monitor)) {
    area = monitor.rcWork;
  } else {
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  }
  int width = window.right - window.left;
  int height = window.bottom - window.top;
  int left = area.left + (area.right - area.left - width) / 2;
  int top = area.top + (area.bottom - area.top - height) / 2;
  SetWindowPos(hwnd, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
