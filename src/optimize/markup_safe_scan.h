// Byte classes and bulk scanners of the safe profile: a word of input at a time where pages are
// long, and where each construct (a comment, raw text, an attribute) ends.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "optimize/byte_scan.h"
#include "optimize/markup_out.h"

namespace markup::safe {

// White space as the tokenizer sees it in tags, and as CSS collapses it in text (form feed is not
// collapsible in CSS, so it stays text there).
inline constexpr auto kHtmlSpace = byte_set(" \t\n\r\f");
inline constexpr auto kTextSpace = byte_set(" \t\n\r");
// An attribute value holding none of these reads the same without its quotes.
inline constexpr auto kNeedsQuotes = byte_set(" \t\n\r\f\"'=<>`");
// Bytes that end a tag name, an attribute name, and an unquoted value.
inline constexpr auto kNameStop = byte_set(" \t\n\r\f/>");
inline constexpr auto kAttributeStop = byte_set(" \t\n\r\f/>=");
inline constexpr auto kValueStop = byte_set(" \t\n\r\f>");
inline constexpr auto kAsciiLetter =
    byte_set("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");

// The bytes of eight that may end a tag name: a superset of kNameStop (every byte below '0', and
// '>'). Names hold letters and digits nearly always.
inline std::uint64_t name_stops(std::uint64_t v) {
  using namespace swar;
  return below_bytes(v, '0') | equal_bytes(v, '>');
}

// Eight bytes with 'A'..'Z' folded to lower case.
inline std::uint64_t fold_word(std::uint64_t v) {
  using namespace swar;
  return v | ((below_bytes(v, 'Z' + 1) & ~below_bytes(v, 'A')) >> 2);
}

// The first byte flagged in two masks of consecutive words, one of them at least not empty: 0..15.
// Without a test of either mask on its own, which would be a branch that mispredicts.
inline std::size_t first_of_two(std::uint64_t m0, std::uint64_t m1) {
  // All ones when the first mask is empty: then the second one counts, eight bytes on.
  const std::uint64_t second = std::uint64_t{0} - static_cast<std::uint64_t>(m0 == 0);
  const std::uint64_t m = m0 | (m1 & second);
  // Bit 63 changes nothing in a mask that is not empty, and tells the compiler it is not.
  const auto bits = static_cast<std::size_t>(std::countr_zero(m | (std::uint64_t{1} << 63)));
  return bits / 8 + static_cast<std::size_t>(second & 8);
}

// The bytes of eight text bytes that need a rule: '<', the control bytes up to CR, and a space
// before white space. `next` is the input byte after the eight.
inline std::uint64_t safe_text_stops(std::uint64_t v, unsigned char /*prev*/, unsigned char next) {
  using namespace swar;
  const std::uint64_t space = equal_bytes(v, ' ');
  const std::uint64_t control = below_bytes(v, '\r' + 1);
  const std::uint64_t next_is_space = std::uint64_t{kTextSpace[next]} << 63;
  return equal_bytes(v, '<') | control | (space & (((space | control) >> 8) | next_is_space));
}

// The text bytes that need a rule, for copy_plain: safe_text_stops a word at a time, and the same
// 32 bytes at a time where SSE2 is there.
struct SafeTextStops {
  std::uint64_t eight(std::uint64_t v, unsigned char prev, unsigned char next) const {
    return safe_text_stops(v, prev, next);
  }
#ifdef SVELTERY_SSE2
  std::uint32_t wide(const Lanes& l, unsigned char, unsigned char next) const {
    const std::uint32_t next_is_space = std::uint32_t{kTextSpace[next]} << 31;
    return l.lt | l.low | (l.space & (((l.space | l.low) >> 1) | next_is_space));
  }
#endif
};

// Copies text from `j` to `dst` up to the first byte SafeTextStops flags, or until fewer than eight
// bytes are left; returns how many it copied. dst[-1] is an output byte, and dst lies no further
// on than `j` in a buffer of the input's size (copy_plain's bounds).
inline std::size_t copy_text(std::span<const unsigned char> in, std::size_t j, unsigned char* dst) {
  return copy_plain(in, j, dst, SafeTextStops{});
}

// The end of the run of white space (kTextSpace) from `j`. 16 bytes at a time where SSE2 is
// there: indentation runs are long.
inline std::size_t space_end(std::span<const unsigned char> in, std::size_t j) {
  const unsigned char* p = in.data();
  const std::size_t n = in.size();
#ifdef SVELTERY_SSE2
  while (n - j >= 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + j));
    // Only tab and CR become CR with bit 2 set.
    const __m128i tab_cr = _mm_cmpeq_epi8(_mm_or_si128(a, _mm_set1_epi8(4)), _mm_set1_epi8('\r'));
    const __m128i space =
        _mm_or_si128(tab_cr, _mm_or_si128(_mm_cmpeq_epi8(a, _mm_set1_epi8(' ')),
                                          _mm_cmpeq_epi8(a, _mm_set1_epi8('\n'))));
    const auto other = ~static_cast<std::uint32_t>(_mm_movemask_epi8(space)) & 0xFFFFu;
    if (other != 0) return j + static_cast<std::size_t>(std::countr_zero(other));
    j += 16;
  }
