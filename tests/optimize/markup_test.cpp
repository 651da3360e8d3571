#include "optimize/markup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "recording_sink.h"
#include "test_support.h"

using namespace std::string_view_literals;

namespace {

std::string run(std::string_view page, bool php_blocks = false) {
  const auto got = optimize_markup(to_bytes(page), php_blocks, nullptr);
  EXPECT_TRUE(got.has_value());
  return got ? to_text(*got) : std::string{};
}

// A plain byte-at-a-time model of the optimizer, written for clarity rather than speed. It works
// on a mutable copy of the page followed by one zero byte, rewrites white space inside tags in
// place and ticks once per iteration, so the bulk paths of the real one have something to agree
// with.
class Reference {
 public:
  Reference(std::string_view page, bool php)
      : in_(page.begin(), page.end()), end_(page.size()), php_(php) {
    in_.push_back(0);  // what a look-ahead one past the end sees
  }

  void run() {
    const auto total = static_cast<std::int64_t>(end_);
    std::int64_t countdown = 0;
    std::size_t i = 0;
    while (i < end_) {
      if (countdown != 0) {
        --countdown;
      } else {
        countdown = total / 100;
        ticks.emplace_back(total, static_cast<std::int64_t>(i));
      }
      i = in_[i] == '<' ? construct(i) : text(i);
    }
    ticks.emplace_back(total, static_cast<std::int64_t>(i));
  }

  std::string out;
  std::vector<Tick> ticks;

 private:
  static unsigned char lower(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c;
  }
  static unsigned char upper(unsigned char c) {
    return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 32) : c;
  }
  static bool word(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  }
  unsigned char at(std::size_t k) const { return k < in_.size() ? in_[k] : 0; }
  bool seq(std::size_t k, std::string_view lit, bool any_case) const {
    for (std::size_t m = 0; m < lit.size(); ++m) {
      if (k + m >= end_) return false;
      const unsigned char c = any_case ? lower(in_[k + m]) : in_[k + m];
      if (c != static_cast<unsigned char>(lit[m])) return false;
    }
    return true;
  }
  void copy(std::size_t from, std::size_t to) {
    for (std::size_t k = from; k < to; ++k) out.push_back(static_cast<char>(in_[k]));
  }

  std::size_t construct(std::size_t s) {
    if (seq(s + 1, "!--", false)) return comment(s);
    if (seq(s + 1, "!DOCTYPE", false)) return doctype(s);
    if (at(s + 1) == '!') return generic(s);
    if (at(s + 1) == '?' && php_) return php_block(s);
    switch (lower(at(s + 1))) {
      case 'n':
        return seq(s + 1, "noop>", true) ? verbatim(s, "noop", false) : generic(s);
      case 's':
        if (seq(s + 1, "script", true)) return verbatim(s, "script", true);
        return seq(s + 1, "style", true) ? verbatim(s, "style", true) : generic(s);
      case 'p':
        return seq(s + 1, "pre>", true) ? verbatim(s, "pre", false) : generic(s);
      case 'x':
        return seq(s + 1, "xmp>", true) ? verbatim(s, "xmp", false) : generic(s);
      case 'm':
        return seq(s + 1, "meta", true) ? meta(s) : generic(s);
      default:
        return generic(s);
    }
  }

  std::size_t generic(std::size_t s) {
    std::size_t i = s;
    for (;;) {
      if (i >= end_) return end_;
      const unsigned char c = in_[i];
      if (c == '>') {
        out.push_back('>');
        return i + 1;
      } else if (c == ' ') {
        if (!(out.back() == ' ' || in_[i + 1] == ' ' || in_[i + 1] == '>')) out.push_back(' ');
        ++i;
      } else if (c == '<' && php_ && i > s && at(i + 1) == '?') {
        i = php_block(i);  // PHP code inside a tag is code, not tag
      } else if (c == '\n' || c == '\t') {
        in_[i] = ' ';
      } else if (c == '\r') {
        in_[i] = '\n';
      } else {
        out.push_back(static_cast<char>(c));
        ++i;
      }
    }
  }

  std::size_t comment(std::size_t s) {
    std::size_t scan = s + 3;
    int depth = 0;
    for (;;) {
      ++scan;
      if (scan >= end_) return generic(s);
      if (in_[scan] == '<') {
        bool all = true;
        for (const char want : "!--"sv) {
          ++scan;
          if (at(scan) != want) {
            all = false;
            break;
          }
        }
        if (all) ++depth;
      } else if (in_[scan] == '-') {
        ++scan;
        bool ends = false;
        if (at(scan) == '-' && at(scan + 1) == '>') {
          ++scan;
          ends = true;
        } else if (at(scan) == '>') {
          ends = true;
        }
        if (ends) {
          if (depth == 0) return scan + 1;
          --depth;
        }
      }
    }
  }

  std::size_t doctype(std::size_t s) {
    std::size_t i = s + 9;
    while (i < end_ && in_[i] != '>') ++i;
    return i < end_ ? i + 1 : generic(s);
  }

  // Copies the block through the first "?>" that PHP reads as the end of its code.
  std::size_t php_block(std::size_t s) {
    const std::size_t end = php_code_end(s + 2);
    copy(s, end);
    return end;
  }

