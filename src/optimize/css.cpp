// Style sheets: comments and white space removed where the grammar ignores them, nothing rewritten.
#include "optimize/css.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "optimize/code_scan.h"
#include "optimize/css_token.h"

namespace {

using css::Tok;
using css::Token;

// What the items of a block are. Rules: qualified rules and at-rules (the sheet, @media at the top
// level). Decls: declarations, and nested rules told apart by looking ahead. Raw: an at-rule this
// minifier does not know; its white space is only collapsed.
enum class Block : unsigned char { Rules, Decls, Raw };

// Where the next token stands. Start: nothing of the item yet.
enum class Mode : unsigned char { Start, Selector, Name, Value, Prelude, Raw };

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

bool is_delim(std::span<const unsigned char> in, const Token& t, unsigned char c) {
  return t.type == Tok::Delim && in[t.start] == c;
}

bool text_is(std::span<const unsigned char> in, const Token& t, std::string_view lower) {
  return t.end - t.start == lower.size() && match_nocase(in, t.start, lower);
}

// Would `a` and `b`, written with nothing between them, read back as other tokens? The pairs of
// the tokenizer's serialization table, plus a number before a '-' (which may start a unit).
bool would_merge(std::span<const unsigned char> in, const Token& a, const Token& b) {
  const Tok tb = b.type;
  const bool name = tb == Tok::Ident || tb == Tok::Function || tb == Tok::Url || tb == Tok::BadUrl;
  const bool num = tb == Tok::Number || tb == Tok::Percentage || tb == Tok::Dimension;
  const bool dash = is_delim(in, b, '-') || tb == Tok::Cdc;
  switch (a.type) {
    case Tok::Ident:
      if (text_is(in, a, "--") && is_delim(in, b, '>')) return true;  // "-->" would read as CDC
      return name || num || dash || tb == Tok::OpenParen;
    case Tok::AtKeyword:
    case Tok::Hash:
    case Tok::Dimension:
      return name || num || dash;
    case Tok::Number:
      return name || num || dash || is_delim(in, b, '%');
    case Tok::Delim:
      switch (in[a.start]) {
        case '#':
        case '-':
          return name || num || dash;
        case '@':
          return name || dash;
        case '.':
        case '+':
          return num;
        case '/':
          return is_delim(in, b, '*');
        case '<':
          return is_delim(in, b, '!');
        default:
          return false;
      }
    default:
      return false;
  }
}

// How the items of an at-rule's block read, by the at-rule's name.
Block block_of_at_rule(std::span<const unsigned char> in, const Token& at, Block parent) {
  constexpr std::string_view kGroups[] = {"@media", "@supports",  "@document", "@-moz-document",
                                          "@layer", "@container", "@scope",    "@starting-style"};
  constexpr std::string_view kDeclarations[] = {"@font-face",
                                                "@page",
                                                "@counter-style",
                                                "@property",
                                                "@font-palette-values",
                                                "@viewport",
                                                "@-ms-viewport",
                                                "@keyframes",
                                                "@-webkit-keyframes",
                                                "@-moz-keyframes",
                                                "@-o-keyframes",
                                                "@font-feature-values",
                                                "@top-left",
                                                "@top-center",
                                                "@top-right",
                                                "@bottom-left",
                                                "@bottom-center",
                                                "@bottom-right",
                                                "@left-top",
                                                "@left-middle",
                                                "@left-bottom",
                                                "@right-top",
                                                "@right-middle",
                                                "@right-bottom",
                                                "@top-left-corner",
                                                "@top-right-corner",
                                                "@bottom-left-corner",
                                                "@bottom-right-corner",
                                                "@swash",
                                                "@annotation",
                                                "@ornaments",
                                                "@stylistic",
                                                "@styleset",
                                                "@character-variant",
                                                "@position-try",
                                                "@view-transition"};
  for (const std::string_view name : kGroups)
    if (text_is(in, at, name)) return parent == Block::Decls ? Block::Decls : Block::Rules;
  for (const std::string_view name : kDeclarations)
    if (text_is(in, at, name)) return Block::Decls;
  return Block::Raw;
}

class Minifier {
 public:
  Minifier(std::span<const unsigned char> in, unsigned char* out, Block base)
      : in_(in), out_(in, out) {
    blocks_.push_back(base);
  }