#endif
  while (j < n && kTextSpace[p[j]]) ++j;
  return j;
}

#ifdef SVELTERY_SSE2
// The bytes of `a` up to '"' and those from '<' to '>', 0xFF each: what attribute names and
// values have in common among the bytes that end them.
inline __m128i low_or_angles16(__m128i a) {
  const __m128i low = _mm_cmpeq_epi8(_mm_min_epu8(a, _mm_set1_epi8('"')), a);
  const __m128i angle = _mm_sub_epi8(a, _mm_set1_epi8('<'));  // '<', '=' and '>' become 0..2
  return _mm_or_si128(low, _mm_cmpeq_epi8(_mm_min_epu8(angle, _mm_set1_epi8(2)), angle));
}

// The bytes of 16 at `p` that may end a quoted value or need its quotes, one bit each (bit k for
// p[k]), exact: those up to '"', '\'', '<', '=', '>' and '`'. Most values end within 16 bytes.
inline std::uint32_t value_flags16(const unsigned char* p) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i quote = _mm_cmpeq_epi8(a, _mm_set1_epi8('\''));
  const __m128i tick = _mm_cmpeq_epi8(a, _mm_set1_epi8('`'));
  const __m128i any = _mm_or_si128(low_or_angles16(a), _mm_or_si128(quote, tick));
  return static_cast<std::uint32_t>(_mm_movemask_epi8(any));
}
#endif

// The closing quote `q` of a value starting at `k`, or in.size(); *bare tells whether the value
// holds no byte that needs the quotes. 16 bytes at a time up to the first byte that may matter.
inline std::size_t quoted_value_end(std::span<const unsigned char> in, std::size_t k,
                                    unsigned char q, bool* bare) {
  using namespace swar;
  const unsigned char* p = in.data();
  const std::size_t n = in.size();
  // A superset of kNeedsQuotes, the quotes among them: the bytes below '#', '\'', '<', '=', '>'
  // and '`'. The bytes flagged are checked one by one below; '#', '&' and '?' of URLs are not.
  [[maybe_unused]] const auto flags = [](std::uint64_t v) {
    return below_bytes(v, '#') | equal_bytes(v, '\'') | below_bytes(v ^ (kOnes * '<'), 3) |
           equal_bytes(v, '`');
  };
  while (k < n) {
#ifdef SVELTERY_SSE2
    if (n - k >= 16) {
      const std::uint32_t f = value_flags16(p + k);
      if (f == 0) {
        k += 16;
        continue;
      }
      k += static_cast<std::size_t>(std::countr_zero(f));
    }
#else
    if (n - k >= 16) {
      const std::uint64_t f0 = flags(load8(p + k));
      const std::uint64_t f1 = flags(load8(p + k + 8));
      if ((f0 | f1) == 0) {
        k += 16;
        continue;
      }
      k += first_of_two(f0, f1);
    }
#endif
    const unsigned char c = p[k];
    if (c == q) {
      *bare = true;
      return k;
    }
    if (kNeedsQuotes[c]) {
      *bare = false;
      return find_byte(in, k + 1, q);
    }
    ++k;
  }
  *bare = false;
  return n;
}

