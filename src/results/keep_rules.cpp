#include "results/keep_rules.h"

#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include "platform/file_times.h"
#include "results/reference_folders.h"
#include "results/tick_rules.h"
#include "scan/scan_context.h"
#include "scan/scan_filters.h"

namespace veldrano {

namespace {

using Kind = KeepCriterion::Kind;

std::string_view NameOf(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool ContainsIgnoringCase(std::string_view text, std::string_view part) {
  return std::search(text.begin(), text.end(), part.begin(), part.end(), [](char a, char b) {
           return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
         }) != text.end();
}

// " (1)", " (23)": a number in brackets after a blank, as file managers
// name a second copy.
bool HasNumberedCopy(std::string_view name) {
  for (std::size_t open = name.find(" ("); open != std::string_view::npos; open = name.find(" (", open + 1)) {
    std::size_t end = open + 2;
    while (end < name.size() && std::isdigit(static_cast<unsigned char>(name[end])) != 0) ++end;
    if (end > open + 2 && end < name.size() && name[end] == ')') return true;
  }
  return false;
}

// A criterion's score of one file: lower is better.
std::int64_t Score(const KeepCriterion& criterion, const SignatureGroup& group, std::size_t f, const KeepFacts& facts) {
  const std::string& path = group.Files[f];
  const auto flag = [](bool better) -> std::int64_t { return better ? 0 : 1; };
  switch (criterion.Type) {
    case Kind::UnderFolders: {
      const auto& folders = criterion.Folders;
      const auto found = std::find_if(folders.begin(), folders.end(),
                                      [&path](const std::string& folder) { return path.starts_with(folder); });
      return found - folders.begin();
    }
    case Kind::PathMatches: return flag(fnmatch(criterion.Pattern.c_str(), path.c_str(), 0) == 0);
    case Kind::PathNotMatches: return flag(fnmatch(criterion.Pattern.c_str(), path.c_str(), 0) != 0);
    case Kind::Oldest:
    case Kind::Newest: {
      const std::optional<std::int64_t> time = facts.ModifiedAt ? facts.ModifiedAt(group, f) : std::nullopt;
      if (!time) return INT64_MAX;
      return criterion.Type == Kind::Oldest ? *time : -*time;
    }
    case Kind::ShortestPath: return static_cast<std::int64_t>(path.size());
    case Kind::LongestPath: return -static_cast<std::int64_t>(path.size());
    case Kind::ShortestName: return static_cast<std::int64_t>(NameOf(path).size());
    case Kind::LongestName: return -static_cast<std::int64_t>(NameOf(path).size());
    case Kind::Shallowest: return std::count(path.begin(), path.end(), '/');
    case Kind::Deepest: return -std::count(path.begin(), path.end(), '/');
    case Kind::WithoutCopyMarker: return flag(!HasCopyMarker(NameOf(path)));
    case Kind::WithCopyMarker: return flag(HasCopyMarker(NameOf(path)));
  }
  return 0;
}

struct Word {
  Kind Type;
  std::string_view Text;
};
constexpr Word PlainWords[] = {
    {Kind::Oldest, "oldest"},
    {Kind::Newest, "newest"},
    {Kind::ShortestPath, "shortest-path"},
    {Kind::LongestPath, "longest-path"},
    {Kind::ShortestName, "shortest-name"},
    {Kind::LongestName, "longest-name"},
    {Kind::Shallowest, "shallowest"},
    {Kind::Deepest, "deepest"},
    {Kind::WithoutCopyMarker, "no-copy-marker"},
    {Kind::WithCopyMarker, "copy-marker"},
};

// A value as written: in single quotes ('' for a quote) when it holds a
// "," or a quote.
std::string Quoted(const std::string& value) {
  if (value.find_first_of(",'") == std::string::npos) return value;
  std::string quoted = "'";
  for (const char c : value) {
    if (c == '\'') quoted += '\'';
    quoted += c;
  }
  return quoted + "'";
}

// The criteria of text, split at the commas outside quotes, quotes taken
// off; false when a quote is not closed.
bool SplitCriteria(std::string_view text, std::vector<std::string>& parts) {
  std::string part;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\'' && quoted && i + 1 < text.size() && text[i + 1] == '\'') {
      part += '\'';
      ++i;
    } else if (c == '\'') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      parts.push_back(std::move(part));
      part.clear();
    } else {
      part += c;
    }
  }
  parts.push_back(std::move(part));
  return !quoted;
}

std::string FolderOfRule(const std::string& value) {
  std::string folder = value;
  if ((folder == "~" || folder.starts_with("~/")) && std::getenv("HOME") != nullptr) {
    folder = std::getenv("HOME") + folder.substr(1);
  }
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(folder, error);
  if (!error) folder = absolute.lexically_normal().string();
  if (!folder.ends_with('/')) folder += '/';
  return folder;
}

}  // namespace

