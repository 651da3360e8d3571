// Scripts: comments and white space removed between tokens, one line break kept where one was.
#include "optimize/js.h"

#include <algorithm>
#include <cstring>

#include "optimize/code_scan.h"
#include "optimize/js_lex.h"

namespace {

using js::Tok;

// Writes the tokens with what must stay between them.
class Emitter {
 public:
  Emitter(std::span<const unsigned char> in, unsigned char* out) : in_(in), out_(in, out) {}

  void token(Tok type, std::size_t start, std::size_t end) {
    if (gap_ && (have_prev_ || after_kept_)) {  // a kept "//" comment needs its line break
      if (gap_line_) {
        put('\n');
      } else if (!after_kept_ && (needs_space(type, start) || opens_html_comment(start))) {
        put(' ');
      }
    }
    copy(start, end);
    prev_type_ = type;
    prev_start_ = start;
    prev_end_ = end;
    have_prev_ = true;
    gap_ = gap_line_ = after_kept_ = false;
  }

  void space(std::size_t, std::size_t, bool line_break) {
    gap_ = true;
    gap_line_ = gap_line_ || line_break;
  }

  // A kept comment separates the tokens on its sides; a line break before it stays.
  void kept(std::size_t start, std::size_t end) {
    if (gap_line_ && out_.size() > 0) {
      put('\n');
    } else if (gap_ && out_.size() > 0 && out_.last() == '/') {
      put(' ');  // "a / /*! x */" must not become a line comment
    }
    copy(start, end);
    gap_ = gap_line_ = false;
    after_kept_ = true;
  }

  std::size_t size() const { return out_.size(); }

 private:
  void put(unsigned char b) { out_.put(b); }
  void copy(std::size_t from, std::size_t to) { out_.copy(from, to); }

  // "<", "!" and "--" with their spaces gone would spell "<!--": no pair of them merges.
  bool opens_html_comment(std::size_t start) const {
    return out_.size() >= 2 && out_.last(2) == '<' && out_.last() == '!' && in_[start] == '-';
  }

  // Would the previous token and the one at `start`, written side by side, read as other tokens
  // or open a comment, "<!--", "</" or "-->"?
  bool needs_space(Tok type, std::size_t start) const {
    const unsigned char last = in_[prev_end_ - 1];
    const unsigned char first = in_[start];
    // A name may end in an escape ("\u{d}") or a non-ASCII letter, and begin with one: the
    // token's type decides, not its bytes.
    const bool word_next = js::kIdentPart[first] || type == Tok::Word;
    if (word_next && (js::kIdentPart[last] || prev_type_ == Tok::Word || prev_type_ == Tok::Regex ||
                      prev_type_ == Tok::Number))
      return true;  // names run together; a regex takes letters as flags; 1 in, 1.in
    if (prev_type_ == Tok::Number && first == '.') return true;  // 1 .toString()
    if (last == '/' && (first == '/' || first == '*')) return true;
    if (last == '<' && (first == '!' || first == '/')) return true;
    if (last == '-' && first == '>') return true;
    if (last == '.' && (js::kDigit[first] || first == '.'))
      return true;  // ". ." after "." is no "..."
    if (prev_type_ != Tok::Punct || (type != Tok::Punct && type != Tok::Number)) return false;
    // Punctuators match longest first: "+" then "+" would read as "++".
    unsigned char joined[8] = {};
    const std::size_t a = prev_end_ - prev_start_;
    std::memcpy(joined, in_.data() + prev_start_, a);
    const std::size_t b = std::min<std::size_t>(in_.size() - start, 4);
    std::memcpy(joined + a, in_.data() + start, b);
    return js::punctuator(std::span<const unsigned char>(joined, a + b), 0) > a;
  }

  std::span<const unsigned char> in_;
  code::CodeWriter out_;
  bool gap_ = false;       // white space or comments since the previous token
  bool gap_line_ = false;  // ...holding a line terminator
  bool after_kept_ = false;
  bool have_prev_ = false;
  Tok prev_type_ = Tok::Punct;
  std::size_t prev_start_ = 0;
  std::size_t prev_end_ = 0;
};

}  // namespace

std::optional<std::size_t> minify_js(std::span<const unsigned char> in, JsInput kind,
                                     unsigned char* out) {
  Emitter emitter(in, out);
  const js::Goal goal = kind == JsInput::Module   ? js::Goal::Module
                        : kind == JsInput::Script ? js::Goal::Script
                                                  : js::Goal::Either;
  js::Lexer<Emitter> lexer(in, goal, emitter);
  if (!lexer.lex() || emitter.size() > in.size()) return std::nullopt;
  return emitter.size();
}

std::optional<Bytes> optimize_js(std::span<const unsigned char> in, JsInput kind, Bytes reuse) {
  std::optional<Bytes> out = output_buffer(in.size(), std::move(reuse));
  if (!out) return std::nullopt;
  const std::optional<std::size_t> n = minify_js(in, kind, out->data());
  if (!n) {
    if (!in.empty()) std::memcpy(out->data(), in.data(), in.size());
    return out;
  }
  out->resize(*n);
  return out;
}
