// The JPEG segment filter: what goes before the first scan, kept or dropped segment by segment.
#include "optimize/jpeg.h"

#include <array>
#include <cassert>
#include <cstdint>
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
  APP0 = 0xE0,   // APP0..APP15, JPG0..JPG13 and COM (everything from here up): dropped, but
  APP1 = 0xE1,   // an EXIF orientation, rewritten, see fate_of
  APP2 = 0xE2,   // a wide-gamut colour profile
  APP14 = 0xEE,  // the colour-transform segment
  COM = 0xFE,
  FILL = 0xFF,
};

bool is_standalone(unsigned char code) {
  return (code >= RST0 && code <= EOI) || code == TEM;  // RST0..RST7, SOI, EOI, TEM
}

// Without its "Adobe" APP14 segment a decoder guesses the colour transform, and RGB and YCCK
// images come out in the wrong colours.
bool is_colour_transform(unsigned char code, std::span<const unsigned char> payload) {
  constexpr std::string_view adobe = "Adobe";
  return code == APP14 && payload.size() >= adobe.size() &&
         std::memcmp(payload.data(), adobe.data(), adobe.size()) == 0;
}

bool starts_with(std::span<const unsigned char> b, std::string_view lit) {
  return b.size() >= lit.size() && std::memcmp(b.data(), lit.data(), lit.size()) == 0;
}

// Unsigned integers at `at` inside `b`; every caller has checked that they lie inside.
std::uint32_t read_uint(std::span<const unsigned char> b, std::size_t at, std::size_t bytes,
                        bool big_endian) {
  std::uint32_t v = 0;
  for (std::size_t k = 0; k < bytes; ++k)
    v |= std::uint32_t{b[at + k]} << (8 * (big_endian ? bytes - 1 - k : k));
  return v;
}
std::uint32_t be32(std::span<const unsigned char> b, std::size_t at) {
  return read_uint(b, at, 4, true);
}

// The orientation of an "Exif" APP1 payload when it turns or mirrors the image (2..8), else 0.
// Browsers turn a photo upright by this one tag, so it is the only EXIF that is worth its bytes.
unsigned exif_orientation(std::span<const unsigned char> payload) {
  if (!starts_with(payload, std::string_view("Exif\0\0", 6))) return 0;
  const std::span<const unsigned char> tiff = payload.subspan(6);
  bool big = false;
  if (starts_with(tiff, std::string_view("MM\0*", 4)))
    big = true;
  else if (!starts_with(tiff, std::string_view("II*\0", 4)))
    return 0;
  if (tiff.size() < 8) return 0;
  const auto u16 = [&](std::size_t at) { return read_uint(tiff, at, 2, big); };
  const auto u32 = [&](std::size_t at) { return read_uint(tiff, at, 4, big); };
  const std::size_t ifd = u32(4);
  if (ifd < 8 || ifd > tiff.size() || tiff.size() - ifd < 2) return 0;
  const std::size_t entries = u16(ifd);
  const std::size_t after_count = tiff.size() - ifd - 2;  // entries, then the next-IFD offset
  if (after_count < 4 || (after_count - 4) / 12 < entries) return 0;
  for (std::size_t e = ifd + 2; e < ifd + 2 + 12 * entries; e += 12) {
    if (u16(e) != 0x0112 || u16(e + 2) != 3 || u32(e + 4) != 1) continue;  // SHORT, one value
    const unsigned v = u16(e + 8);
    if (v >= 2 && v <= 8) return v;
  }
  return 0;
}

