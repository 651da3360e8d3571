#include "traverse/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <limits>
#include <new>

#include "report/console.h"

namespace {

// Closes what we opened on every path out of a function.
struct Fd {
  int fd;
  explicit Fd(int f) : fd(f) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  // Closes now and tells whether the close succeeded (a late write error shows here).
  bool close_checked() {
    const int f = fd;
    fd = -1;
    return ::close(f) == 0;
  }
};

bool read_all(int fd, unsigned char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::read(fd, data + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

bool write_all(int fd, const void* data, std::size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t put = ::write(fd, p + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

}  // namespace

std::optional<Bytes> load_whole_file(const char* path) {
  // O_NONBLOCK: a FIFO swapped in after the caller's stat must not hang the run.
  Fd in{::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
  if (in.fd < 0) {
    const int err = errno;
    print_open_input_error(path, err);
    return std::nullopt;
  }
  struct stat st {};
  if (::fstat(in.fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
    print_file_size_error(path);
    return std::nullopt;
  }
  const auto size = static_cast<std::uint64_t>(st.st_size);
  Bytes data;
  try {
    if (size > std::numeric_limits<std::size_t>::max() / 2) throw std::bad_alloc();
    size_for_overwrite(data, static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    print_memory_error();
    return std::nullopt;
  }
  if (!read_all(in.fd, data.data(), data.size())) {
    print_read_error(path);
    return std::nullopt;
  }
  return data;
}

std::vector<char> format_banner(const Banner& banner, std::int64_t length) {
  // Widths are fixed text: 94, 89, 89, 94, 93, 101 and 94 columns before the values go in.
  // clang-format off
  static constexpr char kFormat[] =
      "<!-- ##################################################################################### -->\n"
      "<!-- Optimized by Sveltery 1.1, a file format optimizer for web content.              -->\n"
      "<!-- Sveltery go to https://sveltery.example/.                                        -->\n"
      "<!-- File Name: %s                                                                         -->\n"
      "<!-- Input Size: %ld                                                                      -->\n"
      "<!-- Optimized Size: %ld (minus this header)                                                      -->\n"
      "<!-- ##################################################################################### -->\n";
  // clang-format on
  const long in = static_cast<long>(banner.input_size);
  const long out = static_cast<long>(length);
  const int needed = std::snprintf(nullptr, 0, kFormat, banner.name, in, out);
  std::vector<char> text(static_cast<std::size_t>(needed) + 1);
  std::snprintf(text.data(), text.size(), kFormat, banner.name, in, out);
  text.pop_back();  // the terminating zero is not part of the file
  return text;
}

bool save_output_file(const char* path, std::span<const unsigned char> data,
                      const std::optional<Banner>& banner, const struct stat& source, mode_t mode) {
  // No O_TRUNC here: the file is truncated only once it is known not to be the input itself.
  // O_NOFOLLOW: a link planted at the output path must not redirect the write.
  // O_NONBLOCK: a FIFO at the output path must not hang the run (on the regular file that is
  // then required, the flag changes nothing).
  Fd out{::open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666)};
  if (out.fd < 0) {
    const int err = errno;
    print_open_output_error(path, err);
    return false;
  }
  struct stat st {};
  if (::fstat(out.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    print_open_output_error(path, 0);
    return false;
  }
  if (st.st_dev == source.st_dev && st.st_ino == source.st_ino) {
    print_same_file_error(path);
    return false;
  }
  bool ok = st.st_size == 0 || ::ftruncate(out.fd, 0) == 0;
  if (ok && banner) {
    const std::vector<char> text = format_banner(*banner, static_cast<std::int64_t>(data.size()));
    ok = write_all(out.fd, text.data(), text.size());
  }
  ok = ok && write_all(out.fd, data.data(), data.size());
  // A close that fails may mean data never reached the disk: that is a failed write too.
  if (ok) ::fchmod(out.fd, mode);  // best effort, and never through a link
  ok = out.close_checked() && ok;
  if (!ok) {
    print_write_error(path);
    return false;
  }
  return true;
}
