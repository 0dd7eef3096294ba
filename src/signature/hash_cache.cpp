#include "signature/hash_cache.h"

#include "platform/user_folders.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <tuple>

#include "platform/system_error.h"
#include "platform/unique_fd.h"
#include "report/formatting.h"
#include "signature/mix64.h"
#include "signature/sqlite_calls.h"

namespace veldrano {

namespace {

// The files SQLite keeps beside the cache.
constexpr const char* SideSuffixes[] = {"-wal", "-shm", "-journal"};

std::int64_t NowMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::int64_t Today() {
  return std::chrono::duration_cast<std::chrono::hours>(std::chrono::system_clock::now().time_since_epoch()).count() /
         24;
}

// The cache folder, open, when it is a real directory of this user (made
// private if it was not); else why not. The folders above it are made as
// the user's other folders are, following links (they are the user's own
// setting); the cache folder itself is made and opened inside its parent,
// never through a link.
platform::UniqueFd OpenOwnFolder(std::string folder, std::string& why) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const std::size_t slash = folder.rfind('/');
  const std::string parentPath = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
  const std::string name = slash == std::string::npos ? folder : folder.substr(slash + 1);
  const platform::Outcome<platform::UniqueFd> parent = platform::OpenOrMakeDirectories(parentPath);
  if (!parent.Ok()) {
    why = SystemErrorText(parent.Error());
    return {};
  }
  if (mkdirat(parent.Value().Get(), name.c_str(), 0700) != 0 && errno != EEXIST) {
    why = SystemErrorText(errno);
    return {};
  }
  platform::UniqueFd fd(openat(parent.Value().Get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.IsOpen()) {
    why = errno == ELOOP || errno == ENOTDIR ? "A link or not a folder" : SystemErrorText(errno);
    return {};
  }
  struct stat status {};
  if (fstat(fd.Get(), &status) != 0) {
    why = SystemErrorText(errno);
    return {};
  }
  if (status.st_uid != geteuid()) {
    why = "Owned by another user";
    return {};
  }
  if ((status.st_mode & 077) != 0 && fchmod(fd.Get(), 0700) != 0) {
    why = SystemErrorText(errno);
    return {};
  }
  return fd;
}

// Why the file at name in folder cannot be the cache as it is (empty: it
// can, or is missing).
std::string ProblemOfFile(int folder, const char* name) {
  struct stat status {};
  if (fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0) return {};
  if (S_ISLNK(status.st_mode)) return "A link";
  if (!S_ISREG(status.st_mode)) return "Not a regular file";
  if (status.st_uid != geteuid()) return "Owned by another user";
  if (status.st_nlink != 1) return "Linked under other names too";
  return {};
}

void RemoveFiles(int folder) {
  unlinkat(folder, HashCache::FileName, 0);
  for (const char* suffix : SideSuffixes) unlinkat(folder, (std::string(HashCache::FileName) + suffix).c_str(), 0);
}

// Makes the cache file anew, exclusively, of mode 0600.
bool CreateFile(int folder, std::string& why) {
  platform::UniqueFd fd(
      openat(folder, HashCache::FileName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd.IsOpen()) {
    why = SystemErrorText(errno);
    return false;
  }
  return true;
}

void BindHashes(sqlite3_stmt* statement, int first, const FileHashes& hashes) {
  int column = first;
  for (const HashStep step : {HashStep::Prefix, HashStep::Suffix, HashStep::Full}) {
    if (const auto& hash = hashes.Of(step)) {
      sqlite3_bind_blob(statement, column, hash->data(), static_cast<int>(hash->size()), SQLITE_TRANSIENT);
    } else {
      sqlite3_bind_null(statement, column);
    }
    ++column;
  }
}

std::optional<MD5Digest> HashColumn(sqlite3_stmt* statement, int column) {
  MD5Digest hash{};
  if (sqlite3_column_type(statement, column) != SQLITE_BLOB ||
      sqlite3_column_bytes(statement, column) != static_cast<int>(hash.size())) {
    return std::nullopt;
  }
  std::memcpy(hash.data(), sqlite3_column_blob(statement, column), hash.size());
  return hash;
}

}  // namespace

std::uint64_t HashCache::KeyOf(std::uint64_t device, std::uint64_t inode) { return Mix64(Mix64(device) ^ inode); }

std::size_t HashCache::SlotOf(std::uint64_t device, std::uint64_t inode) const {
  if (heldKeys_.empty()) return NoSlot;
  const std::uint64_t key = KeyOf(device, inode) | 1;  // 0 marks a free slot
  const std::size_t mask = heldKeys_.size() - 1;
  for (std::size_t slot = key & mask;; slot = (slot + 1) & mask) {
    if (heldKeys_[slot] == key) return slot;
    if (heldKeys_[slot] == 0) return NoSlot;
  }
}

// The columns of a whole row, in the order ReadRow takes them.
constexpr const char* RowColumns = "device, inode, size, modified, changed, prefix, suffix, full, seen";

HashCache::Row HashCache::ReadRow(sqlite3_stmt* statement) {
  return Row{static_cast<std::uint64_t>(sqlite3_column_int64(statement, 0)),
             static_cast<std::uint64_t>(sqlite3_column_int64(statement, 1)),
             sqlite3_column_int64(statement, 2),
             sqlite3_column_int64(statement, 3),
             sqlite3_column_int64(statement, 4),
             FileHashes{HashColumn(statement, 5), HashColumn(statement, 6), HashColumn(statement, 7)},
             false,
             sqlite3_column_int64(statement, 8)};
}

bool HashCache::LoadKeys() {
  // A small cache is read whole, rows and all: its lookups then cost no
  // query (each a descent of the table's tree). Told by the file's pages,
  // before anything is read.
  std::int64_t pages = 0, pageBytes = 0;
  sqlite3_stmt* statement = nullptr;
  for (const auto& [pragma, value] :
       {std::pair{"PRAGMA page_count", &pages}, std::pair{"PRAGMA page_size", &pageBytes}}) {
    if (sqlite3_prepare_v2(db_, pragma, -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
      *value = sqlite3_column_int64(statement, 0);
    }
    Finalize(statement);
  }
  const bool whole = pages * pageBytes / BytesPerRowAtLeast <= rowsInMemory_;
  const std::string select = std::string("SELECT ") + (whole ? RowColumns : "device, inode") + " FROM hashes";
  bool read = sqlite3_prepare_v2(db_, select.c_str(), -1, &statement, nullptr) == SQLITE_OK;
  int step = SQLITE_DONE;
  std::vector<std::uint64_t> keys;
  // Room for as many rows as the file can hold, at once: grown as they
  // come, the rows were copied and their memory taken anew at each
  // doubling. What is not used is never touched.
  const auto mostRows = static_cast<std::size_t>(std::max<std::int64_t>(0, pages * pageBytes / BytesPerRowAtLeast));
  keys.reserve(mostRows);
  if (whole) heldRows_.reserve(mostRows);
  while (read && (step = sqlite3_step(statement)) == SQLITE_ROW) {
    const auto device = static_cast<std::uint64_t>(sqlite3_column_int64(statement, 0));
    const auto inode = static_cast<std::uint64_t>(sqlite3_column_int64(statement, 1));
    keys.push_back(KeyOf(device, inode) | 1);
    if (whole) heldRows_.push_back(ReadRow(statement));
  }
  Finalize(statement);
  heldCount_ = static_cast<std::int64_t>(keys.size());
  // A table at most half full: a lookup reads one or two slots.
  if (!keys.empty()) {
    std::size_t slots = 2;
    while (slots < 2 * keys.size()) slots *= 2;
    heldKeys_.assign(slots, 0);
    if (whole) rowOf_.assign(slots, 0);
    for (std::size_t index = 0; index < keys.size(); ++index) {
      const std::uint64_t key = keys[index];
      std::size_t slot = key & (slots - 1);
      while (heldKeys_[slot] != 0 && heldKeys_[slot] != key) slot = (slot + 1) & (slots - 1);
      heldKeys_[slot] = key;
      if (whole) rowOf_[slot] = static_cast<std::uint32_t>(index);
    }
  }
  return read && step == SQLITE_DONE;
}

std::string HashCache::LimitText() {
  return FormatCount(' ', static_cast<long double>(MaxEntries)) + " files, forgotten after " +
         std::to_string(ForgetAfterDays) + " days unused";
}

std::string HashCache::DefaultFolder() {
  const std::string base = platform::UserBaseDirectory("XDG_CACHE_HOME", ".cache");
  return base.empty() ? base : base + "/veldrano/";
}

std::unique_ptr<HashCache> HashCache::Open(const std::string& folder, std::optional<Problem>& problem, int batchFiles,
                                           std::int64_t rowsInMemory) {
  problem.reset();
  std::string why;
  const platform::UniqueFd dir = folder.empty() ? platform::UniqueFd() : OpenOwnFolder(folder, why);
  if (!dir.IsOpen()) {
    problem = Problem{"Hash cache not used", folder, folder.empty() ? "No home folder" : why};
    return nullptr;
  }
  const std::string path = folder + FileName;
  if (const std::string bad = ProblemOfFile(dir.Get(), FileName); !bad.empty()) {
    problem = Problem{"Hash cache rebuilt", path, bad};
    RemoveFiles(dir.Get());
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    struct stat status {};
    if (fstatat(dir.Get(), FileName, &status, AT_SYMLINK_NOFOLLOW) != 0 && !CreateFile(dir.Get(), why)) break;
    std::unique_ptr<HashCache> cache(new HashCache());
    cache->batchFiles_ = std::max(1, batchFiles);
    cache->rowsInMemory_ = rowsInMemory;
    cache->path_ = path;
    const int opened = OpenDatabase(path, SQLITE_OPEN_READWRITE, &cache->db_);
    if (opened == SQLITE_OK && cache->Prepare(why)) return cache;
    if (opened != SQLITE_OK) why = sqlite3_errstr(opened);
    cache.reset();
    if (attempt == 0) {
      // Not a cache (any more): made anew, once.
      if (!problem) problem = Problem{"Hash cache rebuilt", path, "Could not be read: " + why};
      RemoveFiles(dir.Get());
    }
  }
  problem = Problem{"Hash cache not used", path, why};
  return nullptr;
}

bool HashCache::Forget(const std::string& folder, std::string& why) {
  if (folder.empty()) return true;
  platform::UniqueFd dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!dir.IsOpen()) {
    if (errno == ENOENT) return true;
    why = SystemErrorText(errno);
    return false;
  }
  struct stat status {};
  if (fstat(dir.Get(), &status) != 0 || status.st_uid != geteuid()) {
    why = "Owned by another user";
    return false;
  }
  if (unlinkat(dir.Get(), FileName, 0) != 0 && errno != ENOENT) {
    why = SystemErrorText(errno);
    return false;
  }
  for (const char* suffix : SideSuffixes) unlinkat(dir.Get(), (std::string(FileName) + suffix).c_str(), 0);
  return true;
}

bool HashCache::Prepare(std::string& why) {
  sqlite3_busy_timeout(db_, 5000);
  // The log (write-ahead) is written back into the file by the thread
  // writing, once it holds 40 MiB, and not when the cache closes: the next
  // run reads through the log as it is, and the scan's close waits only for
  // the last batch. Written back every 4 MiB, the pages most batches touch
  // were written twice, and the close wrote back the rest (small, first
  // run: 0.95 -> 0.92 s; million: 10-11 -> 9.4 s). The log stays bounded by
  // that size and a batch.
  sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  const bool ready =
      Exec(db_, "PRAGMA journal_mode=WAL") && Exec(db_, "PRAGMA synchronous=NORMAL") &&
      // Room for the pages a run touches (entries arrive in no order).
      Exec(db_, "PRAGMA cache_size=-32768") && Exec(db_, "PRAGMA wal_autocheckpoint=10000") &&
      Exec(db_,
           "CREATE TABLE IF NOT EXISTS hashes(device INTEGER NOT NULL, inode INTEGER NOT NULL, size INTEGER NOT NULL,"
           " modified INTEGER NOT NULL, changed INTEGER NOT NULL, prefix BLOB, suffix BLOB, full BLOB,"
           " seen INTEGER NOT NULL, PRIMARY KEY(device, inode)) WITHOUT ROWID") &&
      sqlite3_prepare_v3(db_, FindSql().c_str(), -1, SQLITE_PREPARE_PERSISTENT, &find_, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v3(db_, "INSERT OR REPLACE INTO hashes VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)", -1,
                         SQLITE_PREPARE_PERSISTENT, &put_, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v3(db_, "UPDATE hashes SET seen = ?3 WHERE device = ?1 AND inode = ?2", -1,
                         SQLITE_PREPARE_PERSISTENT, &seen_, nullptr) == SQLITE_OK;
  if (!ready) {
    why = sqlite3_errmsg(db_);
    return false;
  }
  // A file that only looks like a cache fails at its first read: here.
  if (!LoadKeys()) {
    why = sqlite3_errmsg(db_);
    return false;
  }
  today_ = Today();
  // The day of the last pruning, kept in the file's user version.
  sqlite3_stmt* version = nullptr;
  if (sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &version, nullptr) == SQLITE_OK &&
      sqlite3_step(version) == SQLITE_ROW) {
    lastPruned_ = sqlite3_column_int64(version, 0);
  }
  Finalize(version);
  // An empty cache has nothing to prune today: all it will hold is of
  // today (its size is still watched).
  if (heldCount_ == 0) lastPruned_ = today_;
  // Lookups too run inside the batch's transaction: one outside would take
  // and drop the file's locks each time.
  Begin();
  return !failed_;
}

std::string HashCache::FindSql() {
  return std::string("SELECT ") + RowColumns + " FROM hashes WHERE device = ?1 AND inode = ?2";
}

HashCache::~HashCache() {
  StopReadingAhead();
  Hand();
  if (writer_.joinable()) {
    {
      const std::lock_guard lock(queueMutex_);
      ending_ = true;
    }
    queueChanged_.notify_all();
    writer_.join();
  }
  if (db_ != nullptr && !failed_) {
    Commit();
    // Pruning reads the whole table: once a day, or when it may hold more
    // than it should.
    if (today_ > lastPruned_ || heldCount_ + putCount_ > MaxEntries) {
      Prune();
    } else {
      inTransaction_ = false;
      Exec(db_, "COMMIT");
    }
  } else if (inTransaction_) {
    Exec(db_, "ROLLBACK");
  }
  Finalize(find_);
  Finalize(put_);
  Finalize(seen_);
  sqlite3_close(db_);
}

std::optional<FileHashes> HashCache::Find(std::uint64_t device, std::uint64_t inode, std::int64_t size,
                                          std::int64_t modifiedNs, std::int64_t changedNs, RowsAhead* ahead,
                                          std::size_t index) {
  std::optional<Row> asked;
  const Row* row = nullptr;
  if (const std::uint32_t heldRow = ahead != nullptr ? HeldRowAt(*ahead, index) : NoRow; heldRow != NoRow) {
    row = &heldRows_[heldRow];
  } else if (const std::size_t slot = SlotOf(device, inode); slot == NoSlot) {
    return std::nullopt;  // surely not held
  } else if (!heldRows_.empty()) {
    row = &heldRows_[rowOf_[slot]];
  } else if (ahead != nullptr && TakeReadAhead(*ahead, index, asked)) {
    if (asked) row = &*asked;
  } else {
    const std::lock_guard lock(dbMutex_);
    sqlite3_bind_int64(find_, 1, static_cast<sqlite3_int64>(device));
    sqlite3_bind_int64(find_, 2, static_cast<sqlite3_int64>(inode));
    if (sqlite3_step(find_) == SQLITE_ROW) {
      asked = ReadRow(find_);
      row = &*asked;
    }
    sqlite3_reset(find_);
  }
  // The keys' table names two files alike only by a rare chance: then the
  // one a held row is not of is read again.
  if (row == nullptr || row->Device != device || row->Inode != inode || row->Size != size ||
      row->ModifiedNs != modifiedNs || row->ChangedNs != changedNs) {
    return std::nullopt;
  }
  // Used today: kept the longer (written once a day at most).
  if (row->Seen < today_) Queue(Row{device, inode, size, modifiedNs, changedNs, {}, true});
  return row->Hashes;
}

bool HashCache::Knows(std::uint64_t device, std::uint64_t inode) const { return SlotOf(device, inode) != NoSlot; }

std::uint32_t HashCache::HeldRowOf(std::uint64_t device, std::uint64_t inode) const {
  if (heldRows_.empty()) return NoRow;
  const std::size_t slot = SlotOf(device, inode);
  if (slot == NoSlot) return NoRow;
  // The row itself is looked at too, which tells a rare collision of keys
  // apart, and brings it near for the lookup to come.
  const std::uint32_t row = rowOf_[slot];
  return heldRows_[row].Device == device && heldRows_[row].Inode == inode ? row : NoRow;
}

void HashCache::Put(std::uint64_t device, std::uint64_t inode, std::int64_t size, std::int64_t modifiedNs,
                    std::int64_t changedNs, const FileHashes& hashes) {
  ++putCount_;
  Queue(Row{device, inode, size, modifiedNs, changedNs, hashes, false});
}

void HashCache::Queue(Row row) {
  if (failed_) return;
  if (batch_.empty()) batchStart_ = NowMilliseconds();
  batch_.push_back(std::move(row));
  // The clock is read now and then: a batch is that much late at most.
  constexpr std::size_t RowsPerLook = 16;
  if (static_cast<int>(batch_.size()) >= std::min(batchFiles_, HandFiles) ||
      (batch_.size() % RowsPerLook == 0 && NowMilliseconds() - batchStart_ >= BatchMilliseconds)) {
    Hand();
  }
}

void HashCache::Hand() {
  if (batch_.empty()) return;
  {
    const std::lock_guard lock(queueMutex_);
    handed_.emplace_back(batchStart_, std::move(batch_));
  }
  batch_.clear();
  if (!writer_.joinable()) {
    writer_ = std::thread([this] { Write(); });
  } else {
    queueChanged_.notify_all();
  }
}

void HashCache::Flush() {
  Hand();
  if (!writer_.joinable()) return;  // nothing was ever handed
  std::unique_lock lock(queueMutex_);
  commitAsked_ = true;
  queueChanged_.notify_all();
  queueChanged_.wait(lock, [this] { return handed_.empty() && !writing_ && !commitAsked_; });
}

void HashCache::Write() {
  // The scan goes first: the writer mostly takes what time the processors
  // have left. A niceness, not the idle class: an idle thread could wait
  // without end on a busy machine, holding the database the scan asks, and
  // the last batches must be written before the cache closes. (On Linux a
  // thread has its own niceness.)
  constexpr int WriterNiceness = 10;
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), WriterNiceness);
  // The files written since the last commit, and when the first of them
  // was queued.
  int uncommitted = 0;
  std::int64_t oldest = 0;
  const auto commit = [this, &uncommitted] {
    const std::lock_guard lock(dbMutex_);
    if (!failed_) Commit();
    uncommitted = 0;
  };
  std::unique_lock queue(queueMutex_);
  for (;;) {
    queueChanged_.wait(queue, [this] { return ending_ || commitAsked_ || !handed_.empty(); });
    if (handed_.empty()) {
      if (!commitAsked_) return;  // ending: the close commits the rest
      writing_ = true;
      queue.unlock();
      commit();
      queue.lock();
      writing_ = false;
      commitAsked_ = false;
      queueChanged_.notify_all();
      continue;
    }
    auto [queued, rows] = std::move(handed_.front());
    handed_.pop_front();
    writing_ = true;
    queue.unlock();
    if (uncommitted == 0) oldest = queued;
    // In key order, the rows go to neighbouring pages of the table. A
    // file's later row (a second put) stays after its earlier one.
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
      return std::tie(a.Device, a.Inode) < std::tie(b.Device, b.Inode);
    });
    // A few rows at a time, so that a lookup of the scan waits little.
    constexpr std::size_t RowsPerTurn = 64;
    for (std::size_t from = 0; from < rows.size() && !failed_; from += RowsPerTurn) {
      const std::lock_guard lock(dbMutex_);
      for (std::size_t i = from; i < std::min(rows.size(), from + RowsPerTurn); ++i) WriteRow(rows[i]);
    }
    uncommitted += static_cast<int>(rows.size());
    if (uncommitted >= batchFiles_ || NowMilliseconds() - oldest >= BatchMilliseconds) commit();
    queue.lock();
    writing_ = false;
    queueChanged_.notify_all();
  }
}

