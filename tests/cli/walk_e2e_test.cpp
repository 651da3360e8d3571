// Whole trees through `sveltery -r`: mirroring, links, loops, unreadable parts, depth.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace {

const std::string kDemo = "Sveltery 1.1 Demo\n";
const std::string kOut = "Outputing to: ./sveltered/\n";

void make_dir(const std::string& path, mode_t mode = 0755) {
  ::mkdir(path.c_str(), 0700);
  ::chmod(path.c_str(), mode);
}

std::vector<std::string> lines(std::initializer_list<std::string> l) {
  std::vector<std::string> v(l);
  std::sort(v.begin(), v.end());
  return v;
}

TEST(Walk, MirrorsNestedHiddenAndEmptyDirectories) {
  TempDir dir;
  make_dir(dir / "site", 0755);
  write_file(dir / "site/a.txt", "a");
  write_file(dir / "site/.hidden.txt", "h");
  write_file(dir / "site/.html", "<p>  x");
  make_dir(dir / "site/img", 0750);
  write_file(dir / "site/img/b.css", "b");
  make_dir(dir / "site/.git", 0700);
  write_file(dir / "site/.git/c", "c");
  make_dir(dir / "site/empty", 0555);
  const RunResult r = run_sveltery(dir.path(), {"-rl", "site/"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(
      sorted_lines(r.out),
      lines({"Sveltery 1.1 Demo", "Outputing to: ./sveltered/", "Copying: site/a.txt",
             "Copying: site/.hidden.txt", "Optimizing: site/.html", " Saved: 16.7% or 1 of 6 bytes",
             "Copying: site/img/b.css", "Copying: site/.git/c",
             "Sveltery Saved: 16.7% or 1 of 6 bytes overall on optimizable formats",
             "Sveltery Saved: 16.7% or 1 of 6 bytes on html format files",
             "Sveltery Optimized: 1 of 5 files"}));
  EXPECT_EQ(mode_of(dir / "sveltered/site"), 0775u);
  EXPECT_EQ(mode_of(dir / "sveltered/site/img"), 0770u);
  EXPECT_EQ(mode_of(dir / "sveltered/site/.git"), 0760u);
  EXPECT_EQ(mode_of(dir / "sveltered/site/empty"), 0775u);
  EXPECT_EQ(read_file(dir / "sveltered/site/a.txt"), "a");
  EXPECT_EQ(read_file(dir / "sveltered/site/.hidden.txt"), "h");
  EXPECT_EQ(read_file(dir / "sveltered/site/img/b.css"), "b");
  EXPECT_EQ(read_file(dir / "sveltered/site/.git/c"), "c");
  EXPECT_NE(read_file(dir / "sveltered/site/.html").find("<!-- File Name: site/.html "),
            std::string::npos);
}

TEST(Walk, AbsolutePathMirrorsUnderItsLastComponent) {
  TempDir dir;
  write_file(dir / "www/site/a.txt", "a");
  const RunResult r = run_sveltery(dir.path(), {"-r", "-o", "out", dir / "www/site"});
  EXPECT_EQ(r.out, kDemo);
  EXPECT_EQ(read_file(dir / "out/site/a.txt"), "a");
}

TEST(Walk, SwitchedOffFormatsCopiedOnlyWithC) {
  TempDir dir;
  write_file(dir / "t/a.html", "<p>  a");
  write_file(dir / "t/b.jpg", "not really");
  RunResult r = run_sveltery(dir.path(), {"-r", "-j", "-f", "t"});
  EXPECT_EQ(r.out, kDemo + kOut +
                       "Sveltery Saved: 0.0% or 0 of 10 bytes overall on optimizable formats\n"
                       "Sveltery Saved: 0.0% or 0 of 10 bytes on jpg format files\n"
                       "Sveltery Optimized: 1 of 2 files\n");
  EXPECT_FALSE(exists(dir / "sveltered/t/a.html"));
  r = run_sveltery(dir.path(), {"-r", "-j", "-c", "-o", "c", "t"});
  EXPECT_EQ(read_file(dir / "c/t/a.html"), "<p>  a");
}

TEST(Walk, LinksAreFollowedAndDanglingOnesReported) {
  TempDir dir;
  write_file(dir / "real/f.txt", "f");
  write_file(dir / "t/x.txt", "x");
  ASSERT_EQ(::symlink("../real/f.txt", (dir / "t/link.txt").c_str()), 0);
  ASSERT_EQ(::symlink("../real", (dir / "t/dirlink").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", (dir / "t/dangling").c_str()), 0);
  const RunResult r = run_sveltery(dir.path(), {"-r", "t"});
  EXPECT_EQ(sorted_lines(r.out), lines({"Sveltery 1.1 Demo", "File: t/dangling doesn't exist."}));
  EXPECT_EQ(read_file(dir / "sveltered/t/link.txt"), "f");
  EXPECT_EQ(read_file(dir / "sveltered/t/dirlink/f.txt"), "f");
  struct stat st {};
  ASSERT_EQ(::lstat((dir / "sveltered/t/link.txt").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST(Walk, LinkLoopEndsAndEveryFileOnce) {
  TempDir dir;
  write_file(dir / "t/a/f.txt", "f");
  ASSERT_EQ(::symlink("..", (dir / "t/a/up").c_str()), 0);
  ASSERT_EQ(::symlink(".", (dir / "t/self").c_str()), 0);
  const RunResult r = run_sveltery(dir.path(), {"-r", "-f", "t"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kDemo + kOut + "Sveltery Optimized: 0 of 1 files\n");
  EXPECT_EQ(read_file(dir / "sveltered/t/a/f.txt"), "f");
  EXPECT_FALSE(exists(dir / "sveltered/t/a/up"));
  EXPECT_FALSE(exists(dir / "sveltered/t/self"));
}

TEST(Walk, OutputDirectoryInsideTheTreeIsSkipped) {
  TempDir dir;
  write_file(dir / "site/a.html", "<p>  a");
  write_file(dir / "site/sub/b.txt", "b");
  const RunResult r = run_sveltery(dir.path(), {"-r", "-f", "-o", "site/min", "site"});
  EXPECT_EQ(r.out, kDemo + "Outputing to: site/min/\n" +
                       "Sveltery Saved: 16.7% or 1 of 6 bytes overall on optimizable formats\n"
                       "Sveltery Saved: 16.7% or 1 of 6 bytes on html format files\n"
                       "Sveltery Optimized: 1 of 2 files\n");
  EXPECT_TRUE(exists(dir / "site/min/site/a.html"));
  EXPECT_TRUE(exists(dir / "site/min/site/sub/b.txt"));
  EXPECT_FALSE(exists(dir / "site/min/site/min"));
  // A second run sees the first run's output in the tree and still skips it.
  const RunResult again = run_sveltery(dir.path(), {"-r", "-f", "-o", "site/min", "site"});
  EXPECT_EQ(again.out, r.out);
}

TEST(Walk, OutputDirectoryNamedOnTheCommandLineIsSkipped) {
  TempDir dir;
  write_file(dir / "sveltered/old.txt", "o");
  const RunResult r = run_sveltery(dir.path(), {"-r", "-f", "sveltered"});
  EXPECT_EQ(r.out, kDemo + kOut + "Sveltery Optimized: 0 of 0 files\n");
  EXPECT_FALSE(exists(dir / "sveltered/sveltered"));
}

TEST(Walk, ExistingMirrorGetsItsModeAgain) {
  TempDir dir;
  write_file(dir / "t/a.txt", "a");
  ::chmod((dir / "t").c_str(), 0751);
  make_dir(dir / "sveltered", 0700);
  make_dir(dir / "sveltered/t", 0700);
  run_sveltery(dir.path(), {"-r", "t"});
  EXPECT_EQ(mode_of(dir / "sveltered/t"), 0771u);
  EXPECT_EQ(read_file(dir / "sveltered/t/a.txt"), "a");
}

TEST(Walk, LinkAtMirrorPathKeepsItsTargetsMode) {
  TempDir dir;
  write_file(dir / "t/a.txt", "a");
  make_dir(dir / "elsewhere", 0700);
  make_dir(dir / "sveltered", 0700);
  ASSERT_EQ(::symlink((dir / "elsewhere").c_str(), (dir / "sveltered/t").c_str()), 0);
  run_sveltery(dir.path(), {"-r", "t"});
  EXPECT_EQ(mode_of(dir / "elsewhere"), 0700u);
}

TEST(Walk, UnreadableSubdirectoryIsReportedAndMirrored) {
  TempDir dir;
  write_file(dir / "t/locked/x.txt", "x");
  write_file(dir / "t/ok.txt", "o");
  ::chmod((dir / "t/locked").c_str(), 0000);
  const RunResult r = run_sveltery_as_user(dir.path(), {"-r", "t"});
  EXPECT_EQ(r.out, kDemo + "Error: opening directory: t/locked\n");
  EXPECT_TRUE(exists(dir / "sveltered/t/locked"));
  EXPECT_EQ(read_file(dir / "sveltered/t/ok.txt"), "o");
}

TEST(Walk, ReadableButUnsearchableDirectoryDeniesEveryEntry) {
  TempDir dir;
  write_file(dir / "t/x.txt", "x");
  ::chmod((dir / "t").c_str(), 0444);
  const RunResult r = run_sveltery_as_user(dir.path(), {"-r", "t"});
  // Its own "." and ".." are no entries of the tree.
  EXPECT_EQ(sorted_lines(r.out), lines({"Sveltery 1.1 Demo", "Permission denied to: t/x.txt."}));
}

TEST(Walk, PathThroughAFileIsReportedNotPassedOver) {
  TempDir dir;
  write_file(dir / "t/x.txt", "x");
  const RunResult r = run_sveltery(dir.path(), {"-r", "t/x.txt/"});
  EXPECT_EQ(r.out, kDemo + "Error: getting file status: t/x.txt/\n");
}

TEST(Walk, FifoAndDeviceAreNeverOpened) {
  TempDir dir;
  write_file(dir / "t/a.txt", "a");
  ASSERT_EQ(::mkfifo((dir / "t/pipe.html").c_str(), 0644), 0);
  const RunResult r = run_sveltery(dir.path(), {"-r", "-f", "t", dir / "t/pipe.html"});
  EXPECT_EQ(r.out, kDemo + kOut + "Sveltery Optimized: 0 of 1 files\n");
  EXPECT_FALSE(exists(dir / "sveltered/t/pipe.html"));
}

TEST(Walk, VeryDeepTreeEndsWithEveryReachableFile) {
  TempDir dir;
  // 1500 levels: deeper than any default limit on open directories or a small stack frame budget.
  std::string path = dir / "t";
  make_dir(path);
  std::string relative = "t";
  for (int i = 0; i < 1500; ++i) {
    path += "/d";
    relative += "/d";
    ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
  }
  write_file(path + "/deep.txt", "deep");
  const RunResult r = run_sveltery(dir.path(), {"-r", "-f", "t"});
  EXPECT_EQ(r.out, kDemo + kOut + "Sveltery Optimized: 0 of 1 files\n");
  EXPECT_EQ(read_file(dir / ("sveltered/" + relative + "/deep.txt")), "deep");
}

TEST(Walk, ThousandsOfFilesInOneDirectory) {
  TempDir dir;
  for (int i = 0; i < 3000; ++i) write_file(dir / ("t/f" + std::to_string(i) + ".txt"), "x");
  const RunResult r = run_sveltery(dir.path(), {"-r", "-f", "t"});
  EXPECT_EQ(r.out, kDemo + kOut + "Sveltery Optimized: 0 of 3000 files\n");
  EXPECT_EQ(read_file(dir / "sveltered/t/f2999.txt"), "x");
}

struct TreesCase {
  const char* name;
  std::vector<std::string> args;  // run where a/site, b/docs and b/site are
  int status;
  std::string out;                // after the demo line
  std::vector<std::string> made;  // under sveltered/, with their content
  std::vector<std::string> absent;
};

// Trees from several directories are each mirrored by their own names; two that would be
// mirrored at one place are not merged: the later is refused.
const TreesCase kTrees[] = {
    {"two_trees", {"-r", "a/site", "b/docs"}, 1, "", {"site/i.txt=a", "docs/d.txt=d"}, {}},
    {"tree_then_file_elsewhere",
     {"-r", "a/site", "b/docs/d.txt"},
     1,
     "",
     {"site/i.txt=a", "d.txt=d"},
     {}},
    {"same_name_twice",
     {"-r", "a/site", "b/site"},
     2,
     "Error: output already taken by a/site: b/site\nSkipped: b/site\n",
     {"site/i.txt=a"},
     {"site/o.txt"}},
    {"same_tree_twice", {"-r", "a/site", "a/site/"}, 1, "", {"site/i.txt=a"}, {}},
};

class SeveralTrees : public testing::TestWithParam<TreesCase> {};

TEST_P(SeveralTrees, EachByItsOwnName) {
  const TreesCase& c = GetParam();
  TempDir dir;
  write_file(dir / "a/site/i.txt", "a");
  write_file(dir / "b/docs/d.txt", "d");
  write_file(dir / "b/site/o.txt", "o");
  const RunResult r = run_sveltery(dir.path(), c.args);
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(r.out, kDemo + c.out);
  for (const std::string& made : c.made) {
    const auto eq = made.find('=');
    EXPECT_EQ(read_file(dir / ("sveltered/" + made.substr(0, eq))), made.substr(eq + 1)) << made;
  }
  for (const std::string& absent : c.absent) EXPECT_FALSE(exists(dir / ("sveltered/" + absent)));
}

INSTANTIATE_TEST_SUITE_P(Walk, SeveralTrees, testing::ValuesIn(kTrees),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
