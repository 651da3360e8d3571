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

tree::Next next_other_at(std::span<const unsigned char> in, std::size_t j, const State& st) {
  if (j == in.size()) return {tree::Next::EndOfInput, {}};
  if (in[j] != '<') return {};
  const unsigned char b = peek(in, j + 1);
  const bool comment = (b == '!' && !match_nocase(in, j + 2, "doctype")) ||
                       (b == '?' && !st.php_blocks) ||
                       (b == '/' && in.size() - j > 2 && in[j + 2] != '>');
  if (!comment) return {};
  std::size_t k = match_exact(in, j + 1, "!--")
                      ? comment_close(in, j)
                      : std::min(find_byte(in, j + 1, '>') + 1, in.size());
  while (k < in.size() && kTextSpace[in[k]]) ++k;
  return {tree::Next::Comment, {}, k == in.size()};
}

bool ends_page_after(std::span<const unsigned char> in, std::size_t name_end) {
  std::size_t k = find_byte(in, name_end, '>');
  if (k < in.size()) ++k;
  while (k < in.size() && kTextSpace[in[k]]) ++k;
  return k == in.size();
}

}  // namespace markup::safe
