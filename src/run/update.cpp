// The --update run: what is up to date, what was written, what --delete removes, the new record.
#include "run/update.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <string_view>
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

// An index slot: a name's hash in the high half, entry number + 1 in the low half.
constexpr std::uint64_t kNumberPart = 0xFFFFFFFF;

std::uint64_t hash_part(std::string_view name) {
  return std::hash<std::string_view>()(name) & ~kNumberPart;
}

}  // namespace

std::vector<std::size_t> UpdateRun::Index::build(const std::vector<ManifestLines::Line>& lines) {
  lines_ = &lines;
  std::size_t size = 16;
  while (size < lines.size() + lines.size() / 2) size *= 2;  // at most two thirds full
  slots_.assign(size, 0);
  std::vector<std::size_t> replaced;
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const std::uint64_t hash = hash_part(lines[k].output);
    std::size_t at = (hash >> 32) & (size - 1);
    for (; slots_[at] != 0; at = (at + 1) & (size - 1)) {
      const std::size_t other = (slots_[at] & kNumberPart) - 1;
      if ((slots_[at] & ~kNumberPart) != hash || lines[other].output != lines[k].output) continue;
      replaced.push_back(other);
      break;
    }
    slots_[at] = hash | (k + 1);
  }
  return replaced;
}

std::optional<std::size_t> UpdateRun::Index::find(std::string_view output) const {
  if (slots_.empty()) return std::nullopt;
  const std::uint64_t hash = hash_part(output);
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t at = (hash >> 32) & mask; slots_[at] != 0; at = (at + 1) & mask) {
    if ((slots_[at] & ~kNumberPart) != hash) continue;
    const std::size_t k = (slots_[at] & kNumberPart) - 1;
    if ((*lines_)[k].output == output) return k;
  }
  return std::nullopt;
}

UpdateRun::UpdateRun(const Options& options)
    : options_(options), fingerprint_(options_fingerprint(options)) {}

