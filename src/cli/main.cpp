// veldrano-scan: the scan of the desktop program without its window.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/terminal_window.h"
#include "export/csv_export.h"
#include "export/folders_export.h"
#include "export/xml_export.h"
#include "platform/private_directory.h"
#include "platform/system_error.h"
#include "program_info.h"
#include "results/action_journal.h"
#include "results/keep_rules.h"
#include "results/saved_results.h"
#include "results/ticked_action.h"
#include "results/undo_action.h"
#include "scan/directory_list.h"
#include "scan/path_helpers.h"
#include "scan/scan_context.h"
#include "scan/scan_driver.h"
#include "scan/scan_filters.h"
#include "scan/scan_scopes.h"
#include "signature/hash_cache.h"

namespace {

constexpr const char* Usage =
    "Usage: veldrano-scan [OPTION]... DIR...\n"
    "Finds identical files in the directories DIR by comparing their contents.\n"
    "\n"
    "Each activity-log entry is written to standard output as one line: the\n"
    "columns Time, Information, Name and Comment joined by TAB (TAB, line breaks\n"
    "and backslashes inside a column are written as \\t, \\n, \\r and \\\\, other\n"
    "control characters as \\x and two hexadecimal digits, ESC as \\x1b).\n"
    "Progress is shown on standard error when it is a terminal. Ctrl-C, SIGTERM\n"
    "and SIGHUP stop the scan the way the Stop button does; the results found so\n"
    "far are kept and exported. A listed directory that cannot be scanned is\n"
    "named on standard error, and the others are scanned.\n"
    "\n"
    "  --csv FILE           write every row of the results list to FILE\n"
    "  --csv-selected FILE  write the ticked rows (every duplicate but the first\n"
    "                       file of its group) to FILE\n"
    "  --xml FILE           write the results tree to FILE as XML\n"
    "  --save-results FILE  save the results with their ticks to FILE, to open\n"
    "                       later in the window (File, Open results...)\n"
    "  --folders FILE       write the duplicate folders to FILE: the folders whose\n"
    "                       every file (in them or below) has a copy outside\n"
    "                       them, only the highest of nested ones; after a\n"
    "                       header line, one line per folder, TAB-separated:\n"
    "                       folder, files, bytes, the folder holding a copy of\n"
    "                       every file (empty if none), then the folders holding\n"
    "                       the copies, most files first; names escaped as in\n"
    "                       the log\n"
    "  --reference DIR      the files in DIR (one of the directories to scan, or\n"
    "                       a directory inside one; repeatable) may be the copy\n"
    "                       that stays but are never ticked nor moved; groups\n"
    "                       found only inside reference directories are left out\n"
    "  --keep RULES         tick every file of a group but the one RULES keep:\n"
    "                       criteria joined by \",\", the first that tells two\n"
    "                       files apart decides, then the first found (files in\n"
    "                       reference directories always win first):\n"
    "                         under:DIR (a file under DIR), path:GLOB,\n"
    "                         not-path:GLOB (a shell pattern on the whole path),\n"
    "                         oldest, newest, shortest-path, longest-path,\n"
    "                         shortest-name, longest-name, shallowest, deepest,\n"
    "                         no-copy-marker, copy-marker (\" (1)\", \" - Copy\",\n"
    "                         \"copy of\", \"~\" in the name)\n"
    "\n"
    "What is done with the ticked files (one of these; each file is acted on\n"
    "only after its bytes were compared with those of a file of its group that\n"
    "stays, one log line each; nothing is done when the scan did not reach its\n"
    "end or an export failed; each action keeps a journal to undo it in\n"
    "$XDG_STATE_HOME/veldrano, else ~/.local/state/veldrano):\n"
    "  --trash-ticked       move them to the desktop's Trash\n"
    "  --link-ticked KIND   replace each with a link to the copy that stays:\n"
    "                       hard (same file system only; the path then shows\n"
    "                       the copy's owner, mode and times), symbolic (to\n"
    "                       the copy's absolute path) or relative (a symbolic\n"
    "                       link relative to the file's folder)\n"
    "  --share-ticked       let each share its blocks with the copy that stays,\n"
    "                       both staying separate files (btrfs, XFS; the\n"
    "                       kernel compares the bytes again; nothing to undo)\n"
    "  --move-ticked DIR    move them into DIR, keeping their path below the\n"
    "                       directory scanned (DIR/<its name>/<path>), never\n"
    "                       over a file there\n"
    "  --remove-empty-folders\n"
    "                       then remove the folders the Trash or the move left\n"
    "                       empty (never a directory scanned)\n"
    "  --dry-run            prove and tell what the action would do, one line\n"
    "                       per file and the totals, and change nothing\n"
    "  --undo JOURNAL       scan nothing: put back what the action recorded in\n"
    "                       JOURNAL did, where possible (a file out of the Trash,\n"
    "                       a link made a separate copy again, a moved file moved\n"
    "                       back), never over a file that is there now\n"
    "  --undo-last          the same with the newest journal left to undo\n"
    "\n"
    "What is not scanned (every filter is applied before anything is counted):\n"
    "  --min-size SIZE      leave out files smaller than SIZE: bytes, or with a\n"
    "                       unit k, M, G or T, each 1024 times the one before\n"
    "                       (10k, 4M, 1.5G)\n"
    "  --max-size SIZE      leave out files larger than SIZE\n"
    "  --exclude PATTERN    leave out the files PATTERN matches (repeatable)\n"
    "  --exclude-dir PATTERN\n"
    "                       do not enter the folders PATTERN matches (repeatable)\n"
    "                       patterns are shell globs (*, ?, [...]) on the name,\n"
    "                       or on the whole path when they hold a \"/\" (there\n"
    "                       \"*\" matches \"/\" too)\n"
    "  --regex              patterns are POSIX extended regular expressions,\n"
    "                       found anywhere in the name or path unless anchored\n"
    "  --skip-hidden        leave out files and folders whose names begin with \".\"\n"
    "  --no-ignore          show what was marked \"not duplicates\" in the window too\n"
    "                       (it is left out by default)\n"
    "  --one-file-system    do not enter other file systems mounted inside a\n"
    "                       directory to scan\n"
    "\n"
    "Hashes kept across scans:\n"
    "  --no-cache           neither reuse nor keep the hashes of earlier scans\n"
    "  --clear-cache        empty the cache of hashes first (without a DIR: only\n"
    "                       that)\n"
    "                       the hashes of the files read are kept in\n"
    "                       $XDG_CACHE_HOME/veldrano/ (else ~/.cache/veldrano/),\n"
    "                       readable by this user only, so that a file unchanged\n"
    "                       since (the same device, inode, size, modification\n"
    "                       and change times) is not read again; at most\n"
    "                       1 000 000 files, forgotten after 90 days unused;\n"
    "                       files are still compared byte by byte before any\n"
    "                       is moved\n"
    "\n"
    "  --help               show this help and exit\n"
    "  --version            show the version and exit\n"
    "\n"
    "Examples:\n"
    "  veldrano-scan --reference ~/Pictures --trash-ticked ~/Pictures ~/Downloads\n"
    "      moves every copy in ~/Downloads of a picture in ~/Pictures to the Trash\n"
    "  veldrano-scan --keep under:~/Pictures,not-path:'*/Backup*/*',oldest \\\n"
    "      --csv-selected ticked.csv ~\n"
    "      lists every copy but the one in ~/Pictures, else outside a Backup\n"
    "      folder, else the oldest\n"
    "  veldrano-scan --min-size 1M --exclude-dir .git --exclude-dir node_modules ~/src\n"
    "      finds copies of 1 MiB and more, outside Git folders and node_modules\n"
    "  veldrano-scan --regex --exclude '\\.(tmp|part)$' --skip-hidden ~/Downloads\n"
    "      leaves out hidden files and folders and names ending in .tmp or .part\n"
    "\n"
    "A scan that outgrows its memory keeps the rest in a work directory of its\n"
    "own in TMPDIR (default /tmp), removed at its end; those work directories\n"
    "are the only part of the temporary directory that is not scanned.\n"
    "\n"
    "Exit status:\n"
    "  0  the scan reached its end and everything asked for was done\n"
    "  1  a listed directory could not be scanned, the scan ended on a failure,\n"
    "     an export or standard output could not be written, or a ticked file\n"
    "     stayed in place, or was left acted on without proof (an action), or a\n"
    "     file could not be put back (--undo)\n"
    "  2  a usage error: an unknown or repeated option, a missing file name, an\n"
    "     invalid size or pattern, no directory\n"
    "  3  the scan was stopped (Ctrl-C, SIGTERM, SIGHUP); the exports hold what\n"
    "     was found until then, and no ticked file was acted on\n";

struct Options {
  std::vector<std::string> directories;
  std::vector<std::string> references;
  std::string csv, csvSelected, xml, saveResults, folders;
  std::optional<veldrano::KeepRules> keep;
  bool noIgnore = false;
  bool trashTicked = false, shareTicked = false, removeEmptyFolders = false, dryRun = false, undoLast = false;
  std::string linkTicked, moveTicked, undo;
  bool noCache = false, clearCache = false;
  veldrano::ScanFilters filters;
};

// What an option's value is, for the message when it is missing.
std::string WhatItNeeds(const std::string& option) {
  if (option == "--link-ticked") return "hard, symbolic or relative";
  if (option == "--move-ticked") return "a directory";
  if (option == "--undo") return "a journal";
  return "a file name";
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "veldrano-scan: %s (try --help)\n", message.c_str());
  return 2;
}

