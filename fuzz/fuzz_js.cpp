// Runs the script minifier on arbitrary bytes. Byte 0 picks the goal: bit 0 set, a module; clear,
// a classic script. Checked: the output is never longer than the input, a second call gives the
// same bytes, and the output holds exactly the tokens of the input with a line break before the
// same ones (which is all automatic semicolon insertion looks at).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "invariant.h"
#include "optimize/js.h"
#include "optimize/js_lex.h"

namespace {

struct Collector {
  std::span<const unsigned char> in;
  std::vector<std::string> seen;
  bool line = false;
  void token(js::Tok type, std::size_t start, std::size_t end) {
    check(start < end && end <= in.size(), "every token lies inside the input");
    if (line && !seen.empty()) seen.emplace_back("\n");
    line = false;
    std::string text(1, static_cast<char>(type));
    text.append(in.begin() + static_cast<std::ptrdiff_t>(start),
                in.begin() + static_cast<std::ptrdiff_t>(end));
    seen.push_back(std::move(text));
  }
  void space(std::size_t, std::size_t, bool line_break) { line = line || line_break; }
  void kept(std::size_t start, std::size_t end) {
    for (std::size_t k = start; k < end; ++k)
      if (in[k] == '\n' || in[k] == '\r') line = true;
  }
};

std::optional<std::vector<std::string>> tokens(std::span<const unsigned char> in, js::Goal goal) {
  Collector c{in, {}, false};
  js::Lexer<Collector> lexer(in, goal, c);
  if (!lexer.lex()) return std::nullopt;
  return c.seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool module = (data[0] & 1) != 0;
  const JsInput kind = module ? JsInput::Module : JsInput::Script;
  const std::span<const unsigned char> in(data + 1, size - 1);
  std::vector<unsigned char> out(in.size());  // exactly the input's size: overruns are caught
  const std::optional<std::size_t> n = minify_js(in, kind, out.data());
  if (!n) return 0;
  check(*n <= in.size(), "never longer than the input");
  out.resize(*n);
  std::vector<unsigned char> again(in.size() + 3, 0xAB);
  const std::optional<std::size_t> m = minify_js(in, kind, again.data());
  check(m == n && std::equal(out.begin(), out.end(), again.begin()),
        "the same input, the same output");
  const js::Goal goal = module ? js::Goal::Module : js::Goal::Script;
  const auto before = tokens(in, goal);
  const auto after = tokens(out, goal);
  check(after.has_value(), "the output can be followed");
  check(*before == *after, "the same tokens on the same lines");
  return 0;
}
