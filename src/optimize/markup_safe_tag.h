// One start or end tag under the safe profile, its attributes written with no byte that changes
// how the browser reads them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "optimize/markup_safe_state.h"

namespace markup::safe {

// A start or end tag from its '<' at `s`, with its name at [name_from, name_end) of `kind`.
// Returns the end; on a tag cut off by the end of input, the rest is copied.
std::size_t tag(std::span<const unsigned char> in, std::size_t s, std::size_t name_from,
                std::size_t name_end, std::uint16_t kind, State& st, bool* self_closing);

}  // namespace markup::safe
