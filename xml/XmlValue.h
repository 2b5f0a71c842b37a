// Text formats of typed attribute values: numbers, colours, dates as day numbers, GUIDs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "support/Buffer.h"

// Base-10 conversions of wide text (leading white space and a sign accepted). Success when the whole text
// was consumed, so an empty text gives 0 and succeeds. A value out of the type's range fails rather than
// being clamped; for unsigned, a leading '-' wraps as the C library does ("-1" gives 4294967295).
bool ParseInt(const wchar_t* text, int& out);
bool ParseUnsigned(const wchar_t* text, unsigned& out);

// "#rrggbb": three fields of at most two hex digits, white space allowed before each; text after them is
// ignored. The result has red in the low byte (COLORREF).
bool ParseColor(const wchar_t* text, COLORREF& out);
// "#rrggbb" in lower-case hex.
std::wstring FormatColor(COLORREF color);

// A date-time as a day number: 1.0 is 1 January of year 1 00:00 in the proleptic Gregorian calendar, each
// day adds 1, the fraction is the time of day. 0.0 means no date. Accepted texts, after leading spaces and
// tabs: "yyyy/mm/dd" (exactly 10 units), "yyyy/mm/dd hh:mm:ss" (exactly 19), and the ISO form
// "yyyy-mm-dd" alone or followed by "Thh:mm:ss", optional fraction digits and a zone ("Z", "+hh:mm" or
// "-hh:mm"); zoned times are converted to UTC.
bool ParseDate(const wchar_t* text, double& dayNumber);
// "yyyy/mm/dd hh:mm:ss", rounded to the nearest second. False for 0, a negative or non-finite number, or
// a date beyond year 999999.
bool FormatDate(double dayNumber, std::wstring& out);
// The day number of a date and time; false when the month or day does not exist or the year is before 1.
bool DayNumberFromParts(uint32_t year, uint32_t month, uint32_t day, uint32_t hour, uint32_t minute,
                        uint32_t second, double& dayNumber);
// Now, as a day number: from the system clock (UTC) and from the local clock.
double CurrentDayNumberUtc();
double CurrentDayNumberLocal();

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" or the same without braces: 11 hex fields of either case, each
// possibly shorter than its width. Text after the form is ignored.
bool ParseGuid(const wchar_t* text, GUID& out);
bool ParseGuid(const char* text, GUID& out);
// Upper-case hex, with or without braces.
std::wstring FormatGuid(const GUID& guid, bool braces = true);
void FormatGuid(const GUID& guid, wchar_t (&out)[39], bool braces = true);
bool FormatGuid(const GUID& guid, CBuffer& out, bool braces = true);
std::string FormatGuidNarrow(const GUID& guid, bool braces = true);
