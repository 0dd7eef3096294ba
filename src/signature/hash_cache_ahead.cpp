// The rows of a directory's files, asked for ahead of the scan's lookups:
// found at once in a cache read whole, read on a thread of their own from a
// cache too large for that.
#include <sqlite3.h>

#include <atomic>

#include "signature/hash_cache.h"
#include "signature/sqlite_calls.h"

namespace veldrano {

class HashCache::RowsAhead {
 public:
  enum Stage : std::uint8_t { Waiting, Reading, Read, Failed, Skipped, Taken };
  struct Slot {
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
    std::atomic<std::uint8_t> Now{Waiting};
    std::optional<Row> Found;  // once Read
  };
  // A cache read whole: each file's row (NoRow: not held), and no slots.
  std::vector<std::uint32_t> Held;
  // A cache read on the thread: a slot per file.
  std::vector<Slot> Slots;
};

bool HashCache::ReadsAhead() const { return heldCount_ > 0 && (!heldRows_.empty() || !path_.empty()); }

bool HashCache::LikelyHeld(const RowsAhead& ahead, std::size_t index) {
  if (!ahead.Held.empty()) return index < ahead.Held.size() && ahead.Held[index] != NoRow;
  return index < ahead.Slots.size() && ahead.Slots[index].Now != RowsAhead::Skipped;
}

bool HashCache::LikelyWhole(const RowsAhead& ahead, std::size_t index) const {
  const std::uint32_t row = HeldRowAt(ahead, index);
  return row != NoRow && heldRows_[row].Hashes.Full.has_value();
}

std::uint32_t HashCache::HeldRowAt(const RowsAhead& ahead, std::size_t index) {
  return index < ahead.Held.size() ? ahead.Held[index] : NoRow;
}

std::shared_ptr<HashCache::RowsAhead> HashCache::ReadAhead(std::vector<std::pair<std::uint64_t, std::uint64_t>> keys) {
  if (!ReadsAhead()) return nullptr;
  constexpr std::pair<std::uint64_t, std::uint64_t> None{};
  auto ahead = std::make_shared<RowsAhead>();
  if (!heldRows_.empty()) {
    ahead->Held.resize(keys.size(), NoRow);
    for (std::size_t index = 0; index < keys.size(); ++index) {
      if (keys[index] != None) ahead->Held[index] = HeldRowOf(keys[index].first, keys[index].second);
    }
    return ahead;
  }
  // Only the files whose keys are held: most others, new since, cost no
  // query.
  ahead->Slots = std::vector<RowsAhead::Slot>(keys.size());
  bool any = false;
  for (std::size_t index = 0; index < keys.size(); ++index) {
    RowsAhead::Slot& slot = ahead->Slots[index];
    if (keys[index] == None || !Knows(keys[index].first, keys[index].second)) {
      slot.Now = RowsAhead::Skipped;
      continue;
    }
    slot.Device = keys[index].first;
    slot.Inode = keys[index].second;
    any = true;
  }
  if (!any) return nullptr;
  bool wake = false;
  {
    const std::lock_guard lock(aheadMutex_);
    if (aheadEnding_) return nullptr;
    aheadQueue_.push_back(ahead);
    wake = readerIdle_;
  }
  if (!reader_.joinable()) {
    reader_ = std::thread([this] { ReadRowsAhead(); });
  } else if (wake) {
    aheadChanged_.notify_all();
  }
  return ahead;
}

bool HashCache::TakeReadAhead(RowsAhead& ahead, std::size_t index, std::optional<Row>& row) {
  if (index >= ahead.Slots.size()) return false;
  RowsAhead::Slot& slot = ahead.Slots[index];
  std::uint8_t now = RowsAhead::Waiting;
  // Not begun: sooner read by the caller than waited for.
  if (slot.Now.compare_exchange_strong(now, RowsAhead::Taken)) return false;
  // Being read: one lookup's wait (asleep, should the thread be held up).
  while (now == RowsAhead::Reading) {
    slot.Now.wait(RowsAhead::Reading);
    now = slot.Now.load();
  }
  if (now != RowsAhead::Read) return false;
  row = std::move(slot.Found);
  return true;
}

void HashCache::ReadRowsAhead() {
  // A connection of its own, which only reads (the scan's and the writer's
  // is theirs), a directory's rows in one transaction: one per lookup would
  // take and drop the file's locks each time.
  sqlite3* db = nullptr;
  sqlite3_stmt* find = nullptr;
  const bool ready =
      OpenDatabase(path_, SQLITE_OPEN_READONLY, &db) == SQLITE_OK &&
      sqlite3_prepare_v3(db, FindSql().c_str(), -1, SQLITE_PREPARE_PERSISTENT, &find, nullptr) == SQLITE_OK;
  if (db != nullptr) sqlite3_busy_timeout(db, 5000);
  std::unique_lock lock(aheadMutex_);
  while (ready) {
    readerIdle_ = true;
    aheadChanged_.wait(lock, [this] { return aheadEnding_ || !aheadQueue_.empty(); });
    readerIdle_ = false;
    if (aheadEnding_) break;
    const std::shared_ptr<RowsAhead> ahead = aheadQueue_.front().lock();
    aheadQueue_.pop_front();
    if (!ahead) continue;  // the walk is done with that directory
    lock.unlock();
    const bool inTransaction = Exec(db, "BEGIN");
    for (RowsAhead::Slot& slot : ahead->Slots) {
      if (ahead.use_count() == 1) break;  // the walk is done with it meanwhile
      std::uint8_t waiting = RowsAhead::Waiting;
      if (!slot.Now.compare_exchange_strong(waiting, RowsAhead::Reading)) continue;
      sqlite3_bind_int64(find, 1, static_cast<sqlite3_int64>(slot.Device));
      sqlite3_bind_int64(find, 2, static_cast<sqlite3_int64>(slot.Inode));
      const int step = sqlite3_step(find);
      if (step == SQLITE_ROW) slot.Found = ReadRow(find);
      sqlite3_reset(find);
      // A failed read is left to the scan, which reads it as it would have.
      slot.Now = step == SQLITE_ROW || step == SQLITE_DONE ? RowsAhead::Read : RowsAhead::Failed;
      slot.Now.notify_all();
    }
    if (inTransaction) Exec(db, "COMMIT");
    lock.lock();
  }
  if (!ready) {
    aheadEnding_ = true;  // every lookup is the scan's
    aheadQueue_.clear();
  }
  lock.unlock();
  Finalize(find);
  sqlite3_close(db);
}

void HashCache::StopReadingAhead() {
  {
    const std::lock_guard lock(aheadMutex_);
    aheadEnding_ = true;
  }
  aheadChanged_.notify_all();
  if (reader_.joinable()) reader_.join();
}

}  // namespace veldrano
