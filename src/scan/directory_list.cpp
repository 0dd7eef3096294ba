#include "scan/directory_list.h"

#include "report/ascii_case.h"

#include <algorithm>

#include "scan/path_helpers.h"

namespace veldrano {

namespace {

unsigned char FoldAsciiLetter(char c) { return static_cast<unsigned char>(AsciiUpper(c)); }

}  // namespace

bool ListaCompare(const std::string& a, const std::string& b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const unsigned char x = FoldAsciiLetter(a[i]);
    const unsigned char y = FoldAsciiLetter(b[i]);
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  // Names that differ only in the case of their letters ("/Data/" and
  // "/data/" are two directories here) are put in byte order, so that the
  // order is total and the same after every sort.
  return a < b;
}

bool AddDroppedDirectory(std::vector<std::string>& list, std::string_view dropped) {
  const std::vector<std::string> before = list;

  // Every row ends in "/", so that "/a/" is a prefix of "/a/b/" but not of
  // "/ab/". The name is kept as dropped, letters included: the file system
  // is case-sensitive, so "/Data" and "/data" are two directories and
  // lowering one would scan the other. Names have no length limit. An empty
  // name would turn into "/", so it names nothing.
  const std::string path = dropped.empty() ? std::string() : EnsureTrailingBackslash(dropped);

  // Files, names that do not exist and names already listed change nothing.
  // A link to a directory counts as a directory and is listed as dropped.
  if (!path.empty() && IsDirectory(path) && std::find(list.begin(), list.end(), path) == list.end()) {
    // Containment is a prefix test: a directory lies inside another when its
    // path starts with the other's. A test for one path occurring anywhere
    // within the other would take "/x/a/" to lie inside "/a/". A row the user
    // edited in place may have lost its "/", so it is compared as if it had
    // one; an emptied row names no directory and contains nothing.
    bool insideARow = false;
    bool rowsGaveWay = false;
    std::vector<std::string> kept;
    kept.reserve(list.size() + 1);
    for (std::string& row : list) {
      const std::string rowPath = row.empty() ? std::string() : EnsureTrailingBackslash(row);
      if (!rowPath.empty() && rowPath.starts_with(path)) {
        rowsGaveWay = true;  // the row lies inside the new directory
        continue;
      }
      if (!rowPath.empty() && path.starts_with(rowPath)) insideARow = true;
      kept.push_back(std::move(row));
    }
    // Rows that lie inside the new directory give way to it, and it is
    // listed once in their place; otherwise it is added unless it lies
    // inside a listed directory.
    if (rowsGaveWay || !insideARow) kept.push_back(path);
    list = std::move(kept);
  }

  // The list is sorted after every drop, also one that added nothing: rows
  // edited in place by the user may have left it out of order.
  std::sort(list.begin(), list.end(), ListaCompare);
  return list != before;
}

}  // namespace veldrano
