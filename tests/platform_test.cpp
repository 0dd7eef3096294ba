#include <gtest/gtest.h>

#include <cerrno>

#include "platform/local_time.h"
#include "platform/system_error.h"
#include "platform/tick_count.h"
#include "support/compiled_locale.h"

namespace veldrano {
namespace {

TEST(SystemErrorText, IsTheMessageWithoutTrailingBlanksOrFullStops) {
  EXPECT_EQ(SystemErrorText(ENOENT), "No such file or directory");
  EXPECT_EQ(SystemErrorText(EACCES), "Permission denied");
  const std::string unknown = SystemErrorText(99999);
  EXPECT_FALSE(unknown.empty());
  EXPECT_NE(unknown.back(), '.');
  EXPECT_NE(unknown.back(), ' ');
}

TEST(TickCount, NeverGoesBack) {
  const auto first = platform::TickCount();
  EXPECT_GE(platform::TickCount(), first);
  EXPECT_GT(first, 0u);
}

TEST(LongTimeFormat, ReadsClockSeparatorAndMarkerFromThePattern) {
  using platform::LongTimeFormat;
  const LongTimeFormat iso = LongTimeFormat::FromPattern("%H:%M:%S", "", "");
  EXPECT_EQ(iso.Format(7, 5, 9), "07:05:09");
  EXPECT_EQ(iso.Format(23, 59, 0), "23:59:00");

  const LongTimeFormat us = LongTimeFormat::FromPattern("%I:%M:%S %p", "AM", "PM");
  EXPECT_EQ(us.Format(0, 5, 9), "12:05:09 AM");
  EXPECT_EQ(us.Format(13, 0, 0), "01:00:00 PM");
  EXPECT_EQ(us.Format(12, 30, 0), "12:30:00 PM");

  const LongTimeFormat markerFirst = LongTimeFormat::FromPattern("%p %l.%M.%S", "am", "pm");
  EXPECT_EQ(markerFirst.Format(9, 5, 3), "am 9.05.03");
  EXPECT_EQ(markerFirst.Format(21, 5, 3), "pm 9.05.03");

  const LongTimeFormat noZero = LongTimeFormat::FromPattern("%-H:%M:%S", "", "");
  EXPECT_EQ(noZero.Format(7, 5, 9), "7:05:09");
  EXPECT_EQ(LongTimeFormat::FromPattern("%T", "", "").Format(7, 5, 9), "07:05:09");
}

TEST(LongTimeFormat, FollowsTheLocale) {
  using platform::LongTimeFormat;
  EXPECT_EQ(LongTimeFormat::ForLocale("C").Format(14, 5, 9), "14:05:09");
  EXPECT_EQ(LongTimeFormat::ForLocale("no_SUCH.locale").Format(14, 5, 9), "14:05:09");

  testing::CompiledLocale american("en_US");
  if (!american.Available()) GTEST_SKIP() << "localedef cannot build en_US here";
  EXPECT_EQ(LongTimeFormat::ForLocale(american.Name()).Format(14, 5, 9), "02:05:09 PM");
}

}  // namespace
}  // namespace veldrano
