// The second thread of an --update walk: looks at sources and outputs from each directory's back.
#include "run/stat_ahead.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>

AheadListing::AheadListing(StatAhead& owner, DirRef dir, DirRef mirror,
                           std::span<const ListedEntry> entries)
    : owner_(owner),
      dir_id_(dir->id()),
      mirror_id_(mirror ? mirror->id() : FileId{}),
      dir_(std::move(dir)),
      mirror_(std::move(mirror)),
      mirrored_(mirror_ != nullptr),
      slots_(std::make_unique<Slot[]>(entries.size())),
      count_(entries.size()),
      back_(entries.size()) {
  for (std::size_t k = 0; k < count_; ++k) {
    if (entries[k].maybe_link) continue;  // looked at by the walk once no file writes there
    slots_[k].name = entries[k].name;
    slots_[k].is_dir = entries[k].listed_dir;
    slots_[k].state.store(kFree, std::memory_order_relaxed);
  }
}

AheadListing::~AheadListing() {
  for (std::size_t k = 0; k < count_; ++k) let_go(slots_[k]);
}

void AheadListing::let_go(Slot& slot) {
  if (!slot.opened) return;
  slot.opened.reset();
  owner_.held_.fetch_sub(1, std::memory_order_relaxed);
}

std::uint8_t AheadListing::take(Slot& slot) {
  std::uint8_t state = kFree;
  if (slot.state.compare_exchange_strong(state, kTaken, std::memory_order_acquire)) return kTaken;
  // A look takes microseconds; a thread held up longer (a busy machine) is not waited for: the
  // walk looks itself.
  constexpr int kPatience = 200;
  for (int k = 0; state == kLooking && k < kPatience; ++k) {
    relax_cpu();
    state = slot.state.load(std::memory_order_acquire);
  }
  return state;
}

bool AheadListing::looked_up(std::size_t k, struct stat& st) {
  answered_ = nullptr;
  if (k >= count_ || owner_.written(dir_id_)) return false;
  Slot& slot = slots_[k];
  if (slot.is_dir || take(slot) != kDone || !slot.found) return false;
  st = slot.st;
  answered_ = &slot;
  return true;
}

bool AheadListing::opened_dir(std::size_t k, DirRef& dir, struct stat& st,
                              std::vector<ListedEntry>& entries) {
  answered_ = nullptr;
  if (k >= count_ || owner_.written(dir_id_)) return false;
  Slot& slot = slots_[k];
  if (!slot.is_dir || take(slot) != kDone || !slot.found || owner_.written(file_id(slot.st)))
    return false;
  dir = slot.opened;
  let_go(slot);
  st = slot.st;
  entries = std::move(slot.entries);
  answered_ = &slot;
  return true;
}

DirRef AheadListing::mirror_of(std::string_view name) {
  if (answered_ == nullptr || !answered_->is_dir || answered_->name != name) return nullptr;
  return std::move(answered_->mirror);
}

std::shared_ptr<AheadListing> AheadListing::child_of(std::string_view name) {
  if (answered_ == nullptr || !answered_->is_dir || answered_->name != name) return nullptr;
  return std::move(answered_->child);
}

void AheadListing::left() { left_.store(true, std::memory_order_relaxed); }

std::optional<FileState> AheadListing::output_of(std::string_view name) const {
  if (answered_ == nullptr || answered_->is_dir || !mirrored_ || owner_.written(mirror_id_) ||
      !S_ISREG(answered_->st.st_mode) || answered_->name != name)
    return std::nullopt;
  return answered_->output;
}

bool AheadListing::look_one() {
  while (back_ > 0 && !left_.load(std::memory_order_relaxed)) {
    Slot& slot = slots_[--back_];
    // Past the limit a subdirectory is left to the walk.
    if (slot.is_dir && owner_.held_.load(std::memory_order_relaxed) >= StatAhead::kMaxHeld)
      continue;
    std::uint8_t state = kFree;
    if (!slot.state.compare_exchange_strong(state, kLooking, std::memory_order_acquire)) continue;
    if (slot.is_dir) {
      look_at_dir(slot);
      slot.state.store(kDone, std::memory_order_release);
      return true;
    }
    slot.found = ::fstatat(dir_->fd(), slot.name.c_str(), &slot.st, 0) == 0;
    if (slot.found && S_ISREG(slot.st.st_mode) && mirrored_)
      slot.output = regular_state_at(mirror_->fd(), slot.name.c_str());
    slot.state.store(kDone, std::memory_order_release);
    return true;
  }
  dir_.reset();
  mirror_.reset();
  return false;
}

