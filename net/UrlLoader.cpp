#include "net/UrlLoader.h"

#include <atomic>
#include <cwchar>
#include <exception>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "support/MessagePump.h"

namespace {

DWORD g_silenceLimitMs = CUrlLoader::kSilenceLimitMs;

// Reports are coalesced to about one per frame while data flows, and come at least this often while the
// line is silent, so the callback can always cancel.
const DWORD kReportIntervalMs = 30;
const DWORD kSilentReportIntervalMs = 100;
// A read asks for at most this long of data at the rate measured so far.
const double kReadSeconds = 0.25;
const DWORD kLargestRead = 1u << 20;
// A body of unknown size gets address space up to this much (or its cap), and at least kSmallestSpace.
// A finished body no longer than kSmallestSpace moves to the heap, so it holds no reservation: copying it
// takes moments, and a 32-bit process has little address space to spare.
const DWORD kLargestSpace = 1u << 30;
const DWORD kSmallestSpace = 16u << 20;

// How long a transfer's own timeouts let a platform call wait: a little beyond the moment its caller
// stops waiting for it, so a worker whose caller gave up ends by itself soon after.
DWORD WorkerTimeoutMs(DWORD silenceLimitMs) { return silenceLimitMs + silenceLimitMs / 4 + 1000; }

// Text in the thread's ANSI code page, for InternetOpenUrlA.
std::string ToAnsi(const wchar_t* text) {
  int size = WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, &out[0], size, nullptr, nullptr);
  out.resize(static_cast<size_t>(size) - 1);
  return out;
}

double Seconds() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / frequency;
}

// How much one read asks for. A read that found its data waiting says nothing about the line, so the rate
// is measured over at least a second, waits included, and a read asks for at most a quarter of a second of
// data at that rate, growing at most twofold from one read to the next; what the line reports as there is
// always taken. So even where a platform's read waits for its whole count, it waits a fraction of a second.
class CReadSizer {
 public:
  DWORD Next(DWORD available) {
    double now = Seconds();
    if (windowStart == 0) windowStart = now;
    double span = now - windowStart;
    double rate = windowBytes / (span > 1.0 ? span : 1.0);
    if (span >= 2.0) {
      // A fresh window keeps the figure about the line as it is now.
      windowStart = now - 1.0;
      windowBytes = static_cast<DWORD>(rate);
    }
    double byRate = rate * kReadSeconds;
    double byGrowth = last ? 2.0 * last : available;
    double wanted = byRate < byGrowth ? byRate : byGrowth;
    if (wanted > kLargestRead) wanted = kLargestRead;
    last = wanted > available ? static_cast<DWORD>(wanted) : available;
    return last;
  }
  void Took(DWORD read) { windowBytes += read; }
  // The last read asked for the largest piece: the line is fast.
  bool AtLargest() const { return last >= kLargestRead; }

 private:
  double windowStart = 0;
  DWORD windowBytes = 0;
  DWORD last = 0;
};

}  // namespace

// One Load's network work. The worker thread owns the request and the body until it has finished; the
// caller follows it through the event queue and the received count, both under the lock. Shared by both
// sides, so an abandoned worker finishes with its own state and never touches the caller's.
class CUrlLoader::CTransfer {
 public:
  enum class Kind { Error, Headers, BodyEnd, ProxyCredentials };
  struct Event {
    Kind kind;
    DWORD value;     // Error: the code; BodyEnd: 1 when the body ended by itself, 0 when the cap cut it
    DWORD received;  // body bytes held when it happened
  };

