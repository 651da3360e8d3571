#include "optimize/jpeg_recode.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "optimize/jpeg.h"
#include "support/libjpeg_codec.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using Vec = std::vector<unsigned char>;
using libjpeg_codec::decode_pixels;
using libjpeg_codec::encode_image;
using libjpeg_codec::Layout;
using libjpeg_codec::Segment;

// The segment filter's output, as the re-encoder gets it; none when the filter does not walk it.
std::optional<Vec> filtered(std::span<const unsigned char> in) {
  Vec buf(in.begin(), in.end());
  const std::optional<std::size_t> n = optimize_jpeg(buf);
  if (!n) return std::nullopt;
  buf.resize(*n);
  return buf;
}

// The APPn and COM segments in front of the first scan, marker code first, in order.
std::vector<Vec> metadata_segments(std::span<const unsigned char> b) {
  std::vector<Vec> found;
  for (std::size_t i = 2; b.size() - i >= 4 && b[i] == 0xFF && b[i + 1] != 0xDA;) {
    const std::size_t length = std::size_t{b[i + 2]} << 8 | b[i + 3];
    if (b.size() - i - 2 < length) break;
    if (b[i + 1] >= 0xE0) found.emplace_back(b.begin() + i + 1, b.begin() + i + 2 + length);
    i += 2 + length;
  }
  return found;
}

Vec exif_orientation(unsigned v) {
  const unsigned char tiff[] = {
      'E', 'x', 'i', 'f',  0,    0, 'M', 'M', 0, 0x2A, 0, 0, 0,
      8,   0,   1,   0x01, 0x12, 0, 3,   0,   0, 0,    1, 0, static_cast<unsigned char>(v),
      0,   0,   0,   0,    0,    0};
  // A camera's EXIF runs longer than the segment that replaces it. (Filled, then overwritten:
  // growing the vector after copying trips a false array-bounds warning at -O3.)
  Vec p(sizeof tiff + 200, 'x');
  std::copy(std::begin(tiff), std::end(tiff), p.begin());
  return p;
}

// A colour profile of `size` bytes whose description is not sRGB, so the filter keeps it, cut
// into APP2 chunks as files carry it.
std::vector<Segment> wide_profile_chunks(std::size_t size) {
  Vec icc(size, 0);
  const auto be32 = [&](std::size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k)
      icc[at + static_cast<std::size_t>(k)] = static_cast<unsigned char>(v >> (24 - 8 * k));
  };
  be32(0, static_cast<std::uint32_t>(size));
  std::memcpy(&icc[36], "acsp", 4);
  be32(128, 1);  // one tag: desc at 144
  std::memcpy(&icc[132], "desc", 4);
  be32(136, 144);
  be32(140, 40);
  std::memcpy(&icc[144], "desc", 4);
  be32(152, 11);
  std::memcpy(&icc[156], "Display P3", 11);
  for (std::size_t k = 200; k < size; ++k) icc[k] = static_cast<unsigned char>(k * 13);
  constexpr std::size_t kChunk = 65519;
  const std::size_t chunks = (size + kChunk - 1) / kChunk;
  std::vector<Segment> out;
  for (std::size_t c = 0; c < chunks; ++c) {
    Vec p = to_bytes(std::string_view("ICC_PROFILE\0", 12));
    p.push_back(static_cast<unsigned char>(c + 1));
    p.push_back(static_cast<unsigned char>(chunks));
    const std::size_t from = c * kChunk;
    p.insert(p.end(), icc.begin() + static_cast<std::ptrdiff_t>(from),
             icc.begin() + static_cast<std::ptrdiff_t>(std::min(size, from + kChunk)));
    out.push_back({JPEG_APP0 + 2, std::move(p)});
  }
  return out;
}

Layout with(Layout l, std::vector<Segment> extra) {
  l.segments.insert(l.segments.end(), extra.begin(), extra.end());
  return l;
}
Layout sized(unsigned w, unsigned h, Layout l = {}) {
  l.width = w;
  l.height = h;
  return l;
}
Layout sampled(int h, int v, Layout l = {}) {
  l.h_samp = h;
  l.v_samp = v;
  return l;
}
Layout space(J_COLOR_SPACE in, J_COLOR_SPACE jpeg, Layout l = {}) {
  l.in_space = in;
  l.jpeg_space = jpeg;
  return l;
}
Layout progressive(Layout l = {}) {
  l.progressive = true;
  return l;
}
Layout restarts(unsigned rows, Layout l = {}) {
  l.restart_rows = rows;
  return l;
}
Layout optimized(Layout l = {}) {
  l.optimize = true;
  return l;
}
Layout quality(int q, Layout l = {}) {
  l.quality = q;
  return l;
}
Segment exif(unsigned v) { return {JPEG_APP0 + 1, exif_orientation(v)}; }

