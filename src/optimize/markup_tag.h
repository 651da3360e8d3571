#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "optimize/byte_scan.h"
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

// Copies the bytes of a tag from `j` to `dst` while none needs a rule, 32 or eight at a time, and
// returns how many it copied. It stops at a byte that may need a rule, or with fewer than eight
// bytes left. dst[-1] is the previous output byte; dst lies no further on than `j` in its own
// buffer, so the whole rounds it writes stay inside it (bytes past the stop are overwritten later).
inline std::size_t copy_plain_tag(std::span<const unsigned char> in, std::size_t j,
                                  unsigned char* dst) {
  const unsigned char* p = in.data();
  const std::size_t n = in.size();
  const std::size_t start = j;
  unsigned char prev = dst[-1];  // then the last byte of the previous round, copied unchanged
  while (n - j >= 32) {
    const std::uint64_t m0 = tag_stops(swar::load8(p + j), prev, p[j + 8]);
    const std::uint64_t m1 = tag_stops(swar::load8(p + j + 8), p[j + 7], p[j + 16]);
    const std::uint64_t m2 = tag_stops(swar::load8(p + j + 16), p[j + 15], p[j + 24]);
    const std::uint64_t m3 = tag_stops(swar::load8(p + j + 24), p[j + 23], peek(in, j + 32));
    std::memcpy(dst + (j - start), p + j, 32);
    const std::size_t k = swar::first_byte(m0, m1, m2, m3);
    j += k;
    if (k < 32) return j - start;
    prev = p[j - 1];
  }
  while (n - j >= 8) {
    const std::uint64_t stops = tag_stops(swar::load8(p + j), prev, peek(in, j + 8));
    std::memcpy(dst + (j - start), p + j, 8);
    if (stops != 0) return j + swar::first_byte(stops) - start;
    j += 8;
    prev = p[j - 1];
  }
  return j - start;
}

// Copies a tag from its '<' at `s` through the first '>' (or the end of input), turning each run of
// white space into one space and dropping it before '>'. Quotes are not tracked. Only a literal
// space counts when looking one byte ahead. Returns the end.
inline std::size_t generic_tag(std::span<const unsigned char> in, std::size_t s, Out& out) {
  unsigned char* o = out.base;
  std::size_t w = out.n;
  o[w++] = in[s];  // the '<': so inside a tag there always is a previous output byte
  std::size_t j = s + 1;
  for (;;) {
    const std::size_t copied = copy_plain_tag(in, j, o + w);
    j += copied;
    w += copied;
    if (j >= in.size()) break;
    const unsigned char c = in[j];
    if (c == '>') {
      o[w++] = c;
      out.n = w;
      return j + 1;
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
