#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

#include "platform/kovra_sysutils.h"

using namespace kovra;

namespace {
const double NaN = std::numeric_limits<double>::quiet_NaN();
const double Inf = std::numeric_limits<double>::infinity();

struct FormatCase {
  std::string expected;
  std::string actual;
};

std::vector<FormatCase> FormatCases() {
  return {
      {"0.5", Format("%g", 0.5)},
      {"1E20", Format("%g", 1e20)},
      {"1.5E-6", Format("%g", 1.5e-6)},
      {"1.23456789012346E17", Format("%g", 123456789012345678.0)},
      {"0.0001", Format("%g", 0.0001)},
      {"1E-5", Format("%g", 0.00001)},
      {"123456789012345", Format("%g", 123456789012345.0)},
      {"1E15", Format("%g", 1e15)},
      {"0", Format("%g", -0.0)},
      {"-2.5", Format("%g", -2.5)},
      {"0.1", Format("%g", 0.1)},
      {"(1.5 , -2) are not valid degree coordinates",
       Format("(%g , %g) are not valid degree coordinates", 1.5, -2.0)},
      {"1,234,567.89", Format("%n", 1234567.891)},
      {"-1,234.50", Format("%n", -1234.5)},
      {"999.00", Format("%n", 999.0)},
      {"1,000", Format("%.0n", 1000.0)},
      {"-42", Format("%d", -42)},
      {"-2147483648", Format("%d", int32_t(INT32_MIN))},
      {"Link -7 of 12", Format("Link %d of %d", -7, 12)},
      {"   42|42   |", Format("%5d|%-5d|", 42, 42)},
      {"007", Format("%.3d", 7)},
      {"3.142", Format("%.*f", 3, 3.14159)},
      {"2.50", Format("%f", 2.5)},
      {"0.12", Format("%.2f", 0.125)},
      {"0.00", Format("%.2f", -0.001)},
      {"File is missing: a b.bin", Format("File is missing: %s", std::string("a b.bin"))},
      {"  ab", Format("%4s", "ab")},
      {"100%", Format("%d%%", 100)},
      {"FF", Format("%x", 255)},
      {"FFFFFFFF", Format("%x", -1)},
  };
}
}  // namespace

TEST(Format, Patterns) {
  for (const auto& c : FormatCases()) EXPECT_EQ(c.actual, c.expected);
}

TEST(Format, IgnoresProcessLocale) {
  auto before = FormatCases();
  const char* old = std::setlocale(LC_ALL, nullptr);
  std::string saved = old ? old : "C";
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 locale not installed";
  auto after = FormatCases();
  std::setlocale(LC_ALL, saved.c_str());
  ASSERT_EQ(before.size(), after.size());
  for (size_t i = 0; i < before.size(); ++i) EXPECT_EQ(after[i].actual, before[i].expected);
}

TEST(Format, BadPatternsRaiseConvertError) {
  EXPECT_THROW(Format("%d"), EConvertError);
  EXPECT_THROW(Format("%d", 1.5), EConvertError);
  EXPECT_THROW(Format("%s", 3), EConvertError);
  EXPECT_THROW(Format("%q", 3), EConvertError);
  EXPECT_THROW(Format("abc %"), EConvertError);
  EXPECT_THROW(Format("%g", NaN), EInvalidOp);
  // Width and precision are capped at 100000, written or taken from an argument.
  EXPECT_EQ(Format("%*d", 100000, 1).size(), 100000u);
  EXPECT_EQ(Format("%.*f", 2, 1.0), "1.00");
  EXPECT_THROW(Format("%100001d", 1), EConvertError);
  EXPECT_THROW(Format("%.100001f", 1.0), EConvertError);
  EXPECT_THROW(Format("%*d", int64_t(1) << 40, 1), EConvertError);
  EXPECT_THROW(Format("%-*s", 100001, "a"), EConvertError);
  EXPECT_THROW(Format("%.*f", int64_t(1) << 40, 1.0), EConvertError);
}

