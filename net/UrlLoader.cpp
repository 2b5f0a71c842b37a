#include "net/UrlLoader.h"

#include <cwchar>
#include <string>

namespace {

// Text in the thread's ANSI code page, for InternetOpenUrlA.
std::string ToAnsi(const wchar_t* text) {
  int size = WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, &out[0], size, nullptr, nullptr);
  out.resize(static_cast<size_t>(size) - 1);
  return out;
}

}  // namespace

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

bool CUrlLoader::OpenInternet() {
  if (internet) return true;
  if (!api) {
    Fail(ERROR_MOD_NOT_FOUND);
    return false;
  }
  internet.Reset(api->InternetOpenW(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!internet) {
    Fail(GetLastError());
    return false;
  }
  // Applied once, to the handle that every request of this loader shares.
  const struct {
    DWORD option;
    DWORD seconds;
  } timeouts[] = {{INTERNET_OPTION_CONNECT_TIMEOUT, connectTimeout},
                  {INTERNET_OPTION_SEND_TIMEOUT, sendTimeout},
                  {INTERNET_OPTION_RECEIVE_TIMEOUT, receiveTimeout}};
  for (const auto& t : timeouts) {
    if (t.seconds) SetTimeoutOption(t.option, t.seconds);
  }
  return true;
}

bool CUrlLoader::SetTimeoutOption(DWORD option, DWORD seconds) {
  if (!internet) return false;
  DWORD milliseconds = seconds * 1000;
  return api->InternetSetOptionW(internet.Get(), option, &milliseconds, sizeof(milliseconds)) != FALSE;
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
  lastError = 0;
  statusCode = 0;
  statusText.clear();
  buffer.SetLength(0);
  contentLength = 0;
  bytesReceived = 0;
  bool cancel = false;

  if (callback) callback->OnBegin(this, url, flags);
  if (!OpenInternet()) {
    if (callback) callback->OnEnd(this, false);
    return false;
  }

  CUniqueT<InternetHandleTraits> request;
  bool result;
  try {
    result = Transfer(request, buffer, url, headers, flags, cancel);
  } catch (...) {
    // The end is reported on every way out, after the request is closed, even when memory ran out.
    request.Reset();
    if (callback) callback->OnEnd(this, cancel);
    throw;
  }
  request.Reset();
  if (callback) callback->OnEnd(this, cancel);
  return result;
}

bool CUrlLoader::Transfer(CUniqueT<InternetHandleTraits>& request, CBuffer& buffer, const wchar_t* url,
                          const wchar_t* headers, DWORD flags, bool& cancel) {
  if (headers && *headers) {
    // Extra headers go through the ANSI entry point, so the URL travels with them in the same code page.
    std::string ansiUrl = ToAnsi(url);
    std::string ansiHeaders = ToAnsi(headers);
    request.Reset(api->InternetOpenUrlA(internet.Get(), ansiUrl.c_str(), ansiHeaders.c_str(),
                                   static_cast<DWORD>(ansiHeaders.size()), flags, 0));
  } else {
    request.Reset(api->InternetOpenUrlW(internet.Get(), url, nullptr, 0, flags, 0));
  }
  if (!request) {
    Fail(GetLastError());
    return false;
  }

  if (relaxCertificateChecks) {
    DWORD security = 0;
    DWORD size = sizeof(security);
    if (api->InternetQueryOptionW(request.Get(), INTERNET_OPTION_SECURITY_FLAGS, &security, &size)) {
      security |= SECURITY_FLAG_IGNORE_CERT_DATE_INVALID | SECURITY_FLAG_IGNORE_REVOCATION;
      api->InternetSetOptionW(request.Get(), INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof(security));
    }
  }

  DWORD size = sizeof(contentLength);
  if (!api->HttpQueryInfoW(request.Get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &contentLength, &size,
                      nullptr)) {
    // Chunked and close-delimited bodies announce no length: reported, and the transfer goes on.
    contentLength = 0;
    Fail(GetLastError());
  }

  if (contentLength == 0) {
    if (!ReadStatus(request.Get())) return false;
    // No content: done, and a success whatever the (absent) length says.
    if (statusCode == HTTP_STATUS_NO_CONTENT) return true;
  }

  if (callback) {
    callback->OnProgress(this, 0, contentLength, &cancel);
    if (cancel) return false;
  }

  // An announced length is reserved once, so a large body is one allocation and never copied on growth.
  // A length that cannot be had (an absurd announcement) falls back to growing as the data arrives.
  if (contentLength) {
    DWORD expected = maximumBytes && maximumBytes < contentLength ? maximumBytes : contentLength;
    buffer.Reserve(expected);
  }

  for (;;) {
    DWORD available = 0;
    if (!api->InternetQueryDataAvailable(request.Get(), &available, 0, 0)) {
      Fail(GetLastError());
      return false;
    }
    DWORD wanted = available;
    bool lastPass = false;
    if (maximumBytes && (buffer.Length() >= maximumBytes || wanted > maximumBytes - buffer.Length())) {
      wanted = maximumBytes > buffer.Length() ? maximumBytes - buffer.Length() : 0;
      lastPass = true;
    }
    if (!buffer.Reserve(wanted)) {
      // Never read into space the buffer does not have.
      Fail(ERROR_NOT_ENOUGH_MEMORY);
      return false;
    }
    DWORD read = 0;
    uint8_t none;  // the end-of-body read asks for nothing, but still needs somewhere to put it
    if (!api->InternetReadFile(request.Get(), wanted ? buffer.Data() + buffer.Length() : &none, wanted, &read)) {
      Fail(GetLastError());
      return false;
    }
    if (callback) {
      callback->OnProgress(this, bytesReceived + read, contentLength, &cancel);
      if (cancel) return false;
    }
    if (read == 0) break;
    buffer.SetLength(buffer.Length() + read);
    bytesReceived += read;
    if (lastPass) break;
  }

  if (!ReadStatus(request.Get())) return false;
  // WinInet ends a body whose connection dropped early like a complete one. A body shorter than its
  // announced length is a truncated download, not a success (unless the cap cut it on purpose).
  if (contentLength && bytesReceived < contentLength && !(maximumBytes && bytesReceived >= maximumBytes)) {
    Fail(ERROR_INTERNET_CONNECTION_ABORTED);
    return false;
  }
  return statusCode >= 200 && statusCode <= 299;
}

bool CUrlLoader::ReadStatus(HINTERNET request) {
  DWORD size = sizeof(statusCode);
  if (!api->HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &statusCode, &size, nullptr)) {
    Fail(GetLastError());
    return false;
  }
  wchar_t text[1024] = {};
  size = sizeof(text);
  if (!api->HttpQueryInfoW(request, HTTP_QUERY_STATUS_TEXT, text, &size, nullptr)) {
    Fail(GetLastError());
    return false;
  }
  statusText.assign(text, wcsnlen(text, 1023));
  // A status line without a reason phrase is not accepted, even for 200.
  return !statusText.empty();
}
