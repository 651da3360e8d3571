#include "optimize/css.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "optimize/css_token.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

std::string minified(std::string_view in, CssInput kind = CssInput::Sheet) {
  const std::vector<unsigned char> bytes = to_bytes(in);
  std::vector<unsigned char> out(bytes.size() + 1, '#');
  const std::optional<std::size_t> n = minify_css(bytes, kind, out.data());
  if (!n) return "<declined>";
  return std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(*n));
}

// The tokens a parser sees: everything but white space and comments, each with its bytes, and
// without the ';' that end nothing (before '}', after '{', '}' or another ';').
std::vector<std::string> tokens(std::span<const unsigned char> in) {
  std::vector<std::string> seen;
  const std::string semicolon = std::to_string(static_cast<int>(css::Tok::Semicolon)) + ":;";
  const std::string open = std::to_string(static_cast<int>(css::Tok::OpenCurly)) + ":{";
  const std::string close = std::to_string(static_cast<int>(css::Tok::CloseCurly)) + ":}";
  for (std::size_t i = 0; i < in.size();) {
    const css::Token t = css::next_token(in, i);
    i = t.end;
    if (t.type == css::Tok::Whitespace || t.type == css::Tok::Comment) continue;
    std::string text = std::to_string(static_cast<int>(t.type)) + ":" +
                       std::string(in.begin() + static_cast<std::ptrdiff_t>(t.start),
                                   in.begin() + static_cast<std::ptrdiff_t>(t.end));
    // The white space that ends a hex escape is part of the escape, not a separator.
    while (css::kSpace[static_cast<unsigned char>(text.back())]) text.pop_back();
    if (text == close && !seen.empty() && seen.back() == semicolon) seen.pop_back();
    if (text == semicolon &&
        (seen.empty() || seen.back() == semicolon || seen.back() == open || seen.back() == close))
      continue;
    seen.push_back(std::move(text));
  }
  return seen;
}

struct Case {
  const char* name;
  std::string_view in, out;
};

class CssTable : public testing::TestWithParam<Case> {};
TEST_P(CssTable, Minifies) {
  EXPECT_EQ(minified(GetParam().in), GetParam().out);
  if (GetParam().out != "<declined>") {
    // Whatever the rule, the parser must see the very same tokens afterwards.
    const std::vector<unsigned char> in = to_bytes(GetParam().in);
    const std::vector<unsigned char> out = to_bytes(GetParam().out);
    EXPECT_EQ(tokens(out), tokens(in));
  }
}
auto case_name = [](const auto& p) { return std::string(p.param.name); };

// Tokens that would read differently if written side by side keep what separates them.
const Case kMerging[] = {
    {"ident_ident", "a{margin:auto auto}", "a{margin:auto auto}"},
    {"number_unit", "a{margin:1 em}", "a{margin:1 em}"},
    {"comment_between_idents", "a{b:c/**/d}", "a{b:c/**/d}"},
    {"comment_between_number_dash", "a{b:1/**/-x}", "a{b:1/**/-x}"},
    {"comment_between_hash_and_other", ".a/**/.b{}", ".a.b{}"},
    {"ident_paren", "@media screen and (color){}", "@media screen and (color){}"},
    {"slash_star", "a{b:x/ *y}", "a{b:x/ *y}"},
    {"plus_number_in_selector", "a + .5{}", "a+ .5{}"},
    {"dash_dash_then_gt", "-- > a{}", "-- >a{}"},
    {"no_cdo_from_lt_bang", "a{b:x < ! --y}", "a{b:x < !--y}"},
    {"no_cdo_from_three", "a{b:x<! --y}", "a{b:x<! --y}"},
    {"dimension_exponent", "a{b:1e +2}", "a{b:1e +2}"},
    {"escape_keeps_its_space", "a{b:c\\9 }", "a{b:c\\9 }"},
    {"hex_escape_in_ident", ".\\31 0{}", ".\\31 0{}"},
    {"hex_escape_then_comment_then_space", ".a\\31/**/ .b{}", ".a\\31  .b{}"},
    {"hex_escape_then_comment", ".a\\31/**/.b{}", ".a\\31.b{}"},
    {"hex_escape_then_kept_comment", ".a\\31/*! k */\n.b{}", ".a\\31/*! k */ .b{}"},
};
INSTANTIATE_TEST_SUITE_P(Css, CssTable, testing::ValuesIn(kMerging), case_name);

