// Text runs and the white space between tags and words under the safe profile.
#include "optimize/whitespace_rules.h"

#include "optimize/markup_safe_scan.h"
#include "optimize/markup_safe_state.h"

namespace markup::safe {

std::size_t text_content(std::span<const unsigned char> in, std::size_t i, State& st) {
  st.tree.text(false);
  st.left = Left::Text;
  st.text_has_content = true;
  const unsigned char* const p = in.data();
  unsigned char* const o = st.out.base;  // locals, as in tag()
  std::size_t w = st.out.n;
  for (;;) {
    // The first byte is never '<' nor the start of a white space run: copy it as it is.
    o[w++] = p[i++];
    const std::size_t copied = copy_text(in, i, o + w);
    i += copied;
    w += copied;
    if (i >= in.size()) break;
    const unsigned char c = p[i];
    if (c == '<') break;
    if (kTextSpace[c] && (c != ' ' || kTextSpace[peek(in, i + 1)])) {
      // White space between two words: decided here, as text_space would (the tree has taken
      // this text already, and white space next to it changes nothing there).
      bool line_break = false;
      const std::size_t j = space_run_end(in, i, &line_break);
      if (j == in.size() || p[j] == '<') break;  // before a tag: text_space's rules
      // The steps of the main loop's that this takes: the run, then the text after it.
      st.ticker.one(i);
      st.ticker.one(j);
      if (st.foreign_depth > 0 || !line_break || st.styles_white_space) {
        Out run{o, w};
        copy_piece(run, in, i, j);
        w = run.n;
      } else {
        o[w++] = '\n';
      }
      i = j;
    }
  }
  st.out.n = w;
  return i;
}

std::size_t text_space(std::span<const unsigned char> in, std::size_t i, State& st) {
  bool line_break = false;
  const std::size_t j = space_run_end(in, i, &line_break);
  const Left left = st.left;
  if (st.foreign_depth > 0) {
    st.tree.text(true);
    st.left = Left::Text;
    return copy_kept(in, i, j, st);
  }
  const bool text_right = j < in.size() && in[j] != '<';
  if (!(left == Left::Text && st.text_has_content && text_right)) {  // not between two words
    const int prev = st.out.prev();
    if (prev == ' ' || prev == '\n') {  // already one, after a dropped comment
      st.tree.text(true);
      return j;
    }
    if (left == Left::Start || (left != Left::Text && !text_right)) {
      const std::uint16_t right = j == in.size() ? kEdge : text_right ? kPlain : kind_at(in, j, st);
      // A run that goes makes no node of its own in the tree: the tree does not change with it.
      if (space_cannot_show(left, right, !text_right) && st.tree.space_may_go(next_at(in, j, st)))
        return j;
    }
  }
  st.tree.text(true);
  st.left = Left::Text;
  if (!line_break || st.styles_white_space) return copy_kept(in, i, j, st);
  st.out.put('\n');
  return j;
}

}  // namespace markup::safe
