// The scheduler's parts with fakes for the disk and the files: room decisions, claims, and the
// branches a real run reaches only by timing (a full disk on a worker, on the calling thread,
// while a directory is made).
#include "run/scheduler.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"
#include "support/test_support.h"

namespace {

// A file system whose free space the test sets; every measurement is counted.
struct FakeProbe final : SpaceProbe {
  std::optional<FreeSpace> space = FreeSpace{4096, {std::int64_t{1} << 40, 1 << 20}};
  int measured = 0;
  std::optional<FreeSpace> measure(int) override {
    ++measured;
    return space;
  }
};

constexpr std::int64_t kMiB = std::int64_t{1} << 20;

TEST(DiskRoom, RoomToSpareOnceEveryPendingFileIsDone) {
  const struct {
    const char* name;
    std::optional<Room> free;  // none: the file system gives no figures
    std::vector<std::int64_t> pending;
    Room extra;
    bool room;
    int siblings = 0;  // compressed copies beside each output
  } cases[] = {
      {"plenty", Room{100 * kMiB, 1000}, {kMiB, kMiB}, {}, true},
      {"files_take_it_all", Room{3 * kMiB, 1000}, {kMiB, kMiB, kMiB}, {}, false},
      {"spare_margin_kept", Room{2 * kMiB + 200 * 1024, 1000}, {kMiB, kMiB}, {}, false},
      {"inodes_run_out", Room{100 * kMiB, 10}, {1, 1, 1}, {}, false},
      {"a_directory_more_does_not_fit",
       Room{2 * kMiB + 600 * 1024, 1000},
       {kMiB},
       {kMiB + 400 * 1024, 1},
       false},
      {"no_figures_is_endless", std::nullopt, {kMiB << 20}, {}, true},
      {"siblings_take_room_too", Room{5 * kMiB, 1000}, {kMiB, kMiB}, {}, false, 2},
      {"siblings_take_inodes_too", Room{100 * kMiB, 20}, {1, 1}, {}, false, 3},
  };
  for (const auto& c : cases) {
    FakeProbe probe;
    probe.space =
        c.free ? std::optional<FreeSpace>(FreeSpace{4096, *c.free}) : std::optional<FreeSpace>();
    DiskRoom room(probe);
    for (const std::int64_t size : c.pending) room.add(1, 0, room.need_for(1, 0, size, 10, c.siblings));
    EXPECT_EQ(room.room_to_spare(1, 0, c.extra), c.room) << c.name;
  }
}

TEST(DiskRoom, MeasuresAgainBeforeSayingNo) {
  FakeProbe probe;
  probe.space = FreeSpace{4096, {3 * kMiB, 1000}};
  DiskRoom room(probe);
  const Room need = room.need_for(1, 0, kMiB, 10);
  room.add(1, 0, need);
  room.add(1, 0, need);
  room.add(1, 0, need);
  EXPECT_EQ(probe.measured, 1);
  EXPECT_FALSE(room.room_to_spare(1, 0));
  EXPECT_EQ(probe.measured, 2);
  // The files took less than they might, or others left: the new figure decides.
  probe.space = FreeSpace{4096, {100 * kMiB, 1000}};
  EXPECT_TRUE(room.room_to_spare(1, 0));
  EXPECT_EQ(probe.measured, 3);
}

TEST(Claims, HeldUntilEveryClaimIsReleased) {
  Claims claims;
  const NameKey out{{1, 2}, "a.html"}, in{{1, 3}, "a.html"};
  claims.claim(out, in);
  claims.claim(out, std::nullopt);
  EXPECT_TRUE(claims.name_held(out));
  EXPECT_TRUE(claims.name_held(in));
  EXPECT_TRUE(claims.dir_held(out.dir));
  EXPECT_FALSE(claims.dir_held(in.dir));  // only read there
  EXPECT_FALSE(claims.name_held(NameKey{{1, 2}, "b.html"}));
  claims.release(out, in);
  EXPECT_TRUE(claims.name_held(out));
  EXPECT_FALSE(claims.name_held(in));
  claims.release(out, std::nullopt);
  EXPECT_FALSE(claims.name_held(out));
  EXPECT_FALSE(claims.dir_held(out.dir));
}

// Files named f0, f1, ... whose runs print "ran fN (attempt K)"; the files in `full` find the
// disk full on their first attempt.
struct FakeFiles {
  std::vector<std::string> full;
  std::mutex mutex;
  std::map<std::string, int> attempts;
  std::atomic<int> done{0};
  std::atomic<bool> open{true};  // runs wait while it is closed

