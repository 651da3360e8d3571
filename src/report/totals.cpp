// Adding to the run's totals.
#include "report/totals.h"

#include <iterator>

namespace {

void add_sizes(std::int64_t& in, std::int64_t& out, std::int64_t input_size,
               std::int64_t output_size) {
  in += input_size;
  out += output_size;
}

// Every counter of the record, so that adding a share names each once.
constexpr std::int64_t Totals::*kCounters[] = {
    &Totals::files_seen,       &Totals::files_optimized,
    &Totals::html_in,          &Totals::html_out,
    &Totals::jpeg_in,          &Totals::jpeg_out,
    &Totals::php_out,          &Totals::php_in,
    &Totals::failures,         &Totals::precompressed_files,
    &Totals::precompressed_in, &Totals::css_in,
    &Totals::css_out,          &Totals::js_in,
    &Totals::js_out,           &Totals::files_up_to_date,
};

}  // namespace

void reset_totals(Totals& totals) { totals = Totals{}; }

void add_html_totals(Totals& totals, std::int64_t input_size, std::int64_t output_size) {
  add_sizes(totals.html_in, totals.html_out, input_size, output_size);
}

void add_jpeg_totals(Totals& totals, std::int64_t input_size, std::int64_t output_size) {
  add_sizes(totals.jpeg_in, totals.jpeg_out, input_size, output_size);
}

void add_php_totals(Totals& totals, std::int64_t input_size, std::int64_t output_size) {
  add_sizes(totals.php_in, totals.php_out, input_size, output_size);
}

void add_css_totals(Totals& totals, std::int64_t input_size, std::int64_t output_size) {
  add_sizes(totals.css_in, totals.css_out, input_size, output_size);
}

void add_js_totals(Totals& totals, std::int64_t input_size, std::int64_t output_size) {
  add_sizes(totals.js_in, totals.js_out, input_size, output_size);
}

void add_totals(Totals& totals, const Totals& delta) {
  for (const auto counter : kCounters) totals.*counter += delta.*counter;
  for (std::size_t k = 0; k < std::size(totals.sibling_bytes); ++k)
    totals.sibling_bytes[k] += delta.sibling_bytes[k];
}
