// The progress callback the optimizers tick, about a hundred times per file.
#pragma once

#include <cstdint>

// Receives the progress of one file from an optimizer. Called per tick (at most about a hundred
// per file), never per byte, so a virtual call is cheap enough. The optimizer owns this interface;
// whoever draws the bar implements it.
struct ProgressSink {
  virtual void tick(std::int64_t total, std::int64_t done) = 0;
  virtual void finish() = 0;  // ends the bar's line
 protected:
  ~ProgressSink() = default;
};

// For quiet runs and tests.
struct NoProgress final : ProgressSink {
  void tick(std::int64_t, std::int64_t) override {}
  void finish() override {}
};
