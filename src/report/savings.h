// The per-file savings line and the final report.
#pragma once

#include <cstdint>
#include <cstdio>

#include "optimize/precompress.h"
#include "report/totals.h"

// The saved share of `input_size`, computed in float on purpose: the printed digit depends on it
// (2000 bytes down to 1 prints 99.9, where double precision would print 100.0).
float saved_percent(std::int64_t input_size, std::int64_t output_size);

// " Saved: ..." line of one optimized file.
void print_file_savings(std::FILE* to, std::int64_t input_size, std::int64_t output_size);

// The report at the end of a run: one line per present format and the closing count. With
// `precompressed` not empty, the line of the compressed siblings comes before the count.
// `update`: an --update run, which adds "Sveltery Up to date: N files" (outputs left as they were).
void print_final_report(const Totals& totals, EncodingSet precompressed = {}, bool update = false);
