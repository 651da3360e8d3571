#include "traverse/file_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/test_support.h"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

struct stat stat_of(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st;
}

TEST(Banner, SevenLinesOfFixedWidthWithValuesAtNaturalWidth) {
  const std::vector<char> text = format_banner(Banner{"./site/a.html", 1234}, 987);
  const auto lines = lines_of(std::string(text.begin(), text.end()));
  ASSERT_EQ(lines.size(), 7u);
  const std::string rule = "<!-- " + std::string(85, '#') + " -->";
  EXPECT_EQ(lines[0], rule);
  EXPECT_EQ(lines[6], rule);
  EXPECT_EQ(lines[1].size(), 89u);
  EXPECT_EQ(lines[1].substr(0, 5), "<!-- ");
  EXPECT_EQ(lines[1].substr(86), "-->");
  EXPECT_EQ(lines[2].size(), 89u);
  EXPECT_EQ(lines[2].substr(0, 20), "<!-- Sveltery go to ");
  EXPECT_EQ(lines[2].substr(86), "-->");
  EXPECT_EQ(lines[3], "<!-- File Name: ./site/a.html" + std::string(73, ' ') + "-->");
  EXPECT_EQ(lines[4], "<!-- Input Size: 1234" + std::string(70, ' ') + "-->");
  EXPECT_EQ(lines[5],
            "<!-- Optimized Size: 987 (minus this header)" + std::string(54, ' ') + "-->");
  EXPECT_EQ(text.back(), '\n');
}

struct BannerNameCase {
  const char* name;
  const char* path;
  const char* shown;  // what line 4 carries between "File Name: " and its 73 spaces
};

const BannerNameCase kBannerNames[] = {
    {"plain", "./site/a.html", "./site/a.html"},
    {"percent_is_text", "100%s%d.html", "100%s%d.html"},
    {"comment_close_and_tag", "x--><img src=x onerror=alert(1)><!--.html",
     "x--&gt;&lt;img src=x onerror=alert(1)&gt;&lt;!--.html"},
    {"ampersand", "a&b.html", "a&amp;b.html"},
    {"entity_escaped_again", "a&lt;b.html", "a&amp;lt;b.html"},
    {"quotes_and_high_bytes_kept", "'q\"\xE9.html", "'q\"\xE9.html"},
    {"only_specials", "<>&", "&lt;&gt;&amp;"},
};

class BannerName : public testing::TestWithParam<BannerNameCase> {};

TEST_P(BannerName, EscapedInLineFourOnly) {
  const std::vector<char> text = format_banner(Banner{GetParam().path, 5}, 3);
  const auto lines = lines_of(std::string(text.begin(), text.end()));
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[3],
            "<!-- File Name: " + std::string(GetParam().shown) + std::string(73, ' ') + "-->");
  EXPECT_EQ(lines[4], "<!-- Input Size: 5" + std::string(70, ' ') + "-->");
}

INSTANTIATE_TEST_SUITE_P(Banner, BannerName, testing::ValuesIn(kBannerNames),
                         [](const auto& p) { return std::string(p.param.name); });

// The whole file at `path`, as the pipeline reads a page: opened, then read to its end.
std::optional<Bytes> load_whole_file(std::FILE* to, const char* path) {
  std::optional<InputFile> in;
  Bytes data;
  IoStatus status = open_input_file(AT_FDCWD, path, in);
  if (status.ok()) status = read_to_end(*in, data);
  print_io_status(to, status, path, nullptr);
  if (!status.ok()) return std::nullopt;
  return data;
}

TEST(Load, EmptyFileIsAnEmptyBuffer) {
  TempDir dir;
  write_file(dir / "e", "");
  std::optional<Bytes> data;
  EXPECT_EQ(capture_stdout([&] { data = load_whole_file(stdout, (dir / "e").c_str()); }), "");
  ASSERT_TRUE(data);
  EXPECT_TRUE(data->empty());
}

TEST(Load, KeepsEveryByte) {
  TempDir dir;
  const std::string bytes("a\0b\xFF\r\n", 6);
  write_file(dir / "f", bytes);
  const auto data = load_whole_file(stdout, (dir / "f").c_str());
  ASSERT_TRUE(data);
  EXPECT_EQ(to_text(*data), bytes);
}

TEST(Load, MissingFileSaysSo) {
  TempDir dir;
  const std::string path = dir / "none";
  EXPECT_EQ(capture_stdout([&] { EXPECT_FALSE(load_whole_file(stdout, path.c_str())); }),
            "Error: opening input file: " + path + "\n");
}

TEST(Load, UnreadableFileAddsPermissionLine) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads any file";
  TempDir dir;
  const std::string path = dir / "secret";
  write_file(path, "x", 0000);
  EXPECT_EQ(capture_stdout([&] { EXPECT_FALSE(load_whole_file(stdout, path.c_str())); }),
            "Error: opening input file: " + path + "\n Permission denied to: " + path + "\n");
}

