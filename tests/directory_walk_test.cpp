#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <map>

#include "scan/directory_walk.h"
#include "scan/listing_ahead.h"
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
// A walk taking its listings from a helper listing ahead, as the scan's
// walk does: whichever thread lists a directory, the walk gets every
// directory's own entries, once, in either order, with a budget so small
// that the helper keeps waiting for the walk, and past listings it is told
// the walk holds already; backwards, also as slim listings past the budget,
// which keep what the counting pass needs (names, kinds, sizes, and
// directories whole, to be gone into).
TEST_F(DirectoryWalk, ListingAheadGivesEveryDirectoryItsOwnListing) {
  for (int a = 0; a < 4; ++a) {
    for (int b = 0; b < 5; ++b) {
      for (int c = 0; c < 3; ++c)
        File("d" + std::to_string(a) + "/e" + std::to_string(b) + "/f" + std::to_string(c), std::string(c + 1, 'x'));
      File("d" + std::to_string(a) + "/e" + std::to_string(b) + "/g/h/file", "y");
    }
  }
  using Names = std::vector<std::string>;
  using platform::DirectoryReader;
  const auto namesOf = [](const DirectoryReader::Listing& listing) {
    Names names;
    for (const auto& entry : listing.Entries) {
      names.push_back(entry.Name + " " + std::to_string(static_cast<int>(entry.Kind)) + " " +
                      std::to_string(entry.Size));
    }
    return names;
  };
  // path -> names: a plain walk, and the known listings (every other
  // directory's) a processing pass would hold.
  std::map<std::string, Names> expected;
  ListingAhead::Known known;
  const std::function<void(DirectoryReader&, const std::string&, int)> plain = [&](DirectoryReader& reader,
                                                                                   const std::string& path, int n) {
    const DirectoryReader::Listing listing = reader.ReadAll();
    expected[path] = namesOf(listing);
    if (n % 2 == 0) known[{reader.Device(), reader.Inode()}] = listing.Subdirectories();
    for (const auto& entry : listing.Subdirectories()) {
      DirectoryReader sub(reader, entry);
      plain(sub, path + entry.Name + "/", ++n);
    }
  };
  DirectoryReader top(tree + "/");
  plain(top, tree + "/", 0);
  const auto goesInto = [](const DirectoryReader&, const std::string&, const platform::DirectoryEntry& entry, bool) {
    return entry.Name != "g";  // as a filter would leave it out
  };
  for (const auto order : {ListingAhead::Order::Backwards, ListingAhead::Order::Forwards}) {
    for (const auto& [budget, slimBudget] :
         {std::pair{ListingAhead::DefaultByteBudget, std::size_t{0}}, std::pair{std::size_t{1}, std::size_t{0}},
          std::pair{std::size_t{1}, ListingAhead::DefaultSlimBudget}}) {
      for (const bool withKnown : {false, true}) {
        SCOPED_TRACE(::testing::Message()
                     << static_cast<int>(order) << " " << budget << " " << slimBudget << " " << withKnown);
        std::map<std::string, Names> seen;
        DirectoryReader root(tree + "/");
        ListingAhead ahead(root, tree + "/", false, goesInto, order, withKnown ? known : ListingAhead::Known{}, budget,
                           slimBudget);
        const std::function<void(DirectoryReader&, const std::string&)> walk = [&](DirectoryReader& reader,
                                                                                   const std::string& path) {
          std::optional<DirectoryReader::Listing> listing = ahead.Take(reader);
          if (!listing) {
            listing = reader.ReadAll();
            ahead.Listed(reader, *listing);
          }
          EXPECT_TRUE(seen.emplace(path, namesOf(*listing)).second) << path;
          for (const auto& entry : listing->Subdirectories()) {
            DirectoryReader sub(reader, entry);
            walk(sub, path + entry.Name + "/");
          }
        };
        walk(root, tree + "/");
        EXPECT_EQ(seen, expected);
      }
    }
  }
}

}  // namespace veldrano