// ---- one rule: a re-encoded image shows exactly what the filtered one shows, and is shorter ----

struct Variant {
  const char* name;
  Layout layout;
  std::string trailing;  // bytes after the end-of-image marker
  bool saves;            // libjpeg's standard tables: a re-encoding must win
};

const Variant kVariants[] = {
    {"baseline_420", sized(333, 251), "", true},
    {"baseline_444", sized(333, 251, sampled(1, 1)), "", true},
    {"baseline_422", sized(333, 251, sampled(2, 1)), "", true},
    {"baseline_440", sized(120, 90, sampled(1, 2)), "", true},
    {"grayscale", sized(200, 150, space(JCS_GRAYSCALE, JCS_GRAYSCALE, sampled(1, 1))), "", true},
    {"progressive_input", sized(333, 251, progressive()), "", false},
    {"progressive_grayscale",
     sized(200, 150, progressive(space(JCS_GRAYSCALE, JCS_GRAYSCALE, sampled(1, 1)))), "", false},
    {"restart_every_row", sized(333, 251, restarts(1)), "", true},
    {"restart_progressive", sized(160, 120, restarts(2, progressive())), "", false},
    {"cmyk_adobe", sized(120, 90, space(JCS_CMYK, JCS_CMYK, sampled(1, 1))), "", true},
    {"ycck_adobe", sized(120, 90, space(JCS_CMYK, JCS_YCCK)), "", true},
    {"rgb_adobe", sized(120, 90, space(JCS_RGB, JCS_RGB, sampled(1, 1))), "", true},
    {"one_pixel", sized(1, 1), "", true},
    {"odd_edges", sized(17, 9), "", true},
    {"one_row", sized(700, 1), "", true},
    {"one_column", sized(1, 300), "", true},
    {"quality_100", sized(160, 120, quality(100)), "", true},
    {"quality_20", sized(160, 120, quality(20)), "", true},
    {"tables_already_optimized", sized(333, 251, optimized()), "", false},
    {"icc_in_three_chunks", with(sized(160, 120), wide_profile_chunks(150000)), "", true},
    {"icc_and_orientation_and_comment",
     with(sized(160, 120),
          {exif(6), {JPEG_COM, to_bytes("made by hand")}, wide_profile_chunks(2000)[0]}),
     "", true},
    {"orientation_1", with(sized(64, 48), {exif(1)}), "", true},
    {"orientation_2", with(sized(64, 48), {exif(2)}), "", true},
    {"orientation_3", with(sized(64, 48), {exif(3)}), "", true},
    {"orientation_4", with(sized(64, 48), {exif(4)}), "", true},
    {"orientation_5", with(sized(64, 48), {exif(5)}), "", true},
    {"orientation_6", with(sized(64, 48), {exif(6)}), "", true},
    {"orientation_7", with(sized(64, 48), {exif(7)}), "", true},
    {"orientation_8", with(sized(64, 48), {exif(8)}), "", true},
    {"bytes_after_the_end", sized(160, 120), std::string("\0\1trailer\xFF\xD9", 12), true},
    {"second_image_after_the_end", sized(64, 48), std::string("\xFF\xD8\xFF\xD9", 4), true},
};

class RecodeVariant : public testing::TestWithParam<Variant> {};

