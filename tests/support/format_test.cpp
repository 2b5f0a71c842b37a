#include <gtest/gtest.h>

#include "support/Format.h"

namespace {

TEST(Format, Placeholders) {
  struct Case {
    const wchar_t* templateText;
    const wchar_t* args[10];
    const wchar_t* expected;
  } cases[] = {
      {L"{0} of {1}", {L"1", L"2"}, L"1 of 2"},
      {L"{1} 之 {0}", {L"1", L"2"}, L"2 之 1"},                   // the template orders, not the arguments
      {L"%s of %u", {L"a", L"b"}, L"a of b"},                     // printf style numbered in order
      {L"%u%s%u", {L"x", L"y", L"z"}, L"xyz"},
      {L"{0} and {1}", {L"only"}, L"only and %2"},                // absent argument stays visible
      {L"{8}{9}", {}, L"%9%:"},                                    // {9} is not "%10"
      {L"{0}", {nullptr, L"b"}, L"%1"},
      {L"100%", {L"a"}, L"100%"},                                  // trailing percent
      {L"50% {x} {12} { 0} {0", {L"a"}, L"50% {x} {12} { 0} {0"},  // not placeholders: copied
      {L"%d %% %", {L"a"}, L"%d %% %"},                            // other conversions untouched
      {L"{0}{0}", {L"{1}"}, L"{1}{1}"},                            // arguments are never re-scanned
      {L"", {L"a"}, L""},
      {L"{0}{1}{2}{3}{4}{5}{6}{7}{8}{9}", {L"a", L"b", L"c", L"d", L"e", L"f", L"g", L"h", L"i", L"j"},
       L"abcdefghij"},
      {L"%s%s%s%s%s%s%s%s%s%s%s", {L"0", L"1", L"2", L"3", L"4", L"5", L"6", L"7", L"8", L"9"},
       L"0123456789{10}"},  // an eleventh %s has no slot: its number is not a placeholder
  };
  for (const Case& c : cases) {
    EXPECT_EQ(std::wstring(c.expected), FormatArgs(c.templateText, c.args)) << c.templateText;
  }
}

TEST(Format, VariadicFrontEnd) {
  EXPECT_EQ(L"1 of 2", Format(L"{0} of {1}", L"1", std::wstring(L"2")));
  EXPECT_EQ(L"Pagewing Manager Quillora Edition download failed",
            Format(L"{0} download failed", L"Pagewing Manager Quillora Edition"));
  EXPECT_EQ(L"x %2", Format(L"{0} {1}", L"x"));
}

}  // namespace