  static bool identifier(unsigned char c, bool first) {
    return c == '_' || c >= 0x80 || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           (!first && c >= '0' && c <= '9');
  }

  std::size_t php_code_end(std::size_t i) const {
    while (i < end_) {
      const unsigned char c = in_[i];
      if (c == '?' && at(i + 1) == '>') return i + 2;
      if (c == '\'' || c == '"' || c == '`') {
        ++i;
        while (i < end_ && in_[i] != c) i += in_[i] == '\\' ? 2 : 1;
        i = std::min(i + 1, end_);
      } else if (c == '/' && at(i + 1) == '*') {
        i += 2;
        while (i < end_ && !(in_[i] == '*' && at(i + 1) == '/')) ++i;
        i = std::min(i + 2, end_);
      } else if ((c == '/' && at(i + 1) == '/') || (c == '#' && at(i + 1) != '[')) {
        while (i < end_ && in_[i] != '\n' && in_[i] != '\r') {
          if (in_[i] == '?' && at(i + 1) == '>') return i + 2;
          ++i;
        }
      } else if (seq(i, "<<<", false)) {
        i = heredoc(i);
      } else {
        ++i;
      }
    }
    return end_;
  }

  // After a heredoc or nowdoc at `i`, or `i` + 3 when "<<<" opens neither.
  std::size_t heredoc(std::size_t i) const {
    std::size_t k = i + 3;
    while (at(k) == ' ' || at(k) == '\t') ++k;
    const unsigned char quote = at(k) == '\'' || at(k) == '"' ? at(k) : 0;
    if (quote) ++k;
    std::string id;
    while (k < end_ && identifier(in_[k], id.empty())) id.push_back(static_cast<char>(in_[k++]));
    if (id.empty() || (quote && at(k++) != quote)) return i + 3;
    if (at(k) == '\r' && at(k + 1) == '\n') ++k;
    if (at(k) != '\n') return i + 3;
    for (std::size_t line = k + 1; line <= end_; ++line) {
      if (in_[line - 1] != '\n') continue;
      std::size_t p = line;
      while (at(p) == ' ' || at(p) == '\t') ++p;
      if (seq(p, id, false) && !(p + id.size() < end_ && identifier(in_[p + id.size()], false)))
        return p + id.size();
    }
    return end_;
  }

  std::size_t verbatim(std::size_t s, std::string_view name, bool attributes) {
    std::size_t i = s;
    if (!attributes) {
      i = s + name.size() + 2;
      copy(s, i);
    } else {
      for (;;) {
        if (i >= end_) return end_;
        copy(i, i + 1);
        if (in_[i++] == '>') break;
      }
    }
    for (;;) {
      if (i >= end_) return end_;
      if (in_[i] == '<') {
        std::size_t k = i + 1;
        bool match = at(k++) == '/';
        for (const char letter : name) match = match && lower(at(k++)) == letter;
        match = match && at(k++) == '>';
        if (match) {
          copy(i, k);
          return k;
        }
      }
      copy(i, i + 1);
      ++i;
    }
  }

  std::size_t meta(std::size_t s) {
    std::size_t i = s + 5;
    for (;;) {
      if (i >= end_) {
        copy(s, end_);
        return end_;
      }
      const unsigned char c = lower(in_[i]);
      if (c == '>') return i + 1;
      if (c == 'h' || c == 'c') {
        const std::string_view rest = c == 'h' ? "ttp-equiv=" : "harset=";
        std::size_t k = i + 1;
        std::size_t matched = 0;
        while (matched < rest.size() && k < end_ && lower(in_[k]) == rest[matched]) ++k, ++matched;
        if (matched == rest.size()) return generic(s);
        i = k;
      } else {
        ++i;
      }
    }
  }

  bool output_ends_with(const std::string& form) const {
    if (out.size() < form.size()) return false;
    for (std::size_t k = 0; k < form.size(); ++k)
      if (upper(static_cast<unsigned char>(out[out.size() - form.size() + k])) != form[k])
        return false;
    return true;
  }

  bool block_tag_before() const {
    struct BlockTag {
      const char* name;
      bool opening, closing;
    };
    static constexpr BlockTag kTags[] = {
        {"P", true, true},      {"BR", true, false},    {"DD", true, false},
        {"DL", true, false},    {"DT", true, false},    {"H1", true, false},
        {"H2", true, false},    {"H3", true, false},    {"H4", true, false},
        {"H5", true, false},    {"H6", true, false},    {"HR", true, false},
        {"LI", true, false},    {"OL", true, false},    {"TD", true, true},
        {"TR", true, true},     {"UL", true, true},     {"COL", true, false},
        {"HEAD", true, true},   {"HTML", true, true},   {"TITLE", true, true},
        {"BODY", false, true},  {"FORM", false, true},  {"MENU", false, true},
        {"FRAME", false, true}, {"LAYER", false, true}, {"TABLE", false, true}};
    for (const BlockTag& tag : kTags) {
      if (tag.opening && output_ends_with(std::string("<") + tag.name + ">")) return true;
      if (tag.closing && output_ends_with(std::string("</") + tag.name + ">")) return true;
    }
    return false;
  }

