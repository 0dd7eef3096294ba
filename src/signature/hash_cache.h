#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "signature/file_parts.h"

struct sqlite3;
struct sqlite3_stmt;

namespace veldrano {

// The hashes of the files scanned before, kept across runs in an SQLite file
// of the user's cache folder, so that a file unchanged since (the same
// device, inode, size, and modification and change times to the
// nanosecond) is not read again. The cache only spares reads: what is
// acted on is still compared byte by byte.
//
// It is the user's alone: its folder of mode 0700 and its file of mode 0600,
// both this user's, made exclusively and never reached through a link. A
// file that is a link, another user's, not a regular file or not a cache is
// set aside (removed from the folder, never opened) and made anew; a folder
// that is not the user's own is not used at all.
//
// New hashes are written in batches, each in one transaction, so that a run
// stopped or killed keeps what it hashed up to its last batch or two: on a
// thread of their own, so that the scan does not wait for the database. Entries not
// used for ForgetAfterDays go, and beyond MaxEntries the least recently used
// ones, when the cache is closed.
class HashCache {
 public:
  static constexpr std::int64_t MaxEntries = 1000000;
  // A batch is committed once it holds this many files, or is
  // BatchMilliseconds old: a run killed loses at most that much of its work.
  // Each batch is one transaction, which writes every page it touched (its
  // files' keys fall all over the table): fewer, larger batches write
  // fewer pages in all (measured best at 16 384 of 4 096 to 65 536). Its
  // files go to the writer HandFiles at a time, so that it writes them
  // while the scan goes on, and the close has only the last commit to wait
  // for.
  static constexpr int DefaultBatchFiles = 16384;
  static constexpr int HandFiles = 1024;
  static constexpr std::int64_t BatchMilliseconds = 2000;
  static constexpr int ForgetAfterDays = 90;
  // "1 000 000 files, forgotten after 90 days unused": for the user.
  static std::string LimitText();

  // $XDG_CACHE_HOME/veldrano/, else ~/.cache/veldrano/ (ending in "/");
  // empty when there is no home to put it in.
  static std::string DefaultFolder();
  static constexpr const char* FileName = "hashes.sqlite";

  // The cache in folder (made if need be). When it could not be used as it
  // was, problem tells why, for one line of the log; the result is then a
  // new, empty cache, or null when none can be kept there.
  struct Problem {
    std::string Text;     // "Hash cache rebuilt" or "Hash cache not used"
    std::string Name;     // the file or folder
    std::string Comment;  // why
  };
  // A cache of at most rowsInMemory files is read whole when it is opened
  // (its lookups then ask no database).
  static constexpr std::int64_t DefaultRowsInMemory = 200000;
  static std::unique_ptr<HashCache> Open(const std::string& folder, std::optional<Problem>& problem,
                                         int batchFiles = DefaultBatchFiles,
                                         std::int64_t rowsInMemory = DefaultRowsInMemory);
  // Empties the cache in folder (removes its files); false, with why, when
  // that failed. A missing cache is empty already.
  static bool Forget(const std::string& folder, std::string& why);

  ~HashCache();
  HashCache(const HashCache&) = delete;
  HashCache& operator=(const HashCache&) = delete;

  // The rows of one directory's files, asked for ahead of the scan's
  // lookups.
  class RowsAhead;
  // Asks for the rows of the files keys names (device, inode: a pair of
  // zeros for an entry not to be looked up), in order, for Find to take by
  // index while the scan goes through the same files. A cache read whole
  // finds them at once, in a tight loop whose lookups overlap; a larger one
  // reads them on a thread and a connection of their own (a lookup the
  // thread has not begun is the scan's). Null when the cache holds no files.
  std::shared_ptr<RowsAhead> ReadAhead(std::vector<std::pair<std::uint64_t, std::uint64_t>> keys);
  // Whether ReadAhead would ask for anything: the cache holds files.
  bool ReadsAhead() const;
  // Whether the cache holds files and was read whole when it was opened:
  // its rows are then found without a thread of their own.
  bool HeldWhole() const { return !heldRows_.empty(); }
  // Whether the file at index of ahead is likely held (then it is likely
  // not read at all).
  static bool LikelyHeld(const RowsAhead& ahead, std::size_t index);
  // Whether the file at index of ahead, in a cache held whole, has the hash
  // of its whole bytes kept (then it is likely a duplicate: a file is
  // hashed whole only when another of its size is like it in its parts).
  bool LikelyWhole(const RowsAhead& ahead, std::size_t index) const;

