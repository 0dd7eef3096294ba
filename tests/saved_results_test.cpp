#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "results/ignore_list.h"
#include "results/saved_results.h"
#include "results/ticked_action.h"
#include "support/ticked_fixture.h"

namespace veldrano {
namespace {

namespace fs = std::filesystem;

class SavedResults : public TrashTicked {
 protected:
  // The results as text: each list row's path, group and tick, in order.
  static std::string Shown() {
    std::string text;
    for (const SelectionRow& row : ScanContext.Selection) {
      text += PathOf(row) + " " + GroupOf(row).Signature + (row.Checked ? " ticked\n" : "\n");
    }
    return text;
  }
};

TEST_F(SavedResults, OpenGivesBackTheGroupsFilesAndTicksAsSaved) {
  File("a", "same bytes"), File("odd \xff\xfe name", "same bytes"), File("new\nline", "same bytes");
  File("c", "other"), File("d", "other");
  List(tree);
  ScanContext.ReferenceFolders = {};
  ASSERT_TRUE(sbStartClick());
  ScanContext.Selection[0].Checked = true;  // ticks as the user left them
  ScanContext.Selection[1].Checked = false;
  const std::string before = Shown();
  const std::string saved = dir / "results.veldrano";
  ASSERT_TRUE(SaveResults(saved));

  ClearResults();
  std::string problem;
  const std::optional<OpenedResults> opened = OpenResults(saved, problem);
  ASSERT_TRUE(opened) << problem;
  EXPECT_EQ(Shown(), before);
  EXPECT_EQ(opened->Folders, std::vector<std::string>{tree + "/"});
  EXPECT_EQ(opened->Changed, 0);
  // Opened results can be acted on as after a scan.
  EXPECT_EQ(MoveTickedToTrash(PlanTicked()).Done, static_cast<std::int64_t>(PlanTicked().Files.size()));
}

TEST_F(SavedResults, AFileChangedSinceIsMarkedAndNeverActedOn) {
  const std::string a = File("a", "same bytes"), b = File("b", "same bytes"), c = File("c", "same bytes");
  Scan();
  const std::string saved = dir / "results.veldrano";
  ASSERT_TRUE(SaveResults(saved));
  Overwrite(b, "SAME");  // same size, other bytes and time
  fs::remove(c);
  std::string problem;
  ASSERT_TRUE(OpenResults(saved, problem)) << problem;
  const SignatureGroup& group = ScanContext.ResultsRoot->Groups[0];
  ASSERT_NE(ChangedSince(group, 1), nullptr);
  EXPECT_EQ(*ChangedSince(group, 1), "Changed since the results were saved");
  EXPECT_EQ(*ChangedSince(group, 2), "Gone since the results were saved");
  for (SelectionRow& row : ScanContext.Selection) row.Checked = true;  // stale ticks
  ASSERT_EQ(PlanTicked().Files.size(), 1u);                            // only a: and no copy of it is left to prove it
  EXPECT_EQ(MoveTickedToTrash(PlanTicked()).Done, 0);
  ActPlan stale;
  stale.Files = {{0, 1}};
  window.log.clear();
  EXPECT_EQ(MoveTickedToTrash(stale).Done, 0);
  EXPECT_EQ(LineAbout(b), "Not moved to the Trash / Changed since the results were saved");
  EXPECT_EQ(Contents(a), "same bytes");
  EXPECT_EQ(Contents(b), "SAME bytes");
}

TEST_F(SavedResults, ADamagedOrForeignFileIsRefusedAndNothingChanges) {
  File("a", "same bytes"), File("b", "same bytes");
  Scan();
  const std::string saved = dir / "results.veldrano";
  ASSERT_TRUE(SaveResults(saved));
  const std::string whole = Contents(saved);
  const std::string before = Shown();
  std::string problem;
  for (const std::string& bad :
       {whole.substr(0, whole.size() - 10), whole.substr(0, whole.rfind("{\"end\"")), std::string("hello\n"),
        std::string("{\"format\":\"veldrano-results\",\"version\":2}\n"), std::string()}) {
    std::ofstream(saved, std::ios::binary | std::ios::trunc) << bad;
    EXPECT_FALSE(OpenResults(saved, problem)) << bad;
    EXPECT_NE(problem, "");
    EXPECT_EQ(Shown(), before);
  }
  // A FIFO in its place is refused at once, never waited on.
  std::filesystem::remove(saved);
  ASSERT_EQ(mkfifo(saved.c_str(), 0600), 0);
  EXPECT_FALSE(OpenResults(saved, problem));
  EXPECT_EQ(problem, saved + " is not a regular file");
}

// "Not duplicates": an ignored group stays out of later scans, comes back
// when a copy appears elsewhere or when it is taken out of the list; an
// ignored file leaves its group.
TEST_F(SavedResults, WhatIsNotDuplicatesStaysOutUntilTakenBack) {
  const std::string a = File("p1/LICENSE", "MIT"), b = File("p2/LICENSE", "MIT");
  const std::string c = File("x", "other"), d = File("y", "other"), e = File("z", "other");
  Scan();
  ASSERT_EQ(ScanContext.ResultsRoot->Groups.size(), 2u);
  const std::uint32_t licence = ScanContext.ResultsRoot->Groups[0].Files[0] == a ? 0 : 1;
  ASSERT_TRUE(Ignore(IgnoreGroupEntry(licence)));
  ASSERT_TRUE(Ignore(IgnoreFileEntry(0, 2)));  // e, once the licences are gone
  Scan();
  ASSERT_EQ(ScanContext.ResultsRoot->Groups.size(), 1u);
  EXPECT_EQ(ScanContext.ResultsRoot->Groups[0].Files, (std::vector<std::string>{c, d}));
  EXPECT_EQ(ScanContext.DuplicateFiles, 1);

  // A third licence elsewhere: the group is no longer the one ignored.
  const std::string third = File("p3/LICENSE", "MIT");
  Scan();
  EXPECT_EQ(ScanContext.ResultsRoot->Groups.size(), 2u);
  fs::remove(third);

  // Taken back out of the list: everything shows again.
  std::string problem;
  ASSERT_TRUE(SaveIgnoreList({}, problem)) << problem;
  Scan();
  EXPECT_EQ(ScanContext.Selection.size(), 5u);
}

}  // namespace
}  // namespace veldrano
