#pragma once
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "scan/path_helpers.h"
#include "support/engine_fixture.h"

namespace veldrano::testing {

// A scratch directory holding the tree to scan ("tree") and, beside it,
// the scan's own temporary directory ("tmp", set as TMPDIR).
class ScanTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    std::filesystem::create_directories(tree);
    std::filesystem::create_directories(tmp);
    const char* old = std::getenv("TMPDIR");
    hadTmpDir = old != nullptr;
    if (hadTmpDir) oldTmpDir = old;
    setenv("TMPDIR", tmp.c_str(), 1);
  }
  void TearDown() override {
    if (hadTmpDir) {
      setenv("TMPDIR", oldTmpDir.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
    EngineTest::TearDown();
  }

  // Writes bytes to tree/relative, creating its directories; returns the path.
  std::string File(const std::string& relative, const std::string& bytes) const {
    const std::string path = tree + "/" + relative;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  // Lists a directory for the next run, as a drop would.
  void List(const std::string& path) { window.directories.push_back(EnsureTrailingBackslash(path)); }

  // Everything left in the temporary directory.
  std::size_t TmpEntries() const {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::recursive_directory_iterator(tmp)) ++n;
    return n;
  }

  std::string tree = dir / "tree";
  std::string tmp = dir / "tmp";

 private:
  bool hadTmpDir = false;
  std::string oldTmpDir;
};

}  // namespace veldrano::testing
