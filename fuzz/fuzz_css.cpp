// Runs the style-sheet minifier on arbitrary bytes. Byte 0 picks what they are: bit 0 set, the
// declarations of a style attribute; clear, a style sheet. Checked: the output is never longer than
// the input, a second call gives the same bytes, and the output holds exactly the tokens of the
// input (white space and comments aside, and the ';' that end nothing).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "invariant.h"
#include "optimize/css.h"
#include "optimize/css_token.h"

namespace {

// An attribute's declarations also end without their last ';'.
std::vector<std::string> significant_tokens(std::span<const unsigned char> in, CssInput kind) {
  std::vector<std::string> seen;
  for (std::size_t i = 0; i < in.size();) {
    const css::Token t = css::next_token(in, i);
    check(t.end > i && t.end <= in.size(), "every token consumes and stays inside the input");
    i = t.end;
    if (t.type == css::Tok::Whitespace || t.type == css::Tok::Comment) continue;
    std::string text(1, static_cast<char>(t.type));
    text.append(in.begin() + static_cast<std::ptrdiff_t>(t.start),
                in.begin() + static_cast<std::ptrdiff_t>(t.end));
    // The white space that ends a hex escape is part of the escape, not a separator.
    while (css::kSpace[static_cast<unsigned char>(text.back())]) text.pop_back();
    const bool semicolon = t.type == css::Tok::Semicolon;
    const auto last_is = [&](css::Tok type) {
      return !seen.empty() && seen.back()[0] == static_cast<char>(type);
    };
    if (t.type == css::Tok::CloseCurly && last_is(css::Tok::Semicolon)) seen.pop_back();
    if (semicolon && (seen.empty() || last_is(css::Tok::Semicolon) ||
                      last_is(css::Tok::OpenCurly) || last_is(css::Tok::CloseCurly)))
      continue;
    seen.push_back(std::move(text));
  }
  if (kind == CssInput::Declarations && !seen.empty() &&
      seen.back()[0] == static_cast<char>(css::Tok::Semicolon))
    seen.pop_back();
  return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const CssInput kind = (data[0] & 1) != 0 ? CssInput::Declarations : CssInput::Sheet;
  const std::span<const unsigned char> in(data + 1, size - 1);
  // Exactly the input's size: a write past the end is caught.
  std::vector<unsigned char> out(in.size());
  const std::optional<std::size_t> n = minify_css(in, kind, out.data());
  if (!n) return 0;
  check(*n <= in.size(), "never longer than the input");
  out.resize(*n);
  std::vector<unsigned char> again(in.size() + 3, 0xAB);
  const std::optional<std::size_t> m = minify_css(in, kind, again.data());
  check(m == n && std::equal(out.begin(), out.end(), again.begin()),
        "the same input, the same output");
  check(significant_tokens(out, kind) == significant_tokens(in, kind), "the same tokens");
  return 0;
}
