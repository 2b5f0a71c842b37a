// UTF-8 <-> UTF-16 coding for the XML library: the decoder behind LoadFromBuffer and stream loading, and
// the encoder behind file streams and the document's UTF-8 output.
#pragma once

#include <cstdint>

#include "support/Buffer.h"

// Decodes the sequence at bytes: returns its length (1 to 6) and stores the code point, or returns 0 when
// the bytes do not hold a whole valid sequence: a byte that cannot lead, a missing or non-continuation
// byte, or an overlong form (which would let "<" or "&" hide as C0 BC or C0 A6).
inline uint32_t DecodeUtf8(const uint8_t* bytes, uint32_t available, uint32_t* codePoint) {
  const uint8_t lead = bytes[0];
  if (lead < 0x80) {
    *codePoint = lead;
    return 1;
  }
  uint32_t length;
  uint32_t value;
  uint32_t minimum;
  if (lead < 0xC0) {
    return 0;
  } else if (lead < 0xE0) {
    length = 2, value = lead & 0x1Fu, minimum = 0x80;
  } else if (lead < 0xF0) {
    length = 3, value = lead & 0x0Fu, minimum = 0x800;
  } else if (lead < 0xF8) {
    length = 4, value = lead & 0x07u, minimum = 0x10000;
  } else if (lead < 0xFC) {
    length = 5, value = lead & 0x03u, minimum = 0x200000;
  } else if (lead < 0xFE) {
    length = 6, value = lead & 0x01u, minimum = 0x4000000;
  } else {
    return 0;
  }
  if (available < length) return 0;
  for (uint32_t i = 1; i < length; ++i) {
    const uint8_t next = bytes[i];
    if ((next & 0xC0) != 0x80) return 0;
    value = (value << 6) | (next & 0x3Fu);
  }
  if (value < minimum) return 0;
  *codePoint = value;
  return length;
}

// The UTF-16 form of a decoded code point: a surrogate pair from 0x10000 to 0x10FFFF, '?' from 0x110000
// on, otherwise the unit itself (so an encoded surrogate or 0 reaches the parser, which judges it).
// Returns the number of units (1 or 2).
inline uint32_t CodePointToUtf16(uint32_t codePoint, wchar_t* units) {
  if (codePoint >= 0x110000) {
    units[0] = L'?';
    return 1;
  }
  if (codePoint >= 0x10000) {
    codePoint -= 0x10000;
    units[0] = static_cast<wchar_t>(0xD800 + (codePoint >> 10));
    units[1] = static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF));
    return 2;
  }
  units[0] = static_cast<wchar_t>(codePoint);
  return 1;
}

// Appends the UTF-8 form of count UTF-16 units. A high surrogate followed by a low one becomes one code
// point; a lone surrogate, 0xFFFE and 0xFFFF become '?'. False (buffer keeps what was converted before)
// when it cannot grow.
bool AppendUtf8(CBuffer& out, const wchar_t* units, uint32_t count);
