// Reading and writing the --update record below the output directory's descriptor.
#include "traverse/manifest_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>

#include "traverse/descriptor_io.h"
#include "traverse/manifest.h"

ManifestRead read_manifest_file(const DirFd& root) {
  ManifestRead read;
  const std::string name(kManifestName);
  const int fd = ::openat(root.fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC |
                                                       O_NONBLOCK);
  if (fd < 0) {
    if (errno != ENOENT) read.found = ManifestRead::Found::Unusable;
    return read;
  }
  read.found = ManifestRead::Found::Unusable;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kManifestMaxSize) {
    try {
      size_for_overwrite(read.bytes, static_cast<std::size_t>(st.st_size));
      std::size_t got = 0;
      while (got < read.bytes.size()) {
        const ssize_t n = ::read(fd, read.bytes.data() + got, read.bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
      }
      if (got == read.bytes.size()) read.found = ManifestRead::Found::Whole;
    } catch (const std::bad_alloc&) {
      read.bytes = Bytes();
    }
  }
  ::close(fd);
  return read;
}

namespace {

// Writes `pieces` gathered into blocks: a large record is hundreds of thousands of lines.
bool write_pieces(int fd, std::span<const std::string_view> pieces) {
  constexpr std::size_t kBlock = std::size_t{1} << 18;
  std::string block;
  block.reserve(kBlock);
  for (const std::string_view piece : pieces) {
    if (block.size() + piece.size() > kBlock) {
      if (!write_all(fd, block.data(), block.size())) return false;
      block.clear();
    }
    if (piece.size() > kBlock) {
      if (!write_all(fd, piece.data(), piece.size())) return false;
    } else {
      block += piece;
    }
  }
  return write_all(fd, block.data(), block.size());
}

}  // namespace

bool write_manifest_file(const DirFd& root, std::span<const std::string_view> pieces) {
  const std::string name(kManifestName);
  const std::string temp = fresh_temp_name(name);
  // Made exclusively under a fresh name: nothing already there is opened or followed.
  const int fd = ::openat(root.fd(), temp.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = write_pieces(fd, pieces) && ::fsync(fd) == 0;
  int err = errno;
  // A close that fails may mean the data never reached the disk.
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && ::renameat(root.fd(), temp.c_str(), root.fd(), name.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlinkat(root.fd(), temp.c_str(), 0);
    errno = err;
    return false;
  }
  ::fsync(root.fd());  // the new name itself; a file system that cannot sync directories is fine
  return true;
}
