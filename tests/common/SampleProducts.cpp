#include "SampleProducts.h"

#include <fstream>

#include "LocalServer.h"

namespace local_server {

namespace {

std::string ReadBytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::string Manifest(const char* version, const std::wstring& url, size_t length, const char* params) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<update><release version=\"" + std::string(version) +
         "\"><executable url=\"" + Narrow(url) + "\" length=\"" + std::to_string(length) + "\"" +
         (params ? std::string(" params=\"") + params + "\"" : std::string()) + "/></release></update>";
}

}  // namespace

bool PublishSampleProducts(const std::wstring& installers,
                           const std::function<std::wstring(const std::wstring&)>& dress) {
  auto url = [&](const wchar_t* path) { return dress ? dress(Url(true, path)) : Url(true, path); };
  std::string quillora = ReadBytes(installers + L"\\QuilloraSetup.exe");
  std::string pagewing = ReadBytes(installers + L"\\setup.exe");
  if (quillora.empty() || pagewing.empty()) return false;
  Put(L"/installers/QuilloraSetup.exe", quillora);
  Put(L"/installers/setup.exe", pagewing);
  Put(L"/public/QLWin5/update.xml",
      Manifest("6.0 (100)", url(L"/installers/QuilloraSetup.exe"), quillora.size(), nullptr));
  Put(L"/downloads/jp/download/xml/mgr/w-quillora/PagewingInstall.xml",
      Manifest("6.0.0.0", url(L"/installers/setup.exe"), pagewing.size(), "/S /lang=en"));
  Put(L"/location-check", "US");
  return true;
}

}  // namespace local_server
