// Whole-file input and output through descriptors: nothing is reached again by its full path.
#include "traverse/file_io.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "report/console.h"
#include "traverse/descriptor_io.h"
#include "traverse/output_path.h"

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

// Writes `head` and then `body`, in one call when the kernel takes them whole.
bool write_both(int fd, std::span<const char> head, std::span<const unsigned char> body) {
  if (head.empty()) return write_all(fd, body.data(), body.size());
  iovec parts[2] = {{const_cast<char*>(head.data()), head.size()},
                    {const_cast<unsigned char*>(body.data()), body.size()}};
  ssize_t put = 0;
  do {
    put = ::writev(fd, parts, 2);
  } while (put < 0 && errno == EINTR);
  if (put < 0) return false;
  const auto done = static_cast<std::size_t>(put);
  if (done < head.size())
    return write_all(fd, head.data() + done, head.size() - done) &&
           write_all(fd, body.data(), body.size());
  return write_all(fd, body.data() + (done - head.size()), body.size() - (done - head.size()));
}

// Cleared for the rest of the run once the file system or the system refuses unnamed files or
// linking them in (no /proc): every output would otherwise be written twice.
std::atomic<bool> unnamed_outputs_work{true};
// Set when the run has cleared its umask: files are then made with exactly the mode asked for.
std::atomic<bool> umask_cleared{false};

// An output where nothing is yet, made without a temporary name: `fill` writes into an unnamed
// file in the output's directory, which is linked in under `path` once complete, so a killed run
// leaves nothing behind and the directory changes once. False, with nothing printed and nothing
// left behind, when any step fails (`path` exists, the file system has no unnamed files, /proc is
// not mounted, a write fails): the caller then takes the way through a named temporary file,
// which reports whatever applies.
template <class Fill>
bool link_new_output(const OutputPlace& place, mode_t mode, Fill&& fill) {
  if (!unnamed_outputs_work.load(std::memory_order_relaxed)) return false;
  Fd out{::openat(place.dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode)};
  if (out.fd < 0) {
    if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) unnamed_outputs_work = false;
    return false;
  }
  if (!fill(out.fd)) return false;
  if (!umask_cleared.load(std::memory_order_relaxed))
    ::fchmod(out.fd, mode);  // the umask may have taken bits of `mode` away
  if (link_unnamed(out.fd, place.dir, place.name) != 0) {
    // No /proc, or no links on this file system; a name already there (a later file with the
    // same output), a full disk or a long path are this file's own.
    if (errno == ENOENT || errno == EPERM || errno == EXDEV || errno == EOPNOTSUPP)
      unnamed_outputs_work = false;
    return false;
  }
  if (::close(std::exchange(out.fd, -1)) != 0) {
    ::unlinkat(place.dir, place.name,
               0);  // the bytes may not have reached the disk: the careful way decides
    return false;
  }
  return true;
}

// The name as it goes into the banner's HTML comment: control bytes escaped as on the console
// (the line stays one line), '&', '<' and '>' as entities.
std::string banner_name(std::string_view name) {
  std::string text;
  text.reserve(name.size());
  for (const char c : escape_controls(name)) {
    switch (c) {
      case '&':
        text += "&amp;";
        break;
      case '<':
        text += "&lt;";
        break;
      case '>':
        text += "&gt;";
        break;
      default:
        text += c;
    }
  }
  return text;
}

}  // namespace

void clear_umask() {
  ::umask(0);
  umask_cleared = true;
}

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

IoStatus open_input_file(int dir, const char* name, std::optional<InputFile>& file) {
  // O_NONBLOCK: a FIFO swapped in after the caller's stat must not hang the run.
  const int fd = ::openat(dir, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return io_failed(IoStep::OpenInput);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
    ::close(fd);
    return {IoStep::InputSize};
  }
  file.emplace(fd, static_cast<std::int64_t>(st.st_size));
  return {};
}