  FileRunner runner() {
    return [this](const FileWork& work, std::FILE* to, Scratch& scratch) {
      while (!open.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      int attempt = 0;
      {
        const std::lock_guard<std::mutex> lock(mutex);
        attempt = ++attempts[work.path];
      }
      std::fprintf(to, "ran %s (attempt %d)\n", work.path.c_str(), attempt);
      scratch.lacked_space =
          attempt == 1 && std::find(full.begin(), full.end(), work.path) != full.end();
      ++done;
      return Totals{.files_seen = 1};
    };
  }
};

constexpr FileCost kCost{.bytes_held = 1000};

class Pool : public testing::Test {
 protected:
  TempDir dir;
  DirRef out = open_dir_at(AT_FDCWD, dir.path().c_str(), Links::Follow);

  FileWork work(const std::string& name) {
    FileWork w;
    w.path = name;
    w.output_path = dir / name;
    w.output_name = name;
    w.output_dir = out;
    w.st.st_size = 1000;
    return w;
  }
  std::optional<NameKey> key(const std::string& name) { return NameKey{out->id(), name}; }
};

// What one worker prints, whatever the disk did: every file once, in order, the file that found
// the disk full with the lines of its second run only.
TEST_F(Pool, FullDiskOnAWorkerRunsTheFileAgainInOrder) {
  for (const int workers : {1, 2, 4}) {
    FakeFiles files;
    files.full = {"f3"};
    FakeProbe probe;
    std::string printed;
    Totals totals;
    printed = capture_stdout([&] {
      Scheduler scheduler(workers, files.runner(), probe);
      for (int k = 0; k < 8; ++k) {
        const std::string name = "f" + std::to_string(k);
        scheduler.submit(work(name), kCost, key(name), std::nullopt);
      }
      totals = scheduler.finish();
    });
    std::string expected;
    for (int k = 0; k < 8; ++k)
      expected += "ran f" + std::to_string(k) +
                  (k == 3 && workers > 1 ? " (attempt 2)\n" : " (attempt 1)\n");
    EXPECT_EQ(printed, expected) << workers;
    EXPECT_EQ(totals.files_seen, 8);
  }
}

// A file whose output directory is unknown runs on the calling thread; when it finds the disk
// full there, it runs again once every earlier file is done.
TEST_F(Pool, FullDiskOnTheCallingThreadRunsTheFileAgainAfterTheOthers) {
  FakeFiles files;
  files.full = {"alone"};
  FakeProbe probe;
  const std::string printed = capture_stdout([&] {
    Scheduler scheduler(2, files.runner(), probe);
    scheduler.submit(work("f0"), kCost, key("f0"), std::nullopt);
    scheduler.submit(work("f1"), kCost, key("f1"), std::nullopt);
    scheduler.submit(work("alone"), kCost, std::nullopt, std::nullopt);
    EXPECT_EQ(files.done.load(), 4);  // both others, and "alone" twice
    scheduler.finish();
  });
  EXPECT_EQ(printed, "ran f0 (attempt 1)\nran f1 (attempt 1)\nran alone (attempt 2)\n");
}

// A directory made where the disk has no room to spare waits for every earlier file, and files
// run one at a time from then on.
TEST_F(Pool, DirectoryOnAFullDiskWaitsForEveryEarlierFile) {
  FakeFiles files;
  FakeProbe probe;
  probe.space = FreeSpace{4096, {270 * 1024, 1000}};
  files.open = false;  // the files are still running when the directory is made
  std::thread opener([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    files.open = true;
  });
  const std::string printed = capture_stdout([&] {
    Scheduler scheduler(2, files.runner(), probe);
    for (const char* name : {"f0", "f1", "f2"}) scheduler.submit(work(name), kCost, key(name), {});
    scheduler.before_making_directory(*out);
    EXPECT_EQ(files.done.load(), 3);
    scheduler.submit(work("f3"), kCost, key("f3"), std::nullopt);
    scheduler.finish();
  });
  opener.join();
  EXPECT_EQ(printed,
            "ran f0 (attempt 1)\nran f1 (attempt 1)\nran f2 (attempt 1)\nran f3 (attempt 1)\n");
}

}  // namespace