// A file that changes size between its open (which measures it) and its read is read to its
// end when it grew, whatever its size said, and is a read error when it shrank: never cut.
TEST(Load, ReadsToTheEndOfAFileThatGrewAndRefusesOneThatShrank) {
  TempDir dir;
  const std::string path = dir / "f";
  const struct {
    std::size_t before, after;
  } cases[] = {{0, 5}, {10, 11}, {4096, 70000}, {200000, 200001}, {10, 3}, {70000, 0}};
  for (const auto& c : cases) {
    write_file(path, std::string(c.before, 'a'));
    std::optional<InputFile> in;
    ASSERT_TRUE(open_input_file(AT_FDCWD, path.c_str(), in).ok());
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(c.after)), 0);
    Bytes data;
    const IoStatus read = read_to_end(*in, data);
    if (c.after >= c.before) {
      EXPECT_TRUE(read.ok()) << c.before << " -> " << c.after;
      EXPECT_EQ(data.size(), c.after);
      EXPECT_EQ(in->size(), static_cast<std::int64_t>(c.after));
    } else {
      EXPECT_EQ(read.failed, IoStep::ReadInput);
    }
  }
}

TEST(Load, ProcFileWithNoSizeIsReadWhole) {
  const auto data = load_whole_file(stdout, "/proc/self/status");
  ASSERT_TRUE(data);
  EXPECT_NE(to_text(*data).find("Name:"), std::string::npos);
}

TEST(Load, DirectoryHasNoSize) {
  TempDir dir;
  const std::string path = dir.path();
  EXPECT_EQ(capture_stdout([&] { EXPECT_FALSE(load_whole_file(stdout, path.c_str())); }),
            "Error: getting file size: " + path + "\n");
}

// Only a write that found the disk or the quota full may have lost its space to another file and
// is run again; a directory that could not be made for want of space is not retried.
TEST(IoStatus, DiskFullOnlyWhileWriting) {
  const struct {
    IoStatus status;
    bool full;
  } cases[] = {
      {{IoStep::WriteOutput, ENOSPC}, true},   {{IoStep::OpenOutput, EDQUOT}, true},
      {{IoStep::WriteOutput, EIO}, false},     {{IoStep::UnreachableOutput, ENOSPC}, false},
      {{IoStep::ReadInput, ENOSPC}, false},    {{IoStep::None, ENOSPC}, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.status.disk_full(), c.full) << static_cast<int>(c.status.failed);
}

// Names in `path` that start with '.': temporary files left behind.
std::vector<std::string> dot_files_in(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path)) {
    const std::string name = entry.path().filename().string();
    if (name[0] == '.') names.push_back(name);
  }
  return names;
}

// Every save runs both ways: into a directory the run may have written before, and into one it
// made itself (GetParam()), where outputs are linked in without a temporary name. What they
// print and leave must be the same.
class Save : public testing::TestWithParam<bool> {
 protected:
  TempDir dir;
  std::string source = dir / "in.html";
  void SetUp() override { write_file(source, "source bytes"); }
  // Whatever a save did, succeeded or refused, it leaves no temporary file behind.
  void TearDown() override { EXPECT_EQ(dot_files_in(dir.path()), std::vector<std::string>{}); }
  bool save(const std::string& path, std::string_view data, std::optional<Banner> banner = {},
            mode_t mode = 0664) {
    const std::vector<unsigned char> bytes = to_bytes(data);
    const Place place(path);
    const IoStatus saved =
        save_output_file(place.place, bytes, banner, stat_of(source), mode, GetParam());
    print_io_status(stdout, saved, source.c_str(), path.c_str());
    return saved.ok();
  }
  // An output path as the pipeline holds it: its directory open (-1 when it cannot be), its name.
  struct Place {
    std::string name;
    int dir;
    OutputPlace place;
    explicit Place(const std::string& path)
        : name(path.substr(path.rfind('/') + 1)),
          dir(::open(path.substr(0, path.rfind('/')).c_str(), O_RDONLY | O_DIRECTORY)),
          place{dir, name.c_str(), path.c_str()} {}
    ~Place() {
      if (dir >= 0) ::close(dir);
    }
  };
};

TEST_P(Save, ReplacesTheOutputInsteadOfWritingIntoIt) {
  // A second name of the old output keeps the old bytes: the new file is a new file.
  const std::string out = dir / "out";
  const std::string other = dir / "other";
  write_file(out, "a much longer old content");
  ASSERT_EQ(::link(out.c_str(), other.c_str()), 0);
  EXPECT_TRUE(save(out, "new"));
  EXPECT_EQ(read_file(out), "new");
  EXPECT_EQ(read_file(other), "a much longer old content");
}

