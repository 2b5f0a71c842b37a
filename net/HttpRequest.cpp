#include "net/HttpRequest.h"

#include <cwchar>
#include <vector>

#include "net/ProxyRoute.h"

namespace {

// A read asks for at most this long of data at the rate measured so far.
const double kReadSeconds = 0.25;
const DWORD kLargestRead = 1u << 20;

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

// A Content-Length as text: the number form keeps only 32 bits of a larger length, and a wrapped length
// would end the body early as if it were complete. False when it is not a number.
bool ParseLength(const wchar_t* text, uint64_t& length) {
  length = 0;
  bool number = text[0] != 0;
  for (const wchar_t* digit = text; *digit && number; ++digit) {
    number = *digit >= L'0' && *digit <= L'9' && length <= (UINT64_MAX - 9) / 10;
    length = length * 10 + static_cast<uint64_t>(*digit - L'0');
  }
  return number;
}

}  // namespace

std::string ToAnsi(const wchar_t* text) {
  int size = WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, &out[0], size, nullptr, nullptr);
  out.resize(static_cast<size_t>(size) - 1);
  return out;
}

bool CHttpRequest::Fail(DWORD error) {
  observer.Failed(error);
  return false;
}

bool CHttpRequest::Run() {
  if (!OpenFollowingRedirects()) return false;
  if (params.Resuming()) {
    const Resumed resumed = CheckResumedRange();
    if (resumed == Resumed::Refused) return false;
    if (resumed == Resumed::Complete) return Completed();
  } else if (answer.status == HTTP_STATUS_PARTIAL_CONTENT) {
    // A part of a file nobody asked a part of cannot be told from a truncated whole.
    return Fail(ERROR_HTTP_INVALID_SERVER_RESPONSE);
  }
  const DWORD base = body.Held();
  bool announced = false;
  if (!ReadLength(base, announced)) return false;
  if (rangeTotal && !LengthMatchesRange(announced)) return false;
  if (answer.contentLength == 0) {
    if (!ReadStatus()) return false;
    // No content: done, and a success whatever the (absent) length says.
    if (answer.status == HTTP_STATUS_NO_CONTENT) return true;
  }
  observer.Answered(answer);
  ReserveBody(base, announced);
  bool capped = false;
  if (!ReadBody(capped)) return false;
  observer.BodyEnded(!capped);
  if (!ReadStatus()) return false;
  // WinInet ends a body whose connection dropped early like a complete one. A body shorter than its
  // announced length is a truncated download, not a success (unless the cap cut it on purpose).
  if (answer.contentLength && body.Held() < answer.contentLength && !capped)
    return Fail(ERROR_INTERNET_CONNECTION_ABORTED);
  return answer.status >= 200 && answer.status <= 299;
}

namespace {

bool IsHttps(const std::wstring& url) { return _wcsnicmp(url.c_str(), L"https:", 6) == 0; }

bool IsRedirect(DWORD status) {
  return status == HTTP_STATUS_MOVED || status == HTTP_STATUS_REDIRECT || status == HTTP_STATUS_REDIRECT_METHOD ||
         status == HTTP_STATUS_REDIRECT_KEEP_VERB || status == HTTP_STATUS_PERMANENT_REDIRECT;
}

}  // namespace

// Redirects are followed here, not by the platform: some follow them without end, and from https to plain
// http. What the program fetches names what is installed and how, so it never travels in clear.
bool CHttpRequest::OpenFollowingRedirects() {
  std::wstring url = params.url;
  for (int redirects = 0;; ++redirects) {
    if (!Open(url)) return false;
    Configure();
    ReadAnswer();
    if (!PassProxy(url)) return false;
    if (!ArrivedThroughTls(url)) return Fail(ERROR_INTERNET_SECURITY_CHANNEL_ERROR);
    std::wstring target;
    if (!RedirectTarget(url, target)) return true;
    if (redirects == kMostRedirects) return Fail(ERROR_HTTP_REDIRECT_FAILED);
    if (IsHttps(url) && !IsHttps(target)) return Fail(ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR);
    url = target;
  }
}

