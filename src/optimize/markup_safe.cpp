// The safe profile: reads the page the way a browser's tokenizer does, so that the optimized page
// builds the same document and renders the same. Only bytes that cannot show are dropped.
#include <array>
#include <bit>
#include <cassert>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>
#include <string_view>
#include <utility>

#include "optimize/css.h"
#include "optimize/js.h"
#include "optimize/markup.h"
#include "optimize/markup_constructs.h"
#include "optimize/markup_out.h"
#include "optimize/open_elements.h"

namespace markup::safe {
namespace {

// White space as the tokenizer sees it in tags, and as CSS collapses it in text (form feed is not
// collapsible in CSS, so it stays text there).
inline constexpr auto kHtmlSpace = byte_set(" \t\n\r\f");
inline constexpr auto kTextSpace = byte_set(" \t\n\r");
// An attribute value holding none of these reads the same without its quotes.
inline constexpr auto kNeedsQuotes = byte_set(" \t\n\r\f\"'=<>`");
// Bytes that end a tag name, an attribute name, and an unquoted value.
inline constexpr auto kNameStop = byte_set(" \t\n\r\f/>");
inline constexpr auto kAttributeStop = byte_set(" \t\n\r\f/>=");
inline constexpr auto kValueStop = byte_set(" \t\n\r\f>");
inline constexpr auto kAsciiLetter =
    byte_set("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");

// What an element's name means to this profile: a set of these bits.
constexpr std::uint16_t kPlain = 0;
constexpr std::uint16_t kBlock = 1;       // white space between two of these never renders
constexpr std::uint16_t kEdge = 32 | 1;   // a block box edge: white space next to it never shows
constexpr std::uint16_t kRawText = 2;     // content read as text up to its end tag: copied
constexpr std::uint16_t kPreLike = 4;     // white space in it shows: copied, nesting counted
constexpr std::uint16_t kForeign = 8;     // SVG or MathML: text inside is copied unchanged
constexpr std::uint16_t kPlainText = 16;  // everything after it is text
constexpr std::uint16_t kVoid = 64;       // never has content: a "/" before its '>' means nothing
// A list or table box, or the root: its own ::before or ::after content is rare enough that white
// space between its tag and a neighbouring tag inside it is taken as never showing.
constexpr std::uint16_t kContainer = 128;
constexpr std::uint16_t kListItem = 256;      // LI, DT, DD: they close an open P
constexpr std::uint16_t kParagraph = 512;     // P itself
constexpr std::uint16_t kOptionalEnd = 1024;  // an end tag the parser may imply (end_implied)

struct NameKind {
  std::string_view name;
  std::uint16_t kind;
};

// Block-level elements by the browser's own style sheet, table structure and the elements of the
// head. List items are left out on purpose: style sheets often make them inline blocks, and the
// white space between them then shows.
constexpr NameKind kNames[] = {
    {"address", kEdge},
    {"article", kEdge},
    {"aside", kEdge},
    {"base", kBlock | kVoid},
    {"blockquote", kEdge},
    {"body", kEdge | kOptionalEnd},
    {"caption", kEdge},
    {"center", kEdge},
    {"col", kBlock | kVoid},
    {"colgroup", kEdge | kContainer},
    {"details", kEdge},
    {"dialog", kEdge},
    {"dir", kEdge | kContainer},
    {"div", kEdge},
    {"dl", kEdge | kContainer},
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
    {"head", kEdge | kContainer | kOptionalEnd},
    {"header", kEdge},
    {"hgroup", kEdge},
    {"hr", kEdge | kVoid},
    {"html", kEdge | kContainer | kOptionalEnd},
    {"legend", kEdge},
    {"link", kBlock | kVoid},
    {"main", kEdge},
    {"menu", kEdge | kContainer},
    {"meta", kBlock | kVoid},
    {"nav", kEdge},
    {"ol", kEdge | kContainer},
    {"p", kEdge | kParagraph | kOptionalEnd},
    {"section", kEdge},
    {"summary", kEdge},
    {"table", kEdge | kContainer},
    {"tbody", kEdge | kContainer | kOptionalEnd},
    {"td", kEdge | kOptionalEnd},
    {"tfoot", kEdge | kContainer | kOptionalEnd},
    {"th", kEdge | kOptionalEnd},
    {"thead", kEdge | kContainer | kOptionalEnd},
    {"tr", kEdge | kContainer | kOptionalEnd},
    {"ul", kEdge | kContainer},
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
    {"li", kListItem | kOptionalEnd},
    {"dt", kListItem | kOptionalEnd},
    {"dd", kListItem | kOptionalEnd},
    {"option", kOptionalEnd},
    {"area", kVoid},
    {"br", kVoid},
    {"embed", kVoid},
    {"img", kVoid},
    {"input", kVoid},
    {"param", kVoid},
    {"source", kVoid},
    {"track", kVoid},
    {"wbr", kVoid},
};

inline constexpr std::size_t kLongestName = 10;

// Where the parser closes an element by itself, so that its end tag can go: right before a start
// tag named in `by_start`, right before an end tag named in `by_end` (of an element holding it),
// and at the end of input when `by_end_of_input`. Only the plain cases where the document stays the
// same; a P element only while it is the innermost block open (State::p_open).
struct EndRule {
  std::string_view self, by_start, by_end;  // the lists separated by spaces
  bool by_end_of_input = false;
};
constexpr EndRule kEndRules[] = {
    {"li", "li", "ul ol menu"},
    {"dt", "dt dd", "dl"},
    {"dd", "dt dd", "dl"},
    // Not by the start tag of a table: quirks mode keeps the P open there.
    {"p",
     "address article aside blockquote details dialog div dl fieldset figcaption figure footer "
     "form h1 h2 h3 h4 h5 h6 header hgroup hr main menu nav ol p pre section ul",
     "div li td th dd section article aside nav header footer main blockquote form figure details "
     "fieldset"},
    {"td", "td th tr", "tr tbody thead tfoot table"},
    {"th", "td th tr", "tr tbody thead tfoot table"},
    {"tr", "tr", "tbody thead tfoot table"},
    {"option", "option optgroup", "select optgroup"},
    {"thead", "tbody tfoot", ""},
    {"tbody", "tbody tfoot", "table"},
    {"tfoot", "", "table"},
    {"head", "body", ""},
    {"body", "", "html", true},
    {"html", "", "", true},
};

// Calls `f` with each name of a list separated by spaces.
template <class F>
constexpr void for_each_name(std::string_view list, F f) {
  while (!list.empty()) {
    const std::size_t space = list.find(' ');
    f(list.substr(0, space));
    list = space == std::string_view::npos ? std::string_view{} : list.substr(space + 1);
  }
}

// A set of the elements named in kEndRules, one bit each.
using ElementSet = std::uint64_t;

// A tag name folded to lower case as two words, with its length in the top byte: equal keys mean
// equal names, for names of up to kLongestName bytes.
struct TagNameKey {
  std::uint64_t lo = 0;
  std::uint64_t hi = 0;
  constexpr void add(std::size_t at, unsigned char folded) {
    (at < 8 ? lo : hi) |= std::uint64_t{folded} << (8 * (at % 8));
  }
  constexpr bool operator==(const TagNameKey&) const = default;
};

constexpr TagNameKey key_of(std::string_view name) {
  TagNameKey key;
  for (std::size_t k = 0; k < name.size(); ++k) key.add(k, static_cast<unsigned char>(name[k]));
  key.hi |= std::uint64_t{name.size()} << 56;
  return key;
}

// What the last thing written was, for the white space that follows it.
// An edge end tag ends a block box: what follows starts a line. (After an edge start tag, ::before
// content may stand on the line already.)
enum class Left : std::uint8_t { Start, Text, EdgeEnd, ContainerStart, BlockTag, OtherTag };

// What follows a tag of `kind` (an end tag when `closing`).
constexpr Left left_of(std::uint16_t kind, bool closing) {
  if (closing && (kind & kEdge) == kEdge) return Left::EdgeEnd;
  if ((kind & kContainer) != 0) return Left::ContainerStart;
  return (kind & kBlock) != 0 ? Left::BlockTag : Left::OtherTag;
}

// The kind of a tag of `kind` for the white space before it. Only a start tag of an edge element
// begins a block box there (before an end tag, ::after content may follow on the same line). An end
// tag: kContainer marks that of a container; a start tag: kContainer is dropped.
constexpr std::uint16_t kind_before(std::uint16_t kind, bool closing) {
  if (!closing) return static_cast<std::uint16_t>(kind & ~kContainer);
  return (kind & kEdge) == kEdge ? static_cast<std::uint16_t>(kBlock | (kind & kContainer)) : kind;
}

// What a name means to this profile; `left` and `before` hold [0] for its start tag, [1] for its
// end tag.
struct Meaning {
  std::uint16_t kind = kPlain;
  std::uint8_t end_rule = 0;  // 1 + its row in kEndRules, or 0
  std::array<Left, 2> left = {left_of(kPlain, false), left_of(kPlain, true)};
  std::array<std::uint16_t, 2> before = {kind_before(kPlain, false), kind_before(kPlain, true)};
  ElementSet bit = 0;  // its own bit when kEndRules names it, or 0
  tree::Tag tag = tree::Other;  // what the tree builder's rules call it
};

// Every name this profile knows: those of kNames and of kEndRules. Row 0 stands for every other
// name; its key matches none (a name's key holds its length).
struct NameRow {
  TagNameKey key;
  Meaning meaning;
};
struct NameRows {
  std::array<NameRow, 256> rows{};
  std::size_t count = 1;
};
inline constexpr NameRows kRows = [] {
  NameRows t;
  const auto row = [&t](std::string_view name) -> Meaning& {
    const TagNameKey key = key_of(name);
    for (std::size_t r = 1; r < t.count; ++r)
      if (t.rows[r].key == key) return t.rows[r].meaning;
    if (t.count == t.rows.size()) throw "more names than rows";
    t.rows[t.count].key = key;
    return t.rows[t.count++].meaning;
  };
  for (const NameKind& name : kNames) {
    Meaning& m = row(name.name);
    m.kind = name.kind;
    m.left = {left_of(name.kind, false), left_of(name.kind, true)};
    m.before = {kind_before(name.kind, false), kind_before(name.kind, true)};
  }
  std::size_t bits = 0;
  const auto give_bit = [&](std::string_view name) {
    Meaning& m = row(name);
    if (m.bit != 0) return;
    if (bits == 64) throw "more names in kEndRules than bits in an ElementSet";
    m.bit = ElementSet{1} << bits++;
  };
  for (std::size_t k = 1; k < tree::kTagCount; ++k)
    if (tree::kTagNames[k].size() <= kLongestName)
      row(tree::kTagNames[k]).tag = static_cast<tree::Tag>(k);
  for (std::size_t r = 0; r < std::size(kEndRules); ++r) {
    const EndRule& rule = kEndRules[r];
    give_bit(rule.self);
    row(rule.self).end_rule = static_cast<std::uint8_t>(r + 1);
    for_each_name(rule.by_start, give_bit);
    for_each_name(rule.by_end, give_bit);
  }
  for (std::size_t r = 1; r < t.count; ++r)
    if (((t.rows[r].meaning.kind & kOptionalEnd) != 0) != (t.rows[r].meaning.end_rule != 0))
      throw "kOptionalEnd marks exactly the elements that have a row in kEndRules";
  return t;
}();

// A perfect hash of the known names: each has a slot of its own, so that a lookup is a multiply,
// a load and one compare, with no probing.
inline constexpr int kSlotBits = 10;
constexpr std::size_t slot_of(const TagNameKey& k, std::uint64_t seed) {
  return static_cast<std::size_t>(((k.lo ^ k.hi) * seed) >> (64 - kSlotBits));
}
struct NameIndex {
  std::uint64_t seed = 0;
  std::array<std::uint8_t, std::size_t{1} << kSlotBits> row{};  // 0: no known name
};
inline constexpr NameIndex kIndex = [] {
  // Odd multipliers are tried in turn until one leaves no two known names in one slot.
  for (std::uint64_t seed = 0x9E3779B97F4A7C15ull;; seed += 2) {
    NameIndex t{seed, {}};
    bool perfect = true;
    for (std::size_t r = 1; r < kRows.count && perfect; ++r) {
      std::uint8_t& slot = t.row[slot_of(kRows.rows[r].key, seed)];
      perfect = slot == 0;
      slot = static_cast<std::uint8_t>(r);
    }
    if (perfect) return t;
  }
}();

// What other names mean.
inline constexpr const Meaning& kNoMeaning = kRows.rows[0].meaning;

constexpr const Meaning& meaning_of_key(const TagNameKey& key) {
  const std::size_t r = kIndex.row[slot_of(key, kIndex.seed)];
  return kRows.rows[kRows.rows[r].key == key ? r : 0].meaning;
}

// kEndRules as sets.
struct EndSets {
  ElementSet by_start = 0;
  ElementSet by_end = 0;
};
inline constexpr auto kEndSets = [] {
  std::array<EndSets, std::size(kEndRules)> sets{};
  for (std::size_t r = 0; r < std::size(kEndRules); ++r) {
    for_each_name(kEndRules[r].by_start, [&](std::string_view name) {
      sets[r].by_start |= meaning_of_key(key_of(name)).bit;
    });
    for_each_name(kEndRules[r].by_end, [&](std::string_view name) {
      sets[r].by_end |= meaning_of_key(key_of(name)).bit;
    });
  }
  return sets;
}();

struct State {
  Out out;
  bool php_blocks = false;
  Left left = Left::Start;
  bool text_has_content = false;  // the text since the last tag holds more than white space
  std::int32_t foreign_depth = 0;
  bool styles_white_space = false;  // the page itself mentions white-space: keep text runs whole
  bool p_open = false;              // a P element is the innermost block open
  InlineCode code{};                // which of <style>, style="" and <script> are minified
  tree::OpenElements tree;          // what the parser has built so far, as far as it is certain
  // The last tag name looked up: white space before a tag looks at it, then the tag itself.
  std::size_t named_from = SIZE_MAX;
  std::size_t named_end = 0;
  const Meaning* named = &kNoMeaning;
};

// The bytes of eight that may end a tag name: a superset of kNameStop (every byte below '0', and
// '>'). Names hold letters and digits nearly always.
inline std::uint64_t name_stops(std::uint64_t v) {
  using namespace swar;
  return below_bytes(v, '0') | equal_bytes(v, '>');
}

// Eight bytes with 'A'..'Z' folded to lower case.
inline std::uint64_t fold_word(std::uint64_t v) {
  using namespace swar;
  return v | ((below_bytes(v, 'Z' + 1) & ~below_bytes(v, 'A')) >> 2);
}

// The end and meaning of the tag name that starts at `from`; returns its kind.
inline std::uint16_t name_at(std::span<const unsigned char> in, std::size_t from, State& st) {
  if (st.named_from == from) return st.named->kind;
  st.named_from = from;
  if (in.size() - from >= 16) {
    // Most names end within eight bytes, nearly all within 16: keyed a word at a time.
    TagNameKey key;
    std::size_t length = 0;
    const std::uint64_t v0 = swar::load8(in.data() + from);
    const std::uint64_t m0 = name_stops(v0);
    if (m0 != 0) {
      length = swar::first_byte(m0);
      key.lo = fold_word(v0) & ((std::uint64_t{1} << (8 * length)) - 1);
    } else {
      const std::uint64_t v1 = swar::load8(in.data() + from + 8);
      const std::uint64_t m1 = name_stops(v1);
      length = m1 != 0 ? 8 + swar::first_byte(m1) : 16;
      key.lo = fold_word(v0);
      // Only two bytes of the second word count: longer names are not looked up.
      key.hi = fold_word(v1) & (length == 8 ? 0 : length == 9 ? 0xFF : 0xFFFF);
    }
    if (length < 16 && kNameStop[in[from + length]]) {
      st.named_end = from + length;
      key.hi |= std::uint64_t{length} << 56;
      st.named = length <= kLongestName ? &meaning_of_key(key) : &kNoMeaning;
      return st.named->kind;
    }
    // A name holding some other byte below '0', or of 16 bytes or more: byte by byte.
  }
  TagNameKey key;
  std::size_t e = from;
  for (; e < in.size() && !kNameStop[in[e]]; ++e)
    if (e - from < kLongestName) key.add(e - from, fold[in[e]]);
  st.named_end = e;
  key.hi |= std::uint64_t{e - from} << 56;
  st.named = e - from <= kLongestName ? &meaning_of_key(key) : &kNoMeaning;
  return st.named->kind;
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
std::size_t copy_kept(std::span<const unsigned char> in, std::size_t s, std::size_t end,
                         State& st) {
  copy_piece(st.out, in, s, end);
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
      if (k == name.size() && (kHtmlSpace[after] || after == '/' || after == '>')) return j;
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
      if (k == name.size() && (kHtmlSpace[after] || after == '/' || after == '>')) {
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

// The first byte flagged in two masks of consecutive words, one of them at least not empty: 0..15.
// Without a test of either mask on its own, which would be a branch that mispredicts.
inline std::size_t first_of_two(std::uint64_t m0, std::uint64_t m1) {
  // All ones when the first mask is empty: then the second one counts, eight bytes on.
  const std::uint64_t second = std::uint64_t{0} - static_cast<std::uint64_t>(m0 == 0);
  const std::uint64_t m = m0 | (m1 & second);
  // Bit 63 changes nothing in a mask that is not empty, and tells the compiler it is not.
  const auto bits = static_cast<std::size_t>(std::countr_zero(m | (std::uint64_t{1} << 63)));
  return bits / 8 + static_cast<std::size_t>(second & 8);
}

// The bytes of eight text bytes that need a rule: '<', the control bytes up to CR, and a space
// before white space. `next` is the input byte after the eight.
inline std::uint64_t safe_text_stops(std::uint64_t v, unsigned char /*prev*/, unsigned char next) {
  using namespace swar;
  const std::uint64_t space = equal_bytes(v, ' ');
  const std::uint64_t control = below_bytes(v, '\r' + 1);
  const std::uint64_t next_is_space = std::uint64_t{kTextSpace[next]} << 63;
  return equal_bytes(v, '<') | control | (space & (((space | control) >> 8) | next_is_space));
}

// Copies text from `j` to `dst` while safe_text_stops flags none of its bytes, 16 at a time, then eight;
// returns how many it copied. It stops at a flagged byte or with fewer than eight bytes left, like
// copy_plain, whose bounds it keeps: dst lies no further on than `j` in a buffer of the input's
// size.
inline std::size_t copy_text(std::span<const unsigned char> in, std::size_t j, unsigned char* dst) {
  using namespace swar;
  const unsigned char* p = in.data();
  const std::size_t n = in.size();
  const std::size_t start = j;
  while (n - j >= 16) {
    const std::uint64_t m0 = safe_text_stops(load8(p + j), 0, p[j + 8]);
    const std::uint64_t m1 = safe_text_stops(load8(p + j + 8), 0, peek(in, j + 16));
    std::memcpy(dst + (j - start), p + j, 16);
    if ((m0 | m1) != 0) return j + first_of_two(m0, m1) - start;
    j += 16;
  }
  if (n - j >= 8) {
    const std::uint64_t m = safe_text_stops(load8(p + j), 0, peek(in, j + 8));
    std::memcpy(dst + (j - start), p + j, 8);
    if (m != 0) return j + first_byte(m) - start;
    j += 8;
  }
  return j - start;
}

// Text up to the next '<' or white space run; returns its end.
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
    if (c == '<' || kTextSpace[c]) {
      if (c != ' ' || kTextSpace[peek(in, i + 1)]) break;
    }
  }
  st.out.n = w;
  return i;
}

// The kind of the tag that starts at `j` ('<'), for the white space before it (kind_before).
std::uint16_t kind_at(std::span<const unsigned char> in, std::size_t j, State& st) {
  const bool closing = peek(in, j + 1) == '/';
  const std::size_t k = j + 1 + static_cast<std::size_t>(closing);
  if (!kAsciiLetter[peek(in, k)]) return kPlain;
  name_at(in, k, st);
  return st.named->before[closing];
}

std::size_t comment_close(std::span<const unsigned char> in, std::size_t s);

// The token at `j` for the tree: a tag with its name, a comment, the end of input, or something
// else.
tree::Next next_at(std::span<const unsigned char> in, std::size_t j, State& st) {
  if (j == in.size()) return {tree::Next::EndOfInput, {}};
  const bool closing = peek(in, j + 1) == '/';
  const std::size_t from = j + 1 + static_cast<std::size_t>(closing);
  if (in[j] != '<') return {};
  if (!kAsciiLetter[peek(in, from)]) {
    const unsigned char b = peek(in, j + 1);
    const bool comment = (b == '!' && !match_nocase(in, j + 2, "doctype")) ||
                         (b == '?' && !st.php_blocks) ||
                         (closing && in.size() - j > 2 && in[j + 2] != '>');
    if (!comment) return {};
    std::size_t k = match_exact(in, j + 1, "!--") ? comment_close(in, j)
                                                  : std::min(find_byte(in, j + 1, '>') + 1, in.size());
    while (k < in.size() && kTextSpace[in[k]]) ++k;
    return {tree::Next::Comment, {}, k == in.size()};
  }
  name_at(in, from, st);
  tree::Next next{closing ? tree::Next::EndTag : tree::Next::StartTag,
                  tree::name_with(st.named->tag, in.subspan(from, st.named_end - from))};
  if (closing && (next.name.tag == tree::Body || next.name.tag == tree::Html)) {
    std::size_t k = find_byte(in, st.named_end, '>');
    if (k < in.size()) ++k;
    while (k < in.size() && kTextSpace[in[k]]) ++k;
    next.ends_page = k == in.size();
  }
  return next;
}

// White space between `left` and something of kind `right` (a tag, or kPlain for text).
// `right_is_tag` tells a tag of kind kPlain from text.
bool space_cannot_show(Left left, std::uint16_t right, bool right_is_tag) {
  const bool edge_left = left == Left::Start || left == Left::EdgeEnd;
  const bool block_left = edge_left || left == Left::BlockTag || left == Left::ContainerStart;
  const bool tag_left = left != Left::Text;
  if (edge_left || (right & kEdge) == kEdge || (block_left && (right & kBlock) != 0)) return true;
  // Inside a container, between its tag and a tag.
  return tag_left && right_is_tag && (left == Left::ContainerStart || (right & kContainer) != 0);
}

// A run of white space in text. Next to text it may show however the style sheets the page links
// lay it out (an element made an inline block, a line under white-space: pre-wrap), so only what
// cannot differ goes: a run stays as it is, except that one holding a line break becomes that line
// break when the page sets no white-space property itself. Between two tags it also goes where it
// cannot show (the edge of a block box, between two block or head tags).
std::size_t text_space(std::span<const unsigned char> in, std::size_t i, State& st) {
  std::size_t j = i;
  bool line_break = false;
  while (j < in.size() && kTextSpace[in[j]]) {
    line_break = line_break || in[j] == '\n' || in[j] == '\r';
    ++j;
  }
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

// The closing quote `q` of a value starting at `k`, or in.size(); *bare tells whether the value
// holds no byte that needs the quotes. Eight bytes at a time up to the first byte that may matter.
std::size_t quoted_value_end(std::span<const unsigned char> in, std::size_t k, unsigned char q,
                             bool* bare) {
  using namespace swar;
  const unsigned char* p = in.data();
  const std::size_t n = in.size();
  // A superset of kNeedsQuotes, the quotes among them: the bytes below '#', '\'', '<', '=', '>'
  // and '`'. The bytes flagged are checked one by one below; '#', '&' and '?' of URLs are not.
  const auto flags = [](std::uint64_t v) {
    return below_bytes(v, '#') | equal_bytes(v, '\'') | below_bytes(v ^ (kOnes * '<'), 3) |
           equal_bytes(v, '`');
  };
  while (k < n) {
    if (n - k >= 16) {
      const std::uint64_t f0 = flags(load8(p + k));
      const std::uint64_t f1 = flags(load8(p + k + 8));
      if ((f0 | f1) == 0) {
        k += 16;
        continue;
      }
      k += first_of_two(f0, f1);
    }
    const unsigned char c = p[k];
    if (c == q) {
      *bare = true;
      return k;
    }
    if (kNeedsQuotes[c]) {
      *bare = false;
      return find_byte(in, k + 1, q);
    }
    ++k;
  }
  *bare = false;
  return n;
}

// The end of an attribute name from `j` on: its first byte of kAttributeStop, or in.size(). Eight
// bytes at a time; a control byte flagged there that is no white space belongs to the name.
std::size_t attribute_name_end(std::span<const unsigned char> in, std::size_t j) {
  using namespace swar;
  const unsigned char* p = in.data();
  const std::size_t n = in.size();
  while (n - j >= 8) {
    const std::uint64_t v = load8(p + j);
    const std::uint64_t flagged =
        below_bytes(v, ' ' + 1) | equal_bytes(v, '/') | equal_bytes(v, '=') | equal_bytes(v, '>');
    if (flagged == 0) {
      j += 8;
      continue;
    }
    j += first_byte(flagged);
    if (kAttributeStop[p[j]]) return j;
    ++j;
  }
  while (j < n && !kAttributeStop[p[j]]) ++j;
  return j;
}

// What the last part of a tag written was, for the separator before the next one.
enum class Last : std::uint8_t { Name, QuotedValue, UnquotedValue };

// In a PHP page, the end of a construct from `s` that holds PHP blocks, walked over quotes and
// whole blocks, up to `stop` (">" for a tag, "-->" for a comment); 0 when no block comes before
// the first `stop`. Such a construct is copied unchanged, so no PHP code is ever rewritten.
std::size_t php_holder_end(std::span<const unsigned char> in, std::size_t s,
                           std::string_view stop) {
  const std::size_t first_stop = [&] {
    for (std::size_t k = s + 1; k < in.size(); ++k)
      if (match_exact(in, k, stop)) return k;
    return in.size();
  }();
  bool holds_php = false;
  for (std::size_t k = s + 1; k + 1 < first_stop && !holds_php; ++k)
    holds_php = in[k] == '<' && in[k + 1] == '?';
  if (!holds_php) return 0;
  unsigned char quote = 0;
  std::size_t k = s + 1;
  while (k < in.size()) {
    if (in[k] == '<' && peek(in, k + 1) == '?') {
      k = php_block_end(in, k);
      continue;
    }
    if (quote != 0) {
      if (in[k] == quote) quote = 0;
    } else if (stop.size() == 1 && (in[k] == '"' || in[k] == '\'')) {
      quote = in[k];
    } else if (match_exact(in, k, stop)) {
      return k + stop.size();
    }
    ++k;
  }
  return in.size();
}

// ---- Inline style sheets and scripts ----

// Whether `lit` (lower case) occurs in [from, to) in any case.
bool contains_nocase(std::span<const unsigned char> in, std::size_t from, std::size_t to,
                     std::string_view lit) {
  for (std::size_t k = from; k < to && to - k >= lit.size(); ++k)
    if (fold[in[k]] == static_cast<unsigned char>(lit[0]) && match_nocase(in.first(to), k, lit))
      return true;
  return false;
}

// The value of attribute `name` (lower case) of the start tag [s, gt), without its quotes; the
// first one wins, as in the browser. `found` is false when the tag has none.
std::span<const unsigned char> attribute_of(std::span<const unsigned char> in, std::size_t s,
                                            std::size_t gt, std::string_view name, bool& found) {
  found = false;
  std::size_t j = s + 1;
  while (j < gt && !kNameStop[in[j]]) ++j;  // the tag name
  while (j < gt) {
    while (j < gt && (kHtmlSpace[in[j]] || in[j] == '/')) ++j;
    const std::size_t from = j;
    if (j < gt) ++j;  // a leading '=' belongs to the name
    while (j < gt && !kAttributeStop[in[j]]) ++j;
    const std::size_t to = j;
    while (j < gt && kHtmlSpace[in[j]]) ++j;
    std::span<const unsigned char> value;
    if (j < gt && in[j] == '=') {
      ++j;
      while (j < gt && kHtmlSpace[in[j]]) ++j;
      if (j < gt && (in[j] == '"' || in[j] == '\'')) {
        const unsigned char q = in[j];
        std::size_t close = j + 1;
        while (close < gt && in[close] != q) ++close;
        value = in.subspan(j + 1, close - j - 1);
        j = close + 1;
      } else {
        const std::size_t v = j;
        while (j < gt && !kValueStop[in[j]]) ++j;
        value = in.subspan(v, j - v);
      }
    }
    if (to - from == name.size() && match_nocase(in, from, name)) {
      found = true;
      return value;
    }
  }
  return {};
}

// ASCII white space at both ends dropped, then compared with `lit` (lower case) in any case.
bool type_is(std::span<const unsigned char> value, std::string_view lit) {
  std::size_t a = 0;
  std::size_t b = value.size();
  while (a < b && kHtmlSpace[value[a]]) ++a;
  while (b > a && kHtmlSpace[value[b - 1]]) --b;
  return b - a == lit.size() && match_nocase(value.subspan(a, b - a), 0, lit);
}

enum class Code { None, Css, Script, Module };

// What the content of the element whose start tag is [s, gt) holds, by its type: only what a
// browser runs as CSS or JavaScript is minified; JSON, import maps, templates and unknown types
// stay byte for byte, and so do scripts with a src (their content is data) or a language.
Code code_of(std::span<const unsigned char> in, std::size_t s, std::size_t gt,
             std::span<const unsigned char> name) {
  bool has_type = false;
  const std::span<const unsigned char> type = attribute_of(in, s, gt, "type", has_type);
  if (name.size() == 5 && match_nocase(name, 0, "style"))
    return !has_type || type_is(type, "") || type_is(type, "text/css") ? Code::Css : Code::None;
  if (name.size() != 6 || !match_nocase(name, 0, "script")) return Code::None;
  bool other = false;
  attribute_of(in, s, gt, "src", other);
  if (other) return Code::None;
  attribute_of(in, s, gt, "language", other);
  if (other) return Code::None;
  if (!has_type || type_is(type, "")) return Code::Script;
  if (type_is(type, "module")) return Code::Module;
  constexpr std::string_view kJavaScript[] = {
      "text/javascript",        "application/javascript",   "text/ecmascript",
      "application/ecmascript", "application/x-javascript", "application/x-ecmascript",
      "text/x-javascript",      "text/x-ecmascript",        "text/jscript",
      "text/livescript",        "text/javascript1.0",       "text/javascript1.1",
      "text/javascript1.2",     "text/javascript1.3",       "text/javascript1.4",
      "text/javascript1.5"};
  for (const std::string_view t : kJavaScript)
    if (type_is(type, t)) return Code::Script;
  return Code::None;
}

// The content [from, to) of a style or script element, minified at the write cursor when it
// holds code the minifiers follow and the result opens no end tag or comment in the page.
// "<!--" and "<script" in a script change where the browser ends it: such content is copied, as
// is content holding PHP blocks.
void inline_code(std::span<const unsigned char> in, std::size_t from, std::size_t to, Code code,
                 State& st) {
  const std::span<const unsigned char> content = in.subspan(from, to - from);
  unsigned char* const dst = st.out.base + st.out.n;
  // Plain values rather than an optional: GCC's -O3 flow analysis misreads the optional here.
  bool minified = false;
  std::size_t n = 0;
  const bool php = st.php_blocks && contains_nocase(in, from, to, "<?");
  if (code == Code::Css && !php && !contains_nocase(in, from, to, "<!--")) {
    if (const std::optional<std::size_t> got = minify_css(content, CssInput::Sheet, dst)) {
      n = *got;
      minified = !contains_nocase(std::span<const unsigned char>(dst, n), 0, n, "</style");
    }
  } else if ((code == Code::Script || code == Code::Module) && !php &&
             !contains_nocase(in, from, to, "<!--") && !contains_nocase(in, from, to, "<script")) {
    const JsInput kind = code == Code::Module ? JsInput::Module : JsInput::Script;
    if (const std::optional<std::size_t> got = minify_js(content, kind, dst)) {
      n = *got;
      const std::span<const unsigned char> made(dst, n);
      minified = !contains_nocase(made, 0, n, "</script") && !contains_nocase(made, 0, n, "<!--");
    }
  }
  if (minified) {
    st.out.n += n;
  } else {
    copy_piece(st.out, in, from, to);
  }
}

// A style="" value, minified at the write cursor `dst` when it holds no character reference
// (the CSS the browser reads is the decoded value) and no PHP block. Returns the bytes written.
std::size_t inline_style(std::span<const unsigned char> value, bool php_blocks,
                         unsigned char* dst) {
  const bool plain = find_byte(value, 0, '&') == value.size() &&
                     !(php_blocks && contains_nocase(value, 0, value.size(), "<?"));
  const std::optional<std::size_t> n =
      plain ? minify_css(value, CssInput::Declarations, dst) : std::nullopt;
  if (n) return *n;
  if (!value.empty()) std::memcpy(dst, value.data(), value.size());
  return value.size();
}

// A start or end tag from its '<' at `s`, with its name at [name_from, name_end) of `kind`.
// Returns the end; on a tag cut off by the end of input, the rest is copied.
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
std::size_t drop_comment(std::span<const unsigned char> in, std::size_t s, std::size_t end,
                         State& st) {
  // In a table the text on both sides would be read as one run, which may move out of the table.
  if (!st.tree.comment_may_go()) return copy_kept(in, s, end, st);
  if (st.left == Left::Text) {
    std::size_t k = end;
    while (k < in.size() && kTextSpace[in[k]]) ++k;
    const bool text_after = k < in.size() && in[k] != '<';
    const bool space_after = k > end;
    if (text_after || (st.text_has_content && space_after)) return copy_kept(in, s, end, st);
  }
  return end;
}

std::size_t comment(std::span<const unsigned char> in, std::size_t s, State& st) {
  if (st.php_blocks) {
    if (const std::size_t end = php_holder_end(in, s, "-->"); end != 0) {
      st.left = Left::OtherTag;
      st.text_has_content = false;
      return copy_kept(in, s, end, st);
    }
  }
  const std::size_t end = comment_close(in, s);
  if (end == in.size() || conditional_comment(in, s)) {
    st.left = Left::OtherTag;
    st.text_has_content = false;
    return copy_kept(in, s, end, st);
  }
  return drop_comment(in, s, end, st);
}

// True when the parser closes element `self` by itself right before a tag of the element whose
// bit is `next` (an end tag when `closing`).
bool end_implied(const Meaning& self, ElementSet next, bool closing, const State& st) {
  if ((self.kind & kParagraph) != 0 && !st.p_open) return false;
  const EndSets& sets = kEndSets[self.end_rule - 1];
  return ((closing ? sets.by_end : sets.by_start) & next) != 0;
}

// An end tag "</name>" ending at `j`, of `self` (an element with an end rule), that the parser
// would imply from what follows it (after white space that goes anyway).
// `*next` is what follows it, and `*spaced` tells whether white space stands between: the caller
// asks the tree whether that may go too, once the end tag is read.
bool end_tag_omissible(std::span<const unsigned char> in, std::size_t j, std::size_t name_end,
                       const Meaning& self, State& st, tree::Next* next, bool* spaced) {
  if (st.foreign_depth > 0 || j != name_end + 1 || in[name_end] != '>') return false;
  std::size_t k = j;
  while (k < in.size() && kTextSpace[in[k]]) ++k;
  *spaced = k > j;
  if (k == in.size()) {
    if (k > j && !space_cannot_show(st.left, kEdge, true)) return false;
    *next = {tree::Next::EndOfInput, {}};
    return kEndRules[self.end_rule - 1].by_end_of_input && st.tree.end_tag_may_go(self.tag, *next);
  }
  if (in[k] != '<') return false;
  const std::uint16_t next_kind = kind_at(in, k, st);
  if (k > j && !space_cannot_show(st.left, next_kind, true)) return false;
  // kind_at has looked the next tag's name up, when it has one.
  const bool closing = peek(in, k + 1) == '/';
  if (!kAsciiLetter[peek(in, k + (closing ? 2 : 1))]) return false;
  *next = next_at(in, k, st);
  return end_implied(self, st.named->bit, closing, st) && st.tree.end_tag_may_go(self.tag, *next);
}

// Whether the doctype at `s` is exactly "<!DOCTYPE html>" (any case, any white space): the one
// that leaves no doubt about the page's mode.
bool html_doctype(std::span<const unsigned char> in, std::size_t s) {
  std::size_t k = s + 9;
  if (!kHtmlSpace[peek(in, k)]) return false;
  while (kHtmlSpace[peek(in, k)]) ++k;
  if (!match_nocase(in, k, "html")) return false;
  k += 4;
  while (kHtmlSpace[peek(in, k)]) ++k;
  return peek(in, k) == '>';
}

// The end of a tag's attributes from `k` on: its '>' (the tokenizer's reading of quoted values),
// or `to` when it runs past `to`.
std::size_t tag_close(std::span<const unsigned char> in, std::size_t k, std::size_t to) {
  while (k < to) {
    const unsigned char c = in[k];
    if (c == '>') return k;
    if (c == '=') {
      ++k;
      while (k < to && kHtmlSpace[in[k]]) ++k;
      if (k < to && (in[k] == '"' || in[k] == '\'')) {
        const std::size_t q = find_byte(in.first(to), k + 1, in[k]);
        if (q >= to) return to;
        k = q + 1;
      }
      continue;
    }
    ++k;
  }
  return to;
}

// The tags in content [from, to) that the profile copies as it is (a PRE element's), told to the
// tree as the browser reads them. False when the content is not read for sure: a tag or comment
// running past `to`, or an element whose content is read as text (so `to` may not be the end).
bool read_copied_tags(std::span<const unsigned char> in, std::size_t from, std::size_t to,
                      State& st) {
  std::size_t k = from;
  while (k < to) {
    std::size_t lt = find_byte(in.first(to), k, '<');
    if (lt > k) {
      bool space_only = true;
      for (std::size_t t = k; t < lt && space_only; ++t) space_only = kHtmlSpace[in[t]];
      st.tree.text(space_only);
    }
    if (lt >= to) return true;
    const bool closing = peek(in, lt + 1) == '/';
    const std::size_t name_from = lt + 1 + static_cast<std::size_t>(closing);
    if (kAsciiLetter[peek(in, name_from)] && name_from < to) {
      name_at(in, name_from, st);
      const std::size_t name_end = st.named_end;
      const tree::Name name =
          tree::name_with(st.named->tag, in.subspan(name_from, name_end - name_from));
      // An element whose content is read otherwise, or a scope boundary (or a select) that the
      // PRE's end tag would not close past.
      const tree::Tag t = name.tag;
      const bool changes_reading =
          (st.named->kind & (kRawText | kPlainText)) != 0 ||
          (!closing && (t == tree::Applet || t == tree::Caption || t == tree::Html ||
                        t == tree::Table || t == tree::Td || t == tree::Th ||
                        t == tree::Marquee || t == tree::Object || t == tree::Template ||
                        t == tree::Svg || t == tree::Math || t == tree::Select));
      const std::size_t gt = tag_close(in, std::min(name_end, to), to);
      if (gt >= to || changes_reading) return false;
      if (closing) {
        st.tree.end_tag(name);
      } else {
        st.tree.start_tag(name, in[gt - 1] == '/');
      }
      k = gt + 1;
      continue;
    }
    if (peek(in, lt + 1) == '!' || peek(in, lt + 1) == '?' || closing) {
      // A comment, a bogus comment or a PHP block: nothing for the tree, when it ends here.
      const std::size_t end = match_exact(in, lt + 1, "!--") ? comment_close(in, lt)
                              : st.php_blocks && peek(in, lt + 1) == '?'
                                  ? php_block_end(in, lt)
                                  : find_byte(in, lt + 1, '>') + 1;
      if (end > to) return false;
      k = end;
      continue;
    }
    st.tree.text(false);  // a '<' that is text
    k = lt + 1;
  }
  return true;
}

// Everything that starts at a '<' at `s`; returns where the next step starts.
std::size_t markup_at(std::span<const unsigned char> in, std::size_t s, State& st) {
  const unsigned char b = peek(in, s + 1);
  if (b == '!') {
    if (match_exact(in, s + 2, "--")) return comment(in, s, st);
    // Declarations, CDATA sections and bogus comments: copied through their end.
    const bool doctype = match_nocase(in, s + 2, "doctype");
    if (doctype) st.tree.doctype(html_doctype(in, s));
    st.left = doctype ? Left::EdgeEnd : Left::OtherTag;
    st.text_has_content = false;
    if (match_exact(in, s + 2, "[CDATA[")) {
      std::size_t j = s + 9;
      for (;;) {
        j = find_byte(in, j, ']');
        if (j == in.size()) return copy_kept(in, s, j, st);
        if (match_exact(in, j, "]]>")) return copy_kept(in, s, j + 3, st);
        ++j;
      }
    }
    const std::size_t gt = find_byte(in, s + 2, '>');
    return copy_kept(in, s, gt == in.size() ? gt : gt + 1, st);
  }
  if (b == '?') {
    if (st.php_blocks) {
      st.left = Left::OtherTag;
      st.text_has_content = false;
      // PHP eats a line break right after "?>": the white space there is not the page's to touch.
      std::size_t end = php_block_end(in, s);
      while (end < in.size() && kTextSpace[in[end]]) ++end;
      return copy_kept(in, s, end, st);
    }
    // A bogus comment ("<?xml ...?>" and the like): dropped like any other comment.
    const std::size_t gt = find_byte(in, s + 2, '>');
    if (gt != in.size()) return drop_comment(in, s, gt + 1, st);
    st.left = Left::OtherTag;
    st.text_has_content = false;
    return copy_kept(in, s, gt, st);
  }
  const bool closing = b == '/';
  const std::size_t name_from = s + 1 + static_cast<std::size_t>(closing);
  if (!kAsciiLetter[peek(in, name_from)]) {
    if (closing) {  // "</>" and bogus comments: copied
      st.left = Left::OtherTag;
      st.text_has_content = false;
      const std::size_t gt = find_byte(in, s + 2, '>');
      return copy_kept(in, s, gt == in.size() ? gt : gt + 1, st);
    }
    return kGenericTag;  // a '<' that is text
  }
  name_at(in, name_from, st);
  const Meaning* meaning = st.named;
  std::size_t name_end = st.named_end;
  const tree::Name tree_name =
      tree::name_with(meaning->tag, in.subspan(name_from, name_end - name_from));
  const std::uint16_t named_kind = meaning->kind;
  bool self_closing = false;
  const std::size_t tag_at = st.out.n;
  std::size_t j = 0;
  if (!st.php_blocks) {
    if (name_end < in.size() && in[name_end] == '>') {
      // Most tags hold nothing but their name: copied whole.
      j = name_end + 1;
      copy_piece(st.out, in, s, j);
    } else {
      j = tag(in, s, name_from, name_end, meaning->kind, st, &self_closing);
    }
  } else if (const std::size_t end = php_holder_end(in, s, ">"); end != 0) {
    // A tag holding PHP code is copied whole, and has no name the profile acts on.
    j = copy_kept(in, s, end, st);
    meaning = &kNoMeaning;
    name_end = name_from;
    // Its content is not read as the browser reads it, nor is a "/>" known.
    if ((named_kind & (kRawText | kPreLike | kPlainText)) != 0 || !st.tree.in_html_content())
      st.tree.lose();
  } else {
    j = tag(in, s, name_from, name_end, meaning->kind, st, &self_closing);
  }
  const std::uint16_t kind = meaning->kind;
  st.left = meaning->left[closing];
  st.text_has_content = false;
  const std::span<const unsigned char> name = in.subspan(name_from, name_end - name_from);
  if (closing) {
    if ((kind & kForeign) != 0 && st.foreign_depth > 0) --st.foreign_depth;
    tree::Next next;
    bool spaced = false;
    const bool omissible = (kind & kOptionalEnd) != 0 &&
                           end_tag_omissible(in, j, name_end, *meaning, st, &next, &spaced);
    st.tree.end_tag(tree_name);
    if (omissible && (!spaced || st.tree.space_may_go(next))) st.out.n = tag_at;
    // The end of any block may have closed the P (or it was never the innermost block).
    st.p_open = st.p_open && (kind & (kBlock | kListItem)) == 0;
    return j;
  }
  st.tree.start_tag(tree_name, self_closing);
  // A block start tag: the P is open when it is the block.
  const bool block = (kind & kEdge) == kEdge || (kind & kListItem) != 0;
  st.p_open = block ? (kind & kParagraph) != 0 : st.p_open;
  if (j >= in.size()) return j;
  if ((kind & kForeign) != 0) {
    if (!self_closing) ++st.foreign_depth;
    return j;
  }
  if ((kind & kPlainText) != 0) return copy_kept(in, j, in.size(), st);
  // Raw text and pre-like content runs up to its end tag, which is then read as a tag.
  if ((kind & kRawText) != 0) {
    const std::size_t end = end_tag_start(in, j, name);
    Code code = end < in.size() ? code_of(in, s, j, name) : Code::None;
    if ((code == Code::Css && !st.code.css) || (code != Code::Css && !st.code.js))
      code = Code::None;
    if (code == Code::None) return copy_kept(in, j, end, st);
    inline_code(in, j, end, code, st);
    return end;
  }
  if ((kind & kPreLike) != 0) {
    const std::size_t end = nested_end_tag_start(in, j, name);
    if (read_copied_tags(in, j, end, st)) return copy_kept(in, j, end, st);
    // Where the content ends is not known for sure: the rest of the page stays as it is.
    st.tree.lose();
    return copy_kept(in, j, in.size(), st);
  }
  return j;
}

// Whether "hite-space" (so also "White-space") stands anywhere in the page. Hyphens are rare in
// pages: only at each one is the rest compared.
bool mentions_white_space(std::span<const unsigned char> in) {
  static constexpr std::string_view kWord = "hite-space";
  constexpr std::size_t kDash = 4;  // where the '-' stands in kWord
  for (std::size_t dash = find_byte(in, kDash, '-'); dash < in.size();
       dash = find_byte(in, dash + 1, '-'))
    if (match_exact(in, dash - kDash, kWord)) return true;
  return false;
}

}  // namespace
}  // namespace markup::safe

std::optional<Bytes> optimize_markup_safe(std::span<const unsigned char> in, bool php_blocks,
                                          ProgressSink* progress, Bytes reuse, InlineCode code) {
  std::optional<Bytes> buffer =
      output_buffer(in.size(), std::move(reuse));  // never longer than the input
  if (!buffer) return std::nullopt;
  Bytes& result = *buffer;
  using namespace markup::safe;
  const auto total = static_cast<std::int64_t>(in.size());
  State st;
  st.out = markup::Out{result.data()};
  st.php_blocks = php_blocks;
  st.styles_white_space = mentions_white_space(in);
  st.code = code;
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
  return buffer;
}
