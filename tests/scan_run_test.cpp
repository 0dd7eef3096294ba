#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/file_system.h"
#include "platform/unique_fd.h"
#include "scan/disk_table.h"
#include "scan/scan_context.h"
#include "scan/scan_driver.h"
#include "scan/work_dir.h"
#include "signature/file_signature.h"
#include "support/bytes.h"
#include "support/killed_run.h"
#include "support/mount_namespace.h"
#include "support/scan_fixture.h"

namespace veldrano {
namespace {

using ScanRun = testing::ScanTest;
using Strings = std::vector<std::string>;

constexpr const char* Empty = "D41D8CD98F00B204E9800998ECF8427E";
constexpr const char* Hello = "B1946AC92492D2347C6235B4D2611184";  // "hello\n"

// What a run found, as text: the files of each group, then the log's
// lines on what it left out or met twice.
std::string Found(const testing::RecordingWindow& window) {
  std::string text;
  for (const SignatureGroup& group : ScanContext.ResultsRoot->Groups) {
    for (const std::string& file : group.Files) text += file + "\n";
    text += "--\n";
  }
  for (const LogRow& row : window.log) {
    if (row.Information.starts_with("Trash folders") || row.Information.starts_with("Files met twice")) {
      text += row.Information + "\n";
    }
  }
  return text;
}

// Sets an environment variable for the life of the object.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) {
    const char* old = std::getenv(name);
    if (old != nullptr) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedVariable() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

std::vector<std::string> Paths(const std::vector<SelectionRow>& rows) {
  std::vector<std::string> paths;
  for (const SelectionRow& row : rows) paths.push_back(PathOf(row) + (row.Checked ? " [x]" : " [ ]"));
  return paths;
}

TEST_F(ScanRun, WithoutDirectoriesWritesOneWarningAndEndsIdle) {
  window.onPump = [](int) { ASSERT_TRUE(ScanContext.Busy); };
  EXPECT_TRUE(sbStartClick());
  EXPECT_EQ(window.Informations(),
            Strings{"Warning #1: No directory selected ; Please drag'n drop one or more directories to find "
                    "duplicate files..."});
  EXPECT_FALSE(ScanContext.ResultsRoot);
  EXPECT_TRUE(ScanContext.Selection.empty());
  EXPECT_FALSE(ScanContext.Busy);
  EXPECT_EQ(window.topCaption, "Drag'n drop directories here...");
  EXPECT_EQ(TmpEntries(), 0u);
}

TEST_F(ScanRun, OfAnEmptyDirectoryReportsNothingFound) {
  List(tree);
  EXPECT_TRUE(sbStartClick());
  EXPECT_EQ(window.Informations(), (Strings{"Analysing...", "Files found: 0", "Total size: 0 byte", "Working...",
                                            "Job: " + tree + "/", "Duplicate files: 0", "Ready!"}));
  ASSERT_TRUE(ScanContext.ResultsRoot);  // the root alone
  EXPECT_TRUE(ScanContext.ResultsRoot->Groups.empty());
  EXPECT_EQ(window.Panel(3).back(), "Ready!");
  EXPECT_FALSE(window.progressBarsVisible);
  EXPECT_EQ(TmpEntries(), 0u);  // nothing stored, no reserved file left
}

TEST_F(ScanRun, FindsDuplicatesAndLeavesNothingOnDisk) {
  // Written in reverse order: the walk goes by name all the same.
  File("z/b", "hello\n");
  File("c", "other\n");
  File("a", "hello\n");
  File("z/e2", "");
  File("e1", "");
  File("unique", "a size of its own");
  List(tree);

  EXPECT_TRUE(sbStartClick());
  EXPECT_EQ(window.Informations(),
            (Strings{"Analysing...", "Files found: 6", "Total size: 35 bytes", "Working...", "Job: " + tree + "/",
                     "Duplicate files: 2", "Recoverable disc space: 6 bytes", "Releasing resources...", "Ready!"}));
  EXPECT_EQ(window.log[6].Comment, "6 Bytes");
  for (const LogRow& row : window.log) EXPECT_EQ(row.Name, "");

  const auto& groups = ScanContext.ResultsRoot->Groups;
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[0].Signature, Hello);
  EXPECT_EQ(groups[0].Files, (Strings{tree + "/a", tree + "/z/b"}));
  EXPECT_EQ(groups[1].Signature, Empty);
  EXPECT_EQ(groups[1].Files, (Strings{tree + "/e1", tree + "/z/e2"}));
  EXPECT_EQ(Paths(ScanContext.Selection),
            (Strings{tree + "/a [ ]", tree + "/z/b [x]", tree + "/e1 [ ]", tree + "/z/e2 [x]"}));

