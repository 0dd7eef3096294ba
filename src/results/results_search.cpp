#include "results/results_search.h"

#include <fnmatch.h>

#include <algorithm>

#include "report/ascii_case.h"

namespace veldrano {

ResultsSearch::ResultsSearch(std::string text)
    : text_(std::move(text)), pattern_(text_.find_first_of("*?[") != std::string::npos) {}

bool ResultsSearch::Shows(std::string_view path) const {
  if (text_.empty()) return true;
  if (pattern_) return fnmatch(text_.c_str(), std::string(path).c_str(), 0) == 0;
  return std::search(path.begin(), path.end(), text_.begin(), text_.end(),
                     [](char a, char b) { return AsciiUpper(a) == AsciiUpper(b); }) != path.end();
}

std::string FolderSearchText(std::string_view folder) {
  std::string text;
  text.reserve(folder.size() + 1);
  for (const char c : folder) {
    if (c == '*' || c == '?' || c == '[' || c == '\\') text += '\\';
    text += c;
  }
  text += '*';
  return text;
}

}  // namespace veldrano
