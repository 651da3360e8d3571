#include "traverse/dispatch.h"

#include <sys/stat.h>

#include <cerrno>
#include <optional>
#include <span>
#include <string>

#include "optimize/byte_scan.h"
#include "optimize/jpeg.h"
#include "optimize/markup.h"
#include "report/console.h"
#include "report/progress.h"
#include "report/savings.h"
#include "traverse/file_io.h"
#include "traverse/output_path.h"
#include "traverse/walk.h"

namespace {

struct ExtensionRow {
  std::string_view extension;  // lower case
  FormatKind kind;
  bool Options::*gate;
};

// Tried in this order: the first row whose extension ends the path and whose format is on wins.
constexpr ExtensionRow kExtensions[] = {
    {".phtml", FormatKind::PHP, &Options::php},  {".php3", FormatKind::PHP, &Options::php},
    {".php", FormatKind::PHP, &Options::php},    {".html", FormatKind::HTML, &Options::html},
    {".htm", FormatKind::HTML, &Options::html},  {".jpg", FormatKind::JPEG, &Options::jpeg},
    {".jpeg", FormatKind::JPEG, &Options::jpeg},
};

bool ends_with_nocase(std::string_view path, std::string_view lower_suffix) {
  if (path.size() < lower_suffix.size()) return false;
  const std::string_view tail = path.substr(path.size() - lower_suffix.size());
  for (std::size_t k = 0; k < tail.size(); ++k)
    if (fold[static_cast<unsigned char>(tail[k])] != static_cast<unsigned char>(lower_suffix[k]))
      return false;
  return true;
}

std::span<const unsigned char> head(const Bytes& data, std::size_t length) {
  return std::span<const unsigned char>(data.data(), length);
}

void process_markup(const char* path, std::string_view relative_name, const struct stat& st,
                    FormatKind kind, const Options& options, Totals& totals) {
  const std::optional<Bytes> data = load_whole_file(path);
  if (!data) {
    print_skipped(path);
    return;
  }
  const auto input_size = static_cast<std::int64_t>(data->size());
  if (announce(options)) print_optimizing(path);
  ConsoleProgress bar;
  const bool php_blocks = kind == FormatKind::PHP && options.php;
  ProgressSink* const progress = options.verbose ? &bar : nullptr;
  const std::optional<Bytes> result = options.safe
                                          ? optimize_markup_safe(*data, php_blocks, progress)
                                          : optimize_markup(*data, php_blocks, progress);
  if (!result) {
    print_markup_memory_error();
    print_skipped(path);
    return;
  }
  const auto output_size = static_cast<std::int64_t>(result->size());
  const std::string output_path = output_path_for(options, relative_name);
  // A PHP page's banner would be inline output in front of its code: sent on every run or
  // include, it breaks header() calls and the JSON of endpoints. Only HTML pages carry one.
  std::optional<Banner> banner;
  if (kind == FormatKind::HTML && !options.no_banner) banner = Banner{path, input_size};
  if (!save_output_file(output_path.c_str(), *result, banner, st, output_mode(st.st_mode))) {
    print_skipped(path);
    return;
  }
  if (announce(options)) print_file_savings(input_size, output_size);
  if (kind == FormatKind::PHP)
    add_php_totals(totals, input_size, output_size);
  else
    add_html_totals(totals, input_size, output_size);
  ++totals.files_optimized;
}

void process_jpeg(const char* path, std::string_view relative_name, const struct stat& st,
                  const Options& options, Totals& totals) {
  std::optional<Bytes> data = load_whole_file(path);
  if (!data) {
    print_skipped(path);
    return;
  }
  const std::size_t input_size = data->size();
  if (announce(options)) print_optimizing(path);
  // A walk that stops leaves the buffer as it was; one that completes has compacted it.
  const std::optional<std::size_t> filtered = optimize_jpeg(*data);
  const std::size_t output_size = filtered ? *filtered : input_size;
  if (announce(options)) {
    show_progress(static_cast<std::int64_t>(input_size), static_cast<std::int64_t>(input_size));
    print_newline();
  }
  const std::string output_path = output_path_for(options, relative_name);
  if (announce(options))
    print_file_savings(static_cast<std::int64_t>(input_size),
                       static_cast<std::int64_t>(output_size));
  // Counted before the write, and kept whatever the write does.
  add_jpeg_totals(totals, static_cast<std::int64_t>(input_size),
                  static_cast<std::int64_t>(output_size));
  ++totals.files_optimized;

  std::span<const unsigned char> output = head(*data, output_size);
  if (filtered && output_size == input_size) {
    // Completed without saving a byte, yet the buffer may have been rewritten: the file goes
    // out exactly as it is, so read it again and write all of it (it may have changed length
    // since the first read).
    data = load_whole_file(path);
    if (!data) return;
    output = *data;
  }
  (void)save_output_file(output_path.c_str(), output, std::nullopt, st, output_mode(st.st_mode));
}

void process_copy(const char* path, std::string_view relative_name, const struct stat& st,
                  const Options& options) {
  if (!options.copy_other) return;
  const std::optional<Bytes> data = load_whole_file(path);
  if (!data) {
    print_skipped(path);
    return;
  }
  if (announce(options)) print_copying(path);
  const std::string output_path = output_path_for(options, relative_name);
  if (!save_output_file(output_path.c_str(), *data, std::nullopt, st, output_mode(st.st_mode))) {
    print_skipped(path);
    return;
  }
  if (options.verbose) {
    const auto length = static_cast<std::int64_t>(data->size());
    show_progress(length, length);
    print_newline();
  }
}

}  // namespace

FormatKind classify_extension(std::string_view path, const Options& options) {
  for (const ExtensionRow& row : kExtensions)
    if (options.*row.gate && ends_with_nocase(path, row.extension)) return row.kind;
  return FormatKind::Other;
}

void process_regular_file(const char* path, std::string_view relative_name, const struct stat& st,
                          const Options& options, Totals& totals) {
  switch (const FormatKind kind = classify_extension(path, options)) {
    case FormatKind::PHP:
    case FormatKind::HTML:
      process_markup(path, relative_name, st, kind, options, totals);
      break;
    case FormatKind::JPEG:
      process_jpeg(path, relative_name, st, options, totals);
      break;
    case FormatKind::Other:
      process_copy(path, relative_name, st, options);
      break;
  }
}

void process_input_path(std::string path, Options& options, Totals& totals) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    const int err = errno;
    if (err == EACCES)
      print_permission_denied(path.c_str());
    else if (err == ENOENT)
      print_missing(path.c_str());
    else
      print_stat_error(path.c_str());  // a path the user named never vanishes without a word
    return;
  }
  const bool is_file = S_ISREG(st.st_mode);
  const bool is_walked_dir = S_ISDIR(st.st_mode) && options.recurse;
  if (!is_file && !is_walked_dir) return;

  if (is_file) ++totals.files_seen;
  if (is_walked_dir && !path.empty() && path.back() == '/') path.pop_back();  // one '/' only
  if (!options.prefix_known) {
    options.input_prefix = input_prefix_of(path);
    options.prefix_known = true;
  }
  if (!maps_inside_output_dir(options, path)) {
    print_outside_output_dir(path.c_str());
    print_skipped(path.c_str());
    return;
  }
  const std::string_view relative_name = relative_name_of(options, path);
  if (is_file)
    process_regular_file(path.c_str(), relative_name, st, options, totals);
  else
    walk_input_directory(path, relative_name, st, options, totals);
}
