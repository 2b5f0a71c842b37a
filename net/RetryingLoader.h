// A download that survives a bad line: CUrlLoader's load, tried again after a failure that may pass (a
// dropped or refused connection, a silent line, a busy server), resumed from the bytes already held when
// the server can vouch that the rest belongs to the same file. To its callback the tries are one load.
#pragma once

#include <windows.h>

#include <string>

#include "net/UrlLoader.h"
#include "support/Buffer.h"

// Waits between tries. False when the wait was cut short: the user cancelled or the window is closing.
class IRetryWait {
 public:
  virtual bool Wait(DWORD milliseconds) = 0;

 protected:
  ~IRetryWait() = default;
};

class CRetryingLoader : private IUrlLoaderCallback {
 public:
  // callback may be null (nobody is shown the progress); wait null: the thread's messages are pumped while
  // it waits, and a quit message ends the wait.
  CRetryingLoader(IUrlLoaderCallback* callback, const wchar_t* agent, IRetryWait* wait = nullptr,
                  DWORD maximumBytes = 0);
  CRetryingLoader(const CRetryingLoader&) = delete;
  CRetryingLoader& operator=(const CRetryingLoader&) = delete;

  // CUrlLoader::Load, up to kTries times. The callback sees one OnBegin and one OnEnd around all the tries;
  // progress counts on from the bytes held, and goes back (once) only when a try must start from zero.
  // The body in the buffer is always the whole file from its first byte, never two versions spliced.
  bool Load(CBuffer& buffer, const wchar_t* url, DWORD flags);
  // The longest all the tries and waits of a Load may take together (0: no limit); past it the load fails
  // with ERROR_INTERNET_TIMEOUT.
  void SetTimeLimit(DWORD milliseconds) { timeLimitMs = milliseconds; }
  // See CUrlLoader::SetCredentialOwner.
  void SetCredentialOwner(HWND owner) { loader.SetCredentialOwner(owner); }

  // Of the last try.
  // ERROR_CANCELLED when a wait between tries was cut short.
  DWORD LastError() const { return waitCut ? static_cast<DWORD>(ERROR_CANCELLED) : loader.LastError(); }
  DWORD StatusCode() const { return loader.StatusCode(); }
  int Tries() const { return tries; }

  static const int kTries = 4;
  // Before the second, third and fourth try; a Retry-After of at most kLongestRetryAfterMs replaces it.
  static const DWORD kWaitsMs[kTries - 1];
  static const DWORD kLongestRetryAfterMs = 30000;
  // Whether a load that failed with this error and status may succeed when tried again.
  static bool MayPass(DWORD error, DWORD status);

 private:
  void OnBegin(CUrlLoader* loader, const wchar_t* url, DWORD flags) override;
  void OnProgress(CUrlLoader* loader, DWORD received, DWORD contentLength, bool* cancel) override;
  void OnError(CUrlLoader* loader, DWORD error) override;
  void OnEnd(CUrlLoader* loader, bool cancelled) override;
  bool WaitBeforeTry(DWORD milliseconds);

  IUrlLoaderCallback* callback;
  IRetryWait* wait;
  CUrlLoader loader;
  int tries = 0;
  DWORD timeLimitMs = 0;
  bool cancelled = false;  // the callback cancelled a try
  bool waitCut = false;
  DWORD shownReceived = 0, shownTotal = 0;  // the progress last passed on from an answer carrying the file
};
