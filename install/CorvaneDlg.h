// The main window and the owner of the install session.
#pragma once

#include "install/Session.h"
#include "ui/Dialog.h"
#include "ui/LiteText.h"
#include "ui/Painting.h"

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

class CCorvaneDlg : public CDialog, private ISessionWindow, private ILiteTextCallback {
 public:
  explicit CCorvaneDlg(HINSTANCE instance);

 protected:
  bool ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  bool OnInitDialog();
  void OnAgreeClicked();
  void OnPaint(HDC given);
  void OnUnexpectedFailure() override;
  void OnStart();
  HFONT Font() const { return reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0)); }

  // The session's window. The agreement group and the start button belong to the welcome page only, the
  // launch button to the last page only; the progress bar is the workflow's to show while it downloads.
  int ShowMessage(const std::wstring& text, UINT type, bool ownerless) override;
  void SetPage(int page) override;
  void ShowProgress(bool visible) override;
  void SetProgress(DWORD range, DWORD position) override;
  void EnableStart(bool enabled) override;
  void Close(int result) override;
  void BringMessageToFront() override;
  void SendToBack() override;
  void OpenWebPage(const std::wstring& url) override;
  void Pump() override;
  HWND Handle() const override { return hwnd; }

  // The agreement text: its size requests widen it within the layout, its links open the terms pages.
  void OnCreate(CLiteText*) override {}
  void OnDestroy(CLiteText*) override {}
  void OnRequestResize(CLiteText* control, const RECT& requested) override;
  bool OnLinkClicked(CLiteText* control, const std::wstring& href) override;
  void ShowAgreementText();
  // WM_GETOBJECT for the client area: the page's texts and controls as one accessible object.
  LRESULT AnswerGetObject(WPARAM wParam);

  CInstallSession session{*this};
  CLiteText liteText{this};
  HWND progressBar = nullptr;
  bool working = false;  // the start button's workflow is running
  bool taskbarCreated = false;
  CArtwork art;
  ContentLayout layout;
  CBackdrop backdrop;
};
