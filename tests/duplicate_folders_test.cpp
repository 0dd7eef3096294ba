#include "results/duplicate_folders.h"

#include <gtest/gtest.h>

namespace veldrano {
namespace {

// Results of a small known tree: each content names the files holding it,
// and every folder walked gives its own count of files.
struct Tree {
  std::vector<SignatureGroup> groups;
  std::vector<FolderTally> folders;
  void Content(std::vector<std::string> files) {
    SignatureGroup group;
    group.Signature = std::to_string(groups.size());
    group.Size = 10;
    group.Files = std::move(files);
    groups.push_back(std::move(group));
  }
  void Folder(const std::string& path, std::int64_t files) {
    folders.push_back({path, files, static_cast<long double>(files * 10)});
  }
  std::vector<std::string> Listed() const {
    std::vector<std::string> paths;
    for (const DuplicateFolder& folder : FindDuplicateFolders(groups, folders)) paths.push_back(folder.Path);
    return paths;
  }
};

TEST(DuplicateFolders, ListsOnlyTheHighestOfNestedOnesWithTheFolderHoldingEveryFile) {
  Tree t;
  t.Folder("/t/", 0);
  t.Folder("/t/B/", 1);
  t.Folder("/t/B/A/", 2);
  t.Folder("/t/C/", 4);  // the copies, and one file of its own
  t.Folder("/t/C/old/", 2);
  t.Content({"/t/B/A/a1", "/t/C/a1"});
  t.Content({"/t/B/A/a2", "/t/C/old/a2", "/t/C/a2"});
  t.Content({"/t/B/b1", "/t/C/b1"});
  const std::vector<DuplicateFolder> found = FindDuplicateFolders(t.groups, t.folders);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].Path, "/t/B/");
  EXPECT_EQ(found[0].Files, 3);
  EXPECT_EQ(found[0].Bytes, 30);
  EXPECT_EQ(found[0].EveryFileIn, "/t/C/");
  EXPECT_FALSE(found[0].SameFiles);
  ASSERT_EQ(found[0].CopiesIn.size(), 2u);
  EXPECT_EQ(found[0].CopiesIn[0].Folder, "/t/C/");
  EXPECT_EQ(found[0].CopiesIn[0].Files, 3);
  EXPECT_EQ(found[0].CopiesIn[1].Folder, "/t/C/old/");
  EXPECT_EQ(found[0].CopiesIn[1].Files, 1);
  // A folder of B could not be walked: B may hold more, only A is sure.
  t.folders[1].Whole = false;
  EXPECT_EQ(t.Listed(), std::vector<std::string>{"/t/B/A/"});
}

TEST(DuplicateFolders, TwoFoldersOfTheSameFilesNameEachOther) {
  Tree t;
  t.Folder("/t/", 0);
  t.Folder("/t/X/", 2);
  t.Folder("/t/Y/", 1);
  t.Folder("/t/Y/deep/", 1);
  t.Content({"/t/X/p", "/t/Y/deep/p"});
  t.Content({"/t/Y/q", "/t/X/q"});
  const std::vector<DuplicateFolder> found = FindDuplicateFolders(t.groups, t.folders);
  ASSERT_EQ(found.size(), 2u);  // not /t/: its copies are all inside it
  EXPECT_EQ(found[0].Path, "/t/X/");
  EXPECT_EQ(found[0].EveryFileIn, "/t/Y/");
  EXPECT_TRUE(found[0].SameFiles);
  EXPECT_EQ(found[1].Path, "/t/Y/");
  EXPECT_EQ(found[1].EveryFileIn, "/t/X/");
  EXPECT_TRUE(found[1].SameFiles);
}

TEST(DuplicateFolders, AFileWithoutACopyOutsideKeepsItsFoldersOut) {
  Tree t;
  t.Folder("/t/", 0);
  t.Folder("/t/H/", 2);  // h2 is the only one of its kind: H is half a copy
  t.Folder("/t/K/", 1);
  t.Folder("/t/D/", 1);  // its copy lies below it, not outside
  t.Folder("/t/D/sub/", 1);
  t.Content({"/t/H/h1", "/t/K/h1"});
  t.Content({"/t/D/d", "/t/D/sub/d"});
  EXPECT_EQ(t.Listed(), (std::vector<std::string>{"/t/D/sub/", "/t/K/"}));
  // A tree walked apart (another listed directory) is outside as well.
  t.Folder("/u/", 1);
  t.Content({"/u/x", "/t/K/x"});
  t.folders[2].Files = 2;
  EXPECT_EQ(t.Listed(), (std::vector<std::string>{"/t/D/sub/", "/t/K/", "/u/"}));
}

}  // namespace
}  // namespace veldrano
