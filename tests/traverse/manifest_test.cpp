#include "traverse/manifest.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

ManifestEntry entry(std::string output, std::string source) {
  ManifestEntry e;
  e.output = std::move(output);
  e.source = std::move(source);
  e.source_state = {1234, 1'700'000'000'123'456'789};
  e.source_ino = 42;
  e.source_dev = 2049;
  e.output_state = {1000, 1'700'000'100'000'000'001};
  e.siblings[0] = {300, e.output_state.mtime_ns};
  e.share.files_optimized = 1;
  e.share.html_in = 1234;
  e.share.html_out = 1000;
  e.share.precompressed_files = 1;
  e.share.precompressed_in = 1000;
  e.share.sibling_bytes[0] = 300;
  return e;
}

Manifest sample() {
  Manifest m{"1.1", "profile=default,banner=yes,formats=hjpc,precompress=br+", {}};
  m.entries.push_back(entry("site/index.html", "site/index.html"));
  // Every byte a file name may hold but NUL and '/', spaces and escapes included.
  std::string odd = "site/odd name %41\n\t\x7f\x01\xc3\xa9";
  m.entries.push_back(entry(odd, odd));
  ManifestEntry stale = entry("gone.txt", "../elsewhere/gone.txt");
  stale.current = false;
  stale.source_ino = ~std::uint64_t{0};  // inode numbers use all 64 bits on some file systems
  m.entries.push_back(stale);
  return m;
}

std::optional<Manifest> decode_text(const std::string& text) {
  return decode_manifest(to_bytes(text));
}

TEST(Manifest, DecodesWhatItEncodes) {
  const std::string text = encode_manifest(sample());
  const std::optional<Manifest> back = decode_text(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->program, "1.1");
  ASSERT_EQ(back->entries.size(), 3u);
  EXPECT_EQ(back->entries[1].output, sample().entries[1].output);
  EXPECT_FALSE(back->entries[2].current);
  EXPECT_EQ(back->entries[2].source_ino, ~std::uint64_t{0});
  EXPECT_EQ(back->entries[0].share.sibling_bytes[0], 300);
  EXPECT_EQ(encode_manifest(*back), text);
  EXPECT_TRUE(decode_text(encode_manifest(Manifest{"1.1", "x", {}})));  // no entries at all
}

// Damaged records: each is refused whole, never half trusted.
struct DamageCase {
  const char* name;
  std::function<std::string(std::string)> damage;
};

std::string replace(std::string text, const std::string& from, const std::string& to) {
  const auto at = text.find(from);
  return at == std::string::npos ? "(pattern missing)" : text.replace(at, from.size(), to);
}

