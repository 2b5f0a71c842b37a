// One HTTP(S) GET over WinInet, step by step and synchronous: open the URL, answer a proxy that asks for a
// password, read what the answer says of itself, check that a resumed range continues the held bytes,
// reserve room for the body and read it into a sink. It knows nothing of threads: the loader runs it on a
// worker and hands it the two sides it talks to, which carry its reports and its body across.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <string>
#include <vector>

#include "net/WinInet.h"
#include "support/Handle.h"

struct InternetHandleTraits {
  using Type = HINTERNET;
  static Type Invalid() noexcept { return nullptr; }
  // A handle exists only when WinInet was loaded.
  static void Close(Type h) noexcept { WinInet()->InternetCloseHandle(h); }
};

// What an answer says of itself. Known from its headers on but for the status text, which is read once the
// body is in (or at once, when no body follows).
struct HttpAnswer {
  DWORD status = 0;
  std::wstring statusText;
  // The whole file's length, a resumed one's held bytes included; 0 when not announced.
  DWORD contentLength = 0;
  // Its strong ETag, else its Last-Modified, else empty (a weak ETag cannot vouch for bytes).
  std::wstring validator;
  // MAXDWORD when it gave none, or a date.
  DWORD retryAfterSeconds = MAXDWORD;
  // It came over TLS (after any redirect), for the run's log.
  bool secure = false;
};

// Where the body goes: read pieces are appended; nothing before Held changes.
class IBodySink {
 public:
  virtual DWORD Held() = 0;
  // Forgets the held bytes: the answer brings the whole file again.
  virtual void Restart() = 0;
  // Room for `bytes` more past what is held, in one allocation when it can be had.
  virtual bool Reserve(DWORD bytes) = 0;
  // Address space for a body of unknown size, memory as it grows; false when none that large is free.
  virtual bool ReserveAddressSpace(DWORD bytes) = 0;
  // False when the buffer cannot grow that far, or nobody wants more.
  virtual bool Append(const uint8_t* bytes, DWORD count) = 0;

 protected:
  ~IBodySink() = default;
};

// Who hears how the request goes, and may have given up on it.
class IRequestObserver {
 public:
  // The session to open the URL in; null when the request has been given up before it could start.
  virtual HINTERNET BeginOpen() = 0;
  // After the open: false when the session was closed meanwhile, and with it whatever the open made (the
  // number returned may already name somebody else's handle).
  virtual bool EndOpen() = 0;
  virtual bool Abandoned() = 0;
  // A platform call failed, fatally or not.
  virtual void Failed(DWORD error) = 0;
  // The answer's headers are in; the body follows.
  virtual void Answered(const HttpAnswer& answer) = 0;
  // The proxy wants a name and password for this request: the user's answer to the system's dialog, or
  // false when nobody will answer (the request has been given up).
  virtual bool AskProxyCredentials(HINTERNET request, DWORD& answer) = 0;
  // The line spoke (a request sent again).
  virtual void Active() = 0;
  // The body ended by itself (complete), or the cap cut it.
  virtual void BodyEnded(bool complete) = 0;

 protected:
  ~IRequestObserver() = default;
};

struct HttpRequestParams {
  std::wstring url;
  // With extra request headers the request goes through the ANSI entry point, the URL with them in the
  // same code page: the caller's thread's, so both are converted there (ToAnsi).
  bool ansi = false;
  std::string ansiUrl;
  std::string ansiHeaders;
  DWORD flags = 0;
  DWORD maximumBytes = 0;  // 0: no cap
  bool relaxCertificateChecks = false;
  DWORD receiveTimeoutMs = 0;
  // Resuming (ifRange not empty): the sink holds the file's first bytes and the headers ask for the rest, if
  // the file still has the validator ifRange; resumeTotal is the whole file's length when known, else 0.
  std::wstring ifRange;
  DWORD resumeTotal = 0;
  bool Resuming() const { return !ifRange.empty(); }
  // Whether a proxy's 407 is answered through the observer (else it is the answer). Only the system's proxy,
  // when it carries the request, is answered; any other 407 is the answer.
  bool answersProxy = false;
};

class CHttpRequest {
 public:
  static const int kCredentialTries = 3;
  // Not among WinInet's HTTP_STATUS_ names.
  static const DWORD kRangeNotSatisfiable = 416;
  // Redirects followed per request; one more fails it with ERROR_HTTP_REDIRECT_FAILED.
  static const int kMostRedirects = 10;
  // What is read of a proxy's refusal before the request goes again; a longer one costs its connection.
  static const DWORD kLongestRefusal = 64 * 1024;

  CHttpRequest(const WinInetApi& api, const HttpRequestParams& params, IRequestObserver& observer,
               IBodySink& body)
      : api(api), params(params), observer(observer), body(body) {}
  CHttpRequest(const CHttpRequest&) = delete;
  CHttpRequest& operator=(const CHttpRequest&) = delete;

  // The whole request; closes its handle on every way out. True when the body arrived whole with a 2xx
  // status, or for a 204 without a body.
  bool Run();
  const HttpAnswer& Answer() const { return answer; }

 private:
  // Complete: the held bytes are already the whole file.
  enum class Resumed { Continues, Restarts, Complete, Refused };
  bool OpenFollowingRedirects();
  bool Open(const std::wstring& url);
  bool ArrivedThroughTls(const std::wstring& url);
  bool RedirectTarget(const std::wstring& url, std::wstring& target);
  bool ProxyInUse(const std::wstring& url);
  void Configure();
  void ReadAnswer();
  bool PassProxy(const std::wstring& url);
  bool DrainRefusal();
  Resumed CheckResumedRange();
  std::wstring ContentRange();
  bool IsResumedFile(unsigned long whole) const;
  bool RangeContinuesBody();
  bool HeldIsWholeFile();
  Resumed DropHeld();
  bool Completed();
  bool LengthMatchesRange(bool announced);
  bool ReadLength(DWORD base, bool& announced);
  void ReserveBody(DWORD base, bool announced);
  bool ReadBody(bool& capped);
  bool ReadPiece(DWORD wanted, DWORD& read);
  bool AppendPiece(DWORD read);
  bool ReadStatus();
  // Reports a failed platform call; false, for the step to return.
  bool Fail(DWORD error);

  const WinInetApi& api;
  const HttpRequestParams params;
  IRequestObserver& observer;
  IBodySink& body;
  HINTERNET session = nullptr;  // while the request runs, the session it was opened in
  CUniqueT<InternetHandleTraits> request;
  HttpAnswer answer;
  DWORD rangeTotal = 0;  // the whole file's length by a resumed answer's Content-Range
  bool readExMissing = false;  // the platform's InternetReadFileExA answered ERROR_CALL_NOT_IMPLEMENTED
  // Reads land here first: the body's own storage may change hands while a read waits on a silent line.
  std::vector<uint8_t> piece;
};

// Text in the thread's ANSI code page, for the ANSI entry points.
std::string ToAnsi(const wchar_t* text);
