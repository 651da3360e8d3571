// The safe profile: reads the page the way a browser's tokenizer does, so that the optimized page
// builds the same document and renders the same. Only bytes that cannot show are dropped.
#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>

#include "optimize/markup.h"
#include "optimize/markup_constructs.h"
#include "optimize/markup_out.h"

namespace markup::safe {
namespace {

// White space as the tokenizer sees it in tags, and as CSS collapses it in text (form feed is not
// collapsible in CSS, so it stays text there).
inline constexpr auto kTagSpace = byte_set(" \t\n\r\f");
inline constexpr auto kTextSpace = byte_set(" \t\n\r");
// An attribute value holding none of these reads the same without its quotes.
inline constexpr auto kNeedsQuotes = byte_set(" \t\n\r\f\"'=<>`");
inline constexpr auto kAsciiLetter =
    byte_set("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");

// What an element's name means to this profile: a set of these bits.
constexpr std::uint8_t kPlain = 0;
constexpr std::uint8_t kBlock = 1;       // white space between two of these never renders
constexpr std::uint8_t kEdge = 32 | 1;   // a block box edge: white space next to it never shows
constexpr std::uint8_t kRawText = 2;     // content read as text up to its end tag: copied
constexpr std::uint8_t kPreLike = 4;     // white space in it shows: copied, nesting counted
constexpr std::uint8_t kForeign = 8;     // SVG or MathML: text inside is copied unchanged
constexpr std::uint8_t kPlainText = 16;  // everything after it is text

struct NameKind {
  std::string_view name;
  std::uint8_t kind;
};

// Block-level elements by the browser's own style sheet, table structure and the elements of the
// head. List items are left out on purpose: style sheets often make them inline blocks, and the
// white space between them then shows.
constexpr NameKind kNames[] = {
    {"address", kEdge},
    {"article", kEdge},
    {"aside", kEdge},
    {"base", kBlock},
    {"blockquote", kEdge},
    {"body", kEdge},
    {"caption", kEdge},
    {"center", kEdge},
    {"col", kBlock},
    {"colgroup", kEdge},
    {"details", kEdge},
    {"dialog", kEdge},
    {"dir", kEdge},
    {"div", kEdge},
    {"dl", kEdge},
    {"fieldset", kEdge},
    {"figcaption", kEdge},
    {"figure", kEdge},
    {"footer", kEdge},
    {"form", kEdge},
    {"frameset", kEdge},
    {"h1", kEdge},
    {"h2", kEdge},
    {"h3", kEdge},
    {"h4", kEdge},
    {"h5", kEdge},
    {"h6", kEdge},
    {"head", kEdge},
    {"header", kEdge},
    {"hgroup", kEdge},
    {"hr", kEdge},
    {"html", kEdge},
    {"legend", kEdge},
    {"link", kBlock},
    {"main", kEdge},
    {"menu", kEdge},
    {"meta", kBlock},
    {"nav", kEdge},
    {"ol", kEdge},
    {"p", kEdge},
    {"section", kEdge},
    {"summary", kEdge},
    {"table", kEdge},
    {"tbody", kEdge},
    {"td", kEdge},
    {"tfoot", kEdge},
    {"th", kEdge},
    {"thead", kEdge},
    {"tr", kEdge},
    {"ul", kEdge},
    {"script", kBlock | kRawText},
    {"style", kBlock | kRawText},
    {"title", kBlock | kRawText},
    {"noscript", kRawText},
    {"textarea", kRawText},
    {"xmp", kRawText},
    {"iframe", kRawText},
    {"noembed", kRawText},
    {"noframes", kRawText},
    {"plaintext", kPlainText},
    {"pre", kEdge | kPreLike},
    {"listing", kEdge | kPreLike},
    {"noop", kPreLike},
    {"svg", kForeign},
    {"math", kForeign},
};

inline constexpr std::size_t kLongestName = 10;

// The kind of the element named by in[from, to), in any case.
std::uint8_t kind_of(std::span<const unsigned char> in, std::size_t from, std::size_t to) {
  const std::size_t length = to - from;
  if (length == 0 || length > kLongestName) return kPlain;
  char lower[kLongestName];
  for (std::size_t k = 0; k < length; ++k) lower[k] = static_cast<char>(fold[in[from + k]]);
  const std::string_view name(lower, length);
  for (const NameKind& row : kNames)
    if (row.name == name) return row.kind;
  return kPlain;
}

// What the last thing written was, for the white space that follows it.
// An edge end tag ends a block box: what follows starts a line. (After an edge start tag, ::before
// content may stand on the line already.)
enum class Left : std::uint8_t { Start, Text, EdgeEnd, BlockTag, OtherTag };

struct State {
  Out out;
  bool php_blocks = false;
  Left left = Left::Start;
  bool text_has_content = false;  // the text since the last tag holds more than white space
  std::int32_t foreign_depth = 0;
  bool styles_white_space = false;  // the page itself mentions white-space: keep text runs whole
};

inline Left left_of(std::uint8_t kind, bool closing) {
  if (closing && (kind & kEdge) == kEdge) return Left::EdgeEnd;
  return (kind & kBlock) != 0 ? Left::BlockTag : Left::OtherTag;
}

// Copies [s, end) unchanged and returns `end`.
std::size_t copy_through(std::span<const unsigned char> in, std::size_t s, std::size_t end,
                         State& st) {
  st.out.copy(in, s, end);
  return end;
}

// The end of "</name" followed by white space, '/' or '>' (the tokenizer's own test), starting the
// search at `j`; in.size() when there is none.
std::size_t end_tag_start(std::span<const unsigned char> in, std::size_t j,
                          std::span<const unsigned char> name) {
  for (;;) {
    j = find_byte(in, j, '<');
    if (j == in.size()) return j;
    if (peek(in, j + 1) == '/' && in.size() - (j + 2) > name.size()) {
      std::size_t k = 0;
      while (k < name.size() && fold[in[j + 2 + k]] == fold[name[k]]) ++k;
      const unsigned char after = in[j + 2 + name.size()];
      if (k == name.size() && (kTagSpace[after] || after == '/' || after == '>')) return j;
    }
    ++j;
  }
}

// Like end_tag_start, for an element that may hold itself: its own start tags are counted.
std::size_t nested_end_tag_start(std::span<const unsigned char> in, std::size_t j,
                                 std::span<const unsigned char> name) {
  std::int32_t depth = 0;
  for (;;) {
    j = find_byte(in, j, '<');
    if (j == in.size()) return j;
    const bool closing = peek(in, j + 1) == '/';
    const std::size_t at = j + (closing ? 2 : 1);
    if (in.size() - at > name.size()) {
      std::size_t k = 0;
      while (k < name.size() && fold[in[at + k]] == fold[name[k]]) ++k;
      const unsigned char after = in[at + name.size()];
      if (k == name.size() && (kTagSpace[after] || after == '/' || after == '>')) {
        if (!closing) {
          ++depth;
        } else if (depth-- == 0) {
          return j;
        }
      }
    }
    ++j;
  }
}

// The bytes of eight text bytes that need a rule: '<', the control bytes up to CR, and a space
// before white space. `next` is the input byte after the eight.
inline std::uint64_t text_stops(std::uint64_t v, unsigned char /*prev*/, unsigned char next) {
  using namespace swar;
  const std::uint64_t space = equal_bytes(v, ' ');
  const std::uint64_t control = below_bytes(v, '\r' + 1);
  const std::uint64_t next_is_space =
      next == ' ' || next == '\t' || next == '\n' || next == '\r' ? std::uint64_t{0x80} << 56 : 0;
  return equal_bytes(v, '<') | control | (space & (((space | control) >> 8) | next_is_space));
}

// Text up to the next '<' or white space run; returns its end.
std::size_t text_content(std::span<const unsigned char> in, std::size_t i, State& st) {
  Out& out = st.out;
  st.left = Left::Text;
  st.text_has_content = true;
  for (;;) {
    // The first byte is never '<' nor the start of a white space run: copy it as it is.
    out.put(in[i++]);
    const std::size_t copied = copy_plain(in, i, out.base + out.n, text_stops);
    i += copied;
    out.n += copied;
    if (i >= in.size()) return i;
    const unsigned char c = in[i];
    if (c == '<' || kTextSpace[c]) {
      if (c != ' ' || kTextSpace[peek(in, i + 1)]) return i;
    }
  }
}

// The kind of the element whose tag starts at `j` ('<'), for the white space before it. Only a
// start tag of an edge element begins a block box there (before an end tag, ::after content may
// follow on the same line).
std::uint8_t kind_at(std::span<const unsigned char> in, std::size_t j) {
  std::size_t k = j + 1;
  const bool closing = peek(in, k) == '/';
  if (closing) ++k;
  if (!kAsciiLetter[peek(in, k)]) return kPlain;
  std::size_t e = k;
  while (e < in.size() && !kTagSpace[in[e]] && in[e] != '/' && in[e] != '>') ++e;
  const std::uint8_t kind = kind_of(in, k, e);
  return closing && (kind & kEdge) == kEdge ? kBlock : kind;
}

// A run of white space in text. Between two words it stays as it is (style sheets may keep it,
// scripts may read it), except that a run holding a line break becomes that one line break when
// the page sets no white-space property itself. Elsewhere it goes where it cannot show (at the edge
// of a block box, or between two block or head tags) and becomes one space or line break otherwise.
std::size_t text_space(std::span<const unsigned char> in, std::size_t i, State& st) {
  std::size_t j = i;
  bool line_break = false;
  while (j < in.size() && kTextSpace[in[j]]) {
    line_break = line_break || in[j] == '\n' || in[j] == '\r';
    ++j;
  }
  const Left left = st.left;
  if (st.foreign_depth > 0) {
    st.left = Left::Text;
    return copy_through(in, i, j, st);
  }
  const bool text_right = j < in.size() && in[j] != '<';
  if (left == Left::Text && st.text_has_content && text_right) {
    if (!line_break || st.styles_white_space) return copy_through(in, i, j, st);
    st.out.put('\n');
    return j;
  }
  const int prev = st.out.prev();
  if (prev == ' ' || prev == '\n') return j;  // already one, after a dropped comment
  const std::uint8_t right = j == in.size() ? kEdge : text_right ? kPlain : kind_at(in, j);
  const bool edge_left = left == Left::Start || left == Left::EdgeEnd;
  const bool block_left = edge_left || left == Left::BlockTag;
  if (edge_left || (right & kEdge) == kEdge || (block_left && (right & kBlock) != 0)) return j;
  st.out.put(line_break ? '\n' : ' ');
  st.left = Left::Text;
  return j;
}

// What the last part of a tag written was, for the separator before the next one.
enum class Last : std::uint8_t { Name, QuotedValue, UnquotedValue };

// A start or end tag from its '<' at `s`; the name starts at `name_at`. Returns the end, with
// [name_at, *name_end) the name; on a tag cut off by the end of input, the rest is copied.
std::size_t tag(std::span<const unsigned char> in, std::size_t s, std::size_t name_at, State& st,
                std::size_t* name_end, bool* self_closing) {
  Out& out = st.out;
  const std::size_t n = in.size();
  const std::size_t start_n = out.n;
  std::size_t j = name_at;
  while (j < n && !kTagSpace[in[j]] && in[j] != '/' && in[j] != '>') ++j;
  *name_end = j;
  out.copy(in, s, j);
  Last last = Last::Name;
  *self_closing = false;
  while (j < n) {
    bool spaced = false;
    while (j < n && kTagSpace[in[j]]) {
      spaced = true;
      ++j;
    }
    if (j >= n) break;
    const unsigned char c = in[j];
    if (c == '>') {
      out.put('>');
      return j + 1;
    }
    if (c == '/') {
      // After an unquoted value a '/' would join the value.
      if (spaced && last == Last::UnquotedValue) out.put(' ');
      out.put('/');
      ++j;
      if (peek(in, j) == '>') *self_closing = true;
      last = Last::Name;  // a lone '/' separates like white space
      continue;
    }
    // An attribute: its name (a leading '=' belongs to it), then maybe '=' and a value.
    if (spaced) out.put(' ');
    const std::size_t name_from = j;
    ++j;
    while (j < n && !kTagSpace[in[j]] && in[j] != '/' && in[j] != '>' && in[j] != '=') ++j;
    out.copy(in, name_from, j);
    last = Last::Name;
    std::size_t k = j;
    while (k < n && kTagSpace[in[k]]) ++k;
    if (peek(in, k) != '=') continue;  // the white space, if any, is read again as a separator
    j = k + 1;
    while (j < n && kTagSpace[in[j]]) ++j;
    out.put('=');
    if (j >= n) break;
    const unsigned char q = in[j];
    if (q == '"' || q == '\'') {
      const std::size_t close = find_byte(in, j + 1, q);
      if (close == n) break;
      bool bare = close > j + 1;
      for (std::size_t v = j + 1; bare && v < close; ++v) bare = !kNeedsQuotes[in[v]];
      const unsigned char after = peek(in, close + 1);
      bare = bare && (kTagSpace[after] || after == '>');
      if (bare) {
        out.copy(in, j + 1, close);
        last = Last::UnquotedValue;
      } else {
        out.copy(in, j, close + 1);
        last = Last::QuotedValue;
      }
      j = close + 1;
    } else if (q != '>') {
      const std::size_t from = j;
      while (j < n && !kTagSpace[in[j]] && in[j] != '>') ++j;
      out.copy(in, from, j);
      last = Last::UnquotedValue;
    }
  }
  // Cut off by the end of input: the browser drops such a tag, and so does a copy of it.
  out.n = start_n;
  return copy_through(in, s, n, st);
}

// Comments the browser itself acts on in some versions, kept as they are.
bool conditional_comment(std::span<const unsigned char> in, std::size_t s) {
  return match_exact(in, s + 4, "[if") || match_exact(in, s + 4, "<![endif");
}

// The end of the comment at `s` ("<!--") by the tokenizer's rules, or in.size() when it runs to
// the end of input.
std::size_t comment_close(std::span<const unsigned char> in, std::size_t s) {
  if (peek(in, s + 4) == '>') return s + 5;                            // "<!-->"
  if (peek(in, s + 4) == '-' && peek(in, s + 5) == '>') return s + 6;  // "<!--->"
  std::size_t j = s + 4;
  for (;;) {
    j = find_byte(in, j, '-');
    if (j == in.size()) return j;
    if (peek(in, j + 1) == '-') {
      if (peek(in, j + 2) == '>') return j + 3;
      if (peek(in, j + 2) == '!' && peek(in, j + 3) == '>') return j + 4;
    }
    ++j;
  }
}

// A comment goes, unless it is conditional, unfinished, or would join two pieces of text into
// one (the text nodes would change).
std::size_t comment(std::span<const unsigned char> in, std::size_t s, State& st) {
  const std::size_t end = comment_close(in, s);
  if (end == in.size() || conditional_comment(in, s)) {
    st.left = Left::OtherTag;
    st.text_has_content = false;
    return copy_through(in, s, end, st);
  }
  if (st.left == Left::Text) {
    std::size_t k = end;
    while (k < in.size() && kTextSpace[in[k]]) ++k;
    const bool text_after = k < in.size() && in[k] != '<';
    const bool space_after = k > end;
    if (text_after || (st.text_has_content && space_after)) return copy_through(in, s, end, st);
  }
  return end;
}

// Everything that starts at a '<' at `s`; returns where the next step starts.
std::size_t markup_at(std::span<const unsigned char> in, std::size_t s, State& st) {
  const unsigned char b = peek(in, s + 1);
  if (b == '!') {
    if (match_exact(in, s + 2, "--")) return comment(in, s, st);
    // Declarations, CDATA sections and bogus comments: copied through their end.
    st.left = match_nocase(in, s + 2, "doctype") ? Left::EdgeEnd : Left::OtherTag;
    st.text_has_content = false;
    if (match_exact(in, s + 2, "[CDATA[")) {
      std::size_t j = s + 9;
      for (;;) {
        j = find_byte(in, j, ']');
        if (j == in.size()) return copy_through(in, s, j, st);
        if (match_exact(in, j, "]]>")) return copy_through(in, s, j + 3, st);
        ++j;
      }
    }
    const std::size_t gt = find_byte(in, s + 2, '>');
    return copy_through(in, s, gt == in.size() ? gt : gt + 1, st);
  }
  if (b == '?') {
    st.left = Left::OtherTag;
    st.text_has_content = false;
    if (st.php_blocks) {
      // PHP eats a line break right after "?>": the white space there is not the page's to touch.
      std::size_t end = php_block_end(in, s);
      while (end < in.size() && kTextSpace[in[end]]) ++end;
      return copy_through(in, s, end, st);
    }
    const std::size_t gt = find_byte(in, s + 2, '>');
    return copy_through(in, s, gt == in.size() ? gt : gt + 1, st);
  }
  const bool closing = b == '/';
  const std::size_t name_at = s + (closing ? 2 : 1);
  if (!kAsciiLetter[peek(in, name_at)]) {
    if (closing) {  // "</>" and bogus comments: copied
      st.left = Left::OtherTag;
      st.text_has_content = false;
      const std::size_t gt = find_byte(in, s + 2, '>');
      return copy_through(in, s, gt == in.size() ? gt : gt + 1, st);
    }
    return kGenericTag;  // a '<' that is text
  }
  std::size_t name_end = 0;
  bool self_closing = false;
  std::size_t j = tag(in, s, name_at, st, &name_end, &self_closing);
  const std::uint8_t kind = kind_of(in, name_at, name_end);
  st.left = left_of(kind, closing);
  st.text_has_content = false;
  if (j >= in.size()) return j;
  const std::span<const unsigned char> name = in.subspan(name_at, name_end - name_at);
  if (closing) {
    if ((kind & kForeign) != 0 && st.foreign_depth > 0) --st.foreign_depth;
    return j;
  }
  if ((kind & kForeign) != 0) {
    if (!self_closing) ++st.foreign_depth;
    return j;
  }
  if ((kind & kPlainText) != 0) return copy_through(in, j, in.size(), st);
  // Raw text and pre-like content runs up to its end tag, which is then read as a tag.
  if ((kind & kRawText) != 0) return copy_through(in, j, end_tag_start(in, j, name), st);
  if ((kind & kPreLike) != 0) return copy_through(in, j, nested_end_tag_start(in, j, name), st);
  return j;
}

}  // namespace
}  // namespace markup::safe

