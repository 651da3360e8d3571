// The run from the command line to the final report.
#include "cli/run.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "cli/parse_options.h"
#include "cli/screens.h"
#include "report/console.h"
#include "report/savings.h"
#include "report/totals.h"
#include "run/drive.h"
#include "run/scheduler.h"
#include "traverse/file_io.h"
#include "traverse/options.h"

namespace {

constexpr int kExitAfterRun = 1;
constexpr int kExitUnusableOutput = 255;

void show_screen(Screen screen) {
  switch (screen) {
    case Screen::ShortUsage:
      print_short_usage();
      break;
    case Screen::Documentation:
      print_documentation();
      break;
    case Screen::Licence:
      print_licence();
      break;
    case Screen::Version:
      print_version_banner();
      break;
    case Screen::None:
      break;
  }
}

// Makes sure the output directory exists and notes which it is; false (after its message) when
// it cannot be used.
bool prepare_output_dir(const Options& options, RunState& run) {
  struct stat st {};
  if (::stat(options.output_dir.c_str(), &st) != 0) {
    const int err = errno;
    if (err == EACCES) {
      print_output_dir_denied(options.output_dir.c_str());
      return false;
    }
    // Only the last component is created, like mkdir(1) without -p.
    if (err == ENOENT && ::mkdir(options.output_dir.c_str(), 0700) != 0) {
      print_output_dir_create_failed(options.output_dir.c_str());
      return false;
    }
  }
  // Opened once: every output below it is made through this descriptor, never by its path. The
  // directory the user named may itself be a link; nothing below it is followed.
  run.output_root = open_dir_at(AT_FDCWD, options.output_dir.c_str(), Links::Follow);
  if (!run.output_root) run.output_root_error = errno;
  return true;
}

// Directories held open (a walk's, and those of files waiting for a worker) are bounded, but
// more than the customary soft limit of 1024 may be open at once on a deep or wide tree.
void raise_descriptor_limit() {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
}

}  // namespace

int run(int argc, char** argv) {
  Options options;
  Totals totals;
  reset_options(options);
  reset_totals(totals);
  if (const Screen screen = parse_options(argc, argv, options); screen != Screen::None) {
    show_screen(screen);
    return kExitAfterRun;
  }
  apply_default_formats(options);
  if (optind >= argc) {
    print_demo_line();
    print_version_banner();
    print_short_usage();
    return kExitAfterRun;
  }
  if (!options.output_dir_given) {
    try {
      options.output_dir = "./sveltered";
    } catch (const std::bad_alloc&) {
      print_memory_error(stdout);
      return kExitUnusableOutput;
    }
  }
  RunState run_state;
  run_state.mapping.output_dir = options.output_dir;
  clear_umask();
  raise_descriptor_limit();
  if (!prepare_output_dir(options, run_state)) return kExitUnusableOutput;

  print_demo_line();
  const bool report = options.verbose || options.final_report || options.logging;
  if (report) print_outputting_to(options.output_dir.c_str());
  Scheduler scheduler(options, worker_count(options));
  for (; optind < argc; ++optind) process_input_path(argv[optind], options, run_state, scheduler);
  totals = scheduler.finish();
  if (report) print_final_report(totals);
  return kExitAfterRun;
}
