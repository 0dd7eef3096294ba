#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <thread>

#include "support/temp_dir.h"

namespace {

struct Outcome {
  int status = -1;
  std::string out, err;
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

// Where the scanner's standard output goes: a file, the full device, or a
// pipe whose reader is already gone.
enum class Output { File, Full, ClosedPipe };

// Runs veldrano-scan with arguments (already quoted for the shell) and the
// given TMPDIR, in a process group of its own; standard error goes to a
// file, and so does standard output unless told otherwise: neither is a
// terminal. A run that takes longer than a minute is killed and gives
// status -1.
class Scanner : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(tree);
    std::filesystem::create_directories(tmp);
  }
  // Starts the run; its process id, which is also its group's, or -1.
  pid_t Start(const std::string& arguments, const std::string& tmpdir = "", Output output = Output::File) {
    // env runs what environment names (more variables, or a program that
    // runs the rest), so that the scanner is the shell's last program.
    // The user's own state, data and cache stay in the test's folder.
    std::string command = "exec env XDG_STATE_HOME='" + (dir / "state") + "' XDG_DATA_HOME='" + (dir / "data") + "' " +
                          environment + " XDG_CACHE_HOME='" + (dir / "cache") + "' TMPDIR='" +
                          (tmpdir.empty() ? tmp : tmpdir) + "' '" + VELDRANO_SCAN "' " + arguments + " 2>'" +
                          (dir / "err") + "'";
    if (output == Output::File) command += " >'" + (dir / "out") + "'";
    if (output == Output::Full) command += " >/dev/full";
    std::filesystem::remove(dir / "out");
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return -1;
    close(pipeEnds[0]);
    const pid_t child = fork();
    if (child == 0) {
      setpgid(0, 0);
      dup2(pipeEnds[1], STDOUT_FILENO);
      execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(pipeEnds[1]);
    if (child > 0) setpgid(child, child);  // before the test signals it, whichever runs first
    return child;
  }
  Outcome Wait(pid_t child) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    int raw = 0;
    pid_t done = 0;
    while (child > 0 && (done = waitpid(child, &raw, WNOHANG)) == 0 && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (child > 0 && done == 0) {
      kill(-child, SIGKILL);
      waitpid(child, &raw, 0);
      return {-1, Slurp(dir / "out"), Slurp(dir / "err")};
    }
    if (done != child) return {};
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(dir / "out"), Slurp(dir / "err")};
  }
  Outcome Run(const std::string& arguments, const std::string& tmpdir = "", Output output = Output::File) {
    return Wait(Start(arguments, tmpdir, output));
  }
  void Write(const std::string& relative, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(tree + "/" + relative).parent_path());
    std::ofstream(tree + "/" + relative, std::ios::binary) << bytes;
  }

  std::string environment;  // more variables for the run, NAME='value'
  veldrano::testing::TempDir dir;
  std::string tree = dir / "tree";
  std::string tmp = dir / "tmp";
};

bool HasStrace() { return std::system("strace -qq -o /dev/null true >/dev/null 2>&1") == 0; }

TEST_F(Scanner, RejectsAWrongCommandLineWithStatus2AndOneLine) {
  const std::string t = " '" + tree + "'";
  for (const std::string& arguments :
       {std::string(""), "--bogus" + t, t + " --csv", "--csv a.csv --csv b.csv" + t, "--xml=a.xml --xml b.xml" + t,
        "--csv-selected a.csv" + t + " --csv-selected=b.csv", "--trash-ticked --trash-ticked" + t,
        "--trash-ticked --link-ticked hard" + t, "--link-ticked soft" + t, "--dry-run" + t,
        "--remove-empty-folders --link-ticked hard" + t, "--undo j.tsv" + t}) {
    SCOPED_TRACE(arguments);
    const Outcome outcome = Run(arguments);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_TRUE(outcome.out.empty());
    EXPECT_TRUE(outcome.err.starts_with("veldrano-scan: ")) << outcome.err;
    EXPECT_EQ(outcome.err.back(), '\n');
  }
  EXPECT_EQ(Run("--help").status, 0);
  EXPECT_NE(Run("--help").out.find("Usage: veldrano-scan"), std::string::npos);
  EXPECT_TRUE(Run("--version").out.starts_with("veldrano-scan "));
}

