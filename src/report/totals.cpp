// Adding to the run's totals.
#include "report/totals.h"

#include <iterator>

void reset_totals(Totals& totals) { totals = Totals{}; }

void add_html_totals(Totals& totals, std::int64_t input_size, std::int64_t output_size) {
  totals.html_in += input_size;
  totals.html_out += output_size;
}

void add_jpeg_totals(Totals& totals, std::int64_t input_size, std::int64_t output_size) {
  totals.jpeg_in += input_size;
  totals.jpeg_out += output_size;
}

void add_php_totals(Totals& totals, std::int64_t input_size, std::int64_t output_size) {
  totals.php_in += input_size;
  totals.php_out += output_size;
}

void add_css_totals(Totals& totals, std::int64_t input_size, std::int64_t output_size) {
  totals.css_in += input_size;
  totals.css_out += output_size;
}

void add_js_totals(Totals& totals, std::int64_t input_size, std::int64_t output_size) {
  totals.js_in += input_size;
  totals.js_out += output_size;
}

void add_totals(Totals& totals, const Totals& delta) {
  totals.files_seen += delta.files_seen;
  totals.files_optimized += delta.files_optimized;
  totals.failures += delta.failures;
  add_html_totals(totals, delta.html_in, delta.html_out);
  add_jpeg_totals(totals, delta.jpeg_in, delta.jpeg_out);
  add_php_totals(totals, delta.php_in, delta.php_out);
  add_css_totals(totals, delta.css_in, delta.css_out);
  add_js_totals(totals, delta.js_in, delta.js_out);
  totals.files_up_to_date += delta.files_up_to_date;
  totals.precompressed_files += delta.precompressed_files;
  totals.precompressed_in += delta.precompressed_in;
  for (std::size_t k = 0; k < std::size(totals.sibling_bytes); ++k)
    totals.sibling_bytes[k] += delta.sibling_bytes[k];
}
