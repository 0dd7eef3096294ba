#include <gtest/gtest.h>

#include <map>

#include "results/tick_rules.h"
#include "support/engine_fixture.h"

namespace veldrano {
namespace {

// Two groups found in this order: /x/a1 then its copies /x/a2 and /x/y/a3;
// /z/b1 then /z/b2 and /x/b3.
class TickRules : public testing::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    const std::string a(32, 'A'), b(32, 'B');
    RecordDuplicate(a, "/x/a2", "/x/a1", 3);
    RecordDuplicate(a, "/x/y/a3", "/x/a1", 3);
    RecordDuplicate(b, "/z/b2", "/z/b1", 5);
    RecordDuplicate(b, "/x/b3", "/z/b1", 5);
  }
  // The unticked files, in list order.
  std::vector<std::string> Kept() const {
    std::vector<std::string> kept;
    for (const SelectionRow& row : ScanContext.Selection) {
      if (!row.Checked) kept.push_back(PathOf(row));
    }
    return kept;
  }
  // Modification times; /z/b2 has none (it cannot be read).
  static std::optional<std::int64_t> Time(const std::string& path) {
    static const std::map<std::string, std::int64_t> times{
        {"/x/a1", 30}, {"/x/a2", 10}, {"/x/y/a3", 20}, {"/z/b1", 5}, {"/x/b3", 5}};
    const auto found = times.find(path);
    return found == times.end() ? std::nullopt : std::optional(found->second);
  }
};

TEST_F(TickRules, KeepOneFileOfEachGroupByTheRuleChosen) {
  EXPECT_EQ(Kept(), (std::vector<std::string>{"/x/a1", "/z/b1"}));  // after the scan
  TickAllButOldest(Time);
  EXPECT_EQ(Kept(), (std::vector<std::string>{"/x/a2", "/z/b1"}));  // a tie keeps the one found first
  TickAllButNewest(Time);
  EXPECT_EQ(Kept(), (std::vector<std::string>{"/x/a1", "/z/b1"}));  // never the file without a time
  TickAllButOldest([](const std::string&) { return std::nullopt; });
  EXPECT_EQ(Kept(), (std::vector<std::string>{"/x/a1", "/z/b1"}));  // no times: the first found
  UntickAll();
  TickAllButFirst();
  EXPECT_EQ(Kept(), (std::vector<std::string>{"/x/a1", "/z/b1"}));
}

TEST_F(TickRules, FolderTicksAndInversion) {
  UntickAll();
  TickFolderOf("/x/a2", true);  // /x/a1, /x/a2, /x/b3; not /x/y/a3
  EXPECT_EQ(Kept(), (std::vector<std::string>{"/x/y/a3", "/z/b1", "/z/b2"}));
  TickFolderOf("/x/b3", false);
  EXPECT_EQ(Kept().size(), 6u);
  InvertTicks();
  EXPECT_TRUE(Kept().empty());
}

}  // namespace
}  // namespace veldrano
