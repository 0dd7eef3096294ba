#include "scan/size_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <random>

#include "platform/directory_reader.h"
#include "platform/file_system.h"
#include "platform/file_times.h"
#include "platform/read_only_file.h"
#include "platform/system_error.h"
#include "report/activity_log.h"
#include "results/results_model.h"
#include "scan/scan_context.h"
#include "scan/window_access.h"
#include "signature/file_signature.h"

namespace veldrano {

namespace {

constexpr const char* ReplacedText = "Replaced by another file since it was listed";

FileState StateOf(const struct stat& status) {
  return FileState{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
                   platform::Nanoseconds(status.st_mtim), platform::Nanoseconds(status.st_ctim)};
}

// Logs why a file the store names could not be opened again.
void LogCannotReopen(const std::string& path, int error) {
  if (error == ELOOP) {
    LogFileChanged(path, ReplacedByLinkText);
  } else {
    AddLogEntry(LogWarning, "Can not open this file", path, SystemErrorText(error));
  }
}

// The outcome of an access test (an open for reading, or a question) that
// failed with error: "[" + errno + "] " + the system's text.
std::string AccessErrorText(int error) {
  std::string result = "[";
  result.append(std::to_string(error)).append("] ").append(SystemErrorText(error));
  return result;
}

// Logs why a file listed could not be opened (or would not be).
void LogCannotAccess(const std::string& path, const FileIdentity& listed, int error) {
  // Where the listing saw a regular file: a link, or a folder or FIFO.
  if (listed.Known() && (error == ELOOP || error == EISDIR || error == ENOTSUP)) {
    LogFileChanged(path, error == ELOOP ? ReplacedByLinkText : ReplacedText);
  } else {
    AddLogEntry(LogWarning, "Can not access to this file", path, AccessErrorText(error));
  }
}

// A file about to be hashed: as the worker hashing ahead found it, when it
// has read its parts already (its look at the file stands for an open
// here, and the file is opened only when it must be read further), else
// opened here, as ReadOnlyFile(where...) opens it.
struct FileToHash {
  template <typename... Where>
  FileToHash(SizeStore& store, const std::string& path, const Where&... where) : Ahead(store.TakeHashedAhead(path)) {
    if (!Ahead) File.emplace(where...);
  }
  // A file looked at in its folder, with nothing read: the look stands for
  // the open, as the worker's does.
  explicit FileToHash(const struct stat& seen) : Ahead(HashAhead::Finished{seen, {}}) {}
  std::optional<HashAhead::Finished> Ahead;
  std::optional<platform::ReadOnlyFile> File;
  bool Refused = false;  // opened again, and no longer the file the worker saw

  bool IsOpen() const { return Ahead || File->IsOpen(); }
  const struct stat& Status() const { return Ahead ? Ahead->Seen : File->Status(); }
  // The file open for reading: opened below its tree's root when the
  // worker's look stood for the open, and then only while it is the file
  // the worker saw, unchanged. Null when not (logged).
  const platform::ReadOnlyFile* Open(SizeStore& store, const std::string& path) {
    if (File) return File->IsOpen() && !Refused ? &*File : nullptr;
    File.emplace(store.AnchorOf(path));
    if (!File->IsOpen()) {
      LogCannotReopen(path, File->Error());
      return nullptr;
    }
    if (!platform::SameFileState(File->Status(), Ahead->Seen)) {
      LogFileChanged(path, "Modified while it was being read");
      Refused = true;
      return nullptr;
    }
    return &*File;
  }
};

// The file of listed as a look in its folder shows it now: the look taken
// ahead, when one was asked for, else one made here.
platform::LookAhead::Look LookAt(SizeStore& store, const FileIdentity& listed) {
  if (std::optional<platform::LookAhead::Look> ahead = store.TakeLook(listed.Folder, listed.Name)) return *ahead;
  return platform::LookAhead::At(listed.Folder, listed.Name);
}

// One side of a comparison: a file, what is known of its contents, and how
// to learn more.
struct Side {
  StoredFile File;
  FileToHash* Opened = nullptr;  // set once the file is open (or seen ahead)
  bool LookedUp = false;         // in the cache of earlier runs
  FileHashes Cached;             // what the cache holds for the file as it is
  bool Reused = false;           // a hash of the cache spared a read
  bool Read = false;             // hashes were found by reading the file here
  // Set when the file was taken as its listing showed it, without a look
  // since: it is looked at again before it is recorded as a duplicate.
  const FileIdentity* Listed = nullptr;

