// The program's entry point.
#include "cli/run.h"

int main(int argc, char** argv) { return run(argc, argv); }
