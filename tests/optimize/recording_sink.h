#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "optimize/progress_sink.h"

using Tick = std::pair<std::int64_t, std::int64_t>;

// Keeps every tick and counts the finishing calls, for checking an optimizer's progress.
struct RecordingSink final : ProgressSink {
  std::vector<Tick> ticks;
  int finished = 0;
  void tick(std::int64_t total, std::int64_t done) override { ticks.emplace_back(total, done); }
  void finish() override { ++finished; }
};
