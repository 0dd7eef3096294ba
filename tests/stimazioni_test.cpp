#include <gtest/gtest.h>

#include "report/stimazioni.h"

namespace veldrano {
namespace {

// An estimator on a clock the test moves by hand.
class Estimator : public ::testing::Test {
 protected:
  long double now = 1000;
  TStimazioni estimator{[this] { return now; }};
};

TEST_F(Estimator, FirstCallGivesZeroWhateverTheCounts) { EXPECT_EQ(estimator.Estimate(10, 1000), "00/00/00 00:00:00"); }

TEST_F(Estimator, TimeBeforeTheFirstCallDoesNotCount) {
  now = 90000;  // a long counting pass
  estimator.Estimate(1, 1000);
  now += 2000;
  EXPECT_EQ(estimator.Estimate(10, 1000), "00/00/00 00:03:18");  // 5 per second: 198 s left
}

TEST_F(Estimator, RecomputesOnlyAfterMoreThan250ms) {
  estimator.Estimate(1, 1000);
  now += 2000;
  EXPECT_EQ(estimator.Estimate(10, 1000), "00/00/00 00:03:18");
  now += 250;  // exactly 250 ms after the recomputation: the old text
  EXPECT_EQ(estimator.Estimate(900, 1000), "00/00/00 00:03:18");
  now += 1;  // 251 ms: recomputed (900 in 2.251 s, 100 left)
  EXPECT_EQ(estimator.Estimate(900, 1000), "00/00/00 00:00:00");
}

TEST_F(Estimator, AllDoneGivesZero) {
  estimator.Estimate(1, 50);
  now += 1000;
  EXPECT_EQ(estimator.Estimate(50, 50), "00/00/00 00:00:00");
}

TEST_F(Estimator, BreaksLongTimesIntoYearsOf360DaysAndMonthsOf30) {
  estimator.Estimate(1, 2);
  now += 1000;
  // 1 item per second, 34 560 001 - 1 left: 400 days.
  EXPECT_EQ(estimator.Estimate(1, 34560001), "01/01/10 00:00:00");
}

TEST_F(Estimator, DropsFractionsOfASecond) {
  estimator.Estimate(1, 2);
  now += 1000;
  EXPECT_EQ(estimator.Estimate(10, 609), "00/00/00 00:00:59");  // 10 per second, 59.9 s
}

TEST_F(Estimator, WritesAllDigitsOfAYearCountOver99) {
  estimator.Estimate(1, 2);
  now += 1000;
  const std::string text = estimator.Estimate(1, 123.0L * 31104000 + 1);
  EXPECT_EQ(text, "123/00/00 00:00:00");
  EXPECT_GT(text.size(), 17u);
}

TEST_F(Estimator, WritesNegativeFieldsWhenMoreIsDoneThanCounted) {
  estimator.Estimate(1, 2);
  now += 10000;
  // 1 item per second, 5 more done than counted: -5 s, written whole.
  EXPECT_EQ(estimator.Estimate(10, 5), "00/00/00 00:00:-5");
}

TEST_F(Estimator, KeepsTheOldTextWhenNothingIsDone) {
  estimator.Estimate(1, 2);
  now += 1000;
  EXPECT_EQ(estimator.Estimate(0, 10), "00/00/00 00:00:00");
}

}  // namespace
}  // namespace veldrano