  std::optional<std::size_t> run() {
    for (std::size_t i = 0; i < in_.size();) {
      const Token t = css::next_token(in_, i);
      if (t.broken || t.type == Tok::BadString || t.type == Tok::BadUrl) return std::nullopt;
      i = t.end;
      if (t.type == Tok::Whitespace || t.type == Tok::Comment) {
        if (gap_start_ == kNone) gap_start_ = t.start;
        if (t.type == Tok::Whitespace) {
          gap_ws_ = true;
        } else if (!verbatim_ && is_kept_comment(t)) {
          keep_comment(t);
        }
        continue;
      }
      if (!token(t)) return std::nullopt;
    }
    // A sheet ends at its top level; an attribute's declarations may end without their ';'.
    if (blocks_.size() != 1 || !nest_.empty()) return std::nullopt;
    if (verbatim_ && !trim_end_ && gap_start_ != kNone) copy(gap_start_, in_.size());
    return out_.size();
  }

 private:
  bool is_kept_comment(const Token& t) const {
    return t.end - t.start >= 5 && in_[t.start + 2] == '!';
  }

  void copy(std::size_t from, std::size_t to) { out_.copy(from, to); }
  void put(unsigned char b) { out_.put(b); }

  // One space after the previous token. A hex escape swallows one white space after it, so right
  // after one that ends the token a second is needed; the gap there began with a comment (else
  // the escape would hold its white space), so it has room.
  void put_space() {
    put(' ');
    if (!after_kept_comment_ && ends_in_hex_escape(prev_)) put(' ');
  }

  bool ends_in_hex_escape(const Token& t) const {
    if (find_byte(in_.first(t.end), t.start, '\\') >= t.end) return false;
    bool broken = false;
    bool hex_last = false;
    for (std::size_t i = t.start; i < t.end;) {
      if (in_[i] == '\\' && i + 1 < t.end) {
        const std::size_t j = css::skip_escape(in_, i, broken);
        hex_last = css::kHex[in_[i + 1]] && !css::kSpace[in_[j - 1]];
        i = j;
      } else {
        hex_last = false;
        ++i;
      }
    }
    return hex_last;
  }

  // A "/*! ... */" comment goes out where it stood. It separates the tokens on its sides, so only
  // a white space that means something (a descendant combinator) needs its space.
  void keep_comment(const Token& t) {
    flush_semicolon();
    // White space before the comment: one space, unless it stands where white space never counts.
    if (gap_ws_ && prev_.type != Tok::End && mode_ != Mode::Start && prev_.type != Tok::OpenCurly &&
        prev_.type != Tok::CloseCurly && prev_.type != Tok::Semicolon)
      put_space();
    copy(t.start, t.end);
    after_kept_comment_ = true;
    gap_start_ = kNone;
    gap_ws_ = false;
  }

  void flush_semicolon() {
    if (!pending_semicolon_) return;
    pending_semicolon_ = false;
    put(';');
    prev_ = semicolon_;
  }

  bool in_decls() const { return blocks_.back() == Block::Decls; }

  // Is `t` at depth 0 an item's end: a ';' or the block's '}'?
  static bool ends_item(const Token& t) {
    return t.type == Tok::Semicolon || t.type == Tok::CloseCurly;
  }

  // In a block of declarations: does the item starting at `from` open a block (a nested rule)
  // before a ';' or '}' ends it?
  bool item_is_rule(std::size_t from) const {
    const std::optional<bool> quick = item_is_rule_by_bytes(from);
    if (quick) return *quick;
    std::size_t depth = 0;
    bool first = true;
    bool custom = false;
    for (std::size_t i = from; i < in_.size();) {
      const Token t = css::next_token(in_, i);
      i = t.end;
      if (t.type == Tok::Whitespace || t.type == Tok::Comment) continue;
      if (first) {
        first = false;
        custom = t.type == Tok::Ident && match_exact(in_, t.start, "--");
        continue;
      }
      if (custom) return false;  // "--x:" is a declaration whatever its value holds
      switch (t.type) {
        case Tok::Function:
        case Tok::OpenParen:
        case Tok::OpenSquare:
          ++depth;
          break;
        case Tok::CloseParen:
        case Tok::CloseSquare:
          if (depth > 0) --depth;
          break;
        case Tok::OpenCurly:
          if (depth == 0) return true;
          ++depth;
          break;
        case Tok::CloseCurly:
          if (depth == 0) return false;
          --depth;
          break;
        case Tok::Semicolon:
          if (depth == 0) return false;
          break;
        default:
          break;
      }
    }
    return false;
  }

  // The same answer from the bytes alone, for the items that hold no string, comment, escape or
  // url and no block inside brackets (most declarations); none for the others.
  std::optional<bool> item_is_rule_by_bytes(std::size_t from) const {
    static constexpr code::ByteSet kPlain = code::all_but("{};()[]\"'/\\");
    if (match_exact(in_, from, "--")) return std::nullopt;  // a custom property
    std::size_t depth = 0;
    for (std::size_t i = from;; ++i) {
      i = code::skip_run(in_, i, kPlain);
      if (i >= in_.size()) break;
      const unsigned char c = in_[i];
      switch (c) {
        case '(':
          if (i - from >= 3 && match_nocase(in_, i - 3, "url")) return std::nullopt;
          [[fallthrough]];
        case '[':
          ++depth;
          break;
        case ')':
        case ']':
          if (depth == 0) return std::nullopt;
          --depth;
          break;
        case '{':
          if (depth == 0) return true;
          return std::nullopt;
        case '}':
        case ';':
          if (depth == 0) return false;
          if (c == '}') return std::nullopt;
          break;
        default:  // quotes, '/', '\'
          return std::nullopt;
      }
    }
    return std::nullopt;
  }

