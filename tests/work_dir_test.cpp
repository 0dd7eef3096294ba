#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "platform/unique_fd.h"
#include "scan/size_store.h"
#include "scan/work_dir.h"
#include "support/scan_fixture.h"

namespace veldrano {
namespace {

namespace fs = std::filesystem;
using WorkDirTest = testing::ScanTest;

std::string Read(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(WorkDirTest, PathsAreFreshNamesWhoseReservationIsGone) {
  const std::string first = MakeWorkDirPath(".~vesk/");
  const std::string second = MakeWorkDirPath(".~vesk/");
  EXPECT_NE(first, second);
  for (const std::string& path : {first, second}) {
    EXPECT_TRUE(path.starts_with(tmp + "/~")) << path;
    EXPECT_TRUE(path.ends_with(".~vesk/")) << path;
    EXPECT_TRUE(IsWorkDirName(fs::path(path).parent_path().filename().string())) << path;
  }
  EXPECT_EQ(TmpEntries(), 0u);  // made only when the store needs it
  EXPECT_TRUE(IsReservedFileName("~aB3xYz.tmp"));
  EXPECT_FALSE(IsReservedFileName("~aB3xY.tmp"));
  EXPECT_FALSE(IsWorkDirName("~a-b.~vesk"));
  EXPECT_FALSE(IsWorkDirName("x~ab.~vesk"));
}

TEST_F(WorkDirTest, TemporaryDirectoryIsTheRealFormOfTmpdir) {
  fs::create_directory_symlink(tmp, dir / "tmp-link");
  setenv("TMPDIR", (dir / "tmp-link").c_str(), 1);
  EXPECT_EQ(GetTempDirectory(), fs::canonical(tmp).string() + "/");

  setenv("TMPDIR", (dir / "missing").c_str(), 1);
  EXPECT_THROW(GetTempDirectory(), std::runtime_error);
  EXPECT_THROW(MakeWorkDirPath(".~vesk/"), std::runtime_error);
}

TEST_F(WorkDirTest, FileSystemNameIsWhatTheKernelReports) {
  EXPECT_EQ(GetFileSystemName("/proc/self"), "proc");
  EXPECT_FALSE(GetFileSystemName(tmp).empty());
  EXPECT_EQ(GetFileSystemName(dir / "missing"), "");
}

// What another user of a shared temporary directory could plant at the
// planned name before the store needs it: a link to a directory of the
// victim's, a directory of their own, a plain file. None of them is used,
// written into or deleted.
TEST_F(WorkDirTest, NeverUsesANameThatIsTakenInAnyForm) {
  const std::string victim = dir / "victim";
  fs::create_directories(victim);
  std::ofstream(victim + "/precious") << "keep me";
  const std::string planned[] = {tmp + "/~link.~vesk/", tmp + "/~dir.~vesk/", tmp + "/~file.~vesk/"};
  fs::create_directory_symlink(victim, tmp + "/~link.~vesk");
  fs::create_directories(tmp + "/~dir.~vesk");
  std::ofstream(tmp + "/~file.~vesk") << "not a directory";
  for (const std::string& path : planned) {
    WorkDir work(path);
    const int fd = work.Descriptor();
    EXPECT_NE(work.Path(), path);
    struct stat status {};
    ASSERT_EQ(fstat(fd, &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    // Locked for as long as the run holds it: a second opening cannot take the lock.
    const platform::UniqueFd other(open(work.Path().c_str(), O_RDONLY | O_DIRECTORY));
    EXPECT_NE(flock(other.Get(), LOCK_EX | LOCK_NB), 0);
    std::ofstream(fs::path(work.Path()) / "inside") << "store";
    work.Remove();
    EXPECT_FALSE(fs::exists(work.Path()));
  }
  EXPECT_EQ(Read(victim + "/precious"), "keep me");
  EXPECT_TRUE(fs::is_symlink(tmp + "/~link.~vesk"));
  EXPECT_TRUE(fs::is_directory(tmp + "/~dir.~vesk"));
  EXPECT_EQ(Read(tmp + "/~file.~vesk"), "not a directory");
}

TEST_F(WorkDirTest, RemovesOnlyTheDirectoryItMadeEvenWhenItWasSwappedForALink) {
  const std::string victim = dir / "victim";
  fs::create_directories(victim + "/sub");
  std::ofstream(victim + "/sub/precious") << "keep me";
  WorkDir work(tmp + "/~swap.~vesk/");
  work.Descriptor();
  std::ofstream(tmp + "/~swap.~vesk/entry") << "store";
  // The store's directory is moved away and a link to the victim put in its
  // place: the release empties the directory it made, wherever it now is.
  fs::rename(tmp + "/~swap.~vesk", tmp + "/moved");
  fs::create_directory_symlink(victim, tmp + "/~swap.~vesk");
  work.Remove();
  EXPECT_EQ(Read(victim + "/sub/precious"), "keep me");
  EXPECT_TRUE(fs::is_symlink(tmp + "/~swap.~vesk"));
  EXPECT_TRUE(fs::is_empty(tmp + "/moved"));
}

TEST_F(WorkDirTest, RemovesWhatKilledRunsLeftAndNothingElse) {
  // A killed run's store, an abandoned reservation, a running scan's store
  // (locked), and lookalikes that are not ours to delete.
  fs::create_directories(tmp + "/~dead01.~vesk/T/1234/567");
  std::ofstream(tmp + "/~dead01.~vesk/T/1234/567/1234567") << ";/x\r\n";
  std::ofstream(tmp + "/~dead02.tmp");
  WorkDir running(tmp + "/~live01.~vesk/");
  running.Descriptor();
  std::ofstream(tmp + "/~live01.~vesk/index") << "in use";
  std::ofstream(tmp + "/~full01.tmp") << "a user's file";
  fs::create_directories(tmp + "/other");
  fs::create_directory_symlink(tmp + "/other", tmp + "/~link01.~vesk");
  fs::create_directories(tmp + "/~not-ours.~vesk");
  const bool root = geteuid() == 0;
  if (root) {
    fs::create_directories(tmp + "/~theirs.~vesk");
    ASSERT_EQ(chown((tmp + "/~theirs.~vesk").c_str(), 12345, 12345), 0);
  }

  EXPECT_EQ(RemoveAbandonedWorkFiles(tmp), 6u);  // 5 in the dead store with itself, 1 reservation
  EXPECT_FALSE(fs::exists(tmp + "/~dead01.~vesk"));
  EXPECT_FALSE(fs::exists(tmp + "/~dead02.tmp"));
  EXPECT_EQ(Read(tmp + "/~live01.~vesk/index"), "in use");
  EXPECT_EQ(Read(tmp + "/~full01.tmp"), "a user's file");
  EXPECT_TRUE(fs::is_symlink(tmp + "/~link01.~vesk"));
  EXPECT_TRUE(fs::exists(tmp + "/~not-ours.~vesk"));
  if (root) {
    EXPECT_TRUE(fs::exists(tmp + "/~theirs.~vesk"));
  }
  running.Remove();
}

TEST_F(WorkDirTest, ReleaseCountsDownEveryEntryAndRemovesTheStore) {
  ScanContext.WorkDirPath = tmp + "/~w.~vesk/";
  SizeStore store(ScanContext.WorkDirPath, 0);
  for (int size = 1; size <= 3; ++size)
    store.AddEntry(size, StoredFile{File(std::to_string(size), std::string(size, 'x')), {}});
  ScanContext.StoredFiles = 3;
  ScanContext.StoreEntries = 3;
  ScanContext.ReleaseRemaining = 3;
  ReleaseWorkDir(store);
  EXPECT_EQ(ScanContext.ReleaseRemaining, 0);
  // The first text of each panel always shows; later ones within 500 ms may not.
  EXPECT_EQ(window.Panel(1).front(), "3");
  EXPECT_EQ(window.Panel(2).front(), "0 %");
  EXPECT_TRUE(window.Panel(3).front().starts_with("Releasing: "));
  EXPECT_EQ(window.overallProgress, (std::vector<int>{67, 33, 0}));
  EXPECT_TRUE(ScanContext.LastOperation.starts_with("Releasing: "));
  EXPECT_EQ(TmpEntries(), 0u);
}

}  // namespace
}  // namespace veldrano
