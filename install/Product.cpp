#include "install/Product.h"

#include <cwchar>

bool operator>=(const ProductVersion& installed, const ProductVersion& offered) {
  const uint32_t a[] = {installed.major, installed.minor, installed.build, installed.revision};
  const uint32_t b[] = {offered.major, offered.minor, offered.build, offered.revision};
  for (int i = 0; i < 4; ++i) {
    if (a[i] != b[i]) return a[i] > b[i];
  }
  return true;
}

ProductVersion ParseVersion(const std::wstring& text) {
  ProductVersion version;
  uint32_t* parts[] = {&version.major, &version.minor, &version.build, &version.revision};
  size_t start = 0;
  for (int index = 0; index < 4; ++index) {
    size_t dot = text.find(L'.', start);
    std::wstring part = text.substr(start, dot == std::wstring::npos ? std::wstring::npos : dot - start);
    unsigned long value = std::wcstoul(part.c_str(), nullptr, 10);
    // wcstoul saturates at ULONG_MAX, which is 32 bits here; the cast keeps the intent explicit.
    *parts[index] = static_cast<uint32_t>(value);
    if (dot == std::wstring::npos) break;
    start = dot + 1;
  }
  return version;
}
