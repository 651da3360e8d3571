// Tags written before, by their bytes. Pages write the same few tags with attributes over and over
// (a class on every list item, every code span), and where a tag's attributes were written by the
// bytes alone, the same bytes are written the same way again: one look and one move.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "optimize/markup_out.h"

namespace markup::safe {

#ifdef SVELTERY_SSE2
class TagMemo {
 public:
  // Tags of at most this many bytes, from '<' to the first '>', are kept; the input must have
  // this many bytes from the tag on for a look, and the output room for as many.
  static constexpr std::size_t kLongest = 48;

  // The empty slots hold no length, which no tag has. Only the lengths, on one cache line, are
  // cleared: a small page does not pay for bringing the whole table into the cache.
  TagMemo() { lengths_.fill(0); }

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
  };
  static Key key_at(const unsigned char* p) {
    const __m128i gt = _mm_set1_epi8('>');
    std::uint64_t gts = 0;
    for (std::size_t k = 0; k < kChunks; ++k)
      gts |= std::uint64_t{static_cast<std::uint32_t>(
                 _mm_movemask_epi8(_mm_cmpeq_epi8(chunk(p, k), gt)))}
             << (16 * k);
    Key key;
    const auto length = static_cast<std::size_t>(std::countr_zero(gts)) + 1;
    if (gts == 0 || length < 9) return key;
    key.length = length;
    // The name and the end of the last attribute tell most tags apart.
    std::uint64_t head = 0;
    std::uint64_t tail = 0;
    std::memcpy(&head, p + 1, 8);
    std::memcpy(&tail, p + length - 8, 8);
    key.slot =
        static_cast<std::size_t>(((head * 31 + tail) * 0x9E3779B97F4A7C15ull) >> (64 - kSlotBits));
    return key;
  }

  // What the tag of `key` at `p` was written as, at `to`; returns its length, or SIZE_MAX when it
  // is not kept. The look is paid for from the credit.
  std::size_t write(const Key& key, const unsigned char* p, unsigned char* to) {
    const Slot& slot = slots_[key.slot];
    if (lengths_[key.slot] == key.length) {
      std::uint64_t same = 0;
      for (std::size_t k = 0; k < kChunks; ++k)
        same |= std::uint64_t{static_cast<std::uint32_t>(
                    _mm_movemask_epi8(_mm_cmpeq_epi8(chunk(p, k), chunk(slot.bytes.data(), k))))}
                << (16 * k);
      const std::uint64_t tag_bytes = (std::uint64_t{1} << key.length) - 1;
      if ((~same & tag_bytes) == 0) {
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
    Slot& slot = slots_[key.slot];
    lengths_[key.slot] = static_cast<std::uint8_t>(key.length);
    slot.written_length = static_cast<std::uint8_t>(written_length);
    std::memcpy(slot.bytes.data(), p, kLongest);
    std::memcpy(slot.written.data(), written, kLongest);
  }

  // A look that found no tag of at most kLongest bytes.
  void missed() { --credit_; }

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

  struct Slot {
    std::array<unsigned char, kLongest> bytes;
    std::array<unsigned char, kLongest> written;
    std::uint8_t written_length;
  };
  std::array<std::uint8_t, std::size_t{1} << kSlotBits> lengths_;
  std::array<Slot, std::size_t{1} << kSlotBits> slots_;
  int credit_ = 8;
  int idle_ = 0;
};
#endif

}  // namespace markup::safe
