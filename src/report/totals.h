// The run's statistics and how one file's share is added.
#pragma once

#include <cstdint>

// The run's statistics. Counters and sizes are 64-bit so that nothing wraps on large files or
// long runs. The PHP pair is stored output first, as the report has always kept it.
struct Totals {
  std::int64_t files_seen = 0;       // regular files met by the traversal
  std::int64_t files_optimized = 0;  // files that went through an optimizer
  std::int64_t html_in = 0;
  std::int64_t html_out = 0;
  std::int64_t jpeg_in = 0;
  std::int64_t jpeg_out = 0;
  std::int64_t php_out = 0;
  std::int64_t php_in = 0;
  // Inputs that were missing and files that printed "Skipped:" or an "Error:" line: any makes the
  // run's exit status say so.
  std::int64_t failures = 0;
  std::int64_t precompressed_files = 0;  // outputs that got at least one compressed sibling
  std::int64_t precompressed_in = 0;     // their bytes
  std::int64_t sibling_bytes[3] = {};    // written per encoding, in kEncodings' order
  std::int64_t css_in = 0;
  std::int64_t css_out = 0;
  std::int64_t js_in = 0;
  std::int64_t js_out = 0;
  std::int64_t files_up_to_date = 0;     // --update: outputs left as they were
};

void reset_totals(Totals& totals);
void add_html_totals(Totals& totals, std::int64_t input_size, std::int64_t output_size);
void add_jpeg_totals(Totals& totals, std::int64_t input_size, std::int64_t output_size);
void add_php_totals(Totals& totals, std::int64_t input_size, std::int64_t output_size);
void add_css_totals(Totals& totals, std::int64_t input_size, std::int64_t output_size);
void add_js_totals(Totals& totals, std::int64_t input_size, std::int64_t output_size);

// Adds every counter of `delta` (one file's share) to `totals`.
void add_totals(Totals& totals, const Totals& delta);
