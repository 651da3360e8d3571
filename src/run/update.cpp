// The --update run: what is up to date, what was written, what --delete removes, the new record.
#include "run/update.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "optimize/precompress.h"
#include "report/console.h"
#include "traverse/manifest_file.h"

namespace {

std::string sibling_name(const std::string& output_name, Encoding e) {
  return output_name + std::string(encoding_suffix(e));
}

std::string_view parent_part(std::string_view path) {
  const auto slash = path.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

std::string_view last_part(std::string_view path) {
  const auto slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// A source is gone when its path, followed as the walk follows it, names nothing.
bool source_gone(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

// `path` without its last `count` '/'-separated parts; none when it has too few.
std::optional<std::string> without_last_parts(std::string_view path, std::size_t count) {
  for (std::size_t k = 0; k < count; ++k) {
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos || slash == 0) return std::nullopt;
    path = path.substr(0, slash);
  }
  return std::string(path);
}

enum class Removal { Removed, Gone, NotOurs, Failed };

// Removes `name` in `dir` when it is the regular file recorded as `state`; anything else there
// (a link, a directory, a file edited or replaced since) is not this program's to remove.
Removal remove_recorded(int dir, const std::string& name, const FileState& state,
                        const std::string& shown, bool announce, std::int64_t& failures) {
  struct stat st {};
  if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return Removal::Gone;
    print_delete_error(stdout, shown.c_str(), errno);
    ++failures;
    return Removal::Failed;
  }
  if (!S_ISREG(st.st_mode) || file_state(st) != state) return Removal::NotOurs;
  if (::unlinkat(dir, name.c_str(), 0) != 0) {
    print_delete_error(stdout, shown.c_str(), errno);
    ++failures;
    return Removal::Failed;
  }
  if (announce) print_deleted(stdout, shown.c_str());
  return Removal::Removed;
}

std::size_t depth_of(std::string_view path) {
  return static_cast<std::size_t>(std::count(path.begin(), path.end(), '/'));
}

}  // namespace

UpdateRun::UpdateRun(const Options& options)
    : options_(options), fingerprint_(options_fingerprint(options)) {}

void UpdateRun::load(const DirFd& root) {
  ManifestRead file = read_manifest_file(root);
  if (file.found == ManifestRead::Found::Nothing) return;
  std::optional<Manifest> manifest;
  if (file.found == ManifestRead::Found::Whole) manifest = decode_manifest(file.bytes);
  if (!manifest) {
    const std::string shown = options_.output_dir + "/" + std::string(kManifestName);
    print_manifest_ignored(shown.c_str());
    return;
  }
  read_ = std::move(file.bytes);
  trusted_ = manifest->program == kProgramVersion && manifest->fingerprint == fingerprint_;
  known_.reserve(manifest->entries.size());
  for (ManifestEntry& entry : manifest->entries) {
    std::string key = entry.output;
    known_.insert_or_assign(std::move(key), Known{std::move(entry)});
  }
}

void UpdateRun::walked(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  roots_.emplace_back(path);
}

bool UpdateRun::below_walked(std::string_view source) const {
  return std::any_of(roots_.begin(), roots_.end(), [&](const std::string& root) {
    if (source.size() < root.size() || source.compare(0, root.size(), root) != 0) return false;
    return source.size() == root.size() || root == "/" || source[root.size()] == '/';
  });
}

std::optional<Totals> UpdateRun::up_to_date_share(const FileWork& work,
                                                  const std::optional<FileState>& output) {
  if (!work.output_dir) return std::nullopt;
  const auto it = known_.find(work.record_name);
  if (it == known_.end()) return std::nullopt;
  it->second.met = true;
  if (!trusted_) return std::nullopt;
  const ManifestEntry& entry = it->second.entry;
  const int dir = work.output_dir->fd();
  OutputNow now;
  now.output = output ? *output : regular_state_at(dir, work.output_name.c_str());
  for (const Encoding e : kEncodings) {
    const auto k = static_cast<unsigned>(e);
    if (entry.siblings[k].size >= 0)
      now.siblings[k] = regular_state_at(dir, sibling_name(work.output_name, e).c_str());
  }
  if (!up_to_date(entry, work.path, work.st, now)) return std::nullopt;
  it->second.kept = true;
  ++kept_;
  Totals share = entry.share;
  share.files_up_to_date = 1;
  return share;
}

void UpdateRun::written(const FileWork& work, const Totals& share) {
  if (!work.output_dir || work.record_name == kManifestName) return;
  const int dir = work.output_dir->fd();
  ManifestEntry entry;
  entry.output_state = regular_state_at(dir, work.output_name.c_str());
  if (entry.output_state.size < 0) return;
  for (const Encoding e : kEncodings) {
    const auto k = static_cast<unsigned>(e);
    if (share.sibling_bytes[k] > 0)
      entry.siblings[k] = regular_state_at(dir, sibling_name(work.output_name, e).c_str());
  }
  entry.output = work.record_name;
  entry.source = work.path;
  entry.source_state = file_state(work.st);
  entry.source_ino = static_cast<std::uint64_t>(work.st.st_ino);
  entry.source_dev = static_cast<std::uint64_t>(work.st.st_dev);
  entry.share = share;
  entry.share.failures = 0;
  entry.share.files_seen = 0;
  const std::lock_guard<std::mutex> lock(written_mutex_);
  written_.push_back(std::move(entry));
}

std::int64_t UpdateRun::delete_gone(const DirRef& root, const std::string& output_dir,
                                    bool announce) {
  std::vector<Known*> gone;
  for (auto& [name, known] : known_)
    if (!known.met && below_walked(known.entry.source) && source_gone(known.entry.source)) gone.push_back(&known);
  std::sort(gone.begin(), gone.end(),
            [](const Known* a, const Known* b) { return a->entry.output < b->entry.output; });
  std::int64_t failures = 0;
  // Mirror directories that may be left empty, each with its source directory.
  std::vector<std::pair<std::string, std::string>> dirs;
  for (Known* known : gone) {
    const ManifestEntry& entry = known->entry;
    const std::string_view parent_name = parent_part(entry.output);
    const DirRef parent = open_dir_beneath(root, parent_name);
    if (!parent) {
      known->removed = errno == ENOENT;  // gone with its directory
      continue;
    }
    const std::string name(last_part(entry.output));
    const std::string shown = output_dir + "/" + entry.output;
    bool failed = remove_recorded(parent->fd(), name, entry.output_state, shown, announce,
                                  failures) == Removal::Failed;
    for (const Encoding e : kEncodings) {
      const FileState& sibling = entry.siblings[static_cast<unsigned>(e)];
      if (sibling.size < 0) continue;
      failed = remove_recorded(parent->fd(), sibling_name(name, e), sibling,
                               shown + std::string(encoding_suffix(e)), announce,
                               failures) == Removal::Failed ||
               failed;
    }
    known->removed = !failed;
    std::string_view dir = parent_name;
    for (std::size_t up = 1; !dir.empty(); ++up, dir = parent_part(dir)) {
      const std::optional<std::string> source_dir = without_last_parts(entry.source, up);
      if (source_dir) dirs.emplace_back(std::string(dir), *source_dir);
    }
  }
  // Deepest first, so that a directory emptied by removing its last subdirectory goes too.
  std::sort(dirs.begin(), dirs.end(), [](const auto& a, const auto& b) {
    const std::size_t da = depth_of(a.first), db = depth_of(b.first);
    return da != db ? da > db : a.first < b.first;
  });
  dirs.erase(std::unique(dirs.begin(), dirs.end(),
                         [](const auto& a, const auto& b) { return a.first == b.first; }),
             dirs.end());
  for (const auto& [dir, source_dir] : dirs) {
    if (!source_gone(source_dir)) continue;  // a directory the source still has stays mirrored
    const DirRef parent = open_dir_beneath(root, parent_part(dir));
    if (!parent) continue;
    const std::string name(last_part(dir));
    const std::string shown = output_dir + "/" + dir;
    if (::unlinkat(parent->fd(), name.c_str(), AT_REMOVEDIR) == 0) {
      if (announce) print_deleted(stdout, shown.c_str());
    } else if (errno != ENOTEMPTY && errno != EEXIST && errno != ENOENT && errno != ENOTDIR) {
      print_delete_error(stdout, shown.c_str(), errno);
      ++failures;
    }
  }
  return failures;
}

bool UpdateRun::save(const DirFd& root, const std::string& output_dir) {
  {
    // Every entry found up to date and nothing else: the record would be written as it was read.
    const std::lock_guard<std::mutex> lock(written_mutex_);
    if (trusted_ && written_.empty() && kept_ == known_.size()) return true;
  }
  Manifest manifest{std::string(kProgramVersion), fingerprint_, {}};
  {
    const std::lock_guard<std::mutex> lock(written_mutex_);
    // Never moved once listed: `now` below holds views of their names.
    manifest.entries.reserve(written_.size() + known_.size());
    for (ManifestEntry& entry : written_) manifest.entries.push_back(std::move(entry));
    written_.clear();
  }
  for (auto& [name, known] : known_)
    if (known.kept) manifest.entries.push_back(known.entry);
  std::unordered_set<std::string_view> now;
  now.reserve(manifest.entries.size());
  for (const ManifestEntry& entry : manifest.entries) now.insert(entry.output);
  // What the record listed and this run neither found up to date nor wrote stays listed, so that
  // --delete can still remove it; it is up to date next time only if nothing here touched it.
  for (auto& [name, known] : known_) {
    if (known.removed || known.kept || now.count(name) != 0) continue;
    ManifestEntry entry = known.entry;
    entry.current = trusted_ && !known.met && entry.current;
    manifest.entries.push_back(std::move(entry));
  }
  std::sort(manifest.entries.begin(), manifest.entries.end(),
            [](const ManifestEntry& a, const ManifestEntry& b) { return a.output < b.output; });
  const std::string text = encode_manifest(manifest);
  if (text.size() == read_.size() && std::equal(text.begin(), text.end(), read_.begin()))
    return true;
  if (write_manifest_file(root, text)) return true;
  const std::string shown = output_dir + "/" + std::string(kManifestName);
  print_manifest_write_error(shown.c_str(), errno);
  return false;
}
