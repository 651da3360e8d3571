// Hostile and unusual inputs: full disks, strange names, special files, overlong paths.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace {

const std::string kDemo = "Sveltery 1.1 Demo\n";
const std::string kOut = "Outputing to: ./sveltered/\n";

// The names in directory `path`, one a line, dot files included.
std::string list_names(const std::string& path) {
  std::string names;
  for (const auto& entry : std::filesystem::directory_iterator(path))
    names += entry.path().filename().string() + "\n";
  return names;
}

// A small tmpfs at `path`, unmounted again at the end of the test.
class SmallDisk {
 public:
  SmallDisk(const std::string& path, const char* size) : path_(path) {
    ::mkdir(path.c_str(), 0755);
    const std::string options = std::string("size=") + size;
    mounted_ = ::mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  ~SmallDisk() {
    if (mounted_) ::umount(path_.c_str());
  }
  bool mounted() const { return mounted_; }

 private:
  std::string path_;
  bool mounted_ = false;
};

// A disk that fills up: every worker count gives what one worker gives. Which branch a run takes
// is a matter of timing here; the scheduler's unit tests take each one with a fake disk.
TEST(Hostile, DiskFullMidWriteKeepsThePreviousOutputAndGoesOn) {
  const struct {
    const char* what;
    std::vector<std::pair<std::string, std::string>> inputs;  // in the order given
    std::string out;                                          // after the demo line
    std::vector<std::pair<std::string, std::string>> outputs;
  } cases[] = {
      // a.txt and big.txt are written side by side: a.txt must still find the space a run on one
      // worker leaves it. The failed file's space is given back at once, so the next file fits.
      {"an earlier file beside a failing one",
       {{"a.txt", "first"},
        {"big.txt", std::string(200 * 1024, 'x')},
        {"c.html", "<p>  after the disk filled"}},
       "Error: writing to output file: small/big.txt\nSkipped: big.txt\n",
       {{"a.txt", "first"},
        {"big.txt", "the previous complete output"},
        {"c.html", "<p> after the disk filled"}}},
      // Either file fits, not both: the larger, later one must not take the room first.
      {"a later, larger file",
       {{"a.txt", std::string(40 * 1024, 'a')}, {"big.txt", std::string(50 * 1024, 'b')}},
       "Error: writing to output file: small/big.txt\nSkipped: big.txt\n",
       {{"a.txt", std::string(40 * 1024, 'a')}, {"big.txt", "the previous complete output"}}},
  };
  for (const auto& c : cases) {
    for (const char* jobs : {"1", "2", "4"}) {
      TempDir dir;
      SmallDisk disk(dir / "small", "64k");
      if (!disk.mounted()) GTEST_SKIP() << "mounting a tmpfs needs root (CI runs as root)";
      std::vector<std::string> args = {"--jobs", jobs, "-o", "small"};
      for (const auto& [name, bytes] : c.inputs) {
        write_file(dir / name, bytes);
        args.push_back(name);
      }
      write_file(dir / "small/big.txt", "the previous complete output");
      const RunResult r = run_sveltery(dir.path(), args);
      EXPECT_EQ(r.status, 2);  // a file failed
      EXPECT_EQ(r.out, kDemo + c.out) << c.what << ", --jobs " << jobs;
      std::vector<std::string> names;
      for (const auto& [name, bytes] : c.outputs) {
        const std::string output = read_file(dir / ("small/" + name));
        if (name.ends_with(".html"))  // after its banner
          EXPECT_NE(output.find(bytes), std::string::npos) << c.what << ", --jobs " << jobs;
        else
          EXPECT_EQ(output, bytes) << c.what << ", --jobs " << jobs << ": " << name;
        names.push_back(name);
      }
      EXPECT_EQ(sorted_lines(list_names(dir / "small")), names) << "no partial or temporary file";
      for (const auto& [name, bytes] : c.inputs) EXPECT_EQ(read_file(dir / name), bytes);
    }
  }
}

TEST(Hostile, DiskFullDuringJpegStillCounts) {
  TempDir dir;
  SmallDisk disk(dir / "small", "8k");
  if (!disk.mounted()) GTEST_SKIP() << "mounting a tmpfs needs root (CI runs as root)";
  std::string jpeg = "\xFF\xD8\xFF\xDA";
  jpeg += std::string(64 * 1024, '\x11');
  write_file(dir / "p.jpg", jpeg);
  const RunResult r = run_sveltery(dir.path(), {"-f", "-o", "small", "p.jpg"});
  EXPECT_EQ(r.out, kDemo +
                       "Outputing to: small/\nError: writing to output file: small/p.jpg\n"
                       "Sveltery Saved: 0.0% or 0 of 65540 bytes overall on optimizable "
                       "formats\nSveltery Saved: 0.0% or 0 of 65540 bytes on jpg format files\n"
                       "Sveltery Optimized: 1 of 1 files\n");
}

TEST(Hostile, UnwritableOutputDirectory) {
  TempDir dir;
  write_file(dir / "a.txt", "a");
  write_file(dir / "b.txt", "b");
  write_file(dir / "ro/b.txt", "previous", 0666);  // writable, but cannot be replaced
  ::chmod((dir / "ro").c_str(), 0555);
  const RunResult r = run_sveltery_as_user(dir.path(), {"-o", "ro", "a.txt", "b.txt"});
  EXPECT_EQ(r.status, 2);  // every file failed
  EXPECT_EQ(r.out, kDemo +
                       "Error: opening output file: ro/a.txt\n Permission denied to: ro/a.txt\n"
                       "Skipped: a.txt\n"
                       "Error: opening output file: ro/b.txt\n Permission denied to: ro/b.txt\n"
                       "Skipped: b.txt\n");
  EXPECT_EQ(read_file(dir / "ro/b.txt"), "previous");
}

TEST(Hostile, StrangeNamesArePassedThroughByteForByte) {
  TempDir dir;
  const std::vector<std::string> names = {
      "with space.html", "new\nline.txt", "100%s%n%d.html",          "\xE9t\xE9 latin1.txt",
      "-dash.txt",       "'quote\".php",  "x--><img src=x><!--.html"};
  for (const auto& name : names) write_file(dir / ("t/" + name), "<p>  " + name);
  const RunResult r = run_sveltery(dir.path(), {"-rl", "t"});
  EXPECT_EQ(r.status, 1);
  for (const auto& name : names) {
    const bool markup =
        name.find(".htm") != std::string::npos || name.find(".php") != std::string::npos;
    // A line break in a name is shown escaped: it cannot start a line of its own.
    const std::string shown = name == "new\nline.txt" ? "new\\nline.txt" : name;
    EXPECT_NE(r.out.find((markup ? "Optimizing: t/" : "Copying: t/") + shown + "\n"),
              std::string::npos)
        << name;
    const std::string out = read_file(dir / ("sveltered/t/" + name));
    EXPECT_NE(out.find(markup ? "<p> " + name : "<p>  " + name), std::string::npos) << name;
  }
  EXPECT_NE(read_file(dir / "sveltered/t/100%s%n%d.html").find("<!-- File Name: t/100%s%n%d.html "),
            std::string::npos);
  // The name cannot close the banner's comment: its markup bytes are entities there.
  EXPECT_NE(read_file(dir / "sveltered/t/x--><img src=x><!--.html")
                .find("<!-- File Name: t/x--&gt;&lt;img src=x&gt;&lt;!--.html "),
            std::string::npos);
}

TEST(Hostile, DeviceNodeInWalkedTreeIsNeverOpened) {
  TempDir dir;
  write_file(dir / "t/a.txt", "a");
  if (::mknod((dir / "t/null.html").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
    GTEST_SKIP() << "making a device node needs root (CI runs as root)";
  const RunResult r = run_sveltery(dir.path(), {"-r", "-f", "t", dir / "t/null.html"});
  EXPECT_EQ(r.out, kDemo + kOut + "Sveltery Optimized: 0 of 1 files\n");
  EXPECT_FALSE(exists(dir / "sveltered/t/null.html"));
}

// Makes `depth` nested directories named `name` under `root` without ever passing a long path
// to the system, and a file `leaf` at the bottom. Returns the relative path of the file.
std::string make_deep(const std::string& root, const std::string& name, int depth,
                      const std::string& leaf) {
  int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
  std::string relative;
  for (int i = 0; i < depth; ++i) {
    ::mkdirat(fd, name.c_str(), 0755);
    const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
    ::close(fd);
    fd = next;
    relative += name + "/";
  }
  const int file = ::openat(fd, leaf.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  EXPECT_EQ(::write(file, "deep", 4), 4);
  ::close(file);
  ::close(fd);
  return relative + leaf;
}

TEST(Hostile, PathOfTheMaximumLengthWorksAndOneBeyondIsReported) {
  TempDir dir;
  const std::string name(250, 'd');
  // 16 levels of 251 characters and a leaf: exactly PATH_MAX - 1 characters in all.
  const std::string leaf(PATH_MAX - 1 - 16 * 251, 'f');
  const std::string longest = make_deep(dir.path(), name, 16, leaf);
  ASSERT_EQ(longest.size(), static_cast<std::size_t>(PATH_MAX - 1));
  const std::string beyond = make_deep(dir.path(), name, 17, "f.txt");
  ASSERT_GT(beyond.size(), static_cast<std::size_t>(PATH_MAX));
  const RunResult r = run_sveltery(dir.path(), {"-f", longest, beyond});
  EXPECT_EQ(r.out, kDemo + kOut + "Error: getting file status: " + beyond + "\n" +
                       "Sveltery Optimized: 0 of 1 files\n");
  EXPECT_EQ(read_file(dir / ("sveltered/" + leaf)), "deep");
}

// The bytes of the file at `relative` below `root`, reached one name at a time; "" when missing.
std::string read_deep(const std::string& root, const std::string& relative) {
  int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY);
  std::size_t start = 0;
  for (std::size_t slash; fd >= 0 && (slash = relative.find('/', start)) != std::string::npos;
       start = slash + 1) {
    const int next = ::openat(fd, relative.substr(start, slash - start).c_str(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    ::close(fd);
    fd = next;
  }
  if (fd < 0) return "";
  const int file = ::openat(fd, relative.substr(start).c_str(), O_RDONLY);
  ::close(fd);
  if (file < 0) return "";
  char buffer[64];
  const ssize_t got = ::read(file, buffer, sizeof buffer);
  ::close(file);
  return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : "";
}

// Neither the length of paths nor the number of descriptors bounds the walk: long names past
// PATH_MAX, and thousands of levels (far more than the levels held open at once).
TEST(Hostile, WalkOfAnyDepthReachesEveryFile) {
  const struct {
    std::size_t name_size;
    int depth;
  } cases[] = {{250, 17}, {1, 5000}};
  for (const auto& c : cases) {
    TempDir dir;
    const std::string name(c.name_size, 'd');
    ::mkdir((dir / "t").c_str(), 0755);
    const std::string deep = make_deep(dir / "t", name, c.depth, "f.txt");
    const std::string half = make_deep(dir / "t", name, c.depth / 2, "g.txt");
    for (const char* jobs : {"1", "2"}) {
      const RunResult r = run_sveltery(dir.path(), {"-r", "-f", "--jobs", jobs, "t"});
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.out, kDemo + kOut + "Sveltery Optimized: 0 of 2 files\n") << c.depth;
      EXPECT_EQ(read_deep(dir / "sveltered/t", deep), "deep");
      EXPECT_EQ(read_deep(dir / "sveltered/t", half), "deep");
    }
  }
}

}  // namespace
