#pragma once
#include <string>
#include <string_view>

namespace veldrano {

// The search field over the results: which paths it shows. Text with a
// shell wildcard (*, ? or [) is a pattern on the whole path, * matching "/"
// too; other text is looked for anywhere in the path, letters a-z and A-Z
// alike. Empty text shows every path.
class ResultsSearch {
 public:
  explicit ResultsSearch(std::string text);
  bool Shows(std::string_view path) const;
  bool ShowsEverything() const { return text_.empty(); }

 private:
  std::string text_;
  bool pattern_ = false;
};

// The search text that shows the files in folder (ending in "/") and below
// it: the folder's path, its wildcards and backslashes escaped, then "*".
std::string FolderSearchText(std::string_view folder);

}  // namespace veldrano
