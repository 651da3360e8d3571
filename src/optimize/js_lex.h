// The script tokenizer: the ECMAScript lexical grammar over raw UTF-8 bytes, deciding regular
// expression or division from the tokens before, as a parser would.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "optimize/byte_scan.h"
#include "optimize/code_scan.h"

namespace js {

enum class Tok : unsigned char {
  Word,    // identifier, keyword or private name (#x), escapes included
  Number,  // numeric literal, BigInt and separators included
  String,
  Template,  // a whole template without substitutions, or one piece of one: `...${, }...${, }...`
  Regex,
  Punct,
  Lone,      // a punctuator of one byte that runs together with nothing: ( ) [ ] { } ; , ~ :
  Hashbang,  // #! ... at the very start: kept whole, it is no comment to a parser
};

// Classic scripts read the HTML-like comments (<!-- and a line-starting -->); modules do not.
// Either: a file a page may load as one or the other, whose HTML-like comments are errors here.
enum class Goal { Script, Module, Either };

// Bytes that continue an identifier. Every byte from 0x80 on counts, except where a sequence
// spells one of the white-space or line-terminator code points (checked before this table).
inline constexpr auto kIdentPart =
    code::with_high_bytes("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz$_\\");
inline constexpr auto kIdentStart = code::without(kIdentPart, "0123456789");
// The identifier bytes that need no further look: ASCII, no escape.
inline constexpr code::RunClass kIdentPlain{true, true, false, "$_"};
using code::kDigit;
inline constexpr auto kHexDigit = byte_set("0123456789abcdefABCDEF_");
inline constexpr auto kAsciiSpace = byte_set(" \t\v\f");
// A run of white space that holds a line break: ASCII spaces and LF and CR.
inline constexpr code::RunClass kSpaceOrBreak{false, false, false, " \t\v\f\n\r"};

// Bytes that are neither a line terminator nor the first byte of U+2028 and U+2029.
inline constexpr auto kInLine = code::all_but("\n\r\xE2");

// What a token's first byte decides.
enum class First : unsigned char {
  Other,
  Space,
  Break,
  Name,
  Digit,
  Dot,
  Quote,
  Backtick,
  Hash,
  Slash,
  Lt,
  Minus,
  High,
  Single,
  Punct,
  // Each bracket has its own class, so that one dispatch reaches what it does to the stacks.
  OpenParen,
  CloseParen,
  OpenSquare,
  CloseSquare,
  OpenBrace,
  CloseBrace
};

inline constexpr auto kFirst = [] {
  std::array<First, 256> t{};
  code::assign(t, kAsciiSpace, First::Space);
  code::assign(t, kIdentStart, First::Name);
  code::assign(t, code::with_high_bytes(""), First::High);
  code::assign(t, kDigit, First::Digit);
  code::assign(t, "\n\r", First::Break);
  code::assign(t, ".", First::Dot);
  code::assign(t, "\"'", First::Quote);
  code::assign(t, "`", First::Backtick);
  code::assign(t, "#", First::Hash);
  code::assign(t, "/", First::Slash);
  code::assign(t, "<", First::Lt);
  code::assign(t, "-", First::Minus);
  code::assign(t, "?>=!+*&|%^", First::Punct);
  code::assign(t, ";,~:", First::Single);  // punctuators of one byte whatever follows
  code::assign(t, "(", First::OpenParen);
  code::assign(t, ")", First::CloseParen);
  code::assign(t, "[", First::OpenSquare);
  code::assign(t, "]", First::CloseSquare);
  code::assign(t, "{", First::OpenBrace);
  code::assign(t, "}", First::CloseBrace);
  return t;
}();

// Length of the white-space code point at i that lies outside ASCII (NBSP, BOM, the Zs
// separators), 0 when there is none.
inline std::size_t unicode_space(std::span<const unsigned char> in, std::size_t i) {
  const unsigned char c = in[i];
  if (c == 0xC2) return peek(in, i + 1) == 0xA0 ? 2 : 0;
  if (in.size() - i < 3) return 0;
  const unsigned char b1 = in[i + 1], b2 = in[i + 2];
  if (c == 0xEF) return b1 == 0xBB && b2 == 0xBF ? 3 : 0;
  if (c == 0xE1) return b1 == 0x9A && b2 == 0x80 ? 3 : 0;
  if (c == 0xE3) return b1 == 0x80 && b2 == 0x80 ? 3 : 0;
  if (c == 0xE2) {
    if (b1 == 0x80 && ((b2 >= 0x80 && b2 <= 0x8A) || b2 == 0xAF)) return 3;
    if (b1 == 0x81 && b2 == 0x9F) return 3;
  }
  return 0;
}

// Length of the line terminator at i (LF, CR, CR LF, U+2028, U+2029), 0 when there is none.
inline std::size_t line_terminator(std::span<const unsigned char> in, std::size_t i) {
  const unsigned char c = in[i];
  if (c == '\n') return 1;
  if (c == '\r') return peek(in, i + 1) == '\n' ? 2 : 1;
  if (c == 0xE2 && in.size() - i >= 3 && in[i + 1] == 0x80 &&
      (in[i + 2] == 0xA8 || in[i + 2] == 0xA9))
    return 3;
  return 0;
}

// The punctuator at i, longest match first; 0 when the byte starts none. '/' counts as division.
inline std::size_t punctuator(std::span<const unsigned char> in, std::size_t i) {
  const unsigned char c = in[i];
  const unsigned char n1 = peek(in, i + 1);
  const unsigned char n2 = peek(in, i + 2);
  switch (c) {
    case '{':
    case '}':
    case '(':
    case ')':
    case '[':
    case ']':
    case ';':
    case ',':
    case '~':
    case ':':
      return 1;
    case '.':
      return n1 == '.' && n2 == '.' ? 3 : 1;
    case '?':
      if (n1 == '?') return n2 == '=' ? 3 : 2;
      if (n1 == '.' && !kDigit[n2]) return 2;  // ?. but not a ternary before .5
      return 1;
    case '<':
      if (n1 == '<') return n2 == '=' ? 3 : 2;
      return n1 == '=' ? 2 : 1;
    case '>':
      if (n1 == '>') {
        if (n2 == '>') return peek(in, i + 3) == '=' ? 4 : 3;
        return n2 == '=' ? 3 : 2;
      }
      return n1 == '=' ? 2 : 1;
    case '=':
      if (n1 == '=') return n2 == '=' ? 3 : 2;
      return n1 == '>' ? 2 : 1;
    case '!':
      if (n1 == '=') return n2 == '=' ? 3 : 2;
      return 1;
    case '+':
    case '-':
      return n1 == c || n1 == '=' ? 2 : 1;
    case '*':
      if (n1 == '*') return n2 == '=' ? 3 : 2;
      return n1 == '=' ? 2 : 1;
    case '&':
    case '|':
      if (n1 == c) return n2 == '=' ? 3 : 2;
      return n1 == '=' ? 2 : 1;
    case '%':
    case '^':
    case '/':
      return n1 == '=' ? 2 : 1;
    default:
      return 0;
  }
}

// What the lexer reports to its sink, in input order. Every byte of the input lies in exactly one
// token or gap piece.
//   token(type, start, end)          a token
//   space(start, end, line_break)    white space, a line terminator, or a comment to drop;
//                                    `line_break` when it holds a line terminator
//   kept(start, end)                 a comment to keep (/*!, @license, @preserve, source maps)
// lex() returns false where the input leaves the grammar (an unterminated literal or comment,
// an unbalanced bracket, a byte no token starts with): the minifier then keeps the input whole.
template <class Sink>
class Lexer {
 public:
  Lexer(std::span<const unsigned char> in, Goal goal, Sink& sink)
      : in_(in), goal_(goal), sink_(sink) {}