TEST_F(Scanner, LogsTheRunAsTabSeparatedLinesAndWritesTheExports) {
  Write("a", "hello\n");
  Write("sub/b", "hello\n");
  Write("c", "unique");
  const Outcome outcome = Run("--csv '" + (dir / "all.csv") + "' --csv-selected='" + (dir / "ticked.csv") +
                              "' --xml '" + (dir / "tree.xml") + "' '" + tree + "'");
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_TRUE(outcome.err.empty()) << outcome.err;  // not a terminal: no progress line

  std::istringstream lines(outcome.out);
  std::vector<std::string> informations;
  for (std::string line; std::getline(lines, line);) {
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 3) << line;
    informations.push_back(
        line.substr(line.find('\t') + 1, line.find('\t', line.find('\t') + 1) - line.find('\t') - 1));
  }
  EXPECT_EQ(informations, (std::vector<std::string>{
                              "Analysing...", "Files found: 3", "Total size: 18 bytes", "Working...",
                              "Job: " + tree + "/", "Signatures reused from earlier scans: 0", "Duplicate files: 1",
                              "Recoverable disc space: 6 bytes", "Releasing resources...", "Ready!"}));

  const std::string sig = "B1946AC92492D2347C6235B4D2611184";
  EXPECT_EQ(Slurp(dir / "all.csv"), sig + ";" + tree + "/a\r\n" + sig + ";" + tree + "/sub/b\r\n");
  EXPECT_EQ(Slurp(dir / "ticked.csv"), sig + ";" + tree + "/sub/b\r\n");
  EXPECT_NE(Slurp(dir / "tree.xml").find("\t\t<Filename>" + tree + "/sub/b</Filename>\r\n"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_empty(tmp));
}

TEST_F(Scanner, FoldersWritesTheHighestFolderWhoseEveryFileHasACopyElsewhere) {
  Write("old\tbackup/a", "one");
  Write("old\tbackup/deep/b", "two");
  Write("photos/a", "one");
  Write("photos/b", "two");
  Write("photos/c", "only here");
  const Outcome outcome = Run("--folders '" + (dir / "folders.tsv") + "' '" + tree + "'");
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(Slurp(dir / "folders.tsv"), "Folder\tFiles\tBytes\tEvery file is in\tCopies in\n" + tree +
                                            "/old\\tbackup/\t2\t6\t" + tree + "/photos/\t" + tree + "/photos/\n");
}

// The hashes of a run are kept for the next, in the cache folder the
// environment names; --no-cache neither reads nor writes it, and
// --clear-cache empties it.
TEST_F(Scanner, KeepsHashesForTheNextRunUnlessToldNot) {
  Write("a", "hello\n");
  Write("b", "hello\n");
  const std::string cache = dir / "cache/veldrano/hashes.sqlite";
  EXPECT_EQ(Run("'" + tree + "'").status, 0);
  ASSERT_TRUE(std::filesystem::exists(cache));
  Outcome outcome = Run("'" + tree + "'");
  EXPECT_NE(outcome.out.find("\tSignatures reused from earlier scans: 2\t"), std::string::npos) << outcome.out;
  outcome = Run("--no-cache '" + tree + "'");
  EXPECT_EQ(outcome.out.find("Signatures reused"), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.out.find("\tDuplicate files: 1\t"), std::string::npos) << outcome.out;
  EXPECT_EQ(Run("--clear-cache").status, 0);
  EXPECT_FALSE(std::filesystem::exists(cache));
  outcome = Run("--clear-cache '" + tree + "'");
  EXPECT_NE(outcome.out.find("\tSignatures reused from earlier scans: 0\t"), std::string::npos) << outcome.out;
}

