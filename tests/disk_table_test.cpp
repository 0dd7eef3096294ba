#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>

#include "scan/disk_table.h"
#include "scan/memory_table.h"
#include "scan/run_filter.h"
#include "scan/work_dir.h"
#include "signature/mix64.h"
#include "support/mount_namespace.h"
#include "support/scan_fixture.h"

namespace veldrano {
namespace {

constexpr std::uint64_t Seed = 0x5EED;

// A disk table in a work directory of its own, fed batches as the store
// spills them.
class DiskTableTest : public testing::ScanTest {
 protected:
  void SetUp() override {
    ScanTest::SetUp();
    table.emplace(work.Descriptor(), work.Path(), Seed);
  }
  void TearDown() override {
    table.reset();
    work.Remove();
    ScanTest::TearDown();
  }
  // Moves the heads of sizes [from, to) to disk in one batch, each naming a
  // file of its own, as a spill does.
  void Spill(std::int64_t from, std::int64_t to) {
    MemoryTable memory(std::size_t{8} << 20, Seed);
    for (std::int64_t size = from; size < to; ++size) memory.Add(StoreRecord::HeadKey(size), FileOfSize(size));
    table->Merge(memory.SortByHash(), memory);
  }
  static StoredFile FileOfSize(std::int64_t size) {
    return StoredFile{"/home/u/" + std::to_string(size), FileState{1, static_cast<std::uint64_t>(size), 0, 0}, {}};
  }
  std::set<std::string> RunFiles() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(work.Path())) {
      const std::string name = entry.path().filename().string();
      if (name != "paths") names.insert(name);
    }
    return names;
  }

  WorkDir work{tmp + "/~disk.~vesk/"};
  std::optional<DiskTable> table;
};

// Batches of uneven sizes, so that some merge and some stay apart; every
// record must be found wherever it went, changes made to a record in an
// older run must survive the merges that rewrite it, and every head must be
// visited once.
TEST_F(DiskTableTest, FindsEveryRecordAcrossRunsAndKeepsChangesMadeInOlderRuns) {
  const std::int64_t batches[] = {3000, 200, 150, 900, 40, 40, 2500, 10, 700, 60, 5000, 30};
  std::int64_t next = 1;
  std::size_t mostRuns = 0;
  bool changed = false;
  std::string lastName;
  for (const std::int64_t batch : batches) {
    // Looked up in vain before the batch comes, then found in it; and a
    // record found where the merge moved it is changed through that place.
    EXPECT_FALSE(table->Find(StoreRecord::HeadKey(next)));
    Spill(next, next + batch);
    EXPECT_TRUE(table->Find(StoreRecord::HeadKey(next))) << next;
    next += batch;
    mostRuns = std::max(mostRuns, table->Runs());
    EXPECT_EQ(RunFiles().size(), table->Runs());  // merged runs leave no file behind
    if (changed) {
      const auto first = table->Find(StoreRecord::HeadKey(1));
      ASSERT_TRUE(first);
      lastName = "/renamed" + std::to_string(next);
      table->Rename(first->Slot, first->Record, StoredFile{lastName, FileState{9, 9, 9, 9}, {}});
    }
    // Size 1 went to disk first, so it sits in the oldest run: rename it,
    // and split size 2 there; later merges carry the changes along.
    if (!changed && table->Runs() >= 2) {
      const auto first = table->Find(StoreRecord::HeadKey(1));
      const auto second = table->Find(StoreRecord::HeadKey(2));
      ASSERT_TRUE(first && second);
      lastName = "/renamed";
      table->Rename(first->Slot, first->Record, StoredFile{lastName, FileState{9, 9, 9, 9}, {}});
      StoreRecord splitHead = second->Record;
      splitHead.MakeSplit();
      table->Replace(second->Slot, splitHead);
      // Looked up again at once (answered from what was looked up lately).
      EXPECT_EQ(table->FileOf(table->Find(StoreRecord::HeadKey(1))->Record).Path, "/renamed");
      EXPECT_TRUE(table->Find(StoreRecord::HeadKey(2))->Record.IsSplit());
      changed = true;
    }
  }
  ASSERT_TRUE(changed);
  EXPECT_GE(mostRuns, 3u);
  EXPECT_LT(table->Runs(), mostRuns);  // some merged since
  ASSERT_EQ(table->Count(), static_cast<std::uint64_t>(next - 1));

  for (std::int64_t size = 1; size < next; ++size) {
    const auto found = table->Find(StoreRecord::HeadKey(size));
    ASSERT_TRUE(found) << size;
    if (size == 1) {
      EXPECT_EQ(table->FileOf(found->Record).Path, lastName);
    } else if (size == 2) {
      EXPECT_TRUE(found->Record.IsSplit());
    } else {
      const StoredFile file = table->FileOf(found->Record);
      EXPECT_EQ(file.Path, FileOfSize(size).Path) << size;
      EXPECT_EQ(file.State, FileOfSize(size).State) << size;
    }
  }
  for (const std::int64_t absent : {std::int64_t{0}, next, next + 1000}) {
    EXPECT_FALSE(table->Find(StoreRecord::HeadKey(absent))) << absent;
  }
  EXPECT_FALSE(table->Find(StoreRecord::LineKey(5, HashStep::Prefix, Digest{})));  // a line of a size that has a head

  std::map<std::int64_t, int> visits;
  table->ForEachHead([&visits](const StoreRecord& head) { ++visits[head.Size]; });
  ASSERT_EQ(visits.size(), static_cast<std::size_t>(next - 1));
  for (const auto& [size, times] : visits) EXPECT_EQ(times, 1) << size;
}

