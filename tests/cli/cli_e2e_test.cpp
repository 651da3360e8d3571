// The program's command line as a user meets it: screens, options, the output directory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace {

const std::string kUsage =
    "usage: sveltery [options] inputfile\n"
    "where options are:\n"
    "\t-a\toptimize/copy all, same as -hjcp (default)\n"
    "\t-c \tcopy unsupported file formats as is\n"
    "\t-f \tfinal report\n"
    "\t-h\toptimize html files\n"
    "\t-j\toptimize jpg files\n"
    "\t-l\tlogging mode\n"
    "\t-o\toutput directory(default ./sveltered/)\n"
    "\t-p\toptimize php files\n"
    "\t-r\trecurse directories\n"
    "\t-v\tverbose output\n"
    "\t-D\tdisplay documentation screen\n"
    "\t-H\tdisplay help screen\n"
    "\t-V\tdisplay version info\n"
    "\t-L\tdisplay license info\n";

const std::string kLongOptions =
    "long options:\n"
    "\t--safe\t\tdeploy profile: pages look the same; no banner\n"
    "\t--banner\tbanner on optimized HTML pages (also with --safe)\n"
    "\t--no-banner\tno banner on optimized HTML pages (either profile)\n"
    "\t--css\t\tminify style sheets (.css; under --safe only)\n"
    "\t--js\t\tminify scripts (.js, .mjs; under --safe only)\n"
    "\t--jobs N\toptimize N files at once (1-1024; default one per CPU)\n"
    "\t--precompress[=LIST]\tcompressed copies (br,gz,zst; default br,gz)\n"
    "\t--update\tredo only what changed since the last --update run\n"
    "\t--delete\twith --update -r: remove outputs whose sources are gone\n"
    "\t--type=KIND\tfilter: - reads KIND (html, php, jpeg, jpg, css, js),\n"
    "\t\t\tthe result goes to stdout\n"
    "\t--help\t\tdisplay this screen\n"
    "\t--version\tdisplay version info, as -V\n";

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    out.push_back(text.substr(start, nl - start));
  return out;
}

TEST(Screens, VersionBannerIsFiveRulesOf62) {
  TempDir dir;
  const RunResult r = run_sveltery(dir.path(), {"-V"});
  EXPECT_EQ(r.status, 1);
  const auto l = lines(r.out);
  ASSERT_EQ(l.size(), 5u);
  EXPECT_EQ(l[0], std::string(62, '#'));
  EXPECT_EQ(l[4], std::string(62, '#'));
  for (std::size_t i = 1; i <= 3; ++i) {
    EXPECT_EQ(l[i].size(), 62u) << l[i];
    EXPECT_EQ(l[i].front(), '#');
    EXPECT_EQ(l[i].back(), '#');
  }
  EXPECT_NE(l[2].find("Sveltery 1.1"), std::string::npos);
  EXPECT_NE(l[3].find("-D"), std::string::npos);
  EXPECT_NE(l[3].find("-L"), std::string::npos);
  EXPECT_EQ(r.out.back(), '\n');
  EXPECT_FALSE(exists(dir / "sveltered"));
}

// The screen is read in an 80-column terminal: with tabs every 8 columns no line runs over.
TEST(Screens, LongOptionsFitEightyColumns) {
  for (const std::string& line : lines(kLongOptions)) {
    std::size_t column = 0;
    for (const char c : line) column = c == '\t' ? (column / 8 + 1) * 8 : column + 1;
    EXPECT_LE(column, 80u) << line;
  }
}

