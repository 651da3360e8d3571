#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "optimize/bytes.h"

// The whole content of the file at `path`. On failure prints its own message and returns none.
std::optional<Bytes> load_whole_file(const char* path);

// The optimization banner's values; only optimized pages carry one.
struct Banner {
  const char* name;         // the input path as the user sees it
  std::int64_t input_size;  // the input file's size in bytes
};

// The seven-line comment block written ahead of an optimized page (`length`: the data's size).
std::vector<char> format_banner(const Banner& banner, std::int64_t length);

// Creates `path` or truncates it, writes the banner (if any) and `data`, then gives the file
// `mode`. Refuses to follow a symbolic link at `path` and to overwrite `source` itself. Returns
// true on success; on failure prints its own message and returns false.
[[nodiscard]] bool save_output_file(const char* path, std::span<const unsigned char> data,
                                    const std::optional<Banner>& banner, const struct stat& source,
                                    mode_t mode);

// The mode outputs get: the source's permission bits without set-user-ID and set-group-ID, plus
// read and write for owner and group.
inline mode_t output_mode(mode_t source_mode) {
  constexpr mode_t kPermissions = 07777, kSetIds = 06000, kOwnerGroupRw = 0660;
  return static_cast<mode_t>((source_mode & kPermissions & ~kSetIds) | kOwnerGroupRw);
}
