#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <vector>

#include "optimize/bytes.h"

// An input file opened for reading, with its size; closed when it goes.
class InputFile {
 public:
  InputFile(int fd, std::int64_t size) : fd_(fd), size_(size) {}
  InputFile(InputFile&& other) noexcept : fd_(other.fd_), size_(other.size_) { other.fd_ = -1; }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  InputFile& operator=(InputFile&&) = delete;
  ~InputFile();
  int fd() const { return fd_; }
  std::int64_t size() const { return size_; }

 private:
  int fd_;
  std::int64_t size_;
};

// Opens the regular file at `path` and finds its size. On failure prints its own message on `to`
// and returns none.
std::optional<InputFile> open_input_file(std::FILE* to, const char* path);

// The whole content of the file at `path`. On failure prints its own message on `to` and returns
// none.
std::optional<Bytes> load_whole_file(std::FILE* to, const char* path);

// The optimization banner's values; only optimized pages carry one.
struct Banner {
  const char* name;         // the input path as the user sees it
  std::int64_t input_size;  // the input file's size in bytes
};

// The seven-line comment block written ahead of an optimized page (`length`: the data's size).
std::vector<char> format_banner(const Banner& banner, std::int64_t length);

// Creates `path` or truncates it, writes the banner (if any) and `data`, then gives the file
// `mode`. Refuses to follow a symbolic link at `path` and to overwrite `source` itself. Returns
// true on success; on failure prints its own message on `to` and returns false.
[[nodiscard]] bool save_output_file(std::FILE* to, const char* path,
                                    std::span<const unsigned char> data,
                                    const std::optional<Banner>& banner, const struct stat& source,
                                    mode_t mode);

// Like save_output_file, with the `input.size()` bytes of `input` (named `input_path` in a read
// error) as the data. The kernel copies them file to file where it can.
[[nodiscard]] bool copy_output_file(std::FILE* to, const char* path, const InputFile& input,
                                    const char* input_path, const struct stat& source, mode_t mode);

// The mode outputs get: the source's permission bits without set-user-ID and set-group-ID, plus
// read and write for owner and group.
inline mode_t output_mode(mode_t source_mode) {
  constexpr mode_t kPermissions = 07777, kSetIds = 06000, kOwnerGroupRw = 0660;
  return static_cast<mode_t>((source_mode & kPermissions & ~kSetIds) | kOwnerGroupRw);
}
