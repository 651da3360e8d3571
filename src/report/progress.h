#pragma once

#include <cstdint>

// Percentage of `done` in `total`, truncated toward zero and clamped to 0..100; 0 when total is 0.
long percent_done(std::int64_t total, std::int64_t done);

// Draws the one-line progress bar. Never prints a newline: each call overwrites the last.
void show_progress(std::int64_t total, std::int64_t done);

// Receives the progress of one file. Called per tick (at most about a hundred per file), never
// per byte, so a virtual call is cheap enough.
struct ProgressSink {
  virtual void tick(std::int64_t total, std::int64_t done) = 0;
  virtual void finish() = 0;  // ends the bar's line
 protected:
  ~ProgressSink() = default;
};

// Draws every tick with show_progress; finish() prints the closing newline.
struct ConsoleProgress final : ProgressSink {
  void tick(std::int64_t total, std::int64_t done) override;
  void finish() override;
};

// For quiet runs and tests.
struct NoProgress final : ProgressSink {
  void tick(std::int64_t, std::int64_t) override {}
  void finish() override {}
};
