// The default profile's generic tag and its white-space rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "optimize/byte_scan.h"
#include "optimize/markup_constructs.h"
#include "optimize/markup_out.h"

namespace markup {

// LF, TAB and CR act as a space inside a tag.
inline constexpr auto kTagSpace = byte_set(" \n\t\r");

// The bytes of eight (`v`) that cannot simply be copied: '>', LF, TAB, CR (and the rarer control
// bytes below CR, sorted out one at a time), and a space before a space or '>'. A space after a
// space matters only for the first of the eight: further in, the space before it stops first.
// `prev` is the byte before the eight in the output, `next` the input byte after them.
inline std::uint64_t tag_stops(std::uint64_t v, unsigned char prev, unsigned char next) {
  using namespace swar;
  const std::uint64_t space = equal_bytes(v, ' ');
  const std::uint64_t gt = equal_bytes(v, '>');
  const std::uint64_t before_space_or_gt =
      ((space | gt) >> 8) | (next == ' ' || next == '>' ? std::uint64_t{0x80} << 56 : 0);
  const std::uint64_t after_space = prev == ' ' ? 0x80 : 0;
  return gt | below_bytes(v, '\r' + 1) | (space & (before_space_or_gt | after_space));
}

// With `kPhp`, '<' stops too: it may open a PHP block.
template <bool kPhp>
struct TagStops {
  std::uint64_t eight(std::uint64_t v, unsigned char prev, unsigned char next) const {
    return tag_stops(v, prev, next) | (kPhp ? swar::equal_bytes(v, '<') : 0);
  }
#ifdef SVELTERY_SSE2
  std::uint32_t wide(const Lanes& l, unsigned char prev, unsigned char next) const {
    const std::uint32_t before =
        ((l.space | l.gt) >> 1) | (next == ' ' || next == '>' ? std::uint32_t{1} << 31 : 0);
    const std::uint32_t after = prev == ' ' ? 1 : 0;
    return l.gt | l.low | (l.space & (before | after)) | (kPhp ? l.lt : 0);
  }
#endif
};

// Copies a tag from its '<' at `s` through the first '>' (or the end of input), turning each run of
// white space into one space and dropping it before '>'. Quotes are not tracked. Only a literal
// space counts when looking one byte ahead. With `php_blocks`, a PHP block inside the tag
// (`<option <?php selected(); ?>>`) is PHP code, copied unchanged; the tag goes on after it.
// Returns the end.
inline std::size_t generic_tag(std::span<const unsigned char> in, std::size_t s, Out& out,
                               bool php_blocks) {
  unsigned char* o = out.base;
  std::size_t w = out.n;
  o[w++] = in[s];  // the '<': so inside a tag there always is a previous output byte
  std::size_t j = s + 1;
  for (;;) {
    // HTML pages never pay for the PHP test in the bulk loop.
    const std::size_t copied = php_blocks ? copy_plain(in, j, o + w, TagStops<true>{})
                                          : copy_plain(in, j, o + w, TagStops<false>{});
    j += copied;
    w += copied;
    if (j >= in.size()) break;
    const unsigned char c = in[j];
    if (c == '>') {
      o[w++] = c;
      out.n = w;
      return j + 1;
    }
    if (c == '<' && php_blocks && peek(in, j + 1) == '?') {
      const std::size_t end = php_block_end(in, j);
      std::memcpy(o + w, in.data() + j, end - j);
      w += end - j;
      j = end;
      continue;
    }
    if (kTagSpace[c]) {
      const unsigned char next = peek(in, j + 1);
      if (o[w - 1] != ' ' && next != ' ' && next != '>') o[w++] = ' ';
    } else {
      o[w++] = c;
    }
    ++j;
  }
  out.n = w;
  return in.size();
}

}  // namespace markup
