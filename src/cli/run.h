// The whole run: options, output directory, every path, the final report; returns the exit status.
#pragma once

// The whole run: options, output directory, every path, the report. Returns the exit status:
// 1 after a run or a screen; 2 after a run in which an input was missing or a file failed;
// 255 when the output directory cannot be used; 128 + the signal for a run a signal stopped.
// With "-" as the input, the filter's: 0 after it, 2 when it failed.
int run(int argc, char** argv);
