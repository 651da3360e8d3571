// The filter mode: one kind's optimizer between standard input and standard output.
#include "cli/filter.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <new>
#include <span>
#include <utility>
#include <vector>

#include "optimize/css.h"
#include "optimize/jpeg.h"
#include "optimize/jpeg_recode.h"
#include "optimize/js.h"
#include "optimize/markup.h"
#include "report/console.h"
#include "traverse/file_io.h"

namespace {

struct TypeRow {
  std::string_view name;
  FormatKind kind;
};

// One row per name a kind is known by; a new kind joins with its row.
constexpr TypeRow kTypes[] = {
    {"html", FormatKind::HTML}, {"php", FormatKind::PHP}, {"jpeg", FormatKind::JPEG},
    {"jpg", FormatKind::JPEG},  {"css", FormatKind::CSS}, {"js", FormatKind::JS},
};

constexpr int kExitFiltered = 0;
constexpr int kExitFailed = 2;

// The banner names the input as the command line did.
constexpr char kStdinName[] = "-";

// All of standard input; none after its message.
std::optional<Bytes> read_standard_input() {
  Bytes data;
  try {
    constexpr std::size_t kChunk = std::size_t{1} << 16;
    for (;;) {
      const std::size_t used = data.size();
      data.resize(used + kChunk);
      const ssize_t got = ::read(STDIN_FILENO, data.data() + used, kChunk);
      if (got < 0 && errno == EINTR) {
        data.resize(used);
        continue;
      }
      if (got < 0) {
        print_filter_read_error();
        return std::nullopt;
      }
      data.resize(used + static_cast<std::size_t>(got));
      if (got == 0) return data;
    }
  } catch (const std::bad_alloc&) {
    print_memory_error(stderr);
    return std::nullopt;
  }
}

[[nodiscard]] bool write_standard_output(std::span<const unsigned char> bytes) {
  while (!bytes.empty()) {
    const ssize_t put = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(put));
  }
  return true;
}

}  // namespace

std::optional<FormatKind> filter_kind(std::string_view type) {
  for (const TypeRow& row : kTypes)
    if (row.name == type) return row.kind;
  return std::nullopt;
}

std::string filter_type_names(std::string_view separator) {
  std::string names;
  for (const TypeRow& row : kTypes) {
    if (!names.empty()) names += separator;
    names += row.name;
  }
  return names;
}

std::optional<Bytes> filter_bytes(FormatKind kind, Bytes in, const Options& options) {
  if (kind == FormatKind::JPEG) {
    const std::optional<std::size_t> length = optimize_jpeg(in);
    if (!length) return in;  // not a stream the filter walks: out as it came in
    in.resize(*length);
    // The safe profile re-encodes the image's data without loss, as a run does, where shorter.
    if (options.safe) {
      Bytes recoded;
      if (recode_jpeg(in, recoded) == Recode::kSmaller) return recoded;
    }
    return in;
  }
  if (kind == FormatKind::Other) return in;
  // Style sheets and scripts are minified by the safe profile only, as in a run; standard input
  // may be a classic script or a module, so a script is read as either.
  if (kind == FormatKind::CSS || kind == FormatKind::JS) {
    if (!options.safe) return in;
    return kind == FormatKind::CSS ? optimize_css(in) : optimize_js(in, JsInput::Either);
  }
  const bool php_blocks = kind == FormatKind::PHP;
  std::optional<Bytes> page =
      options.safe
          ? optimize_markup_safe(in, php_blocks, nullptr, {}, InlineCode{options.css, options.js})
          : optimize_markup(in, php_blocks, nullptr);
  if (!page) return std::nullopt;
  // As in a run, only an HTML page carries the banner.
  if (kind != FormatKind::HTML || options.no_banner) return page;
  try {
    const std::vector<char> banner =
        format_banner(Banner{kStdinName, static_cast<std::int64_t>(in.size())},
                      static_cast<std::int64_t>(page->size()));
    const auto* first = reinterpret_cast<const unsigned char*>(banner.data());
    page->insert(page->begin(), first, first + banner.size());
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  return page;
}

int run_filter(FormatKind kind, const Options& options) {
  std::optional<Bytes> in = read_standard_input();
  if (!in) return kExitFailed;
  const std::optional<Bytes> out = filter_bytes(kind, std::move(*in), options);
  if (!out) {
    print_memory_error(stderr);
    return kExitFailed;
  }
  if (!write_standard_output(*out)) {
    print_filter_write_error();
    return kExitFailed;
  }
  return kExitFiltered;
}