TEST_P(Save, LongestNameStillWrites) {
  const std::string out = dir / std::string(NAME_MAX, 'n');
  EXPECT_EQ(capture_stdout([&] { EXPECT_TRUE(save(out, "x")); }), "");
  EXPECT_EQ(read_file(out), "x");
}

TEST_P(Save, UnwritableDirectoryKeepsTheOldOutput) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes in any directory";
  const std::string sub = dir / "ro";
  const std::string out = sub + "/out";
  write_file(out, "old", 0644);
  ::chmod(sub.c_str(), 0555);
  EXPECT_EQ(capture_stdout([&] { EXPECT_FALSE(save(out, "x")); }),
            "Error: opening output file: " + out + "\n Permission denied to: " + out + "\n");
  EXPECT_EQ(read_file(out), "old");
}

TEST_P(Save, BannerAloneForEmptyData) {
  const std::string out = dir / "out";
  EXPECT_TRUE(save(out, "", Banner{"in.html", 12}));
  const std::string text = read_file(out);
  EXPECT_EQ(lines_of(text).size(), 7u);
  EXPECT_NE(text.find("<!-- Optimized Size: 0 (minus this header)"), std::string::npos);
}

TEST_P(Save, DataFollowsBannerDirectly) {
  const std::string out = dir / "out";
  EXPECT_TRUE(save(out, "<p>x", Banner{"in.html", 12}));
  const std::string text = read_file(out);
  EXPECT_EQ(text.substr(text.size() - 4 - 95), "<!-- " + std::string(85, '#') + " -->\n<p>x");
}

TEST_P(Save, GivesTheModeAsked) {
  for (const mode_t mode : {0640u, 0666u}) {  // the second one whatever the umask
    const std::string out = dir / "out";
    EXPECT_TRUE(save(out, "x", std::nullopt, mode));
    EXPECT_EQ(mode_of(out), mode);
  }
}

TEST_P(Save, CopyStartsOverWhenTheOutputExists) {
  const std::string out = dir / "out";
  write_file(out, "old");
  std::optional<InputFile> input;
  ASSERT_TRUE(open_input_file(AT_FDCWD, source.c_str(), input).ok());
  const Place place(out);
  EXPECT_TRUE(copy_output_file(place.place, *input, stat_of(source), 0640, GetParam()).ok());
  EXPECT_EQ(read_file(out), "source bytes");
}

// Each refusal prints its line and changes nothing: not the input, not what a link points to.
TEST_P(Save, RefusesWithItsOwnMessage) {
  const std::string victim = dir / "victim";
  write_file(victim, "precious", 0600);
  const std::string is_input = "Error: output file is the input file: ";
  const std::string no_open = "Error: opening output file: ";
  const std::string hard_link = dir / "hard", link = dir / "link", sub = dir / "sub",
                    fifo = dir / "fifo";
  ASSERT_EQ(::link(source.c_str(), hard_link.c_str()), 0);
  ASSERT_EQ(::symlink(victim.c_str(), link.c_str()), 0);
  ASSERT_EQ(::mkdir(sub.c_str(), 0700), 0);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);  // must not block the save
  const std::pair<std::string, std::string> refused[] = {
      {source, is_input}, {hard_link, is_input},
      {link, no_open},    {dir / "no/such/dir/out", no_open},
      {sub, no_open},     {fifo, no_open}};
  for (const auto& [out, message] : refused)
    EXPECT_EQ(capture_stdout([&] { EXPECT_FALSE(save(out, "evil")); }), message + out + "\n");
  EXPECT_EQ(read_file(source), "source bytes");
  EXPECT_EQ(read_file(victim), "precious");
  EXPECT_EQ(mode_of(victim), 0600u);
}

TEST_P(Save, UnwritableFileAddsPermissionLine) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes any file";
  const std::string out = dir / "ro";
  write_file(out, "old", 0444);
  EXPECT_EQ(capture_stdout([&] { EXPECT_FALSE(save(out, "x")); }),
            "Error: opening output file: " + out + "\n Permission denied to: " + out + "\n");
  EXPECT_EQ(read_file(out), "old");
}

INSTANTIATE_TEST_SUITE_P(IntoAnyDirectory, Save, testing::Values(false));
INSTANTIATE_TEST_SUITE_P(IntoANewDirectory, Save, testing::Values(true));

struct ModeCase {
  mode_t source, expected;
};

TEST(OutputMode, AddsOwnerAndGroupReadWriteAndDropsSetId) {
  const ModeCase cases[] = {{0644, 0664},  {0600, 0660},  {0755, 0775},   {0000, 0660},
                            {04755, 0775}, {02755, 0775}, {01777, 01777}, {S_IFREG | 0444, 0664}};
  for (const auto& c : cases) EXPECT_EQ(output_mode(c.source), c.expected) << std::oct << c.source;
}

}  // namespace
