#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "results/results_model.h"
#include "results/selection_sort.h"
#include "support/engine_fixture.h"

namespace veldrano {
namespace {

// Column numbers of the header clicks.
constexpr int kMd5 = 0;
constexpr int kSize = 1;
constexpr int kPath = 2;

// A signature of 32 equal hexadecimal digits.
std::string Sig(char digit) { return std::string(32, digit); }

// The sort state is process-wide and survives everything but the process;
// each test starts from the state the program starts with.
class SelectionSort : public testing::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    SortState = TSortState{};
  }
  void TearDown() override {
    SortState = TSortState{};
    EngineTest::TearDown();
  }

  // Three groups of two files whose sizes sort differently as text and as
  // numbers ("1 000" < "1 234 567" < "999" as text), recorded in an order
  // that is none of the sorted ones.
  void RecordThreeGroups() {
    RecordDuplicate(Sig('B'), "/d/kilo2", "/d/kilo1", 1000);
    RecordDuplicate(Sig('0'), "/d/tiny2", "/d/tiny1", 999);
    RecordDuplicate(Sig('F'), "/d/mega2", "/d/mega1", 1234567);
  }

  static std::vector<std::string> Column(std::string (*text)(const SelectionRow&)) {
    std::vector<std::string> texts;
    for (const SelectionRow& row : ScanContext.Selection) texts.push_back(text(row));
    return texts;
  }
  static std::vector<std::string> Sizes() { return Column(&SizeTextOf); }
  static std::vector<std::string> Paths() {
    return Column([](const SelectionRow& row) { return PathOf(row); });
  }
  static std::vector<std::string> Signatures() {
    return Column([](const SelectionRow& row) { return GroupOf(row).Signature; });
  }
};

using Texts = std::vector<std::string>;

TEST_F(SelectionSort, SizeClicksSortNumericallyAndAlternate) {
  RecordThreeGroups();

  SortSelectionByColumn(kSize);
  EXPECT_EQ(SortState.SortKind, TSortKind::Number);
  EXPECT_EQ(Sizes(), (Texts{"999", "999", "1 000", "1 000", "1 234 567", "1 234 567"}));
  EXPECT_TRUE(SortState.ColumnDescending[kSize]);

  SortSelectionByColumn(kSize);
  EXPECT_EQ(Sizes(), (Texts{"1 234 567", "1 234 567", "1 000", "1 000", "999", "999"}));
  EXPECT_FALSE(SortState.ColumnDescending[kSize]);

  SortSelectionByColumn(kSize);
  EXPECT_EQ(Sizes().front(), "999");
}

TEST_F(SelectionSort, EachColumnKeepsItsOwnAlternation) {
  RecordThreeGroups();
  SortSelectionByColumn(kSize);  // Size's next click would be descending

  SortSelectionByColumn(kPath);
  EXPECT_EQ(SortState.SortKind, TSortKind::Text);
  EXPECT_EQ(Paths(), (Texts{"/d/kilo1", "/d/kilo2", "/d/mega1", "/d/mega2", "/d/tiny1", "/d/tiny2"}));

  SortSelectionByColumn(kPath);
  EXPECT_EQ(Paths(), (Texts{"/d/tiny2", "/d/tiny1", "/d/mega2", "/d/mega1", "/d/kilo2", "/d/kilo1"}));

  SortSelectionByColumn(kSize);
  EXPECT_EQ(Sizes().front(), "1 234 567");
  EXPECT_EQ((std::array<bool, 3>{false, false, false}), SortState.ColumnDescending);
}

TEST_F(SelectionSort, Md5ColumnSortsBySignature) {
  RecordThreeGroups();
  SortSelectionByColumn(kMd5);
  EXPECT_EQ(Signatures(), (Texts{Sig('0'), Sig('0'), Sig('B'), Sig('B'), Sig('F'), Sig('F')}));
  SortSelectionByColumn(kMd5);
  EXPECT_EQ(Signatures(), (Texts{Sig('F'), Sig('F'), Sig('B'), Sig('B'), Sig('0'), Sig('0')}));
}

TEST_F(SelectionSort, RowsThatCompareEqualKeepTheirOrderInBothDirections) {
  RecordDuplicate(Sig('A'), "/d/q", "/d/p", 10);
  RecordDuplicate(Sig('C'), "/d/big2", "/d/big1", 20);
  RecordDuplicate(Sig('A'), "/d/r", "/d/p", 10);

  SortSelectionByColumn(kSize);
  EXPECT_EQ(Paths(), (Texts{"/d/p", "/d/q", "/d/r", "/d/big1", "/d/big2"}));
  SortSelectionByColumn(kSize);
  EXPECT_EQ(Paths(), (Texts{"/d/big1", "/d/big2", "/d/p", "/d/q", "/d/r"}));
  SortSelectionByColumn(kMd5);
  EXPECT_EQ(Paths(), (Texts{"/d/p", "/d/q", "/d/r", "/d/big1", "/d/big2"}));
}

TEST_F(SelectionSort, LongRunsOfEqualRowsKeepTheirOrder) {
  // Enough rows that an unstable sort would shuffle the equal ones.
  for (int i = 1; i < 40; ++i) {
    RecordDuplicate(Sig('A'), "/d/a" + std::to_string(i), "/d/a0", 5);
    RecordDuplicate(Sig('C'), "/d/c" + std::to_string(i), "/d/c0", 7);
  }
  for (const bool descending : {false, true}) {
    SortSelectionByColumn(kSize);
    std::uint32_t previousFile[2] = {0, 0};
    bool first[2] = {true, true};
    for (const SelectionRow& row : ScanContext.Selection) {
      const std::uint32_t group = row.Group;
      if (!first[group]) {
        EXPECT_GT(row.File, previousFile[group]) << "descending " << descending;
      }
      first[group] = false;
      previousFile[group] = row.File;
    }
    EXPECT_EQ(GroupOf(ScanContext.Selection.front()).Size, descending ? 7 : 5);
  }
}

