#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "results/action_journal.h"
#include "results/link_act.h"
#include "results/share_blocks_act.h"
#include "results/ticked_action.h"
#include "results/undo_action.h"
#include "support/mount_namespace.h"
#include "support/ticked_fixture.h"

namespace veldrano {
namespace {

namespace fs = std::filesystem;

// Every name below root with its type, inode, mode, size and times: what a
// dry run must leave as it was.
std::string Listing(const std::string& root) {
  std::set<std::string> lines;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    struct stat s {};
    lstat(entry.path().c_str(), &s);
    lines.insert(entry.path().string() + " " + std::to_string(s.st_ino) + " " + std::to_string(s.st_mode) + " " +
                 std::to_string(s.st_size) + " " + std::to_string(s.st_mtim.tv_nsec) + " " +
                 std::to_string(s.st_ctim.tv_nsec) + " " + std::to_string(s.st_nlink));
  }
  std::string all;
  for (const std::string& line : lines) all += line + "\n";
  return all;
}

// Names the actions left behind in a folder: fresh names that should have
// gone again.
std::size_t Leftovers(const std::string& root) {
  std::size_t left = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    left += entry.path().filename().string().starts_with(".veldrano-") ? 1 : 0;
  }
  return left;
}

ino_t InodeOf(const std::string& path) {
  struct stat s {};
  return lstat(path.c_str(), &s) == 0 ? s.st_ino : 0;
}

class ActionsOnTicked : public TrashTicked {
 protected:
  ActSummary Act(ActionKind kind, bool dryRun = false, const std::string& destination = {},
                 ReversibleAct* act = nullptr) {
    TickedAction action;
    action.Kind = kind;
    action.DryRun = dryRun;
    action.Destination = destination;
    action.RemoveEmptiedFolders = !destination.empty();
    return ActOnTicked(PlanTicked(), action, act);
  }
};

TEST_F(ActionsOnTicked, LinksKeepEveryPathAndUndoMakesSeparateCopiesAgain) {
  const std::string a = File("a", "same bytes"), b = File("sub/b", "same bytes"), c = File("c", "same bytes");
  ASSERT_EQ(chmod(b.c_str(), 0640), 0);
  const timespec old[2] = {{1000000000, 5}, {1000000000, 7}};
  ASSERT_EQ(utimensat(AT_FDCWD, b.c_str(), old, 0), 0);
  Scan();
  ActSummary summary = Act(ActionKind::HardLink);
  EXPECT_EQ(summary.Done, 2);
  EXPECT_EQ(InodeOf(b), InodeOf(a));
  EXPECT_EQ(InodeOf(c), InodeOf(a));
  EXPECT_EQ(Leftovers(tree), 0u);
  EXPECT_EQ(LineAbout(b), "Replaced with a hard link / Same bytes as " + a);

  const UndoSummary undone = UndoJournal(summary.Journal);
  EXPECT_EQ(undone.PutBack, 2);
  for (const std::string& path : {b, c}) {
    EXPECT_NE(InodeOf(path), InodeOf(a)) << path;
    EXPECT_EQ(Contents(path), "same bytes");
  }
  struct stat back {};
  ASSERT_EQ(stat(b.c_str(), &back), 0);
  EXPECT_EQ(back.st_mode & 07777, 0640u);
  EXPECT_EQ(back.st_mtim.tv_sec, 1000000000);
  EXPECT_EQ(back.st_mtim.tv_nsec, 7);
  // Marked in the journal: a second undo has nothing left to do.
  EXPECT_EQ(UndoJournal(summary.Journal).PutBack, 0);

  // Symbolic links, relative to the file's folder, lead to the copy.
  Scan();
  summary = Act(ActionKind::RelativeSymbolicLink);
  EXPECT_EQ(summary.Done, 2);
  EXPECT_EQ(fs::read_symlink(b), "../a");
  EXPECT_EQ(Contents(b), "same bytes");
  // Undo never overwrites what took the link's place since.
  fs::remove(c);
  std::ofstream(c) << "a new file";
  const UndoSummary partly = UndoJournal(summary.Journal);
  EXPECT_EQ(partly.PutBack, 1);
  EXPECT_EQ(partly.NotPutBack, 1);
  EXPECT_EQ(Contents(c), "a new file");
  EXPECT_FALSE(fs::is_symlink(b));
  EXPECT_EQ(Contents(b), "same bytes");
}

