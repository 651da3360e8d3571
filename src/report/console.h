// Every line the program prints, one function per line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

// `text` with its control bytes (below 0x20, and 0x7F) written as \n, \t, \e or \xHH, so that a
// name can neither end a line, forge one nor drive the terminal. Every path is printed so.
std::string escape_controls(std::string_view text);

// Every per-file and run message the program prints, one function per line. The texts are part
// of the program's interface (scripts parse them), spelling included: change none of them.
// Standard output carries the run's lines; the few lines on standard error are for the user.
// The per-file lines go to `to`: standard output, or the buffer that holds one file's lines until
// they are printed in walk order.

// Run control (standard output)
void print_demo_line();                            // "Sveltery 1.1 Demo"
void print_outputting_to(const char* output_dir);  // "Outputing to: dir/"
void print_output_dir_denied(const char* output_dir);
void print_output_dir_create_failed(const char* output_dir);

// Paths and walk
void print_permission_denied(std::FILE* to, const char* path);  // "Permission denied to: path."
void print_missing(std::FILE* to, const char* path);            // "File: path doesn't exist."
void print_stat_error(std::FILE* to, const char* path);
void print_open_dir_error(std::FILE* to, const char* path);
void print_outside_output_dir(std::FILE* to, const char* path);
// "Error: output already taken by <earlier>: <path>": two inputs would be mirrored at one place.
void print_output_taken(std::FILE* to, const char* earlier, const char* path);

// Per file
void print_optimizing(std::FILE* to, const char* path);
void print_copying(std::FILE* to, const char* path);
void print_skipped(std::FILE* to, const char* path);
void print_newline(std::FILE* to);
// " Precompressed: out/a.html.br (1234 of 5000 bytes)": a compressed sibling written.
void print_sibling_written(std::FILE* to, const char* path, std::int64_t output_size,
                           std::int64_t sibling_size);

// --update and --delete
void print_deleted(std::FILE* to, const char* path);  // "Deleted: path": an output whose source went
void print_delete_error(std::FILE* to, const char* path, int err);
// "Error: name kept for the --update record: out/.sveltery-manifest": an input mapped onto it.
void print_name_kept_for_record(std::FILE* to, const char* path);
// Standard error: --delete took nothing, since a run with errors may not have met every source.
void print_delete_skipped(std::int64_t failures);
// Standard error: the record of the last run could not be used or kept.
void print_manifest_ignored(const char* path);  // damaged or unreadable: every file is done again
void print_manifest_write_error(const char* path, int err);
void print_delete_needs_update();  // --delete without --update and -r

// Whole-file I/O; `err` is errno saved right after the failing call.
void print_open_input_error(std::FILE* to, const char* path, int err);
void print_file_size_error(std::FILE* to, const char* path);
void print_memory_error(std::FILE* to);
void print_read_error(std::FILE* to, const char* path);
void print_open_output_error(std::FILE* to, const char* path, int err);
void print_write_error(std::FILE* to, const char* path);
void print_same_file_error(std::FILE* to, const char* path);

// Standard error: what a user should know that the contract of standard output has no line for.
void print_directory_not_walked(const char* path);  // a directory given without -r
// A long option's value it cannot take: "sveltery: --jobs: '0' is not <expected>".
void print_bad_option_value(const char* option, const char* value, const char* expected);
void print_filter_needs_type(const char* type_names);  // "-" without --type
void print_filter_alone();                             // "-" beside other paths
void print_filter_read_error();
void print_filter_write_error();
void print_stopped(int signal_number);  // the run ended early on a signal

// The markup optimizer's out-of-memory line (its spelling is historical and kept).
void print_markup_memory_error(std::FILE* to);
