// The run from the command line to the final report.
#include "cli/run.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <optional>
#include <string_view>

#include "cli/filter.h"
#include "cli/parse_options.h"
#include "cli/screens.h"
#include "report/console.h"
#include "report/savings.h"
#include "report/totals.h"
#include "run/drive.h"
#include "run/scheduler.h"
#include "run/stop.h"
#include "run/update.h"
#include "traverse/file_io.h"
#include "traverse/options.h"

namespace {

constexpr int kExitAfterRun = 1;
constexpr int kExitRunHadFailures = 2;  // an input missing, or a file's "Skipped:" or "Error:"
constexpr int kExitFilterFailed = 2;
constexpr int kExitUnusableOutput = 255;
constexpr int kExitOnSignalBase = 128;  // as a shell reports a process a signal ended

void show_screen(Screen screen) {
  switch (screen) {
    case Screen::ShortUsage:
      print_short_usage();
      break;
    case Screen::Help:
      print_short_usage();
      print_long_options(filter_type_names(", ").c_str());
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

// "-" among the paths: standard input, filtered onto standard output. It stands alone.
bool filter_asked(int argc, char** argv) {
  for (int k = optind; k < argc; ++k)
    if (std::string_view(argv[k]) == "-") return true;
  return false;
}

int filter(int argc, const Options& options) {
  if (argc - optind != 1) {
    print_filter_alone();
    return kExitFilterFailed;
  }
  const std::optional<FormatKind> kind = filter_kind(options.type);
  if (!kind) {
    print_filter_needs_type(filter_type_names("|").c_str());
    return kExitFilterFailed;
  }
  return run_filter(*kind, options);
}

// A run with its options as parsed, fixed from here on.
int run_with(int argc, char** argv, const Options& options) {
  if (optind >= argc) {
    print_demo_line();
    print_version_banner();
    print_short_usage();
    return kExitAfterRun;
  }
  if (filter_asked(argc, argv)) return filter(argc, options);
  RunState run_state;
  run_state.mapping.output_dir = options.output_dir;
  clear_umask();
  raise_descriptor_limit();
  if (!prepare_output_dir(options, run_state)) return kExitUnusableOutput;

  // From here a signal ends the run between files: what is printed so far is kept.
  stop_on_signals();
  print_demo_line();
  const bool report = options.verbose || options.final_report || options.logging;
  if (report) print_outputting_to(options.output_dir.c_str());
  std::optional<UpdateRun> update;
  if (options.update && run_state.output_root) {
    update.emplace(options);
    update->load(*run_state.output_root);
    run_state.update = &*update;
  }
  Scheduler scheduler(options, worker_count(options));
  // Files found up to date take the walk no worker: a second core looks at files beside it.
  std::optional<StatAhead> ahead;
  if (update && update->trusted() && scheduler.pooled()) run_state.ahead = &ahead.emplace();
  for (; optind < argc && stop_signal() == 0; ++optind) {
    if (update) update->walked(argv[optind]);
    process_input_path(argv[optind], options, run_state, scheduler);
  }
  Totals totals = scheduler.finish();
  if (update) {
    // A stopped walk, or one with errors (an unreadable directory, a path given from another
    // working directory), may not have met every source: nothing is taken for gone. What was
    // written is recorded all the same.
    if (options.delete_gone && stop_signal() == 0) {
      if (totals.failures > 0)
        print_delete_skipped(totals.failures);
      else
        totals.failures +=
            update->delete_gone(run_state.output_root, options.output_dir, announce(options));
    }
    if (!update->save(*run_state.output_root, options.output_dir)) ++totals.failures;
  }
  if (const int signal_number = stop_signal(); signal_number != 0) {
    // The report of a run cut short would count only part of the files as if it were whole.
    print_stopped(signal_number);
    return kExitOnSignalBase + signal_number;
  }
  if (report) print_final_report(totals, options.precompress, options.update);
  return totals.failures > 0 ? kExitRunHadFailures : kExitAfterRun;
}

}  // namespace

int run(int argc, char** argv) {
  Options options;
  if (const Screen screen = parse_options(argc, argv, options); screen != Screen::None) {
    show_screen(screen);
    return kExitAfterRun;
  }
  return run_with(argc, argv, options);
}
