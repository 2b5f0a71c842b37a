#include <gtest/gtest.h>

#include <shlobj.h>

#include "app/Shell.h"

namespace {

struct PumpWindow {
  static int dispatched;
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP) ++dispatched;
    return DefWindowProcW(window, message, wParam, lParam);
  }
};
int PumpWindow::dispatched = 0;

TEST(PumpMessages, DispatchesEverythingWaitingAndLeavesQuitForTheModalLoop) {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = PumpWindow::Proc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"PumpTestWindow";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowW(L"PumpTestWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              windowClass.hInstance, nullptr);
  ASSERT_NE(nullptr, window);

  PumpWindow::dispatched = 0;
  EXPECT_TRUE(PumpMessages());  // an empty queue returns at once
  for (int i = 0; i < 3; ++i) PostMessageW(window, WM_APP, 0, 0);
  EXPECT_TRUE(PumpMessages());
  EXPECT_EQ(3, PumpWindow::dispatched);

  PostQuitMessage(7);
  PostMessageW(window, WM_APP, 0, 0);
  EXPECT_FALSE(PumpMessages());
  EXPECT_EQ(4, PumpWindow::dispatched);
  MSG message;
  ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(static_cast<UINT>(WM_QUIT), message.message);
  EXPECT_EQ(7u, message.wParam);
  DestroyWindow(window);
}

TEST(IsUserAdmin, AgreesWithTheShellOnEveryVersionBranch) {
  unsigned savedMajor = g_osMajor;
  for (unsigned major : {5u, 6u, 10u}) {
    g_osMajor = major;
    EXPECT_EQ(IsUserAnAdmin() != FALSE, IsUserAdmin()) << "major " << major;
  }
  g_osMajor = savedMajor;
}

}  // namespace