  void begin_item(const Token& t) {
    verbatim_ = false;
    trim_end_ = true;
    custom_ = false;
    const Block block = blocks_.back();
    if (block == Block::Raw) {
      mode_ = Mode::Raw;
    } else if (t.type == Tok::AtKeyword) {
      mode_ = Mode::Prelude;
      at_block_ = block_of_at_rule(in_, t, block);
      if (text_is(in_, t, "@charset")) {  // read as bytes before any decoding: kept whole
        verbatim_ = true;
        trim_end_ = false;
      }
    } else if (block == Block::Decls) {
      if (item_is_rule(t.start)) {
        mode_ = Mode::Selector;
      } else {
        mode_ = Mode::Name;
        custom_ = t.type == Tok::Ident && match_exact(in_, t.start, "--");
      }
    } else if (t.type != Tok::Cdo && t.type != Tok::Cdc) {
      mode_ = Mode::Selector;
    }
  }

  // Whether white space between `a` (already written) and `b` must stay as one space.
  bool space_needed(const Token& a, const Token& b) const {
    const auto punct = [](Tok type) {
      return type == Tok::OpenCurly || type == Tok::CloseCurly || type == Tok::Semicolon ||
             type == Tok::Cdo || type == Tok::Cdc;
    };
    if (a.type == Tok::End) return false;
    if (!after_kept_comment_ && would_merge(in_, a, b)) return true;
    if (punct(a.type) || punct(b.type)) return false;
    if (mode_ == Mode::Raw) return true;
    if (a.type == Tok::Comma || b.type == Tok::Comma) return false;
    if (a.type == Tok::OpenParen || a.type == Tok::OpenSquare || a.type == Tok::Function ||
        b.type == Tok::CloseParen || b.type == Tok::CloseSquare)
      return false;
    switch (mode_) {
      case Mode::Selector: {
        const auto combinator = [&](const Token& t) {
          return is_delim(in_, t, '>') || is_delim(in_, t, '+') || is_delim(in_, t, '~');
        };
        return !(nest_.empty() && (combinator(a) || combinator(b)));
      }
      case Mode::Name:
        return !(a.type == Tok::Colon || b.type == Tok::Colon);
      case Mode::Value:
        if (value_start_) return false;
        if (is_delim(in_, a, '/') || is_delim(in_, b, '/') || is_delim(in_, b, '!')) return false;
        return !(is_delim(in_, a, '!') && b.type == Tok::Ident);
      case Mode::Prelude:
        if (a.type == Tok::AtKeyword && b.type == Tok::OpenParen) return false;  // @media(
        return !(!nest_.empty() && nest_.back() == '(' &&
                 (a.type == Tok::Colon || b.type == Tok::Colon));
      default:
        return true;
    }
  }

  // What stands between the last token written and `t`: nothing, one space, the white space as
  // it was (verbatim values), or an empty comment where two tokens would otherwise merge. Most
  // tokens follow the last one directly, so that test is made where this is called.
  void write_gap(const Token& t) {
    const std::size_t from = gap_start_;
    const bool ws = gap_ws_;
    gap_start_ = kNone;
    gap_ws_ = false;
    if (verbatim_) {
      if ((value_start_ && mode_ == Mode::Value) || (trim_end_ && ends_item(t) && nest_.empty()))
        return;
      copy(from, t.start);
      return;
    }
    const std::size_t before = out_.size();
    if (ws) {
      if (space_needed(prev_, t)) put_space();
    } else if (prev_.type != Tok::End && !after_kept_comment_ && would_merge(in_, prev_, t)) {
      put('/');
      put('*');
      put('*');
      put('/');
    }
    // "<" "!" "--x" with their spaces gone would open a CDO: three tokens, no pair of them merges.
    if (out_.size() == before && before >= 2 && out_.last(2) == '<' && out_.last() == '!' &&
        in_[t.start] == '-')
      put(' ');
  }

