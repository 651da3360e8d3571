// Text runs and the white space between tags and words under the safe profile.
#include "optimize/whitespace_rules.h"

namespace markup::safe {

// A run [i, j) copied as it is, longer than copy_piece's single move.
std::size_t copy_long_run(std::span<const unsigned char> in, std::size_t i, std::size_t j,
                          State& st) {
  st.out.copy(in, i, j);
  return space_in_tree(st, j);
}

// A run [i, j) after a tag or at the start: it goes where it cannot show and the tree builds the
// same nodes without it. Only here is the next token read.
std::size_t run_after_tag(std::span<const unsigned char> in, std::size_t i, std::size_t j,
                          State& st) {
  // A run that goes makes no node of its own in the tree: the tree does not change with it.
  if (j == in.size()) {  // an edge
    if (st.tree.space_may_go({tree::Next::EndOfInput, {}})) return j;
    return kept_run(in, i, j, st);
  }
  const Left left = st.left;
  if (in[j] != '<') {  // text, after the start: an edge on the left
    if (st.tree.space_may_go(tree::Next{})) return j;
    return kept_run(in, i, j, st);
  }
  const bool closing = peek(in, j + 1) == '/';
  const std::size_t from = j + 1 + static_cast<std::size_t>(closing);
  if (!kAsciiLetter[peek(in, from)]) {  // no name: a tag of kind kPlain for the white space rules
    if (space_cannot_show_before_tag(left, kPlain) &&
        st.tree.space_may_go(next_other_at(in, j, st)))
      return j;
    return kept_run(in, i, j, st);
  }
  name_at(in, from, st);
  if (space_cannot_show_before_tag(left, st.named->before[closing]) &&
      st.tree.space_may_go(named_next(in, from, closing, st)))
    return j;
  return kept_run(in, i, j, st);
}

bool first_cut(std::span<const unsigned char> in, std::size_t i, State& st) {
  st.look_pending = false;
  st.styles_white_space = mentions_white_space(in, 0, i);
  if (!st.styles_white_space) st.unlooked = i;
  return !st.styles_white_space;
}

// A run in SVG or MathML, copied unchanged.
std::size_t foreign_space(std::span<const unsigned char> in, std::size_t i, std::size_t j,
                          State& st) {
  st.tree.text(true);
  st.left = Left::Text;
  return copy_kept(in, i, j, st);
}

}  // namespace markup::safe
