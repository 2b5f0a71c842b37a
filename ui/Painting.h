// Painting of the main window's content area: the green backdrop with its artwork, the page's pictures
// and its large white texts. Composed off-screen and copied in one step, so nothing flickers.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "ui/Image.h"

// The five pictures of the window.
struct CArtwork {
  CImage background;
  CImage logo;
  CImage downloadArrow;
  CImage installArrow;
  CImage check;

  // From the resources, each replaceable by a file of the same name beside the program. The welcome page
  // needs only the background and the logo, so the first frame waits for nothing else; the pictures of
  // the later pages are decoded when a later page is first painted.
  void Load();
  void LoadLaterPages();

 private:
  bool laterPagesLoaded = false;
};

// Where the texts and pictures go, in client pixels: computed once by the layout.
struct ContentLayout {
  RECT contentRect = {0, 0, 0, 0};
  int welcomeTop = 0;
  int productTop = 0;
  int descriptionTop = 0;
  int stepTextTop = 0;
  int iconsTop = 0;
  // The texts read right to left and pictures that stand in a row follow that order; the artwork itself
  // is never mirrored.
  bool rightToLeft = false;
};

// The rendered backdrop: a memory context holding a W x H bitmap, painted once.
class CBackdrop {
 public:
  CBackdrop() = default;
  CBackdrop(const CBackdrop&) = delete;
  CBackdrop& operator=(const CBackdrop&) = delete;
  ~CBackdrop() { Release(); }

  // Makes and paints the backdrop; false (and no backdrop) when GDI could not make it.
  bool Create(HWND window, const RECT& content, CImage& background);
  void Release();
  HDC Dc() const { return dc; }
  bool Exists() const { return dc != nullptr; }

 private:
  HDC dc = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ previous = nullptr;
};

// One WM_PAINT of a window, composed off-screen in its client size and copied by Present in one step, so
// nothing flickers. The screen's DC is unmirrored: the content is composed as it is meant to be seen.
class CBufferedPaint {
 public:
  explicit CBufferedPaint(HWND window);
  CBufferedPaint(const CBufferedPaint&) = delete;
  CBufferedPaint& operator=(const CBufferedPaint&) = delete;
  ~CBufferedPaint();

  // Where to draw: the off-screen bitmap, or the screen itself when there was no memory for one.
  HDC Dc() const { return buffer ? buffer : screen; }
  const RECT& Client() const { return client; }
  // Puts what was drawn on the screen.
  void Present();

 private:
  HWND window;
  PAINTSTRUCT paint = {};
  RECT client = {0, 0, 0, 0};
  HDC screen = nullptr;
  HDC buffer = nullptr;
  HBITMAP bitmap = nullptr;
  HGDIOBJ previous = nullptr;
};

// Gradient colours of the content area and the colour of every painted text.
constexpr COLORREF kGradientTop = RGB(46, 139, 22);
constexpr COLORREF kGradientMiddle = RGB(96, 183, 52);
constexpr COLORREF kGradientBottom = RGB(28, 106, 16);
constexpr COLORREF kTextColour = RGB(255, 255, 255);

// A text the window paints and where it stands, in client pixels.
struct PaintedLabel {
  std::wstring text;
  RECT rect;
};

// Whether painted texts and focus cues take the system's colours: the system's high-contrast mode is on,
// or a test said so. SetHighContrastForTesting(-1) asks the system again.
bool HighContrast();
void SetHighContrastForTesting(int on);
// A focus rectangle: the system's dotted one, in high contrast a solid frame in the button text colour.
void DrawFocusCue(HDC dc, const RECT& r);
// The product a page of pages 1 to 4 is about, as one line: the one being downloaded or installed.
std::wstring PageProductName(int page);
// What a page says, one line each, as a screen reader should hear it when the page comes: the welcome and
// the product, the step's heading, counter and product, or the congratulation.
std::wstring PageWords(int page);

// Draws (or with measure, only measures: r becomes the text's extent) one text centred in r, in the font
// `font` made `growth` pixels taller and italic or upright, in right-to-left reading order when asked.
// Multi-line texts break only at their line feeds.
bool DrawLabel(HDC dc, HFONT font, const std::wstring& text, bool singleLine, bool italic, int growth,
               RECT& r, bool measure, bool rightToLeft);
// The texts PaintContent draws for a page and where, without drawing anything anyone sees.
std::vector<PaintedLabel> PaintedLabels(const RECT& client, const ContentLayout& layout, CArtwork& art, int page,
                                        HFONT font);
// Vertical two-colour gradient over r: `top` on its top edge, `bottom` on its bottom edge.
bool GradientFillRect(HDC dc, const RECT& r, COLORREF top, COLORREF bottom);
// Blends a 32-bit source with straight per-pixel alpha onto the destination, stretched to its size:
// each channel becomes (S x a + D x (255 - a)) >> 8.
bool AlphaComposite(HDC destination, int dx, int dy, int dw, int dh, HDC source, int sx, int sy, int sw, int sh);
// The image at its own size: 32-bit images blended, others copied.
void DrawImage(HDC dc, int x, int y, CImage& image);
// The whole client area for a page, drawn unmirrored: a mirrored window's DC must have its layout reset
// first, or the artwork would come out mirrored. labels, when given, receives each text as it is drawn.
void PaintContent(HDC dc, const RECT& client, const CBackdrop& backdrop, const ContentLayout& layout,
                  CArtwork& art, int page, HFONT font, std::vector<PaintedLabel>* labels = nullptr);