  bool lex() {
    std::size_t i = 0;
    if (match_exact(in_, 0, "#!")) {
      i = line_end(2);
      sink_.token(Tok::Hashbang, 0, i);
      regex_ok_ = true;
    }
    while (i < in_.size()) {
      const std::size_t next = step(i);
      if (next == 0) return false;
      i = next;
    }
    return braces_.empty() && parens_.empty();
  }

 private:
  // Where a brace's block, object or template substitution opened.
  enum class Brace : unsigned char { Block, Object, Substitution };
  // A '[', a '(', or the '(' after if, while, for or with.
  enum class Paren : unsigned char { Square, Round, Control };
  // What the previous token was, as far as a '{' or '/' after it cares.
  enum class Last : unsigned char { None, Word, Value, Punct, OpenBrace, CloseBrace };

  std::size_t line_end(std::size_t i) const {
    while (true) {
      i = code::skip_run(in_, i, kInLine);
      if (i >= in_.size() || line_terminator(in_, i) != 0) return i;
      ++i;  // 0xE2 that starts another character
    }
  }

  // One token or one piece of white space or comment from i; 0 on an error.
  std::size_t step(std::size_t i) {
    const unsigned char c = in_[i];
    switch (kFirst[c]) {
      case First::Space: {
        const std::size_t j = code::skip_run(in_, i + 1, kAsciiSpace);
        sink_.space(i, j, false);
        return j;
      }
      case First::Break:
        return line_breaks(i);
      case First::Name:
        line_start_ = false;
        return word(i, i);
      case First::Single:
        line_start_ = false;
        punct_out(Tok::Lone, i, 1, true, Last::Punct);
        return i + 1;
      case First::OpenParen:
        line_start_ = false;
        return bracket(i, '(');
      case First::CloseParen:
        line_start_ = false;
        return bracket(i, ')');
      case First::OpenSquare:
        line_start_ = false;
        return bracket(i, '[');
      case First::CloseSquare:
        line_start_ = false;
        return bracket(i, ']');
      case First::OpenBrace:
        line_start_ = false;
        return bracket(i, '{');
      case First::CloseBrace:
        line_start_ = false;
        return bracket(i, '}');
      case First::Punct:
        line_start_ = false;
        return punct(i);
      case First::Digit:
        line_start_ = false;
        return number(i);
      case First::Dot:
        line_start_ = false;
        return kDigit[peek(in_, i + 1)] ? number(i) : punct(i);
      case First::Quote:
        line_start_ = false;
        return string(i);
      case First::Backtick:
        line_start_ = false;
        return template_piece(i, i + 1);
      case First::Hash:  // a private name: '#' and a name of at least one code point
        line_start_ = false;
        if (i + 1 < in_.size() && kIdentStart[in_[i + 1]] && unicode_space(in_, i + 1) == 0 &&
            line_terminator(in_, i + 1) == 0)
          return word(i, i + 1);
        return 0;
      case First::Slash:
        if (peek(in_, i + 1) == '/') return line_comment(i);
        if (peek(in_, i + 1) == '*') return block_comment(i);
        line_start_ = false;
        return regex_ok_ ? regex(i) : punct(i);
      case First::Lt:
      case First::Minus:
        if (goal_ != Goal::Module) {
          const bool html_comment = (c == '<' && match_exact(in_, i, "<!--")) ||
                                    (c == '-' && line_start_ && match_exact(in_, i, "-->"));
          if (html_comment) return goal_ == Goal::Script ? line_comment(i) : 0;
        }
        line_start_ = false;
        return punct(i);
      case First::High:
        if (line_terminator(in_, i) != 0) return line_breaks(i);
        if (const std::size_t sp = unicode_space(in_, i)) {
          sink_.space(i, i + sp, false);
          return i + sp;
        }
        line_start_ = false;
        return word(i, i);
      case First::Other:
        break;
    }
    return 0;
  }

