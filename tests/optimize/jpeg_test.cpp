#include "optimize/jpeg.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using Bytes = std::vector<unsigned char>;
namespace fs = std::filesystem;

// ---- fixture builders: each computes its own length field ----

Bytes jpeg(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes pattern(std::size_t n, unsigned seed) {  // recognisable bytes, 0xFF included now and then
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(seed * 31 + i * 7);
  return b;
}
Bytes marker(unsigned char code) { return {0xFF, code}; }
Bytes soi() { return marker(0xD8); }
Bytes eoi() { return marker(0xD9); }
Bytes fill(std::size_t n) { return Bytes(n, 0xFF); }
Bytes seg(unsigned char code, const Bytes& payload) {
  const std::size_t len = payload.size() + 2;
  Bytes b{0xFF, code, static_cast<unsigned char>(len >> 8), static_cast<unsigned char>(len)};
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}
Bytes app(unsigned char code, std::size_t n) { return seg(code, pattern(n, code)); }
Bytes com(std::size_t n) { return app(0xFE, n); }
Bytes dqt(std::size_t n) { return app(0xDB, n); }
Bytes dht(std::size_t n) { return app(0xC4, n); }
Bytes sof(std::size_t n) { return app(0xC0, n); }
Bytes adobe(std::size_t extra) {
  Bytes p = to_bytes("Adobe");
  const Bytes tail = pattern(extra, 14);
  p.insert(p.end(), tail.begin(), tail.end());
  return seg(0xEE, p);
}
Bytes sos() { return seg(0xDA, {1, 1, 0, 0, 0x3F, 0}); }
Bytes data(std::size_t n) { return pattern(n, 99); }

// ---- the walk done literally: reads an untouched input, writes a separate output ----

struct Reference {
  std::optional<Bytes> out;          // set only when the walk completes
  bool ran_ahead = false;            // in place, some write would have hit input still to be read
  std::size_t dropped_segments = 0;  // bytes of dropped segments, 0xFF and code included
};

Reference reference_walk(const Bytes& in) {
  Reference ref;
  Bytes out;
  const std::size_t n = in.size();
  std::size_t r = 0;
  const auto room = [&] { return n - out.size(); };
  for (;;) {
    if (r == n) return ref;
    const unsigned char c = in[r++];
    if (c == 0xFF) continue;
    if ((c >= 0xD0 && c <= 0xDA) || c == 0x01) {
      if (room() == 0) return ref;
      out.push_back(0xFF);
      if (room() == 0) return ref;
      out.push_back(c);
      ref.ran_ahead = ref.ran_ahead || out.size() > r;
      if (c == 0xD9) return ref;
      if (c != 0xDA) continue;
      if (n - r > room()) return ref;
      out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(r), in.end());
      ref.out = out;
      return ref;
    }
    if (n - r < 2) return ref;
    const std::size_t len = std::size_t{in[r]} * 256 + in[r + 1];
    r += 2;
    if (len < 2 || len - 2 > n - r) return ref;
    const bool is_adobe = c == 0xEE && len - 2 >= 5 && std::equal(&in[r], &in[r] + 5, "Adobe");
    if (c >= 0xE0 && !is_adobe) {
      r += len - 2;
      ref.dropped_segments += len + 2;
      continue;
    }
    if (len + 2 > room()) return ref;
    out.insert(out.end(), {0xFF, c, in[r - 2], in[r - 1]});
    for (std::size_t k = 0; k < len - 2; ++k) out.push_back(in[r++]);
    ref.ran_ahead = ref.ran_ahead || out.size() > r;
  }
}

// Runs the filter on a copy; a stopped walk must leave every byte as it was.
std::optional<Bytes> run_filter(const Bytes& in) {
  Bytes buf = in;
  const std::optional<std::size_t> len = optimize_jpeg(buf);
  if (!len) {
    EXPECT_EQ(buf, in) << "a stopped walk changed the buffer";
    return std::nullopt;
  }
  EXPECT_LE(*len, in.size());
  buf.resize(std::min(*len, buf.size()));
  return buf;
}

