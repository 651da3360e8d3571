// Text and the white space runs of a page under the safe profile: what goes, and what must stay
// because it could show, make a text node, rebuild formatting elements or move into a table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "optimize/markup_safe_names.h"

namespace markup::safe {

struct State;

// Text up to the next '<' or white space run; returns its end.
std::size_t text_content(std::span<const unsigned char> in, std::size_t i, State& st);

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

// A run of white space in text. Next to text it may show however the style sheets the page links
// lay it out (an element made an inline block, a line under white-space: pre-wrap), so only what
// cannot differ goes: a run stays as it is, except that one holding a line break becomes that line
// break when the page sets no white-space property itself. Between two tags it also goes where it
// cannot show (the edge of a block box, between two block or head tags).
std::size_t text_space(std::span<const unsigned char> in, std::size_t i, State& st);

}  // namespace markup::safe
