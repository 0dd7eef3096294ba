#include "results/trash_ticked.h"

#include <sys/stat.h>

#include <cerrno>
#include <optional>

#include "platform/read_only_file.h"
#include "platform/same_bytes.h"
#include "platform/system_error.h"
#include "report/activity_log.h"
#include "report/formatting.h"
#include "scan/scan_context.h"
#include "scan/scan_scopes.h"
#include "scan/window_access.h"
#include "scan/window_texts.h"

namespace veldrano {

namespace {

using platform::ByteComparer;
using platform::ReadOnlyFile;

std::string CountText(std::int64_t n) { return FormatCount(' ', static_cast<long double>(n)); }

std::string OpenFailureText(int error) {
  switch (error) {
    case ENOENT: return "No longer there";
    case ELOOP:
    case EISDIR:
    case ENOTSUP: return "No longer a regular file";
    default: return "Can not open it: " + SystemErrorText(error);
  }
}

std::string MoveFailureText(int error) {
  switch (error) {
    case ESTALE: return "Replaced by another file during the move";
    case EXDEV: return "No Trash can be used on its file system";
    default: return "Can not move it to the Trash: " + SystemErrorText(error);
  }
}

// Lets the window breathe; false once the user stopped, the window is
// closing, or the results are no longer the ones being worked on.
bool KeepGoing(const ResultsNode* root) {
  ProcessMessages();
  return !ScanContext.StopRequested && !WindowClosing() && ScanContext.ResultsRoot.get() == root;
}

// One group's files: which stay (unticked, or kept for the group) and which
// have left for the Trash.
struct GroupState {
  std::vector<bool> Staying;
  std::vector<bool> Moved;
};

// Proves that file (open, of the group's size) may go: no file that stays is
// the very same file, and one that stays has its bytes. Returns the path of
// that one, or sets why not.
std::optional<std::string> FindProof(const SignatureGroup& group, const GroupState& state, const ReadOnlyFile& file,
                                     ByteComparer& comparer, std::string& whyNot) {
  // The same file under another name (a hard link, a folder reached twice,
  // a bind mount) would go with its copy: nothing would stay.
  for (std::size_t k = 0; k < group.Files.size(); ++k) {
    if (!state.Staying[k]) continue;
    struct stat status {};
    if (stat(group.Files[k].c_str(), &status) == 0 && status.st_dev == file.Status().st_dev &&
        status.st_ino == file.Status().st_ino) {
      whyNot = "The same file as " + group.Files[k] + ", which stays";
      return std::nullopt;
    }
  }
  whyNot = "No file of its group that stays is left to compare it with";
  for (std::size_t k = 0; k < group.Files.size(); ++k) {
    if (!state.Staying[k]) continue;
    const ReadOnlyFile kept(group.Files[k]);
    if (!kept.IsOpen() || kept.Size() != file.Size()) continue;
    const ResultsNode* root = ScanContext.ResultsRoot.get();
    switch (comparer.Compare(file, kept, [root] { return KeepGoing(root); })) {
      case ByteComparer::Verdict::Equal: return group.Files[k];
      case ByteComparer::Verdict::Different:
        whyNot = "Its contents differ from those of every file of its group that stays";
        break;
      case ByteComparer::Verdict::Failed:
        whyNot = "It or its copy changed, or could not be read, while they were compared";
        break;
      case ByteComparer::Verdict::Stopped: whyNot = "Stopped while it was being compared"; return std::nullopt;
    }
  }
  return std::nullopt;
}

// Starts the work as a run does: busy, Stop on, the progress shown.
void ShowWorkStarted() {
  ScanContext.StopRequested = false;
  Display().SetTopCaption("Working...");
  Display().SetButtonEnabled(ScanDisplay::Button::Start, false);
  Display().SetButtonEnabled(ScanDisplay::Button::Stop, true);
  Display().SetButtonEnabled(ScanDisplay::Button::Reset, false);
  Display().SetOverallProgress(0);
  Display().SetFileProgress(0);
  Display().SetProgressBarsVisible(true);
}

void ShowWorkEnded() {
  ScanContext.LastOperation.clear();
  Display().SetProgressBarsVisible(false);
  Display().SetTopCaption(IdleCaption);
}

}  // namespace

TrashPlan PlanTrashTicked() {
  TrashPlan plan;
  if (!ScanContext.ResultsRoot) return plan;
  const auto& groups = ScanContext.ResultsRoot->Groups;
  std::vector<std::uint32_t> unticked(groups.size(), 0);
  for (const SelectionRow& row : ScanContext.Selection) {
    if (!row.Checked) ++unticked[row.Group];
  }
  for (std::uint32_t g = 0; g < groups.size(); ++g) {
    if (unticked[g] == 0) plan.FirstKept.push_back(g);
  }
  for (const SelectionRow& row : ScanContext.Selection) {
    if (!row.Checked || (unticked[row.Group] == 0 && row.File == 0)) continue;
    plan.Files.push_back({row.Group, row.File});
    plan.Bytes += groups[row.Group].Size;
  }
  return plan;
}

TrashSummary MoveTickedToTrash(const TrashPlan& plan, const TrashMover& givenMover) {
  TrashSummary summary;
  platform::TrashCan trashCan;
  const TrashMover mover = givenMover ? givenMover : [&trashCan](const std::string& path, dev_t device, ino_t inode) {
    return trashCan.Move(path, device, inode);
  };
  if (!ScanContext.ResultsRoot) return summary;
  const BusyScope busy;
  ShowWorkStarted();
  const ResultsNode* root = ScanContext.ResultsRoot.get();
  const auto& groups = root->Groups;
  std::vector<GroupState> states(groups.size());
  for (std::size_t g = 0; g < groups.size(); ++g) {
    states[g].Staying.assign(groups[g].Files.size(), true);
    states[g].Moved.assign(groups[g].Files.size(), false);
  }
  for (const TrashPlan::File& f : plan.Files) states[f.Group].Staying[f.Index] = false;

  AddLogEntry(LogInfo, "Moving ticked files to the Trash: " + CountText(static_cast<std::int64_t>(plan.Files.size())));
  for (const std::uint32_t g : plan.FirstKept) {
    AddLogEntry(LogWarning, "Every file of its group is ticked: this one stays", groups[g].Files[0],
                "MD5: " + groups[g].Signature);
  }
  ByteComparer comparer;
  std::size_t done = 0;
  for (; done < plan.Files.size(); ++done) {
    if (!KeepGoing(root)) break;
    Display().SetOverallProgress(static_cast<int>(done * 100 / plan.Files.size()));
    const TrashPlan::File& f = plan.Files[done];
    const SignatureGroup& group = groups[f.Group];
    const std::string& path = group.Files[f.Index];
    ScanContext.LastOperation = "Moving to the Trash: " + path;

    std::string whyNot;
    const ReadOnlyFile file(path);
    std::optional<std::string> proof;
    if (!file.IsOpen()) {
      whyNot = OpenFailureText(file.Error());
    } else if (file.Size() != static_cast<std::uint64_t>(group.Size)) {
      whyNot = "Listed with " + CountText(group.Size) + " bytes, now " +
               CountText(static_cast<std::int64_t>(file.Size())) + " bytes";
    } else {
      proof = FindProof(group, states[f.Group], file, comparer, whyNot);
    }
    if (proof) {
      const auto moved = mover(path, file.Status().st_dev, file.Status().st_ino);
      if (moved.Ok()) {
        states[f.Group].Moved[f.Index] = true;
        ++summary.Moved;
        summary.MovedBytes += group.Size;
        AddLogEntry(LogInfo, "Moved to the Trash", path, "Same bytes as " + *proof);
        continue;
      }
      whyNot = MoveFailureText(moved.Error());
    }
    ++summary.LeftInPlace;
    AddLogEntry(LogWarning, "Not moved to the Trash", path, whyNot);
  }
  Display().SetOverallProgress(100);
  if (done < plan.Files.size()) {
    summary.LeftInPlace += static_cast<std::int64_t>(plan.Files.size() - done);
    AddLogEntry(LogInfo, "Process stopped by the user", "",
                "Ticked files not looked at: " + CountText(static_cast<std::int64_t>(plan.Files.size() - done)));
  }
  AddLogEntry(LogInfo,
              "Files moved to the Trash: " + CountText(summary.Moved) + " (" +
                  FormatSize(static_cast<long double>(summary.MovedBytes)) + ")",
              "", CountText(summary.MovedBytes) + " Bytes");
  if (summary.LeftInPlace > 0) {
    AddLogEntry(LogWarningSummary,
                "Ticked files left in place: " + CountText(summary.LeftInPlace) + "... Please see logs above...");
  }
  std::vector<std::vector<bool>> leaving(states.size());
  for (std::size_t g = 0; g < states.size(); ++g) leaving[g] = std::move(states[g].Moved);
  if (summary.Moved > 0 && ScanContext.ResultsRoot.get() == root) RemoveFilesFromResults(leaving);
  ShowWorkEnded();
  AddLogEntry(LogReady, ReadyText);
  return summary;
}

}  // namespace veldrano
