// Whole-file input and output: inputs opened and read, outputs written into a temporary file
// inside their directory's descriptor and put in place once complete.
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
#include "traverse/dir_fd.h"
#include "traverse/io_status.h"

// An input file opened for reading, with its size; closed when it goes. The size is what the file
// held when opened, or more once a read found it had grown.
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
  void grew_to(std::int64_t size) { size_ = size; }

 private:
  int fd_;
  std::int64_t size_;
};

// Opens the regular file `name` in the directory `dir` (a descriptor, or AT_FDCWD) into `file`
// and finds its size.
[[nodiscard]] IoStatus open_input_file(int dir, const char* name, std::optional<InputFile>& file);

// Reads the next `count` bytes of `input` onto the end of `data`.
[[nodiscard]] IoStatus read_more(const InputFile& input, std::int64_t count, Bytes& data);

// Reads the rest of `input`, to its end, onto the end of `data`: a file that grew since it was
// opened is read whole (its size follows), one that shrank is a read error.
[[nodiscard]] IoStatus read_to_end(InputFile& input, Bytes& data);

// Where an output goes: the name in its directory, held open, and the whole path for messages.
struct OutputPlace {
  int dir;           // the output's directory (a descriptor, or AT_FDCWD)
  const char* name;  // no '/' in it
  const char* path;  // as messages show it
};

// The optimization banner's values; only optimized pages carry one.
struct Banner {
  const char* name;         // the input path as the user sees it
  std::int64_t input_size;  // the input file's size in bytes
};

// The seven-line comment block written ahead of an optimized page (`length`: the data's size).
// The name is written with '&', '<' and '>' as entities, so that no file name can close the
// comment and put live markup in the page.
std::vector<char> format_banner(const Banner& banner, std::int64_t length);

// Writes the banner (if any) and `data` at `place`, given `mode`. The bytes go to a temporary file
// in the same directory, which replaces the output only once all of them and the close succeeded:
// whatever was at `path` before stays untouched on any failure. Refuses an existing `path` that is
// a symbolic link, not a regular file, not writable, or `source` itself. `in_new_dir`: this run
// made the directory of `path`, so nothing is there unless this run wrote it (the common case is
// then made cheaper).
[[nodiscard]] IoStatus save_output_file(const OutputPlace& place,
                                        std::span<const unsigned char> data,
                                        const std::optional<Banner>& banner,
                                        const struct stat& source, mode_t mode, bool in_new_dir);

// Like save_output_file, with the `input.size()` bytes of `input` as the data (a failed read is
// ReadInput). The kernel copies them file to file where it can.
[[nodiscard]] IoStatus copy_output_file(const OutputPlace& place, InputFile& input,
                                        const struct stat& source, mode_t mode, bool in_new_dir);

// The same with `head` in front and only the bytes of `input` from offset `from` on, wherever its
// read position stands; for an output that keeps most of its input as it is.
[[nodiscard]] IoStatus copy_output_file(const OutputPlace& place,
                                        std::span<const unsigned char> head, InputFile& input,
                                        std::int64_t from, const struct stat& source, mode_t mode,
                                        bool in_new_dir);

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
