#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

#include "tarnwick/text/number.hpp"

using namespace tarnwick::text;

TEST(Fixed, PrintsLikePrintfInAnyLocale)
{
  EXPECT_EQ(fixed(2.5, 3), "2.500");
  EXPECT_EQ(fixed(-0.0004, 3), "-0.000");
  EXPECT_EQ(fixed(2.675, 2), "2.67"); // the binary value is below the half
  EXPECT_EQ(fixed(0.5, 0), "0");
  EXPECT_EQ(fixed(1.5, 0), "2");
  EXPECT_EQ(fixed(1e20, 1), "100000000000000000000.0");
  EXPECT_EQ(fixed(std::numeric_limits<double>::quiet_NaN(), 3), "nan");
  EXPECT_EQ(fixed(-std::numeric_limits<double>::infinity(), 3), "-inf");
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr) {
    EXPECT_EQ(fixed(2.5, 1), "2.5");
    EXPECT_EQ(parse_float("2.5"), 2.5);
    std::setlocale(LC_NUMERIC, "C");
  }
}

TEST(FormatFloat, MatchesPythonRepr)
{
  const std::pair<double, const char*> cases[] = {
      {1.8, "1.8"},         {12.0, "12.0"},      {0.0, "0.0"},        {-0.0, "-0.0"},
      {5e-05, "5e-05"},     {1e16, "1e+16"},     {1.5e-09, "1.5e-09"}, {0.0001, "0.0001"},
      {1e-5, "1e-05"},      {1e22, "1e+22"},     {1e100, "1e+100"},   {-2.5e-300, "-2.5e-300"},
      {0.1 + 0.2, "0.30000000000000004"},       {123456789012345.6, "123456789012345.6"},
      {1.2345678901234567e+16, "1.2345678901234568e+16"},          {9999999999999998.0, "9999999999999998.0"},
  };
  for (const auto& [value, text] : cases) {
    EXPECT_EQ(format_float(value), text);
  }
  EXPECT_EQ(format_float(std::numeric_limits<double>::quiet_NaN()), "nan");
  EXPECT_EQ(format_float(std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(format_float(-std::numeric_limits<double>::infinity()), "-inf");
  EXPECT_EQ(format_int(-42), "-42");
}

TEST(RoundHalfEven, RoundsTheExactBinaryValue)
{
  EXPECT_EQ(round_half_even(1.000005, 5), 1.00001);
  EXPECT_EQ(round_half_even(0.000025, 5), 3e-05);
  EXPECT_EQ(round_half_even(0.5, 0), 0.0);
  EXPECT_EQ(round_half_even(2.5, 0), 2.0);
  EXPECT_EQ(round_half_even(3.5, 0), 4.0);
  EXPECT_EQ(round_half_even(0.125, 2), 0.12);
  const double negative_zero = round_half_even(-0.000004, 5);
  EXPECT_EQ(negative_zero, 0.0);
  EXPECT_TRUE(std::signbit(negative_zero));
  EXPECT_TRUE(std::isnan(round_half_even(std::numeric_limits<double>::quiet_NaN(), 5)));
}

TEST(ParseInt, AcceptsOnlyAWholeDecimalInteger)
{
  EXPECT_EQ(parse_int("42"), 42);
  EXPECT_EQ(parse_int(" -7\n"), -7);
  EXPECT_EQ(parse_int("+0012"), 12);
  EXPECT_EQ(parse_int("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
  for (const char* bad : {"", " ", "+", "-", "1.0", "1e3", "0x10", "1_0", "12a", "+-1", "- 1",
                          "9223372036854775808", "٣"}) {
    EXPECT_EQ(parse_int(bad), std::nullopt) << bad;
  }
}

TEST(ParseFloat, AcceptsDecimalsAndSpecialWordsOnly)
{
  EXPECT_EQ(parse_float("1.5E-9"), 1.5e-9);
  EXPECT_EQ(parse_float(" .5 "), 0.5);
  EXPECT_EQ(parse_float("5."), 5.0);
  EXPECT_EQ(parse_float("-1e5"), -1e5);
  EXPECT_EQ(parse_float("+3"), 3.0);
  EXPECT_EQ(parse_float("1e400"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(parse_float("-1e-400"), 0.0);
  EXPECT_EQ(parse_float("-Infinity"), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(parse_float("INF"), std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(*parse_float("NaN")));
  for (const char* bad : {"", ".", "e5", "1e", "1e+", "0x10", "1_0", "1.2.3", "1,5", "infin",
                          "nanx", "--1", "1 2", "=1"}) {
    EXPECT_EQ(parse_float(bad), std::nullopt) << bad;
  }
}
