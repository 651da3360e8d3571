#include "run/drive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <unordered_map>

#include "report/console.h"
#include "traverse/file_io.h"
#include "traverse/pipeline.h"

namespace {

void report_stat_failure(std::FILE* to, const std::string& path, int err) {
  if (err == EACCES)
    print_permission_denied(to, path.c_str());
  else if (err == ENOENT)
    print_missing(to, path.c_str());
  else
    print_stat_error(to, path.c_str());  // a path never vanishes without a word
}

// The directory that holds `path` and the name in it; none when that directory cannot be
// looked at (then nothing can be written there either).
std::optional<NameKey> name_key_of(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const auto slash = path.rfind('/');
  struct stat st {};
  if (::stat(directory_of(path).c_str(), &st) != 0) return std::nullopt;
  return NameKey{file_id(st),
                 std::string(slash == std::string_view::npos ? path : path.substr(slash + 1))};
}

// A mirror directory: which it is, and whether this run made it.
struct Mirror {
  FileId id;
  bool made;
};

// Made with its source's mode (the run's umask is cleared); one that was there already is given
// it through a handle that never follows a link, so a link planted at the mirror path keeps the
// mode of whatever it points to. None when the mirror is not a directory.
std::optional<Mirror> make_mirror(const std::string& mirror, mode_t source_mode) {
  const bool made = ::mkdir(mirror.c_str(), output_mode(source_mode)) == 0;
  struct stat made_st {};
  if (made && ::lstat(mirror.c_str(), &made_st) == 0 && S_ISDIR(made_st.st_mode))
    return Mirror{file_id(made_st), true};
  const int fd = ::open(mirror.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  ::fchmod(fd, output_mode(source_mode));
  struct stat st {};
  const bool known = ::fstat(fd, &st) == 0;
  ::close(fd);
  return known ? std::optional<Mirror>(Mirror{file_id(st), made}) : std::nullopt;
}

class Driver final : public WalkEvents {
 public:
  Driver(const Options& options, const RunState& run, Scheduler& scheduler)
      : options_(options), run_(run), scheduler_(scheduler) {}

  // A regular file; `input` and `output_dir`: where it is read and where it is written.
  void submit_file(const std::string& path, const struct stat& st,
                   const std::optional<NameKey>& input, std::optional<Mirror> output_dir) {
    scheduler_.count(Totals{.files_seen = 1});
    FileWork work{path, {}, st, classify_extension(path, options_)};
    if (!has_work(work.kind, options_)) return;
    work.output_path = output_path_for(run_.mapping, relative_name_of(run_.mapping, path));
    std::optional<NameKey> output;
    if (output_dir) {
      work.in_new_dir = output_dir->made;
      output = NameKey{output_dir->id, {}};
      output->name = work.output_path.substr(work.output_path.rfind('/') + 1);
    }
    scheduler_.submit(std::move(work), std::move(output), input);
  }

  // Mirrors the directory at `path` and remembers the mirror for the files inside it. False
  // for the output directory, which is neither mirrored nor walked.
  bool mirror(const std::string& path, const struct stat& st,
              const std::optional<NameKey>& mirror_key) {
    if (run_.output_dir && *run_.output_dir == file_id(st)) return false;
    const std::string mirror_path =
        output_path_for(run_.mapping, relative_name_of(run_.mapping, path));
    if (scheduler_.pooled()) {
      // An earlier file may still be writing where the mirror goes.
      if (mirror_key)
        scheduler_.wait_for_name(mirror_key->dir, mirror_key->name);
      else
        scheduler_.wait_for_all();
      // A directory takes room too, which an earlier file may need.
      if (mirror_key) scheduler_.before_making_directory(mirror_key->dir.dev, mirror_path);
    }
    mirrors_[file_id(st)] = make_mirror(mirror_path, st.st_mode);
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

  void file(const std::string& path, const struct stat& st, FileId dir) override {
    const std::string_view name = std::string_view(path).substr(path.rfind('/') + 1);
    submit_file(path, st, NameKey{dir, std::string(name)}, mirror_of(dir));
  }

  bool directory(const std::string& path, const struct stat& st, FileId dir) override {
    std::optional<NameKey> key;
    if (const std::optional<Mirror> parent_mirror = mirror_of(dir))
      key = NameKey{parent_mirror->id, path.substr(path.rfind('/') + 1)};
    return mirror(path, st, key);
  }

  void stat_failed(const std::string& path, int err) override {
    scheduler_.say([&](std::FILE* to) { report_stat_failure(to, path, err); });
  }

  void open_failed(const std::string& path) override {
    scheduler_.say([&](std::FILE* to) { print_open_dir_error(to, path.c_str()); });
  }

 private:
  std::optional<Mirror> mirror_of(FileId dir) const {
    const auto it = mirrors_.find(dir);
    return it != mirrors_.end() ? it->second : std::nullopt;
  }

  const Options& options_;
  const RunState& run_;
  Scheduler& scheduler_;
  std::unordered_map<FileId, std::optional<Mirror>, FileIdHash> mirrors_;
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
    scheduler.say([&](std::FILE* to) { report_stat_failure(to, path, err); });
    return;
  }
  const bool is_file = S_ISREG(st.st_mode);
  const bool is_walked_dir = S_ISDIR(st.st_mode) && options.recurse;
  if (!is_file && !is_walked_dir) return;

  if (is_walked_dir && !path.empty() && path.back() == '/') path.pop_back();  // one '/' only
  if (!run.prefix_known) {
    run.mapping.input_prefix = input_prefix_of(path);
    run.prefix_known = true;
  }
  Driver driver(options, run, scheduler);
  if (!maps_inside_output_dir(run.mapping, path)) {
    if (is_file) scheduler.count(Totals{.files_seen = 1});
    scheduler.say([&](std::FILE* to) {
      print_outside_output_dir(to, path.c_str());
      print_skipped(to, path.c_str());
    });
    return;
  }
  const std::string output = output_path_for(run.mapping, relative_name_of(run.mapping, path));
  const std::optional<NameKey> output_key = scheduler.pooled() ? name_key_of(output) : std::nullopt;
  if (is_file) {
    driver.submit_file(
        path, st, input,
        output_key ? std::optional<Mirror>(Mirror{output_key->dir, false}) : std::nullopt);
    return;
  }
  if (driver.mirror(path, st, output_key)) walk_directory(path, st, driver);
}
