// What the style-sheet and script tokenizers share: name tables, bulk runs, block comments and the
// writer of their output.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <span>
#include <string_view>

#include "optimize/byte_scan.h"

namespace code {

using ByteSet = std::array<bool, 256>;

// `ascii` and every byte from 0x80 on: names continue through the bytes of UTF-8 sequences, which
// each language then checks only where a code point may end the name.
constexpr ByteSet with_high_bytes(std::string_view ascii) {
  ByteSet t = byte_set(ascii);
  for (std::size_t b = 0x80; b < t.size(); ++b) t[b] = true;
  return t;
}

// `t` without the bytes of `drop`: a name's first byte is its later bytes less the digits.
constexpr ByteSet without(ByteSet t, std::string_view drop) {
  for (const char c : drop) t[static_cast<unsigned char>(c)] = false;
  return t;
}

// Every byte but those of `drop`: what a scan runs over until one of them.
constexpr ByteSet all_but(std::string_view drop) {
  ByteSet t{};
  for (bool& b : t) b = true;
  return without(t, drop);
}

// For a first-byte table: the bytes of `bytes`, or the members of `set`, get class `c`. Later
// calls win, so a table is built from the broad classes to the single bytes.
template <class Class>
constexpr void assign(std::array<Class, 256>& t, std::string_view bytes, Class c) {
  for (const char b : bytes) t[static_cast<unsigned char>(b)] = c;
}
template <class Class>
constexpr void assign(std::array<Class, 256>& t, const ByteSet& set, Class c) {
  for (std::size_t b = 0; b < t.size(); ++b)
    if (set[b]) t[b] = c;
}

inline constexpr ByteSet kDigit = byte_set("0123456789");
inline constexpr ByteSet kHex = byte_set("0123456789abcdefABCDEF");

// Past the run of `set` bytes from i. Where eight bytes remain, they are tested without the end
// test: runs of names and spaces are short, and the end test would double each byte's cost.
inline std::size_t skip_run(std::span<const unsigned char> in, std::size_t i, const ByteSet& set) {
  const unsigned char* p = in.data();
  const std::size_t n = in.size();
  while (n - i >= 8) {
    const unsigned char* q = p + i;
    if (!set[q[0]]) return i;
    if (!set[q[1]]) return i + 1;
    if (!set[q[2]]) return i + 2;
    if (!set[q[3]]) return i + 3;
    if (!set[q[4]]) return i + 4;
    if (!set[q[5]]) return i + 5;
    if (!set[q[6]]) return i + 6;
    if (!set[q[7]]) return i + 7;
    i += 8;
  }
  while (i < n && set[p[i]]) ++i;
  return i;
}

// The index past the "*/" that closes the comment whose "/*" is at i; in.size() + 1 when the
// comment runs to the end of the input.
inline std::size_t block_comment_end(std::span<const unsigned char> in, std::size_t i) {
  for (std::size_t j = i + 2;; ++j) {
    j = find_byte(in, j, '*');
    if (in.size() - j < 2) return in.size() + 1;
    if (in[j + 1] == '/') return j + 2;
  }
}

// The minifiers' output: a buffer with room for the whole input, written front to back. Bytes
// past the length written so far are of no meaning, so a short token goes out as one fixed-size
// copy where both buffers have room for it.
class CodeWriter {
 public:
  CodeWriter(std::span<const unsigned char> in, unsigned char* out) : in_(in), out_(out) {}

  void put(unsigned char b) { out_[n_++] = b; }

  void copy(std::size_t from, std::size_t to) {
    constexpr std::size_t kShort = 16;
    const std::size_t len = to - from;
    // Nothing goes out ahead of what has been read: n_ <= from, so the room is there too.
    if (len <= kShort && in_.size() - from >= kShort && n_ <= from) {
      std::memcpy(out_ + n_, in_.data() + from, kShort);
    } else if (len != 0) {  // an empty input has no data pointer to copy from
      std::memcpy(out_ + n_, in_.data() + from, len);
    }
    n_ += len;
  }

  std::size_t size() const { return n_; }
  // The byte written `back` places before the end (1: the last); the caller checks size().
  unsigned char last(std::size_t back = 1) const { return out_[n_ - back]; }

 private:
  std::span<const unsigned char> in_;
  unsigned char* out_;
  std::size_t n_ = 0;
};

}  // namespace code
