#pragma once

#include "traverse/options.h"

// What the command line asks for besides a run.
enum class Screen { None, ShortUsage, Documentation, Licence, Version };

// Reads the options with getopt_long in command-line order (--help and --version are -H and -V).
// A screen option stops the reading at once and is returned; otherwise Screen::None, with
// `optind` at the first path.
Screen parse_options(int argc, char** argv, Options& options);
