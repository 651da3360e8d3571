// "-" with --type: standard input through the optimizer onto standard output, nothing else.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace {

std::string jpeg_with_metadata() {
  std::string s = "\xFF\xD8";
  s += std::string("\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 18);
  s += std::string("\xFF\xFE\x00\x07hello", 9);  // a comment segment
  s += std::string("\xFF\xDB\x00\x06\x00\x01\x02\x03", 8);
  s += std::string("\xFF\xDA\x00\x04\x01\x02scandata\xFF\x00\xFF\xD9", 18);
  return s;
}

const std::string kCorpusPage =
    read_file(SVELTERY_TEST_CORPUS_DIR "/html/postgresql-doc-15/storage-hot.html");
const std::string kCorpusJpeg =
    read_file(SVELTERY_TEST_CORPUS_DIR "/jpeg/fotoxx-common/data/patterns/confetti.jpg");
const std::string kCorpusPhp =
    read_file(SVELTERY_TEST_CORPUS_DIR "/php/icingaweb2/application/layouts/scripts/body.phtml");

const std::string kInlineCode =
    "<p>a</p><style> a { b : c } </style><script> x = 1 ; </script><p style=\"b : c ;\">";

struct FilterCase {
  const char* name;
  const char* type;
  const char* file;  // the same bytes as a file of a run
  std::vector<std::string> options;
  std::string input;
};

const FilterCase kFilters[] = {
    {"safe_page", "html", "p.html", {"--safe"}, "<p>  a  </p>"},
    {"default_page", "html", "p.html", {"--no-banner"}, "<P>\n  a   b\n</P>"},
    {"corpus_page_safe", "html", "p.html", {"--safe"}, kCorpusPage},
    {"corpus_page_default", "html", "p.html", {"--no-banner"}, kCorpusPage},
    {"php_page", "php", "p.php", {}, "<p>  a  </p><?php  echo 1 ?>  <b> b </b>"},
    {"corpus_php_safe", "php", "p.php", {"--safe"}, kCorpusPhp},
    {"jpeg", "jpeg", "p.jpg", {}, jpeg_with_metadata()},
    {"jpg_is_jpeg", "jpg", "p.jpg", {}, jpeg_with_metadata()},
    {"not_a_jpeg", "jpeg", "p.jpg", {}, "\x89PNG\r\n\x1a\n not a jpeg"},
    {"corpus_jpeg", "jpeg", "p.jpg", {}, kCorpusJpeg},
    {"corpus_jpeg_safe_recoded", "jpeg", "p.jpg", {"--safe"}, kCorpusJpeg},
    {"empty_page", "html", "p.html", {"--no-banner"}, ""},
    {"zero_bytes_kept", "html", "p.html", {"--safe"}, std::string("<p>a\0b</p>", 10)},
    {"safe_inline_code", "html", "p.html", {"--safe"}, kInlineCode},
    {"safe_inline_scripts_only", "html", "p.html", {"--safe", "-h", "--js"}, kInlineCode},
    {"css_safe", "css", "p.css", {"--safe"}, "a { b : c ; }\n/* x */"},
    {"css_default_copied", "css", "p.css", {}, "a { b : c ; }"},
    {"js_safe", "js", "p.js", {"--safe"}, "x = 1 ;\n// c\ny ( )"},
};

class Filter : public testing::TestWithParam<FilterCase> {};

TEST_P(Filter, WritesWhatARunWritesAndNothingElse) {
  const FilterCase& c = GetParam();
  TempDir dir;
  std::vector<std::string> args = c.options;
  args.insert(args.end(), {std::string("--type=") + c.type, "-"});
  const IoResult filtered = run_sveltery_io(dir.path(), args, c.input);
  EXPECT_EQ(filtered.status, 0);
  EXPECT_EQ(filtered.err, "");

  write_file(dir / c.file, c.input);
  std::vector<std::string> run = c.options;
  run.push_back(c.file);
  ASSERT_EQ(run_sveltery(dir.path(), run).status, 1);
  EXPECT_TRUE(filtered.out == read_file(dir / "sveltered/" + c.file))
      << filtered.out.substr(0, 300);
  EXPECT_LE(filtered.out.size(), c.input.size());
}

INSTANTIATE_TEST_SUITE_P(Cli, Filter, testing::ValuesIn(kFilters),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(FilterMode, DefaultProfileBannerNamesStandardInput) {
  TempDir dir;
  const IoResult r = run_sveltery_io(dir.path(), {"--type=html", "-"}, "<p>  a  </p>");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("<!-- ####", 0), 0u);
  EXPECT_NE(r.out.find("<!-- File Name: -    "), std::string::npos) << r.out;
  EXPECT_EQ(r.out.substr(r.out.size() - 10), "<p> a </p>");
}

TEST(FilterMode, TouchesNoOutputDirectory) {
  TempDir dir;
  const IoResult r = run_sveltery_io(dir.path(), {"-v", "-f", "--type=jpeg", "-"}, "x");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "x");
  EXPECT_FALSE(exists(dir / "sveltered"));
}

}  // namespace
