// Printing the savings line and the final report.
#include "report/savings.h"

#include <cstdio>

float saved_percent(std::int64_t input_size, std::int64_t output_size) {
  const float ratio = static_cast<float>(static_cast<double>(output_size) * 100.0 /
                                         static_cast<double>(input_size));
  // The comparisons are written so that NaN (0 / 0) falls to 0 and infinity to 100.
  const float positive = ratio > 0.0f ? ratio : 0.0f;
  const float clamped = positive < 100.0f ? positive : 100.0f;
  return 100.0f - clamped;
}

void print_file_savings(std::FILE* to, std::int64_t input_size, std::int64_t output_size) {
  std::fprintf(to, " Saved: %.1f%% or %ld of %ld bytes\n",
               static_cast<double>(saved_percent(input_size, output_size)),
               static_cast<long>(input_size - output_size), static_cast<long>(input_size));
}

namespace {

void print_report_line(const char* what, std::int64_t in, std::int64_t out) {
  if (!(out > 0 && in > 0)) return;
  std::printf("Sveltery Saved: %.1f%% or %ld of %ld bytes %s\n",
              static_cast<double>(saved_percent(in, out)), static_cast<long>(in - out),
              static_cast<long>(in), what);
}

}  // namespace

namespace {

// "Sveltery Precompressed: 1234 bytes as br, 1400 bytes as gz for 5000 bytes in 12 files"
void print_precompressed_line(const Totals& totals, EncodingSet asked) {
  std::printf("Sveltery Precompressed:");
  const char* separator = " ";
  for (const Encoding e : kEncodings) {
    if (!asked.has(e)) continue;
    const std::string_view name = encoding_name(e);
    std::printf("%s%ld bytes as %.*s", separator,
                static_cast<long>(totals.sibling_bytes[static_cast<unsigned>(e)]),
                static_cast<int>(name.size()), name.data());
    separator = ", ";
  }
  std::printf(" for %ld bytes in %ld files\n", static_cast<long>(totals.precompressed_in),
              static_cast<long>(totals.precompressed_files));
}

}  // namespace

void print_final_report(const Totals& totals, EncodingSet precompressed, bool update) {
  // Style sheets and scripts are optimized under --safe only; without it their sums are zero and
  // the report is the one it has always been.
  print_report_line(
      "overall on optimizable formats",
      totals.html_in + totals.jpeg_in + totals.php_in + totals.css_in + totals.js_in,
      totals.html_out + totals.jpeg_out + totals.php_out + totals.css_out + totals.js_out);
  print_report_line("on html format files", totals.html_in, totals.html_out);
  print_report_line("on jpg format files", totals.jpeg_in, totals.jpeg_out);
  print_report_line("on php format files", totals.php_in, totals.php_out);
  print_report_line("on css format files", totals.css_in, totals.css_out);
  print_report_line("on js format files", totals.js_in, totals.js_out);
  if (!precompressed.empty()) print_precompressed_line(totals, precompressed);
  std::printf("Sveltery Optimized: %ld of %ld files\n", static_cast<long>(totals.files_optimized),
              static_cast<long>(totals.files_seen));
  if (update)
    std::printf("Sveltery Up to date: %ld files\n", static_cast<long>(totals.files_up_to_date));
}
