#pragma once
#include <regex.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "scan/scan_filters.h"

namespace veldrano {

// One pattern of ScanFilters, ready to match: a shell glob (fnmatch) or a
// POSIX extended regular expression, on a name or, when it holds a "/", on
// a whole path.
class FilterPattern {
 public:
  // None, with the reason in problem, when text cannot be used.
  static std::optional<FilterPattern> Make(const std::string& text, bool regexMode, std::string& problem);

  bool OnPath() const { return onPath_; }
  bool Matches(const std::string& subject) const;

 private:
  std::string glob_;
  std::shared_ptr<const regex_t> regex_;  // none for a glob
  bool onPath_ = false;
};

// The filters of a run, compiled once before its walks.
class FilterMatcher {
 public:
  // None, with the reason in problem, when a pattern or size cannot be used.
  static std::shared_ptr<const FilterMatcher> Make(const ScanFilters& filters, std::string& problem);

  bool OneFileSystem() const { return oneFileSystem_; }
  // Whether the folder or file name, listed in parent (ending in "/"), is
  // left out. The path is formed only when a pattern needs it.
  bool LeavesOutFolder(const std::string& parent, const std::string& name) const;
  bool LeavesOutFile(const std::string& parent, const std::string& name, std::uint64_t size) const;

 private:
  static bool AnyMatches(const std::vector<FilterPattern>& patterns, bool pathNeeded, const std::string& parent,
                         const std::string& name);

  std::uint64_t minSize_ = 0;
  std::uint64_t maxSize_ = UINT64_MAX;
  bool skipHidden_ = false;
  bool oneFileSystem_ = false;
  std::vector<std::string> folderNames_;  // left out by their exact name
  std::vector<FilterPattern> folderPatterns_;
  std::vector<FilterPattern> filePatterns_;
  bool folderPathNeeded_ = false;
  bool filePathNeeded_ = false;
};

}  // namespace veldrano
