// Byte-classification tables and bounded cursor helpers shared by the optimizers.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "optimize/bytes.h"

// Folds 'A'..'Z' to lower case and nothing else (no locale, no 0x20 trick).
inline constexpr auto fold = [] {
  std::array<unsigned char, 256> t{};
  for (std::size_t b = 0; b < t.size(); ++b)
    t[b] = static_cast<unsigned char>(b >= 'A' && b <= 'Z' ? b + 32 : b);
  return t;
}();

// A 256-entry membership table for the bytes of `set`, for classifying a byte with one load.
constexpr std::array<bool, 256> byte_set(std::string_view set) {
  std::array<bool, 256> t{};
  for (const char c : set) t[static_cast<unsigned char>(c)] = true;
  return t;
}

// ASCII digits and letters only; bytes 0x80-0xFF are never word bytes.
inline constexpr auto is_word_byte =
    byte_set("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");

// The bytes [from, to) of `in` (to <= in.size()), without subspan's check for a count to the end.
inline std::span<const unsigned char> bytes_between(std::span<const unsigned char> in,
                                                    std::size_t from, std::size_t to) {
  return {in.data() + from, to - from};
}

// Past the end a look-ahead sees 0, which matches nothing the scanners look for.
inline unsigned char peek(std::span<const unsigned char> in, std::size_t i) {
  return i < in.size() ? in[i] : 0;
}

// `lit` is lower case; true when it matches at `i` in any case. A match running past the end fails.
inline bool match_nocase(std::span<const unsigned char> in, std::size_t i, std::string_view lit) {
  if (i > in.size() || in.size() - i < lit.size()) return false;
  for (std::size_t k = 0; k < lit.size(); ++k)
    if (fold[in[i + k]] != static_cast<unsigned char>(lit[k])) return false;
  return true;
}

// True when `lit` stands at `i` byte for byte. A match running past the end fails.
inline bool match_exact(std::span<const unsigned char> in, std::size_t i, std::string_view lit) {
  if (i > in.size() || in.size() - i < lit.size()) return false;
  for (std::size_t k = 0; k < lit.size(); ++k)
    if (in[i + k] != static_cast<unsigned char>(lit[k])) return false;
  return true;
}

// Index of the first `b` at or after `i`, or in.size() when there is none.
inline std::size_t find_byte(std::span<const unsigned char> in, std::size_t i, unsigned char b) {
  if (i >= in.size()) return in.size();
  const void* hit = std::memchr(in.data() + i, b, in.size() - i);
  return hit == nullptr
             ? in.size()
             : static_cast<std::size_t>(static_cast<const unsigned char*>(hit) - in.data());
}

// Eight bytes at a time, for the bulk paths of the scanners. A word holds bytes p[0]..p[7] from
// its low end up, on every platform. A mask sets the high bit of each byte that matches and never
// misses one; equal_bytes() may also flag a byte after a true match (a borrow runs on), so a
// scanner rechecks the byte it stops at and goes on when that byte needs nothing.
namespace swar {

inline constexpr std::uint64_t kOnes = 0x0101010101010101;
inline constexpr std::uint64_t kHigh = 0x8080808080808080;

inline std::uint64_t load8(const unsigned char* p) {
  std::uint64_t v = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&v, p, 8);
  } else {
    for (int k = 7; k >= 0; --k) v = (v << 8) | p[k];
  }
  return v;
}

// Zero bytes of `x`; only a byte after a zero byte can be flagged falsely.
inline std::uint64_t zero_bytes(std::uint64_t x) { return (x - kOnes) & ~x & kHigh; }

inline std::uint64_t equal_bytes(std::uint64_t v, unsigned char c) {
  return zero_bytes(v ^ (kOnes * c));
}

// Bytes below `c`, for c <= 0x80; exact.
inline std::uint64_t below_bytes(std::uint64_t v, unsigned char c) {
  return ~((v | kHigh) - kOnes * c) & ~v & kHigh;
}

// Index (0..7) of the first byte set in a non-zero mask.
inline std::size_t first_byte(std::uint64_t mask) {
  return static_cast<std::size_t>(std::countr_zero(mask)) / 8;
}

// Index (0..32) of the first byte set in four masks of consecutive words; 32 when none is.
inline std::size_t first_byte(std::uint64_t m0, std::uint64_t m1, std::uint64_t m2,
                              std::uint64_t m3) {
  // An empty mask counts 64 trailing zeros: exactly its eight bytes.
  auto bits = static_cast<std::size_t>(std::countr_zero(m0));
  if (m0 == 0) bits += static_cast<std::size_t>(std::countr_zero(m1));
  if ((m0 | m1) == 0) bits += static_cast<std::size_t>(std::countr_zero(m2));
  if ((m0 | m1 | m2) == 0) bits += static_cast<std::size_t>(std::countr_zero(m3));
  return bits / 8;
}

}  // namespace swar
