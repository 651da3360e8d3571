#pragma once

// The whole run: options, output directory, every path, the report. Returns the exit status:
// 1 after a run or a screen, 255 when the output directory cannot be used.
int run(int argc, char** argv);
