#include "install/CorvaneDlg.h"

#include <commctrl.h>

CCorvaneDlg::CCorvaneDlg(HINSTANCE instance) : CDialog(instance, kMainDialogTemplate) {}

bool CCorvaneDlg::ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (message) {
    case WM_INITDIALOG:
      result = OnInitDialog();
      return true;
    case WM_COMMAND: {
      int id = LOWORD(wParam);
      int code = HIWORD(wParam);
      if (id == IdAgreementBox && code == BN_CLICKED) {
        OnAgreeClicked();
        return true;
      }
      if (id == IdCancel) {
        OnCancel(id);
        return true;
      }
      break;
    }
    default:
      break;
  }
  return ReflectNotification(message, wParam, lParam, result);
}

bool CCorvaneDlg::OnInitDialog() {
  // Both sizes from the one icon resource, so the caption and Alt+Tab each get a sharp image.
  SendMessageW(hwnd, WM_SETICON, ICON_BIG,
               reinterpret_cast<LPARAM>(LoadImageW(instance, MAKEINTRESOURCEW(kIconId), IMAGE_ICON,
                                                   GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON),
                                                   LR_SHARED)));
  SendMessageW(hwnd, WM_SETICON, ICON_SMALL,
               reinterpret_cast<LPARAM>(LoadImageW(instance, MAKEINTRESOURCEW(kIconId), IMAGE_ICON,
                                                   GetSystemMetrics(SM_CXSMICON),
                                                   GetSystemMetrics(SM_CYSMICON), LR_SHARED)));
  SetWindowTextW(hwnd, kWindowTitle);

  progressBar = Item(IdProgressBar);
  ShowWindow(progressBar, SW_HIDE);

  // Nothing starts before the user has agreed to the terms.
  EnableWindow(Item(IdStart), FALSE);
  HWND agreementBox = Item(IdAgreementBox);
  SetFocus(agreementBox);
  InvalidateRect(agreementBox, nullptr, TRUE);

  SetPage(PageWelcome);
  CenterWindow();
  return false;  // the focus was set explicitly
}

void CCorvaneDlg::OnAgreeClicked() {
  bool agreed = IsDlgButtonChecked(hwnd, IdAgreementBox) == BST_CHECKED;
  EnableWindow(Item(IdStart), agreed);
}

void CCorvaneDlg::OnCancel(int id) {
  switch (page) {
    case PageWelcome:
    case PageDone:
      EndDialog(id);
      break;
    default:
      // The download and set-up pages answer the cancel request with the running workflow.
      break;
  }
}

void CCorvaneDlg::SetPage(int newPage) {
  page = newPage;
  InvalidateRect(hwnd, nullptr, TRUE);
  int welcome = page == PageWelcome ? SW_SHOW : SW_HIDE;
  ShowWindow(Item(IdAgreementBox), welcome);
  ShowWindow(Item(IdAgreementText), welcome);
  ShowWindow(Item(IdStart), welcome);
  ShowWindow(Item(IdLaunch), page == PageDone ? SW_SHOW : SW_HIDE);
}