  EXPECT_EQ(ScanContext.FilesFound, 6);
  EXPECT_EQ(ScanContext.TotalBytes, 35);
  EXPECT_EQ(ScanContext.DuplicateFiles, 2);
  EXPECT_EQ(ScanContext.RecoverableBytes, 6);
  EXPECT_EQ(ScanContext.StoredFiles, 6);
  EXPECT_EQ(ScanContext.StoreEntries, 3);  // sizes 0, 6 and 17
  EXPECT_EQ(ScanContext.ReleaseRemaining, 0);
  EXPECT_EQ(ScanContext.DigitsPerLevel, 8);
  EXPECT_FALSE(ScanContext.Busy);
  EXPECT_TRUE(ScanContext.LastOperation.empty());
  EXPECT_EQ(window.overallProgress.back(), 0);
  EXPECT_EQ(TmpEntries(), 0u);  // store released, reserved file removed
}

TEST_F(ScanRun, SecondRunStartsFromZeroAndKeepsTheLog) {
  File("a", "hello\n");
  File("b", "hello\n");
  List(tree);
  ASSERT_TRUE(sbStartClick());
  const std::size_t firstRunRows = window.log.size();
  ASSERT_TRUE(sbStartClick());
  EXPECT_EQ(window.log.size(), 2 * firstRunRows);
  EXPECT_EQ(ScanContext.DuplicateFiles, 1);
  EXPECT_EQ(ScanContext.Selection.size(), 2u);
  EXPECT_EQ(ScanContext.ResultsRoot->Groups.size(), 1u);
  EXPECT_TRUE(ScanContext.WorkDirPath.empty()) << "named only when the store spills";
}

TEST_F(ScanRun, StopDuringTheCountingPassEmptiesTheProcessingPass) {
  for (int i = 0; i < 5; ++i) File("d1/f" + std::to_string(i), "same");
  File("d2/g", "same");
  List(tree + "/d1");
  List(tree + "/d2");
  window.onPump = [&](int) {
    if (ScanContext.FilesFound == 2 && !ScanContext.StopRequested) sbStopClick();
  };
  EXPECT_TRUE(sbStartClick());
  const Strings info = window.Informations();
  // The entry before which Stop was pressed is still counted.
  EXPECT_EQ(info, (Strings{"Analysing...", "Stop button pressed...", "Files found: 3", "Total size: 12 bytes",
                           "Working...", "Job: " + tree + "/d1/", "Job: " + tree + "/d2/",
                           "Process stopped by the user", "Duplicate files: 0", "Ready!"}));
  EXPECT_EQ(window.log[1].Comment, "Operation: Checking Size of file " + tree + "/d1/f1");
  EXPECT_EQ(window.log[7].Comment, "Last operation: Checking Size of file " + tree + "/d1/f2");
  EXPECT_EQ(ScanContext.StoredFiles, 0);
  EXPECT_EQ(TmpEntries(), 0u);
}

TEST_F(ScanRun, StopDuringTheProcessingPassKeepsWhatWasFoundAndReleasesTheStore) {
  for (int i = 0; i < 6; ++i) File("f" + std::to_string(i), "same");
  List(tree);
  window.onPump = [&](int) {
    if (ScanContext.DuplicateFiles == 2 && !ScanContext.StopRequested) sbStopClick();
  };
  EXPECT_TRUE(sbStartClick());
  const Strings info = window.Informations();
  EXPECT_NE(std::find(info.begin(), info.end(), "Process stopped by the user"), info.end());
  EXPECT_NE(std::find(info.begin(), info.end(), "Duplicate files: 2"), info.end());
  EXPECT_NE(std::find(info.begin(), info.end(), "Recoverable disc space: 8 bytes"), info.end());
  EXPECT_NE(std::find(info.begin(), info.end(), "Releasing resources..."), info.end());
  EXPECT_EQ(ScanContext.Selection.size(), 3u);
  EXPECT_EQ(TmpEntries(), 0u);
}

TEST_F(ScanRun, CountsAFileThatCannotBeOpenedAsAWarning) {
  const std::string a = File("a", "x");
  File("b", "y");
  List(tree);
  // The file goes away between the walk seeing it and the store opening it.
  window.onPump = [&](int) {
    if (ScanContext.LastOperation == "Processing file " + a) unlink(a.c_str());
  };
  EXPECT_TRUE(sbStartClick());
  ASSERT_GE(window.log.size(), 7u);
  EXPECT_EQ(window.log[5].Information, "Warning #1: Can not access to this file");
  EXPECT_EQ(window.log[5].Name, a);
  EXPECT_EQ(window.log[5].Comment, "[2] No such file or directory");
  EXPECT_EQ(window.Informations()[window.log.size() - 2], "THERE ARE WARNINGS (1)... Please see logs above...");
  EXPECT_EQ(window.log[window.log.size() - 2].ImageIndex, 2);
  EXPECT_EQ(ScanContext.StoredFiles, 1);
}

TEST_F(ScanRun, ReportsADirectoryThatCannotBeListedInTheProcessingPass) {
  File("keep/a", "1");
  File("gone/b", "2");
  List(tree);
  // Gone between the passes: counted, then not listable.
  window.onPump = [&](int) {
    if (window.log.back().Information.starts_with("Job: ")) std::filesystem::remove_all(tree + "/gone");
  };
  EXPECT_TRUE(sbStartClick());
  const auto found = std::find_if(window.log.begin(), window.log.end(),
                                  [](const LogRow& r) { return r.Information == "Error #1: Error while scanning..."; });
  ASSERT_NE(found, window.log.end());
  EXPECT_EQ(found->Name, tree + "/gone/");
  EXPECT_EQ(found->Comment, "No such file or directory");
  EXPECT_EQ(window.Informations()[window.log.size() - 2], "THERE ARE ERRORS (1)... Please see logs above...");
}

// The processing pass walks the listings the counting pass made: a file
// replaced between the passes (another file, other bytes, under the same
// name) is told as replaced, never matched as the file listed, whether it
// is the first of its size or a later one.
TEST_F(ScanRun, AFileReplacedBetweenThePassesIsNeverMatchedAsListed) {
  const std::string a = File("a", std::string(20000, 'x')), b = File("b", std::string(20000, 'x'));
  File("c", std::string(20000, 'x'));
  List(tree);
  bool replaced = false;
  window.onPump = [&](int) {
    if (replaced || !window.log.back().Information.starts_with("Job: ")) return;
    replaced = true;
    // New files renamed over the old, so that they are other inodes; of
    // bytes unlike each other's.
    const std::string newA = File("new-a", std::string(20000, 'y')), newB = File("new-b", std::string(20000, 'z'));
    ASSERT_EQ(rename(newA.c_str(), a.c_str()), 0);
    ASSERT_EQ(rename(newB.c_str(), b.c_str()), 0);
  };
  EXPECT_TRUE(sbStartClick());
  EXPECT_EQ(ScanContext.DuplicateFiles, 0);
  EXPECT_EQ(ScanContext.WarningCount, 2);
  std::vector<std::string> changed;
  for (const LogRow& row : window.log) {
    if (row.Information.ends_with("File changed during the scan")) changed.push_back(row.Name);
  }
  EXPECT_EQ(changed, (std::vector<std::string>{b, a}));
}

TEST_F(ScanRun, FailureEndsTheRunButReleasesEverything) {
  File("a", "1");
  File("b", "22");
  File("c", "333");
  List(tree);
  // A failure raised while the store holds entries.
  window.onPump = [&](int) {
    if (ScanContext.LastOperation == "Processing file " + tree + "/b") throw std::runtime_error("The disk went away");
  };
  EXPECT_FALSE(sbStartClick());
  const LogRow& last = window.log.back();
  EXPECT_EQ(last.Information, "Warning #1: WARNING: The disk went away");
  EXPECT_EQ(last.Comment, "Last operation: Processing file " + tree + "/b");
  EXPECT_FALSE(ScanContext.Busy);
  EXPECT_FALSE(ScanContext.Estimator);
  EXPECT_FALSE(ScanContext.Store);
  EXPECT_FALSE(window.progressBarsVisible);
  EXPECT_EQ(window.topCaption, "Drag'n drop directories here...");
  EXPECT_TRUE(ScanContext.LastOperation.empty());
  EXPECT_EQ(TmpEntries(), 0u);
}

TEST_F(ScanRun, NeedsNoTemporaryDirectoryWhileTheStoreStaysInMemory) {
  File("a", "1");
  File("b", "1");
  List(tree);
  setenv("TMPDIR", (dir / "no-such-dir").c_str(), 1);
  EXPECT_TRUE(sbStartClick());
  EXPECT_EQ(ScanContext.DuplicateFiles, 1);
  EXPECT_EQ(ScanContext.WarningCount, 0);
  EXPECT_TRUE(ScanContext.WorkDirPath.empty());
  EXPECT_FALSE(ScanContext.Busy);
}

TEST_F(ScanRun, ScansTheTemporaryDirectoryButNotTheWorkDirectoriesInIt) {
  // The temporary directory inside the scanned tree, with the store of
  // another scan running meanwhile; the work-directory form elsewhere is
  // an ordinary directory.
  const std::string inner = tree + "/t";
  std::filesystem::create_directories(inner);
  setenv("TMPDIR", inner.c_str(), 1);
  WorkDir running(inner + "/~other1.~vesk/");
  running.Descriptor();
  File("t/~other1.~vesk/index", std::string(StoreFileHeader()) + "same");
  // A folder of the user's own that only looks like one.
  File("t/~photos.~vesk/c", "same");
  File("t/sub/a", "same");
  File("t/direct", "same");
  File("x/~copy.~vesk/b", "same");
  List(tree);
  EXPECT_TRUE(sbStartClick());
  EXPECT_EQ(ScanContext.FilesFound, 4);
  EXPECT_EQ(ScanContext.ResultsRoot->Groups[0].Files,
            (Strings{tree + "/t/direct", tree + "/t/sub/a", tree + "/t/~photos.~vesk/c", tree + "/x/~copy.~vesk/b"}));
  EXPECT_TRUE(std::filesystem::exists(inner + "/~other1.~vesk/index"));

  running.Remove();

  // The temporary directory is the scanned tree: the run's own name
  // reservation is never among its files.
  setenv("TMPDIR", tree.c_str(), 1);
  EXPECT_TRUE(sbStartClick());
  EXPECT_EQ(ScanContext.FilesFound, 4);
}

TEST_F(ScanRun, RemovesTheWorkFilesOfAKilledRunFirstAndNothingOfTheUsers) {
  ASSERT_TRUE(testing::InKilledProcess([] {
    auto* store = new SizeStore("", 0);  // never released, as in a killed run
    for (int size = 1; size <= 100; ++size) store->AddEntry(size, StoredFile{"/x/" + std::to_string(size), {}, {}});
  }));
  ASSERT_EQ(TmpEntries(), 3u);  // the folder, paths and index
  for (const std::string name : {"~data.~vesk", "~photos.~vesk"}) {
    std::filesystem::create_directories(tmp + "/" + name + "/sub");
    std::filesystem::permissions(tmp + "/" + name, std::filesystem::perms::owner_all);
    std::ofstream(tmp + "/" + name + "/sub/mine") << "the user's";
  }
  File("a", "1");
  List(tree);
  EXPECT_TRUE(sbStartClick());
  ASSERT_GE(window.log.size(), 2u);
  EXPECT_EQ(window.log[0].Information, "Work files of interrupted runs removed: 3");
  EXPECT_EQ(window.log[0].Name, std::filesystem::canonical(tmp).string() + "/");
  EXPECT_EQ(window.log[1].Information, "Analysing...");
  EXPECT_EQ(TmpEntries(), 6u);  // the user's two folders as they were
  for (const std::string name : {"~data.~vesk", "~photos.~vesk"}) {
    std::ifstream in(tmp + "/" + name + "/sub/mine");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the user's") << name;
  }
}

TEST_F(ScanRun, PassesOverLinksFifosAndOtherNonFiles) {
  File("a", "same");
  File("sub/b", "same");
  ASSERT_EQ(symlink(".", (tree + "/loop1").c_str()), 0);
  ASSERT_EQ(symlink(".", (tree + "/sub/loop2").c_str()), 0);
  ASSERT_EQ(symlink("a", (tree + "/link-to-a").c_str()), 0);
  ASSERT_EQ(mkfifo((tree + "/fifo").c_str(), 0600), 0);
  List(tree);
  EXPECT_TRUE(sbStartClick());
  EXPECT_EQ(ScanContext.FilesFound, 2);
  EXPECT_EQ(ScanContext.DuplicateFiles, 1);
  EXPECT_EQ(ScanContext.ResultsRoot->Groups[0].Files, (Strings{tree + "/a", tree + "/sub/b"}));
}

TEST_F(ScanRun, WalksAListedDirectoryThatIsALink) {
  File("real/a", "same");
  File("real/b", "same");
  ASSERT_EQ(symlink((tree + "/real").c_str(), (dir / "link").c_str()), 0);
  List(dir / "link");
  EXPECT_TRUE(sbStartClick());
  EXPECT_EQ(ScanContext.DuplicateFiles, 1);
  EXPECT_EQ(ScanContext.ResultsRoot->Groups[0].Files[0], dir / "link/a");
}

// A trashed file must never be the copy that stays while the last live one
// goes to the Trash, and nothing in a Trash may be ticked: Trash folders
// are not scanned.
TEST_F(ScanRun, LeavesTheHomeTrashOut) {
  const ScopedVariable dataHome("XDG_DATA_HOME", tree + "/data");
  File("data/Trash/files/p.jpg", "photo");
  File("data/Trash/info/p.jpg.trashinfo", "[Trash Info]\nPath=/x/p.jpg\n");
  File("Pictures/p.jpg", "photo");
  File("Pictures/p copy.jpg", "photo");
  File("Pictures/.Trash-1234/q.jpg", "other");  // not at the top of a file system: an ordinary folder
  List(tree);
  EXPECT_TRUE(sbStartClick());
  EXPECT_EQ(ScanContext.FilesFound, 3);
  EXPECT_EQ(Found(window), tree + "/Pictures/p copy.jpg\n" + tree + "/Pictures/p.jpg\n--\nTrash folders left out: 1\n");

  // A listed directory inside the Trash is left out whole.
  window.directories.clear();
  window.log.clear();
  List(tree + "/data/Trash/files");
  EXPECT_TRUE(sbStartClick());
  EXPECT_EQ(ScanContext.FilesFound, 0);
  EXPECT_EQ(Found(window), "Trash folders left out: 1\n");
  EXPECT_TRUE(std::filesystem::exists(tree + "/data/Trash/files/p.jpg"));
}

TEST_F(ScanRun, LeavesOutTheTrashFoldersAtTheTopOfAFileSystem) {
  File("keep.jpg", "photo");
  std::filesystem::create_directories(tree + "/usb");
  const std::optional<std::string> found = testing::InOwnMountNamespace([&]() -> std::optional<std::string> {
    if (mount("tmpfs", (tree + "/usb").c_str(), "tmpfs", 0, "size=1m") != 0) return std::nullopt;
    File("usb/.Trash-1234/files/p.jpg", "photo");  // another user's
    File("usb/.Trash/1234/files/q.jpg", "photo");
    File("usb/live.jpg", "photo");
    List(tree);
    if (!sbStartClick()) return "the scan failed";
    return Found(window);
  });
  if (!found) GTEST_SKIP() << "no tmpfs mount in a mount namespace of its own here";
  EXPECT_EQ(*found, tree + "/keep.jpg\n" + tree + "/usb/live.jpg\n--\nTrash folders left out: 2\n");
}

// An automount point shows its own directory until it is opened, which
// mounts a file system on it: a file system mounted on a folder since its
// parent was listed is no swap (only the administrator mounts there), and
// is walked.
TEST_F(ScanRun, WalksAFileSystemMountedOnAFolderSinceItWasListed) {
  File("keep.jpg", "photo");
  std::filesystem::create_directories(tree + "/mnt");
  const std::optional<std::string> found = testing::InOwnMountNamespace([&]() -> std::optional<std::string> {
    bool mounted = false;
    window.onPump = [&](int) {
      if (mounted || !window.log.back().Information.starts_with("Job: ")) return;
      mounted = mount("tmpfs", (tree + "/mnt").c_str(), "tmpfs", 0, "size=1m") == 0;
      File("mnt/copy.jpg", "photo");
    };
    List(tree);
    if (!sbStartClick()) return "the scan failed";
    if (!mounted) return std::nullopt;
    return Found(window) + "warnings: " + std::to_string(static_cast<int>(ScanContext.WarningCount)) + "\n";
  });
  if (!found) GTEST_SKIP() << "no tmpfs mount in a mount namespace of its own here";
  EXPECT_EQ(*found, tree + "/keep.jpg\n" + tree + "/mnt/copy.jpg\n--\nwarnings: 0\n");
}

// A file mounted on another name shows the same file (device, inode, one
// link) under both: met twice, never its own duplicate.
TEST_F(ScanRun, AFileMountedOnAnotherNameIsMetTwice) {
  const std::string a = File("a", "only"), b = File("b", ""), c = File("c", "only");
  const std::optional<std::string> found = testing::InOwnMountNamespace([&]() -> std::optional<std::string> {
    if (mount(a.c_str(), b.c_str(), nullptr, MS_BIND, nullptr) != 0) return std::nullopt;
    List(tree);
    if (!sbStartClick()) return "the scan failed";
    return Found(window);
  });
  if (!found) GTEST_SKIP() << "no bind mount in a mount namespace of its own here";
  EXPECT_EQ(*found, a + "\n" + c +
                        "\n--\nFiles met twice under other names (hard links, folders reached twice), not "
                        "duplicates: 1\n");
}

TEST_F(ScanRun, KeepsNamesWithLineBreaksSemicolonsAndBytesThatAreNotUtf8) {
  const std::string odd1 = File("line\nbreak;x", "same");
  const std::string odd2 = File("caf\xE9\r", "same");
  const std::string odd3 = File("back\\slash", "same");
  List(tree);
  EXPECT_TRUE(sbStartClick());
  ASSERT_EQ(ScanContext.DuplicateFiles, 2);
  Strings files = ScanContext.ResultsRoot->Groups[0].Files;
  std::sort(files.begin(), files.end());
  Strings expected{odd1, odd2, odd3};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(files, expected);
}

// What the user deletes must never be the only copy: the same file met
// twice, or a file that is not what it was when listed, is never a duplicate.
TEST_F(ScanRun, TheSameFileMetTwiceIsNeverADuplicate) {
  // A directory listed twice (once through a link, as a bind mount would
  // show it), and hard links beside a real copy.
  File("real/only-copy", "only");
  ASSERT_EQ(symlink((tree + "/real").c_str(), (dir / "again").c_str()), 0);
  const std::string original = File("links/a", std::string(1000, 'h'));
  ASSERT_EQ(link(original.c_str(), (tree + "/links/b").c_str()), 0);
  ASSERT_EQ(link(original.c_str(), (tree + "/links/c").c_str()), 0);
  File("links/real-copy", std::string(1000, 'h'));
  List(tree);
  List(dir / "again");
  EXPECT_TRUE(sbStartClick());
  EXPECT_EQ(ScanContext.DuplicateFiles, 1);
  EXPECT_EQ(ScanContext.RecoverableBytes, 1000);
  EXPECT_EQ(ScanContext.ResultsRoot->Groups[0].Files, (Strings{original, tree + "/links/real-copy"}));
  EXPECT_EQ(ScanContext.FilesMetTwice, 3);
  const Strings info = window.Informations();
  const auto summary = std::find(info.begin(), info.end(),
                                 "Files met twice under other names (hard links, folders reached twice), "
                                 "not duplicates: 3");
  ASSERT_NE(summary, info.end());
  EXPECT_EQ(*(summary + 1), "Duplicate files: 1");
}

// The log row naming path, or the log's end.
std::vector<LogRow>::const_iterator RowOf(const std::vector<LogRow>& log, const std::string& path) {
  return std::find_if(log.begin(), log.end(), [&](const LogRow& r) { return r.Name == path; });
}

// Each path has its "File changed during the scan" row with its comment.
void ExpectChangedRows(const std::vector<LogRow>& log,
                       const std::vector<std::pair<std::string, std::string>>& changed) {
  for (const auto& [path, comment] : changed) {
    const auto row = RowOf(log, path);
    ASSERT_NE(row, log.end()) << path;
    EXPECT_TRUE(row->Information.ends_with(": File changed during the scan")) << row->Information;
    EXPECT_EQ(row->Comment, comment);
  }
}

TEST_F(ScanRun, AFileChangedOrSwappedAfterTheListingIsLeftOut) {
  const std::string outside = dir.Write("outside", "same");
  const std::string other = dir.Write("other", "same");
  File("a", "same");
  const std::string shrunk = File("b", "same");
  const std::string linked = File("c", "same");
  const std::string swapped = File("d", "same");
  List(tree);
  window.onPump = [&](int) {
    if (ScanContext.LastOperation == "Processing file " + shrunk) {
      ASSERT_EQ(truncate(shrunk.c_str(), 2), 0);
    } else if (ScanContext.LastOperation == "Processing file " + linked && std::filesystem::is_regular_file(linked)) {
      std::filesystem::remove(linked);
      std::filesystem::create_symlink(outside, linked);
    } else if (ScanContext.LastOperation == "Processing file " + swapped && std::filesystem::exists(other)) {
      std::filesystem::rename(other, swapped);
    }
  };
  EXPECT_TRUE(sbStartClick());
  EXPECT_EQ(ScanContext.DuplicateFiles, 0);
  const std::vector<std::pair<std::string, std::string>> changed{
      {shrunk, "Listed with 4 bytes, now 2 bytes"},
      {linked, "Replaced by a link since it was listed"},
      {swapped, "Replaced by another file since it was listed"}};
  ExpectChangedRows(window.log, changed);
}

// A folder swapped, once the processing pass has listed its parent, for a
// link to someone else's folder or for another folder: the walk stays in
// the tree it listed, and nothing of the other places becomes a result.
TEST_F(ScanRun, AFolderSwappedAfterItWasListedIsLeftOutAsChanged) {
  const std::string victim = dir / "victim";
  const std::string elsewhere = dir / "elsewhere";
  std::filesystem::create_directories(victim);
  std::filesystem::create_directories(elsewhere);
  dir.Write("victim/a", "secret");
  dir.Write("victim/b", "secret");
  dir.Write("elsewhere/c", "secret");
  File("keep", "secret");
  File("linked/x", "x");
  File("swapped/y", "y");
  List(tree);
  bool swapped = false;
  window.onPump = [&](int) {
    if (swapped || !window.log.back().Information.starts_with("Job: ")) return;
    swapped = true;  // the processing pass's listing of the tree is made
    std::filesystem::rename(tree + "/linked", dir / "linked-was");
    std::filesystem::create_directory_symlink(victim, tree + "/linked");
    std::filesystem::rename(tree + "/swapped", dir / "swapped-was");
    std::filesystem::rename(elsewhere, tree + "/swapped");
  };
  ASSERT_TRUE(sbStartClick()) << window.log.back().Information;
  EXPECT_EQ(ScanContext.DuplicateFiles, 0);
  const std::vector<std::pair<std::string, std::string>> changed{
      {tree + "/linked/", "Replaced by a link since it was listed"},
      {tree + "/swapped/", "Replaced by another folder since it was listed"}};
  ExpectChangedRows(window.log, changed);
}

// The first file of a size is read only when a second one comes, maybe
// long after its folder was walked: it is opened below the listed
// directory again, never through a folder since replaced by a link.
TEST_F(ScanRun, AFirstFileIsNeverReadThroughAFolderSwappedForALink) {
  const std::string victim = dir / "victim";
  std::filesystem::create_directories(victim);
  dir.Write("victim/a", "secret");
  const std::string first = File("sub/a", "secret");
  const std::string second = File("z", "secret");
  List(tree);
  window.onPump = [&](int) {
    if (ScanContext.LastOperation != "Processing file " + second || std::filesystem::is_symlink(tree + "/sub")) return;
    std::filesystem::rename(tree + "/sub", dir / "sub-was");
    std::filesystem::create_directory_symlink(victim, tree + "/sub");
  };
  EXPECT_TRUE(sbStartClick());
  EXPECT_EQ(ScanContext.DuplicateFiles, 0);
  const auto row = RowOf(window.log, first);
  ASSERT_NE(row, window.log.end());
  EXPECT_EQ(row->Information, "Warning #1: File changed during the scan");
  EXPECT_EQ(row->Comment, "Replaced by a link since it was listed");
}

TEST_F(ScanRun, AFirstFileThatCannotBeReadIsNeverMatched) {
  // a is stored first and gone when b comes: b is not its duplicate, and
  // takes its place as the first of the size; c then matches b.
  const std::string a = File("a", "same"), b = File("b", "same"), c = File("c", "same");
  List(tree);
  window.onPump = [&](int) {
    if (ScanContext.LastOperation == "Processing file " + b) std::filesystem::remove(a);
  };
  EXPECT_TRUE(sbStartClick());
  const auto warning = std::find_if(window.log.begin(), window.log.end(), [&](const LogRow& r) { return r.Name == a; });
  ASSERT_NE(warning, window.log.end());
  EXPECT_EQ(warning->Information, "Warning #1: Can not open this file");
  EXPECT_EQ(ScanContext.DuplicateFiles, 1);
  EXPECT_EQ(ScanContext.ResultsRoot->Groups[0].Files, (Strings{b, c}));
}

TEST_F(ScanRun, FilesThatCannotBeReadWholeAreNeverGroupedTogether) {
  // sysfs attributes are listed with 4096 bytes and hold a line each.
  const std::string attributes = "/sys/kernel/mm/transparent_hugepage";
  std::size_t listed = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(attributes, error)) {
    if (entry.is_regular_file(error) && entry.file_size(error) == 4096) ++listed;
  }
  if (listed < 2) GTEST_SKIP() << "no sysfs attributes to read here";
  List(attributes);
  EXPECT_TRUE(sbStartClick());
  EXPECT_EQ(ScanContext.DuplicateFiles, 0);
  EXPECT_GE(ScanContext.WarningCount, static_cast<long double>(listed - 1));
}

