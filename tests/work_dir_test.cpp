#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "scan/work_dir.h"
#include "support/scan_fixture.h"

namespace veldrano {
namespace {

using WorkDir = testing::ScanTest;

TEST_F(WorkDir, PathsAreFreshReservedNamesInTheTemporaryDirectory) {
  const std::string first = MakeWorkDirPath(".~vesk/");
  const std::string second = MakeWorkDirPath(".~vesk/");
  EXPECT_NE(first, second);
  for (const std::string& path : {first, second}) {
    EXPECT_TRUE(path.starts_with(tmp + "/~")) << path;
    EXPECT_TRUE(path.ends_with(".~vesk/")) << path;
    EXPECT_FALSE(std::filesystem::exists(path));  // made when the store needs it
    EXPECT_TRUE(std::filesystem::is_regular_file(ReservedFileOf(path, ".~vesk/")));
  }
  EXPECT_EQ(TmpEntries(), 2u);
}

TEST_F(WorkDir, TemporaryDirectoryIsTheRealFormOfTmpdir) {
  std::filesystem::create_directory_symlink(tmp, dir / "tmp-link");
  setenv("TMPDIR", (dir / "tmp-link").c_str(), 1);
  EXPECT_EQ(GetTempDirectory(), std::filesystem::canonical(tmp).string() + "/");

  setenv("TMPDIR", (dir / "missing").c_str(), 1);
  EXPECT_THROW(GetTempDirectory(), std::runtime_error);
  EXPECT_THROW(MakeWorkDirPath(".~vesk/"), std::runtime_error);
}

TEST_F(WorkDir, FileSystemNameIsWhatTheKernelReports) {
  EXPECT_EQ(GetFileSystemName("/proc/self"), "proc");
  EXPECT_FALSE(GetFileSystemName(tmp).empty());
  EXPECT_EQ(GetFileSystemName(dir / "missing"), "");
}

TEST_F(WorkDir, ReleaseDeletesEverythingAndShowsProgress) {
  const std::string work = tmp + "/~w.~vesk/";
  for (const char* entry : {"T/1/1", "T/2/2", "T/3/3"}) {
    std::filesystem::create_directories(std::filesystem::path(work + entry).parent_path());
    std::ofstream(work + entry) << ";x\r\n";
  }
  ScanContext.StoredFiles = 3;
  ScanContext.StoreEntries = 3;
  ScanContext.ReleaseRemaining = 3;
  ReleaseWorkDir(work);
  EXPECT_FALSE(std::filesystem::exists(work));
  EXPECT_EQ(ScanContext.ReleaseRemaining, 0);
  // The first text of each panel always shows; later ones within 500 ms may not.
  EXPECT_EQ(window.Panel(1).front(), "3");
  EXPECT_EQ(window.Panel(2).front(), "0 %");
  EXPECT_TRUE(window.Panel(3).front().starts_with("Releasing: "));
  EXPECT_EQ(window.progressBar1.back(), 0);
  EXPECT_TRUE(ScanContext.LastOperation.starts_with("Releasing: "));
}

}  // namespace
}  // namespace veldrano