  // A run of white space from the line terminator at i.
  std::size_t line_breaks(std::size_t i) {
    std::size_t j = i;
    while (true) {
      j = code::skip_class<kSpaceOrBreak>(in_, j);
      if (j >= in_.size() || in_[j] != 0xE2) break;
      const std::size_t more = line_terminator(in_, j);
      if (more == 0) break;
      j += more;
    }
    line_start_ = true;
    sink_.space(i, j, true);
    return j;
  }

  bool is_kept_comment(std::size_t from, std::size_t to) const {
    const std::string_view text(reinterpret_cast<const char*>(in_.data()) + from, to - from);
    if (text.starts_with("/*!")) return true;
    if (text.find("@license") != std::string_view::npos) return true;
    if (text.find("@preserve") != std::string_view::npos) return true;
    return text.starts_with("//# sourceMappingURL=") || text.starts_with("//# sourceURL=") ||
           text.starts_with("//@ sourceMappingURL=") || text.starts_with("//@ sourceURL=");
  }

  std::size_t line_comment(std::size_t i) {
    const std::size_t j = line_end(i);
    if (in_[i] == '/' && is_kept_comment(i, j)) {
      sink_.kept(i, j);
    } else {
      sink_.space(i, j, false);  // its line terminator comes next
    }
    return j;
  }

