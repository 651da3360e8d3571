// Looking names up: the tag name at a cursor, and the token that follows a tag for the tree.
#include "optimize/markup_safe_names.h"

#include <algorithm>
#include <bit>

#include "optimize/markup_safe_scan.h"
#include "optimize/markup_safe_state.h"

namespace markup::safe {

const Meaning& name_meaning_bytewise(std::span<const unsigned char> in, std::size_t from,
                                     std::size_t* end) {
  TagNameKey key;
  std::size_t e = from;
  for (; e < in.size() && !kNameStop[in[e]]; ++e)
    if (e - from < kLongestName) key.add(e - from, fold[in[e]]);
  *end = e;
  key.hi |= std::uint64_t{e - from} << 56;
  return e - from <= kLongestName ? meaning_of_key(key) : kNoMeaning;
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