TEST(CheckedMath, RoundAndTrunc) {
  struct Case {
    double v;
    int64_t round;
    int64_t trunc;
  };
  const Case cases[] = {
      {2.5, 2, 2},   {3.5, 4, 3},   {-2.5, -2, -2}, {-3.5, -4, -3}, {0.5, 0, 0},
      {1.5, 2, 1},   {-0.4, 0, 0},  {2.6, 3, 2},    {-2.6, -3, -2}, {1e15 + 0.5, 1000000000000000, 1000000000000000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.v);
    EXPECT_EQ(Round(c.v), c.round);
    EXPECT_EQ(Trunc(c.v), c.trunc);
  }
  for (double bad : {NaN, Inf, -Inf, 1e300, -1e300, 9223372036854775808.0}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(Round(bad), EInvalidOp);
    EXPECT_THROW(Trunc(bad), EInvalidOp);
  }
  EXPECT_EQ(Round(-9223372036854775808.0), INT64_MIN);
  EXPECT_EQ(Round32(2147483647.4), 2147483647);
  EXPECT_THROW(Round32(2147483647.6), EInvalidOp);
  EXPECT_EQ(Trunc32(-2147483648.9), INT32_MIN);
  EXPECT_THROW(Trunc32(-2147483649.0), EInvalidOp);
  try {
    Round(NaN);
  } catch (const EInvalidOp& e) {
    EXPECT_STREQ(e.what(), "Invalid floating point operation");
  }
}

TEST(CheckedMath, Division) {
  EXPECT_EQ(Divide(1, 4), 0.25);
  EXPECT_THROW(Divide(0, 0), EInvalidOp);
  EXPECT_THROW(Divide(1, 0), EZeroDivide);
  EXPECT_THROW(Divide(-1, -0.0), EZeroDivide);
  EXPECT_THROW(Divide(1e300, 1e-300), EOverflow);
  EXPECT_THROW(Divide(NaN, 1), EInvalidOp);
  EXPECT_THROW(IntDiv(5, 0), EDivByZero);
  EXPECT_THROW(IntMod(5, 0), EDivByZero);
  EXPECT_EQ(IntDiv(-7, 2), -3);
  EXPECT_EQ(IntMod(-7, 2), -1);
  try {
    Divide(1, 0);
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Floating point division by zero");
  }
}

TEST(Utf16, LengthRoundTripAndUnits) {
  const std::string s = "a\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80";  // a, ä, €, U+1F600
  EXPECT_EQ(Utf16Length(s), 5u);
  std::u16string u = ToUtf16(s);
  ASSERT_EQ(u.size(), 5u);
  EXPECT_EQ(u[3], 0xD83D);
  EXPECT_EQ(u[4], 0xDE00);
  EXPECT_EQ(FromUtf16(u), s);
  std::vector<char16_t> units;
  ForEachUtf16Unit(s, [&](char16_t c) { units.push_back(c); });
  EXPECT_EQ(std::u16string(units.begin(), units.end()), u);
  // Invalid bytes count one U+FFFD each; lone surrogates come back as U+FFFD.
  EXPECT_EQ(Utf16Length("\xFF\xC3"), 2u);
  EXPECT_EQ(FromUtf16(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  EXPECT_EQ(ToUtf16("\xED\xA0\x80"), std::u16string(3, char16_t(0xFFFD)));  // encoded surrogate
}

// Units up to U+0020 go at both ends only, in UTF-8 and in UTF-16 alike.
TEST(Trim, EndsUpToBlank) {
  struct Case {
    std::u16string text, trimmed;
  } const cases[] = {
      {std::u16string(u"\0\0ab c\0 \x1F", 9), u"ab c"},
      {u" \x21x\x7F ", u"\x21x\x7F"},
      {u"\xA0x\xA0", u"\xA0x\xA0"},  // no-break space is no padding
      {u" \t\r\n", u""},
      {u"", u""},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(TrimView(std::u16string_view(c.text)) == c.trimmed) << FromUtf16(c.text);
    EXPECT_EQ(TrimView(FromUtf16(c.text)), FromUtf16(c.trimmed));
  }
}

TEST(Copy, NeverThrows) {
  struct Case {
    int64_t index, count;
    std::string expected;
  };
  const Case cases[] = {{1, 3, "abc"}, {2, 2, "bc"}, {5, 1, "e"}, {6, 1, ""}, {100, 5, ""},
                        {0, 2, "ab"},  {-5, 2, "ab"}, {3, -1, ""}, {4, 100, "de"}, {1, INT64_MAX, "abcde"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.index);
    EXPECT_EQ(Copy("abcde", c.index, c.count), c.expected);
  }
  EXPECT_EQ(Copy(std::u16string(u"x\xD83D\xDE00y"), 2, 2), std::u16string(u"\xD83D\xDE00"));
  EXPECT_EQ(Copy(std::u16string(u"xy"), 3, 1), std::u16string());
}
