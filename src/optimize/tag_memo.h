// Tags written before, by their bytes. Pages write the same few tags with attributes over and over
// (a class on every list item, every code span), and where a tag's attributes were written by the
// bytes alone, the same bytes are written the same way again: one look and one move. Longer tags
// often begin alike (a class, then a link of their own): their starts are kept the same way.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "optimize/markup_out.h"

namespace markup::safe {

// Where a longer tag's first attributes end, within its first TagMemo::kLongest bytes: `length`
// bytes of the tag, written as `written_length` bytes, the last value without its quotes when
// `bare`. Tags that begin alike (`<a class="reference internal" href="...">`) are kept up to
// there, and go on from there the next time. A length of 0: no such place.
struct TagStart {
  std::size_t length = 0;
  std::size_t written_length = 0;
  bool bare = false;
};

#ifdef SVELTERY_SSE2
class TagMemo {
 public:
  // Tags of at most this many bytes, from '<' to the first '>', are kept; the input must have
  // this many bytes from the tag on for a look, and the output room for as many.
  static constexpr std::size_t kLongest = 48;

  // The empty slots hold no length, which no tag has. Only the lengths, on one cache line, are
  // cleared: a small page does not pay for bringing the whole table into the cache.
  TagMemo() {
    lengths_.fill(0);
    start_lengths_.fill(0);
  }

  // A page whose tags seldom repeat does not pay for the looks: each look that finds nothing
  // costs a credit, each that finds the tag earns a few, and with none left the memo is not looked
  // at for a while, then tried again.
  bool worth_a_look() {
    if (credit_ > 0) return true;
    if (++idle_ < kIdle) return false;
    idle_ = 0;
    credit_ = kRetryCredit;
    return true;
  }

  // The tag at `s` (the input has kLongest bytes there), as a key: its length through its first
  // '>', 0 when that is not within kLongest bytes or the tag is too short to be worth a look.
  struct Key {
    std::size_t length = 0;
    std::size_t slot = 0;
    bool longer = false;  // no '>' within kLongest bytes
  };
  static Key key_at(const unsigned char* p) {
    const __m128i gt = _mm_set1_epi8('>');
    std::uint64_t gts = 0;
    for (std::size_t k = 0; k < kChunks; ++k)
      gts |= std::uint64_t{static_cast<std::uint32_t>(
                 _mm_movemask_epi8(_mm_cmpeq_epi8(chunk(p, k), gt)))}
             << (16 * k);
    Key key;
    key.longer = gts == 0;
    const auto length = static_cast<std::size_t>(std::countr_zero(gts)) + 1;
    if (gts == 0 || length < 9) return key;
    key.length = length;
    // The name and the end of the last attribute tell most tags apart.
    key.slot = slot_of(p + 1, p + length - 8, kSlotBits);
    return key;
  }

  // What the tag of `key` at `p` was written as, at `to`; returns its length, or SIZE_MAX when it
  // is not kept. The look is paid for from the credit.
  std::size_t write(const Key& key, const unsigned char* p, unsigned char* to) {
    const Kept& slot = slots_[key.slot];
    if (lengths_[key.slot] == key.length) {
      if ((~same_bytes(p, slot.bytes.data()) & first_bytes(key.length)) == 0) {
        std::memcpy(to, slot.written.data(), kLongest);
        credit_ = credit_ < kMostCredit ? credit_ + kHitCredit : credit_;
        return slot.written_length;
      }
    }
    --credit_;
    return SIZE_MAX;
  }

  // Keeps what the tag of `key` at `p` was written as: `written` (readable for kLongest bytes) of
  // `written_length` bytes.
  void keep(const Key& key, const unsigned char* p, const unsigned char* written,
            std::size_t written_length) {
    lengths_[key.slot] = static_cast<std::uint8_t>(key.length);
    slots_[key.slot].put(p, written, written_length, false);
  }

  // A look that found no tag of at most kLongest bytes.
  void missed() { --credit_; }

