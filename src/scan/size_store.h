#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/look_ahead.h"
#include "platform/read_ahead.h"
#include "platform/read_only_file.h"
#include "platform/same_bytes.h"
#include "scan/disk_table.h"
#include "scan/memory_table.h"
#include "scan/store_record.h"
#include "scan/work_dir.h"
#include "signature/file_signature.h"
#include "signature/hash_ahead.h"
#include "signature/hash_cache.h"

namespace veldrano {

// The run's files grouped by exact size: for each size met, an entry that
// lists the first file met with each content of that size, with its
// signature once one has been computed (a lone first file is not hashed
// until a second file of its size turns up).
//
// Entries live in memory, within a fixed budget. Only when the budget is
// used up do they move, all at once, to the work directory, which is made
// then; later entries start in memory again, and a size keeps its records
// in both places. A scan whose entries fit in the budget writes nothing to
// disk. Failures of the files on disk throw std::runtime_error.
class SizeStore {
 public:
  // Measured on trees of up to a million files: large enough that trees of
  // a hundred thousand files stay in memory, small enough that the peak
  // memory hardly moves beyond.
  static constexpr std::size_t DefaultByteBudget = std::size_t{16} << 20;

  explicit SizeStore(std::string workDirPath, std::size_t byteBudget = DefaultByteBudget);
  ~SizeStore();
  SizeStore(const SizeStore&) = delete;
  SizeStore& operator=(const SizeStore&) = delete;

  // The entry of a size: none yet, its lone first file, or split into lines.
  struct Head {
    enum class Kind { None, Unsigned, Signed };
    Kind Kind = Kind::None;
    StoredFile First;  // the lone first file, with the hashes found of it
  };
  Head FindHead(std::int64_t size);
  // Whether the store has an entry of size (without reading its file).
  bool HasEntry(std::int64_t size);
  // A new entry holding the first file of its size, unhashed (see
  // ForeseeFirstFiles).
  void AddEntry(std::int64_t size, const StoredFile& first);

  // The record of key (a head or a line), with the file it names, if any.
  struct Node {
    bool Split = false;
    StoredFile File;  // when not split
  };
  std::optional<Node> Find(const StoreRecord& key);
  // A new record of key, naming file (split, naming none, when file is
  // null).
  void Add(const StoreRecord& key, const StoredFile* file);
  // The record of key names file instead (or the same file, with what was
  // found of it since).
  void Rename(const StoreRecord& key, const StoredFile& file);
  // The record of key no longer names a file: lines of the next step do.
  void Split(const StoreRecord& key);

  // False when the file (device and inode) was met before in this run;
  // remembers it otherwise.
  bool MeetFile(std::uint64_t device, std::uint64_t inode);

  // A directory the user listed, open (path ends in "/"): the files of its
  // tree that are opened again later, far from where the walk is (the
  // first file of a size, files hashed or read ahead), are opened below it,
  // never through a link. A directory on a rotating disk keeps the run's
  // reads in order.
  void AddTreeRoot(const std::string& path, std::shared_ptr<const platform::UniqueFd> folder);
  // How to open the file at path again: below the root of its tree, or,
  // when no listed directory leads to it (files given to ProcessFile
  // without a walk), by its path as it is (the file's identity is then what
  // tells it is the file stored).
  platform::AnchoredPath AnchorOf(const std::string& path) const;

