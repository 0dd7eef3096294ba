#include "results/keep_rules.h"

#include <gtest/gtest.h>

#include <map>

namespace veldrano {
namespace {

// One group of the given files; which one the rules keep.
std::string Kept(const KeepRules& rules, const std::vector<std::string>& files,
                 const std::map<std::string, std::int64_t>& times = {}, const std::string& reference = "") {
  ResultsNode root;
  root.Groups.push_back({"S", 1, files, {}, false, {}});
  KeepFacts facts;
  facts.InReference = [&](const std::string& path) { return !reference.empty() && path.starts_with(reference); };
  facts.ModifiedAt = [&](const SignatureGroup& group, std::size_t f) -> std::optional<std::int64_t> {
    const auto found = times.find(group.Files[f]);
    return found == times.end() ? std::nullopt : std::optional(found->second);
  };
  return files[ChooseKept(rules, root, facts)[0]];
}

KeepRules Parsed(std::string_view text) {
  std::string problem;
  const std::optional<KeepRules> rules = ParseKeepRules(text, problem);
  EXPECT_TRUE(rules) << text << ": " << problem;
  return rules.value_or(KeepRules{});
}

TEST(KeepRules, EachCriterionPicksItsFile) {
  const std::vector<std::string> files = {"/home/u/Downloads/photo (1).jpg", "/home/u/Pictures/2020/photo.jpg",
                                          "/home/u/Backup/old/photo.jpg", "/home/u/p.jpg"};
  const std::map<std::string, std::int64_t> times = {{files[0], 30}, {files[1], 20}, {files[2], 10}};
  EXPECT_EQ(Kept({}, files), files[0]);  // no rule: the first found
  EXPECT_EQ(Kept(Parsed("under:/home/u/Pictures"), files), files[1]);
  EXPECT_EQ(Kept(Parsed("under:/home/u/Nothing,under:/home/u/Backup"), files), files[2]);
  EXPECT_EQ(Kept(Parsed("path:*/Backup*/*"), files), files[2]);
  EXPECT_EQ(Kept(Parsed("not-path:*/Downloads/*"), files), files[1]);
  EXPECT_EQ(Kept(Parsed("oldest"), files, times), files[2]);
  EXPECT_EQ(Kept(Parsed("newest"), files, times), files[0]);  // a file without a time never wins by time
  EXPECT_EQ(Kept(Parsed("shortest-path"), files), files[3]);
  EXPECT_EQ(Kept(Parsed("longest-path"), files), files[0]);
  EXPECT_EQ(Kept(Parsed("shortest-name"), files), files[3]);
  EXPECT_EQ(Kept(Parsed("longest-name"), files), files[0]);
  EXPECT_EQ(Kept(Parsed("shallowest"), files), files[3]);
  EXPECT_EQ(Kept(Parsed("deepest"), files), files[1]);  // ties with files[2]: the first found of them
  EXPECT_EQ(Kept(Parsed("copy-marker"), files), files[0]);
  EXPECT_EQ(Kept(Parsed("no-copy-marker"), files), files[1]);
  // Ties fall through to the next criterion; a reference folder comes first.
  EXPECT_EQ(Kept(Parsed("deepest,oldest"), files, times), files[2]);
  EXPECT_EQ(Kept(Parsed("no-copy-marker,shortest-path"), files), files[3]);
  EXPECT_EQ(Kept(Parsed("under:/home/u/Pictures"), files, {}, "/home/u/Downloads/"), files[0]);
}

TEST(KeepRules, CopyMarkers) {
  for (const char* name : {"a (1).jpg", "a (12)", "a - Copy.txt", "Copy of a", "a (copy).txt", "a~", "~a"}) {
    EXPECT_TRUE(HasCopyMarker(name)) << name;
  }
  for (const char* name : {"a.jpg", "a (b).txt", "a ().txt", "copier"}) EXPECT_FALSE(HasCopyMarker(name)) << name;
}

TEST(KeepRules, TheWrittenFormGoesBothWaysAndNamesWhatIsWrong) {
  const KeepRules rules = Parsed("under:/a b/,not-path:'*/x,y/*',path:'it''s',oldest,no-copy-marker");
  ASSERT_EQ(rules.size(), 5u);
  EXPECT_EQ(rules[0].Folders, std::vector<std::string>{"/a b/"});
  EXPECT_EQ(rules[1].Pattern, "*/x,y/*");
  EXPECT_EQ(rules[2].Pattern, "it's");
  EXPECT_EQ(Parsed(WriteKeepRules(rules)), rules);
  setenv("HOME", "/home/u", 1);
  EXPECT_EQ(Parsed("under:~/Pictures")[0].Folders[0], "/home/u/Pictures/");

  for (const auto& [text, problem] : std::vector<std::pair<std::string, std::string>>{
           {"oldest,biggest", "Unknown criterion: biggest"},
           {"path:", "path: needs a pattern"},
           {"under", "under: needs a folder"},
           {"not-path:*[ab", "not-path:*[ab: a \"[\" is not closed by \"]\" (write \"[[]\" for a \"[\" itself)"},
           {"path:x\\", "path:x\\: it ends in a lone \"\\\""},
           {"oldest,", "An empty criterion"},
           {"path:'*", "A quote is not closed"}}) {
    std::string said;
    EXPECT_FALSE(ParseKeepRules(text, said)) << text;
    EXPECT_EQ(said, problem) << text;
  }
}

}  // namespace
}  // namespace veldrano