// Reads the command line; returns -1 to go on, else the exit status, with
// in writeError the error met writing the help to standard output (0 if
// none).
int ParseArguments(int argc, char** argv, Options& options, int& writeError) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      options.directories.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "--help") {
      // Longer than the stream's buffer: written at once, so a failure is
      // met here and its errno would be gone by the final flush.
      errno = 0;
      if (std::fputs(Usage, stdout) == EOF) writeError = errno != 0 ? errno : EIO;
      return 0;
    }
    if (arg == "--version") {
      std::printf("veldrano-scan %s\n", veldrano::ProgramVersion);
      return 0;
    }
    // The switches: a second one is as much a mistake as a second file.
    bool* const flag = arg == "--trash-ticked"           ? &options.trashTicked
                       : arg == "--share-ticked"         ? &options.shareTicked
                       : arg == "--remove-empty-folders" ? &options.removeEmptyFolders
                       : arg == "--dry-run"              ? &options.dryRun
                       : arg == "--undo-last"            ? &options.undoLast
                       : arg == "--no-ignore"            ? &options.noIgnore
                       : arg == "--no-cache"             ? &options.noCache
                       : arg == "--clear-cache"          ? &options.clearCache
                       : arg == "--skip-hidden"          ? &options.filters.SkipHidden
                       : arg == "--one-file-system"      ? &options.filters.OneFileSystem
                       : arg == "--regex"                ? &options.filters.RegexMode
                                                         : nullptr;
    if (flag != nullptr) {
      if (*flag) return UsageError("option " + arg + " given twice");
      *flag = true;
      continue;
    }
    std::string* target = nullptr;
    std::string name = arg, value;
    bool hasValue = false;
    if (const auto equals = arg.find('='); equals != std::string::npos) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
      hasValue = true;
    }
    if (name == "--reference" || name == "--keep") {
      if (!hasValue) {
        if (i + 1 >= argc)
          return UsageError("option " + name + " needs " + (name == "--keep" ? "rules" : "a directory"));
        value = argv[++i];
      }
      if (name == "--reference") {
        if (value.empty()) return UsageError("option --reference needs a directory");
        options.references.push_back(value);
        continue;
      }
      if (options.keep) return UsageError("option --keep given twice");
      std::string problem;
      options.keep = veldrano::ParseKeepRules(value, problem);
      if (!options.keep) return UsageError("--keep " + value + ": " + problem);
      continue;
    }
    if (name == "--min-size" || name == "--max-size" || name == "--exclude" || name == "--exclude-dir") {
      const bool size = name.ends_with("-size");
      if (!hasValue) {
        if (i + 1 >= argc) return UsageError("option " + name + " needs " + (size ? "a size" : "a pattern"));
        value = argv[++i];
      }
      if (!size) {
        // Checked once every option is read: --regex may come later.
        (name == "--exclude" ? options.filters.ExcludedFiles : options.filters.ExcludedFolders).push_back(value);
        continue;
      }
      std::optional<std::uint64_t>& bound = name == "--min-size" ? options.filters.MinSize : options.filters.MaxSize;
      if (bound) return UsageError("option " + name + " given twice");
      std::string problem;
      bound = veldrano::ParseSize(value, problem);
      if (!bound) return UsageError(name + " " + value + ": " + problem);
      continue;
    }
    if (name == "--csv") target = &options.csv;
    if (name == "--csv-selected") target = &options.csvSelected;
    if (name == "--xml") target = &options.xml;
    if (name == "--save-results") target = &options.saveResults;
    if (name == "--folders") target = &options.folders;
    if (name == "--link-ticked") target = &options.linkTicked;
    if (name == "--move-ticked") target = &options.moveTicked;
    if (name == "--undo") target = &options.undo;
    if (target == nullptr) return UsageError("unknown option: " + arg);
    if (!hasValue) {
      if (i + 1 >= argc) return UsageError("option " + name + " needs " + WhatItNeeds(name));
      value = argv[++i];
    }
    if (value.empty()) return UsageError("option " + name + " needs " + WhatItNeeds(name));
    // A second one would silently drop the first.
    if (!target->empty()) return UsageError("option " + name + " given twice");
    *target = value;
  }
  for (const auto& [name, patterns] : {std::pair{"--exclude", &options.filters.ExcludedFiles},
                                       std::pair{"--exclude-dir", &options.filters.ExcludedFolders}}) {
    for (const std::string& pattern : *patterns) {
      const std::string problem = veldrano::PatternProblem(pattern, options.filters.RegexMode);
      if (!problem.empty()) return UsageError(std::string(name) + " " + pattern + ": " + problem);
    }
  }
  if (const std::string problem = veldrano::FiltersProblem(options.filters); !problem.empty()) {
    return UsageError(problem);
  }
  if (!options.linkTicked.empty() && options.linkTicked != "hard" && options.linkTicked != "symbolic" &&
      options.linkTicked != "relative") {
    return UsageError("--link-ticked " + options.linkTicked + ": hard, symbolic or relative");
  }
  const int actions = int{options.trashTicked} + int{options.shareTicked} + int{!options.linkTicked.empty()} +
                      int{!options.moveTicked.empty()};
  if (actions > 1) return UsageError("only one of --trash-ticked, --link-ticked, --share-ticked and --move-ticked");
  if (options.dryRun && actions == 0) return UsageError("--dry-run needs an action on the ticked files");
  if (options.removeEmptyFolders && !options.trashTicked && options.moveTicked.empty()) {
    return UsageError("--remove-empty-folders goes with --trash-ticked or --move-ticked");
  }
  if (!options.undo.empty() || options.undoLast) {
    if (!options.undo.empty() && options.undoLast) return UsageError("--undo and --undo-last together");
    if (actions > 0 || !options.directories.empty()) return UsageError("--undo scans nothing and does nothing else");
    return -1;
  }
  if (options.directories.empty() && !options.clearCache) return UsageError("no directory to scan");
  return -1;
}

