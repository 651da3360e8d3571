#pragma once

#include <cstddef>
#include <optional>
#include <span>

// Drops APPn, COM and JPGn segments and fill bytes in front of the first scan, compacting `buf`
// in place. Returns the new length when the walk reaches the first scan; std::nullopt when it
// stops early, in which case `buf` holds exactly the bytes it held on entry.
std::optional<std::size_t> optimize_jpeg(std::span<unsigned char> buf);
