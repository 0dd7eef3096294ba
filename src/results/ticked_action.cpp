#include "results/ticked_action.h"

#include <fcntl.h>
#include <unistd.h>

#include <ctime>
#include <memory>
#include <set>

#include "platform/open_beneath.h"
#include "platform/system_error.h"
#include "report/activity_log.h"
#include "report/formatting.h"
#include "results/link_act.h"
#include "results/move_act.h"
#include "results/reference_folders.h"
#include "results/share_blocks_act.h"
#include "results/trash_act.h"
#include "results/work_scope.h"

namespace veldrano {

namespace {

using Kind = ActionKind;

std::string CountText(std::int64_t n) { return FormatCount(' ', static_cast<long double>(n)); }

// What the log says of an action.
struct ActionTexts {
  std::string Name;      // in the journal
  std::string Starting;  // "Moving ticked files to the Trash"
  std::string Doing;     // the operation shown while a file is worked on
  std::string Done;      // one file: "Moved to the Trash"
  std::string NotDone;   // one file: "Not moved to the Trash"
  std::string Stuck;     // one file: done, then disproved, and not undone
  std::string Would;     // one file, in a dry run: "Would be moved to the Trash"
  std::string AllDone;   // the summary: "Files moved to the Trash"
  std::string AllWould;  // the summary of a dry run
  std::string AllStuck;  // the summary of the files stuck
};

ActionTexts TextsOf(const TickedAction& action) {
  const auto linkTexts = [](const std::string& name, const std::string& link, const std::string& links) {
    return ActionTexts{name,
                       "Replacing ticked files with " + links,
                       "Replacing with " + link + ": ",
                       "Replaced with " + link,
                       "Not replaced with " + link,
                       "Left replaced without proof",
                       "Would be replaced with " + link,
                       "Files replaced with " + links,
                       "Files that would be replaced with " + links,
                       "Files left replaced without proof"};
  };
  switch (action.Kind) {
    case Kind::Trash:
      return {"trash",
              "Moving ticked files to the Trash",
              "Moving to the Trash: ",
              "Moved to the Trash",
              "Not moved to the Trash",
              "Left in the Trash without proof",
              "Would be moved to the Trash",
              "Files moved to the Trash",
              "Files that would be moved to the Trash",
              "Files left in the Trash without proof"};
    case Kind::HardLink: return linkTexts("hard-link", "a hard link", "hard links");
    case Kind::SymbolicLink:
    case Kind::RelativeSymbolicLink: return linkTexts("symbolic-link", "a symbolic link", "symbolic links");
    case Kind::ShareBlocks:
      return {"share-blocks",
              "Sharing the blocks of ticked files with their copies",
              "Sharing blocks: ",
              "Shares its blocks with its copy",
              "Blocks not shared",
              "Left without proof",
              "Would share its blocks with its copy",
              "Files sharing their blocks with a copy",
              "Files that would share their blocks with a copy",
              "Files left without proof"};
    case Kind::Move:
      return {"move",
              "Moving ticked files to " + action.Destination,
              "Moving to " + action.Destination + ": ",
              "Moved to " + action.Destination,
              "Not moved",
              "Left moved without proof",
              "Would be moved to " + action.Destination,
              "Files moved to " + action.Destination,
              "Files that would be moved to " + action.Destination,
              "Files left moved without proof"};
  }
  return {};
}

std::unique_ptr<ReversibleAct> ActFor(const TickedAction& action) {
  switch (action.Kind) {
    case Kind::Trash: return std::make_unique<TrashAct>();
    case Kind::HardLink: return std::make_unique<LinkAct>(LinkAct::Kind::Hard);
    case Kind::SymbolicLink: return std::make_unique<LinkAct>(LinkAct::Kind::Symbolic);
    case Kind::RelativeSymbolicLink: return std::make_unique<LinkAct>(LinkAct::Kind::RelativeSymbolic);
    case Kind::ShareBlocks: return std::make_unique<ShareBlocksAct>();
    case Kind::Move: return std::make_unique<MoveAct>(action.Destination, !action.DryRun);
  }
  return nullptr;
}

// Lets the window breathe; false once the user stopped, the window is
// closing, or the results are no longer the ones being worked on.
bool KeepGoing(const ResultsNode* root) {
  ProcessMessages();
  return !ScanContext.StopRequested && !WindowClosing() && ScanContext.ResultsRoot.get() == root;
}

// One group's files: which stay (unticked, or kept for the group) and which
// have left their place.
struct GroupState {
  std::vector<bool> Staying;
  std::vector<bool> Gone;
};

std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('/')); }

