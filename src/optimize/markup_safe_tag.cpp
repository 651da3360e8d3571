// A tag's attributes: separators collapsed, quotes dropped where the value reads the same.
#include "optimize/markup_safe_tag.h"

#include "optimize/inline_code.h"
#include "optimize/markup_safe_scan.h"

namespace markup::safe {

namespace {

// What the last part of a tag written was, for the separator before the next one.
enum class Last : std::uint8_t { Name, QuotedValue, UnquotedValue };

// Copies [from, to) to o + w and returns the new write cursor (copy_piece on locals).
inline std::size_t put_piece(unsigned char* o, std::size_t w, std::span<const unsigned char> in,
                             std::size_t from, std::size_t to) {
  Out piece{o, w};
  copy_piece(piece, in, from, to);
  return piece.n;
}

// The attributes of the tag at `s` from `j` on, by all of the tokenizer's rules, with `w` the write
// cursor and `last` what was written last. Out of line: the common shapes in tag() leave out only a
// few attributes, and its loop keeps its registers.
[[gnu::noinline]] std::size_t attributes(std::span<const unsigned char> in, std::size_t s,
                                         std::size_t j, std::size_t w, Last last, State& st) {
  const std::size_t n = in.size();
  const unsigned char* const p = in.data();
  unsigned char* const o = st.out.base;
  // Outside SVG and MathML, "/>" on a void element is read as '>'.
  const bool drop_slash = p[s + 1] != '/' && st.foreign_depth == 0 &&
                          (st.named->kind & kVoid) != 0 && st.tree.known() &&
                          st.tree.in_html_content();
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
      if (peek(in, j) == '>') st.self_closing = true;
      last = Last::Name;  // a lone '/' separates like white space
      continue;
    }
    // An attribute: its name (a leading '=' belongs to it), then maybe '=' and a value.
    if (spaced) o[w++] = ' ';
    const std::size_t attribute_from = j;
    j = attribute_name_end(in, j + 1);
    w = put_piece(o, w, in, attribute_from, j);
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
        w = put_piece(o, w, in, j + 1, close);
        last = Last::UnquotedValue;
      } else {
        w = put_piece(o, w, in, j, close + 1);
        last = Last::QuotedValue;
      }
      j = close + 1;
    } else if (q != '>') {
      const std::size_t from = j;
      while (j < n && !kValueStop[p[j]]) ++j;
      w = put_piece(o, w, in, from, j);
      last = Last::UnquotedValue;
    }
  }
  // Cut off by the end of input: the browser drops such a tag, and so does a copy of it.
  return copy_kept(in, s, n, st);
}

#ifdef SVELTERY_SSE2
// The bytes of 16 at `p` that may end an attribute name, one bit each (bit k for p[k]): those up to
// '"', '/', '<', '=' and '>', a superset of kAttributeStop.
inline std::uint32_t name_stops16(const unsigned char* p) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i slash = _mm_cmpeq_epi8(a, _mm_set1_epi8('/'));
  return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_or_si128(low_or_angles16(a), slash)));
}

// The bytes of 16 at `p` equal to `b`, one bit each.
inline std::uint32_t equal16(const unsigned char* p, unsigned char b) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return static_cast<std::uint32_t>(
      _mm_movemask_epi8(_mm_cmpeq_epi8(a, _mm_set1_epi8(static_cast<char>(b)))));
}

// Copies `count` bytes, at least 32, in 32-byte moves, the last one ending at the last byte.
inline void move_long(unsigned char* to, const unsigned char* from, std::size_t count) {
  for (std::size_t k = 0; k < count - 32; k += 32) std::memcpy(to + k, from + k, 32);
  std::memcpy(to + count - 32, from + count - 32, 32);
}

// The bytes after a closing quote that leave the value without quotes reading the same.
inline constexpr auto kEndsBareValue = byte_set(" \t\n\r\f>");
inline constexpr auto kQuote = byte_set("\"'");
#endif

}  // namespace

