// The default profile's text white-space rules and their bulk scanners.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "optimize/byte_scan.h"
#include "optimize/markup_out.h"

// Text between tags. Each byte text_run() consumes is one iteration, and so is each text_step().
namespace markup {

// Forms of block-level tags: white space between one of them and the next tag never shows. Letters
// match either case; '<', '/', '>' and digits match exactly. Only these forms count: "<TH>",
// "<DIV>",
// "</BR>" or "<BODY>" do not.
inline constexpr std::array<std::string_view, 34> kBlockTagForms = {
    "<p>",     "</p>",    "<br>",    "<dd>",     "<dl>",     "<dt>",    "<h1>",
    "<h2>",    "<h3>",    "<h4>",    "<h5>",     "<h6>",     "<hr>",    "<li>",
    "<ol>",    "<td>",    "</td>",   "<tr>",     "</tr>",    "<ul>",    "</ul>",
    "<col>",   "<head>",  "</head>", "<html>",   "</html>",  "<title>", "</title>",
    "</body>", "</form>", "</menu>", "</frame>", "</layer>", "</table>"};

// True when the output ends with a block tag form. Only the output counts, so "<P >" (written as
// "<P>") does and "<P ALIGN=x>" does not, and a removed comment after the tag hides nothing.
inline bool ends_with_block_tag(const Out& out) {
  // Every form holds one '<': the last '<' among the final eight bytes picks the only candidate
  // length, so most tails are settled without comparing a single form.
  const std::size_t window = out.n < 8 ? out.n : 8;
  std::size_t length = 3;  // "<p>" is the shortest form
  while (length <= window && out.base[out.n - length] != '<') ++length;
  if (length > window) return false;
  const unsigned char* tail = out.base + (out.n - length);
  for (const std::string_view form : kBlockTagForms) {
    if (form.size() != length) continue;
    std::size_t k = 1;
    while (k < length && fold[tail[k]] == static_cast<unsigned char>(form[k])) ++k;
    if (k == length) return true;
  }
  return false;
}

inline constexpr auto kWhiteSpace = byte_set(" \n\t\r");
inline constexpr auto kBreakOrTab = byte_set("\n\t\r");

// Bytes with a text rule of their own.
inline constexpr auto kTextRule = byte_set("<&\t\n\r ");

// The bytes of eight (`v`) that may need a rule of their own: '<', '&', TAB, LF, CR, and a space
// after a space or '>'. Some plain bytes are flagged too and sorted out one at a time: '>' itself
// (rare in text; testing '<' and '>' together saves a test) and the control bytes below CR. `prev`
// is the output byte before the eight.
inline std::uint64_t text_stops(std::uint64_t v, unsigned char prev) {
  using namespace swar;
  const std::uint64_t space = equal_bytes(v, ' ');
  const std::uint64_t angle = equal_bytes(v | (kOnes * 2), '>');  // '<' (0x3C) or '>' (0x3E)
  const std::uint64_t after = ((space | angle) << 8) | (prev == ' ' || prev == '>' ? 0x80 : 0);
  return angle | equal_bytes(v, '&') | below_bytes(v, '\r' + 1) | (space & after);
}

struct TextStops {
  std::uint64_t eight(std::uint64_t v, unsigned char prev, unsigned char) const {
    return text_stops(v, prev);
  }
#ifdef SVELTERY_SSE2
  std::uint32_t wide(const Lanes& l, unsigned char prev, unsigned char) const {
    const std::uint32_t angle = l.lt | l.gt;
    const std::uint32_t after = ((l.space | angle) << 1) | (prev == ' ' || prev == '>' ? 1 : 0);
    return angle | l.amp | l.low | (l.space & after);
  }
#endif
};

// Handles text from `i` for as long as every byte is an iteration of its own: copied, dropped or
// turned into a space. Stops at '<', at "&nbsp;" and at a space right after a block tag, which
// text_step() handles; returns where it stopped.
inline std::size_t text_run(std::span<const unsigned char> in, std::size_t i, Out& out) {
  const unsigned char* p = in.data();
  const std::size_t n = in.size();
  unsigned char* o = out.base;
  std::size_t w = out.n;
  std::size_t j = i;
  while (j < n) {
    const unsigned char c = p[j];
    if (!kTextRule[c]) {
      o[w++] = c;
      const std::size_t copied = copy_plain(in, j + 1, o + w, TextStops{});
      j += 1 + copied;
      w += copied;
      continue;
    }
    if (c == '<') break;
    if (c == '&') {
      if (match_exact(in, j, "&nbsp;")) break;
      o[w++] = c;
      ++j;
      continue;
    }
    // White space. Nothing is written while it is dropped, so the previous output byte decides
    // for a whole run: after a space all of it goes, after any other non-word byte all but spaces.
    const int prev = w == 0 ? -1 : o[w - 1];
    if (prev == ' ') {
      do ++j;
      while (j < n && kWhiteSpace[p[j]]);
      continue;
    }
    const bool after_word = prev >= 0 && is_word_byte[static_cast<unsigned char>(prev)];
    if (c != ' ' && !after_word) {
      do ++j;
      while (j < n && kBreakOrTab[p[j]]);
      continue;
    }
    if (c == ' ') {
      if (prev == '>') {
        out.n = w;
        if (ends_with_block_tag(out)) break;
      }
      o[w++] = ' ';
    } else if (c != '\t' && is_word_byte[peek(in, j + 1)]) {
      o[w++] = ' ';  // a line break between two words; elsewhere it does not show, nor does a tab
    }
    ++j;
  }
  out.n = w;
  return j;
}

// "&nbsp;" is kept, with a line break right after it written as one LF: the author wanted a
// visible space there, and the break keeps the source readable.
inline std::size_t nbsp_entity(std::span<const unsigned char> in, std::size_t i, Out& out) {
  if (!match_exact(in, i, "&nbsp;")) {
    out.put('&');
    return i + 1;
  }
  out.copy(in, i, i + 6);
  i += 6;
  if (i < in.size() && (in[i] == '\n' || in[i] == '\r')) {
    out.put('\n');
    ++i;
  }
  return i;
}

// A space right after a block tag: the white space up to the next tag (or the end) goes at once.
// Before text one space stays, and the rest of the run is left to text_run(), which drops it byte
// by byte now that the output ends with a space.
inline std::size_t white_space_after_block_tag(std::span<const unsigned char> in, std::size_t i,
                                               Out& out) {
  std::size_t j = i;
  while (j < in.size() && kWhiteSpace[in[j]]) ++j;
  if (j == in.size() || in[j] == '<') return j;
  out.put(' ');
  return i + 1;
}

// One iteration on what text_run() stopped at, other than '<': "&nbsp;" or a space right after a
// block tag. Either may take several bytes.
inline std::size_t text_step(std::span<const unsigned char> in, std::size_t i, Out& out) {
  return in[i] == '&' ? nbsp_entity(in, i, out) : white_space_after_block_tag(in, i, out);
}

}  // namespace markup