IoStatus read_more(const InputFile& input, std::int64_t count, Bytes& data) {
  const std::size_t held = data.size();
  try {
    if (count < 0 ||
        static_cast<std::uint64_t>(count) > std::numeric_limits<std::size_t>::max() / 2 - held)
      throw std::bad_alloc();
    size_for_overwrite(data, held + static_cast<std::size_t>(count));
  } catch (const std::bad_alloc&) {
    return {IoStep::Memory};
  }
  if (!read_all(input.fd(), data.data() + held, data.size() - held))
    return io_failed(IoStep::ReadInput);
  return {};
}

IoStatus read_to_end(InputFile& input, Bytes& data) {
  // One byte more than the file should hold is asked for: a read that comes back short has met
  // the end, so a file that kept its size costs no extra call to find out.
  std::int64_t expected = input.size();
  for (;;) {
    const std::size_t held = data.size();
    const std::int64_t want = expected > static_cast<std::int64_t>(held)
                                  ? expected - static_cast<std::int64_t>(held) + 1
                                  : std::int64_t{1} << 16;
    try {
      if (static_cast<std::uint64_t>(want) > std::numeric_limits<std::size_t>::max() / 2 - held)
        throw std::bad_alloc();
      size_for_overwrite(data, held + static_cast<std::size_t>(want));
    } catch (const std::bad_alloc&) {
      data.resize(held);
      return {IoStep::Memory};
    }
    ssize_t got = 0;
    do {
      got = ::read(input.fd(), data.data() + held, static_cast<std::size_t>(want));
    } while (got < 0 && errno == EINTR);
    const int err = got < 0 ? errno : 0;
    data.resize(held + static_cast<std::size_t>(got > 0 ? got : 0));
    const auto total = static_cast<std::int64_t>(data.size());
    // Failed, or shrank since it was measured.
    if (got < 0 || (got == 0 && total < expected)) return {IoStep::ReadInput, err};
    if (got == 0 || (got < want && total == expected)) break;
    if (total > expected) expected = total;  // grew: read on to its end
  }
  input.grew_to(static_cast<std::int64_t>(data.size()));
  return {};
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
  const std::string name = banner_name(banner.name);
  const int needed = std::snprintf(nullptr, 0, kFormat, name.c_str(), in, out);
  std::vector<char> text(static_cast<std::size_t>(needed) + 1);
  std::snprintf(text.data(), text.size(), kFormat, name.c_str(), in, out);
  text.pop_back();  // the terminating zero is not part of the file
  return text;
}

namespace {

// An empty file, readable and writable by the owner only, in the directory of an output under a
// fresh name starting with '.'; `fd` is open for writing. Removed when it goes unless renamed.
struct TempOutput {
  int fd = -1;
  int dir = -1;      // the descriptor of the directory it is in (not owned)
  std::string name;  // empty once the file is renamed or removed

  TempOutput() = default;
  TempOutput(const TempOutput&) = delete;
  TempOutput& operator=(const TempOutput&) = delete;
  ~TempOutput() { discard(); }

