#include "ui/Painting.h"

#include <vector>

#include "app/Shell.h"
#include "app/StringIds.h"
#include "support/Handle.h"
#include "support/SystemLibrary.h"

namespace {

const wchar_t kProductName[] = L"Pagewing Quillora Edition";
const wchar_t kPartnerLabel[] = L"Pagewing\nManager";

// Drawing constants, pixels.
const int kIconGap = 52;        // between the two icons of pages 2 and 4
const int kLabelGap = 14;       // between an icon and its label
const int kLabelGrowth = 15;
const int kCheckTop = 100;      // page 5
const int kCheckTextGap = 10;
const int kDoneGrowth = 25;
const int kStepHeadingTop = 68;

struct MemoryDcTraits {
  using Type = HDC;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type dc) noexcept { ::DeleteDC(dc); }
};

// -1: the system decides.
int g_highContrastForTesting = -1;

// msimg32.dll from the system directory on first use.
using GradientFillFn = BOOL(WINAPI*)(HDC, PTRIVERTEX, ULONG, PVOID, ULONG, ULONG);
GradientFillFn GradientFillFunction() {
  static const auto fill = SystemProc<GradientFillFn>(L"msimg32.dll", "GradientFill");
  return fill;
}

TRIVERTEX Vertex(LONG x, LONG y, COLORREF colour) {
  TRIVERTEX v;
  v.x = x;
  v.y = y;
  v.Red = static_cast<COLOR16>(GetRValue(colour) << 8);
  v.Green = static_cast<COLOR16>(GetGValue(colour) << 8);
  v.Blue = static_cast<COLOR16>(GetBValue(colour) << 8);
  v.Alpha = 0;
  return v;
}

int CentredX(int width, int imageWidth) { return (width - imageWidth) / 2; }

// Draws a page's texts, and tells whoever asks what it drew where.
struct LabelPainter {
  HDC dc;
  HFONT font;
  bool rightToLeft;
  std::vector<PaintedLabel>* labels;

  void Draw(const std::wstring& text, bool singleLine, bool italic, int growth, RECT& r) const {
    if (labels) {
      RECT extent = r;
      if (DrawLabel(dc, font, text, singleLine, italic, growth, extent, true, rightToLeft)) {
        // Measuring keeps the left edge; the drawing centres the text in r (around its x when r is empty).
        int width = extent.right - extent.left;
        int left = r.left + (r.right - r.left - width) / 2;
        labels->push_back({text, {left, extent.top, left + width, extent.bottom}});
      }
    }
    DrawLabel(dc, font, text, singleLine, italic, growth, r, false, rightToLeft);
  }
};

// Pages 1 and 2 download, step 1 of 2; pages 3 and 4 set up, step 2 of 2; however many products there are.
std::wstring StepHeading(int page) {
  return LoadResString(page <= 2 ? kDownloading : kSettingUp);
}
std::wstring StepText(int page) {
  return FormatResString(kStepOf, page <= 2 ? L"1" : L"2", L"2");
}

void DrawStepHeader(const LabelPainter& painter, RECT& r, const ContentLayout& layout, int page) {
  r.top = kStepHeadingTop;
  painter.Draw(StepHeading(page), true, false, 30, r);
  r.top = layout.stepTextTop;
  painter.Draw(StepText(page), true, true, 5, r);
  r.top = layout.iconsTop;
}