  CTransfer(const WinInetApi* api, CUniqueT<InternetHandleTraits>&& session, const wchar_t* url,
            const wchar_t* headers, DWORD flags, DWORD maximumBytes, bool relaxCertificateChecks, CBuffer&& held,
            bool resuming, DWORD total, HWND credentialOwner)
      : api(api),
        url(url ? url : L""),
        ansi(headers && *headers),
        flags(flags),
        maximumBytes(maximumBytes),
        relaxCertificateChecks(relaxCertificateChecks),
        silenceLimitMs(g_silenceLimitMs),
        resuming(resuming),
        resumeTotal(total),
        credentialOwner(credentialOwner),
        wake(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
        credentialsGiven(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
        body(std::move(held)),
        lastActivity(GetTickCount()),
        session(std::move(session)) {
    received = body.Length();
    if (ansi) {
      // Extra headers go through the ANSI entry point, so the URL travels with them in the same code page.
      ansiUrl = ToAnsi(this->url.c_str());
      ansiHeaders = ToAnsi(headers);
    }
  }
  CTransfer(const CTransfer&) = delete;
  CTransfer& operator=(const CTransfer&) = delete;

  static void Run(std::shared_ptr<CTransfer> self) noexcept {
    bool result = false;
    std::exception_ptr failure;
    try {
      result = self->Transfer();  // closes the request on every way out
      self->ReleaseSpareSpace();
    } catch (...) {
      failure = std::current_exception();
    }
    CUniqueT<InternetHandleTraits> session;
    {
      std::lock_guard<std::mutex> hold(self->lock);
      session = std::move(self->session);
      self->result = result;
      self->failure = failure;
      self->finished = true;
    }
    session.Reset();
    self->Signal();
  }

  // The caller gives up on the transfer; the worker stops at its next step and closes its own handles, so
  // no handle is closed while the worker may still use its number (WinInet hands a freed number to the
  // next handle it opens, and the stale worker would read another transfer's answer). Only while the URL
  // is being opened, when there is no request yet, is the session closed from here: that ends a pending
  // open where the platform allows it, and the worker then touches nothing that came of it.
  void Abandon() {
    CUniqueT<InternetHandleTraits> closing;
    std::lock_guard<std::mutex> hold(lock);
    abandoned = true;
    if (opening) closing = std::move(session);
    // A worker waiting for the user's proxy password waits no more.
    SetEvent(credentialsGiven.Get());
  }

  // The first `count` bytes the worker holds (at most what it has), unless the body has already changed
  // hands. Safe while the worker runs: it only ever writes beyond what it has counted.
  bool CopyHeld(CBuffer& into, DWORD count) {
    std::lock_guard<std::mutex> hold(lock);
    if (handedOver) return true;
    return into.Assign(body.GetData(), count < body.Length() ? count : body.Length());
  }

  // Set before the worker starts, read-only afterwards.
  const WinInetApi* const api;
  const std::wstring url;
  const bool ansi;
  std::string ansiUrl;
  std::string ansiHeaders;
  const DWORD flags;
  const DWORD maximumBytes;
  const bool relaxCertificateChecks;
  const DWORD silenceLimitMs;
  const bool resuming;     // body holds the first bytes of the file; the request asks for the rest
  const DWORD resumeTotal;  // the whole file's length when known, else 0
  const HWND credentialOwner;
  const CHandle wake;  // set when something new is there for the caller
  const CHandle credentialsGiven;  // set when the caller has asked the user, or gave up
  std::atomic<DWORD> credentialAnswer{0};
  // The request the user is asked about; set before its ProxyCredentials event, valid while the worker waits.
  HINTERNET credentialRequest = nullptr;
  std::atomic<bool> signalled{false};
  std::atomic<bool> abandoned{false};
  // Without a callback nobody is shown the progress: each read need not wake the caller.
  std::atomic<bool> wantsProgress{true};

  // The worker's alone until `finished`; the caller reads them afterwards (or copies the body under lock).
  CBuffer body;
  DWORD statusCode = 0;
  std::wstring statusText;
  DWORD contentLength = 0;
  // Of the answer; written before its Headers event, so the caller may read them once it has seen that.
  std::wstring validator;
  DWORD retryAfterSeconds = MAXDWORD;

  bool handedOver = false;  // the body has moved to the caller's buffer

  // Under lock.
  std::mutex lock;
  std::vector<Event> events;
  DWORD received = 0;
  DWORD lastActivity;  // GetTickCount when the last bytes (or the answer) arrived
  bool finished = false;
  bool result = false;  // set with `finished`
  std::exception_ptr failure;

 private:
  void Signal() {
    if (!signalled.exchange(true)) SetEvent(wake.Get());
  }

  void Post(Kind kind, DWORD value) {
    {
      std::lock_guard<std::mutex> hold(lock);
      events.push_back({kind, value, received});
    }
    Signal();
  }

  void Error(DWORD code) { Post(Kind::Error, code); }

  // A body that ended well inside its reservation moves to the heap, which gives the space back.
  void ReleaseSpareSpace() {
    std::lock_guard<std::mutex> hold(lock);
    if (!spacious || body.Length() > kSmallestSpace) return;
    CBuffer small;
    if (body.Length() && !small.Assign(body.GetData(), body.Length())) return;  // it stays where it is
    body = std::move(small);
  }

  bool Transfer() {
    HINTERNET parent;
    {
      std::lock_guard<std::mutex> hold(lock);
      if (abandoned) return false;
      opening = true;
      parent = session.Get();
    }
    HINTERNET opened = ansi ? api->InternetOpenUrlA(parent, ansiUrl.c_str(), ansiHeaders.c_str(),
                                                    static_cast<DWORD>(ansiHeaders.size()), flags, 0)
                            : api->InternetOpenUrlW(parent, url.c_str(), nullptr, 0, flags, 0);
    const DWORD openError = GetLastError();
    CUniqueT<InternetHandleTraits> request;
    {
      std::lock_guard<std::mutex> hold(lock);
      opening = false;
      // The caller closed the session during the open, and with it whatever the open made: the number
      // returned may already name somebody else's handle.
      if (!session) return false;
      request.Reset(opened);
      lastActivity = GetTickCount();
    }
    if (!opened) {
      Error(openError);
      return false;
    }
    // The caller may have given up while the request was being opened.
    if (abandoned) return false;

    if (relaxCertificateChecks) {
      DWORD security = 0;
      DWORD size = sizeof(security);
      if (api->InternetQueryOptionW(opened, INTERNET_OPTION_SECURITY_FLAGS, &security, &size)) {
        security |= SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | SECURITY_FLAG_IGNORE_REVOCATION;
        api->InternetSetOptionW(opened, INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof(security));
      }
    }
    // The caller fails a silent transfer at its limit and leaves the worker to end by itself: this ends a
    // read blocked on a silent line a little later (some platforms apply the session's timeout only to
    // the open).
    DWORD receiveTimeout = WorkerTimeoutMs(silenceLimitMs);
    api->InternetSetOptionW(opened, INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveTimeout, sizeof(receiveTimeout));

    QueryAnswer(opened);
    if (!PassProxy(opened)) return false;
    if (resuming) {
      std::lock_guard<std::mutex> hold(lock);
      if (statusCode == HTTP_STATUS_OK) {
        // The file changed since the held bytes came, or the server ignores ranges: all of it again.
        body.SetLength(0);
      } else if (statusCode != HTTP_STATUS_PARTIAL_CONTENT) {
        return false;  // the held bytes stay as they were; the status says why
      } else if (!RangeContinuesBody(opened)) {
        body.SetLength(0);
        events.push_back({Kind::Error, ERROR_HTTP_INVALID_SERVER_RESPONSE, 0});
        Signal();
        return false;
      }
      received = body.Length();
    }
    const DWORD base = body.Length();

    // Read as text: the number form keeps only 32 bits of a larger length, and a wrapped length would end
    // the body early as if it were complete.
    wchar_t lengthText[32] = {};
    DWORD size = sizeof(lengthText) - sizeof(wchar_t);
    const bool announced =
        api->HttpQueryInfoW(opened, HTTP_QUERY_CONTENT_LENGTH, lengthText, &size, nullptr) != FALSE;
    if (!announced) {
      // Chunked and close-delimited bodies announce no length: reported, and the transfer goes on.
      contentLength = 0;
      Error(GetLastError());
    } else {
      uint64_t length = 0;
      bool number = lengthText[0] != 0;
      for (const wchar_t* digit = lengthText; *digit && number; ++digit) {
        number = *digit >= L'0' && *digit <= L'9' && length <= (UINT64_MAX - 9) / 10;
        length = length * 10 + static_cast<uint64_t>(*digit - L'0');
      }
      if (!number) {
        Error(ERROR_HTTP_INVALID_HEADER);
        return false;
      }
      // The whole file, a resumed one's held bytes included, must fit what a buffer can hold.
      if (length > MAXDWORD - base) {
        Error(ERROR_FILE_TOO_LARGE);
        return false;
      }
      contentLength = length ? static_cast<DWORD>(length) + base : 0;
    }
    if (contentLength == 0) {
      if (!ReadStatus(opened)) return false;
      // No content: done, and a success whatever the (absent) length says.
      if (statusCode == HTTP_STATUS_NO_CONTENT) return true;
    }
    Post(Kind::Headers, contentLength);

    DWORD expected = maximumBytes && maximumBytes < contentLength ? maximumBytes : contentLength;
    {
      std::lock_guard<std::mutex> hold(lock);
      if (expected) {
        // An announced length is reserved once, so a large body is one allocation and never copied on
        // growth. A length that cannot be had (an absurd announcement) falls back to growing.
        if (expected > base) body.Reserve(expected - base);
      } else if (!announced && !body.Data()) {
        // Unknown size: address space now, memory as the body grows, so it is never copied. (An announced
        // empty body needs no room at all.)
        for (DWORD space = maximumBytes ? maximumBytes : kLargestSpace; space >= kSmallestSpace; space /= 2) {
          if ((spacious = body.ReserveAddressSpace(space))) break;
        }
      }
    }

    bool capped = false;
    CReadSizer sizer;
    bool mustAsk = true;  // the last read without a question found nothing
    for (;;) {
      if (abandoned) return false;
      DWORD held = body.Length();
      if (maximumBytes && held >= maximumBytes) {
        capped = true;
        break;
      }
      // With the announced length complete there is nothing more to wait for.
      if (contentLength && held >= contentLength) break;

      // The question waits for the first byte (or the end) and says how much is there; the read after it
      // takes what has arrived without waiting for more, so a read never outlasts the data that fills it
      // and a slow line is never taken for a silent one.
      // A line fast enough for the largest reads needs no question: it costs a socket receive of its own
      // on some platforms, a fifth of the speed of a fast local line.
      DWORD available = 0;
      const bool ask = mustAsk || !sizer.AtLargest();
      if (ask) {
        if (!api->InternetQueryDataAvailable(opened, &available, 0, 0)) {
          Error(GetLastError());
          return false;
        }
        if (available == 0) break;  // the end of the body
      }
      DWORD wanted = sizer.Next(available);
      if (contentLength && contentLength > held && wanted > contentLength - held) wanted = contentLength - held;
      if (maximumBytes && wanted > maximumBytes - held) wanted = maximumBytes - held;

      uint8_t* into;
      {
        std::lock_guard<std::mutex> hold(lock);
        // Never read into space the buffer does not have.
        into = body.Reserve(wanted) ? body.Data() + held : nullptr;
      }
      if (!into) {
        Error(ERROR_NOT_ENOUGH_MEMORY);
        return false;
      }
      INTERNET_BUFFERSW piece = {};
      piece.dwStructSize = sizeof(piece);
      piece.lpvBuffer = into;
      piece.dwBufferLength = wanted;
      if (!api->InternetReadFileExW(opened, &piece, IRF_NO_WAIT, 0)) {
        Error(GetLastError());
        return false;
      }
      DWORD read = piece.dwBufferLength;
      sizer.Took(read);
      // Nothing without waiting: ask, which waits (and tells the end of a body without a length).
      mustAsk = read == 0;
      if (read == 0) continue;
      {
        std::lock_guard<std::mutex> hold(lock);
        body.SetLength(held + read);
        received = held + read;
        lastActivity = GetTickCount();
      }
      if (wantsProgress) Signal();
    }
    Post(Kind::BodyEnd, capped ? 0 : 1);

    if (!ReadStatus(opened)) return false;
    // WinInet ends a body whose connection dropped early like a complete one. A body shorter than its
    // announced length is a truncated download, not a success (unless the cap cut it on purpose).
    if (contentLength && body.Length() < contentLength && !capped) {
      Error(ERROR_INTERNET_CONNECTION_ABORTED);
      return false;
    }
    return statusCode >= 200 && statusCode <= 299;
  }

  // A proxy that wants a name and password: the caller asks the user, and the request goes again with
  // what was given. False when the transfer ends here; otherwise the answer, a 407 included, is judged as
  // any other.
  bool PassProxy(HINTERNET opened) {
    for (int asked = 0; statusCode == HTTP_STATUS_PROXY_AUTH_REQ; ++asked) {
      if (asked == CUrlLoader::kCredentialTries || !credentialOwner || !credentialsGiven) return true;
      // The refusal's own body goes first, so the connection can carry the request again.
      char sink[4096];
      DWORD read = 0;
      while (api->InternetReadFile(opened, sink, sizeof(sink), &read) && read) {
      }
      credentialRequest = opened;
      Post(Kind::ProxyCredentials, 0);
      WaitForSingleObject(credentialsGiven.Get(), INFINITE);
      if (abandoned) return false;
      if (credentialAnswer != ERROR_INTERNET_FORCE_RETRY) {
        Error(ERROR_INTERNET_INCORRECT_PASSWORD);
        return false;
      }
      if (!api->HttpSendRequestW(opened, nullptr, 0, nullptr, 0)) {
        Error(GetLastError());
        return false;
      }
      {
        std::lock_guard<std::mutex> hold(lock);
        lastActivity = GetTickCount();
      }
      QueryAnswer(opened);
    }
    return true;
  }

  // What the answer says of itself, before its body: status, validator, Retry-After. Nothing here fails the
  // transfer; the status is judged again after the body.
  void QueryAnswer(HINTERNET handle) {
    validator.clear();
    retryAfterSeconds = MAXDWORD;
    DWORD size = sizeof(statusCode);
    if (!api->HttpQueryInfoW(handle, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &statusCode, &size, nullptr))
      statusCode = 0;
    wchar_t text[256] = {};
    size = sizeof(text);
    if (api->HttpQueryInfoW(handle, HTTP_QUERY_ETAG, text, &size, nullptr) && wcsncmp(text, L"W/", 2) != 0) {
      validator.assign(text, wcsnlen(text, 255));
    } else {
      size = sizeof(text);
      text[0] = 0;
      if (api->HttpQueryInfoW(handle, HTTP_QUERY_LAST_MODIFIED, text, &size, nullptr))
        validator.assign(text, wcsnlen(text, 255));
    }
    DWORD seconds = 0;
    size = sizeof(seconds);
    if (api->HttpQueryInfoW(handle, HTTP_QUERY_RETRY_AFTER | HTTP_QUERY_FLAG_NUMBER, &seconds, &size, nullptr))
      retryAfterSeconds = seconds;
  }

  // A 206 continues the held bytes only when it starts right after them and runs to the file's end.
  bool RangeContinuesBody(HINTERNET handle) {
    wchar_t text[128] = {};
    DWORD size = sizeof(text);
    if (!api->HttpQueryInfoW(handle, HTTP_QUERY_CONTENT_RANGE, text, &size, nullptr)) return false;
    unsigned long first = 0, last = 0, whole = 0;
    wchar_t extra = 0;
    if (swscanf(text, L"bytes %lu-%lu/%lu%lc", &first, &last, &whole, &extra) != 3) return false;
    return first == body.Length() && last >= first && last + 1 == whole && (resumeTotal == 0 || whole == resumeTotal);
  }

  bool ReadStatus(HINTERNET handle) {
    DWORD size = sizeof(statusCode);
    if (!api->HttpQueryInfoW(handle, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &statusCode, &size,
                             nullptr)) {
      Error(GetLastError());
      return false;
    }
    wchar_t text[1024] = {};
    size = sizeof(text);
    if (!api->HttpQueryInfoW(handle, HTTP_QUERY_STATUS_TEXT, text, &size, nullptr)) {
      Error(GetLastError());
      return false;
    }
    statusText.assign(text, wcsnlen(text, 1023));
    // A status line without a reason phrase is not accepted, even for 200.
    return !statusText.empty();
  }

  bool spacious = false;  // the body lies in address space reserved for it

  // Under lock. The session is the worker's to close, unless the caller closes it during the open.
  CUniqueT<InternetHandleTraits> session;
  bool opening = false;  // the worker is in (or about to enter) the open
};

void CUrlLoader::SetSilenceLimitForTesting(DWORD milliseconds) {
  g_silenceLimitMs = milliseconds ? milliseconds : kSilenceLimitMs;
}

CUrlLoader::CUrlLoader(IUrlLoaderCallback* callback, const wchar_t* agent, DWORD connectTimeout,
                       DWORD sendTimeout, DWORD receiveTimeout, DWORD maximumBytes, bool relaxCertificateChecks)
    : callback(callback),
      api(WinInet()),
      agent(agent ? agent : L""),
      maximumBytes(maximumBytes),
      connectTimeout(connectTimeout),
      sendTimeout(sendTimeout),
      receiveTimeout(receiveTimeout),
      relaxCertificateChecks(relaxCertificateChecks) {}

void CUrlLoader::Fail(DWORD error) {
  lastError = error;
  if (callback) callback->OnError(this, error);
}

CUniqueT<InternetHandleTraits> CUrlLoader::OpenSession() {
  if (!api) {
    Fail(ERROR_MOD_NOT_FOUND);
    return CUniqueT<InternetHandleTraits>();
  }
  CUniqueT<InternetHandleTraits> session(
      api->InternetOpenW(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) {
    Fail(GetLastError());
    return session;
  }
  // Before the open, which inherits them: without them only the platform's defaults would bound an open
  // that nobody waits for any more.
  const DWORD fallbackMs = WorkerTimeoutMs(g_silenceLimitMs);
  const struct {
    DWORD option;
    DWORD seconds;
  } timeouts[] = {{INTERNET_OPTION_CONNECT_TIMEOUT, connectTimeout},
                  {INTERNET_OPTION_SEND_TIMEOUT, sendTimeout},
                  {INTERNET_OPTION_RECEIVE_TIMEOUT, receiveTimeout}};
  for (const auto& t : timeouts) {
    DWORD milliseconds = t.seconds ? t.seconds * 1000 : fallbackMs;
    api->InternetSetOptionW(session.Get(), t.option, &milliseconds, sizeof(milliseconds));
  }
  return session;
}

bool CUrlLoader::SetTimeoutOption(DWORD option, DWORD seconds) {
  switch (option) {
    case INTERNET_OPTION_CONNECT_TIMEOUT:
      connectTimeout = seconds;
      return true;
    case INTERNET_OPTION_SEND_TIMEOUT:
      sendTimeout = seconds;
      return true;
    case INTERNET_OPTION_RECEIVE_TIMEOUT:
      receiveTimeout = seconds;
      return true;
    default:
      return false;
  }
}

bool CUrlLoader::SetCookie(const wchar_t* url, const wchar_t* name, const wchar_t* value) {
  if (!api) {
    Fail(ERROR_MOD_NOT_FOUND);
    return false;
  }
  if (api->InternetSetCookieW(url, name, value)) return true;
  Fail(GetLastError());
  return false;
}

bool CUrlLoader::Load(CBuffer& buffer, const wchar_t* url, const wchar_t* headers, DWORD flags) {
  buffer.SetLength(0);
  return Start(buffer, url, headers, flags, std::wstring(), 0);
}

bool CUrlLoader::Resume(CBuffer& buffer, const wchar_t* url, const std::wstring& validator, DWORD total,
                        DWORD flags) {
  if (buffer.Length() == 0 || validator.empty()) return Load(buffer, url, nullptr, flags);
  // If-Range: the rest only while the file is the one the held bytes came from, else all of it.
  std::wstring headers = L"Range: bytes=" + std::to_wstring(buffer.Length()) + L"-\r\nIf-Range: " + validator + L"\r\n";
  return Start(buffer, url, headers.c_str(), flags, validator, total);
}

bool CUrlLoader::Start(CBuffer& buffer, const wchar_t* url, const wchar_t* headers, DWORD flags,
                       const std::wstring& ifRange, DWORD total) {
  lastError = 0;
  statusCode = 0;
  statusText.clear();
  validator.clear();
  retryAfterSeconds = MAXDWORD;
  contentLength = 0;
  bytesReceived = buffer.Length();
  bool cancel = false;
  const bool resuming = !ifRange.empty();

  if (callback) callback->OnBegin(this, url, flags);
  CUniqueT<InternetHandleTraits> session = OpenSession();
  if (!session) {
    if (callback) callback->OnEnd(this, false);
    return false;
  }

  auto transfer = std::make_shared<CTransfer>(api, std::move(session), url, headers, flags, maximumBytes,
                                              relaxCertificateChecks, resuming ? std::move(buffer) : CBuffer(),
                                              resuming, total, credentialOwner);
  transfer->wantsProgress = callback != nullptr;
  if (!transfer->wake) {
    if (resuming) buffer = std::move(transfer->body);
    Fail(GetLastError());
    if (callback) callback->OnEnd(this, false);
    return false;
  }
  try {
    std::thread(&CTransfer::Run, transfer).detach();
  } catch (const std::system_error&) {
    if (resuming) buffer = std::move(transfer->body);
    Fail(ERROR_NOT_ENOUGH_MEMORY);
    if (callback) callback->OnEnd(this, false);
    return false;
  }

  bool result;
  try {
    result = Follow(*transfer, buffer, cancel);
  } catch (...) {
    // The end is reported on every way out, even when memory ran out.
    transfer->Abandon();
    if (callback) callback->OnEnd(this, cancel);
    throw;
  }
  if (callback) callback->OnEnd(this, cancel);
  std::exception_ptr failure;
  {
    // An abandoned worker may be failing right now: only a finished one's failure is the caller's.
    std::lock_guard<std::mutex> hold(transfer->lock);
    if (transfer->finished) failure = transfer->failure;
  }
  if (failure) std::rethrow_exception(failure);
  return result;
}

void CUrlLoader::CopyHeldBytes(CTransfer& transfer, CBuffer& into, DWORD count) {
  // A large body takes a while to copy: a thread of its own does it while this one keeps its window
  // answering. A quit message stays queued for the loop that waits for it; the copy ends regardless.
  struct Copy {
    CTransfer& transfer;
    CBuffer& into;
    DWORD count;
    static DWORD WINAPI Run(void* self) {
      Copy& copy = *static_cast<Copy*>(self);
      copy.transfer.CopyHeld(copy.into, copy.count);
      return 0;
    }
  } copy{transfer, into, count};
  CHandle copier(CreateThread(nullptr, 0, &Copy::Run, &copy, 0, nullptr));
  if (!copier) {
    transfer.CopyHeld(into, count);
    return;
  }
  HANDLE done = copier.Get();
  bool pumping = true;
  while (pumping && MsgWaitForMultipleObjectsEx(1, &done, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE) ==
                        WAIT_OBJECT_0 + 1) {
    pumping = PumpMessages();
  }
  // The copy works on this frame's objects: it must be over before they are.
  WaitForSingleObject(done, INFINITE);
}

bool CUrlLoader::Follow(CTransfer& transfer, CBuffer& buffer, bool& cancel) {
  bool answered = false;  // the response is in: reports carry its length and the body's progress
  const DWORD started = GetTickCount();
  DWORD reported;
  {
    // A resumed body counts from what is held.
    std::lock_guard<std::mutex> hold(transfer.lock);
    reported = transfer.received;
  }
  DWORD lastReport = GetTickCount();
  size_t next = 0;
  std::vector<CTransfer::Event> fresh;

  auto report = [&](DWORD total) {
    reported = total;
    lastReport = GetTickCount();
    if (callback) callback->OnProgress(this, total, contentLength, &cancel);
    return !cancel;
  };
  DWORD received = 0;
  // A cancel keeps what the reports told of; a failure what had arrived; either only when asked to.
  auto abandon = [&](DWORD error) {
    transfer.Abandon();
    buffer.SetLength(0);
    if (keepPartialBody) CopyHeldBytes(transfer, buffer, error ? received : reported);
    bytesReceived = buffer.Length();
    if (error) Fail(error);
    return false;
  };

  for (;;) {
    // Cleared before looking, so whatever the worker adds from now on wakes the next wait.
    transfer.signalled = false;
    DWORD lastActivity;
    bool finished;
    {
      std::lock_guard<std::mutex> hold(transfer.lock);
      fresh.assign(transfer.events.begin() + static_cast<ptrdiff_t>(next), transfer.events.end());
      next = transfer.events.size();
      received = transfer.received;
      lastActivity = transfer.lastActivity;
      finished = transfer.finished;
    }

    for (const CTransfer::Event& event : fresh) {
      switch (event.kind) {
        case CTransfer::Kind::Error:
          // What arrived before the failure is reported before it.
          if (answered && event.received != reported && !report(event.received)) return abandon(0);
          Fail(event.value);
          break;
        case CTransfer::Kind::Headers:
          contentLength = event.value;
          statusCode = transfer.statusCode;
          validator = transfer.validator;
          retryAfterSeconds = transfer.retryAfterSeconds;
          answered = true;
          // A resumed body starts at what is held.
          if (!report(event.received)) return abandon(0);
          break;
        case CTransfer::Kind::ProxyCredentials: {
          // The system's dialog, modal to our window; the worker waits for its answer.
          DWORD answer = api->InternetErrorDlg(
              credentialOwner, transfer.credentialRequest, ERROR_INTERNET_INCORRECT_PASSWORD,
              FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS | FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
              nullptr);
          {
            // However long the user took, the line was not silent meanwhile.
            std::lock_guard<std::mutex> hold(transfer.lock);
            transfer.lastActivity = GetTickCount();
          }
          transfer.credentialAnswer = answer;
          SetEvent(transfer.credentialsGiven.Get());
          break;
        }
        case CTransfer::Kind::BodyEnd:
          if (event.received != reported && !report(event.received)) return abandon(0);
          // The read that found the end is reported too, as the repeat of the final total.
          if (event.value && !report(event.received)) return abandon(0);
          break;
      }
    }

    if (finished) {
      // The worker is done with everything: the body changes hands without a copy.
      buffer = std::move(transfer.body);
      transfer.handedOver = true;
      statusCode = transfer.statusCode;
      statusText = transfer.statusText;
      contentLength = transfer.contentLength;
      validator = transfer.validator;
      retryAfterSeconds = transfer.retryAfterSeconds;
      bytesReceived = buffer.Length();
      return transfer.result;
    }

    DWORD now = GetTickCount();
    if (now - lastActivity >= transfer.silenceLimitMs) return abandon(ERROR_INTERNET_TIMEOUT);
    if (timeLimitMs && now - started >= timeLimitMs) return abandon(ERROR_INTERNET_TIMEOUT);
    // Data is reported at most every kReportIntervalMs; silence (before the answer too) every
    // kSilentReportIntervalMs with the unchanged total, so the callback can always cancel.
    bool pending = answered && received != reported;
    DWORD interval = pending ? kReportIntervalMs : kSilentReportIntervalMs;
    if (callback && now - lastReport >= interval && !report(answered ? received : 0)) return abandon(0);

    // Sleep until the next report is due, the worker has news, a message comes, or the silence limit.
    now = GetTickCount();
    DWORD silent = now - lastActivity;
    DWORD wait = silent < transfer.silenceLimitMs ? transfer.silenceLimitMs - silent : 0;
    if (timeLimitMs) {
      DWORD spent = now - started;
      DWORD left = spent < timeLimitMs ? timeLimitMs - spent : 0;
      if (left < wait) wait = left;
    }
    if (callback) {
      DWORD sinceReport = now - lastReport;
      DWORD due = sinceReport < interval ? interval - sinceReport : 1;
      if (due < wait) wait = due;
    }
    // Data waiting for its report time needs no wake-up: the next report takes it along.
    HANDLE wake = transfer.wake.Get();
    DWORD handles = pending && callback ? 0 : 1;
    DWORD woke = MsgWaitForMultipleObjectsEx(handles, &wake, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woke == WAIT_OBJECT_0 + handles && !PumpMessages()) return abandon(ERROR_CANCELLED);
  }
}