  void discard() {
    if (fd >= 0) ::close(fd);
    fd = -1;
    if (!name.empty()) ::unlinkat(dir, name.c_str(), 0);
    name.clear();
  }
};

// The steps of a whole output file:
//   check_output_path -> create_temp_output -> write to fd -> finish_temp_output

IoStatus check_output_path(const OutputPlace& place, const struct stat& source) {
  // The open that used to truncate the output, without O_CREAT and O_TRUNC: it refuses what it
  // always refused, with the same errno, and changes nothing.
  // O_NOFOLLOW: a link planted at the output path is refused, not replaced.
  // O_NONBLOCK: a FIFO at the output path must not hang the run.
  Fd out{
      ::openat(place.dir, place.name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
  if (out.fd < 0) {
    if (errno == ENOENT) return {};  // nothing there yet (a missing directory shows next)
    return io_failed(IoStep::OpenOutput);
  }
  struct stat st {};
  if (::fstat(out.fd, &st) != 0 || !S_ISREG(st.st_mode)) return {IoStep::OpenOutput};
  if (st.st_dev == source.st_dev && st.st_ino == source.st_ino) return {IoStep::SameFile};
  return {};
}

IoStatus create_temp_output(const OutputPlace& place, TempOutput& temp) {
  std::string name;
  // Exclusive creation with a fresh name: never opens, follows or truncates anything there.
  constexpr int kTries = 100;
  for (int k = 0; k < kTries && temp.fd < 0; ++k) {
    name = fresh_temp_name(place.name);
    temp.fd = ::openat(place.dir, name.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
    if (temp.fd < 0 && errno != EEXIST) break;
  }
  if (temp.fd < 0) return io_failed(IoStep::OpenOutput);
  temp.dir = place.dir;
  temp.name = std::move(name);
  return {};
}

IoStatus finish_temp_output(TempOutput& temp, const OutputPlace& place, mode_t mode) {
  ::fchmod(temp.fd, mode);  // best effort, as for any output
  // A close that fails may mean data never reached the disk: that is a failed write too.
  const int fd = std::exchange(temp.fd, -1);
  if (::close(fd) != 0 || ::renameat(temp.dir, temp.name.c_str(), place.dir, place.name) != 0) {
    const IoStatus failed = io_failed(IoStep::WriteOutput);
    temp.discard();
    return failed;
  }
  temp.name.clear();
  return {};
}

// Writes an output through a temporary file: `fill` writes its bytes into a descriptor, true when
// all went; `failed_fill` says why it did not.
template <class Fill, class FailedFill>
IoStatus write_output(const OutputPlace& place, const struct stat& source, mode_t mode,
                      bool in_new_dir, Fill&& fill, FailedFill&& failed_fill) {
  if (in_new_dir && link_new_output(place, mode, fill)) return {};
  if (const IoStatus refused = check_output_path(place, source); !refused.ok()) return refused;
  TempOutput temp;
  if (const IoStatus failed = create_temp_output(place, temp); !failed.ok()) return failed;
  if (!fill(temp.fd)) return failed_fill();  // the temporary file goes with `temp`
  return finish_temp_output(temp, place, mode);
}

}  // namespace

IoStatus save_output_file(const OutputPlace& place, std::span<const unsigned char> data,
                          const std::optional<Banner>& banner, const struct stat& source,
                          mode_t mode, bool in_new_dir) {
  const std::vector<char> head =
      banner ? format_banner(*banner, static_cast<std::int64_t>(data.size())) : std::vector<char>();
  return write_output(
      place, source, mode, in_new_dir, [&](int fd) { return write_both(fd, head, data); },
      [] { return io_failed(IoStep::WriteOutput); });
}

namespace {

enum class CopyOutcome { Done, ReadFailed, WriteFailed };

// Copies from the current offset of `in` to `out` with read/write: `size` bytes, and on to the
// end when `to_end` (a file that grows is copied whole). `size` is what is still expected.
CopyOutcome copy_by_hand(int in, int out, std::int64_t size, bool to_end, std::int64_t& copied) {
  constexpr std::size_t kChunk = std::size_t{1} << 17;
  std::vector<unsigned char> buffer(kChunk);
  for (;;) {
    const std::size_t want = size > 0 && size < static_cast<std::int64_t>(kChunk)
                                 ? static_cast<std::size_t>(size) + (to_end ? 1 : 0)
                                 : kChunk;
    if (size <= 0 && !to_end) return CopyOutcome::Done;
    const ssize_t got = ::read(in, buffer.data(), std::min(want, kChunk));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return CopyOutcome::ReadFailed;
    if (got == 0) return size > 0 ? CopyOutcome::ReadFailed : CopyOutcome::Done;
    if (!write_all(out, buffer.data(), static_cast<std::size_t>(got)))
      return CopyOutcome::WriteFailed;
    size -= got;
    copied += got;
    if (size == 0 && static_cast<std::size_t>(got) < want) return CopyOutcome::Done;
  }
}

// Copies from the current offset of `in` to `out` inside the kernel where it agrees, by hand
// where it refuses: `size` bytes, and on to the end when `to_end`. One byte more than expected is
// asked for, so that a short count at the expected end shows the end without another call.
CopyOutcome copy_bytes(int in, int out, std::int64_t size, bool to_end, std::int64_t& copied) {
  for (;;) {
    if (size <= 0 && !to_end) return CopyOutcome::Done;
    const std::int64_t want = size > 0 ? size + (to_end ? 1 : 0) : std::int64_t{1} << 20;
    const ssize_t put =
        ::copy_file_range(in, nullptr, out, nullptr, static_cast<std::size_t>(want), 0);
    if (put > 0) {
      size -= put;
      copied += put;
      if (size == 0 && put < want) return CopyOutcome::Done;  // short at the expected end
      continue;
    }
    if (put == 0) {
      if (copied == 0)  // some file systems (/proc) give no size and no ranges
        return copy_by_hand(in, out, size, to_end, copied);
      return size > 0 ? CopyOutcome::ReadFailed : CopyOutcome::Done;  // shrank, or the end
    }
    const int err = errno;
    if (err == EINTR) continue;
    if (err == ENOSPC || err == EDQUOT || err == EFBIG) return CopyOutcome::WriteFailed;
    // Refused (other file systems, old kernels, special files) or failed: read/write tells
    // which side it was.
    return copy_by_hand(in, out, size, to_end, copied);
  }
}

// `at_from`: the input's read position already stands at `from`. A copy of the whole file goes
// on to its end when it grew; a tail behind a head of known size must end where it was measured
// (the sizes are counted before it is written), and one that grew is a read error.
IoStatus copy_into_output(const OutputPlace& place, std::span<const unsigned char> head,
                          InputFile& input, std::int64_t from, bool at_from,
                          const struct stat& source, mode_t mode, bool in_new_dir) {
  CopyOutcome outcome = CopyOutcome::Done;
  int err = 0;
  const bool whole = head.empty() && from == 0 && at_from;
  std::int64_t copied = 0;
  const auto fill = [&](int fd) {
    if (!at_from && ::lseek(input.fd(), from, SEEK_SET) != from) {
      outcome = CopyOutcome::ReadFailed;
      err = errno;
      return false;
    }
    at_from = false;
    copied = 0;
    outcome = write_all(fd, head.data(), head.size())
                  ? copy_bytes(input.fd(), fd, input.size() - from, true, copied)
                  : CopyOutcome::WriteFailed;
    err = outcome == CopyOutcome::Done ? 0 : errno;
    if (outcome == CopyOutcome::Done && copied != input.size() - from && !whole)
      outcome = CopyOutcome::ReadFailed;
    return outcome == CopyOutcome::Done;
  };
  const auto failed_fill = [&] {
    return IoStatus{outcome == CopyOutcome::ReadFailed ? IoStep::ReadInput : IoStep::WriteOutput,
                    err};
  };
  const IoStatus status = write_output(place, source, mode, in_new_dir, fill, failed_fill);
  if (status.ok() && whole) input.grew_to(copied);
  return status;
}

}  // namespace

IoStatus copy_output_file(const OutputPlace& place, InputFile& input, const struct stat& source,
                          mode_t mode, bool in_new_dir) {
  return copy_into_output(place, {}, input, 0, true, source, mode, in_new_dir);
}

IoStatus copy_output_file(const OutputPlace& place, std::span<const unsigned char> head,
                          InputFile& input, std::int64_t from, const struct stat& source,
                          mode_t mode, bool in_new_dir) {
  return copy_into_output(place, head, input, from, false, source, mode, in_new_dir);
}