TEST_F(SelectionSort, RowsCarryTheirFileAndTickWithThem) {
  RecordThreeGroups();
  // The user's own choice: keep the second kilo file, drop the first.
  ScanContext.Selection[0].Checked = true;   // /d/kilo1
  ScanContext.Selection[1].Checked = false;  // /d/kilo2

  SortSelectionByColumn(kPath);
  SortSelectionByColumn(kPath);  // descending: kilo2 before kilo1
  ASSERT_EQ(ScanContext.Selection.size(), 6u);
  for (const SelectionRow& row : ScanContext.Selection) {
    const std::string& path = PathOf(row);
    const bool firstOfGroup = path.back() == '1';
    EXPECT_EQ(row.File, firstOfGroup ? 0u : 1u) << path;
    if (path == "/d/kilo1") {
      EXPECT_TRUE(row.Checked);
    } else if (path == "/d/kilo2") {
      EXPECT_FALSE(row.Checked);
    } else {
      EXPECT_EQ(row.Checked, !firstOfGroup) << path;
    }
  }
  EXPECT_EQ(PathOf(ScanContext.Selection[4]), "/d/kilo2");
  EXPECT_EQ(GroupOf(ScanContext.Selection[4]).Signature, Sig('B'));
  EXPECT_EQ(SizeTextOf(ScanContext.Selection[4]), "1 000");
}

TEST_F(SelectionSort, DirectionsOutliveClearedResults) {
  RecordThreeGroups();
  SortSelectionByColumn(kSize);
  ClearResults();
  SortSelectionByColumn(kMd5);  // an empty list still takes the click

  RecordThreeGroups();
  SortSelectionByColumn(kSize);
  EXPECT_EQ(Sizes().front(), "1 234 567");
  SortSelectionByColumn(kMd5);
  EXPECT_EQ(Signatures().front(), Sig('F'));
}

TEST_F(SelectionSort, CompareRowsUsesTheStateAtTheTimeOfTheCall) {
  RecordDuplicate(Sig('A'), "/d/x", "/d/X", 999);
  RecordDuplicate(Sig('B'), "/d/y", "/d/w", 1000);
  const SelectionRow* upperX = &ScanContext.Selection[0];
  const SelectionRow* lowerX = &ScanContext.Selection[1];
  const SelectionRow* w = &ScanContext.Selection[2];
  const SelectionRow* y = &ScanContext.Selection[3];

  EXPECT_EQ(CompareSelectionRows(nullptr, y, 1), 0);
  EXPECT_EQ(CompareSelectionRows(y, nullptr, 1), 0);

  EXPECT_LT(CompareSelectionRows(w, y, 1), 0);
  EXPECT_GT(CompareSelectionRows(y, w, 1), 0);
  EXPECT_EQ(CompareSelectionRows(y, y, 1), 0);
  EXPECT_NE(CompareSelectionRows(upperX, lowerX, 1), 0) << "letter case counts";
  EXPECT_LT(CompareSelectionRows(upperX, w, -1), 0);
  EXPECT_EQ(CompareSelectionRows(w, y, 5), 0) << "a column the rows lack is empty on both";

  SortState.ColumnDescending[kPath] = true;
  EXPECT_GT(CompareSelectionRows(w, y, 1), 0);
  EXPECT_GT(CompareSelectionRows(w, upperX, -1), 0) << "only the path column is reversed";

  SortState.SortKind = TSortKind::Number;
  EXPECT_LT(CompareSelectionRows(upperX, w, 0), 0) << "999 before 1 000";
  SortState.ColumnDescending[kSize] = true;
  EXPECT_GT(CompareSelectionRows(upperX, w, 0), 0);
}

TEST(SelectionSortNumbers, CompareAsSigned64BitIntegers) {
  EXPECT_EQ(CompareSpacedNumbers("1 000", "999"), 1);
  EXPECT_EQ(CompareSpacedNumbers("999", "1 000"), -1);
  EXPECT_EQ(CompareSpacedNumbers("1 234", "1234"), 0);
  EXPECT_EQ(CompareSpacedNumbers(" 0 ", "0"), 0);
  EXPECT_EQ(CompareSpacedNumbers("-5", "3"), -1);
  EXPECT_EQ(CompareSpacedNumbers("-1 234", "-999"), -1);
  EXPECT_EQ(CompareSpacedNumbers("9 223 372 036 854 775 807", "-9 223 372 036 854 775 808"), 1);
  EXPECT_EQ(CompareSpacedNumbers("9 223 372 036 854 775 807", "9 223 372 036 854 775 806"), 1);
}

TEST(SelectionSortNumbers, RejectTextsThatAreNotWholeNumbers) {
  for (const char* junk : {"", "   ", "12a", "1.5", "abc", "0x10", "--1", "1-", "9 223 372 036 854 775 808",
                           "-9 223 372 036 854 775 809"}) {
    EXPECT_THROW(CompareSpacedNumbers(junk, "1"), std::invalid_argument) << '"' << junk << '"';
    EXPECT_THROW(CompareSpacedNumbers("1", junk), std::invalid_argument) << '"' << junk << '"';
  }
  try {
    CompareSpacedNumbers("1 000", "12 b");
    FAIL() << "no exception";
  } catch (const std::invalid_argument& error) {
    EXPECT_NE(std::string(error.what()).find("\"12 b\""), std::string::npos) << error.what();
  }
}

}  // namespace
}  // namespace veldrano
