#include "traverse/output_path.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "traverse/pipeline.h"

namespace {

struct MappingCase {
  const char* name;
  const char* first_path;  // takes the input prefix
  const char* path;
  std::optional<std::string> prefix;
  const char* relative;
  const char* output;
};

// The mapping a user can predict: output_dir, then the path minus the first path's directory.
const MappingCase kMapping[] = {
    {"bare_name", "index.html", "index.html", std::nullopt, "index.html", "./sveltered/index.html"},
    {"in_directory", "site/index.html", "site/index.html", "site", "/index.html",
     "./sveltered/index.html"},
    {"deeper_later_path", "site/index.html", "site/img/logo.jpg", "site", "/img/logo.jpg",
     "./sveltered/img/logo.jpg"},
    {"absolute_directory", "/var/www/site", "/var/www/site", "/var/www", "/site",
     "./sveltered/site"},
    {"absolute_walk_entry", "/var/www/site", "/var/www/site/a.html", "/var/www", "/site/a.html",
     "./sveltered/site/a.html"},
    {"relative_walk_entry", "site", "site/a.html", std::nullopt, "site/a.html",
     "./sveltered/site/a.html"},
    {"root_file_empty_prefix", "/index.html", "/index.html", "", "/index.html",
     "./sveltered/index.html"},
    {"characters_counted_not_compared", "a/x.html", "bb/y.html", "a", "b/y.html",
     "./svelteredb/y.html"},
    {"shorter_than_prefix_stays_in_bounds", "abcdef/x.html", "ab", "abcdef", "", "./sveltered"},
};

class Mapping : public testing::TestWithParam<MappingCase> {};

TEST_P(Mapping, RelativeNameAndOutputPath) {
  const auto& c = GetParam();
  OutputMapping mapping;
  mapping.output_dir = "./sveltered";
  mapping.input_prefix = input_prefix_of(c.first_path);
  EXPECT_EQ(mapping.input_prefix, c.prefix);
  const std::string_view relative = relative_name_of(mapping, c.path);
  EXPECT_EQ(relative, c.relative);
  EXPECT_EQ(output_path_for(mapping, relative), c.output);
}

INSTANTIATE_TEST_SUITE_P(OutputPath, Mapping, testing::ValuesIn(kMapping),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(DirectoryOf, BareNameRootAndNested) {
  EXPECT_EQ(directory_of("a.html"), ".");
  EXPECT_EQ(directory_of("/a.html"), "/");
  EXPECT_EQ(directory_of("out/d/a.html"), "out/d");
}

struct InsideCase {
  const char* name;
  const char* first_path;
  const char* path;
  bool inside;
};

const InsideCase kInside[] = {
    {"same_directory", "site/a.html", "site/b.html", true},
    {"subdirectory", "site/a.html", "site/img/b.jpg", true},
    {"other_directory_same_length", "a/x.html", "bb/y.html", false},
    {"prefix_is_only_a_name_prefix", "site/a.html", "sites/b.html", false},
    {"path_equals_prefix", "/var/www/site", "/var/www", true},
    {"dotdot_after_prefix", "site/a.html", "site/../../x.html", false},
    {"dotdot_inside_prefix_is_fine", "site/../x.html", "site/../x.html", true},
    {"bare_dotdot_without_prefix", "..", "..", false},
    {"dotdot_first_component", "page.html", "../page.html", false},
    {"dotdot_last_component", "page.html", "a/..", false},
    {"dots_in_names_are_fine", "page.html", "a/..b/c..", true},
    {"empty_prefix_needs_leading_slash", "/index.html", "rel.html", false},
    {"empty_prefix_absolute", "/index.html", "/srv/x.html", true},
    {"shorter_than_prefix", "abcdef/x.html", "ab", false},
};

class Inside : public testing::TestWithParam<InsideCase> {};

TEST_P(Inside, RefusesPathsThatLeaveTheOutputDirectory) {
  const auto& c = GetParam();
  OutputMapping mapping;
  mapping.output_dir = "out";
  mapping.input_prefix = input_prefix_of(c.first_path);
  EXPECT_EQ(maps_inside_output_dir(mapping, c.path), c.inside);
}

INSTANTIATE_TEST_SUITE_P(OutputPath, Inside, testing::ValuesIn(kInside),
                         [](const auto& p) { return std::string(p.param.name); });

struct KindCase {
  const char* name;
  const char* path;
  const char* switches;  // letters of the formats that are on: h, j, p
  FormatKind kind;
};

const KindCase kKinds[] = {
    {"html", "a.html", "hjp", FormatKind::HTML},
    {"htm_upper", "INDEX.HTM", "hjp", FormatKind::HTML},
    {"jpeg_mixed_case", "Photo.JPEG", "hjp", FormatKind::JPEG},
    {"jpg", "x/y.jpg", "hjp", FormatKind::JPEG},
    {"phtml", "v.phtml", "hjp", FormatKind::PHP},
    {"php3", "v.PHP3", "hjp", FormatKind::PHP},
    {"php", "v.php", "hjp", FormatKind::PHP},
    {"whole_name_is_extension", ".html", "hjp", FormatKind::HTML},
    {"extension_not_at_end", "page.html.bak", "hjp", FormatKind::Other},
    {"text", "notes.txt", "hjp", FormatKind::Other},
    {"html_switched_off", "a.html", "jp", FormatKind::Other},
    {"php_switched_off", "a.php", "hj", FormatKind::Other},
    {"jpeg_switched_off", "a.jpg", "hp", FormatKind::Other},
    {"no_dot", "html", "hjp", FormatKind::Other},
    {"high_bytes_do_not_fold", "a.\xC8TML", "hjp", FormatKind::Other},
};

class Kind : public testing::TestWithParam<KindCase> {};

TEST_P(Kind, ByExtensionAndSwitch) {
  const auto& c = GetParam();
  Options options;
  const std::string on = c.switches;
  options.html = on.find('h') != std::string::npos;
  options.jpeg = on.find('j') != std::string::npos;
  options.php = on.find('p') != std::string::npos;
  EXPECT_EQ(classify_extension(c.path, options), c.kind);
}

INSTANTIATE_TEST_SUITE_P(Dispatch, Kind, testing::ValuesIn(kKinds),
                         [](const auto& p) { return std::string(p.param.name); });

struct InputCase {
  const char* name;
  const char* first_path;             // takes the run's input prefix
  const char* path;                   // a later command-line path
  std::optional<std::string> output;  // none: refused
};

// A later path outside the first path's prefix is mirrored by its own directory part; only a
// path whose own name climbs out is refused.
const InputCase kInputs[] = {
    {"under_the_prefix", "a/site", "a/site/x.html", "out/site/x.html"},
    {"second_tree", "a/site", "b/docs", "out/docs"},
    {"second_tree_deeper", "a/site", "b/c/docs", "out/docs"},
    {"sibling_name_sharing_characters", "a/site", "ab/docs", "out/docs"},
    {"absolute_beside_relative", "site/a.html", "/var/www/b.html", "out/b.html"},
    {"climbing_after_the_prefix", "site/a.html", "site/../page.html", "out/page.html"},
    {"bare_name_after_prefix", "site/a.html", "page.html", "out/page.html"},
    {"no_prefix_keeps_the_path", "index.html", "img/a.jpg", "out/img/a.jpg"},
    {"climbing_without_prefix", "index.html", "../b.html", "out/b.html"},
    {"parent_itself", "a/site", "..", std::nullopt},
    {"parent_of_a_tree", "site", "site/..", std::nullopt},
};

class ForInput : public testing::TestWithParam<InputCase> {};

TEST_P(ForInput, OwnDirectoryWhenOutsideThePrefix) {
  const auto& c = GetParam();
  const OutputMapping run{"out", input_prefix_of(c.first_path)};
  const std::optional<OutputMapping> mapping = mapping_for_input(run, c.path);
  ASSERT_EQ(mapping.has_value(), c.output.has_value());
  if (!mapping) return;
  EXPECT_EQ(output_path_for(*mapping, relative_name_of(*mapping, c.path)), *c.output);
  EXPECT_TRUE(maps_inside_output_dir(*mapping, c.path));
}

INSTANTIATE_TEST_SUITE_P(OutputPath, ForInput, testing::ValuesIn(kInputs),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
