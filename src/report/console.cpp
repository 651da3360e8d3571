#include "report/console.h"

#include <cerrno>

void print_demo_line() { std::printf("Sveltery %s Demo\n", "1.1"); }
void print_outputting_to(const char* output_dir) { std::printf("Outputing to: %s/\n", output_dir); }
void print_output_dir_denied(const char* output_dir) {
  std::printf("Permission denied to: %s\n", output_dir);
}
void print_output_dir_create_failed(const char* output_dir) {
  std::printf("Permission denied creating: %s\n", output_dir);
}

void print_permission_denied(std::FILE* to, const char* path) {
  std::fprintf(to, "Permission denied to: %s.\n", path);
}
void print_missing(std::FILE* to, const char* path) {
  std::fprintf(to, "File: %s doesn't exist.\n", path);
}
void print_stat_error(std::FILE* to, const char* path) {
  std::fprintf(to, "Error: getting file status: %s\n", path);
}
void print_open_dir_error(std::FILE* to, const char* path) {
  std::fprintf(to, "Error: opening directory: %s\n", path);
}
void print_outside_output_dir(std::FILE* to, const char* path) {
  std::fprintf(to, "Error: output outside the output directory: %s\n", path);
}

void print_optimizing(std::FILE* to, const char* path) {
  std::fprintf(to, "Optimizing: %s\n", path);
}
void print_copying(std::FILE* to, const char* path) { std::fprintf(to, "Copying: %s\n", path); }
void print_skipped(std::FILE* to, const char* path) { std::fprintf(to, "Skipped: %s\n", path); }
void print_newline(std::FILE* to) { std::fputs("\n", to); }

void print_open_input_error(std::FILE* to, const char* path, int err) {
  std::fprintf(to, "Error: opening input file: %s\n", path);
  if (err == EACCES) std::fprintf(to, " Permission denied to: %s\n", path);
}
void print_file_size_error(std::FILE* to, const char* path) {
  std::fprintf(to, "Error: getting file size: %s\n", path);
}
void print_memory_error(std::FILE* to) { std::fputs("Error: memory error\n", to); }
void print_read_error(std::FILE* to, const char* path) {
  std::fprintf(to, "Error: reading input file: %s\n", path);
}
void print_open_output_error(std::FILE* to, const char* path, int err) {
  std::fprintf(to, "Error: opening output file: %s\n", path);
  if (err == EACCES) std::fprintf(to, " Permission denied to: %s\n", path);
}
void print_write_error(std::FILE* to, const char* path) {
  std::fprintf(to, "Error: writing to output file: %s\n", path);
}
void print_same_file_error(std::FILE* to, const char* path) {
  std::fprintf(to, "Error: output file is the input file: %s\n", path);
}

void print_markup_memory_error(std::FILE* to) { std::fputs("Memeory Error\n", to); }
