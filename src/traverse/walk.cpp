// The directory walk by descriptors: every entry is looked up in its directory, never by a path
// from the root.
#include "traverse/walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <optional>
#include <vector>

namespace {

struct Entry {
  std::string name;
  bool maybe_link;  // what the listing says, for free: a link, or a file system that does not say
};

// One directory being walked. Its entries are read whole before any of them is handled.
struct Frame {
  std::size_t path_size;       // the walk's path is this long while in this directory
  std::vector<Entry> entries;  // in the order the directory delivered them
  std::size_t next = 0;
  FileId id;
};

// The entries of the directory open as `fd`, "." and ".." left out; none when it cannot be read.
// Read from the descriptor itself, so that the walk holds no directory stream.
std::optional<std::vector<Entry>> read_entries(int fd) {
  std::vector<Entry> entries;
  alignas(dirent64) char buffer[32768];
  for (;;) {
    const ssize_t got = ::getdents64(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) return entries;
    for (ssize_t at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
      at += entry->d_reclen;
      const char* name = entry->d_name;
      if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
      entries.push_back({name, entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN});
    }
  }
}

class Walk {
 public:
  Walk(const std::string& path, WalkEvents& events) : path_(path), events_(events) {}

  // Lists `dir` and goes down into it; false (after the message) when it cannot be listed.
  bool enter(DirRef dir, std::string name, FileId id) {
    events_.before_looking(id, {}, false);
    std::optional<std::vector<Entry>> entries;
    if (dir && dir->id() == id) entries = read_entries(dir->fd());
    if (!entries) {
      events_.open_failed(path_);
      return false;
    }
    chain_.push(std::move(dir), std::move(name), id);
    frames_.push_back(Frame{path_.size(), std::move(*entries), 0, id});
    return true;
  }

  void run() {
    while (!frames_.empty()) {
      Frame& frame = frames_.back();
      path_.resize(frame.path_size);
      if (frame.next == frame.entries.size()) {
        leave();
        continue;
      }
      const Entry entry = std::move(frame.entries[frame.next++]);
      const FileId id = frame.id;
      const DirRef here = chain_.top();
      path_ += '/';
      path_ += entry.name;
      if (!here) {  // the directory was moved or replaced while the walk was below it
        events_.open_failed(path_.substr(0, frame.path_size));
        frame.next = frame.entries.size();
        continue;
      }
      events_.before_looking(id, entry.name, entry.maybe_link);
      struct stat st {};
      if (::fstatat(here->fd(), entry.name.c_str(), &st, 0) != 0) {
        events_.stat_failed(path_, errno);
        continue;
      }
      if (S_ISREG(st.st_mode)) {
        events_.file(path_, st, here, entry.name);
      } else if (S_ISDIR(st.st_mode) && !on_walk_path(file_id(st))) {
        if (!events_.directory(path_, st, id, entry.name)) continue;
        // Opened as what was looked at: a directory swapped in since is not walked.
        if (!enter(open_dir_at(here->fd(), entry.name.c_str(), Links::Follow), entry.name,
                   file_id(st)))
          events_.left_directory();
      }
    }
  }

 private:
  void leave() {
    frames_.pop_back();
    chain_.pop();
    events_.left_directory();
  }

  bool on_walk_path(FileId id) const {
    for (const Frame& frame : frames_)
      if (frame.id == id) return true;
    return false;
  }

  std::string path_;
  WalkEvents& events_;
  std::vector<Frame> frames_;
  DirChain chain_{Links::Follow};
};

}  // namespace

void walk_directory(const std::string& path, const DirRef& top, WalkEvents& events) {
  Walk walk(path, events);
  if (walk.enter(top, {}, top->id()))
    walk.run();
  else
    events.left_directory();
}
