// The tree builder's state over token scripts: the open elements it ends with, what it loses track
// of, and which end tags and white space may go.
#include "optimize/open_elements.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <string_view>

namespace {

using markup::tree::Name;
using markup::tree::Next;
using markup::tree::OpenElements;
using markup::tree::Tag;

Name name(std::string_view n) {
  return markup::tree::name_of(
      std::span<const unsigned char>(reinterpret_cast<const unsigned char*>(n.data()), n.size()));
}

// A script of tokens separated by spaces: "<li" a start tag, "<svg/" a self-closing one, "</li"
// an end tag, "t" text, "s" white space alone, "!" the doctype <!DOCTYPE html>.
OpenElements feed(std::string_view script) {
  OpenElements tree;
  while (!script.empty()) {
    const std::size_t space = script.find(' ');
    std::string_view token = script.substr(0, space);
    script = space == std::string_view::npos ? std::string_view{} : script.substr(space + 1);
    if (token == "t" || token == "s") {
      tree.text(token == "s");
    } else if (token == "!") {
      tree.doctype(true);
    } else if (token.starts_with("</")) {
      tree.end_tag(name(token.substr(2)));
    } else {
      const bool self_closing = token.ends_with('/');
      tree.start_tag(name(token.substr(1, token.size() - 1 - (self_closing ? 1 : 0))),
                     self_closing);
    }
  }
  return tree;
}

// The open elements, outermost first, or "unknown".
std::string stack_of(const OpenElements& tree) {
  if (!tree.known()) return "unknown";
  std::array<Tag, OpenElements::kMaxDepth> tags{};
  const std::size_t n = tree.copy_stack(tags);
  std::string out;
  for (std::size_t k = 0; k < n; ++k)
    out += (k ? " " : "") + std::string(tags[k] ? markup::tree::kTagNames[tags[k]] : "?");
  return out;
}

struct StackCase {
  const char* name;
  std::string_view script, stack;
};

const StackCase kStacks[] = {
    {"implied_html_head_body", "t", "html body"},
    {"head_then_body", "<head <title </title </head s <body <p", "html body p"},
    {"li_closes_li", "<ul <li t <li", "html body ul li"},
    {"li_stops_at_section", "<ul <li <section t <li", "html body ul li section li"},
    {"li_passes_div", "<ul <li <div t <li", "html body ul li"},
    {"dd_closes_dt", "<dl <dt t <dd", "html body dl dd"},
    {"block_closes_p", "<p t <div", "html body div"},
    {"stray_end_ignored", "<ol <li t </ul", "html body ol li"},
    {"stray_div_end_ignored", "<body <p t </div", "html body p"},
    {"end_tag_pops_implied", "<div <p t </div t", "html body"},
    {"formatting_reconstructed", "<p <b t </p s", "html body b"},
    {"formatting_closed", "<b t </b s", "html body"},
    {"adoption_without_furthest_block", "<b <i t </b", "html body"},
    {"adoption_with_furthest_block", "<b <p t </b", "unknown"},
    {"link_in_link", "<a <em <a", "html body em a"},
    {"table_rows_and_cells", "<table <tr <td t </td <td", "html body table tbody tr td"},
    {"cell_closes_formatting", "<table <tr <td <b t <td s", "html body table tbody tr td"},
    {"table_end_resets", "<table <tr <td t </table s", "html body"},
    {"text_in_table_fostered", "<table t", "unknown"},
    {"space_in_table_kept", "<table s <tr", "html body table tbody tr"},
    {"select_options", "<select <option t <option t </select", "html body"},
    {"select_in_table", "<table <tr <td <select", "unknown"},
    {"svg_self_closing", "<svg/ t", "html body"},
    {"svg_children", "<svg <g <path/ </g", "html body svg"},
    {"svg_breakout", "<svg <p", "unknown"},
    {"svg_stray_math_end", "<svg </math", "unknown"},
    {"template", "<template", "unknown"},
    {"frameset", "<frameset", "unknown"},
    {"after_body_text_reopens", "<p t </body t", "html body p"},
    {"raw_text_then_end", "<script </script t", "html body"},
    {"custom_elements_by_name", "<x-a <x-b t </x-a", "html body"},
    {"heading_closes_heading", "<h1 t <h2", "html body h2"},
    {"older_parsers_disagree_on_search", "<p <search", "unknown"},
    {"root_and_cell_tags_ignored_in_body", "<body <html <td <p", "html body p"},
    {"voids_popped_in_body", "<p <meta <param t", "html body p"},
    {"dialog_in_p_scope", "<p <dialog", "unknown"},
    {"dialog_outside_p", "<div <dialog", "html body div dialog"},
    {"xmp_closes_p", "<p <xmp", "html body xmp"},
    {"text_in_svg", "<svg t", "html body svg"},
    {"end_pops_current", "<div <section <span t </span </section", "html body div"},
    {"other_end_needs_same_name", "<x-a <x-b t </x-c", "html body ? ?"},
    {"rb_end_not_followed", "<rb t </rb", "unknown"},
    {"rt_and_option_ends_pop", "<rt t </rt <option t </option", "html body"},
    {"formatting_ends_leave_nothing_to_rebuild", "<b <i t </i </b t", "html body"},
    {"earlier_formatting_end_rebuilds_later", "<b <i t </b t", "html body i"},
    // The common tags the tree steps inline, beside the cases just past what they cover.
    {"block_after_current_p", "<p t <div t", "html body div"},
    {"block_after_p_further_in", "<p <span <div", "html body div"},
    {"block_after_p_closes_formatting_too", "<p <b <div t", "html body div b"},
    {"li_right_inside_its_list", "<ul <li t </li s <li", "html body ul li"},
    {"li_after_li_left_open", "<ul <li <li", "html body ul li"},
    {"li_inside_div_in_list", "<ul <div <li", "html body ul div li"},
    {"ends_of_current_p_li_heading", "<ul <li <p t </p </li </ul <h2 t </h2 t", "html body"},
    {"formatting_inside_other_formatting", "<a <b t </b </a t", "html body"},
    {"formatting_of_a_listed_name", "<b <i <b t", "html body b i b"},
    {"formatting_end_takes_its_entry_off", "<b t </b <b <b <b", "html body b b b"},
    {"plain_tag_rebuilds_formatting_first", "<p <b t </p <span", "html body b span"},
};

class Stacks : public testing::TestWithParam<StackCase> {};
TEST_P(Stacks, AsTheParserBuildsThem) {
  EXPECT_EQ(stack_of(feed(GetParam().script)), GetParam().stack);
}
INSTANTIATE_TEST_SUITE_P(OpenElements, Stacks, testing::ValuesIn(kStacks),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(OpenElements, DepthIsCapped) {
  OpenElements tree;
  for (std::size_t k = 0; k < OpenElements::kMaxDepth + 10; ++k) tree.start_tag(name("span"), false);
  EXPECT_FALSE(tree.known());
  EXPECT_LE(tree.depth(), OpenElements::kMaxDepth);
}

TEST(OpenElements, NamesMatchTheirTags) {
  for (std::size_t t = 1; t < markup::tree::kTagCount; ++t)
    EXPECT_EQ(name(markup::tree::kTagNames[t]).tag, t) << markup::tree::kTagNames[t];
  EXPECT_EQ(name("FOREIGNOBJECT").tag, markup::tree::ForeignObject);
  EXPECT_EQ(name("x-y").tag, markup::tree::Other);
  EXPECT_NE(name("x-y").hash, name("x-z").hash);
}

// Whether the end tag of `self`, after the script, may go before `next`.
struct EndCase {
  const char* name;
  std::string_view script;
  std::string_view self;
  Next::Kind kind;
  std::string_view next;
  bool may_go;
};

const EndCase kEnds[] = {
    {"li_before_li", "<ul <li t", "li", Next::StartTag, "li", true},
    {"li_with_section_open", "<ul <li <section t", "li", Next::StartTag, "li", false},
    {"li_before_its_list_end", "<ul <li t", "li", Next::EndTag, "ul", true},
    {"li_before_other_list_end", "<ol <li t", "li", Next::EndTag, "ul", false},
    {"p_before_div", "<p t", "p", Next::StartTag, "div", true},
    {"p_before_span", "<p t", "p", Next::StartTag, "span", false},
    {"p_before_dialog", "<p t", "p", Next::StartTag, "dialog", false},
    {"p_before_parent_end", "<div <p t", "p", Next::EndTag, "div", true},
    {"p_before_other_end", "<body <p t", "p", Next::EndTag, "div", false},
    {"p_before_table_no_quirks", "! <p t", "p", Next::StartTag, "table", true},
    {"p_before_table_quirks", "<p t", "p", Next::StartTag, "table", false},
    {"p_before_form", "<p t", "p", Next::StartTag, "form", false},
    {"dt_before_dd", "<dl <dt t", "dt", Next::StartTag, "dd", true},
    {"dt_with_section_open", "<dl <dt <section t", "dt", Next::StartTag, "dd", false},
    {"td_before_td", "<table <tr <td t", "td", Next::StartTag, "td", true},
    {"td_before_table_end", "<table <tr <td t", "td", Next::EndTag, "table", true},
    {"tr_before_tr", "<table <tr <td t </td", "tr", Next::StartTag, "tr", true},
    {"tbody_before_tr", "<table <tbody", "tbody", Next::StartTag, "tr", false},
    {"option_before_option", "<select <option t", "option", Next::StartTag, "option", true},
    {"option_before_optgroup_end_outside_one", "<select <option t", "option", Next::EndTag,
     "optgroup", false},
    {"head_before_body", "<head", "head", Next::StartTag, "body", true},
    {"body_at_end", "<p t </p", "body", Next::EndOfInput, "", true},
    {"lost", "<table t <tr <td", "td", Next::StartTag, "td", false},
};

class Ends : public testing::TestWithParam<EndCase> {};
TEST_P(Ends, OnlyWhereTheParserImpliesThem) {
  const EndCase& c = GetParam();
  const OpenElements tree = feed(c.script);
  EXPECT_EQ(tree.end_tag_may_go(name(c.self).tag, Next{c.kind, name(c.next)}), c.may_go);
}
INSTANTIATE_TEST_SUITE_P(OpenElements, Ends, testing::ValuesIn(kEnds),
                         [](const auto& p) { return std::string(p.param.name); });

// Whether white space alone may go after the script, before `next`.
const EndCase kSpaces[] = {
    {"between_blocks", "<div </div", "", Next::StartTag, "div", true},
    {"formatting_to_rebuild", "<p <b t </p", "", Next::StartTag, "p", false},
    {"joins_text_before", "<p t", "", Next::StartTag, "div", false},
    {"joins_text_after_ignored_tag", "<div </div", "", Next::EndTag, "span", false},
    {"before_a_table", "<div </div", "", Next::StartTag, "table", false},
    {"in_a_table", "<table", "", Next::StartTag, "tr", true},
    {"at_the_end", "<div t </div", "", Next::EndOfInput, "", true},
    {"before_head", "", "", Next::StartTag, "html", true},
    {"in_svg", "<svg", "", Next::StartTag, "g", false},
};

class Spaces : public testing::TestWithParam<EndCase> {};
TEST_P(Spaces, OnlyWhereNoNodeComesOfIt) {
  const EndCase& c = GetParam();
  EXPECT_EQ(feed(c.script).space_may_go(Next{c.kind, name(c.next)}), c.may_go);
}
INSTANTIATE_TEST_SUITE_P(OpenElements, Spaces, testing::ValuesIn(kSpaces),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
