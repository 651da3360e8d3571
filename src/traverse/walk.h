// The directory walk: depth first, by descriptors, each directory listed whole before any of its
// entries is handled.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <string_view>

#include "traverse/dir_fd.h"

// What the walk meets, in walk order; the run decides what becomes of each. `path` is the name
// messages show: the walked path joined with the names below it.
struct WalkEvents {
  // Called before the walk lists the directory `dir` (with an empty `name`) and before it looks
  // up the entry `name` in it; `maybe_link`: the entry may be a symbolic link.
  virtual void before_looking(FileId dir, std::string_view name, bool maybe_link) = 0;
  // A regular file `name` in the directory `dir`, held open.
  virtual void file(const std::string& path, const struct stat& st, const DirRef& dir,
                    std::string_view name) = 0;
  // A subdirectory `name` of the directory `dir`, before it is walked: true to walk it, and then
  // left_directory() follows once the walk is done with it.
  virtual bool directory(const std::string& path, const struct stat& st, FileId dir,
                         std::string_view name) = 0;
  virtual void left_directory() = 0;
  virtual void stat_failed(const std::string& path, int err) = 0;
  virtual void open_failed(const std::string& path) = 0;

 protected:
  ~WalkEvents() = default;
};

// Walks the directory `top`, opened from `path` (no trailing '/'), depth first in directory-entry
// order. Symbolic links are followed as a user's own path would be; directories met again on the
// way down (link loops) are passed over; devices, FIFOs and sockets are never opened. Neither
// the length of paths nor the number of descriptors bounds the depth. Ends with left_directory()
// for `top` itself.
void walk_directory(const std::string& path, const DirRef& top, WalkEvents& events);
