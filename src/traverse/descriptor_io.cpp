// Small steps on descriptors that outputs and their compressed siblings share.
#include "traverse/descriptor_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <random>

namespace {

// Cleared once the kernel refuses to link a file in by its descriptor (before Linux 6.10, without
// the capability to): /proc names it instead.
std::atomic<bool> link_by_descriptor{true};

}  // namespace

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

std::string fresh_temp_name(std::string_view name) {
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local std::mt19937_64 draw{std::random_device{}()};
  constexpr std::size_t kExtra = 8;  // the leading '.', and '.' with six characters at the end
  std::string text = ".";
  text.append(name.substr(0, std::min<std::size_t>(name.size(), NAME_MAX - kExtra)));
  text += '.';
  for (int k = 0; k < 6; ++k) text += kChars[draw() % (sizeof kChars - 1)];
  return text;
}

int link_unnamed(int fd, int dir, const char* name) {
  if (link_by_descriptor.load(std::memory_order_relaxed)) {
    if (::linkat(fd, "", dir, name, AT_EMPTY_PATH) == 0) return 0;
    if (errno != EPERM && errno != ENOENT && errno != EINVAL) return -1;
    link_by_descriptor = false;
  }
  char proc[32];
  std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
  return ::linkat(AT_FDCWD, proc, dir, name, AT_SYMLINK_FOLLOW);
}
