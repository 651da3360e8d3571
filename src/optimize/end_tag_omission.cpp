// An end tag left out only where the parser implies it from the next token, with the same tree.
#include "optimize/end_tag_omission.h"

#include <array>

#include "optimize/markup_safe_names.h"
#include "optimize/markup_safe_scan.h"
#include "optimize/markup_safe_state.h"
#include "optimize/whitespace_rules.h"

namespace markup::safe {

namespace {

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

// True when the parser closes element `self` by itself right before a tag of the element whose
// bit is `next` (an end tag when `closing`).
bool end_implied(const Meaning& self, ElementSet next, bool closing, const State& st) {
  if ((self.kind & kParagraph) != 0 && !st.p_open) return false;
  const EndSets& sets = kEndSets[self.end_rule - 1];
  return ((closing ? sets.by_end : sets.by_start) & next) != 0;
}

}  // namespace

bool end_tag_omissible(std::span<const unsigned char> in, std::size_t j, std::size_t name_end,
                       const Meaning& self, State& st, tree::Next* next, bool* spaced) {
  if (st.foreign_depth > 0 || j != name_end + 1 || in[name_end] != '>') return false;
  const std::size_t k = space_end(in, j);
  *spaced = k > j;
  if (k == in.size()) {
    if (k > j && !space_cannot_show(st.left, kEdge, true)) return false;
    *next = {tree::Next::EndOfInput, {}};
    return kEndRules[self.end_rule - 1].by_end_of_input && st.tree.end_tag_may_go(self.tag, *next);
  }
  // Only a tag with a name may imply the end tag: its name is read once here, for the white space
  // rules, the rule's bits and the tree (and kept for the tag itself).
  if (in[k] != '<') return false;
  const bool closing = peek(in, k + 1) == '/';
  const std::size_t from = k + 1 + static_cast<std::size_t>(closing);
  if (!kAsciiLetter[peek(in, from)]) return false;
  name_at(in, from, st);
  const Meaning& named = *st.named;
  if (k > j && !space_cannot_show_before_tag(st.left, named.before[closing])) return false;
  // The rule's bit test first: what follows for the tree is read only where the rule holds.
  if (!end_implied(self, named.bit, closing, st)) return false;
  tree::put(*next, named_next(in, from, closing, st));
  return st.tree.end_tag_may_go(self.tag, *next);
}

}  // namespace markup::safe
