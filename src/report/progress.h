// The one-line progress bar and the sink that draws it.
#pragma once

#include <cstdint>
#include <cstdio>

#include "optimize/progress_sink.h"

// Percentage of `done` in `total`, truncated toward zero and clamped to 0..100; 0 when total is 0.
long percent_done(std::int64_t total, std::int64_t done);

// Draws the one-line progress bar on `to`. Never prints a newline: each call overwrites the last.
void show_progress(std::FILE* to, std::int64_t total, std::int64_t done);

// Draws every tick with show_progress on `to` (standard output, or one file's buffered lines);
// finish() prints the closing newline.
struct ConsoleProgress final : ProgressSink {
  explicit ConsoleProgress(std::FILE* to_stream) : to(to_stream) {}
  void tick(std::int64_t total, std::int64_t done) override;
  void finish() override;
  std::FILE* to;
};