// The segment written in place of the EXIF that carries an orientation: an IFD0 holding just
// that tag. The value goes at kOrientationValue.
constexpr std::array<unsigned char, 36> kOrientationSegment = {
    0xFF, 0xE1, 0x00, 0x22, 'E',  'x',  'i',  'f',  0x00, 0x00, 'M',  'M',
    0x00, 0x2A, 0x00, 0x00, 0x00, 0x08, 0x00, 0x01, 0x01, 0x12, 0x00, 0x03,
    0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr std::size_t kOrientationValue = 29;

constexpr std::string_view kIccSignature{"ICC_PROFILE\0", 12};

// Whether the colour profile that starts in this APP2 payload (its first chunk) must stay: an
// sRGB profile says what browsers assume anyway, a wide-gamut one changes every colour. Only
// what lies inside this chunk is read; anything that does not parse counts as sRGB.
bool keeps_profile(std::span<const unsigned char> payload) {
  if (!starts_with(payload, kIccSignature) || payload.size() < kIccSignature.size() + 2)
    return false;
  if (payload[kIccSignature.size()] != 1) return false;  // not the first chunk
  const std::span<const unsigned char> icc = payload.subspan(kIccSignature.size() + 2);
  constexpr std::size_t kTagTable = 132;  // 128-byte header, then the tag count
  if (icc.size() < kTagTable || !starts_with(icc.subspan(36), "acsp")) return false;
  const std::uint32_t tags = be32(icc, 128);
  if ((icc.size() - kTagTable) / 12 < tags) return false;
  std::size_t t = kTagTable;
  const std::size_t end = kTagTable + std::size_t{12} * tags;
  while (t < end && !starts_with(icc.subspan(t), "desc")) t += 12;
  if (t == end) return false;
  const std::size_t offset = be32(icc, t + 4);
  const std::size_t size = be32(icc, t + 8);
  if (offset > icc.size() || icc.size() - offset < size) return false;
  const std::span<const unsigned char> desc = icc.subspan(offset, size);
  if (starts_with(desc, "desc")) {  // ICC v2: reserved, ASCII count, ASCII text
    if (desc.size() < 12 || desc.size() - 12 < be32(desc, 8)) return false;
    return !starts_with(desc.subspan(12, be32(desc, 8)), "sRGB");
  }
  if (starts_with(desc, "mluc")) {  // ICC v4: the first record's UTF-16BE text
    if (desc.size() < 28 || be32(desc, 8) == 0) return false;
    const std::size_t length = be32(desc, 20);
    const std::size_t at = be32(desc, 24);
    if (at > desc.size() || desc.size() - at < length) return false;
    return !starts_with(desc.subspan(at, length), std::string_view("\0s\0R\0G\0B", 8));
  }
  return false;
}

// What becomes of one APPn, JPGn or COM segment in front of the first scan.
enum class Fate : unsigned char { kDrop, kKeep, kOrientation };

// Decisions that later segments of the same file depend on.
struct Metadata {
  bool oriented = false;  // the orientation segment has been written
  enum class Profile : unsigned char { kUnseen, kKept, kDropped } profile = Profile::kUnseen;
};

Fate fate_of(unsigned char code, std::span<const unsigned char> payload, Metadata& m,
             unsigned& orientation) {
  if (is_colour_transform(code, payload)) return Fate::kKeep;
  if (code == APP1 && !m.oriented) {
    orientation = exif_orientation(payload);
    if (orientation != 0) {
      m.oriented = true;
      return Fate::kOrientation;
    }
  }
  if (code == APP2 && starts_with(payload, kIccSignature)) {
    // The first chunk decides for the whole profile, so its chunks stay or go together.
    if (m.profile == Metadata::Profile::kUnseen)
      m.profile = keeps_profile(payload) ? Metadata::Profile::kKept : Metadata::Profile::kDropped;
    if (m.profile == Metadata::Profile::kKept) return Fate::kKeep;
  }
  return Fate::kDrop;
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
  Metadata metadata;

  for (bool first = true;; first = false) {
    if (r == in.size()) return stopped();
    unsigned char code = in[r++];
    while (code == FILL) {  // fill bytes collapse into the one 0xFF written with the code
      if (r == in.size()) return stopped();
      code = in[r++];
    }
    // Any byte where a marker belongs is taken as one, so only a stream that opens as a JPEG
    // does is walked: a PNG or GIF under a .jpg name must come out as it went in.
    if (first && code != SOI) return stopped();

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
    if (code >= APP0) {
      unsigned orientation = 0;
      const Fate fate = fate_of(code, in.subspan(r, payload), metadata, orientation);
      if (fate == Fate::kDrop) {
        r += payload;
        continue;
      }
      if (fate == Fate::kOrientation) {
        // The whole source segment is read before any byte goes over it; in well-formed input
        // it is at least as long as its replacement, so the replacement fits in its place.
        r += payload;
        if (kOrientationSegment.size() > room()) return stopped();
        for (std::size_t k = 0; k < kOrientationSegment.size(); ++k)
          put(k == kOrientationValue ? static_cast<unsigned char>(orientation)
                                     : kOrientationSegment[k]);
        continue;
      }
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
