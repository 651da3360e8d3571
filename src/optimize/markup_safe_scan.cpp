// Where constructs end, by the tokenizer's rules: raw text, comments, PHP blocks, tags.
#include "optimize/markup_safe_scan.h"

#include "optimize/markup_constructs.h"

#if defined(SVELTERY_SSE2) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace markup::safe {

std::size_t end_tag_start(std::span<const unsigned char> in, std::size_t j,
                          std::span<const unsigned char> name) {
  for (;;) {
    j = find_byte(in, j, '<');
    if (j == in.size()) return j;
    if (peek(in, j + 1) == '/' && in.size() - (j + 2) > name.size()) {
      std::size_t k = 0;
      while (k < name.size() && fold[in[j + 2 + k]] == fold[name[k]]) ++k;
      const unsigned char after = in[j + 2 + name.size()];
      if (k == name.size() && (kHtmlSpace[after] || after == '/' || after == '>')) return j;
    }
    ++j;
  }
}

std::size_t nested_end_tag_start(std::span<const unsigned char> in, std::size_t j,
                                 std::span<const unsigned char> name) {
  std::int32_t depth = 0;
  for (;;) {
    j = find_byte(in, j, '<');
    if (j == in.size()) return j;
    const bool closing = peek(in, j + 1) == '/';
    const std::size_t at = j + (closing ? 2 : 1);
    if (in.size() - at > name.size()) {
      std::size_t k = 0;
      while (k < name.size() && fold[in[at + k]] == fold[name[k]]) ++k;
      const unsigned char after = in[at + name.size()];
      if (k == name.size() && (kHtmlSpace[after] || after == '/' || after == '>')) {
        if (!closing) {
          ++depth;
        } else if (depth-- == 0) {
          return j;
        }
      }
    }
    ++j;
  }
}

std::size_t php_holder_end(std::span<const unsigned char> in, std::size_t s,
                           std::string_view stop) {
  const std::size_t first_stop = [&] {
    for (std::size_t k = s + 1; k < in.size(); ++k)
      if (match_exact(in, k, stop)) return k;
    return in.size();
  }();
  bool holds_php = false;
  for (std::size_t k = s + 1; k + 1 < first_stop && !holds_php; ++k)
    holds_php = in[k] == '<' && in[k + 1] == '?';
  if (!holds_php) return 0;
  unsigned char quote = 0;
  std::size_t k = s + 1;
  while (k < in.size()) {
    if (in[k] == '<' && peek(in, k + 1) == '?') {
      k = php_block_end(in, k);
      continue;
    }
    if (quote != 0) {
      if (in[k] == quote) quote = 0;
    } else if (stop.size() == 1 && (in[k] == '"' || in[k] == '\'')) {
      quote = in[k];
    } else if (match_exact(in, k, stop)) {
      return k + stop.size();
    }
    ++k;
  }
  return in.size();
}

bool conditional_comment(std::span<const unsigned char> in, std::size_t s) {
  return match_exact(in, s + 4, "[if") || match_exact(in, s + 4, "<![endif");
}

std::size_t comment_close(std::span<const unsigned char> in, std::size_t s) {
  if (peek(in, s + 4) == '>') return s + 5;                            // "<!-->"
  if (peek(in, s + 4) == '-' && peek(in, s + 5) == '>') return s + 6;  // "<!--->"
  std::size_t j = s + 4;
  for (;;) {
    j = find_byte(in, j, '-');
    if (j == in.size()) return j;
    if (peek(in, j + 1) == '-') {
      if (peek(in, j + 2) == '>') return j + 3;
      if (peek(in, j + 2) == '!' && peek(in, j + 3) == '>') return j + 4;
    }
    ++j;
  }
}

bool html_doctype(std::span<const unsigned char> in, std::size_t s) {
  std::size_t k = s + 9;
  if (!kHtmlSpace[peek(in, k)]) return false;
  while (kHtmlSpace[peek(in, k)]) ++k;
  if (!match_nocase(in, k, "html")) return false;
  k += 4;
  while (kHtmlSpace[peek(in, k)]) ++k;
  return peek(in, k) == '>';
}

std::size_t tag_close(std::span<const unsigned char> in, std::size_t k, std::size_t to) {
  while (k < to) {
    const unsigned char c = in[k];
    if (c == '>') return k;
    if (c == '=') {
      ++k;
      while (k < to && kHtmlSpace[in[k]]) ++k;
      if (k < to && (in[k] == '"' || in[k] == '\'')) {
        const std::size_t q = find_byte(in.first(to), k + 1, in[k]);
        if (q >= to) return to;
        k = q + 1;
      }
      continue;
    }
    ++k;
  }
  return to;
}

