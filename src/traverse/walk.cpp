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

// One directory being walked. Its entries are read whole before any of them is handled.
struct Frame {
  std::size_t path_size;             // the walk's path is this long while in this directory
  std::vector<ListedEntry> entries;  // in the order the directory delivered them
  std::size_t next = 0;
  FileId id;
  std::shared_ptr<LookedAhead> ahead;  // null: nothing is looked up ahead
};

}  // namespace

std::optional<std::vector<ListedEntry>> read_entries(int fd) {
  std::vector<ListedEntry> entries;
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
      entries.push_back(
          {name, entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN, entry->d_type == DT_DIR});
    }
  }
}

namespace {

class Walk {
 public:
  Walk(const std::string& path, WalkEvents& events) : path_(path), events_(events) {}

  // Lists `dir` (unless `entries` holds its listing) and goes down into it; false (after the
  // message) when it cannot be listed.
  bool enter(DirRef dir, std::string name, FileId id,
             std::optional<std::vector<ListedEntry>> entries = std::nullopt) {
    events_.before_looking(id, {}, false);
    if (!dir || dir->id() != id)
      entries.reset();
    else if (!entries)
      entries = read_entries(dir->fd());
    if (!entries) {
      events_.open_failed(path_);
      return false;
    }
    std::shared_ptr<LookedAhead> ahead = events_.listed(dir, *entries);
    chain_.push(std::move(dir), std::move(name), id);
    frames_.push_back(Frame{path_.size(), std::move(*entries), 0, id, std::move(ahead)});
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
      const std::size_t k = frame.next++;
      const ListedEntry entry = std::move(frame.entries[k]);
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
      // A directory is opened at once and looked at through its descriptor: one look instead of
      // two. Anything unusual on the way is left to the lookup by name below, which reports it.
      if (entry.listed_dir) {
        struct stat st {};
        DirRef dir;
        std::optional<std::vector<ListedEntry>> listing;
        if (std::vector<ListedEntry> ahead;
            frame.ahead && frame.ahead->opened_dir(k, dir, st, ahead))
          listing = std::move(ahead);
        else
          dir = open_dir_at(here->fd(), entry.name.c_str(), Links::Follow, &st);
        if (dir) {
          directory(std::move(dir), st, entry.name, id, std::move(listing));
          continue;
        }
      }
      struct stat st {};
      const bool ahead = frame.ahead && frame.ahead->looked_up(k, st);
      if (!ahead && ::fstatat(here->fd(), entry.name.c_str(), &st, 0) != 0) {
        events_.stat_failed(path_, errno);
        continue;
      }
      if (S_ISREG(st.st_mode)) {
        events_.file(path_, st, here, entry.name);
      } else if (S_ISDIR(st.st_mode)) {
        // Opened as what was looked at: a directory swapped in since is not walked.
        directory(open_dir_at(here->fd(), entry.name.c_str(), Links::Follow), st, entry.name, id);
      }
    }
  }

 private:
  // The subdirectory `name` of `parent`, looked at as `st` and opened as `dir`: walked unless it
  // is one the walk stands in already (a link loop).
  void directory(DirRef dir, const struct stat& st, const std::string& name, FileId parent,
                 std::optional<std::vector<ListedEntry>> listing = std::nullopt) {
    if (on_walk_path(file_id(st))) return;
    if (!events_.directory(path_, st, parent, name)) return;
    if (!enter(std::move(dir), name, file_id(st), std::move(listing))) events_.left_directory();
  }

  void leave() {
    if (frames_.back().ahead) frames_.back().ahead->left();
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