// The exit statuses (see Usage).
constexpr int Success = 0, Failure = 1, Stopped = 3;

// status, unless what was written to standard output did not all reach it
// (a full disk, a reader gone): then at least 1, with the reason on
// standard error. writeError: an error already met on standard output, 0
// if none.
int ExitStatus(int status, int writeError = 0) {
  errno = 0;
  if (writeError == 0 && (std::fflush(stdout) != 0 || std::ferror(stdout) != 0)) writeError = errno != 0 ? errno : EIO;
  if (writeError == 0) return status;
  std::fprintf(stderr, "veldrano-scan: cannot write standard output: %s\n",
               veldrano::SystemErrorText(writeError).c_str());
  return status == Success ? Failure : status;
}

// Whether the directory can be listed: it is opened, never waited on (a
// FIFO is not a directory and is not opened), and closed again. The reason
// goes to standard error when it cannot.
bool CanScan(const std::string& name, const std::string& directory) {
  const veldrano::platform::Outcome<veldrano::platform::UniqueFd> opened = veldrano::platform::OpenDirectory(directory);
  if (opened.Ok()) return true;
  std::fprintf(stderr, "veldrano-scan: cannot scan %s: %s\n", name.c_str(),
               veldrano::SystemErrorText(opened.Error()).c_str());
  return false;
}

