// Text runs and the white space between tags and words under the safe profile.
#include "optimize/whitespace_rules.h"

#include "optimize/markup_safe_scan.h"
#include "optimize/markup_safe_state.h"

namespace markup::safe {

namespace {

// Whether a line break stands in the white space run [i, j): most runs begin with one.
bool holds_line_break(const unsigned char* p, std::size_t i, std::size_t j) {
  for (; i < j; ++i)
    if (p[i] == '\n' || p[i] == '\r') return true;
  return false;
}

}  // namespace

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
      const std::size_t j = space_end(in, i);
      if (j == in.size() || p[j] == '<') break;  // before a tag: text_space's rules
      // The steps of the main loop's that this takes: the run, then the text after it.
      st.ticker.one(i);
      st.ticker.one(j);
      if (st.foreign_depth > 0 || st.styles_white_space || !holds_line_break(p, i, j)) {
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

namespace {

// The tree takes a run of white space that goes or stays; returns `end`. Out of line, so that the
// paths that end here make no call of their own and need no registers saved.
[[gnu::noinline]] std::size_t space_in_tree(State& st, std::size_t end) {
  st.tree.text(true);
  return end;
}

// A run [i, j) copied as it is, longer than copy_piece's single move.
[[gnu::noinline]] std::size_t copy_long_run(std::span<const unsigned char> in, std::size_t i,
                                            std::size_t j, State& st) {
  st.out.copy(in, i, j);
  return space_in_tree(st, j);
}

// A run [i, j) that stays: as it is, or as the one line break it holds when the page sets no
// white-space property itself.
[[gnu::always_inline]] inline std::size_t kept_run(std::span<const unsigned char> in,
                                                   std::size_t i, std::size_t j, State& st) {
  st.left = Left::Text;
  if (!st.styles_white_space && holds_line_break(in.data(), i, j)) {
    st.out.put('\n');
    return space_in_tree(st, j);
  }
  if (j - i > 32 || in.size() - i < 32) return copy_long_run(in, i, j, st);
  copy_piece(st.out, in, i, j);
  return space_in_tree(st, j);
}

// A run [i, j) after a tag or at the start: it goes where it cannot show and the tree builds the
// same nodes without it. Only here is the next token read.
[[gnu::noinline]] std::size_t run_after_tag(std::span<const unsigned char> in, std::size_t i,
                                            std::size_t j, State& st) {
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
    if (space_cannot_show_before_tag(left, kPlain) && st.tree.space_may_go(next_other_at(in, j, st)))
      return j;
    return kept_run(in, i, j, st);
  }
  name_at(in, from, st);
  if (space_cannot_show_before_tag(left, st.named->before[closing]) &&
      st.tree.space_may_go(named_next(in, from, closing, st)))
    return j;
  return kept_run(in, i, j, st);
}

// A run in SVG or MathML, copied unchanged.
[[gnu::noinline]] std::size_t foreign_space(std::span<const unsigned char> in, std::size_t i,
                                            std::size_t j, State& st) {
  st.tree.text(true);
  st.left = Left::Text;
  return copy_kept(in, i, j, st);
}

}  // namespace

std::size_t text_space(std::span<const unsigned char> in, std::size_t i, State& st) {
  const std::size_t j = space_end(in, i);
  if (st.foreign_depth > 0) return foreign_space(in, i, j, st);
  const Left left = st.left;
  const bool text_right = j < in.size() && in[j] != '<';
  if (!(left == Left::Text && st.text_has_content && text_right)) {  // not between two words
    const int prev = st.out.prev();
    if (prev == ' ' || prev == '\n') return space_in_tree(st, j);  // one already, after a dropped comment
    if (left == Left::Start || (left != Left::Text && !text_right))
      return run_after_tag(in, i, j, st);
  }
  return kept_run(in, i, j, st);
}

}  // namespace markup::safe