// The peers' data-loss faults: a copy is never replaced on a stale proof.
TEST_F(ActionsOnTicked, NothingIsReplacedWithoutProof) {
  for (const ActionKind kind : {ActionKind::HardLink, ActionKind::SymbolicLink}) {
    const std::string a = File("a", "same bytes"), b = File("b", "same bytes");
    const std::string c = File("c", "more bytes"), d = File("d", "more bytes");
    const std::string e = File("e", "third one!"), f = File("f", "third one!");
    Scan();
    std::ofstream(b) << "SAME bytes";  // the duplicate changed, same size
    Overwrite(c, "MORE");              // the copy that stays changed
    fs::remove(e);
    fs::create_symlink(dir / "elsewhere", e);  // the copy that stays replaced by a link
    const ActSummary summary = Act(kind);
    EXPECT_EQ(summary.Done, 0);
    EXPECT_EQ(summary.LeftInPlace, 3);
    EXPECT_EQ(Contents(b), "SAME bytes");
    EXPECT_EQ(Contents(d), "more bytes");
    EXPECT_EQ(Contents(f), "third one!");
    for (const std::string& path : {b, d, f}) EXPECT_FALSE(fs::is_symlink(path)) << path;
    EXPECT_EQ(Leftovers(tree), 0u);
    fs::remove_all(tree);
    fs::create_directories(tree);
  }
}

// Does the act as a LinkAct does, with something done to the files after
// the comparison, before the link is made.
class LinkWithRace : public LinkAct {
 public:
  using LinkAct::LinkAct;
  std::function<void(const ReachedFile&)> before;
  int Do(ReachedFile& file, const ReachedFile& kept) override {
    if (before) before(file);
    return LinkAct::Do(file, kept);
  }
};

TEST_F(ActionsOnTicked, AChangeAfterTheComparisonStopsTheReplacement) {
  const std::string a = File("a", "same bytes"), b = File("b", "same bytes");
  Scan();
  LinkWithRace act(LinkAct::Kind::Hard);
  // Its bytes change, its modification time set back: only its change time
  // tells.
  act.before = [&](const ReachedFile& file) { Overwrite(file.Path, "SAME", true); };
  EXPECT_EQ(Act(ActionKind::HardLink, false, {}, &act).Done, 0);
  EXPECT_EQ(Contents(b), "SAME bytes");
  EXPECT_NE(InodeOf(b), InodeOf(a));
  EXPECT_EQ(LineAbout(b), "Not replaced with a hard link / It or its copy changed since they were compared");
  EXPECT_EQ(Leftovers(tree), 0u);
}

TEST_F(ActionsOnTicked, AHardLinkAcrossFileSystemsIsRefused) {
  const std::string a = File("a", "same bytes");
  fs::create_directories(tree + "/other");
  const std::optional<std::string> result = testing::InOwnMountNamespace([&]() -> std::optional<std::string> {
    if (mount("tmpfs", (tree + "/other").c_str(), "tmpfs", 0, nullptr) != 0) return std::nullopt;
    const std::string b = File("other/b", "same bytes");
    Scan();
    const ActSummary summary = Act(ActionKind::HardLink);
    return std::to_string(summary.Done) + " " + Contents(b) + " / " + LineAbout(b);
  });
  if (!result) GTEST_SKIP() << "no tmpfs can be mounted here";
  EXPECT_EQ(*result, "0 same bytes / Not replaced with a hard link / On another file system than its copy " + a +
                         ": no hard link can join them");
}

TEST_F(ActionsOnTicked, MovesKeepTheFolderStructureAndNeverOverwrite) {
  const std::string a = File("a", "same bytes"), b = File("sub/deep/b", "same bytes"), c = File("c", "same bytes");
  const std::string destination = dir / "kept-aside";
  fs::create_directories(destination + "/tree");
  std::ofstream(destination + "/tree/c") << "not to be lost";
  Scan();
  const ActSummary summary = Act(ActionKind::Move, false, destination);
  EXPECT_EQ(summary.Done, 1);
  EXPECT_EQ(Contents(destination + "/tree/sub/deep/b"), "same bytes");
  EXPECT_EQ(Contents(destination + "/tree/c"), "not to be lost");
  EXPECT_EQ(Contents(c), "same bytes");
  EXPECT_EQ(LineAbout(c), "Not moved / A file is already there: " + destination + "/tree/c");
  // The folders it left empty went; the listed folder stays.
  EXPECT_FALSE(fs::exists(tree + "/sub"));
  EXPECT_EQ(summary.FoldersRemoved, 2);

  // Undo makes the folders again and moves it back.
  EXPECT_EQ(UndoJournal(summary.Journal).PutBack, 1);
  EXPECT_EQ(Contents(b), "same bytes");
  EXPECT_FALSE(fs::exists(destination + "/tree/sub/deep/b"));
}

