// The default profile's special constructs: comments, declarations, PHP, verbatim elements, META.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "optimize/byte_scan.h"
#include "optimize/markup_out.h"

// The constructs besides the generic tag that start at a '<' (at `s`). Each is one iteration.
namespace markup {

// Returned instead of an end when the construct turns out to be a generic tag after all: it is
// then handled as one from its '<'.
inline constexpr std::size_t kGenericTag = SIZE_MAX;

// A comment is dropped whole. It ends at "-->" and also at "->"; every "<!--" inside it needs an
// end of its own. Returns the end, or kGenericTag when the page ends first: the text is kept then.
inline std::size_t comment_end(std::span<const unsigned char> in, std::size_t s) {
  const std::size_t n = in.size();
  std::size_t j = s + 3;  // on the second '-' of "<!--"
  std::int32_t depth = 0;
  for (;;) {
    ++j;
    while (j < n && in[j] != '<' && in[j] != '-') ++j;
    if (j >= n) return kGenericTag;
    if (in[j] == '<') {
      // The cursor stays on the last byte tested, which is therefore not examined again.
      if (peek(in, ++j) == '!' && peek(in, ++j) == '-' && peek(in, ++j) == '-') ++depth;
      continue;
    }
    const unsigned char b = peek(in, ++j);  // the byte after a '-'
    if (b == '-' && peek(in, j + 1) == '>') {
      ++j;
    } else if (b != '>') {
      continue;
    }
    if (depth == 0) return j + 1;
    --depth;
  }
}

// An upper-case "<!DOCTYPE ...>" is dropped; returns its end, or kGenericTag when it has no '>'.
inline std::size_t doctype_end(std::span<const unsigned char> in, std::size_t s) {
  const std::size_t gt = find_byte(in, s + 9, '>');
  return gt == in.size() ? kGenericTag : gt + 1;
}

// PHP code: where "?>" does not end a block because PHP reads it as part of a string or comment.
namespace php {

// Bytes of ordinary code that may start something: "?>", a string, a comment or a heredoc.
inline constexpr auto kCodeStop = byte_set("?'\"`/#<");

inline constexpr auto kIdentifierStart = [] {
  std::array<bool, 256> t = byte_set("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_");
  for (std::size_t b = 0x80; b < t.size(); ++b) t[b] = true;
  return t;
}();

inline constexpr auto kIdentifier = [] {
  std::array<bool, 256> t = kIdentifierStart;
  for (std::size_t b = '0'; b <= '9'; ++b) t[b] = true;
  return t;
}();

// The first byte at or after `j` for which `stops` flags a word of eight, or the end of input. The
// lowest flagged byte of a word must be a true stop; the tail goes byte by byte through `is_stop`.
template <class Stops, class IsStop>
inline std::size_t skip_to_stop(std::span<const unsigned char> in, std::size_t j, Stops stops,
                                IsStop is_stop) {
  const std::size_t n = in.size();
  while (n - j >= 8) {
    const std::uint64_t flagged = stops(swar::load8(in.data() + j));
    if (flagged != 0) return j + swar::first_byte(flagged);
    j += 8;
  }
  while (j < n && !is_stop(in[j])) ++j;
  return j;
}

// The next byte of ordinary code that may start something, or the end of input.
inline std::size_t code_stop(std::span<const unsigned char> in, std::size_t j) {
  return skip_to_stop(
      in, j,
      [](std::uint64_t v) {
        using swar::equal_bytes;
        return equal_bytes(v, '?') | equal_bytes(v, '\'') | equal_bytes(v, '"') |
               equal_bytes(v, '`') | equal_bytes(v, '/') | equal_bytes(v, '#') |
               equal_bytes(v, '<');
      },
      [](unsigned char c) { return kCodeStop[c]; });
}

// After the closing quote of the string whose opening quote is at `j`, or the end of input. A
// backslash escapes the byte after it, in every kind of quote.
inline std::size_t quoted_end(std::span<const unsigned char> in, std::size_t j) {
  const unsigned char quote = in[j];
  const auto stops = [quote](std::uint64_t v) {
    return swar::equal_bytes(v, quote) | swar::equal_bytes(v, '\\');
  };
  const auto is_stop = [quote](unsigned char c) { return c == quote || c == '\\'; };
  for (std::size_t k = j + 1;;) {
    k = skip_to_stop(in, k, stops, is_stop);
    if (k >= in.size()) return in.size();
    if (in[k] == quote) return k + 1;
    k += 2;  // the backslash and the byte it escapes
    if (k >= in.size()) return in.size();
  }
}

// After the first "*/" at or after `j`, or the end of input.
inline std::size_t block_comment_end(std::span<const unsigned char> in, std::size_t j) {
  for (;;) {
    j = find_byte(in, j, '*');
    if (j == in.size()) return j;
    if (peek(in, j + 1) == '/') return j + 2;
    ++j;
  }
}

// Where a line comment whose text starts at `j` stops: at its LF or CR, at the '?' of a "?>"
// (which ends the block, as in PHP), or at the end of input.
inline std::size_t line_comment_stop(std::span<const unsigned char> in, std::size_t j) {
  for (;; ++j) {
    j = skip_to_stop(
        in, j,
        [](std::uint64_t v) {
          using swar::equal_bytes;
          return equal_bytes(v, '\n') | equal_bytes(v, '\r') | equal_bytes(v, '?');
        },
        [](unsigned char c) { return c == '\n' || c == '\r' || c == '?'; });
    if (j >= in.size() || in[j] != '?' || peek(in, j + 1) == '>') return j;
  }
}

// Returned by heredoc_end when "<<<" does not open a heredoc or nowdoc.
inline constexpr std::size_t kNotHeredoc = SIZE_MAX;

// For the "<<<" at `j`: after the closing identifier of the heredoc or nowdoc it opens, the end of
// input when that never comes, or kNotHeredoc. The opener is "<<<", spaces or tabs, the identifier
// (in single or double quotes, or none) and a line end; the body ends at the first line that
// starts, after spaces or tabs, with the identifier as a whole word.
inline std::size_t heredoc_end(std::span<const unsigned char> in, std::size_t j) {
  std::size_t k = j + 3;
  while (peek(in, k) == ' ' || peek(in, k) == '\t') ++k;
  const unsigned char quote = peek(in, k) == '\'' || peek(in, k) == '"' ? in[k] : 0;
  if (quote != 0) ++k;
  const std::size_t id_start = k;
  if (!kIdentifierStart[peek(in, k)]) return kNotHeredoc;
  while (kIdentifier[peek(in, k)]) ++k;
  const std::string_view id(reinterpret_cast<const char*>(in.data()) + id_start, k - id_start);
  if (quote != 0 && peek(in, k++) != quote) return kNotHeredoc;
  if (peek(in, k) == '\r' && peek(in, k + 1) == '\n') ++k;
  if (peek(in, k) != '\n') return kNotHeredoc;
  // Lines begin only after an LF.
  for (std::size_t line = k + 1;; line = find_byte(in, line, '\n') + 1) {
    if (line > in.size()) return in.size();
    while (peek(in, line) == ' ' || peek(in, line) == '\t') ++line;
    if (match_exact(in, line, id) && !kIdentifier[peek(in, line + id.size())])
      return line + id.size();
  }
}

}  // namespace php

// A PHP block is copied unchanged from its "<?" through the first "?>" of its code, or to the end.
// A "?>" inside a string, heredoc or block comment does not end it; one in a line comment does.
inline std::size_t php_block_end(std::span<const unsigned char> in, std::size_t s) {
  const std::size_t n = in.size();
  std::size_t j = s + 2;
  for (;;) {
    j = php::code_stop(in, j);
    if (j >= n) return n;
    const unsigned char next = peek(in, j + 1);
    switch (in[j]) {
      case '?':
        if (next == '>') return j + 2;
        ++j;
        break;
      case '\'':
      case '"':
      case '`':
        j = php::quoted_end(in, j);
        break;
      case '/':
        if (next == '*') {
          j = php::block_comment_end(in, j + 2);
        } else if (next == '/') {
          j = php::line_comment_stop(in, j + 2);
          if (j < n && in[j] == '?') return j + 2;
        } else {
          ++j;
        }
        break;
      case '#':
        if (next == '[') {  // an attribute, not a comment
          j += 2;
        } else {
          j = php::line_comment_stop(in, j + 1);
          if (j < n && in[j] == '?') return j + 2;
        }
        break;
      default: {  // '<'
        if (next != '<' || peek(in, j + 2) != '<') {
          ++j;
          break;
        }
        const std::size_t end = php::heredoc_end(in, j);
        j = end == php::kNotHeredoc ? j + 3 : end;
        break;
      }
    }
  }
}

// An element whose opening tag, content and closing tag are copied unchanged.
struct Verbatim {
  std::size_t open_length;  // bytes of the opening tag when it ends right after the name
  bool open_runs_to_gt;     // the opening tag keeps its attributes, through the first '>'
  std::string_view close;   // lower case; matched in any case
};
inline constexpr Verbatim kNoop{6, false, "</noop>"};
inline constexpr Verbatim kScript{7, true, "</script>"};
inline constexpr Verbatim kStyle{6, true, "</style>"};
inline constexpr Verbatim kPre{5, false, "</pre>"};
inline constexpr Verbatim kXmp{5, false, "</xmp>"};

// The end of a verbatim element: after the first closing tag, or the end of input. Elements do not
// nest, and nothing inside (comments included) is looked at but '<'.
inline std::size_t verbatim_end(std::span<const unsigned char> in, std::size_t s,
                                const Verbatim& element) {
  std::size_t j = s + element.open_length;
  if (element.open_runs_to_gt) {
    j = find_byte(in, j, '>');
    if (j == in.size()) return j;
    ++j;
  }
  for (;;) {
    j = find_byte(in, j, '<');
    if (j == in.size()) return j;
    if (match_nocase(in, j, element.close)) return j + element.close.size();
    ++j;
  }
}

// Byte-by-byte test of `rest` (lower case; '-' and '=' match only themselves) at `j`; returns the
// position of the first byte that does not match, or j + rest.size() on a full match.
inline std::size_t match_prefix_nocase(std::span<const unsigned char> in, std::size_t j,
                                       std::string_view rest) {
  for (const char want : rest) {
    if (j >= in.size() || fold[in[j]] != static_cast<unsigned char>(want)) return j;
    ++j;
  }
  return j;
}

// A META tag is dropped unless it carries "http-equiv=" or "charset=" before its '>': those tell
// the browser how to read the page. A kept tag is a generic tag (kGenericTag); one that runs into
// the end of input is copied unchanged.
inline std::size_t meta_tag(std::span<const unsigned char> in, std::size_t s, Out& out) {
  std::size_t j = s + 5;  // after "<meta"
  while (j < in.size()) {
    const unsigned char c = fold[in[j]];
    if (c == '>') return j + 1;
    if (c != 'h' && c != 'c') {
      ++j;
      continue;
    }
    const std::string_view rest = c == 'h' ? "ttp-equiv=" : "harset=";
    const std::size_t stop = match_prefix_nocase(in, j + 1, rest);
    if (stop == j + 1 + rest.size()) return kGenericTag;
    j = stop;  // the byte that did not match is examined again: it may start a test of its own
  }
  out.copy(in, s, in.size());
  return in.size();
}

}  // namespace markup
