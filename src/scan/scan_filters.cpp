#include "scan/scan_filters.h"

#include <cmath>

#include "report/formatting.h"
#include "scan/filter_matcher.h"

namespace veldrano {

namespace {

constexpr const char* SizeForm = "write a number of bytes with an optional unit k, M, G or T (10k, 4M, 1.5G)";

// The factor of a unit letter; 0 for none.
std::uint64_t UnitFactor(char unit) {
  switch (unit) {
    case 'k':
    case 'K': return 1ULL << 10;
    case 'm':
    case 'M': return 1ULL << 20;
    case 'g':
    case 'G': return 1ULL << 30;
    case 't':
    case 'T': return 1ULL << 40;
    default: return 0;
  }
}

std::string SizeText(std::uint64_t size) {
  const auto value = static_cast<long double>(size);
  if (size < 1024) return FormatSize(value);
  return FormatSize(value) + " (" + FormatCount(' ', value) + " bytes)";
}

std::string Quoted(const std::vector<std::string>& patterns) {
  std::string text;
  for (const std::string& pattern : patterns) text += (text.empty() ? "\"" : ", \"") + pattern + "\"";
  return text;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : " ") + name;
  return text;
}

}  // namespace

bool ScanFilters::Any() const { return *this != ScanFilters{}; }

const std::vector<std::string>& FolderPresetNames(FolderPreset preset) {
  static const std::vector<std::string> versionControl{".git", ".hg", ".svn", ".bzr", "CVS", "_darcs"};
  static const std::vector<std::string> nodeModules{"node_modules"};
  // Folders that only hold what a tool can fetch or make again.
  static const std::vector<std::string> caches{".cache",      "__pycache__", ".pytest_cache",
                                               ".mypy_cache", ".ruff_cache", ".gradle",
                                               ".npm",        ".ccache",     "*/.cargo/registry"};
  switch (preset) {
    case FolderPreset::VersionControl: return versionControl;
    case FolderPreset::NodeModules: return nodeModules;
    case FolderPreset::Caches: break;
  }
  return caches;
}

std::optional<std::uint64_t> ParseSize(std::string_view text, std::string& problem) {
  problem.clear();
  std::size_t at = 0;
  long double number = 0;
  std::size_t digits = 0;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits)
    number = number * 10 + (text[at] - '0');
  if (at < text.size() && text[at] == '.') {
    long double place = 1;
    for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits) {
      place /= 10;
      number += place * (text[at] - '0');
    }
  }
  std::uint64_t factor = 1;
  if (at < text.size() && UnitFactor(text[at]) != 0) factor = UnitFactor(text[at++]);
  std::string_view rest = text.substr(at);
  if (rest == "b" || rest == "B" || (factor > 1 && (rest == "iB" || rest == "ib"))) rest = {};
  if (digits == 0 || !rest.empty()) {
    problem = "not a size: " + std::string(SizeForm);
    return std::nullopt;
  }
  const long double bytes = std::round(number * static_cast<long double>(factor));
  if (bytes > 18446744073709551615.0L) {
    problem = "too large";
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(bytes);
}

std::string WrittenSize(std::uint64_t bytes) {
  for (const char unit : {'T', 'G', 'M', 'k'}) {
    const std::uint64_t factor = UnitFactor(unit);
    if (bytes != 0 && bytes % factor == 0) return std::to_string(bytes / factor) + unit;
  }
  return std::to_string(bytes);
}

std::string PatternProblem(const std::string& pattern, bool regexMode) {
  std::string problem;
  FilterPattern::Make(pattern, regexMode, problem);
  return problem;
}

std::string FiltersProblem(const ScanFilters& filters) {
  if (filters.MinSize && filters.MaxSize && *filters.MinSize > *filters.MaxSize) {
    return "the minimum size " + SizeText(*filters.MinSize) + " is above the maximum size " +
           SizeText(*filters.MaxSize);
  }
  for (const std::string& pattern : filters.ExcludedFolders) {
    if (std::string problem = PatternProblem(pattern, filters.RegexMode); !problem.empty()) {
      return "folder pattern \"" + pattern + "\": " + problem;
    }
  }
  for (const std::string& pattern : filters.ExcludedFiles) {
    if (std::string problem = PatternProblem(pattern, filters.RegexMode); !problem.empty()) {
      return "file pattern \"" + pattern + "\": " + problem;
    }
  }
  return {};
}

std::string DescribeFilters(const ScanFilters& filters) {
  std::vector<std::string> parts;
  if (filters.MinSize) parts.push_back("files of at least " + SizeText(*filters.MinSize));
  if (filters.MaxSize) parts.push_back("files of at most " + SizeText(*filters.MaxSize));
  std::vector<std::string> folders;
  if (filters.SkipVersionControl) {
    folders.push_back("version control (" + Joined(FolderPresetNames(FolderPreset::VersionControl)) + ")");
  }
  if (filters.SkipNodeModules) folders.push_back("node_modules");
  if (filters.SkipCaches) folders.push_back("caches (" + Joined(FolderPresetNames(FolderPreset::Caches)) + ")");
  if (!filters.ExcludedFolders.empty()) folders.push_back(Quoted(filters.ExcludedFolders));
  if (!folders.empty()) {
    std::string text = "folders left out: ";
    for (std::size_t i = 0; i < folders.size(); ++i) text += (i == 0 ? "" : ", ") + folders[i];
    parts.push_back(text);
  }
  if (!filters.ExcludedFiles.empty()) parts.push_back("files left out: " + Quoted(filters.ExcludedFiles));
  if (filters.RegexMode && (!filters.ExcludedFolders.empty() || !filters.ExcludedFiles.empty())) {
    parts.push_back("patterns are regular expressions");
  }
  if (filters.SkipHidden) parts.push_back("hidden files and folders skipped");
  if (filters.OneFileSystem) parts.push_back("one file system per listed directory");
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : "; ") + part;
  return text;
}

}  // namespace veldrano
