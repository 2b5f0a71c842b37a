// The main window and the owner of the install session.
#pragma once

#include "ui/Dialog.h"

// The pages of the session, in the order a full install shows them.
enum Page : int {
  PageWelcome = 0,
  PageDownloadQuillora = 1,
  PageDownloadPagewing = 2,
  PageSetupQuillora = 3,
  PageSetupPagewing = 4,
  PageDone = 5,
};

// Control ids of dialog 6100.
enum ControlId : int {
  IdStart = IDOK,
  IdCancel = IDCANCEL,
  IdAgreementText = 9000,
  IdLaunch = 9001,
  IdAgreementBox = 9002,
  IdProgressBar = 9100,
};

constexpr UINT kMainDialogTemplate = 6100;
constexpr UINT kIconId = 100;
// Not localised: it is how people and tools find the window.
constexpr wchar_t kWindowTitle[] = L"Pagewing Quillora Edition";

class CCorvaneDlg : public CDialog {
 public:
  explicit CCorvaneDlg(HINSTANCE instance);

  // Stores the page and shows the controls that belong to it: the agreement group and the start button
  // on the welcome page only, the launch button on the last page only. The progress bar belongs to the
  // workflow, which shows it while a download runs.
  void SetPage(int page);
  int GetPage() const { return page; }

 protected:
  bool ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  bool OnInitDialog();
  void OnAgreeClicked();
  void OnCancel(int id);

  HWND progressBar = nullptr;
  int page = PageWelcome;
};
