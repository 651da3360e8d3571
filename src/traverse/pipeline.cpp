// The per-file pipeline: load, optimize by the file's kind, save, count.
#include "traverse/pipeline.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <new>
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

// One page or image after its optimizer, ready to be written: `bytes`, then, for a JPEG, the
// input's own bytes from `tail_from` on, which the kernel copies file to file.
struct Optimized {
  std::span<const unsigned char> bytes;
  std::int64_t tail_from = -1;  // none
};

// The markup optimizer over a whole page, into `output`'s memory. None after the message.
std::optional<Optimized> optimize_page(FormatKind kind, const Bytes& data, Bytes& output,
                                       const Options& options, std::FILE* to) {
  ConsoleProgress bar{to};
  const bool php_blocks = kind == FormatKind::PHP;
  ProgressSink* const progress = options.verbose ? &bar : nullptr;
  std::optional<Bytes> result =
      options.safe ? optimize_markup_safe(data, php_blocks, progress, std::move(output))
                   : optimize_markup(data, php_blocks, progress, std::move(output));
  if (!result) {
    print_markup_memory_error(to);
    return std::nullopt;
  }
  output = std::move(*result);
  return Optimized{output};
}

// How much of a JPEG is read before its filter runs, and again each time the walk stops inside
// what was read. Its metadata nearly always ends within the first few kilobytes (a thumbnail or
// a colour profile may take tens); the image data after it goes out as it is, without passing
// through memory. Past the last step the whole file is read.
constexpr std::int64_t kJpegHeads[] = {std::int64_t{8} << 10, std::int64_t{64} << 10};

// The number of a JPEG's bytes read first.
std::int64_t first_jpeg_head(std::int64_t size) { return std::min(size, kJpegHeads[0]); }

// Filters a JPEG whose first bytes are in `data`, reading more while the walk stops inside what
// was read. A walk that completes on a head decides exactly as one over the whole file would:
// every check it passes holds for a longer input too. False after the message.
bool filter_jpeg(std::FILE* to, const char* path, InputFile& input, Bytes& data,
                 Optimized& result) {
  std::optional<std::size_t> filtered = optimize_jpeg(data);
  for (std::size_t step = 1; !filtered && static_cast<std::int64_t>(data.size()) < input.size();
       ++step) {
    // A stopped walk leaves the head as it was read.
    if (step >= std::size(kJpegHeads)) {
      if (!read_to_end(to, path, input, data)) return false;
    } else {
      const std::int64_t want = std::min(input.size(), kJpegHeads[step]);
      if (!read_more(to, path, input, want - static_cast<std::int64_t>(data.size()), data))
        return false;
    }
    filtered = optimize_jpeg(data);
  }
  const auto in_memory = static_cast<std::int64_t>(data.size());
  if (!filtered) {
    result = Optimized{data};  // not a stream the filter walks: out as it came in
  } else if (static_cast<std::int64_t>(*filtered) == in_memory) {
    // Nothing saved, but the compaction may have rewritten the head: the file goes out as it is.
    result = Optimized{{}, 0};
  } else {
    const bool whole = in_memory >= input.size();  // then there is no rest to copy
    result = Optimized{{data.data(), *filtered}, whole ? -1 : in_memory};
  }
  return true;
}

// Whether a write that just failed found the disk or the quota full.
bool lacked_space() { return errno == ENOSPC || errno == EDQUOT; }

// The input, opened in its directory (by its path for a command-line file).
std::optional<InputFile> open_input(std::FILE* to, const FileWork& work) {
  return work.input_dir
             ? open_input_file(to, work.input_dir->fd(), work.input_name.c_str(), work.path.c_str())
             : open_input_file(to, AT_FDCWD, work.path.c_str(), work.path.c_str());
}

OutputPlace place_of(const FileWork& work) {
  return {work.output_dir ? work.output_dir->fd() : -1, work.output_name.c_str(),
          work.output_path.c_str()};
}

// An output whose directory could not be reached (missing, or a link where a directory should
// be) is refused as the open of the output itself would be.
bool output_reachable(std::FILE* to, const FileWork& work) {
  if (work.output_dir) return true;
  print_open_output_error(to, work.output_path.c_str(), work.output_dir_error);
  errno = 0;  // not a full disk
  return false;
}