  bool token(const Token& t) {
    const bool top = nest_.empty();
    if (mode_ == Mode::Start) {
      if (t.type == Tok::Semicolon && in_decls()) {  // an empty declaration
        gap_start_ = kNone;
        gap_ws_ = false;
        return true;
      }
      if (t.type != Tok::CloseCurly) begin_item(t);
    }
    if (pending_semicolon_ && t.type != Tok::CloseCurly) flush_semicolon();
    pending_semicolon_ = false;
    if (t.type == Tok::Semicolon && top && (mode_ == Mode::Name || mode_ == Mode::Value) &&
        in_decls()) {
      if (gap_start_ != kNone) write_gap(t);
      pending_semicolon_ = true;  // the block's last one is dropped
      semicolon_ = t;
      mode_ = Mode::Start;
      verbatim_ = false;
      return true;
    }
    // Old filters and expressions are read by their own parsers: the value stays whole.
    if (value_start_ && mode_ == Mode::Value && !verbatim_ &&
        ((t.type == Tok::Ident && text_is(in_, t, "progid")) ||
         (t.type == Tok::Function &&
          (text_is(in_, t, "expression(") || text_is(in_, t, "alpha(")))))
      verbatim_ = true;
    if (gap_start_ != kNone) write_gap(t);
    prev_ = t;
    copy(t.start, t.end);
    after_kept_comment_ = false;
    value_start_ = value_start_ && mode_ != Mode::Value;
    switch (t.type) {
      case Tok::Function:
      case Tok::OpenParen:
        nest_.push_back('(');
        if (t.type == Tok::Function) nest_.back() = 'f';
        break;
      case Tok::OpenSquare:
        nest_.push_back('[');
        break;
      case Tok::CloseParen:
        if (top || (nest_.back() != '(' && nest_.back() != 'f')) return false;
        nest_.pop_back();
        break;
      case Tok::CloseSquare:
        if (top || nest_.back() != '[') return false;
        nest_.pop_back();
        break;
      case Tok::OpenCurly:
        if (!top || mode_ == Mode::Value) {  // a custom property's value may hold blocks
          nest_.push_back('{');
          break;
        }
        if (mode_ == Mode::Selector) {
          blocks_.push_back(Block::Decls);
        } else if (mode_ == Mode::Prelude) {
          blocks_.push_back(at_block_);
        } else if (mode_ == Mode::Raw) {
          blocks_.push_back(Block::Raw);
        } else {
          return false;  // a value's '{' at depth 0: not a sheet this minifier follows
        }
        mode_ = Mode::Start;
        verbatim_ = false;
        break;
      case Tok::CloseCurly:
        if (!top) {
          if (nest_.back() != '{') return false;
          nest_.pop_back();
          break;
        }
        if (blocks_.size() == 1) return false;  // a '}' that closes nothing
        blocks_.pop_back();
        mode_ = Mode::Start;
        verbatim_ = false;
        break;
      case Tok::Semicolon:
        if (top && mode_ != Mode::Selector) {
          mode_ = Mode::Start;
          verbatim_ = false;
        }
        break;
      case Tok::Colon:
        if (top && mode_ == Mode::Name) {
          mode_ = Mode::Value;
          value_start_ = true;
          verbatim_ = custom_;  // a custom property's value is kept as written
        }
        break;
      default:
        break;
    }
    return true;
  }

  std::span<const unsigned char> in_;
  code::CodeWriter out_;
  std::vector<Block> blocks_;        // the innermost last
  std::vector<unsigned char> nest_;  // open '(' , function 'f', '[' and '{' inside an item
  Mode mode_ = Mode::Start;
  Block at_block_ = Block::Raw;
  bool verbatim_ = false;  // white space and comments go out as they are
  bool trim_end_ = true;   // ...except at the item's end
  bool custom_ = false;    // the declaration's name starts with "--"
  bool value_start_ = false;
  bool pending_semicolon_ = false;
  Token semicolon_{};
  Token prev_{};  // the last token written; End before the first
  bool after_kept_comment_ = false;
  std::size_t gap_start_ = kNone;  // white space or comments since prev_, from here
  bool gap_ws_ = false;
};

}  // namespace

std::optional<std::size_t> minify_css(std::span<const unsigned char> in, CssInput kind,
                                      unsigned char* out) {
  Minifier minifier(in, out, kind == CssInput::Sheet ? Block::Rules : Block::Decls);
  const std::optional<std::size_t> n = minifier.run();
  if (!n || *n > in.size()) return std::nullopt;
  return n;
}

std::optional<Bytes> optimize_css(std::span<const unsigned char> in, Bytes reuse) {
  std::optional<Bytes> out = output_buffer(in.size(), std::move(reuse));
  if (!out) return std::nullopt;
  const std::optional<std::size_t> n = minify_css(in, CssInput::Sheet, out->data());
  if (!n) {
    if (!in.empty()) std::memcpy(out->data(), in.data(), in.size());
    return out;
  }
  out->resize(*n);
  return out;
}
