#include "net/UrlLoader.h"

#include <exception>
#include <string>

#include "net/ProxyRoute.h"
#include "net/TransferChannel.h"
#include "support/Log.h"
#include "support/MessagePump.h"

namespace {

DWORD g_silenceLimitMs = CUrlLoader::kSilenceLimitMs;

// Reports are coalesced to about one per frame while data flows, and come at least this often while the
// line is silent, so the callback can always cancel.
const DWORD kReportIntervalMs = 30;
const DWORD kSilentReportIntervalMs = 100;

// How long a transfer's own timeouts let a platform call wait: a little beyond the moment its caller
// stops waiting for it, so a worker whose caller gave up ends by itself soon after.
DWORD WorkerTimeoutMs(DWORD silenceLimitMs) { return silenceLimitMs + silenceLimitMs / 4 + 1000; }

DWORD Smaller(DWORD a, DWORD b) { return a < b ? a : b; }

// The proxy's name and password as last accepted in this run: every transfer has a session of its own,
// and the platform does not carry what the user typed from one to the next, so without this the user
// would be asked for every download. Only loads on the caller's thread touch it.
struct ProxyCredentials {
  std::wstring user;
  std::wstring password;
};
ProxyCredentials g_proxyCredentials;

std::wstring QueryText(const WinInetApi& api, HINTERNET handle, DWORD option) {
  wchar_t text[256] = {};
  DWORD size = sizeof(text) / sizeof(wchar_t) - 1;
  if (!api.InternetQueryOptionW(handle, option, text, &size)) return std::wstring();
  return std::wstring(text, wcsnlen(text, 255));
}

void SetText(const WinInetApi& api, HINTERNET handle, DWORD option, const std::wstring& text) {
  api.InternetSetOptionW(handle, option, const_cast<wchar_t*>(text.c_str()), static_cast<DWORD>(text.size() + 1));
}

}  // namespace

// Follows one transfer on the calling thread until it ends, is cancelled, falls silent for too long,
// outlasts its time or the thread is told to quit, and reports every step to the callback in order.
class CUrlLoader::CFollower {
 public:
  // held: the bytes a resumed body starts from.
  CFollower(CUrlLoader& loader, CTransferChannel& channel, CBuffer& buffer, bool& cancel, DWORD held)
      : loader(loader),
        channel(channel),
        buffer(buffer),
        cancel(cancel),
        silenceLimitMs(g_silenceLimitMs),
        started(GetTickCount()),
        reported(held),
        lastReport(started) {}
  CFollower(const CFollower&) = delete;
  CFollower& operator=(const CFollower&) = delete;
  // Whatever ends the following early (a callback that threw) gives the transfer up.
  ~CFollower() {
    if (!done) channel.Abandon();
  }

  bool Run();

 private:
  // False when the callback cancelled.
  bool Handle(const CTransferChannel::Event& event);
  bool Report(DWORD total);
  void AskForProxyCredentials(HINTERNET request);
  // The request that asked for credentials went on with an answer other than the proxy's refusal.
  void ProxyPassed(DWORD status);
  DWORD WaitMs(DWORD lastActivity, DWORD interval) const;
  bool Finish();
  // A cancel (error 0) keeps what the reports told of; a failure what had arrived; either only when asked to.
  bool Abandon(DWORD error);

  CUrlLoader& loader;
  CTransferChannel& channel;
  CBuffer& buffer;
  bool& cancel;
  const DWORD silenceLimitMs;
  const DWORD started;
  bool done = false;
  bool answered = false;  // the answer is in: reports carry its length and the body's progress
  DWORD received = 0;     // as of the last look
  DWORD reported;
  DWORD lastReport;
  HINTERNET offeredTo = nullptr;  // the request last given a name and password, until the proxy's verdict
  ProxyCredentials offered;
};

bool CUrlLoader::CFollower::Run() {
  CTransferChannel::News news;
  for (;;) {
    channel.Look(news);
    received = news.received;
    for (const CTransferChannel::Event& event : news.events) {
      if (!Handle(event)) return Abandon(0);
    }
    // A callback may have taken long (the proxy's dialog, a question left open): what was looked at before
    // it is stale, and the silence and the end are judged on what is true now.
    if (!news.events.empty()) continue;
    if (news.finished) return Finish();

    DWORD now = GetTickCount();
    if (now - news.lastActivity >= silenceLimitMs) {
      loader.endedBy = L"nothing arrived for " + std::to_wstring(silenceLimitMs) + L" ms";
      return Abandon(ERROR_INTERNET_TIMEOUT);
    }
    if (loader.timeLimitMs && now - started >= loader.timeLimitMs) {
      loader.endedBy = L"the time limit of " + std::to_wstring(loader.timeLimitMs) + L" ms";
      return Abandon(ERROR_INTERNET_TIMEOUT);
    }
    // Data is reported at most every kReportIntervalMs; silence (before the answer too) every
    // kSilentReportIntervalMs with the unchanged total, so the callback can always cancel.
    const bool pending = answered && received != reported;
    const DWORD interval = pending ? kReportIntervalMs : kSilentReportIntervalMs;
    if (loader.callback && now - lastReport >= interval && !Report(answered ? received : 0)) return Abandon(0);

    // Sleep until the next report is due, the worker has news, the silence or time limit, or a quit. Data
    // waiting for its report time needs no wake-up: the next report takes it along.
    HANDLE wake = pending && loader.callback ? nullptr : channel.Wake();
    if (PumpedWait(wake, WaitMs(news.lastActivity, interval)) == WaitEnd::Stopped) return Abandon(ERROR_CANCELLED);
  }
}

