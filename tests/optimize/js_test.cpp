#include "optimize/js.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "optimize/js_lex.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

std::string minified(std::string_view in, JsInput kind = JsInput::Script) {
  const std::vector<unsigned char> bytes = to_bytes(in);
  std::vector<unsigned char> out(bytes.size() + 1, '#');
  const std::optional<std::size_t> n = minify_js(bytes, kind, out.data());
  if (!n) return "<declined>";
  return std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(*n));
}

// What a parser sees: each token with its type and bytes, and "NL" where a line terminator (or a
// comment holding one) stood before it, which is all automatic semicolon insertion looks at.
struct Collector {
  std::span<const unsigned char> in;
  std::vector<std::string> seen;
  bool line = false;
  void token(js::Tok type, std::size_t start, std::size_t end) {
    if (line && !seen.empty()) seen.push_back("NL");
    line = false;
    seen.push_back(std::to_string(static_cast<int>(type)) + ":" +
                   std::string(in.begin() + static_cast<std::ptrdiff_t>(start),
                               in.begin() + static_cast<std::ptrdiff_t>(end)));
  }
  void space(std::size_t, std::size_t, bool line_break) { line = line || line_break; }
  void kept(std::size_t start, std::size_t end) {
    // A kept "//" comment ends with its line; whether a break follows it is the same either way.
    for (std::size_t k = start; k < end; ++k)
      if (in[k] == '\n') line = true;
  }
};

std::optional<std::vector<std::string>> tokens(std::span<const unsigned char> in, JsInput kind) {
  Collector c{in, {}, false};
  js::Lexer<Collector> lexer(in, kind == JsInput::Module ? js::Goal::Module : js::Goal::Script, c);
  if (!lexer.lex()) return std::nullopt;
  return c.seen;
}

struct Case {
  const char* name;
  std::string_view in, out;
};

class JsTable : public testing::TestWithParam<Case> {};
TEST_P(JsTable, Minifies) {
  EXPECT_EQ(minified(GetParam().in), GetParam().out);
  if (GetParam().out != "<declined>") {
    // Whatever the rule, the same tokens on the same lines afterwards.
    const std::vector<unsigned char> in = to_bytes(GetParam().in);
    const std::vector<unsigned char> out = to_bytes(GetParam().out);
    EXPECT_EQ(tokens(out, JsInput::Script), tokens(in, JsInput::Script));
  }
}
auto case_name = [](const auto& p) { return std::string(p.param.name); };

// Line breaks stay wherever a removed run held one: automatic semicolon insertion sees the same.
const Case kLines[] = {
    {"return_break", "return\n  a", "return\na"},
    {"break_continue", "for(;;){break\nx;continue\ny}", "for(;;){break\nx;continue\ny}"},
    {"throw_yield", "function*g(){yield\n1}", "function*g(){yield\n1}"},
    {"postfix_across_line", "a\n++\nb", "a\n++\nb"},
    {"blank_lines", "a = 1\n\n\n\tb = 2\r\n", "a=1\nb=2"},
    {"nothing_before_the_first_token", "\n /* x\n */ // y\n a", "a"},
    {"comment_with_break", "a /* x\n y */ b", "a\nb"},
    {"comment_without_break", "a /* x */ b", "a b"},
    {"line_comment", "a // x\nb", "a\nb"},
    {"separator_chars",
     "a\xE2\x80\xA8 b\xE2\x80\xA9"
     "c",
     "a\nb\nc"},
    {"unicode_spaces", "a\xC2\xA0=\xE3\x80\x80 1", "a=1"},
    {"broken_sequence_before_nbsp", "a\xE2\x80\xC2\xA0" "b", "a\xE2\x80 b"},
};
INSTANTIATE_TEST_SUITE_P(Lines, JsTable, testing::ValuesIn(kLines), case_name);