// A request sent again in clear (some platforms do so on the proxy's connection after its sign-in) is
// answered by whoever is on that leg: an https answer counts only when it came through TLS.
// An answer without a body may already have given its connection back (Wine then reports no flags); there is
// nothing in it to take, so it passes, but never a redirect, whose target would be the stranger's choice.
bool CHttpRequest::ArrivedThroughTls(const std::wstring& url) {
  if (!IsHttps(url)) return true;
  DWORD security = 0;
  DWORD size = sizeof(security);
  if (api.InternetQueryOptionW(request.Get(), INTERNET_OPTION_SECURITY_FLAGS, &security, &size) &&
      (security & SECURITY_FLAG_SECURE))
    return true;
  if (IsRedirect(answer.status)) return false;
  if (answer.status == HTTP_STATUS_NO_CONTENT || answer.status == HTTP_STATUS_NOT_MODIFIED) return true;
  DWORD length = MAXDWORD;
  size = sizeof(length);
  return api.HttpQueryInfoW(request.Get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length, &size,
                            nullptr) &&
         length == 0;
}

// False when the answer is no redirect (or one without a usable Location, which is then the answer).
bool CHttpRequest::RedirectTarget(const std::wstring& url, std::wstring& target) {
  if (!IsRedirect(answer.status)) return false;
  std::vector<wchar_t> location(INTERNET_MAX_URL_LENGTH + 1);
  DWORD size = static_cast<DWORD>(location.size() * sizeof(wchar_t));
  if (!api.HttpQueryInfoW(request.Get(), HTTP_QUERY_LOCATION, location.data(), &size, nullptr)) return false;
  std::vector<wchar_t> combined(INTERNET_MAX_URL_LENGTH + 1);
  DWORD length = static_cast<DWORD>(combined.size());
  if (!api.InternetCombineUrlW(url.c_str(), location.data(), combined.data(), &length, 0)) return false;
  target.assign(combined.data(), wcsnlen(combined.data(), combined.size()));
  return true;
}

bool CHttpRequest::Open(const std::wstring& url) {
  // A hop's request is closed before the next open: were the session closed during that open, its number
  // could name somebody else's handle by then.
  request.Reset();
  session = observer.BeginOpen();
  if (!session) return false;
  const DWORD flags = params.flags | INTERNET_FLAG_NO_AUTO_REDIRECT;
  HINTERNET opened = nullptr;
  if (params.ansi) {
    const std::string ansiUrl = url == params.url ? params.ansiUrl : ToAnsi(url.c_str());
    opened = api.InternetOpenUrlA(session, ansiUrl.c_str(), params.ansiHeaders.c_str(),
                                  static_cast<DWORD>(params.ansiHeaders.size()), flags, 0);
  } else {
    opened = api.InternetOpenUrlW(session, url.c_str(), nullptr, 0, flags, 0);
  }
  const DWORD openError = GetLastError();
  if (!observer.EndOpen()) {
    session = nullptr;
    return false;
  }
  request.Reset(opened);
  if (!opened) return Fail(openError);
  // Given up while the request was being opened.
  return !observer.Abandoned();
}

void CHttpRequest::Configure() {
  if (params.relaxCertificateChecks) {
    DWORD security = 0;
    DWORD size = sizeof(security);
    if (api.InternetQueryOptionW(request.Get(), INTERNET_OPTION_SECURITY_FLAGS, &security, &size)) {
      security |= SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | SECURITY_FLAG_IGNORE_REVOCATION;
      api.InternetSetOptionW(request.Get(), INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof(security));
    }
  }
  // Whoever waits for the request may stop waiting before the line speaks: this ends a read blocked on a
  // silent line a little later (some platforms apply the session's timeout only to the open).
  DWORD receiveTimeout = params.receiveTimeoutMs;
  api.InternetSetOptionW(request.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveTimeout, sizeof(receiveTimeout));
}