void AheadListing::look_at_dir(Slot& slot) {
  slot.opened = open_dir_at(dir_->fd(), slot.name.c_str(), Links::Follow, &slot.st);
  if (!slot.opened) return;
  std::optional<std::vector<ListedEntry>> entries = read_entries(slot.opened->fd());
  if (!entries) {
    slot.opened.reset();
    return;
  }
  owner_.held_.fetch_add(1, std::memory_order_relaxed);
  slot.entries = std::move(*entries);
  slot.found = true;
  if (mirrored_) slot.mirror = open_dir_at(mirror_->fd(), slot.name.c_str(), Links::Refuse);
  slot.child = owner_.look_below(slot.opened, slot.mirror, slot.entries);
}

StatAhead::StatAhead() : thread_([this] { loop(); }) {}

StatAhead::~StatAhead() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  ready_.notify_one();
  thread_.join();
}

std::shared_ptr<AheadListing> StatAhead::look(DirRef dir, DirRef mirror,
                                              std::span<const ListedEntry> entries) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (waiting_.size() >= kMaxWaiting) return nullptr;
  }
  auto listing = std::make_shared<AheadListing>(*this, std::move(dir), std::move(mirror), entries);
  bool wake = false;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    waiting_.push_back(listing);
    wake = sleeping_;
  }
  pushed_.fetch_add(1, std::memory_order_release);
  if (wake) ready_.notify_one();
  return listing;
}

std::shared_ptr<AheadListing> StatAhead::look_below(const DirRef& dir, const DirRef& mirror,
                                                    std::span<const ListedEntry> entries) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (waiting_.size() >= kMaxWaiting) return nullptr;
  // Behind the listings waiting: the walk's own directory comes first, and of the
  // subdirectories, those met first (listed last, from the back) are looked up first.
  auto listing = std::make_shared<AheadListing>(*this, dir, mirror, entries);
  waiting_.push_back(listing);
  return listing;
}

std::shared_ptr<AheadListing> StatAhead::adopt(std::shared_ptr<AheadListing> listing) {
  bool wake = false;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto at = std::find(waiting_.begin(), waiting_.end(), listing);
    if (at != waiting_.end()) {
      std::rotate(at, at + 1, waiting_.end());  // newest: the walk is there
      wake = sleeping_;
    }
  }
  pushed_.fetch_add(1, std::memory_order_release);
  if (wake) ready_.notify_one();
  return listing;
}

void StatAhead::loop() {
  std::shared_ptr<AheadListing> current;
  std::uint64_t seen = 0;
  for (;;) {
    bool idle = true;
    if (current) {
      if (pushed_.load(std::memory_order_acquire) == seen && current->look_one()) continue;
      if (current->finished()) {
        const std::lock_guard<std::mutex> lock(mutex_);
        waiting_.erase(std::find(waiting_.begin(), waiting_.end(), current));
        idle = waiting_.empty();
      }
      current.reset();
    }
    // A listing comes for every directory the walk enters, a moment apart: with nothing to do,
    // the thread watches for the next one before it sleeps.
    for (int k = 0; idle && k < kWatch && pushed_.load(std::memory_order_relaxed) == seen; ++k)
      relax_cpu();
    std::unique_lock<std::mutex> lock(mutex_);
    if (waiting_.empty() && !stopping_) {
      sleeping_ = true;
      ready_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
      sleeping_ = false;
    }
    if (stopping_) return;
    // The newest listing next: the walk has just entered it, and the others' entries after a
    // subdirectory wait until the walk comes back.
    seen = pushed_.load(std::memory_order_acquire);
    current = waiting_.back();
  }
}