TEST_F(Scanner, FiltersLeaveOutWhatTheyNameAndTheLogSaysSo) {
  for (const char* name : {"a", "sub/b", "c.tmp", ".d", ".git/e", "sub/.git/f", "sub/node/g"}) Write(name, "same\n");
  Write("small", "s");
  Write("small2", "s");
  const Outcome outcome =
      Run("--exclude='*.tmp' --exclude-dir .git --exclude-dir '*/sub/node' --skip-hidden "
          "--min-size 2 --csv '" +
          (dir / "all.csv") + "' '" + tree + "'");
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("\tFiles found: 2\t"), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.out.find("\tFilters: files of at least 2 bytes; folders left out: \".git\", \"*/sub/node\"; "
                             "files left out: \"*.tmp\"; hidden files and folders skipped\t"),
            std::string::npos)
      << outcome.out;
  EXPECT_NE(outcome.out.find("\tLeft out by the filters: 4 files (12 bytes); folders not entered: 3\t"),
            std::string::npos)
      << outcome.out;
  const std::string sig = "847676261680BFF61C72961C8198ABC0";
  EXPECT_EQ(Slurp(dir / "all.csv"), sig + ";" + tree + "/a\r\n" + sig + ";" + tree + "/sub/b\r\n");
}

TEST_F(Scanner, RefusesAnInvalidSizeOrPatternNamingIt) {
  const std::string t = " '" + tree + "'";
  for (const auto& [arguments, message] : std::vector<std::pair<std::string, std::string>>{
           {"--min-size 10x" + t, "--min-size 10x: not a size"},
           {"--max-size=" + t, "--max-size : not a size"},
           {"--min-size 1k --min-size 2k" + t, "option --min-size given twice"},
           {"--min-size 2k --max-size 1k" + t, "the minimum size 2 Kb (2 048 bytes) is above the maximum size"},
           {"--exclude '*.[ch'" + t, "--exclude *.[ch: a \"[\" is not closed"},
           {"--exclude-dir 'build/'" + t, "--exclude-dir build/: it ends in \"/\""},
           {"--exclude-dir '(x' --regex" + t, "--exclude-dir (x: "},
           {"--regex --regex" + t, "option --regex given twice"},
           {"--one-file-system --one-file-system" + t, "option --one-file-system given twice"}}) {
    SCOPED_TRACE(arguments);
    const Outcome outcome = Run(arguments);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_TRUE(outcome.out.empty());
    EXPECT_TRUE(outcome.err.starts_with("veldrano-scan: " + message)) << outcome.err;
  }
}

TEST_F(Scanner, EndsWithStatus1OnADirectoryItCannotScanOrAFailedExport) {
  Write("a", "x");
  Write("b", "x");
  std::ofstream(dir / "file");
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  const Outcome skipped = Run("'" + dir / "missing" + "' '" + dir / "file" + "' '" + dir / "fifo" + "' '" + tree + "'");
  EXPECT_EQ(skipped.status, 1);
  EXPECT_EQ(skipped.err, "veldrano-scan: cannot scan " + dir / "missing" +
                             ": No such file or directory\n"
                             "veldrano-scan: cannot scan " +
                             dir / "file" +
                             ": Not a directory\n"
                             "veldrano-scan: cannot scan " +
                             dir / "fifo" + ": Not a directory\n");
  EXPECT_NE(skipped.out.find("\tDuplicate files: 1\t"), std::string::npos) << skipped.out;
  EXPECT_EQ(Run("'" + dir / "missing" + "'").status, 1);

  const Outcome badExport = Run("--csv '" + (dir / "missing/out.csv") + "' '" + tree + "'");
  EXPECT_EQ(badExport.status, 1);
  EXPECT_NE(badExport.out.find("\tError #1: Can not export to CSV file\t" + (dir / "missing/out.csv") +
                               "\tPlease check the destination\n"),
            std::string::npos)
      << badExport.out;
}