TEST(Screens, ShortUsageExactly) {
  TempDir dir;
  const RunResult r = run_sveltery(dir.path(), {"-H"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kUsage);
}

TEST(Screens, DocumentationBeginsAndEndsAsDocumented) {
  TempDir dir;
  const RunResult r = run_sveltery(dir.path(), {"-D"});
  EXPECT_EQ(r.status, 1);
  const std::string head =
      "Sveltery 1.1\n\nUsage:\n\n\tsveltery [options] inputfile/s\n\nDescription:\n\n";
  EXPECT_EQ(r.out.substr(0, head.size()), head);
  EXPECT_NE(r.out.find("\t-a\n\t   Default mode, optimize all supported file formats and copy all "
                       "unsupported formats.\n\t   Same as -hfcp\n\n\t-c\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("\t-v\n\t    Enable Verbose mode. Includes progress bars, and final "
                       "report\n\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("\t   Recurseivly traverse directories optimizing enabled file formats.\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("2001"), std::string::npos);
}

TEST(Screens, LicenceEndsWithTwoBlankLines) {
  TempDir dir;
  const RunResult r = run_sveltery(dir.path(), {"-L"});
  EXPECT_EQ(r.status, 1);
  ASSERT_GT(r.out.size(), 3u);
  EXPECT_EQ(r.out.substr(r.out.size() - 4), ".\n\n\n");
  EXPECT_NE(r.out.find("WARRANTY"), std::string::npos);
  // The LICENSE file (installed as the package's copyright file) is the same text.
  EXPECT_EQ(r.out, read_file(std::string(SVELTERY_SOURCE_DIR) + "/LICENSE") + "\n\n");
}

struct ArgsCase {
  const char* name;
  std::vector<std::string> args;
  std::string expected;
};

const std::string kVersionBanner = [] {
  TempDir dir;
  return run_sveltery(dir.path(), {"-V"}).out;
}();

const ArgsCase kNoRun[] = {
    {"no_arguments", {}, "Sveltery 1.1 Demo\n" + kVersionBanner + kUsage},
    {"options_only", {"-v", "-r"}, "Sveltery 1.1 Demo\n" + kVersionBanner + kUsage},
    {"unknown_option", {"-x", "a.html"}, kUsage},
    {"o_without_argument", {"-o"}, kUsage},
    {"screen_stops_reading_at_once", {"-v", "-H", "-x", "a.html"}, kUsage},
    {"first_screen_wins", {"-V", "-H"}, kVersionBanner},
    {"long_help", {"--help", "a.html"}, kUsage + kLongOptions},
    {"long_help_prefix", {"--he"}, kUsage + kLongOptions},
    {"short_help_stays_short", {"-H", "--help"}, kUsage},
    {"long_version", {"--safe", "--version", "a.html"}, kVersionBanner},
    {"long_prefix", {"--vers"}, kVersionBanner},
    {"unknown_long_option", {"--fast", "a.html"}, kUsage},
    {"argument_to_a_flag", {"--safe=yes", "a.html"}, kUsage},
    {"long_options_only",
     {"--safe", "--no-banner"},
     "Sveltery 1.1 Demo\n" + kVersionBanner + kUsage},
};

class NoRun : public testing::TestWithParam<ArgsCase> {};

TEST_P(NoRun, PrintsScreensAndTouchesNothing) {
  TempDir dir;
  write_file(dir / "a.html", "<p>x");
  const RunResult r = run_sveltery(dir.path(), GetParam().args);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, GetParam().expected);
  EXPECT_FALSE(exists(dir / "sveltered"));
}

INSTANTIATE_TEST_SUITE_P(Cli, NoRun, testing::ValuesIn(kNoRun),
                         [](const auto& p) { return std::string(p.param.name); });

// Every long option the program takes has its line in --help, and a run accepts it as listed.
struct LongOptionCase {
  const char* name;
  std::vector<std::string> args;  // the option as a user types it
  std::string line_start;         // its line in --help
};

const LongOptionCase kLongOptionLines[] = {
    {"safe", {"--safe"}, "\t--safe\t"},
    {"banner", {"--banner"}, "\t--banner\t"},
    {"no_banner", {"--no-banner"}, "\t--no-banner\t"},
    {"jobs", {"--jobs", "2"}, "\t--jobs N\t"},
    {"type", {"--type=html"}, "\t--type=KIND\t"},
    {"precompress", {"--precompress"}, "\t--precompress[=LIST]\t"},
    {"update", {"--update"}, "\t--update\t"},
};

class LongOption : public testing::TestWithParam<LongOptionCase> {};

TEST_P(LongOption, ListedByHelpAndTaken) {
  TempDir dir;
  write_file(dir / "a.txt", "x");
  const RunResult help = run_sveltery(dir.path(), {"--help"});
  EXPECT_NE(help.out.find("\n" + GetParam().line_start), std::string::npos) << help.out;
  std::vector<std::string> args = GetParam().args;
  args.push_back("a.txt");
  const RunResult r = run_sveltery(dir.path(), args);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Sveltery 1.1 Demo\n");
  EXPECT_EQ(read_file(dir / "sveltered/a.txt"), "x");
}

INSTANTIATE_TEST_SUITE_P(Cli, LongOption, testing::ValuesIn(kLongOptionLines),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(OutputDir, CreatedWithMode0700) {
  TempDir dir;
  write_file(dir / "a.txt", "x");
  const RunResult r = run_sveltery(dir.path(), {"a.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "Sveltery 1.1 Demo\n");
  EXPECT_EQ(mode_of(dir / "sveltered"), 0700u);
  EXPECT_EQ(read_file(dir / "sveltered/a.txt"), "x");
}

struct DirCase {
  const char* name;
  std::string option;  // the -o argument
  std::string announced;
};

const DirCase kGivenDirs[] = {
    {"plain", "out", "Outputing to: out/\n"},
    {"one_slash_removed", "out/", "Outputing to: out/\n"},
    {"only_one_slash_removed", "out//", "Outputing to: out//\n"},
};

class GivenDir : public testing::TestWithParam<DirCase> {};

TEST_P(GivenDir, TrailingSlash) {
  TempDir dir;
  write_file(dir / "a.txt", "x");
  const RunResult r = run_sveltery(dir.path(), {"-f", "-o", GetParam().option, "a.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "Sveltery 1.1 Demo\n" + GetParam().announced + "Sveltery Optimized: 0 of 1 files\n");
  EXPECT_EQ(read_file(dir / "out/a.txt"), "x");
}

INSTANTIATE_TEST_SUITE_P(Cli, GivenDir, testing::ValuesIn(kGivenDirs),
                         [](const auto& p) { return std::string(p.param.name); });

struct UnusableCase {
  const char* name;
  std::string option;
  std::string expected;
};

const UnusableCase kUnusable[] = {
    {"parent_missing", "no/such", "Permission denied creating: no/such\n"},
    {"empty_name", "", "Permission denied creating: \n"},
};

class Unusable : public testing::TestWithParam<UnusableCase> {};

TEST_P(Unusable, EndsTheRunWith255BeforeAnyInput) {
  TempDir dir;
  write_file(dir / "a.txt", "x");
  const RunResult r = run_sveltery(dir.path(), {"-v", "-o", GetParam().option, "a.txt"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cli, Unusable, testing::ValuesIn(kUnusable),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(OutputDir, UnsearchableParentIsDenied) {
  TempDir dir;
  ::mkdir((dir / "locked").c_str(), 0000);
  write_file(dir / "a.txt", "x");
  const RunResult r = run_sveltery_as_user(dir.path(), {"-o", "locked/out", "a.txt"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "Permission denied to: locked/out\n");
}

TEST(OutputDir, RegularFileIsAcceptedAndEachWriteFails) {
  TempDir dir;
  write_file(dir / "out", "not a directory");
  write_file(dir / "a.txt", "x");
  const RunResult r = run_sveltery(dir.path(), {"-o", "out", "a.txt"});
  EXPECT_EQ(r.status, 2);  // the file failed
  EXPECT_EQ(r.out, "Sveltery 1.1 Demo\nError: opening output file: out/a.txt\nSkipped: a.txt\n");
  EXPECT_EQ(read_file(dir / "out"), "not a directory");
}

TEST(Options, DefaultIsEverythingAndHAloneIsHtmlOnly) {
  TempDir dir;
  write_file(dir / "a.txt", "t");
  write_file(dir / "b.php", "<?php  x ?>");
  write_file(dir / "c.html", "<p>c");
  RunResult r = run_sveltery(dir.path(), {"-f", "-h", "a.txt", "b.php", "c.html"});
  EXPECT_EQ(r.out,
            "Sveltery 1.1 Demo\nOutputing to: ./sveltered/\n"
            "Sveltery Saved: 0.0% or 0 of 4 bytes overall on optimizable formats\n"
            "Sveltery Saved: 0.0% or 0 of 4 bytes on html format files\n"
            "Sveltery Optimized: 1 of 3 files\n");
  EXPECT_FALSE(exists(dir / "sveltered/a.txt"));
  EXPECT_FALSE(exists(dir / "sveltered/b.php"));

  r = run_sveltery(dir.path(), {"-f", "-o", "all", "a.txt", "b.php", "c.html"});
  EXPECT_EQ(r.out,
            "Sveltery 1.1 Demo\nOutputing to: all/\n"
            "Sveltery Saved: 0.0% or 0 of 15 bytes overall on optimizable formats\n"
            "Sveltery Saved: 0.0% or 0 of 4 bytes on html format files\n"
            "Sveltery Saved: 0.0% or 0 of 11 bytes on php format files\n"
            "Sveltery Optimized: 2 of 3 files\n");
  EXPECT_EQ(read_file(dir / "all/a.txt"), "t");
}

TEST(Options, AllLeavesPhpOffSoPhpIsCopied) {
  TempDir dir;
  write_file(dir / "b.php", "<?php  x ?>\n\n");
  const RunResult r = run_sveltery(dir.path(), {"-a", "-l", "b.php"});
  EXPECT_EQ(r.out,
            "Sveltery 1.1 Demo\nOutputing to: ./sveltered/\nCopying: b.php\n"
            "Sveltery Optimized: 0 of 1 files\n");
  EXPECT_EQ(read_file(dir / "sveltered/b.php"), "<?php  x ?>\n\n");
}

TEST(Options, OptionsAfterPathsStillApply) {
  TempDir dir;
  write_file(dir / "a.txt", "t");
  const RunResult r = run_sveltery(dir.path(), {"a.txt", "-l"});
  EXPECT_EQ(r.out,
            "Sveltery 1.1 Demo\nOutputing to: ./sveltered/\nCopying: a.txt\n"
            "Sveltery Optimized: 0 of 1 files\n");
}

}  // namespace
