// What the safe profile's single pass carries from token to token, and how it copies bytes.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "optimize/markup.h"
#include "optimize/markup_out.h"
#include "optimize/markup_safe_names.h"
#include "optimize/open_elements.h"
#include "optimize/tag_memo.h"

namespace markup::safe {

// What one pass over a page carries from token to token.
struct State {
  Out out;
  bool php_blocks = false;
  Left left = Left::Start;
  bool text_has_content = false;  // the text since the last tag holds more than white space
  std::int32_t foreign_depth = 0;
  bool styles_white_space = false;  // the page itself mentions white-space: keep text runs whole
  // Whether it does is learnt where it first matters, the first run cut to its line break: the
  // page before it is looked at then, behind the pass, where its bytes are in the cache, and the
  // rest at the end. Should the rest mention white-space, the pass starts again knowing it.
  bool look_pending = false;        // no run has been cut yet, and the page is not looked at
  std::size_t unlooked = SIZE_MAX;  // where the part of the page not looked at begins, if any
  bool p_open = false;              // a P element is the innermost block open
  InlineCode code{};                // which of <style>, style="" and <script> are minified
  tree::OpenElements tree;          // what the parser has built so far, as far as it is certain
  // The progress bar's count of steps: the main loop's, and those a text run takes in for it.
  Ticker ticker;
  // The last tag name looked up: white space before a tag looks at it, then the tag itself.
  std::size_t named_from = SIZE_MAX;
  std::size_t named_end = 0;
  const Meaning* named = &kNoMeaning;
  bool self_closing = false;  // the last tag tag() read ended in "/>"
  // The last tag tag() read was written from its bytes alone, as it would be anywhere on the page.
  bool by_bytes = false;
#ifdef SVELTERY_SSE2
  TagMemo memo;
#endif
};

// The end and meaning of the tag name that starts at `from`, in st.named_end and st.named; returns
// its kind. White space before a tag looks its name up, then the tag itself: the last name is kept.
inline std::uint16_t name_at(std::span<const unsigned char> in, std::size_t from, State& st) {
  if (st.named_from != from) {
    st.named_from = from;
    st.named = &name_meaning(in, from, &st.named_end);
  }
  return st.named->kind;
}

// The tag whose name starts at `from`, for the tree, once name_at has looked that name up.
inline tree::Next named_next(std::span<const unsigned char> in, std::size_t from, bool closing,
                             const State& st) {
  tree::Next next{closing ? tree::Next::EndTag : tree::Next::StartTag,
                  tree::name_with(st.named->tag, bytes_between(in, from, st.named_end))};
  if (closing && (next.name.tag == tree::Body || next.name.tag == tree::Html))
    next.ends_page = ends_page_after(in, st.named_end);
  return next;
}

// The token at `j` for the tree: a tag with its name, a comment, the end of input, or something
// else.
inline tree::Next next_at(std::span<const unsigned char> in, std::size_t j, State& st) {
  const bool closing = peek(in, j + 1) == '/';
  const std::size_t from = j + 1 + static_cast<std::size_t>(closing);
  if (j == in.size() || in[j] != '<' || !kAsciiLetter[peek(in, from)])
    return next_other_at(in, j, st);
  name_at(in, from, st);
  return named_next(in, from, closing, st);
}

// Copies [from, to) to the output. Most pieces (names, values, short runs) are at most 32 bytes and
// go as one 32-byte move while the input has that many bytes left: the output never runs ahead of
// the input, so the move stays inside the buffer, and what it writes past the piece is written over
// later.
inline void copy_piece(Out& out, std::span<const unsigned char> in, std::size_t from,
                       std::size_t to) {
  assert(out.n <= from);
  if (to - from <= 32 && in.size() - from >= 32) {
    std::memcpy(out.base + out.n, in.data() + from, 32);
    out.n += to - from;
  } else {
    out.copy(in, from, to);
  }
}

// Copies [s, end) unchanged and returns `end`.
inline std::size_t copy_kept(std::span<const unsigned char> in, std::size_t s, std::size_t end,
                             State& st) {
  copy_piece(st.out, in, s, end);
  return end;
}

}  // namespace markup::safe