// What another user may plant at an export's name in a shared folder: a
// link to a file of the victim's is replaced, the victim's file untouched;
// a FIFO is refused at once, never opened (which would wait for a reader
// for ever).
TEST_F(Scanner, ExportsReplaceAPlantedLinkAndRefuseAPlantedFifo) {
  Write("a", "hello\n");
  Write("b", "hello\n");
  const veldrano::testing::TempDir victim;
  const std::string precious = victim.Write("precious", "the victim's bytes");
  std::filesystem::create_symlink(precious, dir / "link.csv");
  ASSERT_EQ(mkfifo((dir / "fifo.xml").c_str(), 0600), 0);
  const Outcome outcome = Run("--csv '" + dir / "link.csv" + "' --xml '" + dir / "fifo.xml" + "' '" + tree + "'");
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(Slurp(precious), "the victim's bytes");
  EXPECT_FALSE(std::filesystem::is_symlink(dir / "link.csv"));
  EXPECT_EQ(Slurp(dir / "link.csv"),
            "B1946AC92492D2347C6235B4D2611184;" + tree + "/a\r\nB1946AC92492D2347C6235B4D2611184;" + tree + "/b\r\n");
  EXPECT_NE(outcome.out.find("\tError #1: Can not export to XML file\t" + dir / "fifo.xml" +
                             "\tNot a regular file: a FIFO\n"),
            std::string::npos)
      << outcome.out;
  EXPECT_TRUE(std::filesystem::is_fifo(dir / "fifo.xml"));
}

// Ctrl-C in the middle of the processing pass: every file open is slowed
// down (strace, whose trace shows how far the pass has got), and once ten
// files of the tree were opened the signal goes to the scanner's process
// group, as a terminal sends it.
TEST_F(Scanner, CtrlCStopsTheScanWritesTheExportsAndExitsWith3) {
  if (!HasStrace()) GTEST_SKIP() << "strace cannot trace here";
  constexpr int Files = 60;
  for (int i = 0; i < Files; ++i) Write(std::string("f").append(std::to_string(i)), "same");
  const std::string trace = dir / "trace";
  // A scanner built with the sanitizers cannot look for leaks under ptrace.
  environment = "ASAN_OPTIONS=\"${ASAN_OPTIONS:-}:detect_leaks=0\" strace -f -qq -o '" + trace +
                "' -e trace=openat -e inject=openat:delay_exit=100000 env";
  const pid_t scanner = Start("--csv '" + dir / "all.csv" + "' '" + tree + "'");
  ASSERT_GT(scanner, 0);
  const std::regex treeFile("f[0-9]+\"");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (;;) {
    const std::string opened = Slurp(trace);
    const auto count =
        std::distance(std::sregex_iterator(opened.begin(), opened.end(), treeFile), std::sregex_iterator());
    if (count >= 10 || std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(-scanner, SIGINT);
  const Outcome outcome = Wait(scanner);
  EXPECT_EQ(outcome.status, 3) << outcome.out << outcome.err;
  EXPECT_NE(outcome.out.find("\tProcess stopped by the user\t"), std::string::npos) << outcome.out;
  // The export holds what was found until then: the first file and the
  // copies found, fewer than all.
  std::smatch found;
  ASSERT_TRUE(std::regex_search(outcome.out, found, std::regex("\tDuplicate files: ([0-9]+)\t"))) << outcome.out;
  const int duplicates = std::stoi(found[1]);
  EXPECT_GT(duplicates, 0);
  EXPECT_LT(duplicates, Files - 1);
  const std::string rows = Slurp(dir / "all.csv");
  EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), duplicates + 1);
  EXPECT_TRUE(std::filesystem::is_empty(tmp));
}

