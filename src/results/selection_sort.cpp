#include "results/selection_sort.h"

#include <locale.h>
#include <string.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "scan/scan_context.h"

namespace veldrano {

namespace {

// The collation of the user's environment (LC_ALL, LC_COLLATE, LANG), made
// once for the life of the process. A locale named there that is not
// installed gives way to "C", which orders by byte.
locale_t UserCollation() {
  static const locale_t collation = [] {
    locale_t made = newlocale(LC_COLLATE_MASK, "", locale_t{});
    if (made == locale_t{}) made = newlocale(LC_COLLATE_MASK, "C", locale_t{});
    return made;
  }();
  return collation;
}

int Sign(int value) { return (value > 0) - (value < 0); }

// The user's word order, case-sensitive, on the raw bytes of the texts
// whatever their encoding.
int CompareInUserLocale(const char* text1, const char* text2) {
  const locale_t collation = UserCollation();
  if (collation == locale_t{}) return Sign(strcmp(text1, text2));
  return Sign(strcoll_l(text1, text2, collation));
}

// The zero-terminated text a row shows in column (-1 the MD5 caption, 0 Size,
// 1 Path); empty for a column the row does not have. The size text is made
// on demand into sizeText, which must outlive the pointer returned.
const char* ColumnText(const SelectionRow& row, int column, std::string& sizeText) {
  switch (column) {
    case -1: return GroupOf(row).Signature.c_str();
    case 0: sizeText = SizeTextOf(row); return sizeText.c_str();
    case 1: return PathOf(row).c_str();
    default: return "";
  }
}

// Steps shared by a single comparison and the whole sort: the texts of one
// column compared by the current sort kind, then reversed when that column
// sorts descending this time. Results are -1, 0 or 1, so the reversal never
// overflows and a < b derived from them is a strict weak order.
int CompareColumnTexts(const char* text1, const char* text2, int column) {
  int result =
      SortState.SortKind == TSortKind::Number ? CompareSpacedNumbers(text1, text2) : CompareInUserLocale(text1, text2);
  const int index = column + 1;
  if (index >= 0 && index < static_cast<int>(SortState.ColumnDescending.size()) &&
      SortState.ColumnDescending[static_cast<std::size_t>(index)]) {
    result = -result;
  }
  return result;
}

// The signed 64-bit value of text with its blanks removed; throws
// std::invalid_argument naming the text when that is not a whole number.
std::int64_t SpacedNumberValue(std::string_view text) {
  std::string digits;
  digits.reserve(text.size());
  for (const char c : text) {
    if (c != ' ') digits += c;
  }
  std::int64_t value = 0;
  const char* first = digits.data();
  const char* last = first + digits.size();
  const auto [end, error] = std::from_chars(first, last, value);
  if (error == std::errc::result_out_of_range) {
    throw std::invalid_argument("\"" + std::string(text) + "\" is not a whole number: out of the 64-bit range");
  }
  if (error != std::errc{} || end != last) {
    throw std::invalid_argument("\"" + std::string(text) + "\" is not a whole number");
  }
  return value;
}

}  // namespace

int CompareSelectionRows(const SelectionRow* row1, const SelectionRow* row2, int column) {
  if (row1 == nullptr || row2 == nullptr) return 0;
  std::string size1;
  std::string size2;
  return CompareColumnTexts(ColumnText(*row1, column, size1), ColumnText(*row2, column, size2), column);
}

int CompareSpacedNumbers(std::string_view text1, std::string_view text2) {
  const std::int64_t value1 = SpacedNumberValue(text1);
  const std::int64_t value2 = SpacedNumberValue(text2);
  return (value1 > value2) - (value1 < value2);
}

void SortSelectionByColumn(int column) {
  if (column < 0 || column >= static_cast<int>(SortState.ColumnDescending.size())) return;
  SortState.SortKind = column == 1 ? TSortKind::Number : TSortKind::Text;
  const int rowColumn = column - 1;

  auto& rows = ScanContext.Selection;
  if (!rows.empty()) {
    // Every row of a group shows the same size, so the Size texts are made
    // once per group rather than twice per comparison.
    std::vector<std::string> groupSizeTexts;
    if (rowColumn == 0) {
      const auto groupCount = static_cast<std::uint32_t>(ScanContext.ResultsRoot->Groups.size());
      groupSizeTexts.reserve(groupCount);
      for (std::uint32_t group = 0; group < groupCount; ++group) {
        groupSizeTexts.push_back(SizeTextOf(SelectionRow{group, 0, false}));
      }
    }
    struct Keyed {
      SelectionRow row;
      const char* text;  // what CompareSelectionRows compares for this row
    };
    std::vector<Keyed> keyed;
    keyed.reserve(rows.size());
    std::string unused;
    for (const SelectionRow& row : rows) {
      const char* text = rowColumn == 0 ? groupSizeTexts[row.Group].c_str() : ColumnText(row, rowColumn, unused);
      keyed.push_back({row, text});
    }
    // Stable, so rows that compare equal keep their order; the rows are
    // written back only when the sort has finished, so a text that is not a
    // number leaves the list as it was (and the direction unflipped).
    std::stable_sort(keyed.begin(), keyed.end(), [rowColumn](const Keyed& a, const Keyed& b) {
      return CompareColumnTexts(a.text, b.text, rowColumn) < 0;
    });
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = keyed[i].row;
  }
  auto& descending = SortState.ColumnDescending[static_cast<std::size_t>(column)];
  descending = !descending;
}

}  // namespace veldrano
