#include "cli/filter.h"

#include <gtest/gtest.h>

#include <string>

namespace {

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }
std::string text_of(const Bytes& b) { return std::string(b.begin(), b.end()); }

struct KindCase {
  const char* type;
  std::optional<FormatKind> kind;
};

const KindCase kKinds[] = {
    {"html", FormatKind::HTML}, {"php", FormatKind::PHP}, {"jpeg", FormatKind::JPEG},
    {"jpg", FormatKind::JPEG},  {"htm", std::nullopt},    {"", std::nullopt},
    {"Html", std::nullopt},     {"html ", std::nullopt},  {"css", FormatKind::CSS},
    {"js", FormatKind::JS},     {"mjs", std::nullopt},
};

TEST(FilterKind, ByExactName) {
  for (const KindCase& c : kKinds) EXPECT_EQ(filter_kind(c.type), c.kind) << c.type;
  EXPECT_EQ(filter_type_names("|"), "html|php|jpeg|jpg|css|js");
}

struct BytesCase {
  const char* name;
  FormatKind kind;
  bool safe;
  bool no_banner;
  std::string in;
  std::string out;  // "" with a banner: only its end is compared
};

const std::string kJpeg = std::string("\xFF\xD8\xFF\xFE\x00\x04hi\xFF\xDA\x00\x02scan", 16);
const std::string kJpegOut = std::string("\xFF\xD8\xFF\xDA\x00\x02scan", 10);

const BytesCase kBytes[] = {
    {"default_page", FormatKind::HTML, false, true, "<P>\n  a   b\n</P>", "<P> a b</P>"},
    {"safe_page", FormatKind::HTML, true, true, "<p>  a  </p>", "<p>  a  </p>"},
    {"php_block_kept", FormatKind::PHP, false, false, "<p>  a</p><?php  x ?>",
     "<p> a</p><?php  x ?>"},
    {"php_gets_no_banner", FormatKind::PHP, true, false, "<?php  x ?>", "<?php  x ?>"},
    {"jpeg_metadata_dropped", FormatKind::JPEG, false, false, kJpeg, kJpegOut},
    {"jpeg_not_followed_kept", FormatKind::JPEG, false, false, "GIF89a", "GIF89a"},
    {"jpeg_empty", FormatKind::JPEG, false, false, "", ""},
    {"page_empty", FormatKind::HTML, false, true, "", ""},
    {"css_default_kept", FormatKind::CSS, false, false, "a { b : c }", "a { b : c }"},
    {"css_safe_minified", FormatKind::CSS, true, false, "a { b : c ; }", "a{b:c}"},
    {"css_unfollowed_kept", FormatKind::CSS, true, false, "a { b: 'c", "a { b: 'c"},
    {"js_default_kept", FormatKind::JS, false, false, "a = 1 ;", "a = 1 ;"},
    {"js_safe_minified", FormatKind::JS, true, false, "a = 1 ; // x\nb ( )", "a=1;\nb()"},
    // Standard input may be a module: a classic script's "<!--" comment is not read as one.
    {"js_html_comment_kept", FormatKind::JS, true, false, "a <!-- b\n", "a <!-- b\n"},
};

class FilterBytes : public testing::TestWithParam<BytesCase> {};

TEST_P(FilterBytes, SameOptimizersAsARun) {
  const BytesCase& c = GetParam();
  Options options;
  options.safe = c.safe;
  options.no_banner = c.no_banner;
  const std::optional<Bytes> out = filter_bytes(c.kind, bytes_of(c.in), options);
  ASSERT_TRUE(out);
  EXPECT_EQ(text_of(*out), c.out);
}

INSTANTIATE_TEST_SUITE_P(Filter, FilterBytes, testing::ValuesIn(kBytes),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(FilterBanner, NamesStandardInputWithBothSizes) {
  Options options;
  const std::optional<Bytes> out = filter_bytes(FormatKind::HTML, bytes_of("<p>  a"), options);
  ASSERT_TRUE(out);
  const std::string text = text_of(*out);
  EXPECT_EQ(text.rfind("<!-- ####", 0), 0u);
  EXPECT_NE(text.find("<!-- File Name: - "), std::string::npos);
  EXPECT_NE(text.find("<!-- Input Size: 6 "), std::string::npos);
  EXPECT_NE(text.find("<!-- Optimized Size: 5 (minus"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 5), "<p> a");
}

}  // namespace
