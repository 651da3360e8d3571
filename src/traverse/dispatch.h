#pragma once

#include <sys/stat.h>

#include <string_view>

#include "report/totals.h"
#include "traverse/options.h"

enum class FormatKind { PHP, HTML, JPEG, Other };

// The kind of a file by the end of its name, with switched-off formats counting as Other.
FormatKind classify_extension(std::string_view path, const Options& options);

// Handles one command-line path: a regular file, or with -r a directory and everything in it.
void process_input_path(std::string path, Options& options, Totals& totals);

// Handles one regular file, whether named on the command line or met by the walk: optimizes,
// copies or ignores it by its kind. `path` is shown in messages and in the banner; `st` is its
// stat result.
void process_regular_file(const char* path, std::string_view relative_name, const struct stat& st,
                          const Options& options, Totals& totals);
