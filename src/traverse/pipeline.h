#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "report/totals.h"
#include "traverse/options.h"

enum class FormatKind { PHP, HTML, JPEG, Other };

// The kind of a file by the end of its name, with switched-off formats counting as Other.
FormatKind classify_extension(std::string_view path, const Options& options);

// False for a file that is only counted: a switched-off format without copying.
bool has_work(FormatKind kind, const Options& options);

// One regular file's work, a value a worker can take: what to read, where to write, how.
struct FileWork {
  std::string path;         // read, and shown in messages and in the banner
  std::string output_path;  // written
  struct stat st {};        // the input's stat result
  FormatKind kind = FormatKind::Other;
  bool in_new_dir = false;  // this run made the output's directory
};

// Reads the file, optimizes or copies it by its kind and writes its output. Every line the file
// prints goes to `to`, in the order a user reads them; returns the file's share of the totals
// (files_seen is the caller's). Nothing else is touched, so files can run side by side.
Totals run_file(const FileWork& work, const Options& options, std::FILE* to);
