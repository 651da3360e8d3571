// Every real JPEG of the test corpus through the program: the output must decode to exactly the
// input's pixels and be shorter by exactly the metadata in front of the first scan.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

const std::string kCorpus = SVELTERY_SOURCE_DIR "/tests/corpus";

// Bytes a segment stripper drops in front of the first scan: fill bytes, APPn (but an Adobe
// APP14), JPGn and COM, and where the first scan's marker starts. None when the stream cannot be
// followed to its first scan. No corpus file carries an EXIF orientation or a profile other than
// sRGB, so for all of them this is exactly what the filter drops (the display test covers those).
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

// --safe on top: every image comes out no longer than the filter alone makes it, and a re-encoded
// one decodes to the pixels of the filter's output (which the test above holds to the input's).
TEST(JpegCorpus, SafeNeverLongerThanTheFilterSamePixels) {
  TempDir dir;
  ASSERT_EQ(run_sveltery(dir.path(), {"-r", "-j", "-o", "out", kCorpus + "/jpeg"}).status, 1);
  ASSERT_EQ(
      run_sveltery(dir.path(), {"--safe", "-r", "-j", "-o", "safe", kCorpus + "/jpeg"}).status, 1);
  std::size_t recoded = 0;
  for (const auto& entry : fs::recursive_directory_iterator(kCorpus + "/jpeg")) {
    if (!entry.is_regular_file() || entry.path().extension() != ".jpg") continue;
    const std::string relative = fs::relative(entry.path(), kCorpus).string();
    SCOPED_TRACE(relative);
    const std::string filtered_path = dir / ("out/" + relative);
    const std::string filtered = read_file(filtered_path);
    const std::string safe_path = dir / ("safe/" + relative);
    const std::string safe = read_file(safe_path);
    EXPECT_LE(safe.size(), filtered.size());
    if (safe == filtered) continue;
    ++recoded;
    const Decoded before = decode(filtered_path);
    const Decoded after = decode(safe_path);
    EXPECT_EQ(before.status, 0) << "re-encoded an image that does not decode";
    EXPECT_EQ(after.status, 0);
    EXPECT_TRUE(after.pixels == before.pixels) << "decoded pixels differ";
  }
  EXPECT_GE(recoded, 100u);
}

// Other images saved under a .jpg name. Each carries, where a walk that takes any byte for a
// marker would look next after its first "segment", a dropped segment and a start of scan: a
// filter that walked it would complete and cut bytes out.
std::string u32be(std::uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
          static_cast<char>(v)};
}
std::string u32le(std::uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
          static_cast<char>(v >> 24)};
}
// The marker walk's next look after a first code at offset 0: past the length its next two
// bytes give.
std::size_t second_marker(const std::string& file) {
  return 1 + static_cast<unsigned char>(file[1]) * 256u + static_cast<unsigned char>(file[2]);
}
const std::string kTrigger = std::string("\xE1\x00\x10", 3) + std::string(14, 'x') + "\xDA";

std::uint32_t crc32(std::string_view bytes) {
  std::uint32_t c = 0xFFFFFFFF;
  for (const char b : bytes) {
    c ^= static_cast<unsigned char>(b);
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
  }
  return ~c;
}
std::string png_chunk(const std::string& type, const std::string& data) {
  return u32be(static_cast<std::uint32_t>(data.size())) + type + data + u32be(crc32(type + data));
}
std::string png() {  // 1x1 grey, with a private ancillary chunk of padding
  const std::string ihdr = u32be(1) + u32be(1) + std::string("\x08\x00\x00\x00\x00", 5);
  const std::string pixels =
      std::string("\x78\x01\x01\x02\x00\xFD\xFF\x00\x80", 9) + u32be(0x00810081);
  const std::string head = std::string("\x89PNG\r\n\x1A\n", 8) + png_chunk("IHDR", ihdr);
  std::string padding(21000, 'p');
  const std::size_t at = second_marker(head) - head.size() - 8;  // the chunk's data follows 8 bytes
  padding.replace(at, kTrigger.size(), kTrigger);
  return head + png_chunk("prIv", padding) + png_chunk("IDAT", pixels) + png_chunk("IEND", "");
}
std::string gif() {  // 1x1, two colours, with a comment of padding in 255-byte sub-blocks
  const std::string head = std::string("GIF89a\x01\x00\x01\x00\x80\x00\x00", 13) +
                           std::string("\x00\x00\x00\xFF\xFF\xFF", 6) + "\x21\xFE";
  std::string comment(19000, 'c');
  std::size_t at = second_marker(head) - head.size();
  at -= 1 + at / 256;  // the sub-blocks' length bytes
  comment.replace(at, kTrigger.size(), kTrigger);
  std::string blocks;
  for (std::size_t i = 0; i < comment.size(); i += 255)
    blocks +=
        static_cast<char>(std::min<std::size_t>(255, comment.size() - i)) + comment.substr(i, 255);
  return head + blocks +
         std::string("\x00\x2C\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00\x3B", 17);
}
std::string webp() {  // 1x1 lossless, then an unknown chunk of padding
  const std::string vp8l("\x2F\x00\x00\x00\x10\x07\x10\x11\x11\x88\x88\xFE\x07\x00", 14);
  const std::string head = std::string("RIFF") + u32le(0) + "WEBPVP8L" + u32le(14) + vp8l;
  std::string padding(19000, 'w');
  const std::size_t at = second_marker(head) - head.size() - 8;
  padding.replace(at, kTrigger.size(), kTrigger);
  std::string file = head + "XTRA" + u32le(static_cast<std::uint32_t>(padding.size())) + padding;
  return file.replace(4, 4, u32le(static_cast<std::uint32_t>(file.size() - 8)));
}

TEST(JpegOnly, OtherImagesNamedJpgComeOutUnchanged) {
  TempDir dir;
  const std::vector<std::pair<std::string, std::string>> files = {
      {"picture.jpg", png()}, {"animation.jpg", gif()}, {"photo.jpeg", webp()}};
  for (const auto& [name, bytes] : files) {
    ASSERT_EQ(bytes.compare(second_marker(bytes), kTrigger.size(), kTrigger), 0) << name;
    write_file(dir / ("in/" + name), bytes);
  }
  const RunResult r = run_sveltery(dir.path(), {"-r", "-j", "-o", "out", "in"});
  ASSERT_EQ(r.status, 1);
  for (const auto& [name, bytes] : files)
    EXPECT_TRUE(read_file(dir / ("out/in/" + name)) == bytes) << name << " was changed";
}

}  // namespace
