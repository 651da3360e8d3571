// Collisions between the outputs of the command-line inputs.
#include "traverse/output_claims.h"

#include <string_view>

namespace {

// The rest of `path` after `dir` and a '/', when `path` lies inside `dir`.
std::optional<std::string_view> inside(std::string_view path, std::string_view dir) {
  if (path.size() <= dir.size() + 1 || path.substr(0, dir.size()) != dir || path[dir.size()] != '/')
    return std::nullopt;
  return path.substr(dir.size());
}

// Whether the tree of `tree` holds, at the place `rest` (from its '/'), something other than
// `id`.
bool holds_other(const OutputClaim& tree, std::string_view rest, const FileId& id,
                 const IdLookup& look_up) {
  const std::optional<FileId> there = look_up(tree.input + std::string(rest));
  return there && !(*there == id);
}

}  // namespace

const OutputClaim* colliding_claim(std::span<const OutputClaim> earlier, const OutputClaim& next,
                                   const IdLookup& look_up) {
  for (const OutputClaim& claim : earlier) {
    if (claim.output == next.output) {
      if (!(claim.id == next.id)) return &claim;
      continue;
    }
    if (claim.directory) {
      if (const auto rest = inside(next.output, claim.output);
          rest && holds_other(claim, *rest, next.id, look_up))
        return &claim;
    }
    if (next.directory) {
      if (const auto rest = inside(claim.output, next.output);
          rest && holds_other(next, *rest, claim.id, look_up))
        return &claim;
    }
  }
  return nullptr;
}