// An absolute path without "." and ".." steps, as a file manager drops it.
std::string AbsoluteDirectory(const std::string& name) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(name, error);
  if (error) return name;
  return absolute.lexically_normal().string();
}

// The action the options ask for on the ticked files, if any.
std::optional<veldrano::TickedAction> ActionOf(const Options& options) {
  using veldrano::ActionKind;
  veldrano::TickedAction action;
  if (options.trashTicked) {
    action.Kind = ActionKind::Trash;
  } else if (options.shareTicked) {
    action.Kind = ActionKind::ShareBlocks;
  } else if (!options.moveTicked.empty()) {
    action.Kind = ActionKind::Move;
    action.Destination = AbsoluteDirectory(options.moveTicked);
  } else if (!options.linkTicked.empty()) {
    action.Kind = options.linkTicked == "hard"       ? ActionKind::HardLink
                  : options.linkTicked == "symbolic" ? ActionKind::SymbolicLink
                                                     : ActionKind::RelativeSymbolicLink;
  } else {
    return std::nullopt;
  }
  action.RemoveEmptiedFolders = options.removeEmptyFolders;
  action.DryRun = options.dryRun;
  return action;
}

// Scans the directories of options with the terminal as the window and
// writes the exports; returns the exit status, and in logWriteError the
// error that kept the log from standard output (0 if none). The progress
// line is gone when it returns.
int Scan(const Options& options, int& logWriteError) {
  veldrano::cli::TerminalWindow window(stdout, stderr, isatty(fileno(stderr)) != 0);
  const veldrano::AttachedWindow attached(&window);

  bool skipped = false;
  for (const std::string& name : options.directories) {
    const std::string directory = AbsoluteDirectory(name);
    if (!CanScan(name, directory)) {
      skipped = true;
      continue;
    }
    veldrano::AddDroppedDirectory(window.directories, directory);
  }
  if (window.directories.empty()) return Failure;
  // A reference directory is one of those scanned, or inside one.
  for (const std::string& name : options.references) {
    const std::string directory = veldrano::EnsureTrailingBackslash(AbsoluteDirectory(name));
    const bool scanned = std::ranges::any_of(
        window.directories, [&directory](const std::string& listed) { return directory.starts_with(listed); });
    if (!scanned || !veldrano::IsDirectory(directory)) {
      window.ClearStatus();
      return UsageError("--reference " + name + ": not a directory to scan, nor inside one");
    }
    veldrano::ScanContext.ReferenceFolders.push_back(directory);
  }

  veldrano::ScanContext.Filters = options.filters;
  veldrano::ScanContext.LeaveOutIgnored = !options.noIgnore;
  bool ok = veldrano::sbStartClick();
  if (options.keep) veldrano::TickByKeepRules(*options.keep);
  if (!options.csv.empty()) ok = veldrano::ExportResult2CSV(options.csv, false) && ok;
  if (!options.csvSelected.empty()) ok = veldrano::ExportResult2CSV(options.csvSelected, true) && ok;
  if (!options.xml.empty()) ok = veldrano::ExportResult2XML(options.xml) && ok;
  if (!options.saveResults.empty()) ok = veldrano::SaveResults(options.saveResults) && ok;
  if (!options.folders.empty()) ok = veldrano::ExportDuplicateFolders(options.folders) && ok;
  logWriteError = window.LogWriteError();
  // A request to stop, during the scan or the exports, outweighs the rest:
  // what was found is partial, or was not to be acted on.
  const auto status = [&ok, skipped] {
    return veldrano::ScanContext.StopRequested ? Stopped : ok && !skipped ? Success : Failure;
  };
  if (const std::optional<veldrano::TickedAction> action = ActionOf(options)) {
    // Only a whole scan, on record where asked, is acted on; its log too,
    // which names every file acted on, must have been written.
    const char* refusal = !ok || veldrano::ScanContext.StopRequested
                              ? "the scan did not reach its end or an export failed"
                          : logWriteError != 0 ? "the log could not be written"
                                               : nullptr;
    if (refusal != nullptr) {
      window.ClearStatus();  // the message on a line of its own
      std::fprintf(stderr, "veldrano-scan: %s: %s\n", refusal,
                   options.trashTicked ? "nothing was moved to the Trash" : "no ticked file was acted on");
      ok = false;
      return status();
    }
    const veldrano::ActSummary done = veldrano::ActOnTicked(veldrano::PlanTicked(), *action);
    ok = done.LeftInPlace == 0 && done.LeftWithoutProof == 0;
    logWriteError = window.LogWriteError();
  }
  return status();
}