void UpdateRun::load(const DirFd& root) {
  ManifestRead file = read_manifest_file(root);
  if (file.found == ManifestRead::Found::Nothing) return;
  read_ = std::move(file.bytes);  // the buffer stays where it is: the lines below view it
  std::optional<ManifestLines> record;
  if (file.found == ManifestRead::Found::Whole) record = read_manifest_lines(read_);
  if (!record) {
    read_ = Bytes();
    const std::string shown = options_.output_dir + "/" + std::string(kManifestName);
    print_manifest_ignored(shown.c_str());
    return;
  }
  record_ = std::move(*record);
  trusted_ = record_.program == kProgramVersion && record_.fingerprint == fingerprint_;
  marks_.assign(record_.entries.size(), 0);
  for (const std::size_t k : index_.build(record_.entries)) marks_[k] |= kReplaced;
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
  const std::optional<std::size_t> at = index_.find(work.record_name);
  if (!at) return std::nullopt;
  marks_[*at] |= kMet;
  if (!trusted_) return std::nullopt;
  ManifestEntry& entry = looked_;
  entry_of(record_.entries[*at], entry);
  const int dir = work.output_dir->fd();
  OutputNow now;
  now.output = output ? *output : regular_state_at(dir, work.output_name.c_str());
  for (const Encoding e : kEncodings) {
    const auto k = static_cast<unsigned>(e);
    if (entry.siblings[k].size >= 0)
      now.siblings[k] = regular_state_at(dir, sibling_name(work.output_name, e).c_str());
  }
  if (!up_to_date(entry, work.path, work.st, now)) return std::nullopt;
  marks_[*at] |= kKept;
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
  struct Gone {
    std::size_t k;  // in the record
    ManifestEntry entry;
  };
  std::vector<Gone> gone;
  for (std::size_t k = 0; k < record_.entries.size(); ++k) {
    if ((marks_[k] & (kMet | kReplaced)) != 0) continue;
    ManifestEntry entry = entry_of(record_.entries[k]);
    if (below_walked(entry.source) && source_gone(entry.source))
      gone.push_back({k, std::move(entry)});
  }
  std::sort(gone.begin(), gone.end(),
            [](const Gone& a, const Gone& b) { return a.entry.output < b.entry.output; });
  std::int64_t failures = 0;
  // Mirror directories that may be left empty, each with its source directory.
  std::vector<std::pair<std::string, std::string>> dirs;
  for (const Gone& one : gone) {
    const ManifestEntry& entry = one.entry;
    const std::string_view parent_name = parent_part(entry.output);
    const DirRef parent = open_dir_beneath(root, parent_name);
    if (!parent) {
      if (errno == ENOENT) marks_[one.k] |= kRemoved;  // gone with its directory
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
    if (!failed) marks_[one.k] |= kRemoved;
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
  std::vector<ManifestEntry> written;
  {
    const std::lock_guard<std::mutex> lock(written_mutex_);
    written = std::move(written_);
    written_.clear();
  }
  // Every entry found up to date and nothing else: the record would be written as it was read.
  if (trusted_ && written.empty() && kept_ == record_.entries.size()) return true;

  // The lines to write, in output order: those of the record that stay as they were read, and
  // the lines of the files written in this run, which replace any the record had for them.
  struct Line {
    std::string_view output, text;
    bool stale = false;  // its first word, the entry's "current" mark, is written as 0
  };
  bool as_read = trusted_ && written.empty();
  std::vector<Line> kept;
  kept.reserve(record_.entries.size());
  for (std::size_t k = 0; k < record_.entries.size(); ++k) {
    if ((marks_[k] & (kRemoved | kReplaced)) != 0) {
      as_read = false;
      continue;
    }
    const ManifestLines::Line& line = record_.entries[k];
    // An entry neither found up to date nor written stays listed, so that --delete can still
    // remove its output; it is up to date next time only if nothing here touched it.
    const bool current = line.text.front() == '1';
    const bool stays_current = (marks_[k] & kKept) != 0 || (trusted_ && (marks_[k] & kMet) == 0);
    kept.push_back({line.output, line.text, current && !stays_current});
    as_read = as_read && !kept.back().stale;
  }
  const auto by_output = [](const Line& a, const Line& b) { return a.output < b.output; };
  if (!std::is_sorted(kept.begin(), kept.end(), by_output)) {
    as_read = false;
    std::sort(kept.begin(), kept.end(), by_output);
  }
  if (as_read) return true;

  std::sort(written.begin(), written.end(),
            [](const ManifestEntry& a, const ManifestEntry& b) { return a.output < b.output; });
  std::string fresh;  // the written files' lines, one after another
  std::vector<std::size_t> ends;
  ends.reserve(written.size());
  for (const ManifestEntry& entry : written) {
    encode_manifest_entry(fresh, entry);
    ends.push_back(fresh.size());
  }
  const std::string head = encode_manifest_head(kProgramVersion, fingerprint_);
  std::vector<std::string_view> pieces;
  pieces.reserve(2 * (kept.size() + written.size()) + 2);
  pieces.push_back(head);
  std::size_t count = 0;
  std::size_t w = 0, start = 0;
  const auto put_written = [&] {
    pieces.emplace_back(fresh.data() + start, ends[w] - start);
    start = ends[w++];
    ++count;
  };
  for (const Line& line : kept) {
    while (w < written.size() && written[w].output < line.output) put_written();
    if (w < written.size() && written[w].output == line.output) continue;  // written anew
    if (line.stale) {
      pieces.emplace_back("0");
      pieces.push_back(line.text.substr(1));
    } else {
      pieces.push_back(line.text);
    }
    pieces.emplace_back("\n");
    ++count;
  }
  while (w < written.size()) put_written();
  const std::string end = encode_manifest_end(count);
  pieces.push_back(end);
  if (write_manifest_file(root, pieces)) return true;
  const std::string shown = output_dir + "/" + std::string(kManifestName);
  print_manifest_write_error(shown.c_str(), errno);
  return false;
}
