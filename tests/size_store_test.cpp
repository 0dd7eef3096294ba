#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>

#include <filesystem>
#include <random>

#include "scan/repeated_sizes.h"
#include "scan/size_store.h"
#include "signature/file_parts.h"
#include "signature/file_signature.h"
#include "support/scan_fixture.h"

namespace veldrano {
namespace {

using Strings = std::vector<std::string>;

// ProcessFile against a store of the test's own, planned in tmp.
class SizeStoreTest : public testing::ScanTest {
 protected:
  void SetUp() override {
    ScanTest::SetUp();
    ScanContext.WorkDirPath = tmp + "/~work.~vesk/";
  }
  // A file of size bytes made of fill, sparse beyond its first byte.
  std::string Sized(const std::string& name, std::int64_t size, char fill) const {
    const std::string path = File(name, std::string(1, fill));
    EXPECT_EQ(truncate(path.c_str(), size), 0);
    return path;
  }
};

TEST_F(SizeStoreTest, FirstFileOfASizeIsStoredUnhashedAndNothingGoesToDisk) {
  const std::string x = File("x", std::string(1234567, 'a'));
  ProcessFile(x, 1234567);
  EXPECT_EQ(ScanContext.StoredFiles, 1);
  EXPECT_EQ(ScanContext.StoreEntries, 1);
  EXPECT_TRUE(window.fileProgress.empty());  // nothing was read
  EXPECT_EQ(ScanContext.LastOperation, "Processing file " + x);
  ASSERT_TRUE(ScanContext.Store);
  EXPECT_EQ(ScanContext.Store->FindHead(1234567).First.Path, x);
  EXPECT_EQ(TmpEntries(), 0u);
}

TEST_F(SizeStoreTest, IdenticalFilesAreRecordedAgainstTheFirst) {
  const std::string content(1234567, 'a');
  const std::string x = File("x", content), y = File("y", content), z = File("z", content);
  for (const auto& p : {x, y, z}) ProcessFile(p, 1234567);
  // Every match left the entry with its lone first file.
  EXPECT_EQ(ScanContext.Store->FindHead(1234567).Kind, SizeStore::Head::Kind::Unsigned);
  ASSERT_TRUE(ScanContext.ResultsRoot);
  ASSERT_EQ(ScanContext.ResultsRoot->Groups.size(), 1u);
  EXPECT_EQ(ScanContext.ResultsRoot->Groups[0].Files, (Strings{x, y, z}));
  EXPECT_EQ(ScanContext.DuplicateFiles, 2);
  EXPECT_EQ(ScanContext.RecoverableBytes, 2 * 1234567);
  EXPECT_EQ(ScanContext.StoreEntries, 1);
  EXPECT_EQ(ScanContext.StoredFiles, 3);
}

TEST_F(SizeStoreTest, DifferentContentsOfOneSizeGetSignatureLines) {
  const std::string x = File("x", "abc"), y = File("y", "abd"), z = File("z", "abd");
  ProcessFile(x, 3);
  ProcessFile(y, 3);
  const Digest sigY = DigestOf("4911E516E5AA21D327512E0C8B197616");  // MD5("abd")
  // Told apart by the fast hash of their one block: no MD5 was needed.
  const auto line = [](const char* bytes) {
    return ScanContext.Store->Find(StoreRecord::LineKey(3, HashStep::Prefix, PartHash(bytes, 3)));
  };
  ASSERT_TRUE(line("abc") && line("abd"));
  EXPECT_EQ(line("abc")->File.Path, x);
  EXPECT_EQ(line("abd")->File.Path, y);
  EXPECT_FALSE(line("abc")->File.Hashes.Full);
  EXPECT_FALSE(ScanContext.ResultsRoot);

  int pumps = 0;
  window.onPump = [&](int) { ++pumps; };
  ProcessFile(z, 3);
  ASSERT_TRUE(ScanContext.ResultsRoot);
  EXPECT_EQ(ScanContext.ResultsRoot->Groups[0].Signature, SignatureOf(sigY));
  EXPECT_EQ(ScanContext.ResultsRoot->Groups[0].Files, (Strings{y, z}));
  // One pump at the start, one for z's block, one each for the MD5s of y
  // and z, one for the search, at most two for the results: x was not read
  // again.
  EXPECT_LE(pumps, 7);
}

TEST_F(SizeStoreTest, EmptyFilesShareOneEntryAndAreDuplicatesOfTheFirst) {
  const std::string a = File("a", ""), b = File("b", ""), c = File("c", "");
  for (const auto& p : {a, b, c}) ProcessFile(p, 0);
  EXPECT_EQ(ScanContext.StoreEntries, 1);
  EXPECT_EQ(ScanContext.DuplicateFiles, 2);
  EXPECT_EQ(ScanContext.RecoverableBytes, 0);
  EXPECT_EQ(ScanContext.ResultsRoot->Groups[0].Signature, "D41D8CD98F00B204E9800998ECF8427E");
}

// Files of one size are told apart by their first block, then (when large)
// their last, and only by their MD5, or their bytes compared, made
// duplicates: equal ends hide neither a different middle nor, with an equal
// start, a different end. A group's signature is the MD5 of its bytes,
// however its copies were proven (hashed, compared, or compared while the
// worker hashes the first file of a large pair).
TEST_F(SizeStoreTest, FilesEqualInTheirPartsAreDuplicatesOnlyWhenEqualWhole) {
  for (const std::int64_t size : {std::int64_t{10000}, SuffixFromBytes + 10000, (std::int64_t{1} << 20) + 10000}) {
    SCOPED_TRACE(size);
    ScanContext = TScanContext{};
    ScanContext.Window = &window;
    const std::string in = std::to_string(size) + "/";
    std::string base(static_cast<std::size_t>(size), 'a');
    std::string middle = base, end = base;
    middle[static_cast<std::size_t>(size / 2)] = 'b';
    end[static_cast<std::size_t>(size - 1)] = 'c';
    const std::string a = File(in + "a", base), m = File(in + "m", middle), e = File(in + "e", end),
                      m2 = File(in + "m2", middle), a2 = File(in + "a2", base);
    for (const auto& p : {a, m, e, m2, a2}) ProcessFile(p, size);
    ASSERT_TRUE(ScanContext.ResultsRoot);
    ASSERT_EQ(ScanContext.ResultsRoot->Groups.size(), 2u);
    EXPECT_EQ(ScanContext.ResultsRoot->Groups[0].Files, (Strings{m, m2}));
    EXPECT_EQ(ScanContext.ResultsRoot->Groups[1].Files, (Strings{a, a2}));
    EXPECT_EQ(ScanContext.ResultsRoot->Groups[0].Signature, ComputeFileSignature(m2, size));
    EXPECT_EQ(ScanContext.ResultsRoot->Groups[1].Signature, ComputeFileSignature(a2, size));
    EXPECT_EQ(ScanContext.DuplicateFiles, 2);
    EXPECT_TRUE(window.log.empty());
  }
}

// Kept hashes never make a stale match: a stored file rewritten after its
// hashes were found is looked at, and read again, before a later file is
// made its duplicate; the later file takes its place. (Files small enough
// to be hashed rather than compared: a comparison reads the file anyway.)
// The file a record names may change after its hashes were found. Before a
// copy is recorded with it, it is read again and must still match; a copy
// of a group found before joins that group by its own hash whatever became
// of the group's first file.
TEST_F(SizeStoreTest, AStoredFileChangedSinceItWasHashedIsReadAgainBeforeAMatch) {
  const std::string same(10000, 'x');
  const auto change = [this](const std::string& name) {
    const std::string path = File(name, std::string(10000, 'y'));
    const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};  // another time, whatever the clock's grain
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  };
  // a is hashed whole against b, which differs only in its middle; then a
  // changes: c matches a's kept hashes, but not a as it is now, and takes
  // its place.
  std::string middle = same;
  middle[5000] = 'z';
  const std::string a = File("a", same), b = File("b", middle);
  ProcessFile(a, 10000);
  ProcessFile(b, 10000);
  change("a");
  const std::string c = File("c", same), d = File("d", same);
  ProcessFile(c, 10000);
  EXPECT_FALSE(ScanContext.ResultsRoot && !ScanContext.ResultsRoot->Groups.empty());
  ProcessFile(d, 10000);
  ASSERT_TRUE(ScanContext.ResultsRoot);
  ASSERT_EQ(ScanContext.ResultsRoot->Groups.size(), 1u);
  EXPECT_EQ(ScanContext.ResultsRoot->Groups[0].Files, (Strings{c, d}));
  // c, the group's first, changes: e still joins the group of its bytes.
  change("c");
  const std::string e = File("e", same);
  ProcessFile(e, 10000);
  EXPECT_EQ(ScanContext.ResultsRoot->Groups[0].Files, (Strings{c, d, e}));
  EXPECT_EQ(ScanContext.DuplicateFiles, 2);
}

TEST_F(SizeStoreTest, SkipsAFileThatCannotBeOpenedWithAWarning) {
  const std::string gone = tree + "/gone";
  ProcessFile(gone, 10);
  ASSERT_EQ(window.log.size(), 1u);
  EXPECT_EQ(window.log[0].Information, "Warning #1: Can not access to this file");
  EXPECT_EQ(window.log[0].Name, gone);
  EXPECT_EQ(window.log[0].Comment, "[2] No such file or directory");
  EXPECT_EQ(ScanContext.StoredFiles, 0);
  EXPECT_EQ(ScanContext.StoreEntries, 0);
}

TEST_F(SizeStoreTest, KeepsSizesApartWhateverTheirDigits) {
  // Sizes whose decimal texts repeat one another's digits.
  const std::int64_t sizes[] = {12, 1212, 121212, 12121212};
  for (const char copy : {'a', 'b'}) {
    for (const std::int64_t size : sizes) ProcessFile(Sized(copy + std::to_string(size), size, 'x'), size);
  }
  EXPECT_TRUE(window.log.empty());
  EXPECT_EQ(ScanContext.StoreEntries, 4);
  EXPECT_EQ(ScanContext.DuplicateFiles, 4);
  EXPECT_EQ(ScanContext.ResultsRoot->Groups.size(), 4u);
}

// Runs ProcessFile over the same files in the same order with a store that
// keeps everything in memory and with one whose budget is so small that it
// moves its records to disk every few dozen files: what the user sees must
// be the same.
TEST_F(SizeStoreTest, EntriesMovedToDiskGiveTheSameResultsAsEntriesKeptInMemory) {
  std::mt19937 random(7);
  std::vector<std::pair<std::string, std::int64_t>> files;
  // Few sizes, many contents each, every kind of entry: lone first files,
  // first files matched before another content turns up, copies met after
  // their entry went to disk; odd bytes in names.
  for (int i = 0; i < 1500; ++i) {
    const int size = 1 + static_cast<int>(random() % 40);
    const int content = static_cast<int>(random() % (size < 5 ? 3 : 12));
    std::string bytes(static_cast<std::size_t>(size), static_cast<char>('a' + content));
    std::string name = std::string("d").append(std::to_string(i % 7)).append("/f").append(std::to_string(i));
    if (i % 5 == 0) name += ";\n\\\xE9";
    files.emplace_back(File(name, bytes), size);
  }
  const auto run = [&](std::size_t budget) {
    ScanContext.ResultsRoot.reset();
    ScanContext.Selection.clear();
    ScanContext.DuplicateFiles = 0;
    ScanContext.StoreEntries = 0;
    ScanContext.Store = std::make_unique<SizeStore>(ScanContext.WorkDirPath, budget);
    for (const auto& [path, size] : files) ProcessFile(path, size);
    EXPECT_EQ(ScanContext.Store->HasSpilled(), budget == 0);
    Strings entries;
    ScanContext.Store->ForEachEntry([&](std::int64_t size) { entries.push_back(SizeText(size)); });
    std::sort(entries.begin(), entries.end());
    Strings rows;
    for (const SelectionRow& row : ScanContext.Selection) {
      rows.push_back(ScanContext.ResultsRoot->Groups[row.Group].Signature + ";" + PathOf(row) +
                     (row.Checked ? ";x" : ""));
    }
    ScanContext.Store.reset();
    EXPECT_EQ(TmpEntries(), 0u);  // the disk part went with the store
    return std::make_tuple(rows, entries, ScanContext.DuplicateFiles, ScanContext.StoreEntries);
  };
  const auto inMemory = run(SizeStore::DefaultByteBudget);
  const auto spilled = run(0);
  EXPECT_GT(std::get<0>(inMemory).size(), 500u);
  EXPECT_EQ(std::get<1>(inMemory).size(), 40u);
  EXPECT_EQ(spilled, inMemory);
  EXPECT_TRUE(window.log.empty());
}

TEST_F(SizeStoreTest, StoreFailuresEndTheCallWithTheirCause) {
  // The planned work directory cannot be made: its parent is a file.
  ScanContext.WorkDirPath = File("not-a-directory", "x") + "/~w.~vesk/";
  ScanContext.Store = std::make_unique<SizeStore>(ScanContext.WorkDirPath, 0);
  try {
    for (int i = 100; i < 300; ++i) {
      const std::string digits = std::to_string(i);  // three bytes, each file its own
      ProcessFile(File(std::string("f").append(digits), digits), 3);
    }
    FAIL() << "the store never needed its disk";
  } catch (const std::runtime_error& failure) {
    EXPECT_TRUE(std::string(failure.what()).starts_with("Can not create the work directory ")) << failure.what();
  }
}

// The first file counted of each large size counted again, in the order
// counted, and only those.
TEST(RepeatedSizesTest, KeepsTheFirstFileOfEachLargeSizeCountedAgain) {
  constexpr std::int64_t Large = SideBySideFromBytes;
  RepeatedSizes sizes;
  const std::vector<std::pair<std::int64_t, std::string>> counted{
      {Large + 3, "/t/a"}, {Large, "/t/b"},     {Large + 2, "/t/c"}, {Large + 3, "/t/d"},
      {100, "/t/e"},       {Large + 2, "/t/f"}, {Large + 3, "/t/g"}, {100, "/t/h"}};
  std::uint64_t inode = 0;
  for (const auto& [size, path] : counted) sizes.Count(size, path, 1, ++inode);
  EXPECT_EQ(sizes.IndexOf(100), RepeatedSizes::NotRepeated);  // small files are not counted
  const std::vector<RepeatedSizes::First>& firsts = sizes.Firsts();
  ASSERT_EQ(firsts.size(), 2u);
  EXPECT_EQ(firsts[0].Path, "/t/a");
  EXPECT_EQ(firsts[0].Inode, 1u);
  EXPECT_EQ(firsts[1].Path, "/t/c");
  EXPECT_EQ(sizes.IndexOf(Large + 3), 0u);
  EXPECT_EQ(sizes.IndexOf(Large + 2), 1u);
  EXPECT_EQ(sizes.IndexOf(Large), RepeatedSizes::NotRepeated);
  sizes.Clear();
  EXPECT_EQ(sizes.IndexOf(Large + 2), RepeatedSizes::NotRepeated);
  EXPECT_TRUE(sizes.Firsts().empty());
}

}  // namespace
}  // namespace veldrano
