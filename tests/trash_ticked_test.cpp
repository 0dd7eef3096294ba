#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/trash_can.h"
#include "results/trash_ticked.h"
#include "scan/scan_driver.h"
#include "support/scan_fixture.h"

namespace veldrano {
namespace {

namespace fs = std::filesystem;

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The Path= line of an info file, percent-decoded: what a file manager
// restores to.
std::string RestorePath(const std::string& infoPath) {
  const std::string info = Contents(infoPath);
  const std::size_t start = info.find("\nPath=") + 6;
  const std::string encoded = info.substr(start, info.find('\n', start) - start);
  std::string path;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] == '%') {
      path += static_cast<char>(std::stoi(encoded.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      path += encoded[i];
    }
  }
  return path;
}

// A scan of the tree with the desktop's trash in the test's own directory.
class TrashTicked : public testing::ScanTest {
 protected:
  void SetUp() override {
    ScanTest::SetUp();
    const char* old = std::getenv("XDG_DATA_HOME");
    if (old != nullptr) oldDataHome = old;
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
  }
  void TearDown() override {
    if (oldDataHome) {
      setenv("XDG_DATA_HOME", oldDataHome->c_str(), 1);
    } else {
      unsetenv("XDG_DATA_HOME");
    }
    ScanTest::TearDown();
  }
  void Scan() {
    List(tree);
    ASSERT_TRUE(sbStartClick());
    window.log.clear();
  }
  std::string Trash() const { return dir / "data/Trash"; }
  std::size_t Trashed() const {
    return fs::exists(Trash() + "/files")
               ? static_cast<std::size_t>(std::distance(fs::directory_iterator(Trash() + "/files"), {}))
               : 0;
  }
  // The information (without its warning number) and comment of the log
  // row naming path.
  std::string LineAbout(const std::string& path) const {
    for (const LogRow& row : window.log) {
      if (row.Name != path) continue;
      const std::size_t numbered = row.Information.starts_with("Warning #") ? row.Information.find(": ") + 2 : 0;
      return row.Information.substr(numbered) + " / " + row.Comment;
    }
    return {};
  }
  std::optional<std::string> oldDataHome;
};

TEST_F(TrashTicked, ProvenCopiesGoToTheTrashAndCanBePutBack) {
  const std::string a = File("a", "same bytes"), b = File("b", "same bytes"), c = File("sub/c", "same bytes");
  File("d", "other"), File("e", "other");
  const std::string odd = File("odd \xff\x01 name", "third"), oddCopy = File("p", "third");
  Scan();
  // Each group's first file stays; d and e stay too once e is unticked.
  for (SelectionRow& row : ScanContext.Selection) {
    if (PathOf(row) == tree + "/e") row.Checked = false;
  }
  const TrashPlan plan = PlanTrashTicked();
  ASSERT_EQ(plan.Files.size(), 3u);
  EXPECT_EQ(plan.Bytes, 10 + 10 + 5);

  const TrashSummary summary = MoveTickedToTrash(plan);
  EXPECT_EQ(summary.Moved, 3);
  EXPECT_EQ(summary.MovedBytes, 25);
  EXPECT_EQ(summary.LeftInPlace, 0);
  EXPECT_FALSE(fs::exists(b));
  EXPECT_FALSE(fs::exists(c));
  const std::string moved = fs::exists(odd) ? oddCopy : odd;  // whichever was found second
  EXPECT_FALSE(fs::exists(moved));
  EXPECT_EQ(Contents(a), "same bytes");
  EXPECT_EQ(Trashed(), 3u);
  EXPECT_EQ(LineAbout(b), "Moved to the Trash / Same bytes as " + a);
  EXPECT_EQ(window.Informations().end()[-2], "Files moved to the Trash: 3 (25 bytes)");

  // Groups left with one file are gone from the tree and the list; the
  // unticked pair d, e stays whole.
  ASSERT_EQ(ScanContext.ResultsRoot->Groups.size(), 1u);
  EXPECT_EQ(ScanContext.Selection.size(), 2u);
  EXPECT_EQ(PathOf(ScanContext.Selection[1]), tree + "/e");

  // Restored as a file manager does, from the info file, bytes and all.
  for (const auto& entry : fs::directory_iterator(Trash() + "/info")) {
    const std::string original = RestorePath(entry.path());
    const std::string inTrash = Trash() + "/files/" + entry.path().stem().string();
    ASSERT_EQ(std::rename(inTrash.c_str(), original.c_str()), 0) << original;
    EXPECT_EQ(Contents(original), original == moved ? "third" : "same bytes");
    EXPECT_NE(Contents(entry.path()).find("\nDeletionDate="), std::string::npos);
  }
}

TEST_F(TrashTicked, NothingMovesWithoutProof) {
  for (const std::string bytes : {"aaaa", "bbbbb", "cccccc", "ddddddd", "eeeeeeee", "fffffffff"}) {
    File(bytes + "1", bytes), File(bytes + "2", bytes);
  }
  Scan();
  // The first and the copy of each group, by contents.
  std::map<char, std::pair<std::string, std::string>> pair;
  for (const SignatureGroup& group : ScanContext.ResultsRoot->Groups) {
    pair[Contents(group.Files[0])[0]] = {group.Files[0], group.Files[1]};
  }
  for (SelectionRow& row : ScanContext.Selection) row.Checked = true;  // every file of every group
  std::ofstream(pair['a'].second) << "aaaZ";                           // same size, other bytes
  fs::remove(pair['c'].second);
  fs::create_hard_link(pair['c'].first, pair['c'].second);
  fs::remove(pair['d'].first);
  fs::remove(pair['e'].second);
  fs::create_symlink(pair['e'].first, pair['e'].second);
  std::ofstream(pair['f'].second, std::ios::app) << "f";

  const TrashSummary summary = MoveTickedToTrash(PlanTrashTicked());
  // Only b's copy had its proof; each group's first file stayed.
  EXPECT_EQ(summary.Moved, 1);
  EXPECT_EQ(summary.LeftInPlace, 5);
  EXPECT_EQ(Trashed(), 1u);
  EXPECT_FALSE(fs::exists(pair['b'].second));
  EXPECT_EQ(LineAbout(pair['b'].first).substr(0, 56), "Every file of its group is ticked: this one stays / MD5:");
  const std::string notMoved = "Not moved to the Trash / ";
  EXPECT_EQ(LineAbout(pair['a'].second),
            notMoved + "Its contents differ from those of every file of its group that stays");
  EXPECT_EQ(Contents(pair['a'].second), "aaaZ");
  EXPECT_EQ(LineAbout(pair['c'].second), notMoved + "The same file as " + pair['c'].first + ", which stays");
  EXPECT_EQ(LineAbout(pair['d'].second), notMoved + "No file of its group that stays is left to compare it with");
  EXPECT_EQ(LineAbout(pair['e'].second), notMoved + "No longer a regular file");
  EXPECT_TRUE(fs::is_symlink(pair['e'].second));
  EXPECT_EQ(LineAbout(pair['f'].second), notMoved + "Listed with 9 bytes, now 10 bytes");
  for (const char c : std::string("acdef")) EXPECT_TRUE(fs::exists(fs::symlink_status(pair[c].second))) << c;
  EXPECT_EQ(window.Informations().end()[-2], "Ticked files left in place: 5... Please see logs above...");
}

// Off the home trash's file system (tmpfs here), a file goes to the trash
// at the top of its own, with its place written relative to that top.
TEST(TrashCan, AFileOnAnotherFileSystemGoesToTheTrashOfItsTop) {
  struct stat shm {
  }, home{};
  const std::string data = platform::HomeTrashPath();
  if (stat("/dev/shm", &shm) != 0 || access("/dev/shm", W_OK) != 0 ||
      (stat(fs::path(data).parent_path().c_str(), &home) == 0 && home.st_dev == shm.st_dev)) {
    GTEST_SKIP() << "no second writable file system";
  }
  const std::string trash = "/dev/shm/.Trash-" + std::to_string(geteuid());
  const bool trashExisted = fs::exists(trash);
  char pattern[] = "/dev/shm/veldrano-trash-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string file = std::string(pattern) + "/f";
  std::ofstream(file) << "x";
  struct stat status {};
  ASSERT_EQ(stat(file.c_str(), &status), 0);

  platform::TrashCan can;
  EXPECT_EQ(can.Move(file, status.st_dev, status.st_ino + 1).Error(), ESTALE);  // not that file
  EXPECT_TRUE(fs::exists(file));
  const auto moved = can.Move(file, status.st_dev, status.st_ino);
  ASSERT_TRUE(moved.Ok()) << moved.Error();
  EXPECT_EQ(moved.Value().FilePath.rfind(trash + "/files/f", 0), 0u);
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(RestorePath(moved.Value().InfoPath), file.substr(std::string("/dev/shm/").size()));

  fs::remove(moved.Value().FilePath);
  fs::remove(moved.Value().InfoPath);
  fs::remove(pattern);
  if (!trashExisted) fs::remove_all(trash);
}

}  // namespace
}  // namespace veldrano