TEST_P(RecodeVariant, SamePixelsSameSegmentsShorter) {
  const Variant& v = GetParam();
  Vec in = encode_image(v.layout);
  ASSERT_FALSE(in.empty()) << "libjpeg refused the layout";
  in.insert(in.end(), v.trailing.begin(), v.trailing.end());
  const std::optional<Vec> before = filtered(in);
  ASSERT_TRUE(before);

  Bytes out = {1, 2, 3};  // a reused buffer's old bytes must not leak into the result
  const Recode got = recode_jpeg(*before, out);
  ASSERT_TRUE(got == Recode::kSmaller || got == Recode::kNotSmaller) << static_cast<int>(got);
  if (v.saves) {
    ASSERT_EQ(got, Recode::kSmaller);
  }
  if (got != Recode::kSmaller) return;

  EXPECT_LT(out.size(), before->size());
  const auto want = decode_pixels(*before);
  const auto have = decode_pixels(out);
  ASSERT_TRUE(want);
  ASSERT_TRUE(have) << "the re-encoding does not decode cleanly";
  EXPECT_TRUE(*have == *want) << "decoded pixels differ";
  EXPECT_EQ(metadata_segments(out), metadata_segments(*before));
  ASSERT_GE(out.size(), v.trailing.size());
  EXPECT_EQ(to_text(std::span(out).last(v.trailing.size())), v.trailing);
  // The output is a stream the filter keeps as it is.
  const std::optional<Vec> again = filtered(out);
  ASSERT_TRUE(again);
  EXPECT_TRUE(*again == Vec(out.begin(), out.end()));
}

INSTANTIATE_TEST_SUITE_P(Recode, RecodeVariant, testing::ValuesIn(kVariants),
                         [](const auto& p) { return std::string(p.param.name); });

// ---- one rule: what the re-encoder does not carry comes back as a refusal, never a crash ----

// Bytes with the first occurrence of `from` replaced by `to` (same length).
Vec patched(Vec b, std::initializer_list<unsigned char> from,
            std::initializer_list<unsigned char> to) {
  const auto at = std::search(b.begin(), b.end(), from.begin(), from.end());
  if (at != b.end()) std::copy(to.begin(), to.end(), at);
  return b;
}
std::size_t find_nth(const Vec& b, std::initializer_list<unsigned char> what, int nth) {
  auto at = b.begin();
  for (int k = 0; k < nth && at != b.end(); ++k)
    at = std::search(k == 0 ? at : at + 1, b.end(), what.begin(), what.end());
  return static_cast<std::size_t>(at - b.begin());
}

struct Refusal {
  const char* name;
  std::function<Vec()> make;
  RecodeLimits limits;
  Recode want;
};

const Refusal kRefusals[] = {
    {"empty", [] { return Vec{}; }, {}, Recode::kFailed},
    {"not_a_jpeg", [] { return to_bytes("\x89PNG\r\n\x1A\n...."); }, {}, Recode::kFailed},
    {"soi_only",
     [] {
       return Vec{0xFF, 0xD8};
     },
     {},
     Recode::kFailed},
    {"truncated_scan",
     [] {
       Vec b = encode_image(sized(160, 120));
       b.resize(b.size() * 2 / 3);
       return b;
     },
     {},
     Recode::kFailed},
    {"missing_end_of_image",
     [] {
       Vec b = encode_image(sized(160, 120));
       b.resize(b.size() - 2);
       return b;
     },
     {},
     Recode::kFailed},
    {"restart_marker_lost",  // the decoder resynchronises with a warning: corrupt data
     [] {
       Vec b = encode_image(sized(160, 120, restarts(1)));
       const std::size_t at = find_nth(b, {0xFF, 0xD1}, 1);
       b.erase(b.begin() + static_cast<std::ptrdiff_t>(at),
               b.begin() + static_cast<std::ptrdiff_t>(at) + 2);
       return b;
     },
     {},
     Recode::kFailed},
    {"tables_only",
     [] {
       return Vec{0xFF, 0xD8, 0xFF, 0xD9};
     },
     {},
     Recode::kFailed},
    {"twelve_bit",
     [] {
       Vec b = encode_image(sized(64, 48));
       b[find_nth(b, {0xFF, 0xC0}, 1) + 4] = 12;
       return b;
     },
     {},
     Recode::kUnsupported},
    {"lossless_process",
     [] {
       return patched(encode_image(sized(64, 48)), {0xFF, 0xC0}, {0xFF, 0xC3});
     },
     {},
     Recode::kUnsupported},
    {"arithmetic_coded",
     [] {
       Layout l = sized(64, 48);
       l.arithmetic = true;
       return encode_image(l);
     },
     {},
     Recode::kUnsupported},
    {"over_the_sample_limit",
     [] { return encode_image(sized(64, 48)); },
     {64 * 48, 256 << 20},
     Recode::kUnsupported},
    {"over_the_memory_limit",
     [] { return encode_image(sized(640, 480)); },
     {std::int64_t{96} << 20, 16 << 10},
     Recode::kUnsupported},
    {"progressive_scans_incomplete",  // a decoder smooths such blocks: pixels would differ
     [] {
       Vec b = encode_image(sized(160, 120, progressive()));
       std::size_t last = 0;
       for (int k = 1; find_nth(b, {0xFF, 0xDA}, k) < b.size(); ++k)
         last = find_nth(b, {0xFF, 0xDA}, k);
       b.resize(last);
       b.insert(b.end(), {0xFF, 0xD9});
       return b;
     },
     {},
     Recode::kUnsupported},
    {"segment_between_scans",
     [] {
       Vec b = encode_image(sized(160, 120, progressive()));
       const Vec app = {0xFF, 0xE2, 0x00, 0x06, 'a', 'b', 'c', 'd'};
       b.insert(b.begin() + static_cast<std::ptrdiff_t>(find_nth(b, {0xFF, 0xDA}, 2)), app.begin(),
                app.end());
       return b;
     },
     {},
     Recode::kUnsupported},
};

