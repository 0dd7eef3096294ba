#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "export/csv_export.h"
#include "export/xml_export.h"
#include "export/xml_text.h"
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

bool HaveDevFull() { return std::filesystem::exists("/dev/full"); }

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
  void ExpectOneFailure(const std::string& message, const std::string& destination) {
    ASSERT_EQ(window.log.size(), 1u) << destination;
    EXPECT_EQ(window.log[0].Information, "Error #1: " + message);
    EXPECT_EQ(window.log[0].Name, destination);
    EXPECT_EQ(window.log[0].Comment, "Please check the destination");
    EXPECT_EQ(window.log[0].ImageIndex, 3);
    EXPECT_EQ(ScanContext.ErrorCount, 1);
    EXPECT_FALSE(ScanContext.Busy);
    window.log.clear();
    ScanContext.ErrorCount = 0;
  }

  // Destinations that cannot be created as files; tests run as root, so
  // permission bits would not stop the write.
  std::vector<std::string> UnwritableDestinations() const {
    return {dir / "missing/out.txt", dir.Path(), "", std::string("/tmp/a\0b", 8)};
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
  if (!HaveDevFull()) return;
  // A short export fails only when its buffered end is flushed at the close;
  // a long one fails while writing, and ends there.
  EXPECT_FALSE(ExportResult2CSV("/dev/full", false));
  ExpectOneFailure("Can not export to CSV file", "/dev/full");
  for (int i = 0; i < 5000; ++i) RecordDuplicate(kLetterSig, "/some/longer/path/" + std::to_string(i), "/p", 1);
  window.pumps = 0;
  EXPECT_FALSE(ExportResult2CSV("/dev/full", false));
  ExpectOneFailure("Can not export to CSV file", "/dev/full");
  EXPECT_LT(window.pumps, 5000);
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

  ScanContext.ResultsRoot->Groups.push_back({"ABC", 0, {}});
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
  if (!HaveDevFull()) return;
  // A short export fails only when its buffered end is flushed at the close;
  // a long one fails while writing, and ends there.
  EXPECT_FALSE(ExportResult2XML("/dev/full"));
  ExpectOneFailure("Can not export to XML file", "/dev/full");
  for (int i = 0; i < 5000; ++i) RecordDuplicate(kLetterSig, "/some/longer/path/" + std::to_string(i), "/p", 1);
  window.pumps = 0;
  EXPECT_FALSE(ExportResult2XML("/dev/full"));
  ExpectOneFailure("Can not export to XML file", "/dev/full");
  EXPECT_LT(window.pumps, 5000);
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
