#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <string_view>

// Which file or directory, whatever the name it was reached by.
struct FileId {
  dev_t dev = 0;
  ino_t ino = 0;
  friend bool operator==(const FileId&, const FileId&) = default;
};
inline FileId file_id(const struct stat& st) { return {st.st_dev, st.st_ino}; }

// What the walk meets, in walk order; the run decides what becomes of each.
struct WalkEvents {
  // Called before the walk lists the directory `dir` (with an empty `name`) and before it looks
  // up the entry `name` in it; `maybe_link`: the entry may be a symbolic link.
  virtual void before_looking(FileId dir, std::string_view name, bool maybe_link) = 0;
  // A regular file at `path` in the directory `dir`.
  virtual void file(const std::string& path, const struct stat& st, FileId dir) = 0;
  // A subdirectory of the directory `dir`, before it is walked: true to walk it.
  virtual bool directory(const std::string& path, const struct stat& st, FileId dir) = 0;
  virtual void stat_failed(const std::string& path, int err) = 0;
  virtual void open_failed(const std::string& path) = 0;

 protected:
  ~WalkEvents() = default;
};

// Walks the directory at `path` (no trailing '/', stat result `st`) depth first in
// directory-entry order. Directories met again on the way down (link loops) are passed over;
// devices, FIFOs and sockets are never opened.
void walk_directory(const std::string& path, const struct stat& st, WalkEvents& events);
