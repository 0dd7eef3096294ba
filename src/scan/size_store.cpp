#include "scan/size_store.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <random>

#include "platform/directory_reader.h"
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

// A file about to be hashed: as the worker hashing ahead found it, when it
// has read it whole already (its look at the file stands for an open here),
// else opened here, as ReadOnlyFile(where...) opens it.
struct FileToHash {
  template <typename... Where>
  FileToHash(SizeStore& store, const std::string& path, const Where&... where) : Ahead(store.TakeHashedAhead(path)) {
    if (!Ahead) File.emplace(where...);
  }
  std::optional<HashAhead::Finished> Ahead;
  std::optional<platform::ReadOnlyFile> File;

  bool IsOpen() const { return Ahead || File->IsOpen(); }
  const struct stat& Status() const { return Ahead ? Ahead->Seen : File->Status(); }
  std::optional<std::string> Signature(SizeStore& store, const std::string& path, std::int64_t size) const {
    return store.SignatureOf(path, size, File ? &*File : nullptr, Ahead ? std::optional(Ahead->Digest) : std::nullopt);
  }
};

// The signature of a file the store names, to match another file against
// it: kept is reused while a stat shows the same file unchanged (which file
// a path leads to cannot change what that file holds: the stat may follow a
// folder replaced by a link, as it acts on nothing, and its identity and
// times tell it is the file read). Otherwise the file is read again, opened
// below the listed directory of its tree, never through a link, and its
// failures logged under its own path. None when it cannot be read whole or
// is no longer the file stored. now gets the file as it is now.
std::optional<Digest> CheckedSignature(SizeStore& store, const StoredFile& stored, std::int64_t size,
                                       const std::optional<Digest>& kept, StoredFile& now) {
  now = stored;
  struct stat status {};
  if (kept && fstatat(AT_FDCWD, stored.Path.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(status.st_mode) &&
      status.st_size == size && StateOf(status) == stored.State) {
    return kept;
  }
  const FileToHash file(store, stored.Path, store.AnchorOf(stored.Path));
  if (!file.IsOpen()) {
    if (file.File->Error() == ELOOP) {
      LogFileChanged(stored.Path, ReplacedByLinkText);
    } else {
      AddLogEntry(LogWarning, "Can not open this file", stored.Path, SystemErrorText(file.File->Error()));
    }
    return std::nullopt;
  }
  now.State = StateOf(file.Status());
  if (now.State.Device != stored.State.Device || now.State.Inode != stored.State.Inode) {
    LogFileChanged(stored.Path, ReplacedText);
    return std::nullopt;
  }
  const std::optional<std::string> signature = file.Signature(store, stored.Path, size);
  if (!signature) return std::nullopt;
  return DigestOf(*signature);
}

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
  head.Kind = record->IsSigned() ? Head::Kind::Signed : Head::Kind::Unsigned;
  if (record->IsHashed()) head.Signature = record->Signature;
  return head;
}

void SizeStore::AddEntry(std::int64_t size, const StoredFile& first) { Add(StoreRecord::HeadKey(size), first); }

void SizeStore::SetFirstSignature(std::int64_t size, const Digest& signature, const StoredFile& first) {
  Update(StoreRecord::HeadKey(size), &first, [&signature](StoreRecord& head) { head.SetHeadSignature(signature); });
}

void SizeStore::ReplaceFirst(std::int64_t size, const StoredFile& file) {
  Update(StoreRecord::HeadKey(size), &file, [](StoreRecord& head) {
    head.Ref = StoreRecord::HeadBit;
    head.Signature = {};
  });
}

void SizeStore::SignEntry(std::int64_t size) {
  Update(StoreRecord::HeadKey(size), nullptr, [](StoreRecord& head) {
    head.MakeSigned();
    head.Signature = {};
  });
}

std::optional<StoredFile> SizeStore::FindSignatureLine(std::int64_t size, const Digest& signature) {
  StoredFile file;
  if (!FindRecord(StoreRecord::LineKey(size, signature), &file)) return std::nullopt;
  return file;
}

