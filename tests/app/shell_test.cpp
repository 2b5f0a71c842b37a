#include <gtest/gtest.h>

#include <shlobj.h>

#include <atomic>
#include <thread>

#include "app/Shell.h"
#include "support/Handle.h"

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

// What ends a pumped wait: its handle, its time, a quit message or the caller's pump, and whether messages
// that other threads send are still answered once a quit message waits (an installer that broadcasts a
// change waits for that answer while we wait for it).
TEST(PumpedWait, EndsAsItsRulesSay) {
  // The system's own class for a window that only takes messages.
  HWND window = CreateWindowW(L"Message", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, window);
  struct Case {
    const char* name;
    bool quitQueued;
    AfterQuit afterQuit;
    DWORD signalAfterMs;  // INFINITE: never
    bool sends;           // another thread sends a message to our window meanwhile
    bool pumpStops;       // the caller's pump, given its turn every 30 ms, ends the wait
    WaitEnd expected;
  } cases[] = {
      {"signalled", false, AfterQuit::Stop, 50, true, false, WaitEnd::Signalled},
      {"time is up", false, AfterQuit::Stop, INFINITE, false, false, WaitEnd::TimedOut},
      {"quit queued ends it", true, AfterQuit::Stop, 50, false, false, WaitEnd::Stopped},
      {"quit queued, sent messages still answered", true, AfterQuit::AnswerSentMessages, 300, true, false,
       WaitEnd::Signalled},
      {"the caller's pump ends it without a message", false, AfterQuit::Stop, INFINITE, false, true,
       WaitEnd::Stopped},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (c.quitQueued) PostQuitMessage(3);
    std::atomic<bool> answered{false};
    std::thread other([&] {
      if (c.sends) {
        DWORD_PTR result = 0;
        answered = SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &result) != 0;
      }
      if (c.signalAfterMs != INFINITE) {
        Sleep(c.signalAfterMs);
        SetEvent(event.Get());
      }
    });
    PumpedWaitRules rules(c.afterQuit);
    int turns = 0;
    if (c.pumpStops) {
      rules.pump = [&] { return ++turns < 1; };
      rules.pumpEveryMs = 30;
    }
    const DWORD start = GetTickCount();
    EXPECT_EQ(c.expected, PumpedWait(event.Get(), 1000, rules));
    const DWORD spent = GetTickCount() - start;
    if (c.expected == WaitEnd::TimedOut) {
      EXPECT_GE(spent, 1000u);
    } else {
      EXPECT_LT(spent, 900u);
    }
    other.join();
    EXPECT_EQ(c.sends, answered.load());
    EXPECT_EQ(c.pumpStops ? 1 : 0, turns);
    MSG message;
    EXPECT_EQ(c.quitQueued, PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE);
  }
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
