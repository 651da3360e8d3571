// The worker pool, its queue, ordered output slots and disk-room accounting.
#include "run/scheduler.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <utility>

#include "report/console.h"
#include "run/stop.h"

namespace {

// One file's lines, gathered in memory. None when even that cannot be allocated.
struct Buffer {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* stream = nullptr;
  Buffer() : stream(::open_memstream(&data, &size)) {}
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  ~Buffer() {
    if (stream != nullptr) std::fclose(stream);
    std::free(data);
  }
  // Closes the stream and hands over what was printed.
  std::string take() {
    if (stream != nullptr) std::fclose(stream);
    stream = nullptr;
    return data != nullptr ? std::string(data, size) : std::string();
  }
};

}  // namespace

int worker_count(const Options& options) {
  if (options.jobs > 0) return options.jobs;
  if (options.verbose) return 1;
  const long cpus = ::sysconf(_SC_NPROCESSORS_ONLN);
  return cpus > 1 ? static_cast<int>(cpus < 256 ? cpus : 256) : 1;
}

Scheduler::Scheduler(const Options& options, int workers)
    : Scheduler(
          workers,
          [&options](const FileWork& work, std::FILE* to, Scratch& scratch) {
            return run_file(work, options, to, scratch);
          },
          system_space_probe()) {}

Scheduler::Scheduler(int workers, FileRunner runner, SpaceProbe& probe)
    : runner_(std::move(runner)), pooled_(workers > 1), room_(probe) {
  if (!pooled_) return;
  workers_.reserve(static_cast<std::size_t>(workers));
  for (int k = 0; k < workers; ++k) workers_.emplace_back([this] { work_loop(); });
}

