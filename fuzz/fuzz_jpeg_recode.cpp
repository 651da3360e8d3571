// Runs the segment filter and then the lossless re-encoder on arbitrary bytes, with libjpeg in the
// loop: nothing may crash, leak or read outside the input, and a re-encoding must be shorter than
// what it re-encodes and decode to exactly the same pixels.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "invariant.h"
#include "optimize/jpeg.h"
#include "optimize/jpeg_recode.h"
#include "support/libjpeg_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes buf(data, data + size);
  const std::optional<std::size_t> n = optimize_jpeg(buf);
  // An exact-size heap copy of what the re-encoder gets, so the address sanitizer sees any read
  // past its end. Input the filter does not walk goes in as it is: the re-encoder takes any bytes.
  const Bytes in = n ? Bytes(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(*n))
                     : Bytes(data, data + size);
  // Small limits keep each run quick whatever size a header claims.
  const RecodeLimits limits{std::int64_t{1} << 20, std::int64_t{32} << 20};
  Bytes out;
  if (recode_jpeg(in, out, limits) != Recode::kSmaller) return 0;
  check(out.size() < in.size(), "a re-encoding is shorter than its input");
  const auto before = libjpeg_codec::decode_pixels(in);
  const auto after = libjpeg_codec::decode_pixels(out);
  check(before.has_value(), "only an input that decodes cleanly is re-encoded");
  check(after.has_value(), "a re-encoding decodes cleanly");
  check(*before == *after, "a re-encoding decodes to the same pixels");
  return 0;
}