  // The hashes kept for a file in exactly this state, if any; ahead: its
  // row as asked for ahead (at index), if it was.
  std::optional<FileHashes> Find(std::uint64_t device, std::uint64_t inode, std::int64_t size, std::int64_t modifiedNs,
                                 std::int64_t changedNs, RowsAhead* ahead = nullptr, std::size_t index = 0);
  // Whether hashes are likely kept for this file (its state not known
  // yet): a guess, without the database, that spares reading it ahead.
  bool Knows(std::uint64_t device, std::uint64_t inode) const;
  // Keeps the hashes of a file in this state (written with the batch).
  void Put(std::uint64_t device, std::uint64_t inode, std::int64_t size, std::int64_t modifiedNs,
           std::int64_t changedNs, const FileHashes& hashes);
  // Waits until the files handed over so far are written and committed
  // (not the ones still being gathered).
  void Flush();

 private:
  HashCache() = default;
  bool Prepare(std::string& why);
  // The files the cache holds, as keys of their device and inode, read
  // once when it is opened: most lookups of a first run, and of files new
  // since, are answered without the database (files put in this run are
  // not asked again: the store keeps their hashes). False when the file
  // cannot be read as a cache.
  bool LoadKeys();
  static std::uint64_t KeyOf(std::uint64_t device, std::uint64_t inode);
  // The slot of the file's key in heldKeys_, or NoSlot.
  static constexpr std::size_t NoSlot = SIZE_MAX;
  std::size_t SlotOf(std::uint64_t device, std::uint64_t inode) const;
  // A file's row in a cache read whole; NoRow: not held.
  static constexpr std::uint32_t NoRow = UINT32_MAX;
  std::uint32_t HeldRowOf(std::uint64_t device, std::uint64_t inode) const;
  // Its row at index of ahead, when the cache is read whole; else NoRow.
  static std::uint32_t HeldRowAt(const RowsAhead& ahead, std::size_t index);
  // A file's row: a write for the thread writing (its hashes, or only
  // that it was used today), or one read when the cache was opened.
  struct Row {
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
    std::int64_t Size = 0;
    std::int64_t ModifiedNs = 0;
    std::int64_t ChangedNs = 0;
    FileHashes Hashes;
    bool SeenOnly = false;  // a write of the day of use alone
    std::int64_t Seen = 0;  // read: the day it was last used
  };
  // The row statement stands on (every column, as RowColumns lists them).
  static Row ReadRow(sqlite3_stmt* statement);
  static std::string FindSql();
  // The row at index of ahead when read there (row: what it found, if
  // anything); false when it is the caller's to read.
  static bool TakeReadAhead(RowsAhead& ahead, std::size_t index, std::optional<Row>& row);
  void ReadRowsAhead();  // the reading thread's work
  void StopReadingAhead();
  void Queue(Row row);
  // Hands the batch filled so far to the thread writing (started on the
  // first).
  void Hand();
  void Write();
  void WriteRow(const Row& row);  // under dbMutex_
  void Begin();
  void Commit();
  void Prune();

  sqlite3* db_ = nullptr;
  sqlite3_stmt* find_ = nullptr;
  sqlite3_stmt* put_ = nullptr;
  sqlite3_stmt* seen_ = nullptr;
  std::mutex dbMutex_;  // the connection is used by the scan and the writer
  bool inTransaction_ = false;
  int batchFiles_ = DefaultBatchFiles;
  std::vector<Row> batch_;            // being filled by the scan
  std::int64_t batchStart_ = 0;       // when it began (milliseconds)
  std::int64_t today_ = 0;            // days since the epoch
  std::int64_t lastPruned_ = 0;       // the day the cache was last pruned
  std::int64_t heldCount_ = 0;        // files it held when opened
  std::int64_t putCount_ = 0;         // puts of this run (some may replace)
  std::atomic<bool> failed_ = false;  // a write failed: nothing more is written

  std::mutex queueMutex_;
  std::condition_variable queueChanged_;
  // Files for the writer, in order, each lot with when its first was
  // queued (milliseconds).
  std::deque<std::pair<std::int64_t, std::vector<Row>>> handed_;
  bool writing_ = false;
  bool commitAsked_ = false;  // by Flush
  bool ending_ = false;
  std::thread writer_;
  std::vector<std::uint64_t> heldKeys_;  // an open-addressing table of KeyOf | 1
  // A cache of at most rowsInMemory_ files (judged by its size: each row
  // takes at least BytesPerRowAtLeast bytes of the file) is read whole
  // when it is opened: its rows, and for each slot of heldKeys_ its row.
  std::int64_t rowsInMemory_ = DefaultRowsInMemory;
  static constexpr std::int64_t BytesPerRowAtLeast = 48;
  std::vector<Row> heldRows_;
  std::vector<std::uint32_t> rowOf_;

  // The directories whose rows are read ahead, in order (see ReadAhead).
  std::string path_;
  std::mutex aheadMutex_;
  std::condition_variable aheadChanged_;
  std::deque<std::weak_ptr<RowsAhead>> aheadQueue_;
  bool aheadEnding_ = false;
  bool readerIdle_ = false;
  std::thread reader_;
};

}  // namespace veldrano
