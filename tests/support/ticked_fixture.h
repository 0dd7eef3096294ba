#pragma once
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "scan/scan_driver.h"
#include "support/scan_fixture.h"

namespace veldrano {

inline std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Writes bytes over the start of the file at path, its modification time
// set back when asked: only its change time and its bytes tell then.
inline void Overwrite(const std::string& path, const std::string& bytes, bool keepModificationTime = false) {
  struct stat old {};
  ASSERT_EQ(stat(path.c_str(), &old), 0);
  std::fstream(path, std::ios::in | std::ios::out | std::ios::binary) << bytes;
  if (keepModificationTime) {
    const timespec times[2] = {old.st_atim, old.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  }
}

// A scan of the tree with the desktop's trash in the test's own directory.
class TrashTicked : public testing::ScanTest {
 protected:
  void SetUp() override {
    ScanTest::SetUp();
    const char* old = std::getenv("XDG_DATA_HOME");
    if (old != nullptr) oldDataHome = old;
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
  }
  void TearDown() override {
    ScanContext.ReferenceFolders.clear();
    if (oldDataHome) {
      setenv("XDG_DATA_HOME", oldDataHome->c_str(), 1);
    } else {
      unsetenv("XDG_DATA_HOME");
    }
    ScanTest::TearDown();
  }
  void Scan() {
    List(tree);
    ASSERT_TRUE(sbStartClick());
    window.log.clear();
  }
  std::string Trash() const { return dir / "data/Trash"; }
  std::size_t Trashed() const {
    return std::filesystem::exists(Trash() + "/files")
               ? static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(Trash() + "/files"), {}))
               : 0;
  }
  // The information (without its warning number) and comment of the log
  // row naming path.
  std::string LineAbout(const std::string& path) const {
    for (const LogRow& row : window.log) {
      if (row.Name != path) continue;
      const bool numbered = row.Information.starts_with("Warning #") || row.Information.starts_with("Error #");
      const std::size_t start = numbered ? row.Information.find(": ") + 2 : 0;
      return row.Information.substr(start) + " / " + row.Comment;
    }
    return {};
  }
  std::optional<std::string> oldDataHome;
};

}  // namespace veldrano
