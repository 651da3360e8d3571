#include "report/console.h"

#include <cerrno>
#include <cstdio>

void print_demo_line() { std::printf("Sveltery %s Demo\n", "1.1"); }
void print_outputting_to(const char* output_dir) { std::printf("Outputing to: %s/\n", output_dir); }
void print_output_dir_denied(const char* output_dir) {
  std::printf("Permission denied to: %s\n", output_dir);
}
void print_output_dir_create_failed(const char* output_dir) {
  std::printf("Permission denied creating: %s\n", output_dir);
}

void print_permission_denied(const char* path) { std::printf("Permission denied to: %s.\n", path); }
void print_missing(const char* path) { std::printf("File: %s doesn't exist.\n", path); }
void print_stat_error(const char* path) { std::printf("Error: getting file status: %s\n", path); }
void print_open_dir_error(const char* path) { std::printf("Error: opening directory: %s\n", path); }
void print_outside_output_dir(const char* path) {
  std::printf("Error: output outside the output directory: %s\n", path);
}

void print_optimizing(const char* path) { std::printf("Optimizing: %s\n", path); }
void print_copying(const char* path) { std::printf("Copying: %s\n", path); }
void print_skipped(const char* path) { std::printf("Skipped: %s\n", path); }
void print_newline() { std::printf("\n"); }

void print_open_input_error(const char* path, int err) {
  std::printf("Error: opening input file: %s\n", path);
  if (err == EACCES) std::printf(" Permission denied to: %s\n", path);
}
void print_file_size_error(const char* path) {
  std::printf("Error: getting file size: %s\n", path);
}
void print_memory_error() { std::printf("Error: memory error\n"); }
void print_read_error(const char* path) { std::printf("Error: reading input file: %s\n", path); }
void print_open_output_error(const char* path, int err) {
  std::printf("Error: opening output file: %s\n", path);
  if (err == EACCES) std::printf(" Permission denied to: %s\n", path);
}
void print_write_error(const char* path) {
  std::printf("Error: writing to output file: %s\n", path);
}
void print_same_file_error(const char* path) {
  std::printf("Error: output file is the input file: %s\n", path);
}

void print_markup_memory_error() { std::printf("Memeory Error\n"); }
