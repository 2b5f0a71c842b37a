#include "LocalServer.h"

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace local_server {

namespace {

std::wstring Environment(const wchar_t* name) {
  wchar_t value[1024];
  DWORD length = GetEnvironmentVariableW(name, value, 1024);
  return length && length < 1024 ? std::wstring(value, length) : std::wstring();
}

// Wine shows the Unix file system as drive Z:.
std::wstring WindowsPath(const std::wstring& unixPath) {
  std::wstring path = L"Z:" + unixPath;
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

std::wstring RootFile(const std::wstring& path) {
  std::wstring file = WindowsPath(Environment(L"CORVANE_SERVER_ROOT") + path);
  // Create the folders on the way.
  for (size_t slash = file.find(L'\\', 3); slash != std::wstring::npos; slash = file.find(L'\\', slash + 1))
    CreateDirectoryW(file.substr(0, slash).c_str(), nullptr);
  return file;
}

void WriteFile(const std::wstring& file, const std::string& bytes) {
  std::ofstream out(file.c_str(), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

bool Available() { return !Environment(L"CORVANE_SERVER_ROOT").empty() && !Environment(L"CORVANE_HTTP_PORT").empty(); }

std::wstring ProxyAddress() { return L"127.0.0.1:" + Environment(L"CORVANE_PROXY_PORT"); }

std::wstring TinyproxyAddress() {
  std::wstring port = Environment(L"CORVANE_TINYPROXY_PORT");
  return port.empty() || port == L"-" ? std::wstring() : L"127.0.0.1:" + port;
}

std::wstring NginxUrl(bool https, const std::wstring& path) {
  std::wstring port = Environment(https ? L"CORVANE_NGINX_HTTPS_PORT" : L"CORVANE_NGINX_HTTP_PORT");
  if (port.empty() || port == L"-") return std::wstring();
  return (https ? L"https://localhost:" : L"http://localhost:") + port + path;
}

std::wstring Url(bool https, const std::wstring& path) {
  return (https ? L"https://localhost:" + Environment(L"CORVANE_HTTPS_PORT")
                : L"http://localhost:" + Environment(L"CORVANE_HTTP_PORT")) +
         path;
}

void Put(const std::wstring& path, const std::string& body, const std::string& meta) {
  std::wstring file = RootFile(path);
  WriteFile(file, body);
  if (meta.empty()) DeleteFileW((file + L".meta").c_str());
  else WriteFile(file + L".meta", meta);
}

void Remove(const std::wstring& path) {
  std::wstring file = RootFile(path);
  DeleteFileW(file.c_str());
  DeleteFileW((file + L".meta").c_str());
}

std::vector<std::string> Requests() {
  std::ifstream in(WindowsPath(Environment(L"CORVANE_SERVER_LOG")).c_str());
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

namespace {
const wchar_t kInternetSettings[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
}

CThroughProxy::CThroughProxy(const std::wstring& server) {
  HKEY settings = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kInternetSettings, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &settings,
                      nullptr) != ERROR_SUCCESS)
    return;
  key = settings;
  DWORD enable = 1;
  RegSetValueExW(settings, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable), sizeof(enable));
  RegSetValueExW(settings, L"ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                 static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t)));
  // Loopback goes through the proxy too ("<-loopback>"), or there would be nothing to see.
  const wchar_t override[] = L"<-loopback>";
  RegSetValueExW(settings, L"ProxyOverride", 0, REG_SZ, reinterpret_cast<const BYTE*>(override), sizeof(override));
}

CThroughProxy::~CThroughProxy() {
  if (!key) return;
  HKEY settings = static_cast<HKEY>(key);
  DWORD enable = 0;
  RegSetValueExW(settings, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable), sizeof(enable));
  RegDeleteValueW(settings, L"ProxyServer");
  RegDeleteValueW(settings, L"ProxyOverride");
  RegCloseKey(settings);
}

}  // namespace local_server
