// Looking names up: the tag name at a cursor, and the token that follows a tag for the tree.
#include "optimize/markup_safe_names.h"

#include <algorithm>

#include "optimize/markup_safe_scan.h"
#include "optimize/markup_safe_state.h"

namespace markup::safe {

std::uint16_t name_at(std::span<const unsigned char> in, std::size_t from, State& st) {
  if (st.named_from == from) return st.named->kind;
  st.named_from = from;
  if (in.size() - from >= 16) {
    // Most names end within eight bytes, nearly all within 16: keyed a word at a time.
    TagNameKey key;
    std::size_t length = 0;
    const std::uint64_t v0 = swar::load8(in.data() + from);
    const std::uint64_t m0 = name_stops(v0);
    if (m0 != 0) {
      length = swar::first_byte(m0);
      key.lo = fold_word(v0) & ((std::uint64_t{1} << (8 * length)) - 1);
    } else {
      const std::uint64_t v1 = swar::load8(in.data() + from + 8);
      const std::uint64_t m1 = name_stops(v1);
      length = m1 != 0 ? 8 + swar::first_byte(m1) : 16;
      key.lo = fold_word(v0);
      // Only two bytes of the second word count: longer names are not looked up.
      key.hi = fold_word(v1) & (length == 8 ? 0 : length == 9 ? 0xFF : 0xFFFF);
    }
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
