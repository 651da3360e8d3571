// What the files handed in and not yet done read and write: names in directories, and the
// directories they write into. A later file or directory waits until nothing earlier holds what
// it touches, so that running side by side gives what running in order gives.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>

#include "traverse/dir_fd.h"

// A name inside a directory: where an output goes, or where an input is read.
struct NameKey {
  FileId dir;
  std::string name;
  friend bool operator==(const NameKey&, const NameKey&) = default;
};

struct FileIdHash {
  std::size_t operator()(const FileId& id) const noexcept {
    return std::hash<std::uint64_t>{}(static_cast<std::uint64_t>(id.ino) * 0x9E3779B97F4A7C15u ^
                                      static_cast<std::uint64_t>(id.dev));
  }
};
struct NameKeyHash {
  std::size_t operator()(const NameKey& key) const noexcept {
    return FileIdHash{}(key.dir) ^ std::hash<std::string>{}(key.name);
  }
};

// Counted claims: a name or directory is held while any file that claimed it is not done. Not
// thread-safe: the scheduler calls it under its lock.
class Claims {
 public:
  // A file that writes `output` (and so into its directory) and reads `input`.
  void claim(const std::optional<NameKey>& output, const std::optional<NameKey>& input);
  void release(const std::optional<NameKey>& output, const std::optional<NameKey>& input);
  bool name_held(const NameKey& key) const;
  bool dir_held(FileId dir) const;

 private:
  std::unordered_map<NameKey, int, NameKeyHash> names_;
  std::unordered_map<FileId, int, FileIdHash> dirs_;
};
