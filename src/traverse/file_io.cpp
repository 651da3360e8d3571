#include "traverse/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <limits>
#include <new>
#include <utility>
#include <vector>

#include "report/console.h"

namespace {

// Closes what we opened on every path out of a function.
struct Fd {
  int fd;
  explicit Fd(int f) : fd(f) {}
  Fd(Fd&& other) noexcept : fd(other.fd) { other.fd = -1; }
  Fd(const Fd&) = delete;
  Fd& operator=(Fd&&) = delete;
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

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::optional<InputFile> open_input_file(std::FILE* to, const char* path) {
  // O_NONBLOCK: a FIFO swapped in after the caller's stat must not hang the run.
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    print_open_input_error(to, path, err);
    return std::nullopt;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
    ::close(fd);
    print_file_size_error(to, path);
    return std::nullopt;
  }
  return std::optional<InputFile>{std::in_place, fd, static_cast<std::int64_t>(st.st_size)};
}

std::optional<Bytes> load_whole_file(std::FILE* to, const char* path) {
  const std::optional<InputFile> in = open_input_file(to, path);
  if (!in) return std::nullopt;
  const auto size = static_cast<std::uint64_t>(in->size());
  Bytes data;
  try {
    if (size > std::numeric_limits<std::size_t>::max() / 2) throw std::bad_alloc();
    size_for_overwrite(data, static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    print_memory_error(to);
    return std::nullopt;
  }
  if (!read_all(in->fd(), data.data(), data.size())) {
    print_read_error(to, path);
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

namespace {

// Opens `path` for writing an output of `source`, refusing links, non-regular files and the
// source itself, and empties it. None after the message.
std::optional<Fd> open_output(std::FILE* to, const char* path, const struct stat& source) {
  // No O_TRUNC here: the file is truncated only once it is known not to be the input itself.
  // O_NOFOLLOW: a link planted at the output path must not redirect the write.
  // O_NONBLOCK: a FIFO at the output path must not hang the run (on the regular file that is
  // then required, the flag changes nothing).
  const int fd =
      ::open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int err = errno;
    print_open_output_error(to, path, err);
    return std::nullopt;
  }
  std::optional<Fd> out{std::in_place, fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    print_open_output_error(to, path, 0);
    return std::nullopt;
  }
  if (st.st_dev == source.st_dev && st.st_ino == source.st_ino) {
    print_same_file_error(to, path);
    return std::nullopt;
  }
  if (st.st_size != 0 && ::ftruncate(fd, 0) != 0) {
    print_write_error(to, path);
    return std::nullopt;
  }
  return out;
}

// Gives the written file its mode and closes it; a close that fails may mean data never reached
// the disk, so it counts as a failed write too.
bool finish_output(std::FILE* to, const char* path, Fd& out, bool written, mode_t mode) {
  if (written) ::fchmod(out.fd, mode);  // best effort, and never through a link
  const bool ok = out.close_checked() && written;
  if (!ok) print_write_error(to, path);
  return ok;
}

enum class CopyOutcome { Done, ReadFailed, WriteFailed };

// Copies `size` bytes from the current offset of `in` to `out` with read/write.
CopyOutcome copy_by_hand(int in, int out, std::int64_t size) {
  constexpr std::size_t kChunk = std::size_t{1} << 17;
  std::vector<unsigned char> buffer(kChunk);
  while (size > 0) {
    const std::size_t want =
        size < static_cast<std::int64_t>(kChunk) ? static_cast<std::size_t>(size) : kChunk;
    const ssize_t got = ::read(in, buffer.data(), want);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return CopyOutcome::ReadFailed;
    if (!write_all(out, buffer.data(), static_cast<std::size_t>(got)))
      return CopyOutcome::WriteFailed;
    size -= got;
  }
  return CopyOutcome::Done;
}

// Copies `size` bytes inside the kernel where it agrees, by hand where it refuses.
CopyOutcome copy_bytes(int in, int out, std::int64_t size) {
  while (size > 0) {
    const ssize_t put =
        ::copy_file_range(in, nullptr, out, nullptr, static_cast<std::size_t>(size), 0);
    if (put > 0) {
      size -= put;
      continue;
    }
    if (put == 0) return CopyOutcome::ReadFailed;  // the file shrank since it was measured
    const int err = errno;
    if (err == EINTR) continue;
    if (err == ENOSPC || err == EDQUOT || err == EFBIG) return CopyOutcome::WriteFailed;
    // Refused (other file systems, old kernels, special files) or failed: read/write tells
    // which side it was.
    return copy_by_hand(in, out, size);
  }
  return CopyOutcome::Done;
}

}  // namespace

bool save_output_file(std::FILE* to, const char* path, std::span<const unsigned char> data,
                      const std::optional<Banner>& banner, const struct stat& source, mode_t mode) {
  std::optional<Fd> out = open_output(to, path, source);
  if (!out) return false;
  bool ok = true;
  if (banner) {
    const std::vector<char> text = format_banner(*banner, static_cast<std::int64_t>(data.size()));
    ok = write_all(out->fd, text.data(), text.size());
  }
  ok = ok && write_all(out->fd, data.data(), data.size());
  return finish_output(to, path, *out, ok, mode);
}

bool copy_output_file(std::FILE* to, const char* path, const InputFile& input,
                      const char* input_path, const struct stat& source, mode_t mode) {
  std::optional<Fd> out = open_output(to, path, source);
  if (!out) return false;
  switch (copy_bytes(input.fd(), out->fd, input.size())) {
    case CopyOutcome::Done:
      return finish_output(to, path, *out, true, mode);
    case CopyOutcome::ReadFailed:
      print_read_error(to, input_path);
      return false;
    case CopyOutcome::WriteFailed:
      break;
  }
  return finish_output(to, path, *out, false, mode);
}
