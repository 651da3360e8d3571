// Scripts: comments and white space removed between tokens, one line break kept where one was.
#include "optimize/js.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "optimize/code_scan.h"
#include "optimize/js_lex.h"

namespace {

using js::Tok;

// Writes the tokens with what must stay between them.
class Emitter {
 public:
  Emitter(std::span<const unsigned char> in, unsigned char* out) : in_(in), out_(in, out) {}

  [[gnu::always_inline]] void token(Tok type, std::size_t start, std::size_t end) {
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
    return in_[start] == '-' && out_.size() >= 2 && out_.last(2) == '<' && out_.last() == '!';
  }

  // The pairs that would read as other tokens when written side by side, as one bit each: the
  // previous token's side and the next one's are looked up apart, and a space is needed where
  // they share a bit. kMerge only asks for the longest-match test of two punctuators.
  enum Pair : unsigned char {
    kNames = 1,      // names run together; a regex takes letters as flags; 1 in, 1.in
    kNumberDot = 2,  // 1 .toString()
    kSlash = 4,      // "/" then "/" or "*" opens a comment
    kLess = 8,       // "<" then "!" or "/"
    kArrow = 16,     // "-" then ">"
    kDot = 32,       // ". ." after "." is no "...", nor ".5" a number after "."
    kMerge = 64,     // punctuators match longest first: "+" then "+" would read as "++"
  };
  static constexpr auto kAfterByte = [] {
    std::array<unsigned char, 256> t{};
    for (std::size_t b = 0; b < t.size(); ++b) t[b] = js::kIdentPart[b] ? kNames : 0;
    t['/'] = kSlash;
    t['<'] = kLess;
    t['-'] = kArrow;
    t['.'] = kDot;
    return t;
  }();
  static constexpr auto kBeforeByte = [] {
    std::array<unsigned char, 256> t{};
    for (std::size_t b = 0; b < t.size(); ++b)
      t[b] = (js::kIdentPart[b] ? kNames : 0) | (js::kDigit[b] ? kDot : 0);
    t['.'] = kNumberDot | kDot;
    t['/'] = kSlash | kLess;
    t['*'] = kSlash;
    t['!'] = kLess;
    t['>'] = kArrow;
    return t;
  }();
  // A name may end in an escape ("\u{d}") or a non-ASCII letter, and begin with one: the
  // token's type decides, not its bytes.
  static constexpr unsigned char after_type(Tok t) {
    switch (t) {
      case Tok::Word:
      case Tok::Regex:
        return kNames;
      case Tok::Number:
        return kNames | kNumberDot;
      case Tok::Punct:
        return kMerge;
      default:
        return 0;
    }
  }
  static constexpr unsigned char before_type(Tok t) {
    return t == Tok::Word ? kNames : t == Tok::Punct || t == Tok::Number ? kMerge : 0;
  }

  // Would the previous token and the one at `start`, written side by side, read as other tokens
  // or open a comment, "<!--", "</" or "-->"?
  bool needs_space(Tok type, std::size_t start) const {
    const unsigned shared = (kAfterByte[in_[prev_end_ - 1]] | after_type(prev_type_)) &
                            (kBeforeByte[in_[start]] | before_type(type));
    if (shared == 0) return false;
    if (shared != kMerge) return true;
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
