/* The reference for the start-up benchmark: the least a Win32 program does to show a dialog of the
 * installer's size class from a template. No artwork, no common controls, no rich edit, nothing loaded
 * at start beyond what the system brings. It ends when its dialog closes. */
#include <windows.h>

static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  (void)lParam;
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) EndDialog(dialog, LOWORD(wParam));
      return TRUE;
    case WM_CLOSE:
      EndDialog(dialog, IDCANCEL);
      return TRUE;
    default:
      return FALSE;
  }
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show) {
  (void)previous;
  (void)commandLine;
  (void)show;
  return (int)DialogBoxParamW(instance, MAKEINTRESOURCEW(100), NULL, DialogProc, 0);
}