namespace {

constexpr std::string_view kWhiteSpaceWord = "hite-space";
constexpr std::size_t kDash = 4;  // where the '-' stands in kWhiteSpaceWord

#ifdef SVELTERY_SSE2
// Whether "white-space" begins at one of the bits of `dashes` (bit b: the '-' at k + b).
bool dash_starts_word(std::span<const unsigned char> in, std::size_t k, std::uint64_t dashes) {
  for (; dashes != 0; dashes &= dashes - 1)
    if (match_exact(in, k + static_cast<std::size_t>(std::countr_zero(dashes)) - kDash,
                    kWhiteSpaceWord))
      return true;
  return false;
}
#endif

#if defined(SVELTERY_SSE2) && defined(__GNUC__)
constexpr std::size_t kFound = SIZE_MAX;

// 64 bytes a step in two 32-byte looks where the processor has AVX2: the scan reads the whole
// page, and this way takes little more time than reading it. Returns where it stopped, for the
// look that ends the scan, or kFound.
__attribute__((target("avx2"))) std::size_t dash_s_steps_avx2(std::span<const unsigned char> in,
                                                              std::size_t k, std::size_t to) {
  const unsigned char* const p = in.data();
  for (; to >= 65 && k <= to - 65; k += 64) {
    const __m256i a0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + k));
    const __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + k + 1));
    const __m256i a1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + k + 32));
    const __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + k + 33));
    const __m256i dash = _mm256_set1_epi8('-');
    const __m256i s = _mm256_set1_epi8('s');
    const __m256i m0 = _mm256_and_si256(_mm256_cmpeq_epi8(a0, dash), _mm256_cmpeq_epi8(b0, s));
    const __m256i m1 = _mm256_and_si256(_mm256_cmpeq_epi8(a1, dash), _mm256_cmpeq_epi8(b1, s));
    const __m256i any = _mm256_or_si256(m0, m1);
    if (_mm256_testz_si256(any, any)) continue;
    const auto bits0 = static_cast<std::uint32_t>(_mm256_movemask_epi8(m0));
    const auto bits1 = static_cast<std::uint32_t>(_mm256_movemask_epi8(m1));
    if (dash_starts_word(in, k, bits0 | std::uint64_t{bits1} << 32)) return kFound;
  }
  return k;
}

// Asked while statics are made, so the processor's features are read here first.
const bool kHasAvx2 = [] {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
}();
#endif

}  // namespace

bool mentions_white_space(std::span<const unsigned char> in, std::size_t from, std::size_t to) {
  std::size_t k = std::max(from, kDash);
#ifdef SVELTERY_SSE2
#ifdef __GNUC__
  if (kHasAvx2) {
    k = dash_s_steps_avx2(in, k, to);
    if (k == kFound) return true;
  }
#endif
  // 64 bytes a step, tried where a "-s" stands: a page holds tens of thousands of hyphens, and
  // trying each one costs more in all than looking at the byte after each too. The step's four
  // looks are joined before one test.
  const unsigned char* const p = in.data();
  const auto dash_s = [p](std::size_t x) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + x));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + x + 1));
    return _mm_and_si128(_mm_cmpeq_epi8(a, _mm_set1_epi8('-')),
                         _mm_cmpeq_epi8(b, _mm_set1_epi8('s')));
  };
  for (; to >= 65 && k <= to - 65; k += 64) {
    const __m128i m0 = dash_s(k);
    const __m128i m1 = dash_s(k + 16);
    const __m128i m2 = dash_s(k + 32);
    const __m128i m3 = dash_s(k + 48);
    if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(m0, m1), _mm_or_si128(m2, m3))) == 0) continue;
    const auto bits = [](__m128i m) {
      return static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(m)));
    };
    if (dash_starts_word(in, k, bits(m0) | bits(m1) << 16 | bits(m2) << 32 | bits(m3) << 48))
      return true;
  }
#endif
  const std::span<const unsigned char> part = in.first(to);
  for (std::size_t d = find_byte(part, k, '-'); d < to; d = find_byte(part, d + 1, '-'))
    if (match_exact(in, d - kDash, kWhiteSpaceWord)) return true;
  return false;
}

}  // namespace markup::safe
