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

  // What the gap before a token leaves is decided without a branch: nearly every other token
  // follows one, so a branch on it would be mispredicted as often. A line break where the gap
  // held one; a space where the tokens on its sides share a Pair bit (kMerge alone asks the slow
  // test of two punctuators); else nothing.
  [[gnu::always_inline]] void token(Tok type, std::size_t start, std::size_t end) {
    const unsigned rule = kRule[state_];
    const unsigned shared = prev_after_ & before_bits(type, in_[start]);
    unsigned space = (shared & ~unsigned{kMerge}) != 0;
    if ((shared | rule << 8) == (kMerge | kSpaceIfNeeded << 8)) [[unlikely]]
      space = merges(type, start) || opens_html_comment(start);
    // Bit arithmetic, not && and ||, which the compiler would turn back into branches.
    const unsigned line = rule & kLineBreak;
    const unsigned keep = line | ((rule >> 1) & space);
    // Everything of this token is noted before its bytes go out (see CodeWriter::write).
    prev_after_ = after_bits(type, in_[end - 1]);
    prev_type_ = type;
    prev_start_ = start;
    prev_end_ = end;
    state_ = 0;
    out_.copy_after(static_cast<unsigned char>(' ' - line * (' ' - '\n')), keep != 0, start, end);
  }

  void space(std::size_t, std::size_t, bool line_break) {
    state_ |= line_break ? kGapAny | kGapLine : kGapAny;
  }

  // A kept comment separates the tokens on its sides; a line break before it stays.
  void kept(std::size_t start, std::size_t end) {
    if ((state_ & kGapLine) != 0 && out_.size() > 0) {
      put('\n');
    } else if ((state_ & kGapAny) != 0 && out_.size() > 0 && out_.last() == '/') {
      put(' ');  // "a / /*! x */" must not become a line comment
    }
    copy(start, end);
    state_ = kAfterKept;
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
  // they share a bit.
  enum Pair : unsigned char {
    kNames = 1,      // names run together; a regex takes letters as flags; 1 in, 1.in
    kNumberDot = 2,  // 1 .toString()
    kSlash = 4,      // "/" then "/" or "*" opens a comment
    kLess = 8,       // "<" then "!" or "/"
    kArrow = 16,     // "-" then ">"
    kDot = 32,       // ". ." after "." is no "...", nor ".5" a number after "."
    // Two bytes that follow each other inside some punctuator ("+" "+", ">" "=", "?" "."):
    // only merges() can tell whether the two tokens would read as one.
    kMerge = 64,
  };
  static constexpr auto kAfterByte = [] {
    std::array<unsigned char, 256> t{};
    for (std::size_t b = 0; b < t.size(); ++b) t[b] = js::kIdentPart[b] ? kNames : 0;
    code::assign<unsigned char>(t, "=!<>+-*&|?%^/.", kMerge);
    t['/'] |= kSlash;
    t['<'] |= kLess;
    t['-'] |= kArrow;
    t['.'] |= kDot;
    return t;
  }();
  static constexpr auto kBeforeByte = [] {
    std::array<unsigned char, 256> t{};
    for (std::size_t b = 0; b < t.size(); ++b)
      t[b] = (js::kIdentPart[b] ? kNames : 0) | (js::kDigit[b] ? kDot : 0);
    code::assign<unsigned char>(t, "=<>+-*&|?.", kMerge);
    t['.'] |= kNumberDot | kDot;
    t['/'] = kSlash | kLess;
    t['*'] |= kSlash;
    t['!'] = kLess;
    t['>'] |= kArrow;
    return t;
  }();
  // A name may end in an escape ("\u{d}") or a non-ASCII letter, and begin with one: the
  // token's type decides, not its bytes.
  static constexpr unsigned char after_type(Tok t) {
    return t == Tok::Word || t == Tok::Regex ? kNames : t == Tok::Number ? kNames | kNumberDot : 0;
  }
  // A name's sides are kNames whatever its bytes, a lone punctuator's none: the bytes are looked
  // up only where the type, known at compile time, leaves them to decide.
  static unsigned char before_bits(Tok t, unsigned char first) {
    return t == Tok::Word   ? static_cast<unsigned char>(kNames)
           : t == Tok::Lone ? static_cast<unsigned char>(0)
                            : kBeforeByte[first];
  }
  static unsigned char after_bits(Tok t, unsigned char last) {
    return t == Tok::Word   ? static_cast<unsigned char>(kNames)
           : t == Tok::Lone ? static_cast<unsigned char>(0)
                            : static_cast<unsigned char>(kAfterByte[last] | after_type(t));
  }

  // Would the previous token, a punctuator, and the punctuator (or number) at `start` read as
  // one longer punctuator when written side by side?
  bool merges(Tok type, std::size_t start) const {
    if (prev_type_ != Tok::Punct || (type != Tok::Punct && type != Tok::Number)) return false;
    unsigned char joined[8] = {};
    const std::size_t a = prev_end_ - prev_start_;
    std::memcpy(joined, in_.data() + prev_start_, a);
    const std::size_t b = std::min<std::size_t>(in_.size() - start, 4);
    std::memcpy(joined + a, in_.data() + start, b);
    return js::punctuator(std::span<const unsigned char>(joined, a + b), 0) > a;
  }

  std::span<const unsigned char> in_;
  code::CodeWriter out_;
  // What came since the previous token: white space or comments (kGapAny), holding a line
  // terminator (kGapLine too); whether it was a kept comment, and whether anything went out yet.
  enum State : unsigned char { kGapAny = 1, kGapLine = 2, kAfterKept = 4, kNothingOut = 8 };
  // What a state leaves before the next token: a line break, or a space where one is needed.
  enum Rule : unsigned char { kNothing = 0, kLineBreak = 1, kSpaceIfNeeded = 2 };
  static constexpr auto kRule = [] {
    std::array<unsigned char, 16> t{};
    for (unsigned s = 0; s < t.size(); ++s) {
      if ((s & kNothingOut) != 0) continue;  // a kept "//" comment needs its line break
      if ((s & kGapLine) != 0) {
        t[s] = kLineBreak;
      } else if ((s & kGapAny) != 0 && (s & kAfterKept) == 0) {
        t[s] = kSpaceIfNeeded;
      }
    }
    return t;
  }();
  unsigned char state_ = kNothingOut;
  unsigned char prev_after_ = 0;  // the previous token's side of the Pair bits
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