// A scan whose store stays in memory needs no temporary directory: one
// that cannot be written (or is missing) does not fail it.
TEST_F(Scanner, ASmallScanSucceedsWithAReadOnlyOrMissingTemporaryDirectory) {
  Write("a", "x");
  Write("b", "x");
  const Outcome missing = Run("'" + tree + "'", dir / "no-such-tmp");
  EXPECT_EQ(missing.status, 0) << missing.out << missing.err;
  EXPECT_NE(missing.out.find("\tDuplicate files: 1\t"), std::string::npos) << missing.out;

  if (geteuid() != 0) {
    std::filesystem::permissions(tmp, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  } else {
    // Permissions do not stop the administrator: a read-only mount does.
    const std::string probe =
        "unshare --mount sh -c 'mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro \"$0\"' '" + tmp +
        "' 2>/dev/null";
    if (std::system(probe.c_str()) != 0) GTEST_SKIP() << "no read-only mount in a mount namespace of its own here";
    environment =
        "unshare --mount sh -c 'mount --bind \"$0\" \"$0\" && mount -o remount,bind,ro \"$0\" && exec env \"$@\"' '" +
        tmp + "'";
  }
  const Outcome readOnly = Run("'" + tree + "'");
  EXPECT_EQ(readOnly.status, 0) << readOnly.out << readOnly.err;
  EXPECT_NE(readOnly.out.find("\tDuplicate files: 1\t"), std::string::npos) << readOnly.out;
  std::filesystem::permissions(tmp, std::filesystem::perms::owner_all);
}

TEST_F(Scanner, FailsWhenStandardOutputCannotBeWrittenAndStillCleansUp) {
  for (int i = 0; i < 200; ++i) {
    std::string name = "d";
    name.append(std::to_string(i % 7)).append("/f").append(std::to_string(i));
    Write(name, std::to_string(i % 50));
  }
  const std::string scan = "--csv '" + (dir / "all.csv") + "' '" + tree + "'";
  for (const auto& [output, reason] :
       {std::pair{Output::Full, "No space left on device"}, std::pair{Output::ClosedPipe, "Broken pipe"}}) {
    SCOPED_TRACE(reason);
    std::filesystem::remove(dir / "all.csv");
    const Outcome outcome = Run(scan, "", output);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, std::string("veldrano-scan: cannot write standard output: ") + reason + "\n");
    EXPECT_TRUE(std::filesystem::is_empty(tmp));
    // The run went on to its end: every file is in the export.
    const std::string rows = Slurp(dir / "all.csv");
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 200);
  }
  for (const char* option : {"--help", "--version"}) {
    const Outcome outcome = Run(option, "", Output::Full);
    EXPECT_EQ(outcome.status, 1) << option;
    EXPECT_EQ(outcome.err, "veldrano-scan: cannot write standard output: No space left on device\n");
  }
}

TEST_F(Scanner, AddsUpSizesBeyondWhatA64BitSumHolds) {
  // Sparse files of nearly 2^63 bytes each, of three sizes so that none is
  // read: only tmpfs takes files that large.
  const veldrano::testing::TempDir shm("/dev/shm");
  constexpr off_t Largest = 0x7fffffffffffffff;
  for (off_t less = 0; less < 3; ++less) {
    std::string path = shm / "f";
    path += std::to_string(less);
    std::ofstream{path};
    if (truncate(path.c_str(), Largest - less) != 0) GTEST_SKIP() << "no file of 2^63-1 bytes on /dev/shm";
  }
  const Outcome outcome = Run("'" + shm.Path() + "'");
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("\tTotal size: 2.52E7 Tb\t"), std::string::npos) << outcome.out;  // 3 x 2^23 Tb
}

TEST_F(Scanner, KeepsEveryLogEntryOnOneLineWithoutControlBytes) {
  // The listed directory's name, with a line break, a TAB, a terminal's
  // escape sequence, a bell and DEL, is in the "Job: " line.
  const std::string name = "line\nbreak\tx\\y\x1b[2J\a\x01\x7f";
  Write(name + "/a", "x");
  const Outcome outcome = Run("'" + tree + "/" + name + "'");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(std::count(outcome.out.begin(), outcome.out.end(), '\n'), 9);
  EXPECT_NE(outcome.out.find("\tJob: " + tree + "/line\\nbreak\\tx\\\\y\\x1b[2J\\x07\\x01\\x7f/\t\t\n"),
            std::string::npos)
      << outcome.out;
  for (const char c : outcome.out) {
    const auto byte = static_cast<unsigned char>(c);
    EXPECT_TRUE((byte >= 0x20 && byte != 0x7f) || c == '\t' || c == '\n') << int{byte};
  }
}

}  // namespace

namespace {

std::size_t FilesIn(const std::string& directory) {
  std::size_t n = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(directory)) n += entry.is_regular_file();
  return n;
}