#ifdef SVELTERY_SSE2
namespace {

// The attributes of the tag at `s` from `at` on, written at `to`, `last` what was
// written last. Most attributes read ` name="value"` with a name of at most 14 bytes, and most
// tags end right after one. Those take a look at 16 bytes of the name and 16 at a time of the
// value, then whole moves of 16, 32 or 64 bytes; anything else goes to the general path at the
// start of its attribute. The loop runs while 80 bytes are left, and looks further only where it
// checks that the input has the bytes; the output lies no further on than the input. With `mark`,
// where the last attribute ending within TagMemo::kLongest bytes of the tag (with the byte after
// it) ended is told there.
template <bool kMark>
[[gnu::always_inline]] inline std::size_t quoted_attributes(std::span<const unsigned char> in,
                                                            std::size_t s, const unsigned char* at,
                                                            unsigned char* to, Last last, State& st,
                                                            [[maybe_unused]] TagStart* mark) {
  const unsigned char* const p = in.data();
  const unsigned char* const end = p + in.size();
  unsigned char* const o = st.out.base;
  while (end - at >= 80 && *at == ' ') {
    // The name from byte 1 (not a stop: a leading '=' belongs to a name), then '=' and a quote.
    const auto e = static_cast<unsigned>(std::countr_zero(name_stops16(at) & ~1u));
    if (e - 2 > 12 || at[e] != '=' || !kQuote[at[e + 1]]) break;
    const unsigned char q = at[e + 1];
    if (e == 6 && st.code.css && st.foreign_depth == 0 &&
        match_nocase(in, static_cast<std::size_t>(at + 1 - p), "style"))
      break;
    const unsigned char* const v = at + e + 2;
    // The first byte that may end the value or need its quotes, then the closing quote.
    const unsigned char* close = v;
    std::uint32_t flags = value_flags16(close);
    while (flags == 0) {
      close += 16;
      if (end - close <= 16) break;
      flags = value_flags16(close);
    }
    if (flags == 0) break;
    close += static_cast<unsigned>(std::countr_zero(flags));
    bool bare = close > v;
    if (*close != q) {
      if (!kNeedsQuotes[*close]) break;  // a control byte or '!' in the value
      bare = false;
      // The quote's look reads 16 bytes after `close`, and the quote found needs one after it.
      if (end - close <= 17) break;
      std::uint32_t quotes = equal16(close + 1, q);
      while (quotes == 0) {
        close += 16;
        if (end - close <= 17) break;
        quotes = equal16(close + 1, q);
      }
      if (quotes == 0) break;
      close += 1 + static_cast<unsigned>(std::countr_zero(quotes));
    }
    // The quote was found within 16 bytes with at least one more after them.
    const unsigned char after = close[1];
    if (after == '/') break;  // perhaps a "/>" that goes
    bare = bare && kEndsBareValue[after];
    // ` name=`, then the value with its quotes or without (at least 64 bytes are left from
    // there).
    const unsigned char* const from = v - 1 + static_cast<std::size_t>(bare);
    const auto length = static_cast<std::size_t>(close + 1 - from) - bare;
    std::memcpy(to, at, 16);
    if (length <= 32)
      std::memcpy(to + e + 1, from, 32);
    else if (length <= 64)
      std::memcpy(to + e + 1, from, 64);
    else
      move_long(to + e + 1, from, length);
    to += e + 1 + length;
    at = close + 1;
    if (after == '>') {
      *to++ = '>';
      st.out.n = static_cast<std::size_t>(to - o);
      // A style attribute is left to the general path where it is minified, and not elsewhere.
      st.by_bytes = !st.code.css || st.foreign_depth == 0;
      return static_cast<std::size_t>(at + 1 - p);
    }
    last = bare ? Last::UnquotedValue : Last::QuotedValue;
    if constexpr (kMark) {
      // The attribute and the byte after it lie within the tag's first kLongest bytes.
      if (static_cast<std::size_t>(at - p) - s < TagMemo::kLongest) {
        mark->length = static_cast<std::size_t>(at - p) - s;
        mark->written_length = static_cast<std::size_t>(to - o) - st.out.n;
        mark->bare = bare;
      }
    }
  }
  return attributes(in, s, static_cast<std::size_t>(at - p), static_cast<std::size_t>(to - o), last,
                    st);
}

}  // namespace
#endif

