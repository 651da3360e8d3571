// Looks taken and directories opened on the second thread answer as the walk's own would, and
// never where the run writes, or for an entry the walk must look at itself.
#include "run/stat_ahead.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace {

struct Tree {
  TempDir tmp;
  DirRef source, mirror;
  std::vector<ListedEntry> entries;
  Tree() {
    ::mkdir((tmp / "src").c_str(), 0755);
    ::mkdir((tmp / "out").c_str(), 0755);
    ::mkdir((tmp / "src/d").c_str(), 0755);
    ::mkdir((tmp / "out/d").c_str(), 0700);
    write_file(tmp / "src/d/x", "x");
    write_file(tmp / "src/a", "aaa");
    write_file(tmp / "src/b", "bbbbb");
    write_file(tmp / "src/c", "c");
    write_file(tmp / "out/a", "1234567");
    write_file(tmp / "out/b", "x");
    ::symlink("a", (tmp / "out/c").c_str());  // planted in the output: not a regular file
    ::symlink("a", (tmp / "src/l").c_str());
    source = open_dir_at(AT_FDCWD, (tmp / "src").c_str(), Links::Follow);
    mirror = open_dir_at(AT_FDCWD, (tmp / "out").c_str(), Links::Follow);
    entries = {{"a", false, false}, {"l", true, false}, {"b", false, false},
               {"d", false, true},  {"c", false, false}, {"gone", false, false}};
  }
};

TEST(StatAhead, AnswersAsTheWalkWouldOrLeavesItToTheWalk) {
  const struct {
    std::int64_t source_size;  // -1: the walk looks itself
    std::int64_t output_size;
  } expected[] = {{3, 7}, {-1, 0}, {5, 1}, {-1, 0}, {1, -1}, {-1, 0}};
  for (const bool wait : {false, true}) {  // the walk first, or the thread first
    SCOPED_TRACE(wait);
    Tree tree;
    StatAhead ahead;
    const auto listing = ahead.look(tree.source, tree.mirror, tree.entries);
    ASSERT_NE(listing, nullptr);
    if (wait) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (std::size_t k = 0; k < tree.entries.size(); ++k) {
      struct stat st {};
      DirRef dir;
      if (std::vector<ListedEntry> listed; listing->opened_dir(k, dir, st, listed)) {
        EXPECT_EQ(tree.entries[k].name, "d");
        ASSERT_EQ(listed.size(), 1u);
        EXPECT_EQ(listed[0].name, "x");
        EXPECT_EQ(dir->id(), file_id(st));
        const DirRef mirror = listing->mirror_of("d");
        ASSERT_NE(mirror, nullptr);
        EXPECT_EQ(mirror->permissions(), 0700u);
        // The subdirectory's own entries are looked up ahead as well, answered as the walk's.
        const auto below = listing->child_of("d");
        ASSERT_NE(below, nullptr);
        EXPECT_FALSE(listing->child_of("d"));  // handed over once
        ASSERT_TRUE(below->made_for(dir->id(), mirror));
        ahead.adopt(below);
        struct stat x {};
        const bool looked = below->looked_up(0, x);
        EXPECT_TRUE(looked || !wait);
        if (looked) {
          EXPECT_EQ(x.st_size, 1);
          EXPECT_EQ(below->output_of("x"), FileState{});
        }
        below->left();
        continue;
      }
      if (!listing->looked_up(k, st)) {
        EXPECT_FALSE(listing->output_of(tree.entries[k].name));
        continue;
      }
      EXPECT_EQ(st.st_size, expected[k].source_size) << k;
      const std::optional<FileState> output = listing->output_of(tree.entries[k].name);
      ASSERT_TRUE(output) << k;
      EXPECT_EQ(output->size, expected[k].output_size) << k;
      EXPECT_FALSE(listing->output_of("other"));
    }
    listing->left();
  }
}

// A file being written where something was looked at may have changed it.
TEST(StatAhead, NothingLookedWhereTheRunWritesIsUsed) {
  for (const bool into_source : {true, false}) {
    SCOPED_TRACE(into_source);
    Tree tree;
    StatAhead ahead;
    const auto listing = ahead.look(tree.source, tree.mirror, tree.entries);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ahead.writes_into(into_source ? tree.source->id() : tree.mirror->id());
    for (std::size_t k = 0; k < tree.entries.size(); ++k) {
      struct stat st {};
      DirRef dir;
      std::vector<ListedEntry> listed;
      // Looks at sources stay good while only the mirror is written; outputs do not.
      const bool source_used = listing->looked_up(k, st);
      EXPECT_FALSE(into_source && source_used) << k;
      EXPECT_FALSE(listing->output_of(tree.entries[k].name)) << k;
      const bool dir_used = listing->opened_dir(k, dir, st, listed);
      EXPECT_FALSE(into_source && dir_used) << k;
    }
  }
}

}  // namespace
