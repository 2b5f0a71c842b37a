#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "app/Shell.h"
#include "support/AtExit.h"
#include "ui/Dialog.h"
#include "ui/Layout.h"
#include "ui/Painting.h"
#include "ui/TaskbarController.h"

namespace {

TEST(MoveControl, EachAnchorWithOddAndNegativeGrowth) {
  HWND dialog =
      CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 400, 300, nullptr, nullptr, nullptr, nullptr);
  HWND control = CreateWindowExW(0, L"BUTTON", L"", WS_CHILD, 100, 50, 40, 20, dialog,
                                 reinterpret_cast<HMENU>(42), nullptr, nullptr);
  ASSERT_NE(nullptr, control);
  struct Case {
    const char* name;
    int anchor, dx, dy;
    RECT expected;  // from 100, 50, 140, 70
  } cases[] = {
      {"right", AnchorRight, 7, 3, {107, 53, 147, 73}},
      {"right, shrinking", AnchorRight, -7, -3, {93, 47, 133, 67}},
      {"centre: half of an odd growth, truncated", AnchorCenter, 7, 1, {103, 51, 143, 71}},
      {"centre: truncated toward zero when shrinking", AnchorCenter, -7, -1, {97, 49, 137, 69}},
      {"stretch", AnchorStretch, 7, 5, {100, 55, 147, 75}},
      {"stretch, shrinking", AnchorStretch, -7, -5, {100, 45, 133, 65}},
      {"any other anchor stretches", 9, -3, 0, {100, 50, 137, 70}},
  };
  for (const Case& c : cases) {
    SetWindowPos(control, nullptr, 100, 50, 40, 20, SWP_NOZORDER | SWP_NOACTIVATE);
    MoveControl(dialog, 42, c.anchor, c.dx, c.dy);
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_TRUE(EqualRect(&c.expected, &r))
        << c.name << ": " << r.left << "," << r.top << "," << r.right << "," << r.bottom;
  }
  DestroyWindow(dialog);
}

// The texts a page paints, in the order it paints them, read back from a metafile recording.
int CALLBACK CollectText(HDC, HANDLETABLE*, const ENHMETARECORD* record, int, LPARAM data) {
  if (record->iType == EMR_EXTTEXTOUTW) {
    const auto* text = reinterpret_cast<const EMREXTTEXTOUTW*>(record);
    const auto* chars =
        reinterpret_cast<const wchar_t*>(reinterpret_cast<const BYTE*>(record) + text->emrtext.offString);
    if (text->emrtext.nChars)
      reinterpret_cast<std::vector<std::wstring>*>(data)->emplace_back(chars, text->emrtext.nChars);
  }
  return 1;
}

std::vector<std::wstring> PaintedTexts(int page) {
  ContentLayout layout;
  layout.contentRect = {0, 0, 660, 400};
  layout.stepTextTop = 120;
  layout.iconsTop = 180;
  CArtwork art;
  CBackdrop backdrop;
  HDC recording = CreateEnhMetaFileW(nullptr, nullptr, nullptr, nullptr);
  const RECT client = {0, 0, 660, 450};
  PaintContent(recording, client, backdrop, layout, art, page,
               static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)));
  HENHMETAFILE metafile = CloseEnhMetaFile(recording);
  std::vector<std::wstring> texts;
  EnumEnhMetaFile(nullptr, metafile, CollectText, &texts, nullptr);
  DeleteEnhMetaFile(metafile);
  return texts;
}

// Downloading is step 1 of 2 and setting up step 2 of 2, however many products there are.
TEST(PageTexts, TheStepCounterOfEachPage) {
  wchar_t exe[MAX_PATH];
  std::wstring folder(exe, GetModuleFileNameW(nullptr, exe, MAX_PATH));
  HMODULE program =
      LoadLibraryExW((folder.substr(0, folder.find_last_of(L"\\/")) + L"\\Installer.exe").c_str(), nullptr,
                     LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(nullptr, program);
  g_module.SetResourceInstance(program);
  struct Case {
    int page;
    std::vector<std::wstring> firstTexts;  // heading, step counter
  } cases[] = {
      {1, {L"Downloading Software", L"1 of 2"}},
      {2, {L"Downloading Software", L"1 of 2"}},
      {3, {L"Setting up Software", L"2 of 2"}},
      {4, {L"Setting up Software", L"2 of 2"}},
  };
  for (const Case& c : cases) {
    std::vector<std::wstring> texts = PaintedTexts(c.page);
    texts.resize(2);
    EXPECT_EQ(c.firstTexts, texts) << "page " << c.page;
  }
  g_module.SetResourceInstance(nullptr);
  FreeLibrary(program);
}

// A dialog whose painting throws, as painting can when memory runs out.
class CFailingDialog : public CDialog {
 public:
  CFailingDialog() : CDialog(GetModuleHandleW(nullptr), 100) {}
  int failures = 0;
  bool paintEnded = false;  // when the failure was first told
  HDC drawnInto = nullptr;
  HGDIOBJ bitmap = nullptr;

 protected:
  bool ProcessWindowMessage(UINT message, WPARAM, LPARAM, LRESULT& result) override {
    if (message != WM_PAINT) return false;
    CBufferedPaint paint(hwnd);
    drawnInto = paint.Dc();
    bitmap = GetCurrentObject(drawnInto, OBJ_BITMAP);
    result = 0;
    throw std::runtime_error("paint");
  }
  void OnUnexpectedFailure() override {
    if (failures == 0) paintEnded = !GetUpdateRect(hwnd, nullptr, FALSE);
    // As the failure box's own message loop does: the window is painted again, and fails again.
    if (++failures < 3) {
      InvalidateRect(hwnd, nullptr, FALSE);
      UpdateWindow(hwnd);
    }
    EndDialog(IDCANCEL);
  }
};

// The failure is told once however often it repeats while being told, and the paint's resources are
// released and the paint ended on the way out.
TEST(UnexpectedFailure, PaintingThatThrowsIsToldOnceAndLeaksNothing) {
  DWORD gdiBefore = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
  CFailingDialog dialog;
  EXPECT_EQ(IDCANCEL, dialog.DoModal(nullptr));
  EXPECT_EQ(1, dialog.failures);
  EXPECT_TRUE(dialog.paintEnded);
  ASSERT_NE(nullptr, dialog.drawnInto);
  EXPECT_EQ(0u, GetObjectType(dialog.drawnInto));
  EXPECT_EQ(0u, GetObjectType(dialog.bitmap));
  EXPECT_EQ(gdiBefore, GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS));
}

TEST(TaskbarProgress, OnlyFromWindows7AndHarmlessWithoutATaskbar) {
  struct Case {
    unsigned major, minor;
    bool available;
  } cases[] = {{5, 1, false}, {6, 0, false}, {6, 1, true}, {6, 2, true}, {10, 0, true}};
  for (const Case& c : cases)
    EXPECT_EQ(c.available, CTaskbarController::Available(c.major, c.minor)) << c.major << "." << c.minor;

  CTaskbarController* taskbar = CTaskbarController::Instance();
  ASSERT_FALSE(taskbar->HasTaskbar());
  EXPECT_EQ(E_NOINTERFACE, taskbar->SetProgressState(nullptr, TBPF_NORMAL));
  EXPECT_EQ(E_NOINTERFACE, taskbar->SetProgressValue(nullptr, 1, 2));
  RunAtExitCalls();
}

}  // namespace
