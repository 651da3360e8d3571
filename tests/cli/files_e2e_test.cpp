// Single files through the whole program: what each kind gets, what is printed, what is refused.
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

std::string full_bar(long done) {
  return "\r 100% |" + std::string(50, '*') + "| " + std::to_string(done);
}

std::string banner_line_4(const std::string& name) {
  return "<!-- File Name: " + name + std::string(73, ' ') + "-->\n";
}

// Everything after the seven banner lines of an optimized page.
std::string body_of(const std::string& text) {
  std::size_t pos = 0;
  for (int i = 0; i < 7 && pos != std::string::npos; ++i) pos = text.find('\n', pos) + 1;
  return text.substr(pos);
}

// A small JPEG stream: SOI, APP0 (16 bytes of segment), DQT, SOS with scan data, EOI.
std::string small_jpeg() {
  std::string s = "\xFF\xD8";
  s += std::string("\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 18);
  s += std::string("\xFF\xDB\x00\x06\x00\x01\x02\x03", 8);
  s += std::string(
      "\xFF\xDA\x00\x04\x01\x02"
      "scandata"
      "\xFF\x00\xFF\xD9",
      18);
  return s;
}

TEST(Copy, BytesAndModesUnchangedButOwnerGroupWritable) {
  TempDir dir;
  const std::string bytes("a\0b\xFF\r\n", 6);
  write_file(dir / "a.css", bytes, 0644);
  write_file(dir / "b.txt", "b", 0600);
  write_file(dir / "c.sh", "c", 04755);
  const RunResult r = run_sveltery(dir.path(), {"-v", "a.css", "b.txt", "c.sh"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kDemo + kOut + "Copying: a.css\n" + full_bar(6) + "\nCopying: b.txt\n" +
                       full_bar(1) + "\nCopying: c.sh\n" + full_bar(1) +
                       "\nSveltery Optimized: 0 of 3 files\n");
  EXPECT_EQ(read_file(dir / "sveltered/a.css"), bytes);
  EXPECT_EQ(mode_of(dir / "sveltered/a.css"), 0664u);
  EXPECT_EQ(mode_of(dir / "sveltered/b.txt"), 0660u);
  EXPECT_EQ(mode_of(dir / "sveltered/c.sh"), 0775u);  // never a set-user-ID copy
  EXPECT_EQ(mode_of(dir / "c.sh"), 04755u);
}

TEST(Copy, LoggingShowsNoBar) {
  TempDir dir;
  write_file(dir / "a.txt", "abc");
  const RunResult r = run_sveltery(dir.path(), {"-l", "a.txt"});
  EXPECT_EQ(r.out, kDemo + kOut + "Copying: a.txt\nSveltery Optimized: 0 of 1 files\n");
}

TEST(Copy, SwitchedOffFormatIsCopiedUnchanged) {
  TempDir dir;
  write_file(dir / "p.html", "<p>  x");
  const RunResult r = run_sveltery(dir.path(), {"-c", "-l", "p.html"});
  EXPECT_EQ(r.out, kDemo + kOut + "Copying: p.html\nSveltery Optimized: 0 of 1 files\n");
  EXPECT_EQ(read_file(dir / "sveltered/p.html"), "<p>  x");
}

TEST(Copy, ExistingOutputIsTruncatedNotAppended) {
  TempDir dir;
  write_file(dir / "a.txt", "new");
  write_file(dir / "sveltered/a.txt", "an older and longer content");
  run_sveltery(dir.path(), {"a.txt"});
  EXPECT_EQ(read_file(dir / "sveltered/a.txt"), "new");
}

TEST(Markup, HtmlPageBehindBanner) {
  TempDir dir;
  const std::string page =
      "<HEAD>\n  <TITLE>x</TITLE>\n</HEAD>\n<BODY>\n<P>Hello\nworld</P>\n</BODY>\n</HTML>\n";
  const std::string optimized =
      "<HEAD><TITLE>x</TITLE></HEAD><BODY><P>Hello world</P></BODY></HTML>";
  write_file(dir / "site/index.html", page, 0640);
  const RunResult r = run_sveltery(dir.path(), {"-l", "site/index.html"});
  EXPECT_EQ(r.out, kDemo + kOut +
                       "Optimizing: site/index.html\n Saved: 11.8% or 9 of 76 bytes\n"
                       "Sveltery Saved: 11.8% or 9 of 76 bytes overall on optimizable formats\n"
                       "Sveltery Saved: 11.8% or 9 of 76 bytes on html format files\n"
                       "Sveltery Optimized: 1 of 1 files\n");
  const std::string written = read_file(dir / "sveltered/index.html");
  EXPECT_NE(written.find(banner_line_4("site/index.html")), std::string::npos);
  EXPECT_NE(written.find("<!-- Input Size: 76" + std::string(70, ' ') + "-->\n"),
            std::string::npos);
  EXPECT_NE(written.find("<!-- Optimized Size: 67 (minus this header)"), std::string::npos);
  EXPECT_EQ(body_of(written), optimized);
  EXPECT_EQ(mode_of(dir / "sveltered/index.html"), 0660u);
}

TEST(Markup, VerboseDrawsTheBarWhileScanning) {
  TempDir dir;
  write_file(dir / "a.htm", "<b>x");
  const RunResult r = run_sveltery(dir.path(), {"-v", "a.htm"});
  // Two iterations (the tag, the text byte), interval 0: a tick for each, then the final one.
  const std::string zero = "\r 0% |" + std::string(50, ' ') + "| 0";
  const std::string three = "\r 75% |" + std::string(37, '*') + std::string(13, ' ') + "| 3";
  EXPECT_EQ(r.out, kDemo + kOut + "Optimizing: a.htm\n" + zero + three + full_bar(4) +
                       "\n Saved: 0.0% or 0 of 4 bytes\n"
                       "Sveltery Saved: 0.0% or 0 of 4 bytes overall on optimizable formats\n"
                       "Sveltery Saved: 0.0% or 0 of 4 bytes on html format files\n"
                       "Sveltery Optimized: 1 of 1 files\n");
}

struct PhpCase {
  const char* name;
  const char* file;
  std::string written;  // the whole output file of a page "<?php  x ?>\n<p>  y"
};

// A PHP page gets no banner: in front of its code the banner would be output of the page.
const PhpCase kPhp[] = {
    {"php_blocks_kept_no_banner", "a.php", "<?php  x ?><p> y"},
    {"phtml", "a.phtml", "<?php  x ?><p> y"},
    {"php3", "a.PHP3", "<?php  x ?><p> y"},
};

class Php : public testing::TestWithParam<PhpCase> {};

TEST_P(Php, ModeFollowsExtension) {
  TempDir dir;
  write_file(dir / GetParam().file, "<?php  x ?>\n<p>  y");
  const RunResult r = run_sveltery(dir.path(), {GetParam().file});
  EXPECT_EQ(r.out, kDemo);
  EXPECT_EQ(read_file(dir / ("sveltered/" + std::string(GetParam().file))), GetParam().written);
}

TEST(Markup, HtmlPageTreatsPhpBlockAsTagBehindBanner) {
  TempDir dir;
  write_file(dir / "a.html", "<?php  x ?>\n<p>  y");
  const RunResult r = run_sveltery(dir.path(), {"a.html"});
  EXPECT_EQ(r.out, kDemo);
  const std::string written = read_file(dir / "sveltered/a.html");
  EXPECT_NE(written.find(banner_line_4("a.html")), std::string::npos);
  EXPECT_EQ(body_of(written), "<?php x ?><p> y");
}

INSTANTIATE_TEST_SUITE_P(Markup, Php, testing::ValuesIn(kPhp),
                         [](const auto& p) { return std::string(p.param.name); });

struct ProfileCase {
  const char* name;
  std::vector<std::string> options;
  const char* file;
  std::string page;
  std::string written;  // after the banner, when there is one
  bool banner;
};

const ProfileCase kProfiles[] = {
    {"no_banner", {"--no-banner"}, "a.html", "<p>  y", "<p> y", false},
    {"safe_no_banner",
     {"--safe", "--no-banner"},
     "a.html",
     "<!DOCTYPE html>\n<p title=\"a  b\">x  y</p>\n<!-- c -->\n",
     "<!DOCTYPE html><p title=\"a  b\">x  y</p>",
     false},
    {"safe_php_without_banner",
     {"--safe"},
     "a.php",
     "<ul>\n<li><?php  echo '</li>' ?>\n</li>\n</ul>",
     "<ul><li><?php  echo '</li>' ?>\n</ul>",
     false},
};

class Profile : public testing::TestWithParam<ProfileCase> {};

TEST_P(Profile, WritesThePage) {
  TempDir dir;
  write_file(dir / GetParam().file, GetParam().page);
  std::vector<std::string> args = GetParam().options;
  args.emplace_back(GetParam().file);
  const RunResult r = run_sveltery(dir.path(), args);
  EXPECT_EQ(r.out, kDemo);
  const std::string written = read_file(dir / ("sveltered/" + std::string(GetParam().file)));
  if (GetParam().banner) {
    EXPECT_NE(written.find(banner_line_4(GetParam().file)), std::string::npos);
    EXPECT_EQ(body_of(written), GetParam().written);
  } else {
    EXPECT_EQ(written, GetParam().written);
  }
}

INSTANTIATE_TEST_SUITE_P(Markup, Profile, testing::ValuesIn(kProfiles),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Markup, ZeroByteDoesNotCutThePage) {
  TempDir dir;
  const std::string page("a\0b  c", 6);
  write_file(dir / "z.html", page);
  const RunResult r = run_sveltery(dir.path(), {"-l", "z.html"});
  EXPECT_NE(r.out.find(" Saved: 16.7% or 1 of 6 bytes\n"), std::string::npos) << r.out;
  const std::string written = read_file(dir / "sveltered/z.html");
  EXPECT_EQ(body_of(written), std::string("a\0b c", 5));
  EXPECT_NE(written.find("<!-- Optimized Size: 5 (minus this header)"), std::string::npos);
}

TEST(Jpeg, AnnounceOrderTotalsAndShorterOutput) {
  TempDir dir;
  const std::string jpeg = small_jpeg();
  write_file(dir / "p.jpg", jpeg);
  const RunResult r = run_sveltery(dir.path(), {"-l", "p.jpg"});
  ASSERT_EQ(jpeg.size(), 46u);
  EXPECT_EQ(r.out, kDemo + kOut + "Optimizing: p.jpg\n" + full_bar(46) +
                       "\n Saved: 39.1% or 18 of 46 bytes\n"
                       "Sveltery Saved: 39.1% or 18 of 46 bytes overall on optimizable formats\n"
                       "Sveltery Saved: 39.1% or 18 of 46 bytes on jpg format files\n"
                       "Sveltery Optimized: 1 of 1 files\n");
  std::string expected = jpeg;
  expected.erase(2, 18);
  EXPECT_EQ(read_file(dir / "sveltered/p.jpg"), expected);
  EXPECT_EQ(mode_of(dir / "sveltered/p.jpg"), 0664u);
}

TEST(Jpeg, StoppedWalkWritesTheFileUnchanged) {
  TempDir dir;
  std::string jpeg = small_jpeg();
  jpeg[22] = '\x7F';  // the DQT length now runs far past the end of the file
  write_file(dir / "bad.jpeg", jpeg);
  const RunResult r = run_sveltery(dir.path(), {"-l", "bad.jpeg"});
  EXPECT_NE(r.out.find(" Saved: 0.0% or 0 of 46 bytes\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Sveltery Optimized: 1 of 1 files\n"), std::string::npos);
  EXPECT_EQ(read_file(dir / "sveltered/bad.jpeg"), jpeg);
}

TEST(Jpeg, NothingSavedMeansTheFileAsItWasRead) {
  const std::pair<const char*, std::string> cases[] = {
      {"not JPEG data", "Hello world"},
      // Completes with one fill byte dropped and one missing 0xFF added: the same length, other
      // bytes. Nothing was saved, so the file must go out exactly as read.
      {"rewritten at the same length",
       std::string("\xFF\xD8\xFF\xFF\xDB\x00\x04\x01\x02\xDA\x11\x22\xFF\xD9", 14)},
  };
  for (const auto& [what, bytes] : cases) {
    TempDir dir;
    write_file(dir / "t.jpg", bytes);
    const RunResult r = run_sveltery(dir.path(), {"-l", "t.jpg"});
    EXPECT_NE(r.out.find(" Saved: 0.0% or 0 of " + std::to_string(bytes.size()) + " bytes\n"),
              std::string::npos)
        << what << "\n"
        << r.out;
    EXPECT_EQ(read_file(dir / "sveltered/t.jpg"), bytes) << what;
  }
}

// Large JPEGs, whose image data goes out without being read into memory: the result is the
// one the filter gives over the whole file, wherever the metadata ends.
TEST(Jpeg, LargeFilesComeOutAsIfReadWhole) {
  const auto segment = [](char code, std::size_t payload) {
    std::string s = {'\xFF', code, static_cast<char>((payload + 2) >> 8),
                     static_cast<char>((payload + 2) & 0xFF)};
    return s + std::string(payload, 'm');
  };
  const std::string soi = "\xFF\xD8", dqt = std::string("\xFF\xDB\x00\x04\x01\x02", 6);
  const std::string scan = "\xFF\xDA" + std::string(300000, 's') + "\xFF\xD9";
  // Metadata that puts the scan's FF DA at offset `at` (8192 bytes are read first, then 65536).
  const auto straddling = [&](std::size_t at) {
    return soi + segment('\xE1', at - 2 - 6 - 4) + dqt;
  };
  const struct {
    const char* what;
    std::string in;
    std::string out;
  } cases[] = {
      {"metadata inside the head", soi + segment('\xE0', 100) + dqt + scan, soi + dqt + scan},
      {"metadata past the head", soi + segment('\xE1', 65000) + segment('\xFE', 2000) + dqt + scan,
       soi + dqt + scan},
      {"FF DA across the first head's end", straddling(8191) + scan, soi + dqt + scan},
      {"FF DA ends the first head", straddling(8190) + scan, soi + dqt + scan},
      {"FF DA across the second head's end", straddling(65535) + scan, soi + dqt + scan},
      {"FF DA ends the second head", straddling(65534) + scan, soi + dqt + scan},
      {"walk stops past the head", soi + segment('\xE1', 70000) + "\xFF\xD9" + scan,
       soi + segment('\xE1', 70000) + "\xFF\xD9" + scan},
      {"nothing saved", std::string("\xFF\xD8\xFF\xFF\xDB\x00\x04\x01\x02\xDA", 10) + scan,
       std::string("\xFF\xD8\xFF\xFF\xDB\x00\x04\x01\x02\xDA", 10) + scan},
      {"not a JPEG", std::string(200000, 'x'), std::string(200000, 'x')},
  };
  for (const auto& c : cases) {
    TempDir dir;
    write_file(dir / "big.jpg", c.in);
    const RunResult r = run_sveltery(dir.path(), {"-l", "big.jpg"});
    const std::string saved = std::to_string(c.in.size() - c.out.size()) + " of " +
                              std::to_string(c.in.size()) + " bytes\n";
    EXPECT_NE(r.out.find("% or " + saved), std::string::npos) << c.what << "\n" << r.out;
    EXPECT_TRUE(read_file(dir / "sveltered/big.jpg") == c.out) << c.what;
  }
}

TEST(Jpeg, CountedEvenWhenTheWriteFails) {
  TempDir dir;
  const std::string jpeg = small_jpeg();
  write_file(dir / "p.jpg", jpeg, 0644);
  ::mkdir((dir / "sveltered").c_str(), 0700);
  ::mkdir((dir / "sveltered/p.jpg").c_str(), 0700);  // a directory where the output goes
  const RunResult r = run_sveltery(dir.path(), {"-l", "p.jpg"});
  EXPECT_EQ(r.out, kDemo + kOut + "Optimizing: p.jpg\n" + full_bar(46) +
                       "\n Saved: 39.1% or 18 of 46 bytes\n"
                       "Error: opening output file: ./sveltered/p.jpg\n"
                       "Sveltery Saved: 39.1% or 18 of 46 bytes overall on optimizable formats\n"
                       "Sveltery Saved: 39.1% or 18 of 46 bytes on jpg format files\n"
                       "Sveltery Optimized: 1 of 1 files\n");
  EXPECT_EQ(mode_of(dir / "sveltered/p.jpg"), 0700u);  // no mode change after a failed write
}

struct RefusalCase {
  const char* name;
  std::vector<std::string> args;  // run where page.html, site/a.html and other/a.html are
  std::string expected;           // after the demo line
  int status;
};

const RefusalCase kRefusals[] = {
    {"missing", {"nope.html", "page.html"}, "File: nope.html doesn't exist.\n", 2},
    {"not_a_directory_component", {"page.html/x"}, "Error: getting file status: page.html/x\n", 2},
    {"directory_without_r_is_silent", {"site"}, "", 1},
    {"recursing_into_parent",
     {"-r", ".."},
     "Error: output outside the output directory: ..\nSkipped: ..\n",
     2},
    {"same_output_as_an_earlier_file",
     {"site/a.html", "site/a.html", "other/a.html"},
     "Error: output already taken by site/a.html: other/a.html\nSkipped: other/a.html\n",
     2},
};

class Refusal : public testing::TestWithParam<RefusalCase> {};

TEST_P(Refusal, SaysWhyAndWritesNothingOutside) {
  TempDir dir;
  write_file(dir / "page.html", "<p>p");
  write_file(dir / "site/a.html", "<p>a");
  write_file(dir / "other/a.html", "<p>other");
  const RunResult r = run_sveltery(dir.path(), GetParam().args);
  EXPECT_EQ(r.status, GetParam().status);
  EXPECT_EQ(r.out, kDemo + GetParam().expected);
  EXPECT_FALSE(exists(dir / "svelteredpage.html"));
  EXPECT_FALSE(exists(dir / "page.html.out"));
  EXPECT_EQ(read_file(dir / "page.html"), "<p>p");
  EXPECT_EQ(read_file(dir / "sveltered/a.html").find("other"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Files, Refusal, testing::ValuesIn(kRefusals),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Files, RefusedFileStillCountsAsSeen) {
  TempDir dir;
  write_file(dir / "a/x.html", "<p>x");
  write_file(dir / "bb/x.html", "<p>y");
  const RunResult r = run_sveltery(dir.path(), {"-f", "a/x.html", "bb/x.html"});
  EXPECT_NE(r.out.find("Skipped: bb/x.html\nSveltery Saved"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Sveltery Optimized: 1 of 2 files\n"), std::string::npos);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(read_file(dir / "sveltered/x.html").substr(0, 4), "<!--");
  EXPECT_NE(read_file(dir / "sveltered/x.html").find("<p>x"), std::string::npos);
}

TEST(Files, OutputOverTheInputItselfIsRefused) {
  TempDir dir;
  write_file(dir / "page.html", "<p>  keep me");
  write_file(dir / "notes.txt", "keep me too");
  write_file(dir / "photo.jpg", small_jpeg());
  const RunResult r = run_sveltery(dir.path(), {"-o", ".", "page.html", "notes.txt", "photo.jpg"});
  EXPECT_EQ(r.out, kDemo +
                       "Error: output file is the input file: ./page.html\nSkipped: page.html\n"
                       "Error: output file is the input file: ./notes.txt\nSkipped: notes.txt\n"
                       "Error: output file is the input file: ./photo.jpg\n");
  EXPECT_EQ(read_file(dir / "page.html"), "<p>  keep me");
  EXPECT_EQ(read_file(dir / "notes.txt"), "keep me too");
  EXPECT_EQ(read_file(dir / "photo.jpg"), small_jpeg());
  EXPECT_EQ(mode_of(dir / "page.html"), 0644u);
}

TEST(Files, PlantedLinkAtOutputPathIsNotFollowed) {
  TempDir dir;
  write_file(dir / "victim", "precious", 0600);
  write_file(dir / "a.txt", "attack");
  ::mkdir((dir / "sveltered").c_str(), 0700);
  ASSERT_EQ(::symlink((dir / "victim").c_str(), (dir / "sveltered/a.txt").c_str()), 0);
  const RunResult r = run_sveltery(dir.path(), {"a.txt"});
  EXPECT_EQ(r.out, kDemo + "Error: opening output file: ./sveltered/a.txt\nSkipped: a.txt\n");
  EXPECT_EQ(read_file(dir / "victim"), "precious");
  EXPECT_EQ(mode_of(dir / "victim"), 0600u);
}

TEST(Files, UnreadableInputIsSkipped) {
  TempDir dir;
  write_file(dir / "s.html", "<p>", 0000);
  const RunResult r = run_sveltery_as_user(dir.path(), {"-v", "s.html"});
  EXPECT_EQ(r.out, kDemo + kOut +
                       "Error: opening input file: s.html\n Permission denied to: s.html\n"
                       "Skipped: s.html\nSveltery Optimized: 0 of 1 files\n");
}

TEST(Files, EmptyFilesOfEveryKind) {
  TempDir dir;
  for (const char* name : {"e.html", "e.php", "e.jpg", "e.txt"}) write_file(dir / name, "");
  const RunResult r = run_sveltery(dir.path(), {"-f", "e.html", "e.php", "e.jpg", "e.txt"});
  EXPECT_EQ(r.out, kDemo + kOut + "Sveltery Optimized: 3 of 4 files\n");
  EXPECT_EQ(body_of(read_file(dir / "sveltered/e.html")), "");
  EXPECT_EQ(read_file(dir / "sveltered/e.php"), "");
  EXPECT_EQ(read_file(dir / "sveltered/e.jpg"), "");
  EXPECT_EQ(read_file(dir / "sveltered/e.txt"), "");
}

}  // namespace
