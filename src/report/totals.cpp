#include "report/totals.h"

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
