#include "net/ProxyRoute.h"

#include <cwctype>
#include <vector>

namespace {

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

std::vector<std::wstring> Entries(const std::wstring& list) {
  std::vector<std::wstring> entries;
  std::wstring entry;
  for (wchar_t c : list + L";") {
    if (c == L';' || c == L' ' || c == L'\t' || c == L'\r' || c == L'\n') {
      if (!entry.empty()) entries.push_back(entry);
      entry.clear();
    } else {
      entry += c;
    }
  }
  return entries;
}

// '*' stands for any run of characters.
bool Matches(const wchar_t* pattern, const wchar_t* text) {
  if (*pattern == 0) return *text == 0;
  if (*pattern == L'*') return Matches(pattern + 1, text) || (*text && Matches(pattern, text + 1));
  return *text == *pattern && Matches(pattern + 1, text + 1);
}

bool IsLoopback(const std::wstring& host) {
  return host == L"localhost" || host.compare(0, 4, L"127.") == 0 || host == L"[::1]" || host == L"::1";
}

}  // namespace

std::wstring ProxyForScheme(const std::wstring& proxyList, const std::wstring& url) {
  const size_t separator = url.find(L"://");
  if (separator == std::wstring::npos) return std::wstring();
  const std::wstring scheme = Lower(url.substr(0, separator)) + L"=";
  std::wstring forEveryScheme;
  for (const std::wstring& entry : Entries(proxyList)) {
    if (Lower(entry.substr(0, scheme.size())) == scheme) return entry.substr(scheme.size());
    if (forEveryScheme.empty() && entry.find(L'=') == std::wstring::npos) forEveryScheme = entry;
  }
  return forEveryScheme;
}

bool ProxyServesUrl(const std::wstring& proxyList, const std::wstring& bypassList, const std::wstring& url) {
  const std::wstring lowered = Lower(url);
  const size_t separator = lowered.find(L"://");
  if (separator == std::wstring::npos) return false;
  std::wstring host = lowered.substr(separator + 3, lowered.find_first_of(L"/?#", separator + 3) - separator - 3);
  host = host.substr(host.find(L'@') == std::wstring::npos ? 0 : host.find(L'@') + 1);
  const size_t port = host.rfind(L':');
  if (port != std::wstring::npos && host.find(L']', port) == std::wstring::npos) host.resize(port);

  if (ProxyForScheme(proxyList, url).empty()) return false;
  bool loopbackBypassed = true;
  for (const std::wstring& entry : Entries(Lower(bypassList))) {
    if (entry == L"<-loopback>") loopbackBypassed = false;
    else if (entry == L"<local>" ? host.find(L'.') == std::wstring::npos : Matches(entry.c_str(), host.c_str()))
      return false;
  }
  return !(loopbackBypassed && IsLoopback(host));
}
