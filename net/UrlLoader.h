// Synchronous HTTP(S) GET of one URL into memory over WinInet, with progress and cancellation reported to
// an optional callback. The whole body lands in a CBuffer; the caller decides what it means.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>

#include "support/Buffer.h"
#include "net/WinInet.h"
#include "support/Handle.h"

class CUrlLoader;

// Called on the loader's thread. Order within one Load: OnBegin, then OnProgress/OnError as the transfer
// goes, then exactly one OnEnd after the request handle is closed. A window that must stay alive pumps
// its messages inside these calls.
class IUrlLoaderCallback {
 public:
  virtual void OnBegin(CUrlLoader* loader, const wchar_t* url, DWORD flags) = 0;
  // received: body bytes so far, including the latest read; contentLength: 0 when not announced. Set
  // *cancel to stop the transfer. Reported once with 0 before the first read, then after every read,
  // including the final one that returns nothing.
  virtual void OnProgress(CUrlLoader* loader, DWORD received, DWORD contentLength, bool* cancel) = 0;
  // A platform call failed, fatally or not (a missing Content-Length is reported and the transfer goes on).
  virtual void OnError(CUrlLoader* loader, DWORD error) = 0;
  virtual void OnEnd(CUrlLoader* loader, bool cancelled) = 0;

 protected:
  ~IUrlLoaderCallback() = default;
};

struct InternetHandleTraits {
  using Type = HINTERNET;
  static Type Invalid() noexcept { return nullptr; }
  // A handle exists only when WinInet was loaded.
  static void Close(Type h) noexcept { WinInet()->InternetCloseHandle(h); }
};

class CUrlLoader {
 public:
  // Timeouts in seconds (0: the platform's default); maximumBytes 0: no cap. relaxCertificateChecks
  // accepts expired certificates and skips revocation; the program never turns it on.
  CUrlLoader(IUrlLoaderCallback* callback, const wchar_t* agent, DWORD connectTimeout = 0,
             DWORD sendTimeout = 0, DWORD receiveTimeout = 0, DWORD maximumBytes = 0,
             bool relaxCertificateChecks = false);
  CUrlLoader(const CUrlLoader&) = delete;
  CUrlLoader& operator=(const CUrlLoader&) = delete;

  // Fetches url into buffer (emptied first, storage kept). True when the whole body arrived with a 2xx
  // status, or for a 204 without a body. A non-2xx body is still read and left in the buffer. headers:
  // extra request headers or null; flags: INTERNET_FLAG_* of the request.
  bool Load(CBuffer& buffer, const wchar_t* url, const wchar_t* headers, DWORD flags);

  // Sets a cookie for url; false (with OnError) when the platform refuses it.
  bool SetCookie(const wchar_t* url, const wchar_t* name, const wchar_t* value);
  // Sets an option given in seconds (as milliseconds) on the Internet handle; false before the first Load.
  bool SetTimeoutOption(DWORD option, DWORD seconds);

  DWORD LastError() const { return lastError; }
  DWORD StatusCode() const { return statusCode; }
  const std::wstring& StatusText() const { return statusText; }
  DWORD ContentLength() const { return contentLength; }
  DWORD BytesReceived() const { return bytesReceived; }

 private:
  bool OpenInternet();
  // Steps from opening the URL to the status; the caller closes the request and reports the end.
  bool Transfer(CUniqueT<InternetHandleTraits>& request, CBuffer& buffer, const wchar_t* url,
                const wchar_t* headers, DWORD flags, bool& cancel);
  bool ReadStatus(HINTERNET request);
  void Fail(DWORD error);

  IUrlLoaderCallback* callback;
  const WinInetApi* api;  // null when WinInet cannot be loaded: every Load then fails at its start
  std::wstring agent;
  CUniqueT<InternetHandleTraits> internet;
  DWORD bytesReceived = 0;
  DWORD contentLength = 0;
  DWORD maximumBytes;
  DWORD lastError = 0;
  DWORD statusCode = 0;
  std::wstring statusText;
  DWORD connectTimeout;
  DWORD sendTimeout;
  DWORD receiveTimeout;
  bool relaxCertificateChecks;
};

// The WinInet error's symbolic name ("INTERNET_TIMEOUT" for 12002), or its decimal number when unknown.
std::wstring InternetErrorName(DWORD code);