TEST_F(ScanRun, PseudoFilesListedAsEmptyAreNeverGroupedTogether) {
  // Files of /proc report 0 bytes and hold a line each: boot_id, uuid,
  // poolsize and the others would all be "empty" copies of one another.
  const std::string random = "/proc/sys/kernel/random";
  if (access((random + "/boot_id").c_str(), R_OK) != 0) GTEST_SKIP() << "no " << random << " here";
  List(random);
  EXPECT_TRUE(sbStartClick());
  EXPECT_GE(ScanContext.FilesFound, 2);
  EXPECT_EQ(ScanContext.DuplicateFiles, 0);
  EXPECT_GE(ScanContext.WarningCount, static_cast<long double>(ScanContext.FilesFound - 1));
}

// Copies compared byte by byte share the MD5 of the first, taken from the
// blocks compared (below 1 MiB) or by the worker hashing ahead meanwhile
// when it is free (a large first file of a size counted again is read
// whole ahead, whichever file of its size comes first, two such side by
// side): either way the MD5 of their bytes, whole, the last partial block
// included.
// On a rotating disk, with the files out of memory, reads wait for the disk
// and no two files are read side by side: a copy is compared with the first
// once that one is hashed whole. The groups and MD5s are the same.
TEST_F(ScanRun, CopiesComparedByteByByteGetTheMD5OfTheirBytes) {
  std::vector<std::string> files;
  for (const std::size_t size : {std::size_t{20000}, (std::size_t{5} << 20) + 12345, (std::size_t{2} << 20) + 7}) {
    const std::string bytes = testing::PatternBytes(size);
    // The file that differs comes second: compared with the first before
    // any copy is.
    for (const char* copy : {"a", "c", "d"}) files.push_back(File(std::to_string(size) + "/" + copy, bytes));
    std::string other = bytes;
    other[size / 2] ^= 1;
    files.push_back(File(std::to_string(size) + "/b", other));
  }
  const platform::UniqueFd folder(open(tree.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  List(tree);
  for (const bool cold : {false, true}) {
    SCOPED_TRACE(cold ? "out of memory, on a rotating disk" : "in memory");
    if (cold) {
      if (!platform::OnRotatingDisk(folder.Get())) GTEST_SKIP() << "the tree is not on a rotating disk";
      for (const std::string& path : files) {
        const platform::UniqueFd file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
        ASSERT_EQ(fdatasync(file.Get()), 0);
        ASSERT_EQ(posix_fadvise(file.Get(), 0, 0, POSIX_FADV_DONTNEED), 0);
      }
    }
    ASSERT_TRUE(sbStartClick());
    ASSERT_EQ(ScanContext.ResultsRoot->Groups.size(), 3u);
    for (const SignatureGroup& group : ScanContext.ResultsRoot->Groups) {
      EXPECT_EQ(group.Files.size(), 3u);
      EXPECT_EQ(group.Signature, ComputeFileSignature(group.Files[0], group.Size)) << group.Size;
    }
  }
}

TEST_F(ScanRun, HashesEachFileOnce) {
  // Four copies of a file of three 64 KiB blocks: before each block but the
  // first the per-file bar shows the share done, once per pass over the
  // files: the first is hashed as it is compared with the second, and each
  // later copy compared with it.
  const std::string bytes = std::string(3 * 65536, 'q');
  for (const char* name : {"1", "2", "3", "4"}) File(name, bytes);
  List(tree);
  EXPECT_TRUE(sbStartClick());
  EXPECT_EQ(ScanContext.DuplicateFiles, 3);
  EXPECT_EQ(std::count(window.fileProgress.begin(), window.fileProgress.end(), 33), 3);
}

TEST_F(ScanRun, ResetEmptiesListResultsAndLog) {
  File("a", "same");
  File("b", "same");
  List(tree);
  ASSERT_TRUE(sbStartClick());
  sbResetClick();
  EXPECT_TRUE(window.directories.empty());
  EXPECT_FALSE(ScanContext.ResultsRoot);
  EXPECT_TRUE(ScanContext.Selection.empty());
  ASSERT_EQ(window.log.size(), 1u);
  EXPECT_EQ(window.log[0].Information, "Ready!");
  EXPECT_EQ(window.log[0].Name, std::string(40, ' '));
  EXPECT_EQ(window.log[0].ImageIndex, 0);
  EXPECT_FALSE(window.buttons[2]);
  EXPECT_FALSE(ScanContext.Busy);
  EXPECT_EQ(ScanContext.DuplicateFiles, 1);  // the counters stay
}

}  // namespace
}  // namespace veldrano
