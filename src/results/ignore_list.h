#pragma once
#include <optional>
#include <string>
#include <vector>

namespace veldrano {

// What the user said is not duplicates (two identical licence files that
// must stay in two projects): left out of this and every later scan's
// results. Kept in the user's data folder ($XDG_DATA_HOME/veldrano, else
// ~/.local/share/veldrano) as ignored.tsv: one line per entry,
//   group TAB signature TAB path TAB path...   (the group as it was)
//   file TAB path
// paths as bytes, escaped as the log escapes them.
struct IgnoredEntry {
  enum class Kind { Group, File };
  Kind Kind = Kind::File;
  std::string Signature;           // Group
  std::vector<std::string> Paths;  // Group: its files, sorted; File: the one path
  bool operator==(const IgnoredEntry&) const = default;
};

// The entries kept; none, with why in problem, when the file cannot be
// read (a missing file is an empty list).
std::optional<std::vector<IgnoredEntry>> LoadIgnoreList(std::string& problem);
// Writes the entries in place of the kept ones (a new file renamed into
// place); false with why in problem.
bool SaveIgnoreList(const std::vector<IgnoredEntry>& entries, std::string& problem);

// The entry for group g of the results, or for file f of it.
IgnoredEntry IgnoreGroupEntry(std::uint32_t g);
IgnoredEntry IgnoreFileEntry(std::uint32_t g, std::uint32_t f);
// Adds entry to the kept list (once) and takes what it names out of the
// results; false, with an error line in the log, when it cannot be kept.
bool Ignore(const IgnoredEntry& entry);

// Takes what the entries name out of the run's results: a group whose
// signature an entry has and all of whose files the entry lists (a copy
// found elsewhere since brings it back), and each file an entry names. The
// run's duplicate totals follow. Returns the files left out.
std::size_t LeaveOutIgnored(const std::vector<IgnoredEntry>& entries);

// A line for the list shown to the user.
std::string DescribeIgnored(const IgnoredEntry& entry);

}  // namespace veldrano