  const std::optional<MD5Digest>& Of(HashStep step) const { return File.Hashes.Of(step); }
  void LookUp(std::int64_t size) {
    if (LookedUp || !ScanContext.Cache) return;
    LookedUp = true;
    const FileState& state = File.State;
    Cached = ScanContext.Cache->Find(state.Device, state.Inode, size, state.ModifiedNs, state.ChangedNs)
                 .value_or(FileHashes{});
  }
  // Whether the hash of step is known without reading the file.
  bool Knows(std::int64_t size, HashStep step) {
    if (File.Hashes.Of(step)) return true;
    if (Opened != nullptr && Opened->Ahead && Opened->Ahead->Hashes.Of(step)) return true;
    LookUp(size);
    return Cached.Of(step).has_value();
  }
  // The hash of step, read if need be; false when the file cannot be read
  // (logged).
  bool Hash(SizeStore& store, std::int64_t size, HashStep step) {
    if (File.Hashes.Of(step)) return true;
    LookUp(size);
    if (Cached.Of(step)) {
      // A file counts once: the first of its hashes found in this run.
      const bool first = !File.Hashes.Prefix && !File.Hashes.Suffix && !File.Hashes.Full;
      File.Hashes.Of(step) = Cached.Of(step);
      if (!Reused && first) ScanContext.ReusedFiles += 1;
      Reused = true;
      return true;
    }
    Read = true;
    if (Opened->Ahead && Opened->Ahead->Hashes.Of(step)) {
      File.Hashes.Of(step) = Opened->Ahead->Hashes.Of(step);
      return true;
    }
    return store.HashStepOf(
        File.Path, size, step, Opened->Status(), [this, &store] { return Opened->Open(store, File.Path); },
        File.Hashes);
  }
  // Whether the file is still as it was taken (logged when not): a file
  // taken as listed, and not opened since (an open checks it), is looked at
  // again in its folder.
  bool StillAsTaken(SizeStore& store) const {
    if (Listed == nullptr || Opened == nullptr || Opened->File || !Opened->Ahead) return true;
    const platform::LookAhead::Look now = LookAt(store, *Listed);
    if (now.Error != 0) {
      LogCannotAccess(File.Path, *Listed, now.Error);
      return false;
    }
    if (now.Status.st_dev != Opened->Ahead->Seen.st_dev || now.Status.st_ino != Opened->Ahead->Seen.st_ino) {
      LogFileChanged(File.Path, ReplacedText);
      return false;
    }
    if (!S_ISREG(now.Status.st_mode) || !platform::SameFileState(now.Status, Opened->Ahead->Seen)) {
      LogFileChanged(File.Path, "Modified since it was listed");
      return false;
    }
    return true;
  }
  // Keeps what was read of the file for later runs.
  void Remember(std::int64_t size) const {
    if (!Read || !ScanContext.Cache) return;
    const FileState& state = File.State;
    ScanContext.Cache->Put(state.Device, state.Inode, size, state.ModifiedNs, state.ChangedNs, File.Hashes);
  }
};

// The file a record names, as the scan finds it again to compare another
// with it: kept hashes are reused, and only when they make it a duplicate
// does a stat have to show the same file unchanged (which file a path leads
// to cannot change what that file holds: the stat may follow a folder
// replaced by a link, as it acts on nothing, and its identity and times
// tell it is the file read); most comparisons end in a difference, which a
// file changed since cannot make wrong, only miss. Otherwise the file is
// opened below the listed directory of its tree, never through a link, and
// its failures logged under its own path; a file changed since it was
// stored loses its hashes.
struct StoredSide : Side {
  std::optional<FileToHash> Reopened;
  bool Changed = false;  // not as stored: its hashes are found anew