Scheduler::~Scheduler() {
  {
    const std::lock_guard<SpinningMutex> lock(mutex_);
    stopping_ = true;
  }
  work_ready_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

bool Scheduler::smaller_first(const Queued& a, const Queued& b) {
  return a->work.st.st_size < b->work.st.st_size;
}

bool Scheduler::older_first(const Queued& a, const Queued& b) { return a->seq > b->seq; }

bool Scheduler::room_for(const Job& job) {
  return !job.output || room_.room_to_spare(job.output->dir.dev, job.work.output_dir->fd());
}

void Scheduler::before_making_directory(const DirFd& parent) {
  if (!pooled_) return;
  std::unique_lock<SpinningMutex> lock(mutex_);
  const dev_t dev = parent.id().dev;
  const Room need = room_.directory_need(dev, parent.fd());
  if (jobs_in_flight_ > 0 && !room_.room_to_spare(dev, parent.fd(), need)) {
    go_in_order();
    wait_until(lock, [&] { return jobs_in_flight_ == 0; });
  }
  room_.take(dev, parent.fd(), need);
}

// Whichever thread finds the first slot done prints it and every done slot after it; one thread
// at a time, so the lines go out in order while the others go on.
void Scheduler::print_done_slots(std::unique_lock<SpinningMutex>& lock) {
  if (printing_) return;  // the thread printing now will come to these slots too
  printing_ = true;
  while (!slots_.empty() && slots_.front().done) {
    Slot slot = std::move(slots_.front());
    slots_.pop_front();
    add_totals(totals_, slot.delta);
    lock.unlock();
    std::fwrite(slot.text.data(), 1, slot.text.size(), stdout);
    lock.lock();
  }
  printing_ = false;
}

void Scheduler::wait_until(std::unique_lock<SpinningMutex>& lock,
                           const std::function<bool()>& ready) {
  print_done_slots(lock);
  if (ready()) return;
  // Workers wake this thread only once what it waits for holds: a wake-up per file would take a
  // core from them.
  caller_ready_ = &ready;
  do {
    job_done_.wait(lock);
    print_done_slots(lock);
  } while (!ready());
  caller_ready_ = nullptr;
}

void Scheduler::run_job(Job& job, Scratch& scratch) {
  Buffer lines;
  Totals delta;
  if (lines.stream == nullptr) throw std::bad_alloc();
  try {
    delta = runner_(job.work, lines.stream, scratch);
  } catch (const std::bad_alloc&) {  // the file's own buffers are checked; this is the rest
    print_memory_error(lines.stream);
    print_skipped(lines.stream, job.work.path.c_str());
    delta = Totals{.failures = 1};
  }
  std::string text = lines.take();
  const std::lock_guard<SpinningMutex> lock(mutex_);
  job.slot->text = std::move(text);
  job.slot->delta = delta;
}

void Scheduler::release(const Job& job) {
  claims_.release(job.output, job.input);
  if (job.output) room_.done(job.output->dir.dev, job.need);
  bytes_in_flight_ -= job.bytes;
  --jobs_in_flight_;
  job.slot->done = true;
}

void Scheduler::run_caught(Job& job, Scratch& scratch) {
  try {
    run_job(job, scratch);
  } catch (const std::bad_alloc&) {
    const std::lock_guard<SpinningMutex> lock(mutex_);
    job.slot->text = "Error: memory error\nSkipped: " + escape_controls(job.work.path) + "\n";
    job.slot->delta = Totals{.failures = 1};
  }
}

void Scheduler::go_in_order() {
  if (in_order_) return;
  in_order_ = true;
  std::make_heap(queue_.begin(), queue_.end(), older_first);
}

void Scheduler::work_loop() {
  Scratch scratch;
  reserve_scratch(scratch);
  std::unique_lock<SpinningMutex> lock(mutex_);
  for (;;) {
    if (queue_.empty() && !stopping_) {
      // The walk hands in a file every few microseconds: watching for it for a moment costs less
      // than sleeping and being woken, which takes the walking thread's core for a while too.
      lock.unlock();
      for (int k = 0; k < kWatchForWork && queued_.load(std::memory_order_relaxed) == 0; ++k)
        relax_cpu();
      lock.lock();
    }
    work_ready_.wait(lock,
                     [this] { return queue_.empty() ? stopping_ : !in_order_ || running_ == 0; });
    if (queue_.empty()) return;
    if (!in_order_ && jobs_in_flight_ > 1 && !room_for(*queue_.front())) {
      // Too little room to spare for every file not yet done: one of them could take what an
      // earlier one needs. From now on files run one at a time, oldest first.
      go_in_order();
      continue;
    }
    // The largest waiting file first: a large file started last would keep one worker busy
    // while the others have nothing left to do. Files in the queue never share a name, so
    // their order is free; their lines still go out in walk order.
    std::pop_heap(queue_.begin(), queue_.end(), queue_order());
    Queued taken = std::move(queue_.back());
    queue_.pop_back();
    Job& job = *taken;
    queued_.store(queue_.size(), std::memory_order_relaxed);
    ++running_;
    lock.unlock();
    if (stop_signal() == 0)
      run_caught(job, scratch);
    else
      scratch.lacked_space = false;  // a stopped run starts no file: this one leaves no line
    lock.lock();
    --running_;
    if (scratch.lacked_space && !job.again) {
      // The disk or the quota was full while other files were being written: the space may have
      // gone to a later file that one worker would not have started yet. From now on files run
      // one at a time, oldest first, and this one runs again once every file before it is done.
      job.again = true;
      go_in_order();
      queue_.push_back(std::move(taken));
      std::push_heap(queue_.begin(), queue_.end(), older_first);
      queued_.store(queue_.size(), std::memory_order_relaxed);
      work_ready_.notify_one();
      continue;
    }
    release(job);
    print_done_slots(lock);
    if (caller_ready_ != nullptr && (*caller_ready_)()) job_done_.notify_one();
    if (in_order_) work_ready_.notify_one();  // the next file may start now
  }
}

void Scheduler::submit(FileWork work, const FileCost& cost, std::optional<NameKey> output,
                       std::optional<NameKey> input) {
  if (!pooled_) {
    add_totals(totals_, runner_(work, stdout, scratch_));
    return;
  }
  std::unique_lock<SpinningMutex> lock(mutex_);
  const std::int64_t bytes = cost.bytes_held;
  wait_until(lock, [&] {
    const bool room = jobs_in_flight_ == 0 || bytes_in_flight_ + bytes <= kMemoryBudget;
    const bool clear = !output || !claims_.name_held(*output);
    return room && clear && slots_.size() < kMaxPending;
  });
  Slot& slot = slots_.emplace_back();
  if (!output) {
    // Nothing earlier writes where this file does (its directory is unknown to all), and
    // nothing later may run first: it runs here and now.
    Job job{std::move(work), &slot, std::nullopt, std::nullopt, 0, next_seq_++, {}};
    lock.unlock();
    run_caught(job, scratch_);
    lock.lock();
    if (scratch_.lacked_space) {
      // Written while other files were: again, once they are done, as one worker would have.
      go_in_order();
      wait_until(lock, [&] { return jobs_in_flight_ == 0; });
      lock.unlock();
      run_caught(job, scratch_);
      lock.lock();
    }
    slot.done = true;
    print_done_slots(lock);
    return;
  }
  claims_.claim(output, input);
  bytes_in_flight_ += bytes;
  ++jobs_in_flight_;
  const int dir = work.output_dir->fd();
  const Room need =
      room_.need_for(output->dir.dev, dir, work.st.st_size, work.path.size(), cost.siblings);
  room_.add(output->dir.dev, dir, need);
  queue_.push_back(std::make_unique<Job>(
      Job{std::move(work), &slot, std::move(output), std::move(input), bytes, next_seq_++, need}));
  std::push_heap(queue_.begin(), queue_.end(), queue_order());
  queued_.store(queue_.size(), std::memory_order_relaxed);
  lock.unlock();
  work_ready_.notify_one();
}

void Scheduler::say(const std::function<void(std::FILE*)>& print) {
  if (!pooled_) {
    print(stdout);
    return;
  }
  std::unique_lock<SpinningMutex> lock(mutex_);
  print_done_slots(lock);
  if (slots_.empty() && !printing_) {  // nothing ahead of these lines: they go out now
    lock.unlock();
    print(stdout);
    return;
  }
  lock.unlock();
  Buffer lines;
  std::string text;
  if (lines.stream != nullptr) {
    print(lines.stream);
    text = lines.take();
  }
  lock.lock();
  Slot& slot = slots_.emplace_back();
  slot.text = std::move(text);
  slot.done = true;
}

// The totals are only read at the end, so the order they grow in does not matter.
void Scheduler::count(const Totals& delta) { add_totals(counted_, delta); }

void Scheduler::wait_for_name(FileId dir, std::string_view name) {
  if (!pooled_) return;
  const NameKey key{dir, std::string(name)};
  std::unique_lock<SpinningMutex> lock(mutex_);
  wait_until(lock, [&] { return !claims_.name_held(key); });
}

void Scheduler::wait_for_dir(FileId dir) {
  if (!pooled_) return;
  std::unique_lock<SpinningMutex> lock(mutex_);
  wait_until(lock, [&] { return !claims_.dir_held(dir); });
}

void Scheduler::wait_for_all() {
  if (!pooled_) return;
  std::unique_lock<SpinningMutex> lock(mutex_);
  wait_until(lock, [&] { return jobs_in_flight_ == 0; });
}

Totals Scheduler::finish() {
  if (pooled_) {
    std::unique_lock<SpinningMutex> lock(mutex_);
    wait_until(lock, [&] { return slots_.empty() && !printing_; });
  }
  add_totals(totals_, counted_);
  return totals_;
}
