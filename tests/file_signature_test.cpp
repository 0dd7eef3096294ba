#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "signature/file_signature.h"
#include "support/bytes.h"
#include "support/engine_fixture.h"

namespace veldrano {
namespace {

constexpr const char* EmptySignature = "D41D8CD98F00B204E9800998ECF8427E";

using FileSignature = testing::EngineTest;

TEST_F(FileSignature, OfAnEmptyFileIsTheEmptyDigestWithoutLogOrProgress) {
  EXPECT_EQ(ComputeFileSignature(dir.Write("empty", "")), EmptySignature);
  EXPECT_TRUE(window.log.empty());
  EXPECT_TRUE(window.progressBar2.empty());
  EXPECT_EQ(window.pumps, 0);
}

TEST_F(FileSignature, IsTheMD5OfTheBytesInUpperCaseHex) {
  EXPECT_EQ(ComputeFileSignature(dir.Write("abc", "abc")), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(ComputeFileSignature(dir.Write("one", "a")), "0CC175B9C0F1B6A831C399E269772661");
  EXPECT_EQ(window.progressBar2, (std::vector<int>{0, 0, 0, 0}));
  EXPECT_EQ(window.pumps, 2);
  EXPECT_TRUE(window.log.empty());
}

TEST_F(FileSignature, ReadsOneViewPer64KiB) {
  // 65536 bytes: one view; the bar shows 0 before it and 0 after.
  EXPECT_EQ(ComputeFileSignature(dir.Write("64k", testing::PatternBytes(65536))),
            "103855EEDA762363187FEB7A44C9E4A0");
  EXPECT_EQ(window.pumps, 1);
  EXPECT_EQ(window.progressBar2, (std::vector<int>{0, 0}));

  window = {};
  const std::string path = dir.Write("64k+1", testing::PatternBytes(65537));
  const std::string signature = ComputeFileSignature(path);
  EXPECT_EQ(window.pumps, 2);
  // Before the second view 65536 of 65537 bytes are done: 99.998 % shows 100.
  EXPECT_EQ(window.progressBar2, (std::vector<int>{0, 100, 0}));
  EXPECT_EQ(signature, "5712D03EDFAC507499662C7C434FDFA5");
  EXPECT_TRUE(window.log.empty());
}

TEST_F(FileSignature, TwoCallsOnAnUnchangedFileAgree) {
  const std::string path = dir.Write("f", testing::PatternBytes(100000));
  const std::string first = ComputeFileSignature(path);
  ComputeFileSignature(dir.Write("other", "something else"));
  EXPECT_EQ(ComputeFileSignature(path), first);
}

TEST_F(FileSignature, ReadsFilesBeyondFourGiBWhole) {
  // Sparse: only the first and the last bytes take room on disk. The views at
  // offsets of 4 GiB and more must be read for the digest to come out right.
  const std::string path = dir / "big";
  {
    std::ofstream out(path, std::ios::binary);
    out << "head";
    out.seekp(4294967296LL + 65536 + 5 - 4);
    out << "tail";
  }
  int views = 0;
  window.onPump = [&](int) { ++views; };
  EXPECT_EQ(ComputeFileSignature(path), "85EB40AB8F8753E48648F8FCBA4DE089");
  EXPECT_EQ(views, 65536 + 2);
  EXPECT_TRUE(window.log.empty());
}

TEST_F(FileSignature, OfAMissingFileIsTheEmptyDigestWithAWarning) {
  const std::string path = dir / "gone";
  EXPECT_EQ(ComputeFileSignature(path), EmptySignature);
  ASSERT_EQ(window.log.size(), 1u);
  EXPECT_EQ(window.log[0].Information, "Warning #1: Can not open this file");
  EXPECT_EQ(window.log[0].Name, path);
  EXPECT_EQ(window.log[0].Comment, "No such file or directory");
  EXPECT_EQ(window.log[0].ImageIndex, 2);
  EXPECT_EQ(ScanContext.WarningCount, 1);
}

TEST_F(FileSignature, RefusesWhatIsNotARegularFileWithoutOpeningIt) {
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // Opening the FIFO for reading would block for ever: the test would hang.
  EXPECT_EQ(ComputeFileSignature(fifo), EmptySignature);
  EXPECT_EQ(ComputeFileSignature(dir.Path()), EmptySignature);

  ASSERT_EQ(window.log.size(), 2u);
  EXPECT_EQ(window.log[0].Information, "Warning #1: Can not open this file");
  EXPECT_EQ(window.log[0].Name, fifo);
  EXPECT_EQ(window.log[0].Comment, "Operation not supported");
  EXPECT_EQ(window.log[1].Information, "Warning #2: Can not open this file");
  EXPECT_EQ(window.log[1].Comment, "Is a directory");
}

TEST_F(FileSignature, SurvivesAFileCutShortWhileItIsRead) {
  const std::string path = dir.Write("shrinking", testing::PatternBytes(1 << 20));
  // Cut the file while the window handles its events before the third view:
  // the pages of that view no longer have data behind them.
  window.onPump = [&](int pump) {
    if (pump == 3) {
      ASSERT_EQ(truncate(path.c_str(), 100000), 0);
    }
  };
  const std::string signature = ComputeFileSignature(path);
  EXPECT_EQ(signature.size(), 32u);
  ASSERT_EQ(window.log.size(), 1u);
  EXPECT_EQ(window.log[0].Information, "Warning #1: Can not open this file");
  EXPECT_EQ(window.log[0].Name, path);
  EXPECT_EQ(window.log[0].Comment, "Input/output error");
  EXPECT_EQ(window.progressBar2.back(), 0);
  EXPECT_EQ(window.pumps, 3);
}

TEST_F(FileSignature, SurvivesAFileEmptiedBeforeItsFirstView) {
  const std::string path = dir.Write("emptied", testing::PatternBytes(5000));
  window.onPump = [&](int) { ASSERT_EQ(truncate(path.c_str(), 0), 0); };
  EXPECT_EQ(ComputeFileSignature(path).size(), 32u);
  ASSERT_EQ(window.log.size(), 1u);
  EXPECT_EQ(window.log[0].Information, "Warning #1: Can not open this file");

  // The guard is armed only around a read: the next file hashes normally.
  window = {};
  window.onPump = nullptr;
  EXPECT_EQ(ComputeFileSignature(dir.Write("abc", "abc")), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_TRUE(window.log.empty());
}

TEST_F(FileSignature, ReportsAFileThatCannotBeMappedAsAnError) {
  // sysfs attributes are regular files that refuse to be mapped.
  const std::string path = "/sys/kernel/mm/transparent_hugepage/enabled";
  if (access(path.c_str(), R_OK) != 0) GTEST_SKIP() << "no sysfs attribute to read here";
  EXPECT_EQ(ComputeFileSignature(path), EmptySignature);
  ASSERT_EQ(window.log.size(), 1u);
  EXPECT_EQ(window.log[0].Information, "Error #1: Error while creating FileMap for this file");
  EXPECT_EQ(window.log[0].Name, path);
  EXPECT_EQ(window.log[0].Comment, "No such device");
  EXPECT_EQ(window.log[0].ImageIndex, 3);
  EXPECT_EQ(ScanContext.ErrorCount, 1);
  EXPECT_TRUE(window.progressBar2.empty());
}

}  // namespace
}  // namespace veldrano