  // The file name in folder (at folderPath), of size bytes, is about to be
  // processed: when it will be read (its size has an entry), its parts are hashed
  // in the background, with the entry's first file when that is still to be
  // read; while reads have to wait for the disk, both are also asked from
  // the disk at once. Nothing is read ahead of a file (device, inode) whose
  // hashes the cache of earlier runs holds. False when announcing the file
  // again could change nothing.
  bool HintRead(const std::string& folderPath, const std::shared_ptr<const platform::UniqueFd>& folder,
                const std::string& name, std::int64_t size, std::uint64_t device = 0, std::uint64_t inode = 0);
  // The file at path is to be hashed whole, while the scan reads another:
  // the worker hashing ahead takes it up at once, unless it is hashing
  // another file whole (or the disk rotates). False when it does not: the
  // scan then hashes it itself.
  bool HintWhole(const std::string& path, std::int64_t size);
  // The file at path as the worker hashing ahead found it, when it is done
  // with its parts (then the file need not be opened here).
  std::optional<HashAhead::Finished> TakeHashedAhead(const std::string& path);
  // Adds the hash of step of the file at path, of size bytes, to hashes;
  // false when it cannot be read (logged). Hashed ahead when it was
  // announced (HintRead, HintWhole), else read now from file. A file read
  // whole shows the progress of its reading even when it was hashed ahead.
  // opened is the file's status as the scan found it; open() gives the
  // file open for reading (null when it cannot be, logged).
  bool HashStepOf(const std::string& path, std::int64_t size, HashStep step, const struct stat& opened,
                  const std::function<const platform::ReadOnlyFile*()>& open, FileHashes& hashes);

  // Whether two files may be read side by side to compare them: not while
  // reads wait for a rotating disk (a file may still be compared with one
  // just read whole, whose bytes are in memory).
  bool MayCompareBytes() const { return !InOrder(); }
  platform::ByteComparer& Comparer() { return comparer_; }
  // Has the worker hashing ahead run task, when it has nothing to read
  // (nor while reads wait for a rotating disk): see HashAhead::RunIfIdle.
  std::optional<std::future<void>> RunOnIdleWorker(std::function<void()> task);

  // Whether files are looked at ahead (LookAheadAt): while the cache of
  // earlier runs holds files, most files are matched as listed, and a look
  // is most of what the scan asks the system for each. Only while it is
  // held whole: a larger one reads its rows on a thread of its own, which
  // needs the other core (measured on a million files: 7.6 s against 8.7 s
  // with looks ahead).
  bool LooksAhead() const;
  // The file at name in folder, of size bytes, comes within a few files:
  // when it will likely need a look (the first of its size, or, by the
  // cache, likelyCopy), it is looked at on another thread, in the scan's
  // order, to be taken (TakeLook) when the scan comes to it. folder stays
  // open until ForgetLooks.
  void LookAheadAt(int folder, const std::string& name, std::int64_t size, bool likelyCopy);
  // The look asked for at name in folder, if it was, and the window has
  // not run since (whatever it did may have changed the file).
  std::optional<platform::LookAhead::Look> TakeLook(int folder, const std::string& name);
  // Drops the looks not taken: their folder is being closed.
  void ForgetLooks();

  // Calls visit(size) once for every entry.
  void ForEachEntry(const std::function<void(std::int64_t)>& visit);
  // Deletes what the store has on disk, and its work directory.
  void RemoveFromDisk();
  // Whether entries had to move to disk.
  bool HasSpilled() const { return disk_ != nullptr; }
  const WorkDir& Directory() const { return workDir_; }

 private:
  // The record of key, in memory or on disk; file, when given, gets the
  // file it names.
  std::optional<StoreRecord> FindRecord(const StoreRecord& key, StoredFile* file);
  // A file was read here; cached: its first bytes were in memory already.
  // While files are found in memory, nothing is asked from the disk ahead.
  void NoteRead(bool cached);
  // Applies change to the record of key, wherever it is, and makes it name
  // file when one is given.
  void Update(const StoreRecord& key, const StoredFile* file, const std::function<void(StoreRecord&)>& change);
  void Spill();
  // The first files of the large sizes the counting pass met again
  // (ScanContext.RepeatedLargeSizes) are hashed whole by the worker hashing
  // ahead, in the walk's order, up to ForeseenAhead beyond the last one the
  // scan entered, as soon as the root of their tree is open: so the MD5s of
  // different groups are taken on both threads at once, and a group's MD5
  // is often ready when its second file comes. Not while reads wait for a
  // rotating disk, nor for a file whose hashes the cache of earlier runs
  // holds.
  void ForeseeFirstFiles();
  // The first file of size was entered now: the firsts foreseen go on.
  void EnteredFirstOf(std::int64_t size);
  static constexpr std::size_t ForeseenAhead = 16;
  std::size_t foreseenHinted_ = 0;   // firsts announced (or passed over)
  std::size_t foreseenReached_ = 0;  // firsts up to the last one entered