void SizeStore::AddSignatureLine(std::int64_t size, const Digest& signature, const StoredFile& file) {
  Add(StoreRecord::LineKey(size, signature), file);
}

void SizeStore::RenameSignatureLine(std::int64_t size, const Digest& signature, const StoredFile& file) {
  Update(StoreRecord::LineKey(size, signature), &file, [](StoreRecord&) {});
}

bool SizeStore::MeetFile(std::uint64_t device, std::uint64_t inode) {
  const StoreRecord key = StoreRecord::IdentityKey(device, inode);
  if (FindRecord(key, nullptr)) return false;
  Add(key, StoredFile{});
  return true;
}

void SizeStore::Add(const StoreRecord& record, const StoredFile& file) {
  if (!memory_.HasRoomFor(file.Path.size())) Spill();
  memory_.Add(record, file);
}

void SizeStore::Update(const StoreRecord& key, const StoredFile* file,
                       const std::function<void(StoreRecord&)>& change) {
  // Room first: making room moves the record to disk.
  if (file != nullptr && !memory_.HasRoomFor(file->Path.size())) Spill();
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
  // One read from the disk turns hints on for the next thousand files:
  // files read ahead are found in memory, which must not turn them off.
  constexpr int ColdWindow = 1024;
  coldReads_ = cached ? std::max(0, coldReads_ - 1) : ColdWindow;
}

