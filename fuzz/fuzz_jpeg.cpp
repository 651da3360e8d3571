// Runs the in-place JPEG filter on arbitrary bytes and compares it with a plain out-of-place walk
// written here: every stop must leave the buffer as it was, and every completed walk must give
// exactly the bytes the plain walk gives, the kept orientation and colour profile included.
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

// Big- or little-endian integer of `n` bytes at `at`; false when any of them lies outside `b`.
bool read(std::span<const unsigned char> b, std::uint64_t at, int n, bool big, std::uint64_t& v) {
  if (at > b.size() || b.size() - at < static_cast<std::uint64_t>(n)) return false;
  v = 0;
  for (int k = 0; k < n; ++k) v = v << 8 | b[at + static_cast<std::uint64_t>(big ? k : n - 1 - k)];
  return true;
}
bool has(std::span<const unsigned char> b, std::uint64_t at, const char* lit, std::size_t n) {
  return at <= b.size() && b.size() - at >= n && std::memcmp(b.data() + at, lit, n) == 0;
}

// The orientation 2..8 an "Exif" APP1 payload carries in IFD0, or 0.
unsigned orientation_of(std::span<const unsigned char> p) {
  if (!has(p, 0, "Exif\0\0", 6)) return 0;
  const auto tiff = p.subspan(6);
  const bool big = has(tiff, 0, "MM\0*", 4);
  if (!big && !has(tiff, 0, "II*\0", 4)) return 0;
  std::uint64_t ifd = 0, n = 0;
  if (!read(tiff, 4, 4, big, ifd) || ifd < 8 || !read(tiff, ifd, 2, big, n)) return 0;
  if (ifd + 2 + 12 * n + 4 > tiff.size()) return 0;  // the entries and the next-IFD offset
  for (std::uint64_t i = 0; i < n; ++i) {
    const std::uint64_t e = ifd + 2 + 12 * i;
    std::uint64_t tag = 0, type = 0, count = 0, value = 0;
    read(tiff, e, 2, big, tag);
    read(tiff, e + 2, 2, big, type);
    read(tiff, e + 4, 4, big, count);
    read(tiff, e + 8, 2, big, value);
    if (tag == 0x0112 && type == 3 && count == 1 && value >= 2 && value <= 8)
      return static_cast<unsigned>(value);
  }
  return 0;
}

// Whether the first chunk of a colour profile describes anything but sRGB, reading this chunk only.
bool wide_gamut(std::span<const unsigned char> p) {
  if (p.size() < 14 || p[12] != 1) return false;
  const auto icc = p.subspan(14);
  std::uint64_t tags = 0;
  if (icc.size() < 128 || !has(icc, 36, "acsp", 4) || !read(icc, 128, 4, true, tags)) return false;
  if (132 + 12 * tags > icc.size()) return false;
  for (std::uint64_t e = 132; e < 132 + 12 * tags; e += 12) {
    if (!has(icc, e, "desc", 4)) continue;
    std::uint64_t at = 0, size = 0, count = 0, length = 0, text = 0;
    read(icc, e + 4, 4, true, at);
    read(icc, e + 8, 4, true, size);
    if (at + size > icc.size()) return false;
    const auto tag = icc.subspan(at, size);
    if (has(tag, 0, "desc", 4) && read(tag, 8, 4, true, count) && 12 + count <= size)
      return !(count >= 4 && has(tag, 12, "sRGB", 4));
    if (has(tag, 0, "mluc", 4) && read(tag, 8, 4, true, count) && count > 0 &&
        read(tag, 20, 4, true, length) && read(tag, 24, 4, true, text) && text + length <= size)
      return !(length >= 8 && has(tag, text, "\0s\0R\0G\0B", 8));
    return false;
  }
  return false;
}

constexpr unsigned char kOrientation[36] = {0xFF, 0xE1, 0x00, 0x22, 'E',  'x',  'i',  'f',  0x00,
                                            0x00, 'M',  'M',  0x00, 0x2A, 0x00, 0x00, 0x00, 0x08,
                                            0x00, 0x01, 0x01, 0x12, 0x00, 0x03, 0x00, 0x00, 0x00,
                                            0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr std::size_t kOrientationValue = 29;

// Reads only `in` and appends to a fresh buffer, so it cannot be fooled by the in-place overlap.
// The room tests use the input length: the filter never grows its buffer.
std::optional<Expected> plain_walk(std::span<const unsigned char> in) {
  Expected e;
  Bytes& out = e.out;
  const std::size_t size = in.size();
  const auto fits = [&](std::size_t n) { return n <= size - out.size(); };
  std::size_t r = 0;
  while (r < size && in[r] == 0xFF) ++r;
  if (r == size || in[r] != 0xD8) return std::nullopt;  // only a JPEG is filtered
  bool oriented = false;
  int profile = -1;  // decided by the first ICC chunk: 0 drop them all, 1 keep them all
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
    const auto payload = segment.subspan(3);
    r += length;
    bool keep = code < 0xE0 || (code == 0xEE && has(payload, 0, "Adobe", 5));
    if (code == 0xE1 && !oriented) {
      if (const unsigned v = orientation_of(payload); v != 0) {
        oriented = true;
        if (!fits(sizeof kOrientation)) return std::nullopt;
        out.insert(out.end(), kOrientation, kOrientation + sizeof kOrientation);
        out[out.size() - sizeof kOrientation + kOrientationValue] = static_cast<unsigned char>(v);
        continue;
      }
    }
    if (code == 0xE2 && has(payload, 0, "ICC_PROFILE\0", 12)) {
      if (profile < 0) profile = wide_gamut(payload) ? 1 : 0;
      keep = profile == 1;
    }
    if (!keep) continue;
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
  std::size_t lead = 0;
  while (lead < size && data[lead] == 0xFF) ++lead;
  check((lead < size && data[lead] == 0xD8) || (!got && buf == input),
        "a stream that does not open with SOI is never changed");
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
