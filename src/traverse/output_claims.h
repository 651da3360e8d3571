// Which output each command-line input is mirrored at, and when a later one would take another's.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>

#include "traverse/walk.h"

// A command-line input and the output it is mirrored at.
struct OutputClaim {
  std::string input;   // the path as given
  std::string output;  // the file or mirror directory it is written as
  FileId id;           // which file or directory the input is
  bool directory = false;
};

// Which file or directory a path names; none when it names nothing.
using IdLookup = std::function<std::optional<FileId>(const std::string& path)>;

// The earlier claim whose output `next` would overwrite with something else: the same output for
// another file or directory, or a place inside a mirrored tree (or holding one) where the two
// inputs hold different things. Giving the same file or tree twice takes nothing from anyone.
// Null when there is none. `look_up` is asked only about paths inside the inputs.
const OutputClaim* colliding_claim(std::span<const OutputClaim> earlier, const OutputClaim& next,
                                   const IdLookup& look_up);
