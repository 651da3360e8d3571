// One file's way from its input to its output: classified by name, read, optimized or copied,
// written and counted.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "optimize/bytes.h"
#include "report/totals.h"
#include "traverse/dir_fd.h"
#include "traverse/options.h"

enum class FormatKind { PHP, HTML, JPEG, CSS, JS, Other };

// The kind of a file by the end of its name, with switched-off formats counting as Other.
FormatKind classify_extension(std::string_view path, const Options& options);

// False for a file that is only counted: a switched-off format without copying.
bool has_work(FormatKind kind, const Options& options);

struct FileWork;

// Told of every output written whole (an --update run keeps a record of them). Called on the
// thread that ran the file: an implementation guards its own state.
struct OutputRecorder {
  // `share`: what the file added to the totals.
  virtual void written(const FileWork& work, const Totals& share) = 0;

 protected:
  ~OutputRecorder() = default;
};

// One regular file's work, a value a worker can take: what to read, where to write, how.
struct FileWork {
  std::string path;         // shown in messages and in the banner
  std::string output_path;  // shown in messages
  struct stat st {};        // the input's stat result
  FormatKind kind = FormatKind::Other;
  bool in_new_dir = false;  // this run made the output's directory
  DirRef input_dir;         // where the input is read: `input_name` in it; null: `path` itself
  std::string input_name;
  DirRef output_dir;  // where the output goes: `output_name` in it; null: unreachable
  std::string output_name;
  int output_dir_error = 0;  // why the output's directory is unreachable
  OutputRecorder* recorder = nullptr;  // told once the output is written; null: nobody asks
  std::string record_name;             // the output's name relative to the output directory
};

// The bytes a file holds in memory while it runs (copies go file to file).
std::int64_t bytes_held(const FileWork& work);

// The bytes its compressed siblings make it hold on top of those, while they are written.
std::int64_t sibling_bytes_held(const FileWork& work, const Options& options);

// What a thread that runs files keeps from one to the next: its buffers (memory never used before
// costs a page fault per page, and on a virtual machine far more than that; reused memory costs
// nothing), and whether the last file's output failed for lack of space.
struct Scratch {
  Bytes input;
  Bytes output;
  Bytes encoded;              // a compressed sibling
  bool lacked_space = false;  // the disk or the quota was full
};

// Reserves room (address space only) for the files most sites hold, so that the buffers never move
// and no page of them is faulted in twice.
void reserve_scratch(Scratch& scratch);

// Reads the file, optimizes or copies it by its kind and writes its output. Every line the file
// prints goes to `to`, in the order a user reads them; returns the file's share of the totals
// (files_seen is the caller's). Nothing else is touched but `scratch`, so files can run side by
// side, each with its own.
Totals run_file(const FileWork& work, const Options& options, std::FILE* to, Scratch& scratch);