  std::size_t text(std::size_t i) {
    const unsigned char c = in_[i];
    const bool has_prev = !out.empty();
    const unsigned char prev = has_prev ? static_cast<unsigned char>(out.back()) : 0;
    if (c == '&') {
      if (end_ - i >= 6 && seq(i + 1, "nbsp;", false)) {
        copy(i, i + 6);
        i += 6;
        if (i < end_ && (in_[i] == '\n' || in_[i] == '\r')) {
          out.push_back('\n');
          ++i;
        }
        return i;
      }
      out.push_back('&');
      return i + 1;
    }
    if (c == '\t') return i + 1;
    if (c == '\n' || c == '\r') {
      if (has_prev && word(prev) && i + 1 < end_ && word(in_[i + 1])) out.push_back(' ');
      return i + 1;
    }
    if (c == ' ') {
      if (!has_prev || prev != '>') {
        if (!(has_prev && prev == ' ')) out.push_back(' ');
        return i + 1;
      }
      if (!block_tag_before()) {
        out.push_back(' ');
        return i + 1;
      }
      std::size_t j = i;
      while (j < end_ && (in_[j] == ' ' || in_[j] == '\n' || in_[j] == '\t' || in_[j] == '\r')) ++j;
      if (j >= end_) return end_;
      if (in_[j] == '<') return j;
      out.push_back(' ');
      return i + 1;
    }
    out.push_back(static_cast<char>(c));
    return i + 1;
  }

  std::vector<unsigned char> in_;
  std::size_t end_;
  bool php_;
};

// Checks output, ticks and the finishing call against the reference, for both modes of progress.
void expect_matches_reference(std::string_view page, bool php_blocks) {
  Reference ref(page, php_blocks);
  ref.run();
  RecordingSink sink;
  const auto got = optimize_markup(to_bytes(page), php_blocks, &sink);
  ASSERT_TRUE(got.has_value());
  ASSERT_LE(got->size(), page.size());
  ASSERT_EQ(to_text(*got), ref.out) << "page: " << testing::PrintToString(std::string(page));
  ASSERT_EQ(sink.ticks, ref.ticks) << "page: " << testing::PrintToString(std::string(page));
  ASSERT_EQ(sink.finished, 1);
  ASSERT_EQ(run(page, php_blocks), ref.out);
}

