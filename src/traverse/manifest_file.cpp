// Reading and writing the --update record below the output directory's descriptor.
#include "traverse/manifest_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <new>
#include <string>

#include "traverse/file_io.h"
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
      read.bytes.resize(static_cast<std::size_t>(st.st_size));
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

bool write_manifest_file(const DirFd& root, std::string_view text) {
  const std::string name(kManifestName);
  const OutputPlace place{root.fd(), name.c_str(), name.c_str()};
  // create_temp_output prints only its own open failure; the caller says what failed instead.
  std::FILE* quiet = std::fopen("/dev/null", "w");
  if (quiet == nullptr) return false;
  std::optional<TempOutput> temp = create_temp_output(quiet, place);
  const int open_error = errno;
  std::fclose(quiet);
  if (!temp) {
    errno = open_error;
    return false;
  }
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = ::write(temp->fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : EIO;
      discard_temp_output(*temp);
      errno = err;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(temp->fd) != 0) {
    const int err = errno;
    discard_temp_output(*temp);
    errno = err;
    return false;
  }
  if (!finish_temp_output(*temp, place, 0600)) return false;
  ::fsync(root.fd());  // the new name itself; a file system that cannot sync directories is fine
  return true;
}