  // Makes sure the file is still the one stored, with the hash of step
  // kept (to be confirmed by StillAsStored) or the file open to read it.
  // False when it is not (logged).
  bool Check(SizeStore& store, std::int64_t size, HashStep step) { return Knows(size, step) || Reopen(store); }
  // Whether the file is still as stored: when it was never opened here,
  // its kept hashes were used as they are, and a look must confirm them.
  bool StillAsStored(std::int64_t size) const {
    if (Opened != nullptr) return true;
    struct stat status {};
    return fstatat(AT_FDCWD, File.Path.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode) &&
           status.st_size == size && StateOf(status) == File.State;
  }
  // The file open for reading (opened again when the stat stood for it);
  // null when it cannot be (logged).
  const platform::ReadOnlyFile* OpenForReading(SizeStore& store) {
    if (Opened == nullptr && !Reopen(store)) return nullptr;
    return Opened->Open(store, File.Path);
  }
  // Opens the file again below the listed directory of its tree: it must
  // still be the file stored; one changed since loses its hashes.
  bool Reopen(SizeStore& store) {
    Reopened.emplace(store, File.Path, store.AnchorOf(File.Path));
    Opened = &*Reopened;
    if (!Reopened->IsOpen()) {
      LogCannotReopen(File.Path, Reopened->File->Error());
      return false;
    }
    const FileState now = StateOf(Reopened->Status());
    if (now.Device != File.State.Device || now.Inode != File.State.Inode) {
      LogFileChanged(File.Path, ReplacedText);
      return false;
    }
    if (now != File.State) {
      File.State = now;
      File.Hashes = {};
      Changed = true;
      LookedUp = false;  // what the cache holds for it as it is now
      Cached = {};
    }
    return true;
  }
  bool Hash(SizeStore& store, std::int64_t size, HashStep step) {
    if (File.Hashes.Of(step)) return true;
    if (Opened == nullptr && !Check(store, size, step)) return false;
    return Side::Hash(store, size, step);
  }
};

ScannedFile IdOf(const StoredFile& file) { return {file.State.Device, file.State.Inode, file.State.ModifiedNs}; }

// The same file (device, inode) under two names: what a file of one link
// mounted on another name shows, which only a match can tell. Never a
// duplicate of itself, whatever it holds by now.
bool SameFile(const StoredFile& a, const StoredFile& b) {
  return a.State.Device == b.State.Device && a.State.Inode == b.State.Inode;
}

std::uint64_t RandomSeed() {
  std::random_device device;
  return (std::uint64_t{device()} << 32) ^ device();
}

}  // namespace

SizeStore::SizeStore(std::string workDirPath, std::size_t byteBudget)
    : seed_(RandomSeed()), memory_(byteBudget, seed_), workDir_(std::move(workDirPath)) {}

SizeStore::~SizeStore() { RemoveFromDisk(); }

std::optional<StoreRecord> SizeStore::FindRecord(const StoreRecord& key, StoredFile* file) {
  if (const StoreRecord* held = memory_.Find(key)) {
    if (file != nullptr && held->NamesFile()) *file = memory_.FileOf(*held);
    return *held;
  }
  if (const auto found = disk_ ? disk_->Find(key) : std::nullopt) {
    if (file != nullptr && found->Record.NamesFile()) *file = disk_->FileOf(found->Record);
    return found->Record;
  }
  return std::nullopt;
}

SizeStore::Head SizeStore::FindHead(std::int64_t size) {
  Head head;
  const std::optional<StoreRecord> record = FindRecord(StoreRecord::HeadKey(size), &head.First);
  if (!record) return head;
  head.Kind = record->IsSplit() ? Head::Kind::Signed : Head::Kind::Unsigned;
  return head;
}

bool SizeStore::HasEntry(std::int64_t size) { return FindRecord(StoreRecord::HeadKey(size), nullptr).has_value(); }

void SizeStore::AddEntry(std::int64_t size, const StoredFile& first) {
  Add(StoreRecord::HeadKey(size), &first);
  EnteredFirstOf(size);
}

std::optional<SizeStore::Node> SizeStore::Find(const StoreRecord& key) {
  Node node;
  const std::optional<StoreRecord> record = FindRecord(key, &node.File);
  if (!record) return std::nullopt;
  node.Split = record->IsSplit();
  return node;
}

void SizeStore::Rename(const StoreRecord& key, const StoredFile& file) {
  Update(key, &file, [](StoreRecord&) {});
}

void SizeStore::Split(const StoreRecord& key) {
  Update(key, nullptr, [](StoreRecord& record) { record.MakeSplit(); });
}

bool SizeStore::MeetFile(std::uint64_t device, std::uint64_t inode) {
  const StoreRecord key = StoreRecord::IdentityKey(device, inode);
  if (FindRecord(key, nullptr)) return false;
  Add(key, nullptr);
  return true;
}

void SizeStore::Add(const StoreRecord& key, const StoredFile* file) {
  static const StoredFile None;
  StoreRecord record = key;
  if (file == nullptr && !record.IsIdentity()) record.MakeSplit();
  if (!memory_.HasRoomFor(file != nullptr ? file->Path.size() + HashBytes(file->Hashes) : 0)) Spill();
  memory_.Add(record, file != nullptr ? *file : None);
}

void SizeStore::Update(const StoreRecord& key, const StoredFile* file,
                       const std::function<void(StoreRecord&)>& change) {
  // Room first: making room moves the record to disk.
  if (file != nullptr && !memory_.HasRoomFor(file->Path.size() + HashBytes(file->Hashes))) Spill();
  if (StoreRecord* record = memory_.Find(key)) {
    change(*record);
    if (file != nullptr) memory_.Rename(*record, *file);
  } else if (auto found = disk_ ? disk_->Find(key) : std::nullopt) {
    change(found->Record);
    if (file != nullptr) {
      disk_->Rename(found->Slot, found->Record, *file);
    } else {
      disk_->Replace(found->Slot, found->Record);
    }
  }
}

void SizeStore::Spill() {
  if (!disk_) {
    disk_ = std::make_unique<DiskTable>(workDir_.Descriptor(), workDir_.Path(), seed_);
    ScanContext.WorkDirPath = workDir_.Path();
  }
  disk_->Merge(memory_.SortByHash(), memory_);
  memory_.Clear();
}

void SizeStore::NoteRead(bool cached) {
  // A running share of the reads that waited, over about the last 64:
  // files read ahead are found in memory, so on a cold disk a share stays
  // well above the threshold; on a warm one the odd read that waits (a page
  // another thread holds) soon fades.
  // Until 64 reads were made, the share of all of them.
  constexpr int Window = 64;
  const bool wasInOrder = InOrder();
  if (readsNoted_ < Window) ++readsNoted_;
  coldShare_ += ((cached ? 0.0 : 1.0) - coldShare_) / readsNoted_;
  // Reads no longer wait for a rotating disk (the files are in memory, as
  // the first read found): the first files foreseen are hashed from now,
  // not from the next one the scan enters.
  if (wasInOrder && !InOrder()) ForeseeFirstFiles();
}

void SizeStore::AddTreeRoot(const std::string& path, std::shared_ptr<const platform::UniqueFd> folder) {
  if (folder && !sequential_ && platform::OnRotatingDisk(folder->Get())) sequential_ = true;
  if (roots_.size() >= MaxHeldRoots) folder.reset();
  roots_.push_back(TreeRoot{path, std::move(folder)});
  ForeseeFirstFiles();
}

platform::AnchoredPath SizeStore::AnchorOf(const std::string& path) const {
  // Listed directories do not lie inside one another; where they still do
  // (a row edited in place), the deepest holds the file too.
  const TreeRoot* found = nullptr;
  for (const TreeRoot& root : roots_) {
    if (path.size() > root.Path.size() && path.starts_with(root.Path) &&
        (found == nullptr || root.Path.size() > found->Path.size())) {
      found = &root;
    }
  }
  if (found == nullptr) return platform::AnchoredPath{nullptr, path};
  std::shared_ptr<const platform::UniqueFd> folder = found->Folder;
  if (!folder) folder = platform::DirectoryReader(found->Path).Folder();
  if (!folder) return platform::AnchoredPath{nullptr, path};  // fails as the root did, and is checked all the same
  return platform::AnchoredPath{std::move(folder), path.substr(found->Path.size())};
}

bool SizeStore::HintRead(const std::string& folderPath, const std::shared_ptr<const platform::UniqueFd>& folder,
                         const std::string& name, std::int64_t size, std::uint64_t device, std::uint64_t inode) {
  if (size <= 0) return false;
  // Files whose hashes earlier runs kept are likely not read at all (asked
  // first: it costs no lookup in the store).
  HashCache* const cache = ScanContext.Cache.get();
  if (cache != nullptr && cache->Knows(device, inode)) return false;
  const Head head = FindHead(size);
  if (head.Kind == Head::Kind::None) return true;  // the first of its size is not read
  const std::string path = folderPath + name;
  const platform::AnchoredPath where{folder, name};
  if (!hashAhead_) hashAhead_ = std::make_unique<HashAhead>();
  hashAhead_->SetInOrder(InOrder());
  const bool firstToRead = head.Kind == Head::Kind::Unsigned && !head.First.Hashes.Of(StepsFor(size).front()) &&
                           (cache == nullptr || !cache->Knows(head.First.State.Device, head.First.State.Inode));
  const platform::AnchoredPath first = firstToRead ? AnchorOf(head.First.Path) : platform::AnchoredPath{};
  if (firstToRead) hashAhead_->HintFirstOf(path, head.First.Path, first, size);
  hashAhead_->Hint(path, where, size);
  if (!ReadsWait()) return true;
  if (!readAhead_) readAhead_ = std::make_unique<platform::ReadAhead>();
  // Only the parts: most files of a size differ there.
  const std::uint64_t parts = StepsFor(size).size() > 2 ? PartBytes : 0;
  const auto bytes = parts > 0 ? static_cast<std::uint64_t>(size) : std::min<std::uint64_t>(size, PartBytes);
  if (firstToRead) readAhead_->Hint(first, bytes, head.First.State.Inode, parts);
  readAhead_->Hint(where, bytes, inode, parts);
  return true;
}

void SizeStore::ForeseeFirstFiles() {
  if (InOrder()) return;
  const std::vector<RepeatedSizes::First>& firsts = ScanContext.RepeatedLargeSizes.Firsts();
  const HashCache* const cache = ScanContext.Cache.get();
  while (foreseenHinted_ < firsts.size() && foreseenHinted_ < foreseenReached_ + ForeseenAhead) {
    const RepeatedSizes::First& first = firsts[foreseenHinted_];
    platform::AnchoredPath where = AnchorOf(first.Path);
    // Its tree's root is not open yet: once it is (or once the scan has
    // gone past it, which a root that failed to open leads to).
    if (!where.Folder && foreseenHinted_ >= foreseenReached_) return;
    ++foreseenHinted_;
    if (!where.Folder) continue;
    if (cache != nullptr && cache->Knows(first.Device, first.Inode)) continue;
    // Passed already (hints may begin late, once reads no longer wait for
    // a rotating disk): its size's MD5 is known, or its files differ.
    if (const Head head = FindHead(first.Size);
        head.Kind == Head::Kind::Signed || (head.Kind == Head::Kind::Unsigned && head.First.Hashes.Full))
      continue;
    if (!hashAhead_) hashAhead_ = std::make_unique<HashAhead>();
    hashAhead_->HintForeseen(first.Path, where, first.Size);
  }
}

void SizeStore::EnteredFirstOf(std::int64_t size) {
  if (size < SideBySideFromBytes) return;
  const std::size_t index = ScanContext.RepeatedLargeSizes.IndexOf(size);
  if (index == RepeatedSizes::NotRepeated) return;
  foreseenReached_ = std::max(foreseenReached_, index + 1);
  ForeseeFirstFiles();
}

std::optional<std::future<void>> SizeStore::RunOnIdleWorker(std::function<void()> task) {
  if (!hashAhead_ || InOrder()) return std::nullopt;
  return hashAhead_->RunIfIdle(std::move(task));
}

bool SizeStore::LooksAhead() const {
  const HashCache* const cache = ScanContext.Cache.get();
  return cache != nullptr && cache->HeldWhole();
}

void SizeStore::ForgetLooksIfWindowRan() {
  if (lookAskedAt_ == ScanContext.WindowTurns) return;
  lookAhead_->Forget();
  lookAskedAt_ = ScanContext.WindowTurns;
}

void SizeStore::LookAheadAt(int folder, const std::string& name, std::int64_t size, bool likelyCopy) {
  if (!likelyCopy && HasEntry(size)) return;
  if (!lookAhead_) lookAhead_ = std::make_unique<platform::LookAhead>();
  ForgetLooksIfWindowRan();
  lookAhead_->Ask(folder, name);
}

std::optional<platform::LookAhead::Look> SizeStore::TakeLook(int folder, const std::string& name) {
  if (!lookAhead_) return std::nullopt;
  ForgetLooksIfWindowRan();
  return lookAhead_->Take(folder, name);
}

void SizeStore::ForgetLooks() {
  if (lookAhead_) lookAhead_->Forget();
}

bool SizeStore::HintWhole(const std::string& path, std::int64_t size) {
  if (InOrder()) return false;  // two files read at once would make the disk seek between them
  if (!hashAhead_) hashAhead_ = std::make_unique<HashAhead>();
  return hashAhead_->HintWholeUnlessBusy(path, AnchorOf(path), size);
}

std::optional<HashAhead::Finished> SizeStore::TakeHashedAhead(const std::string& path) {
  if (!hashAhead_) return std::nullopt;
  return hashAhead_->TakeFinished(path);
}

bool SizeStore::HashStepOf(const std::string& path, std::int64_t size, HashStep step, const struct stat& opened,
                           const std::function<const platform::ReadOnlyFile*()>& open, FileHashes& hashes) {
  const auto total = static_cast<std::uint64_t>(size);
  const bool whole = step == HashStep::Full;
  if (hashAhead_) {
    const HashAhead::Depth depth =
        whole && StepsFor(size).size() > 1 ? HashAhead::Depth::Whole : HashAhead::Depth::Parts;
    const std::optional<FileHashes> ahead = hashAhead_->Take(
        path, depth, opened,
        [total, whole](std::uint64_t done) {
          if (whole) ShowHashProgress(done, total);
          return !WindowClosing();
        },
        [] {
          ProcessMessages();
          return !WindowClosing();
        });
    if (ahead && ahead->Of(step)) {
      if (whole && total > 0) Display().SetFileProgress(0);
      for (const HashStep known : {HashStep::Prefix, HashStep::Suffix, HashStep::Full}) {
        if (ahead->Of(known)) hashes.Of(known) = ahead->Of(known);
      }
      return true;
    }
  }
  if (WindowClosing()) return false;
  const platform::ReadOnlyFile* const file_open = open();
  if (file_open == nullptr) return false;
  const platform::ReadOnlyFile& file = *file_open;
  bool cached = true;
  bool read = false;
  if (whole) {
    MD5Init();
    read = HashFileThroughViews(file, path, size, &cached);
    if (read) hashes.Full = MD5Final();
  } else {
    read = HashPartThroughViews(file, path, size, step, hashes, &cached);
  }
  NoteRead(cached);
  return read;
}

void SizeStore::ForEachEntry(const std::function<void(std::int64_t)>& visit) {
  if (disk_) disk_->ForEachHead([&visit](const StoreRecord& head) { visit(head.Size); });
  memory_.ForEachHead([&visit](const StoreRecord& head) { visit(head.Size); });
}

void SizeStore::RemoveFromDisk() {
  disk_.reset();
  workDir_.Remove();
}

namespace {

// The record of key named stored; it names now, as found since.
void KeepWhatWasFound(SizeStore& store, const StoreRecord& key, const StoredFile& stored, const StoredFile& now) {
  if (now.State != stored.State || !(now.Hashes == stored.Hashes)) store.Rename(key, now);
}

// From this size on, a file whose parts matched another's is compared with
// it byte by byte rather than hashed: equal bytes have an equal MD5, so the
// MD5 of one is that of both, and a comparison costs a fraction of a hash
// (the other file's bytes are most often still in memory). Below it, the
// comparison's second open costs more than it spares.
constexpr std::int64_t CompareFromBytes = std::int64_t{16} << 10;
// Where reads wait for a rotating disk, up to this size a file just read
// whole stays in memory while another is compared with it.
constexpr std::int64_t CompareAfterReadingBytes = std::int64_t{256} << 20;

enum class Compared { Same, NotSo, Stopped, FirstUnreadable };

// Gives me the MD5 of first when their bytes are equal, hashing only first:
// Same. Its MD5 is known, or taken from its blocks as they are compared,
// or, for a large file, read by the worker hashing ahead meanwhile (when it
// is not hashing another file whole, for a later match). Where reads wait
// for a rotating disk, two files read at once would make it seek between
// them: first is hashed whole first, as it would be, and me is compared
// with it then, first's bytes being in memory by now, so the disk reads
// one file at a time, in order, and me's MD5 is spared. Not done (NotSo)
// for small files, for a file whose MD5 is known already, on a rotating
// disk for a file too large to stay in memory or a first whose MD5 was
// known (its bytes may be on disk alone), and when the bytes differ or a
// file could not be read whole or changed meanwhile: both are then hashed,
// as ever, which logs why a file could not be.
Compared TakeSignatureOfSameBytes(SizeStore& store, Side& me, StoredSide& first, std::int64_t size) {
  if (size < CompareFromBytes || me.Knows(size, HashStep::Full)) return Compared::NotSo;
  if (!store.MayCompareBytes()) {
    if (size > CompareAfterReadingBytes || first.Knows(size, HashStep::Full)) return Compared::NotSo;
    if (!first.Hash(store, size, HashStep::Full)) return Compared::FirstUnreadable;
  }
  const bool firstKnown = first.Knows(size, HashStep::Full);
  const platform::ReadOnlyFile* const mine = me.Opened->Open(store, me.File.Path);
  if (mine == nullptr) return Compared::NotSo;
  const platform::ReadOnlyFile* const theirs = first.OpenForReading(store);
  if (theirs == nullptr) return Compared::FirstUnreadable;
  const bool hashHere = !firstKnown && (size < SideBySideFromBytes || !store.HintWhole(first.File.Path, size));
  TMD5Context context;
  if (hashHere) MD5Init(context);
  // Shown as the hashing of this file would show it, block by block.
  const auto total = static_cast<std::uint64_t>(size);
  ShowHashProgress(0, total);
  const auto verdict = store.Comparer().Compare(
      *mine, *theirs,
      [total](std::uint64_t done) {
        if (done < total) ShowHashProgress(done, total);
        return !WindowClosing();
      },
      hashHere
          ? [&context](const char* data, std::size_t n) { MD5Update(context, data, static_cast<std::uint32_t>(n)); }
          : std::function<void(const char*, std::size_t)>{},
      // The worker, when it has nothing to read (at the end of a scan,
      // mostly), takes a part: the second half, or the hashing of the rest.
      [&store](std::function<void()> task) { return store.RunOnIdleWorker(std::move(task)); });
  Display().SetFileProgress(0);
  if (verdict == platform::ByteComparer::Verdict::Stopped) return Compared::Stopped;
  if (verdict != platform::ByteComparer::Verdict::Equal) return Compared::NotSo;
  if (hashHere) {
    first.File.Hashes.Full = MD5Final(context);
    first.Read = true;
  } else if (!first.Hash(store, size, HashStep::Full)) {
    return Compared::FirstUnreadable;
  }
  me.File.Hashes.Full = first.Of(HashStep::Full);
  me.Read = true;
  return Compared::Same;
}

// Finds, step by step, the record the file of me belongs to among the files
// of its size, and records it as a duplicate of the file that record names
// when they are equal to the last step. The first file to differ at a step
// splits the record into lines of that step.
void MatchWithStore(SizeStore& store, Side& me, std::int64_t size) {
  const std::span<const HashStep> steps = StepsFor(size);
  StoredSide first;
  // Whatever the outcome, what was read of either file is kept for later
  // runs.
  struct Remembered {
    const Side& Me;
    const StoredSide& First;
    std::int64_t Size;
    ~Remembered() {
      Me.Remember(Size);
      First.Remember(Size);
    }
  } remembered{me, first, size};
  StoreRecord key = StoreRecord::HeadKey(size);
  std::size_t depth = 0;  // the steps the record's place stands for
  std::optional<SizeStore::Node> node = store.Find(key);
  while (node->Split) {
    const HashStep step = steps[depth];
    if (!me.Hash(store, size, step)) return;
    key = StoreRecord::LineKey(size, step, *me.Of(step));
    ++depth;
    node = store.Find(key);
    if (!node) {
      store.Add(key, &me.File);
      return;
    }
  }
  if (SameFile(node->File, me.File)) {
    ScanContext.FilesMetTwice += 1;
    return;
  }
  // The first file met that looks the same so far: it must still hold what
  // its place says, else it cannot be matched and this file takes its place.
  first.File = node->File;
  const HashStep next = steps[std::min(depth, steps.size() - 1)];
  bool holds = first.Check(store, size, next);
  for (std::size_t d = 0; holds && first.Changed && d < depth; ++d) {
    holds = first.Hash(store, size, steps[d]) && first.Of(steps[d]) == me.Of(steps[d]);
  }
  if (!holds) {
    store.Rename(key, me.File);
    return;
  }
  for (std::size_t d = depth; d < steps.size(); ++d) {
    const HashStep step = steps[d];
    if (step == HashStep::Full && d > 0) {
      switch (TakeSignatureOfSameBytes(store, me, first, size)) {
        case Compared::Same: continue;
        case Compared::Stopped: KeepWhatWasFound(store, key, node->File, first.File); return;
        case Compared::FirstUnreadable: store.Rename(key, me.File); return;
        case Compared::NotSo: break;
      }
    }
    if (step == HashStep::Full && d > 0 && size >= SideBySideFromBytes && !first.Knows(size, step) &&
        !me.Knows(size, step)) {
      store.HintWhole(me.File.Path, size);
    }
    if (!first.Hash(store, size, step)) {
      store.Rename(key, me.File);
      return;
    }
    if (!me.Hash(store, size, step)) {
      KeepWhatWasFound(store, key, node->File, first.File);
      return;
    }
    if (*first.Of(step) != *me.Of(step)) {
      store.Split(key);
      for (std::size_t same = depth; same < d; ++same) {
        key = StoreRecord::LineKey(size, steps[same], *me.Of(steps[same]));
        store.Add(key, nullptr);
      }
      store.Add(StoreRecord::LineKey(size, step, *first.Of(step)), &first.File);
      store.Add(StoreRecord::LineKey(size, step, *me.Of(step)), &me.File);
      return;
    }
  }
  // A copy of a group already found joins it by its own hash: the record's
  // file is in the results since it was first recorded, and nothing of it
  // is recorded again, so its kept hashes need no look. Otherwise it must
  // still be as stored.
  const std::string signature = SignatureOf(*me.Of(HashStep::Full));
  if (!HasSignatureGroup(signature) && !first.StillAsStored(size)) {
    // Changed since its hashes were found: found anew, it must still equal
    // this file at every step, else this file takes its place.
    bool same = first.Reopen(store);
    for (const HashStep step : steps) same = same && first.Hash(store, size, step) && first.Of(step) == me.Of(step);
    if (!same) {
      store.Rename(key, me.File);
      return;
    }
  }
  ProcessMessages();
  KeepWhatWasFound(store, key, node->File, first.File);
  if (!me.StillAsTaken(store)) return;
  RecordDuplicate(signature, me.File.Path, IdOf(me.File), first.File.Path, IdOf(first.File), size);
}

}  // namespace

std::string SizeText(std::int64_t size) { return std::to_string(size); }

SizeStore& RunStore() {
  if (!ScanContext.Store) ScanContext.Store = std::make_unique<SizeStore>(ScanContext.WorkDirPath);
  return *ScanContext.Store;
}

namespace {

// Whether the system says the file at name in folder is there and could be
// opened for reading, as an open would tell (errno set when not).
bool AskedReadable(int folder, const std::string& name) {
  return faccessat(folder, name.c_str(), R_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) == 0;
}

// Whether the file at name in folder, of owner and mode as listed, could be
// opened for reading, as an open would tell (errno set when not):
// its owner's own file with the owner's read bit surely can (no access list
// can take that from the owner); else the system is asked.
bool CouldBeRead(int folder, const std::string& name, uid_t owner, mode_t mode) {
  static const uid_t self = geteuid();  // asked once: it is asked for every file
  return (owner == self && (mode & S_IRUSR) != 0) || AskedReadable(folder, name);
}

// Whether the file of listed is still there and could be opened for
// reading, as an open would tell (errno set when not): its look ahead, when
// one was asked for, tells most of it.
bool StillReadable(SizeStore& store, const FileIdentity& listed) {
  const std::optional<platform::LookAhead::Look> look = store.TakeLook(listed.Folder, listed.Name);
  if (!look) return AskedReadable(listed.Folder, listed.Name);
  if (look->Error != 0) {
    errno = look->Error;
    return false;
  }
  return CouldBeRead(listed.Folder, listed.Name, look->Status.st_uid, look->Status.st_mode);
}

// What an open would tell of a file entered without one, told the same way:
// that it cannot be read (readable false, errno why: logged), or that it
// was met before under another name (counted). True when it goes on into
// the store (counted as stored).
bool AdmitUnopened(SizeStore& store, const std::string& path, const FileIdentity& listed, bool readable,
                   std::uint64_t links) {
  if (!readable) {
    LogCannotAccess(path, listed, errno);
    return false;
  }
  if (links > 1 && !store.MeetFile(listed.Device, listed.Inode)) {
    ScanContext.FilesMetTwice += 1;
    return false;
  }
  ScanContext.StoredFiles += 1;
  return true;
}

// The file of listed, of a size the store has no entry for, entered from
// what its listing showed; false when that cannot be done so (not listed
// with its times, or the size has an entry), and the file is to be opened.
bool EnterFirstOfSize(SizeStore& store, const std::string& path, std::int64_t size, const FileIdentity& listed) {
  if (listed.Folder < 0 || listed.Links == 0 || listed.InFolderMetBefore) return false;
  if (store.HasEntry(size)) return false;
  const bool readable = StillReadable(store, listed);
  if (!AdmitUnopened(store, path, listed, readable, listed.Links)) return true;
  store.AddEntry(size,
                 StoredFile{path, FileState{listed.Device, listed.Inode, listed.ModifiedNs, listed.ChangedNs}, {}});
  ScanContext.StoreEntries += 1;
  return true;
}

// The status a file's listing showed, for a file taken as listed.
struct stat ListedStatus(std::int64_t size, const FileIdentity& listed) {
  struct stat status {};
  status.st_dev = static_cast<dev_t>(listed.Device);
  status.st_ino = static_cast<ino_t>(listed.Inode);
  status.st_size = size;
  status.st_mtim = platform::TimeOfNanoseconds(listed.ModifiedNs);
  status.st_ctim = platform::TimeOfNanoseconds(listed.ChangedNs);
  status.st_nlink = static_cast<nlink_t>(listed.Links);
  status.st_uid = listed.Owner;
  status.st_mode = listed.Mode;
  return status;
}

// The file of listed, whose hashes the cache of earlier runs holds for the
// state its listing showed, matched as listed, without opening it or
// looking at it again: most likely nothing of it is read. When something
// is, it is opened below its tree's root and must still be in that state;
// when it is found a duplicate, a look in its folder must show it so. A
// difference needs no look: a file changed since its listing can make it
// missed, never wrong. False when it cannot be matched so: it is then
// opened, as any file is.
bool MatchFromCache(SizeStore& store, const std::string& path, std::int64_t size, const FileIdentity& listed) {
  HashCache* const cache = ScanContext.Cache.get();
  if (cache == nullptr || listed.Folder < 0 || listed.Links == 0 || listed.InFolderMetBefore) return false;
  std::optional<FileHashes> cached = cache->Find(listed.Device, listed.Inode, size, listed.ModifiedNs, listed.ChangedNs,
                                                 listed.CacheRows, listed.CacheRow);
  if (!cached) return false;
  if (!AdmitUnopened(store, path, listed, CouldBeRead(listed.Folder, listed.Name, listed.Owner, listed.Mode),
                     listed.Links)) {
    return true;
  }
  FileToHash file(ListedStatus(size, listed));
  Side me;
  me.File = StoredFile{path, FileState{listed.Device, listed.Inode, listed.ModifiedNs, listed.ChangedNs}, {}};
  me.LookedUp = true;
  me.Cached = std::move(*cached);
  me.Opened = &file;
  me.Listed = &listed;
  MatchWithStore(store, me, size);
  return true;
}

}  // namespace

void ProcessFile(const std::string& path, std::int64_t size, const FileIdentity& listed) {
  TScanContext& ctx = ScanContext;
  ctx.LastOperation.assign("Processing file ").append(path);  // in its own buffer: once per file
  ProcessMessages();

  // Opened here, unless the worker hashing ahead has read its parts already:
  // then its look at the file stands for the access test.
  SizeStore& store = RunStore();
  if (EnterFirstOfSize(store, path, size, listed) || MatchFromCache(store, path, size, listed)) return;
  FileToHash file =
      listed.Folder >= 0 ? FileToHash(store, path, listed.Folder, listed.Name) : FileToHash(store, path, path);
  if (!file.IsOpen()) {
    LogCannotAccess(path, listed, file.File->Error());
    return;
  }
  const struct stat& status = file.Status();
  const StoredFile current{path, StateOf(status), {}};
  if (listed.Known() && (current.State.Device != listed.Device || current.State.Inode != listed.Inode)) {
    LogFileChanged(path, ReplacedText);
    return;
  }
  if (status.st_size != size) {
    LogFileChanged(path, SizeChange(size, status.st_size));
    return;
  }
  // The same bytes on disk under another name: removing it frees nothing.
  // A file of one link can only be met again through its directory.
  if (listed.InFolderMetBefore || (status.st_nlink > 1 && !store.MeetFile(current.State.Device, current.State.Inode))) {
    ctx.FilesMetTwice += 1;
    return;
  }
  ctx.StoredFiles += 1;

  if (!store.HasEntry(size)) {
    // The first file of this size: it is read only if a second one comes.
    store.AddEntry(size, current);
    ctx.StoreEntries += 1;
    return;
  }
  Side me;
  me.File = current;
  me.Opened = &file;
  MatchWithStore(store, me, size);
}

}  // namespace veldrano