// Removes the folders that the files taken away left empty, and the
// folders above them that this leaves empty in turn, up to (never
// including) the listed folder, and never in a reference folder. A folder
// that still holds anything stays.
std::int64_t RemoveEmptiedFolders(FileReacher& reacher, std::set<std::string> pending) {
  std::int64_t removed = 0;
  while (!pending.empty()) {
    // The deepest first: a folder is empty only once its folders are gone.
    const auto deepest = std::max_element(pending.begin(), pending.end(),
                                          [](const auto& a, const auto& b) { return a.size() < b.size(); });
    const std::string folder = *deepest;
    pending.erase(deepest);
    std::string below;
    const int root = reacher.ListedFolderOf(folder, below);
    if (root < 0 || below.empty() || InReferenceFolder(folder + "/")) continue;
    const std::size_t slash = below.rfind('/');
    const std::string parentBelow = slash == std::string::npos ? std::string() : below.substr(0, slash);
    const std::string name = slash == std::string::npos ? below : below.substr(slash + 1);
    platform::Outcome<platform::UniqueFd> parent = platform::OpenDirectoryBeneath(root, parentBelow);
    if (!parent.Ok() || unlinkat(parent.Value().Get(), name.c_str(), AT_REMOVEDIR) != 0) continue;
    ++removed;
    AddLogEntry(LogInfo, "Empty folder removed", folder + "/");
    if (!parentBelow.empty()) pending.insert(FolderOf(folder));
  }
  return removed;
}

}  // namespace

bool TakesFilesAway(ActionKind kind) { return kind == Kind::Trash || kind == Kind::Move; }

