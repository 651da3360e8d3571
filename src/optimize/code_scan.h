// What the style-sheet and script tokenizers share: name tables, bulk runs, block comments and the
// writer of their output.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <span>
#include <string_view>

#include "optimize/byte_scan.h"

// Every x86-64 processor has SSE2: there names and white space are classified sixteen bytes at a
// time. Elsewhere, or with SVELTERY_NO_SIMD (the sanitizer build tests that way), a byte at a time.
#if defined(__SSE2__) && !defined(SVELTERY_NO_SIMD)
#define SVELTERY_CODE_SSE2 1
#include <emmintrin.h>
#endif

namespace code {

using ByteSet = std::array<bool, 256>;

// `ascii` and every byte from 0x80 on: names continue through the bytes of UTF-8 sequences, which
// each language then checks only where a code point may end the name.
constexpr ByteSet with_high_bytes(std::string_view ascii) {
  ByteSet t = byte_set(ascii);
  for (std::size_t b = 0x80; b < t.size(); ++b) t[b] = true;
  return t;
}

// `t` without the bytes of `drop`: a name's first byte is its later bytes less the digits.
constexpr ByteSet without(ByteSet t, std::string_view drop) {
  for (const char c : drop) t[static_cast<unsigned char>(c)] = false;
  return t;
}

// Every byte but those of `drop`: what a scan runs over until one of them.
constexpr ByteSet all_but(std::string_view drop) {
  ByteSet t{};
  for (bool& b : t) b = true;
  return without(t, drop);
}

// For a first-byte table: the bytes of `bytes`, or the members of `set`, get class `c`. Later
// calls win, so a table is built from the broad classes to the single bytes.
template <class Class>
constexpr void assign(std::array<Class, 256>& t, std::string_view bytes, Class c) {
  for (const char b : bytes) t[static_cast<unsigned char>(b)] = c;
}
template <class Class>
constexpr void assign(std::array<Class, 256>& t, const ByteSet& set, Class c) {
  for (std::size_t b = 0; b < t.size(); ++b)
    if (set[b]) t[b] = c;
}

inline constexpr ByteSet kDigit = byte_set("0123456789");
inline constexpr ByteSet kHex = byte_set("0123456789abcdefABCDEF");

// Past the run of `set` bytes from i. Where eight bytes remain, they are tested without the end
// test: runs of names and spaces are short, and the end test would double each byte's cost.
inline std::size_t skip_run(std::span<const unsigned char> in, std::size_t i, const ByteSet& set) {
  const unsigned char* p = in.data();
  const std::size_t n = in.size();
  while (n - i >= 8) {
    const unsigned char* q = p + i;
    if (!set[q[0]]) return i;
    if (!set[q[1]]) return i + 1;
    if (!set[q[2]]) return i + 2;
    if (!set[q[3]]) return i + 3;
    if (!set[q[4]]) return i + 4;
    if (!set[q[5]]) return i + 5;
    if (!set[q[6]]) return i + 6;
    if (!set[q[7]]) return i + 7;
    i += 8;
  }
  while (i < n && set[p[i]]) ++i;
  return i;
}

// A set of bytes that a vector can test without a table: ASCII letters, digits, every byte from
// 0x80 on, and a few single bytes.
struct RunClass {
  bool letters = false;
  bool digits = false;
  bool high = false;
  std::string_view more;

