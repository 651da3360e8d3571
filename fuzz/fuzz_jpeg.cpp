// Runs the in-place JPEG filter on arbitrary bytes and compares it with a plain out-of-place walk
// written here: every stop must leave the buffer as it was, and every completed walk must give
// exactly the bytes the plain walk gives.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "invariant.h"
#include "optimize/jpeg.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Expected {
  Bytes out;
  std::size_t scan = 0;  // where the bytes after the first FF DA begin in the input
};

bool is_standalone(unsigned char code) { return code == 0x01 || (code >= 0xD0 && code <= 0xD9); }

// The segments that go: APPn, JPGn and COM, except an APP14 whose payload opens with "Adobe".
bool is_dropped(unsigned char code, std::span<const unsigned char> payload) {
  if (code < 0xE0) return false;
  static constexpr unsigned char adobe[] = {'A', 'd', 'o', 'b', 'e'};
  const bool colour_transform = code == 0xEE && payload.size() >= sizeof adobe &&
                                std::memcmp(payload.data(), adobe, sizeof adobe) == 0;
  return !colour_transform;
}

// Reads only `in` and appends to a fresh buffer, so it cannot be fooled by the in-place overlap.
// The room tests use the input length: the filter never grows its buffer.
std::optional<Expected> plain_walk(std::span<const unsigned char> in) {
  Expected e;
  Bytes& out = e.out;
  const std::size_t size = in.size();
  const auto fits = [&](std::size_t n) { return n <= size - out.size(); };
  std::size_t r = 0;
  while (r < size) {
    const unsigned char code = in[r++];
    if (code == 0xFF) continue;
    if (is_standalone(code) || code == 0xDA) {
      if (!fits(2)) return std::nullopt;
      out.push_back(0xFF);
      out.push_back(code);
      if (code == 0xD9) return std::nullopt;  // the image ended before any scan
      if (code != 0xDA) continue;
      if (!fits(size - r)) return std::nullopt;
      out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(r), in.end());
      e.scan = r;
      return e;
    }
    if (size - r < 2) return std::nullopt;
    const std::size_t length = std::size_t{in[r]} << 8 | in[r + 1];
    if (length < 2 || length > size - r) return std::nullopt;
    const auto segment = in.subspan(r - 1, length + 1);  // code, length bytes, payload
    r += length;
    if (is_dropped(code, segment.subspan(3))) continue;
    if (!fits(length + 2)) return std::nullopt;
    out.push_back(0xFF);
    out.insert(out.end(), segment.begin(), segment.end());
  }
  return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Bytes input(data, data + size);
  // An exact-size heap copy, so the address sanitizer sees any access past its end.
  Bytes buf = input;
  const std::optional<std::size_t> got = optimize_jpeg(buf);
  const std::optional<Expected> want = plain_walk(input);

  check(got.has_value() == want.has_value(), "completes exactly when the plain walk does");
  if (!got) {
    check(buf == input, "a stopped walk leaves the buffer unchanged");
    return 0;
  }
  const std::size_t n = *got;
  check(n <= size, "never longer than the input");
  check(n == want->out.size(), "same length as the plain walk");
  check(std::memcmp(buf.data(), want->out.data(), n) == 0, "same bytes as the plain walk");
  const std::size_t rest = size - want->scan;
  check(rest <= n && std::memcmp(buf.data() + n - rest, input.data() + want->scan, rest) == 0,
        "everything after the first scan marker is copied as it was");

  // The output holds nothing more to drop and every marker has its 0xFF, so a second pass keeps it.
  Bytes again(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n));
  const Bytes first = again;
  check(optimize_jpeg(again) == n && again == first, "a filtered stream passes unchanged");
  return 0;
}