  std::size_t block_comment(std::size_t i) {
    const std::size_t j = code::block_comment_end(in_, i);
    if (j > in_.size()) return 0;
    const bool line_break = holds_line_terminator(i + 2, j - 2);
    if (line_break) line_start_ = true;  // "-->" may follow on the comment's last line
    if (is_kept_comment(i, j)) {
      sink_.kept(i, j);
    } else {
      sink_.space(i, j, line_break);
    }
    return j;
  }

  bool holds_line_terminator(std::size_t from, std::size_t to) const {
    const std::span<const unsigned char> part = in_.first(to);
    if (find_byte(part, from, '\n') < to || find_byte(part, from, '\r') < to) return true;
    for (std::size_t k = find_byte(part, from, 0xE2); k < to; k = find_byte(part, k + 1, 0xE2))
      if (line_terminator(part, k) != 0) return true;
    return false;
  }

  // An identifier, keyword or private name; `j` is where its first code point starts.
  std::size_t word(std::size_t i, std::size_t j) {
    j = code::skip_class<kIdentPlain>(in_, j);
    if (j < in_.size() && (in_[j] == '\\' || in_[j] >= 0x80)) [[unlikely]] {
      j = word_rest(j);
      if (j == 0) return 0;
    }
    const std::string_view name(reinterpret_cast<const char*>(in_.data()) + i, j - i);
    // Mostly no keyword: that is tested first. Only "await" (one of them) reads before_await_for_.
    const bool keyword = keyword_before_expression(name);
    if (keyword) before_await_for_ = last_ == Last::Word && prev_word_ == "for";  // for await (
    prev_word_ = name;
    regex_ok_ = keyword && !after_dot_;
    after_dot_ = false;
    last_ = Last::Word;
    // Last: the bytes it writes may alias anything, and what is read after them is read again.
    sink_.token(Tok::Word, i, j);
    return j;
  }

  // Where a name that goes on at j with an escape or a non-ASCII byte ends; 0 at a malformed
  // escape. Apart from word(), which is called for every name and so is kept small.
  [[gnu::noinline]] std::size_t word_rest(std::size_t j) const {
    while (true) {
      if (j >= in_.size()) return j;
      const unsigned char c = in_[j];
      if (c == '\\') {
        j = unicode_escape(j);
        if (j == 0) return 0;
      } else if (c >= 0x80 && unicode_space(in_, j) == 0 && line_terminator(in_, j) == 0) {
        ++j;
      } else {
        return j;
      }
      j = code::skip_class<kIdentPlain>(in_, j);
    }
  }

  // \uXXXX or \u{X...} at j; the index after it, 0 when it is malformed.
  std::size_t unicode_escape(std::size_t j) const {
    if (peek(in_, j + 1) != 'u') return 0;
    j += 2;
    if (peek(in_, j) == '{') {
      std::size_t k = j + 1;
      while (k < in_.size() && kHexDigit[in_[k]] && in_[k] != '_') ++k;
      if (k == j + 1 || peek(in_, k) != '}') return 0;
      return k + 1;
    }
    for (std::size_t k = 0; k < 4; ++k)
      if (j + k >= in_.size() || !kHexDigit[in_[j + k]] || in_[j + k] == '_') return 0;
    return j + 4;
  }

  static constexpr std::string_view kKeywordsBeforeExpression[] = {
      "return", "typeof", "instanceof", "in",   "of",    "new",   "delete", "void",
      "throw",  "case",   "do",         "else", "yield", "await", "extends"};

  // By length and first letter, which of those keywords a word may be (its index + 1; 0: none).
  // No two share both, so one table load turns nearly every name away and leaves one comparison.
  static constexpr auto kKeywordAt = [] {
    std::array<std::array<unsigned char, 32>, 16> t{};
    for (std::size_t k = 0; k < std::size(kKeywordsBeforeExpression); ++k) {
      const std::string_view w = kKeywordsBeforeExpression[k];
      unsigned char& slot = t[w.size()][static_cast<unsigned>(w[0] - 'a')];
      if (slot != 0) throw "two keywords of one length and first letter";
      slot = static_cast<unsigned char>(k + 1);
    }
    return t;
  }();

