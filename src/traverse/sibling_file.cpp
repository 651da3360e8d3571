// Siblings are written like outputs, but through the handle of the output's directory.
#include "traverse/sibling_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <utility>

#include "traverse/descriptor_io.h"

namespace {

// Cleared for the rest of the run once the file system refuses unnamed files: every sibling
// would otherwise try twice.
std::atomic<bool> unnamed_siblings_work{true};

// A file being written in `dir`: unnamed, or under a temporary name.
struct PendingFile {
  int fd = -1;
  std::string temp;  // the temporary name, empty for an unnamed file or once renamed
  int dir = -1;
  PendingFile() = default;
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile() {
    if (fd >= 0) ::close(fd);
    if (!temp.empty()) ::unlinkat(dir, temp.c_str(), 0);
  }
};

// Opens an unnamed file in `dir`, or where there are none a file under a fresh temporary name,
// made exclusively so that nothing already there is opened. False with errno on failure.
bool open_pending(int dir, std::string_view name, PendingFile& file) {
  file.dir = dir;
  if (unnamed_siblings_work.load(std::memory_order_relaxed)) {
    file.fd = ::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (file.fd >= 0) return true;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
    unnamed_siblings_work = false;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp = fresh_temp_name(name);
    file.fd = ::openat(dir, temp.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC,
                       0600);
    if (file.fd >= 0) {
      file.temp = std::move(temp);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// Puts the complete file under `name`, replacing what is there (never through a link). An unnamed
// file goes in at once where nothing is yet; else it is linked in under a temporary name and
// renamed over `name`, so that `name` holds the old file or the new one at every moment.
bool install_pending(PendingFile& file, const char* name, bool name_taken) {
  if (file.temp.empty()) {
    if (!name_taken && link_unnamed(file.fd, file.dir, name) == 0) return true;
    if (!name_taken && errno != EEXIST) return false;
    for (int attempt = 0; file.temp.empty(); ++attempt) {
      std::string temp = fresh_temp_name(name);
      if (link_unnamed(file.fd, file.dir, temp.c_str()) == 0)
        file.temp = std::move(temp);
      else if (errno != EEXIST || attempt == 100)
        return false;
    }
  }
  if (::renameat(file.dir, file.temp.c_str(), file.dir, name) != 0) return false;
  file.temp.clear();
  return true;
}

}  // namespace

IoStatus save_sibling_file(int dir, std::string_view name, std::span<const unsigned char> data,
                           mode_t mode, const timespec& mtime) {
  const std::string name_text(name);
  struct stat there {};
  const bool name_taken = ::fstatat(dir, name_text.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0;
  if (name_taken && !S_ISREG(there.st_mode)) return {IoStep::OpenOutput};
  PendingFile file;
  if (!open_pending(dir, name, file)) return io_failed(IoStep::OpenOutput);
  // The time goes on last: servers send it as the sibling's Last-Modified, which must be the
  // output's own.
  const timespec times[2] = {{0, UTIME_OMIT}, mtime};
  if (!write_all(file.fd, data.data(), data.size()) || ::fchmod(file.fd, mode) != 0 ||
      ::futimens(file.fd, times) != 0 || !install_pending(file, name_text.c_str(), name_taken))
    return io_failed(IoStep::WriteOutput);
  // A failed close may mean the bytes never reached the disk: the sibling goes again.
  if (::close(std::exchange(file.fd, -1)) != 0) {
    const IoStatus failed = io_failed(IoStep::WriteOutput);
    ::unlinkat(dir, name_text.c_str(), 0);
    return failed;
  }
  return {};
}

void remove_stale_sibling(int dir, std::string_view name) {
  const std::string name_text(name);
  struct stat there {};
  if (::fstatat(dir, name_text.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISREG(there.st_mode))
    ::unlinkat(dir, name_text.c_str(), 0);
}