TEST_F(Scanner, TrashTickedLeavesOneFileOfEachGroupAndTouchesNothingElse) {
  for (const char* name : {"x1", "sub/x2", "x3"}) Write(name, "xxx");
  for (const char* name : {"y1", "y2"}) Write(name, "yy");
  Write("unique", "zz");
  std::ofstream(dir / "outside") << "xxx";  // a copy, but not scanned
  // A trash that cannot be made: nothing moves, and the run says so.
  std::ofstream(dir / "not-a-directory") << "";
  environment = "XDG_DATA_HOME='" + (dir / "not-a-directory") + "'";
  const Outcome blocked = Run("--trash-ticked '" + tree + "'");
  EXPECT_EQ(blocked.status, 1);
  EXPECT_EQ(FilesIn(tree), 6u);
  EXPECT_NE(blocked.out.find("Ticked files left in place: 3"), std::string::npos) << blocked.out;

  environment = "XDG_DATA_HOME='" + (dir / "data") + "'";
  // Nor without the log, which names what goes.
  const Outcome unrecorded = Run("--trash-ticked '" + tree + "'", "", Output::Full);
  EXPECT_EQ(unrecorded.status, 1);
  EXPECT_EQ(FilesIn(tree), 6u);
  EXPECT_NE(unrecorded.err.find("nothing was moved to the Trash"), std::string::npos) << unrecorded.err;

  const Outcome moved = Run("--csv-selected '" + (dir / "ticked.csv") + "' --trash-ticked '" + tree + "'");
  EXPECT_EQ(moved.status, 0) << moved.out << moved.err;
  EXPECT_EQ(FilesIn(tree), 3u);  // one x, one y, unique
  EXPECT_TRUE(std::filesystem::exists(tree + "/unique"));
  EXPECT_EQ(Slurp(dir / "outside"), "xxx");
  EXPECT_EQ(FilesIn(dir / "data/Trash/files"), 3u);
  EXPECT_EQ(FilesIn(dir / "data/Trash/info"), 3u);
  // The export, written before the move, names what went.
  std::size_t lines = 0;
  for (std::size_t at = 0; (at = moved.out.find("\tMoved to the Trash\t", at)) != std::string::npos; ++at) ++lines;
  EXPECT_EQ(lines, 3u);
  const std::string ticked = Slurp(dir / "ticked.csv");
  EXPECT_EQ(std::count(ticked.begin(), ticked.end(), '\n'), 3);
}

// Which copy stays: a reference directory is never ticked nor moved, and the
// keep rules choose among the others; a bad rule names its bad part.
TEST_F(Scanner, ReferenceDirectoriesAndKeepRulesChooseWhatStays) {
  Write("Pictures/p.jpg", "picture");
  Write("Pictures/2020/q.jpg", "only here");
  Write("Pictures/q copy.jpg", "only here");
  Write("Downloads/p (1).jpg", "picture");
  Write("Backup/old/p.jpg", "picture");
  Write("Backup/old/r.txt", "text");
  Write("Downloads/r.txt", "text");
  environment = "XDG_DATA_HOME='" + (dir / "data") + "'";
  const Outcome moved = Run("--reference '" + tree + "/Pictures' --keep 'not-path:*/Backup*/*' --csv-selected '" +
                            (dir / "ticked.csv") + "' --trash-ticked '" + tree + "'");
  EXPECT_EQ(moved.status, 0) << moved.out << moved.err;
  EXPECT_NE(moved.out.find("Groups only inside reference folders, left out: 1"), std::string::npos) << moved.out;
  EXPECT_NE(moved.out.find("Duplicate files: 3\t"), std::string::npos) << moved.out;
  // The picture stays in Pictures only; r.txt outside the backup.
  EXPECT_EQ(FilesIn(tree + "/Pictures"), 3u);
  EXPECT_FALSE(std::filesystem::exists(tree + "/Downloads/p (1).jpg"));
  EXPECT_FALSE(std::filesystem::exists(tree + "/Backup/old/p.jpg"));
  EXPECT_FALSE(std::filesystem::exists(tree + "/Backup/old/r.txt"));
  EXPECT_TRUE(std::filesystem::exists(tree + "/Downloads/r.txt"));
  EXPECT_EQ(Slurp(dir / "ticked.csv").find("Pictures"), std::string::npos);

  for (const auto& [arguments, said] : std::vector<std::pair<std::string, std::string>>{
           {"--keep 'oldest,biggest'", "--keep oldest,biggest: Unknown criterion: biggest"},
           {"--keep 'path:[x'", "--keep path:[x: path:[x: a \"[\" is not closed"},
           {"--keep oldest --keep newest", "option --keep given twice"},
           {"--reference '" + dir / "elsewhere" + "'", "--reference " + dir / "elsewhere" + ": not a directory"}}) {
    const Outcome refused = Run(arguments + " '" + tree + "'");
    EXPECT_EQ(refused.status, 2) << arguments;
    EXPECT_NE(refused.err.find("veldrano-scan: " + said), std::string::npos) << refused.err;
  }
}

}  // namespace