TEST_F(ActionsOnTicked, ADryRunChangesNothing) {
  File("a", "same bytes"), File("sub/b", "same bytes"), File("c", "other"), File("d", "other");
  const std::string destination = dir / "aside";
  fs::create_directories(destination);
  for (const ActionKind kind :
       {ActionKind::Trash, ActionKind::HardLink, ActionKind::SymbolicLink, ActionKind::ShareBlocks, ActionKind::Move}) {
    Scan();
    const std::string before = Listing(dir / "");
    const ActSummary summary = Act(kind, true, kind == ActionKind::Move ? destination : "");
    EXPECT_EQ(summary.Done, 2) << static_cast<int>(kind);
    EXPECT_EQ(Listing(dir / ""), before) << static_cast<int>(kind);
    EXPECT_EQ(summary.Journal, "");
    EXPECT_EQ(window.Informations().end()[-2], "Dry run: nothing was changed");
  }
}

// The physical place of a file's first block (FIEMAP).
std::uint64_t FirstBlock(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY);
  alignas(fiemap) unsigned char buffer[sizeof(fiemap) + sizeof(fiemap_extent)] = {};
  auto* map = reinterpret_cast<fiemap*>(buffer);
  map->fm_length = ~0ULL;
  map->fm_flags = FIEMAP_FLAG_SYNC;
  map->fm_extent_count = 1;
  const bool ok = ioctl(fd, FS_IOC_FIEMAP, map) == 0 && map->fm_mapped_extents == 1;
  close(fd);
  return ok ? map->fm_extents[0].fe_physical : 0;
}

// Does the act as a ShareBlocksAct does, with the file changed after the
// comparison, before the kernel compares it again.
class ShareWithRace : public ShareBlocksAct {
 public:
  std::function<void(const ReachedFile&)> before;
  int Do(ReachedFile& file, const ReachedFile& kept) override {
    if (before) before(file);
    return ShareBlocksAct::Do(file, kept);
  }
};

TEST_F(ActionsOnTicked, SharedBlocksOnBtrfs) {
  if (geteuid() != 0 || system("command -v mkfs.btrfs >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "a btrfs image needs root and mkfs.btrfs";
  }
  const std::string image = dir / "btrfs.img";
  const std::string make = "truncate -s 128M '" + image + "' && mkfs.btrfs -q '" + image + "' >/dev/null 2>&1";
  ASSERT_EQ(system(make.c_str()), 0);
  const std::optional<std::string> result = testing::InOwnMountNamespace([&]() -> std::optional<std::string> {
    if (system(("mount -o loop '" + image + "' '" + tree + "' 2>/dev/null").c_str()) != 0) return std::nullopt;
    const std::string big(1 << 20, 'x');
    const std::string a = File("a", big), b = File("b", big), c = File("c", big + "y"), d = File("d", big + "y");
    sync();
    Scan();
    const ActSummary shared = Act(ActionKind::ShareBlocks);
    std::string text =
        std::to_string(shared.Done) + (FirstBlock(a) == FirstBlock(b) && FirstBlock(a) != 0 ? " shared" : " apart");
    text += InodeOf(a) != InodeOf(b) ? " separate" : " one file";
    // A file changed after the comparison is never overwritten.
    Scan();
    ShareWithRace act;
    act.before = [](const ReachedFile& file) { Overwrite(file.Path, "Z", true); };
    for (SelectionRow& row : ScanContext.Selection) row.Checked = PathOf(row) == d;
    const ActSummary changed = ActOnTicked(PlanTicked(), TickedAction{ActionKind::ShareBlocks, {}, false, false}, &act);
    text += " " + std::to_string(changed.Done) + " " + Contents(d).substr(0, 2) + " / " + LineAbout(d);
    umount2(tree.c_str(), MNT_DETACH);
    return text;
  });
  if (!result) GTEST_SKIP() << "no loop device can be had here";
  EXPECT_EQ(*result, "2 shared separate 0 Zx / Blocks not shared / Its bytes changed since they were compared");
}

}  // namespace
}  // namespace veldrano