bool CUrlLoader::CFollower::Handle(const CTransferChannel::Event& event) {
  switch (event.kind) {
    case CTransferChannel::Kind::Error:
      // What arrived before the failure is reported before it.
      if (answered && event.received != reported && !Report(event.received)) return false;
      loader.Fail(event.value);
      return true;
    case CTransferChannel::Kind::Headers:
      loader.contentLength = event.answer.contentLength;
      loader.statusCode = event.answer.status;
      loader.validator = event.answer.validator;
      loader.retryAfterSeconds = event.answer.retryAfterSeconds;
      ProxyPassed(event.answer.status);
      loader.secure = event.answer.secure;
      answered = true;
      // A resumed body starts at what is held.
      return Report(event.received);
    case CTransferChannel::Kind::ProxyCredentials:
      AskForProxyCredentials(event.request);
      return true;
    case CTransferChannel::Kind::BodyEnd:
      if (event.received != reported && !Report(event.received)) return false;
      // The read that found the end is reported too, as the repeat of the final total.
      return !event.value || Report(event.received);
  }
  return true;
}

bool CUrlLoader::CFollower::Report(DWORD total) {
  reported = total;
  lastReport = GetTickCount();
  if (loader.callback) loader.callback->OnProgress(&loader, total, loader.contentLength, &cancel);
  return !cancel;
}

// What the proxy accepted earlier in the run, or else the system's dialog, modal to our window; the worker
// waits for the answer. A request that asks again has been refused what it was given.
void CUrlLoader::CFollower::AskForProxyCredentials(HINTERNET request) {
  const WinInetApi& api = *loader.api;
  if (offeredTo == request) {
    if (offered.user == g_proxyCredentials.user && offered.password == g_proxyCredentials.password)
      g_proxyCredentials = ProxyCredentials();
  } else {
    ProxyPassed(0);
    if (!g_proxyCredentials.user.empty()) {
      offeredTo = request;
      offered = g_proxyCredentials;
      SetText(api, request, INTERNET_OPTION_PROXY_USERNAME, offered.user);
      SetText(api, request, INTERNET_OPTION_PROXY_PASSWORD, offered.password);
      channel.AnswerCredentials(ERROR_INTERNET_FORCE_RETRY);
      return;
    }
  }
  DWORD answer = api.InternetErrorDlg(
      loader.credentialOwner, request, ERROR_INTERNET_INCORRECT_PASSWORD,
      FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS | FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
      nullptr);
  offeredTo = nullptr;
  if (answer == ERROR_INTERNET_FORCE_RETRY) {
    offeredTo = request;
    offered.user = QueryText(api, request, INTERNET_OPTION_PROXY_USERNAME);
    offered.password = QueryText(api, request, INTERNET_OPTION_PROXY_PASSWORD);
  }
  channel.AnswerCredentials(answer);
}

void CUrlLoader::CFollower::ProxyPassed(DWORD status) {
  if (offeredTo && status != HTTP_STATUS_PROXY_AUTH_REQ && !offered.user.empty()) g_proxyCredentials = offered;
  offeredTo = nullptr;
}

DWORD CUrlLoader::CFollower::WaitMs(DWORD lastActivity, DWORD interval) const {
  const DWORD now = GetTickCount();
  const DWORD silent = now - lastActivity;
  DWORD wait = silent < silenceLimitMs ? silenceLimitMs - silent : 0;
  if (loader.timeLimitMs) {
    DWORD spent = now - started;
    wait = Smaller(wait, spent < loader.timeLimitMs ? loader.timeLimitMs - spent : 0);
  }
  if (loader.callback) {
    DWORD sinceReport = now - lastReport;
    wait = Smaller(wait, sinceReport < interval ? interval - sinceReport : 1);
  }
  return wait;
}

bool CUrlLoader::CFollower::Finish() {
  done = true;
  CTransferChannel::Outcome outcome = channel.TakeOutcome();
  buffer = std::move(outcome.body);
  loader.statusCode = outcome.answer.status;
  loader.statusText = outcome.answer.statusText;
  loader.contentLength = outcome.answer.contentLength;
  loader.validator = outcome.answer.validator;
  loader.retryAfterSeconds = outcome.answer.retryAfterSeconds;
  if (outcome.answer.status) ProxyPassed(outcome.answer.status);
  loader.secure = outcome.answer.secure;
  loader.bytesReceived = buffer.Length();
  if (outcome.failure) std::rethrow_exception(outcome.failure);
  return outcome.result;
}

