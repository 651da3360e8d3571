// The command line read into Options, with getopt and the long options beside it.
#pragma once

#include "traverse/options.h"

// What the command line asks for besides a run.
// Help is the short usage screen followed by the long options.
enum class Screen { None, ShortUsage, Help, Documentation, Licence, Version };

// Reads the options with getopt_long in command-line order (--version is -V). A screen option
// stops the reading at once and is returned; a long option's value it cannot take is named on
// standard error and gives the short usage screen. Otherwise Screen::None, with `optind` at the
// first path and everything not given at its default: `no_banner` settled, no format option
// meaning every format, the output directory "./sveltered".
Screen parse_options(int argc, char** argv, Options& options);
