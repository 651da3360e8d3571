#include "cli/parse_options.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cli/filter.h"

namespace {

struct Parsed {
  Screen screen;
  Options options;
  std::string err;  // what parse_options said on standard error
};

Parsed parse(std::vector<std::string> args) {
  args.insert(args.begin(), "sveltery");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  optind = 0;  // glibc's full reset, grouped-option state included
  Parsed parsed{Screen::None, {}, {}};
  testing::internal::CaptureStderr();
  parsed.screen = parse_options(static_cast<int>(args.size()), argv.data(), parsed.options);
  parsed.err = testing::internal::GetCapturedStderr();
  return parsed;
}

struct BannerCase {
  const char* name;
  std::vector<std::string> args;
  bool no_banner;
};

// The banner follows the profile unless asked for; the last of --banner and --no-banner counts.
const BannerCase kBanners[] = {
    {"default_profile", {}, false},
    {"safe_profile", {"--safe"}, true},
    {"safe_then_banner", {"--safe", "--banner"}, false},
    {"banner_then_safe", {"--banner", "--safe"}, false},
    {"no_banner", {"--no-banner"}, true},
    {"banner_wins_last", {"--no-banner", "--banner"}, false},
    {"no_banner_wins_last", {"--safe", "--banner", "--no-banner"}, true},
    {"prefix_of_banner", {"--safe", "--ban"}, false},
};

class BannerChoice : public testing::TestWithParam<BannerCase> {};

TEST_P(BannerChoice, SettledOnceParsed) {
  const Parsed p = parse(GetParam().args);
  EXPECT_EQ(p.screen, Screen::None);
  EXPECT_EQ(p.options.no_banner, GetParam().no_banner);
  EXPECT_EQ(p.err, "");
}

INSTANTIATE_TEST_SUITE_P(ParseOptions, BannerChoice, testing::ValuesIn(kBanners),
                         [](const auto& p) { return std::string(p.param.name); });

struct ValueCase {
  const char* name;
  std::vector<std::string> args;
  Screen screen;
  std::string err;
};

const ValueCase kValues[] = {
    {"jobs_zero",
     {"--jobs", "0"},
     Screen::ShortUsage,
     "sveltery: --jobs: '0' is not a number of workers from 1 to 1024\n"},
    {"jobs_too_many",
     {"--jobs=1025"},
     Screen::ShortUsage,
     "sveltery: --jobs: '1025' is not a number of workers from 1 to 1024\n"},
    {"jobs_empty",
     {"--jobs="},
     Screen::ShortUsage,
     "sveltery: --jobs: '' is not a number of workers from 1 to 1024\n"},
    {"jobs_most", {"--jobs=1024"}, Screen::None, ""},
    {"type_unknown",
     {"--type=gif"},
     Screen::ShortUsage,
     "sveltery: --type: 'gif' is not one of html, php, jpeg, jpg, css, js\n"},
    {"type_case_matters",
     {"--type=HTML"},
     Screen::ShortUsage,
     "sveltery: --type: 'HTML' is not one of html, php, jpeg, jpg, css, js\n"},
    {"type_known", {"--type", "php"}, Screen::None, ""},
    {"help_long", {"--help"}, Screen::Help, ""},
    {"help_short", {"-H"}, Screen::ShortUsage, ""},
    {"error_stops_before_a_screen",
     {"--jobs=x", "-V"},
     Screen::ShortUsage,
     "sveltery: --jobs: 'x' is not a number of workers from 1 to 1024\n"},
};

class OptionValue : public testing::TestWithParam<ValueCase> {};

TEST_P(OptionValue, NamedWithItsReason) {
  const Parsed p = parse(GetParam().args);
  EXPECT_EQ(p.screen, GetParam().screen);
  EXPECT_EQ(p.err, GetParam().err);
}

INSTANTIATE_TEST_SUITE_P(ParseOptions, OptionValue, testing::ValuesIn(kValues),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