struct Case {
  const char* name;
  std::string_view in, out;
  bool php = false;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Markup : public testing::TestWithParam<Case> {};

TEST_P(Markup, GivesExpectedBytes) {
  const Case& c = GetParam();
  EXPECT_EQ(run(c.in, c.php), c.out);
  expect_matches_reference(c.in, c.php);  // keeps the model honest too
}

std::string case_name(const testing::TestParamInfo<Case>& info) { return info.param.name; }

const Case kGenericTag[] = {
    {"collapse_newline_tab", "<a  href=x\n\ttarget=y >z", "<a href=x target=y>z"},
    {"space_before_gt", "<br >", "<br>"},
    {"cr_lf_inside", "<a \r\n b>", "<a b>"},
    {"cr_before_gt", "<a\r>", "<a>"},
    // The tag's white space is space, LF, TAB and CR; a form feed is an ordinary byte here.
    {"form_feed_is_no_tag_space", "<a\fb  c>", "<a\fb c>"},
    {"lf_before_gt", "<a\n>", "<a>"},
    {"spaces_before_gt", "<a  >", "<a>"},
    {"tab_space_before_gt", "<a\t >", "<a>"},
    {"space_tab_before_gt_keeps_one", "<a \t>", "<a >"},
    {"tab_lf_before_gt_keeps_one", "<a\t\n>", "<a >"},
    {"space_lf_before_gt_keeps_one", "<a \n>", "<a >"},
    {"lf_run", "<a\n\n\nx>", "<a x>"},
    {"quotes_not_tracked", "<img alt='a  b'>", "<img alt='a b'>"},
    {"first_gt_ends_even_in_quotes", "<a title='x  >  y'>z", "<a title='x> y'>z"},
    {"closing_tag", "</  b >", "</ b>"},
    {"space_after_lt", "< b>", "< b>"},
    {"lt_last_byte", "a<", "a<"},
    {"only_lt", "<", "<"},
    {"unterminated_keeps_trailing_space", "<a  b\n", "<a b "},
    {"span_not_special", "<span  class=x>", "<span class=x>"},
    {"strong_not_style", "<strong  id=y>", "<strong id=y>"},
    {"bang_other", "<!-x  y>", "<!-x y>"},
    {"bang_at_end", "<!", "<!"},
    {"noscript_not_noop", "<noscript>a  b</noscript>", "<noscript>a b</noscript>"},
    {"pre_with_attributes", "<pre class=x>a  b</pre>", "<pre class=x>a b</pre>"},
    {"scrip_short", "<scrip>a  b", "<scrip>a b"},
    {"noop_cut_by_end", "<noop", "<noop"},
    {"question_in_html_mode", "<?php  x ?>y", "<?php x ?>y"},
    {"zero_byte_inside", "<a\0  b>"sv, "<a\0 b>"sv},
    {"high_bytes_and_form_feed", "<a  \xE9\xFF\f>", "<a \xE9\xFF\f>"},
};
INSTANTIATE_TEST_SUITE_P(GenericTag, Markup, testing::ValuesIn(kGenericTag), case_name);

const Case kText[] = {
    {"lf_between_words", "a\nb", "a b"},
    {"lf_between_digits", "a1\n2b", "a1 2b"},
    {"lf_after_punctuation", "a.\nb", "a.b"},
    {"lf_before_punctuation", "a\n.b", "a.b"},
    {"lf_between_high_bytes", "\xE9\n\xE9", "\xE9\xE9"},
    {"cr_lf", "a\r\nb", "a b"},
    {"lf_cr", "a\n\rb", "a b"},
    {"cr_alone", "a\rb", "a b"},
    {"space_run", "a  b", "a b"},
    {"space_lf_space", "a \n b", "a b"},
    {"lf_space", "a\n b", "a b"},
    {"leading_lf", "\na", "a"},
    {"trailing_lf", "a\n", "a"},
    {"only_lf", "\n", ""},
    {"leading_spaces_keep_one", "   x", " x"},
    {"tab_never_a_space", "x\ty", "xy"},
    {"form_feed_vertical_tab_copied", "a\f\v b", "a\f\v b"},
    {"gt_in_text", "a > b", "a > b"},
    {"nbsp_cr_lf", "&nbsp;\r\nx", "&nbsp;\nx"},
    {"nbsp_lf_lf", "&nbsp;\n\nx", "&nbsp;\nx"},
    {"nbsp_cr_cr", "&nbsp;\r\r", "&nbsp;\n"},
    {"nbsp_upper_case", "&NBSP;\nx", "&NBSP;x"},
    {"nbsp_cut_by_end", "&nbsp", "&nbsp"},
    {"nbsp_at_end", "x&nbsp;", "x&nbsp;"},
    {"nbsp_keeps_following_space", "a &nbsp;\n b", "a &nbsp;\n b"},
    {"other_entity", "a &amp;\nb", "a &amp;b"},
    {"zero_bytes_kept", "a\0b\0"sv, "a\0b\0"sv},
    {"zero_byte_not_a_word", "a\0\nb"sv, "a\0b"sv},
    {"high_bytes", "\x80  \xFF", "\x80 \xFF"},
};
INSTANTIATE_TEST_SUITE_P(Text, Markup, testing::ValuesIn(kText), case_name);

const Case kBlockTags[] = {
    {"p_br_then_text", "<P>  <BR>  x", "<P><BR> x"},
    {"mixed_run_before_text", "<P> \n\t x", "<P> x"},
    {"tab_first_then_space", "<P>\t x", "<P> x"},
    {"h3_crlf", "<h3>\r\n  Title", "<h3> Title"},
    {"run_to_end", "<P>  \t\r\n", "<P>"},
    {"closing_td_tr", "</TD>  \n  </TR>", "</TD></TR>"},
    {"closing_ul_opening_li", "</UL>  <LI>", "</UL><LI>"},
    {"mixed_case", "<Br>  <b>", "<Br><b>"},
    {"text_before_tag", "x<P>  <B>", "x<P><B>"},
    {"stray_lt_before_tag", "<a<P>  <i>", "<a<P><i>"},
    {"inner_space_removed_first", "<P >  <b>", "<P><b>"},
    {"attributes_hide_it", "<P ALIGN=center>  x", "<P ALIGN=center> x"},
    {"opening_table_not", "<TABLE>  <TR>", "<TABLE> <TR>"},
    {"closing_table", "</TABLE>  <P>", "</TABLE><P>"},
    {"closing_ol_not", "</OL>  <P>", "</OL> <P>"},
    {"plain_tag", "<B>  x", "<B> x"},
    {"lf_after_any_tag", "<B>bold</B>\nnext", "<B>bold</B>next"},
    {"removed_comment_between", "<P><!-- note -->  <BR>", "<P><BR>"},
    {"page_starting_with_comment", "<!-- note --> x", " x"},
    {"whole_page",
     "<HEAD>\n  <TITLE>x</TITLE>\n</HEAD>\n<BODY>\n<P>Hello\nworld</P>\n</BODY>\n</HTML>\n",
     "<HEAD><TITLE>x</TITLE></HEAD><BODY><P>Hello world</P></BODY></HTML>"},
};
INSTANTIATE_TEST_SUITE_P(BlockTags, Markup, testing::ValuesIn(kBlockTags), case_name);

TEST(BlockTagList, EveryListedFormSwallowsSpaceBeforeTheNextTag) {
  for (const std::string form :
       {"<P>",     "</p>",    "<bR>",    "<Dd>",     "<dL>",     "<DT>",    "<h1>",
        "<H2>",    "<h3>",    "<H4>",    "<h5>",     "<H6>",     "<hr>",    "<Li>",
        "<OL>",    "<td>",    "</Td>",   "<TR>",     "</tr>",    "<ul>",    "</UL>",
        "<Col>",   "<HEAD>",  "</head>", "<Html>",   "</HTML>",  "<TiTlE>", "</title>",
        "</BODY>", "</form>", "</Menu>", "</FRAME>", "</layer>", "</Table>"}) {
    EXPECT_EQ(run(form + " \n <i>"), form + "<i>");
    EXPECT_EQ(run(form + "\t \n x"), form + " x");
  }
}

TEST(BlockTagList, OtherFormsKeepOneSpace) {
  for (const std::string form :
       {"<TH>",   "</TH>",   "<DIV>",   "<CENTER>", "<H7>",  "<H0>",  "</BR>",  "</DD>",  "</DL>",
        "</DT>",  "</H1>",   "</H6>",   "</HR>",    "</LI>", "</OL>", "</COL>", "<BODY>", "<FORM>",
        "<MENU>", "<FRAME>", "<LAYER>", "<TABLE>",  "<XP>",  "<P/>",  "<PP>",   "</P/>",  "<B>"}) {
    EXPECT_EQ(run(form + " \n <i>"), form + " <i>");
  }
}

const Case kComments[] = {
    {"removed", "a<!-- c -->b", "ab"},
    {"nested", "a<!-- c <!-- d --> e -->b", "ab"},
    {"two_in_a_row", "<!-- a --><!-- b -->c", "c"},
    {"four_dashes", "<!---->", ""},
    {"single_dash_ends", "a<!-- c -> d -->b", "a d -->b"},
    {"three_dashes", "a<!--->b", "ab"},
    {"gt_right_after_opener", "a<!-->b-->c", "ac"},
    {"byte_after_lt_not_examined", "<!--<->x-->y", "y"},
    {"inner_opener_needs_own_end", "<!--<!-->a-->b", "<!--<!-->a-->b"},
    {"zero_bytes_inside", "a<!--\0-->b"sv, "ab"},
    {"unterminated", "a<!-- x", "a<!-- x"},
    {"unterminated_runs_to_first_gt", "a<!--  x <b>y", "a<!-- x <b>y"},
    {"unterminated_dash", "a<!-- x -", "a<!-- x -"},
    {"unterminated_lt", "a<!-- x <", "a<!-- x <"},
    {"unmatched_inner_opener", "<!-- <!-- -->", "<!-- <!-- -->"},
    {"opener_only", "<!--", "<!--"},
    {"beats_php_block", "<!-- <?php x ?> -->y", "y", true},
};
INSTANTIATE_TEST_SUITE_P(Comments, Markup, testing::ValuesIn(kComments), case_name);

const Case kDoctype[] = {
    {"upper_case_removed", "a<!DOCTYPE  html>b", "ab"},
    {"next_byte_not_examined", "<!DOCTYPEx>y", "y"},
    {"empty", "<!DOCTYPE>y", "y"},
    {"lower_case_is_a_tag", "a<!doctype  html>b", "a<!doctype html>b"},
    {"unterminated", "a<!DOCTYPE html", "a<!DOCTYPE html"},
    {"cut_short", "<!DOCTYP", "<!DOCTYP"},
};
INSTANTIATE_TEST_SUITE_P(Doctype, Markup, testing::ValuesIn(kDoctype), case_name);

const Case kPhp[] = {
    {"block_kept", "<?php  x ?>y", "<?php  x ?>y", true},
    {"question_marks_inside", "<?php $a = $b ? 1 : 2; ?>x", "<?php $a = $b ? 1 : 2; ?>x", true},
    {"unterminated", "<?php x ?", "<?php x ?", true},
    {"empty", "<?\?>x", "<?\?>x", true},
    {"own_gt_not_an_end", "<?>  x?>  y", "<?>  x?> y", true},
    {"opener_at_end", "<?", "<?", true},
    {"other_rules_still_apply", "<a  b>  <!-- c -->x", "<a b> x", true},
    // Where PHP's code ends: "?>" in a string, heredoc or block comment is not the end.
    {"single_quoted", "<?php $a = '?>  '; ?>  b", "<?php $a = '?>  '; ?> b", true},
    {"double_quoted", "<?php echo \"?>  x\"; ?>  b", "<?php echo \"?>  x\"; ?> b", true},
    {"backtick", "<?php `ls ?>  x`; ?>  b", "<?php `ls ?>  x`; ?> b", true},
    {"escaped_quote", "<?php 'it\\'s ?>  '; ?>  b", "<?php 'it\\'s ?>  '; ?> b", true},
    {"escaped_backslash_closes", "<?php 'a\\\\' ?>  b", "<?php 'a\\\\' ?> b", true},
    {"other_quote_inside", "<?php \"it's ?>  \" ?>  b", "<?php \"it's ?>  \" ?> b", true},
    {"block_comment", "<?php /* ?>  */ ?>  b", "<?php /* ?>  */ ?> b", true},
    {"doc_comment", "<?php /** ?>  **/?>  b", "<?php /** ?>  **/?> b", true},
    {"comment_star_slash_not_own", "<?php /*/ ?>  */ ?>  b", "<?php /*/ ?>  */ ?> b", true},
    {"slash_comment_ends_block", "<?php // it's ?>  b", "<?php // it's ?> b", true},
    {"hash_comment_ends_block", "<?php # \"x ?>  b", "<?php # \"x ?> b", true},
    {"comment_ends_at_lf", "<?php // c\n'?>  '; ?>  b", "<?php // c\n'?>  '; ?> b", true},
    {"comment_ends_at_cr", "<?php # c\r'?>  ' ?>  b", "<?php # c\r'?>  ' ?> b", true},
    {"attribute_is_code", "<?php #[A('?>  ')] ?>  b", "<?php #[A('?>  ')] ?> b", true},
    {"heredoc", "<?php $a = <<<EOT\n?>  \nEOT;\n?>  b", "<?php $a = <<<EOT\n?>  \nEOT;\n?> b",
     true},
    {"nowdoc", "<?php $a = <<<'EOT'\n?>  \nEOT;\n?>  b", "<?php $a = <<<'EOT'\n?>  \nEOT;\n?> b",
     true},
    {"quoted_heredoc_after_blanks", "<?php <<< \t\"A\"\n?>  \nA?>  b",
     "<?php <<< \t\"A\"\n?>  \nA?> b", true},
    {"indented_closing_identifier", "<?php f(<<<EOT\n  ?>  \n \t EOT);?>  b",
     "<?php f(<<<EOT\n  ?>  \n \t EOT);?> b", true},
    {"identifier_prefix_of_word", "<?php <<<EOT\nEOTX ?>  \nEOT?>  b",
     "<?php <<<EOT\nEOTX ?>  \nEOT?> b", true},
    {"heredoc_crlf", "<?php <<<EOT\r\n?>  \r\nEOT;\r\n?>  b",
     "<?php <<<EOT\r\n?>  \r\nEOT;\r\n?> b", true},
    {"lone_cr_starts_no_line", "<?php <<<A\nx\rA ?>  \nA?>  b", "<?php <<<A\nx\rA ?>  \nA?> b",
     true},
    {"heredoc_digit_first_is_code", "<?php <<<1\n?>  b", "<?php <<<1\n?> b", true},
    {"four_lt_open_no_heredoc", "<?php <<<<EOT\n?>  b", "<?php <<<<EOT\n?> b", true},
    {"heredoc_needs_line_end", "<?php <<<EOT ?>  b", "<?php <<<EOT ?> b", true},
    {"identifier_closing_at_end", "<?php <<<A\n?>  \nA", "<?php <<<A\n?>  \nA", true},
    {"quote_after_failed_heredoc", "<?php <<<\"A\n?>  b", "<?php <<<\"A\n?>  b", true},
    {"unterminated_string", "<?php 'x ?>  <p>  y", "<?php 'x ?>  <p>  y", true},
    {"unterminated_comment", "<?php /* ?>  y", "<?php /* ?>  y", true},
    {"unterminated_heredoc", "<?php <<<EOT\n?>  y", "<?php <<<EOT\n?>  y", true},
    {"heredoc_opener_at_end", "<?php <<<", "<?php <<<", true},
    {"lone_quote", "<?\"", "<?\"", true},
    {"backslash_at_end", "<?php '\\", "<?php '\\", true},
    {"nul_bytes", "<?php '\0?>  '\0?>  x"sv, "<?php '\0?>  '\0?> x"sv,
     true},  // PHP code inside a tag is code: copied unchanged, and the tag goes on after it.
    {"block_inside_tag", "<form  a\n<?php /**\n * x  ?> */ f(); ?>\n>  y",
     "<form a <?php /**\n * x  ?> */ f(); ?>> y", true},
    {"tag_in_html_mode_collapses", "<a <?php  x ?>  b>", "<a <?php x ?> b>", false},
    {"unterminated_block_inside_tag", "<a <?php  x", "<a <?php  x", true},
};
INSTANTIATE_TEST_SUITE_P(Php, Markup, testing::ValuesIn(kPhp), case_name);

const Case kVerbatim[] = {
    {"noop", "<noop>a  b</noop>", "<noop>a  b</noop>"},
    {"noop_any_case", "<NoOp>a  b</NOOP>", "<NoOp>a  b</NOOP>"},
    {"noop_with_space_is_a_tag", "<noop >a  b</noop>", "<noop>a b</noop>"},
    {"closing_with_space_is_content", "<noop>a</noop >b  c</noop>", "<noop>a</noop >b  c</noop>"},
    {"script_keeps_opening_tag", "<script  src=x>a  b</script>", "<script  src=x>a  b</script>"},
    {"script_near_miss_closers", "<script>a</scriptx>b</SCRIPT>", "<script>a</scriptx>b</SCRIPT>"},
    {"script_spaced_closer", "<script>x < /script>y</script>", "<script>x < /script>y</script>"},
    {"script_double_lt", "<script><</script>x  y", "<script><</script>x y"},
    {"scripts_counts", "<scripts>a  b</script>", "<scripts>a  b</script>"},
    {"style", "<Style>a  b</STYLE>", "<Style>a  b</STYLE>"},
    {"styles_counts", "<styles>a  b</style>", "<styles>a  b</style>"},
    {"stylesheet_counts", "<stylesheet>a  b", "<stylesheet>a  b"},
    {"xmp", "<xmp>a  b</xmp>", "<xmp>a  b</xmp>"},
    {"xmp_with_space_is_a_tag", "<xmp >a  b", "<xmp>a b"},
    {"pre", "<pre>a  b</pre>", "<pre>a  b</pre>"},
    {"pre_white_space", "<PRE>\t\r\n</pre >x</Pre>", "<PRE>\t\r\n</pre >x</Pre>"},
    {"rules_resume_after", "<pre>a  b</pre>  c\td", "<pre>a  b</pre> cd"},
    {"script_unterminated", "<script>a  b", "<script>a  b"},
    {"script_opening_unterminated", "<script  a", "<script  a"},
    {"comment_in_script", "<script>\n<!--\nx=1;\n//-->\n</script>",
     "<script>\n<!--\nx=1;\n//-->\n</script>"},
    {"comment_in_style", "<style><!-- p {x:1} --></style>", "<style><!-- p {x:1} --></style>"},
    {"comment_in_noop", "<noop><!-- c --></noop>", "<noop><!-- c --></noop>"},
    {"php_in_script", "<script><?x  ?></script>", "<script><?x  ?></script>", true},
    {"zero_bytes_inside", "<xmp>\0  \0</xmp>"sv, "<xmp>\0  \0</xmp>"sv},
};
INSTANTIATE_TEST_SUITE_P(Verbatim, Markup, testing::ValuesIn(kVerbatim), case_name);

const Case kMeta[] = {
    {"removed", "<meta name=x content=y>z", "z"},
    {"metadata_counts", "<metadata>z", "z"},
    {"bare", "<Meta  >z", "z"},
    {"h_alone", "<meta h>z", "z"},
    {"space_before_equals", "<meta http-equiv =x>z", "z"},
    {"http_equiv_kept", "<meta http-equiv=refresh content=5>z",
     "<meta http-equiv=refresh content=5>z"},
    {"mismatch_examined_again", "<meta hhttp-equiv=x>z", "<meta hhttp-equiv=x>z"},
    {"quotes_not_tracked", "<meta content='http-equiv=1'>z", "<meta content='http-equiv=1'>z"},
    {"kept_as_generic_tag", "<META  HTTP-EQUIV=x>z", "<META HTTP-EQUIV=x>z"},
    {"unterminated_copied_as_is", "<meta  name=x", "<meta  name=x"},
    {"test_cut_by_end", "<meta  h", "<meta  h"},
    {"charset_kept", "<meta charset=utf-8>z", "<meta charset=utf-8>z"},
    {"charset_any_case", "<META  CharSet=x>z", "<META CharSet=x>z"},
    {"charset_in_content", "<meta content='text/html;  charset=UTF-8'>",
     "<meta content='text/html; charset=UTF-8'>"},
    {"charset_after_line_break", "<meta\ncharset=x>", "<meta charset=x>"},
    {"charset_space_before_equals", "<meta charset =x>z", "z"},
    {"charset_after_c", "<meta ccharset=x>z", "<meta ccharset=x>z"},
    {"charset_after_h", "<meta hcharset=x>z", "<meta hcharset=x>z"},
    {"h_taken_by_charset_test", "<meta chttp-equiv=x>z", "z"},
    {"charset_at_end", "<meta charset=", "<meta charset="},
};
INSTANTIATE_TEST_SUITE_P(Meta, Markup, testing::ValuesIn(kMeta), case_name);

TEST(MarkupProgress, EmptyInputTicksOnceAndFinishes) {
  RecordingSink sink;
  const auto got = optimize_markup({}, false, &sink);
  ASSERT_TRUE(got.has_value());
  EXPECT_TRUE(got->empty());
  EXPECT_EQ(sink.ticks, (std::vector<Tick>{{0, 0}}));
  EXPECT_EQ(sink.finished, 1);
}

// 436 bytes give an interval of 4: iterations 1, 6, 11, ... tick, whether the bytes go in bulk
// (letters, single spaces) or one rule at a time (tabs, space runs).
TEST(MarkupProgress, EveryFifthIterationOf436) {
  std::vector<Tick> expected;
  for (std::int64_t done = 0; done < 436; done += 5) expected.emplace_back(436, done);
  expected.emplace_back(436, 436);
  for (const std::string_view unit : {"x"sv, "\t"sv, " "sv, "x "sv, "ab\t"sv, "a\n"sv}) {
    std::string page;
    while (page.size() < 436) page += unit;
    page.resize(436);
    RecordingSink sink;
    ASSERT_TRUE(optimize_markup(to_bytes(page), false, &sink).has_value());
    EXPECT_EQ(sink.ticks, expected) << testing::PrintToString(std::string(unit));
    EXPECT_EQ(sink.finished, 1);
  }
}

// Under 100 bytes every iteration ticks, which shows where iterations begin.
TEST(MarkupProgress, OneIterationPerConstructAndRule) {
  struct Iterations {
    std::string_view page;
    std::vector<std::int64_t> starts;
  };
  const Iterations cases[] = {
      {"<a  b>&nbsp;\nb  <!-- c -->", {0, 6, 13, 14, 15, 16}},
      {"&nbsp;x&nbs", {0, 6, 7, 8, 9, 10}},
      {"<P>  \n <b>", {0, 3, 7}},
      {"<P> \n x", {0, 3, 4, 5, 6}},
      {"<P>  ", {0, 3}},
      {"<script>a</script>b", {0, 18}},
  };
  for (const Iterations& c : cases) {
    std::vector<Tick> expected;
    const auto total = static_cast<std::int64_t>(c.page.size());
    for (const std::int64_t done : c.starts) expected.emplace_back(total, done);
    expected.emplace_back(total, total);
    RecordingSink sink;
    ASSERT_TRUE(optimize_markup(to_bytes(c.page), false, &sink).has_value());
    EXPECT_EQ(sink.ticks, expected) << testing::PrintToString(std::string(c.page));
  }
}

TEST(MarkupMemory, UnallocatableOutputGivesNothingAndPrintsNothing) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer aborts on an impossible allocation instead of throwing";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  GTEST_SKIP() << "the sanitizer aborts on an impossible allocation instead of throwing";
#endif
#endif
  // No address space holds 2^62 bytes, so the output allocation fails before any byte is read.
  const unsigned char page[] = "<p>";
  const std::span<const unsigned char> huge(page, std::size_t{1} << 62);
  std::optional<Bytes> got;
  EXPECT_EQ(capture_stdout([&] { got = optimize_markup(huge, false, nullptr); }), "");
  EXPECT_FALSE(got.has_value());
}

