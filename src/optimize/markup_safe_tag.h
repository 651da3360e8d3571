// One start or end tag under the safe profile, its attributes written with no byte that changes
// how the browser reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "optimize/markup_safe_state.h"

namespace markup::safe {

// A start or end tag from its '<' at `s`, with its name, looked up last (st.named), ending at
// `name_end`. Returns the end, and tells in st.self_closing whether it ended in "/>"; on a tag cut
// off by the end of input, the rest is copied.
std::size_t tag(std::span<const unsigned char> in, std::size_t s, std::size_t name_end, State& st);

#ifdef SVELTERY_SSE2
// remembered_tag() for a tag longer than TagMemo::kLongest bytes: its first attributes as they
// were written before, where they were, and kept for the next time where they were written from
// the bytes alone.
std::size_t remembered_long_tag(std::span<const unsigned char> in, std::size_t s,
                                std::size_t name_end, State& st);
#endif

// tag(), written as it was before where the same bytes were, and kept for the next time where
// they were written from the bytes alone.
inline std::size_t remembered_tag(std::span<const unsigned char> in, std::size_t s,
                                  std::size_t name_end, State& st) {
#ifdef SVELTERY_SSE2
  // The output lies no further on than the input, so it has room for what the memo writes too.
  if (in.size() - s >= TagMemo::kLongest && st.memo.worth_a_look()) {
    const unsigned char* const p = in.data() + s;
    const TagMemo::Key key = TagMemo::key_at(p);
    if (key.length != 0) {
      const std::size_t written = st.memo.write(key, p, st.out.base + st.out.n);
      if (written != SIZE_MAX) {
        st.out.n += written;
        st.self_closing = false;
        return s + key.length;
      }
      const std::size_t at = st.out.n;
      const std::size_t j = tag(in, s, name_end, st);
      if (st.by_bytes && j == s + key.length) st.memo.keep(key, p, st.out.base + at, st.out.n - at);
      return j;
    }
    if (!key.longer) {
      st.memo.missed();
      return tag(in, s, name_end, st);
    }
    return remembered_long_tag(in, s, name_end, st);
  }
#endif
  return tag(in, s, name_end, st);
}

}  // namespace markup::safe
