#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace veldrano {

// The rules by which a dropped name enters the list of directories to scan.
// The name gets a trailing "/"; it is ignored unless it names an existing
// directory (a link to one counts), when it is listed already, or when it
// lies inside a listed directory; listed directories that lie inside it give
// way to it. The list is then sorted with ListaCompare. Returns true when
// the list changed.
bool AddDroppedDirectory(std::vector<std::string>& list, std::string_view dropped);

// The list's order: letter by letter with a-z and A-Z alike, other
// characters by code; true when a comes before b.
bool ListaCompare(const std::string& a, const std::string& b);

}  // namespace veldrano
