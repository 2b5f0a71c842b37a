// The program's one message pump, and the one way its thread waits while a long step runs: whatever it
// waits for (a worker's news, an installer's end, the time between tries), its window keeps answering.
#pragma once

#include <windows.h>

#include <functional>

// Dispatches every message waiting in this thread's queue and returns when it is empty. No dialog-key
// processing: mouse input and commands (the cancel button) work during a long operation, Tab does not.
// False when a WM_QUIT came: it is put back for the loop that waits for it, and the caller should wind
// down what it is doing.
bool PumpMessages();

// True when a WM_QUIT waits in this thread's queue; it stays there.
bool QuitQueued();

enum class WaitEnd { Signalled, TimedOut, Stopped, Failed };

// What a quit message (or a pump that answers false) does to a wait.
enum class AfterQuit {
  // The wait ends (Stopped): the window is closing, nothing should wait for the network any more.
  Stop,
  // The wait goes on, answering from then on only the messages that other threads and processes send: a
  // program that announces a change to every window waits for our answer while we wait for it. (The quit
  // message stays queued for the modal loop and would wake every wider wait at once.)
  AnswerSentMessages,
};

struct PumpedWaitRules {
  PumpedWaitRules(AfterQuit afterQuit = AfterQuit::Stop) : afterQuit(afterQuit) {}  // NOLINT: {rule} reads well

  AfterQuit afterQuit;
  // Handles the messages that came; false when the wait should stop. Empty: PumpMessages.
  std::function<bool()> pump;
  // Runs the pump at least this often, messages or not: a pump that stands for more than the queue (a
  // session's window, through which the user acts) gets its turn. INFINITE: only when messages come.
  DWORD pumpEveryMs = INFINITE;
};

// Waits until `handle` (null: none) is signalled or timeoutMs (INFINITE: no limit) has passed, handling
// the messages that come meanwhile as the rules say. A quit message already queued ends an AfterQuit::Stop
// wait before it starts. Failed: the system could not wait (the handle is no longer valid).
WaitEnd PumpedWait(HANDLE handle, DWORD timeoutMs, const PumpedWaitRules& rules = PumpedWaitRules());
