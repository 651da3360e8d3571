// The safe profile: reads the page the way a browser's tokenizer does, so that the optimized page
// builds the same document and renders the same. Only bytes that cannot show are dropped.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

#include "optimize/end_tag_omission.h"
#include "optimize/inline_code.h"
#include "optimize/markup.h"
#include "optimize/markup_constructs.h"
#include "optimize/markup_out.h"
#include "optimize/markup_safe_comments.h"
#include "optimize/markup_safe_names.h"
#include "optimize/markup_safe_scan.h"
#include "optimize/markup_safe_state.h"
#include "optimize/markup_safe_tag.h"
#include "optimize/open_elements.h"
#include "optimize/whitespace_rules.h"

namespace markup::safe {
namespace {

// The tags in content [from, to) that the profile copies as it is (a PRE element's), told to the
// tree as the browser reads them. False when the content is not read for sure: a tag or comment
// running past `to`, or an element whose content is read as text (so `to` may not be the end).
bool read_copied_tags(std::span<const unsigned char> in, std::size_t from, std::size_t to,
                      State& st) {
  std::size_t k = from;
  while (k < to) {
    std::size_t lt = find_byte(in.first(to), k, '<');
    if (lt > k) {
      bool space_only = true;
      for (std::size_t t = k; t < lt && space_only; ++t) space_only = kHtmlSpace[in[t]];
      st.tree.text(space_only);
    }
    if (lt >= to) return true;
    const bool closing = peek(in, lt + 1) == '/';
    const std::size_t name_from = lt + 1 + static_cast<std::size_t>(closing);
    if (kAsciiLetter[peek(in, name_from)] && name_from < to) {
      name_at(in, name_from, st);
      const std::size_t name_end = st.named_end;
      const tree::Name name =
          tree::name_with(st.named->tag, bytes_between(in, name_from, name_end));
      // An element whose content is read otherwise, or a scope boundary (or a select) that the
      // PRE's end tag would not close past.
      const tree::Tag t = name.tag;
      const bool changes_reading =
          (st.named->kind & (kRawText | kPlainText)) != 0 ||
          (!closing &&
           (t == tree::Applet || t == tree::Caption || t == tree::Html || t == tree::Table ||
            t == tree::Td || t == tree::Th || t == tree::Marquee || t == tree::Object ||
            t == tree::Template || t == tree::Svg || t == tree::Math || t == tree::Select));
      const std::size_t gt = tag_close(in, std::min(name_end, to), to);
      if (gt >= to || changes_reading) return false;
      if (closing) {
        st.tree.end_tag(name);
      } else {
        st.tree.start_tag(name, in[gt - 1] == '/');
      }
      k = gt + 1;
      continue;
    }
    if (peek(in, lt + 1) == '!' || peek(in, lt + 1) == '?' || closing) {
      // A comment, a bogus comment or a PHP block: nothing for the tree, when it ends here.
      const std::size_t end = match_exact(in, lt + 1, "!--") ? comment_close(in, lt)
                              : st.php_blocks && peek(in, lt + 1) == '?'
                                  ? php_block_end(in, lt)
                                  : find_byte(in, lt + 1, '>') + 1;
      if (end > to) return false;
      k = end;
      continue;
    }
    st.tree.text(false);  // a '<' that is text
    k = lt + 1;
  }
  return true;
}

// The content of an element read as text or copied as it is, from `j` after its start tag at `s`
// (of `name` and `kind`): PLAINTEXT's, raw text's and pre-like elements'. Out of line: the main
// loop keeps its registers for tags.
[[gnu::noinline]] std::size_t text_element_content(std::span<const unsigned char> in, std::size_t s,
                                                   std::size_t j,
                                                   std::span<const unsigned char> name,
                                                   std::uint16_t kind, State& st) {
  if ((kind & kPlainText) != 0) return copy_kept(in, j, in.size(), st);
  // Raw text and pre-like content runs up to its end tag, which is then read as a tag.
  if ((kind & kRawText) != 0) {
    const std::size_t end = end_tag_start(in, j, name);
    Code code = end < in.size() ? code_of(in, s, j, name) : Code::None;
    if ((code == Code::Css && !st.code.css) || (code != Code::Css && !st.code.js))
      code = Code::None;
    if (code == Code::None) return copy_kept(in, j, end, st);
    inline_code(in, j, end, code, st);
    return end;
  }
  if ((kind & kPreLike) != 0) {
    const std::size_t end = nested_end_tag_start(in, j, name);
    if (read_copied_tags(in, j, end, st)) return copy_kept(in, j, end, st);
    // Where the content ends is not known for sure: the rest of the page stays as it is.
    st.tree.lose();
    return copy_kept(in, j, in.size(), st);
  }
  return j;
}

// What starts at a '<' at `s` that is no start or end tag, `b` the byte after it: a comment, a
// declaration, a PHP block or a '<' that is text. Out of line: the main loop keeps its registers
// for tags.
template <bool kPhp>
[[gnu::noinline]] std::size_t not_a_tag(std::span<const unsigned char> in, std::size_t s,
                                        unsigned char b, State& st) {
  const bool closing = b == '/';
  if (b == '!') {
    if (match_exact(in, s + 2, "--")) return comment(in, s, st);
    // Declarations, CDATA sections and bogus comments: copied through their end.
    const bool doctype = match_nocase(in, s + 2, "doctype");
    if (doctype) st.tree.doctype(html_doctype(in, s));
    st.left = doctype ? Left::EdgeEnd : Left::OtherTag;
    st.text_has_content = false;
    if (match_exact(in, s + 2, "[CDATA[")) {
      std::size_t j = s + 9;
      for (;;) {
        j = find_byte(in, j, ']');
        if (j == in.size()) return copy_kept(in, s, j, st);
        if (match_exact(in, j, "]]>")) return copy_kept(in, s, j + 3, st);
        ++j;
      }
    }
    const std::size_t gt = find_byte(in, s + 2, '>');
    return copy_kept(in, s, gt == in.size() ? gt : gt + 1, st);
  }
  if (b == '?') {
    if (kPhp) {
      st.left = Left::OtherTag;
      st.text_has_content = false;
      // PHP eats a line break right after "?>": the white space there is not the page's to touch.
      std::size_t end = php_block_end(in, s);
      while (end < in.size() && kTextSpace[in[end]]) ++end;
      return copy_kept(in, s, end, st);
    }
    // A bogus comment ("<?xml ...?>" and the like): dropped like any other comment.
    const std::size_t gt = find_byte(in, s + 2, '>');
    if (gt != in.size()) return drop_comment(in, s, gt + 1, st);
    st.left = Left::OtherTag;
    st.text_has_content = false;
    return copy_kept(in, s, gt, st);
  }
  if (closing) {  // "</>" and bogus comments: copied
    st.left = Left::OtherTag;
    st.text_has_content = false;
    const std::size_t gt = find_byte(in, s + 2, '>');
    return copy_kept(in, s, gt == in.size() ? gt : gt + 1, st);
  }
  return text_content(in, s, st);  // a '<' that is text
}

// Everything that starts at a '<' at `s`; returns where the next step starts. `kPhp`: the page's
// PHP blocks are kept (st.php_blocks), known for the whole pass.
template <bool kPhp>
[[gnu::always_inline]] inline std::size_t markup_at(std::span<const unsigned char> in,
                                                    std::size_t s, State& st) {
  // Two bytes after the '<' decide what it starts; one look at the page's end for both.
  const bool room = in.size() - s > 2;
  const unsigned char b = room ? in[s + 1] : peek(in, s + 1);
  const bool closing = b == '/';
  const std::size_t name_from = s + 1 + static_cast<std::size_t>(closing);
  // Start and end tags first: most of what starts with '<'.
  if (!kAsciiLetter[room ? in[name_from] : peek(in, name_from)])
    return not_a_tag<kPhp>(in, s, b, st);
  name_at(in, name_from, st);
  const Meaning* meaning = st.named;
  std::size_t name_end = st.named_end;
  const tree::Name tree_name =
      tree::name_with(meaning->tag, bytes_between(in, name_from, name_end));
  const std::uint16_t named_kind = meaning->kind;
  bool self_closing = false;
  const std::size_t tag_at = st.out.n;
  std::size_t j = 0;
  if (!kPhp) {
    if (name_end < in.size() && in[name_end] == '>') {
      // Most tags hold nothing but their name: copied whole.
      j = name_end + 1;
      copy_piece(st.out, in, s, j);
    } else {
      j = remembered_tag(in, s, name_end, st);
      self_closing = st.self_closing;
    }
  } else if (const std::size_t end = php_holder_end(in, s, ">"); end != 0) {
    // A tag holding PHP code is copied whole, and has no name the profile acts on.
    j = copy_kept(in, s, end, st);
    meaning = &kNoMeaning;
    name_end = name_from;
    // Its content is not read as the browser reads it, nor is a "/>" known.
    if ((named_kind & (kRawText | kPreLike | kPlainText)) != 0 || !st.tree.in_html_content())
      st.tree.lose();
  } else {
    j = tag(in, s, name_end, st);
    self_closing = st.self_closing;
  }
  const std::uint16_t kind = meaning->kind;
  st.left = meaning->left[closing];
  st.text_has_content = false;
  const std::span<const unsigned char> name = bytes_between(in, name_from, name_end);
  if (closing) {
    if ((kind & kForeign) != 0 && st.foreign_depth > 0) --st.foreign_depth;
    if ((kind & kOptionalEnd) == 0) {
      st.tree.end_tag(tree_name);
    } else {
      tree::Next next;
      bool spaced = false;
      const bool omissible = end_tag_omissible(in, j, name_end, *meaning, st, &next, &spaced);
      st.tree.end_tag(tree_name);
      if (omissible && (!spaced || st.tree.space_may_go(next))) st.out.n = tag_at;
    }
    st.p_open = meaning->p_open_after[1][st.p_open];
    return j;
  }
  st.tree.start_tag(tree_name, self_closing);
  st.p_open = meaning->p_open_after[0][st.p_open];
  // Most elements' content is read as any other.
  if ((kind & (kForeign | kPlainText | kRawText | kPreLike)) == 0 || j >= in.size()) return j;
  if ((kind & kForeign) != 0) {
    if (!self_closing) ++st.foreign_depth;
    return j;
  }
  return text_element_content(in, s, j, name, kind, st);
}

// What a pass returns when it must start again.
inline constexpr std::size_t kStartAgain = SIZE_MAX;

// The page from its start, one token a step; returns where it stopped (the end), or kStartAgain
// when the part of the page looked at last mentions white-space after all. Without a bar to move,
// the steps are not counted; `kPhp` is st.php_blocks, as markup_at takes it.
template <bool kTicking, bool kPhp>
std::size_t pass(std::span<const unsigned char> in, State& st) {
  std::size_t i = 0;
  while (i < in.size()) {
    if constexpr (kTicking) st.ticker.one(i);
    const unsigned char c = in[i];
    if (c == '<') {
      i = markup_at<kPhp>(in, i, st);
    } else if (kTextSpace[c]) {
      i = text_space(in, i, st);
    } else {
      i = text_content(in, i, st);
    }
  }
  if (st.unlooked != SIZE_MAX && mentions_white_space(in, st.unlooked, in.size()))
    return kStartAgain;
  return i;
}

struct Settings {
  bool php_blocks = false;
  InlineCode code{};
  ProgressSink* progress = nullptr;
};

// One pass over the page into `out`; returns the output's length, or kStartAgain. `mentions`
// tells whether the page mentions white-space, where that is known.
std::size_t optimize_into(std::span<const unsigned char> in, unsigned char* out,
                          const Settings& settings, std::optional<bool> mentions) {
  const auto total = static_cast<std::int64_t>(in.size());
  State st;
  st.out = markup::Out{out};
  st.php_blocks = settings.php_blocks;
  st.code = settings.code;
  st.ticker = markup::Ticker{settings.progress, total, total / 100};
  if (settings.progress != nullptr) {
    // The bar moves once: the page is looked at before the pass.
    st.styles_white_space = mentions ? *mentions : mentions_white_space(in, 0, in.size());
    const std::size_t i = st.php_blocks ? pass<true, true>(in, st) : pass<true, false>(in, st);
    settings.progress->tick(total, static_cast<std::int64_t>(i));
    settings.progress->finish();
    return st.out.n;
  }
  if (mentions) {
    st.styles_white_space = *mentions;
  } else {
    st.look_pending = true;
  }
  const std::size_t end = st.php_blocks ? pass<false, true>(in, st) : pass<false, false>(in, st);
  return end == kStartAgain ? kStartAgain : st.out.n;
}

}  // namespace
}  // namespace markup::safe

std::optional<Bytes> optimize_markup_safe(std::span<const unsigned char> in, bool php_blocks,
                                          ProgressSink* progress, Bytes reuse, InlineCode code) {
  std::optional<Bytes> buffer =
      output_buffer(in.size(), std::move(reuse));  // never longer than the input
  if (!buffer) return std::nullopt;
  Bytes& result = *buffer;
  using namespace markup::safe;
  const Settings settings{php_blocks, code, progress};
  std::size_t n = optimize_into(in, result.data(), settings, std::nullopt);
  // The page mentions white-space after a run was cut as if it did not.
  if (n == kStartAgain) n = optimize_into(in, result.data(), settings, true);
  result.resize(n);
  return buffer;
}