// Pages 2 and 4: the finished main product's check mark beside the partner's arrow, first in reading order.
void DrawTwoIcons(const LabelPainter& painter, RECT& r, int width, const ContentLayout& layout, CArtwork& art,
                  CImage& arrow) {
  HDC dc = painter.dc;
  int checkX = width / 2 - kIconGap / 2 - art.check.Width();
  int arrowX = width / 2 + kIconGap / 2;
  if (layout.rightToLeft) {
    // Where a mirrored window would put them; the pictures themselves stay as drawn.
    checkX = width - checkX - art.check.Width();
    arrowX = width - arrowX - arrow.Width();
  }
  DrawImage(dc, checkX, r.top, art.check);
  DrawImage(dc, arrowX, r.top, arrow);
  r.top += arrow.Height() + kLabelGap;
  RECT check = {checkX + art.check.Width() / 2, r.top, checkX + art.check.Width() / 2, r.bottom};
  painter.Draw(LoadResString(kProductLabel), true, false, kLabelGrowth, check);
  RECT partner = {arrowX + arrow.Width() / 2, r.top, arrowX + arrow.Width() / 2, r.bottom};
  painter.Draw(kPartnerLabel, false, false, kLabelGrowth, partner);
}

}  // namespace

void CArtwork::Load() {
  LoadImageResource(background, L"Install_Background.png", true);
  LoadImageResource(logo, L"Install_Logomark.png", true);
}

void CArtwork::LoadLaterPages() {
  if (laterPagesLoaded) return;
  laterPagesLoaded = true;
  LoadImageResource(downloadArrow, L"Download_Arrow.png", true);
  LoadImageResource(installArrow, L"Install_Arrow.png", true);
  LoadImageResource(check, L"Install_Check.png", true);
}

bool CBackdrop::Create(HWND window, const RECT& content, CImage& background) {
  Release();
  int width = content.right - content.left, height = content.bottom - content.top;
  HDC screen = GetDC(window);
  if (!screen) return false;
  dc = CreateCompatibleDC(screen);
  bitmap = dc ? CreateCompatibleBitmap(screen, width, height) : nullptr;
  ReleaseDC(window, screen);
  if (!bitmap) {
    Release();
    return false;
  }
  previous = SelectObject(dc, bitmap);
  // The upper part is the taller one when the height is odd.
  int split = height - height / 2;
  GradientFillRect(dc, {0, 0, width, split}, kGradientTop, kGradientMiddle);
  GradientFillRect(dc, {0, split, width, height}, kGradientMiddle, kGradientBottom);
  if (!background.IsNull()) DrawImage(dc, 0, 0, background);
  return true;
}

void CBackdrop::Release() {
  if (dc && previous) SelectObject(dc, previous);
  if (bitmap) DeleteObject(bitmap);
  if (dc) DeleteDC(dc);
  dc = nullptr;
  bitmap = nullptr;
  previous = nullptr;
}

CBufferedPaint::CBufferedPaint(HWND window) : window(window) {
  GetClientRect(window, &client);
  screen = BeginPaint(window, &paint);
  SetLayout(screen, 0);
  buffer = CreateCompatibleDC(screen);
  bitmap = buffer ? CreateCompatibleBitmap(screen, client.right, client.bottom) : nullptr;
  if (bitmap) {
    previous = SelectObject(buffer, bitmap);
  } else if (buffer) {
    DeleteDC(buffer);
    buffer = nullptr;
  }
}

// Also on the way out of a paint that threw: the off-screen bitmap and context are freed, and the paint is
// ended, or the window would be asked to paint the same area again at once, and fail again, for ever.
CBufferedPaint::~CBufferedPaint() {
  if (buffer) {
    SelectObject(buffer, previous);
    DeleteObject(bitmap);
    DeleteDC(buffer);
  }
  EndPaint(window, &paint);
}

void CBufferedPaint::Present() {
  if (buffer) BitBlt(screen, 0, 0, client.right, client.bottom, buffer, 0, 0, SRCCOPY);
}

