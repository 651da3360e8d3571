// The per-file pipeline: load, optimize by the file's kind, save, count.
#include "traverse/pipeline.h"

#include <fcntl.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <new>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "optimize/byte_scan.h"
#include "optimize/css.h"
#include "optimize/jpeg.h"
#include "optimize/jpeg_recode.h"
#include "optimize/js.h"
#include "optimize/markup.h"
#include "report/console.h"
#include "report/progress.h"
#include "report/savings.h"
#include "traverse/file_io.h"
#include "traverse/siblings.h"

namespace {

// The share of a file that printed its failure.
constexpr Totals kFailed{.failures = 1};

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
std::optional<Optimized> optimize_page(bool php_blocks, const Bytes& data, Bytes& output,
                                       const Options& options, std::FILE* to) {
  ConsoleProgress bar{to};
  ProgressSink* const progress = options.verbose ? &bar : nullptr;
  std::optional<Bytes> result =
      options.safe ? optimize_markup_safe(data, php_blocks, progress, std::move(output),
                                          InlineCode{options.css, options.js})
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
// every check it passes holds for a longer input too. With `recode_into` (--safe, whole file in
// `data`), the filtered image is then re-encoded there when that is shorter.
IoStatus filter_jpeg(InputFile& input, Bytes& data, Bytes* recode_into, Optimized& result) {
  std::optional<std::size_t> filtered = optimize_jpeg(data);
  for (std::size_t step = 1; !filtered && static_cast<std::int64_t>(data.size()) < input.size();
       ++step) {
    // A stopped walk leaves the head as it was read.
    const IoStatus read =
        step >= std::size(kJpegHeads)
            ? read_to_end(input, data)
            : read_more(input,
                        std::min(input.size(), kJpegHeads[step]) -
                            static_cast<std::int64_t>(data.size()),
                        data);
    if (!read.ok()) return read;
    filtered = optimize_jpeg(data);
  }
  if (filtered && recode_into != nullptr &&
      recode_jpeg({data.data(), *filtered}, *recode_into) == Recode::kSmaller) {
    result = Optimized{*recode_into};
    return {};
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
  return {};
}

// The input, opened in its directory (by its path for a command-line file).
IoStatus open_input(const FileWork& work, std::optional<InputFile>& input) {
  return work.input_dir ? open_input_file(work.input_dir->fd(), work.input_name.c_str(), input)
                        : open_input_file(AT_FDCWD, work.path.c_str(), input);
}

// Prints the line of a failed step of the file `work`; true when the step went well.
bool step_ok(std::FILE* to, const FileWork& work, const IoStatus& status) {
  print_io_status(to, status, work.path.c_str(), work.output_path.c_str());
  return status.ok();
}

// The output of a page with a banner, as written: the banner, then the page. In `reuse`'s memory.
std::optional<Bytes> with_banner(const Banner& banner, std::span<const unsigned char> page,
                                 Bytes reuse) {
  const std::vector<char> head = format_banner(banner, static_cast<std::int64_t>(page.size()));
  std::optional<Bytes> whole = output_buffer(head.size() + page.size(), std::move(reuse));
  if (!whole) return std::nullopt;
  std::copy(head.begin(), head.end(), whole->begin());
  std::copy(page.begin(), page.end(), whole->begin() + static_cast<std::ptrdiff_t>(head.size()));
  return whole;
}

// A copied output's bytes, which the copy did not bring into memory: read back from the output
// just written, so that its siblings hold exactly what it holds.
IoStatus load_output(const FileWork& work, Bytes& data) {
  data.clear();
  std::optional<InputFile> output;
  IoStatus status = open_input_file(work.output_dir->fd(), work.output_name.c_str(), output);
  if (status.ok()) status = read_to_end(*output, data);
  return status;
}

// The compressed siblings of an output just written: `bytes` and `banner` as saved, or, for a
// copy, what the output holds. The input's buffer is free by now and takes what must be put
// together.
void add_siblings(const FileWork& work, const Options& options, std::FILE* to, bool copied,
                  std::span<const unsigned char> bytes, const std::optional<Banner>& banner,
                  Scratch& scratch, Totals& delta) {
  std::span<const unsigned char> output = bytes;
  if (copied) {
    const IoStatus loaded = load_output(work, scratch.input);
    // The output read back is named as the input of that read.
    print_io_status(to, loaded, work.output_path.c_str(), work.output_path.c_str());
    if (!loaded.ok()) return;
    output = scratch.input;
  } else if (banner) {
    std::optional<Bytes> whole = with_banner(*banner, bytes, std::move(scratch.input));
    if (!whole) {
      print_memory_error(to);
      return;
    }
    scratch.input = std::move(*whole);
    output = scratch.input;
  }
  const SiblingsDone done = write_siblings(work, options, to, output, scratch.encoded);
  add_totals(delta, done.delta);
  scratch.lacked_space = scratch.lacked_space || done.lacked_space;
}

// What a format's optimizer works with.
struct FileRun {
  const FileWork& work;
  const Options& options;
  std::FILE* to;
  InputFile& input;
  Scratch& scratch;
};

std::optional<Optimized> optimize_html(FileRun& run) {
  return optimize_page(false, run.scratch.input, run.scratch.output, run.options, run.to);
}

std::optional<Optimized> optimize_php(FileRun& run) {
  return optimize_page(true, run.scratch.input, run.scratch.output, run.options, run.to);
}

std::optional<Optimized> optimize_jpeg_file(FileRun& run) {
  Optimized result;
  Bytes* const recode_into = run.options.safe ? &run.scratch.output : nullptr;
  if (!step_ok(run.to, run.work, filter_jpeg(run.input, run.scratch.input, recode_into, result)))
    return std::nullopt;
  return result;
}

// A style sheet or script, minified into `output`'s memory; its bar is drawn full at once.
template <class Minify>
std::optional<Optimized> optimize_code(FileRun& run, Minify minify) {
  std::optional<Bytes> result = minify(run.scratch.input, std::move(run.scratch.output));
  if (!result) {
    print_markup_memory_error(run.to);
    return std::nullopt;
  }
  run.scratch.output = std::move(*result);
  if (run.options.verbose) full_bar(run.to, run.input.size());
  return Optimized{run.scratch.output};
}

std::optional<Optimized> optimize_css_file(FileRun& run) {
  return optimize_code(
      run, [](const Bytes& in, Bytes reuse) { return optimize_css(in, std::move(reuse)); });
}

// A .mjs file is a module; a .js file may be loaded either way.
std::optional<Optimized> optimize_js_file(FileRun& run) {
  const std::string& path = run.work.path;
  const bool module = path.size() >= 4 &&
                      fold[static_cast<unsigned char>(path[path.size() - 3])] == 'm' &&
                      path[path.size() - 4] == '.';
  return optimize_code(run, [module](const Bytes& in, Bytes reuse) {
    return optimize_js(in, module ? JsInput::Module : JsInput::Either, std::move(reuse));
  });
}

// A copy is an optimization that keeps every byte: the whole input goes out file to file.
std::optional<Optimized> copy_as_is(FileRun&) { return Optimized{{}, 0}; }

// How much of the input is in memory before the optimizer runs.
enum class Read { Nothing, Whole, JpegHead };

// When the savings line and the bar are printed, and how a failed write ends. The differences
// are the program's history, kept as users have always seen them: a JPEG is counted, with its
// full bar and savings line, before its write, and a failed JPEG write gets no "Skipped:" line; a
// copy draws a full bar under -v once written.
enum class Report { SavingsAfterWrite, SavingsBeforeWrite, BarAfterWrite };

// One kind of file: how it is recognised, read, optimized, reported and counted.
struct Format {
  FormatKind kind;
  std::array<std::string_view, 3> extensions;  // lower case; tried in the table's order
  bool Options::*gate;                         // the option that switches it on
  Read read;
  bool announce_first;  // "Optimizing:" before the optimizer runs (its bar follows)
  std::optional<Optimized> (*optimize)(FileRun&);
  void (*count)(Totals&, std::int64_t in, std::int64_t out);  // null: not an optimized format
  Report report;
  bool banner;  // a PHP page's banner would be output in front of its code: only HTML has one
};


// The first row whose extension ends the path and whose format is on wins; the last row
// (no extension) is everything else.
constexpr Format kFormats[] = {
    {FormatKind::PHP,
     {".phtml", ".php3", ".php"},
     &Options::php,
     Read::Whole,
     true,
     optimize_php,
     add_php_totals,
     Report::SavingsAfterWrite,
     false},
    {FormatKind::HTML,
     {".html", ".htm"},
     &Options::html,
     Read::Whole,
     true,
     optimize_html,
     add_html_totals,
     Report::SavingsAfterWrite,
     true},
    {FormatKind::JPEG,
     {".jpg", ".jpeg"},
     &Options::jpeg,
     Read::JpegHead,
     false,
     optimize_jpeg_file,
     add_jpeg_totals,
     Report::SavingsBeforeWrite,
     false},
    {FormatKind::CSS,
     {".css"},
     &Options::css,
     Read::Whole,
     true,
     optimize_css_file,
     add_css_totals,
     Report::SavingsAfterWrite,
     false},
    {FormatKind::JS,
     {".js", ".mjs"},
     &Options::js,
     Read::Whole,
     true,
     optimize_js_file,
     add_js_totals,
     Report::SavingsAfterWrite,
     false},
    {FormatKind::Other,
     {},
     &Options::copy_other,
     Read::Nothing,
     true,
     copy_as_is,
     nullptr,
     Report::BarAfterWrite,
     false},
};

const Format& format_of(FormatKind kind) {
  for (const Format& format : kFormats)
    if (format.kind == kind) return format;
  return kFormats[std::size(kFormats) - 1];
}

bool ends_with_nocase(std::string_view path, std::string_view lower_suffix) {
  if (path.size() < lower_suffix.size()) return false;
  const std::string_view tail = path.substr(path.size() - lower_suffix.size());
  for (std::size_t k = 0; k < tail.size(); ++k)
    if (fold[static_cast<unsigned char>(tail[k])] != static_cast<unsigned char>(lower_suffix[k]))
      return false;
  return true;
}

// The file's share of the totals once its sizes are known.
Totals counted(const Format& format, std::int64_t in, std::int64_t out) {
  Totals delta;
  format.count(delta, in, out);
  ++delta.files_optimized;
  return delta;
}

IoStatus read_first(const Format& format, FileRun& run) {
  Bytes& data = run.scratch.input;
  data.clear();
  switch (format.read) {
    case Read::Nothing:
      return {};
    case Read::Whole:
      return read_to_end(run.input, data);
    case Read::JpegHead:
      // The re-encoder of --safe needs all of a JPEG; the filter alone needs only its head.
      if (run.options.safe) return read_to_end(run.input, data);
      return read_more(run.input, first_jpeg_head(run.input.size()), data);
  }
  return {};
}

// Writes the file's output by its row: a copy file to file, a kept tail behind its head, or the
// optimized bytes.
IoStatus save(const Format& format, const FileRun& run, const Optimized& result,
              const std::optional<Banner>& banner) {
  const FileWork& work = run.work;
  if (!work.output_dir) return {IoStep::UnreachableOutput, work.output_dir_error};
  const OutputPlace place{work.output_dir->fd(), work.output_name.c_str(),
                          work.output_path.c_str()};
  const mode_t mode = output_mode(work.st.st_mode);
  if (format.read == Read::Nothing)
    return copy_output_file(place, run.input, work.st, mode, work.in_new_dir);
  if (result.tail_from >= 0)
    return copy_output_file(place, result.bytes, run.input, result.tail_from, work.st, mode,
                            work.in_new_dir);
  return save_output_file(place, result.bytes, banner, work.st, mode, work.in_new_dir);
}

// Load, optimize by the file's row, save, count.
Totals run_format(const Format& format, FileRun& run) {
  const FileWork& work = run.work;
  const char* path = work.path.c_str();
  std::FILE* to = run.to;
  const bool announcing = announce(run.options);
  if (!step_ok(to, work, read_first(format, run))) {
    print_skipped(to, path);
    return kFailed;
  }
  const auto say_what = [&] {
    if (announcing) (format.count ? print_optimizing : print_copying)(to, path);
  };
  if (format.announce_first) say_what();
  const std::optional<Optimized> result = format.optimize(run);
  if (!result) {
    print_skipped(to, path);
    return kFailed;
  }
  if (!format.announce_first) say_what();
  const std::int64_t input_size = run.input.size();
  const auto output_size = static_cast<std::int64_t>(result->bytes.size()) +
                           (result->tail_from >= 0 ? input_size - result->tail_from : 0);

  Totals delta;
  if (format.report == Report::SavingsBeforeWrite) {
    if (announcing) {
      full_bar(to, input_size);
      print_file_savings(to, input_size, output_size);
    }
    delta = counted(format, input_size, output_size);
  }
  const std::optional<Banner> banner = format.banner && !run.options.no_banner
                                           ? std::optional<Banner>(Banner{path, input_size})
                                           : std::nullopt;
  const IoStatus saved = save(format, run, *result, banner);
  if (!step_ok(to, work, saved)) {
    run.scratch.lacked_space = saved.disk_full();
    if (format.report != Report::SavingsBeforeWrite) print_skipped(to, path);
    delta.failures = 1;
    return delta;
  }
  if (format.report == Report::SavingsAfterWrite) {
    if (announcing) print_file_savings(to, input_size, output_size);
    delta = counted(format, input_size, output_size);
  } else if (format.report == Report::BarAfterWrite && run.options.verbose) {
    full_bar(to, run.input.size());
  }
  // What went file to file is read back for the siblings.
  if (wants_siblings(work, run.options))
    add_siblings(work, run.options, to, result->tail_from >= 0, result->bytes, banner,
                 run.scratch, delta);
  return delta;
}

}  // namespace

FormatKind classify_extension(std::string_view path, const Options& options) {
  for (const Format& format : kFormats) {
    if (!(options.*format.gate)) continue;
    for (const std::string_view extension : format.extensions)
      if (!extension.empty() && ends_with_nocase(path, extension)) return format.kind;
  }
  return FormatKind::Other;
}

bool has_work(FormatKind kind, const Options& options) { return options.*format_of(kind).gate; }

std::int64_t bytes_held(const FileWork& work) {
  return format_of(work.kind).read == Read::Nothing ? 0
                                                    : static_cast<std::int64_t>(work.st.st_size);
}

std::int64_t sibling_bytes_held(const FileWork& work, const Options& options) {
  // The output (read back, for a copy) and one sibling at a time.
  return wants_siblings(work, options) ? 2 * static_cast<std::int64_t>(work.st.st_size) : 0;
}

namespace {

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
  std::optional<InputFile> input;
  if (!step_ok(to, work, open_input(work, input))) {
    print_skipped(to, work.path.c_str());
    return kFailed;
  }
  FileRun run{work, options, to, *input, scratch};
  const Totals delta = run_format(format_of(work.kind), run);
  if (work.recorder != nullptr && delta.failures == 0) work.recorder->written(work, delta);
  release_if_large(scratch.input);
  release_if_large(scratch.output);
  release_if_large(scratch.encoded);
  return delta;
}
