// What a step of a file's input or output returns: done, or which step failed and why. One place
// turns a failure into its line.
#pragma once

#include <cerrno>
#include <cstdio>

enum class IoStep : unsigned char {
  None,
  OpenInput,          // the input could not be opened
  InputSize,          // the input is no regular file with a size
  ReadInput,          // a read failed, or the file shrank while it was read
  Memory,             // no memory for the file's bytes
  UnreachableOutput,  // the output's directory could not be made or opened
  OpenOutput,         // the output may not be replaced, or its temporary file not made
  SameFile,           // the output is the input itself
  WriteOutput,        // a write, the close or the rename failed
};

struct IoStatus {
  IoStep failed = IoStep::None;
  int err = 0;  // errno of the call that failed; 0 when none applies

  bool ok() const { return failed == IoStep::None; }
  // The disk or the quota was full while this file was written: with other files being written
  // at the same time, the space may have gone to them.
  bool disk_full() const {
    return (failed == IoStep::OpenOutput || failed == IoStep::WriteOutput) &&
           (err == ENOSPC || err == EDQUOT);
  }
};

// A failure with the errno its call left.
inline IoStatus io_failed(IoStep step) { return {step, errno}; }

// Prints the line of a failed step on `to`: input steps name `input_path`, output steps
// `output_path`. Nothing for a step that succeeded.
void print_io_status(std::FILE* to, const IoStatus& status, const char* input_path,
                     const char* output_path);
