// Command-line paths to work: stat, map, mirror directories through descriptors, hand files in.
#include "run/drive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <utility>
#include <vector>

#include "report/console.h"
#include "run/stop.h"
#include "traverse/file_io.h"
#include "traverse/manifest.h"
#include "traverse/pipeline.h"
#include "traverse/siblings.h"

namespace {

// The share of a path that printed its failure.
constexpr Totals kFailed{.failures = 1};

void report_stat_failure(std::FILE* to, const std::string& path, int err) {
  if (err == EACCES)
    print_permission_denied(to, path.c_str());
  else if (err == ENOENT)
    print_missing(to, path.c_str());
  else
    print_stat_error(to, path.c_str());  // a path never vanishes without a word
}

// The last '/'-separated part of `path` (the whole of it when it has no '/').
std::string_view last_name(std::string_view path) {
  const auto slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// `path` without its last part.
std::string_view parent_part(std::string_view path) {
  const auto slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

// The directory that holds `path` and the name in it; none when that directory cannot be
// looked at (then nothing can be written there either).
std::optional<NameKey> name_key_of(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  struct stat st {};
  if (::stat(directory_of(path).c_str(), &st) != 0) return std::nullopt;
  return NameKey{file_id(st), std::string(last_name(path))};
}

// An output's directory: open, or why not.
struct OutputDir {
  DirRef dir;
  int error = 0;
  bool made = false;  // this run made it
};

class Driver final : public WalkEvents {
 public:
  // `mapping`: how this command-line path and everything under it are mapped to outputs.
  Driver(const Options& options, const RunState& run, OutputMapping mapping, Scheduler& scheduler)
      : options_(options), run_(run), mapping_(std::move(mapping)), scheduler_(scheduler) {}

  // A regular file `input_name` in `input_dir` (null: `path` is opened as it is); its output
  // goes into `output` under the last part of its output path.
  void submit_file(const std::string& path, const struct stat& st, DirRef input_dir,
                   std::string_view input_name, const std::optional<NameKey>& input,
                   const OutputDir& output,
                   const std::optional<FileState>& output_seen = std::nullopt) {
    if (stop_signal() != 0) return;  // a stopped run takes no new file
    scheduler_.count(Totals{.files_seen = 1});
    FileWork work;
    work.path = path;
    work.st = st;
    work.kind = classify_extension(path, options_);
    if (!has_work(work.kind, options_)) return;
    work.output_path = output_path_for(mapping_, relative_name_of(mapping_, path));
    work.output_name = last_name(work.output_path);
    work.output_dir = output.dir;
    work.output_dir_error = output.dir ? 0 : output.error;
    work.in_new_dir = output.made;
    work.input_dir = std::move(input_dir);
    work.input_name = input_name;
    if (run_.update != nullptr) {
      // An output left as the last run wrote it costs no worker and prints nothing.
      name_in_record(work);
      if (work.output_name == kManifestName && output.dir && run_.output_root &&
          output.dir->id() == run_.output_root->id()) {
        // The record takes that name at the end of the run: the file would be lost under it.
        scheduler_.count(kFailed);
        scheduler_.say(
            [&](std::FILE* to) { print_name_kept_for_record(to, work.output_path.c_str()); });
        return;
      }
      if (const std::optional<Totals> share = run_.update->up_to_date_share(work, output_seen)) {
        scheduler_.count(*share);
        return;
      }
    }
    std::optional<NameKey> output_key;
    if (output.dir) output_key = NameKey{output.dir->id(), work.output_name};
    FileCost cost{.bytes_held = bytes_held(work)};
    if (wants_siblings(work, options_)) {
      cost.bytes_held += sibling_bytes_held(work, options_);
      cost.siblings = options_.precompress.size();
    }
    if (run_.ahead != nullptr && output.dir) run_.ahead->writes_into(output.dir->id());
    scheduler_.submit(std::move(work), cost, std::move(output_key), input);
  }

  // Mirrors the directory at `path` as `name` in `parent` and holds the mirror for what the walk
  // finds inside. False for the output directory, which is neither mirrored nor walked.
  bool mirror(const std::string& path, const struct stat& st, const OutputDir& parent,
              std::string_view name, bool top, DirRef opened = nullptr) {
    if (run_.output_root && run_.output_root->id() == file_id(st)) return false;
    if (stop_signal() != 0) return false;
    const std::string mirror_path = output_path_for(mapping_, relative_name_of(mapping_, path));
    if (scheduler_.pooled()) {
      // An earlier file may still be writing where the mirror goes.
      if (parent.dir)
        scheduler_.wait_for_name(parent.dir->id(), name);
      else
        scheduler_.wait_for_all();
      // A directory takes room too, which an earlier file may need.
      if (parent.dir) scheduler_.before_making_directory(*parent.dir);
    }
    const OutputDir made = make_mirror(parent, std::string(name), st, std::move(opened));
    if (made.made && run_.ahead != nullptr) run_.ahead->writes_into(parent.dir->id());
    if (!made.dir && (parent.dir || top)) {
      // Said once, where it failed; below it every file says it cannot open its output.
      scheduler_.count(kFailed);
      scheduler_.say(
          [&](std::FILE* to) { print_open_output_error(to, mirror_path.c_str(), made.error); });
    }
    mirrors_.push(made.dir, std::string(name), made.dir ? made.dir->id() : FileId{});
    ahead_.emplace_back();
    made_.push_back(made.made);
    errors_.push_back(made.error);
    return true;
  }

  void before_looking(FileId dir, std::string_view name, bool maybe_link) override {
    if (!scheduler_.pooled()) return;
    if (maybe_link)
      scheduler_.wait_for_all();  // a link may lead anywhere an earlier file writes
    else if (name.empty())
      scheduler_.wait_for_dir(dir);
    else
      scheduler_.wait_for_name(dir, name);
  }

  void file(const std::string& path, const struct stat& st, const DirRef& dir,
            std::string_view name) override {
    std::optional<FileState> output_seen;
    if (ahead_.back()) output_seen = ahead_.back()->output_of(name);
    submit_file(path, st, dir, name, NameKey{dir->id(), std::string(name)}, current_mirror(),
                output_seen);
  }

  std::shared_ptr<LookedAhead> listed(const DirRef& dir,
                                      std::span<const ListedEntry> entries) override {
    if (run_.ahead == nullptr) return nullptr;
    std::shared_ptr<AheadListing> below = std::move(below_);
    if (below && below->made_for(dir->id(), mirrors_.top()))
      ahead_.back() = run_.ahead->adopt(std::move(below));
    else
      ahead_.back() = run_.ahead->look(dir, mirrors_.top(), entries);
    return ahead_.back();
  }

  bool directory(const std::string& path, const struct stat& st, FileId,
                 std::string_view name) override {
    DirRef opened = ahead_.back() ? ahead_.back()->mirror_of(name) : nullptr;
    below_ = ahead_.back() ? ahead_.back()->child_of(name) : nullptr;
    return mirror(path, st, current_mirror(), name, false, std::move(opened));
  }

  void left_directory() override {
    mirrors_.pop();
    ahead_.pop_back();
    made_.pop_back();
    errors_.pop_back();
  }

  void stat_failed(const std::string& path, int err) override {
    if (stop_signal() != 0) return;
    scheduler_.count(kFailed);
    scheduler_.say([&](std::FILE* to) { report_stat_failure(to, path, err); });
  }

  void open_failed(const std::string& path) override {
    if (stop_signal() != 0) return;
    scheduler_.count(kFailed);
    scheduler_.say([&](std::FILE* to) { print_open_dir_error(to, path.c_str()); });
  }

 private:
  // Names `work`'s output in the record by its path below the output directory. An output whose
  // name could not be kept safely is not recorded: it is done again on every run.
  void name_in_record(FileWork& work) const {
    const std::string& dir = run_.mapping.output_dir;
    if (work.output_path.compare(0, dir.size(), dir) != 0) return;
    // "out/./a.txt" (the walk of ".") is recorded as "a.txt".
    std::string name;
    std::string_view rest = std::string_view(work.output_path).substr(dir.size());
    while (!rest.empty()) {
      const std::size_t slash = std::min(rest.find('/'), rest.size());
      const std::string_view part = rest.substr(0, slash);
      rest.remove_prefix(std::min(slash + 1, rest.size()));
      if (part.empty() || part == ".") continue;
      if (!name.empty()) name += '/';
      name += part;
    }
    if (!safe_output_name(name)) return;
    work.record_name = std::move(name);
    work.recorder = run_.update;
  }

  // Made with its source's mode (the run's umask is cleared) in `parent`, and opened without
  // following a link: a link or anything else planted where the mirror goes is an error, never
  // followed, never replaced. A mirror that was there already is given the mode through its
  // descriptor, unless it is the source directory itself (an output directory over the input
  // tree): inputs are never changed. Opened before it is made, since on a re-run it mostly is
  // there already, with its mode; `opened`: opened so already.
  static OutputDir make_mirror(const OutputDir& parent, const std::string& name,
                               const struct stat& source, DirRef opened) {
    if (!parent.dir) return {nullptr, parent.error, false};
    const mode_t mode = output_mode(source.st_mode);
    DirRef dir =
        opened ? std::move(opened) : open_dir_at(parent.dir->fd(), name.c_str(), Links::Refuse);
    bool made = false;
    if (!dir && errno == ENOENT) {
      made = ::mkdirat(parent.dir->fd(), name.c_str(), mode) == 0;
      const int make_error = errno;
      if (!made && make_error != EEXIST) return {nullptr, make_error, false};
      dir = open_dir_at(parent.dir->fd(), name.c_str(), Links::Refuse);
    }
    if (!dir) return {nullptr, errno, false};
    if (!made && dir->id() != file_id(source) && dir->permissions() != mode)
      ::fchmod(dir->fd(), mode);
    return {std::move(dir), 0, made};
  }

  OutputDir current_mirror() {
    OutputDir out{mirrors_.top(), errors_.back(), made_.back()};
    if (!out.dir && out.error == 0) out.error = ENOENT;
    return out;
  }

  const Options& options_;
  const RunState& run_;
  const OutputMapping mapping_;
  Scheduler& scheduler_;
  DirChain mirrors_{Links::Refuse};  // the mirror of each directory the walk stands in
  std::vector<bool> made_;           // beside each: this run made it
  std::vector<int> errors_;          // beside each: why it could not be made or opened
  std::vector<std::shared_ptr<AheadListing>> ahead_;  // beside each: its files looked up ahead
  std::shared_ptr<AheadListing> below_;  // of the directory about to be entered, looked up ahead
};

}  // namespace

void process_input_path(std::string path, const Options& options, RunState& run,
                        Scheduler& scheduler) {
  std::optional<NameKey> input;
  if (scheduler.pooled()) {
    // An earlier file's output may be what this path names: it is looked at once written.
    input = name_key_of(path);
    struct stat link {};
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
      scheduler.wait_for_all();
    else if (input)
      scheduler.wait_for_name(input->dir, input->name);
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    const int err = errno;
    scheduler.count(kFailed);
    scheduler.say([&](std::FILE* to) { report_stat_failure(to, path, err); });
    return;
  }
  const bool is_file = S_ISREG(st.st_mode);
  const bool is_walked_dir = S_ISDIR(st.st_mode) && options.recurse;
  if (S_ISDIR(st.st_mode) && !options.recurse) print_directory_not_walked(path.c_str());
  if (!is_file && !is_walked_dir) return;

  if (is_walked_dir && !path.empty() && path.back() == '/') path.pop_back();  // one '/' only
  if (!run.prefix_known) {
    run.mapping.input_prefix = input_prefix_of(path);
    run.prefix_known = true;
  }
  const std::optional<OutputMapping> mapping = mapping_for_input(run.mapping, path);
  const auto refuse = [&](const auto& print) {
    if (is_file) scheduler.count(Totals{.files_seen = 1});
    scheduler.count(kFailed);
    scheduler.say([&](std::FILE* to) {
      print(to);
      print_skipped(to, path.c_str());
    });
  };
  if (!mapping) {
    refuse([&](std::FILE* to) { print_outside_output_dir(to, path.c_str()); });
    return;
  }
  const std::string_view relative = relative_name_of(*mapping, path);
  OutputClaim claim{path, output_path_for(*mapping, relative), file_id(st), is_walked_dir};
  const OutputClaim* taken = colliding_claim(run.claims, claim, [](const std::string& p) {
    struct stat there {};
    return ::stat(p.c_str(), &there) == 0 ? std::optional<FileId>(file_id(there)) : std::nullopt;
  });
  if (taken != nullptr) {
    refuse([&](std::FILE* to) { print_output_taken(to, taken->input.c_str(), path.c_str()); });
    return;
  }
  run.claims.push_back(std::move(claim));
  Driver driver(options, run, *mapping, scheduler);
  // The output's directory is reached from the output directory one name at a time, no link
  // followed: only -r makes mirror directories, so a file's must be there already.
  OutputDir parent{nullptr, run.output_root_error, false};
  if (run.output_root) {
    parent.dir = open_dir_beneath(run.output_root, parent_part(relative));
    if (!parent.dir) parent.error = errno;
  }
  if (is_file) {
    driver.submit_file(path, st, nullptr, {}, input, parent);
    return;
  }
  DirRef top = open_dir_at(AT_FDCWD, path.c_str(), Links::Follow);
  if (!driver.mirror(path, st, parent, last_name(relative), true)) return;
  if (top && top->id() == file_id(st)) {
    walk_directory(path, top, driver);
  } else {
    driver.open_failed(path);
    driver.left_directory();
  }
}
