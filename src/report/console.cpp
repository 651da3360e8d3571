// The program's printed lines, one function each; every path in them is shown escaped.
#include "report/console.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

namespace {

// A path as a printed line carries it: unchanged unless it holds a control byte.
class Shown {
 public:
  explicit Shown(const char* path) : path_(path) {
    for (const char* p = path; *p != '\0'; ++p)
      if (is_control(static_cast<unsigned char>(*p))) {
        escaped_ = escape_controls(path);
        path_ = escaped_.c_str();
        break;
      }
  }
  const char* c_str() const { return path_; }

 private:
  static bool is_control(unsigned char b) { return b < 0x20 || b == 0x7F; }
  const char* path_;
  std::string escaped_;
};

}  // namespace

std::string escape_controls(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b != 0x7F) {
      out += c;
    } else if (b == '\n') {
      out += "\\n";
    } else if (b == '\t') {
      out += "\\t";
    } else if (b == 0x1B) {
      out += "\\e";
    } else {
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

void print_demo_line() { std::printf("Sveltery %s Demo\n", "1.1"); }
void print_outputting_to(const char* output_dir) {
  std::printf("Outputing to: %s/\n", Shown(output_dir).c_str());
}
void print_output_dir_denied(const char* output_dir) {
  std::printf("Permission denied to: %s\n", Shown(output_dir).c_str());
}
void print_output_dir_create_failed(const char* output_dir) {
  std::printf("Permission denied creating: %s\n", Shown(output_dir).c_str());
}

void print_permission_denied(std::FILE* to, const char* path) {
  std::fprintf(to, "Permission denied to: %s.\n", Shown(path).c_str());
}
void print_missing(std::FILE* to, const char* path) {
  std::fprintf(to, "File: %s doesn't exist.\n", Shown(path).c_str());
}
void print_stat_error(std::FILE* to, const char* path) {
  std::fprintf(to, "Error: getting file status: %s\n", Shown(path).c_str());
}
void print_open_dir_error(std::FILE* to, const char* path) {
  std::fprintf(to, "Error: opening directory: %s\n", Shown(path).c_str());
}
void print_outside_output_dir(std::FILE* to, const char* path) {
  std::fprintf(to, "Error: output outside the output directory: %s\n", Shown(path).c_str());
}
void print_output_taken(std::FILE* to, const char* earlier, const char* path) {
  std::fprintf(to, "Error: output already taken by %s: %s\n", Shown(earlier).c_str(),
               Shown(path).c_str());
}

void print_optimizing(std::FILE* to, const char* path) {
  std::fprintf(to, "Optimizing: %s\n", Shown(path).c_str());
}
void print_copying(std::FILE* to, const char* path) {
  std::fprintf(to, "Copying: %s\n", Shown(path).c_str());
}
void print_skipped(std::FILE* to, const char* path) {
  std::fprintf(to, "Skipped: %s\n", Shown(path).c_str());
}
void print_newline(std::FILE* to) { std::fputs("\n", to); }
void print_sibling_written(std::FILE* to, const char* path, std::int64_t output_size,
                           std::int64_t sibling_size) {
  std::fprintf(to, " Precompressed: %s (%ld of %ld bytes)\n", Shown(path).c_str(),
               static_cast<long>(sibling_size), static_cast<long>(output_size));
}

void print_open_input_error(std::FILE* to, const char* path, int err) {
  std::fprintf(to, "Error: opening input file: %s\n", Shown(path).c_str());
  if (err == EACCES) std::fprintf(to, " Permission denied to: %s\n", Shown(path).c_str());
}
void print_file_size_error(std::FILE* to, const char* path) {
  std::fprintf(to, "Error: getting file size: %s\n", Shown(path).c_str());
}
void print_memory_error(std::FILE* to) { std::fputs("Error: memory error\n", to); }
void print_read_error(std::FILE* to, const char* path) {
  std::fprintf(to, "Error: reading input file: %s\n", Shown(path).c_str());
}
void print_open_output_error(std::FILE* to, const char* path, int err) {
  std::fprintf(to, "Error: opening output file: %s\n", Shown(path).c_str());
  if (err == EACCES) std::fprintf(to, " Permission denied to: %s\n", Shown(path).c_str());
}
void print_write_error(std::FILE* to, const char* path) {
  std::fprintf(to, "Error: writing to output file: %s\n", Shown(path).c_str());
}
void print_same_file_error(std::FILE* to, const char* path) {
  std::fprintf(to, "Error: output file is the input file: %s\n", Shown(path).c_str());
}

void print_directory_not_walked(const char* path) {
  std::fprintf(stderr, "sveltery: %s: a directory, skipped (-r walks directories)\n",
               Shown(path).c_str());
}
void print_bad_option_value(const char* option, const char* value, const char* expected) {
  std::fprintf(stderr, "sveltery: %s: '%s' is not %s\n", option, Shown(value).c_str(), expected);
}
void print_filter_needs_type(const char* type_names) {
  std::fprintf(stderr, "sveltery: -: standard input needs --type=%s\n", type_names);
}
void print_filter_alone() {
  std::fputs("sveltery: -: standard input is read alone, without other paths\n", stderr);
}
void print_filter_read_error() { std::fputs("Error: reading standard input\n", stderr); }
void print_filter_write_error() { std::fputs("Error: writing to standard output\n", stderr); }
void print_deleted(std::FILE* to, const char* path) {
  std::fprintf(to, "Deleted: %s\n", Shown(path).c_str());
}
void print_delete_error(std::FILE* to, const char* path, int err) {
  std::fprintf(to, "Error: deleting: %s (%s)\n", Shown(path).c_str(), std::strerror(err));
}
void print_name_kept_for_record(std::FILE* to, const char* path) {
  std::fprintf(to, "Error: name kept for the --update record: %s\n", Shown(path).c_str());
}
void print_delete_skipped(std::int64_t failures) {
  std::fprintf(stderr, "sveltery: --delete: nothing deleted, since the run had %lld error%s\n",
               static_cast<long long>(failures), failures == 1 ? "" : "s");
}
void print_manifest_ignored(const char* path) {
  std::fprintf(stderr, "sveltery: %s: not a record this version can read, ignored: every file is done again\n",
               Shown(path).c_str());
}
void print_manifest_write_error(const char* path, int err) {
  std::fprintf(stderr, "sveltery: %s: the record of this run could not be written (%s): the next --update run does every file again\n",
               Shown(path).c_str(), std::strerror(err));
}
void print_delete_needs_update() {
  std::fprintf(stderr, "sveltery: --delete works only with --update and -r\n");
}
void print_stopped(int signal_number) {
  const char* name = signal_number == SIGINT ? "SIGINT" : "SIGTERM";
  std::fprintf(stderr, "sveltery: stopped by %s: files not yet started were not written\n", name);
}

void print_markup_memory_error(std::FILE* to) { std::fputs("Memeory Error\n", to); }
