#include "ui/Layout.h"

#include <richedit.h>

#include <string>

#include "ui/LiteText.h"
#include "xml/XmlDocument.h"

#include "app/Shell.h"
#include "app/StringIds.h"
#include "support/Log.h"

namespace {

const int kLogoMargin = 85;
const int kWelcomeGap = 2;
const int kProductGap = 5;
const int kDescriptionGap = 22;
const int kSpaceBelow = 62;
const int kStepHeadingTop = 68;
const int kStepTextGap = 14;
const int kIconsGap = 45;

const int kAgreementTextId = 9000;
const int kLaunchId = 9001;
const int kAgreementBoxId = 9002;
const int kProgressBarId = 9100;

RECT ClientRectOf(HWND dialog, HWND control) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

int Measure(HDC dc, HFONT font, const std::wstring& text, bool singleLine, bool italic, int growth, int width,
            int top) {
  RECT r = {0, top, width, top};
  // Reading order moves characters along a line, never between lines: it cannot change a height.
  DrawLabel(dc, font, text, singleLine, italic, growth, r, true, false);
  return r.bottom - r.top;
}

}  // namespace

void MoveControl(HWND dialog, int id, int anchor, int dx, int dy) {
  HWND control = GetDlgItem(dialog, id);
  if (!control) return;
  RECT r = ClientRectOf(dialog, control);
  int width = r.right - r.left, height = r.bottom - r.top;
  int left = r.left;
  switch (anchor) {
    case AnchorRight: left += dx; break;
    case AnchorCenter: left += dx / 2; break;
    default: width += dx; break;
  }
  SetWindowPos(control, nullptr, left, r.top + dy, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void LayoutWindow(HWND dialog, HFONT font, CArtwork& art, ContentLayout& layout, CBackdrop& backdrop) {
  if (backdrop.Exists()) return;
  RECT client, window;
  GetClientRect(dialog, &client);
  GetWindowRect(dialog, &window);
  RECT button = ClientRectOf(dialog, GetDlgItem(dialog, IDOK));
  // Below the content: the button's distance from the bottom, and its bottom margin once more.
  int band = (client.bottom - button.top) + (client.bottom - button.bottom);

  layout.rightToLeft = IsRightToLeftUi();
  const int logoWidth = art.logo.Width();
  const int width = logoWidth + 2 * kLogoMargin;
  int height = art.logo.Height();
  HDC dc = GetDC(dialog);
  layout.welcomeTop = height + kWelcomeGap;
  height += Measure(dc, font, LoadResString(kWelcomeTo), true, true, 20, logoWidth, height) + kWelcomeGap;
  layout.productTop = height + kProductGap;
  height += Measure(dc, font, L"Pagewing Quillora Edition", true, false, 30, logoWidth, height) + kProductGap;
  layout.descriptionTop = height + kDescriptionGap;
  height += Measure(dc, font, LoadResString(kDescription), false, false, 5, logoWidth, height) + kDescriptionGap;
  layout.stepTextTop = Measure(dc, font, LoadResString(kSettingUp), true, false, 30, width, height) + kStepTextGap +
                       kStepHeadingTop;
  layout.iconsTop = layout.stepTextTop + Measure(dc, font, LoadResString(kStepOf), true, true, 5, width, height) +
                    kIconsGap;
  height += kSpaceBelow;
  ReleaseDC(dialog, dc);
  layout.contentRect = {0, 0, width, height};

  // The frame keeps its size: the client area becomes W x (H + band).
  int frameWidth = (window.right - window.left) - (client.right - client.left);
  int frameHeight = (window.bottom - window.top) - (client.bottom - client.top);
  SetWindowPos(dialog, nullptr, 0, 0, width + frameWidth, height + band + frameHeight,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT resized;
  GetWindowRect(dialog, &resized);
  int dx = (resized.right - resized.left) - (window.right - window.left);
  int dy = (resized.bottom - resized.top) - (window.bottom - window.top);
  if (dx || dy) {
    MoveControl(dialog, IDOK, AnchorRight, dx, dy);
    MoveControl(dialog, kLaunchId, AnchorRight, dx, dy);
    MoveControl(dialog, kAgreementBoxId, AnchorCenter, dx, dy);
    MoveControl(dialog, kAgreementTextId, AnchorCenter, dx, dy);
    MoveControl(dialog, kProgressBarId, AnchorStretch, dx, dy);
  }
  // Without a backdrop the content is painted without its background; nothing else depends on it.
  backdrop.Create(dialog, layout.contentRect, art.background);
}

bool DecideAgreementResize(const RECT& text, int requestedWidth, const RECT& checkBox, const RECT& startButton,
                           int clientWidth, int& shift) {
  int width = text.right - text.left;
  if (width >= requestedWidth) return false;  // it never shrinks
  int limit = startButton.left - (clientWidth - startButton.right);
  shift = (requestedWidth - width) / 2;
  if (text.left + requestedWidth - shift > limit) shift = text.left + requestedWidth - limit;
  if (checkBox.left - shift < 0) shift = checkBox.left;
  return shift != 0;
}

void OnRequestResize(HWND dialog, const RECT& requested) {
  HWND text = GetDlgItem(dialog, kAgreementTextId);
  HWND box = GetDlgItem(dialog, kAgreementBoxId);
  HWND start = GetDlgItem(dialog, IDOK);
  if (!text || !box || !start) return;
  RECT t = ClientRectOf(dialog, text), k = ClientRectOf(dialog, box), b = ClientRectOf(dialog, start), client;
  GetClientRect(dialog, &client);
  int requestedWidth = requested.right - requested.left;
  int shift = 0;
  if (!DecideAgreementResize(t, requestedWidth, k, b, client.right, shift)) return;
  SetWindowPos(text, nullptr, t.left - shift, t.top, requestedWidth, t.bottom - t.top, SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(text, nullptr, TRUE);
  SetWindowPos(box, nullptr, k.left - shift, k.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(box, nullptr, TRUE);
}

namespace {

std::wstring TextOf(HWND window) {
  int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(window, &text[0], length + 1)));
  return text;
}

}  // namespace

bool ShowAgreement(HWND dialog, CLiteText& text) {
  HWND control = GetDlgItem(dialog, kAgreementTextId);
  HWND box = GetDlgItem(dialog, kAgreementBoxId);
  if (!control || !text.Attach(control)) return false;
  // The template holds the sentence as mark-up; a text that does not parse leaves the control empty.
  std::wstring markup = TextOf(control);
  CXMLDocument document;
  if (!document.LoadFromString(markup.c_str(), static_cast<uint32_t>(markup.size()), 0, nullptr) ||
      !document.GetRoot()) {
    SetWindowTextW(control, L"");
    SetWindowTextW(box, L"");
    return false;
  }
  text.SetContent(document.GetRoot());
  SetWindowTextW(box, TextOf(control).c_str());
  // Ask for the size the sentence needs now: a translation longer than the template's box widens it.
  SendMessageW(control, EM_REQUESTRESIZE, 0, 0);
  return true;
}

void ShowPageControls(HWND dialog, int page) {
  LogInfo(L"Page " + std::to_wstring(page) + L" shown");
  int welcome = page == 0 ? SW_SHOW : SW_HIDE;
  ShowWindow(GetDlgItem(dialog, kAgreementBoxId), welcome);
  ShowWindow(GetDlgItem(dialog, kAgreementTextId), welcome);
  ShowWindow(GetDlgItem(dialog, IDOK), welcome);
  HWND launch = GetDlgItem(dialog, kLaunchId);
  ShowWindow(launch, page == 5 ? SW_SHOW : SW_HIDE);
  HWND focus = GetFocus();
  // The style, not IsWindowVisible: the window itself is still hidden while it initialises.
  bool focusShown = focus && IsChild(dialog, focus) && IsWindowEnabled(focus) &&
                    (GetWindowLongPtrW(focus, GWL_STYLE) & WS_VISIBLE);
  if (page == 5) {
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(launch), TRUE);
  } else if (page == 0 && !focusShown) {
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, kAgreementBoxId)), TRUE);
  }
}
