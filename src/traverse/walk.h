// The directory walk: depth first, by descriptors, each directory listed whole before any of its
// entries is handled.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "traverse/dir_fd.h"

// An entry of a directory as its listing gives it.
struct ListedEntry {
  std::string name;
  bool maybe_link;  // what the listing says, for free: a link, or a file system that does not say
  bool listed_dir;  // the listing says it is a directory
};

// A listed directory's entries, looked up ahead of the walk by another thread.
class LookedAhead {
 public:
  virtual ~LookedAhead() = default;
  // Entry `k`'s stat (links followed, as the walk looks), when it was looked up ahead and may
  // still be used; false: the walk looks itself.
  virtual bool looked_up(std::size_t k, struct stat& st) = 0;
  // Entry `k`, a listed directory, opened (links followed) and listed ahead: true with what was
  // opened, its stat and its entries, which are the caller's from then on; false: the walk opens
  // it itself.
  virtual bool opened_dir(std::size_t k, DirRef& dir, struct stat& st,
                          std::vector<ListedEntry>& entries) = 0;
  // The walk has left the directory: nothing more is asked.
  virtual void left() = 0;
};

// The entries of the directory open as `fd`, "." and ".." left out; none when it cannot be read.
// Read from the descriptor itself, so that the walk holds no directory stream.
std::optional<std::vector<ListedEntry>> read_entries(int fd);

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
  // The directory just entered is listed as `entries`: what may be looked up ahead of the walk,
  // or null.
  virtual std::shared_ptr<LookedAhead> listed(const DirRef&, std::span<const ListedEntry>) {
    return nullptr;
  }
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
