// Text and the white space runs of a page under the safe profile: what goes, and what must stay
// because it could show, make a text node, rebuild formatting elements or move into a table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "optimize/markup_safe_names.h"
#include "optimize/markup_safe_scan.h"
#include "optimize/markup_safe_state.h"

namespace markup::safe {

// White space between `left` and something of kind `right` (a tag, or kPlain for text).
// `right_is_tag` tells a tag of kind kPlain from text.
inline bool space_cannot_show(Left left, std::uint16_t right, bool right_is_tag) {
  const bool edge_left = left == Left::Start || left == Left::EdgeEnd;
  const bool block_left = edge_left || left == Left::BlockTag || left == Left::ContainerStart;
  const bool tag_left = left != Left::Text;
  if (edge_left || (right & kEdge) == kEdge || (block_left && (right & kBlock) != 0)) return true;
  // Inside a container, between its tag and a tag.
  return tag_left && right_is_tag && (left == Left::ContainerStart || (right & kContainer) != 0);
}

// space_cannot_show before a tag of kind `right`, in fewer tests.
inline bool space_cannot_show_before_tag(Left left, std::uint16_t right) {
  switch (left) {
    case Left::Text:
      return (right & kEdge) == kEdge;
    case Left::BlockTag:  // kEdge holds kBlock
      return (right & (kBlock | kContainer)) != 0;
    case Left::OtherTag:
      return (right & kEdge) == kEdge || (right & kContainer) != 0;
    case Left::Start:
    case Left::EdgeEnd:
    case Left::ContainerStart:
      break;
  }
  return true;
}

// text_space's steps that make calls, out of line: a run longer than copy_piece's single move, a
// run after a tag or at the start (the only ones that may go, and the only ones that read the next
// token), and a run in SVG or MathML.
std::size_t copy_long_run(std::span<const unsigned char> in, std::size_t i, std::size_t j,
                          State& st);
std::size_t run_after_tag(std::span<const unsigned char> in, std::size_t i, std::size_t j,
                          State& st);
std::size_t foreign_space(std::span<const unsigned char> in, std::size_t i, std::size_t j,
                          State& st);

// The tree takes a run of white space that goes or stays; returns `end`.
inline std::size_t space_in_tree(State& st, std::size_t end) {
  st.tree.text(true);
  return end;
}

// Whether a line break stands in the white space run [i, j): most runs begin with one.
inline bool holds_line_break(const unsigned char* p, std::size_t i, std::size_t j) {
  for (; i < j; ++i)
    if (p[i] == '\n' || p[i] == '\r') return true;
  return false;
}

// The first run that cuts_to_line_break would cut, out of line: false when the page before it
// mentions white-space.
bool first_cut(std::span<const unsigned char> in, std::size_t i, State& st);

// Whether the run [i, j) is cut to the one line break it holds: not where the page mentions
// white-space. A run that is that line break already reads the same either way.
inline bool cuts_to_line_break(std::span<const unsigned char> in, std::size_t i, std::size_t j,
                               State& st) {
  if (st.styles_white_space || !holds_line_break(in.data(), i, j)) return false;
  return !st.look_pending || (j - i == 1 && in[i] == '\n') || first_cut(in, i, st);
}

// A run [i, j) that stays: as it is, or as the one line break it holds when the page sets no
// white-space property itself.
inline std::size_t kept_run(std::span<const unsigned char> in, std::size_t i, std::size_t j,
                            State& st) {
  st.left = Left::Text;
  if (cuts_to_line_break(in, i, j, st)) {
    st.out.put('\n');
    return space_in_tree(st, j);
  }
  if (j - i > 32 || in.size() - i < 32) return copy_long_run(in, i, j, st);
  copy_piece(st.out, in, i, j);
  return space_in_tree(st, j);
}

// A run of white space in text. Next to text it may show however the style sheets the page links
// lay it out (an element made an inline block, a line under white-space: pre-wrap), so only what
// cannot differ goes: a run stays as it is, except that one holding a line break becomes that line
// break when the page sets no white-space property itself. Between two tags it also goes where it
// cannot show (the edge of a block box, between two block or head tags). Inline in the main loop:
// most runs are decided with a few loads.
inline std::size_t text_space(std::span<const unsigned char> in, std::size_t i, State& st) {
  const std::size_t j = space_end(in, i);
  if (st.foreign_depth > 0) return foreign_space(in, i, j, st);
  const Left left = st.left;
  const bool text_right = j < in.size() && in[j] != '<';
  if (!(left == Left::Text && st.text_has_content && text_right)) {  // not between two words
    const int prev = st.out.prev();
    if (prev == ' ' || prev == '\n') return space_in_tree(st, j);  // one already: a comment went
    if (left == Left::Start || (left != Left::Text && !text_right))
      return run_after_tag(in, i, j, st);
  }
  return kept_run(in, i, j, st);
}

// Text up to the next '<' or white space run; returns its end. Inline in the main loop, where
// the state it keeps stays in registers: the compiler would make it a call of its own.
[[gnu::always_inline]] inline std::size_t text_content(std::span<const unsigned char> in,
                                                       std::size_t i, State& st) {
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
      if (st.foreign_depth == 0 && cuts_to_line_break(in, i, j, st)) {
        o[w++] = '\n';
      } else {
        Out run{o, w};
        copy_piece(run, in, i, j);
        w = run.n;
      }
      i = j;
    }
  }
  st.out.n = w;
  return i;
}

}  // namespace markup::safe
