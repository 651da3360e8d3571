// Counting the names and directories that files not yet done read and write.
#include "run/claims.h"

namespace {

template <class Map, class Key>
void drop_one(Map& map, const Key& key) {
  const auto it = map.find(key);
  if (it != map.end() && --it->second == 0) map.erase(it);
}

}  // namespace

void Claims::claim(const std::optional<NameKey>& output, const std::optional<NameKey>& input) {
  if (output) {
    ++names_[*output];
    ++dirs_[output->dir];
  }
  if (input) ++names_[*input];
}

void Claims::release(const std::optional<NameKey>& output, const std::optional<NameKey>& input) {
  if (output) {
    drop_one(names_, *output);
    drop_one(dirs_, output->dir);
  }
  if (input) drop_one(names_, *input);
}

bool Claims::name_held(const NameKey& key) const { return names_.contains(key); }

bool Claims::dir_held(FileId dir) const { return dirs_.contains(dir); }
