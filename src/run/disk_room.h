// Room on the file systems outputs go to: how much the files handed in and not yet done may
// take, and whether one more file or directory still fits beside them.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <unordered_map>

// Space on a file system: bytes (whole blocks) and inodes.
struct Room {
  std::int64_t bytes = 0;
  std::int64_t inodes = 0;
  Room& operator+=(const Room& r) {
    bytes += r.bytes;
    inodes += r.inodes;
    return *this;
  }
  Room& operator-=(const Room& r) {
    bytes -= r.bytes;
    inodes -= r.inodes;
    return *this;
  }
};

// What a file system says it has free.
struct FreeSpace {
  std::int64_t block = 4096;
  Room free;
};

// Asks the file system that holds a directory (open as `dir`) for its free space; none when it
// gives no figures. Tests put a fake in its place.
struct SpaceProbe {
  virtual std::optional<FreeSpace> measure(int dir) = 0;

 protected:
  ~SpaceProbe() = default;
};

// The probe of the real file systems (fstatvfs).
SpaceProbe& system_space_probe();

// Files run side by side only while their file system has room for every file handed in and not
// yet done, so that no file finds it full where one worker, running them in order, would not
// have. Not thread-safe: the scheduler calls it under its lock.
class DiskRoom {
 public:
  explicit DiskRoom(SpaceProbe& probe) : probe_(probe) {}

  // The most an output of an input of `size` bytes, named by a path of `path_size` bytes, and
  // its compressed `siblings` may take on the file system `dev` (the directory `dir` is on it).
  Room need_for(dev_t dev, int dir, std::int64_t size, std::size_t path_size, int siblings = 0);
  // A file handed in, and one done.
  void add(dev_t dev, int dir, const Room& need);
  void done(dev_t dev, const Room& need);
  // Whether the file system has room to spare once every file not yet done is, and `extra`
  // too; it is measured again first when the count says no (files often take less than they
  // may).
  bool room_to_spare(dev_t dev, int dir, const Room& extra = {});
  // Counts `room` as taken by something that is no file (a directory).
  void take(dev_t dev, int dir, const Room& room);
  // What a directory takes.
  Room directory_need(dev_t dev, int dir);

 private:
  struct Disk {
    std::int64_t block = 4096;
    Room pending;     // what the files handed in and not yet done may take, at most
    Room left_after;  // free once they are done: as last measured, less what came since
  };
  Disk& disk_of(dev_t dev, int dir);
  void measure(Disk& disk, int dir);

  SpaceProbe& probe_;
  std::unordered_map<dev_t, Disk> disks_;
};
