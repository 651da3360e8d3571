// The element names the safe profile knows, what each means to its rules, and a perfect hash
// that looks a name up with one compare.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <string_view>

#include "optimize/end_tag_omission.h"
#include "optimize/markup_safe_scan.h"
#include "optimize/open_elements.h"

namespace markup::safe {

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
inline constexpr NameKind kNames[] = {
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
  ElementSet bit = 0;           // its own bit when kEndRules names it, or 0
  tree::Tag tag = tree::Other;  // what the tree builder's rules call it
  // Whether a P is the innermost block open after its tag, by [closing][whether one was before]:
  // a block start tag makes the P the block when it is one (a list item closes it), and the end of
  // any block may have closed the P (or it was never the innermost block).
  std::array<std::array<bool, 2>, 2> p_open_after = {{{false, true}, {false, true}}};
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
    const bool block = (name.kind & kEdge) == kEdge || (name.kind & kListItem) != 0;
    const bool opens_p = block && (name.kind & kParagraph) != 0;
    const bool end_keeps_p = (name.kind & (kBlock | kListItem)) == 0;
    m.p_open_after = {{{opens_p, !block || opens_p}, {false, end_keeps_p}}};
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
inline constexpr std::uint64_t kSeed = [] {
  // Odd multipliers are tried in turn until one leaves no two known names in one slot.
  for (std::uint64_t seed = 0x9E3779B97F4A7C15ull;; seed += 2) {
    std::array<bool, std::size_t{1} << kSlotBits> taken{};
    bool perfect = true;
    for (std::size_t r = 1; r < kRows.count && perfect; ++r) {
      bool& slot = taken[slot_of(kRows.rows[r].key, seed)];
      perfect = !slot;
      slot = true;
    }
    if (perfect) return seed;
  }
}();

// Each known name's row in its own slot: the row's place follows from the hash alone, with no
// index read between, and only the slots of the names a page uses are ever read. An empty slot's
// key matches no name (its length byte is past kLongestName).
inline constexpr auto kSlots = [] {
  std::array<NameRow, std::size_t{1} << kSlotBits> t{};
  for (NameRow& row : t) row.key.hi = ~std::uint64_t{0};
  for (std::size_t r = 1; r < kRows.count; ++r)
    t[slot_of(kRows.rows[r].key, kSeed)] = kRows.rows[r];
  return t;
}();

// What other names mean.
inline constexpr const Meaning& kNoMeaning = kRows.rows[0].meaning;

constexpr const Meaning& meaning_of_key(const TagNameKey& key) {
  const NameRow& row = kSlots[slot_of(key, kSeed)];
  return row.key == key ? row.meaning : kNoMeaning;
}

// What the tag name that starts at `from` means, its end in *end: name_meaning byte by byte.
const Meaning& name_meaning_bytewise(std::span<const unsigned char> in, std::size_t from,
                                     std::size_t* end);

// The bytes of a name of each length in the two words of its key (a name's bytes past
// kLongestName are not looked up).
inline constexpr auto kKeyMasks = [] {
  std::array<std::array<std::uint64_t, 2>, kLongestName + 1> t{};
  for (std::size_t length = 0; length < t.size(); ++length)
    for (std::size_t k = 0; k < length; ++k)
      t[length][k / 8] |= std::uint64_t{0xFF} << (8 * (k % 8));
  return t;
}();

// The same, inline where it is called (once or twice a tag): most names end within eight bytes,
// nearly all within 16, and are keyed from one 16-byte read.
inline const Meaning& name_meaning(std::span<const unsigned char> in, std::size_t from,
                                   std::size_t* end) {
  if (in.size() - from < 16) return name_meaning_bytewise(in, from, end);
  std::size_t length = 0;
#ifdef SVELTERY_SSE2
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in.data() + from));
  // The bytes below '0' and '>', as name_stops flags them; bit 16 ends a name of 16 or more.
  const __m128i stops = _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(a, _mm_set1_epi8('/')), a),
                                     _mm_cmpeq_epi8(a, _mm_set1_epi8('>')));
  length = static_cast<std::size_t>(
      std::countr_zero(static_cast<std::uint32_t>(_mm_movemask_epi8(stops)) | 0x10000u));
  const __m128i upper_offset = _mm_sub_epi8(a, _mm_set1_epi8('A'));  // 'A'..'Z' become 0..25
  const __m128i upper = _mm_cmpeq_epi8(_mm_min_epu8(upper_offset, _mm_set1_epi8(25)), upper_offset);
  const __m128i folded = _mm_or_si128(a, _mm_and_si128(upper, _mm_set1_epi8(0x20)));
  const auto v0 = static_cast<std::uint64_t>(_mm_cvtsi128_si64(folded));
  const auto v1 = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(folded, folded)));
#else
  const std::uint64_t w0 = swar::load8(in.data() + from);
  const std::uint64_t w1 = swar::load8(in.data() + from + 8);
  const std::uint64_t m0 = name_stops(w0);
  const std::uint64_t m1 = name_stops(w1);
  length = m0 != 0 ? swar::first_byte(m0) : m1 != 0 ? 8 + swar::first_byte(m1) : 16;
  const std::uint64_t v0 = fold_word(w0);
  const std::uint64_t v1 = fold_word(w1);
#endif
  // A name holding some other byte below '0', or of 16 bytes or more: byte by byte.
  if (length == 16 || !kNameStop[in[from + length]]) return name_meaning_bytewise(in, from, end);
  *end = from + length;
  TagNameKey key;
  key.hi = std::uint64_t{length} << 56;
  if (length <= 8) {
    key.lo = v0 & kKeyMasks[length][0];  // most names: one word
  } else {
    if (length > kLongestName) return kNoMeaning;
    key.lo = v0;
    key.hi |= v1 & kKeyMasks[length][1];
  }
  return meaning_of_key(key);
}

struct State;

// next_at where the token at `j` is no tag: a comment, the end of input, or something else.
tree::Next next_other_at(std::span<const unsigned char> in, std::size_t j, const State& st);
// next_at where the token is an end tag of </body> or </html>: whether only white space follows.
bool ends_page_after(std::span<const unsigned char> in, std::size_t name_end);

}  // namespace markup::safe
