#include "install/CorvaneDlg.h"

#include <commctrl.h>
#include <richedit.h>
#include <shellapi.h>

#include "app/Shell.h"
#include "app/StringIds.h"
#include "support/Log.h"
#include "ui/Accessible.h"
#include "ui/Layout.h"
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
      if (id == IdAgreementBox) {
        // With BS_NOTIFY a quick second click arrives as a double click; it toggles the box all the same.
        if (code == BN_CLICKED || code == BN_DOUBLECLICKED) OnAgreeClicked();
        // The box draws no text of its own: the sentence it belongs to shows its focus.
        if (code == BN_SETFOCUS || code == BN_KILLFOCUS) liteText.SetTextCue(code == BN_SETFOCUS);
        return true;
      }
      if (id == IdStart) {
        // The agreement comes first: any program can send this command, also while the button is disabled
        // (Wine's BM_CLICK clicks a disabled button), and Enter may send it on behalf of the default button.
        if (IsDlgButtonChecked(hwnd, IdAgreementBox) != BST_CHECKED || !IsWindowEnabled(Item(IdStart))) return true;
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
    case WM_GETOBJECT:
      if (static_cast<LONG>(static_cast<DWORD>(lParam)) != OBJID_CLIENT) break;
      result = AnswerGetObject(wParam);
      return result != 0;
    default:
      break;
  }
  return ReflectNotification(message, wParam, lParam, result);
}

LRESULT CCorvaneDlg::AnswerGetObject(WPARAM wParam) {
  RECT client;
  GetClientRect(hwnd, &client);
  int page = session.GetPage();
  // Made afresh for every request, so it always tells the page as it is now.
  CComOwnerT<IAccessible> object(CreateWindowAccessible(
      hwnd, DescribeWindow(hwnd, PaintedLabels(client, layout, art, page, Font()), &liteText, page)));
  return AccessibleResult(object.Get(), wParam);
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
  // It sits on the controls' band, so it takes the band's colour rather than a white box.
  liteText.SetBackgroundColor(GetSysColor(COLOR_BTNFACE));
  ShowAgreement(hwnd, liteText);
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
  // Room for the focus rectangle that frames the sentence while the box has the focus: drawn on the
  // sentence's last glyph it would hide a full stop.
  needed.right += CLiteText::kCueRoom;
  ::OnRequestResize(hwnd, needed);
}

bool CCorvaneDlg::OnLinkClicked(CLiteText*, const std::wstring& href) { return session.OnLinkClicked(href); }

void CCorvaneDlg::OnAgreeClicked() {
  bool agreed = IsDlgButtonChecked(hwnd, IdAgreementBox) == BST_CHECKED;
  EnableWindow(Item(IdStart), agreed);
}

namespace {

std::wstring ButtonName(int button) {
  switch (button) {
    case IDOK: return L"OK";
    case IDYES: return L"Yes";
    case IDNO: return L"No";
    case IDCANCEL: return L"Cancel";
    case 0: return L"none, the box could not be shown: error " + std::to_wstring(GetLastError());
    default: return std::to_wstring(button);
  }
}

}  // namespace

int CCorvaneDlg::ShowMessage(const std::wstring& text, UINT type, bool ownerless) {
  LogInfo(L"Message box shown: \"" + text + L"\"");
  // A box without owner (the cancel question) would fall behind the window at the first click on it.
  int answer = MessageBoxW(ownerless ? nullptr : hwnd, text.c_str(), LoadResString(kCaption).c_str(),
                           ownerless ? type | MB_TOPMOST : type);
  LogInfo(L"Message box answered: " + ButtonName(answer));
  return answer;
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
  ShowPageControls(hwnd, page);
  // A progress bar has no text: it is named after the product it counts for.
  std::wstring product = PageProductName(page);
  if (!product.empty()) AnnotateName(progressBar, product);
  AnnouncePage(hwnd);
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