// What the answer says of itself, before its body: status, validator, Retry-After. Nothing here fails the
// request; the status is judged again after the body.
void CHttpRequest::ReadAnswer() {
  HINTERNET handle = request.Get();
  answer.validator.clear();
  answer.retryAfterSeconds = MAXDWORD;
  DWORD size = sizeof(answer.status);
  if (!api.HttpQueryInfoW(handle, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &answer.status, &size, nullptr))
    answer.status = 0;
  wchar_t text[256] = {};
  size = sizeof(text);
  if (api.HttpQueryInfoW(handle, HTTP_QUERY_ETAG, text, &size, nullptr) && wcsncmp(text, L"W/", 2) != 0) {
    answer.validator.assign(text, wcsnlen(text, 255));
  } else {
    size = sizeof(text);
    text[0] = 0;
    if (api.HttpQueryInfoW(handle, HTTP_QUERY_LAST_MODIFIED, text, &size, nullptr))
      answer.validator.assign(text, wcsnlen(text, 255));
  }
  // As text: the number form reads a date as 0 on some platforms, which would try again at once. Only
  // digits are seconds; a date (or anything else) leaves the usual waits.
  size = sizeof(text) - sizeof(wchar_t);
  text[0] = 0;
  uint64_t seconds = 0;
  if (api.HttpQueryInfoW(handle, HTTP_QUERY_RETRY_AFTER, text, &size, nullptr) && ParseLength(text, seconds) &&
      seconds < MAXDWORD)
    answer.retryAfterSeconds = static_cast<DWORD>(seconds);
  DWORD security = 0;
  size = sizeof(security);
  answer.secure = api.InternetQueryOptionW(handle, INTERNET_OPTION_SECURITY_FLAGS, &security, &size) &&
                  (security & SECURITY_FLAG_SECURE);
}

// A proxy that wants a name and password: the user is asked, and the request goes again with what was
// given. False when the request ends here; otherwise the answer, a 407 included, is judged as any other.
bool CHttpRequest::PassProxy(const std::wstring& url) {
  for (int asked = 0; answer.status == HTTP_STATUS_PROXY_AUTH_REQ; ++asked) {
    if (asked == kCredentialTries || !params.answersProxy || !ProxyInUse(url)) return true;
    if (!DrainRefusal()) return false;
    DWORD given = 0;
    if (!observer.AskProxyCredentials(request.Get(), given)) return false;
    if (given != ERROR_INTERNET_FORCE_RETRY) return Fail(ERROR_INTERNET_INCORRECT_PASSWORD);
    if (!api.HttpSendRequestW(request.Get(), nullptr, 0, nullptr, 0)) return Fail(GetLastError());
    observer.Active();
    ReadAnswer();
  }
  return true;
}

// The refusal's own body goes first, so the connection can carry the request again. One longer than
// kLongestRefusal is left unread: the platform then drops it with its connection and sends the request on
// a new one. False when the request was given up meanwhile.
bool CHttpRequest::DrainRefusal() {
  char sink[4096];
  for (DWORD drained = 0; drained < kLongestRefusal && !observer.Abandoned();) {
    DWORD read = 0;
    if (!api.InternetReadFile(request.Get(), sink, sizeof(sink), &read) || !read) break;
    drained += read;
    observer.Active();
  }
  return !observer.Abandoned();
}

// Whether the system's proxy carries this URL's request: the request's own settings where the platform
// tells them, else its session's.
bool CHttpRequest::ProxyInUse(const std::wstring& url) {
  for (HINTERNET handle : {request.Get(), session}) {
    DWORD size = 0;
    if (!handle) continue;
    api.InternetQueryOptionW(handle, INTERNET_OPTION_PROXY, nullptr, &size);
    if (size < sizeof(INTERNET_PROXY_INFO)) continue;
    std::vector<BYTE> bytes(size);
    if (!api.InternetQueryOptionW(handle, INTERNET_OPTION_PROXY, bytes.data(), &size)) continue;
    const auto& info = *reinterpret_cast<const INTERNET_PROXY_INFO*>(bytes.data());
    const auto* proxy = reinterpret_cast<const wchar_t*>(info.lpszProxy);
    const auto* bypass = reinterpret_cast<const wchar_t*>(info.lpszProxyBypass);
    return info.dwAccessType == INTERNET_OPEN_TYPE_PROXY && proxy &&
           ProxyServesUrl(proxy, bypass ? bypass : L"", url);
  }
  return false;
}