namespace {

// A folder mounted a second time inside the scan shows the same files twice:
// they are met twice, never duplicates, so nothing of them is moved.
TEST_F(Scanner, TrashTickedNeverMovesAFileSeenAgainThroughABindMount) {
  Write("photos/a", "the only copy");
  std::filesystem::create_directories(tree + "/mirror");
  const std::string probe = "unshare --mount mount --bind '" + tree + "/photos' '" + tree + "/mirror' 2>/dev/null";
  if (std::system(probe.c_str()) != 0) GTEST_SKIP() << "no bind mount in a mount namespace of its own here";
  environment = "XDG_DATA_HOME='" + (dir / "data") +
                "' unshare --mount sh -c 'mount --bind \"$0/photos\" \"$0/mirror\" && exec env \"$@\"' '" + tree + "'";
  const Outcome outcome = Run("--trash-ticked '" + tree + "'");
  EXPECT_EQ(outcome.status, 0) << outcome.out << outcome.err;
  EXPECT_NE(outcome.out.find("not duplicates: 1\t"), std::string::npos) << outcome.out;
  EXPECT_EQ(Slurp(tree + "/photos/a"), "the only copy");
  EXPECT_FALSE(std::filesystem::exists(dir / "data/Trash/files/a"));
}

// Waits (at most 20 s) for a file to be created or moved into folder, then
// calls react: the other side of a race, played by another process of the
// user while the scanner acts.
class Watcher {
 public:
  Watcher(const std::string& folder, std::function<void()> react) : fd_(inotify_init1(IN_CLOEXEC)) {
    inotify_add_watch(fd_, folder.c_str(), IN_CREATE | IN_MOVED_TO);
    thread_ = std::thread([this, react = std::move(react)] {
      pollfd ready{fd_, POLLIN, 0};
      if (poll(&ready, 1, 20000) == 1) react();
    });
  }
  ~Watcher() {
    thread_.join();
    close(fd_);
  }

 private:
  int fd_;
  std::thread thread_;
};

// A race around one move: a, and b its copy, ticked; the home Trash made
// beforehand, so that it can be watched.
class TrashRace : public Scanner {
 protected:
  std::string TwoCopiesAndAnEmptyTrash() {
    Write("a", "same bytes");
    Write("b", "same bytes");
    const std::string trash = dir / "data/Trash";
    std::filesystem::create_directories(trash + "/info");
    std::filesystem::create_directories(trash + "/files");
    std::filesystem::permissions(dir / "data", std::filesystem::perms::owner_all);
    return trash;
  }
  // The run under strace, every rename held back 0.4 s before it is made
  // (delay_enter) or before the scanner learns it was made (delay_exit). A
  // scanner built with the sanitizers cannot look for leaks under ptrace.
  std::string UnderStrace(const std::string& when) const {
    return "XDG_DATA_HOME='" + (dir / "data") +
           "' ASAN_OPTIONS=\"${ASAN_OPTIONS:-}:detect_leaks=0\" strace -f -qq -o /dev/null -e trace=renameat2 -e "
           "inject=renameat2:" +
           when + "=400000 env";
  }
};

// The copy that stays is edited between the comparison and the rename (the
// rename held back by strace until the info file's creation has been seen):
// the moved file comes back.
TEST_F(TrashRace, PutsAFileBackWhenItsCopyChangesDuringTheMove) {
  if (!HasStrace()) GTEST_SKIP() << "strace cannot trace here";
  const std::string trash = TwoCopiesAndAnEmptyTrash();
  environment = UnderStrace("delay_enter");
  Outcome outcome;
  {
    const Watcher watcher(trash + "/info", [&] { std::ofstream(tree + "/a", std::ios::in | std::ios::out) << "SAME"; });
    outcome = Run("--trash-ticked '" + tree + "'");
  }
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(Slurp(tree + "/b"), "same bytes");
  EXPECT_NE(outcome.out.find("Not moved to the Trash\t" + tree + "/b\tThe copy that stays, " + tree +
                             "/a, changed meanwhile: put back"),
            std::string::npos)
      << outcome.out;
  EXPECT_TRUE(std::filesystem::is_empty(trash + "/files"));
  EXPECT_TRUE(std::filesystem::is_empty(trash + "/info"));
}

// Once the file is in the Trash (the return from the rename held back), its
// copy changes and a new file takes its name: it cannot go back, and stays
// in the Trash where a file manager can restore it.
TEST_F(TrashRace, LeavesAFileThatCannotGoBackRestorable) {
  if (!HasStrace()) GTEST_SKIP() << "strace cannot trace here";
  const std::string trash = TwoCopiesAndAnEmptyTrash();
  environment = UnderStrace("delay_exit");
  Outcome outcome;
  {
    const Watcher watcher(trash + "/files", [&] {
      std::ofstream(tree + "/a", std::ios::in | std::ios::out) << "SAME";
      std::ofstream(tree + "/b") << "a new file";
    });
    outcome = Run("--trash-ticked '" + tree + "'");
  }
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(Slurp(tree + "/b"), "a new file");
  EXPECT_EQ(Slurp(trash + "/files/b"), "same bytes");
  EXPECT_NE(Slurp(trash + "/info/b.trashinfo").find("Path=" + tree + "/b\n"), std::string::npos);
  EXPECT_NE(outcome.out.find("Left in the Trash without proof\t" + tree + "/b\t"), std::string::npos) << outcome.out;
}

}  // namespace