bool DrawLabel(HDC dc, HFONT font, const std::wstring& text, bool singleLine, bool italic, int growth,
               RECT& r, bool measure, bool rightToLeft) {
  LOGFONTW description = {};
  if (!font || !GetObjectW(font, sizeof(description), &description)) return false;
  description.lfItalic = italic ? TRUE : FALSE;
  // Heights of 0 or less are character heights, positive ones cell heights: grow away from zero either way.
  description.lfHeight = description.lfHeight <= 0 ? description.lfHeight - growth : description.lfHeight + growth;
  HFONT made = CreateFontIndirectW(&description);
  if (!made) return false;
  HGDIOBJ old = SelectObject(dc, made);
  UINT format = DT_NOPREFIX | DT_CENTER | (singleLine ? DT_SINGLELINE : 0) |
                (measure ? DT_CALCRECT : DT_NOCLIP) | (rightToLeft ? DT_RTLREADING : 0);
  int height = DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, format);
  SelectObject(dc, old);
  DeleteObject(made);
  return height != 0;
}

bool GradientFillRect(HDC dc, const RECT& r, COLORREF top, COLORREF bottom) {
  GradientFillFn fill = GradientFillFunction();
  if (!fill) return false;
  TRIVERTEX vertices[2] = {Vertex(r.left, r.top, top), Vertex(r.right, r.bottom, bottom)};
  GRADIENT_RECT rect = {0, 1};
  return fill(dc, vertices, 2, &rect, 1, GRADIENT_FILL_RECT_V) != FALSE;
}

bool AlphaComposite(HDC destination, int dx, int dy, int dw, int dh, HDC source, int sx, int sy, int sw, int sh) {
  if (dw <= 0 || dh <= 0) return false;
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = dw;
  info.bmiHeader.biHeight = dh;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* sourceBits = nullptr;
  void* destinationBits = nullptr;
  HBITMAP s = CreateDIBSection(destination, &info, DIB_RGB_COLORS, &sourceBits, nullptr, 0);
  HBITMAP d = CreateDIBSection(destination, &info, DIB_RGB_COLORS, &destinationBits, nullptr, 0);
  HDC memory = CreateCompatibleDC(destination);
  bool ok = s && d && memory;
  if (ok) {
    HGDIOBJ old = SelectObject(memory, s);
    ok = StretchBlt(memory, 0, 0, dw, dh, source, sx, sy, sw, sh, SRCCOPY) != FALSE;
    SelectObject(memory, d);
    ok = ok && BitBlt(memory, 0, 0, dw, dh, destination, dx, dy, SRCCOPY) != FALSE;
    GdiFlush();
    if (ok) {
      BYTE* sp = static_cast<BYTE*>(sourceBits);
      const BYTE* dp = static_cast<const BYTE*>(destinationBits);
      for (size_t i = 0, n = static_cast<size_t>(dw) * dh; i < n; ++i, sp += 4, dp += 4) {
        unsigned a = sp[3];
        // Divided by 256, not 255: cheap, and one level darker at most.
        for (int c = 0; c < 3; ++c) sp[c] = static_cast<BYTE>((sp[c] * a + dp[c] * (255 - a)) >> 8);
      }
      SelectObject(memory, s);
      ok = BitBlt(destination, dx, dy, dw, dh, memory, 0, 0, SRCCOPY) != FALSE;
    }
    SelectObject(memory, old);
  }
  if (memory) DeleteDC(memory);
  if (s) DeleteObject(s);
  if (d) DeleteObject(d);
  return ok;
}

void DrawImage(HDC dc, int x, int y, CImage& image) {
  if (image.IsNull()) return;
  if (image.BitsPerPixel() != 32) {
    image.Draw(dc, x, y);
    return;
  }
  HDC source = image.GetDC();
  if (source) AlphaComposite(dc, x, y, image.Width(), image.Height(), source, 0, 0, image.Width(), image.Height());
  image.ReleaseDC();
}

