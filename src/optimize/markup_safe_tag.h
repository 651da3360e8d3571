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

}  // namespace markup::safe
