// Looking names up: the tag name at a cursor, and the token that follows a tag for the tree.
#include "optimize/markup_safe_names.h"

#include <algorithm>
#include <bit>

#include "optimize/markup_safe_scan.h"
#include "optimize/markup_safe_state.h"

namespace markup::safe {

std::uint16_t look_up_name(std::span<const unsigned char> in, std::size_t from, State& st) {
  st.named_from = from;
  if (in.size() - from >= 16) {
    // Most names end within eight bytes, nearly all within 16: keyed 16 bytes at once.
    TagNameKey key;
    std::size_t length = 0;
#ifdef SVELTERY_SSE2
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in.data() + from));
    // The bytes below '0' and '>', as name_stops flags them; bit 16 ends a name of 16 or more.
    const __m128i stops = _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(a, _mm_set1_epi8('/')), a),
                                       _mm_cmpeq_epi8(a, _mm_set1_epi8('>')));
    length = static_cast<std::size_t>(
        std::countr_zero(static_cast<std::uint32_t>(_mm_movemask_epi8(stops)) | 0x10000u));
    const __m128i upper_offset = _mm_sub_epi8(a, _mm_set1_epi8('A'));  // 'A'..'Z' become 0..25
    const __m128i upper =
        _mm_cmpeq_epi8(_mm_min_epu8(upper_offset, _mm_set1_epi8(25)), upper_offset);
    const __m128i folded = _mm_or_si128(a, _mm_and_si128(upper, _mm_set1_epi8(0x20)));
    const auto v0 = static_cast<std::uint64_t>(_mm_cvtsi128_si64(folded));
    const auto v1 = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(folded, folded)));
#else
    const std::uint64_t w0 = swar::load8(in.data() + from);
    const std::uint64_t w1 = swar::load8(in.data() + from + 8);
    const std::uint64_t m0 = name_stops(w0);
    const std::uint64_t m1 = name_stops(w1);
    length = m0 != 0 ? swar::first_byte(m0) : m1 != 0 ? 8 + swar::first_byte(m1) : 16;
    const std::uint64_t v0 = fold_word(w0);
    const std::uint64_t v1 = fold_word(w1);
#endif
    // Only two bytes of the second word count: longer names are not looked up.
    key.lo = length < 8 ? v0 & ((std::uint64_t{1} << (8 * length)) - 1) : v0;
    key.hi = length <= 8 ? 0 : v1 & (length == 9 ? 0xFF : 0xFFFF);
    if (length < 16 && kNameStop[in[from + length]]) {
      st.named_end = from + length;
      key.hi |= std::uint64_t{length} << 56;
      st.named = length <= kLongestName ? &meaning_of_key(key) : &kNoMeaning;
      return st.named->kind;
    }
    // A name holding some other byte below '0', or of 16 bytes or more: byte by byte.
  }
  TagNameKey key;
  std::size_t e = from;
  for (; e < in.size() && !kNameStop[in[e]]; ++e)
    if (e - from < kLongestName) key.add(e - from, fold[in[e]]);
  st.named_end = e;
  key.hi |= std::uint64_t{e - from} << 56;
  st.named = e - from <= kLongestName ? &meaning_of_key(key) : &kNoMeaning;
  return st.named->kind;
}

std::uint16_t kind_at(std::span<const unsigned char> in, std::size_t j, State& st) {
  const bool closing = peek(in, j + 1) == '/';
  const std::size_t k = j + 1 + static_cast<std::size_t>(closing);
  if (!kAsciiLetter[peek(in, k)]) return kPlain;
  name_at(in, k, st);
  return st.named->before[closing];
}

tree::Next next_at(std::span<const unsigned char> in, std::size_t j, State& st) {
  if (j == in.size()) return {tree::Next::EndOfInput, {}};
  const bool closing = peek(in, j + 1) == '/';
  const std::size_t from = j + 1 + static_cast<std::size_t>(closing);
  if (in[j] != '<') return {};
  if (!kAsciiLetter[peek(in, from)]) {
    const unsigned char b = peek(in, j + 1);
    const bool comment = (b == '!' && !match_nocase(in, j + 2, "doctype")) ||
                         (b == '?' && !st.php_blocks) ||
                         (closing && in.size() - j > 2 && in[j + 2] != '>');
    if (!comment) return {};
    std::size_t k = match_exact(in, j + 1, "!--")
                        ? comment_close(in, j)
                        : std::min(find_byte(in, j + 1, '>') + 1, in.size());
    while (k < in.size() && kTextSpace[in[k]]) ++k;
    return {tree::Next::Comment, {}, k == in.size()};
  }
  name_at(in, from, st);
  tree::Next next{closing ? tree::Next::EndTag : tree::Next::StartTag,
                  tree::name_with(st.named->tag, in.subspan(from, st.named_end - from))};
  if (closing && (next.name.tag == tree::Body || next.name.tag == tree::Html)) {
    std::size_t k = find_byte(in, st.named_end, '>');
    if (k < in.size()) ++k;
    while (k < in.size() && kTextSpace[in[k]]) ++k;
    next.ends_page = k == in.size();
  }
  return next;
}

}  // namespace markup::safe
