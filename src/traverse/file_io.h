#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
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

// Reads the next `count` bytes of `input` (named `path`) onto the end of `data`. On failure prints
// its own message on `to` and returns false.
[[nodiscard]] bool read_more(std::FILE* to, const char* path, const InputFile& input,
                             std::int64_t count, Bytes& data);

// The whole content of the file at `path`. On failure prints its own message on `to` and returns
// none.
std::optional<Bytes> load_whole_file(std::FILE* to, const char* path);

// The optimization banner's values; only optimized pages carry one.
struct Banner {
  const char* name;         // the input path as the user sees it
  std::int64_t input_size;  // the input file's size in bytes
};

// The seven-line comment block written ahead of an optimized page (`length`: the data's size).
// The name is written with '&', '<' and '>' as entities, so that no file name can close the
// comment and put live markup in the page.
std::vector<char> format_banner(const Banner& banner, std::int64_t length);

// Writes the banner (if any) and `data` to `path`, given `mode`. The bytes go to a temporary file
// next to `path`, which replaces `path` only once all of them and the close succeeded: whatever was
// at `path` before stays untouched on any failure. Refuses an existing `path` that is a symbolic
// link, not a regular file, not writable, or `source` itself. Returns true on success; on failure
// prints its own message on `to` and returns false. `in_new_dir`: this run made the directory of
// `path`, so nothing is there unless this run wrote it (the common case is then made cheaper).
// After a failure errno says why (ENOSPC or EDQUOT: the disk or the quota was full).
[[nodiscard]] bool save_output_file(std::FILE* to, const char* path,
                                    std::span<const unsigned char> data,
                                    const std::optional<Banner>& banner, const struct stat& source,
                                    mode_t mode, bool in_new_dir);

// The steps of save_output_file, for any writer of a whole output file:
//   check_output_path -> create_temp_output -> write to fd -> finish_temp_output
// A TempOutput that is not finished is removed when it goes out of scope (or by discard).

// Refuses, with its own message, an existing `path` that the output may not replace: a symbolic
// link, anything but a regular file, a file the user may not write, or `source` itself. Changes
// nothing at `path`. A missing `path` is fine.
[[nodiscard]] bool check_output_path(std::FILE* to, const char* path, const struct stat& source);

// An empty file, readable and writable by the owner only, in the directory of an output path
// under a fresh name starting with '.'; `fd` is open for writing.
struct TempOutput {
  int fd = -1;
  std::string path;  // empty once the file is renamed or removed

  TempOutput() = default;
  TempOutput(TempOutput&& other) noexcept;
  TempOutput& operator=(TempOutput&& other) noexcept;
  ~TempOutput();
};

// Creates the temporary file for `output_path`, made exclusively so that nothing already there is
// opened. On failure prints the output's open error and returns none.
std::optional<TempOutput> create_temp_output(std::FILE* to, const char* output_path);

// Like save_output_file, with the `input.size()` bytes of `input` (named `input_path` in a read
// error) as the data. The kernel copies them file to file where it can.
[[nodiscard]] bool copy_output_file(std::FILE* to, const char* path, const InputFile& input,
                                    const char* input_path, const struct stat& source, mode_t mode,
                                    bool in_new_dir);

// The same with `head` in front and only the bytes of `input` from offset `from` on, wherever its
// read position stands; for an output that keeps most of its input as it is.
[[nodiscard]] bool copy_output_file(std::FILE* to, const char* path,
                                    std::span<const unsigned char> head, const InputFile& input,
                                    std::int64_t from, const char* input_path,
                                    const struct stat& source, mode_t mode, bool in_new_dir);

// Gives the file `mode`, closes it and renames it over `output_path`. On failure the temporary
// file is removed and false returned; the caller reports it as a failed write.
[[nodiscard]] bool finish_temp_output(TempOutput& temp, const char* output_path, mode_t mode);

// Closes and removes the temporary file; nothing else is touched.
void discard_temp_output(TempOutput& temp);

// Clears the process's umask, once, before any output or directory is made. Every file and
// directory this program makes is given its mode by the rules below, never by the umask, so this
// changes no result; it spares each output a chmod.
void clear_umask();

// The mode outputs get: the source's permission bits without set-user-ID and set-group-ID, plus
// read and write for owner and group.
inline mode_t output_mode(mode_t source_mode) {
  constexpr mode_t kPermissions = 07777, kSetIds = 06000, kOwnerGroupRw = 0660;
  return static_cast<mode_t>((source_mode & kPermissions & ~kSetIds) | kOwnerGroupRw);
}
