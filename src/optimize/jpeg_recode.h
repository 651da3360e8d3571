// Lossless re-encoding of a JPEG's entropy-coded data: the same DCT coefficients, fewer bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "optimize/bytes.h"

// What one image may cost. The coefficients of the whole image are held at once (2 bytes per
// sample), so the cap on samples bounds the memory a worker spends on one image; libjpeg is
// held to `memory_bytes` on top of that, so a header that lies about the size cannot make it
// take more.
struct RecodeLimits {
  std::int64_t samples = std::int64_t{96} << 20;        // ~ a 64-megapixel photo at 4:2:0
  std::int64_t memory_bytes = std::int64_t{256} << 20;  // libjpeg's own allocations per image
};

enum class Recode : unsigned char {
  kSmaller,      // `out` holds the re-encoding, shorter than the input
  kNotSmaller,   // no candidate was shorter than the input: keep the input
  kUnsupported,  // a stream the re-encoder does not carry: 12-bit, lossless, arithmetic-coded,
                 // over the limits, with metadata between its scans, or progressive with
                 // coefficients its scans never complete
  kFailed,       // libjpeg reported an error or a warning (corrupt data)
};

// Decodes the coefficients of the JPEG in `in` and writes them again twice, once sequential with
// Huffman tables made for this image and once progressive; keeps the shorter when it is shorter
// than `in`. The APPn and COM segments in front of the first scan go into the output in their
// order, and any bytes after the end-of-image marker follow it, so the output displays exactly as
// `in` does. No libjpeg error or warning ends the process: they come back as kFailed. `out` is
// reused for its memory; it holds the result only with kSmaller.
Recode recode_jpeg(std::span<const unsigned char> in, Bytes& out, const RecodeLimits& limits = {});
