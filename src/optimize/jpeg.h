// The JPEG segment filter: a pure function over bytes.
#pragma once

#include <cstddef>
#include <optional>
#include <span>

// Drops APPn, COM and JPGn segments and fill bytes in front of the first scan, compacting `buf`
// in place. What changes how the image looks stays: the colour-transform APP14, a wide-gamut
// colour profile, and an EXIF orientation (rewritten as a minimal EXIF segment). Returns the new
// length when the walk reaches the first scan; std::nullopt when it stops early (also for any
// stream that does not open with SOI), in which case `buf` holds exactly the bytes it held on
// entry.
std::optional<std::size_t> optimize_jpeg(std::span<unsigned char> buf);