CHttpRequest::Resumed CHttpRequest::CheckResumedRange() {
  if (answer.status == HTTP_STATUS_OK) {
    // The file changed since the held bytes came, or the server ignores ranges: all of it again.
    body.Restart();
    return Resumed::Restarts;
  }
  if (answer.status == kRangeNotSatisfiable) return HeldIsWholeFile() ? Resumed::Complete : DropHeld();
  // Any other status leaves the held bytes as they were; the status says why.
  if (answer.status != HTTP_STATUS_PARTIAL_CONTENT) return Resumed::Refused;
  return RangeContinuesBody() ? Resumed::Continues : DropHeld();
}

// Bytes that cannot be vouched for are no start for the next try: it asks for the whole file.
CHttpRequest::Resumed CHttpRequest::DropHeld() {
  body.Restart();
  Fail(ERROR_HTTP_INVALID_SERVER_RESPONSE);
  return Resumed::Refused;
}

// A 206 continues the held bytes only when it starts right after them, runs to the file's end and is of
// the same file: a cache that ignores If-Range answers with a newer file's rest and its own validator.
bool CHttpRequest::RangeContinuesBody() {
  unsigned long first = 0, last = 0, whole = 0;
  wchar_t extra = 0;
  if (swscanf(ContentRange().c_str(), L"bytes %lu-%lu/%lu%lc", &first, &last, &whole, &extra) != 3) return false;
  if (first != body.Held() || last < first || last + 1 != whole || answer.validator != params.ifRange) return false;
  if (!IsResumedFile(whole)) return false;
  rangeTotal = whole;
  return true;
}

// Empty when the answer has none.
std::wstring CHttpRequest::ContentRange() {
  wchar_t text[128] = {};
  DWORD size = sizeof(text) - sizeof(wchar_t);
  if (!api.HttpQueryInfoW(request.Get(), HTTP_QUERY_CONTENT_RANGE, text, &size, nullptr)) return std::wstring();
  return text;
}

// A file's length by a range answer fits what the held bytes' own answer announced, if it announced one.
bool CHttpRequest::IsResumedFile(unsigned long whole) const {
  return params.resumeTotal == 0 || whole == params.resumeTotal;
}

// The server's answer to a range that starts at the file's end: the held bytes are the whole file when it
// names their count as the file's length. A validator it gives must be the one sent; without one, the
// If-Range it evaluated vouches (a changed file gets a 200, not a 416).
bool CHttpRequest::HeldIsWholeFile() {
  unsigned long whole = 0;
  wchar_t extra = 0;
  if (swscanf(ContentRange().c_str(), L"bytes */%lu%lc", &whole, &extra) != 1 || whole != body.Held()) return false;
  if (!IsResumedFile(whole)) return false;
  return answer.validator.empty() || answer.validator == params.ifRange;
}

// The held bytes are the file: the answer's own body (an error page) is not taken.
bool CHttpRequest::Completed() {
  answer.contentLength = body.Held();
  observer.Answered(answer);
  observer.BodyEnded(true);
  return ReadStatus();
}

// A resumed body's length is its range's: a shorter Content-Length would end it early as if complete, and
// without one the range's total tells a break from the end.
bool CHttpRequest::LengthMatchesRange(bool announced) {
  if (!announced) {
    answer.contentLength = rangeTotal;
    return true;
  }
  if (answer.contentLength == rangeTotal) return true;
  DropHeld();
  return false;
}

bool CHttpRequest::ReadLength(DWORD base, bool& announced) {
  wchar_t lengthText[32] = {};
  DWORD size = sizeof(lengthText) - sizeof(wchar_t);
  announced = api.HttpQueryInfoW(request.Get(), HTTP_QUERY_CONTENT_LENGTH, lengthText, &size, nullptr) != FALSE;
  answer.contentLength = 0;
  if (!announced) {
    // Chunked and close-delimited bodies announce no length: reported, and the request goes on.
    observer.Failed(GetLastError());
    return true;
  }
  uint64_t length = 0;
  if (!ParseLength(lengthText, length)) return Fail(ERROR_HTTP_INVALID_HEADER);
  // The whole file, a resumed one's held bytes included, must fit what a buffer can hold.
  if (length > MAXDWORD - base) return Fail(ERROR_FILE_TOO_LARGE);
  answer.contentLength = length ? static_cast<DWORD>(length) + base : 0;
  return true;
}

