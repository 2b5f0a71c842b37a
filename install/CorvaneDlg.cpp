#include "install/CorvaneDlg.h"

#include <commctrl.h>
#include <richedit.h>
#include <shellapi.h>

#include "app/Shell.h"
#include "app/StringIds.h"
#include "ui/Layout.h"
#include "xml/XmlDocument.h"
#include "ui/TaskbarController.h"

CCorvaneDlg::CCorvaneDlg(HINSTANCE instance) : CDialog(instance, kMainDialogTemplate) {}

bool CCorvaneDlg::ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (message) {
    case WM_INITDIALOG:
      result = OnInitDialog();
      return true;
    case WM_ERASEBKGND:
      // Painting covers the whole window; erasing first would only flicker.
      result = 1;
      return true;
    case WM_PAINT:
      OnPaint(reinterpret_cast<HDC>(wParam));
      result = 0;
      return true;
    case WM_COMMAND: {
      int id = LOWORD(wParam);
      int code = HIWORD(wParam);
      if (id == IdAgreementBox && code == BN_CLICKED) {
        OnAgreeClicked();
        return true;
      }
      if (id == IdStart) {
        working = true;
        OnStart();
        working = false;
        return true;
      }
      if (id == IdCancel) {
        session.OnCancel();
        return true;
      }
      if (id == IdLaunch) {
        session.OnLaunch();
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
  art.Load();
  SetWindowTextW(hwnd, kWindowTitle);
  LayoutWindow(hwnd, Font(), art, layout, backdrop);
  ShowAgreementText();

  progressBar = Item(IdProgressBar);
  ShowWindow(progressBar, SW_HIDE);

  // Nothing starts before the user has agreed to the terms.
  EnableWindow(Item(IdStart), FALSE);
  HWND agreementBox = Item(IdAgreementBox);
  SetFocus(agreementBox);
  InvalidateRect(agreementBox, nullptr, TRUE);

  session.SetPage(PageWelcome);
  CenterWindow();
  return false;  // the focus was set explicitly
}

void CCorvaneDlg::OnPaint(HDC given) {
  RECT client;
  GetClientRect(hwnd, &client);
  // A mirrored window's DCs are mirrored too; the content is composed unmirrored (its artwork must not be)
  // and copied as it is.
  if (given) {
    // The context is the caller's: its layout is given back however the painting ends.
    struct CLayoutRestorer {
      HDC dc;
      DWORD layout;
      ~CLayoutRestorer() {
        if (layout != GDI_ERROR) SetLayout(dc, layout);
      }
    } restore{given, SetLayout(given, 0)};
    PaintContent(given, client, backdrop, layout, art, session.GetPage(), Font());
    return;
  }
  // Composed off-screen and copied in one step: no flicker while downloads repaint the window.
  CBufferedPaint paint(hwnd);
  PaintContent(paint.Dc(), paint.Client(), backdrop, layout, art, session.GetPage(), Font());
  paint.Present();
}

void CCorvaneDlg::OnStart() {
  // The taskbar button shows download progress from Windows 7 on. Made when the downloads are about to
  // start, not before the first frame, nor right after it: work done just after a paint holds back its
  // showing too, since the platform may put the frame on the screen only once the window waits again.
  if (!taskbarCreated && CTaskbarController::Available(g_osMajor, g_osMinor)) {
    CTaskbarController::Instance()->Create();
    taskbarCreated = true;
  }
  session.OnStart();
}

void CCorvaneDlg::ShowAgreementText() {
  HWND text = Item(IdAgreementText);
  // It sits on the controls' band, so it takes the band's colour rather than a white box.
  liteText.SetBackgroundColor(GetSysColor(COLOR_BTNFACE));
  if (!text || !liteText.Attach(text)) return;
  // The template holds the sentence as mark-up; a text that does not parse leaves the control empty.
  int length = GetWindowTextLengthW(text);
  std::wstring markup(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
  markup.resize(static_cast<size_t>(GetWindowTextW(text, &markup[0], length + 1)));
  CXMLDocument document;
  if (!document.LoadFromString(markup.c_str(), static_cast<uint32_t>(markup.size()), 0, nullptr) ||
      !document.GetRoot()) {
    SetWindowTextW(text, L"");
    return;
  }
  liteText.SetContent(document.GetRoot());
  // Ask for the size the sentence needs now: a translation longer than the template's box widens it.
  SendMessageW(text, EM_REQUESTRESIZE, 0, 0);
}

void CCorvaneDlg::OnRequestResize(CLiteText* control, const RECT& requested) {
  // The request measures the text; the control also needs its formatting insets around it (Wine's rich
  // edit leaves them out, and the sentence's last characters would be clipped).
  RECT client = {}, format = {};
  RECT needed = requested;
  if (GetClientRect(control->GetHwnd(), &client) &&
      SendMessageW(control->GetHwnd(), EM_GETRECT, 0, reinterpret_cast<LPARAM>(&format)) >= 0) {
    LONG insets = (client.right - client.left) - (format.right - format.left);
    if (insets > 0) needed.right += insets;
  }
  ::OnRequestResize(hwnd, needed);
}

bool CCorvaneDlg::OnLinkClicked(CLiteText*, const std::wstring& href) { return session.OnLinkClicked(href); }

void CCorvaneDlg::OnAgreeClicked() {
  bool agreed = IsDlgButtonChecked(hwnd, IdAgreementBox) == BST_CHECKED;
  EnableWindow(Item(IdStart), agreed);
}

int CCorvaneDlg::ShowMessage(const std::wstring& text, UINT type, bool ownerless) {
  // A box without owner (the cancel question) would fall behind the window at the first click on it.
  return MessageBoxW(ownerless ? nullptr : hwnd, text.c_str(), LoadResString(kCaption).c_str(),
                     ownerless ? type | MB_TOPMOST : type);
}

namespace {

struct BoxSearch {
  HWND dialog;
  HWND box;
};

// The first visible dialog-class window of the thread other than the main one: the open message box.
BOOL CALLBACK FindMessageBox(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<BoxSearch*>(data);
  wchar_t name[16] = {};
  GetClassNameW(window, name, 16);
  if (window == search->dialog || !IsWindowVisible(window) || lstrcmpW(name, L"#32770") != 0) return TRUE;
  search->box = window;
  return FALSE;
}

}  // namespace

void CCorvaneDlg::BringMessageToFront() {
  BoxSearch search = {hwnd, nullptr};
  EnumThreadWindows(GetCurrentThreadId(), FindMessageBox, reinterpret_cast<LPARAM>(&search));
  if (search.box) SetForegroundWindow(search.box);
}

void CCorvaneDlg::OnUnexpectedFailure() {
  // Nothing more can be trusted to go right: say so once and end; the at-exit drain still deletes the
  // installers that were written.
  ShowMessage(LoadResString(kUnknownFailure), MB_OK | MB_ICONERROR, false);
  Close(IDCANCEL);
}

void CCorvaneDlg::SetPage(int page) {
  InvalidateRect(hwnd, nullptr, TRUE);
  int welcome = page == PageWelcome ? SW_SHOW : SW_HIDE;
  ShowWindow(Item(IdAgreementBox), welcome);
  ShowWindow(Item(IdAgreementText), welcome);
  ShowWindow(Item(IdStart), welcome);
  ShowWindow(Item(IdLaunch), page == PageDone ? SW_SHOW : SW_HIDE);
}

void CCorvaneDlg::Close(int result) {
  EndDialog(result);
  // The modal loop ends only once the workflow returns to it; the quit message makes a request that is
  // waiting on the network give up now, so a closed window never waits for a slow server.
  if (working) PostQuitMessage(0);
}

void CCorvaneDlg::ShowProgress(bool visible) { ShowWindow(progressBar, visible ? SW_SHOW : SW_HIDE); }

void CCorvaneDlg::SetProgress(DWORD range, DWORD position) {
  SendMessageW(progressBar, PBM_SETRANGE32, 0, static_cast<LPARAM>(range));
  SendMessageW(progressBar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void CCorvaneDlg::EnableStart(bool enabled) {
  // Back on the welcome page the box keeps its state: agreed once, the button is ready at once.
  EnableWindow(Item(IdStart), enabled && IsDlgButtonChecked(hwnd, IdAgreementBox) == BST_CHECKED);
}

void CCorvaneDlg::SendToBack() { SetWindowPos(hwnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE); }

void CCorvaneDlg::OpenWebPage(const std::wstring& url) {
  ShellExecuteW(nullptr, nullptr, url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void CCorvaneDlg::Pump() { PumpMessages(); }