// Tokens that would read differently side by side keep one space.
const Case kMerging[] = {
    {"words", "var  a = typeof  b", "var a=typeof b"},
    {"plus_plus", "a + +b, a++ + b, a - -b, a - --b", "a+ +b,a+++b,a- -b,a- --b"},
    {"dots_never_spread", "a.. .b", "a.. .b"},
    {"names_ending_in_escapes_or_letters_beyond_ascii", "\\u{d} 0, a\\u0062 c, \xC3\xA9 x, x \xC3\xA9",
     "\\u{d} 0,a\\u0062 c,\xC3\xA9 x,x \xC3\xA9"},
    {"division_regex", "a / /re/.source", "a/ /re/.source"},
    {"regex_flags_then_word", "x = /a/g in o", "x=/a/g in o"},
    {"regex_then_word", "x = /a/ in o", "x=/a/ in o"},
    {"number_dot", "1 .toString(); 1..toString(); 1.5 .x", "1 .toString();1..toString();1.5 .x"},
    {"number_word", "1 in o", "1 in o"},
    {"no_html_comment_open", "a < !--b", "a< !--b"},
    {"no_html_comment_open_in_three", "a<! --b", "a<! --b"},
    {"no_close_tag", "a < /script/.x", "a< /script/.x"},
    {"no_html_comment_close", "a-- > b", "a-- >b"},
    {"arrow", "a = > b", "a= >b"},
    {"ternary_then_fraction", "a ? .5 : 1", "a?.5:1"},
    {"escaped_identifier", "a \\u0062", "a \\u0062"},
    {"private_name", "this. #x in o", "this.#x in o"},
    {"unicode_identifier", "var \xC3\xA9t\xC3\xA9 = 1", "var \xC3\xA9t\xC3\xA9=1"},
};
INSTANTIATE_TEST_SUITE_P(Merging, JsTable, testing::ValuesIn(kMerging), case_name);

// Every pair of these tokens, first apart and then after a name, must read back as the same
// tokens once their space is gone or kept: no two of them may merge, whatever kind each is.
TEST(JsPairs, NoPairMerges) {
  const std::string_view kTokens[] = {
      "a",   "in", "$",  "\\u0061", "\xC3\xA9", "1",  "1.5", ".5", "0x1", "1n", "/re/g", "'s'",
      "`t`", "+",  "++", "-",       "--",       "!",  "<",   ">",  "=",   "==", "=>",    ".",
      "?.",  "?",  "*",  "**",      "/",        "&&", "%=",  ">>", "<<=", "(",  ")",     "#x",
      ";",   ",",  ":",  "~",       "[",        "]",  "/re/"};
  for (const std::string_view a : kTokens)
    for (const std::string_view b : kTokens)
      for (const std::string_view before : {"", "x "}) {
        const std::string in = std::string(before) + std::string(a) + " " + std::string(b);
        const std::string out = minified(in);
        if (out == "<declined>") continue;
        EXPECT_EQ(tokens(to_bytes(out), JsInput::Script), tokens(to_bytes(in), JsInput::Script))
            << in << " -> " << out;
      }
}

// A '/' is a regex or a division by the tokens before it.
const Case kRegex[] = {
    {"after_if_paren", "if (a) /b c/.test(d)", "if(a)/b c/.test(d)"},
    {"after_while_paren", "while (a) /x y/g.exec(s)", "while(a)/x y/g.exec(s)"},
    {"division_after_paren", "(a) / b / c", "(a)/b/c"},
    {"division_after_bracket", "a[0] / 2 / x", "a[0]/2/x"},
    {"regex_after_block", "{}\n/a b/.test(c)", "{}\n/a b/.test(c)"},
    {"division_after_object", "x = {} / 2 / y", "x={}/2/y"},
    {"regex_after_return", "return /a b/", "return/a b/"},
    {"division_after_property_keyword", "a.return / 2 / b", "a.return/2/b"},
    {"regex_class_slash", "x = /[/ ]/ ", "x=/[/ ]/"},
    {"regex_after_postfix_is_division", "a++ / 2 / b", "a++/2/b"},
    {"for_await", "for await (x of y) /a b/", "for await(x of y)/a b/"},
    // Keywords are looked up by length and first letter: these only share a keyword's slot.
    {"long_name_in_the_row_of_in", "itemsByIdentifier1 / 2 / x", "itemsByIdentifier1/2/x"},
    {"capital_in_the_slot_of_await", "Await / 2 / x", "Await/2/x"},
};
INSTANTIATE_TEST_SUITE_P(Regex, JsTable, testing::ValuesIn(kRegex), case_name);

// Literals stay byte for byte.
const Case kLiterals[] = {
    {"strings", "a = 'x  y' + \"//  z\"", "a='x  y'+\"//  z\""},
    {"string_continuation", "'a\\\n  b'", "'a\\\n  b'"},
    {"template_nested", "`a ${ `b ${ /c d/ } ${ {e: 1} } /* f */` } g`",
     "`a ${`b ${/c d/} ${{e:1}} /* f */`} g`"},
    {"template_comment_inside_substitution", "`${ a /* c */ }`", "`${a}`"},
    {"numbers", "1_000 + 0x1F + 1e-3 + 10n + .5", "1_000+0x1F+1e-3+10n+.5"},
    {"script_markers_in_literals", "'</script>' + /<!--/ + `</script>`",
     "'</script>'+/<!--/+`</script>`"},
};
INSTANTIATE_TEST_SUITE_P(Literals, JsTable, testing::ValuesIn(kLiterals), case_name);

