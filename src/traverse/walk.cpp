#include "traverse/walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <vector>

#include "report/console.h"
#include "traverse/dispatch.h"
#include "traverse/file_io.h"
#include "traverse/output_path.h"

namespace {

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

// One directory being walked. Its entries are read whole and the stream closed before any of
// them is handled, so a tree of any depth holds no more than one directory stream at a time.
struct Frame {
  std::string path;
  std::vector<std::string> names;  // in the order the directory delivered them
  std::size_t next = 0;
  dev_t dev = 0;
  ino_t ino = 0;
};

bool same_file(const struct stat& st, dev_t dev, ino_t ino) {
  return st.st_dev == dev && st.st_ino == ino;
}

bool is_output_dir(const Options& options, const struct stat& st) {
  return options.output_dir_known && same_file(st, options.output_dev, options.output_ino);
}

// Made with 0700, then given its source's mode; a link planted at the mirror path keeps the
// mode of whatever it points to.
void make_mirror(const Options& options, std::string_view relative_name, mode_t source_mode) {
  const std::string mirror = output_path_for(options, relative_name);
  ::mkdir(mirror.c_str(), 0700);
  const int fd = ::open(mirror.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  ::fchmod(fd, output_mode(source_mode));
  ::close(fd);
}

// The directory's entry names; none (after its message) when it cannot be opened.
std::optional<std::vector<std::string>> read_entries(const std::string& path) {
  Dir dir{::opendir(path.c_str())};
  if (!dir) {
    print_open_dir_error(path.c_str());
    return std::nullopt;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir.get())) names.emplace_back(entry->d_name);
  return names;
}

bool push_frame(std::vector<Frame>& stack, const std::string& path, const struct stat& st) {
  std::optional<std::vector<std::string>> names = read_entries(path);
  if (!names) return false;
  stack.push_back(Frame{path, std::move(*names), 0, st.st_dev, st.st_ino});
  return true;
}

bool on_walk_path(const std::vector<Frame>& stack, const struct stat& st) {
  for (const Frame& frame : stack)
    if (same_file(st, frame.dev, frame.ino)) return true;
  return false;
}

void report_stat_failure(const std::string& path, int err) {
  if (err == EACCES)
    print_permission_denied(path.c_str());
  else if (err == ENOENT)
    print_missing(path.c_str());
  else
    print_stat_error(path.c_str());
}

}  // namespace

void walk_input_directory(const std::string& path, std::string_view relative_name,
                          const struct stat& st, const Options& options, Totals& totals) {
  if (is_output_dir(options, st)) return;
  make_mirror(options, relative_name, st.st_mode);
  process_directory(path, st, options, totals);
}

void process_directory(const std::string& path, const struct stat& st, const Options& options,
                       Totals& totals) {
  std::vector<Frame> stack;
  if (!push_frame(stack, path, st)) return;
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next == frame.names.size()) {
      stack.pop_back();
      continue;
    }
    const std::string& name = frame.names[frame.next++];
    const std::string entry_path = frame.path + "/" + name;
    struct stat entry {};
    if (::stat(entry_path.c_str(), &entry) != 0) {
      report_stat_failure(entry_path, errno);
      continue;
    }
    if (S_ISREG(entry.st_mode)) {
      ++totals.files_seen;
      process_regular_file(entry_path.c_str(), relative_name_of(options, entry_path), entry,
                           options, totals);
    } else if (S_ISDIR(entry.st_mode)) {
      if (name == "." || name == "..") continue;
      if (is_output_dir(options, entry) || on_walk_path(stack, entry)) continue;
      make_mirror(options, relative_name_of(options, entry_path), entry.st_mode);
      push_frame(stack, entry_path, entry);  // invalidates `frame` and `name`
    }
    // Devices, FIFOs and sockets are never opened.
  }
}
