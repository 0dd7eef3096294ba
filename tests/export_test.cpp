#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "export/csv_export.h"
#include "export/xml_export.h"
#include "export/xml_text.h"
#include "platform/unique_fd.h"
#include "results/results_model.h"
#include "support/engine_fixture.h"

namespace veldrano {
namespace {

const std::string kLetterSig = "D41D8CD98F00B204E9800998ECF8427E";
const std::string kDigitSig = "0CC175B9C0F1B6A831C399E269772661";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Files may grow to limit bytes while it exists; a write beyond fails with
// EFBIG, as on a full disc.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t limit) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = saved_;
    lowered.rlim_cur = limit;
    setrlimit(RLIMIT_FSIZE, &lowered);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit saved_{};
  void (*oldHandler_)(int) = nullptr;
};

// A Unix socket bound at path for as long as it lives.
class UnixSocket {
 public:
  explicit UnixSocket(const std::string& path) : path_(path), fd_(socket(AF_UNIX, SOCK_STREAM, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return;
    path.copy(address.sun_path, path.size());
    bound_ = bind(fd_.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  }
  bool IsBound() const { return bound_; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  platform::UniqueFd fd_;
  bool bound_ = false;
};

// Group A (a1, a2), group B (b1, b2), then a3 joins A after B exists: in the
// tree a3 is A's third file, in the list it is the last row.
void RecordTwoGroups() {
  RecordDuplicate(kLetterSig, "/d/a2", "/d/a1", 10);
  RecordDuplicate(kDigitSig, "/d/b2", "/d/b1", 20);
  RecordDuplicate(kLetterSig, "/d/a3", "/d/a1", 10);
}

class ExportTest : public testing::EngineTest {
 protected:
  // Expects the single error entry of a failed export and starts afresh.
  void ExpectOneFailure(const std::string& message, const std::string& destination,
                        const std::string& comment = "Please check the destination") {
    ASSERT_EQ(window.log.size(), 1u) << destination;
    EXPECT_EQ(window.log[0].Information, "Error #1: " + message);
    EXPECT_EQ(window.log[0].Name, destination);
    EXPECT_EQ(window.log[0].Comment, comment);
    EXPECT_EQ(window.log[0].ImageIndex, 3);
    EXPECT_EQ(ScanContext.ErrorCount, 1);
    EXPECT_FALSE(ScanContext.Busy);
    window.log.clear();
    ScanContext.ErrorCount = 0;
  }

  // Destinations that cannot be created as files; tests run as root, so
  // permission bits would not stop the write.
  std::vector<std::string> UnwritableDestinations() const {
    return {dir / "missing/out.txt", "", std::string("/tmp/a\0b", 8)};
  }
  // What is in the scratch directory, sorted: no new file of a failed or
  // refused export may stay behind.
  std::vector<std::string> LeftOver() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
};

using CsvExport = ExportTest;
using XmlExport = ExportTest;

// ---------------------------------------------------------------- CSV

TEST_F(CsvExport, WritesAllRowsOrOnlyTheTickedOnesInListOrder) {
  RecordTwoGroups();
  bool busyWhilePumping = true;
  window.onPump = [&](int) { busyWhilePumping = busyWhilePumping && ScanContext.Busy; };
  const std::string path = dir / "out.csv";

  window.pumps = 0;
  ASSERT_TRUE(ExportResult2CSV(path, false));
  EXPECT_EQ(ReadAll(path), kLetterSig + ";/d/a1\r\n" + kLetterSig + ";/d/a2\r\n" + kDigitSig + ";/d/b1\r\n" +
                               kDigitSig + ";/d/b2\r\n" + kLetterSig + ";/d/a3\r\n");
  EXPECT_EQ(window.pumps, 5);

  window.pumps = 0;
  ASSERT_TRUE(ExportResult2CSV(path, true));
  EXPECT_EQ(ReadAll(path), kLetterSig + ";/d/a2\r\n" + kDigitSig + ";/d/b2\r\n" + kLetterSig + ";/d/a3\r\n");
  EXPECT_EQ(window.pumps, 5) << "the pump runs before every row, ticked or not";

  EXPECT_TRUE(busyWhilePumping);
  EXPECT_FALSE(ScanContext.Busy);
  EXPECT_TRUE(window.log.empty());
}

TEST_F(CsvExport, ReplacesAnExistingFileEntirely) {
  RecordDuplicate(kLetterSig, "/q", "/p", 1);
  const std::string path = dir.Write("old.csv", std::string(500, 'x'));
  ASSERT_TRUE(ExportResult2CSV(path, false));
  EXPECT_EQ(ReadAll(path), kLetterSig + ";/p\r\n" + kLetterSig + ";/q\r\n");

  // No ticked row: the file is emptied, not left alone.
  for (SelectionRow& row : ScanContext.Selection) row.Checked = false;
  ASSERT_TRUE(ExportResult2CSV(path, true));
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
  EXPECT_TRUE(window.log.empty());
}

TEST_F(CsvExport, WritesPathsAsTheyAreUnlessTheyWouldBreakTheLine) {
  RecordDuplicate(kLetterSig, "/d/semi;colon", "/d/in\"side\"", 1);
  RecordDuplicate(kLetterSig, "/d/latin\xE9", "/d/a", 1);
  RecordDuplicate(kLetterSig, "/d/two\r\nlines\"q\"", "/d/a", 1);
  RecordDuplicate(kLetterSig, "/d/lf\n", "/d/a", 1);
  RecordDuplicate(kLetterSig, "\"/d/leading quote", "/d/a", 1);
  ASSERT_TRUE(ExportResult2CSV(dir / "out.csv", false));
  EXPECT_EQ(ReadAll(dir / "out.csv"), kLetterSig + ";/d/in\"side\"\r\n" + kLetterSig + ";/d/semi;colon\r\n" +
                                          kLetterSig + ";/d/latin\xE9\r\n" + kLetterSig +
                                          ";\"/d/two\r\nlines\"\"q\"\"\"\r\n" + kLetterSig + ";\"/d/lf\n\"\r\n" +
                                          kLetterSig + ";\"\"\"/d/leading quote\"\r\n");
}

TEST_F(CsvExport, FollowsTicksAndRowsChangedWhileItRuns) {
  RecordDuplicate(kLetterSig, "/a2", "/a1", 1);  // rows: a1 unticked, a2 ticked
  RecordDuplicate(kDigitSig, "/b2", "/b1", 1);   //       b1 unticked, b2 ticked
  window.pumps = 0;
  window.onPump = [](int pump) {
    auto& rows = ScanContext.Selection;
    if (pump == 1) rows[0].Checked = true;  // before row 0: counts
    if (pump == 2) {
      rows[0].Checked = false;  // already written
      rows[3].Checked = false;  // not yet: left out
    }
    if (pump == 3) rows.push_back({1, 1, true});  // the count is read again
  };
  ASSERT_TRUE(ExportResult2CSV(dir / "out.csv", true));
  EXPECT_EQ(ReadAll(dir / "out.csv"), kLetterSig + ";/a1\r\n" + kLetterSig + ";/a2\r\n" + kDigitSig + ";/b2\r\n");
  EXPECT_EQ(window.pumps, 5);

  // Rows that go away during the export are simply not reached.
  window.pumps = 0;
  window.onPump = [](int pump) {
    if (pump == 2) ScanContext.Selection.resize(1);
  };
  ASSERT_TRUE(ExportResult2CSV(dir / "out.csv", false));
  EXPECT_EQ(ReadAll(dir / "out.csv"), kLetterSig + ";/a1\r\n");
  EXPECT_EQ(window.pumps, 2);
}

TEST_F(CsvExport, LogsOneErrorForADestinationThatCannotBeWritten) {
  RecordDuplicate(kLetterSig, "/q", "/p", 1);
  for (const std::string& destination : UnwritableDestinations()) {
    EXPECT_FALSE(ExportResult2CSV(destination, false));
    ExpectOneFailure("Can not export to CSV file", destination);
  }
}

// What another user may plant at the chosen name in a shared folder. A link
// is replaced by the export, never written through, also when it dangles
// (following it would create the file it names); anything but a regular
// file is refused without being opened, and stays as it was.
TEST_F(CsvExport, ReplacesALinkAndRefusesWhatIsNoRegularFile) {
  RecordDuplicate(kLetterSig, "/q", "/p", 1);
  const std::string expected = kLetterSig + ";/p\r\n" + kLetterSig + ";/q\r\n";
  const testing::TempDir victim;
  const std::string precious = victim.Write("precious", "the victim's bytes");
  for (const std::string& aim : {precious, victim / "not-yet"}) {
    const std::string link = dir / "planted.csv";
    std::filesystem::remove(link);
    std::filesystem::create_symlink(aim, link);
    ASSERT_TRUE(ExportResult2CSV(link, false)) << aim;
    EXPECT_FALSE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadAll(link), expected);
  }
  EXPECT_EQ(ReadAll(precious), "the victim's bytes");
  EXPECT_FALSE(std::filesystem::exists(victim / "not-yet"));

  // A FIFO with a reader waiting, so that a wrongly opened one would take
  // the rows rather than hang the test.
  const std::string fifo = dir / "fifo.csv";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const platform::UniqueFd reader(open(fifo.c_str(), O_RDONLY | O_NONBLOCK));
  const UnixSocket socket(dir / "socket.csv");
  ASSERT_TRUE(socket.IsBound());
  const std::pair<std::string, std::string> refused[] = {{fifo, "a FIFO"},
                                                         {socket.Path(), "a socket"},
                                                         {"/dev/null", "a device"},
                                                         {dir.Path(), "a directory"},
                                                         {dir.Path() + "/", "a directory"},
                                                         {dir.Path() + "/.", "a directory"},
                                                         {"/", "a directory"}};
  for (const auto& [destination, kind] : refused) {
    EXPECT_FALSE(ExportResult2CSV(destination, false));
    ExpectOneFailure("Can not export to CSV file", destination, "Not a regular file: " + kind);
  }
  char byte = 0;
  EXPECT_LE(read(reader.Get(), &byte, 1), 0) << "the FIFO was written";
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
  EXPECT_TRUE(std::filesystem::is_socket(socket.Path()));
  EXPECT_EQ(LeftOver(), (std::vector<std::string>{"fifo.csv", "planted.csv", "socket.csv"}));
}

TEST_F(CsvExport, KeepsTheModeOfTheFileItReplacesAndGivesANewOneTheUsualMode) {
  RecordDuplicate(kLetterSig, "/q", "/p", 1);
  const mode_t oldMask = umask(022);
  const std::string kept = dir.Write("kept.csv", "old");
  ASSERT_EQ(chmod(kept.c_str(), 0640), 0);
  EXPECT_TRUE(ExportResult2CSV(kept, false));
  EXPECT_TRUE(ExportResult2CSV(dir / "new.csv", false));
  umask(oldMask);
  struct stat status {};
  ASSERT_EQ(stat(kept.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  ASSERT_EQ(stat((dir / "new.csv").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0644u);
}

// A disc that fills up (here the file-size limit, which fails writes the
// same way) and a failure thrown while the rows are written: the export
// ends there, and the file it was to replace keeps every byte.
TEST_F(CsvExport, AFailedExportLeavesThePreviousFileWhole) {
  for (int i = 0; i < 5000; ++i) RecordDuplicate(kLetterSig, "/some/longer/path/" + std::to_string(i), "/p", 1);
  const std::string previous = dir.Write("previous.csv", "the previous export\r\n");
  {
    const FileSizeLimit limit(4096);
    window.pumps = 0;
    EXPECT_FALSE(ExportResult2CSV(previous, false));
  }
  EXPECT_LT(window.pumps, 5000) << "the export ends at the failed write";
  ExpectOneFailure("Can not export to CSV file", previous);

  window.pumps = 0;
  window.onPump = [](int pump) {
    if (pump == 100) throw std::runtime_error("thrown by the window");
  };
  EXPECT_FALSE(ExportResult2CSV(previous, false));
  ExpectOneFailure("Can not export to CSV file", previous);
  EXPECT_TRUE(ReadAll(previous) == "the previous export\r\n");  // not the 5000 rows, when it fails
  EXPECT_EQ(LeftOver(), std::vector<std::string>{"previous.csv"});
}

// ---------------------------------------------------------------- XML

TEST_F(XmlExport, WritesTheWholeTreeInTreeOrder) {
  RecordTwoGroups();
  for (SelectionRow& row : ScanContext.Selection) row.Checked = false;  // ticks play no part
  bool busyWhilePumping = true;
  window.onPump = [&](int) { busyWhilePumping = busyWhilePumping && ScanContext.Busy; };
  window.pumps = 0;
  const std::string path = dir.Write("out.xml", std::string(2000, 'x'));

  ASSERT_TRUE(ExportResult2XML(path));
  EXPECT_EQ(ReadAll(path),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
            "<Vesk>\r\n"
            "\t<" +
                kLetterSig +
                ">\r\n"
                "\t\t<Filename>/d/a1</Filename>\r\n"
                "\t\t<Filename>/d/a2</Filename>\r\n"
                "\t\t<Filename>/d/a3</Filename>\r\n"
                "\t</" +
                kLetterSig +
                ">\r\n"
                "\t<_" +
                kDigitSig +
                ">\r\n"
                "\t\t<Filename>/d/b1</Filename>\r\n"
                "\t\t<Filename>/d/b2</Filename>\r\n"
                "\t</_" +
                kDigitSig +
                ">\r\n"
                "</Vesk>\r\n");
  EXPECT_EQ(window.pumps, 2 + 5) << "before every group and every file";
  EXPECT_TRUE(busyWhilePumping);
  EXPECT_FALSE(ScanContext.Busy);
  EXPECT_TRUE(window.log.empty());
}

TEST_F(XmlExport, WritesOnlyTheRootWithoutGroups) {
  const std::string empty =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<Vesk>\r\n"
      "</Vesk>\r\n";
  ASSERT_FALSE(ScanContext.ResultsRoot);
  ASSERT_TRUE(ExportResult2XML(dir / "none.xml"));
  EXPECT_EQ(ReadAll(dir / "none.xml"), empty);

  EnsureResultsRoot();  // a run that found no duplicate
  ASSERT_TRUE(ExportResult2XML(dir / "root.xml"));
  EXPECT_EQ(ReadAll(dir / "root.xml"), empty);

  ScanContext.ResultsRoot->Groups.push_back({"ABC", 0, {}, {}, false, {}});
  ASSERT_TRUE(ExportResult2XML(dir / "nofiles.xml"));
  EXPECT_EQ(ReadAll(dir / "nofiles.xml"),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Vesk>\r\n\t<ABC>\r\n\t</ABC>\r\n</Vesk>\r\n");
  EXPECT_FALSE(ScanContext.Busy);
}

TEST_F(XmlExport, WritesPathsAsWellFormedUtf8CharacterData) {
  RecordDuplicate(kLetterSig, "/R&D/<a>]]>", "/caf\xC3\xA9/\xE6\x97\xA5", 1);
  RecordDuplicate(kLetterSig, "/latin\xE9/line\nbreak", "/x", 1);
  ASSERT_TRUE(ExportResult2XML(dir / "out.xml"));
  EXPECT_EQ(ReadAll(dir / "out.xml"), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Vesk>\r\n\t<" + kLetterSig +
                                          ">\r\n" +
                                          "\t\t<Filename>/caf\xC3\xA9/\xE6\x97\xA5</Filename>\r\n"
                                          "\t\t<Filename>/R&amp;D/&lt;a&gt;]]&gt;</Filename>\r\n"
                                          "\t\t<Filename>/latin\xC3\xA9/line&#10;break</Filename>\r\n"
                                          "\t</" +
                                          kLetterSig + ">\r\n</Vesk>\r\n");
}

TEST_F(XmlExport, LogsOneErrorForADestinationThatCannotBeWritten) {
  RecordDuplicate(kLetterSig, "/q", "/p", 1);
  for (const std::string& destination : UnwritableDestinations()) {
    EXPECT_FALSE(ExportResult2XML(destination));
    ExpectOneFailure("Can not export to XML file", destination);
  }
  EXPECT_FALSE(ExportResult2XML("/dev/full"));
  ExpectOneFailure("Can not export to XML file", "/dev/full", "Not a regular file: a device");
  const std::string previous = dir.Write("previous.xml", "<Vesk/>");
  {
    const FileSizeLimit limit(0);
    EXPECT_FALSE(ExportResult2XML(previous));
  }
  ExpectOneFailure("Can not export to XML file", previous);
  EXPECT_EQ(ReadAll(previous), "<Vesk/>");
  EXPECT_EQ(LeftOver(), std::vector<std::string>{"previous.xml"});
}

// ---------------------------------------------------------------- XML text

TEST(XmlExportCharacterData, EscapesMarkupAndKeepsValidUtf8) {
  EXPECT_EQ(XmlCharacterData("/R&D/<x>/a'b\"c;d"), "/R&amp;D/&lt;x&gt;/a'b\"c;d");
  for (const std::string text : {"caf\xC3\xA9", "\xE6\x97\xA5\xE6\x9C\xAC", "\xF0\x9F\x98\x80", "\xC2\x80",
                                 "\xEF\xBF\xBD", "\xF4\x8F\xBF\xBD"}) {
    EXPECT_EQ(XmlCharacterData(text), text);
  }
}

TEST(XmlExportCharacterData, ReadsBytesOfInvalidSequencesAsWindows1252) {
  EXPECT_EQ(XmlCharacterData("\xE9"), "\xC3\xA9");                // é
  EXPECT_EQ(XmlCharacterData("\xE9t\xE9"), "\xC3\xA9t\xC3\xA9");  // été
  EXPECT_EQ(XmlCharacterData("\x80"), "\xE2\x82\xAC");            // €
  EXPECT_EQ(XmlCharacterData("\x9F"), "\xC5\xB8");                // Ÿ
  EXPECT_EQ(XmlCharacterData("\x81\x8D\x8F\x90\x9D"), "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
  EXPECT_EQ(XmlCharacterData("\xFF"), "\xC3\xBF");                                              // ÿ
  EXPECT_EQ(XmlCharacterData("\xC0\xAF"), "\xC3\x80\xC2\xAF");                                  // overlong "/"
  EXPECT_EQ(XmlCharacterData("\xE2\x82"), "\xC3\xA2\xE2\x80\x9A");                              // cut short: â‚
  EXPECT_EQ(XmlCharacterData("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xE2\x82\xAC");                  // a surrogate
  EXPECT_EQ(XmlCharacterData("\xF4\x90\x80\x80"), "\xC3\xB4\xC2\x90\xE2\x82\xAC\xE2\x82\xAC");  // > U+10FFFF
  EXPECT_EQ(XmlCharacterData("\xEF\xBF\xBE"), "\xC3\xAF\xC2\xBF\xC2\xBE");  // U+FFFE, not an XML character
  // A broken lead byte does not swallow the valid character after it.
  EXPECT_EQ(XmlCharacterData("\xC3\xC3\xA9"), "\xC3\x83\xC3\xA9");
}

TEST(XmlExportCharacterData, KeepsControlCharactersVisible) {
  EXPECT_EQ(XmlCharacterData("a\tb\nc\rd"), "a&#9;b&#10;c&#13;d");
  EXPECT_EQ(XmlCharacterData("\x01"), "\xE2\x90\x81");  // U+2401
  EXPECT_EQ(XmlCharacterData("\x1B"), "\xE2\x90\x9B");  // U+241B
  EXPECT_EQ(XmlCharacterData("\x1F"), "\xE2\x90\x9F");  // U+241F
  EXPECT_EQ(XmlCharacterData("\x7F"), "\xE2\x90\xA1");  // U+2421
}

// ---------------------------------------------------------------- element names

TEST(XMLElementName, KeepsANameThatBeginsWithALetter) {
  EXPECT_EQ(XMLElementName(kLetterSig), kLetterSig);
  EXPECT_EQ(XMLElementName("Xml"), "Xml");
  EXPECT_EQ(XMLElementName("xMl_9"), "xMl_9");
}

TEST(XMLElementName, ReplacesEveryOtherCharacterByOneUnderscore) {
  EXPECT_EQ(XMLElementName("a-b c"), "a_b_c");
  EXPECT_EQ(XMLElementName("a\xE9z"), "a_z");
  EXPECT_EQ(XMLElementName("a\xC3\xA9z"), "a__z");  // one per byte
  EXPECT_EQ(XMLElementName("\xE9"), "__");
}

TEST(XMLElementName, PrefixesNamesThatMayNotBeginAnElement) {
  EXPECT_EQ(XMLElementName(kDigitSig), "_" + kDigitSig);
  EXPECT_EQ(XMLElementName("9"), "_9");
  EXPECT_EQ(XMLElementName("_a"), "__a");
  EXPECT_EQ(XMLElementName("xml1"), "__xml1");
  EXPECT_EQ(XMLElementName("XMLx"), "__XMLx");
  EXPECT_EQ(XMLElementName("xml"), "__xml");
  EXPECT_EQ(XMLElementName("-xml"), "__xml");  // "_xml": no longer begins with xml
  EXPECT_EQ(XMLElementName(""), "_");
}

}  // namespace
}  // namespace veldrano
