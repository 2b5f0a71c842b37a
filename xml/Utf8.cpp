#include "xml/Utf8.h"

bool AppendUtf8(CBuffer& out, const wchar_t* units, uint32_t count) {
  for (uint32_t i = 0; i < count;) {
    // At least 6 bytes of room ahead of each sequence; growth takes the remaining units into account so a
    // long text grows a few times, not once per sequence.
    if (out.Capacity() - out.Length() < 6) {
      uint32_t remaining = count - i;
      if (!out.Grow(remaining > 32 ? remaining : 32)) return false;
    }
    uint32_t codePoint = units[i++];
    if (codePoint >= 0xD800 && codePoint <= 0xDBFF && i < count && units[i] >= 0xDC00 && units[i] <= 0xDFFF) {
      codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (units[i++] - 0xDC00);
    } else if ((codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint >= 0xFFFE) {
      codePoint = '?';
    }
    uint8_t* p = out.Data() + out.Length();
    uint32_t n;
    if (codePoint < 0x80) {
      p[0] = static_cast<uint8_t>(codePoint);
      n = 1;
    } else if (codePoint < 0x800) {
      p[0] = static_cast<uint8_t>(0xC0 | (codePoint >> 6));
      p[1] = static_cast<uint8_t>(0x80 | (codePoint & 0x3F));
      n = 2;
    } else if (codePoint < 0x10000) {
      p[0] = static_cast<uint8_t>(0xE0 | (codePoint >> 12));
      p[1] = static_cast<uint8_t>(0x80 | ((codePoint >> 6) & 0x3F));
      p[2] = static_cast<uint8_t>(0x80 | (codePoint & 0x3F));
      n = 3;
    } else {
      p[0] = static_cast<uint8_t>(0xF0 | (codePoint >> 18));
      p[1] = static_cast<uint8_t>(0x80 | ((codePoint >> 12) & 0x3F));
      p[2] = static_cast<uint8_t>(0x80 | ((codePoint >> 6) & 0x3F));
      p[3] = static_cast<uint8_t>(0x80 | (codePoint & 0x3F));
      n = 4;
    }
    out.SetLength(out.Length() + n);
  }
  return true;
}