std::optional<Bytes> optimize_markup_safe(std::span<const unsigned char> in, bool php_blocks,
                                          ProgressSink* progress) {
  Bytes result;
  try {
    size_for_overwrite(result, in.size());  // never longer than the input: sized once
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  using namespace markup::safe;
  const auto total = static_cast<std::int64_t>(in.size());
  State st{markup::Out{result.data()}, php_blocks};
  static constexpr std::string_view kWhiteSpace = "hite-space";  // also "White-space"
  st.styles_white_space =
      in.size() >= kWhiteSpace.size() &&
      ::memmem(in.data(), in.size(), kWhiteSpace.data(), kWhiteSpace.size()) != nullptr;
  markup::Ticker ticker{progress, total, total / 100};
  std::size_t i = 0;
  while (i < in.size()) {
    ticker.one(i);
    const unsigned char c = in[i];
    if (c == '<') {
      const std::size_t end = markup_at(in, i, st);
      if (end != markup::kGenericTag) {
        i = end;
        continue;
      }
    } else if (kTextSpace[c]) {
      i = text_space(in, i, st);
      continue;
    }
    i = text_content(in, i, st);
  }
  if (progress != nullptr) {
    progress->tick(total, static_cast<std::int64_t>(i));
    progress->finish();
  }
  result.resize(st.out.n);
  return result;
}
