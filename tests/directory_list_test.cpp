#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "scan/directory_list.h"
#include "support/temp_dir.h"

namespace veldrano {
namespace {

using Rows = std::vector<std::string>;

// Drops land on real directories made in a scratch directory.
class DirectoryList : public ::testing::Test {
 protected:
  // Makes the directory name (and its parents) in the scratch directory;
  // returns its path without a trailing "/".
  std::string Make(const std::string& name) {
    const std::string path = dir / name;
    std::filesystem::create_directories(path);
    return path;
  }
  // The row a directory of the scratch directory is listed as.
  std::string Row(const std::string& name) const { return dir / name + "/"; }

  testing::TempDir dir;
  Rows list;
};

TEST_F(DirectoryList, ListsADroppedDirectoryOnceWithATrailingSlash) {
  EXPECT_TRUE(AddDroppedDirectory(list, Make("data")));
  EXPECT_EQ(list, Rows{Row("data")});

  EXPECT_FALSE(AddDroppedDirectory(list, dir / "data"));
  EXPECT_FALSE(AddDroppedDirectory(list, dir / "data/"));
  EXPECT_EQ(list, Rows{Row("data")});
}

TEST_F(DirectoryList, IgnoresWhatIsNotADirectory) {
  const std::string file = dir.Write("notes.txt", "x");
  std::filesystem::create_symlink(file, dir / "file-link");
  EXPECT_FALSE(AddDroppedDirectory(list, file));
  EXPECT_FALSE(AddDroppedDirectory(list, dir / "file-link"));
  EXPECT_FALSE(AddDroppedDirectory(list, dir / "missing"));
  EXPECT_FALSE(AddDroppedDirectory(list, ""));
  EXPECT_TRUE(list.empty());

  AddDroppedDirectory(list, Make("data"));
  EXPECT_FALSE(AddDroppedDirectory(list, file));
  EXPECT_EQ(list, Rows{Row("data")});
}

TEST_F(DirectoryList, ListsALinkToADirectoryUnderItsOwnName) {
  std::filesystem::create_directory_symlink(Make("data"), dir / "link");
  EXPECT_TRUE(AddDroppedDirectory(list, dir / "link"));
  EXPECT_EQ(list, Rows{Row("link")});
}

TEST_F(DirectoryList, LeavesOutADirectoryInsideAListedOne) {
  Make("data/sub/deeper");
  AddDroppedDirectory(list, dir / "data");
  EXPECT_FALSE(AddDroppedDirectory(list, dir / "data/sub"));
  EXPECT_FALSE(AddDroppedDirectory(list, dir / "data/sub/deeper/"));
  EXPECT_EQ(list, Rows{Row("data")});
}

TEST_F(DirectoryList, ListedDirectoriesInsideTheDroppedOneGiveWayToIt) {
  Make("data/sub");
  Make("data/a");
  Make("data/b");
  Make("other");

  AddDroppedDirectory(list, dir / "data/sub");
  EXPECT_TRUE(AddDroppedDirectory(list, dir / "data"));
  EXPECT_EQ(list, Rows{Row("data")});

  list.clear();
  AddDroppedDirectory(list, dir / "data/a");
  AddDroppedDirectory(list, dir / "other");
  AddDroppedDirectory(list, dir / "data/b");
  EXPECT_EQ(list.size(), 3u);
  EXPECT_TRUE(AddDroppedDirectory(list, dir / "data"));
  EXPECT_EQ(list, (Rows{Row("data"), Row("other")}));
}

TEST_F(DirectoryList, ContainmentMeansAWholeLeadingPath) {
  Make("a");
  Make("ab");
  AddDroppedDirectory(list, dir / "a");
  EXPECT_TRUE(AddDroppedDirectory(list, dir / "ab"));
  EXPECT_EQ(list, (Rows{Row("a"), Row("ab")}));

  // "<tmp>/a/" occurs within "<tmp>/x/a/" only when the rest of the scratch
  // path repeats below x; neither lies inside the other.
  const std::string nested = Make("x" + dir.Path() + "/a");
  list = {Row("a")};
  EXPECT_TRUE(AddDroppedDirectory(list, nested));
  EXPECT_EQ(list.size(), 2u);

  list = {nested + "/"};
  EXPECT_TRUE(AddDroppedDirectory(list, dir / "a"));
  EXPECT_EQ(list, (Rows{Row("a"), nested + "/"}));

  Make("x/a");
  list = {Row("x/a")};
  EXPECT_TRUE(AddDroppedDirectory(list, dir / "a"));
  EXPECT_EQ(list, (Rows{Row("a"), Row("x/a")}));
}

TEST_F(DirectoryList, KeepsLetterCaseSoDataAndDataAreTwoRows) {
  EXPECT_TRUE(AddDroppedDirectory(list, Make("data")));
  EXPECT_TRUE(AddDroppedDirectory(list, Make("Data")));
  EXPECT_EQ(list, (Rows{Row("Data"), Row("data")}));
  EXPECT_FALSE(AddDroppedDirectory(list, dir / "Data/"));
}

TEST_F(DirectoryList, KeepsRowsInOrderIgnoringLetterCaseAfterEveryDrop) {
  AddDroppedDirectory(list, Make("B"));
  AddDroppedDirectory(list, Make("a"));
  EXPECT_EQ(list, (Rows{Row("a"), Row("B")}));
  AddDroppedDirectory(list, Make("C"));
  EXPECT_EQ(list, (Rows{Row("a"), Row("B"), Row("C")}));
}

TEST_F(DirectoryList, RowsEditedInPlaceAreSortedAndComparedAsDirectories) {
  Make("data/sub");
  Make("zed");
  // As the user typed them: out of order, one without its "/".
  list = {Row("zed"), dir / "data"};
  EXPECT_TRUE(AddDroppedDirectory(list, dir / "data/sub")) << "reordered, though nothing was added";
  EXPECT_EQ(list, (Rows{dir / "data", Row("zed")}));

  EXPECT_TRUE(AddDroppedDirectory(list, dir / "data"));
  EXPECT_EQ(list, (Rows{Row("data"), Row("zed")}));
}

TEST(DirectoryListOrder, FoldsAsciiLettersOnly) {
  EXPECT_TRUE(ListaCompare("/a/", "/B/"));
  EXPECT_FALSE(ListaCompare("/B/", "/a/"));
  EXPECT_TRUE(ListaCompare("/Abc/", "/abd/"));
  // Other characters by their code: "_" comes after every letter, as it does
  // after "Z"; bytes from 0x80 on come after ASCII.
  EXPECT_TRUE(ListaCompare("/az/", "/a_/"));
  EXPECT_TRUE(ListaCompare("/z/", "/\xc3\xa9/"));
  EXPECT_FALSE(ListaCompare("/\xc3\xa9/", "/z/"));
  // A leading part comes first.
  EXPECT_TRUE(ListaCompare("/a/", "/a/b/"));
  EXPECT_FALSE(ListaCompare("/a/b/", "/a/"));
}

TEST(DirectoryListOrder, BreaksCaseTiesByBytesSoTheOrderIsTotal) {
  EXPECT_TRUE(ListaCompare("/Data/", "/data/"));
  EXPECT_FALSE(ListaCompare("/data/", "/Data/"));
  EXPECT_FALSE(ListaCompare("/data/", "/data/"));
}

}  // namespace
}  // namespace veldrano
