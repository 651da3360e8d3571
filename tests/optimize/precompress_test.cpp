#include "optimize/precompress.h"

#include <brotli/decode.h>
#include <libdeflate.h>
#include <zstd.h>

#include <optional>
#include <string>

#include "recording_sink.h"
#include "support/test_support.h"

namespace {

// The bytes `encoded` stands for, by the library's own decoder; none when it is not a valid
// stream of `encoding` or does not hold exactly `size` bytes.
std::optional<std::string> decode(Encoding encoding, const Bytes& encoded, std::size_t size) {
  std::string out(size + 1, '\0');  // one spare byte: a longer stream shows
  std::size_t got = out.size();
  switch (encoding) {
    case Encoding::Brotli:
      if (BrotliDecoderDecompress(encoded.size(), encoded.data(), &got,
                                  reinterpret_cast<std::uint8_t*>(out.data())) !=
          BROTLI_DECODER_RESULT_SUCCESS)
        return std::nullopt;
      break;
    case Encoding::Gzip: {
      libdeflate_decompressor* d = libdeflate_alloc_decompressor();
      const libdeflate_result r = libdeflate_gzip_decompress(d, encoded.data(), encoded.size(),
                                                             out.data(), out.size(), &got);
      libdeflate_free_decompressor(d);
      if (r != LIBDEFLATE_SUCCESS) return std::nullopt;
      break;
    }
    case Encoding::Zstd:
      if (ZSTD_getFrameContentSize(encoded.data(), encoded.size()) != size) return std::nullopt;
      got = ZSTD_decompress(out.data(), out.size(), encoded.data(), encoded.size());
      if (ZSTD_isError(got)) return std::nullopt;
      break;
  }
  if (got != size) return std::nullopt;
  out.resize(got);
  return out;
}

std::string text_of(std::size_t size) {  // markup-like text that compresses well
  std::string s;
  for (std::size_t i = 0; s.size() < size; ++i)
    s += "<li class=\"item-" + std::to_string(i % 97) + "\">entry " + std::to_string(i) + "</li>\n";
  s.resize(size);
  return s;
}

std::string noise_of(std::size_t size) {  // does not compress: every encoding must still round-trip
  std::string s(size, '\0');
  std::uint32_t x = 2463534242u;
  for (char& c : s) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = static_cast<char>(x);
  }
  return s;
}

struct RoundTrip {
  const char* name;
  std::string in;
};

// Sizes around the streaming encoders' 256 KiB steps and the brotli window's powers of two.
const RoundTrip kRoundTrips[] = {
    {"empty", ""},
    {"one_byte", "a"},
    {"every_byte_value", [] {
       std::string s;
       for (int i = 0; i < 256; ++i) s += static_cast<char>(i);
       return s;
     }()},
    {"text_below_window", text_of(1000)},
    {"text_at_window_edge", text_of((1u << 16) - 16)},
    {"text_one_chunk", text_of(256u << 10)},
    {"text_chunk_and_a_byte", text_of((256u << 10) + 1)},
    {"text_many_chunks", text_of(1u << 20)},
    {"noise", noise_of(300000)},
};

class EncodeRoundTrip : public testing::TestWithParam<RoundTrip> {};

TEST_P(EncodeRoundTrip, EveryEncodingDecodesToTheInput) {
  const std::string& in = GetParam().in;
  for (const Encoding e : kEncodings) {
    Bytes out = Bytes(7, 0xEE);  // stale bytes in the reused buffer must not show
    ASSERT_TRUE(encode(e, to_bytes(in), out, nullptr)) << encoding_name(e);
    const std::optional<std::string> back = decode(e, out, in.size());
    ASSERT_TRUE(back) << encoding_name(e);
    EXPECT_TRUE(*back == in) << encoding_name(e);
  }
}

INSTANTIATE_TEST_SUITE_P(Precompress, EncodeRoundTrip, testing::ValuesIn(kRoundTrips),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Precompress, TextShrinksMostWithBrotli) {
  const std::string in = text_of(200000);
  std::size_t size[3] = {};
  for (const Encoding e : kEncodings) {
    Bytes out;
    ASSERT_TRUE(encode(e, to_bytes(in), out, nullptr));
    size[static_cast<int>(e)] = out.size();
  }
  EXPECT_LT(size[0], size[1]);
  EXPECT_LT(size[2], size[1]);
  EXPECT_LT(size[1] * 5, in.size());
}

TEST(Precompress, ProgressRisesToTheWhole) {
  const std::string in = text_of(600000);
  for (const Encoding e : kEncodings) {
    RecordingSink sink;
    Bytes out;
    ASSERT_TRUE(encode(e, to_bytes(in), out, &sink));
    ASSERT_FALSE(sink.ticks.empty());
    for (std::size_t k = 1; k < sink.ticks.size(); ++k)
      EXPECT_LE(sink.ticks[k - 1].second, sink.ticks[k].second) << encoding_name(e);
    EXPECT_EQ(sink.ticks.back(), Tick(600000, 600000)) << encoding_name(e);
    EXPECT_EQ(sink.finished, 0);  // the caller ends the bar's line
  }
}

struct ListCase {
  const char* name;
  const char* list;
  std::optional<unsigned> bits;  // br = 1, gz = 2, zst = 4
};

const ListCase kLists[] = {
    {"one", "br", 1u},
    {"two", "br,gz", 3u},
    {"any_order", "zst,br", 5u},
    {"all", "gz,zst,br", 7u},
    {"empty", "", std::nullopt},
    {"unknown", "deflate", std::nullopt},
    {"upper_case", "BR", std::nullopt},
    {"twice", "br,br", std::nullopt},
    {"empty_item", "br,,gz", std::nullopt},
    {"trailing_comma", "br,", std::nullopt},
    {"leading_comma", ",gz", std::nullopt},
    {"space", "br, gz", std::nullopt},
    {"prefix_of_a_name", "z", std::nullopt},
};

class EncodingList : public testing::TestWithParam<ListCase> {};

TEST_P(EncodingList, Parses) {
  const std::optional<EncodingSet> got = parse_encoding_list(GetParam().list);
  ASSERT_EQ(got.has_value(), GetParam().bits.has_value());
  if (got) {
    EXPECT_EQ(got->bits, *GetParam().bits);
  }
}

INSTANTIATE_TEST_SUITE_P(Precompress, EncodingList, testing::ValuesIn(kLists),
                         [](const auto& p) { return std::string(p.param.name); });

struct PaysCase {
  const char* name;
  std::int64_t output, sibling;
  bool pays;
};

const PaysCase kPays[] = {
    {"below_the_smallest_output", kPrecompressMinSize - 1, 10, false},
    {"smallest_output", kPrecompressMinSize, 10, true},
    {"exactly_nine_tenths", 1000, 900, true},
    {"just_above_nine_tenths", 1000, 901, false},
    {"grew", 1000, 1020, false},
    {"large_output", std::int64_t{1} << 40, std::int64_t{1} << 39, true},
};

class SiblingPays : public testing::TestWithParam<PaysCase> {};

TEST_P(SiblingPays, ByTheRule) {
  EXPECT_EQ(sibling_pays(GetParam().output, GetParam().sibling), GetParam().pays);
}

INSTANTIATE_TEST_SUITE_P(Precompress, SiblingPays, testing::ValuesIn(kPays),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
