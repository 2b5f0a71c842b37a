#include "support/MessagePump.h"

bool PumpMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // Not ours to consume: put it back for the modal loop that is waiting for it, and stop.
      PostQuitMessage(static_cast<int>(message.wParam));
      return false;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return true;
}

bool QuitQueued() {
  MSG message;
  return PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != FALSE;
}

namespace {

// What is left of timeoutMs since start; 0 when it has passed.
DWORD Left(DWORD start, DWORD timeoutMs) {
  if (timeoutMs == INFINITE) return INFINITE;
  DWORD spent = GetTickCount() - start;
  return spent < timeoutMs ? timeoutMs - spent : 0;
}

}  // namespace

WaitEnd PumpedWait(HANDLE handle, DWORD timeoutMs, const PumpedWaitRules& rules) {
  const DWORD start = GetTickCount();
  const DWORD count = handle ? 1 : 0;
  bool sentOnly = false;
  if (rules.afterQuit == AfterQuit::Stop && QuitQueued()) return WaitEnd::Stopped;
  for (;;) {
    DWORD wait = Left(start, timeoutMs);
    if (wait == 0) return WaitEnd::TimedOut;
    const bool slice = !sentOnly && rules.pumpEveryMs < wait;
    if (slice) wait = rules.pumpEveryMs;
    // Input that arrived before the wait but was only looked at also wakes it; not once the quit message,
    // which stays queued, would make every wait return at once.
    DWORD woke = MsgWaitForMultipleObjectsEx(count, &handle, wait, sentOnly ? QS_SENDMESSAGE : QS_ALLINPUT,
                                             sentOnly ? 0 : MWMO_INPUTAVAILABLE);
    if (count && woke == WAIT_OBJECT_0) return WaitEnd::Signalled;
    if (woke == WAIT_TIMEOUT && !slice) continue;  // the time is up: said at the top
    if (woke != WAIT_OBJECT_0 + count && woke != WAIT_TIMEOUT) return WaitEnd::Failed;
    if (sentOnly) {
      // Answers the messages sent to us without taking anything from the queue.
      MSG message;
      PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
      continue;
    }
    if (rules.pump ? rules.pump() : PumpMessages()) continue;
    if (rules.afterQuit == AfterQuit::Stop) return WaitEnd::Stopped;
    sentOnly = true;
  }
}
