// HTTP(S) GET of one URL into memory over WinInet, with progress and cancellation reported to an optional
// callback. The whole body lands in a CBuffer; the caller decides what it means. Load is synchronous for its
// caller, but the network work runs on a worker thread of its own, so the caller's thread keeps answering
// its messages however slow or silent the line is, and a cancel takes effect at once.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <memory>
#include <string>

#include "net/HttpRequest.h"
#include "net/WinInet.h"
#include "support/Buffer.h"
#include "support/Handle.h"

class CUrlLoader;

// Called on the thread that called Load. Order within one Load: OnBegin, then OnProgress/OnError as the
// transfer goes, then exactly one OnEnd: after the request handle is closed, or once the transfer is left
// to its worker, which closes it. Load pumps the thread's messages
// while it waits; an implementation may pump more inside these calls.
class IUrlLoaderCallback {
 public:
  virtual void OnBegin(CUrlLoader* loader, const wchar_t* url, DWORD flags) = 0;
  // received: body bytes held so far (never less than in the report before); contentLength: 0 when not
  // announced. Set *cancel to stop the transfer. Reported with 0 once the response is in (and with 0 every
  // 100 ms while it is awaited), then as data arrives (at most about every 30 ms), at least every 100 ms
  // while the line is silent, and at the end: the final total, repeated once when the body ended by itself
  // (the read that returns nothing).
  virtual void OnProgress(CUrlLoader* loader, DWORD received, DWORD contentLength, bool* cancel) = 0;
  // A platform call failed, fatally or not (a missing Content-Length is reported and the transfer goes on).
  virtual void OnError(CUrlLoader* loader, DWORD error) = 0;
  virtual void OnEnd(CUrlLoader* loader, bool cancelled) = 0;

 protected:
  ~IUrlLoaderCallback() = default;
};

class CUrlLoader {
 public:
  // Timeouts in seconds (0: a little longer than kSilenceLimitMs); maximumBytes 0: no cap.
  // relaxCertificateChecks accepts expired certificates and skips revocation; the program never turns it on.
  CUrlLoader(IUrlLoaderCallback* callback, const wchar_t* agent, DWORD connectTimeout = 0,
             DWORD sendTimeout = 0, DWORD receiveTimeout = 0, DWORD maximumBytes = 0,
             bool relaxCertificateChecks = false);
  CUrlLoader(const CUrlLoader&) = delete;
  CUrlLoader& operator=(const CUrlLoader&) = delete;

  // Fetches url into buffer (emptied first; a completed body takes over the buffer's storage). True when
  // the whole body arrived with a 2xx status, or for a 204 without a body. A non-2xx body is still read and
  // left in the buffer. headers: extra request headers or null; flags: INTERNET_FLAG_* of the request.
  // Fails with ERROR_INTERNET_TIMEOUT when nothing arrives for kSilenceLimitMs (connecting, the handshake,
  // the headers or the body), and with ERROR_CANCELLED when a WM_QUIT arrives: the thread's loop is ending.
  // A cancelled, timed-out or quit transfer is abandoned: its worker ends by itself and touches nothing
  // of the caller's, and the buffer is left empty unless KeepPartialBody asked for its bytes.
  bool Load(CBuffer& buffer, const wchar_t* url, const wchar_t* headers, DWORD flags);
  // Continues a body that broke off: buffer holds its first bytes, and validator (Validator() of the answer
  // they came from) makes sure the rest belongs to the same file. A 206 with that validator whose
  // Content-Range starts at the held count and runs to the file's end (total, when that is known), with a
  // Content-Length (if any) of that range, appends the rest; a 200 (the file has changed) brings the whole
  // file again, and its reports start from 0 again. A 416 that names the held count as the file's length
  // (bytes */N) means they are the whole file: true, the buffer as it was, the status 416. Any other status
  // fails and leaves the held bytes as they were; a 206 or 416 that does not fit fails with
  // ERROR_HTTP_INVALID_SERVER_RESPONSE and empties the buffer. A 206 to Load is invalid in the same way.
  // Reports count the held bytes, and contentLength in them is the whole file's.
  bool Resume(CBuffer& buffer, const wchar_t* url, const std::wstring& validator, DWORD total, DWORD flags);