const DamageCase kDamage[] = {
    {"Empty", [](std::string) { return std::string(); }},
    {"OtherFormatVersion", [](std::string t) { return replace(t, "manifest 1", "manifest 2"); }},
    {"NoProgramLine", [](std::string t) { return replace(t, "program 1.1\n", ""); }},
    {"CutBeforeItsEndLine", [](std::string t) { return t.substr(0, t.find("end ")); }},
    {"CutInsideALine", [](std::string t) { return t.substr(0, t.size() / 2); }},
    {"NoFinalNewline", [](std::string t) { return t.substr(0, t.size() - 1); }},
    {"CountTooHigh", [](std::string t) { return replace(t, "end 3", "end 4"); }},
    {"LineLost", [](std::string t) { return replace(t, t.substr(t.find("\n1 "), t.find('\n', t.find("\n1 ") + 1) - t.find("\n1 ")), ""); }},
    {"TrailingSpace", [](std::string t) { return replace(t, "gone.txt\n", "gone.txt \n"); }},
    {"EndCountTrailingSpace", [](std::string t) { return replace(t, "end 3\n", "end 3 \n"); }},
    {"LeadingZero", [](std::string t) { return replace(t, " 1234 ", " 01234 "); }},
    {"TextAfterEnd", [](std::string t) { return t + "1\n"; }},
    {"NotANumber", [](std::string t) { return replace(t, " 1234 ", " 12x4 "); }},
    {"NegativeSize", [](std::string t) { return replace(t, "\n1 1234 ", "\n1 -5 "); }},
    {"NumberTooLarge", [](std::string t) { return replace(t, " 1234 ", " 99999999999999999999 "); }},
    {"CurrentFlagTwo", [](std::string t) { return replace(t, "\n1 1234 ", "\n2 1234 "); }},
    {"DoubleSpace", [](std::string t) { return replace(t, " 1234 ", "  1234 "); }},
    {"ExtraWord", [](std::string t) { return replace(t, "site/index.html site/index.html", "site/index.html site/index.html x"); }},
    {"MissingWord", [](std::string t) { return replace(t, "site/index.html site/index.html", "site/index.html"); }},
    {"OutputClimbs", [](std::string t) { return replace(t, "site/index.html site/", "../index.html site/"); }},
    {"OutputAbsolute", [](std::string t) { return replace(t, "site/index.html site/", "/etc/passwd site/"); }},
    {"OutputEmptyPart", [](std::string t) { return replace(t, "site/index.html site/", "site//index.html site/"); }},
    {"OutputDotPart", [](std::string t) { return replace(t, "site/index.html site/", "site/./index.html site/"); }},
    {"EscapeNotHex", [](std::string t) { return replace(t, "%25", "%zz"); }},
    {"EscapeCut", [](std::string t) { return replace(t, "gone.txt ", "gone.txt% "); }},
    {"EscapeOfAPlainByte", [](std::string t) { return replace(t, "gone.txt ", "gone%2etxt "); }},
    {"EscapedNul", [](std::string t) { return replace(t, "%25", "%00"); }},
    {"UpperCaseEscape", [](std::string t) { return replace(t, "%7f", "%7F"); }},
};

class Damaged : public testing::TestWithParam<DamageCase> {};
TEST_P(Damaged, IsRefused) {
  const std::string damaged = GetParam().damage(encode_manifest(sample()));
  ASSERT_NE(damaged, "(pattern missing)");
  EXPECT_FALSE(decode_text(damaged));
}
INSTANTIATE_TEST_SUITE_P(Manifest, Damaged, testing::ValuesIn(kDamage),
                         [](const auto& p) { return std::string(p.param.name); });

// Fuzz-style: every prefix is refused, and every byte changed to every value either is refused
// or gives a record that encodes back to exactly what was read.
TEST(Manifest, EveryCutAndEveryByteChangeIsRefusedOrExact) {
  const std::string text = encode_manifest(sample());
  for (std::size_t n = 0; n < text.size(); ++n)
    EXPECT_FALSE(decode_text(text.substr(0, n))) << "prefix of " << n << " bytes";
  for (std::size_t at = 0; at < text.size(); at += 3) {
    for (int b = 0; b < 256; b += 7) {
      std::string changed = text;
      changed[at] = static_cast<char>(b);
      if (const std::optional<Manifest> m = decode_text(changed)) {
        EXPECT_EQ(encode_manifest(*m), changed) << "byte " << at << " set to " << b;
        for (const ManifestEntry& e : m->entries) EXPECT_TRUE(safe_output_name(e.output));
      }
    }
  }
}