bool HighContrast() {
  if (g_highContrastForTesting >= 0) return g_highContrastForTesting != 0;
  HIGHCONTRASTW mode = {};
  mode.cbSize = sizeof(mode);
  return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(mode), &mode, 0) &&
         (mode.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

void SetHighContrastForTesting(int on) { g_highContrastForTesting = on; }

void DrawFocusCue(HDC dc, const RECT& r) {
  if (!HighContrast()) {
    DrawFocusRect(dc, &r);
    return;
  }
  // The dotted cue inverts what lies below it, which in the high-contrast colours may be no colour of theirs.
  FrameRect(dc, &r, GetSysColorBrush(COLOR_BTNTEXT));
}

std::wstring PageProductName(int page) {
  if (page == 1 || page == 3) return LoadResString(kProductLabel);
  if (page != 2 && page != 4) return std::wstring();
  std::wstring name = kPartnerLabel;
  for (wchar_t& c : name) {
    if (c == L'\n') c = L' ';
  }
  return name;
}

std::wstring PageWords(int page) {
  switch (page) {
    case 0:
      return LoadResString(kWelcomeTo) + L"\n" + kProductName;
    case 1:
    case 2:
    case 3:
    case 4:
      return StepHeading(page) + L"\n" + StepText(page) + L"\n" + PageProductName(page);
    case 5:
      return LoadResString(kAllSet);
    default:
      return std::wstring();
  }
}

std::vector<PaintedLabel> PaintedLabels(const RECT& client, const ContentLayout& layout, CArtwork& art, int page,
                                        HFONT font) {
  std::vector<PaintedLabel> labels;
  // A memory context holds a one-pixel bitmap: the pictures cost a blend of their size, nothing is shown.
  CUniqueT<MemoryDcTraits> dc(CreateCompatibleDC(nullptr));
  CBackdrop none;
  if (dc) PaintContent(dc.Get(), client, none, layout, art, page, font, &labels);
  return labels;
}

void PaintContent(HDC dc, const RECT& client, const CBackdrop& backdrop, const ContentLayout& layout,
                  CArtwork& art, int page, HFONT font, std::vector<PaintedLabel>* labels) {
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &client, L"", 0, nullptr);
  const RECT& content = layout.contentRect;
  const int width = content.right - content.left;
  if (backdrop.Exists())
    BitBlt(dc, content.left, content.top, width, content.bottom - content.top, backdrop.Dc(), 0, 0, SRCCOPY);
  if (HighContrast()) {
    // White over the artwork is no longer what the user chose to read: each text gets the system's
    // window colours, on a background of its own.
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, GetSysColor(COLOR_WINDOW));
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
  } else {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kTextColour);
  }

  RECT r = content;
  const LabelPainter painter = {dc, font, layout.rightToLeft, labels};
  if (page != 0) art.LoadLaterPages();
  switch (page) {
    case 0:
      DrawImage(dc, CentredX(width, art.logo.Width()), 0, art.logo);
      r.top = layout.welcomeTop;
      painter.Draw(LoadResString(kWelcomeTo), true, true, 20, r);
      r.top = layout.productTop;
      painter.Draw(kProductName, true, false, 30, r);
      r.top = layout.descriptionTop;
      painter.Draw(LoadResString(kDescription), false, false, 5, r);
      break;
    case 1:
    case 3: {
      DrawStepHeader(painter, r, layout, page);
      CImage& arrow = page == 1 ? art.downloadArrow : art.installArrow;
      DrawImage(dc, CentredX(width, arrow.Width()), r.top, arrow);
      r.top += arrow.Height() + kLabelGap;
      painter.Draw(LoadResString(kProductLabel), false, false, kLabelGrowth, r);
      break;
    }
    case 2:
    case 4:
      DrawStepHeader(painter, r, layout, page);
      DrawTwoIcons(painter, r, width, layout, art, page == 2 ? art.downloadArrow : art.installArrow);
      break;
    case 5:
      r.top += kCheckTop;
      DrawImage(dc, CentredX(width, art.check.Width()), r.top, art.check);
      r.top += art.check.Height() + kCheckTextGap;
      painter.Draw(LoadResString(kAllSet), false, false, kDoneGrowth, r);
      break;
    default:
      break;
  }
}