// Puts back what a journal recorded (--undo, --undo-last).
int Undo(const Options& options, int& logWriteError) {
  veldrano::cli::TerminalWindow window(stdout, stderr, isatty(fileno(stderr)) != 0);
  const veldrano::AttachedWindow attached(&window);
  std::string journal = options.undo;
  if (options.undoLast) {
    std::string problem;
    journal = veldrano::LastJournalToUndo(problem);
    if (journal.empty()) {
      std::fprintf(stderr, "veldrano-scan: no action is left to undo%s%s\n", problem.empty() ? "" : ": ",
                   problem.c_str());
      return Failure;
    }
  }
  const veldrano::UndoSummary undone = veldrano::UndoJournal(journal);
  logWriteError = window.LogWriteError();
  if (undone.Refused) {
    window.ClearStatus();
    std::fprintf(stderr, "veldrano-scan: cannot undo %s\n", journal.c_str());
    return Failure;
  }
  return veldrano::ScanContext.StopRequested ? Stopped : undone.NotPutBack == 0 ? Success : Failure;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  int helpWriteError = 0;
  if (const int status = ParseArguments(argc, argv, options, helpWriteError); status >= 0) {
    return ExitStatus(status, helpWriteError);
  }
  if (options.clearCache) {
    std::string why;
    const std::string folder = veldrano::HashCache::DefaultFolder();
    if (!veldrano::HashCache::Forget(folder, why)) {
      std::fprintf(stderr, "veldrano-scan: cannot empty the cache of hashes %s: %s\n", folder.c_str(), why.c_str());
      return ExitStatus(Failure);
    }
    if (options.directories.empty()) return ExitStatus(Success);
  }
  veldrano::ScanContext.UseHashCache = !options.noCache;
  int logWriteError = 0;
  const int status =
      !options.undo.empty() || options.undoLast ? Undo(options, logWriteError) : Scan(options, logWriteError);
  return ExitStatus(status, logWriteError);
}
