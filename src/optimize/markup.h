// The markup optimizers (default and safe profiles): pure functions over bytes.
#pragma once

#include <optional>
#include <span>

#include "optimize/byte_scan.h"
#include "optimize/progress_sink.h"

// Minifies one HTML or PHP page in a single forward pass. `php_blocks` passes "<?" ... "?>"
// blocks through unchanged. `progress` is null when no bar is drawn; otherwise it is ticked at
// most about a hundred times, then once more at the end, and finished.
// The result is never longer than `in`. std::nullopt only when the output buffer cannot be
// allocated; the caller reports it. The result takes over `reuse`'s memory where it can (its bytes
// do not matter).
std::optional<Bytes> optimize_markup(std::span<const unsigned char> in, bool php_blocks,
                                     ProgressSink* progress, Bytes reuse = {});

// Which inline code the safe profile minifies: <style> elements and style="" values (css), and
// <script> elements holding JavaScript (js). Off, they are copied byte for byte.
struct InlineCode {
  bool css = false;
  bool js = false;
};

// The safe profile of the same optimizer: the page keeps its document, text and rendering in a
// current browser. Same contract as optimize_markup.
std::optional<Bytes> optimize_markup_safe(std::span<const unsigned char> in, bool php_blocks,
                                          ProgressSink* progress, Bytes reuse = {},
                                          InlineCode code = {});
