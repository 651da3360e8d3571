// The default markup profile's main loop and construct dispatch.
#include "optimize/markup.h"

#include <cstdint>
#include <new>
#include <utility>

#include "optimize/markup_constructs.h"
#include "optimize/markup_out.h"
#include "optimize/markup_tag.h"
#include "optimize/markup_text.h"

namespace markup {
namespace {

// Copies [s, end) unchanged and returns `end`.
std::size_t copy_through(std::span<const unsigned char> in, std::size_t s, std::size_t end,
                         Out& out) {
  out.copy(in, s, end);
  return end;
}

std::size_t verbatim(std::span<const unsigned char> in, std::size_t s, const Verbatim& element,
                     Out& out) {
  return copy_through(in, s, verbatim_end(in, s, element), out);
}

inline constexpr auto kSpecialStart = byte_set("!?nNsSpPxXmM");

// The construct at the '<' at `s`, unless it is a generic tag: returns its end or kGenericTag.
// The byte after the '<' picks one candidate; when its full sequence is not there, the '<' opens a
// generic tag and no other candidate is tried ("<noscript>" is a plain tag, "<scripts>" a script).
std::size_t special_construct(std::span<const unsigned char> in, std::size_t s, bool php_blocks,
                              Out& out) {
  switch (in[s + 1]) {
    case '!':
      if (match_exact(in, s + 1, "!--")) return comment_end(in, s);
      if (match_exact(in, s + 1, "!DOCTYPE")) return doctype_end(in, s);
      break;
    case '?':
      if (php_blocks) return copy_through(in, s, php_block_end(in, s), out);
      break;
    case 'n':
    case 'N':
      if (match_nocase(in, s + 1, "noop>")) return verbatim(in, s, kNoop, out);
      break;
    case 's':
    case 'S':
      if (match_nocase(in, s + 1, "script")) return verbatim(in, s, kScript, out);
      if (match_nocase(in, s + 1, "style")) return verbatim(in, s, kStyle, out);
      break;
    case 'p':
    case 'P':
      if (match_nocase(in, s + 1, "pre>")) return verbatim(in, s, kPre, out);
      break;
    case 'x':
    case 'X':
      if (match_nocase(in, s + 1, "xmp>")) return verbatim(in, s, kXmp, out);
      break;
    case 'm':
    case 'M':
      if (match_nocase(in, s + 1, "meta")) return meta_tag(in, s, out);
      break;
    default:
      break;
  }
  return kGenericTag;
}

// Handles the construct that starts at the '<' at `s`; returns where the next iteration starts.
std::size_t construct(std::span<const unsigned char> in, std::size_t s, bool php_blocks, Out& out) {
  // Most tags are decided by their first byte alone.
  const std::size_t end =
      kSpecialStart[peek(in, s + 1)] ? special_construct(in, s, php_blocks, out) : kGenericTag;
  return end != kGenericTag ? end : generic_tag(in, s, out, php_blocks);
}

}  // namespace
}  // namespace markup

std::optional<Bytes> optimize_markup(std::span<const unsigned char> in, bool php_blocks,
                                     ProgressSink* progress, Bytes reuse) {
  std::optional<Bytes> buffer =
      output_buffer(in.size(), std::move(reuse));  // never longer than the input
  if (!buffer) return std::nullopt;
  Bytes& result = *buffer;

  const auto total = static_cast<std::int64_t>(in.size());
  markup::Out out{result.data()};
  markup::Ticker ticker{progress, total, total / 100};
  std::size_t i = 0;
  while (i < in.size()) {
    if (in[i] == '<') {
      ticker.one(i);
      i = markup::construct(in, i, php_blocks, out);
      continue;
    }
    // Text goes in runs of one-byte iterations; what is left is "&nbsp;" or white space after a
    // block tag, which may take several bytes in one iteration.
    const std::size_t run_end = markup::text_run(in, i, out);
    if (run_end != i) {
      ticker.run(run_end - i, i);
      i = run_end;
      continue;
    }
    ticker.one(i);
    i = markup::text_step(in, i, out);
  }
  if (progress != nullptr) {
    progress->tick(total, static_cast<std::int64_t>(i));
    progress->finish();
  }
  result.resize(out.n);
  return buffer;
}
