#pragma once

#include <optional>
#include <string>

#include "run/scheduler.h"
#include "traverse/options.h"
#include "traverse/output_path.h"
#include "traverse/walk.h"

// The run's state beside its read-only options.
struct RunState {
  OutputMapping mapping;  // the output directory, and the input prefix once taken
  bool prefix_known = false;
  std::optional<FileId> output_dir;  // so that no walk descends into its own output
};

// Handles one command-line path: a regular file, or with -r a directory and everything in it.
// The walk and the mirror directories are made here, in order; files go to `scheduler`.
void process_input_path(std::string path, const Options& options, RunState& run,
                        Scheduler& scheduler);