void CHttpRequest::ReserveBody(DWORD base, bool announced) {
  const DWORD cap = params.maximumBytes;
  const DWORD expected = cap && cap < answer.contentLength ? cap : answer.contentLength;
  if (expected) {
    // An announced length is reserved once, so a large body is one allocation and never copied on
    // growth. A length that cannot be had (an absurd announcement) falls back to growing.
    if (expected > base) body.Reserve(expected - base);
  } else if (!announced) {
    // Unknown size: address space now, memory as the body grows, so it is never copied. (An announced
    // empty body needs no room at all.)
    body.ReserveAddressSpace(cap);
  }
}

bool CHttpRequest::ReadBody(bool& capped) {
  const DWORD cap = params.maximumBytes;
  const DWORD length = answer.contentLength;
  CReadSizer sizer;
  bool mustAsk = true;  // the last read without a question found nothing
  for (;;) {
    if (observer.Abandoned()) return false;
    DWORD held = body.Held();
    if (cap && held >= cap) return capped = true;
    // With the announced length complete there is nothing more to wait for.
    if (length && held >= length) return true;

    // The question waits for the first byte (or the end) and says how much is there; the read after it
    // takes what has arrived without waiting for more, so a read never outlasts the data that fills it
    // and a slow line is never taken for a silent one.
    // A line fast enough for the largest reads needs no question: it costs a socket receive of its own
    // on some platforms, a fifth of the speed of a fast local line.
    DWORD available = 0;
    if (mustAsk || !sizer.AtLargest()) {
      if (!api.InternetQueryDataAvailable(request.Get(), &available, 0, 0)) return Fail(GetLastError());
      if (available == 0) return true;  // the end of the body
    }
    DWORD wanted = sizer.Next(available);
    if (length && length > held && wanted > length - held) wanted = length - held;
    if (cap && wanted > cap - held) wanted = cap - held;
    DWORD read = 0;
    if (!ReadPiece(wanted, read) || !AppendPiece(read)) return false;
    sizer.Took(read);
    // Nothing without waiting: ask, which waits (and tells the end of a body without a length).
    mustAsk = read == 0;
  }
}

bool CHttpRequest::ReadPiece(DWORD wanted, DWORD& read) {
  if (piece.size() < wanted) piece.resize(wanted);
  uint8_t* into = piece.data();
  if (!readExMissing) {
    // The ANSI form: the buffer is bytes, and the wide one is missing from the WinInet of Windows before
    // IE7 (which answers ERROR_CALL_NOT_IMPLEMENTED).
    INTERNET_BUFFERSA buffers = {};
    buffers.dwStructSize = sizeof(buffers);
    buffers.lpvBuffer = into;
    buffers.dwBufferLength = wanted;
    if (api.InternetReadFileExA(request.Get(), &buffers, IRF_NO_WAIT, 0)) {
      read = buffers.dwBufferLength;
      return true;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_CALL_NOT_IMPLEMENTED) return Fail(error);
    readExMissing = true;
  }
  // Waits for the whole count or the end; the read sizer keeps that count to a fraction of a second.
  if (!api.InternetReadFile(request.Get(), into, wanted, &read)) return Fail(GetLastError());
  return true;
}

bool CHttpRequest::AppendPiece(DWORD read) {
  if (!read || body.Append(piece.data(), read)) return true;
  // Given up meanwhile (the caller may have taken the body), or no memory for it.
  return observer.Abandoned() ? false : Fail(ERROR_NOT_ENOUGH_MEMORY);
}

bool CHttpRequest::ReadStatus() {
  HINTERNET handle = request.Get();
  DWORD size = sizeof(answer.status);
  if (!api.HttpQueryInfoW(handle, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &answer.status, &size, nullptr))
    return Fail(GetLastError());
  wchar_t text[1024] = {};
  size = sizeof(text);
  if (!api.HttpQueryInfoW(handle, HTTP_QUERY_STATUS_TEXT, text, &size, nullptr)) return Fail(GetLastError());
  answer.statusText.assign(text, wcsnlen(text, 1023));
  // A status line without a reason phrase is not accepted, even for 200.
  return !answer.statusText.empty();
}