// Comments go, except the ones licences and source maps need.
const Case kComments[] = {
    {"kept_bang", "/*! keep */\na", "/*! keep */\na"},
    {"kept_license", "a /* @license MIT */ b", "a/* @license MIT */b"},
    {"kept_after_division", "a / /*! x */ b", "a/ /*! x */b"},
    {"kept_preserve", "// @preserve x\na", "// @preserve x\na"},
    {"source_map", "a\n//# sourceMappingURL=a.js.map\n", "a\n//# sourceMappingURL=a.js.map"},
    {"html_open_comment", "<!-- hide\na\n-->\nb", "a\nb"},
    {"html_close_after_comment", "a\n/* x */ --> y\nb", "a\nb"},
    {"hashbang", "#!/usr/bin/env node\n a", "#!/usr/bin/env node\na"},
};
INSTANTIATE_TEST_SUITE_P(Comments, JsTable, testing::ValuesIn(kComments), case_name);

// What the tokenizer cannot follow stays as it is.
const Case kDeclined[] = {
    // '#' before a line separator or NBSP names nothing: no private name, no token.
    {"hash_before_separator", "#\xE2\x80\xA8! x", "<declined>"},
    {"hash_before_nbsp", "a. #\xC2\xA0x", "<declined>"},
    {"exponent_without_digits", ".0E\xC2\xA0-->x", "<declined>"},
    {"unterminated_string", "a = 'x", "<declined>"},
    {"string_line_break", "a = 'x\ny'", "<declined>"},
    {"unterminated_template", "`a ${b}", "<declined>"},
    {"unterminated_comment", "a /* b", "<declined>"},
    {"unterminated_regex", "x = /a\n", "<declined>"},
    {"unbalanced", "f(a]", "<declined>"},
    {"stray_close", "a)", "<declined>"},
    {"open_brace", "{ a", "<declined>"},
    {"unknown_byte", "@decorator class A {}", "<declined>"},
    {"number_then_letter", "3in x", "<declined>"},
    {"bad_escape", "a\\x", "<declined>"},
};
INSTANTIATE_TEST_SUITE_P(Declined, JsTable, testing::ValuesIn(kDeclined), case_name);

TEST(Js, HtmlCommentsByGoal) {
  EXPECT_EQ(minified("a <!-- b", JsInput::Module), "a<!--b");
  EXPECT_EQ(minified("x\n--> y", JsInput::Module), "x\n-->y");
  EXPECT_EQ(minified("a <!-- b", JsInput::Script), "a");
  // A file a page may load either way: its meaning depends on the goal, so it stays whole.
  EXPECT_EQ(minified("a <!-- b", JsInput::Either), "<declined>");
  EXPECT_EQ(minified("x\n--> y", JsInput::Either), "<declined>");
  EXPECT_EQ(minified("x = '<!--' + `-->`\n", JsInput::Either), "x='<!--'+`-->`");
}

TEST(Js, DeclinedFileComesBackWhole) {
  const std::vector<unsigned char> in = to_bytes("a = 'x");
  const std::optional<Bytes> out = optimize_js(in, JsInput::Script);
  ASSERT_TRUE(out);
  EXPECT_EQ(to_text(*out), "a = 'x");
}

// Every script of the shared corpus, when it is there: the same tokens on the same lines, and a
// second pass changes nothing.
TEST(Js, CorpusScriptsKeepTheirTokens) {
  const fs::path root = fs::path(SVELTERY_CORPUS_DIR) / "code";
  if (!fs::exists(root)) GTEST_SKIP() << "no corpus at " << root;
  int scripts = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".js") continue;
    std::ifstream f(entry.path(), std::ios::binary);
    const std::vector<unsigned char> in{std::istreambuf_iterator<char>(f), {}};
    std::vector<unsigned char> out(in.size());
    const std::optional<std::size_t> n = minify_js(in, JsInput::Script, out.data());
    ASSERT_TRUE(n) << entry.path();
    out.resize(*n);
    EXPECT_EQ(tokens(out, JsInput::Script), tokens(in, JsInput::Script)) << entry.path();
    std::vector<unsigned char> again(out.size());
    const std::optional<std::size_t> m = minify_js(out, JsInput::Script, again.data());
    ASSERT_TRUE(m);
    again.resize(*m);
    EXPECT_EQ(again, out) << entry.path();
    ++scripts;
  }
  EXPECT_GT(scripts, 0);
}

}  // namespace
