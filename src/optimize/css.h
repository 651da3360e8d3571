// The style-sheet minifier: comments and white space out, every token and value byte for byte.
#pragma once

#include <cstddef>
#include <optional>
#include <span>

#include "optimize/bytes.h"

// What the bytes are: a whole style sheet (a file, a <style> element) or the declarations of a
// style="" attribute.
enum class CssInput { Sheet, Declarations };

// Writes the minified `in` to `out`, which has room for in.size() bytes, and returns its length
// (never more than in.size()). std::nullopt comes back for input the
// tokenizer only follows by its error recovery (a string or comment cut off, a bad url, blocks
// left open): such a sheet stays as it is, and `out` holds bytes of no meaning.
std::optional<std::size_t> minify_css(std::span<const unsigned char> in, CssInput kind,
                                      unsigned char* out);

// A whole style sheet file: its minified bytes, or the input's own when minify_css declines.
// std::nullopt only when the output buffer cannot be allocated. Takes over `reuse`'s memory.
std::optional<Bytes> optimize_css(std::span<const unsigned char> in, Bytes reuse = {});
