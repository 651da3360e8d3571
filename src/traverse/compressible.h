#pragma once
// Which outputs get compressed siblings: the kinds of file that compress, by name.

#include <string_view>

// True when the file named `path` is of a kind that compresses and that servers send compressed:
// markup, style sheets, scripts, data and text, icons, fonts without their own compression,
// WebAssembly. Never PHP pages (the server runs them, it does not send them), never formats
// that are compressed already (images, WOFF2, archives, video) nor a compressed copy itself.
bool compressible_name(std::string_view path);
