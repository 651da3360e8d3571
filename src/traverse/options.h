// The run's options as the command line gave them.
#pragma once

#include <string>

#include "optimize/precompress.h"

// The run's options as the command line gave them; read-only once parsed. Flags are plain
// booleans: the command line only ever sets them.
struct Options {
  bool copy_other = false;  // copy files of no supported (or a switched-off) format unchanged
  bool html = false;
  bool jpeg = false;
  bool php = false;
  bool css = false;  // --css: style sheets; only the safe profile minifies them
  bool js = false;   // --js: scripts; likewise
  bool recurse = false;
  bool verbose = false;
  bool logging = false;
  bool final_report = false;
  bool safe = false;  // --safe: the markup profile that never changes how a page renders
  // Optimized pages go out without the banner: --no-banner, or --safe unless --banner follows.
  bool no_banner = false;
  bool output_dir_given = false;
  std::string output_dir;  // without the one trailing '/' a given path may have had
  int jobs = 0;            // --jobs: workers for the run; 0 when not given
  std::string type;        // --type: what standard input holds when "-" is the input; "" if none
  EncodingSet precompress;  // --precompress: compressed siblings written beside outputs
  bool update = false;       // --update: outputs recorded as up to date are left as they are
  bool delete_gone = false;  // --delete: outputs whose sources are gone are removed
};

// Announce mode: per-file messages and savings lines are printed.
inline bool announce(const Options& options) { return options.verbose || options.logging; }
