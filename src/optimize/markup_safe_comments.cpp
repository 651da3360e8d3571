// Comments and bogus comments of a page under the safe profile.
#include "optimize/markup_safe_comments.h"

#include "optimize/markup_constructs.h"
#include "optimize/markup_safe_scan.h"

namespace markup::safe {

std::size_t drop_comment(std::span<const unsigned char> in, std::size_t s, std::size_t end,
                         State& st) {
  // In a table the text on both sides would be read as one run, which may move out of the table.
  if (!st.tree.comment_may_go()) return copy_kept(in, s, end, st);
  if (st.left == Left::Text) {
    std::size_t k = end;
    while (k < in.size() && kTextSpace[in[k]]) ++k;
    const bool text_after = k < in.size() && in[k] != '<';
    const bool space_after = k > end;
    if (text_after || (st.text_has_content && space_after)) return copy_kept(in, s, end, st);
  }
  return end;
}

std::size_t comment(std::span<const unsigned char> in, std::size_t s, State& st) {
  if (st.php_blocks) {
    if (const std::size_t end = php_holder_end(in, s, "-->"); end != 0) {
      st.left = Left::OtherTag;
      st.text_has_content = false;
      return copy_kept(in, s, end, st);
    }
  }
  const std::size_t end = comment_close(in, s);
  if (end == in.size() || conditional_comment(in, s)) {
    st.left = Left::OtherTag;
    st.text_has_content = false;
    return copy_kept(in, s, end, st);
  }
  return drop_comment(in, s, end, st);
}

}  // namespace markup::safe
