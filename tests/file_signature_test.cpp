#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "signature/file_signature.h"
#include "signature/hash_ahead.h"
#include "support/bytes.h"
#include "support/engine_fixture.h"

namespace veldrano {
namespace {

constexpr const char* EmptySignature = "D41D8CD98F00B204E9800998ECF8427E";

using FileSignature = testing::EngineTest;

// The signature of a file at its size now.
std::optional<std::string> SignatureOf(const std::string& path) {
  struct stat status {};
  const std::int64_t size = lstat(path.c_str(), &status) == 0 ? status.st_size : 0;
  return ComputeFileSignature(path, size);
}

TEST_F(FileSignature, OfAnEmptyFileIsTheEmptyDigestWithoutLogOrProgress) {
  EXPECT_EQ(SignatureOf(dir.Write("empty", "")), EmptySignature);
  EXPECT_TRUE(window.log.empty());
  EXPECT_TRUE(window.fileProgress.empty());
  EXPECT_EQ(window.pumps, 0);
}

TEST_F(FileSignature, IsTheMD5OfTheBytesInUpperCaseHex) {
  EXPECT_EQ(SignatureOf(dir.Write("abc", "abc")), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(SignatureOf(dir.Write("one", "a")), "0CC175B9C0F1B6A831C399E269772661");
  EXPECT_EQ(window.fileProgress, (std::vector<int>{0, 0, 0, 0}));
  EXPECT_EQ(window.pumps, 2);
  EXPECT_TRUE(window.log.empty());
}

TEST_F(FileSignature, ReadsOneBlockPer64KiB) {
  // 65536 bytes: one read; the bar shows 0 before it and 0 after.
  EXPECT_EQ(SignatureOf(dir.Write("64k", testing::PatternBytes(65536))), "103855EEDA762363187FEB7A44C9E4A0");
  EXPECT_EQ(window.pumps, 1);
  EXPECT_EQ(window.fileProgress, (std::vector<int>{0, 0}));

  window = {};
  EXPECT_EQ(SignatureOf(dir.Write("64k+1", testing::PatternBytes(65537))), "5712D03EDFAC507499662C7C434FDFA5");
  EXPECT_EQ(window.pumps, 2);
  // Before the second read 65536 of 65537 bytes are done: 99.998 % shows 100.
  EXPECT_EQ(window.fileProgress, (std::vector<int>{0, 100, 0}));
  EXPECT_TRUE(window.log.empty());
}

TEST_F(FileSignature, ReadsFilesBeyondFourGiBWhole) {
  // Sparse: only the first and the last bytes take room on disk. The blocks
  // at offsets of 4 GiB and more must be read for the digest to come out right.
  const std::string path = dir / "big";
  {
    std::ofstream out(path, std::ios::binary);
    out << "head";
    out.seekp(4294967296LL + 65536 + 5 - 4);
    out << "tail";
  }
  int reads = 0;
  window.onPump = [&](int) { ++reads; };
  EXPECT_EQ(SignatureOf(path), "85EB40AB8F8753E48648F8FCBA4DE089");
  EXPECT_EQ(reads, 65536 + 2);
  EXPECT_TRUE(window.log.empty());
}

TEST_F(FileSignature, ReadingLeavesSparseFilesOnTmpfsAsTheyWere) {
  struct statfs fs {};
  if (statfs("/dev/shm", &fs) != 0 || fs.f_type != 0x01021994 /* TMPFS_MAGIC */) {
    GTEST_SKIP() << "no tmpfs at /dev/shm";
  }
  char name[] = "/dev/shm/veldrano-sparse-XXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 32 << 20), 0);
  close(fd);
  EXPECT_EQ(ComputeFileSignature(name, 32 << 20)->size(), 32u);
  struct stat status {};
  ASSERT_EQ(stat(name, &status), 0);
  unlink(name);
  EXPECT_EQ(status.st_blocks, 0);  // reading a hole gives it no pages
}

TEST_F(FileSignature, GivesNoneWithAWarningForWhatCannotBeOpened) {
  const std::string gone = dir / "gone";
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);  // opening it for reading could block for ever
  const std::string link = dir / "link";
  ASSERT_EQ(symlink(dir.Write("target", "abc").c_str(), link.c_str()), 0);
  EXPECT_EQ(ComputeFileSignature(gone, 0), std::nullopt);
  EXPECT_EQ(ComputeFileSignature(fifo, 0), std::nullopt);
  EXPECT_EQ(ComputeFileSignature(dir.Path(), 0), std::nullopt);
  EXPECT_EQ(ComputeFileSignature(link, 3), std::nullopt);  // a link is never followed

  const std::vector<std::string> comments{"No such file or directory", "Operation not supported", "Is a directory",
                                          "Too many levels of symbolic links"};
  ASSERT_EQ(window.log.size(), comments.size());
  for (std::size_t i = 0; i < comments.size(); ++i) {
    EXPECT_EQ(window.log[i].Information, "Warning #" + std::to_string(i + 1) + ": Can not open this file");
    EXPECT_EQ(window.log[i].Comment, comments[i]);
  }
  EXPECT_EQ(window.log[0].Name, gone);
  EXPECT_EQ(ScanContext.WarningCount, 4);
}

// A file that is not read whole would get the signature of part of its
// bytes, and could match files it does not equal: it gets none.
TEST_F(FileSignature, GivesNoneForAFileThatChangesBeforeOrWhileItIsRead) {
  const std::string listed = dir.Write("listed", testing::PatternBytes(5000));
  EXPECT_EQ(ComputeFileSignature(listed, 6000), std::nullopt);

  const std::string shrinking = dir.Write("shrinking", testing::PatternBytes(1 << 20));
  window.onPump = [&](int pump) {
    if (pump == 3) {
      ASSERT_EQ(truncate(shrinking.c_str(), 100000), 0);
    }
  };
  EXPECT_EQ(SignatureOf(shrinking), std::nullopt);

  const std::string rewritten = dir.Write("rewritten", testing::PatternBytes(200000));
  // Written a while ago: a change within the clock's tick of the last one
  // would not show in the file's times.
  const timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, rewritten.c_str(), past, 0), 0);
  window.pumps = 0;
  window.onPump = [&](int pump) {
    if (pump == 2) std::ofstream(rewritten, std::ios::binary | std::ios::in) << "other bytes";
  };
  EXPECT_EQ(SignatureOf(rewritten), std::nullopt);

