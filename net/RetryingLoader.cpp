#include "net/RetryingLoader.h"

#include "support/Log.h"
#include "support/MessagePump.h"

namespace {

// Why a try failed, as the log tells it.
std::wstring FailureReason(DWORD error, DWORD status) {
  if (status >= 300) return L"status " + std::to_wstring(status);
  if (error) return InternetErrorName(error);
  return L"status " + std::to_wstring(status);
}

}  // namespace

const DWORD CRetryingLoader::kWaitsMs[kTries - 1] = {1000, 2000, 4000};

CRetryingLoader::CRetryingLoader(IUrlLoaderCallback* callback, const wchar_t* agent, IRetryWait* wait,
                                 DWORD maximumBytes)
    : callback(callback), wait(wait), loader(callback ? this : nullptr, agent, 0, 0, 0, maximumBytes) {}

bool CRetryingLoader::MayPass(DWORD error, DWORD status) {
  switch (status) {
    case HTTP_STATUS_REQUEST_TIMEOUT:
    case 429:  // too many requests
    case HTTP_STATUS_SERVER_ERROR:
    case HTTP_STATUS_BAD_GATEWAY:
    case HTTP_STATUS_SERVICE_UNAVAIL:
    case HTTP_STATUS_GATEWAY_TIMEOUT:
      return true;
    case CHttpRequest::kRangeNotSatisfiable:
      // A resume whose held bytes did not fit the file: they were dropped, and the next try asks for all.
      return error == ERROR_HTTP_INVALID_SERVER_RESPONSE;
    default:
      // Any other refusal by the server is its answer: asking again gets the same one.
      if (status >= 300) return false;
  }
  switch (error) {
    case ERROR_INTERNET_TIMEOUT:
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
    case WSAECONNRESET:
    case WSAECONNABORTED:
      return true;
    default:
      // Certificates, a cancel, memory: no second try changes them.
      return false;
  }
}

bool CRetryingLoader::Load(CBuffer& buffer, const wchar_t* url, DWORD flags) {
  tries = 0;
  cancelled = false;
  waitCut = false;
  shownReceived = shownTotal = 0;
  buffer.SetLength(0);
  if (callback) callback->OnBegin(&loader, url, flags);
  std::wstring validator;  // of the answer whose bytes the buffer holds
  DWORD total = 0;         // that answer's whole length, 0 when not announced
  bool loaded = false;
  const DWORD started = GetTickCount();
  auto left = [&]() -> DWORD {
    DWORD spent = GetTickCount() - started;
    return spent < timeLimitMs ? timeLimitMs - spent : 1;  // 1: the next wait or load ends at once
  };
  for (;;) {
    ++tries;
    if (timeLimitMs) loader.SetTimeLimit(left());
    // What a failed try held is what the next one resumes from; after the last there is no next.
    loader.KeepPartialBody(tries < kTries);
    const bool resuming = buffer.Length() > 0;
    loaded = resuming ? loader.Resume(buffer, url, validator, total, flags) : loader.Load(buffer, url, nullptr, flags);
    if (loaded || cancelled) break;
    if (tries == kTries || !MayPass(loader.LastError(), loader.StatusCode())) {
      LogWarning(L"Try " + std::to_wstring(tries) + L" of " + std::to_wstring(kTries) + L" failed (" +
                 FailureReason(loader.LastError(), loader.StatusCode()) + L"): no further try");
      break;
    }
    DWORD status = loader.StatusCode();
    if (status == HTTP_STATUS_OK || status == HTTP_STATUS_PARTIAL_CONTENT) {
      validator = loader.Validator();
      total = loader.ContentLength();
    } else if (!resuming) {
      // An error page, or nothing: no bytes of the file.
      buffer.SetLength(0);
    }
    // Without a validator nobody can tell whether the rest would belong to the same file.
    if (validator.empty()) buffer.SetLength(0);
    DWORD retryAfter = loader.RetryAfterSeconds();
    const bool serverSaid = retryAfter <= kLongestRetryAfterMs / 1000;
    DWORD pause = serverSaid ? retryAfter * 1000 : kWaitsMs[tries - 1];
    // A try that could not start in time is no try: the limit has the last word.
    const bool inTime = !timeLimitMs || pause < left();
    LogWarning(L"Try " + std::to_wstring(tries) + L" of " + std::to_wstring(kTries) + L" failed (" +
               FailureReason(loader.LastError(), loader.StatusCode()) + L"): " +
               (inTime ? L"waiting " + std::to_wstring(pause) + L" ms (" +
                             (serverSaid ? L"the server's Retry-After" : L"back-off") +
                             L"), then " +
                             (buffer.Length() ? L"resuming from byte " + std::to_wstring(buffer.Length())
                                              : std::wstring(L"from the start"))
                       : std::wstring(L"no time left for another try")));
    if (!inTime) break;
    if (!WaitBeforeTry(pause)) {
      LogInfo(L"The wait before the next try was cut short");
      waitCut = true;
      break;
    }
  }
  if (!loaded && !cancelled && !waitCut) {
    // What is held of a file that did not arrive whole is no body for anybody.
    DWORD status = loader.StatusCode();
    if (status == HTTP_STATUS_OK || status == HTTP_STATUS_PARTIAL_CONTENT) buffer.SetLength(0);
  }
  if (callback) callback->OnEnd(&loader, cancelled || waitCut);
  return loaded;
}

bool CRetryingLoader::WaitBeforeTry(DWORD milliseconds) {
  if (wait) return wait->Wait(milliseconds);
  return PumpedWait(nullptr, milliseconds) == WaitEnd::TimedOut;
}

void CRetryingLoader::OnBegin(CUrlLoader*, const wchar_t*, DWORD) {}

void CRetryingLoader::OnProgress(CUrlLoader* inner, DWORD received, DWORD contentLength, bool* cancel) {
  // Only an answer that carries the file moves the bar. Before a try's answer the loader reports nothing
  // held, and an error page (a 503 before the next try) has a length of its own: either would send the bar
  // back to zero, or fill it with a page that is not the file, only to drop it again. The callback still
  // hears every report, so it can cancel at any time.
  DWORD status = inner->StatusCode();
  if (status >= 200 && status <= 299) {
    shownReceived = received;
    shownTotal = contentLength;
  }
  callback->OnProgress(inner, shownReceived, shownTotal, cancel);
  // Nothing resumes a cancelled load: its bytes are worth no copy.
  if (*cancel) loader.KeepPartialBody(false);
}

void CRetryingLoader::OnError(CUrlLoader* inner, DWORD error) { callback->OnError(inner, error); }

void CRetryingLoader::OnEnd(CUrlLoader*, bool cancel) { cancelled = cancelled || cancel; }
