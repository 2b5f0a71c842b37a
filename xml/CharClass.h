// Character classes of the XML dialect the parser reads. Units below 128 are decided by one table; larger
// units by the letter, combining-character and extender ranges of XML 1.0 (Appendix B).
#pragma once

#include <cstdint>

namespace xmlchar {

enum : uint8_t {
  kSpace = 0x01,      // tab, line feed, carriage return, space
  kChar = 0x02,       // allowed in text: tab, LF, CR, 0x20..0x7F, 0x80..0xFFFD (surrogates included)
  kNameStart = 0x04,  // letters, '_', ':'
  kNameChar = 0x08,   // NameStart, '0'-'9', '-', '.', combining characters, extenders
  kDigit = 0x10,
  kHexDigit = 0x20,
};

// Classes of the units below 128.
extern const uint8_t kAsciiClass[128];

bool IsLetter(uint32_t unit);  // BaseChar or Ideographic
bool IsCombiningChar(uint32_t unit);
bool IsExtender(uint32_t unit);

inline bool IsSpace(wchar_t u) {
  return u < 128 && (kAsciiClass[u] & kSpace);
}
inline bool IsChar(wchar_t u) {
  return u < 128 ? (kAsciiClass[u] & kChar) != 0 : u <= 0xFFFD;
}
inline bool IsNameStart(wchar_t u) {
  return u < 128 ? (kAsciiClass[u] & kNameStart) != 0 : IsLetter(u);
}
// The non-ASCII Digit class of Appendix B is deliberately not part of it.
inline bool IsNameChar(wchar_t u) {
  return u < 128 ? (kAsciiClass[u] & kNameChar) != 0 : IsLetter(u) || IsCombiningChar(u) || IsExtender(u);
}
inline bool IsDigit(wchar_t u) {
  return u >= L'0' && u <= L'9';
}
inline bool IsHexDigit(wchar_t u) {
  return u < 128 && (kAsciiClass[u] & kHexDigit);
}
inline bool IsHighSurrogate(uint32_t u) {
  return u >= 0xD800 && u <= 0xDBFF;
}
inline bool IsLowSurrogate(uint32_t u) {
  return u >= 0xDC00 && u <= 0xDFFF;
}

}  // namespace xmlchar

// Non-empty, a name-start unit first and name units after it. A null name is not valid.
bool IsValidName(const wchar_t* name);
bool IsValidName(const wchar_t* name, uint32_t length);
