#include "xml/XmlValue.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <cwctype>

#include "xml/XmlText.h"

namespace {

// Small scanners with the C library's scanf rules for the conversions the formats use, written out so that
// their behaviour does not depend on which scanf the runtime links: "%u"/"%d" skip white space, take an
// optional sign and at least one digit (wrapping modulo 2^32); "%Nx" skips white space and takes one to N
// hex digits.
template <class Char>
bool IsWhite(Char c) {
  return c == ' ' || (c >= 0x09 && c <= 0x0D);
}

template <class Char>
bool ScanUnsigned(const Char*& p, uint32_t& value) {
  const Char* q = p;
  while (IsWhite(*q)) ++q;
  bool negative = false;
  if (*q == '+' || *q == '-') negative = *q++ == '-';
  if (*q < '0' || *q > '9') return false;
  uint32_t v = 0;
  while (*q >= '0' && *q <= '9') v = v * 10u + static_cast<uint32_t>(*q++ - '0');
  value = negative ? 0u - v : v;
  p = q;
  return true;
}

template <class Char>
bool ScanInt(const Char*& p, int32_t& value) {
  uint32_t v;
  if (!ScanUnsigned(p, v)) return false;
  value = static_cast<int32_t>(v);
  return true;
}

template <class Char>
int HexDigit(Char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

template <class Char>
bool ScanHex(const Char*& p, int width, uint32_t& value) {
  const Char* q = p;
  while (IsWhite(*q)) ++q;
  uint32_t v = 0;
  int digits = 0;
  for (int d; digits < width && (d = HexDigit(*q)) >= 0; ++digits, ++q)
    v = (v << 4) | static_cast<uint32_t>(d);
  if (digits == 0) return false;
  value = v;
  p = q;
  return true;
}

template <class Char>
bool ScanLiteral(const Char*& p, Char c) {
  if (*p != c) return false;
  ++p;
  return true;
}

// A space in a scanf format: any amount of white space, none included.
template <class Char>
void ScanWhite(const Char*& p) {
  while (IsWhite(*p)) ++p;
}

bool IsLeapYear(uint64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

const uint16_t kDaysBeforeMonth[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

uint32_t DaysInMonth(uint64_t year, uint32_t month) {
  uint32_t days = kDaysBeforeMonth[month] - kDaysBeforeMonth[month - 1];
  return month == 2 && IsLeapYear(year) ? days + 1 : days;
}

// Days of all the years before year (year >= 1), in 64 bits: a 32-bit year times 365 does not fit 32.
int64_t DaysBeforeYear(int64_t year) {
  const int64_t y = year - 1;
  return y * 365 + y / 4 - y / 100 + y / 400;
}

bool MakeDayNumber(uint32_t year, uint32_t month, uint32_t day, double seconds, double& dayNumber) {
  // Year 0 and earlier have no day number: 0.0 and below mean "no date".
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
  int64_t days = DaysBeforeYear(year) + kDaysBeforeMonth[month - 1] + (month > 2 && IsLeapYear(year)) + day;
  dayNumber = static_cast<double>(days) + seconds / 86400.0;
  return true;
}

// Scans "%u/%u/%u" and, with time, " %u:%u:%u"; true when it read every field and ended exactly at end.
bool ScanSlashForm(const wchar_t* p, const wchar_t* end, bool withTime, uint32_t (&f)[6]) {
  if (!ScanUnsigned(p, f[0]) || !ScanLiteral(p, L'/') || !ScanUnsigned(p, f[1]) || !ScanLiteral(p, L'/') ||
      !ScanUnsigned(p, f[2])) {
    return false;
  }
  if (withTime) {
    ScanWhite(p);
    if (!ScanUnsigned(p, f[3]) || !ScanLiteral(p, L':') || !ScanUnsigned(p, f[4]) || !ScanLiteral(p, L':') ||
        !ScanUnsigned(p, f[5])) {
      return false;
    }
  }
  return p == end;
}

template <class Char>
bool ParseGuidT(const Char* text, GUID& out) {
  if (!text) return false;
  const Char* p = text;
  if (*p == '{') ++p;
  uint32_t fields[11];
  static const int kWidths[11] = {8, 4, 4, 2, 2, 2, 2, 2, 2, 2, 2};
  for (int i = 0; i < 11; ++i) {
    // The dashes stand before the 2nd, 3rd, 4th and 6th fields.
    if ((i == 1 || i == 2 || i == 3 || i == 5) && !ScanLiteral(p, static_cast<Char>('-'))) return false;
    if (!ScanHex(p, kWidths[i], fields[i])) return false;
  }
  out.Data1 = fields[0];
  out.Data2 = static_cast<unsigned short>(fields[1]);
  out.Data3 = static_cast<unsigned short>(fields[2]);
  for (int i = 0; i < 8; ++i) out.Data4[i] = static_cast<unsigned char>(fields[3 + i]);
  return true;
}

double DayNumberFromSystemTime(const SYSTEMTIME& t) {
  double dayNumber = 0.0;
  MakeDayNumber(t.wYear, t.wMonth, t.wDay,
                t.wHour * 3600.0 + t.wMinute * 60.0 + t.wSecond + t.wMilliseconds / 1000.0, dayNumber);
  return dayNumber;
}

}  // namespace

bool ParseInt(const wchar_t* text, int& out) {
  if (!text) return false;
  wchar_t* end = nullptr;
  errno = 0;
  long value = std::wcstol(text, &end, 10);
  // A value beyond the type's range is clamped by the library; such a text has no faithful value.
  if (errno == ERANGE || *end != 0) return false;
  out = static_cast<int>(value);
  return true;
}

bool ParseUnsigned(const wchar_t* text, unsigned& out) {
  if (!text) return false;
  wchar_t* end = nullptr;
  errno = 0;
  unsigned long value = std::wcstoul(text, &end, 10);
  if (errno == ERANGE || *end != 0) return false;
  out = static_cast<unsigned>(value);
  return true;
}

bool ParseColor(const wchar_t* text, COLORREF& out) {
  if (!text) return false;
  const wchar_t* p = text;
  uint32_t red, green, blue;
  if (!ScanLiteral(p, L'#') || !ScanHex(p, 2, red) || !ScanHex(p, 2, green) || !ScanHex(p, 2, blue))
    return false;
  out = RGB(red, green, blue);
  return true;
}

std::wstring FormatColor(COLORREF color) {
  wchar_t text[8];
  std::swprintf(text, 8, L"#%02x%02x%02x", GetRValue(color), GetGValue(color), GetBValue(color));
  return text;
}

bool DayNumberFromParts(uint32_t year, uint32_t month, uint32_t day, uint32_t hour, uint32_t minute,
                        uint32_t second, double& dayNumber) {
  return MakeDayNumber(year, month, day, hour * 3600.0 + minute * 60.0 + second, dayNumber);
}

bool ParseDate(const wchar_t* text, double& dayNumber) {
  if (!text) return false;
  const wchar_t* p = text;
  while (*p == L' ' || *p == L'\t') ++p;
  const size_t remaining = std::wcslen(p);
  uint32_t f[6] = {0, 0, 0, 0, 0, 0};

  if (remaining == 10 || remaining == 19) {
    if (ScanSlashForm(p, p + remaining, remaining == 19, f)) {
      return DayNumberFromParts(f[0], f[1], f[2], f[3], f[4], f[5], dayNumber);
    }
  }

  // ISO form: the date is scanned within its first 10 units only.
  wchar_t date[11] = {};
  std::wmemcpy(date, p, remaining < 10 ? remaining : 10);
  const wchar_t* q = date;
  if (!ScanUnsigned(q, f[0]) || !ScanLiteral(q, L'-') || !ScanUnsigned(q, f[1]) || !ScanLiteral(q, L'-') ||
      !ScanUnsigned(q, f[2]) || q != date + 10) {
    return false;
  }
  const wchar_t* rest = p + 10;
  double zoneSeconds = 0.0;
  if (*rest) {
    if (*rest++ != L'T') return false;
    const wchar_t* time = rest;
    if (!ScanUnsigned(rest, f[3]) || !ScanLiteral(rest, L':') || !ScanUnsigned(rest, f[4]) ||
        !ScanLiteral(rest, L':') || !ScanUnsigned(rest, f[5]) || rest != time + 8) {
      return false;
    }
    if (*rest == L'.') {
      ++rest;
      while (*rest >= L'0' && *rest <= L'9') ++rest;  // fractions of a second are not kept
    }
    if (*rest == L'Z') {
      ++rest;
    } else if (*rest == L'+' || *rest == L'-') {
      const double sign = *rest++ == L'-' ? -1.0 : 1.0;
      const wchar_t* zone = rest;
      int32_t hours;
      uint32_t minutes;
      if (!ScanInt(rest, hours) || !ScanLiteral(rest, L':') || !ScanUnsigned(rest, minutes) ||
          rest != zone + 5) {
        return false;
      }
      zoneSeconds = sign * (hours * 3600.0 + minutes * 60.0);
    } else {
      return false;  // a time without a zone names no instant
    }
    if (*rest) return false;
  }
  double local;
  if (!DayNumberFromParts(f[0], f[1], f[2], f[3], f[4], f[5], local)) return false;
  dayNumber = local - zoneSeconds / 86400.0;
  return true;
}

bool FormatDate(double dayNumber, std::wstring& out) {
  // Year 999999 ends near day 365,242,135; beyond it the text would no longer have the fixed form.
  if (!std::isfinite(dayNumber) || dayNumber < 1.0 || dayNumber >= 365242135.0) return false;
  int64_t days = static_cast<int64_t>(std::floor(dayNumber));
  // Rounded once, to the nearest second, and carried into the next day: rounding hours, minutes and
  // seconds each on its own could print 24:00:00 or :60.
  int64_t seconds = static_cast<int64_t>(std::floor((dayNumber - static_cast<double>(days)) * 86400.0 + 0.5));
  if (seconds >= 86400) {
    seconds -= 86400;
    ++days;
  }
  int64_t year = static_cast<int64_t>(std::floor(static_cast<double>(days) / 365.2425)) + 1;
  while (year > 1 && DaysBeforeYear(year) >= days) --year;
  while (DaysBeforeYear(year + 1) < days) ++year;
  uint32_t dayOfYear = static_cast<uint32_t>(days - DaysBeforeYear(year));  // 1-based
  uint32_t month = 1;
  while (month < 12) {
    uint32_t before = kDaysBeforeMonth[month] + (month >= 2 && IsLeapYear(year) ? 1 : 0);
    if (dayOfYear <= before) break;
    ++month;
  }
  uint32_t day = dayOfYear - kDaysBeforeMonth[month - 1] - (month > 2 && IsLeapYear(year) ? 1 : 0);
  wchar_t text[40];
  std::swprintf(text, 40, L"%04d/%02u/%02u %02u:%02u:%02u", static_cast<int>(year), month, day,
                static_cast<unsigned>(seconds / 3600), static_cast<unsigned>(seconds / 60 % 60),
                static_cast<unsigned>(seconds % 60));
  out = text;
  return true;
}

double CurrentDayNumberUtc() {
  SYSTEMTIME now;
  ::GetSystemTime(&now);
  return DayNumberFromSystemTime(now);
}

double CurrentDayNumberLocal() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  return DayNumberFromSystemTime(now);
}

bool ParseGuid(const wchar_t* text, GUID& out) {
  return ParseGuidT(text, out);
}
bool ParseGuid(const char* text, GUID& out) {
  return ParseGuidT(text, out);
}

void FormatGuid(const GUID& guid, wchar_t (&out)[39], bool braces) {
  std::swprintf(out, 39,
                braces ? L"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}"
                       : L"%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
}

std::wstring FormatGuid(const GUID& guid, bool braces) {
  wchar_t text[39];
  FormatGuid(guid, text, braces);
  return text;
}

bool FormatGuid(const GUID& guid, CBuffer& out, bool braces) {
  wchar_t text[39];
  FormatGuid(guid, text, braces);
  return AppendString(out, text);
}

std::string FormatGuidNarrow(const GUID& guid, bool braces) {
  wchar_t text[39];
  FormatGuid(guid, text, braces);
  std::string narrow;
  for (const wchar_t* p = text; *p; ++p) narrow += static_cast<char>(*p);  // hex digits, dashes, braces
  return narrow;
}
