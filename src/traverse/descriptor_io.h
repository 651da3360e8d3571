// Small steps on descriptors that outputs and their compressed siblings share.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Writes all `size` bytes, going on after interruptions and short writes; false with errno.
bool write_all(int fd, const void* data, std::size_t size);

// ".NAME.XXXXXX" with six letters and digits no other thread draws alike, the name part
// shortened where the result would exceed the system's limit on a name: a temporary file can be
// made beside every file whose own name fits.
std::string fresh_temp_name(std::string_view name);

// Gives the unnamed file open as `fd` (O_TMPFILE) the name `name` in the directory `dir`; -1 with
// errno on failure.
int link_unnamed(int fd, int dir, const char* name);
