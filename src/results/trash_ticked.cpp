#include "results/trash_ticked.h"

#include "report/activity_log.h"
#include "report/formatting.h"
#include "results/reference_folders.h"
#include "results/trash_act.h"
#include "scan/scan_context.h"
#include "scan/scan_scopes.h"
#include "scan/window_access.h"
#include "scan/window_texts.h"

namespace veldrano {

namespace {

std::string CountText(std::int64_t n) { return FormatCount(' ', static_cast<long double>(n)); }

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
  // A file in a reference folder stays, whatever its tick says.
  const auto ticked = [](const SelectionRow& row) { return row.Checked && !InReferenceFolder(PathOf(row)); };
  for (const SelectionRow& row : ScanContext.Selection) {
    if (!ticked(row)) ++unticked[row.Group];
  }
  for (std::uint32_t g = 0; g < groups.size(); ++g) {
    if (unticked[g] == 0) plan.FirstKept.push_back(g);
  }
  for (const SelectionRow& row : ScanContext.Selection) {
    if (!ticked(row) || (unticked[row.Group] == 0 && row.File == 0)) continue;
    plan.Files.push_back({row.Group, row.File});
    plan.Bytes += groups[row.Group].Size;
  }
  return plan;
}

TrashSummary MoveTickedToTrash(const TrashPlan& plan, ReversibleAct* givenAct) {
  TrashSummary summary;
  if (!ScanContext.ResultsRoot) return summary;
  TrashAct trashAct;
  ReversibleAct& act = givenAct != nullptr ? *givenAct : trashAct;
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
  FileReacher reacher;
  platform::ByteComparer comparer;
  const auto keepGoing = [root] { return KeepGoing(root); };
  std::size_t done = 0;
  for (; done < plan.Files.size(); ++done) {
    if (!KeepGoing(root)) break;
    Display().SetOverallProgress(static_cast<int>(done * 100 / plan.Files.size()));
    const TrashPlan::File& f = plan.Files[done];
    const SignatureGroup& group = groups[f.Group];
    const std::string& path = group.Files[f.Index];
    ScanContext.LastOperation = "Moving to the Trash: " + path;

    const ActOutcome outcome =
        ActOnProvenCopy(group, f.Index, states[f.Group].Staying, reacher, act, comparer, keepGoing);
    switch (outcome.Kind) {
      case ActOutcome::Kind::Done:
        states[f.Group].Moved[f.Index] = true;
        ++summary.Moved;
        summary.MovedBytes += group.Size;
        AddLogEntry(LogInfo, "Moved to the Trash", path, "Same bytes as " + outcome.Text);
        break;
      case ActOutcome::Kind::Stuck:
        // Gone from its place all the same: the results no longer show it.
        states[f.Group].Moved[f.Index] = true;
        ++summary.LeftInTrash;
        AddLogEntry(LogError, "Left in the Trash without proof", path, outcome.Text);
        break;
      case ActOutcome::Kind::NotDone:
      case ActOutcome::Kind::Stopped:
        ++summary.LeftInPlace;
        AddLogEntry(LogWarning, "Not moved to the Trash", path, outcome.Text);
        break;
    }
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
  if (summary.LeftInTrash > 0) {
    AddLogEntry(LogErrorSummary, "Files left in the Trash without proof: " + CountText(summary.LeftInTrash) +
                                     "... Please see logs above...");
  }
  std::vector<std::vector<bool>> leaving(states.size());
  for (std::size_t g = 0; g < states.size(); ++g) leaving[g] = std::move(states[g].Moved);
  if (summary.Moved > 0 && ScanContext.ResultsRoot.get() == root) RemoveFilesFromResults(leaving);
  ShowWorkEnded();
  AddLogEntry(LogReady, ReadyText);
  return summary;
}

}  // namespace veldrano