void SizeStore::AddTreeRoot(const std::string& path, std::shared_ptr<const platform::UniqueFd> folder) {
  if (roots_.size() >= MaxHeldRoots) folder.reset();
  roots_.push_back(TreeRoot{path, std::move(folder)});
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

void SizeStore::HintRead(const std::string& path, const platform::AnchoredPath& where, std::int64_t size) {
  if (size <= 0) return;
  const Head head = FindHead(size);
  if (head.Kind == Head::Kind::None) return;  // the first of its size is not read
  if (!hashAhead_) hashAhead_ = std::make_unique<HashAhead>();
  const bool firstToRead = head.Kind == Head::Kind::Unsigned && !head.Signature;
  const platform::AnchoredPath first = firstToRead ? AnchorOf(head.First.Path) : platform::AnchoredPath{};
  if (firstToRead) hashAhead_->Hint(head.First.Path, first, size);
  hashAhead_->Hint(path, where, size);
  if (coldReads_ == 0) return;
  if (!readAhead_) readAhead_ = std::make_unique<platform::ReadAhead>();
  if (firstToRead) readAhead_->Hint(first, static_cast<std::uint64_t>(size));
  readAhead_->Hint(where, static_cast<std::uint64_t>(size));
}

std::optional<HashAhead::Finished> SizeStore::TakeHashedAhead(const std::string& path) {
  if (!hashAhead_) return std::nullopt;
  return hashAhead_->TakeFinished(path);
}

std::optional<std::string> SizeStore::SignatureOf(const std::string& path, std::int64_t size,
                                                  const platform::ReadOnlyFile* file,
                                                  const std::optional<MD5Digest>& hashed) {
  if (hashed) return SignatureShownAsRead(*hashed, size);
  const auto total = static_cast<std::uint64_t>(size);
  std::optional<MD5Digest> digest;
  if (hashAhead_ && file != nullptr) {
    digest = hashAhead_->Take(
        path, file->Status(),
        [total](std::uint64_t done) {
          ShowHashProgress(done, total);
          return !WindowClosing();
        },
        [] {
          ProcessMessages();
          return !WindowClosing();
        });
  }
  if (digest) {
    if (total > 0) Display().SetFileProgress(0);
    return DigestToText(*digest);
  }
  if (file == nullptr || WindowClosing()) return std::nullopt;
  bool cached = true;
  std::optional<std::string> signature = ComputeFileSignature(*file, path, size, &cached);
  NoteRead(cached);
  return signature;
}

void SizeStore::ForEachEntry(const std::function<void(std::int64_t)>& visit) {
  if (disk_) disk_->ForEachHead([&visit](const StoreRecord& head) { visit(head.Size); });
  memory_.ForEachHead([&visit](const StoreRecord& head) { visit(head.Size); });
}

void SizeStore::RemoveFromDisk() {
  disk_.reset();
  workDir_.Remove();
}

std::string SizeText(std::int64_t size) { return std::to_string(size); }

SizeStore& RunStore() {
  if (!ScanContext.Store) ScanContext.Store = std::make_unique<SizeStore>(ScanContext.WorkDirPath);
  return *ScanContext.Store;
}

std::string CheckFileAccess(const platform::ReadOnlyFile& file) {
  if (file.IsOpen()) return {};
  std::string result = "[";
  result.append(std::to_string(file.Error())).append("] ").append(SystemErrorText(file.Error()));
  return result;
}

void ProcessFile(const std::string& path, std::int64_t size, const FileIdentity& listed) {
  TScanContext& ctx = ScanContext;
  ctx.LastOperation = "Processing file " + path;
  ProcessMessages();

  // Opened here, unless the worker hashing ahead has read it whole already:
  // then its look at the file stands for the access test.
  SizeStore& store = RunStore();
  const FileToHash file =
      listed.Folder >= 0 ? FileToHash(store, path, listed.Folder, listed.Name) : FileToHash(store, path, path);
  if (!file.IsOpen()) {
    const int error = file.File->Error();
    // Where the listing saw a regular file: a link, or a folder or FIFO.
    if (listed.Known() && (error == ELOOP || error == EISDIR || error == ENOTSUP)) {
      LogFileChanged(path, error == ELOOP ? ReplacedByLinkText : ReplacedText);
    } else {
      AddLogEntry(LogWarning, "Can not access to this file", path, CheckFileAccess(*file.File));
    }
    return;
  }
  const struct stat& status = file.Status();
  const StoredFile current{path, StateOf(status)};
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

  const SizeStore::Head head = store.FindHead(size);
  if (head.Kind == SizeStore::Head::Kind::None) {
    // The first file of this size: it is hashed only if a second one comes.
    store.AddEntry(size, current);
    ctx.StoreEntries += 1;
    return;
  }

  if (head.Kind == SizeStore::Head::Kind::Unsigned) {
    // The first file of this size is hashed once, when the second comes;
    // its signature is kept for the next ones while the file is unchanged.
    // The entry takes signature lines only when a new content turns up.
    if (SameFile(head.First, current)) {
      ctx.FilesMetTwice += 1;
      return;
    }
    StoredFile first;
    const std::optional<Digest> firstSignature = CheckedSignature(store, head.First, size, head.Signature, first);
    if (!firstSignature) {
      store.ReplaceFirst(size, current);  // it cannot be matched: this file takes its place
      return;
    }
    if (!head.Signature || first.State != head.First.State) store.SetFirstSignature(size, *firstSignature, first);
    const std::optional<std::string> signature = file.Signature(store, path, size);
    if (!signature) return;
    ProcessMessages();
    const Digest digest = DigestOf(*signature);
    if (digest == *firstSignature) {
      RecordDuplicate(*signature, path, IdOf(current), first.Path, IdOf(first), size);
      return;
    }
    store.SignEntry(size);
    store.AddSignatureLine(size, *firstSignature, first);
    store.AddSignatureLine(size, digest, current);
    return;
  }

  const std::optional<std::string> signature = file.Signature(store, path, size);
  if (!signature) return;
  ProcessMessages();
  const Digest digest = DigestOf(*signature);
  const std::optional<StoredFile> line = store.FindSignatureLine(size, digest);
  if (!line) {
    store.AddSignatureLine(size, digest, current);
    return;
  }
  if (SameFile(*line, current)) {
    ctx.FilesMetTwice += 1;
    return;
  }
  StoredFile first;
  if (CheckedSignature(store, *line, size, digest, first) == digest) {
    if (first.State != line->State) store.RenameSignatureLine(size, digest, first);
    RecordDuplicate(*signature, path, IdOf(current), first.Path, IdOf(first), size);
  } else {
    // The first file with these bytes no longer holds them: this one is now
    // the first.
    store.RenameSignatureLine(size, digest, current);
  }
}

}  // namespace veldrano