  // The start of a longer tag at `p` (the input has kLongest bytes there) as it was written
  // before, at `to`; returns where it ends, or a TagStart of length 0 when none is kept. The start
  // and the byte after it are compared: that byte tells whether the last value needed its quotes.
  // The look is paid for from the credit.
  TagStart write_start(const unsigned char* p, unsigned char* to) {
    const std::size_t slot = start_slot(p);
    const std::size_t length = start_lengths_[slot];
    const Kept& start = starts_[slot];
    if (length != 0 && (~same_bytes(p, start.bytes.data()) & first_bytes(length + 1)) == 0) {
      std::memcpy(to, start.written.data(), kLongest);
      credit_ = credit_ < kMostCredit ? credit_ + kHitCredit : credit_;
      return TagStart{length, start.written_length, start.bare};
    }
    --credit_;
    return TagStart{};
  }

  // Keeps the start of the longer tag at `p` up to `mark`, written at `written` (readable for
  // kLongest bytes).
  void keep_start(const unsigned char* p, const TagStart& mark, const unsigned char* written) {
    if (mark.length < kShortestStart) return;
    const std::size_t slot = start_slot(p);
    start_lengths_[slot] = static_cast<std::uint8_t>(mark.length);
    starts_[slot].put(p, written, mark.written_length, mark.bare);
  }

 private:
  static constexpr std::size_t kChunks = kLongest / 16;
  static constexpr int kSlotBits = 6;
  static constexpr int kHitCredit = 2;
  static constexpr int kMostCredit = 256;
  static constexpr int kRetryCredit = 8;
  static constexpr int kIdle = 256;  // tags not looked up before another try

  static __m128i chunk(const unsigned char* p, std::size_t k) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
  }

  // The bytes of kLongest at `a` and `b` that are equal, one bit each.
  static std::uint64_t same_bytes(const unsigned char* a, const unsigned char* b) {
    std::uint64_t same = 0;
    for (std::size_t k = 0; k < kChunks; ++k)
      same |= std::uint64_t{static_cast<std::uint32_t>(
                  _mm_movemask_epi8(_mm_cmpeq_epi8(chunk(a, k), chunk(b, k))))}
              << (16 * k);
    return same;
  }
  // The first `count` (at most kLongest) of them.
  static std::uint64_t first_bytes(std::size_t count) { return (std::uint64_t{1} << count) - 1; }

  // A slot of `bits` bits from the eight bytes at `a` and the eight at `b`.
  static std::size_t slot_of(const unsigned char* a, const unsigned char* b, int bits) {
    std::uint64_t x = 0;
    std::uint64_t y = 0;
    std::memcpy(&x, a, 8);
    std::memcpy(&y, b, 8);
    return static_cast<std::size_t>(((x * 31 + y) * 0x9E3779B97F4A7C15ull) >> (64 - bits));
  }

  // The slot of a start hashes the tag's bytes 1 to 8 and 17 to 24: a start that, with the byte
  // after it, holds them all is found by every tag that begins with it.
  static constexpr std::size_t kShortestStart = 24;
  static constexpr int kStartBits = 5;
  static std::size_t start_slot(const unsigned char* p) {
    return slot_of(p + 1, p + 17, kStartBits);
  }

  // A tag or a start, its bytes and what they were written as (`bare`: for a start).
  struct Kept {
    std::array<unsigned char, kLongest> bytes;
    std::array<unsigned char, kLongest> written;
    std::uint8_t written_length;
    bool bare;
    void put(const unsigned char* p, const unsigned char* written_at, std::size_t length,
             bool bare_last) {
      std::memcpy(bytes.data(), p, kLongest);
      std::memcpy(written.data(), written_at, kLongest);
      written_length = static_cast<std::uint8_t>(length);
      bare = bare_last;
    }
  };
  std::array<std::uint8_t, std::size_t{1} << kStartBits> start_lengths_;
  std::array<Kept, std::size_t{1} << kStartBits> starts_;
  std::array<std::uint8_t, std::size_t{1} << kSlotBits> lengths_;
  std::array<Kept, std::size_t{1} << kSlotBits> slots_;
  int credit_ = 8;
  int idle_ = 0;
};
#endif

}  // namespace markup::safe
