// The local update server as the tests see it: its URLs, the files it serves and its request log. The
// harness (scripts/test) starts it and passes its root folder, ports and log through the environment.
#pragma once

#include <string>
#include <vector>

namespace local_server {

// False when the harness did not start a server (the tests that need one are then skipped).
bool Available();
// http(s)://localhost:PORT + path (path starts with '/').
std::wstring Url(bool https, const std::wstring& path);
// The server's HTTP proxy as "127.0.0.1:PORT" (see update_server.py).
std::wstring ProxyAddress();
// The real peers that the server starts beside it (update_server.py): Debian's tinyproxy, which asks for
// Basic authentication (kTinyproxyUser, kTinyproxyPassword), and Debian's nginx over the same root folder.
// Empty when the peer did not start.
std::wstring TinyproxyAddress();
std::wstring NginxUrl(bool https, const std::wstring& path);
constexpr const wchar_t* kTinyproxyUser = L"corvane";
constexpr const wchar_t* kTinyproxyPassword = L"tiny-proxy-secret";
// Serves body at path; meta (JSON) scripts the answer (status, reason, mode...), empty for a plain 200.
void Put(const std::wstring& path, const std::string& body, const std::string& meta = "");
void Remove(const std::wstring& path);
// The request log, one JSON line per request, in arrival order.
std::vector<std::string> Requests();

// For its life, this user's Internet settings (what WinInet reads when a session opens, in this process and
// in programs started from it) send every request, loopback included, through the server's proxy (or the
// one at address, "host:port").
class CThroughProxy {
 public:
  explicit CThroughProxy(const std::wstring& address = ProxyAddress());
  ~CThroughProxy();
  CThroughProxy(const CThroughProxy&) = delete;
  CThroughProxy& operator=(const CThroughProxy&) = delete;

 private:
  void* key = nullptr;  // HKEY, kept out of this header's includes
};

}  // namespace local_server
