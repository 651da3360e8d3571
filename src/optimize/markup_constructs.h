#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "optimize/byte_scan.h"
#include "optimize/markup_out.h"

// The constructs besides the generic tag that start at a '<' (at `s`). Each is one iteration.
namespace markup {

// Returned instead of an end when the construct turns out to be a generic tag after all: it is
// then handled as one from its '<'.
inline constexpr std::size_t kGenericTag = SIZE_MAX;

// A comment is dropped whole. It ends at "-->" and also at "->"; every "<!--" inside it needs an
// end of its own. Returns the end, or kGenericTag when the page ends first: the text is kept then.
inline std::size_t comment_end(std::span<const unsigned char> in, std::size_t s) {
  const std::size_t n = in.size();
  std::size_t j = s + 3;  // on the second '-' of "<!--"
  std::int32_t depth = 0;
  for (;;) {
    ++j;
    while (j < n && in[j] != '<' && in[j] != '-') ++j;
    if (j >= n) return kGenericTag;
    if (in[j] == '<') {
      // The cursor stays on the last byte tested, which is therefore not examined again.
      if (peek(in, ++j) == '!' && peek(in, ++j) == '-' && peek(in, ++j) == '-') ++depth;
      continue;
    }
    const unsigned char b = peek(in, ++j);  // the byte after a '-'
    if (b == '-' && peek(in, j + 1) == '>') {
      ++j;
    } else if (b != '>') {
      continue;
    }
    if (depth == 0) return j + 1;
    --depth;
  }
}

// An upper-case "<!DOCTYPE ...>" is dropped; returns its end, or kGenericTag when it has no '>'.
inline std::size_t doctype_end(std::span<const unsigned char> in, std::size_t s) {
  const std::size_t gt = find_byte(in, s + 9, '>');
  return gt == in.size() ? kGenericTag : gt + 1;
}

// A PHP block is copied unchanged through the first "?>" after its "<?", or to the end.
inline std::size_t php_block_end(std::span<const unsigned char> in, std::size_t s) {
  std::size_t j = s + 2;
  for (;;) {
    j = find_byte(in, j, '?');
    if (j == in.size()) return j;
    if (peek(in, j + 1) == '>') return j + 2;
    ++j;
  }
}

// An element whose opening tag, content and closing tag are copied unchanged.
struct Verbatim {
  std::size_t open_length;  // bytes of the opening tag when it ends right after the name
  bool open_runs_to_gt;     // the opening tag keeps its attributes, through the first '>'
  std::string_view close;   // lower case; matched in any case
};
inline constexpr Verbatim kNoop{6, false, "</noop>"};
inline constexpr Verbatim kScript{7, true, "</script>"};
inline constexpr Verbatim kStyle{6, true, "</style>"};
inline constexpr Verbatim kPre{5, false, "</pre>"};
inline constexpr Verbatim kXmp{5, false, "</xmp>"};

// The end of a verbatim element: after the first closing tag, or the end of input. Elements do not
// nest, and nothing inside (comments included) is looked at but '<'.
inline std::size_t verbatim_end(std::span<const unsigned char> in, std::size_t s,
                                const Verbatim& element) {
  std::size_t j = s + element.open_length;
  if (element.open_runs_to_gt) {
    j = find_byte(in, j, '>');
    if (j == in.size()) return j;
    ++j;
  }
  for (;;) {
    j = find_byte(in, j, '<');
    if (j == in.size()) return j;
    if (match_nocase(in, j, element.close)) return j + element.close.size();
    ++j;
  }
}

// Byte-by-byte test of `rest` (lower case; '-' and '=' match only themselves) at `j`; returns the
// position of the first byte that does not match, or j + rest.size() on a full match.
inline std::size_t match_prefix_nocase(std::span<const unsigned char> in, std::size_t j,
                                       std::string_view rest) {
  for (const char want : rest) {
    if (j >= in.size() || fold[in[j]] != static_cast<unsigned char>(want)) return j;
    ++j;
  }
  return j;
}

// A META tag is dropped unless it carries "http-equiv=" or "charset=" before its '>': those tell
// the browser how to read the page. A kept tag is a generic tag (kGenericTag); one that runs into
// the end of input is copied unchanged.
inline std::size_t meta_tag(std::span<const unsigned char> in, std::size_t s, Out& out) {
  std::size_t j = s + 5;  // after "<meta"
  while (j < in.size()) {
    const unsigned char c = fold[in[j]];
    if (c == '>') return j + 1;
    if (c != 'h' && c != 'c') {
      ++j;
      continue;
    }
    const std::string_view rest = c == 'h' ? "ttp-equiv=" : "harset=";
    const std::size_t stop = match_prefix_nocase(in, j + 1, rest);
    if (stop == j + 1 + rest.size()) return kGenericTag;
    j = stop;  // the byte that did not match is examined again: it may start a test of its own
  }
  out.copy(in, s, in.size());
  return in.size();
}

}  // namespace markup
