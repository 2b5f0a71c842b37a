#include "xml/XmlText.h"

#include <cstring>
#include <cwchar>

namespace {

uint32_t CountedLength(const wchar_t* text) {
  size_t n = std::wcslen(text);
  return n > UINT32_MAX / sizeof(wchar_t) ? UINT32_MAX / sizeof(wchar_t) : static_cast<uint32_t>(n);
}

}  // namespace

bool AppendUnits(CBuffer& buffer, const wchar_t* units, uint32_t n) {
  if (n > (UINT32_MAX - sizeof(wchar_t)) / sizeof(wchar_t)) return false;
  // One reservation for the text and its terminator, so a failure leaves the old text terminated.
  if (!buffer.Reserve((n + 1) * sizeof(wchar_t))) return false;
  wchar_t* end = reinterpret_cast<wchar_t*>(buffer.Data() + buffer.Length());
  CopyUnits(end, units, n);
  end[n] = 0;
  buffer.SetLength(buffer.Length() + n * static_cast<uint32_t>(sizeof(wchar_t)));
  return true;
}

bool AppendString(CBuffer& buffer, const wchar_t* text) {
  if (!text) return true;
  size_t n = std::wcslen(text);
  if (n > UINT32_MAX / sizeof(wchar_t)) return false;
  return AppendUnits(buffer, text, static_cast<uint32_t>(n));
}

bool AppendCounted(CBuffer& buffer, const wchar_t* units, uint32_t n) {
  if (!units) return true;
  uint32_t length = 0;
  while (length < n && units[length]) ++length;
  return AppendUnits(buffer, units, length);
}

bool IsIndentation(const wchar_t* text, uint32_t length) {
  if (length == 0 || text[0] != L'\n') return false;
  for (uint32_t i = 1; i < length; ++i) {
    if (text[i] != L'\t') return false;
  }
  return true;
}

uint32_t ReplaceAll(CBuffer& buffer, const wchar_t* pattern, const wchar_t* replacement) {
  if (!pattern || !*pattern) return 0;
  const uint32_t patternLength = CountedLength(pattern);
  const uint32_t replacementLength = replacement ? CountedLength(replacement) : 0;
  const uint32_t length = TextLength(buffer);
  if (length < patternLength) return 0;

  const wchar_t* text = buffer.GetText();
  uint32_t count = 0;
  for (uint32_t i = 0; i + patternLength <= length;) {
    if (text[i] == pattern[0] && std::wmemcmp(text + i, pattern, patternLength) == 0) {
      ++count;
      i += patternLength;
    } else {
      ++i;
    }
  }
  if (count == 0) return 0;

  // Sizes are 32-bit: the grown length is computed in 64 bits and refused when it does not fit.
  const uint64_t newLength64 = static_cast<uint64_t>(length) +
                               static_cast<uint64_t>(count) * replacementLength -
                               static_cast<uint64_t>(count) * patternLength;
  if ((newLength64 + 1) * sizeof(wchar_t) > UINT32_MAX) return 0;
  const uint32_t newLength = static_cast<uint32_t>(newLength64);
  const uint32_t grow = newLength > length ? newLength - length : 0;
  if (!buffer.Reserve((grow + 1) * sizeof(wchar_t))) return 0;

  wchar_t* data = reinterpret_cast<wchar_t*>(buffer.Data());
  // Growing: the old text moves to the end of the new room first. Output then runs left to right and never
  // overtakes the input it still has to read, because each replacement adds at most what was reserved.
  uint32_t source = grow;
  if (grow) std::memmove(data + grow, data, length * sizeof(wchar_t));
  const uint32_t sourceEnd = grow + length;
  uint32_t out = 0;
  while (source < sourceEnd) {
    if (source + patternLength <= sourceEnd && data[source] == pattern[0] &&
        std::wmemcmp(data + source, pattern, patternLength) == 0) {
      if (replacementLength) std::memmove(data + out, replacement, replacementLength * sizeof(wchar_t));
      out += replacementLength;
      source += patternLength;
    } else {
      data[out++] = data[source++];
    }
  }
  data[out] = 0;
  buffer.SetLength(out * sizeof(wchar_t));
  return count;
}
