// Fills localized templates. Placeholders are positional, {0} to {9}, so each translation can order the
// parts as its grammar needs ("{0} of {1}" in English, "{1} 之 {0}" in Traditional Chinese). Templates
// written with %s / %u are accepted too: they are numbered in order of appearance first.
#pragma once

#include <string>

// args[d] is argument d, or null when absent. An absent argument leaves a visible marker: {0} becomes
// "%1", {8} "%9" and {9} "%:" (the character after '9'), so a missing value shows instead of vanishing.
// Argument texts are inserted as they are and never searched for placeholders themselves.
std::wstring FormatArgs(const std::wstring& templateText, const wchar_t* const (&args)[10]);

inline const wchar_t* FormatArgText(const std::wstring& s) { return s.c_str(); }
inline const wchar_t* FormatArgText(const wchar_t* s) { return s; }

// Format(template, a0 [, a1 ... a9]): one to ten leading arguments, the rest absent.
template <class... Args>
std::wstring Format(const std::wstring& templateText, const Args&... arguments) {
  static_assert(sizeof...(Args) >= 1 && sizeof...(Args) <= 10, "one to ten arguments");
  const wchar_t* args[10] = {};
  size_t i = 0;
  ((args[i++] = FormatArgText(arguments)), ...);
  return FormatArgs(templateText, args);
}
