// Inline style sheets, scripts and style="" values under the safe profile: which are minified,
// and the guard that keeps the result from ending its element early.
#pragma once

#include <cstddef>
#include <span>

#include "optimize/markup_safe_state.h"

namespace markup::safe {

enum class Code { None, Css, Script, Module };

// What the content of the element whose start tag is [s, gt) holds, by its type: only what a
// browser runs as CSS or JavaScript is minified; JSON, import maps, templates and unknown types
// stay byte for byte, and so do scripts with a src (their content is data) or a language.
Code code_of(std::span<const unsigned char> in, std::size_t s, std::size_t gt,
             std::span<const unsigned char> name);

// The content [from, to) of a style or script element, minified at the write cursor when it
// holds code the minifiers follow and the result opens no end tag or comment in the page.
// "<!--" and "<script" in a script change where the browser ends it: such content is copied, as
// is content holding PHP blocks.
void inline_code(std::span<const unsigned char> in, std::size_t from, std::size_t to, Code code,
                 State& st);

// A style="" value, minified at the write cursor `dst` when it holds no character reference
// (the CSS the browser reads is the decoded value) and no PHP block. Returns the bytes written.
std::size_t inline_style(std::span<const unsigned char> value, bool php_blocks, unsigned char* dst);

}  // namespace markup::safe
