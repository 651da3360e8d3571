#include "optimize/jpeg.h"

#include <cassert>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

namespace {

// Marker codes, as read from the byte that follows the 0xFF prefix.
enum Marker : unsigned char {
  TEM = 0x01,
  RST0 = 0xD0,
  RST7 = 0xD7,
  SOI = 0xD8,
  EOI = 0xD9,
  SOS = 0xDA,
  APP0 = 0xE0,   // APP0..APP15, JPG0..JPG13 and COM (everything from here up): dropped
  APP14 = 0xEE,  // kept when it is the colour-transform segment, see is_kept
  COM = 0xFE,
  FILL = 0xFF,
};

bool is_standalone(unsigned char code) {
  return (code >= RST0 && code <= EOI) || code == TEM;  // RST0..RST7, SOI, EOI, TEM
}

// Without its "Adobe" APP14 segment a decoder guesses the colour transform, and RGB and YCCK
// images come out in the wrong colours; every other APPn, JPGn and COM segment is metadata only.
bool is_kept(unsigned char code, std::span<const unsigned char> payload) {
  if (code < APP0) return true;
  constexpr std::string_view adobe = "Adobe";
  return code == APP14 && payload.size() >= adobe.size() &&
         std::memcmp(payload.data(), adobe.data(), adobe.size()) == 0;
}

struct Walk {
  bool completed = false;   // the first SOS was reached and the rest of the input fits
  std::size_t read = 0;     // on completion: where the rest (everything after FF DA) begins
  std::size_t written = 0;  // on completion: where the rest goes
  bool overtakes = false;   // some write would land on input still to be read (dry run only)
};

// One walk over the marker headers up to the first SOS. `limit` is the input length, which
// bounds every write (`in` may be a saved head that ends at the SOS). Without kWrite nothing is
// written: the dry run finds out whether the walk completes and whether writing into the input's
// own storage would overwrite bytes it has yet to read. With kWrite the kept bytes go to `out`,
// which may alias `in` when the dry run saw no overtaking; the rest after FF DA is the caller's.
template <bool kWrite>
Walk walk(std::span<const unsigned char> in, std::size_t limit, unsigned char* out) {
  Walk s;
  std::size_t r = 0;
  std::size_t w = 0;
  const auto room = [&] { return limit - w; };
  const auto put = [&](unsigned char b) {
    if constexpr (kWrite) {
      out[w] = b;
    } else {
      s.overtakes = s.overtakes || w >= r;
    }
    ++w;
  };
  const auto stopped = [&] { return Walk{false, r, w, s.overtakes}; };

  for (;;) {
    if (r == in.size()) return stopped();
    const unsigned char code = in[r++];
    if (code == FILL) continue;  // fill bytes collapse into the one 0xFF written with the code

    if (is_standalone(code) || code == SOS) {
      if (room() == 0) return stopped();
      put(FILL);
      if (room() == 0) return stopped();
      put(code);
      if (code == EOI) return stopped();  // no scan before the end of the image
      if (code != SOS) continue;
      if (in.size() - r > room()) return stopped();
      return Walk{true, r, w, s.overtakes};
    }

    // A length-bearing segment: everything is checked before any byte of it is written.
    if (in.size() - r < 2) return stopped();
    const std::size_t length = std::size_t{in[r]} << 8 | in[r + 1];
    r += 2;
    if (length < 2 || length - 2 > in.size() - r) return stopped();
    const std::size_t payload = length - 2;
    if (!is_kept(code, in.subspan(r, payload))) {
      r += payload;
      continue;
    }
    if (length + 2 > room()) return stopped();
    put(FILL);
    put(code);
    put(in[r - 2]);
    put(in[r - 1]);
    if constexpr (kWrite) {
      if (out + w != in.data() + r) std::memmove(out + w, in.data() + r, payload);
    }
    w += payload;
    r += payload;
  }
}

}  // namespace

std::optional<std::size_t> optimize_jpeg(std::span<unsigned char> buf) {
  const std::span<const unsigned char> in = buf;
  // The dry run only hops from header to header, so a stopped walk leaves `buf` untouched.
  const Walk plan = walk<false>(in, in.size(), nullptr);
  if (!plan.completed) return std::nullopt;

  unsigned char* const base = buf.data();
  const std::size_t rest = buf.size() - plan.read;
  if (!plan.overtakes) {
    [[maybe_unused]] const Walk done = walk<true>(in, in.size(), base);
    assert(done.completed && done.read == plan.read && done.written == plan.written);
    if (plan.written != plan.read) std::memmove(base + plan.written, base + plan.read, rest);
  } else {
    // A marker code without its 0xFF gains one, so the output runs ahead of the input and would
    // overwrite it. Keep the head aside, move the rest while it is still intact, then replay the
    // walk from the saved head; its writes all end before the rest's new place.
    std::vector<unsigned char> head;
    try {
      head.assign(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(plan.read));
    } catch (const std::bad_alloc&) {
      return std::nullopt;  // nothing written yet: the file goes out as it came in
    }
    std::memmove(base + plan.written, base + plan.read, rest);
    [[maybe_unused]] const Walk done = walk<true>(head, in.size(), base);
    assert(done.completed && done.read == plan.read && done.written == plan.written);
  }
  return plan.written + rest;
}
