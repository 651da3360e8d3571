// Every real JPEG of the test corpus through the program: the output must decode to exactly the
// input's pixels and be shorter by exactly the metadata in front of the first scan.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

const std::string kCorpus = SVELTERY_SOURCE_DIR "/tests/corpus";

// Bytes a segment stripper drops in front of the first scan: fill bytes, APPn (but an Adobe
// APP14), JPGn and COM, and where the first scan's marker starts. None when the stream cannot be
// followed to its first scan.
struct Layout {
  std::size_t dropped;
  std::size_t scan;
};

std::optional<Layout> droppable_bytes(const std::string& s) {
  std::size_t i = 0, dropped = 0;
  while (i < s.size()) {
    if (static_cast<unsigned char>(s[i]) != 0xFF) return std::nullopt;  // not a marker: bail
    std::size_t fill = 0;
    while (i < s.size() && static_cast<unsigned char>(s[i]) == 0xFF) ++i, ++fill;
    if (i == s.size()) return std::nullopt;
    dropped += fill - 1;
    const auto code = static_cast<unsigned char>(s[i++]);
    if (code == 0xDA) return Layout{dropped, i - 2};
    if ((code >= 0xD0 && code <= 0xD9) || code == 0x01) {
      if (code == 0xD9) return std::nullopt;  // end of image before any scan
      continue;
    }
    if (s.size() - i < 2) return std::nullopt;
    const std::size_t length =
        static_cast<unsigned char>(s[i]) * 256u + static_cast<unsigned char>(s[i + 1]);
    if (length < 2 || length - 2 > s.size() - i - 2) return std::nullopt;
    const bool adobe = code == 0xEE && s.compare(i + 2, 5, "Adobe") == 0 && length >= 7;
    if (code >= 0xE0 && !adobe) dropped += 2 + length;
    i += length;
  }
  return std::nullopt;
}

struct Decoded {
  std::string pixels;
  int status;
};

Decoded decode(const std::string& path) {
  const std::string command = "djpeg " + shell_quote(path) + " 2>/dev/null";
  Decoded d{{}, -1};
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return d;
  char buffer[65536];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    d.pixels.append(buffer, got);
  d.status = ::pclose(pipe);
  return d;
}

TEST(JpegCorpus, SamePixelsAndExactlyTheMetadataDropped) {
  ASSERT_EQ(std::system("command -v djpeg >/dev/null"), 0)
      << "djpeg is needed (Debian package libjpeg-turbo-progs; scripts/test installs it)";
  TempDir dir;
  const RunResult r = run_sveltery(dir.path(), {"-r", "-j", "-f", "-o", "out", kCorpus + "/jpeg"});
  ASSERT_EQ(r.status, 1);

  std::size_t files = 0, decodable = 0, shrunk = 0;
  for (const auto& entry : fs::recursive_directory_iterator(kCorpus + "/jpeg")) {
    if (!entry.is_regular_file() || entry.path().extension() != ".jpg") continue;
    ++files;
    const std::string in_path = entry.path().string();
    const std::string out_path =
        dir / ("out/jpeg/" + fs::relative(entry.path(), kCorpus + "/jpeg").string());
    SCOPED_TRACE(in_path);
    const std::string in = read_file(in_path);
    const std::string out = read_file(out_path);
    const std::optional<Layout> layout = droppable_bytes(in);
    if (layout) {
      ASSERT_EQ(out.size(), in.size() - layout->dropped);
      // From the first scan on, every byte is the input's.
      const std::size_t tail = in.size() - layout->scan;
      EXPECT_TRUE(out.compare(out.size() - tail, tail, in, layout->scan, tail) == 0);
      if (layout->dropped > 0) ++shrunk;
    } else {
      EXPECT_EQ(out, in) << "a stream that cannot be followed is written unchanged";
    }
    const Decoded before = decode(in_path);
    const Decoded after = decode(out_path);
    if (before.status != 0) continue;  // not an image the decoder reads: no pixels to keep
    ++decodable;
    EXPECT_EQ(after.status, 0);
    EXPECT_TRUE(after.pixels == before.pixels) << "decoded pixels differ";
  }
  EXPECT_GE(files, 150u);
  EXPECT_GE(decodable, 140u);
  EXPECT_GE(shrunk, 100u);
}

TEST(JpegCorpus, GeneratedFilesHaveTheExpectedSizes) {
  TempDir dir;
  const std::string generated = kCorpus + "/jpeg/generated";
  const RunResult r = run_sveltery(dir.path(), {"-r", "-j", "-o", "out", generated});
  ASSERT_EQ(r.status, 1);
  std::ifstream table(generated + "/EXPECTED.tsv");
  std::string line;
  std::size_t checked = 0;
  while (std::getline(table, line)) {
    if (line.empty() || line[0] == '#' || line.rfind("file\t", 0) == 0) continue;
    std::istringstream fields(line);
    std::string name;
    std::size_t input_bytes = 0, expected_bytes = 0;
    fields >> name >> input_bytes >> expected_bytes;
    SCOPED_TRACE(name);
    EXPECT_EQ(read_file(generated + "/" + name).size(), input_bytes);
    EXPECT_EQ(read_file(dir / ("out/generated/" + name)).size(), expected_bytes);
    ++checked;
  }
  EXPECT_GE(checked, 10u);
}

}  // namespace
