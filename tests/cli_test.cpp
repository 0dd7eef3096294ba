#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

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

// Runs veldrano-scan with arguments (already quoted for the shell) and the
// given TMPDIR; standard output and error go to files, so neither is a
// terminal.
class Scanner : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(tree);
    std::filesystem::create_directories(tmp);
  }
  Outcome Run(const std::string& arguments, const std::string& tmpdir = "") {
    const std::string command = environment + " TMPDIR='" + (tmpdir.empty() ? tmp : tmpdir) + "' '" VELDRANO_SCAN "' " +
                                arguments + " >'" + (dir / "out") + "' 2>'" + (dir / "err") + "'";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Slurp(dir / "out"), Slurp(dir / "err")};
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

TEST_F(Scanner, RejectsAWrongCommandLineWithStatus2AndOneLine) {
  for (const std::string& arguments : {std::string(""), std::string("--bogus '") + tree + "'",
                                       std::string("'") + tree + "' --csv", std::string("'") + dir / "missing" + "'"}) {
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
  EXPECT_EQ(informations,
            (std::vector<std::string>{"Analysing...", "Files found: 3", "Total size: 18 bytes", "Working...",
                                      "Job: " + tree + "/", "Duplicate files: 1", "Recoverable disc space: 6 bytes",
                                      "Releasing resources...", "Ready!"}));

  const std::string sig = "B1946AC92492D2347C6235B4D2611184";
  EXPECT_EQ(Slurp(dir / "all.csv"), sig + ";" + tree + "/a\r\n" + sig + ";" + tree + "/sub/b\r\n");
  EXPECT_EQ(Slurp(dir / "ticked.csv"), sig + ";" + tree + "/sub/b\r\n");
  EXPECT_NE(Slurp(dir / "tree.xml").find("\t\t<Filename>" + tree + "/sub/b</Filename>\r\n"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_empty(tmp));
}

TEST_F(Scanner, EndsWithStatus1OnAFailedRunOrExport) {
  Write("a", "x");
  const Outcome noTemp = Run("'" + tree + "'", dir / "no-such-tmp");
  EXPECT_EQ(noTemp.status, 1);
  EXPECT_NE(noTemp.out.find("\tWarning #1: WARNING: Can not find the directory "), std::string::npos) << noTemp.out;

  const Outcome badExport = Run("--csv '" + (dir / "missing/out.csv") + "' '" + tree + "'");
  EXPECT_EQ(badExport.status, 1);
  EXPECT_NE(badExport.out.find("\tError #1: Can not export to CSV file\t" + (dir / "missing/out.csv") +
                               "\tPlease check the destination\n"),
            std::string::npos)
      << badExport.out;
}

TEST_F(Scanner, CleansUpWhenItsReaderGoesAway) {
  for (int i = 0; i < 200; ++i) {
    std::string name = "d";
    name.append(std::to_string(i % 7)).append("/f").append(std::to_string(i));
    Write(name, std::to_string(i % 50));
  }
  {
    std::ofstream script(dir / "pipe.sh");
    script << "TMPDIR='" << tmp << "' '" VELDRANO_SCAN "' '" << tree << "' | head -c 1 >/dev/null\n"
           << "echo ${PIPESTATUS[0]}\n";
  }
  std::string command = "bash '";
  command.append(dir / "pipe.sh").append("' >'").append(dir / "status").append("'");
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(Slurp(dir / "status"), "0\n");
  EXPECT_TRUE(std::filesystem::is_empty(tmp));
}

TEST_F(Scanner, KeepsEveryLogEntryOnOneLine) {
  // The listed directory's name, with a line break and a TAB, is in the "Job: " line.
  Write("line\nbreak\tx\\y/a", "x");
  const Outcome outcome = Run("'" + tree + "/line\nbreak\tx\\y'");
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(std::count(outcome.out.begin(), outcome.out.end(), '\n'), 8);
  EXPECT_NE(outcome.out.find("\tJob: " + tree + "/line\\nbreak\\tx\\\\y/\t\t\n"), std::string::npos) << outcome.out;
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

}  // namespace
