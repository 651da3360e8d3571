// Inline code of pages under the safe profile: the element's type, then the CSS or JS minifier.
#include "optimize/inline_code.h"

#include <initializer_list>
#include <optional>
#include <string_view>

#include "optimize/css.h"
#include "optimize/js.h"
#include "optimize/markup_safe_scan.h"

namespace markup::safe {

namespace {

// Whether one of `lits` (lower case, each starting with '<') occurs in [from, to) in any case.
// One pass, from one '<' to the next: most code holds few.
bool holds_any(std::span<const unsigned char> in, std::size_t from, std::size_t to,
               std::initializer_list<std::string_view> lits) {
  const std::span<const unsigned char> range = in.first(to);
  for (std::size_t k = find_byte(range, from, '<'); k < to; k = find_byte(range, k + 1, '<'))
    for (const std::string_view lit : lits)
      if (match_nocase(range, k, lit)) return true;
  return false;
}

// The value of attribute `name` (lower case) of the start tag [s, gt), without its quotes; the
// first one wins, as in the browser. `found` is false when the tag has none.
std::span<const unsigned char> attribute_of(std::span<const unsigned char> in, std::size_t s,
                                            std::size_t gt, std::string_view name, bool& found) {
  found = false;
  std::size_t j = s + 1;
  while (j < gt && !kNameStop[in[j]]) ++j;  // the tag name
  while (j < gt) {
    while (j < gt && (kHtmlSpace[in[j]] || in[j] == '/')) ++j;
    const std::size_t from = j;
    if (j < gt) ++j;  // a leading '=' belongs to the name
    while (j < gt && !kAttributeStop[in[j]]) ++j;
    const std::size_t to = j;
    while (j < gt && kHtmlSpace[in[j]]) ++j;
    std::span<const unsigned char> value;
    if (j < gt && in[j] == '=') {
      ++j;
      while (j < gt && kHtmlSpace[in[j]]) ++j;
      if (j < gt && (in[j] == '"' || in[j] == '\'')) {
        const unsigned char q = in[j];
        std::size_t close = j + 1;
        while (close < gt && in[close] != q) ++close;
        value = in.subspan(j + 1, close - j - 1);
        j = close + 1;
      } else {
        const std::size_t v = j;
        while (j < gt && !kValueStop[in[j]]) ++j;
        value = in.subspan(v, j - v);
      }
    }
    if (to - from == name.size() && match_nocase(in, from, name)) {
      found = true;
      return value;
    }
  }
  return {};
}

// ASCII white space at both ends dropped, then compared with `lit` (lower case) in any case.
bool type_is(std::span<const unsigned char> value, std::string_view lit) {
  std::size_t a = 0;
  std::size_t b = value.size();
  while (a < b && kHtmlSpace[value[a]]) ++a;
  while (b > a && kHtmlSpace[value[b - 1]]) --b;
  return b - a == lit.size() && match_nocase(value.subspan(a, b - a), 0, lit);
}

}  // namespace

Code code_of(std::span<const unsigned char> in, std::size_t s, std::size_t gt,
             std::span<const unsigned char> name) {
  bool has_type = false;
  const std::span<const unsigned char> type = attribute_of(in, s, gt, "type", has_type);
  if (name.size() == 5 && match_nocase(name, 0, "style"))
    return !has_type || type_is(type, "") || type_is(type, "text/css") ? Code::Css : Code::None;
  if (name.size() != 6 || !match_nocase(name, 0, "script")) return Code::None;
  bool other = false;
  attribute_of(in, s, gt, "src", other);
  if (other) return Code::None;
  attribute_of(in, s, gt, "language", other);
  if (other) return Code::None;
  if (!has_type || type_is(type, "")) return Code::Script;
  if (type_is(type, "module")) return Code::Module;
  constexpr std::string_view kJavaScript[] = {
      "text/javascript",        "application/javascript",   "text/ecmascript",
      "application/ecmascript", "application/x-javascript", "application/x-ecmascript",
      "text/x-javascript",      "text/x-ecmascript",        "text/jscript",
      "text/livescript",        "text/javascript1.0",       "text/javascript1.1",
      "text/javascript1.2",     "text/javascript1.3",       "text/javascript1.4",
      "text/javascript1.5"};
  for (const std::string_view t : kJavaScript)
    if (type_is(type, t)) return Code::Script;
  return Code::None;
}

void inline_code(std::span<const unsigned char> in, std::size_t from, std::size_t to, Code code,
                 State& st) {
  const std::span<const unsigned char> content = in.subspan(from, to - from);
  unsigned char* const dst = st.out.base + st.out.n;
  // Plain values rather than an optional: GCC's -O3 flow analysis misreads the optional here.
  bool minified = false;
  std::size_t n = 0;
  const bool php = st.php_blocks && holds_any(in, from, to, {"<?"});
  if (code == Code::Css && !php && !holds_any(in, from, to, {"<!--"})) {
    if (const std::optional<std::size_t> got = minify_css(content, CssInput::Sheet, dst)) {
      n = *got;
      minified = !holds_any(std::span<const unsigned char>(dst, n), 0, n, {"</style"});
    }
  } else if ((code == Code::Script || code == Code::Module) && !php &&
             !holds_any(in, from, to, {"<!--", "<script"})) {
    const JsInput kind = code == Code::Module ? JsInput::Module : JsInput::Script;
    if (const std::optional<std::size_t> got = minify_js(content, kind, dst)) {
      n = *got;
      const std::span<const unsigned char> made(dst, n);
      minified = !holds_any(made, 0, n, {"</script", "<!--"});
    }
  }
  if (minified) {
    st.out.n += n;
  } else {
    copy_piece(st.out, in, from, to);
  }
}

std::size_t inline_style(std::span<const unsigned char> value, bool php_blocks,
                         unsigned char* dst) {
  const bool plain = find_byte(value, 0, '&') == value.size() &&
                     !(php_blocks && holds_any(value, 0, value.size(), {"<?"}));
  const std::optional<std::size_t> n =
      plain ? minify_css(value, CssInput::Declarations, dst) : std::nullopt;
  if (n) return *n;
  if (!value.empty()) std::memcpy(dst, value.data(), value.size());
  return value.size();
}

}  // namespace markup::safe
