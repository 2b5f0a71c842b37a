// A modal dialog whose procedure forwards to a virtual message map, so a dialog class is plain C++ with
// handlers as member functions.
#pragma once

#include <windows.h>

class CDialog {
 public:
  CDialog(HINSTANCE instance, UINT templateId) : instance(instance), templateId(templateId) {}
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;
  virtual ~CDialog() = default;

  // Runs the dialog from its template; the value given to EndDialog, or -1/0 when it could not be created.
  INT_PTR DoModal(HWND owner);
  HWND GetHwnd() const { return hwnd; }

 protected:
  // The message map. Returns true when the message was handled; result is then the message's result.
  virtual bool ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) = 0;
  // Called after the last message (WM_NCDESTROY); the window handle is already gone.
  virtual void OnFinalMessage() {}
  // A handler threw (or a boundary below it kept an exception, support/Boundary.h): the exception stops
  // here, since it must not unwind through the system's code that called the procedure. Called once per
  // dialog: a failure while it runs (its message box repaints the window, which may fail again) only ends
  // the dialog. The default ends the dialog; a dialog with something to say overrides it.
  virtual void OnUnexpectedFailure() { EndDialog(IDCANCEL); }

  // Sends a child control's notification back to the control as message + 0x2000 (the reflected
  // range), so a control class can handle its own notifications. True when there was a control to ask.
  bool ReflectNotification(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
  void EndDialog(INT_PTR result) { ::EndDialog(hwnd, result); }
  HWND Item(int id) const { return GetDlgItem(hwnd, id); }
  // Centres the window on its owner, or on the work area of the nearest monitor when it has none.
  void CenterWindow();

  HINSTANCE instance;
  HWND hwnd = nullptr;

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Fail() noexcept;
  UINT templateId;
  bool failing = false;  // OnUnexpectedFailure has been called
};