// A run that cannot be written (here: the file-size limit) ends the merge
// with the file and the cause, removes what it had written of the run, and
// leaves the records already on disk as they were.
TEST_F(DiskTableTest, AFailedWriteGivesTheFileAndTheCauseAndKeepsWhatWasThere) {
  const std::optional<std::string> outcome = testing::InChildProcess(
      [] {
        struct rlimit limit {
          256 * 1024, 256 * 1024
        };
        return signal(SIGXFSZ, SIG_IGN) != SIG_ERR && setrlimit(RLIMIT_FSIZE, &limit) == 0;
      },
      [this]() -> std::optional<std::string> {
        Spill(1, 100);
        MemoryTable memory(std::size_t{8} << 20, Seed);
        for (std::uint64_t inode = 1; inode <= 20000; ++inode) {
          memory.Add(StoreRecord::IdentityKey(7, inode), StoredFile{});
        }
        try {
          table->Merge(memory.SortByHash(), memory);
          return "the merge did not fail";
        } catch (const std::runtime_error& failure) {
          std::string text = failure.what();
          for (const std::string& name : RunFiles()) text += "\n" + name;
          text += table->Find(StoreRecord::HeadKey(50)) ? "\nfound" : "\nlost";
          return text;
        }
      });
  ASSERT_TRUE(outcome);
  EXPECT_EQ(*outcome, "Can not write the store file " + work.Path() + "index.2 (File too large)\nindex.1\nfound");
}

// A run's filter never rules out a key it holds, and rules out others about
// as often as its bits per record allow, whole or not (large stores give
// their largest runs a few bits per record, their small ones many).
TEST(RunFilterTest, HoldsEveryKeyAddedAndRulesOutOthersAsItsBitsAllow) {
  constexpr std::uint64_t Keys = 50000;
  const struct {
    double Bits;
    double MostInVain;
  } cases[] = {{1.0, 0.7}, {2.5, 0.4}, {7.3, 0.06}, {16.0, 0.003}};
  for (const auto& [bits, mostInVain] : cases) {
    RunFilter filter(Keys, bits);
    EXPECT_GE(filter.Bits(), static_cast<std::uint64_t>(Keys * bits)) << bits;
    EXPECT_LE(filter.Bits(), static_cast<std::uint64_t>(Keys * bits) + 512) << bits;
    for (std::uint64_t key = 0; key < Keys; ++key) filter.Add(Mix64(key));
    std::uint64_t held = 0, inVain = 0;
    for (std::uint64_t key = 0; key < Keys; ++key) held += filter.MayHold(Mix64(key));
    for (std::uint64_t key = Keys; key < 3 * Keys; ++key) inVain += filter.MayHold(Mix64(key));
    EXPECT_EQ(held, Keys) << bits;
    EXPECT_LT(static_cast<double>(inVain) / (2 * Keys), mostInVain) << bits;
  }
}

}  // namespace
}  // namespace veldrano
