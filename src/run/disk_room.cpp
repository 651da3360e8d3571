// Counting the room outputs may take on their file systems.
#include "run/disk_room.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <limits>

namespace {

// Room taken for unknown: a file system that gives no figures.
constexpr std::int64_t kEndless = std::numeric_limits<std::int64_t>::max() / 4;

// What a file system keeps free beyond the files' own room: files may take a little more than
// counted (indirect blocks, a directory that grows).
constexpr std::int64_t kSpareBytes = std::int64_t{256} << 10;
constexpr std::int64_t kSpareInodes = 8;

std::int64_t blocks_for(std::int64_t bytes, std::int64_t block) {
  return (bytes + block - 1) / block * block;
}

struct SystemProbe final : SpaceProbe {
  std::optional<FreeSpace> measure(int dir) override {
    struct statvfs fs {};
    if (::fstatvfs(dir, &fs) != 0) return std::nullopt;
    FreeSpace space;
    const auto unit = static_cast<std::int64_t>(fs.f_frsize > 0 ? fs.f_frsize : fs.f_bsize);
    if (unit > 0 && unit <= (std::int64_t{1} << 24)) space.block = unit;
    const std::uint64_t blocks = fs.f_bavail;
    space.free.bytes = blocks > static_cast<std::uint64_t>(kEndless / space.block)
                           ? kEndless
                           : static_cast<std::int64_t>(blocks) * space.block;
    // Some file systems have no fixed number of inodes and say so with zero.
    space.free.inodes = fs.f_files == 0 || fs.f_favail > static_cast<std::uint64_t>(kEndless)
                            ? kEndless
                            : static_cast<std::int64_t>(fs.f_favail);
    return space;
  }
};

}  // namespace

SpaceProbe& system_space_probe() {
  static SystemProbe probe;  // stateless
  return probe;
}

// Without figures the room counts as endless: the retry after a full disk then keeps the results
// in order.
void DiskRoom::measure(Disk& disk, int dir) {
  const std::optional<FreeSpace> space = probe_.measure(dir);
  if (!space) {
    disk.left_after = {kEndless, kEndless};
    return;
  }
  disk.block = space->block;
  disk.left_after = space->free;
  disk.left_after -= disk.pending;
}

DiskRoom::Disk& DiskRoom::disk_of(dev_t dev, int dir) {
  const auto [it, added] = disks_.try_emplace(dev);
  if (added) measure(it->second, dir);
  return it->second;
}

bool DiskRoom::room_to_spare(dev_t dev, int dir, const Room& extra) {
  Disk& disk = disk_of(dev, dir);
  const auto spare = [&] {
    return disk.left_after.bytes - extra.bytes >= kSpareBytes &&
           disk.left_after.inodes - extra.inodes >= kSpareInodes;
  };
  if (spare()) return true;
  measure(disk, dir);
  return spare();
}

void DiskRoom::take(dev_t dev, int dir, const Room& room) { disk_of(dev, dir).left_after -= room; }

// The input's bytes (no output is longer) and a banner naming it, in whole blocks, and a block
// more for its name in the directory; an inode for it, and one for a temporary file beside it.
Room DiskRoom::need_for(dev_t dev, int dir, std::int64_t size, std::size_t path_size,
                       int siblings) {
  // Capped so that the sums of a queue of (sparse) giants cannot overflow; one such file is
  // more than any file system holds.
  constexpr std::int64_t kMost = std::int64_t{1} << 50;
  const std::int64_t block = disk_of(dev, dir).block;
  const std::int64_t banner = 1024 + 5 * static_cast<std::int64_t>(path_size);
  const std::int64_t bytes = std::min<std::int64_t>(size, kMost) + banner;
  // Each compressed sibling is at most nine tenths of the output, or not written.
  const Room sibling{blocks_for(bytes, block), 2};
  Room need{blocks_for(bytes, block) + block, 2};
  for (int k = 0; k < siblings; ++k) need += sibling;
  return need;
}

Room DiskRoom::directory_need(dev_t dev, int dir) { return {2 * disk_of(dev, dir).block, 1}; }

void DiskRoom::add(dev_t dev, int dir, const Room& need) {
  Disk& disk = disk_of(dev, dir);
  disk.pending += need;
  disk.left_after -= need;
}

void DiskRoom::done(dev_t dev, const Room& need) { disks_[dev].pending -= need; }
