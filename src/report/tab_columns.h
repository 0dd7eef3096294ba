#pragma once
#include <string_view>
#include <vector>

namespace veldrano {

// The TAB-separated columns of a line (one, the line itself, when it has no
// TAB).
inline std::vector<std::string_view> TabColumns(std::string_view line) {
  std::vector<std::string_view> columns;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    columns.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
    if (tab == std::string_view::npos) return columns;
    start = tab + 1;
  }
}

}  // namespace veldrano