// Selectors: a space is the descendant combinator; only the explicit combinators lose theirs.
const Case kSelectors[] = {
    {"descendant_kept", "a  b {x:y}", "a b{x:y}"},
    {"pseudo_after_space_kept", "a :hover{x:y}", "a :hover{x:y}"},
    {"child", "a > b{x:y}", "a>b{x:y}"},
    {"sibling", "a ~ b + c{x:y}", "a~b+c{x:y}"},
    {"list", "a , b,\n c{x:y}", "a,b,c{x:y}"},
    {"attribute_spaced", "[ a = 'b c' ]{x:y}", "[a = 'b c']{x:y}"},
    {"attribute_unquoted", "a[b=c] d{x:y}", "a[b=c] d{x:y}"},
    // Quoted values stay quoted, even where a name would read the same.
    {"attribute_plain_name_quoted", "[a=\"b\"],[a|=\"b-c\" i],[a='-x']{x:y}",
     "[a=\"b\"],[a|=\"b-c\" i],[a='-x']{x:y}"},
    {"attribute_empty", "[a=\"\"],[a='']{x:y}", "[a=\"\"],[a='']{x:y}"},
    {"attribute_digit", "[a=\"1\"],[a=\"1x\"]{x:y}", "[a=\"1\"],[a=\"1x\"]{x:y}"},
    {"attribute_dash_digit", "[a=\"-1\"]{x:y}", "[a=\"-1\"]{x:y}"},
    {"attribute_dash_dash", "[a=\"--x\"],[a='--']{x:y}", "[a=\"--x\"],[a='--']{x:y}"},
    {"attribute_escape", "[a=\"\\31 x\"],[a='b\\'c']{x:y}", "[a=\"\\31 x\"],[a='b\\'c']{x:y}"},
    {"attribute_non_ascii", "[a=\"\xC3\xA9t\xC3\xA9\"]{x:y}", "[a=\"\xC3\xA9t\xC3\xA9\"]{x:y}"},
    {"attribute_space_inside", "[a='b c']{x:y}", "[a='b c']{x:y}"},
    {"attribute_quoted_then_flag", "[a=\"b\"  i]{x:y}", "[a=\"b\" i]{x:y}"},
    {"attribute_quoted_flag_touching", "[a=\"b\"i]{x:y}", "[a=\"b\"i]{x:y}"},
    {"nth_child_signs_kept", ":nth-child( 2n + 1 ){x:y}", ":nth-child(2n + 1){x:y}"},
    {"has_relative", "a:has( > b){x:y}", "a:has(> b){x:y}"},
    {"escaped_ident", ".a\\:b  c{x:y}", ".a\\:b c{x:y}"},
};
INSTANTIATE_TEST_SUITE_P(Selectors, CssTable, testing::ValuesIn(kSelectors), case_name);

// Declarations: names, colons, values, the last ';', !important.
const Case kDeclarations[] = {
    {"spaces_and_last_semicolon", "a {\n  color : red ;\n  margin: 0 auto;\n}\n",
     "a{color:red;margin:0 auto}"},
    {"empty_declarations", "a{;color:red;;}", "a{color:red}"},
    {"important", "a{color:red ! important}", "a{color:red!important}"},
    {"important_upper", "a{color:red !IMPORTANT;}", "a{color:red!IMPORTANT}"},
    {"comma_slash", "a{font:12px / 1.5 a , b}", "a{font:12px/1.5 a,b}"},
    {"calc_signs_kept", "a{width:calc( 100% - 2px )}", "a{width:calc(100% - 2px)}"},
    {"calc_nested", "a{w:max(1px, calc(2px + 3px) )}", "a{w:max(1px,calc(2px + 3px))}"},
    {"negative_after_space", "a{margin:0 -1px}", "a{margin:0 -1px}"},
    {"strings_urls_kept", "a{b:url( x.png );c:'a  b'}", "a{b:url( x.png );c:'a  b'}"},
    {"quoted_url", "a{b:url( \"x\" )}", "a{b:url(\"x\")}"},
    {"custom_property_kept", "a{--x:  1px  /* c */ 2px ;--y:{ a : b }; }",
     "a{--x:1px  /* c */ 2px;--y:{ a : b }}"},
    {"star_hack", "a{ *zoom : 1; _height : 1px }", "a{*zoom:1;_height:1px}"},
    {"progid_kept", "a{filter: progid:DX.gradient( a='#1', b=0 ) ;}",
     "a{filter:progid:DX.gradient( a='#1', b=0 )}"},
    {"unicode_range", "@font-face{unicode-range: U+0025-00FF , u+4?? }",
     "@font-face{unicode-range:U+0025-00FF,u+4??}"},
    {"hash_colours_kept", "a{color:#FFFFFF}", "a{color:#FFFFFF}"},
};
INSTANTIATE_TEST_SUITE_P(Declarations, CssTable, testing::ValuesIn(kDeclarations), case_name);

