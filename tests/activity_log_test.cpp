#include <gtest/gtest.h>

#include <regex>

#include "report/activity_log.h"
#include "support/engine_fixture.h"

namespace veldrano {
namespace {

using ActivityLog = testing::EngineTest;

TEST_F(ActivityLog, NumbersWarningsAndErrorsIndependently) {
  AddLogEntry(LogWarning, "first", "/a/b", "why");
  AddLogEntry(LogWarning, "second");
  AddLogEntry(LogError, "bad", "/c");
  ASSERT_EQ(window.log.size(), 3u);
  EXPECT_EQ(window.log[0].Information, "Warning #1: first");
  EXPECT_EQ(window.log[0].Name, "/a/b");
  EXPECT_EQ(window.log[0].Comment, "why");
  EXPECT_EQ(window.log[1].Information, "Warning #2: second");
  EXPECT_EQ(window.log[2].Information, "Error #1: bad");
  EXPECT_EQ(ScanContext.WarningCount, 2);
  EXPECT_EQ(ScanContext.ErrorCount, 1);

  ScanContext.ErrorCount = 11;
  AddLogEntry(LogError, "twelfth");
  EXPECT_EQ(window.log.back().Information, "Error #12: twelfth");
}

TEST_F(ActivityLog, GivesEachKindItsImageAndCountsOnlyWarningsAndErrors) {
  AddLogEntry(LogReady, "Ready!", std::string(40, ' '), std::string(40, ' '));
  AddLogEntry(LogInfo, "Analysing...");
  AddLogEntry(LogWarning, "w");
  AddLogEntry(LogError, "e");
  AddLogEntry(LogWarningSummary, "THERE ARE WARNINGS (1)... Please see logs above...");
  AddLogEntry(LogErrorSummary, "THERE ARE ERRORS (1)... Please see logs above...");
  std::vector<int> images;
  for (const LogRow& row : window.log) images.push_back(row.ImageIndex);
  EXPECT_EQ(images, (std::vector<int>{0, 1, 2, 3, 2, 3}));
  EXPECT_EQ(window.log[0].Information, "Ready!");
  EXPECT_EQ(window.log[0].Name, std::string(40, ' '));
  EXPECT_EQ(window.log[4].Information, "THERE ARE WARNINGS (1)... Please see logs above...");
  EXPECT_EQ(ScanContext.WarningCount, 1);  // summaries are not counted
  EXPECT_EQ(ScanContext.ErrorCount, 1);
}

TEST_F(ActivityLog, StampsEachEntryWithTheLocalTime) {
  AddLogEntry(LogInfo, "x");
  // Hours, minutes, seconds; the separator and clock follow the user's locale.
  EXPECT_TRUE(std::regex_search(window.log[0].Time, std::regex(R"(\d{1,2}\D+\d\d\D+\d\d)"))) << window.log[0].Time;
}

TEST_F(ActivityLog, GoesNowhereWithoutAWindow) {
  ScanContext.Window = nullptr;
  AddLogEntry(LogWarning, "unseen");
  EXPECT_EQ(ScanContext.WarningCount, 1);
  EXPECT_TRUE(window.log.empty());
}

}  // namespace
}  // namespace veldrano