// The end of an attribute name from `j` on: its first byte of kAttributeStop, or in.size(). 16
// bytes at a time where SSE2 is there (most names end within them), else eight; a control byte
// flagged there that is no white space belongs to the name.
inline std::size_t attribute_name_end(std::span<const unsigned char> in, std::size_t j) {
  using namespace swar;
  const unsigned char* p = in.data();
  const std::size_t n = in.size();
#ifdef SVELTERY_SSE2
  while (n - j >= 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + j));
    const __m128i low = _mm_cmpeq_epi8(_mm_min_epu8(a, _mm_set1_epi8(' ')), a);
    const __m128i marks = _mm_or_si128(_mm_cmpeq_epi8(a, _mm_set1_epi8('/')),
                                       _mm_or_si128(_mm_cmpeq_epi8(a, _mm_set1_epi8('=')),
                                                    _mm_cmpeq_epi8(a, _mm_set1_epi8('>'))));
    const auto flagged = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_or_si128(low, marks)));
    if (flagged == 0) {
      j += 16;
      continue;
    }
    j += static_cast<std::size_t>(std::countr_zero(flagged));
    if (kAttributeStop[p[j]]) return j;
    ++j;
  }
#endif
  while (n - j >= 8) {
    const std::uint64_t v = load8(p + j);
    const std::uint64_t flagged =
        below_bytes(v, ' ' + 1) | equal_bytes(v, '/') | equal_bytes(v, '=') | equal_bytes(v, '>');
    if (flagged == 0) {
      j += 8;
      continue;
    }
    j += first_byte(flagged);
    if (kAttributeStop[p[j]]) return j;
    ++j;
  }
  while (j < n && !kAttributeStop[p[j]]) ++j;
  return j;
}

// The end of "</name" followed by white space, '/' or '>' (the tokenizer's own test), starting the
// search at `j`; in.size() when there is none.
std::size_t end_tag_start(std::span<const unsigned char> in, std::size_t j,
                          std::span<const unsigned char> name);

// Like end_tag_start, for an element that may hold itself: its own start tags are counted.
std::size_t nested_end_tag_start(std::span<const unsigned char> in, std::size_t j,
                                 std::span<const unsigned char> name);

// In a PHP page, the end of a construct from `s` that holds PHP blocks, walked over quotes and
// whole blocks, up to `stop` (">" for a tag, "-->" for a comment); 0 when no block comes before
// the first `stop`. Such a construct is copied unchanged, so no PHP code is ever rewritten.
std::size_t php_holder_end(std::span<const unsigned char> in, std::size_t s, std::string_view stop);

// Comments the browser itself acts on in some versions, kept as they are.
bool conditional_comment(std::span<const unsigned char> in, std::size_t s);

// The end of the comment at `s` ("<!--") by the tokenizer's rules, or in.size() when it runs to
// the end of input.
std::size_t comment_close(std::span<const unsigned char> in, std::size_t s);

// Whether the doctype at `s` is exactly "<!DOCTYPE html>" (any case, any white space): the one
// that leaves no doubt about the page's mode.
bool html_doctype(std::span<const unsigned char> in, std::size_t s);

// The end of a tag's attributes from `k` on: its '>' (the tokenizer's reading of quoted values),
// or `to` when it runs past `to`.
std::size_t tag_close(std::span<const unsigned char> in, std::size_t k, std::size_t to);

// Whether "hite-space" (so also "White-space") stands in the page with its hyphen in [from, to) (it
// may run on past `to`). Only at each hyphen is the rest compared.
bool mentions_white_space(std::span<const unsigned char> in, std::size_t from, std::size_t to);

}  // namespace markup::safe
