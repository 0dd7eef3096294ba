#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace veldrano {

// The contents of the two results views: the duplicates tree (root "VESK",
// one group per signature, the files of each group) and the check-box
// selection list (one row per file of the tree).
//
// Plain vectors, so that a million rows stay cheap: a path is held once, in
// its group; a selection row only points at it.

// What the scan found under a path: which file it was (device and inode;
// actions act only on that very file; zero for both: not known), and when
// its contents last changed, as the keep rules compare it.
struct ScannedFile {
  std::uint64_t Device = 0;
  std::uint64_t Inode = 0;
  std::int64_t ModifiedNs = 0;
  bool SameFileAs(const ScannedFile& other) const { return Device == other.Device && Inode == other.Inode; }
};

// A directory a run walked, as it found it at the run's start: actions
// reach every file again from it.
struct ListedFolder {
  std::string Path;  // as listed, ending in "/"
  ScannedFile Id;    // its device and inode
};

// Level 1 of the tree: the files that share one content signature.
struct SignatureGroup {
  std::string Signature;             // 32 upper-case hex digits
  std::int64_t Size = 0;             // bytes, the same for every file
  std::vector<std::string> Files;    // first stored file, then every duplicate in the order found
  std::vector<ScannedFile> Scanned;  // Files[i] as the scan found it
  bool HasReference = false;         // a file of it lies in a reference folder
  // Results read back from a file: for each file found gone or changed
  // since they were saved, why (empty for the others, and when none is).
  // Such a file is shown as such and never acted on.
  std::vector<std::string> Changed;
};

// Why file f of group may no longer be acted on as the results show it,
// or null.
inline const std::string* ChangedSince(const SignatureGroup& group, std::uint32_t f) {
  return f < group.Changed.size() && !group.Changed[f].empty() ? &group.Changed[f] : nullptr;
}

// What the processing pass handed on from one folder it walked whole (files
// directly in it, not below): the duplicate folders weigh these against the
// files that have a copy elsewhere, since the results hold only duplicates.
struct FolderTally {
  std::string Path;  // as walked, ending in "/"
  std::int64_t Files = 0;
  long double Bytes = 0;  // a sum of sizes, which a 64-bit count may not hold
  bool Whole = true;      // false: its listing broke off, or a folder in it could not be walked
};

// Level 0 of the tree: the root "VESK" and its groups, in the order found.
struct ResultsNode {
  static constexpr std::string_view Text = "VESK";
  std::vector<SignatureGroup> Groups;
  // Signature -> index into Groups, so that finding a group does not grow
  // with their number; asked by any view of a signature, without a copy.
  struct SignatureHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view signature) const { return std::hash<std::string_view>{}(signature); }
  };
  std::unordered_map<std::string, std::uint32_t, SignatureHash, std::equal_to<>> GroupIndex;
  // The signatures of the groups found only inside reference folders: no
  // duplicates for the user, left out unless a file elsewhere joins them.
  std::unordered_set<std::string> ReferenceOnly;
};

// One row of the selection list: columns MD5, Size and Path come from the
// file it points at; the check box is the user's.
struct SelectionRow {
  std::uint32_t Group = 0;
  std::uint32_t File = 0;
  bool Checked = false;
};

// Records that path (the file id) has the content (signature, size) of
// firstPath (firstId), which was met earlier in the run; adds to the run's
// duplicate totals what could go: every file of a group but one, and none
// of a reference folder. Two files of reference folders make no group
// (ReferenceOnly) until a file elsewhere has their content.
void RecordDuplicate(const std::string& signature, const std::string& path, const ScannedFile& id,
                     const std::string& firstPath, const ScannedFile& firstId, std::int64_t size);
// The same, with the files' identities read now (not following links).
void RecordDuplicate(const std::string& signature, const std::string& path, const std::string& firstPath,
                     std::int64_t size);

// Creates the tree's root "VESK" unless it exists.
void EnsureResultsRoot();

// Empties the tree (no root left), the selection list and the folder tallies.
void ClearResults();

// Takes the files marked in leaving (leaving[group][file]) out of the tree
// and the list (and out of their folders' tallies, as no longer there). A
// group left with fewer than two files leaves both whole.
// Groups and rows keep their order; groups are numbered afresh.
void RemoveFilesFromResults(const std::vector<std::vector<bool>>& leaving);

// The group of a signature (exact, case-sensitive), or none.
std::optional<std::uint32_t> FindSignatureGroup(std::string_view signature);
// Whether the signature has a group (the window does not run meanwhile).
bool HasSignatureGroup(const std::string& signature);

// A node of the tree: level 0 the root, 1 a group, 2 a file of a group.
struct TreeNodeRef {
  int Level = 0;
  std::uint32_t Group = 0;
  std::uint32_t File = 0;
  bool operator==(const TreeNodeRef&) const = default;
};

// The first node in tree order (each node before its children) whose text
// equals text with the letters a-z taken as upper case; none if there is
// none or the tree is empty.
std::optional<TreeNodeRef> FindTreeNode(std::string_view text);

// Whether the file of row may be ticked and acted on: not in a reference
// folder, not found changed since its results were saved.
bool MayBeTicked(const SelectionRow& row);

// Accessors for the views and the exports.
const SignatureGroup& GroupOf(const SelectionRow& row);
const std::string& PathOf(const SelectionRow& row);
// The Size column: the size with a blank between groups of three digits.
std::string SizeTextOf(const SelectionRow& row);

}  // namespace veldrano