  // How long a transfer may receive nothing before it fails.
  static const DWORD kSilenceLimitMs = 60000;
  // Tests shorten the limit; 0 restores kSilenceLimitMs.
  static void SetSilenceLimitForTesting(DWORD milliseconds);
  // The longest a Load may take in all, however steadily its bytes come; it then fails with
  // ERROR_INTERNET_TIMEOUT. 0: no limit (the default).
  void SetTimeLimit(DWORD milliseconds) { timeLimitMs = milliseconds; }
  // A proxy that asks for a name and password (407) is answered through the system's dialog for it, owned
  // by this window, on the calling thread; the request then goes again, at most kCredentialTries times.
  // Cancelled there, the load fails with ERROR_INTERNET_INCORRECT_PASSWORD. Without an owner (the default)
  // nobody is asked and the 407 is the answer; so it is when the system's proxy does not carry the URL.
  // What the proxy accepted is given to later loads of the run without asking, until the proxy refuses it
  // (that offer counts as one of the tries).
  void SetCredentialOwner(HWND owner) { credentialOwner = owner; }
  // Forgets what the proxy accepted: the next 407 asks the user.
  static void ForgetProxyCredentials();
  static const int kCredentialTries = CHttpRequest::kCredentialTries;
  // Whether an abandoned transfer leaves what it had in the buffer: what the reports told of after a
  // cancel, what had arrived after a failure (a caller that resumes wants them). Off by default, which
  // spares copying a large body nobody uses.
  void KeepPartialBody(bool keep) { keepPartialBody = keep; }

  // Sets a cookie for url; false (with OnError) when the platform refuses it.
  bool SetCookie(const wchar_t* url, const wchar_t* name, const wchar_t* value);
  // Sets the connect, send or receive timeout (INTERNET_OPTION_*_TIMEOUT) in seconds for the loads that
  // start from now on, as the constructor's arguments do (0: this loader's own, a little longer than
  // kSilenceLimitMs). False for any other option.
  bool SetTimeoutOption(DWORD option, DWORD seconds);

  DWORD LastError() const { return lastError; }
  // Known from the answer's headers on (0 before them), so a callback can tell an error page from the file.
  DWORD StatusCode() const { return statusCode; }
  const std::wstring& StatusText() const { return statusText; }
  DWORD ContentLength() const { return contentLength; }
  DWORD BytesReceived() const { return bytesReceived; }
  // Of the last answer, known once its headers were in (even when the body then failed): its strong ETag,
  // else its Last-Modified, else empty (a weak ETag cannot vouch for bytes); its Retry-After in seconds
  // (MAXDWORD when it gave none, or a date).
  const std::wstring& Validator() const { return validator; }
  DWORD RetryAfterSeconds() const { return retryAfterSeconds; }

 private:
  class CFollower;
  // Every transfer has a session of its own, so giving up on one can close it without touching another.
  CUniqueT<InternetHandleTraits> OpenSession();
  bool Start(CBuffer& buffer, const wchar_t* url, const wchar_t* headers, DWORD flags, const std::wstring& ifRange,
             DWORD total);
  // Runs the request on a worker and follows it to its end; throws what the worker threw.
  bool Transfer(CBuffer& buffer, const HttpRequestParams& params, bool& cancel);
  HttpRequestParams Params(const wchar_t* url, const wchar_t* headers, DWORD flags, const std::wstring& ifRange,
                           DWORD total) const;
  void Fail(DWORD error);
  // The proxy the session's settings send requests through, for the log: "none", or its host and port.
  void NoteProxy(HINTERNET session, const wchar_t* url);
  // One line for the run's log at the end of a transfer.
  void LogTransfer(const wchar_t* url, DWORD held, bool result, bool cancelled) const;

  IUrlLoaderCallback* callback;
  const WinInetApi* api;  // null when WinInet cannot be loaded: every Load then fails at its start
  std::wstring agent;
  DWORD bytesReceived = 0;
  DWORD contentLength = 0;
  DWORD maximumBytes;
  DWORD lastError = 0;
  DWORD statusCode = 0;
  std::wstring statusText;
  std::wstring validator;
  DWORD retryAfterSeconds = MAXDWORD;
  bool secure = false;     // the last answer came over TLS
  std::wstring proxy;      // as NoteProxy found it
  std::wstring endedBy;    // the limit that ended the last transfer, when one did
  DWORD timeLimitMs = 0;
  HWND credentialOwner = nullptr;
  bool keepPartialBody = false;
  DWORD connectTimeout;
  DWORD sendTimeout;
  DWORD receiveTimeout;
  bool relaxCertificateChecks;
};

// The WinInet error's symbolic name ("INTERNET_TIMEOUT" for 12002), or its decimal number when unknown.
std::wstring InternetErrorName(DWORD code);
