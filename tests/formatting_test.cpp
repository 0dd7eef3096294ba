#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "report/decimal_separator.h"
#include "report/formatting.h"
#include "support/compiled_locale.h"

namespace veldrano {
namespace {

TEST(FormatCount, GroupsDigitsByThreeFromTheRight) {
  EXPECT_EQ(FormatCount(' ', 0), "0");
  EXPECT_EQ(FormatCount(' ', 7), "7");
  EXPECT_EQ(FormatCount(' ', 100), "100");
  EXPECT_EQ(FormatCount(' ', 999), "999");
  EXPECT_EQ(FormatCount(' ', 1000), "1 000");
  EXPECT_EQ(FormatCount(' ', 100000), "100 000");
  EXPECT_EQ(FormatCount(' ', 1234567), "1 234 567");
  EXPECT_EQ(FormatCount(' ', 999999999999999.0L), "999 999 999 999 999");
  EXPECT_EQ(FormatCount('.', 1234567), "1.234.567");
}

TEST(FormatCount, KeepsTheSignOutOfTheGroups) {
  // Files appearing between the passes make the pending count negative.
  EXPECT_EQ(FormatCount(' ', -5), "-5");
  EXPECT_EQ(FormatCount(' ', -123), "-123");
  EXPECT_EQ(FormatCount(' ', -1234), "-1 234");
}

TEST(FloatToText, WritesWholeNumbersWithoutAPoint) {
  EXPECT_EQ(FloatToText(3), "3");
  EXPECT_EQ(FloatToText(12), "12");
  EXPECT_EQ(FloatToText(0), "0");
  EXPECT_EQ(FloatToText(4294967296.0L), "4294967296");
}

TEST(FormatSize, MatchesTheExamples) {
  EXPECT_EQ(FormatSize(512), "512 bytes");
  EXPECT_EQ(FormatSize(1000), "1E3 bytes");
  EXPECT_EQ(FormatSize(1023), "1.02E3 bytes");
  EXPECT_EQ(FormatSize(1536), "1.5 Kb");
  EXPECT_EQ(FormatSize(10496), "10.3 Kb");  // 10.25: a fourth digit of 5 rounds up
  EXPECT_EQ(FormatSize(1023 * 1024), "1.02E3 Kb");
  EXPECT_EQ(FormatSize(5 * std::pow(2.0L, 30)), "5 Gb");
}

TEST(FormatSize, HandlesTheEdgesOfEachUnit) {
  EXPECT_EQ(FormatSize(0), "0 byte");
  EXPECT_EQ(FormatSize(1), "1 bytes");
  EXPECT_EQ(FormatSize(1024), "1 Kb");
  EXPECT_EQ(FormatSize(1048575), "1.02E3 Kb");  // 1023.999 rounds to 1020
  EXPECT_EQ(FormatSize(999.5L * 1024), "1E3 Kb");
  EXPECT_EQ(FormatSize(1048576), "1 Mb");
  EXPECT_EQ(FormatSize(100 * 1024), "100 Kb");
  EXPECT_EQ(FormatSize(10 * 1024), "10 Kb");
  EXPECT_EQ(FormatSize(1.25L * 1048576), "1.25 Mb");
  EXPECT_EQ(FormatSize(std::pow(2.0L, 40)), "1 Tb");
  EXPECT_EQ(FormatSize(std::pow(2.0L, 50)), "1.02E3 Tb");  // there is no larger unit
  EXPECT_EQ(FormatSize(1.006L * 1024), "1.01 Kb");
}

TEST(FormatSize, MakesThePointTheDecimalSeparatorOfTheProcess) {
  testing::CompiledLocale german("de_DE");
  if (!german.Available()) GTEST_SKIP() << "localedef cannot build de_DE here";
  ASSERT_NE(std::setlocale(LC_NUMERIC, german.Name()), nullptr);
  char text[16];
  std::snprintf(text, sizeof text, "%.1f", 2.5);
  ASSERT_STREQ(text, "2,5");
  EXPECT_EQ(DecimalSeparator(), ',');

  EXPECT_EQ(FormatSize(1536), "1.5 Kb");

  EXPECT_EQ(DecimalSeparator(), '.');
  std::snprintf(text, sizeof text, "%.1f", 2.5);
  EXPECT_STREQ(text, "2.5");
  std::ostringstream stream;
  stream.imbue(std::locale());
  stream << 2.5;
  EXPECT_EQ(stream.str(), "2.5");
  std::setlocale(LC_NUMERIC, "C");
}

}  // namespace
}  // namespace veldrano