struct stat source_stat() {
  struct stat st {};
  st.st_size = 1234;
  st.st_mtim = {1'700'000'000, 123'456'789};
  st.st_ino = 42;
  st.st_dev = 2049;
  return st;
}

OutputNow as_recorded() {
  const ManifestEntry e = entry("site/index.html", "site/index.html");
  OutputNow now;
  now.output = e.output_state;
  now.siblings = e.siblings;
  return now;
}

// What makes an output stale: one change from the recorded state each.
struct FreshCase {
  const char* name;
  std::function<void(ManifestEntry&, std::string&, struct stat&, OutputNow&)> change;
  bool up_to_date;
};

const FreshCase kFresh[] = {
    {"AsRecorded", [](auto&, auto&, auto&, auto&) {}, true},
    {"SourceLonger", [](auto&, auto&, struct stat& s, auto&) { s.st_size += 1; }, false},
    {"SourceTouchedOneNanosecond", [](auto&, auto&, struct stat& s, auto&) { s.st_mtim.tv_nsec += 1; }, false},
    {"SourceReplacedByAnotherFile", [](auto&, auto&, struct stat& s, auto&) { s.st_ino += 1; }, false},
    {"SourceOnAnotherDevice", [](auto&, auto&, struct stat& s, auto&) { s.st_dev += 1; }, false},
    {"SourceNamedOtherwise", [](auto&, std::string& p, auto&, auto&) { p = "./site/index.html"; }, false},
    {"OutputMissing", [](auto&, auto&, auto&, OutputNow& n) { n.output = FileState{}; }, false},
    {"OutputEditedSameTime", [](auto&, auto&, auto&, OutputNow& n) { n.output.size -= 1; }, false},
    {"OutputTouched", [](auto&, auto&, auto&, OutputNow& n) { n.output.mtime_ns += 1000; }, false},
    {"SiblingMissing", [](auto&, auto&, auto&, OutputNow& n) { n.siblings[0] = FileState{}; }, false},
    {"SiblingReplaced", [](auto&, auto&, auto&, OutputNow& n) { n.siblings[0].size = 301; }, false},
    {"UnrecordedSiblingIgnored", [](auto&, auto&, auto&, OutputNow& n) { n.siblings[1] = {5, 5}; }, true},
    {"EntryKeptOnlyForDeletion", [](ManifestEntry& e, auto&, auto&, auto&) { e.current = false; }, false},
};

class Freshness : public testing::TestWithParam<FreshCase> {};
TEST_P(Freshness, Decides) {
  ManifestEntry e = entry("site/index.html", "site/index.html");
  std::string path = "site/index.html";
  struct stat st = source_stat();
  OutputNow now = as_recorded();
  GetParam().change(e, path, st, now);
  EXPECT_EQ(up_to_date(e, path, st, now), GetParam().up_to_date);
}
INSTANTIATE_TEST_SUITE_P(Manifest, Freshness, testing::ValuesIn(kFresh),
                         [](const auto& p) { return std::string(p.param.name); });

// Every option that changes an output's bytes or its siblings changes the fingerprint; the
// others (what is printed, how many workers) do not.
struct OptionCase {
  const char* name;
  void (*set)(Options&);
  bool changes_outputs;
};

const OptionCase kOptionCases[] = {
    {"Safe", [](Options& o) { o.safe = true; }, true},
    {"NoBanner", [](Options& o) { o.no_banner = true; }, true},
    {"NoHtml", [](Options& o) { o.html = false; }, true},
    {"NoJpeg", [](Options& o) { o.jpeg = false; }, true},
    {"NoPhp", [](Options& o) { o.php = false; }, true},
    {"NoCopies", [](Options& o) { o.copy_other = false; }, true},
    {"StyleSheets", [](Options& o) { o.css = true; }, true},
    {"Scripts", [](Options& o) { o.js = true; }, true},
    {"Zstd", [](Options& o) { o.precompress.add(Encoding::Zstd); }, true},
    {"Verbose", [](Options& o) { o.verbose = o.logging = o.final_report = true; }, false},
    {"Jobs", [](Options& o) { o.jobs = 7; }, false},
    {"Delete", [](Options& o) { o.delete_gone = true; }, false},
};

class Fingerprint : public testing::TestWithParam<OptionCase> {};
TEST_P(Fingerprint, FollowsTheOptionsThatShapeOutputs) {
  Options base;
  base.html = base.jpeg = base.php = base.copy_other = base.update = true;
  base.precompress.add(Encoding::Brotli);
  Options changed = base;
  GetParam().set(changed);
  EXPECT_EQ(options_fingerprint(changed) != options_fingerprint(base),
            GetParam().changes_outputs);
}
INSTANTIATE_TEST_SUITE_P(Manifest, Fingerprint, testing::ValuesIn(kOptionCases),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