namespace {

// tag(), telling in *mark where the tag's first attributes end within TagMemo::kLongest bytes
// (where kMark) when they are read by the bytes alone.
template <bool kMark>
std::size_t tag_marked(std::span<const unsigned char> in, std::size_t s, std::size_t name_end,
                       State& st, [[maybe_unused]] TagStart* mark) {
  st.self_closing = false;
  st.by_bytes = false;
  // The write cursor in locals: a byte stored through a pointer could alias State's members.
  unsigned char* const o = st.out.base;
#ifdef SVELTERY_SSE2
  if (in.size() - name_end >= 80 && name_end - s <= 32) {
    unsigned char* const to = o + st.out.n;
    std::memcpy(to, in.data() + s, 32);  // the tag's name
    return quoted_attributes<kMark>(in, s, in.data() + name_end, to + (name_end - s), Last::Name,
                                    st, mark);
  }
#endif
  const std::size_t w = put_piece(o, st.out.n, in, s, name_end);
  return attributes(in, s, name_end, w, Last::Name, st);
}

}  // namespace

#ifdef SVELTERY_SSE2
namespace {

// tag_marked<false>'s common shape, a call of its own: tag() then saves no registers for it.
[[gnu::noinline]] std::size_t attributes_after_name(std::span<const unsigned char> in,
                                                    std::size_t s, std::size_t name_end,
                                                    State& st) {
  st.self_closing = false;
  st.by_bytes = false;
  unsigned char* const to = st.out.base + st.out.n;
  std::memcpy(to, in.data() + s, 32);  // the tag's name
  return quoted_attributes<false>(in, s, in.data() + name_end, to + (name_end - s), Last::Name, st,
                                  nullptr);
}

}  // namespace
#endif

namespace {

// tag_marked<false>'s other shapes, out of line like attributes_after_name.
[[gnu::noinline]] std::size_t attributes_by_rules(std::span<const unsigned char> in, std::size_t s,
                                                  std::size_t name_end, State& st) {
  return tag_marked<false>(in, s, name_end, st, nullptr);
}

}  // namespace

std::size_t tag(std::span<const unsigned char> in, std::size_t s, std::size_t name_end, State& st) {
#ifdef SVELTERY_SSE2
  if (in.size() - name_end >= 80 && name_end - s <= 32)
    return attributes_after_name(in, s, name_end, st);
#endif
  return attributes_by_rules(in, s, name_end, st);
}

#ifdef SVELTERY_SSE2
std::size_t remembered_long_tag(std::span<const unsigned char> in, std::size_t s,
                                std::size_t name_end, State& st) {
  const unsigned char* const p = in.data() + s;
  const TagStart start = st.memo.write_start(p, st.out.base + st.out.n);
  if (start.length != 0) {
    st.self_closing = false;
    st.by_bytes = false;
    const std::size_t w = st.out.n + start.written_length;
    return quoted_attributes<false>(in, s, p + start.length, st.out.base + w,
                                    start.bare ? Last::UnquotedValue : Last::QuotedValue, st,
                                    nullptr);
  }
  const std::size_t at = st.out.n;
  TagStart mark;
  const std::size_t j = tag_marked<true>(in, s, name_end, st, &mark);
  if (st.by_bytes && mark.length != 0) st.memo.keep_start(p, mark, st.out.base + at);
  return j;
}
#endif

}  // namespace markup::safe
