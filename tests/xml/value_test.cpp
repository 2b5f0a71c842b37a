#include <gtest/gtest.h>

#include <string>

#include "XmlTestUtil.h"
#include "xml/XmlValue.h"

using xmltest::Narrow;

namespace {

TEST(XmlValue, Numbers) {
  struct Case {
    const wchar_t* text;
    bool intOk;
    int intValue;
    bool unsignedOk;
    unsigned unsignedValue;
  } cases[] = {
      {L"", true, 0, true, 0},
      {L"  -7", true, -7, true, 4294967289u},
      {L"-1", true, -1, true, 4294967295u},
      {L"12x", false, 0, false, 0},
      {L"12 ", false, 0, false, 0},
      {L"2147483648", false, 0, true, 2147483648u},
      {L"-2147483648", true, INT_MIN, true, 2147483648u},  // out of range fails instead of clamping
      {L"4294967296", false, 0, false, 0},
  };
  for (const Case& c : cases) {
    int i = 99;
    unsigned u = 99;
    EXPECT_EQ(c.intOk, ParseInt(c.text, i)) << Narrow(c.text);
    EXPECT_EQ(c.intOk ? c.intValue : 99, i) << Narrow(c.text);  // untouched on failure
    EXPECT_EQ(c.unsignedOk, ParseUnsigned(c.text, u)) << Narrow(c.text);
    EXPECT_EQ(c.unsignedOk ? c.unsignedValue : 99u, u) << Narrow(c.text);
  }
}

TEST(XmlValue, Colours) {
  struct Case {
    const wchar_t* text;
    bool ok;
    COLORREF value;
  } cases[] = {{L"#ff0000", true, 0x0000FF},
               {L"#0000FF", true, 0xFF0000},
               {L"#12345", true, RGB(0x12, 0x34, 5)},
               {L"#123456 x", true, RGB(0x12, 0x34, 0x56)},
               {L"#fff", false, 0},
               {L"ff0000", false, 0},
               {L" #ff0000", false, 0},
               {L"#gg0000", false, 0}};
  for (const Case& c : cases) {
    COLORREF value = 0xDEAD;
    EXPECT_EQ(c.ok, ParseColor(c.text, value)) << Narrow(c.text);
    EXPECT_EQ(c.ok ? c.value : 0xDEADu, value) << Narrow(c.text);
  }
  EXPECT_EQ(L"#00ff00", FormatColor(0x00FF00));
}

double Day(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  double value = 0;
  EXPECT_TRUE(DayNumberFromParts(year, month, day, hour, minute, second, value));
  return value;
}

TEST(XmlValue, DateParsing) {
  struct Case {
    const wchar_t* text;
    bool ok;
    double value;
  } cases[] = {
      {L"2012/01/05", true, Day(2012, 1, 5)},
      {L" \t2012/01/05 10:20:30", true, Day(2012, 1, 5, 10, 20, 30)},
      {L"2012/1/5", false, 0},
      {L"2012-01-05", true, Day(2012, 1, 5)},
      {L"2012-01-05T10:20:30Z", true, Day(2012, 1, 5, 10, 20, 30)},
      {L"2012-01-05T10:20:30", false, 0},  // a time without a zone
      {L"2012-01-05T10:20:30.123+02:00", true, Day(2012, 1, 5, 8, 20, 30)},
      {L"2012-01-05T10:20:30-05:30", true, Day(2012, 1, 5, 15, 50, 30)},
      {L"2012-01-05T10:20:30+00:00x", false, 0},
      {L"2012/02/30", false, 0},
      {L"2000/02/29", true, Day(2000, 2, 29)},
      {L"1900/02/29", false, 0},
      {L"0000/01/01", false, 0},                                 // there is no year 0
      {L"2012/01/05 25:61:61", true, Day(2012, 1, 6, 2, 2, 1)},  // times are used as read
  };
  for (const Case& c : cases) {
    double value = -1;
    EXPECT_EQ(c.ok, ParseDate(c.text, value)) << Narrow(c.text);
    if (c.ok) {
      EXPECT_NEAR(c.value, value, 1e-9) << Narrow(c.text);
    }
  }
  EXPECT_DOUBLE_EQ(730120.0, Day(2000, 1, 1));
}

TEST(XmlValue, DateFormatting) {
  struct Case {
    double value;
    const wchar_t* text;  // null: refused
  } cases[] = {{730120.5, L"2000/01/01 12:00:00"},
               {Day(2012, 12, 31) + 0.99999999, L"2013/01/01 00:00:00"},  // rounds into the next day
               {0.0, nullptr},
               {-5.0, nullptr}};
  for (const Case& c : cases) {
    std::wstring text;
    EXPECT_EQ(c.text != nullptr, FormatDate(c.value, text)) << c.value;
    EXPECT_EQ(c.text ? c.text : L"", text);
  }
  // Every day of two centuries survives formatting and parsing back.
  for (double day = Day(1899, 12, 25); day < Day(2101, 1, 3); day += 1.25) {
    std::wstring text;
    ASSERT_TRUE(FormatDate(day, text));
    double back = 0;
    ASSERT_TRUE(ParseDate(text.c_str(), back)) << Narrow(text);
    ASSERT_NEAR(day, back, 1.0 / 86400) << Narrow(text);
  }
  EXPECT_NEAR(CurrentDayNumberUtc(), CurrentDayNumberLocal(), 1.0);
  EXPECT_GT(CurrentDayNumberUtc(), Day(2020, 1, 1));
}

TEST(XmlValue, Guids) {
  const GUID expected = {0x6B29FC40, 0xCA47, 0x1067, {0xB3, 0x1D, 0x00, 0xDD, 0x01, 0x06, 0x62, 0xDA}};
  struct Case {
    const wchar_t* text;
    bool ok;
  } cases[] = {{L"{6B29FC40-CA47-1067-B31D-00DD010662DA}", true},
               {L"6b29fc40-ca47-1067-b31d-00dd010662da trailing", true},
               {L"{6B29FC40-CA47-1067-B31D-00DD010662DA", true},  // all 11 fields were read
               {L"{6B29FC40-CA47-1067-B31D00DD010662DA}", false},
               {L"{6B29FC40-CA47-1067-B31D-00DD010662}", false}};
  for (const Case& c : cases) {
    GUID guid = GUID_NULL;
    EXPECT_EQ(c.ok, ParseGuid(c.text, guid)) << Narrow(c.text);
    EXPECT_EQ(c.ok, IsEqualGUID(expected, guid)) << Narrow(c.text);
  }
  GUID shortFields = GUID_NULL;  // fields may be shorter than their width
  EXPECT_TRUE(ParseGuid("1-2-3-4567-89ABCDEF0123", shortFields));
  EXPECT_EQ(1u, shortFields.Data1);
  EXPECT_EQ(0x45, shortFields.Data4[0]);
  EXPECT_EQ(L"{6B29FC40-CA47-1067-B31D-00DD010662DA}", FormatGuid(expected));
  EXPECT_EQ("6B29FC40-CA47-1067-B31D-00DD010662DA", FormatGuidNarrow(expected, false));
}

}  // namespace
