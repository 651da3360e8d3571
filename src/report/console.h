#pragma once

// Every per-file and run message the program prints, one function per line. The texts are part
// of the program's interface (scripts parse them), spelling included: change none of them.

// Run control
void print_demo_line();                            // "Sveltery 1.1 Demo"
void print_outputting_to(const char* output_dir);  // "Outputing to: dir/"
void print_output_dir_denied(const char* output_dir);
void print_output_dir_create_failed(const char* output_dir);

// Paths and walk
void print_permission_denied(const char* path);  // "Permission denied to: path."
void print_missing(const char* path);            // "File: path doesn't exist."
void print_stat_error(const char* path);
void print_open_dir_error(const char* path);
void print_outside_output_dir(const char* path);

// Per file
void print_optimizing(const char* path);
void print_copying(const char* path);
void print_skipped(const char* path);
void print_newline();

// Whole-file I/O; `err` is errno saved right after the failing call.
void print_open_input_error(const char* path, int err);
void print_file_size_error(const char* path);
void print_memory_error();
void print_read_error(const char* path);
void print_open_output_error(const char* path, int err);
void print_write_error(const char* path);
void print_same_file_error(const char* path);

// The markup optimizer's out-of-memory line (its spelling is historical and kept).
void print_markup_memory_error();