void HashCache::WriteRow(const Row& row) {
  sqlite3_stmt* const statement = row.SeenOnly ? seen_ : put_;
  sqlite3_bind_int64(statement, 1, static_cast<sqlite3_int64>(row.Device));
  sqlite3_bind_int64(statement, 2, static_cast<sqlite3_int64>(row.Inode));
  if (row.SeenOnly) {
    sqlite3_bind_int64(statement, 3, today_);
  } else {
    sqlite3_bind_int64(statement, 3, row.Size);
    sqlite3_bind_int64(statement, 4, row.ModifiedNs);
    sqlite3_bind_int64(statement, 5, row.ChangedNs);
    BindHashes(statement, 6, row.Hashes);
    sqlite3_bind_int64(statement, 9, today_);
  }
  if (sqlite3_step(statement) != SQLITE_DONE) failed_ = true;
  sqlite3_reset(statement);
}

void HashCache::Begin() {
  if (inTransaction_) return;
  inTransaction_ = Exec(db_, "BEGIN");
  if (!inTransaction_) failed_ = true;
}

void HashCache::Commit() {
  if (!inTransaction_) return;
  inTransaction_ = false;
  if (!Exec(db_, "COMMIT")) {
    Exec(db_, "ROLLBACK");
    failed_ = true;
  }
  if (!failed_) Begin();
}

void HashCache::Prune() {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db_, "DELETE FROM hashes WHERE seen < ?1", -1, &statement, nullptr) == SQLITE_OK) {
    sqlite3_bind_int64(statement, 1, today_ - ForgetAfterDays);
    sqlite3_step(statement);
  }
  Finalize(statement);
  std::int64_t count = 0;
  if (sqlite3_prepare_v2(db_, "SELECT count(*) FROM hashes", -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW) {
    count = sqlite3_column_int64(statement, 0);
  }
  Finalize(statement);
  if (count > MaxEntries && sqlite3_prepare_v2(db_,
                                               "DELETE FROM hashes WHERE (device, inode) IN"
                                               " (SELECT device, inode FROM hashes ORDER BY seen LIMIT ?1)",
                                               -1, &statement, nullptr) == SQLITE_OK) {
    sqlite3_bind_int64(statement, 1, count - MaxEntries);
    sqlite3_step(statement);
  }
  Finalize(statement);
  Exec(db_, ("PRAGMA user_version = " + std::to_string(today_)).c_str());
  inTransaction_ = false;
  Exec(db_, "COMMIT");
}

}  // namespace veldrano