  // `w` is a name, never empty. A length beyond the table, or a first byte outside 'a'..'z',
  // may land on a keyword's slot by its wrapped index only to fail the comparison.
  static bool keyword_before_expression(std::string_view w) {
    const unsigned letter = static_cast<unsigned char>(w[0]) - unsigned{'a'};
    const unsigned slot = kKeywordAt[w.size() % kKeywordAt.size()][letter % 32];
    return slot != 0 && w == kKeywordsBeforeExpression[slot - 1];
  }

  std::size_t number(std::size_t i) {
    std::size_t j = i;
    const unsigned char x = fold[peek(in_, i + 1)];
    if (in_[i] == '0' && (x == 'x' || x == 'o' || x == 'b')) {
      j += 2;
      while (j < in_.size() && kHexDigit[in_[j]]) ++j;
    } else {
      const auto digits = [&] {
        while (j < in_.size() && (kDigit[in_[j]] || in_[j] == '_')) ++j;
      };
      digits();
      if (peek(in_, j) == '.') {
        ++j;
        digits();
      }
      const unsigned char e = peek(in_, j);
      if (e == 'e' || e == 'E') {
        ++j;
        if (peek(in_, j) == '+' || peek(in_, j) == '-') ++j;
        if (!kDigit[peek(in_, j)])
          return 0;  // "1e" and "1e-" are no numbers: "1e-->" is not "1e--"
        digits();
      }
    }
    if (peek(in_, j) == 'n') ++j;
    // "3in" or "1x": no token may follow a number without a break.
    if (j < in_.size() && kIdentPart[in_[j]] && in_[j] < 0x80) return 0;
    sink_.token(Tok::Number, i, j);
    value_end();
    return j;
  }

  std::size_t string(std::size_t i) {
    const unsigned char quote = in_[i];
    std::size_t j = i + 1;
    while (true) {
      if (j >= in_.size()) return 0;
      const unsigned char c = in_[j];
      if (c == quote) break;
      if (c == '\\') {
        if (j + 1 >= in_.size()) return 0;
        const std::size_t lt = line_terminator(in_, j + 1);
        j += lt != 0 ? 1 + lt : 2;
        continue;
      }
      if (c == '\n' || c == '\r') return 0;
      ++j;
    }
    sink_.token(Tok::String, i, j + 1);
    value_end();
    return j + 1;
  }

  // A template piece from its opening '`' or '}' to its closing '`' or "${".
  std::size_t template_piece(std::size_t i, std::size_t j) {
    while (true) {
      if (j >= in_.size()) return 0;
      const unsigned char c = in_[j];
      if (c == '`') {
        sink_.token(Tok::Template, i, j + 1);
        value_end();
        return j + 1;
      }
      if (c == '\\') {
        if (j + 1 >= in_.size()) return 0;
        const std::size_t lt = line_terminator(in_, j + 1);
        j += lt != 0 ? 1 + lt : 2;
        continue;
      }
      if (c == '$' && peek(in_, j + 1) == '{') {
        sink_.token(Tok::Template, i, j + 2);
        braces_.push_back(Brace::Substitution);
        regex_ok_ = true;
        after_dot_ = false;
        last_ = Last::OpenBrace;
        return j + 2;
      }
      ++j;
    }
  }

  std::size_t regex(std::size_t i) {
    std::size_t j = i + 1;
    bool in_class = false;
    while (true) {
      if (j >= in_.size() || line_terminator(in_, j) != 0) return 0;
      const unsigned char c = in_[j];
      if (c == '\\') {
        if (j + 1 >= in_.size() || line_terminator(in_, j + 1) != 0) return 0;
        j += 2;
        continue;
      }
      if (c == '[') in_class = true;
      if (c == ']') in_class = false;
      ++j;
      if (c == '/' && !in_class) break;
    }
    while (j < in_.size() && in_[j] < 0x80 && kIdentPart[in_[j]] && in_[j] != '\\') ++j;
    sink_.token(Tok::Regex, i, j);
    value_end();
    return j;
  }

