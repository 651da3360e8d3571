#include <gtest/gtest.h>

#include <string>

#include "report/console.h"
#include "report/progress.h"
#include "report/savings.h"
#include "report/totals.h"
#include "support/test_support.h"

namespace {

std::string bar(long pct, int stars, long done) {
  return "\r " + std::to_string(pct) + "% |" + std::string(static_cast<std::size_t>(stars), '*') +
         std::string(static_cast<std::size_t>(50 - stars), ' ') + "| " + std::to_string(done);
}

struct ProgressCase {
  const char* name;
  std::int64_t total, done;
  std::string expected;
};

const ProgressCase kProgress[] = {
    {"empty_file", 0, 0, bar(0, 0, 0)},
    {"one_third", 1000, 333, bar(33, 16, 333)},
    {"truncates_99_5", 200, 199, bar(99, 49, 199)},
    {"just_below_full", 1000, 999, bar(99, 49, 999)},
    {"full", 7, 7, bar(100, 50, 7)},
    {"odd_percent_halves_down", 100, 51, bar(51, 25, 51)},
    {"done_beyond_total_clamps", 10, 20, bar(100, 50, 20)},
    {"large_sizes_do_not_overflow", 6'000'000'000, 3'000'000'000, bar(50, 25, 3'000'000'000)},
};

class Progress : public testing::TestWithParam<ProgressCase> {};

TEST_P(Progress, DrawsExactBytes) {
  const auto& c = GetParam();
  EXPECT_EQ(capture_stdout([&] { show_progress(stdout, c.total, c.done); }), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Report, Progress, testing::ValuesIn(kProgress),
                         [](const auto& p) { return std::string(p.param.name); });

struct SavingsCase {
  const char* name;
  std::int64_t in, out;
  const char* expected;
};

const SavingsCase kSavings[] = {
    {"eighth", 1000, 875, " Saved: 12.5% or 125 of 1000 bytes\n"},
    {"all", 100, 0, " Saved: 100.0% or 100 of 100 bytes\n"},
    {"empty_to_empty", 0, 0, " Saved: 100.0% or 0 of 0 bytes\n"},
    {"empty_to_something", 0, 5, " Saved: 0.0% or -5 of 0 bytes\n"},
    {"grew", 1000, 1200, " Saved: 0.0% or -200 of 1000 bytes\n"},
    {"float_rounding_shows", 2000, 1, " Saved: 99.9% or 1999 of 2000 bytes\n"},
    {"nothing", 4096, 4096, " Saved: 0.0% or 0 of 4096 bytes\n"},
    {"beyond_32_bits", 5'000'000'000, 2'500'000'000,
     " Saved: 50.0% or 2500000000 of 5000000000 bytes\n"},
};

class Savings : public testing::TestWithParam<SavingsCase> {};

TEST_P(Savings, PrintsLine) {
  const auto& c = GetParam();
  EXPECT_EQ(capture_stdout([&] { print_file_savings(stdout, c.in, c.out); }), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Report, Savings, testing::ValuesIn(kSavings),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(FinalReport, PresentFormatsInOrderThenCount) {
  Totals t;
  reset_totals(t);
  add_html_totals(t, 10000, 8000);
  add_jpeg_totals(t, 50000, 49000);
  t.files_optimized = 3;
  t.files_seen = 5;
  EXPECT_EQ(capture_stdout([&] { print_final_report(t); }),
            "Sveltery Saved: 5.0% or 3000 of 60000 bytes overall on optimizable formats\n"
            "Sveltery Saved: 20.0% or 2000 of 10000 bytes on html format files\n"
            "Sveltery Saved: 2.0% or 1000 of 50000 bytes on jpg format files\n"
            "Sveltery Optimized: 3 of 5 files\n");
}

TEST(FinalReport, PhpPairKeepsInputAndOutputApart) {
  Totals t;
  add_php_totals(t, 400, 100);
  t.files_optimized = 1;
  t.files_seen = 1;
  EXPECT_EQ(capture_stdout([&] { print_final_report(t); }),
            "Sveltery Saved: 75.0% or 300 of 400 bytes overall on optimizable formats\n"
            "Sveltery Saved: 75.0% or 300 of 400 bytes on php format files\n"
            "Sveltery Optimized: 1 of 1 files\n");
}

TEST(FinalReport, NothingOptimizedIsTheClosingLineAlone) {
  Totals t;
  t.files_seen = 4;
  EXPECT_EQ(capture_stdout([&] { print_final_report(t); }), "Sveltery Optimized: 0 of 4 files\n");
}

TEST(FinalReport, FormatThatOptimizedToNothingIsLeftOut) {
  Totals t;
  add_html_totals(t, 300, 0);
  add_jpeg_totals(t, 1000, 900);
  t.files_optimized = 2;
  t.files_seen = 2;
  EXPECT_EQ(capture_stdout([&] { print_final_report(t); }),
            "Sveltery Saved: 30.8% or 400 of 1300 bytes overall on optimizable formats\n"
            "Sveltery Saved: 10.0% or 100 of 1000 bytes on jpg format files\n"
            "Sveltery Optimized: 2 of 2 files\n");
}

TEST(FinalReport, SumsBeyond32BitsDoNotWrap) {
  Totals t;
  add_jpeg_totals(t, 3'000'000'000, 2'000'000'000);
  add_jpeg_totals(t, 3'000'000'000, 2'000'000'000);
  t.files_optimized = t.files_seen = 2;
  EXPECT_EQ(capture_stdout([&] { print_final_report(t); }),
            "Sveltery Saved: 33.3% or 2000000000 of 6000000000 bytes overall on optimizable "
            "formats\n"
            "Sveltery Saved: 33.3% or 2000000000 of 6000000000 bytes on jpg format files\n"
            "Sveltery Optimized: 2 of 2 files\n");
}

}  // namespace

struct PrecompressedCase {
  const char* name;
  unsigned asked;  // br = 1, gz = 2, zst = 4
  const char* line;
};

// Only the encodings asked for, in a fixed order whatever the list's; the count stays last.
const PrecompressedCase kPrecompressed[] = {
    {"two", 3u,
     "Sveltery Precompressed: 300 bytes as br, 400 bytes as gz for 1000 bytes in 2 files\n"},
    {"one", 4u, "Sveltery Precompressed: 4000000000 bytes as zst for 1000 bytes in 2 files\n"},
};

class PrecompressedLine : public testing::TestWithParam<PrecompressedCase> {};

TEST_P(PrecompressedLine, ComesBeforeTheCount) {
  Totals t;
  t.files_seen = 3;
  t.precompressed_files = 2;
  t.precompressed_in = 1000;
  t.sibling_bytes[0] = 300;
  t.sibling_bytes[1] = 400;
  t.sibling_bytes[2] = 4'000'000'000;
  EXPECT_EQ(capture_stdout([&] { print_final_report(t, EncodingSet{GetParam().asked}); }),
            std::string(GetParam().line) + "Sveltery Optimized: 0 of 3 files\n");
}

INSTANTIATE_TEST_SUITE_P(Report, PrecompressedLine, testing::ValuesIn(kPrecompressed),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(SiblingLine, NamesTheSiblingEscapedAndBothSizes) {
  EXPECT_EQ(capture_stdout([&] { print_sibling_written(stdout, "out/a\nb.css.br", 5000, 1234); }),
            " Precompressed: out/a\\nb.css.br (1234 of 5000 bytes)\n");
}