class RecodeRefusal : public testing::TestWithParam<Refusal> {};

TEST_P(RecodeRefusal, KeepsTheInput) {
  const Refusal& r = GetParam();
  const Vec in = r.make();
  Bytes out;
  EXPECT_EQ(recode_jpeg(in, out, r.limits), r.want);
}

INSTANTIATE_TEST_SUITE_P(Recode, RecodeRefusal, testing::ValuesIn(kRefusals),
                         [](const auto& p) { return std::string(p.param.name); });

// ---- the real photos: every one the filter walks, re-encoded or kept ----

bool is_jpeg_name(const fs::path& p) {
  std::string ext = p.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  return ext == ".jpg" || ext == ".jpeg";
}

Vec read_all(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return Vec(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

struct CorpusCount {
  std::size_t files = 0, smaller = 0, decodable = 0;
  std::uintmax_t filtered_bytes = 0, recoded_bytes = 0;
};

CorpusCount check_corpus(const fs::path& root) {
  CorpusCount n;
  Bytes out;  // reused from file to file, as a worker does
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file() || !is_jpeg_name(entry.path())) continue;
    SCOPED_TRACE(entry.path().string());
    const std::optional<Vec> before = filtered(read_all(entry.path()));
    if (!before) continue;
    ++n.files;
    const Recode got = recode_jpeg(*before, out);
    const auto want = decode_pixels(*before);
    if (want) {
      ++n.decodable;
      EXPECT_NE(got, Recode::kFailed) << "a cleanly decoding image was not re-encoded";
    }
    n.filtered_bytes += before->size();
    n.recoded_bytes += got == Recode::kSmaller ? out.size() : before->size();
    if (got != Recode::kSmaller) continue;
    ++n.smaller;
    EXPECT_LT(out.size(), before->size());
    EXPECT_TRUE(want) << "re-encoded an image that does not decode cleanly";
    const auto have = decode_pixels(out);
    EXPECT_TRUE(have);
    EXPECT_TRUE(want && have && *have == *want) << "decoded pixels differ";
    EXPECT_EQ(metadata_segments(out), metadata_segments(*before));
  }
  return n;
}

TEST(RecodeCorpus, TestPhotosSamePixelsAndSmaller) {
  const CorpusCount n = check_corpus(SVELTERY_SOURCE_DIR "/tests/corpus/jpeg");
  EXPECT_GE(n.files, 150u);
  EXPECT_GE(n.smaller, 120u);  // the rest already carry tables made for them
  // Most photos carry tables made for no image in particular: the re-encoding must show it.
  EXPECT_LT(n.recoded_bytes, n.filtered_bytes - n.filtered_bytes / 50);
}

TEST(RecodeCorpus, SharedPhotosSamePixelsAndSmaller) {
  const fs::path root = SVELTERY_CORPUS_DIR "/jpeg";
  if (!fs::is_directory(root)) GTEST_SKIP() << "no shared corpus at " << root;
  const CorpusCount n = check_corpus(root);
  EXPECT_GT(n.smaller, 0u);
}

}  // namespace
