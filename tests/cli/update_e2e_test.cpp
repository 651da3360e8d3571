// --update and --delete through the whole program: which outputs a re-run writes again, what it
// reports, what --delete removes and what it never touches.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// Each output file (the record aside) by its path under out/: which file it is and when written.
using Snapshot = std::map<std::string, std::pair<ino_t, std::int64_t>>;

Snapshot snapshot(const std::string& out) {
  Snapshot files;
  for (const auto& entry : fs::recursive_directory_iterator(out)) {
    struct stat st {};
    if (::lstat(entry.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    const std::string relative = entry.path().string().substr(out.size() + 1);
    if (relative == ".sveltery-manifest") continue;
    files[relative] = {st.st_ino, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
  }
  return files;
}

// The outputs of `after` that are not the same files as in `before`.
std::vector<std::string> rewritten(const Snapshot& before, const Snapshot& after) {
  std::vector<std::string> names;
  for (const auto& [name, id] : after) {
    const auto it = before.find(name);
    if (it == before.end() || it->second != id) names.push_back(name);
  }
  return names;
}

std::string without_last_line(const std::string& text) {
  const auto end = text.rfind('\n', text.size() - 2);
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

void set_mtime(const std::string& path, const struct timespec& when) {
  const struct timespec times[2] = {when, when};
  ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

struct timespec mtime_of(const std::string& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st.st_mtim;
}

std::string page(std::size_t size) {
  std::string s = "/* a script */\n";
  for (int i = 0; s.size() < size; ++i) s += "var row" + std::to_string(i) + " = 'compresses';\n";
  return s;
}

// The example site and a script large enough for a compressed sibling.
void make_site(const TempDir& dir) {
  fs::copy(SVELTERY_SOURCE_DIR "/examples/site", dir / "site", fs::copy_options::recursive);
  write_file(dir / "site/big.js", page(4000));
}

const std::vector<std::string> kArgs = {"-r", "-f", "--update", "--precompress=gz", "-o", "out",
                                        "site"};

// `args` with `more` before the input (later options win).
std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end() - 1, more.begin(), more.end());
  return args;
}

const std::vector<std::string> kAll = {"*"};

// One change between two runs, and what the second run must write again.
struct RedoCase {
  const char* name;
  std::function<void(const TempDir&)> change;
  std::vector<std::string> more_args;  // given to the second run
  std::vector<std::string> redone;     // kAll: every output
  bool warns = false;                  // one line on standard error about the record
};

void edit_record(const TempDir& dir, const std::string& from, const std::string& to) {
  std::string text = read_file(dir / "out/.sveltery-manifest");
  const auto at = text.find(from);
  ASSERT_NE(at, std::string::npos);
  write_file(dir / "out/.sveltery-manifest", text.replace(at, from.size(), to), 0600);
}

const RedoCase kRedo[] = {
    {"NothingChanged", [](const TempDir&) {}, {}, {}},
    {"SourceTouched",
     [](const TempDir& d) {
       struct timespec t = mtime_of(d / "site/blog/index.htm");
       t.tv_sec += 1;
       set_mtime(d / "site/blog/index.htm", t);
     },
     {},
     {"site/blog/index.htm", "site/blog/index.htm.gz"}},
    // Size and time decide, as for rsync: an edit that keeps both goes unnoticed.
    {"ContentChangedSameSizeAndTime",
     [](const TempDir& d) {
       const struct timespec t = mtime_of(d / "site/robots.txt");
       std::string text = read_file(d / "site/robots.txt");
       text[0] = text[0] == 'X' ? 'Y' : 'X';
       write_file(d / "site/robots.txt", text);
       set_mtime(d / "site/robots.txt", t);
     },
     {},
     {}},
    {"SourceReplacedBySameSizeAndTime",
     [](const TempDir& d) {
       const struct timespec t = mtime_of(d / "site/robots.txt");
       write_file(d / "new", read_file(d / "site/robots.txt"));  // another inode
       set_mtime(d / "new", t);
       ::rename((d / "new").c_str(), (d / "site/robots.txt").c_str());
     },
     {},
     {"site/robots.txt"}},
    {"OptionsChanged", [](const TempDir&) {}, {"--no-banner"}, kAll},
    {"SiblingsAsked", [](const TempDir&) {}, {"--precompress=gz,zst"}, kAll},
    {"ProgramVersionChanged",
     [](const TempDir& d) { edit_record(d, "program 1.1\n", "program 1.0\n"); },
     {},
     kAll},
    {"OutputDeleted", [](const TempDir& d) { ::unlink((d / "out/site/css/site.css").c_str()); },
     {},
     {"site/css/site.css"}},
    {"OutputEditedByHand",
     [](const TempDir& d) { write_file(d / "out/site/robots.txt", "edited\n"); },
     {},
     {"site/robots.txt"}},
    {"OutputTouched",
     [](const TempDir& d) { set_mtime(d / "out/site/img/sunset.jpg", {1, 0}); },
     {},
     {"site/img/sunset.jpg"}},
    {"SiblingDeleted", [](const TempDir& d) { ::unlink((d / "out/site/big.js.gz").c_str()); },
     {},
     {"site/big.js", "site/big.js.gz"}},
    // The later line counts, and the record is written again with the output once.
    {"RecordListsAnOutputTwice",
     [](const TempDir& d) {
       std::string text = read_file(d / "out/.sveltery-manifest");
       const auto name = text.find(" site/robots.txt site/robots.txt\n");
       const auto start = text.rfind('\n', name) + 1;
       const std::string line = text.substr(start, name - start) + " site/robots.txt site/robots.txt\n";
       text.insert(start, line);
       const auto end = text.rfind("end ");
       const int count = std::stoi(text.substr(end + 4));
       write_file(d / "out/.sveltery-manifest",
                  text.substr(0, end) + "end " + std::to_string(count + 1) + "\n", 0600);
     },
     {},
     {}},
    {"RecordTruncated",
     [](const TempDir& d) {
       const std::string text = read_file(d / "out/.sveltery-manifest");
       write_file(d / "out/.sveltery-manifest", text.substr(0, text.size() / 2), 0600);
     },
     {},
     kAll,
     true},
    {"RecordGarbage",
     [](const TempDir& d) { write_file(d / "out/.sveltery-manifest", "\x89PNG\r\n\x1a\n", 0600); },
     {},
     kAll,
     true},
    {"RecordALink",
     [](const TempDir& d) {
       ::rename((d / "out/.sveltery-manifest").c_str(), (d / "elsewhere").c_str());
       fs::create_symlink(d / "elsewhere", d / "out/.sveltery-manifest");
     },
     {},
     kAll,
     true},
};

class Redo : public testing::TestWithParam<RedoCase> {};
TEST_P(Redo, WritesAgainOnlyWhatChanged) {
  const RedoCase& c = GetParam();
  TempDir dir;
  make_site(dir);
  const RunResult first = run_sveltery(dir.path(), kArgs);
  ASSERT_EQ(first.status, 1) << first.out;
  const Snapshot before = snapshot(dir / "out");
  ASSERT_TRUE(before.count("site/big.js.gz"));
  c.change(dir);
  const IoResult second = run_sveltery_io(dir.path(), with(kArgs, c.more_args));
  EXPECT_EQ(second.status, 1) << second.out;
  const Snapshot after = snapshot(dir / "out");
  std::vector<std::string> expected = c.redone;
  if (expected == kAll) {
    expected.clear();
    for (const auto& [name, id] : after) expected.push_back(name);
  }
  EXPECT_EQ(rewritten(before, after), expected);
  EXPECT_EQ(second.err.empty(), !c.warns) << second.err;
  if (c.more_args.empty()) {
    // The report of a re-run is the full run's, and says how many files it left alone.
    EXPECT_EQ(without_last_line(second.out), without_last_line(first.out));
    EXPECT_NE(first.out.find("\nSveltery Up to date: 0 files\n"), std::string::npos);
  }
  // What was written again matches its source as a full run would have written it.
  if (c.redone == std::vector<std::string>{"site/robots.txt"}) {
    EXPECT_EQ(read_file(dir / "out/site/robots.txt"), read_file(dir / "site/robots.txt"));
  }
  // The record was brought up to date: a third run writes nothing.
  const RunResult third = run_sveltery(dir.path(), with(kArgs, c.more_args));
  EXPECT_EQ(third.status, 1);
  EXPECT_TRUE(rewritten(after, snapshot(dir / "out")).empty());
}
INSTANTIATE_TEST_SUITE_P(Update, Redo, testing::ValuesIn(kRedo),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Update, UpToDateFilesPrintNothingAndTheCountClosesTheReport) {
  TempDir dir;
  make_site(dir);
  ASSERT_EQ(run_sveltery(dir.path(), kArgs).status, 1);
  const RunResult again = run_sveltery(dir.path(), with(kArgs, {"-v", "-l"}));
  EXPECT_EQ(again.out.find("Optimizing:"), std::string::npos) << again.out;
  EXPECT_EQ(again.out.find("Copying:"), std::string::npos) << again.out;
  EXPECT_TRUE(again.out.ends_with("Sveltery Optimized: 6 of 9 files\nSveltery Up to date: 9 files\n"))
      << again.out;
  // Without --update the run is as it always was: every file, no record read or written.
  const RunResult plain = run_sveltery(dir.path(), {"-r", "-f", "-o", "plain", "site"});
  EXPECT_EQ(plain.out.find("Up to date"), std::string::npos);
  EXPECT_FALSE(exists(dir / "plain/.sveltery-manifest"));
  EXPECT_EQ(mode_of(dir / "out/.sveltery-manifest"), 0600u);
}

TEST(Update, ManyWorkersPrintWhatOneWorkerPrints) {
  std::string outs[2];
  for (int k = 0; k < 2; ++k) {
    TempDir dir;
    make_site(dir);
    for (int i = 0; i < 40; ++i)
      write_file(dir / ("site/many/p" + std::to_string(i) + ".html"), "<p>  page  </p>\n");
    ASSERT_EQ(run_sveltery(dir.path(), kArgs).status, 1);
    for (int i = 0; i < 40; i += 3) {
      struct timespec t = mtime_of(dir / ("site/many/p" + std::to_string(i) + ".html"));
      t.tv_sec += 1;
      set_mtime(dir / ("site/many/p" + std::to_string(i) + ".html"), t);
    }
    ::unlink((dir / "site/robots.txt").c_str());
    outs[k] = run_sveltery(dir.path(), with(kArgs, {"-l", "--delete", "--jobs", k ? "4" : "1"})).out;
  }
  EXPECT_EQ(outs[0], outs[1]);
  EXPECT_NE(outs[0].find("Deleted: out/site/robots.txt\n"), std::string::npos) << outs[0];
}

// --delete: one change to the tree, then what must be gone and what must stay.
struct DeleteCase {
  const char* name;
  std::function<void(const TempDir&)> change;
  std::vector<std::string> gone;      // under the test's directory
  std::vector<std::string> kept;      // the same
  std::vector<std::string> deleted;   // the "Deleted:" lines, in order
  const char* walked = "site";         // the path the second run is given
  int status = 1;
};

const DeleteCase kDelete[] = {
    {"RemovedFileWithItsSibling", [](const TempDir& d) { ::unlink((d / "site/big.js").c_str()); },
     {"out/site/big.js", "out/site/big.js.gz"},
     {"out/site/robots.txt"},
     {"out/site/big.js", "out/site/big.js.gz"}},
    {"RemovedDirectory", [](const TempDir& d) { fs::remove_all(d / "site/blog"); },
     {"out/site/blog"},
     {"out/site/index.html"},
     {"out/site/blog/2026/winter.html", "out/site/blog/2026/winter.html.gz",
      "out/site/blog/index.htm", "out/site/blog/index.htm.gz", "out/site/blog/2026",
      "out/site/blog"}},
    {"DirectoryTheSourceKeeps",
     [](const TempDir& d) { ::unlink((d / "site/blog/2026/winter.html").c_str()); },
     {"out/site/blog/2026/winter.html"},
     {"out/site/blog/2026", "out/site/blog/index.htm"},
     {"out/site/blog/2026/winter.html", "out/site/blog/2026/winter.html.gz"}},
    {"FilesItDidNotWrite",
     [](const TempDir& d) {
       write_file(d / "out/site/mine.txt", "mine");
       write_file(d / "out/site/admin/notes.txt", "mine too");
       fs::remove_all(d / "site/admin");
     },
     {"out/site/admin/login.php"},
     {"out/site/mine.txt", "out/site/admin/notes.txt"},
     {"out/site/admin/login.php", "out/site/admin/view.phtml"}},
    {"OutputEditedByHand",
     [](const TempDir& d) {
       write_file(d / "out/site/robots.txt", "kept: no longer what the program wrote\n");
       ::unlink((d / "site/robots.txt").c_str());
     },
     {},
     {"out/site/robots.txt"},
     {}},
    // A link planted where a mirror directory was: nothing is reached through it, whatever it
    // holds (here the very files the record lists, moved there).
    {"LinkPlantedInTheOutputTree",
     [](const TempDir& d) {
       fs::remove_all(d / "site/blog");
       ::rename((d / "out/site/blog").c_str(), (d / "victim").c_str());
       fs::create_symlink(d / "victim", d / "out/site/blog");
     },
     {},
     {"out/site/blog", "victim/index.htm", "victim/2026/winter.html"},
     {}},
    {"SourceAnEmptyDirectoryNow",
     [](const TempDir& d) {
       fs::remove_all(d / "site/css");
       fs::create_directory(d / "site/css");
     },
     {"out/site/css/site.css"},
     {"out/site/css"},
     {"out/site/css/site.css"}},
    // A path that names nothing (a typo, another working directory) makes every source look
    // gone: a run with errors deletes nothing.
    {"WalkedPathNamesNothing",
     [](const TempDir& d) { ::rename((d / "site").c_str(), (d / "elsewhere").c_str()); },
     {},
     {"out/site/robots.txt", "out/site/blog/index.htm"},
     {},
     "site",
     2},
    // Sources are taken for gone only below the paths this run walks.
    {"RemovedOutsideThePathWalked", [](const TempDir& d) { ::unlink((d / "site/robots.txt").c_str()); },
     {},
     {"out/site/robots.txt"},
     {},
     "site/css"},
};

class Delete : public testing::TestWithParam<DeleteCase> {};
TEST_P(Delete, RemovesOnlyWhatItWroteForSourcesThatAreGone) {
  const DeleteCase& c = GetParam();
  TempDir dir;
  make_site(dir);
  ASSERT_EQ(run_sveltery(dir.path(), kArgs).status, 1);
  c.change(dir);
  std::vector<std::string> args = with(kArgs, {"-l", "--delete"});
  args.back() = c.walked;
  const RunResult r = run_sveltery(dir.path(), args);
  EXPECT_EQ(r.status, c.status) << r.out;
  for (const std::string& path : c.gone) EXPECT_FALSE(exists(dir / path)) << path;
  for (const std::string& path : c.kept) EXPECT_TRUE(exists(dir / path)) << path;
  std::vector<std::string> lines;
  for (const std::string& line : sorted_lines(r.out))
    if (line.starts_with("Deleted: ")) lines.push_back(line.substr(9));
  std::vector<std::string> expected = c.deleted;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(lines, expected) << r.out;
  // Nothing is left to delete, and nothing written is taken for gone.
  const RunResult again = run_sveltery(dir.path(), args);
  EXPECT_EQ(again.out.find("Deleted:"), std::string::npos) << again.out;
}
INSTANTIATE_TEST_SUITE_P(Update, Delete, testing::ValuesIn(kDelete),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Update, DeleteNeedsUpdateAndRecursion) {
  TempDir dir;
  make_site(dir);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-r", "--delete", "site"},
        std::vector<std::string>{"--update", "--delete", "site/index.html"}}) {
    const IoResult r = run_sveltery_io(dir.path(), args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "sveltery: --delete works only with --update and -r\n");
    EXPECT_FALSE(exists(dir / "sveltered"));
  }
}

// The record's name is the program's: an input mapped onto it is refused, not lost under it.
TEST(Update, InputNamedLikeTheRecordIsRefused) {
  TempDir dir;
  write_file(dir / "site/.sveltery-manifest", "a page of the site\n");
  write_file(dir / "site/a.txt", "a\n");
  for (int run = 0; run < 2; ++run) {
    const RunResult r = run_sveltery(dir / "site", {"-r", "-l", "--update", "-o", "../out", "."});
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_NE(r.out.find("Error: name kept for the --update record: ../out/./.sveltery-manifest\n"),
              std::string::npos) << r.out;
    // The second run finds a.txt as the first left it: the record was not overwritten by a page.
    EXPECT_EQ(r.out.find("Copying: ./a.txt"), run == 0 ? r.out.find("Copying") : std::string::npos)
        << r.out;
  }
  EXPECT_EQ(read_file(dir / "site/.sveltery-manifest"), "a page of the site\n");
}

}  // namespace
