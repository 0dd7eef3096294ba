#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>

#include "scan/scan_context.h"
#include "scan/scan_driver.h"
#include "scan/scan_filters.h"
#include "support/mount_namespace.h"
#include "support/scan_fixture.h"

namespace veldrano {
namespace {

TEST(ScanFilterTexts, SizesAreReadAsUsersWriteThemInUnitsOf1024) {
  std::string problem;
  for (const auto& [text, bytes] : std::vector<std::pair<std::string, std::uint64_t>>{{"0", 0},
                                                                                      {"100", 100},
                                                                                      {"10k", 10240},
                                                                                      {"10K", 10240},
                                                                                      {"4M", 4ULL << 20},
                                                                                      {"1G", 1ULL << 30},
                                                                                      {"1.5G", 3ULL << 29},
                                                                                      {"2KiB", 2048},
                                                                                      {"3kb", 3072},
                                                                                      {"7B", 7},
                                                                                      {"2T", 2ULL << 40}}) {
    EXPECT_EQ(ParseSize(text, problem), bytes) << text;
    EXPECT_EQ(problem, "");
  }
  for (const std::string text : {"", "k", "10x", "-1", "1.2.3", "10 k", "1iB", "4Mx"}) {
    EXPECT_EQ(ParseSize(text, problem), std::nullopt) << text;
    EXPECT_TRUE(problem.starts_with("not a size: ")) << text;
  }
  EXPECT_EQ(ParseSize("99999999T", problem), std::nullopt);
  EXPECT_EQ(problem, "too large");
  // What a settings file or a dialog writes back reads as the same size.
  for (const std::uint64_t bytes :
       std::initializer_list<std::uint64_t>{0, 1000, 10240, 3ULL << 29, 5ULL << 40, UINT64_MAX}) {
    EXPECT_EQ(ParseSize(WrittenSize(bytes), problem), bytes) << WrittenSize(bytes);
  }
  EXPECT_EQ(WrittenSize(3ULL << 29), "1536M");
}

TEST(ScanFilterTexts, AnInvalidPatternOrSizeRangeIsRefusedWithItsReason) {
  EXPECT_EQ(PatternProblem("*.[ch]", false), "");
  EXPECT_EQ(PatternProblem("[[:digit:]]*", false), "");
  EXPECT_EQ(PatternProblem("[]x]", false), "");
  EXPECT_EQ(PatternProblem("*.[ch", false), "a \"[\" is not closed by \"]\" (write \"[[]\" for a \"[\" itself)");
  EXPECT_EQ(PatternProblem("x\\", false), "it ends in a lone \"\\\"");
  EXPECT_EQ(PatternProblem("*/build/", false), "it ends in \"/\", which no path does");
  EXPECT_EQ(PatternProblem("", true), "an empty pattern");
  EXPECT_NE(PatternProblem("(a", true), "");
  ScanFilters filters;
  filters.RegexMode = true;
  filters.ExcludedFiles = {"^a", "b("};
  EXPECT_TRUE(FiltersProblem(filters).starts_with("file pattern \"b(\": ")) << FiltersProblem(filters);
  filters.ExcludedFiles.clear();
  filters.MinSize = 2048;
  filters.MaxSize = 1024;
  EXPECT_EQ(FiltersProblem(filters),
            "the minimum size 2 Kb (2 048 bytes) is above the maximum size 1 Kb (1 024 bytes)");
}

class ScanFilterRun : public testing::ScanTest {
 protected:
  // Scans the tree with filters; gives the files processed, relative to the
  // tree, in walk order. Every file holds the same bytes per size, so each
  // one processed lands in a group with the others of its size.
  std::string Processed(const ScanFilters& filters) {
    ScanContext.Filters = filters;
    window.directories.clear();
    window.log.clear();
    List(tree);
    if (!sbStartClick() || !ScanContext.ResultsRoot) return "the scan failed";
    std::vector<std::string> files;
    for (const SignatureGroup& group : ScanContext.ResultsRoot->Groups) {
      for (const std::string& file : group.Files) files.push_back(file.substr(tree.size() + 1));
    }
    std::ranges::sort(files);
    std::string text;
    for (const std::string& file : files) text += (text.empty() ? "" : " ") + file;
    // Both passes left out the same: every file counted was processed.
    if (ScanContext.FilesPending != 0)
      text += " | counted " + std::to_string(ScanContext.FilesFound) + ", pending " +
              std::to_string(ScanContext.FilesPending);
    return text;
  }
  // The log line of the run that starts with text ("" when there is none).
  std::string Line(const std::string& text) const {
    for (const LogRow& row : window.log) {
      if (row.Information.starts_with(text)) return row.Information;
    }
    return "";
  }
};

TEST_F(ScanFilterRun, GlobsLeaveOutExactlyWhatTheyShowOnNamesOrOnPaths) {
  for (const char* name : {"a.tmp", "b1.log", "b22.log", "c.txt", "C.txt", "d.txt", "e.txt", "sub/d.txt", "sub/e.tmp",
                           "deep/f.txt", "deeper/g.txt", "x/sub/h", "subway/i"}) {
    File(name, "same");
  }
  ScanFilters files;
  files.ExcludedFiles = {"*.tmp", "b?.log", "[Cc].txt", "*/sub/d.txt"};
  EXPECT_EQ(Processed(files), "b22.log d.txt deep/f.txt deeper/g.txt e.txt subway/i x/sub/h");
  EXPECT_EQ(ScanContext.FilesFound, 7);
  EXPECT_EQ(Line("Left out by the filters: "), "Left out by the filters: 6 files (24 bytes)");
  EXPECT_EQ(Line("Filters: "), "Filters: files left out: \"*.tmp\", \"b?.log\", \"[Cc].txt\", \"*/sub/d.txt\"");

  // A name pattern leaves out the folder wherever it is; a path pattern
  // only where the path says.
  ScanFilters folders;
  folders.ExcludedFolders = {"sub", "*/deep"};
  EXPECT_EQ(Processed(folders), "C.txt a.tmp b1.log b22.log c.txt d.txt deeper/g.txt e.txt subway/i");
  EXPECT_EQ(Line("Left out by the filters: "), "Left out by the filters: 0 files (0 byte); folders not entered: 3");
}

TEST_F(ScanFilterRun, RegularExpressionsLeaveOutWhatTheyMatchAnywhereUnlessAnchored) {
  for (const char* name : {"b1.log", "b22.log", "bx.log", "a.tmp", "a.tmpx", "cache1/x", "mycache/y", "keep/z"}) {
    File(name, "same");
  }
  ScanFilters filters;
  filters.RegexMode = true;
  filters.ExcludedFiles = {"^b[0-9]+\\.log$", "\\.tmp$"};
  filters.ExcludedFolders = {"^cache"};
  EXPECT_EQ(Processed(filters), "a.tmpx bx.log keep/z mycache/y");
  // One that came through unchecked ends the run before it walks.
  filters.ExcludedFiles = {"(a"};
  EXPECT_EQ(Processed(filters), "the scan failed");
  EXPECT_EQ(Line("Analysing..."), "");
  EXPECT_TRUE(Line("Error #1: Filters not valid: file pattern \"(a\": ").size() > 0);
}

TEST_F(ScanFilterRun, SizesHiddenNamesAndPresetsAreLeftOutInBothPasses) {
  for (const char* name : {"1", "1b"}) File(name, "x");
  for (const char* name :
       {"10", "10b", ".10c", "node_modules/10", "src/.git/objects/10", "src/__pycache__/10", ".config/10", "src/10"}) {
    File(name, "0123456789");
  }
  for (const char* name : {"100", "100b"}) File(name, std::string(100, 'z'));
  ScanFilters filters;
  filters.MinSize = 2;
  filters.MaxSize = 99;
  EXPECT_EQ(Processed(filters), ".10c .config/10 10 10b node_modules/10 src/.git/objects/10 src/10 src/__pycache__/10");
  EXPECT_EQ(Line("Left out by the filters: "), "Left out by the filters: 4 files (202 bytes)");

  filters.SkipHidden = true;
  filters.SkipVersionControl = true;
  filters.SkipNodeModules = true;
  filters.SkipCaches = true;
  EXPECT_EQ(Processed(filters), "10 10b src/10");
  EXPECT_EQ(Line("Left out by the filters: "), "Left out by the filters: 5 files (212 bytes); folders not entered: 4");
}

// Runs body in a child process without the capabilities that let root read
// any folder, and gives back its text; none when the child still reads
// through a folder of mode 000 (the test is then skipped).
std::optional<std::string> WithoutReadingEverything(const std::string& closed,
                                                    const std::function<std::string()>& body) {
  return testing::InChildProcess(
      [&closed] {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2]{};
        if (syscall(SYS_capget, &header, data) == 0) {
          data[0].effective &= ~((1U << CAP_DAC_OVERRIDE) | (1U << CAP_DAC_READ_SEARCH));
          syscall(SYS_capset, &header, data);
        }
        // Not access(), which grants root everything whatever its capabilities.
        const int fd = open(closed.c_str(), O_RDONLY | O_DIRECTORY);
        if (fd >= 0) close(fd);
        return fd < 0;
      },
      [&body] { return std::optional<std::string>(body()); });
}

TEST_F(ScanFilterRun, AnExcludedFolderIsNotEvenOpened) {
  File("a", "same");
  File("b", "same");
  const std::string closed = tree + "/private";
  File("private/c", "same");
  ASSERT_EQ(chmod(closed.c_str(), 0), 0);
  const auto errors = [&](const ScanFilters& filters) {
    const std::string files = Processed(filters);
    std::string text = files + " |";
    for (const LogRow& row : window.log) {
      if (row.Information.find("Error") != std::string::npos) text += " " + row.Information + " " + row.Name;
    }
    return text;
  };
  ScanFilters filters;
  filters.ExcludedFolders = {"priv*"};
  const std::optional<std::string> found =
      WithoutReadingEverything(closed, [&] { return errors(ScanFilters{}) + "\n" + errors(filters); });
  chmod(closed.c_str(), 0700);
  if (!found) GTEST_SKIP() << "a folder of mode 000 is still read here";
  // Entered, it gives an error; excluded, none.
  EXPECT_EQ(*found, "a b | Error #1: Error while scanning... " + closed + "/\na b |");
}

TEST_F(ScanFilterRun, OneFileSystemDoesNotEnterAFileSystemMountedInsideTheTree) {
  File("keep.jpg", "photo");
  std::filesystem::create_directories(tree + "/usb");
  const std::optional<std::string> found = testing::InOwnMountNamespace([&]() -> std::optional<std::string> {
    if (mount("tmpfs", (tree + "/usb").c_str(), "tmpfs", 0, "size=1m") != 0) return std::nullopt;
    File("usb/copy.jpg", "photo");
    File("usb/deeper/copy2.jpg", "photo");
    ScanFilters filters;
    std::string text = Processed(filters) + "\n";
    filters.OneFileSystem = true;
    text += Processed(filters) + "\n";
    text += std::to_string(ScanContext.FilesFound) + "\n" + Line("Left out by the filters: ");
    return text;
  });
  if (!found) GTEST_SKIP() << "no tmpfs mount in a mount namespace of its own here";
  EXPECT_EQ(*found,
            "keep.jpg usb/copy.jpg usb/deeper/copy2.jpg\n\n1\n"
            "Left out by the filters: 0 files (0 byte); folders not entered: 1");
}

}  // namespace
}  // namespace veldrano
