#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "scan/directory_walk.h"
#include "support/scan_fixture.h"

namespace veldrano {
namespace {

using DirectoryWalk = testing::ScanTest;

TEST_F(DirectoryWalk, CountingPassCountsRegularFilesWithTheirFullSize) {
  File("a", "12345");
  File(".hidden/b", "12");
  const std::string big = File("big", "x");
  ASSERT_EQ(truncate(big.c_str(), 5LL << 30), 0);  // sparse: 5 GiB counted, nothing read
  ASSERT_EQ(mkfifo((tree + "/fifo").c_str(), 0600), 0);
  ASSERT_EQ(symlink("a", (tree + "/link").c_str()), 0);
  ScanDirectory(tree, true);
  EXPECT_EQ(ScanContext.FilesFound, 3);
  EXPECT_EQ(ScanContext.FilesPending, 3);
  EXPECT_EQ(ScanContext.TotalBytes, 7 + (5LL << 30));
  EXPECT_EQ(ScanContext.LastOperation, "Checking Size of file " + tree + "/big");
  EXPECT_EQ(window.Panel(3).front(), tree + "/.hidden/b");  // name order: ".hidden" first
  EXPECT_EQ(window.Panel(1).front(), "1");
  EXPECT_TRUE(window.log.empty());
}

TEST_F(DirectoryWalk, AMissingDirectoryIsReportedOnlyInTheProcessingPass) {
  ScanDirectory(tree + "/missing", true);
  EXPECT_TRUE(window.log.empty());
  ScanDirectory(tree + "/missing", false);
  ASSERT_EQ(window.log.size(), 1u);
  EXPECT_EQ(window.log[0].Information, "Error #1: Error while scanning...");
  EXPECT_EQ(window.log[0].Name, tree + "/missing/");
  EXPECT_EQ(window.log[0].Comment, "No such file or directory");
}

TEST_F(DirectoryWalk, StopEndsEveryLevelBeforeItsNextEntry) {
  for (const char* name : {"a/1", "a/2", "b/3", "c"}) File(name, "x");
  window.onPump = [&](int) {
    if (ScanContext.FilesFound == 1) ScanContext.StopRequested = true;
  };
  ScanDirectory(tree, true);
  EXPECT_EQ(ScanContext.FilesFound, 1);
  // Every later call visits nothing.
  ScanDirectory(tree, true);
  EXPECT_EQ(ScanContext.FilesFound, 1);
}

TEST_F(DirectoryWalk, AStopThatCameDuringTheListingLandsBeforeTheFirstFile) {
  File("a", "x");
  File("b", "y");
  // The click is handled the first time the walk lets the window run.
  window.onPump = [&](int) { ScanContext.StopRequested = true; };
  ScanDirectory(tree, true);
  EXPECT_EQ(ScanContext.FilesFound, 0);
  EXPECT_EQ(window.pumps, 1);
}

TEST_F(DirectoryWalk, ShowStatusDropsTextsWithin500msOfThePanelsLastOne) {
  ShowStatus(2, "first");
  ShowStatus(2, "dropped");
  ShowStatus(1, "other panel");
  EXPECT_EQ(window.Panel(2), (std::vector<std::string>{"first"}));
  EXPECT_EQ(window.Panel(1), (std::vector<std::string>{"other panel"}));
  EXPECT_EQ(window.pumps, 2);  // only shown texts let the window run
  ScanContext.PanelShownAt[2] -= 501;
  ShowStatus(2, "later");
  EXPECT_EQ(window.Panel(2).back(), "later");
}

}  // namespace
}  // namespace veldrano