// A reused buffer's old bytes and size never show: shorter, longer and far larger than the page.
TEST(MarkupMemory, ReusedBufferGivesTheSameBytes) {
  const std::string_view page = "<p>  a  <b> b </b>\n\n<pre> x </pre>  ";
  const std::string fresh = run(page);
  for (const std::size_t old : {std::size_t{3}, page.size() + 1, std::size_t{1} << 16}) {
    for (const bool safe : {false, true}) {
      Bytes reuse(old, '#');
      const auto got = safe ? optimize_markup_safe(to_bytes(page), false, nullptr, std::move(reuse))
                            : optimize_markup(to_bytes(page), false, nullptr, std::move(reuse));
      ASSERT_TRUE(got.has_value());
      EXPECT_EQ(to_text(*got),
                safe ? to_text(*optimize_markup_safe(to_bytes(page), false, nullptr)) : fresh)
          << old;
    }
  }
}

// Random pages from fragments that start, end or break rules, checked against the reference.
TEST(MarkupProperty, AgreesWithReferenceOnRandomPages) {
  static constexpr std::string_view kFragments[] = {
      "<",       ">",           "<!--",   "-->",         "->",       "-",           "<!",
      "!",       "<!DOCTYPE",   "<?",     "?>",          "?",        "<script",     "</script>",
      "<STYLE>", "</style>",    "<noop>", "</NOOP>",     "<pre>",    "</pre>",      "<xmp>",
      "</xmp>",  "<meta",       "<META ", "http-equiv=", "charset=", "HTTP-EQUIV=", "&nbsp;",
      "&",       "nbsp;",       "\n",     "\r",          "\t",       " ",           "  ",
      "<P>",     "</P>",        "<br>",   "</TD>",       "<TABLE>",  "</table>",    "<b>",
      "<p ",     "/",           "=",      "'",           "a",        "Z",           "7",
      ".",       "word",        "\0"sv,   "\xE9",        "\xFF",     "\"",          "`",
      "\\",      "/*",          "*/",     "//",          "#",        "#[",          "<<<",
      "<<<A\n",  "<<< 'A'\r\n", "A",      "\nA;"};
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(kFragments) - 1);
  for (int round = 0; round < 4000; ++round) {
    const std::size_t count = round < 3900 ? rng() % 60 : 500 + rng() % 1500;
    std::string page;
    for (std::size_t k = 0; k < count; ++k) page += kFragments[pick(rng)];
    expect_matches_reference(page, (round & 1) != 0);
    if (testing::Test::HasFatalFailure()) return;
  }
}

