#include <gtest/gtest.h>

#include "support/AtExit.h"
#include "ui/TaskbarController.h"

namespace {

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