// The link is made, then the swap that would put it in place fails (strace
// makes it fail): the duplicate stays as it was, and the link made under a
// fresh name is gone again. The same when the symbolic link cannot be made
// at all: nothing is removed for it.
TEST_F(Scanner, AFailedLinkLeavesEveryDuplicateAsItWas) {
  if (!HasStrace()) GTEST_SKIP() << "strace cannot trace here";
  Write("a", "same bytes");
  Write("b", "same bytes");
  struct stat before {};
  ASSERT_EQ(stat((tree + "/b").c_str(), &before), 0);
  for (const auto& [kind, call] :
       {std::pair{"hard", "renameat2:error=EIO"}, std::pair{"symbolic", "symlinkat:error=ENOSPC"}}) {
    SCOPED_TRACE(kind);
    const std::string name = std::string(call).substr(0, std::string(call).find(':'));
    environment = "ASAN_OPTIONS=\"${ASAN_OPTIONS:-}:detect_leaks=0\" strace -f -qq -o /dev/null -e trace=" + name +
                  " -e inject=" + call + " env";
    const Outcome outcome = Run(std::string("--link-ticked ") + kind + " '" + tree + "'");
    EXPECT_EQ(outcome.status, 1);
    struct stat after {};
    ASSERT_EQ(lstat((tree + "/b").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(Slurp(tree + "/b"), "same bytes");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tree), {}), 2) << "a name was left behind";
    EXPECT_NE(outcome.out.find("Not replaced with a "), std::string::npos) << outcome.out;
  }
}

// Undo from the command line puts the files back from the journal the
// action named, and a second undo finds nothing left.
TEST_F(Scanner, UndoesTheLastActionFromItsJournal) {
  Write("a", "same bytes");
  Write("sub/b", "same bytes");
  environment = "XDG_DATA_HOME='" + (dir / "data") + "'";
  ASSERT_EQ(Run("--trash-ticked --remove-empty-folders '" + tree + "'").status, 0);
  ASSERT_FALSE(std::filesystem::exists(tree + "/sub"));
  const Outcome undone = Run("--undo-last");
  EXPECT_EQ(undone.status, 0) << undone.err;
  EXPECT_EQ(Slurp(tree + "/sub/b"), "same bytes");
  EXPECT_NE(undone.out.find("Put back\t" + tree + "/sub/b\tFrom the Trash"), std::string::npos) << undone.out;
  EXPECT_EQ(Run("--undo-last").status, 1);
}
