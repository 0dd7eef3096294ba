#include "results/proven_act.h"

#include <sys/stat.h>

#include <optional>

#include "platform/file_times.h"
#include "platform/system_error.h"
#include "report/formatting.h"
#include "results/reference_folders.h"

namespace veldrano {

namespace {

using platform::ByteComparer;

std::string CountText(std::int64_t n) { return FormatCount(' ', static_cast<long double>(n)); }

bool SameId(const struct stat& status, const ScannedFile& id) {
  return static_cast<std::uint64_t>(status.st_dev) == id.Device &&
         static_cast<std::uint64_t>(status.st_ino) == id.Inode;
}

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

// Steps 2 and 3: a file that stays with f's bytes, or why there is none.
std::optional<ReachedFile> FindProof(const SignatureGroup& group, const ReachedFile& file,
                                     const std::vector<bool>& staying, FileReacher& reacher, const ReversibleAct& act,
                                     ByteComparer& comparer, const std::function<bool()>& keepGoing,
                                     ActOutcome& refusal) {
  const ScannedFile self{static_cast<std::uint64_t>(file.Status().st_dev),
                         static_cast<std::uint64_t>(file.Status().st_ino)};
  // The same file under another name would go with its copy: nothing would
  // stay.
  for (std::size_t k = 0; k < group.Files.size(); ++k) {
    if (staying[k] && k < group.Scanned.size() && group.Scanned[k].SameFileAs(self)) {
      refusal.Text = "The same file as " + group.Files[k] + ", which stays";
      return std::nullopt;
    }
  }
  refusal.Text = "No file of its group that stays is left to compare it with";
  for (std::size_t k = 0; k < group.Files.size(); ++k) {
    if (!staying[k] || k >= group.Scanned.size()) continue;
    std::string unreachable;
    std::optional<ReachedFile> kept = reacher.Reach(group.Files[k], group.Scanned[k], unreachable);
    if (!kept) continue;
    if (SameId(kept->Status(), self)) {
      refusal.Text = "The same file as " + group.Files[k] + ", which stays";
      return std::nullopt;
    }
    if (kept->File->Size() != file.File->Size()) continue;
    if (std::string unsuitable = act.Unsuitable(file, *kept); !unsuitable.empty()) {
      refusal.Text = std::move(unsuitable);
      continue;
    }
    switch (comparer.Compare(*file.File, *kept->File, keepGoing)) {
      case ByteComparer::Verdict::Equal: return kept;
      case ByteComparer::Verdict::Different:
        refusal.Text = "Its contents differ from those of every file of its group that stays";
        break;
      case ByteComparer::Verdict::Failed:
        refusal.Text = "It or its copy changed, or could not be read, while they were compared";
        break;
      case ByteComparer::Verdict::Stopped:
        refusal.Kind = ActOutcome::Kind::Stopped;
        refusal.Text = "Stopped while it was being compared";
        return std::nullopt;
    }
  }
  return std::nullopt;
}

// Step 5: empty when the act is still proven right, else what went wrong.
// Whether the open file still has the size and modification time it had
// when it was opened; its change time moved too, in changeMoved.
bool SameContentsTime(const platform::ReadOnlyFile& file, bool& changeMoved) {
  struct stat now {};
  if (fstat(file.Descriptor(), &now) != 0 || now.st_size != file.Status().st_size ||
      !SameTime(now.st_mtim, file.Status().st_mtim)) {
    return false;
  }
  changeMoved = !SameTime(now.st_ctim, file.Status().st_ctim);
  return true;
}

std::string Disproof(ReachedFile& file, ReachedFile& kept, ReversibleAct& act, ByteComparer& comparer) {
  bool keptTouched = false, fileTouched = false;
  const bool keptSame = act.TouchesKept() ? SameContentsTime(*kept.File, keptTouched) : kept.File->Unchanged();
  if (!keptSame || !kept.StillNamed()) return "The copy that stays, " + kept.Path + ", changed meanwhile";
  if (!SameContentsTime(*file.File, fileTouched)) return "It changed meanwhile";
  if (!act.Stands(file)) return "It was moved or replaced meanwhile";
  // A change time tells nothing when the act itself moved it: the bytes
  // have to say it again.
  if (fileTouched || keptTouched) {
    if (keptTouched && !kept.File->Rebase()) return "The copy that stays, " + kept.Path + ", can no longer be read";
    if (!file.File->Rebase()) return "It can no longer be read";
    if (comparer.Compare(*file.File, *kept.File) != ByteComparer::Verdict::Equal) {
      return "Its bytes no longer equal those of " + kept.Path;
    }
  }
  return {};
}

// What the journal keeps of an act on file, with kept as its proven copy.
JournalEntry RecordOf(const ReachedFile& file, const ReachedFile& kept, const ReversibleAct& act) {
  const struct stat& status = file.Status();
  JournalEntry entry;
  entry.Path = file.RealPath;
  entry.Listed = file.ListedReal;
  entry.Kept = kept.RealPath;
  entry.Size = status.st_size;
  entry.Device = status.st_dev;
  entry.Inode = status.st_ino;
  entry.KeptDevice = kept.Status().st_dev;
  entry.KeptInode = kept.Status().st_ino;
  entry.Mode = status.st_mode & 07777;
  entry.Owner = status.st_uid;
  entry.Group = status.st_gid;
  entry.AccessedNs = platform::Nanoseconds(status.st_atim);
  entry.ModifiedNs = platform::Nanoseconds(status.st_mtim);
  entry.Place = act.Place();
  entry.PlaceDevice = act.PlaceId().Device;
  entry.PlaceInode = act.PlaceId().Inode;
  return entry;
}

}  // namespace

ActOutcome ActOnProvenCopy(const SignatureGroup& group, std::uint32_t f, const std::vector<bool>& staying,
                           FileReacher& reacher, ReversibleAct& act, ByteComparer& comparer,
                           const std::function<bool()>& keepGoing, bool rehearsal) {
  ActOutcome outcome;
  if (InReferenceFolder(group.Files[f])) {
    outcome.Text = "In a reference folder";
    return outcome;
  }
  if (const std::string* why = ChangedSince(group, f)) {
    outcome.Text = *why;
    return outcome;
  }
  std::optional<ReachedFile> file =
      reacher.Reach(group.Files[f], f < group.Scanned.size() ? group.Scanned[f] : ScannedFile{}, outcome.Text);
  if (!file) return outcome;
  if (file->File->Size() != static_cast<std::uint64_t>(group.Size)) {
    outcome.Text = "Listed with " + CountText(group.Size) + " bytes, now " +
                   CountText(static_cast<std::int64_t>(file->File->Size())) + " bytes";
    return outcome;
  }
  std::optional<ReachedFile> kept = FindProof(group, *file, staying, reacher, act, comparer, keepGoing, outcome);
  if (!kept) return outcome;
  if (rehearsal) return {ActOutcome::Kind::Done, kept->Path, {}, {}};

  if (const int error = act.Do(*file, *kept); error != 0) {
    outcome.Text = act.FailureText(error);
    return outcome;
  }
  const std::string wrong = Disproof(*file, *kept, act, comparer);
  if (wrong.empty()) {
    ActOutcome done{ActOutcome::Kind::Done, kept->Path, {}, RecordOf(*file, *kept, act)};
    done.LeftBehind = act.Finish(*file);
    return done;
  }
  if (const int error = act.Undo(*file); error != 0) {
    return {ActOutcome::Kind::Stuck,
            wrong + ", and it could not be put back (" + SystemErrorText(error) + "): it is " + act.Where(),
            {},
            RecordOf(*file, *kept, act)};
  }
  return {ActOutcome::Kind::NotDone, wrong + ": put back", {}, {}};
}

}  // namespace veldrano
