#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "report/progress.h"

namespace markup {

// Write cursor over a buffer sized once to the input length. No rule writes more bytes than it
// consumes, so there is never a bounds check here.
struct Out {
  unsigned char* base = nullptr;
  std::size_t n = 0;

  void put(unsigned char b) { base[n++] = b; }
  void copy(std::span<const unsigned char> in, std::size_t from, std::size_t to) {
    if (to <= from) return;
    std::memcpy(base + n, in.data() + from, to - from);
    n += to - from;
  }
  // The byte before the cursor; -1 while nothing has been written.
  int prev() const { return n == 0 ? -1 : base[n - 1]; }
};

// Counts main-loop iterations: the first one ticks, then every (interval + 1)-th. The bar moves by
// iterations, not bytes, so a long tag or comment counts once.
struct Ticker {
  ProgressSink* sink = nullptr;
  std::int64_t total = 0;
  std::int64_t interval = 0;
  std::int64_t countdown = 0;

  // One iteration that begins with `done` input bytes consumed.
  void one(std::size_t done) {
    if (sink == nullptr) return;
    if (countdown != 0) {
      --countdown;
      return;
    }
    countdown = interval;
    sink->tick(total, static_cast<std::int64_t>(done));
  }

  // `count` one-byte iterations in a row, the first beginning at `done`: the same ticks as calling
  // one() for each, without a call per byte.
  void run(std::size_t count, std::size_t done) {
    if (sink == nullptr) return;
    auto left = static_cast<std::int64_t>(count);
    auto at = static_cast<std::int64_t>(done);
    while (left > countdown) {
      at += countdown;
      left -= countdown;
      sink->tick(total, at);
      countdown = interval;
      ++at;
      --left;
    }
    countdown -= left;
  }
};

}  // namespace markup
