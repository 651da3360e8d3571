// A tag's attributes: separators collapsed, quotes dropped where the value reads the same.
#include "optimize/markup_safe_tag.h"

#include "optimize/inline_code.h"
#include "optimize/markup_safe_scan.h"

namespace markup::safe {

namespace {

// What the last part of a tag written was, for the separator before the next one.
enum class Last : std::uint8_t { Name, QuotedValue, UnquotedValue };

}  // namespace

std::size_t tag(std::span<const unsigned char> in, std::size_t s, std::size_t name_from,
                std::size_t name_end, std::uint16_t kind, State& st, bool* self_closing) {
  const std::size_t n = in.size();
  *self_closing = false;
  // The write cursor in locals: a byte stored through a pointer could alias State's members.
  const unsigned char* const p = in.data();
  unsigned char* const o = st.out.base;
  std::size_t w = st.out.n;
  const auto copy = [&](std::size_t from, std::size_t to) {
    Out piece{o, w};
    copy_piece(piece, in, from, to);
    w = piece.n;
  };
  std::size_t j = name_end;
  copy(s, j);
  // Outside SVG and MathML, "/>" on a void element is read as '>'.
  const bool drop_slash = p[name_from - 1] == '<' && st.foreign_depth == 0 && (kind & kVoid) != 0 &&
                          st.tree.known() && st.tree.in_html_content();
  Last last = Last::Name;
  while (j < n) {
    bool spaced = false;
    if (kHtmlSpace[p[j]]) {
      spaced = true;
      do ++j;
      while (j < n && kHtmlSpace[p[j]]);
      if (j >= n) break;
    }
    const unsigned char c = p[j];
    if (c == '>') {
      o[w++] = '>';
      st.out.n = w;
      return j + 1;
    }
    if (c == '/') {
      if (drop_slash && peek(in, j + 1) == '>') {
        ++j;
        continue;
      }
      // After an unquoted value a '/' would join the value.
      if (spaced && last == Last::UnquotedValue) o[w++] = ' ';
      o[w++] = '/';
      ++j;
      if (peek(in, j) == '>') *self_closing = true;
      last = Last::Name;  // a lone '/' separates like white space
      continue;
    }
    // An attribute: its name (a leading '=' belongs to it), then maybe '=' and a value.
    if (spaced) o[w++] = ' ';
    const std::size_t attribute_from = j;
    j = attribute_name_end(in, j + 1);
    copy(attribute_from, j);
    const bool style = j - attribute_from == 5 && match_nocase(in, attribute_from, "style") &&
                       st.foreign_depth == 0;
    last = Last::Name;
    std::size_t k = j;
    while (k < n && kHtmlSpace[p[k]]) ++k;
    if (k >= n || p[k] != '=') continue;  // the white space, if any, is read again as a separator
    j = k + 1;
    while (j < n && kHtmlSpace[p[j]]) ++j;
    o[w++] = '=';
    if (j >= n) break;
    const unsigned char q = p[j];
    if (q == '"' || q == '\'') {
      bool bare = false;
      const std::size_t close = quoted_value_end(in, j + 1, q, &bare);
      if (close == n) break;
      bare = bare && close > j + 1;
      const unsigned char after = peek(in, close + 1);
      const bool slash_goes = drop_slash && after == '/' && peek(in, close + 2) == '>';
      bare = bare && (kHtmlSpace[after] || after == '>' || slash_goes);
      if (style && st.code.css) {
        o[w++] = q;
        w += inline_style(in.subspan(j + 1, close - j - 1), st.php_blocks, o + w);
        o[w++] = q;
        last = Last::QuotedValue;
      } else if (bare) {
        copy(j + 1, close);
        last = Last::UnquotedValue;
      } else {
        copy(j, close + 1);
        last = Last::QuotedValue;
      }
      j = close + 1;
    } else if (q != '>') {
      const std::size_t from = j;
      while (j < n && !kValueStop[p[j]]) ++j;
      copy(from, j);
      last = Last::UnquotedValue;
    }
  }
  // Cut off by the end of input: the browser drops such a tag, and so does a copy of it.
  return copy_kept(in, s, n, st);
}

}  // namespace markup::safe