// Each rule's bytes at every offset of the 32-byte rounds and eight-byte words the bulk paths
// read, in text and inside a tag: a byte's neighbour may lie in the round before or after.
TEST(MarkupProperty, AgreesWithReferenceAtEveryOffset) {
  static constexpr std::string_view kStops[] = {" ",  "  ",     " >",  "  >",  ">",  "<",
                                                "&",  "&nbsp;", "\n",  "\n\n", "\t", "\r\n",
                                                "\v", "<?",     " ?>", "x"};
  for (const std::string_view stop : kStops) {
    for (std::size_t k = 0; k < 72; ++k) {
      const std::string plain(k, 'w');
      const std::string body = plain + std::string(stop) + "b" + plain + std::string(stop);
      for (const bool php : {false, true}) {
        expect_matches_reference("a" + body + "c", php);
        expect_matches_reference("<a" + body + "c>", php);
        if (testing::Test::HasFatalFailure()) return;
      }
    }
  }
}

// Real pages, so the bulk paths meet realistic run lengths and tick positions: the repository's
// pages, and the shared corpus's too where it lies beside the repository.
TEST(MarkupProperty, AgreesWithReferenceOnCorpus) {
  namespace fs = std::filesystem;
  int pages = 0;
  for (const fs::path& root : {fs::path(SVELTERY_TEST_CORPUS_DIR), fs::path(SVELTERY_CORPUS_DIR)}) {
    for (const char* kind : {"html", "php"}) {
      if (!fs::is_directory(root / kind)) continue;
      for (const auto& entry : fs::recursive_directory_iterator(root / kind)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream file(entry.path(), std::ios::binary);
        const std::string page{std::istreambuf_iterator<char>(file), {}};
        SCOPED_TRACE(entry.path().string());
        expect_matches_reference(page, std::string_view(kind) == "php");
        if (testing::Test::HasFatalFailure()) return;
        ++pages;
      }
    }
  }
  EXPECT_GT(pages, 0) << "no pages under " << SVELTERY_TEST_CORPUS_DIR;
}

}  // namespace
