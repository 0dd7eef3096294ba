#pragma once
#include <array>
#include <string_view>

#include "results/results_model.h"

namespace veldrano {

// How the selection list was last sorted: by text or by number. Process-wide
// and never reset, like the per-column direction below.
enum class TSortKind { Text, Number };

struct TSortState {
  TSortKind SortKind = TSortKind::Text;
  // Per column (0 MD5, 1 Size, 2 Path): the next click sorts descending.
  std::array<bool, 3> ColumnDescending{};
};

inline TSortState SortState;

// Compares two rows for the sort; column -1 is the MD5 caption, 0 the Size
// and 1 the Path column. Text is compared in the user's locale word order,
// sizes as numbers; a descending column reverses the result.
int CompareSelectionRows(const SelectionRow* row1, const SelectionRow* row2, int column);

// Compares two texts holding whole numbers with blanks between digit groups
// ("1 234"): 1, 0 or -1. Throws std::invalid_argument when one of them is
// not a whole number once the blanks are gone.
int CompareSpacedNumbers(std::string_view text1, std::string_view text2);

// A click on the header of column c (0 MD5, 1 Size, 2 Path): sorts the rows,
// then flips that column's direction for the next click.
void SortSelectionByColumn(int column);

}  // namespace veldrano
