// Text helpers over CBuffer holding UTF-16 text. The byte length counts the text without a terminator;
// every helper keeps a 0 unit stored after the text so that the data always reads as a C string.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "support/Buffer.h"

// Copies n units. Short runs (names, values, pieces of text between references) are copied by hand: for
// them a call into the C runtime's memcpy costs more than the copy.
inline void CopyUnits(wchar_t* to, const wchar_t* from, uint32_t n) {
  if (n > 32) {
    std::memcpy(to, from, n * sizeof(wchar_t));
    return;
  }
  for (uint32_t i = 0; i < n; ++i) to[i] = from[i];
}

// string = the n units, copied as CopyUnits does.
inline void AssignUnits(std::wstring& string, const wchar_t* units, uint32_t n) {
  string.resize(n);
  CopyUnits(&string[0], units, n);
}

// Appends a 0-terminated text; a null text changes nothing. False when the buffer cannot grow.
bool AppendString(CBuffer& buffer, const wchar_t* text);
// Appends at most n units of text, stopping before the first 0 unit.
bool AppendCounted(CBuffer& buffer, const wchar_t* units, uint32_t n);
// Appends exactly n units (0 units included), for text whose length is known.
bool AppendUnits(CBuffer& buffer, const wchar_t* units, uint32_t n);
// Replaces every occurrence of pattern, left to right without overlap; replaced text is not searched
// again. A null or empty pattern replaces nothing; a null replacement deletes the occurrences. The buffer
// grows once, before anything is replaced; when it cannot, nothing is replaced and 0 is returned.
// Returns the number of replacements.
uint32_t ReplaceAll(CBuffer& buffer, const wchar_t* pattern, const wchar_t* replacement);

// A line feed followed only by tabs: the shape of the indentation the writer makes.
bool IsIndentation(const wchar_t* text, uint32_t length);

// The text held by a buffer, in units.
inline uint32_t TextLength(const CBuffer& buffer) {
  return buffer.Length() / sizeof(wchar_t);
}
inline std::wstring TextOf(const CBuffer& buffer) {
  return std::wstring(buffer.GetText(), TextLength(buffer));
}
// Empties a text buffer and stores the terminator. Inline: the parser does it for every token.
inline void ClearText(CBuffer& buffer) {
  buffer.SetLength(0);
  if (buffer.Capacity() >= sizeof(wchar_t)) reinterpret_cast<wchar_t*>(buffer.Data())[0] = 0;
}
