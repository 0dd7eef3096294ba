#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "scan/entry_cache.h"
#include "scan/size_store.h"
#include "support/scan_fixture.h"

namespace veldrano {
namespace {

// ProcessFile against a store in a work directory of the test's own.
class SizeStore : public testing::ScanTest {
 protected:
  void SetUp() override {
    ScanTest::SetUp();
    ScanContext.WorkDirPath = tmp + "/~work.~vesk/";
    ScanContext.DigitsPerLevel = 4;
  }
  std::string Stored(const std::string& relative) const {
    std::ifstream in(ScanContext.WorkDirPath + relative, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
  }
  // A file of size bytes made of fill, sparse beyond its first bytes.
  std::string Sized(const std::string& name, std::int64_t size, char fill) const {
    const std::string path = File(name, std::string(1, fill));
    EXPECT_EQ(truncate(path.c_str(), size), 0);
    return path;
  }
};

TEST_F(SizeStore, LaysOutEntryDirectoriesByDigitsPerLevel) {
  const std::string root = "T/";
  const std::pair<std::int64_t, const char*> four[] = {{0, "T/0/"},
                                                       {512, "T/512/"},
                                                       {1234567, "T/1234/567/"},
                                                       {123456789, "T/1234/5678/9/"},
                                                       {4294967296, "T/4294/9672/96/"}};
  for (const auto& [size, expected] : four) EXPECT_EQ(BuildEntryDirectory(root, SizeText(size)), expected);
  ScanContext.DigitsPerLevel = 8;
  EXPECT_EQ(BuildEntryDirectory(root, SizeText(1234567)), "T/1234567/");
  EXPECT_EQ(BuildEntryDirectory(root, SizeText(12345678)), "T/12345678/");
  EXPECT_EQ(BuildEntryDirectory(root, SizeText(123456789)), "T/12345678/9/");
  // From 10^15 bytes on, sizes are still keyed by all their digits.
  EXPECT_EQ(SizeText(1000000000000000), "1000000000000000");
  EXPECT_EQ(BuildEntryDirectory(root, SizeText(1234567890123456789)), "T/12345678/90123456/789/");
}

TEST_F(SizeStore, FirstFileOfASizeIsStoredUnhashed) {
  const std::string x = File("x", std::string(1234567, 'a'));
  ProcessFile(x, 1234567);
  EXPECT_EQ(Stored("T/1234/567/1234567"), ";" + x + "\r\n");
  EXPECT_EQ(ScanContext.StoredFiles, 1);
  EXPECT_EQ(ScanContext.StoreEntries, 1);
  EXPECT_TRUE(window.progressBar2.empty());  // nothing was read
  EXPECT_EQ(ScanContext.LastOperation, "Processing file " + x);
}

TEST_F(SizeStore, IdenticalFilesAreRecordedAgainstTheFirst) {
  const std::string content(1234567, 'a');
  const std::string x = File("x", content), y = File("y", content), z = File("z", content);
  ProcessFile(x, 1234567);
  ProcessFile(y, 1234567);
  ProcessFile(z, 1234567);
  // The entry still holds the first file alone: every match left it unwritten.
  EXPECT_EQ(Stored("T/1234/567/1234567"), ";" + x + "\r\n");
  ASSERT_TRUE(ScanContext.ResultsRoot);
  ASSERT_EQ(ScanContext.ResultsRoot->Groups.size(), 1u);
  EXPECT_EQ(ScanContext.ResultsRoot->Groups[0].Files, (std::vector<std::string>{x, y, z}));
  EXPECT_EQ(ScanContext.DuplicateFiles, 2);
  EXPECT_EQ(ScanContext.RecoverableBytes, 2 * 1234567);
  EXPECT_EQ(ScanContext.StoreEntries, 1);
  EXPECT_EQ(ScanContext.StoredFiles, 3);
}

TEST_F(SizeStore, DifferentContentsOfOneSizeGetSortedSignedLines) {
  const std::string x = File("x", "abc"), y = File("y", "abd"), z = File("z", "abd");
  ProcessFile(x, 3);
  ProcessFile(y, 3);
  // MD5("abc") = 9001..., MD5("abd") = 4911...: ascending order puts y first.
  const std::string sigX = "900150983CD24FB0D6963F7D28E17F72";
  const std::string sigY = "4911E516E5AA21D327512E0C8B197616";
  EXPECT_EQ(Stored("T/3/3"), sigY + ";" + y + "\r\n" + sigX + ";" + x + "\r\n");
  EXPECT_FALSE(ScanContext.ResultsRoot);

  int hashes = 0;
  window.onPump = [&](int) { ++hashes; };
  ProcessFile(z, 3);
  ASSERT_TRUE(ScanContext.ResultsRoot);
  EXPECT_EQ(ScanContext.ResultsRoot->Groups[0].Signature, sigY);
  EXPECT_EQ(ScanContext.ResultsRoot->Groups[0].Files, (std::vector<std::string>{y, z}));
  // One pump at the start, one for z's single view, one per search probe,
  // one for the new results root: x was not hashed again.
  EXPECT_LE(hashes, 5);
}

TEST_F(SizeStore, EmptyFilesShareOneEntryAndAreDuplicatesOfTheFirst) {
  const std::string a = File("a", ""), b = File("b", ""), c = File("c", "");
  for (const auto& p : {a, b, c}) ProcessFile(p, 0);
  EXPECT_EQ(Stored("T/0/0"), ";" + a + "\r\n");
  EXPECT_EQ(ScanContext.DuplicateFiles, 2);
  EXPECT_EQ(ScanContext.RecoverableBytes, 0);
  EXPECT_EQ(ScanContext.ResultsRoot->Groups[0].Signature, "D41D8CD98F00B204E9800998ECF8427E");
}

TEST_F(SizeStore, KeepsPathsWithSemicolonsLineBreaksAndBackslashesWhole) {
  const std::string odd1 = File("a;b\nc\\n", "same"), odd2 = File("d\r;e", "same"), other = File("f", "diff");
  ProcessFile(odd1, 4);
  ProcessFile(other, 4);  // signs odd1's line, reading its path back
  ProcessFile(odd2, 4);
  ASSERT_TRUE(ScanContext.ResultsRoot);
  EXPECT_EQ(ScanContext.ResultsRoot->Groups[0].Files, (std::vector<std::string>{odd1, odd2}));
  // Every line of the entry file stays one line.
  const std::string stored = Stored("T/4/4");
  EXPECT_EQ(std::count(stored.begin(), stored.end(), '\n'), 2);
  EXPECT_EQ(UnescapeStoredPath(EscapeStoredPath("x\\y\nz\r\\n")), "x\\y\nz\r\\n");
}

TEST_F(SizeStore, SkipsAFileThatCannotBeOpenedWithAWarning) {
  const std::string gone = tree + "/gone";
  ProcessFile(gone, 10);
  ASSERT_EQ(window.log.size(), 1u);
  EXPECT_EQ(window.log[0].Information, "Warning #1: Can not access to this file");
  EXPECT_EQ(window.log[0].Name, gone);
  EXPECT_EQ(window.log[0].Comment, "[2] No such file or directory");
  EXPECT_EQ(ScanContext.StoredFiles, 0);
  EXPECT_EQ(ScanContext.StoreEntries, 0);
  EXPECT_FALSE(std::filesystem::exists(ScanContext.WorkDirPath));
}

// With four digits per level the entry file of 1234 (T/1234/1234) has the
// path of a level directory of 12341234 (T/1234/1234/1234/): both sizes
// must work, whichever comes first.
TEST_F(SizeStore, KeepsSizesWhoseEntryFileAndLevelShareAPathInEitherOrder) {
  for (const bool shortFirst : {true, false}) {
    SCOPED_TRACE(shortFirst ? "1234 first" : "12341234 first");
    ScanContext.WorkDirPath = tmp + (shortFirst ? "/~a.~vesk/" : "/~b.~vesk/");
    ScanContext.ResultsRoot.reset();
    ScanContext.Selection.clear();
    ScanContext.DuplicateFiles = 0;
    const std::string tag = shortFirst ? "a" : "b";
    const std::string s1 = Sized(tag + "s1", 1234, 's'), s2 = Sized(tag + "s2", 1234, 's');
    const std::string l1 = Sized(tag + "l1", 12341234, 'l'), l2 = Sized(tag + "l2", 12341234, 'l');
    if (shortFirst) {
      for (const auto& p : {s1, l1, s2, l2}) ProcessFile(p, p == s1 || p == s2 ? 1234 : 12341234);
    } else {
      for (const auto& p : {l1, s1, l2, s2}) ProcessFile(p, p == s1 || p == s2 ? 1234 : 12341234);
    }
    EXPECT_TRUE(window.log.empty());
    EXPECT_EQ(ScanContext.DuplicateFiles, 2);
    ASSERT_TRUE(ScanContext.ResultsRoot);
    ASSERT_EQ(ScanContext.ResultsRoot->Groups.size(), 2u);
    EXPECT_EQ(ScanContext.Selection.size(), 4u);
  }
}

TEST_F(SizeStore, MovesAnEntryFileThatStandsWhereADeeperLevelMustGo) {
  // 1234's entry file T/1234/1234 lies on the way to 123412345678's level
  // T/1234/1234/5678/.
  const std::string s1 = Sized("s1", 1234, 's'), s2 = Sized("s2", 1234, 's');
  const std::string l1 = Sized("l1", 123412345678, 'l');
  ProcessFile(s1, 1234);
  ProcessFile(l1, 123412345678);
  ProcessFile(s2, 1234);
  EXPECT_TRUE(window.log.empty());
  EXPECT_EQ(ScanContext.DuplicateFiles, 1);
  EXPECT_EQ(Stored("T/1234/1234/5678/123412345678"), ";" + l1 + "\r\n");
}

TEST_F(SizeStore, KeepsEntriesInMemoryUntilTheyLeaveTheCache) {
  // Room for about one entry of a few lines; no change is written at once.
  ScanContext.StoreCache = std::make_unique<EntryCache>(1200, 0);
  std::vector<std::string> paths;
  for (const char* content : {"aa", "ab", "ac", "ad"}) paths.push_back(File(content, content));
  for (const auto& p : paths) ProcessFile(p, 2);
  const auto lineCount = [&](const std::string& entry) {
    const std::string stored = Stored(entry);
    return std::count(stored.begin(), stored.end(), '\n');
  };
  EXPECT_EQ(lineCount("T/2/2"), 1);  // only the first file's line is on disk yet

  // Other entries push this one out of the cache: then it is written whole.
  for (int i = 0; i < 50 && lineCount("T/2/2") == 1; ++i) {
    ProcessFile(File("x" + std::to_string(i), "x" + std::to_string(100 + i)), 4);
  }
  const std::string stored = Stored("T/2/2");
  std::vector<std::string> lines;
  std::istringstream in(stored);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  EXPECT_EQ(lines.size(), 4u);
  EXPECT_TRUE(std::is_sorted(lines.begin(), lines.end()));

  // Read back from disk, it still finds the first file of each content.
  ProcessFile(File("copy-of-ac", "ac"), 2);
  ASSERT_TRUE(ScanContext.ResultsRoot);
  EXPECT_EQ(ScanContext.ResultsRoot->Groups[0].Files, (std::vector<std::string>{paths[2], tree + "/copy-of-ac"}));
  EXPECT_TRUE(window.log.empty());
}

TEST_F(SizeStore, FindsEveryLineByBinarySearch) {
  std::vector<std::string> lines;
  for (int i = 0; i < 37; ++i) {
    char signature[33];
    std::snprintf(signature, sizeof signature, "%032X", i * 7919);
    lines.push_back(std::string(signature) + ";/p" + std::to_string(i));
  }
  std::sort(lines.begin(), lines.end());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(FindSignatureLine(lines[i].substr(0, 32), lines), static_cast<std::int64_t>(i));
  }
  EXPECT_EQ(FindSignatureLine("00000000000000000000000000000001", lines), -1);
  EXPECT_EQ(FindSignatureLine("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF", lines), -1);
  EXPECT_EQ(FindSignatureLine("X", {";/only"}), -1);
}

}  // namespace
}  // namespace veldrano
