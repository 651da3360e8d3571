#pragma once
// The --update record on disk: read once through the output directory's descriptor, and written
// whole under a temporary name, synced and renamed over the old one.

#include <optional>
#include <span>
#include <string_view>

#include "optimize/bytes.h"
#include "traverse/dir_fd.h"

// What reading the record found.
struct ManifestRead {
  enum class Found { Nothing, Whole, Unusable } found = Found::Nothing;
  Bytes bytes;
};

// Reads kManifestName in `root`, never through a link: Nothing when there is none; Whole with its bytes; Unusable when
// it is not a regular file, is larger than kManifestMaxSize or cannot be read.
ManifestRead read_manifest_file(const DirFd& root);

// Writes the record given as `pieces`, one after another, as kManifestName in `root` (readable by
// the owner only: it names the inputs), synced before it replaces the old record, so that a crash
// leaves one or the other whole. False with errno set on failure; nothing is printed.
[[nodiscard]] bool write_manifest_file(const DirFd& root, std::span<const std::string_view> pieces);