  // Does a '(' after the word `w` hold a condition, after which a '/' starts a regex? Most
  // names are turned away by their first letter.
  bool opens_condition(std::string_view w) const {
    constexpr std::uint32_t kFirsts =
        1u << ('i' - 'a') | 1u << ('w' - 'a') | 1u << ('f' - 'a') | 1u << ('a' - 'a');
    const unsigned letter = static_cast<unsigned char>(w[0]) - unsigned{'a'};
    if (((kFirsts >> (letter & 31)) & 1) == 0) return false;
    return w == "if" || w == "while" || w == "for" || w == "with" ||
           (w == "await" && before_await_for_);
  }

  // After a literal or anything else that ends an operand: a '/' divides.
  void value_end() {
    regex_ok_ = false;
    after_dot_ = false;
    last_ = Last::Value;
  }

  // Whether a '{' here opens an object literal rather than a block: after an operator, an opening
  // bracket, a comma or a keyword that takes an expression. Only a '/' after its '}' depends on it.
  bool brace_opens_object() const {
    if (last_ == Last::None || last_ == Last::CloseBrace || last_ == Last::OpenBrace) return false;
    if (last_ == Last::Word)
      return keyword_before_expression(prev_word_) && prev_word_ != "do" && prev_word_ != "else";
    if (last_ != Last::Punct) return false;
    if (prev_punct_ == ")" || prev_punct_ == "]" || prev_punct_ == ";" || prev_punct_ == "=>")
      return false;
    if (prev_punct_ == ":") return !braces_.empty() && braces_.back() == Brace::Object;
    return true;
  }

  std::size_t punct(std::size_t i) {
    const std::size_t n = punctuator(in_, i);
    if (n == 0) return 0;
    // After "++" or "--" a '/' divides: a++ / b.
    const unsigned char c = in_[i];
    const bool step = n == 2 && (c == '+' || c == '-') && in_[i + 1] == c;
    punct_out(Tok::Punct, i, n, !step, Last::Punct);
    return i + n;
  }

  [[gnu::always_inline]] void punct_out(Tok type, std::size_t i, std::size_t n, bool regex_next,
                                        Last last) {
    prev_punct_ = std::string_view(reinterpret_cast<const char*>(in_.data()) + i, n);
    after_dot_ = n <= 2 && in_[i + n - 1] == '.';  // "." or "?."
    regex_ok_ = regex_next;
    last_ = last;
    sink_.token(type, i, i + n);  // last, as in word()
  }

  // The bracket `c` at i. Each call names its bracket, so only that case is compiled there.
  [[gnu::always_inline]] std::size_t bracket(std::size_t i, unsigned char c) {
    bool regex_next = true;
    Last last = Last::Punct;
    switch (c) {
      case '(': {
        const bool control = last_ == Last::Word && !after_dot_ && opens_condition(prev_word_);
        parens_.push_back(control ? Paren::Control : Paren::Round);
        break;
      }
      case ')':
        if (parens_.empty() || parens_.back() == Paren::Square) return 0;
        regex_next = parens_.back() == Paren::Control;  // if (...) /re/ ; but (a) / b
        parens_.pop_back();
        break;
      case '[':
        parens_.push_back(Paren::Square);
        break;
      case ']':
        if (parens_.empty() || parens_.back() != Paren::Square) return 0;
        parens_.pop_back();
        regex_next = false;
        break;
      case '{':
        braces_.push_back(brace_opens_object() ? Brace::Object : Brace::Block);
        last = Last::OpenBrace;
        break;
      case '}': {
        if (braces_.empty()) return 0;
        const Brace closed = braces_.back();
        braces_.pop_back();
        if (closed == Brace::Substitution) return template_piece(i, i + 1);
        regex_next = closed == Brace::Block;
        last = Last::CloseBrace;
        break;
      }
      default:
        break;
    }
    punct_out(Tok::Lone, i, 1, regex_next, last);
    return i + 1;
  }

  std::span<const unsigned char> in_;
  Goal goal_;
  Sink& sink_;
  bool regex_ok_ = true;    // a '/' here starts a regular expression
  bool line_start_ = true;  // only white space and comments since the last line terminator
  bool after_dot_ = false;  // the word to come is a property name
  bool before_await_for_ = false;
  Last last_ = Last::None;
  std::string_view prev_word_;
  std::string_view prev_punct_;
  std::vector<Paren> parens_;
  std::vector<Brace> braces_;
};

}  // namespace js
