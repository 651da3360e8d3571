// Looking up an --update walk's files on a second thread. A re-run over an unchanged tree does
// nothing but look at each source and its output, and open and list each directory and its
// mirror; the walking thread and this one share that work for each directory, the walk from its
// front, this thread from its back.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <vector>

#include "run/scheduler.h"
#include "traverse/dir_fd.h"
#include "traverse/manifest.h"
#include "traverse/walk.h"

class StatAhead;

// One directory's regular files and subdirectories, each looked at once: by the thread, or by
// the walk itself.
class AheadListing final : public LookedAhead {
 public:
  AheadListing(StatAhead& owner, DirRef dir, DirRef mirror, std::span<const ListedEntry> entries);
  ~AheadListing() override;
  AheadListing(const AheadListing&) = delete;
  AheadListing& operator=(const AheadListing&) = delete;

  bool looked_up(std::size_t k, struct stat& st) override;
  bool opened_dir(std::size_t k, DirRef& dir, struct stat& st,
                  std::vector<ListedEntry>& entries) override;
  void left() override;

  // The mirror of the subdirectory opened_dir() last answered for, when it is named `name` and
  // was there to open (never through a link); the caller's from then on.
  DirRef mirror_of(std::string_view name);

  // The listing of the subdirectory opened_dir() last answered for, when it is named `name`:
  // its entries looked up already, or being looked up, on the thread. Hand it to
  // StatAhead::adopt() when the walk enters that directory.
  std::shared_ptr<AheadListing> child_of(std::string_view name);

  // Made for the directory `dir` with the mirror `mirror`.
  bool made_for(FileId dir, const DirRef& mirror) const {
    return dir == dir_id_ && (mirror ? mirror->id() : FileId{}) == mirror_id_;
  }

  // The output of the entry looked_up() last answered for, when it is named `name` and looked
  // up with it: a regular file's state, or size -1.
  std::optional<FileState> output_of(std::string_view name) const;

  // On the thread: looks up the last entry nobody has taken; false when none is left, and then
  // the directories are let go.
  bool look_one();
  bool finished() const { return dir_ == nullptr; }

 private:
  enum State : std::uint8_t { kFree, kTaken, kLooking, kDone };
  struct Slot {
    std::string name;  // empty: never looked up ahead
    std::atomic<std::uint8_t> state{kTaken};
    bool is_dir = false;
    bool found = false;  // its stat succeeded (a directory: it was opened and listed)
    struct stat st {};
    FileState output;
    DirRef opened, mirror;  // a directory and its mirror, held for the walk
    std::vector<ListedEntry> entries;
    std::shared_ptr<AheadListing> child;  // the directory's own entries, looked up ahead too
  };
  // Waits for the thread when it is looking at `slot`; the slot's state then.
  static std::uint8_t take(Slot& slot);
  void look_at_dir(Slot& slot);
  void let_go(Slot& slot);
  StatAhead& owner_;
  const FileId dir_id_, mirror_id_;
  DirRef dir_, mirror_;  // let go by the thread once it is done with them
  const bool mirrored_;  // outputs are looked up too
  std::unique_ptr<Slot[]> slots_;
  std::size_t count_;
  std::size_t back_;               // the thread's next candidate, counting down
  Slot* answered_ = nullptr;       // the walk's last entry answered from here
  std::atomic<bool> left_{false};  // the walk is done with the directory
};

class StatAhead {
 public:
  StatAhead();
  ~StatAhead();
  StatAhead(const StatAhead&) = delete;
  StatAhead& operator=(const StatAhead&) = delete;

  // The regular files of `dir` (listed as `entries`), looked up on the thread from the last one
  // back, with their outputs in `mirror` (which may be null). Null when too many listings wait.
  std::shared_ptr<AheadListing> look(DirRef dir, DirRef mirror,
                                     std::span<const ListedEntry> entries);

  // `listing`, made by the thread for a subdirectory (AheadListing::child_of()), now that the
  // walk enters it: what is left of it is looked up first.
  std::shared_ptr<AheadListing> adopt(std::shared_ptr<AheadListing> listing);

  // The run writes into the directory `dir` (a file handed out, a mirror made): what is looked
  // at there, or listed ahead from there, is not used from now on, whenever it was looked at.
  void writes_into(FileId dir) { written_.insert(dir); }
  bool written(FileId dir) const { return !written_.empty() && written_.count(dir) != 0; }

 private:
  friend class AheadListing;
  // Subdirectories opened ahead and not yet taken by the walk, at most this many: each holds up
  // to two descriptors and a listing.
  static constexpr int kMaxHeld = 32;
  std::atomic<int> held_{0};
  // Listings not yet done, at most this many: each holds two directories open.
  static constexpr std::size_t kMaxWaiting = 64;
  // How long the thread watches for the next listing before it sleeps (pause instructions).
  static constexpr int kWatch = 20000;
  void loop();
  // On the thread: a listing of a subdirectory just opened and listed, looked up once what the
  // walk stands in is done; null when too many listings wait.
  std::shared_ptr<AheadListing> look_below(const DirRef& dir, const DirRef& mirror,
                                           std::span<const ListedEntry> entries);

  struct IdHash {
    std::size_t operator()(const FileId& id) const {
      return std::hash<ino_t>()(id.ino) ^ (std::hash<dev_t>()(id.dev) << 1);
    }
  };
  std::unordered_set<FileId, IdHash> written_;  // the walking thread's alone
  std::mutex mutex_;
  std::condition_variable ready_;
  std::vector<std::shared_ptr<AheadListing>> waiting_;  // newest last: the walk is there
  std::atomic<std::uint64_t> pushed_{0};                // listings handed in, for the thread's spin
  bool sleeping_ = false;
  bool stopping_ = false;
  std::thread thread_;
};
