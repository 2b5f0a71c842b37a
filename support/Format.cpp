#include "support/Format.h"

#include <cwchar>

namespace {

// "%s" and "%u" become {0}, {1}, ... in order of appearance; any other '%' stays as it is.
std::wstring NumberPrintfPlaceholders(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size() + 8);
  unsigned counter = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'%' && i + 1 < text.size() && (text[i + 1] == L's' || text[i + 1] == L'u')) {
      out += L'{';
      out += std::to_wstring(counter++);
      out += L'}';
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

std::wstring FormatArgs(const std::wstring& templateText, const wchar_t* const (&args)[10]) {
  const std::wstring text =
      templateText.find(L'%') != std::wstring::npos ? NumberPrintfPlaceholders(templateText) : templateText;
  std::wstring out;
  out.reserve(text.size() + 32);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'{' && i + 2 < text.size() && text[i + 1] >= L'0' && text[i + 1] <= L'9' &&
        text[i + 2] == L'}') {
      int digit = text[i + 1] - L'0';
      if (args[digit]) {
        out += args[digit];
      } else {
        out += L'%';
        out += static_cast<wchar_t>(L'1' + digit);
      }
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}
