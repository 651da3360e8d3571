// Comments under the safe profile: which go, and which stay because they act or would join text.
#pragma once

#include <cstddef>
#include <span>

#include "optimize/markup_safe_state.h"

namespace markup::safe {

// A comment goes, unless it is conditional, unfinished, or would join two pieces of text into
// one (the text nodes would change).
std::size_t drop_comment(std::span<const unsigned char> in, std::size_t s, std::size_t end,
                         State& st);

// The comment at `s` ("<!--"): dropped or copied; returns its end.
std::size_t comment(std::span<const unsigned char> in, std::size_t s, State& st);

}  // namespace markup::safe
