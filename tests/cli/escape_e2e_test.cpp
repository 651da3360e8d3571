// Attacks on the output tree: links planted or swapped in where mirror directories go, an output
// directory over the input tree, names that would forge lines. Nothing may land outside the output
// directory, and inputs keep their bytes and modes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace {

const std::string kDemo = "Sveltery 1.1 Demo\n";

struct Attack {
  const char* name;
  std::function<void(const TempDir&)> plant;  // run in the test's directory before the run
  std::vector<std::string> args;
  std::vector<std::string> out_has;  // lines standard output must hold
};

void make_site(const TempDir& dir) {
  write_file(dir / "site/a.html", "<p> hi </p>");
  write_file(dir / "site/sub/b.html", "<p> sub </p>");
  ::mkdir((dir / "site/empty").c_str(), 0755);
  write_file(dir / "victim/b.html", "IMPORTANT");
  ::chmod((dir / "victim").c_str(), 0700);
}

void link_at(const TempDir& dir, const std::string& target, const std::string& at) {
  std::filesystem::create_directories(std::filesystem::path(dir / at).parent_path());
  ASSERT_EQ(::symlink(target.c_str(), (dir / at).c_str()), 0);
}

const Attack kAttacks[] = {
    {"link_at_a_walked_mirror",
     [](const TempDir& d) { link_at(d, "../../victim", "out/site/sub"); },
     {"-r", "-l", "-o", "out", "site"},
     {"Error: opening output file: out/site/sub", "Error: opening output file: out/site/sub/b.html",
      "Skipped: site/sub/b.html"}},
    {"link_at_a_file_arguments_directory",
     [](const TempDir& d) { link_at(d, "../victim", "out/sub"); },
     {"-o", "out", "site/a.html", "site/sub/b.html"},
     {"Error: opening output file: out/sub/b.html", "Skipped: site/sub/b.html"}},
    {"link_at_the_mirror_of_the_walked_directory",
     [](const TempDir& d) { link_at(d, "../victim", "out/site"); },
     {"-r", "-o", "out", "site"},
     {"Error: opening output file: out/site", "Error: opening output file: out/site/a.html"}},
    {"link_to_the_input_at_the_mirror", [](const TempDir& d) { link_at(d, "../site", "out/site"); },
     {"-r", "-o", "out", "site"},
     {"Error: opening output file: out/site"}},
    {"output_directory_over_the_input_tree", [](const TempDir&) {},
     {"-r", "-o", ".", "site"},
     {"Error: output file is the input file: ./site/a.html",
      "Error: output file is the input file: ./site/sub/b.html"}},
    {"file_where_an_empty_mirror_goes",
     [](const TempDir& d) { write_file(d / "out/site/empty", "not a directory"); },
     {"-r", "-o", "out", "site"},
     {"Error: opening output file: out/site/empty"}},
};

class Escape : public testing::TestWithParam<Attack> {};

TEST_P(Escape, NothingLandsOutsideAndInputsStayAsTheyWere) {
  for (const bool as_user : {false, true}) {
    TempDir dir;
    make_site(dir);
    GetParam().plant(dir);
    const RunResult r = run_sveltery(dir.path(), GetParam().args, as_user);
    // As nobody the same attack meets root's files, whose messages differ: only the damage counts.
    if (!as_user) {
      for (const std::string& line : GetParam().out_has)
        EXPECT_NE(r.out.find(line + "\n"), std::string::npos) << line << "\n" << r.out;
    }
    EXPECT_EQ(read_file(dir / "victim/b.html"), "IMPORTANT");
    EXPECT_FALSE(exists(dir / "victim/a.html"));
    EXPECT_EQ(read_file(dir / "site/a.html"), "<p> hi </p>");
    EXPECT_EQ(read_file(dir / "site/sub/b.html"), "<p> sub </p>");
    for (const char* d : {"site", "site/sub", "site/empty"})
      EXPECT_EQ(mode_of(dir / d) & 07777, 0755u) << d;
    EXPECT_EQ(mode_of(dir / "victim") & 07777, 0700u);
  }
}

INSTANTIATE_TEST_SUITE_P(Attacks, Escape, testing::ValuesIn(kAttacks),
                         [](const auto& p) { return std::string(p.param.name); });

// A second process swaps every mirror directory the run makes for a link to a victim directory,
// as soon as it appears: whatever wins each race, nothing is written into the victim.
TEST(Escape, MirrorsSwappedForLinksDuringTheRun) {
  for (const char* jobs : {"1", "2"}) {
    TempDir dir;
    for (int k = 0; k < 300; ++k)
      write_file(dir / ("site/d" + std::to_string(k) + "/a.html"), "<p> x </p>");
    ::mkdir((dir / "victim").c_str(), 0755);
    ::mkdir((dir / "out").c_str(), 0755);
    ::mkdir((dir / "out/site").c_str(), 0755);
    ::mkdir((dir / "moved").c_str(), 0755);
    const int watch = ::inotify_init1(IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, (dir / "out/site").c_str(), IN_CREATE), 0);
    std::atomic<bool> stop{false};
    std::atomic<int> swapped{0};
    std::thread attacker([&] {
      alignas(inotify_event) char buffer[65536];
      while (!stop.load()) {
        const ssize_t got = ::read(watch, buffer, sizeof buffer);
        for (ssize_t at = 0; at < got;) {
          const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
          at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
          if (event->len == 0 || !(event->mask & IN_ISDIR)) continue;
          const std::string name = event->name;
          const std::string place = dir / ("out/site/" + name);
          if (::rename(place.c_str(), (dir / ("moved/" + name)).c_str()) == 0 &&
              ::symlink((dir / "victim").c_str(), place.c_str()) == 0)
            ++swapped;
        }
      }
    });
    const RunResult r = run_sveltery(dir.path(), {"-r", "-o", "out", "--jobs", jobs, "site"});
    stop = true;
    attacker.join();
    ::close(watch);
    EXPECT_GT(swapped.load(), 0) << "the attacker never won a race; the test proves nothing";
    EXPECT_TRUE(std::filesystem::is_empty(dir / "victim")) << jobs;
  }
}

// Names cannot forge report lines or drive the terminal: control bytes are shown escaped in every
// line, and the banner's file name stays on its one line.
TEST(Escape, ControlBytesInNamesAreShownEscaped) {
  TempDir dir;
  const std::string name = "a\nSveltery Optimized: 999 of 999 files\n\x1b]0;t\x07\x7f.html";
  const std::string shown = "a\\nSveltery Optimized: 999 of 999 files\\n\\e]0;t\\x07\\x7F.html";
  write_file(dir / ("site/" + name), "<p> x </p>");
  const RunResult r = run_sveltery(dir.path(), {"-l", "-r", "--jobs", "1", "site"});
  EXPECT_NE(r.out.find("Optimizing: site/" + shown + "\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("\nSveltery Optimized: 999"), std::string::npos);
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
  const std::string page = read_file(dir / ("sveltered/site/" + name));
  EXPECT_NE(page.find("<!-- File Name: site/" + shown), std::string::npos);
  EXPECT_EQ(std::count(page.begin(), page.end(), '\n'), 7);
}

}  // namespace
