// Style sheets and scripts on the command line: which runs minify them, what they print.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace {

const char kSheet[] = "a {\n  color : red ;\n}\n";      // 22 bytes
const char kSheetOut[] = "a{color:red}";                // 12
const char kScript[] = "var a = 1 ; // one\nf( a )\n";  // 26
const char kScriptOut[] = "var a=1;\nf(a)";             // 13

void write_tree(const TempDir& dir) {
  write_file(dir / "s.css", kSheet);
  write_file(dir / "a.js", kScript);
  write_file(dir / "m.MJS", "export  const x = 1\n");
  write_file(dir / "p.html", "<p>x");
}

struct SelectCase {
  const char* name;
  std::vector<std::string> options;
  const char* css;  // what s.css becomes; null: not written
  const char* js;   // what a.js becomes
  bool page;        // p.html written
};

const SelectCase kSelect[] = {
    {"default_profile_copies", {}, kSheet, kScript, true},
    {"safe_minifies_everything", {"--safe"}, kSheetOut, kScriptOut, true},
    {"safe_css_only", {"--safe", "--css"}, kSheetOut, nullptr, false},
    {"safe_js_only", {"--safe", "--js"}, nullptr, kScriptOut, false},
    {"safe_html_only", {"--safe", "-h"}, nullptr, nullptr, true},
    {"safe_html_and_copy", {"--safe", "-h", "-c"}, kSheet, kScript, true},
    {"css_without_safe_is_nothing", {"--css"}, nullptr, nullptr, false},
    {"css_without_safe_with_copy", {"--css", "-c"}, kSheet, kScript, true},
};

class Select : public testing::TestWithParam<SelectCase> {};
TEST_P(Select, WritesWhatItSelects) {
  TempDir dir;
  write_tree(dir);
  std::vector<std::string> args = GetParam().options;
  for (const char* f : {"s.css", "a.js", "p.html"}) args.emplace_back(f);
  const RunResult r = run_sveltery(dir.path(), args);
  EXPECT_EQ(r.status, 1);
  if (GetParam().css == nullptr) {
    EXPECT_FALSE(exists(dir / "sveltered/s.css"));
  } else {
    EXPECT_EQ(read_file(dir / "sveltered/s.css"), GetParam().css);
  }
  if (GetParam().js == nullptr) {
    EXPECT_FALSE(exists(dir / "sveltered/a.js"));
  } else {
    EXPECT_EQ(read_file(dir / "sveltered/a.js"), GetParam().js);
  }
  EXPECT_EQ(exists(dir / "sveltered/p.html"), GetParam().page);
}
INSTANTIATE_TEST_SUITE_P(Code, Select, testing::ValuesIn(kSelect),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Code, LoggedRunPrintsSavingsAndReportLines) {
  TempDir dir;
  write_tree(dir);
  const RunResult r = run_sveltery(dir.path(), {"--safe", "-l", "s.css", "a.js", "m.MJS"});
  EXPECT_EQ(r.out,
            "Sveltery 1.1 Demo\nOutputing to: ./sveltered/\n"
            "Optimizing: s.css\n Saved: 45.5% or 10 of 22 bytes\n"
            "Optimizing: a.js\n Saved: 50.0% or 13 of 26 bytes\n"
            "Optimizing: m.MJS\n Saved: 20.0% or 4 of 20 bytes\n"
            "Sveltery Saved: 39.7% or 27 of 68 bytes overall on optimizable formats\n"
            "Sveltery Saved: 45.5% or 10 of 22 bytes on css format files\n"
            "Sveltery Saved: 37.0% or 17 of 46 bytes on js format files\n"
            "Sveltery Optimized: 3 of 3 files\n");
  EXPECT_EQ(read_file(dir / "sveltered/m.MJS"), "export const x=1");
}

TEST(Code, VerboseDrawsAFullBar) {
  TempDir dir;
  write_file(dir / "s.css", kSheet);
  const RunResult r = run_sveltery(dir.path(), {"--safe", "-v", "s.css"});
  EXPECT_EQ(r.out,
            "Sveltery 1.1 Demo\nOutputing to: ./sveltered/\nOptimizing: s.css\n"
            "\r 100% |**************************************************| 22\n"
            " Saved: 45.5% or 10 of 22 bytes\n"
            "Sveltery Saved: 45.5% or 10 of 22 bytes overall on optimizable formats\n"
            "Sveltery Saved: 45.5% or 10 of 22 bytes on css format files\n"
            "Sveltery Optimized: 1 of 1 files\n");
}

// A file the tokenizer cannot follow goes out as it came in, and is still counted.
TEST(Code, UnfollowableFileIsWrittenUnchanged) {
  TempDir dir;
  write_file(dir / "bad.js", "var a = 'open\n");
  write_file(dir / "bad.css", "a { content: 'open }");
  const RunResult r = run_sveltery(dir.path(), {"--safe", "-f", "bad.js", "bad.css"});
  EXPECT_EQ(read_file(dir / "sveltered/bad.js"), "var a = 'open\n");
  EXPECT_EQ(read_file(dir / "sveltered/bad.css"), "a { content: 'open }");
  EXPECT_NE(r.out.find("Sveltery Optimized: 2 of 2 files\n"), std::string::npos);
}

// Compressed siblings are made from what was written: the minified sheet, not the input.
TEST(Code, PrecompressedSiblingHoldsTheMinifiedSheet) {
  ASSERT_EQ(std::system("command -v gzip >/dev/null"), 0) << "gzip is needed";
  TempDir dir;
  std::string sheet;
  for (int i = 0; i < 300; ++i) sheet += ".row" + std::to_string(i) + " {\n  color : red ;\n}\n";
  write_file(dir / "big.css", sheet);
  const RunResult r = run_sveltery(dir.path(), {"--safe", "--precompress=gz", "big.css"});
  EXPECT_EQ(r.status, 1);
  const std::string minified = read_file(dir / "sveltered/big.css");
  EXPECT_LT(minified.size(), sheet.size() * 2 / 3);
  std::FILE* pipe = ::popen(("gzip -dc " + shell_quote(dir / "sveltered/big.css.gz")).c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string decoded;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    decoded.append(buffer, got);
  EXPECT_EQ(::pclose(pipe), 0);
  EXPECT_EQ(decoded, minified);
}

}  // namespace