  ASSERT_EQ(window.log.size(), 3u);
  for (const LogRow& row : window.log) EXPECT_TRUE(row.Information.ends_with(": File changed during the scan"));
  EXPECT_EQ(window.log[0].Comment, "Listed with 6000 bytes, now 5000 bytes");
  EXPECT_EQ(window.log[1].Comment, "Ended after 131072 of its 1048576 bytes");
  EXPECT_EQ(window.log[2].Comment, "Modified while it was being read");
  EXPECT_EQ(window.fileProgress.back(), 0);

  window = {};
  window.onPump = nullptr;
  EXPECT_EQ(SignatureOf(dir.Write("abc", "abc")), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_TRUE(window.log.empty());
}

// The size a file reports is not proof of where it ends: a file holding
// more than that (as the files of /proc do) is never read as whole.
TEST_F(FileSignature, GivesNoneForAFileThatGoesOnPastItsSize) {
  for (const std::int64_t size : {0, 100}) {
    const std::string path = dir.Write("grown" + std::to_string(size), testing::PatternBytes(size));
    const platform::ReadOnlyFile file(path);
    ASSERT_EQ(file.Size(), static_cast<std::uint64_t>(size));
    std::ofstream(path, std::ios::binary | std::ios::app) << "more";
    EXPECT_EQ(ComputeFileSignature(file, path, size), std::nullopt);
    ASSERT_FALSE(window.log.empty());
    EXPECT_TRUE(window.log.back().Information.ends_with(": File changed during the scan"));
    EXPECT_EQ(window.log.back().Comment, "More than its listed " + std::to_string(size) + " bytes");
  }
  EXPECT_EQ(window.log.size(), 2u);
}

TEST_F(FileSignature, ADroppedFileIsLeftAtOnceWhenTheWindowCloses) {
  const std::string path = dir.Write("long", testing::PatternBytes(1 << 20));
  window.onPump = [&](int pump) { window.closing = pump == 2; };
  EXPECT_EQ(SignatureOf(path), std::nullopt);
  EXPECT_EQ(window.pumps, 2);       // not the 16 reads of the whole file
  EXPECT_TRUE(window.log.empty());  // nothing of it is shown any more
}

TEST_F(FileSignature, GivesNoneForAFileWhoseReadsFail) {
  // sysfs attributes are regular files of 4096 bytes that hold fewer.
  const std::string path = "/sys/kernel/mm/transparent_hugepage/enabled";
  if (access(path.c_str(), R_OK) != 0) GTEST_SKIP() << "no sysfs attribute to read here";
  EXPECT_EQ(SignatureOf(path), std::nullopt);
  ASSERT_EQ(window.log.size(), 1u);
  EXPECT_EQ(window.log[0].Information, "Warning #1: File changed during the scan");
  EXPECT_EQ(window.log[0].Name, path);
}

// The worker's signature stands in for the scan's own read only for the
// very file the scan opened, unchanged; the progress the scan shows is that
// of its own read.
TEST_F(FileSignature, AheadOfTheScanOnlyTheSameUnchangedFileCounts) {
  const std::string same = dir.Write("same", testing::PatternBytes(3 * 65536));
  const std::string changed = dir.Write("changed", testing::PatternBytes(100));
  const timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, changed.c_str(), past, 0), 0);
  HashAhead ahead;
  ahead.Hint(same, {nullptr, same}, 3 * 65536, HashAhead::Depth::Whole);
  ahead.Hint(changed, {nullptr, changed}, 100);
  const platform::ReadOnlyFile sameFile(same);
  std::vector<std::uint64_t> blocks;
  // Waits for the worker when need be; a job not begun is left to the scan.
  std::optional<FileHashes> hashes;
  for (int attempt = 0; attempt < 100 && !hashes; ++attempt) {
    blocks.clear();
    hashes = ahead.Take(
        same, HashAhead::Depth::Whole, sameFile.Status(),
        [&](std::uint64_t offset) {
          blocks.push_back(offset);
          return true;
        },
        [] { return true; });
    if (!hashes) {
      ahead.Hint(same, {nullptr, same}, 3 * 65536, HashAhead::Depth::Whole);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ASSERT_TRUE(hashes && hashes->Full);
  EXPECT_EQ(DigestToText(*hashes->Full), SignatureOf(same));
  EXPECT_EQ(blocks, (std::vector<std::uint64_t>{0, 65536, 131072}));

  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // hashed by now
  std::ofstream(changed, std::ios::binary | std::ios::in) << "x";
  const platform::ReadOnlyFile changedFile(changed);
  EXPECT_EQ(ahead.Take(
                changed, HashAhead::Depth::Parts, changedFile.Status(), [](std::uint64_t) { return true; },
                [] { return true; }),
            std::nullopt);
  EXPECT_EQ(ahead.Take(
                dir / "never-announced", HashAhead::Depth::Parts, sameFile.Status(), [](std::uint64_t) { return true; },
                [] { return true; }),
            std::nullopt);
}

// The first file of a size is announced with the file it is to be compared
// with: taking that file, as the scan does first, leaves the first file's
// parts to be taken for the match that follows, rather than dropping them
// with the files passed over.
TEST_F(FileSignature, AheadTheFirstOfASizeStaysForTheFileAnnouncedWithIt) {
  const std::string bytes = testing::PatternBytes(5000);
  const std::string first = dir.Write("first", bytes), copy = dir.Write("copy", bytes);
  HashAhead ahead;
  ahead.HintFirstOf(copy, first, {nullptr, first}, 5000);
  ahead.Hint(copy, {nullptr, copy}, 5000);
  const auto finished = [&ahead](const std::string& path) {
    std::optional<HashAhead::Finished> done;
    for (int attempt = 0; attempt < 500 && !done; ++attempt) {
      done = ahead.TakeFinished(path);
      if (!done) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done;
  };
  const std::optional<HashAhead::Finished> copyDone = finished(copy);
  ASSERT_TRUE(copyDone);
  const std::optional<HashAhead::Finished> firstDone = finished(first);
  ASSERT_TRUE(firstDone);
  EXPECT_EQ(firstDone->Hashes.Prefix, copyDone->Hashes.Prefix);
  EXPECT_TRUE(firstDone->Hashes.Prefix.has_value());
}

// First files foreseen to be wanted whole stay announced while the files
// announced after them are taken (the scan passes over them), until the
// scan takes their MD5s, each its own: more of them than are read side by
// side, of sizes that end them at different blocks, so that lanes are
// refilled and handed from one thread to the other midway. The worker reads
// them before those files' parts, so they are done by the time the last of
// those is.
TEST_F(FileSignature, AheadForeseenFilesStayAnnouncedWhileTheFilesAfterThemAreTaken) {
  const std::string bytes = testing::PatternBytes(3 << 20);
  std::vector<std::string> foreseen;
  for (std::size_t i = 0; i < MD5MaxLanes + 3; ++i) {
    std::string mine = bytes.substr(i * 131, (1 << 20) + i * 197'000 + (i % 3) * 64 + i);
    mine[mine.size() / 3] ^= static_cast<char>(i + 1);  // no two alike
    foreseen.push_back(dir.Write("foreseen" + std::to_string(i), mine));
  }
  const std::string later = dir.Write("later", testing::PatternBytes(70000));
  const std::string last = dir.Write("last", testing::PatternBytes(70001));
  HashAhead ahead;
  for (const std::string& path : foreseen)
    ahead.HintForeseen(path, {nullptr, path}, static_cast<std::int64_t>(std::filesystem::file_size(path)));
  ahead.Hint(later, {nullptr, later}, 70000);
  ahead.Hint(last, {nullptr, last}, 70001);
  std::optional<HashAhead::Finished> lastDone;
  for (int attempt = 0; attempt < 500 && !lastDone; ++attempt) {
    lastDone = ahead.TakeFinished(last);  // drops "later", passed over
    if (!lastDone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(lastDone);
  for (const std::string& path : foreseen) {
    const platform::ReadOnlyFile file(path);
    std::uint64_t shown = 0;
    const std::optional<FileHashes> hashes = ahead.Take(
        path, HashAhead::Depth::Whole, file.Status(),
        [&shown](std::uint64_t offset) {
          EXPECT_EQ(offset, shown);
          shown = offset + 65536;
          return true;
        },
        [] { return true; });
    ASSERT_TRUE(hashes && hashes->Full) << path;
    EXPECT_EQ(DigestToText(*hashes->Full), SignatureOf(path)) << path;
    EXPECT_GE(shown, std::filesystem::file_size(path)) << path;
  }
}

}  // namespace
}  // namespace veldrano