// At-rules: preludes, and blocks that hold rules, declarations or something unknown.
const Case kAtRules[] = {
    {"media_paren_first", "@media ( color ){a{b:c}}", "@media(color){a{b:c}}"},
    {"media_and_paren", "@media screen and ( max-width : 100px ) {\n a { b : c } }",
     "@media screen and (max-width:100px){a{b:c}}"},
    {"media_list", "@media screen , print{a{b:c}}", "@media screen,print{a{b:c}}"},
    {"media_selector_space", "@media print{a :hover{b:c}}", "@media print{a :hover{b:c}}"},
    {"supports_not", "@supports not ( display : grid ){a{b:c}}",
     "@supports not (display:grid){a{b:c}}"},
    {"supports_selector_kept", "@supports selector(a :hover){a{b:c}}",
     "@supports selector(a :hover){a{b:c}}"},
    {"import", "@import url(x.css) screen ;\na{b:c}", "@import url(x.css) screen;a{b:c}"},
    {"charset_whole", "@charset \"utf-8\" ;\na{b:c}", "@charset \"utf-8\" ;a{b:c}"},
    {"keyframes", "@keyframes k { from { a : b } 50% { a : c ; } }",
     "@keyframes k{from{a:b}50%{a:c}}"},
    {"font_face", "@font-face { font-family : x ; src : url(a.woff) format( 'woff' ) ; }",
     "@font-face{font-family:x;src:url(a.woff) format('woff')}"},
    {"page_margin_box", "@page :first { margin : 1in ; @top-left { content : 'x' } }",
     "@page :first{margin:1in;@top-left{content:'x'}}"},
    {"unknown_block_collapsed", "@foo bar { a : b ; c  d }", "@foo bar{a : b;c d}"},
    {"nested_rule", ".a { color : red ; &:hover { color : blue } .b :is(c) { d : e } }",
     ".a{color:red;&:hover{color:blue}.b :is(c){d:e}}"},
    {"nested_media", ".a{ @media (x) { color : red } }", ".a{@media(x){color:red}}"},
    {"cdo_cdc", "<!-- a{b:c} -->", "<!--a{b:c}-->"},
};
INSTANTIATE_TEST_SUITE_P(AtRules, CssTable, testing::ValuesIn(kAtRules), case_name);

// Comments go; "/*!" comments stay where they were.
const Case kComments[] = {
    {"plain", "/* x */a/* y */{ b : c /* z */ }", "a{b:c}"},
    {"kept_license", "/*! licence */\na { b : c }", "/*! licence */a{b:c}"},
    {"kept_between_words", "a /*! x */ b{c:d}", "a /*! x */ b{c:d}"},
    {"descendant_across_comment", "a /* x */ b{c:d}", "a b{c:d}"},
    {"comment_markers_in_string", "a{content:'/* x */'}", "a{content:'/* x */'}"},
};
INSTANTIATE_TEST_SUITE_P(Comments, CssTable, testing::ValuesIn(kComments), case_name);

// What the tokenizer only follows by its error recovery stays as it is.
const Case kDeclined[] = {
    {"unterminated_comment", "a{b:c} /* x", "<declined>"},
    {"unterminated_string", "a{content:'x}", "<declined>"},
    {"bad_string", "a{content:'x\n'}", "<declined>"},
    {"bad_url", "a{b:url(x y)}", "<declined>"},
    {"open_block", "a{b:c", "<declined>"},
    {"stray_close", "a{b:c}}", "<declined>"},
    {"backslash_newline", "a{b:\\\nc}", "<declined>"},
    {"escape_at_end", "a{b:c}\\", "<declined>"},
    {"unclosed_paren", "a{b:f(c}", "<declined>"},
};
INSTANTIATE_TEST_SUITE_P(Declined, CssTable, testing::ValuesIn(kDeclined), case_name);

// The declarations of a style="" attribute.
const Case kAttribute[] = {
    {"last_semicolon", " color : red ; margin : 0 ; ", "color:red;margin:0"},
    {"custom", "--x : 1  2 ;a:b", "--x:1  2;a:b"},
    {"empty", "  ", ""},
};
class CssAttribute : public testing::TestWithParam<Case> {};
TEST_P(CssAttribute, Minifies) {
  EXPECT_EQ(minified(GetParam().in, CssInput::Declarations), GetParam().out);
}
INSTANTIATE_TEST_SUITE_P(Css, CssAttribute, testing::ValuesIn(kAttribute), case_name);

TEST(Css, DeclinedFileComesBackWhole) {
  const std::vector<unsigned char> in = to_bytes("a { b : 'c }");
  const std::optional<Bytes> out = optimize_css(in);
  ASSERT_TRUE(out);
  EXPECT_EQ(to_text(*out), "a { b : 'c }");
}

// Every style sheet of the shared corpus, when it is there: shorter or equal, the same tokens,
// and a second pass changes nothing.
TEST(Css, CorpusSheetsKeepTheirTokens) {
  const fs::path root = fs::path(SVELTERY_CORPUS_DIR) / "code";
  if (!fs::exists(root)) GTEST_SKIP() << "no corpus at " << root;
  int sheets = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".css") continue;
    std::ifstream f(entry.path(), std::ios::binary);
    const std::vector<unsigned char> in{std::istreambuf_iterator<char>(f), {}};
    std::vector<unsigned char> out(in.size());
    const std::optional<std::size_t> n = minify_css(in, CssInput::Sheet, out.data());
    ASSERT_TRUE(n) << entry.path();
    out.resize(*n);
    EXPECT_EQ(tokens(out), tokens(in)) << entry.path();
    std::vector<unsigned char> again(out.size());
    const std::optional<std::size_t> m = minify_css(out, CssInput::Sheet, again.data());
    ASSERT_TRUE(m);
    again.resize(*m);
    EXPECT_EQ(again, out) << entry.path();
    ++sheets;
  }
  EXPECT_GT(sheets, 0);
}

}  // namespace
