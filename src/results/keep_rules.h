#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "results/results_model.h"

namespace veldrano {

// Which copy of each group stays: an ordered list of criteria, each with
// its direction. The file that wins stays; ties go to the next criterion,
// then to the file found first. Files in reference folders always win
// first, whatever the list says.
struct KeepCriterion {
  enum class Kind {
    UnderFolders,    // under one of Folders, the earlier the better
    PathMatches,     // the whole path matches Pattern (a shell glob)
    PathNotMatches,  // the whole path does not match Pattern
    Oldest,          // modification time
    Newest,
    ShortestPath,
    LongestPath,
    ShortestName,
    LongestName,
    Shallowest,  // fewest folders in its path
    Deepest,
    WithoutCopyMarker,  // its name has no " (1)", " - Copy", "copy of", "~"
    WithCopyMarker,
  };
  Kind Type = Kind::Oldest;
  std::vector<std::string> Folders;  // UnderFolders: each ending in "/"
  std::string Pattern;               // PathMatches, PathNotMatches
  bool operator==(const KeepCriterion&) const = default;
};

using KeepRules = std::vector<KeepCriterion>;

// What the rules need to know of a file beyond its path.
struct KeepFacts {
  // Whether the file lies in a reference folder.
  std::function<bool(const std::string& path)> InReference;
  // The modification time in nanoseconds of file f of group; none when
  // unknown (never the one kept by a time, unless no file of its group has
  // a time).
  std::function<std::optional<std::int64_t>(const SignatureGroup& group, std::size_t f)> ModifiedAt;
};

// The index of the file that stays in each group of root.
std::vector<std::uint32_t> ChooseKept(const KeepRules& rules, const ResultsNode& root, const KeepFacts& facts);

// The facts as they are: the reference folders of the directory list, and
// the modification times the scan found (read from the file system, without
// following links, for a file the scan did not record).
KeepFacts CurrentFacts();

// Ticks every file of the results but the one the rules keep in its group
// (and those in reference folders).
void TickByKeepRules(const KeepRules& rules, const KeepFacts& facts = CurrentFacts());

// Whether the file name carries a mark of a copy: " (1)" and the like,
// " - Copy", "copy of" (any case), or "~".
bool HasCopyMarker(std::string_view name);

// The written form of rules, criteria joined by ",": under:DIR,
// path:GLOB, not-path:GLOB, oldest, newest, shortest-path, longest-path,
// shortest-name, longest-name, shallowest, deepest, no-copy-marker,
// copy-marker. A value may be put in single quotes (to hold a ","); a
// folder may begin with "~/" for the home folder. Several folders of one
// criterion are written as one under: each, in order.
std::optional<KeepRules> ParseKeepRules(std::string_view text, std::string& problem);
std::string WriteKeepRules(const KeepRules& rules);

}  // namespace veldrano