bool CUrlLoader::CFollower::Abandon(DWORD error) {
  done = true;
  channel.Abandon();
  buffer.SetLength(0);
  // What a resumed try starts from, where it lies: the stale worker keeps none of it.
  if (loader.keepPartialBody) channel.TakeHeld(buffer, error ? received : reported);
  loader.bytesReceived = buffer.Length();
  if (error) loader.Fail(error);
  return false;
}

void CUrlLoader::ForgetProxyCredentials() { g_proxyCredentials = ProxyCredentials(); }

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
  secure = false;
  proxy.clear();
  endedBy.clear();
  contentLength = 0;
  bytesReceived = buffer.Length();
  const DWORD held = ifRange.empty() ? 0 : buffer.Length();
  bool cancel = false;
  if (callback) callback->OnBegin(this, url, flags);
  bool result = false;
  std::exception_ptr failure;
  try {
    result = Transfer(buffer, Params(url, headers, flags, ifRange, total), cancel);
  } catch (...) {
    failure = std::current_exception();
  }
  if (RunLog().IsOn()) LogTransfer(url, held, result, cancel);
  // The end is reported once, on every way out, even when memory ran out.
  if (callback) callback->OnEnd(this, cancel);
  if (failure) std::rethrow_exception(failure);
  return result;
}

HttpRequestParams CUrlLoader::Params(const wchar_t* url, const wchar_t* headers, DWORD flags,
                                     const std::wstring& ifRange, DWORD total) const {
  HttpRequestParams params;
  params.url = url ? url : L"";
  params.ansi = headers && *headers;
  if (params.ansi) {
    params.ansiUrl = ToAnsi(params.url.c_str());
    params.ansiHeaders = ToAnsi(headers);
  }
  params.flags = flags;
  params.maximumBytes = maximumBytes;
  params.relaxCertificateChecks = relaxCertificateChecks;
  params.receiveTimeoutMs = WorkerTimeoutMs(g_silenceLimitMs);
  params.ifRange = ifRange;
  params.resumeTotal = total;
  params.answersProxy = credentialOwner != nullptr;
  return params;
}

bool CUrlLoader::Transfer(CBuffer& buffer, const HttpRequestParams& params, bool& cancel) {
  CUniqueT<InternetHandleTraits> session = OpenSession();
  if (!session) return false;
  if (RunLog().IsOn()) NoteProxy(session.Get(), params.url.c_str());
  const DWORD held = buffer.Length();
  auto channel = std::make_shared<CTransferChannel>(std::move(session),
                                                    params.Resuming() ? std::move(buffer) : CBuffer(), callback != nullptr);
  DWORD error = 0;
  if (!CTransferChannel::Start(channel, *api, params, buffer, error)) {
    Fail(error);
    return false;
  }
  CFollower follower(*this, *channel, buffer, cancel, held);
  return follower.Run();
}

void CUrlLoader::NoteProxy(HINTERNET session, const wchar_t* url) {
  // The settings' string names one proxy for all schemes ("host:port") or one per scheme
  // ("http=host:port;https=host:port"); only the host and port are kept, never anything else it holds.
  union {
    INTERNET_PROXY_INFO info;
    wchar_t room[1024];
  } answer = {};
  DWORD size = sizeof(answer);
  if (!api->InternetQueryOptionW(session, INTERNET_OPTION_PROXY, &answer, &size)) {
    proxy = L"unknown (error " + std::to_wstring(GetLastError()) + L")";
    return;
  }
  const wchar_t* list = reinterpret_cast<const wchar_t*>(answer.info.lpszProxy);
  if (answer.info.dwAccessType != INTERNET_OPEN_TYPE_PROXY || !list || !*list) {
    proxy = L"none";
    return;
  }
  std::wstring chosen = ProxyForScheme(list, url);
  if (chosen.empty()) {
    proxy = L"none for this scheme";
    return;
  }
  chosen = RedactUrl(chosen);
  size_t path = chosen.find(L'/', chosen.find(L"://") == std::wstring::npos ? 0 : chosen.find(L"://") + 3);
  proxy = chosen.substr(0, path);
}

void CUrlLoader::LogTransfer(const wchar_t* url, DWORD held, bool result, bool cancelled) const {
  std::wstring line = L"GET " + RedactUrl(url ? url : L"");
  if (held) line += L" (resuming: Range bytes=" + std::to_wstring(held) + L"-)";
  line += L": proxy " + (proxy.empty() ? std::wstring(L"not reached") : proxy);
  line += L", TLS " + std::wstring(statusCode ? (secure ? L"yes" : L"no") : L"-");
  line += L", status " + std::to_wstring(statusCode);
  line += L", length " + (contentLength ? std::to_wstring(contentLength) : std::wstring(L"not announced"));
  line += L", received " + std::to_wstring(bytesReceived);
  if (result) {
    LogInfo(line);
    return;
  }
  if (cancelled) {
    line += L"; cancelled";
  } else if (lastError) {
    line += L"; failed: " + InternetErrorName(lastError);
    if (!endedBy.empty()) line += L" (" + endedBy + L")";
  } else {
    line += L"; not a success";
  }
  LogWarning(line);
}
