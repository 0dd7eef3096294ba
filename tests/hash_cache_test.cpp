#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "scan/scan_driver.h"
#include "signature/file_signature.h"
#include "support/killed_run.h"
#include "support/scan_fixture.h"

namespace veldrano {
namespace {

using Strings = std::vector<std::string>;

// Runs that keep their hashes in a cache of the test's own.
class HashCacheRun : public testing::ScanTest {
 protected:
  void SetUp() override {
    ScanTest::SetUp();
    ScanContext.UseHashCache = true;
    List(tree);
  }
  std::string CacheFile() const { return ScanContext.HashCacheFolder + HashCache::FileName; }
  // A scan of the tree from a fresh log; the groups' files, each sorted.
  std::vector<Strings> Scan() {
    window.log.clear();
    EXPECT_TRUE(sbStartClick());
    std::vector<Strings> groups;
    if (ScanContext.ResultsRoot) {
      for (const auto& group : ScanContext.ResultsRoot->Groups) {
        groups.push_back(group.Files);
        std::ranges::sort(groups.back());
      }
    }
    return groups;
  }
  static std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  std::string Line(const std::string& starts) const {
    for (const std::string& line : window.Informations()) {
      if (line.starts_with(starts)) return line;
    }
    return {};
  }
  std::string Bytes(char fill) const { return std::string(20000, fill); }
  // The run's first warning (empty when none).
  LogRow FirstWarning() const {
    for (const LogRow& row : window.log) {
      if (row.Information.starts_with("Warning #1: ")) return row;
    }
    return {};
  }
};

// Only the exact state of a file (to its change time) lets its hashes be
// reused: new bytes of the same size, with the modification time set
// back as a copy tool would, are read again. Whether the cache is read
// whole when it is opened (a small one) or asked file by file.
TEST_F(HashCacheRun, AFileChangedSinceItWasCachedIsReadAgain) {
  for (const std::int64_t rowsInMemory : {HashCache::DefaultRowsInMemory, std::int64_t{0}}) {
    SCOPED_TRACE(rowsInMemory);
    ScanContext.HashCacheRowsInMemory = rowsInMemory;
    std::filesystem::remove_all(tree);
    const std::string a = File("a", Bytes('x')), b = File("b", Bytes('x'));
    EXPECT_EQ(Scan(), (std::vector<Strings>{{a, b}}));
    EXPECT_EQ(Scan(), (std::vector<Strings>{{a, b}}));
    EXPECT_EQ(Line("Signatures reused"), "Signatures reused from earlier scans: 2");

    struct stat before {};
    ASSERT_EQ(stat(b.c_str(), &before), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a later change time
    std::string other = Bytes('x');
    other[10000] = 'y';  // the ends stay equal
    File("b", other);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, b.c_str(), times, 0), 0);
    EXPECT_EQ(Scan(), std::vector<Strings>{});
    EXPECT_EQ(Line("Signatures reused"), "Signatures reused from earlier scans: 1");
    EXPECT_EQ(ScanContext.WarningCount, 0);
  }
}

// A file the cache answers for is matched without being opened; when it must
// be read further after all (a new copy of it came), it is opened then, below
// its listed folder, and read only while it is as listed: here "2b" has only
// its first part cached (it differed from "1a" there) until "0z", a new
// copy, needs its MD5.
TEST_F(HashCacheRun, AFileAnsweredByTheCacheIsReadWhenItMustBe) {
  std::string x = Bytes('x'), y = Bytes('x');
  y[0] = 'y';
  const std::string a = File("1a", x), b = File("2b", y);
  EXPECT_EQ(Scan(), std::vector<Strings>{});
  const std::string z = File("0z", y);
  EXPECT_EQ(Scan(), (std::vector<Strings>{{z, b}}));
  EXPECT_EQ(Line("Signatures reused"), "Signatures reused from earlier scans: 2");
  EXPECT_EQ(ScanContext.ResultsRoot->Groups[0].Signature, ComputeFileSignature(z, 20000));
  EXPECT_EQ(ScanContext.WarningCount, 0);

  // Rewritten after the listing, before its reading: never matched as
  // listed.
  File("0z2", y);  // a copy met before "1a" and "2b", which come from the cache
  bool rewritten = false;
  window.onPump = [&](int) {
    if (rewritten || ScanContext.LastOperation != "Processing file " + b) return;
    rewritten = true;
    std::string other = y;
    other[10000] = 'q';
    File("2b", other);
  };
  const auto groups = Scan();
  EXPECT_EQ(groups, (std::vector<Strings>{{z, tree + "/0z2"}}));
}

// A small file the cache answers for is matched as its listing showed it,
// without a look: before it is recorded as a copy, a look must show it
// still so. Rewritten in place between the passes (the same size), or gone,
// it is never a copy of what it held; so too when the cache's rows are read
// ahead, on a thread of their own, rather than held.
TEST_F(HashCacheRun, AFileTakenAsListedIsLookedAtBeforeItIsRecorded) {
  for (const std::int64_t rowsInMemory : {HashCache::DefaultRowsInMemory, std::int64_t{0}}) {
    SCOPED_TRACE(rowsInMemory);
    ScanContext.HashCacheRowsInMemory = rowsInMemory;
    std::filesystem::remove_all(tree);
    const std::string x(100, 'x');
    const std::string a = File("1a", x), b = File("2b", x), c = File("3c", x);
    window.onPump = nullptr;
    EXPECT_EQ(Scan(), (std::vector<Strings>{{a, b, c}}));
    bool changed = false;
    window.onPump = [&](int) {
      if (changed || ScanContext.LastOperation != "Processing file " + a) return;
      changed = true;
      File("2b", std::string(100, 'y'));
      std::filesystem::remove(c);
    };
    EXPECT_EQ(Scan(), std::vector<Strings>{});
    EXPECT_EQ(Line("Signatures reused"), "Signatures reused from earlier scans: 3");
    std::vector<Strings> warnings;
    for (const LogRow& row : window.log) {
      if (row.Information.starts_with("Warning #")) warnings.push_back({row.Information, row.Name, row.Comment});
    }
    EXPECT_EQ(warnings,
              (std::vector<Strings>{{"Warning #1: File changed during the scan", b, "Modified since it was listed"},
                                    {"Warning #2: Can not access to this file", c, "[2] No such file or directory"}}));
  }
}

// What stands at the cache's name is never opened unless it is a regular
// file of this user: a link or another user's file is set aside (one
// warning), a folder that is not the user's is not used; the scan's results
// stay the same.
TEST_F(HashCacheRun, ACacheThatIsALinkOrAnotherUsersIsNotUsed) {
  const std::string a = File("a", Bytes('x')), b = File("b", Bytes('x'));
  std::filesystem::create_directories(ScanContext.HashCacheFolder);
  const std::string elsewhere = dir / "elsewhere";
  std::ofstream(elsewhere) << "not to be touched";
  ASSERT_EQ(symlink(elsewhere.c_str(), CacheFile().c_str()), 0);
  EXPECT_EQ(Scan(), (std::vector<Strings>{{a, b}}));
  EXPECT_EQ(FirstWarning().Information, "Warning #1: Hash cache rebuilt");
  EXPECT_EQ(FirstWarning().Name, CacheFile());
  EXPECT_EQ(FirstWarning().Comment, "A link");
  EXPECT_EQ(Slurp(elsewhere), "not to be touched");
  struct stat status {};
  ASSERT_EQ(lstat(CacheFile().c_str(), &status), 0);
  EXPECT_TRUE(S_ISREG(status.st_mode));
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  EXPECT_EQ(Scan(), (std::vector<Strings>{{a, b}}));
  EXPECT_EQ(Line("Signatures reused"), "Signatures reused from earlier scans: 2");

  if (geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
  ASSERT_EQ(chown(CacheFile().c_str(), 12345, 12345), 0);
  EXPECT_EQ(Scan(), (std::vector<Strings>{{a, b}}));
  EXPECT_EQ(FirstWarning().Information, "Warning #1: Hash cache rebuilt");
  EXPECT_EQ(FirstWarning().Comment, "Owned by another user");
  EXPECT_EQ(Line("Signatures reused"), "Signatures reused from earlier scans: 0");
  ASSERT_EQ(lstat(CacheFile().c_str(), &status), 0);
  EXPECT_EQ(status.st_uid, 0u);

  ASSERT_EQ(chown(ScanContext.HashCacheFolder.c_str(), 12345, 12345), 0);
  EXPECT_EQ(Scan(), (std::vector<Strings>{{a, b}}));
  EXPECT_EQ(FirstWarning().Information, "Warning #1: Hash cache not used");
  EXPECT_EQ(FirstWarning().Comment, "Owned by another user");
  EXPECT_EQ(Line("Signatures reused"), "");
}

TEST_F(HashCacheRun, ACorruptCacheIsRebuiltWithAWarning) {
  const std::string a = File("a", Bytes('x')), b = File("b", Bytes('x'));
  EXPECT_EQ(Scan(), (std::vector<Strings>{{a, b}}));
  // The cache as it lies on disk: the file and the log of its last writes,
  // which a run leaves for the next to read.
  for (const std::string& path : {CacheFile(), CacheFile() + "-wal"}) {
    if (!std::filesystem::exists(path)) continue;
    std::ofstream garbage(path, std::ios::binary | std::ios::in);
    garbage << std::string(200, '\x5a');
  }
  EXPECT_EQ(Scan(), (std::vector<Strings>{{a, b}}));
  EXPECT_EQ(FirstWarning().Information, "Warning #1: Hash cache rebuilt");
  EXPECT_TRUE(FirstWarning().Comment.starts_with("Could not be read: ")) << FirstWarning().Comment;
  EXPECT_EQ(ScanContext.WarningCount, 1);
  EXPECT_EQ(Scan(), (std::vector<Strings>{{a, b}}));
  EXPECT_EQ(Line("Signatures reused"), "Signatures reused from earlier scans: 2");
  EXPECT_EQ(ScanContext.WarningCount, 0);
}

// A run killed in the middle keeps what its written batches hold: the next
// run reads only the rest, and finds the same groups. The kill comes once
// the writer has caught up with the batches handed to it, not the one being
// filled.
TEST_F(HashCacheRun, AKilledScanResumesWithItsHashes) {
  std::vector<Strings> expected;
  for (char fill = 'a'; fill < 'k'; ++fill) {
    const std::string name(1, fill);
    expected.push_back({File(name + "1", Bytes(fill)), File(name + "2", Bytes(fill))});
  }
  ScanContext.HashCacheBatchFiles = 2;
  EXPECT_TRUE(testing::InKilledProcess([this] {
    window.onPump = [](int) {
      if (ScanContext.DuplicateFiles != 6) return;
      ScanContext.Cache->Flush();
      _exit(0);  // as a kill would, mid-run
    };
    sbStartClick();
  }));
  const auto groups = Scan();
  EXPECT_EQ(groups.size(), expected.size());
  EXPECT_GE(ScanContext.ReusedFiles, 10);
  EXPECT_LT(ScanContext.ReusedFiles, 20);
}

}  // namespace
}  // namespace veldrano