ActPlan PlanTicked() {
  ActPlan plan;
  if (!ScanContext.ResultsRoot) return plan;
  const auto& groups = ScanContext.ResultsRoot->Groups;
  std::vector<std::uint32_t> unticked(groups.size(), 0);
  // A file in a reference folder stays, whatever its tick says, and so does
  // one found changed since the results were saved.
  const auto ticked = [](const SelectionRow& row) { return row.Checked && MayBeTicked(row); };
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

ActSummary ActOnTicked(const ActPlan& plan, const TickedAction& action, ReversibleAct* givenAct) {
  ActSummary summary;
  if (!ScanContext.ResultsRoot) return summary;
  const ActionTexts texts = TextsOf(action);
  const std::string files = CountText(static_cast<std::int64_t>(plan.Files.size()));
  std::optional<ActionJournal> journal;
  if (!action.DryRun) {
    std::string problem;
    journal = ActionJournal::Create(problem);
    if (!journal) {
      AddLogEntry(LogError, texts.Starting + ": nothing was done", "", "No journal to undo it can be kept: " + problem);
      summary.LeftInPlace = static_cast<std::int64_t>(plan.Files.size());
      return summary;
    }
  }
  std::unique_ptr<ReversibleAct> ownAct = givenAct != nullptr ? nullptr : ActFor(action);
  ReversibleAct& act = givenAct != nullptr ? *givenAct : *ownAct;
  if (const auto* move = dynamic_cast<const MoveAct*>(&act); move != nullptr && !move->Problem().empty()) {
    AddLogEntry(LogError, texts.Starting + ": nothing was done", "", move->Problem());
    if (journal) journal->Discard();
    summary.LeftInPlace = static_cast<std::int64_t>(plan.Files.size());
    return summary;
  }

  std::optional<WorkScope> work(std::in_place);
  const ResultsNode* root = ScanContext.ResultsRoot.get();
  const auto& groups = root->Groups;
  std::vector<GroupState> states(groups.size());
  for (std::size_t g = 0; g < groups.size(); ++g) {
    states[g].Staying.assign(groups[g].Files.size(), true);
    states[g].Gone.assign(groups[g].Files.size(), false);
  }
  for (const ActPlan::File& f : plan.Files) states[f.Group].Staying[f.Index] = false;

  AddLogEntry(LogInfo, (action.DryRun ? "Dry run, nothing is changed. " : "") + texts.Starting + ": " + files);
  for (const std::uint32_t g : plan.FirstKept) {
    AddLogEntry(LogWarning, "Every file of its group is ticked: this one stays", groups[g].Files[0],
                "MD5: " + groups[g].Signature);
  }
  FileReacher reacher;
  platform::ByteComparer comparer;
  const auto keepGoing = [root] { return KeepGoing(root); };
  std::set<std::string> leftFolders;
  bool journalFailed = false;
  std::size_t done = 0;
  for (; done < plan.Files.size() && !journalFailed; ++done) {
    if (!KeepGoing(root)) break;
    Display().SetOverallProgress(static_cast<int>(done * 100 / plan.Files.size()));
    const ActPlan::File& f = plan.Files[done];
    const SignatureGroup& group = groups[f.Group];
    const std::string& path = group.Files[f.Index];
    ScanContext.LastOperation = texts.Doing + path;

    ActOutcome outcome =
        ActOnProvenCopy(group, f.Index, states[f.Group].Staying, reacher, act, comparer, keepGoing, action.DryRun);
    if (journal && (outcome.Kind == ActOutcome::Kind::Done || outcome.Kind == ActOutcome::Kind::Stuck)) {
      outcome.Record.Action = texts.Name;
      outcome.Record.Time = std::time(nullptr);
      if (!journal->Append(outcome.Record)) {
        journalFailed = true;
        AddLogEntry(LogError, "The journal could not be written: the action stops here", journal->Path(),
                    SystemErrorText(errno));
      }
    }
    switch (outcome.Kind) {
      case ActOutcome::Kind::Done:
        ++summary.Done;
        summary.DoneBytes += group.Size;
        if (action.DryRun) {
          AddLogEntry(LogInfo, texts.Would, path, "Same bytes as " + outcome.Text);
          break;
        }
        states[f.Group].Gone[f.Index] = true;
        if (TakesFilesAway(action.Kind)) leftFolders.insert(FolderOf(path));
        AddLogEntry(
            LogInfo, texts.Done, path,
            (outcome.Record.Place.empty() || action.Kind == Kind::Trash ? "" : "Now " + outcome.Record.Place + "; ") +
                "Same bytes as " + outcome.Text);
        if (!outcome.LeftBehind.empty()) AddLogEntry(LogWarning, texts.Done, path, outcome.LeftBehind);
        break;
      case ActOutcome::Kind::Stuck:
        // Gone from its place all the same: the results no longer show it.
        states[f.Group].Gone[f.Index] = true;
        ++summary.LeftWithoutProof;
        AddLogEntry(LogError, texts.Stuck, path, outcome.Text);
        break;
      case ActOutcome::Kind::NotDone:
      case ActOutcome::Kind::Stopped:
        ++summary.LeftInPlace;
        AddLogEntry(LogWarning, texts.NotDone, path, outcome.Text);
        break;
    }
  }
  Display().SetOverallProgress(100);
  if (done < plan.Files.size()) {
    summary.LeftInPlace += static_cast<std::int64_t>(plan.Files.size() - done);
    AddLogEntry(LogInfo,
                journalFailed ? "Process stopped: the journal could not be written" : "Process stopped by the user", "",
                "Ticked files not looked at: " + CountText(static_cast<std::int64_t>(plan.Files.size() - done)));
  }
  if (journal) {
    if (summary.Done > 0 || summary.LeftWithoutProof > 0) {
      journal->Sync();
      summary.Journal = journal->Path();
      AddLogEntry(LogInfo, "Journal of this action, to undo it", summary.Journal);
    } else {
      journal->Discard();
    }
  }
  if (action.RemoveEmptiedFolders && !action.DryRun && TakesFilesAway(action.Kind)) {
    summary.FoldersRemoved = RemoveEmptiedFolders(reacher, std::move(leftFolders));
  }
  AddLogEntry(LogInfo,
              (action.DryRun ? texts.AllWould : texts.AllDone) + ": " + CountText(summary.Done) + " (" +
                  FormatSize(static_cast<long double>(summary.DoneBytes)) + ")",
              "", CountText(summary.DoneBytes) + " Bytes");
  if (summary.FoldersRemoved > 0) AddLogEntry(LogInfo, "Empty folders removed: " + CountText(summary.FoldersRemoved));
  if (action.DryRun) AddLogEntry(LogInfo, "Dry run: nothing was changed");
  if (summary.LeftInPlace > 0) {
    AddLogEntry(LogWarningSummary,
                "Ticked files left in place: " + CountText(summary.LeftInPlace) + "... Please see logs above...");
  }
  if (summary.LeftWithoutProof > 0) {
    AddLogEntry(LogErrorSummary,
                texts.AllStuck + ": " + CountText(summary.LeftWithoutProof) + "... Please see logs above...");
  }
  std::vector<std::vector<bool>> leaving(states.size());
  for (std::size_t g = 0; g < states.size(); ++g) leaving[g] = std::move(states[g].Gone);
  if (summary.Done > 0 && !action.DryRun && ScanContext.ResultsRoot.get() == root) RemoveFilesFromResults(leaving);
  work.reset();
  AddLogEntry(LogReady, ReadyText);
  return summary;
}

}  // namespace veldrano
