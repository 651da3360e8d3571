#include "traverse/output_claims.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

// The inputs' trees as a map from path to identity: what the file system would say.
const std::map<std::string, FileId> kFiles = {
    {"a/site", {1, 10}},    {"a/site/x.html", {1, 11}}, {"a/site/sub", {1, 12}},
    {"b/site", {1, 20}},    {"b/site/x.html", {1, 21}}, {"b/site/sub", {1, 22}},
    {"c/sub", {1, 12}},     {"d/x.html", {1, 11}},      {"e/x.html", {1, 30}},
    {"f/site", {1, 40}},    {"f/site/sub", {1, 50}},    {"g/other", {1, 60}},
    {"link/site", {1, 10}},
};

std::optional<FileId> fake_look_up(const std::string& path) {
  const auto it = kFiles.find(path);
  return it != kFiles.end() ? std::optional<FileId>(it->second) : std::nullopt;
}

OutputClaim claim(const std::string& input, const std::string& output, bool directory) {
  return {input, output, kFiles.at(input), directory};
}

struct ClaimCase {
  const char* name;
  std::vector<OutputClaim> earlier;
  OutputClaim next;
  const char* taken_by;  // the earlier input it collides with; null for none
};

const ClaimCase kClaims[] = {
    {"first_input", {}, claim("a/site", "out/site", true), nullptr},
    {"two_trees_one_name",
     {claim("a/site", "out/site", true)},
     claim("b/site", "out/site", true),
     "a/site"},
    {"same_tree_twice",
     {claim("a/site", "out/site", true)},
     claim("link/site", "out/site", true),
     nullptr},
    {"two_files_one_name",
     {claim("d/x.html", "out/x.html", false)},
     claim("e/x.html", "out/x.html", false),
     "d/x.html"},
    {"same_file_twice",
     {claim("a/site/x.html", "out/x.html", false)},
     claim("d/x.html", "out/x.html", false),
     nullptr},
    {"file_inside_a_tree_it_belongs_to",
     {claim("a/site", "out/site", true)},
     claim("d/x.html", "out/site/x.html", false),
     nullptr},
    {"file_inside_a_tree_over_another",
     {claim("a/site", "out/site", true)},
     claim("e/x.html", "out/site/x.html", false),
     "a/site"},
    {"file_inside_a_tree_where_it_has_none",
     {claim("a/site", "out/site", true)},
     claim("e/x.html", "out/site/new.html", false),
     nullptr},
    {"subtree_of_the_same_tree",
     {claim("a/site", "out/site", true)},
     claim("c/sub", "out/site/sub", true),
     nullptr},
    {"subtree_over_another",
     {claim("a/site", "out/site", true)},
     claim("f/site/sub", "out/site/sub", true),
     "a/site"},
    {"tree_over_an_earlier_file",
     {claim("e/x.html", "out/site/x.html", false)},
     claim("a/site", "out/site", true),
     "e/x.html"},
    {"tree_holding_the_earlier_file",
     {claim("d/x.html", "out/site/x.html", false)},
     claim("a/site", "out/site", true),
     nullptr},
    {"name_sharing_characters_is_not_inside",
     {claim("a/site", "out/site", true)},
     claim("g/other", "out/site2", true),
     nullptr},
    {"second_of_several",
     {claim("g/other", "out/other", true), claim("a/site", "out/site", true)},
     claim("b/site", "out/site", true),
     "a/site"},
};

class Claims : public testing::TestWithParam<ClaimCase> {};

TEST_P(Claims, TakenOnlyByOtherContent) {
  const ClaimCase& c = GetParam();
  const OutputClaim* taken = colliding_claim(c.earlier, c.next, fake_look_up);
  if (c.taken_by == nullptr) {
    EXPECT_EQ(taken, nullptr) << taken->input;
  } else {
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(taken->input, c.taken_by);
  }
}

INSTANTIATE_TEST_SUITE_P(OutputClaims, Claims, testing::ValuesIn(kClaims),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
