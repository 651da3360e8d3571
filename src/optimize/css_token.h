// The style-sheet tokenizer: one token at a time over raw bytes, by the browsers' tokenization
// rules.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "optimize/byte_scan.h"
#include "optimize/code_scan.h"

namespace css {

// A unicode range such as u+0-7f is no token of its own: it reads as an ident, then numbers or
// dimensions, and is kept as those.
enum class Tok : unsigned char {
  Whitespace,
  Comment,
  Ident,
  Function,  // ident followed by '(' (the '(' is part of the token)
  AtKeyword,
  Hash,
  String,
  BadString,
  Url,
  BadUrl,
  Number,
  Percentage,
  Dimension,
  Cdo,
  Cdc,
  Colon,
  Semicolon,
  Comma,
  OpenSquare,
  CloseSquare,
  OpenParen,
  CloseParen,
  OpenCurly,
  CloseCurly,
  Delim,
  End,
};

// A token is the bytes [start, end) of the input. `broken` marks what the tokenizer only follows by
// its error recovery: a string or comment cut off by the end, an escape at the very end, a '\'
// before a line break. A minifier keeps such a sheet as it is.
struct Token {
  Tok type = Tok::End;
  std::size_t start = 0;
  std::size_t end = 0;
  bool broken = false;
};

// Bytes that continue a name: letters, digits, '-', '_', and everything from 0x80 on (the parts
// of UTF-8 sequences). NUL becomes U+FFFD before tokenizing, a name byte too.
inline constexpr code::RunClass kName{true, true, true, std::string_view("-_\0", 3)};
inline constexpr auto kNameByte = kName.table();
inline constexpr auto kNameStart = code::without(kNameByte, "0123456789-");

// CR and FF are line breaks once the input is preprocessed.
inline constexpr auto kSpace = byte_set(" \t\n\r\f");
inline constexpr auto kNewline = byte_set("\n\r\f");
using code::kDigit;
using code::kHex;

inline bool is_digit(std::span<const unsigned char> in, std::size_t i) {
  return i < in.size() && kDigit[in[i]];
}

// '\' not followed by a line break. A '\' that ends the input counts (it stands for U+FFFD).
inline bool valid_escape(std::span<const unsigned char> in, std::size_t i) {
  return i < in.size() && in[i] == '\\' && !(i + 1 < in.size() && kNewline[in[i + 1]]);
}

inline bool starts_name(std::span<const unsigned char> in, std::size_t i) {
  if (i >= in.size()) return false;
  const unsigned char c = in[i];
  if (c == '-') {
    if (i + 1 >= in.size()) return false;
    return kNameStart[in[i + 1]] || in[i + 1] == '-' || valid_escape(in, i + 1);
  }
  return kNameStart[c] || valid_escape(in, i);
}

inline bool starts_number(std::span<const unsigned char> in, std::size_t i) {
  const unsigned char c = peek(in, i);
  if (c == '+' || c == '-') {
    if (is_digit(in, i + 1)) return true;
    return peek(in, i + 1) == '.' && is_digit(in, i + 2);
  }
  if (c == '.') return is_digit(in, i + 1);
  return is_digit(in, i);
}

// Past an escape whose '\' is at i. A CR LF after a hex escape is one line break.
inline std::size_t skip_escape(std::span<const unsigned char> in, std::size_t i, bool& broken) {
  ++i;
  if (i >= in.size()) {
    broken = true;
    return i;
  }
  if (!kHex[in[i]]) return i + 1;  // one code point; bytes of a UTF-8 sequence are name bytes
  const std::size_t limit = in.size() - i < 6 ? in.size() : i + 6;
  while (i < limit && kHex[in[i]]) ++i;
  if (i < in.size() && kSpace[in[i]]) {
    if (in[i] == '\r' && peek(in, i + 1) == '\n') ++i;
    ++i;
  }
  return i;
}

inline std::size_t skip_name(std::span<const unsigned char> in, std::size_t i, bool& broken) {
  while (true) {
    i = code::skip_class<kName>(in, i);
    if (!valid_escape(in, i)) return i;
    i = skip_escape(in, i, broken);
  }
}

inline std::size_t skip_number(std::span<const unsigned char> in, std::size_t i) {
  if (in[i] == '+' || in[i] == '-') ++i;
  while (is_digit(in, i)) ++i;
  if (peek(in, i) == '.' && is_digit(in, i + 1)) {
    i += 2;
    while (is_digit(in, i)) ++i;
  }
  const unsigned char e = peek(in, i);
  if (e == 'e' || e == 'E') {
    const unsigned char s = peek(in, i + 1);
    if (kDigit[s] && i + 1 < in.size()) {
      i += 2;
    } else if ((s == '+' || s == '-') && is_digit(in, i + 2)) {
      i += 3;
    } else {
      return i;
    }
    while (is_digit(in, i)) ++i;
  }
  return i;
}

inline bool non_printable(unsigned char c) {
  return c <= 0x08 || c == 0x0B || (c >= 0x0E && c <= 0x1F) || c == 0x7F;
}

// The rest of an unquoted url( ... ) after "url(": a Url token, or a BadUrl running to its ')'.
inline Token rest_of_url(std::span<const unsigned char> in, std::size_t start, std::size_t i) {
  Token t{Tok::Url, start, 0, false};
  while (i < in.size() && kSpace[in[i]]) ++i;
  while (true) {
    if (i >= in.size()) {
      t.broken = true;
      break;
    }
    const unsigned char c = in[i];
    if (c == ')') {
      ++i;
      break;
    }
    if (kSpace[c]) {
      while (i < in.size() && kSpace[in[i]]) ++i;
      if (i < in.size() && in[i] == ')') continue;
      t.type = Tok::BadUrl;
    } else if (c == '"' || c == '\'' || c == '(' || non_printable(c)) {
      t.type = Tok::BadUrl;
      ++i;
    } else if (c == '\\') {
      if (!valid_escape(in, i)) {
        t.type = Tok::BadUrl;
        ++i;
      } else {
        i = skip_escape(in, i, t.broken);
      }
    } else {
      ++i;
    }
    if (t.type == Tok::BadUrl) {
      // Recovery: up to the next ')' that is not escaped.
      while (i < in.size() && in[i] != ')') i += in[i] == '\\' && i + 1 < in.size() ? 2 : 1;
      if (i < in.size()) ++i;
      break;
    }
  }
  t.end = i;
  return t;
}

inline Token ident_like(std::span<const unsigned char> in, std::size_t start) {
  Token t{Tok::Ident, start, 0, false};
  std::size_t i = skip_name(in, start, t.broken);
  if (peek(in, i) == '(' && i < in.size()) {
    ++i;
    if (i - start == 4 && match_nocase(in, start, "url(")) {
      std::size_t j = i;
      while (j < in.size() && kSpace[in[j]]) ++j;
      const unsigned char q = peek(in, j);
      if (!(j < in.size() && (q == '"' || q == '\''))) return rest_of_url(in, start, i);
    }
    t.type = Tok::Function;
  }
  t.end = i;
  return t;
}

inline Token numeric(std::span<const unsigned char> in, std::size_t start) {
  Token t{Tok::Number, start, 0, false};
  std::size_t i = skip_number(in, start);
  if (starts_name(in, i)) {
    t.type = Tok::Dimension;
    i = skip_name(in, i, t.broken);
  } else if (peek(in, i) == '%' && i < in.size()) {
    t.type = Tok::Percentage;
    ++i;
  }
  t.end = i;
  return t;
}

inline Token string_token(std::span<const unsigned char> in, std::size_t start) {
  const unsigned char quote = in[start];
  Token t{Tok::String, start, 0, false};
  std::size_t i = start + 1;
  while (true) {
    if (i >= in.size()) {
      t.broken = true;
      break;
    }
    const unsigned char c = in[i];
    if (c == quote) {
      ++i;
      break;
    }
    if (kNewline[c]) {  // the line break is not part of a bad string
      t.type = Tok::BadString;
      break;
    }
    if (c == '\\') {
      if (i + 1 >= in.size()) {
        t.broken = true;
        i = in.size();
        break;
      }
      const unsigned char n = in[i + 1];
      i += n == '\r' && peek(in, i + 2) == '\n' ? 3
                                                : 2;  // an escaped line break continues the string
      continue;
    }
    ++i;
  }
  t.end = i;
  return t;
}

// What a token's first byte decides. Single stands for the one-byte tokens of kSingle.
enum class First : unsigned char {
  Delim,
  Space,
  Name,
  Digit,
  Quote,
  Hash,
  PlusDot,
  Minus,
  Lt,
  At,
  Backslash,
  Slash,
  Single
};

inline constexpr auto kFirst = [] {
  std::array<First, 256> t{};
  code::assign(t, kSpace, First::Space);
  code::assign(t, kNameStart, First::Name);
  code::assign(t, kDigit, First::Digit);
  code::assign(t, "\"'", First::Quote);
  code::assign(t, "#", First::Hash);
  code::assign(t, "+.", First::PlusDot);
  code::assign(t, "-", First::Minus);
  code::assign(t, "<", First::Lt);
  code::assign(t, "@", First::At);
  code::assign(t, "\\", First::Backslash);
  code::assign(t, "/", First::Slash);
  code::assign(t, "()[]{},:;", First::Single);
  return t;
}();

inline constexpr auto kSingle = [] {
  std::array<Tok, 256> t{};
  t['('] = Tok::OpenParen;
  t[')'] = Tok::CloseParen;
  t['['] = Tok::OpenSquare;
  t[']'] = Tok::CloseSquare;
  t['{'] = Tok::OpenCurly;
  t['}'] = Tok::CloseCurly;
  t[','] = Tok::Comma;
  t[':'] = Tok::Colon;
  t[';'] = Tok::Semicolon;
  return t;
}();

// The token that starts at `i` (< in.size()).
[[gnu::always_inline]] inline Token next_token(std::span<const unsigned char> in, std::size_t i) {
  const unsigned char c = in[i];
  switch (kFirst[c]) {
    case First::Space:
      return Token{Tok::Whitespace, i, code::skip_run(in, i + 1, kSpace), false};
    case First::Name:
      return ident_like(in, i);
    case First::Digit:
      return numeric(in, i);
    case First::Single:
      return Token{kSingle[c], i, i + 1, false};
    case First::Quote:
      return string_token(in, i);
    case First::Slash:
      if (peek(in, i + 1) == '*' && i + 1 < in.size()) {
        const std::size_t end = code::block_comment_end(in, i);
        if (end > in.size()) return Token{Tok::Comment, i, in.size(), true};
        return Token{Tok::Comment, i, end, false};
      }
      break;
    case First::Hash:
      if ((i + 1 < in.size() && kNameByte[in[i + 1]]) || valid_escape(in, i + 1)) {
        Token t{Tok::Hash, i, 0, false};
        t.end = skip_name(in, i + 1, t.broken);
        return t;
      }
      break;
    case First::PlusDot:
      if (starts_number(in, i)) return numeric(in, i);
      break;
    case First::Minus:
      if (starts_number(in, i)) return numeric(in, i);
      if (match_exact(in, i, "-->")) return Token{Tok::Cdc, i, i + 3, false};
      if (starts_name(in, i)) return ident_like(in, i);
      break;
    case First::Lt:
      if (match_exact(in, i, "<!--")) return Token{Tok::Cdo, i, i + 4, false};
      break;
    case First::At:
      if (starts_name(in, i + 1)) {
        Token t{Tok::AtKeyword, i, 0, false};
        t.end = skip_name(in, i + 1, t.broken);
        return t;
      }
      break;
    case First::Backslash:
      if (valid_escape(in, i)) return ident_like(in, i);
      return Token{Tok::Delim, i, i + 1, true};
    case First::Delim:
      break;
  }
  return Token{Tok::Delim, i, i + 1, false};
}

}  // namespace css
