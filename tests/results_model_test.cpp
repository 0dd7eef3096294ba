#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "results/results_model.h"
#include "support/engine_fixture.h"

namespace veldrano {
namespace {

using ResultsModel = testing::EngineTest;
using Texts = std::vector<std::string>;

const std::string kSigA = "0123456789ABCDEF0123456789ABCDEF";
const std::string kSigB = "FEDCBA9876543210FEDCBA9876543210";

// The selection list as the user sees it: path and tick of each row.
struct ShownRow {
  std::string path;
  bool checked;
  bool operator==(const ShownRow&) const = default;
};
std::vector<ShownRow> ShownRows() {
  std::vector<ShownRow> rows;
  for (const SelectionRow& row : ScanContext.Selection) rows.push_back({PathOf(row), row.Checked});
  return rows;
}

TEST_F(ResultsModel, ThreeFilesOfOneContentMakeOneGroup) {
  // P met first; Q and then R found to have its content.
  RecordDuplicate(kSigA, "/d/Q", "/d/P", 4096);
  RecordDuplicate(kSigA, "/d/R", "/d/P", 4096);

  ASSERT_TRUE(ScanContext.ResultsRoot);
  const auto& groups = ScanContext.ResultsRoot->Groups;
  ASSERT_EQ(groups.size(), 1u);
  EXPECT_EQ(groups[0].Signature, kSigA);
  EXPECT_EQ(groups[0].Files, (Texts{"/d/P", "/d/Q", "/d/R"}));

  EXPECT_EQ(ShownRows(), (std::vector<ShownRow>{{"/d/P", false}, {"/d/Q", true}, {"/d/R", true}}));
  for (const SelectionRow& row : ScanContext.Selection) {
    EXPECT_EQ(GroupOf(row).Signature, kSigA);
    EXPECT_EQ(SizeTextOf(row), "4 096");
  }
  EXPECT_EQ(ScanContext.DuplicateFiles, 2);
  EXPECT_EQ(ScanContext.RecoverableBytes, 2 * 4096);
  EXPECT_TRUE(window.log.empty());
}

TEST_F(ResultsModel, EachContentGetsItsGroupAndLateDuplicatesGoToTheEndOfTheList) {
  RecordDuplicate(kSigA, "/d/a2", "/d/a1", 100);
  RecordDuplicate(kSigB, "/d/b2", "/d/b1", 100);  // same size, other content
  RecordDuplicate(kSigA, "/d/a3", "/d/a1", 100);

  const auto& groups = ScanContext.ResultsRoot->Groups;
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[0].Files, (Texts{"/d/a1", "/d/a2", "/d/a3"}));
  EXPECT_EQ(groups[1].Files, (Texts{"/d/b1", "/d/b2"}));
  EXPECT_EQ(ShownRows(), (std::vector<ShownRow>{
                             {"/d/a1", false}, {"/d/a2", true}, {"/d/b1", false}, {"/d/b2", true}, {"/d/a3", true}}));
  EXPECT_EQ(FindSignatureGroup(kSigB), 1u);
  EXPECT_EQ(FindSignatureGroup(std::string(kSigB.size(), '0')), std::nullopt);
  EXPECT_EQ(ScanContext.DuplicateFiles, 3);
  EXPECT_EQ(ScanContext.RecoverableBytes, 300);
}

TEST_F(ResultsModel, FindTreeNodeSearchesRootGroupsAndFilesIgnoringAsciiCase) {
  EXPECT_EQ(FindTreeNode("VESK"), std::nullopt) << "empty tree";

  RecordDuplicate(kSigA, "/d/a2", "/d/a1", 1);
  RecordDuplicate(kSigB, "/d/Mixed", "/d/b1", 1);
  EXPECT_EQ(FindTreeNode("vesk"), (TreeNodeRef{0, 0, 0}));
  EXPECT_EQ(FindTreeNode("fedcba9876543210fedcba9876543210"), (TreeNodeRef{1, 1, 0}));
  EXPECT_EQ(FindTreeNode("/d/a2"), (TreeNodeRef{2, 0, 1}));
  EXPECT_EQ(FindTreeNode("/D/MIXED"), (TreeNodeRef{2, 1, 1}));
  EXPECT_EQ(FindTreeNode("/d/a"), std::nullopt);
  EXPECT_EQ(FindSignatureGroup("fedcba9876543210fedcba9876543210"), std::nullopt) << "groups match exactly";
}

TEST_F(ResultsModel, RootIsMadeOnceAndClearingLeavesNothing) {
  EnsureResultsRoot();
  ResultsNode* root = ScanContext.ResultsRoot.get();
  ASSERT_NE(root, nullptr);
  EnsureResultsRoot();
  EXPECT_EQ(ScanContext.ResultsRoot.get(), root);
  EXPECT_TRUE(root->Groups.empty());

  RecordDuplicate(kSigA, "/d/a2", "/d/a1", 1);
  EXPECT_EQ(ScanContext.ResultsRoot.get(), root);
  ClearResults();
  EXPECT_FALSE(ScanContext.ResultsRoot);
  EXPECT_TRUE(ScanContext.Selection.empty());
  EXPECT_EQ(FindTreeNode("VESK"), std::nullopt);
  EXPECT_TRUE(window.log.empty());
}

}  // namespace
}  // namespace veldrano
