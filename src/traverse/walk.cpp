#include "traverse/walk.h"

#include <dirent.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <vector>

namespace {

struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

struct Entry {
  std::string name;
  bool maybe_link;  // what readdir says, for free: a link, or a file system that does not say
};

// One directory being walked. Its entries are read whole and the stream closed before any of
// them is handled, so a tree of any depth holds no more than one directory stream at a time.
struct Frame {
  std::string path;
  std::vector<Entry> entries;  // in the order the directory delivered them
  std::size_t next = 0;
  FileId id;
};

// The directory's entries; none when it cannot be opened.
std::optional<std::vector<Entry>> read_entries(const std::string& path) {
  Dir dir{::opendir(path.c_str())};
  if (!dir) return std::nullopt;
  std::vector<Entry> entries;
  while (const dirent* entry = ::readdir(dir.get()))
    entries.push_back({entry->d_name, entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN});
  return entries;
}

void push_frame(std::vector<Frame>& stack, const std::string& path, const struct stat& st,
                WalkEvents& events) {
  events.before_looking(file_id(st), {}, false);
  std::optional<std::vector<Entry>> entries = read_entries(path);
  if (!entries) {
    events.open_failed(path);
    return;
  }
  stack.push_back(Frame{path, std::move(*entries), 0, file_id(st)});
}

bool on_walk_path(const std::vector<Frame>& stack, FileId id) {
  for (const Frame& frame : stack)
    if (frame.id == id) return true;
  return false;
}

}  // namespace

void walk_directory(const std::string& path, const struct stat& st, WalkEvents& events) {
  std::vector<Frame> stack;
  push_frame(stack, path, st, events);
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next == frame.entries.size()) {
      stack.pop_back();
      continue;
    }
    const Entry& entry = frame.entries[frame.next++];
    const std::string entry_path = frame.path + "/" + entry.name;
    events.before_looking(frame.id, entry.name, entry.maybe_link);
    struct stat entry_st {};
    if (::stat(entry_path.c_str(), &entry_st) != 0) {
      events.stat_failed(entry_path, errno);
      continue;
    }
    if (S_ISREG(entry_st.st_mode)) {
      events.file(entry_path, entry_st, frame.id);
    } else if (S_ISDIR(entry_st.st_mode)) {
      if (entry.name == "." || entry.name == "..") continue;
      if (on_walk_path(stack, file_id(entry_st))) continue;
      if (events.directory(entry_path, entry_st, frame.id))
        push_frame(stack, entry_path, entry_st, events);  // invalidates `frame` and `entry`
    }
  }
}