  constexpr ByteSet table() const {
    ByteSet t = byte_set(more);
    for (std::size_t b = 0; b < t.size(); ++b)
      t[b] = t[b] || (letters && ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z'))) ||
             (digits && b >= '0' && b <= '9') || (high && b >= 0x80);
    return t;
  }
};

// skip_run() over the bytes of `C`. Sixteen bytes are classified at once, so where a run ends
// costs no mispredicted branch per byte; the last fifteen go by the table.
template <const RunClass& C>
std::size_t skip_class(std::span<const unsigned char> in, std::size_t i) {
  static constexpr ByteSet kTable = C.table();
#ifdef SVELTERY_CODE_SSE2
  const std::size_t n = in.size();
  while (n - i >= 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in.data() + i));
    __m128i hit = _mm_setzero_si128();
    // x in [lo, hi]: shifted so that lo lands on -128, the range is what one signed compare
    // finds below -128 + (hi - lo + 1); every other byte lands at or above that.
    const auto within = [](__m128i x, char lo, char hi) {
      const __m128i shifted = _mm_add_epi8(x, _mm_set1_epi8(static_cast<char>(0x80 - lo)));
      return _mm_cmpgt_epi8(_mm_set1_epi8(static_cast<char>(-128 + (hi - lo + 1))), shifted);
    };
    if constexpr (C.letters) hit = within(_mm_or_si128(v, _mm_set1_epi8(0x20)), 'a', 'z');
    if constexpr (C.digits) hit = _mm_or_si128(hit, within(v, '0', '9'));
    for (const char b : C.more) hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, _mm_set1_epi8(b)));
    if constexpr (C.high) hit = _mm_or_si128(hit, v);  // the sign bit is all movemask reads
    const unsigned outside = ~static_cast<unsigned>(_mm_movemask_epi8(hit)) & 0xFFFFu;
    if (outside != 0) return i + static_cast<std::size_t>(std::countr_zero(outside));
    i += 16;
  }
#endif
  return skip_run(in, i, kTable);
}

// The index past the "*/" that closes the comment whose "/*" is at i; in.size() + 1 when the
// comment runs to the end of the input.
inline std::size_t block_comment_end(std::span<const unsigned char> in, std::size_t i) {
  for (std::size_t j = i + 2;; ++j) {
    j = find_byte(in, j, '*');
    if (in.size() - j < 2) return in.size() + 1;
    if (in[j + 1] == '/') return j + 2;
  }
}

// The minifiers' output: a buffer with room for the whole input, written front to back. Bytes
// past the length written so far are of no meaning, so a short token goes out as one fixed-size
// copy where both buffers have room for it.
class CodeWriter {
 public:
  CodeWriter(std::span<const unsigned char> in, unsigned char* out) : in_(in), out_(out) {}

  void put(unsigned char b) { out_[n_++] = b; }

  void copy(std::size_t from, std::size_t to) { n_ = write<false>(n_, 0, false, from, to); }

  // copy(), after the byte `b` where `keep`: it goes out without a branch, and a byte not kept
  // is overwritten by the copy. Only where a byte of the input was left out before `from`.
  void copy_after(unsigned char b, bool keep, std::size_t from, std::size_t to) {
    n_ = write<true>(n_, b, keep, from, to);
  }

  std::size_t size() const { return n_; }
  // The byte written `back` places before the end (1: the last); the caller checks size().
  unsigned char last(std::size_t back = 1) const { return out_[n_ - back]; }

 private:
  // Writes `b` (with_byte, kept where `keep`) and [from, to) at n, and returns the new end. The
  // members are read before the first byte goes out: a byte store may alias anything, and they
  // would have to be read again.
  template <bool with_byte>
  std::size_t write(std::size_t n, unsigned char b, bool keep, std::size_t from,
                    std::size_t to) const {
    constexpr std::size_t kShort = 16;
    const unsigned char* in = in_.data();
    const std::size_t in_size = in_.size();
    unsigned char* out = out_;
    if constexpr (with_byte) {
      out[n] = b;
      n += keep;
    }
    const std::size_t len = to - from;
    // Nothing goes out ahead of what has been read: n <= from, so the room is there too.
    if (len <= kShort && in_size - from >= kShort && n <= from) [[likely]] {
      std::memcpy(out + n, in + from, kShort);
    } else if (len != 0) {  // an empty input has no data pointer to copy from
      std::memcpy(out + n, in + from, len);
    }
    return n + len;
  }

  std::span<const unsigned char> in_;
  unsigned char* out_;
  std::size_t n_ = 0;
};

}  // namespace code
