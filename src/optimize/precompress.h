#pragma once
// Encoders for the compressed copies that servers send as they are: brotli, gzip and zstd.

#include <bit>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "optimize/bytes.h"
#include "optimize/progress_sink.h"

enum class Encoding : unsigned char { Brotli, Gzip, Zstd };

// Every encoding, in the order its siblings are written and reported.
inline constexpr Encoding kEncodings[] = {Encoding::Brotli, Encoding::Gzip, Encoding::Zstd};

// The name an encoding has in the option's list and in the report: "br", "gz", "zst".
constexpr std::string_view encoding_name(Encoding encoding) {
  constexpr std::string_view kNames[] = {"br", "gz", "zst"};
  return kNames[static_cast<unsigned>(encoding)];
}

// What the sibling's name adds to the output's name: ".br", ".gz", ".zst".
constexpr std::string_view encoding_suffix(Encoding encoding) {
  constexpr std::string_view kSuffixes[] = {".br", ".gz", ".zst"};
  return kSuffixes[static_cast<unsigned>(encoding)];
}

// A set of encodings, one bit each.
struct EncodingSet {
  unsigned bits = 0;
  bool has(Encoding e) const { return (bits >> static_cast<unsigned>(e) & 1u) != 0; }
  void add(Encoding e) { bits |= 1u << static_cast<unsigned>(e); }
  bool empty() const { return bits == 0; }
  int size() const { return std::popcount(bits); }
  friend bool operator==(EncodingSet, EncodingSet) = default;
};

// A comma list of encoding names ("br,gz"), each at most once; none for anything else, an empty
// list or an empty item included.
std::optional<EncodingSet> parse_encoding_list(std::string_view list);

// Encodes `in` whole into `out` (its memory is reused): brotli at quality 11, gzip at libdeflate's
// level 12, zstd at level 19. False when memory runs out or the library fails; `out` is then
// unspecified. `progress`, when given, sees the input consumed.
[[nodiscard]] bool encode(Encoding encoding, std::span<const unsigned char> in, Bytes& out,
                          ProgressSink* progress);

// Outputs smaller than this get no siblings: below about 150 bytes every encoding makes the file
// larger, and up to a few hundred bytes what it saves is less than a request's headers.
inline constexpr std::int64_t kPrecompressMinSize = 512;

// A sibling is written only where it is at most 90 % of the output: below that gain, a client
// pays more in decoding than it saves in transfer, and the server's copy is one more file to keep.
inline bool sibling_pays(std::int64_t output_size, std::int64_t sibling_size) {
  return output_size >= kPrecompressMinSize && sibling_size * 10 <= output_size * 9;
}
