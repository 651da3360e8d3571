// Running files on a pool of workers with their lines printed in the order they were handed in.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "report/totals.h"
#include "run/claims.h"
#include "run/disk_room.h"
#include "traverse/options.h"
#include "traverse/pipeline.h"
#include "traverse/walk.h"

// Tells the processor that this thread is waiting in a loop.
inline void relax_cpu() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// A mutex that tries for a moment before it sleeps. The scheduler's lock is held for a few
// hash-map steps at a time, far shorter than a sleep and a wake-up; with more threads than cores,
// a thread put to sleep on it leaves its core idle.
class SpinningMutex {
 public:
  void lock() {
    for (int k = 0; k < kTries; ++k) {
      if (mutex_.try_lock()) return;
      relax_cpu();
    }
    mutex_.lock();
  }
  bool try_lock() { return mutex_.try_lock(); }
  void unlock() { mutex_.unlock(); }

 private:
  static constexpr int kTries = 400;
  std::mutex mutex_;
};

// Runs one file, printing its lines on the stream it is given: run_file with the run's options,
// or a fake in tests.
using FileRunner = std::function<Totals(const FileWork&, std::FILE*, Scratch&)>;

// What a file may take while it runs: bytes held in memory, and compressed siblings written beside
// its output.
struct FileCost {
  std::int64_t bytes_held = 0;
  int siblings = 0;
};

// Runs files on a pool of workers and prints what they print in the order they were handed in,
// byte for byte what one worker would print. With one worker everything runs on the calling
// thread and prints live. Everything but the workers' runs happens on the calling thread. What
// files touch is kept by Claims, the room they may take by DiskRoom.
class Scheduler {
 public:
  // Files in flight hold at most this many bytes of input, or one file when it is larger.
  static constexpr std::int64_t kMemoryBudget = std::int64_t{256} << 20;
  // Files handed in and not yet printed; bounds the queue and the lines held, whatever the tree.
  static constexpr std::size_t kMaxPending = 1024;

  Scheduler(const Options& options, int workers);
  Scheduler(int workers, FileRunner runner, SpaceProbe& probe);
  Scheduler(const Scheduler&) = delete;
  Scheduler& operator=(const Scheduler&) = delete;
  ~Scheduler();

  // Runs `work` (now, or on a worker). `output`: where it writes, when known; a file whose output
  // directory is unknown runs at once, so nothing made later can change what it meets. `input`:
  // where it reads, when known. It starts once no earlier file writes or reads its output.
  void submit(FileWork work, const FileCost& cost, std::optional<NameKey> output,
              std::optional<NameKey> input);

  // True when files run on workers (more than one).
  bool pooled() const { return pooled_; }

  // Prints lines of the calling thread in their place among the files' lines.
  void say(const std::function<void(std::FILE*)>& print);

  // Waits until no earlier file still writes or reads `name` in `dir`.
  void wait_for_name(FileId dir, std::string_view name);
  // Waits until no earlier file still writes into `dir`.
  void wait_for_dir(FileId dir);
  // Waits until every earlier file is done.
  void wait_for_all();

  // Called before the calling thread makes a directory in `parent` (on the file system `dev`):
  // where that file system has no room to spare for the files not yet done and the directory
  // too, waits for every earlier file first, and runs files one at a time from then on.
  void before_making_directory(const DirFd& parent);

  // Waits for every file, prints what is left and returns the run's totals.
  Totals finish();

  // Adds to the run's totals (files_seen of the walk).
  void count(const Totals& delta);

 private:
  struct Slot {
    std::string text;
    Totals delta;
    bool done = false;
  };
  struct Job {
    FileWork work;
    Slot* slot;
    std::optional<NameKey> output;
    std::optional<NameKey> input;
    std::int64_t bytes;
    std::uint64_t seq;   // the order files were handed in
    Room need;           // on the output's file system
    bool again = false;  // running a second time, after a full disk
  };

  // How long a worker that finds no file watches for one before it sleeps (pause instructions).
  static constexpr int kWatchForWork = 2000;
  // A job in the queue: the heap moves pointers, not jobs.
  using Queued = std::unique_ptr<Job>;
  // Orders the queue's heap so that its top is the largest file, or the oldest.
  static bool smaller_first(const Queued& a, const Queued& b);
  static bool older_first(const Queued& a, const Queued& b);
  using QueueOrder = bool (*)(const Queued&, const Queued&);
  QueueOrder queue_order() const { return in_order_ ? older_first : smaller_first; }
  // Runs files one at a time, oldest first, from now on.
  void go_in_order();
  // run_job, with an allocation failure outside the file's own work as its lines.
  void run_caught(Job& job, Scratch& scratch);
  void work_loop();
  void print_done_slots(std::unique_lock<SpinningMutex>& lock);
  void wait_until(std::unique_lock<SpinningMutex>& lock, const std::function<bool()>& ready);
  void run_job(Job& job, Scratch& scratch);
  void release(const Job& job);
  bool room_for(const Job& job);

  FileRunner runner_;
  const bool pooled_;
  Totals totals_;    // of the files, added as their lines are printed
  Totals counted_;   // of the calling thread
  Scratch scratch_;  // the calling thread's

  SpinningMutex mutex_;
  std::condition_variable_any work_ready_;  // workers wait for jobs
  std::condition_variable_any job_done_;    // the calling thread waits for results
  std::deque<Slot> slots_;                  // not yet printed, in order
  std::vector<Queued> queue_;               // not yet started: a heap, see queue_order()
  Claims claims_;
  DiskRoom room_;
  std::int64_t bytes_in_flight_ = 0;
  int jobs_in_flight_ = 0;
  bool printing_ = false;  // a thread is writing out done slots
  bool in_order_ = false;  // the disk is (nearly) full: one file at a time, oldest first
  int running_ = 0;        // jobs taken from the queue and not yet back
  std::atomic<std::size_t> queued_{0};  // queue_.size(), for workers looking without the lock
  std::uint64_t next_seq_ = 0;
  // While the calling thread waits: what it waits for, which workers test before waking it.
  const std::function<bool()>* caller_ready_ = nullptr;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

// Workers for a run: --jobs when given; else one per online CPU, or one under -v so that its
// bars are drawn live.
int worker_count(const Options& options);