struct Case {
  const char* name;
  Bytes in;
  std::optional<Bytes> out;  // nullopt: the walk stops
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

Bytes every_metadata_segment() {  // APP0..APP15, JPG0..JPG13, COM; the APP14 is not Adobe's
  Bytes b;
  for (unsigned c = 0xE0; c <= 0xFE; ++c) {
    const Bytes s = app(static_cast<unsigned char>(c), c % 7);
    b.insert(b.end(), s.begin(), s.end());
  }
  return b;
}
Bytes every_kept_code() {  // 0x00, 0x02..0xCF, 0xDB..0xDF: length-bearing and kept
  Bytes b;
  for (int c : {0x00, 0x02, 0xC0, 0xC2, 0xC4, 0xC8, 0xCC, 0xCF, 0xDB, 0xDC, 0xDD, 0xDF}) {
    const Bytes s = app(static_cast<unsigned char>(c), static_cast<std::size_t>(c % 5));
    b.insert(b.end(), s.begin(), s.end());
  }
  return b;
}
Bytes tables(int n) {  // n DQT/DHT pairs
  Bytes b;
  for (int i = 0; i < n; ++i) b = jpeg({b, dqt(65), dht(30)});
  return b;
}

const Case kCases[] = {
    {"app0_dropped",
     jpeg({soi(), app(0xE0, 14), dqt(64), sof(15), dht(28), sos(), data(40), eoi()}),
     jpeg({soi(), dqt(64), sof(15), dht(28), sos(), data(40), eoi()})},
    {"many_tables_short_app0", jpeg({soi(), app(0xE0, 14), tables(5), sos(), data(9)}),
     jpeg({soi(), tables(5), sos(), data(9)})},
    {"app1_app2_com_dropped",
     jpeg({soi(), app(0xE1, 300), app(0xE2, 40), com(0), dqt(4), sos(), data(8)}),
     jpeg({soi(), dqt(4), sos(), data(8)})},
    {"every_metadata_code_dropped", jpeg({soi(), every_metadata_segment(), sos(), data(3)}),
     jpeg({soi(), sos(), data(3)})},
    {"every_kept_code_kept", jpeg({soi(), every_kept_code(), sos(), data(3)}),
     jpeg({soi(), every_kept_code(), sos(), data(3)})},
    {"standalone_codes_kept",
     jpeg({soi(), marker(0x01), marker(0xD0), marker(0xD7), soi(), sos(), data(3)}),
     jpeg({soi(), marker(0x01), marker(0xD0), marker(0xD7), soi(), sos(), data(3)})},
    {"fill_runs_collapse", jpeg({fill(3), soi(), fill(4), dqt(2), fill(1), app(0xE0, 2), sos()}),
     jpeg({soi(), dqt(2), sos()})},
    {"after_sos_untouched",
     jpeg({soi(), sos(), data(10), com(5), app(0xE1, 4), fill(3), eoi(), to_bytes("trail")}),
     jpeg({soi(), sos(), data(10), com(5), app(0xE1, 4), fill(3), eoi(), to_bytes("trail")})},
    {"trailing_after_eoi", jpeg({soi(), com(3), sos(), data(5), eoi(), soi(), com(3), eoi()}),
     jpeg({soi(), sos(), data(5), eoi(), soi(), com(3), eoi()})},
    {"ends_right_after_ff_da", jpeg({soi(), app(0xE0, 4), marker(0xDA)}),
     jpeg({soi(), marker(0xDA)})},
    {"empty_payload_segments", jpeg({soi(), app(0xE0, 0), dqt(0), sos()}),
     jpeg({soi(), dqt(0), sos()})},
    // APP14: only the colour-transform segment survives
    {"adobe_app14_kept", jpeg({soi(), app(0xE0, 4), adobe(7), sos(), data(2)}),
     jpeg({soi(), adobe(7), sos(), data(2)})},
    {"adobe_app14_bare_name_kept", jpeg({soi(), adobe(0), sos()}), jpeg({soi(), adobe(0), sos()})},
    {"other_app14_dropped", jpeg({soi(), seg(0xEE, to_bytes("Adobf12345")), sos()}),
     jpeg({soi(), sos()})},
    {"short_app14_dropped", jpeg({soi(), seg(0xEE, to_bytes("Adob")), sos()}),
     jpeg({soi(), sos()})},
    {"adobe_in_app13_dropped", jpeg({soi(), seg(0xED, to_bytes("Adobe_CM")), sos()}),
     jpeg({soi(), sos()})},
    // Codes without their 0xFF: the output runs ahead of the input, and must not read it back
    {"bare_soi_twice", Bytes{0xD8, 0xFF, 0xE1, 0x00, 0x04, 0xAA, 0xBB, 0xD8, 0xFF, 0xDA, 1, 2},
     Bytes{0xFF, 0xD8, 0xFF, 0xD8, 0xFF, 0xDA, 1, 2}},
    {"bare_soi_then_table", jpeg({Bytes{0xD8}, dqt(4), app(0xE1, 20), sos(), data(8)}),
     jpeg({soi(), dqt(4), sos(), data(8)})},
    {"bare_codes_inside_stream",
     jpeg({soi(), app(0xE0, 9), Bytes{0xD0, 0xD1, 0xDB, 0, 3, 7}, sos()}),
     jpeg({soi(), marker(0xD0), marker(0xD1), seg(0xDB, {7}), sos()})},
    // Stops: the caller keeps the file as read
    {"empty", Bytes{}, std::nullopt},
    {"fill_only", fill(6), std::nullopt},
    {"ends_after_soi", jpeg({fill(2), soi(), app(0xE0, 3)}), std::nullopt},
    {"ends_after_segment_code", jpeg({soi(), marker(0xDB)}), std::nullopt},
    {"ends_after_first_length_byte", jpeg({soi(), marker(0xDB), Bytes{0x00}}), std::nullopt},
    {"length_0", jpeg({soi(), marker(0xE0), Bytes{0, 0}, sos(), data(9)}), std::nullopt},
    {"length_1", jpeg({soi(), marker(0xDB), Bytes{0, 1}, sos(), data(9)}), std::nullopt},
    {"length_past_end", jpeg({soi(), marker(0xE1), Bytes{0, 5}, Bytes{1, 2}}), std::nullopt},
    {"no_sos_before_eoi", jpeg({soi(), app(0xE0, 10), dqt(4), eoi()}), std::nullopt},
    {"eoi_before_sos", jpeg({soi(), eoi(), sos(), data(4)}), std::nullopt},
    {"not_jpeg_text", to_bytes("Hello world"), std::nullopt},
    {"no_room_for_standalone_ff", Bytes{0xD8, 0xD8}, std::nullopt},
    {"no_room_for_standalone_code", Bytes{0xD8}, std::nullopt},
    {"no_room_for_sos_code", Bytes{0xDA}, std::nullopt},
    {"no_room_for_rest_after_sos", Bytes{0xD8, 0xFF, 0xDA, 0x11, 0x22}, std::nullopt},
    {"no_room_for_kept_segment", Bytes{0xD8, 0xDB, 0x00, 0x02, 0xFF, 0xDA}, std::nullopt},
    {"no_room_for_adobe", jpeg({Bytes{0xD8, 0xEE, 0, 7}, to_bytes("Adobe")}), std::nullopt},
};

class JpegWalk : public testing::TestWithParam<Case> {};

TEST_P(JpegWalk, FiltersOrStopsUnchanged) {
  const Case& c = GetParam();
  EXPECT_EQ(run_filter(c.in), c.out);
  EXPECT_EQ(reference_walk(c.in).out, c.out) << "the reference walk disagrees with the table";
}

INSTANTIATE_TEST_SUITE_P(Jpeg, JpegWalk, testing::ValuesIn(kCases),
                         [](const auto& p) { return std::string(p.param.name); });

// Streams spliced from fragments, with 0xFF prefixes sometimes missing, cut short or doubled.
Bytes random_stream(std::mt19937& rng) {
  const auto pick = [&](unsigned n) { return static_cast<unsigned>(rng() % n); };
  Bytes s;
  // Bare codes up front, before any 0xFF gives the output slack: the likeliest way to run ahead
  if (pick(3) == 0) s.assign(1 + pick(3), static_cast<unsigned char>(0xD0 + pick(9)));
  const unsigned parts = 1 + pick(9);
  for (unsigned i = 0; i < parts; ++i) {
    Bytes f;
    switch (pick(11)) {
      case 0:
        f = fill(1 + pick(3));
        break;
      case 1:
        f = marker(static_cast<unsigned char>(pick(3) == 0 ? 0x01 : 0xD0 + pick(9)));
        break;
      case 2:
      case 9:
      case 10:
        f = app(static_cast<unsigned char>(0xE0 + pick(31)), pick(30));
        break;
      case 3:
        f = app(static_cast<unsigned char>(pick(2) ? 0xDB : pick(0xD0)), pick(12));
        break;
      case 4:
        f = adobe(pick(4));
        break;
      case 5:
        f = jpeg({sos(), data(pick(20))});
        break;
      case 6:
        f = pattern(1 + pick(3), pick(256));
        break;  // stray bytes
      case 7:
        f = Bytes{0xFF, static_cast<unsigned char>(0xC0 + pick(64)), 0,
                  static_cast<unsigned char>(pick(4))};
        break;
      default:
        f = marker(0xDA);
        break;  // case 8
    }
    if (f.size() > 1 && f[0] == 0xFF && pick(2) == 0) f.erase(f.begin());    // a bare code
    if (pick(12) == 0) f.resize(pick(static_cast<unsigned>(f.size()) + 1));  // cut short
    s.insert(s.end(), f.begin(), f.end());
  }
  if (pick(2) == 0) s = jpeg({s, pick(2) ? sos() : Bytes{0xDA}, data(pick(9))});  // mostly a scan
  return s;
}

TEST(JpegProperty, MatchesReferenceWalkOnRandomStreams) {
  std::mt19937 rng(20240611);
  int completed = 0, ran_ahead = 0;
  for (int i = 0; i < 20000; ++i) {
    const Bytes in = random_stream(rng);
    const Reference ref = reference_walk(in);
    ASSERT_EQ(run_filter(in), ref.out) << "stream #" << i << ": " << testing::PrintToString(in);
    completed += ref.out.has_value();
    ran_ahead += ref.out.has_value() && ref.ran_ahead;
  }
  // The generator must keep reaching both the plain and the running-ahead compaction.
  EXPECT_GT(completed, 4000);
  EXPECT_GT(ran_ahead, 1000);
}

// ---- real files ----

const fs::path kCorpus = fs::path(SVELTERY_SOURCE_DIR) / "tests/corpus/jpeg";

Bytes read_file(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}

std::string sha256(const Bytes& b) {
  const fs::path tmp = fs::temp_directory_path() / ("jpeg_test_" + std::to_string(getpid()));
  std::ofstream(tmp, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  std::string digest(64, '\0');
  FILE* p = popen(("sha256sum '" + tmp.string() + "'").c_str(), "r");
  if (p == nullptr || std::fread(digest.data(), 1, digest.size(), p) != digest.size())
    digest.clear();
  if (p != nullptr) pclose(p);
  fs::remove(tmp);
  return digest;
}

TEST(JpegCorpus, GeneratedFilesMatchExpectedSizeAndDigest) {
  std::ifstream tsv(kCorpus / "generated/EXPECTED.tsv");
  std::string line;
  int rows = 0;
  while (std::getline(tsv, line)) {
    if (line.empty() || line[0] == '#' || line.rfind("file\t", 0) == 0) continue;
    std::istringstream fields(line);
    std::string name, digest;
    std::size_t in_size = 0, out_size = 0;
    fields >> name >> in_size >> out_size >> digest;
    SCOPED_TRACE(name);
    const Bytes in = read_file(kCorpus / "generated" / name);
    ASSERT_EQ(in.size(), in_size);
    const Bytes out = run_filter(in).value_or(in);  // a stopped walk writes the file as read
    EXPECT_EQ(out.size(), out_size);
    EXPECT_EQ(sha256(out), digest);
    ++rows;
  }
  EXPECT_GE(rows, 14);
}

TEST(JpegCorpus, RealFilesLoseExactlyTheirDroppedSegments) {
  int files = 0;
  for (const auto& e : fs::recursive_directory_iterator(kCorpus)) {
    const std::string ext = e.path().extension().string();
    if (!e.is_regular_file() || (ext != ".jpg" && ext != ".JPG" && ext != ".jpeg") ||
        e.path().parent_path().filename() == "generated")
      continue;
    SCOPED_TRACE(e.path().string());
    const Bytes in = read_file(e.path());
    const Reference ref = reference_walk(in);
    const std::optional<Bytes> out = run_filter(in);
    ASSERT_TRUE(out.has_value());
    EXPECT_EQ(out, ref.out);
    EXPECT_EQ(in.size() - out->size(), ref.dropped_segments);
    ++files;
  }
  EXPECT_EQ(files, 147);
}

}  // namespace
