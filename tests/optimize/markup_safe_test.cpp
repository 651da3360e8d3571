// The safe profile, one table per rule: what goes, and what must stay byte for byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "optimize/markup.h"
#include "optimize/whitespace_rules.h"
#include "recording_sink.h"
#include "test_support.h"

namespace {

struct Case {
  const char* name;
  std::string_view in, out;
};

std::string safe(std::string_view page, bool php_blocks = false) {
  const auto got = optimize_markup_safe(to_bytes(page), php_blocks, nullptr);
  EXPECT_TRUE(got.has_value());
  return got ? to_text(*got) : std::string{};
}

std::string case_name(const testing::TestParamInfo<Case>& p) { return p.param.name; }

// One fixture for every table: each row's page gives exactly its output.
class Safe : public testing::TestWithParam<Case> {};
TEST_P(Safe, Minifies) { EXPECT_EQ(safe(GetParam().in), GetParam().out); }

const Case kTags[] = {
    {"space_runs_between_attributes", "<a  href=x\n\ttarget=y >z", "<a href=x target=y>z"},
    {"space_around_equals", "<a href = \"x\">", "<a href=x>"},
    // The tokenizer counts a form feed as white space between attributes, as it does a space.
    {"form_feed_separates_attributes", "<a\fhref=x\f\ftarget=y\f>z", "<a href=x target=y>z"},
    {"quoted_value_byte_for_byte", "<a title=\"a  b\n>c\">", "<a title=\"a  b\n>c\">"},
    {"single_quotes_kept_with_space", "<a title='x y'>", "<a title='x y'>"},
    {"quotes_dropped_when_not_needed", "<a href=\"x.html#y\" id='z'>", "<a href=x.html#y id=z>"},
    {"empty_value_keeps_quotes", "<a title=\"\">", "<a title=\"\">"},
    {"value_with_equals_or_backtick", "<a b=\"x=y\" c=\"`\">", "<a b=\"x=y\" c=\"`\">"},
    {"quotes_kept_before_slash", "<a b=\"x\"/>", "<a b=\"x\"/>"},
    {"quotes_kept_before_next_name", "<a b=\"x\"c>", "<a b=\"x\"c>"},
    {"space_kept_before_slash_after_bare_value", "<a b=x />", "<a b=x />"},
    {"void_slash_dropped", "<br />x<img src=\"a.png\" />", "<br>x<img src=a.png>"},
    {"void_slash_kept_in_svg", "<svg><rect x=\"1\"/></svg>", "<svg><rect x=\"1\"/></svg>"},
    {"end_tag_space", "<b>x</b >", "<b>x</b>"},
    {"cut_off_tag_copied", "x<a  b=\"c", "x<a  b=\"c"},
    {"lt_last_byte", "a<", "a<"},
    {"lt_not_a_tag", "a < b <3", "a < b <3"},
    {"upper_case_names_kept", "<DIV CLASS=\"a\">x</DIV>", "<DIV CLASS=a>x</DIV>"},
};
INSTANTIATE_TEST_SUITE_P(Tags, Safe, testing::ValuesIn(kTags), case_name);

const Case kComments[] = {
    {"dropped", "<p>a</p><!-- x --><p>b", "<p>a</p><p>b"},
    {"abrupt_ends", "<i>x</i><!--><b>y</b><!---><b>", "<i>x</i><b>y</b><b>"},
    {"bang_end", "<i>x</i><!-- a --!><b>", "<i>x</i><b>"},
    {"no_nesting", "<i>x</i><!-- <!-- --><b>", "<i>x</i><b>"},
    {"conditional_kept", "<!--[if IE]><p>x<![endif]-->", "<!--[if IE]><p>x<![endif]-->"},
    {"downlevel_revealed_kept", "<!--[if !IE]><!--><p>x<!--<![endif]-->",
     "<!--[if !IE]><!--><p>x<!--<![endif]-->"},
    {"unterminated_kept", "<i>x</i><!-- open", "<i>x</i><!-- open"},
    {"kept_between_words", "a<!-- x -->b", "a<!-- x -->b"},
    {"xml_declaration_dropped", "<?xml version=\"1.0\"?><p>x", "<p>x"},
    {"doctype_kept_any_case", "<!DOCTYPE html>\n<html>", "<!DOCTYPE html><html>"},
    {"cdata_copied", "<svg><![CDATA[ a > b ]]></svg>", "<svg><![CDATA[ a > b ]]></svg>"},
};
INSTANTIATE_TEST_SUITE_P(Comments, Safe, testing::ValuesIn(kComments), case_name);

const Case kVerbatim[] = {
    {"pre", "<pre>\n  a  <b> c </b>\n</pre>", "<pre>\n  a  <b> c </b>\n</pre>"},
    {"nested_pre", "<pre><pre> a </pre>  b  </pre>", "<pre><pre> a </pre>  b  </pre>"},
    {"textarea", "<textarea> a\n\n b </textarea>", "<textarea> a\n\n b </textarea>"},
    {"script_with_markup", "<script> a  <!-- </p> -->  </script>",
     "<script> a  <!-- </p> -->  </script>"},
    {"end_tag_needs_delimiter", "<style> a </stylex> b </style >",
     "<style> a </stylex> b </style>"},
    {"title_rcdata", "<title> a  <b> </title>", "<title> a  <b> </title>"},
    {"plaintext_to_end", "<plaintext> a  </plaintext>  b", "<plaintext> a  </plaintext>  b"},
    {"noop", "<noop>  a  </noop>", "<noop>  a  </noop>"},
    {"svg_text", "<svg><text>  a  \n  b </text></svg>", "<svg><text>  a  \n  b </text></svg>"},
};
INSTANTIATE_TEST_SUITE_P(Verbatim, Safe, testing::ValuesIn(kVerbatim), case_name);

TEST(SafeVerbatim, PhpBlocksOnlyInPhpPages) {
  EXPECT_EQ(safe("<p><? a  > b ?>", true), "<p><? a  > b ?>");
  EXPECT_EQ(safe("<?php  echo 1 ?>\n  x", true), "<?php  echo 1 ?>\n  x");  // PHP eats the LF
  EXPECT_EQ(safe("<p><? a  > b ?>", false), "<p> b ?>");  // a bogus comment to the first '>'
  // PHP inside a tag or a comment: the whole construct is copied, so no PHP code changes.
  for (const char* page :
       {"<li<?= $a  ===  1 ? ' x' : '' ?>>a", "<a title=\"<?= $x ? \"a  b\" : 'c' ?>\"  >",
        "<!-- <?php echo  '-->' ?> -->x"})
    EXPECT_EQ(safe(page, true), page);
}

const Case kText[] = {
    {"spaces_between_words_kept", "<p>a  b\tc", "<p>a  b\tc"},
    {"line_break_run_between_words", "<p>a \n   b", "<p>a\nb"},
    {"page_setting_white_space_keeps_runs", "<p style=\"white-space:pre\">a\n  b",
     "<p style=white-space:pre>a\n  b"},
    {"between_inline_tags", "<b>a</b>\n  <i>b</i> \t <i>c</i>", "<b>a</b>\n<i>b</i> \t <i>c</i>"},
    {"between_text_and_inline_tag", "<p>a  <b>b</b>  c", "<p>a  <b>b</b>  c"},
    {"between_blocks_gone", "<div>\n  <p>a</p>\n</div>\n", "<div><p>a</div>"},
    {"after_block_end_gone", "<p>a</p>\n  <b>", "<p>a</p><b>"},
    {"after_block_end_before_text_kept", "<p>a</p>\n  b", "<p>a</p>\nb"},
    {"before_block_start_after_text_kept", "a\t <div>", "a\t <div>"},
    {"after_block_start_kept", "<p>  a", "<p>  a"},
    {"before_block_end_kept", "<div>a  </div>", "<div>a  </div>"},
    {"head_elements", "<head>\n <title>t</title>\n <meta charset=utf-8>\n</head>\n<body>",
     "<head><title>t</title><meta charset=utf-8><body>"},
    {"list_items_keep_space", "<ul>\n<li>a</li>\n<li>b</li>\n</ul>", "<ul><li>a</li>\n<li>b</ul>"},
    {"document_start", " \n<html>", "<html>"},
    {"crlf_is_a_line_break", "<b>a</b>\r\n<b>b</b>", "<b>a</b>\n<b>b</b>"},
    {"form_feed_is_text", "<b>a</b>\f<b>b</b>", "<b>a</b>\f<b>b</b>"},
    {"bytes_0x80_to_0xff", "<p>\xC3\xA9  \xE2\x80\x94", "<p>\xC3\xA9  \xE2\x80\x94"},
};
INSTANTIATE_TEST_SUITE_P(Text, Safe, testing::ValuesIn(kText), case_name);

const Case kEndTags[] = {
    {"li_before_li", "<ul><li>a</li><li>b</li></ul>", "<ul><li>a<li>b</ul>"},
    {"li_before_space_kept", "<ul><li>a</li> <li>b</li></ul>", "<ul><li>a</li> <li>b</ul>"},
    {"p_before_block", "<p>a</p>\n<div>b</div>", "<p>a<div>b</div>"},
    {"p_before_inline_kept", "<p>a</p><span>b</span>", "<p>a</p><span>b</span>"},
    {"p_before_table_kept", "<p>a</p><table>", "<p>a</p><table>"},
    {"stray_p_kept", "<div>a</div></p><p>b", "<div>a</div></p><p>b"},
    {"p_closed_by_other_block_kept", "<dl><dd><p></dl>\n</p><p>x", "<dl><dd><p></dl></p><p>x"},
    {"p_before_body_end_kept", "<p>a</p></body>x", "<p>a</p></body>x"},
    {"table_cells_and_rows", "<table><tr><td>a</td>\n<td>b</td></tr>\n<tr><th>c</th></tr></table>",
     "<table><tr><td>a<td>b<tr><th>c</table>"},
    {"dt_dd", "<dl><dt>a</dt><dd>b</dd></dl>", "<dl><dt>a<dd>b</dl>"},
    {"option", "<select><option>a</option><option>b</option></select>",
     "<select><option>a<option>b</select>"},
    {"head_body_html", "<head></head>\n<body><p>x</p></body>\n</html>\n", "<head><body><p>x</p>"},
    // The parser adds white space after </body> to the body's last text: it stays.
    {"space_joining_text_after_body_kept", "<body>x</body>\n</html>", "<body>x</body>\n"},
    {"with_attributes_kept", "<ul><li>a</li x><li>b", "<ul><li>a</li x><li>b"},
};
INSTANTIATE_TEST_SUITE_P(EndTags, Safe, testing::ValuesIn(kEndTags), case_name);

// White space before a tag is judged by a shorter form of the rule: it answers as the whole rule
// for every left side and every kind a tag may have there.
TEST(SafeSpaceRules, BeforeTagAsTheWholeRule) {
  using markup::safe::Left;
  for (const Left left : {Left::Start, Left::Text, Left::EdgeEnd, Left::ContainerStart,
                          Left::BlockTag, Left::OtherTag})
    for (std::size_t r = 0; r < markup::safe::kRows.count; ++r)
      for (const std::uint16_t right : markup::safe::kRows.rows[r].meaning.before)
        EXPECT_EQ(markup::safe::space_cannot_show_before_tag(left, right),
                  markup::safe::space_cannot_show(left, right, true))
            << static_cast<int>(left) << " " << right;
}

// Element names are known in any case and only whole: a name that merely starts like a known one,
// or holds another byte, is an element the profile knows nothing of.
const Case kNames[] = {
    {"void_any_case", "<BR/><iMg src=a />", "<BR><iMg src=a>"},
    {"void_longer_name", "<brx/><imgs/>", "<brx/><imgs/>"},
    {"void_name_with_nul", std::string_view("<br\0/>", 6), std::string_view("<br\0/>", 6)},
    {"nine_bytes_any_case", "<PlainText><!-- a -->  b", "<PlainText><!-- a -->  b"},
    {"nine_bytes_one_more", "<plaintexts><!-- a -->x", "<plaintexts>x"},
};
INSTANTIATE_TEST_SUITE_P(Names, Safe, testing::ValuesIn(kNames), case_name);

// Names are read a word at a time where 16 bytes remain and byte by byte near the end of the page:
// each name must mean the same both ways, with or without attributes after it. Whether the white
// space before it goes shows whether the name was known as a block.
TEST(SafeNames, SameMeaningAtEveryLengthAndPlace) {
  const auto check = [](const std::string& name, bool block) {
    for (const std::string tail : {"", "x", "0123456789abcdefghijklmn"})
      for (const std::string rest : {">", " >"}) {
        const std::string page = "<b>a</b>\n<" + name + rest + tail;
        const std::string want =
            "<b>a</b>" + std::string(block ? "" : "\n") + "<" + name + ">" + tail;
        EXPECT_EQ(safe(page), want) << page;
      }
  };
  for (const char* name :
       {"p", "H1", "div", "MAIN", "Header", "address", "FIELDSET", "blockquote", "FigCaption"})
    check(name, true);
  for (const char* name : {"a", "fieldse", "fieldsets", "figcaptio", "blockquotes", "blockquote-x",
                           "my-div", "abcdefghijklmnop", "abcdefghijklmnopq"})
    check(name, false);
  check(std::string("div\x01", 4), false);
}

// Text is scanned 32 bytes at a time, quoted values 16 (words of eight without SSE2): the byte
// that needs a rule is found at every offset of a first and a second round, and in the last bytes
// of the page.
TEST(SafeText, StopsAtEveryOffset) {
  for (std::size_t k = 0; k < 72; ++k) {
    const std::string x(k, 'x');
    for (const std::string tail : {"", "0123456789abcdefghij"}) {
      EXPECT_EQ(safe("<p>" + x + "y \n z" + tail), "<p>" + x + "y\nz" + tail) << k;
      EXPECT_EQ(safe("<p>" + x + "y<b>" + tail), "<p>" + x + "y<b>" + tail) << k;
      const std::string bare = k == 0 ? "\"\"" : x;
      EXPECT_EQ(safe("<a title=\"" + x + "\">" + tail), "<a title=" + bare + ">" + tail) << k;
      EXPECT_EQ(safe("<a title=\"" + x + "=\">" + tail), "<a title=\"" + x + "=\">" + tail) << k;
      EXPECT_EQ(safe("<a href='" + x + "#&?'>" + tail), "<a href=" + x + "#&?>" + tail) << k;
    }
  }
}

// Attribute names are read 16 bytes at a time (words of eight without SSE2): a name of any length
// ends where it does, and a control byte that is no white space belongs to it.
TEST(SafeTags, AttributeNamesOfEveryLength) {
  for (std::size_t k = 1; k < 40; ++k) {
    const std::string n(k, 'n');
    for (const std::string tail : {"", "0123456789abcdefghij"}) {
      EXPECT_EQ(safe("<a " + n + "=\"x\">" + tail), "<a " + n + "=x>" + tail) << k;
      EXPECT_EQ(safe("<a " + n + " = 'x'  b>" + tail), "<a " + n + "=x b>" + tail) << k;
      const std::string control = n + "\x01" + n + "/>";
      EXPECT_EQ(safe("<a " + control + tail), "<a " + control + tail) << k;
    }
  }
}

// Attributes of the common shape (one space, a name of at most 14 bytes, a quoted value) are read
// from 16-byte looks while 80 bytes are left, the others byte by byte: each case must read the same
// at every distance from the end of the page, on either side of where the looks stop.
const std::string kSpaceEndsLook = "<a b=\"" + std::string(95, 'v') + " \">";
const Case kAttributeShapes[] = {
    {"bare_after_space_or_gt", "<a b=\"x\" c='y'\td=\"z\">", "<a b=x c=y d=z>"},
    {"quotes_kept", "<a b=\"x y\" c=\"\" d='x\"' e=\"x'\" f=\"`\" g=\"<\">",
     "<a b=\"x y\" c=\"\" d='x\"' e=\"x'\" f=\"`\" g=\"<\">"},
    {"gt_and_equals_in_value", "<a b=\"x>y\" c=\"x=y\">", "<a b=\"x>y\" c=\"x=y\">"},
    {"bang_and_control_byte_bare", "<a b=\"x!\" c=\"x\x01y\">", "<a b=x! c=x\x01y>"},
    {"value_then_name", "<a b=\"x\"c=\"y\" d>", "<a b=\"x\"c=y d>"},
    {"value_then_space_gt", "<a b=\"x\" >", "<a b=x>"},
    {"void_slash_after_value", "<img src=\"x\"/><br class=\"y\" />", "<img src=x><br class=y>"},
    {"slash_after_value_kept", "<a b=\"x\"/>", "<a b=\"x\"/>"},
    {"name_lengths_around_14", "<a bbbbbbbbbbbbb=\"x\" cccccccccccccc=\"x\" ddddddddddddddd=\"x\">",
     "<a bbbbbbbbbbbbb=x cccccccccccccc=x ddddddddddddddd=x>"},
    {"equals_leads_name", "<a =\"x\" b =\"y\">", "<a =\"x\" b=y>"},
    {"stop_in_name", "<a b<c=\"x\" d\"e=\"y\">", "<a b<c=x d\"e=y>"},
    {"value_of_16_then_17", "<a b=\"0123456789abcdef\" c=\"0123456789abcdefg\">",
     "<a b=0123456789abcdef c=0123456789abcdefg>"},
    {"long_values",
     "<a b=\"vvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvv\" "
     "c=\"vvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvv x\">",
     "<a b=vvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvv "
     "c=\"vvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvv x\">"},
    {"space_far_in_value",
     "<a b=\"vvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvv \">",
     "<a b=\"vvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvv \">"},
    {"style_value", "<a style=\"x: y\" STYLE=\"z\">", "<a style=\"x: y\" STYLE=z>"},
    // The space is the last byte of a 16-byte look: the quote is looked for in the 16 after it.
    {"quotes_needed_at_end_of_look", kSpaceEndsLook, kSpaceEndsLook},
};
TEST(SafeTags, AttributeShapesAtEveryDistanceFromTheEnd) {
  for (const Case& c : kAttributeShapes)
    for (std::size_t k = 0; k < 100; ++k) {
      const std::string tail(k, 't');
      EXPECT_EQ(safe(std::string(c.in) + tail), std::string(c.out) + tail) << c.name << " " << k;
    }
  // Cut off by the end of the page at every byte, on either path: copied as it is.
  const std::string page =
      "<a b=\"x y\" c=\"vvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvv\" d=\"z\" "
      "e=\"vvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvv w\" "
      "f=\"vvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvvv";
  for (std::size_t k = 2; k <= page.size(); ++k)
    EXPECT_EQ(safe("x" + page.substr(0, k)), "x" + page.substr(0, k)) << k;
}

// A tag met again is written as it was the first time: each of these, many times over, reads as
// it does alone, wherever the page ends after it.
TEST(SafeTags, RepeatedTagsWrittenAlike) {
  const Case tags[] = {
      {"two_attributes", "<li class=\"toctree-l4\" id=\"x y\">",
       "<li class=toctree-l4 id=\"x y\">"},
      {"gt_in_value", "<a title=\"x>y\" class=\"z\">", "<a title=\"x>y\" class=z>"},
      {"void_slash", "<img class=\"pict\"/>", "<img class=pict>"},
      {"end_tag", "</span class=\"pre\">", "</span class=pre>"},
      {"longest_kept", "<span class=\"012345678901234567890123456789012\">",
       "<span class=012345678901234567890123456789012>"},
      {"one_byte_longer", "<span class=\"0123456789012345678901234567890123\">",
       "<span class=0123456789012345678901234567890123>"},
  };
  for (const Case& c : tags)
    for (std::size_t k = 0; k < 60; k += 7) {
      std::string in = "<p>";
      std::string out = "<p>";
      for (int n = 0; n < 4; ++n) {
        in += std::string(c.in) + "x";
        out += std::string(c.out) + "x";
      }
      const std::string tail(k, 't');
      EXPECT_EQ(safe(in + tail), out + tail) << c.name << " " << k;
    }
  // Tags of one length and alike at both ends are told apart by the bytes between.
  const std::string a = "<p class=\"x y\" data-k=\"aaaa\">";
  const std::string b = "<p class=\"x-y\" data-k=\"aaaa\">";
  const std::string tail(50, 't');
  EXPECT_EQ(safe(a + b + a + b + tail),
            "<p class=\"x y\" data-k=aaaa><p class=x-y data-k=aaaa>"
            "<p class=\"x y\" data-k=aaaa><p class=x-y data-k=aaaa>" +
                tail);
}

// Longer tags that begin alike go on from where the start written before ends: each reads as it
// does alone, in any order, wherever the page ends after them.
TEST(SafeTags, LongTagsBeginningAlikeWrittenAlike) {
  const Case tags[] = {
      {"bare_href", "<a class=\"reference internal\" href=\"whatsnew/3.11.html#x\">",
       "<a class=\"reference internal\" href=whatsnew/3.11.html#x>"},
      {"quoted_href", "<a class=\"reference internal\" href=\"a b c d e f g h i j k\">",
       "<a class=\"reference internal\" href=\"a b c d e f g h i j k\">"},
      // The start's next byte differs: no space before the name.
      {"no_space_after_start", "<a class=\"reference internal\"href=\"whatsnew/3.11.html#y\">",
       "<a class=\"reference internal\"href=whatsnew/3.11.html#y>"},
      // The start ends in a value without quotes: the '/' after it keeps its space.
      {"slash_after_bare_start",
       "<a class=\"reference internal\" data-k=\"v\" / href=\"a long value\">",
       "<a class=\"reference internal\" data-k=v / href=\"a long value\">"},
      {"three_attributes",
       "<a class=\"reference internal\" href=\"x\" title=\"0123456789012345678901234567890\">",
       "<a class=\"reference internal\" href=x title=0123456789012345678901234567890>"},
      // A start ending in a value that goes without its quotes only where a space follows.
      {"bare_start", "<a class=\"reference-internal\" data-k=\"v\" href=\"whatsnew/3.11.html#w\">",
       "<a class=reference-internal data-k=v href=whatsnew/3.11.html#w>"},
      {"bare_start_then_no_space",
       "<a class=\"reference-internal\" data-k=\"v\"href=\"whatsnew/3.11.html#z\">",
       "<a class=reference-internal data-k=\"v\"href=whatsnew/3.11.html#z>"},
      {"other_start", "<a class=\"reference external\" href=\"https://example.com/a\">",
       "<a class=\"reference external\" href=https://example.com/a>"},
  };
  for (std::size_t k = 0; k < 90; k += 11) {
    std::string in = "<p>";
    std::string out = "<p>";
    for (int round = 0; round < 3; ++round)
      for (std::size_t t = 0; t < std::size(tags); ++t) {
        const Case& c = tags[(t * (round + 1)) % std::size(tags)];  // another order each round
        in += std::string(c.in) + "x";
        out += std::string(c.out) + "x";
      }
    const std::string tail(k, 't');
    EXPECT_EQ(safe(in + tail), out + tail) << k;
  }
}

// White space runs are read 16 bytes at a time (byte by byte without SSE2): a run of any length,
// with a line break at any place in it or none, reads the same between words and before a tag.
TEST(SafeText, SpaceRunsOfEveryLengthAndBreak) {
  for (std::size_t length = 1; length < 40; ++length)
    for (std::size_t at = 0; at <= length; ++at) {  // at == length: no line break
      std::string run(length, at % 2 == 0 ? ' ' : '\t');
      if (at < length) run[at] = at % 3 == 0 ? '\r' : '\n';
      const std::string want = at < length ? "\n" : run;
      for (const std::string tail : {"", "0123456789abcdef"}) {
        EXPECT_EQ(safe("<p>a" + run + "b" + tail), "<p>a" + want + "b" + tail) << length << at;
        EXPECT_EQ(safe("<b>a</b>" + run + "<i>" + tail), "<b>a</b>" + want + "<i>" + tail)
            << length << at;
      }
    }
}

// The page's own mention of white-space is found wherever it stands: at any offset, next to other
// hyphens, across the scan's 64-byte steps, and in the last bytes of the page.
TEST(SafeText, WhiteSpaceMentionAnywhere) {
  for (std::size_t pad = 0; pad < 140; ++pad) {
    const std::string hyphens(pad, '-');
    const std::string before = "<p>" + hyphens + "white-space a\n  b";
    EXPECT_EQ(safe(before), before) << pad;
    const std::string after = "<p>a\n  b" + hyphens + "<i class=x-white-space>";
    EXPECT_EQ(safe(after), after) << pad;
    EXPECT_EQ(safe("<p>" + hyphens + "white_space a\n  b"), "<p>" + hyphens + "white_space a\nb")
        << pad;
  }
}

// A mention after a run was cut as if there were none reads as one seen from the start: with a
// progress bar (the page looked at first) and without (looked at up to the first cut, the rest at
// the end), near the cut and far on. A run that is its line break already is no cut.
TEST(SafeText, WhiteSpaceMentionAfterACut) {
  for (const std::string run : {"\n  ", "\r", " \n", "\n"})
    for (const std::size_t far : {std::size_t{0}, std::size_t{5000}}) {
      const std::string page = "<p>a" + run + "b" + std::string(far, 'x') + " white-space c\n  d";
      EXPECT_EQ(safe(page), page) << far;
      RecordingSink sink;
      const auto shown = optimize_markup_safe(to_bytes(page), false, &sink);
      ASSERT_TRUE(shown);
      EXPECT_EQ(to_text(*shown), page) << far;
    }
}

TEST(SafeProgress, AboutAHundredTicksThenTheFinalOne) {
  std::string page;
  for (int k = 0; k < 5000; ++k) page += "<p>a  b</p>\n";
  RecordingSink sink;
  const auto got = optimize_markup_safe(to_bytes(page), false, &sink);
  ASSERT_TRUE(got);
  EXPECT_EQ(sink.finished, 1);
  ASSERT_GE(sink.ticks.size(), 50u);
  EXPECT_LE(sink.ticks.size(), 102u);
  EXPECT_EQ(sink.ticks.front().second, 0);
  EXPECT_EQ(sink.ticks.back(), std::make_pair(static_cast<std::int64_t>(page.size()),
                                              static_cast<std::int64_t>(page.size())));
}

TEST(SafeProgress, EmptyPage) {
  RecordingSink sink;
  const auto got = optimize_markup_safe({}, false, &sink);
  ASSERT_TRUE(got);
  EXPECT_TRUE(got->empty());
  EXPECT_EQ(sink.ticks, (std::vector<Tick>{{0, 0}}));
}

}  // namespace

