// Whether the system's proxy carries a request. Only a proxy in use may ask for a proxy password: a 407
// from anybody else (anyone on the path of a plain request) would receive the user's Basic credentials in
// clear, for a realm of its choosing.
#pragma once

#include <string>

// proxyList and bypassList as the platform reports them (INTERNET_PROXY_INFO). Proxy entries are
// "host:port" (every scheme) or "scheme=host:port", separated by ';' or spaces. Bypass entries are host
// patterns with '*', "<local>" (names without a dot) and "<-loopback>"; without the latter, loopback
// addresses never go through the proxy.
// The entry of proxyList that carries the URL's scheme, as "host:port" (or whatever the entry holds): its
// own "scheme=" entry first, else one for every scheme; empty when none does. The bypass list plays no part.
std::wstring ProxyForScheme(const std::wstring& proxyList, const std::wstring& url);

bool ProxyServesUrl(const std::wstring& proxyList, const std::wstring& bypassList, const std::wstring& url);
