#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>

#include "platform/unique_fd.h"
#include "scan/disk_table.h"
#include "scan/size_store.h"
#include "scan/work_dir.h"
#include "support/killed_run.h"
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
  EXPECT_TRUE(IsWorkDirName("~aB3xYz.~vesk"));
  EXPECT_FALSE(IsWorkDirName("~data.~vesk"));
  EXPECT_FALSE(IsWorkDirName("~a-b3xY.~vesk"));
  EXPECT_FALSE(IsWorkDirName("x~aB3xYz.~vesk"));
}

TEST_F(WorkDirTest, TemporaryDirectoryIsTheRealFormOfTmpdir) {
  fs::create_directory_symlink(tmp, dir / "tmp-link");
  setenv("TMPDIR", (dir / "tmp-link").c_str(), 1);
  EXPECT_EQ(TempDirectoryIfAny(), fs::canonical(tmp).string() + "/");

  setenv("TMPDIR", (dir / "missing").c_str(), 1);
  EXPECT_EQ(TempDirectoryIfAny(), "");
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

// Names in tmp of the form of our work files.
std::set<std::string> WorkFileNames(const std::string& tmp) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(tmp)) {
    const std::string name = entry.path().filename().string();
    if (IsWorkDirName(name) || IsReservedFileName(name)) names.insert(name);
  }
  return names;
}

// A folder of the user's own in the temporary directory, mode 0700.
void UserFolder(const std::string& path, const std::string& file, const std::string& bytes) {
  fs::create_directories(path);
  fs::permissions(path, fs::perms::owner_all);
  std::ofstream(path + "/" + file) << bytes;
}

// What killed runs leave (a store that has spilled, a name reservation),
// made by the same code in a process that then dies, beside a running
// scan's store and things of the user's own that look like ours by name,
// mode or a file's name: only the first are removed, the rest not touched.
TEST_F(WorkDirTest, RemovesWhatKilledRunsLeftAndNothingElse) {
  ASSERT_TRUE(testing::InKilledProcess([] {
    // Never released, as in a killed run; named at its first spill.
    auto* store = new SizeStore("", 0);
    for (int size = 1; size <= 100; ++size) store->AddEntry(size, StoredFile{"/x/" + std::to_string(size), {}, {}});
    if (!store->HasSpilled()) throw std::logic_error("no spill");
  }));
  ASSERT_TRUE(testing::InKilledProcess([this] {
    const platform::UniqueFd parent(open(tmp.c_str(), O_RDONLY | O_DIRECTORY));
    const auto* reservation = new NameReservation(parent.Get(), tmp + "/");  // never removed
    if (!reservation->IsOpen()) throw std::logic_error("no reservation");
  }));
  const std::set<std::string> killed = WorkFileNames(tmp);
  ASSERT_EQ(killed.size(), 2u);

  WorkDir running("");
  running.Descriptor();
  std::ofstream(running.Path() + "index") << "in use";
  UserFolder(tmp + "/~data.~vesk", "notes.txt", "mine");
  UserFolder(tmp + "/~photos.~vesk", "holiday.jpg", "mine");
  UserFolder(tmp + "/~abcdef.~vesk", "index", "mine");  // a store's name, not its header
  UserFolder(tmp + "/~ghijkl.~vesk", "paths", std::string(StoreFileHeader()));
  fs::create_directories(tmp + "/~ghijkl.~vesk/more");  // a store has no folders
  UserFolder(tmp + "/~mnopqr.~vesk", "paths", std::string(StoreFileHeader()));
  fs::permissions(tmp + "/~mnopqr.~vesk", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
  std::ofstream(tmp + "/~full01.tmp") << "a user's file";
  std::ofstream(tmp + "/~empty1.tmp");
  fs::create_directories(tmp + "/other");
  fs::create_directory_symlink(tmp + "/other", tmp + "/~link01.~vesk");
  const bool root = geteuid() == 0;
  if (root) {
    UserFolder(tmp + "/~theirs.~vesk", "paths", std::string(StoreFileHeader()));
    ASSERT_EQ(chown((tmp + "/~theirs.~vesk").c_str(), 12345, 12345), 0);
  }
  const auto touched = fs::last_write_time(tmp + "/~photos.~vesk/holiday.jpg");

  EXPECT_EQ(RemoveAbandonedWorkFiles(tmp), 4u);  // paths, index, their folder; the reservation
  for (const std::string& name : killed) EXPECT_FALSE(fs::exists(tmp + "/" + name)) << name;
  EXPECT_EQ(Read(running.Path() + "index"), "in use");
  EXPECT_EQ(Read(tmp + "/~data.~vesk/notes.txt"), "mine");
  EXPECT_EQ(Read(tmp + "/~photos.~vesk/holiday.jpg"), "mine");
  EXPECT_EQ(fs::last_write_time(tmp + "/~photos.~vesk/holiday.jpg"), touched);
  EXPECT_EQ(Read(tmp + "/~abcdef.~vesk/index"), "mine");
  EXPECT_TRUE(fs::exists(tmp + "/~ghijkl.~vesk/paths"));
  EXPECT_TRUE(fs::exists(tmp + "/~mnopqr.~vesk/paths"));
  EXPECT_EQ(Read(tmp + "/~full01.tmp"), "a user's file");
  EXPECT_TRUE(fs::exists(tmp + "/~empty1.tmp"));
  EXPECT_TRUE(fs::is_symlink(tmp + "/~link01.~vesk"));
  if (root) {
    EXPECT_TRUE(fs::exists(tmp + "/~theirs.~vesk/paths"));
  }
  running.Remove();
}

TEST_F(WorkDirTest, IsNamedOnlyWhenTheStoreFirstNeedsTheDisk) {
  WorkDir work("");
  EXPECT_TRUE(work.Path().empty());
  EXPECT_FALSE(work.Exists());
  EXPECT_EQ(TmpEntries(), 0u);
  work.Descriptor();
  EXPECT_TRUE(work.Path().starts_with(tmp + "/~")) << work.Path();
  EXPECT_TRUE(IsWorkDirName(fs::path(work.Path()).parent_path().filename().string())) << work.Path();
  EXPECT_EQ(TmpEntries(), 1u);  // the reservation is gone again
  work.Remove();

  // Without a temporary directory only the store that needs it fails, with
  // the cause.
  setenv("TMPDIR", (dir / "missing").c_str(), 1);
  WorkDir none("");
  try {
    none.Descriptor();
    FAIL() << "made without a temporary directory";
  } catch (const std::runtime_error& failure) {
    EXPECT_EQ(std::string(failure.what()),
              "Can not create a file in the temporary directory " + dir / "missing/ (No such file or directory)");
  }
}

TEST_F(WorkDirTest, ReleaseCountsDownEveryEntryAndRemovesTheStore) {
  ScanContext.WorkDirPath = tmp + "/~w.~vesk/";
  SizeStore store(ScanContext.WorkDirPath, 0);
  for (int size = 1; size <= 3; ++size)
    store.AddEntry(size, StoredFile{File(std::to_string(size), std::string(size, 'x')), {}, {}});
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
