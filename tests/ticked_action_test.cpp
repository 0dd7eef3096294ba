#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "platform/trash_can.h"
#include "results/ticked_action.h"
#include "results/trash_act.h"
#include "scan/scan_driver.h"
#include "support/temp_dir.h"
#include "support/ticked_fixture.h"

namespace veldrano {
namespace {

namespace fs = std::filesystem;

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

TEST_F(TrashTicked, ProvenCopiesGoToTheTrashAndCanBePutBack) {
  const std::string a = File("a", "same bytes"), b = File("b", "same bytes"), c = File("sub/c", "same bytes");
  File("d", "other"), File("e", "other");
  const std::string odd = File("odd \xff\x01 name", "third"), oddCopy = File("p", "third");
  Scan();
  // Each group's first file stays; d and e stay too once e is unticked.
  for (SelectionRow& row : ScanContext.Selection) {
    if (PathOf(row) == tree + "/e") row.Checked = false;
  }
  const ActPlan plan = PlanTicked();
  ASSERT_EQ(plan.Files.size(), 3u);
  EXPECT_EQ(plan.Bytes, 10 + 10 + 5);

  const ActSummary summary = MoveTickedToTrash(plan);
  EXPECT_EQ(summary.Done, 3);
  EXPECT_EQ(summary.DoneBytes, 25);
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

  const ActSummary summary = MoveTickedToTrash(PlanTicked());
  // Only b's copy had its proof; each group's first file stayed.
  EXPECT_EQ(summary.Done, 1);
  EXPECT_EQ(summary.LeftInPlace, 5);
  EXPECT_EQ(Trashed(), 1u);
  EXPECT_FALSE(fs::exists(pair['b'].second));
  EXPECT_EQ(LineAbout(pair['b'].first).substr(0, 56), "Every file of its group is ticked: this one stays / MD5:");
  const std::string notMoved = "Not moved to the Trash / ";
  EXPECT_EQ(LineAbout(pair['a'].second),
            notMoved + "Its contents differ from those of every file of its group that stays");
  EXPECT_EQ(Contents(pair['a'].second), "aaaZ");
  EXPECT_EQ(LineAbout(pair['c'].second), notMoved + "Replaced by another file since the scan");
  EXPECT_EQ(LineAbout(pair['d'].second), notMoved + "No file of its group that stays is left to compare it with");
  EXPECT_EQ(LineAbout(pair['e'].second), notMoved + "No longer a regular file");
  EXPECT_TRUE(fs::is_symlink(pair['e'].second));
  EXPECT_EQ(LineAbout(pair['f'].second), notMoved + "Listed with 9 bytes, now 10 bytes");
  for (const char c : std::string("acdef")) EXPECT_TRUE(fs::exists(fs::symlink_status(pair[c].second))) << c;
  EXPECT_EQ(window.Informations().end()[-2], "Ticked files left in place: 5... Please see logs above...");
}

// Moves the files as a TrashAct does, with something done to the files at
// the one moment the proof cannot see: after the comparison, around the
// rename.
class ActWithRace : public TrashAct {
 public:
  std::function<void(const ReachedFile&)> before, after;
  int Do(ReachedFile& file, const ReachedFile& kept) override {
    if (before) before(file);
    const int error = TrashAct::Do(file, kept);
    if (after) after(file);
    return error;
  }
};

TEST_F(TrashTicked, AFileChangedAroundTheRenameIsPutBack) {
  const std::string a = File("a", "same bytes"), b = File("b", "same bytes");
  Scan();
  ActWithRace act;
  // The copy that stays is edited after it was compared.
  act.before = [&](const ReachedFile&) { Overwrite(a, "SAME"); };
  ActSummary summary = MoveTickedToTrash(PlanTicked(), &act);
  EXPECT_EQ(summary.Done, 0);
  EXPECT_EQ(summary.LeftInPlace, 1);
  EXPECT_EQ(Contents(b), "same bytes");
  EXPECT_EQ(LineAbout(b), "Not moved to the Trash / The copy that stays, " + a + ", changed meanwhile: put back");
  EXPECT_EQ(Trashed(), 0u);
  EXPECT_FALSE(fs::exists(Trash() + "/info/b.trashinfo"));

  // The ticked copy is edited after the comparison, its modification time
  // set back: only its bytes can tell.
  Overwrite(a, "same");
  Scan();
  window.log.clear();
  act.before = [&](const ReachedFile& file) { Overwrite(file.Path, "SAME", true); };
  summary = MoveTickedToTrash(PlanTicked(), &act);
  EXPECT_EQ(summary.Done, 0);
  EXPECT_EQ(Contents(b), "SAME bytes");
  EXPECT_EQ(LineAbout(b), "Not moved to the Trash / Its bytes no longer equal those of " + a + ": put back");
  EXPECT_EQ(Trashed(), 0u);
}

TEST_F(TrashTicked, AFileThatCannotGoBackStaysRestorable) {
  const std::string a = File("a", "same bytes"), b = File("b", "same bytes");
  Scan();
  ActWithRace act;
  // Once it is in the Trash, its copy changes and its name is taken.
  act.after = [&](const ReachedFile&) {
    Overwrite(a, "SAME");
    std::ofstream(b) << "a new file";
  };
  const ActSummary summary = MoveTickedToTrash(PlanTicked(), &act);
  EXPECT_EQ(summary.Done, 0);
  EXPECT_EQ(summary.LeftWithoutProof, 1);
  EXPECT_EQ(Contents(b), "a new file");
  const std::string trashed = Trash() + "/files/b", info = Trash() + "/info/b.trashinfo";
  EXPECT_EQ(Contents(trashed), "same bytes");
  EXPECT_EQ(RestorePath(info), b);
  EXPECT_EQ(LineAbout(b), "Left in the Trash without proof / The copy that stays, " + a +
                              ", changed meanwhile, and it could not be put back (File exists): it is in the Trash "
                              "as " +
                              trashed + ", with its info file " + info);
  EXPECT_EQ(window.Informations().end()[-2], "Files left in the Trash without proof: 1... Please see logs above...");
}

// After the scan, a folder on a ticked file's path becomes a link to another
// user's folder holding the same bytes: nothing there is touched.
TEST_F(TrashTicked, NothingIsReachedThroughALinkMadeAfterTheScan) {
  const std::string a = File("a", "same bytes"), b = File("sub/b", "same bytes");
  const std::string victim = dir / "victim";
  fs::create_directories(victim);
  std::ofstream(victim + "/b") << "same bytes";
  Scan();
  fs::rename(tree + "/sub", tree + "/sub.old");
  fs::create_directory_symlink(victim, tree + "/sub");
  ActSummary summary = MoveTickedToTrash(PlanTicked());
  EXPECT_EQ(summary.Done, 0);
  EXPECT_EQ(LineAbout(b), "Not moved to the Trash / A folder on its path is now a link");
  EXPECT_EQ(Contents(victim + "/b"), "same bytes");
  EXPECT_EQ(Trashed(), 0u);

  // The same with the listed folder itself.
  fs::remove(tree + "/sub");
  fs::rename(tree + "/sub.old", tree + "/sub");
  Scan();
  fs::rename(tree, dir / "tree.old");
  fs::create_directory_symlink(dir / "tree.old/sub", tree);
  summary = MoveTickedToTrash(PlanTicked());
  EXPECT_EQ(summary.Done, 0);
  EXPECT_EQ(LineAbout(b),
            "Not moved to the Trash / The folder " + tree + "/ is no longer the one the scan went through");
  EXPECT_EQ(Trashed(), 0u);
}

// A home whose Trash holds a copy from an earlier move is scanned whole:
// the last live copy stays, and nothing in the Trash moves.
TEST_F(TrashTicked, ATrashInsideTheScanIsNeverActedOn) {
  setenv("XDG_DATA_HOME", (tree + "/.local/share").c_str(), 1);
  const std::string photo = File("Pictures/p.jpg", "picture"), copy = File("Pictures/q.jpg", "picture");
  Scan();
  ASSERT_EQ(MoveTickedToTrash(PlanTicked()).Done, 1);
  const std::string trashed = tree + "/.local/share/Trash/files/q.jpg";
  ASSERT_TRUE(fs::exists(trashed));
  Scan();
  for (SelectionRow& row : ScanContext.Selection) row.Checked = PathOf(row) != trashed;
  MoveTickedToTrash(PlanTicked());
  EXPECT_EQ(Contents(photo), "picture");
  EXPECT_EQ(Contents(trashed), "picture");
  EXPECT_TRUE(fs::exists(tree + "/.local/share/Trash/info/q.jpg.trashinfo"));
  EXPECT_EQ(std::distance(fs::directory_iterator(tree + "/.local/share/Trash/files"), {}), 1);
}

TEST_F(TrashTicked, AHomeTrashMayBeALinkToAFolderOfTheUsersOwn) {
  fs::create_directories(dir / "data");
  fs::create_directories(dir / "elsewhere");
  fs::create_directory_symlink(dir / "elsewhere", Trash());
  const std::string a = File("a", "same bytes"), b = File("b", "same bytes");
  Scan();
  EXPECT_EQ(MoveTickedToTrash(PlanTicked()).Done, 1);
  EXPECT_EQ(Contents(dir / "elsewhere/files/b"), "same bytes");

  // Somebody else's folder is no Trash of ours, and the message says why.
  if (geteuid() != 0) GTEST_SKIP() << "giving a folder to another user needs root";
  File("c", "same bytes");
  ASSERT_EQ(chown((dir / "elsewhere").c_str(), 12345, 12345), 0);
  Scan();
  MoveTickedToTrash(PlanTicked());
  EXPECT_EQ(LineAbout(tree + "/c"),
            "Not moved to the Trash / No Trash can be used on its file system: The Trash "
            "folder " +
                Trash() + " belongs to another user");
  EXPECT_TRUE(fs::exists(tree + "/c"));
}

TEST_F(TrashTicked, LongNamesAreCutBetweenTwoCharacters) {
  std::string name;
  for (int i = 0; i < 125; ++i) name += "\xc3\xa9";  // é, 250 bytes
  File("a", "same bytes");
  File(name, "same bytes");
  Scan();
  ASSERT_EQ(MoveTickedToTrash(PlanTicked()).Done, 1);
  const std::string trashName = fs::directory_iterator(Trash() + "/files")->path().filename();
  EXPECT_EQ(trashName, name.substr(0, 244));
}

// A reference folder's file is never moved: not when a stale tick says so,
// nor when another listed folder reaches it under another name.
TEST_F(TrashTicked, AReferenceFileIsNeverMoved) {
  const std::string kept = File("z-ref/f", "same bytes"), copy = File("a-other/copy", "same bytes");
  fs::create_hard_link(kept, tree + "/a-other/link");  // the same file, listed first
  List(tree + "/a-other");
  List(tree + "/z-ref");
  ScanContext.ReferenceFolders = {tree + "/z-ref/"};
  ASSERT_TRUE(sbStartClick());
  ASSERT_EQ(ScanContext.ResultsRoot->Groups.size(), 1u);
  EXPECT_EQ(ScanContext.ResultsRoot->Groups[0].Files, (std::vector<std::string>{kept, copy}));
  EXPECT_EQ(ScanContext.FilesMetTwice, 1);
  for (SelectionRow& row : ScanContext.Selection) row.Checked = true;  // stale ticks
  EXPECT_EQ(PlanTicked().Files.size(), 1u);
  EXPECT_EQ(MoveTickedToTrash(PlanTicked()).Done, 1);
  EXPECT_EQ(Contents(kept), "same bytes");
  EXPECT_EQ(Contents(tree + "/a-other/link"), "same bytes");
  EXPECT_FALSE(fs::exists(copy));

  // And should a plan name it, the act itself refuses.
  File("a-other/copy", "same bytes");
  ASSERT_TRUE(sbStartClick());
  window.log.clear();
  ActPlan stale = PlanTicked();
  stale.Files = {{0, 0}};
  EXPECT_EQ(MoveTickedToTrash(stale).Done, 0);
  EXPECT_EQ(LineAbout(kept), "Not moved to the Trash / In a reference folder");
  EXPECT_EQ(Contents(kept), "same bytes");

  // The same with the reference folder inside the one listed directory
  // (as veldrano-scan --reference allows): it is walked first all the same.
  window.directories.clear();
  List(tree);
  ASSERT_TRUE(sbStartClick());
  ASSERT_EQ(ScanContext.ResultsRoot->Groups.size(), 1u);
  EXPECT_EQ(ScanContext.ResultsRoot->Groups[0].Files, (std::vector<std::string>{kept, tree + "/a-other/copy"}));
  const std::vector<std::string> info = window.Informations();
  const auto job = std::find(info.begin(), info.end(), "Job: " + tree + "/z-ref/ (reference)");
  ASSERT_NE(job, info.end());
  EXPECT_EQ(*(job + 1), "Job: " + tree + "/");
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
  const platform::UniqueFd folder(open(pattern, O_RDONLY | O_DIRECTORY));

  platform::TrashCan can;
  EXPECT_EQ(can.Move(folder.Get(), "f", pattern, status.st_dev, status.st_ino + 1).Error(), ESTALE);  // not that file
  EXPECT_TRUE(fs::exists(file));
  const auto moved = can.Move(folder.Get(), "f", pattern, status.st_dev, status.st_ino);
  ASSERT_TRUE(moved.Ok()) << moved.Error();
  EXPECT_EQ(moved.Value().FilePath.rfind(trash + "/files/f", 0), 0u);
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(RestorePath(moved.Value().InfoPath), file.substr(std::string("/dev/shm/").size()));

  fs::remove(moved.Value().FilePath);
  fs::remove(moved.Value().InfoPath);
  fs::remove(pattern);
  if (!trashExisted) fs::remove_all(trash);
}

// At the top of a file system of its own (a tmpfs in a mount namespace of a
// child process), a .Trash serves everybody only when the administrator
// made it, with the sticky bit; another user's is passed over.
TEST(TrashCan, OnlyTheAdministratorsSharedTrashIsUsed) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting and giving folders away need root";
  testing::TempDir scratch;
  const std::string top = scratch / "top";
  fs::create_directories(top);
  const auto trashOf = [&](uid_t owner) -> std::string {
    const pid_t child = fork();
    if (child == 0) {
      if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
          mount("tmpfs", top.c_str(), "tmpfs", 0, nullptr) != 0) {
        _exit(77);
      }
      mkdir((top + "/.Trash").c_str(), 01777);
      chmod((top + "/.Trash").c_str(), 01777);
      if (chown((top + "/.Trash").c_str(), owner, owner) != 0) _exit(1);
      std::ofstream(top + "/f") << "x";
      struct stat status {};
      stat((top + "/f").c_str(), &status);
      const platform::UniqueFd folder(open(top.c_str(), O_RDONLY | O_DIRECTORY));
      platform::TrashCan can;
      const auto moved = can.Move(folder.Get(), "f", top, status.st_dev, status.st_ino);
      if (!moved.Ok()) _exit(2);
      _exit(moved.Value().FilePath.starts_with(top + "/.Trash/0/files/")   ? 10
            : moved.Value().FilePath.starts_with(top + "/.Trash-0/files/") ? 11
                                                                           : 3);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  };
  const std::string administrators = trashOf(0);
  if (administrators == "77") GTEST_SKIP() << "no mount namespace of its own here";
  EXPECT_EQ(administrators, "10");
  EXPECT_EQ(trashOf(12345), "11");
}

}  // namespace
}  // namespace veldrano
