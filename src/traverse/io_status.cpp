// The lines of failed input and output steps.
#include "traverse/io_status.h"

#include "report/console.h"

void print_io_status(std::FILE* to, const IoStatus& status, const char* input_path,
                     const char* output_path) {
  switch (status.failed) {
    case IoStep::None:
      return;
    case IoStep::OpenInput:
      return print_open_input_error(to, input_path, status.err);
    case IoStep::InputSize:
      return print_file_size_error(to, input_path);
    case IoStep::ReadInput:
      return print_read_error(to, input_path);
    case IoStep::Memory:
      return print_memory_error(to);
    case IoStep::UnreachableOutput:
    case IoStep::OpenOutput:
      return print_open_output_error(to, output_path, status.err);
    case IoStep::SameFile:
      return print_same_file_error(to, output_path);
    case IoStep::WriteOutput:
      return print_write_error(to, output_path);
  }
}