namespace {

std::string safe_with_code(std::string_view page, bool php_blocks = false) {
  const auto got =
      optimize_markup_safe(to_bytes(page), php_blocks, nullptr, {}, InlineCode{true, true});
  EXPECT_TRUE(got.has_value());
  return got ? to_text(*got) : std::string{};
}

class InlineCodeTable : public testing::TestWithParam<Case> {};
TEST_P(InlineCodeTable, Minifies) { EXPECT_EQ(safe_with_code(GetParam().in), GetParam().out); }

// <style>, <script> and style="" by their types; what is not CSS or JavaScript stays.
const Case kInlineCode[] = {
    {"style", "<style>\na { color : red ; }\n</style>", "<style>a{color:red}</style>"},
    {"style_text_css", "<style type=\"TEXT/CSS \">a { b : c }</style>",
     "<style type=\"TEXT/CSS \">a{b:c}</style>"},
    {"style_other_type", "<style type=text/less>a { b : c }</style>",
     "<style type=text/less>a { b : c }</style>"},
    {"script", "<script>\nvar a = 1 ;\n</script>", "<script>var a=1;</script>"},
    {"script_javascript_type", "<script type=\"text/javascript\">f( 1 )</script>",
     "<script type=text/javascript>f(1)</script>"},
    {"script_module", "<script type=module>import  x from 'y'</script>",
     "<script type=module>import x from'y'</script>"},
    {"script_json_kept", "<script type=\"application/json\">{ \"a\" : 1 }</script>",
     "<script type=application/json>{ \"a\" : 1 }</script>"},
    {"script_importmap_kept", "<script type=importmap>{ \"a\" : 1 }</script>",
     "<script type=importmap>{ \"a\" : 1 }</script>"},
    {"script_template_kept", "<script type=text/template><p>  x </p></script>",
     "<script type=text/template><p>  x </p></script>"},
    {"script_src_kept", "<script src=a.js> x  </script>", "<script src=a.js> x  </script>"},
    {"script_language_kept", "<script language=vbscript>a  b</script>",
     "<script language=vbscript>a  b</script>"},
    {"script_html_comment_kept", "<script><!--\nvar a  = 1\n//--></script>",
     "<script><!--\nvar a  = 1\n//--></script>"},
    {"script_never_makes_close_tag", "<script>a < /script/.x</script>",
     "<script>a< /script/.x</script>"},
    {"script_unfollowable_kept", "<script>var a = 'x</script>", "<script>var a = 'x</script>"},
    {"script_to_end_of_page_kept", "<script>var  a", "<script>var  a"},
    {"style_attribute", "<p style=\" color : red ; \">x", "<p style=\"color:red\">x"},
    {"style_attribute_reference_kept", "<p style=\"font-family : &quot;a  b&quot;\">x",
     "<p style=\"font-family : &quot;a  b&quot;\">x"},
    {"style_attribute_in_svg_kept", "<svg><rect style=\"fill : red\"/></svg>",
     "<svg><rect style=\"fill : red\"/></svg>"},
    // The same tag bytes in SVG and then in HTML: each is written as it reads where it stands.
    {"style_attribute_in_svg_then_html",
     "<svg><g style=\"fill : red\"></g></svg><g style=\"fill : red\">"
     "0123456789012345678901234567890123456789012345678",
     "<svg><g style=\"fill : red\"></g></svg><g style=\"fill:red\">"
     "0123456789012345678901234567890123456789012345678"},
    {"style_attribute_in_html_then_svg",
     "<g style=\"fill : red\"></g><svg><g style=\"fill : red\"></g></svg>"
     "0123456789012345678901234567890123456789012345678",
     "<g style=\"fill:red\"></g><svg><g style=\"fill : red\"></g></svg>"
     "0123456789012345678901234567890123456789012345678"},
    // The same for a longer tag whose start holds the style attribute.
    {"long_style_tag_in_svg_then_html",
     "<svg><g style=\"fill : red ; stroke : blue\" class=\"x\" "
     "id=\"0123456789012345678\"></g></svg>"
     "<g style=\"fill : red ; stroke : blue\" class=\"x\" id=\"0123456789012345678\">"
     "0123456789012345678901234567890123456789012345678",
     "<svg><g style=\"fill : red ; stroke : blue\" class=x id=0123456789012345678></g></svg>"
     "<g style=\"fill:red;stroke:blue\" class=x id=0123456789012345678>"
     "0123456789012345678901234567890123456789012345678"},
    {"long_style_tag_in_html_then_svg",
     "<g style=\"fill : red ; stroke : blue\" class=\"x\" id=\"0123456789012345678\"></g><svg>"
     "<g style=\"fill : red ; stroke : blue\" class=\"x\" id=\"0123456789012345678\"></g></svg>"
     "0123456789012345678901234567890123456789012345678",
     "<g style=\"fill:red;stroke:blue\" class=x id=0123456789012345678></g><svg>"
     "<g style=\"fill : red ; stroke : blue\" class=x id=0123456789012345678></g></svg>"
     "0123456789012345678901234567890123456789012345678"},
};
INSTANTIATE_TEST_SUITE_P(Safe, InlineCodeTable, testing::ValuesIn(kInlineCode), case_name);

TEST(SafeInlineCode, OffByDefaultAndPhpBlocksKept) {
  EXPECT_EQ(safe("<style>a { b : c }</style><p style=\"a : b\">"),
            "<style>a { b : c }</style><p style=\"a : b\">");
  EXPECT_EQ(safe_with_code("<script>var a = '<?php echo 1 ?>' ;</script>", true),
            "<script>var a = '<?php echo 1 ?>' ;</script>");
}

}  // namespace
