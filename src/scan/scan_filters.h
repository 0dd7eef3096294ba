#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veldrano {

// What the user chose not to scan. The walk leaves it out in both passes,
// so that the counts, the percentage and the time left stay true. A listed
// directory itself is always walked: only what lies below it is filtered.
//
// A pattern is matched against the name of a file or folder, or against its
// whole path (without a trailing "/") when it holds a "/". Patterns are
// shell globs ("*", "?", "[...]", "\" quoting the next character; "*"
// matches "/" too and a leading "." like any other character), or, with
// RegexMode, POSIX extended regular expressions that may match anywhere in
// the name or path (anchor them with "^" and "$").
struct ScanFilters {
  std::optional<std::uint64_t> MinSize;      // smaller files are left out
  std::optional<std::uint64_t> MaxSize;      // larger files are left out
  std::vector<std::string> ExcludedFolders;  // folders not entered at all
  std::vector<std::string> ExcludedFiles;    // files neither counted nor processed
  bool RegexMode = false;
  bool SkipHidden = false;     // files and folders whose names begin with "."
  bool OneFileSystem = false;  // stay on the file system of each listed directory
  // Folders left out by name wherever they are (FolderPresetNames).
  bool SkipVersionControl = false;
  bool SkipNodeModules = false;
  bool SkipCaches = false;

  bool operator==(const ScanFilters&) const = default;
  // Whether anything at all is filtered.
  bool Any() const;
};

enum class FolderPreset { VersionControl, NodeModules, Caches };

// The folder names (or, holding a "/", glob patterns on the path) a preset
// leaves out, whatever RegexMode says.
const std::vector<std::string>& FolderPresetNames(FolderPreset preset);

// A size as users write it: a whole or decimal number of bytes with an
// optional unit k, M, G or T (either case, an optional "b" or "iB" after
// it), each 1024 times the one before, as FormatSize counts: "10k" is
// 10 240 bytes, "1.5G" 1 610 612 736. None, with the reason in problem,
// for anything else.
std::optional<std::uint64_t> ParseSize(std::string_view text, std::string& problem);

// A size as ParseSize reads it back exactly, in the largest unit that
// divides it: 10240 is "10k", 1.5 GiB "1536M", 1000 "1000".
std::string WrittenSize(std::uint64_t bytes);

// Why pattern cannot be used (empty when it can).
std::string PatternProblem(const std::string& pattern, bool regexMode);

// Why filters cannot be used, naming the first pattern or size at fault
// (empty when they can).
std::string FiltersProblem(const ScanFilters& filters);

// One line for the log: every filter in force ("" when none is).
std::string DescribeFilters(const ScanFilters& filters);

}  // namespace veldrano
