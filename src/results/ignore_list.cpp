#include "results/ignore_list.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>

#include "platform/own_file.h"
#include "platform/replacing_file.h"
#include "platform/system_error.h"
#include "platform/user_folders.h"
#include "report/activity_log.h"
#include "report/backslash_escape.h"
#include "report/tab_columns.h"
#include "results/reference_folders.h"
#include "scan/scan_context.h"

namespace veldrano {

namespace {

constexpr char FileName[] = "ignored.tsv";

// The user's folder of the list, open, and the list's path in it.
struct ListPlace {
  platform::UniqueFd Folder;
  std::string Path;
};
std::optional<ListPlace> PlaceOfList(std::string& problem) {
  std::string folder;
  platform::Outcome<platform::UniqueFd> opened =
      platform::OpenProgramFolder("XDG_DATA_HOME", ".local/share", folder, problem);
  if (!opened.Ok()) return std::nullopt;
  return ListPlace{std::move(opened.Value()), folder + "/" + FileName};
}

// What a group or file adds to the run's duplicate totals: every file but
// one, none of a reference folder (the file that stays for a group without
// one is its first).
std::pair<std::int64_t, std::int64_t> Totals() {
  std::int64_t files = 0, bytes = 0;
  if (!ScanContext.ResultsRoot) return {0, 0};
  for (const SignatureGroup& group : ScanContext.ResultsRoot->Groups) {
    const auto references =
        std::ranges::count_if(group.Files, [](const std::string& f) { return InReferenceFolder(f); });
    const std::int64_t count = static_cast<std::int64_t>(group.Files.size()) - references - (references == 0 ? 1 : 0);
    files += count;
    bytes += count * group.Size;
  }
  return {files, bytes};
}

}  // namespace

std::optional<std::vector<IgnoredEntry>> LoadIgnoreList(std::string& problem) {
  const std::optional<ListPlace> place = PlaceOfList(problem);
  if (!place) return std::nullopt;
  const platform::Outcome<platform::UniqueFd> fd = platform::OpenOwnFile(place->Folder.Get(), FileName, O_RDONLY);
  if (!fd.Ok() && fd.Error() == ENOENT) return std::vector<IgnoredEntry>{};
  std::string bytes;
  if (!fd.Ok() || !platform::ReadToEnd(fd.Value().Get(), bytes)) {
    problem = !fd.Ok() && fd.Error() == EPERM
                  ? place->Path + " is not a file of this user"
                  : "Can not read " + place->Path + ": " + SystemErrorText(fd.Ok() ? errno : fd.Error());
    return std::nullopt;
  }
  std::vector<IgnoredEntry> entries;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    const std::vector<std::string_view> columns = TabColumns(std::string_view(bytes).substr(start, end - start));
    start = end + 1;
    IgnoredEntry entry;
    bool good = columns.size() >= 2;
    for (std::size_t k = columns[0] == "group" ? 2 : 1; good && k < columns.size(); ++k) {
      const std::optional<std::string> path = BackslashUnescape(columns[k]);
      good = path.has_value();
      if (good) entry.Paths.push_back(*path);
    }
    if (good && columns[0] == "group" && columns.size() >= 4) {
      entry.Kind = IgnoredEntry::Kind::Group;
      entry.Signature = std::string(columns[1]);
    } else if (!good || columns[0] != "file" || columns.size() != 2) {
      continue;  // a line of a later version, or damaged: left out
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

bool SaveIgnoreList(const std::vector<IgnoredEntry>& entries, std::string& problem) {
  const std::optional<ListPlace> place = PlaceOfList(problem);
  if (!place) return false;
  platform::ReplacingFile file(place->Path);
  for (const IgnoredEntry& entry : entries) {
    std::string line = entry.Kind == IgnoredEntry::Kind::Group ? "group" : "file";
    if (entry.Kind == IgnoredEntry::Kind::Group) line.append("\t").append(entry.Signature);
    for (const std::string& p : entry.Paths) line.append("\t").append(BackslashEscape(p, true));
    line += '\n';
    file.Write(line);
  }
  if (!file.Commit()) {
    problem = "Can not write " + place->Path + ": " + SystemErrorText(file.Error());
    return false;
  }
  return true;
}

IgnoredEntry IgnoreGroupEntry(std::uint32_t g) {
  const SignatureGroup& group = ScanContext.ResultsRoot->Groups[g];
  IgnoredEntry entry{IgnoredEntry::Kind::Group, group.Signature, group.Files};
  std::ranges::sort(entry.Paths);
  return entry;
}

IgnoredEntry IgnoreFileEntry(std::uint32_t g, std::uint32_t f) {
  return {IgnoredEntry::Kind::File, {}, {ScanContext.ResultsRoot->Groups[g].Files[f]}};
}

bool Ignore(const IgnoredEntry& entry) {
  std::string problem;
  std::optional<std::vector<IgnoredEntry>> entries = LoadIgnoreList(problem);
  if (entries && std::ranges::find(*entries, entry) == entries->end()) {
    entries->push_back(entry);
    if (!SaveIgnoreList(*entries, problem)) entries.reset();
  }
  if (!entries) {
    AddLogEntry(LogError, "Can not keep the list of what is not duplicates", "", problem);
    return false;
  }
  const std::size_t left = LeaveOutIgnored({entry});
  AddLogEntry(LogInfo, "Left out as not duplicates from now on", DescribeIgnored(entry),
              std::to_string(left) + (left == 1 ? " file" : " files"));
  return true;
}

std::size_t LeaveOutIgnored(const std::vector<IgnoredEntry>& entries) {
  if (!ScanContext.ResultsRoot || entries.empty()) return 0;
  std::set<std::string> files;
  std::set<std::pair<std::string, std::vector<std::string>>> groups;
  for (const IgnoredEntry& entry : entries) {
    if (entry.Kind == IgnoredEntry::Kind::File) files.insert(entry.Paths[0]);
    if (entry.Kind == IgnoredEntry::Kind::Group) groups.insert({entry.Signature, entry.Paths});
  }
  const auto& all = ScanContext.ResultsRoot->Groups;
  std::vector<std::vector<bool>> leaving(all.size());
  std::size_t left = 0;
  for (std::size_t g = 0; g < all.size(); ++g) {
    leaving[g].assign(all[g].Files.size(), false);
    bool wholeGroup = false;
    for (const auto& [signature, paths] : groups) {
      if (signature != all[g].Signature) continue;
      wholeGroup = std::ranges::all_of(all[g].Files,
                                       [&paths](const std::string& f) { return std::ranges::binary_search(paths, f); });
      if (wholeGroup) break;
    }
    for (std::size_t f = 0; f < all[g].Files.size(); ++f) {
      if (wholeGroup || files.contains(all[g].Files[f])) leaving[g][f] = true;
    }
    // A group left with one file goes whole.
    const auto staying = std::ranges::count(leaving[g], false);
    if (staying < 2) leaving[g].assign(all[g].Files.size(), true);
    left += static_cast<std::size_t>(std::ranges::count(leaving[g], true));
  }
  if (left == 0) return 0;
  const auto [filesBefore, bytesBefore] = Totals();
  RemoveFilesFromResults(leaving);
  const auto [filesAfter, bytesAfter] = Totals();
  ScanContext.DuplicateFiles -= filesBefore - filesAfter;
  ScanContext.RecoverableBytes -= bytesBefore - bytesAfter;
  return left;
}

std::string DescribeIgnored(const IgnoredEntry& entry) {
  if (entry.Kind == IgnoredEntry::Kind::File) return entry.Paths[0];
  std::string text = "MD5 " + entry.Signature + ":";
  for (const std::string& path : entry.Paths) text += " " + path;
  return text;
}

}  // namespace veldrano
