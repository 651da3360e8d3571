// Opening directories relative to held descriptors, and the walk's bounded chain of them.
#include "traverse/dir_fd.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

DirFd::~DirFd() {
  if (fd_ >= 0) ::close(fd_);
}

DirRef open_dir_at(int parent, const char* name, Links links, struct stat* seen) {
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (links == Links::Refuse ? O_NOFOLLOW : 0);
  const int fd = ::openat(parent, name, flags);
  if (fd < 0) {
    // O_NOFOLLOW with O_DIRECTORY reports a link as "not a directory": say what it is.
    if (links == Links::Refuse && errno == ENOTDIR) {
      struct stat st {};
      if (::fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
        errno = ELOOP;
      else
        errno = ENOTDIR;
    }
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    errno = err;
    return nullptr;
  }
  if (seen != nullptr) *seen = st;
  return std::make_shared<const DirFd>(fd, file_id(st), st.st_mode);
}

DirRef open_dir_beneath(const DirRef& base, std::string_view relative) {
  DirRef dir = base;
  std::size_t start = 0;
  while (dir && start < relative.size()) {
    std::size_t end = relative.find('/', start);
    if (end == std::string_view::npos) end = relative.size();
    const std::string_view part = relative.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {  // never climbs: callers refuse such names before they come here
      errno = EACCES;
      return nullptr;
    }
    dir = open_dir_at(dir->fd(), std::string(part).c_str(), Links::Refuse);
  }
  return dir;
}

void DirChain::push(DirRef dir, std::string name, FileId id) {
  const bool lost = !dir || (!levels_.empty() && levels_.back().lost);
  levels_.push_back(Level{lost ? nullptr : std::move(dir), std::move(name), id, lost});
  // Let go of the level that has just left the window below the walk's position, unless it is
  // one of the every-kHeld-th levels kept to open the others again from.
  if (levels_.size() > kHeld) {
    const std::size_t far = levels_.size() - 1 - kHeld;
    if (far % kHeld != 0) levels_[far].dir.reset();
  }
}

void DirChain::pop() { levels_.pop_back(); }

const DirRef& DirChain::top() {
  Level& level = levels_.back();
  if (level.dir || level.lost) return level.dir;
  std::size_t from = levels_.size() - 1;
  while (from > 0 && !levels_[from].dir && !levels_[from].lost) --from;
  for (std::size_t k = from + 1; k < levels_.size(); ++k) {
    Level& next = levels_[k];
    if (next.dir) continue;
    const DirRef& above = levels_[k - 1].dir;
    if (above) next.dir = open_dir_at(above->fd(), next.name.c_str(), links_);
    if (!next.dir || next.dir->id() != next.id) {  // moved or replaced since it was first met
      next.dir.reset();
      for (std::size_t m = k; m < levels_.size(); ++m) levels_[m].lost = true;
      break;
    }
  }
  return level.dir;
}