Totals copy_file(const FileWork& work, const Options& options, std::FILE* to, Scratch& scratch) {
  const char* path = work.path.c_str();
  std::optional<InputFile> input = open_input(to, work);
  if (!input) {
    print_skipped(to, path);
    return {};
  }
  if (announce(options)) print_copying(to, path);
  if (!output_reachable(to, work) ||
      !copy_output_file(to, place_of(work), *input, path, work.st, output_mode(work.st.st_mode),
                        work.in_new_dir)) {
    scratch.lacked_space = lacked_space();
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

namespace {

// A page or image whose first bytes (all of a page's) are in `scratch.input`: optimized, written
// and counted. The markup optimizer writes into `scratch.output`'s memory.
Totals optimize_and_save(const FileWork& work, const Options& options, std::FILE* to,
                         InputFile& input, Scratch& scratch) {
  Bytes& data = scratch.input;
  const KindRules rules = rules_for(work.kind);
  const char* path = work.path.c_str();
  std::optional<Optimized> result;
  if (work.kind == FormatKind::JPEG) {
    result.emplace();
    if (!filter_jpeg(to, path, input, data, *result)) {
      print_skipped(to, path);
      return {};
    }
  }
  if (announce(options)) print_optimizing(to, path);
  if (work.kind != FormatKind::JPEG)
    result = optimize_page(work.kind, data, scratch.output, options, to);
  if (!result) {
    print_skipped(to, path);
    return {};
  }
  const std::int64_t input_size = input.size();
  const auto output_size = static_cast<std::int64_t>(result->bytes.size()) +
                           (result->tail_from >= 0 ? input_size - result->tail_from : 0);

  Totals delta;
  if (rules.counted_first) {
    if (announce(options)) {
      full_bar(to, input_size);
      print_file_savings(to, input_size, output_size);
    }
    add_format_totals(delta, work.kind, input_size, output_size);
  }
  // A PHP page's banner would be inline output in front of its code: sent on every run or
  // include, it breaks header() calls and the JSON of endpoints. Only HTML pages carry one.
  const std::optional<Banner> banner = work.kind == FormatKind::HTML && !options.no_banner
                                           ? std::optional<Banner>(Banner{path, input_size})
                                           : std::nullopt;
  const OutputPlace place = place_of(work);
  const mode_t mode = output_mode(work.st.st_mode);
  const bool saved =
      output_reachable(to, work) &&
      (result->tail_from >= 0
           ? copy_output_file(to, place, result->bytes, input, result->tail_from, path, work.st,
                              mode, work.in_new_dir)
           : save_output_file(to, place, result->bytes, banner, work.st, mode, work.in_new_dir));
  if (!saved) {
    scratch.lacked_space = lacked_space();
    if (rules.skip_after_write) print_skipped(to, path);
    return delta;
  }
  if (!rules.counted_first) {
    if (announce(options)) print_file_savings(to, input_size, output_size);
    add_format_totals(delta, work.kind, input_size, output_size);
  }
  return delta;
}

constexpr std::size_t kScratchReserve = std::size_t{16} << 20;

// Lets go of a buffer so large that keeping it would pin memory a run of small files never needs.
void release_if_large(Bytes& buffer) {
  if (buffer.capacity() > kScratchReserve) Bytes().swap(buffer);
}

}  // namespace

void reserve_scratch(Scratch& scratch) {
  try {
    if (scratch.input.capacity() < kScratchReserve) scratch.input.reserve(kScratchReserve);
    if (scratch.output.capacity() < kScratchReserve) scratch.output.reserve(kScratchReserve);
  } catch (const std::bad_alloc&) {
    // Each file then sizes its own buffers.
  }
}

Totals run_file(const FileWork& work, const Options& options, std::FILE* to, Scratch& scratch) {
  scratch.lacked_space = false;
  if (!rules_for(work.kind).optimized) return copy_file(work, options, to, scratch);
  const char* path = work.path.c_str();
  std::optional<InputFile> input = open_input(to, work);
  if (!input) {
    print_skipped(to, path);
    return {};
  }
  Bytes& data = scratch.input;
  data.clear();
  const bool read = work.kind == FormatKind::JPEG
                        ? read_more(to, path, *input, first_jpeg_head(input->size()), data)
                        : read_to_end(to, path, *input, data);
  if (!read) {
    print_skipped(to, path);
    return {};
  }
  const Totals delta = optimize_and_save(work, options, to, *input, scratch);
  release_if_large(scratch.input);
  release_if_large(scratch.output);
  return delta;
}
