#pragma once

#include <sys/stat.h>

#include <string>
#include <string_view>

#include "report/totals.h"
#include "traverse/options.h"

// A directory named on the command line (with -r): mirrors it under the output directory and
// walks it. `st` is its stat result, `relative_name` its name under the input prefix. The output
// directory itself is neither mirrored nor walked.
void walk_input_directory(const std::string& path, std::string_view relative_name,
                          const struct stat& st, const Options& options, Totals& totals);

// Walks the directory at `path` (no trailing '/') depth first in directory-entry order, handing
// every regular file to process_regular_file and mirroring and walking every subdirectory.
// Directories met again on the way down (link loops) and the output directory are skipped.
void process_directory(const std::string& path, const struct stat& st, const Options& options,
                       Totals& totals);
