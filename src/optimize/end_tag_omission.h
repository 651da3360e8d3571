// Where the safe profile leaves an end tag out: the elements whose end tag the parser implies, by
// what follows it, and the test at one end tag.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "optimize/open_elements.h"

namespace markup::safe {

// Where the parser closes an element by itself, so that its end tag can go: right before a start
// tag named in `by_start`, right before an end tag named in `by_end` (of an element holding it),
// and at the end of input when `by_end_of_input`. Only the plain cases where the document stays the
// same; a P element only while it is the innermost block open (State::p_open).
struct EndRule {
  std::string_view self, by_start, by_end;  // the lists separated by spaces
  bool by_end_of_input = false;
};
inline constexpr EndRule kEndRules[] = {
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

struct Meaning;
struct State;

// An end tag "</name>" ending at `j`, of `self` (an element with an end rule), that the parser
// would imply from what follows it (after white space that goes anyway).
// `*next` is what follows it, and `*spaced` tells whether white space stands between: the caller
// asks the tree whether that may go too, once the end tag is read.
bool end_tag_omissible(std::span<const unsigned char> in, std::size_t j, std::size_t name_end,
                       const Meaning& self, State& st, tree::Next* next, bool* spaced);

}  // namespace markup::safe
