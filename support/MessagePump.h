// The program's one message pump: what keeps the window alive while a long step runs on its thread.
#pragma once

// Dispatches every message waiting in this thread's queue and returns when it is empty. No dialog-key
// processing: mouse input and commands (the cancel button) work during a long operation, Tab does not.
// False when a WM_QUIT came: it is put back for the loop that waits for it, and the caller should wind
// down what it is doing.
bool PumpMessages();
