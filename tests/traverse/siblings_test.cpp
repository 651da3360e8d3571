#include "traverse/siblings.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "traverse/compressible.h"
#include "traverse/dir_fd.h"
#include "traverse/sibling_file.h"
#include "support/temp_dir.h"
#include "support/test_support.h"

namespace {

struct KindCase {
  const char* path;
  bool compressible;
};

const KindCase kKinds[] = {
    {"a.html", true},        {"A.HTM", true},          {"site/app.min.js", true},
    {"m.mjs", true},         {"d.json", true},         {"i.svg", true},
    {"x.webmanifest", true}, {"favicon.ico", true},    {"w.wasm", true},
    {"robots.txt", true},    {"s.css.map", true},      {"a.php", false},
    {"a.phtml", false},      {"p.jpg", false},         {"p.png", false},
    {"f.woff2", false},      {"a.html.gz", false},     {"a.css.br", false},
    {"a.js.zst", false},     {"i.svgz", false},        {"z.zip", false},
    {"v.mp4", false},        {"html", false},          {".js", false},
    {"dir.html/page", false}, {"a.htmlx", false},
};

TEST(Compressible, ByTheEndOfTheName) {
  for (const KindCase& c : kKinds) EXPECT_EQ(compressible_name(c.path), c.compressible) << c.path;
}

timespec mtime_of(const std::string& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st.st_mtim;
}

std::vector<std::string> names_in(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string text_page(std::size_t size) {
  std::string s;
  while (s.size() < size) s += "<p>Some words of a page, again and again.</p>\n";
  s.resize(size);
  return s;
}

struct RuleCase {
  const char* name;
  std::string output;
  const char* asked;                   // the --precompress list
  std::vector<std::string> left;       // from an earlier run, beside the output
  std::vector<std::string> inputs;     // input files beside the input, besides "in/p.html"
  std::vector<std::string> expected;   // names in the output directory afterwards
};

const std::string kNoise = [] {
  std::string s(4000, '\0');
  unsigned x = 1;
  for (char& c : s) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 16);
  return s;
}();

const RuleCase kRules[] = {
    {"text_gets_both", text_page(2000), "br,gz", {}, {}, {"p.html", "p.html.br", "p.html.gz"}},
    {"all_three", text_page(2000), "zst,gz,br", {}, {},
     {"p.html", "p.html.br", "p.html.gz", "p.html.zst"}},
    {"below_the_smallest_size", text_page(kPrecompressMinSize - 1), "br,gz", {}, {}, {"p.html"}},
    {"at_the_smallest_size", text_page(kPrecompressMinSize), "br", {}, {},
     {"p.html", "p.html.br"}},
    {"incompressible_bytes", kNoise, "br,gz", {}, {}, {"p.html"}},
    {"stale_one_not_asked_is_removed", text_page(2000), "br", {"p.html.gz", "p.html.zst"}, {},
     {"p.html", "p.html.br"}},
    {"stale_one_below_the_size_is_removed", "<p>tiny</p>", "br,gz", {"p.html.br", "p.html.gz"},
     {}, {"p.html"}},
    {"others_names_stay", text_page(2000), "br", {"p.htm.gz", "q.html.gz"}, {},
     {"p.htm.gz", "p.html", "p.html.br", "q.html.gz"}},
    {"an_input_of_that_name_wins", text_page(2000), "br,gz", {"p.html.br", "p.html.gz"},
     {"p.html.br"}, {"p.html", "p.html.br", "p.html.gz"}},
};

class Rules : public testing::TestWithParam<RuleCase> {};

TEST_P(Rules, WriteAndRemove) {
  const RuleCase& c = GetParam();
  TempDir dir;
  write_file(dir / "in/p.html", "input");
  for (const std::string& n : c.inputs) write_file(dir / ("in/" + n), "an input's own");
  for (const std::string& n : c.left) write_file(dir / ("out/" + n), "old");
  write_file(dir / "out/p.html", c.output, 0640);
  Options options;
  options.precompress = *parse_encoding_list(c.asked);
  FileWork work;
  work.path = dir / "in/p.html";
  work.output_path = dir / "out/p.html";
  work.kind = FormatKind::HTML;
  work.st.st_mode = S_IFREG | 0600;
  work.input_dir = open_dir_at(AT_FDCWD, (dir / "in").c_str(), Links::Refuse);
  work.input_name = work.output_name = "p.html";
  work.output_dir = open_dir_at(AT_FDCWD, (dir / "out").c_str(), Links::Refuse);
  ASSERT_TRUE(work.input_dir && work.output_dir);
  Bytes encoded;
  const SiblingsDone done =
      write_siblings(work, options, stdout, to_bytes(c.output), encoded);
  EXPECT_EQ(names_in(dir / "out"), c.expected);
  std::int64_t written = 0;
  for (const std::string& n : c.expected) {
    const std::string path = dir / ("out/" + n);
    const bool inputs_own = std::count(c.inputs.begin(), c.inputs.end(), n) > 0;
    if (inputs_own) {
      EXPECT_EQ(read_file(path), "old");
      continue;
    }
    if (n.rfind("p.html.", 0) != 0) continue;
    written += static_cast<std::int64_t>(std::filesystem::file_size(path));
    EXPECT_EQ(mode_of(path), 0660u) << n;  // the output's mode, not the file's as found
    EXPECT_EQ(mtime_of(path).tv_sec, mtime_of(dir / "out/p.html").tv_sec) << n;
    EXPECT_EQ(mtime_of(path).tv_nsec, mtime_of(dir / "out/p.html").tv_nsec) << n;
  }
  const Totals& t = done.delta;
  EXPECT_EQ(t.sibling_bytes[0] + t.sibling_bytes[1] + t.sibling_bytes[2], written);
  EXPECT_EQ(t.precompressed_files, written > 0 ? 1 : 0);
  EXPECT_EQ(t.precompressed_in, written > 0 ? static_cast<std::int64_t>(c.output.size()) : 0);
}

INSTANTIATE_TEST_SUITE_P(Siblings, Rules, testing::ValuesIn(kRules),
                         [](const auto& p) { return std::string(p.param.name); });

// What is at a sibling's name before it is written.
enum class Found { Nothing, Regular, Link, Directory, Fifo };

struct PathCase {
  const char* name;
  Found found;
  bool written;
};

const PathCase kPaths[] = {
    {"nothing", Found::Nothing, true},     {"regular_file", Found::Regular, true},
    {"link_to_a_file", Found::Link, false}, {"directory", Found::Directory, false},
    {"fifo", Found::Fifo, false},
};

class SiblingPath : public testing::TestWithParam<PathCase> {};

TEST_P(SiblingPath, WrittenOnlyOverARegularFile) {
  TempDir dir;
  write_file(dir / "victim", "precious", 0600);
  const std::string at = dir / "out/a.css.br";
  write_file(dir / "out/a.css", "x");
  switch (GetParam().found) {
    case Found::Nothing: break;
    case Found::Regular: write_file(at, "old old old", 0600); break;
    case Found::Link: ASSERT_EQ(::symlink((dir / "victim").c_str(), at.c_str()), 0); break;
    case Found::Directory: ASSERT_EQ(::mkdir(at.c_str(), 0700), 0); break;
    case Found::Fifo: ASSERT_EQ(::mkfifo(at.c_str(), 0600), 0); break;
  }
  const DirRef out = open_dir_at(AT_FDCWD, (dir / "out").c_str(), Links::Refuse);
  ASSERT_TRUE(out);
  const timespec when{1700000000, 123456789};
  const IoStatus saved = save_sibling_file(out->fd(), "a.css.br", to_bytes("new"), 0640, when);
  EXPECT_EQ(saved.failed, GetParam().written ? IoStep::None : IoStep::OpenOutput);
  EXPECT_EQ(read_file(dir / "victim"), "precious");
  EXPECT_EQ(names_in(dir / "out"), (std::vector<std::string>{"a.css", "a.css.br"}));
  if (GetParam().written) {
    EXPECT_EQ(read_file(at), "new");
    EXPECT_EQ(mode_of(at), 0640u);
    EXPECT_EQ(mtime_of(at).tv_sec, when.tv_sec);
    EXPECT_EQ(mtime_of(at).tv_nsec, when.tv_nsec);
  }
  // Removing a stale sibling takes a regular file only.
  remove_stale_sibling(out->fd(), "a.css.br");
  EXPECT_EQ(exists(at), !GetParam().written && GetParam().found != Found::Regular);
}

INSTANTIATE_TEST_SUITE_P(Siblings, SiblingPath, testing::ValuesIn(kPaths),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
