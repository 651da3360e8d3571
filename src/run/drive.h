// Turning command-line paths into the run's work: files handed to the scheduler, directories
// walked and mirrored under the output directory's descriptor.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "run/scheduler.h"
#include "run/stat_ahead.h"
#include "run/update.h"
#include "traverse/dir_fd.h"
#include "traverse/options.h"
#include "traverse/output_claims.h"
#include "traverse/output_path.h"
#include "traverse/walk.h"

// The run's state beside its read-only options.
struct RunState {
  OutputMapping mapping;  // the output directory's name, and the input prefix once taken
  bool prefix_known = false;
  // The output directory, opened once: every output and mirror is made below this descriptor.
  // Null when it could not be opened (every file then fails to open its output).
  DirRef output_root;
  int output_root_error = 0;
  std::vector<OutputClaim> claims;  // the outputs of the command-line paths taken so far
  UpdateRun* update = nullptr;      // --update: what the last run recorded, and this run's record
  StatAhead* ahead = nullptr;       // --update on workers: a second thread looks at files
};

// Handles one command-line path: a regular file, or with -r a directory and everything in it.
// The walk and the mirror directories are made here, in order; files go to `scheduler`.
void process_input_path(std::string path, const Options& options, RunState& run,
                        Scheduler& scheduler);
