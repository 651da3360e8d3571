#include "traverse/pipeline.h"

#include <cstdint>
#include <optional>
#include <span>
#include <utility>

#include "optimize/byte_scan.h"
#include "optimize/jpeg.h"
#include "optimize/markup.h"
#include "report/console.h"
#include "report/progress.h"
#include "report/savings.h"
#include "traverse/file_io.h"

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

// What a kind prints and counts around its write. The differences are the program's history,
// kept as users have always seen them: a JPEG is counted, with its full bar and savings line,
// before its write, and a failed JPEG write gets no "Skipped:" line.
struct KindRules {
  bool optimized;         // counts in files_optimized and in its format's byte sums
  bool counted_first;     // bar, savings line and totals come before the write
  bool skip_after_write;  // a failed write is followed by "Skipped:"
};

KindRules rules_for(FormatKind kind) {
  switch (kind) {
    case FormatKind::PHP:
    case FormatKind::HTML:
      return {true, false, true};
    case FormatKind::JPEG:
      return {true, true, false};
    case FormatKind::Other:
      break;
  }
  return {false, false, true};
}

void add_format_totals(Totals& totals, FormatKind kind, std::int64_t in, std::int64_t out) {
  if (kind == FormatKind::PHP)
    add_php_totals(totals, in, out);
  else if (kind == FormatKind::HTML)
    add_html_totals(totals, in, out);
  else if (kind == FormatKind::JPEG)
    add_jpeg_totals(totals, in, out);
  ++totals.files_optimized;
}

void full_bar(std::FILE* to, std::int64_t size) {
  show_progress(to, size, size);
  print_newline(to);
}

// One page or image after its optimizer, ready to be written.
struct Optimized {
  Bytes bytes;
  std::size_t length = 0;   // of `bytes`, the part that goes out
  bool read_again = false;  // the file goes out unchanged, read afresh
};

// Runs the kind's optimizer over `data` (a JPEG is filtered in place). None after the message.
std::optional<Optimized> optimize(FormatKind kind, Bytes data, const Options& options,
                                  std::FILE* to) {
  if (kind == FormatKind::JPEG) {
    // A walk that stops leaves the buffer as it was; one that completes has compacted it, and
    // when it saved nothing the buffer may still have been rewritten.
    const std::optional<std::size_t> filtered = optimize_jpeg(data);
    const std::size_t length = filtered ? *filtered : data.size();
    const bool unchanged = filtered && length == data.size();
    return Optimized{std::move(data), length, unchanged};
  }
  ConsoleProgress bar{to};
  const bool php_blocks = kind == FormatKind::PHP;
  ProgressSink* const progress = options.verbose ? &bar : nullptr;
  std::optional<Bytes> result = options.safe ? optimize_markup_safe(data, php_blocks, progress)
                                             : optimize_markup(data, php_blocks, progress);
  if (!result) {
    print_markup_memory_error(to);
    return std::nullopt;
  }
  const std::size_t length = result->size();
  return Optimized{std::move(*result), length, false};
}

Totals copy_file(const FileWork& work, const Options& options, std::FILE* to) {
  const char* path = work.path.c_str();
  const std::optional<InputFile> input = open_input_file(to, path);
  if (!input) {
    print_skipped(to, path);
    return {};
  }
  if (announce(options)) print_copying(to, path);
  if (!copy_output_file(to, work.output_path.c_str(), *input, path, work.st,
                        output_mode(work.st.st_mode), work.in_new_dir)) {
    print_skipped(to, path);
    return {};
  }
  if (options.verbose) full_bar(to, input->size());
  return {};
}

}  // namespace

FormatKind classify_extension(std::string_view path, const Options& options) {
  for (const ExtensionRow& row : kExtensions)
    if (options.*row.gate && ends_with_nocase(path, row.extension)) return row.kind;
  return FormatKind::Other;
}

bool has_work(FormatKind kind, const Options& options) {
  return kind != FormatKind::Other || options.copy_other;
}

Totals run_file(const FileWork& work, const Options& options, std::FILE* to) {
  const KindRules rules = rules_for(work.kind);
  if (!rules.optimized) return copy_file(work, options, to);

  const char* path = work.path.c_str();
  std::optional<Bytes> data = load_whole_file(to, path);
  if (!data) {
    print_skipped(to, path);
    return {};
  }
  const auto input_size = static_cast<std::int64_t>(data->size());
  if (announce(options)) print_optimizing(to, path);
  std::optional<Optimized> result = optimize(work.kind, std::move(*data), options, to);
  if (!result) {
    print_skipped(to, path);
    return {};
  }
  const auto output_size = static_cast<std::int64_t>(result->length);

  Totals delta;
  if (rules.counted_first) {
    if (announce(options)) {
      full_bar(to, input_size);
      print_file_savings(to, input_size, output_size);
    }
    add_format_totals(delta, work.kind, input_size, output_size);
  }
  if (result->read_again) {
    std::optional<Bytes> again = load_whole_file(to, path);
    if (!again) return delta;  // its message stands; nothing is written
    result->bytes = std::move(*again);
    result->length = result->bytes.size();
  }
  const std::span<const unsigned char> out(result->bytes.data(), result->length);
  // A PHP page's banner would be inline output in front of its code: sent on every run or
  // include, it breaks header() calls and the JSON of endpoints. Only HTML pages carry one.
  const std::optional<Banner> banner = work.kind == FormatKind::HTML && !options.no_banner
                                           ? std::optional<Banner>(Banner{path, input_size})
                                           : std::nullopt;
  if (!save_output_file(to, work.output_path.c_str(), out, banner, work.st,
                        output_mode(work.st.st_mode), work.in_new_dir)) {
    if (rules.skip_after_write) print_skipped(to, path);
    return delta;
  }
  if (!rules.counted_first) {
    if (announce(options)) print_file_savings(to, input_size, output_size);
    add_format_totals(delta, work.kind, input_size, output_size);
  }
  return delta;
}
