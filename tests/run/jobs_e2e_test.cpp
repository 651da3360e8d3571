// A run on many workers against the same run on one: the same lines, status and output tree.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

void make_dir(const std::string& path, mode_t mode = 0755) {
  ::mkdir(path.c_str(), 0700);
  ::chmod(path.c_str(), mode);
}

std::string jpeg(std::string_view metadata) {
  std::string app = "\xFF\xE1";
  app += static_cast<char>(0);
  app += static_cast<char>(metadata.size() + 2);
  app += metadata;
  return std::string("\xFF\xD8") + app + std::string("\xFF\xDA\x00\x02scan\xFF\xD9", 10);
}

// Everything a user can see in the output tree: names, kinds, modes and bytes.
std::map<std::string, std::string> snapshot(const std::string& root) {
  std::map<std::string, std::string> seen;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    const std::string path = it->path().string();
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) continue;
    std::string what = std::to_string(st.st_mode);
    if (S_ISREG(st.st_mode)) what += ":" + read_file(path);
    seen[path.substr(root.size())] = what;
  }
  return seen;
}

// A site with pages, images, other files, an unreadable file, links, a deep branch and the
// output directory inside it.
void make_site(const TempDir& dir) {
  make_dir(dir / "site");
  write_file(dir / "site/index.html", "<html>\n  <!-- note -->\n  <p>  Hello   world </p>\n");
  write_file(dir / "site/page.php", "<p>  a  </p><?php echo  'x' ?>  <b> b </b>\n");
  write_file(dir / "site/photo.jpg", jpeg("Exif metadata"));
  write_file(dir / "site/broken.jpeg", std::string("\xFF\xD8\xFF\xE1\x00\x01", 6));
  write_file(dir / "site/plain.jpg", jpeg(""));
  write_file(dir / "site/style.css", "body {  color: red }\n", 0640);
  write_file(dir / "site/secret.html", "<p>hidden</p>", 0600);  // unreadable to the run
  write_file(dir / "site/run.sh", "#!/bin/sh\n", 0755);
  make_dir(dir / "site/img", 0750);
  write_file(dir / "site/img/logo.JPG", jpeg("comment"));
  write_file(dir / "site/img/INDEX.HTM", "<P>  Upper  </P>");
  ::symlink("index.html", (dir / "site/link.html").c_str());
  ::symlink("img", (dir / "site/linkdir").c_str());
  ::symlink("missing.html", (dir / "site/dangling.html").c_str());
  std::string deep = dir / "site/deep";
  for (int level = 0; level < 40; ++level) {
    make_dir(deep);
    write_file(deep + "/p.html", "<p>  level " + std::to_string(level) + " </p>");
    deep += "/d";
  }
  for (int k = 0; k < 200; ++k)
    write_file(dir / ("site/many/f" + std::to_string(k) + (k % 2 ? ".html" : ".txt")),
               "<p>  file " + std::to_string(k) + "  </p>");
  make_dir(dir / "site/out", 0777);  // the output directory, inside the walked tree
}

struct OptionsCase {
  const char* name;
  std::vector<std::string> options;
};

const OptionsCase kOptionSets[] = {
    {"none", {}},
    {"verbose", {"-v"}},
    {"logging", {"-l"}},
    {"final_report", {"-f"}},
    {"html_only", {"-h", "-l"}},
    {"jpeg_and_copy", {"-j", "-c", "-v"}},
    {"all_and_php", {"-a", "-p", "-f"}},
    {"verbose_logging_report", {"-v", "-l", "-f"}},
    {"safe", {"--safe", "-l"}},
    {"no_banner", {"--no-banner", "-v"}},
};

class SameAsOneWorker : public testing::TestWithParam<OptionsCase> {};

TEST_P(SameAsOneWorker, LinesStatusAndTree) {
  TempDir dir;
  make_site(dir);
  // After the walk: the same file twice (the later write wins), and a file that is an earlier
  // file's output, which must be read once written.
  const std::vector<std::string> paths = {"site", "site/index.html", "site/index.html",
                                          "site/out/site/index.html", "site/out/site/many/f1.html"};
  std::map<std::string, std::string> trees[2];
  RunResult results[2];
  const char* jobs[2] = {"1", "8"};
  for (int run = 0; run < 2; ++run) {
    std::vector<std::string> args = GetParam().options;
    args.insert(args.end(), {"--jobs", jobs[run], "-r", "-o", "site/out"});
    args.insert(args.end(), paths.begin(), paths.end());
    results[run] = run_sveltery_as_user(dir.path(), args);
    trees[run] = snapshot(dir / "site/out");
    fs::remove_all(dir / "site/out");
    make_dir(dir / "site/out", 0777);
  }
  EXPECT_EQ(results[0].status, 2);  // the unreadable page and the dangling link failed
  EXPECT_EQ(results[1].status, results[0].status);
  EXPECT_EQ(results[1].out, results[0].out);
  EXPECT_EQ(trees[1], trees[0]);
  EXPECT_GT(trees[0].size(), 150u);
  // The earlier output named on the command line exists by the time it is looked at.
  EXPECT_EQ(results[1].out.find("File: site/out/site/index.html doesn't"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Jobs, SameAsOneWorker, testing::ValuesIn(kOptionSets),
                         [](const auto& p) { return std::string(p.param.name); });

struct JobsArgCase {
  const char* name;
  const char* value;
  bool usage;  // the short usage screen instead of a run
};

const JobsArgCase kJobsArgs[] = {
    {"one", "1", false},    {"many", "64", false},
    {"zero", "0", true},    {"negative", "-2", true},
    {"letters", "x", true}, {"trailing", "3x", true},
    {"empty", "", true},    {"huge", "99999999999999999999", true},
};

class JobsArgument : public testing::TestWithParam<JobsArgCase> {};

TEST_P(JobsArgument, PositiveCountOrUsage) {
  TempDir dir;
  write_file(dir / "a.txt", "a");
  const RunResult r =
      run_sveltery(dir.path(), {std::string("--jobs=") + GetParam().value, "a.txt"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.rfind("usage: sveltery", 0) == 0, GetParam().usage) << r.out;
  EXPECT_EQ(exists(dir / "sveltered/a.txt"), !GetParam().usage);
}

INSTANTIATE_TEST_SUITE_P(Jobs, JobsArgument, testing::ValuesIn(kJobsArgs),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
