// The script minifier: comments and white space out, a line break kept wherever one was removed.
#pragma once

#include <cstddef>
#include <optional>
#include <span>

#include "optimize/bytes.h"

// A classic script or a module (a .mjs file, <script type=module>): only classic scripts read
// "<!--" and a line-starting "-->" as comments. A .js file may be loaded as either: it is
// minified when it holds neither.
enum class JsInput { Script, Module, Either };

// Writes the minified `in` to `out`, which has room for in.size() bytes, and returns its length
// (never more than in.size()). A run of white space and comments becomes one line break when it
// held a line terminator, so automatic semicolon insertion sees the same lines; otherwise one
// space where the tokens on its sides would run together, else nothing. Comments starting "/*!",
// holding @license or @preserve, and source-map lines stay. std::nullopt for input the
// tokenizer cannot follow (an unterminated literal or comment, unbalanced brackets, a byte no
// token starts with): such a script stays as it is, and `out` holds bytes of no meaning.
std::optional<std::size_t> minify_js(std::span<const unsigned char> in, JsInput kind,
                                     unsigned char* out);

// A whole script file: its minified bytes, or the input's own when minify_js declines.
// std::nullopt only when the output buffer cannot be allocated. Takes over `reuse`'s memory.
std::optional<Bytes> optimize_js(std::span<const unsigned char> in, JsInput kind, Bytes reuse = {});
