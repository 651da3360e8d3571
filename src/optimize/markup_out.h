// The markup optimizers' output buffer and bulk copies.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "optimize/byte_scan.h"
#include "optimize/progress_sink.h"

// Every x86-64 processor has SSE2: there the scanners read 32 bytes at a time with it. Elsewhere,
// or with SVELTERY_NO_SIMD (the sanitizer build tests that way), they read words of eight bytes.
#if defined(__SSE2__) && !defined(SVELTERY_NO_SIMD)
#define SVELTERY_SSE2 1
#include <emmintrin.h>
#endif

namespace markup {

// Write cursor over a buffer sized once to the input length. No rule writes more bytes than it
// consumes, so there is never a bounds check here.
struct Out {
  unsigned char* base = nullptr;
  std::size_t n = 0;

  void put(unsigned char b) { base[n++] = b; }
  void copy(std::span<const unsigned char> in, std::size_t from, std::size_t to) {
    if (to <= from) return;
    std::memcpy(base + n, in.data() + from, to - from);
    n += to - from;
  }
  // The byte before the cursor; -1 while nothing has been written.
  int prev() const { return n == 0 ? -1 : base[n - 1]; }
};

// Counts main-loop iterations: the first one ticks, then every (interval + 1)-th. The bar moves by
// iterations, not bytes, so a long tag or comment counts once.
struct Ticker {
  ProgressSink* sink = nullptr;
  std::int64_t total = 0;
  std::int64_t interval = 0;
  std::int64_t countdown = 0;

  // One iteration that begins with `done` input bytes consumed.
  void one(std::size_t done) {
    if (sink == nullptr) return;
    if (countdown != 0) {
      --countdown;
      return;
    }
    countdown = interval;
    sink->tick(total, static_cast<std::int64_t>(done));
  }

  // `count` one-byte iterations in a row, the first beginning at `done`: the same ticks as calling
  // one() for each, without a call per byte.
  void run(std::size_t count, std::size_t done) {
    if (sink == nullptr) return;
    auto left = static_cast<std::int64_t>(count);
    auto at = static_cast<std::int64_t>(done);
    while (left > countdown) {
      at += countdown;
      left -= countdown;
      sink->tick(total, at);
      countdown = interval;
      ++at;
      --left;
    }
    countdown -= left;
  }
};

#ifdef SVELTERY_SSE2
// The bytes of 32 that the scanners look for, one bit per byte (bit k for p[k]), exact.
struct Lanes {
  std::uint32_t space, gt, lt, amp, low;  // low: the control bytes up to CR
};

inline Lanes lanes32(const unsigned char* p) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
  const auto bits = [](__m128i lo, __m128i hi) {
    return static_cast<std::uint32_t>(_mm_movemask_epi8(lo)) |
           static_cast<std::uint32_t>(_mm_movemask_epi8(hi)) << 16;
  };
  const auto equal = [&](char c) {
    const __m128i k = _mm_set1_epi8(c);
    return bits(_mm_cmpeq_epi8(a, k), _mm_cmpeq_epi8(b, k));
  };
  const __m128i cr = _mm_set1_epi8('\r');
  return {equal(' '), equal('>'), equal('<'), equal('&'),
          bits(_mm_cmpeq_epi8(_mm_min_epu8(a, cr), a), _mm_cmpeq_epi8(_mm_min_epu8(b, cr), b))};
}
#endif

// Copies bytes from `j` to `dst` while `stops` flags none of them, 32 or eight at a time, and
// returns how many it copied. `stops.eight(v, prev, next)` flags the bytes of eight (a word)
// that may need a rule of their own, given the byte before them and the input byte after them;
// `stops.wide(lanes, prev, next)` does the same for 32 bytes, one bit each. The copy stops at a
// flagged byte, or with fewer than eight bytes left. dst[-1] is the previous output byte; dst lies
// no further on than `j` in its own buffer, so the whole rounds it writes stay inside it (bytes
// past the stop are overwritten later).
template <class Stops>
inline std::size_t copy_plain(std::span<const unsigned char> in, std::size_t j, unsigned char* dst,
                              Stops stops) {
  const unsigned char* p = in.data();
  const std::size_t n = in.size();
  const std::size_t start = j;
  unsigned char prev = dst[-1];  // then the last byte of the previous round, copied unchanged
  while (n - j >= 32) {
#ifdef SVELTERY_SSE2
    const std::uint32_t flagged = stops.wide(lanes32(p + j), prev, peek(in, j + 32));
    std::memcpy(dst + (j - start), p + j, 32);
    if (flagged != 0) return j + static_cast<std::size_t>(std::countr_zero(flagged)) - start;
    j += 32;
#else
    const std::uint64_t m0 = stops.eight(swar::load8(p + j), prev, p[j + 8]);
    const std::uint64_t m1 = stops.eight(swar::load8(p + j + 8), p[j + 7], p[j + 16]);
    const std::uint64_t m2 = stops.eight(swar::load8(p + j + 16), p[j + 15], p[j + 24]);
    const std::uint64_t m3 = stops.eight(swar::load8(p + j + 24), p[j + 23], peek(in, j + 32));
    std::memcpy(dst + (j - start), p + j, 32);
    const std::size_t k = swar::first_byte(m0, m1, m2, m3);
    j += k;
    if (k < 32) return j - start;
#endif
    prev = p[j - 1];
  }
  while (n - j >= 8) {
    const std::uint64_t flagged = stops.eight(swar::load8(p + j), prev, peek(in, j + 8));
    std::memcpy(dst + (j - start), p + j, 8);
    if (flagged != 0) return j + swar::first_byte(flagged) - start;
    j += 8;
    prev = p[j - 1];
  }
  return j - start;
}

}  // namespace markup
