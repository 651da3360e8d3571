// What a run tells a script: its exit status, and the lines it writes on standard error.
#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace {

const std::string kDemo = "Sveltery 1.1 Demo\n";

struct StatusCase {
  const char* name;
  std::vector<std::string> args;  // run where ok.html, site/a.html and notes.txt are
  int status;
  std::optional<std::string> out;  // standard output; none for a screen (pinned elsewhere)
  std::string err;                 // standard error
};

const StatusCase kStatuses[] = {
    {"clean_run", {"ok.html", "notes.txt"}, 1, kDemo, ""},
    {"clean_walk", {"-r", "site"}, 1, kDemo, ""},
    {"missing_input", {"ok.html", "nosuchdir"}, 2, kDemo + "File: nosuchdir doesn't exist.\n", ""},
    {"missing_input_walked",
     {"-r", "nosuchdir"},
     2,
     kDemo + "File: nosuchdir doesn't exist.\n",
     ""},
    {"file_failed",
     {"-o", "notes.txt", "ok.html"},
     2,
     kDemo + "Error: opening output file: notes.txt/ok.html\nSkipped: ok.html\n",
     ""},
    {"refused_outside",
     {"-r", ".."},
     2,
     kDemo + "Error: output outside the output directory: ..\nSkipped: ..\n",
     ""},
    {"directory_without_r",
     {"site"},
     1,
     kDemo,
     "sveltery: site: a directory, skipped (-r walks directories)\n"},
    {"unusable_output_dir",
     {"-o", "no/such", "ok.html"},
     255,
     "Permission denied creating: no/such\n",
     ""},
    {"screen", {"-V"}, 1, std::nullopt, ""},
    {"jobs_zero",
     {"--jobs", "0", "ok.html"},
     1,
     std::nullopt,
     "sveltery: --jobs: '0' is not a number of workers from 1 to 1024\n"},
    {"jobs_letters",
     {"--jobs=abc", "ok.html"},
     1,
     std::nullopt,
     "sveltery: --jobs: 'abc' is not a number of workers from 1 to 1024\n"},
    {"unknown_type",
     {"--type=gif", "-"},
     1,
     std::nullopt,
     "sveltery: --type: 'gif' is not one of html, php, jpeg, jpg, css, js\n"},
    {"filter", {"--type=html", "--no-banner", "-"}, 0, "", ""},
    {"filter_without_type",
     {"-"},
     2,
     "",
     "sveltery: -: standard input needs --type=html|php|jpeg|jpg|css|js\n"},
    {"filter_beside_paths",
     {"--type=html", "ok.html", "-"},
     2,
     "",
     "sveltery: -: standard input is read alone, without other paths\n"},
};

class Status : public testing::TestWithParam<StatusCase> {};

TEST_P(Status, SaysHowTheRunWent) {
  const StatusCase& c = GetParam();
  TempDir dir;
  write_file(dir / "ok.html", "<p>ok");
  write_file(dir / "notes.txt", "notes");
  write_file(dir / "site/a.html", "<p>a");
  const IoResult r = run_sveltery_io(dir.path(), c.args);
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(r.err, c.err);
  if (c.out) {
    EXPECT_EQ(r.out, *c.out);
  }
}

INSTANTIATE_TEST_SUITE_P(Cli, Status, testing::ValuesIn(kStatuses),
                         [](const auto& p) { return std::string(p.param.name); });

// An option error shows the short usage screen on standard output after naming the error.
TEST(OptionError, UsageScreenAfterTheReason) {
  TempDir dir;
  const IoResult bad = run_sveltery_io(dir.path(), {"--jobs", "0", "x"});
  const IoResult usage = run_sveltery_io(dir.path(), {"-H"});
  EXPECT_EQ(bad.out, usage.out);
  EXPECT_FALSE(exists(dir / "sveltered"));
}

struct BannerCase {
  const char* name;
  std::vector<std::string> options;
  bool banner;
};

// --safe is the deploy profile: no banner unless --banner asks for it; the last of --banner and
// --no-banner counts.
const BannerCase kBanners[] = {
    {"default", {}, true},
    {"default_no_banner", {"--no-banner"}, false},
    {"safe", {"--safe"}, false},
    {"safe_banner", {"--safe", "--banner"}, true},
    {"banner_before_safe", {"--banner", "--safe"}, true},
    {"safe_banner_no_banner", {"--safe", "--banner", "--no-banner"}, false},
    {"no_banner_then_banner", {"--no-banner", "--banner"}, true},
};

class BannerOnPages : public testing::TestWithParam<BannerCase> {};

TEST_P(BannerOnPages, OnlyWhereAsked) {
  TempDir dir;
  write_file(dir / "site/a.html", "<!DOCTYPE html><p>a</p>");
  std::vector<std::string> args = GetParam().options;
  args.insert(args.end(), {"-r", "site"});
  const RunResult r = run_sveltery(dir.path(), args);
  EXPECT_EQ(r.status, 1);
  const std::string page = read_file(dir / "sveltered/site/a.html");
  EXPECT_EQ(page.find("<!-- File Name: site/a.html") != std::string::npos, GetParam().banner)
      << page;
  EXPECT_EQ(page.rfind("<!-- ####", 0) == 0, GetParam().banner) << page;
}

INSTANTIATE_TEST_SUITE_P(Cli, BannerOnPages, testing::ValuesIn(kBanners),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
