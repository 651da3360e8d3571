#pragma once
// Writing and removing the compressed siblings of an output, relative to its directory's descriptor.

#include <sys/stat.h>
#include <time.h>

#include <span>
#include <string_view>

#include "traverse/io_status.h"

// Writes `data` as `name` in the directory open as `dir`, with `mode` and the modification time
// `mtime`. The bytes go to an unnamed file in `dir` (a temporary one where the file system has
// none), which takes the name only once complete: a failure or a killed run leaves whatever was at
// `name` as it was. A `name` that is a symbolic link or anything but a regular file is refused,
// never followed.
[[nodiscard]] IoStatus save_sibling_file(int dir, std::string_view name,
                                         std::span<const unsigned char> data, mode_t mode,
                                         const timespec& mtime);

// Removes `name` from the directory open as `dir` when it is a regular file; anything else there stays.
void remove_stale_sibling(int dir, std::string_view name);
