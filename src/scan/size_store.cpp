#include "scan/size_store.h"

#include <random>

#include "platform/read_only_file.h"
#include "platform/system_error.h"
#include "report/activity_log.h"
#include "results/results_model.h"
#include "scan/scan_context.h"
#include "signature/file_signature.h"

namespace veldrano {

namespace {

std::uint64_t RandomSeed() {
  std::random_device device;
  return (std::uint64_t{device()} << 32) ^ device();
}

}  // namespace

SizeStore::SizeStore(std::string workDirPath, std::size_t byteBudget)
    : seed_(RandomSeed()), memory_(byteBudget, seed_), workDir_(std::move(workDirPath)) {}

SizeStore::~SizeStore() { RemoveFromDisk(); }

SizeStore::Head SizeStore::FindHead(std::int64_t size) {
  const StoreRecord key = StoreRecord::HeadKey(size);
  Head head;
  if (const StoreRecord* record = memory_.Find(key)) {
    head.Kind = record->IsSigned() ? Head::Kind::Signed : Head::Kind::Unsigned;
    if (!record->IsSigned()) head.FirstPath = memory_.PathOf(*record);
  } else if (const auto found = disk_ ? disk_->Find(key) : std::nullopt) {
    head.Kind = found->Record.IsSigned() ? Head::Kind::Signed : Head::Kind::Unsigned;
    if (!found->Record.IsSigned()) head.FirstPath = disk_->PathOf(found->Record);
  }
  return head;
}

void SizeStore::AddEntry(std::int64_t size, const std::string& path) { Add(StoreRecord::HeadKey(size), path); }

void SizeStore::SignEntry(std::int64_t size) {
  const StoreRecord key = StoreRecord::HeadKey(size);
  if (StoreRecord* record = memory_.Find(key)) {
    record->MakeSigned();
  } else if (auto found = disk_ ? disk_->Find(key) : std::nullopt) {
    found->Record.MakeSigned();
    disk_->Replace(found->Slot, found->Record);
  }
}

std::optional<std::string> SizeStore::FindSignatureLine(std::int64_t size, const Digest& signature) {
  const StoreRecord key = StoreRecord::LineKey(size, signature);
  if (const StoreRecord* record = memory_.Find(key)) return std::string(memory_.PathOf(*record));
  if (const auto found = disk_ ? disk_->Find(key) : std::nullopt) return disk_->PathOf(found->Record);
  return std::nullopt;
}

void SizeStore::AddSignatureLine(std::int64_t size, const Digest& signature, const std::string& path) {
  Add(StoreRecord::LineKey(size, signature), path);
}

void SizeStore::Add(const StoreRecord& record, const std::string& path) {
  if (!memory_.HasRoomFor(path.size())) Spill();
  memory_.Add(record, path);
}

void SizeStore::Spill() {
  if (!disk_) {
    disk_ = std::make_unique<DiskTable>(workDir_.Descriptor(), workDir_.Path(), seed_);
    ScanContext.WorkDirPath = workDir_.Path();
  }
  disk_->Merge(memory_.SortByHash(), memory_);
  memory_.Clear();
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

std::string CheckFileAccess(const std::string& path) {
  const platform::ReadOnlyFile file(path);
  if (file.IsOpen()) return {};
  std::string result = "[";
  result.append(std::to_string(file.Error())).append("] ").append(SystemErrorText(file.Error()));
  return result;
}

void ProcessFile(const std::string& path, std::int64_t size) {
  TScanContext& ctx = ScanContext;
  ctx.LastOperation = "Processing file " + path;
  Window().ProcessMessages();

  const std::string access = CheckFileAccess(path);
  if (!access.empty()) {
    AddLogEntry(LogWarning, "Can not access to this file", path, access);
    return;
  }
  ctx.StoredFiles += 1;
  if (!ctx.Store) ctx.Store = std::make_unique<SizeStore>(ctx.WorkDirPath);
  SizeStore& store = *ctx.Store;

  const SizeStore::Head head = store.FindHead(size);
  if (head.Kind == SizeStore::Head::Kind::None) {
    // The first file of this size: it is hashed only if a second one comes.
    store.AddEntry(size, path);
    ctx.StoreEntries += 1;
    return;
  }

  if (head.Kind == SizeStore::Head::Kind::Unsigned) {
    // The first file of this size has not been hashed (or only for
    // comparisons that matched): hash it now. The entry takes signature
    // lines only when a new content of this size turns up.
    const std::string onlySignature = ComputeFileSignature(head.FirstPath);
    const std::string signature = ComputeFileSignature(path);
    Window().ProcessMessages();
    if (signature == onlySignature) {
      RecordDuplicate(signature, path, head.FirstPath, size);
      return;
    }
    store.SignEntry(size);
    store.AddSignatureLine(size, DigestOf(onlySignature), head.FirstPath);
    store.AddSignatureLine(size, DigestOf(signature), path);
    return;
  }

  const std::string signature = ComputeFileSignature(path);
  Window().ProcessMessages();
  if (const std::optional<std::string> first = store.FindSignatureLine(size, DigestOf(signature))) {
    RecordDuplicate(signature, path, *first, size);
  } else {
    store.AddSignatureLine(size, DigestOf(signature), path);
  }
}

}  // namespace veldrano
