#include "scan/filter_matcher.h"

#include <fnmatch.h>

#include <algorithm>

namespace veldrano {

namespace {

// Why a glob is malformed (empty when it is not): fnmatch would take a lone
// "[" or a trailing "\" literally, so the pattern would not do what it shows.
std::string GlobProblem(const std::string& glob) {
  for (std::size_t at = 0; at < glob.size(); ++at) {
    if (glob[at] == '\\') {
      if (++at == glob.size()) return "it ends in a lone \"\\\"";
    } else if (glob[at] == '[') {
      std::size_t end = at + 1;
      if (end < glob.size() && (glob[end] == '!' || glob[end] == '^')) ++end;
      if (end < glob.size() && glob[end] == ']') ++end;  // a "]" first is itself
      for (; end < glob.size() && glob[end] != ']'; ++end) {
        // "[:alpha:]" and the like inside the brackets.
        if (glob[end] == '[' && end + 1 < glob.size() &&
            (glob[end + 1] == ':' || glob[end + 1] == '.' || glob[end + 1] == '=')) {
          const std::size_t close = glob.find(std::string{glob[end + 1], ']'}, end + 2);
          if (close == std::string::npos) return "a \"" + glob.substr(end, 2) + "\" is not closed";
          end = close + 1;
        }
      }
      if (end >= glob.size()) return "a \"[\" is not closed by \"]\" (write \"[[]\" for a \"[\" itself)";
      at = end;
    }
  }
  return {};
}

}  // namespace

std::optional<FilterPattern> FilterPattern::Make(const std::string& text, bool regexMode, std::string& problem) {
  problem.clear();
  if (text.empty()) {
    problem = "an empty pattern";
    return std::nullopt;
  }
  FilterPattern pattern;
  pattern.onPath_ = text.find('/') != std::string::npos;
  if (!regexMode) {
    if (pattern.onPath_ && text.back() == '/') {
      problem = "it ends in \"/\", which no path does";
    } else {
      problem = GlobProblem(text);
    }
    if (!problem.empty()) return std::nullopt;
    pattern.glob_ = text;
    return pattern;
  }
  auto compiled = std::make_unique<regex_t>();
  if (const int error = regcomp(compiled.get(), text.c_str(), REG_EXTENDED | REG_NOSUB); error != 0) {
    char reason[256];
    regerror(error, compiled.get(), reason, sizeof reason);
    problem = reason;  // a failed regcomp leaves nothing to free
    return std::nullopt;
  }
  pattern.regex_ = std::shared_ptr<const regex_t>(compiled.release(), [](const regex_t* r) {
    regfree(const_cast<regex_t*>(r));
    delete r;
  });
  return pattern;
}

bool FilterPattern::Matches(const std::string& subject) const {
  if (regex_) return regexec(regex_.get(), subject.c_str(), 0, nullptr, 0) == 0;
  return fnmatch(glob_.c_str(), subject.c_str(), 0) == 0;
}

std::shared_ptr<const FilterMatcher> FilterMatcher::Make(const ScanFilters& filters, std::string& problem) {
  problem = FiltersProblem(filters);
  if (!problem.empty()) return nullptr;
  auto matcher = std::make_shared<FilterMatcher>();
  matcher->minSize_ = filters.MinSize.value_or(0);
  matcher->maxSize_ = filters.MaxSize.value_or(UINT64_MAX);
  matcher->skipHidden_ = filters.SkipHidden;
  matcher->oneFileSystem_ = filters.OneFileSystem;
  std::string ignored;
  const auto addPreset = [&](bool ticked, FolderPreset preset) {
    if (!ticked) return;
    for (const std::string& name : FolderPresetNames(preset)) {
      if (name.find('/') == std::string::npos) {
        matcher->folderNames_.push_back(name);
      } else {
        matcher->folderPatterns_.push_back(*FilterPattern::Make(name, false, ignored));
      }
    }
  };
  addPreset(filters.SkipVersionControl, FolderPreset::VersionControl);
  addPreset(filters.SkipNodeModules, FolderPreset::NodeModules);
  addPreset(filters.SkipCaches, FolderPreset::Caches);
  for (const std::string& text : filters.ExcludedFolders) {
    matcher->folderPatterns_.push_back(*FilterPattern::Make(text, filters.RegexMode, ignored));
  }
  for (const std::string& text : filters.ExcludedFiles) {
    matcher->filePatterns_.push_back(*FilterPattern::Make(text, filters.RegexMode, ignored));
  }
  const auto onPath = [](const FilterPattern& p) { return p.OnPath(); };
  matcher->folderPathNeeded_ = std::ranges::any_of(matcher->folderPatterns_, onPath);
  matcher->filePathNeeded_ = std::ranges::any_of(matcher->filePatterns_, onPath);
  return matcher;
}

bool FilterMatcher::AnyMatches(const std::vector<FilterPattern>& patterns, bool pathNeeded, const std::string& parent,
                               const std::string& name) {
  if (patterns.empty()) return false;
  // Without the trailing "/": a folder's path is written like a file's.
  const std::string path = pathNeeded ? parent + name : std::string();
  return std::ranges::any_of(patterns, [&](const FilterPattern& p) { return p.Matches(p.OnPath() ? path : name); });
}

bool FilterMatcher::LeavesOutFolder(const std::string& parent, const std::string& name) const {
  if (skipHidden_ && name.starts_with('.')) return true;
  if (std::ranges::find(folderNames_, name) != folderNames_.end()) return true;
  return AnyMatches(folderPatterns_, folderPathNeeded_, parent, name);
}

bool FilterMatcher::LeavesOutFile(const std::string& parent, const std::string& name, std::uint64_t size) const {
  if (size < minSize_ || size > maxSize_) return true;
  if (skipHidden_ && name.starts_with('.')) return true;
  return AnyMatches(filePatterns_, filePathNeeded_, parent, name);
}

}  // namespace veldrano
