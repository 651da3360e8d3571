// Directories held open by descriptor, and the chain of them a walk goes down, so that nothing
// below a held directory is ever reached again by name from the root.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

// Which file or directory, whatever the name it was reached by.
struct FileId {
  dev_t dev = 0;
  ino_t ino = 0;
  friend bool operator==(const FileId&, const FileId&) = default;
};
inline FileId file_id(const struct stat& st) { return {st.st_dev, st.st_ino}; }

// An open directory and which one it is; closed when the last holder lets go.
class DirFd {
 public:
  DirFd(int fd, FileId id, mode_t mode = 0) : fd_(fd), id_(id), mode_(mode) {}
  DirFd(const DirFd&) = delete;
  DirFd& operator=(const DirFd&) = delete;
  ~DirFd();
  int fd() const { return fd_; }
  FileId id() const { return id_; }
  // Its permission bits when opened.
  mode_t permissions() const { return mode_ & 07777; }

 private:
  int fd_;
  FileId id_;
  mode_t mode_;
};
using DirRef = std::shared_ptr<const DirFd>;

// How a name is followed when a directory is opened below another.
enum class Links { Follow, Refuse };

// The directory `name` in `parent` (a descriptor, or AT_FDCWD), opened; with Links::Refuse a
// symbolic link there is an error, never followed. Null with errno set on failure. `st`, when
// given, receives what was opened.
DirRef open_dir_at(int parent, const char* name, Links links, struct stat* st = nullptr);

// The directory `relative` ('/'-separated, no ".." component) below `base`, one component at a
// time, no symbolic link followed on the way. Null with errno set on failure.
DirRef open_dir_beneath(const DirRef& base, std::string_view relative);

// The directories from a walk's start down to where it stands. A tree of any depth holds a
// bounded number of them open: levels far from both ends are let go and opened again from the
// nearest level held, one name at a time, when the walk comes back to them; a level that is not
// the same directory when opened again is lost (null), never mistaken for another.
class DirChain {
 public:
  explicit DirChain(Links links) : links_(links) {}
  // `dir` may be null: a level that could not be opened (everything below it is lost too).
  void push(DirRef dir, std::string name, FileId id);
  void pop();
  bool empty() const { return levels_.empty(); }
  std::size_t depth() const { return levels_.size(); }
  // The deepest level, opened again if it was let go; null when it cannot be.
  const DirRef& top();

 private:
  struct Level {
    DirRef dir;
    std::string name;  // in the level above
    FileId id;
    bool lost = false;  // never opened, or not the same directory when opened again
  };
  // Levels held open nearest the walk's position; further up, every kHeld-th one.
  static constexpr std::size_t kHeld = 48;
  Links links_;
  std::vector<Level> levels_;
};