  // Beyond this many listed directories, the later ones are not held open
  // (a walk also needs descriptors): each is opened again by its name, as
  // the walk opened it, when a file of its tree is to be opened.
  static constexpr std::size_t MaxHeldRoots = 256;
  struct TreeRoot {
    std::string Path;
    std::shared_ptr<const platform::UniqueFd> Folder;  // none beyond MaxHeldRoots
  };
  std::vector<TreeRoot> roots_;
  std::uint64_t seed_;
  MemoryTable memory_;
  WorkDir workDir_;
  std::unique_ptr<DiskTable> disk_;
  std::unique_ptr<HashAhead> hashAhead_;            // made on the first hint
  std::unique_ptr<platform::ReadAhead> readAhead_;  // made on the first hint while reads wait
  std::unique_ptr<platform::LookAhead> lookAhead_;  // made on the first look asked for
  std::uint64_t lookAskedAt_ = 0;                   // ScanContext.WindowTurns of the looks asked for
  // Once the window has run, anything may have changed: the looks asked
  // for before are dropped, and their files looked at anew.
  void ForgetLooksIfWindowRan();
  // The share of recent reads that had to wait for the disk: at first all
  // are taken to.
  double coldShare_ = 1.0;
  int readsNoted_ = 0;
  bool ReadsWait() const { return coldShare_ > 1.0 / 32; }
  // A listed directory lies on a rotating disk: while reads wait for it,
  // reads ahead follow the scan's order, and no two files are read whole
  // at once.
  bool sequential_ = false;
  platform::ByteComparer comparer_{HashBlockBytes};  // its buffers kept from one file to the next
  bool InOrder() const { return sequential_ && ReadsWait(); }
};

// Which file the directory listing showed under a name (unknown: zero),
// and where: the folder it was listed in, open, and the name (without a
// folder, the file is opened by its path).
struct FileIdentity {
  std::uint64_t Device = 0;
  std::uint64_t Inode = 0;
  bool InFolderMetBefore = false;  // its directory was walked before in this pass
  int Folder = -1;
  std::string Name;
  // As listed, when known (Links > 0): its times (nanoseconds), links,
  // owner and mode.
  std::int64_t ModifiedNs = 0;
  std::int64_t ChangedNs = 0;
  std::uint64_t Links = 0;
  uid_t Owner = 0;
  mode_t Mode = 0;
  // Its row in the cache of earlier runs, as asked for ahead for its
  // directory (at CacheRow), if it was.
  HashCache::RowsAhead* CacheRows = nullptr;
  std::size_t CacheRow = 0;
  bool Known() const { return Device != 0 || Inode != 0; }
};

// The per-file step of the processing pass: enters the file into the run's
// store (ScanContext.Store) and records it as a duplicate when a file met
// earlier has its size and signature. The file is opened once (in its
// listed folder, when given); it is left out, with a warning, when it is no
// longer the file listed (listed, when known) with the size listed, or
// cannot be read whole. The first file of its size, listed with its times,
// is not opened: it is only asked whether it could be read, and is opened
// (and checked to be the file listed) when a second file of its size comes. A file met before under another name (a
// hard link, a directory reached twice, a file mounted on another name) is counted in FilesMetTwice and left out: files
// of several links, and the directories walked, are remembered for that in the store; any other file is known when it
// matches a file that is itself.
void ProcessFile(const std::string& path, std::int64_t size, const FileIdentity& listed = {});

// The run's store (ScanContext.Store), made if need be.
SizeStore& RunStore();

// The decimal digits of a size, "0" for an empty file: the name of its entry.
std::string SizeText(std::int64_t size);

}  // namespace veldrano