bool HasCopyMarker(std::string_view name) {
  return HasNumberedCopy(name) || ContainsIgnoringCase(name, " - copy") || ContainsIgnoringCase(name, "copy of") ||
         ContainsIgnoringCase(name, "(copy") || name.find('~') != std::string_view::npos;
}

std::vector<std::uint32_t> ChooseKept(const KeepRules& rules, const ResultsNode& root, const KeepFacts& facts) {
  std::vector<std::uint32_t> keep(root.Groups.size(), 0);
  std::vector<std::int64_t> best, scores;
  for (std::size_t g = 0; g < root.Groups.size(); ++g) {
    const SignatureGroup& group = root.Groups[g];
    // Each file's scores, criterion by criterion, compared with the best so
    // far: the first criterion that tells them apart decides.
    const auto scoresOf = [&](std::size_t f, std::vector<std::int64_t>& out) {
      out.clear();
      out.push_back(facts.InReference && facts.InReference(group.Files[f]) ? 0 : 1);
      for (const KeepCriterion& criterion : rules) out.push_back(Score(criterion, group, f, facts));
    };
    if (group.Files.empty()) continue;
    scoresOf(0, best);
    for (std::size_t f = 1; f < group.Files.size(); ++f) {
      scoresOf(f, scores);
      if (scores < best) {
        best.swap(scores);
        keep[g] = static_cast<std::uint32_t>(f);
      }
    }
  }
  return keep;
}

KeepFacts CurrentFacts() {
  KeepFacts facts;
  facts.InReference = [](const std::string& path) { return InReferenceFolder(path); };
  facts.ModifiedAt = [](const SignatureGroup& group, std::size_t f) -> std::optional<std::int64_t> {
    if (f < group.Scanned.size() && (group.Scanned[f].Device != 0 || group.Scanned[f].Inode != 0)) {
      return group.Scanned[f].ModifiedNs;
    }
    struct stat status {};
    if (lstat(group.Files[f].c_str(), &status) != 0) return std::nullopt;
    return platform::Nanoseconds(status.st_mtim);
  };
  return facts;
}

void TickByKeepRules(const KeepRules& rules, const KeepFacts& facts) {
  if (ScanContext.ResultsRoot) TickAllBut(ChooseKept(rules, *ScanContext.ResultsRoot, facts));
}

std::optional<KeepRules> ParseKeepRules(std::string_view text, std::string& problem) {
  std::vector<std::string> parts;
  if (!SplitCriteria(text, parts)) {
    problem = "A quote is not closed";
    return std::nullopt;
  }
  KeepRules rules;
  for (const std::string& part : parts) {
    const std::size_t colon = part.find(':');
    const std::string name = part.substr(0, colon);
    const std::string value = colon == std::string::npos ? std::string() : part.substr(colon + 1);
    if (name == "under" || name == "path" || name == "not-path") {
      if (colon == std::string::npos || value.empty()) {
        problem = name + ": needs " + (name == "under" ? "a folder" : "a pattern");
        return std::nullopt;
      }
      if (name == "under") {
        rules.push_back({Kind::UnderFolders, {FolderOfRule(value)}, {}});
        continue;
      }
      if (const std::string bad = PatternProblem(value, false); !bad.empty()) {
        problem = name + ":" + value + ": " + bad;
        return std::nullopt;
      }
      rules.push_back({name == "path" ? Kind::PathMatches : Kind::PathNotMatches, {}, value});
      continue;
    }
    const auto word =
        std::find_if(std::begin(PlainWords), std::end(PlainWords), [&part](const Word& w) { return w.Text == part; });
    if (word == std::end(PlainWords)) {
      problem = part.empty() ? "An empty criterion" : "Unknown criterion: " + part;
      return std::nullopt;
    }
    rules.push_back({word->Type, {}, {}});
  }
  return rules;
}

std::string WriteKeepRules(const KeepRules& rules) {
  std::string text;
  const auto add = [&text](const std::string& part) {
    if (!text.empty()) text += ',';
    text += part;
  };
  for (const KeepCriterion& criterion : rules) {
    switch (criterion.Type) {
      case Kind::UnderFolders:
        for (const std::string& folder : criterion.Folders) add("under:" + Quoted(folder));
        break;
      case Kind::PathMatches: add("path:" + Quoted(criterion.Pattern)); break;
      case Kind::PathNotMatches: add("not-path:" + Quoted(criterion.Pattern)); break;
      default:
        for (const Word& word : PlainWords) {
          if (word.Type == criterion.Type) add(std::string(word.Text));
        }
    }
  }
  return text;
}

}  // namespace veldrano
