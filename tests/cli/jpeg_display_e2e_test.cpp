// What a browser shows: photos that carry an EXIF orientation or a wide-gamut colour profile are
// put through the program, and headless Chromium's screenshot of a page showing the output must
// be the same as that of a page showing the input, whether only the segments were filtered or the
// image was re-encoded too (--safe). The same screenshot of the photo with all its metadata
// dropped (what the filter once wrote) must differ, or the comparison proves nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace {

const std::string kCorpus = SVELTERY_SOURCE_DIR "/tests/corpus/jpeg/hugin-data/help_en_EN/";
// A wide, asymmetric picture, so that every turn and mirror shows; and a colourful photo. Both
// carry standard Huffman tables, so that --safe re-encodes them.
const std::string kWide = kCorpus + "250px-Cylindrical.JPG";
const std::string kColourful = kCorpus + "600px-Tuebingen_Neckarfront_small15_2006-06-11.jpg";

std::string be(std::uint64_t v, int n) {
  std::string b;
  for (int k = n - 1; k >= 0; --k) b += static_cast<char>(v >> (8 * k));
  return b;
}
std::string le(std::uint64_t v, int n) {
  std::string b;
  for (int k = 0; k < n; ++k) b += static_cast<char>(v >> (8 * k));
  return b;
}
std::string segment(unsigned char code, const std::string& payload) {
  return std::string{'\xFF', static_cast<char>(code)} + be(payload.size() + 2, 2) + payload;
}
// A photo with `inserted` segments right after its SOI.
std::string photo_with(const std::string& path, const std::string& inserted) {
  const std::string jpeg = read_file(path);
  return jpeg.substr(0, 2) + inserted + jpeg.substr(2);
}

// A little-endian EXIF block as cameras write it: make, orientation, resolution, then the values.
std::string camera_exif(unsigned orientation) {
  std::string ifd = le(4, 2);
  ifd += le(0x010F, 2) + le(2, 2) + le(8, 4) + le(62, 4);           // make, at 62
  ifd += le(0x0112, 2) + le(3, 2) + le(1, 4) + le(orientation, 4);  // orientation
  ifd += le(0x011A, 2) + le(5, 2) + le(1, 4) + le(70, 4);           // x resolution, at 70
  ifd += le(0x0128, 2) + le(3, 2) + le(1, 4) + le(2, 4);            // inches
  ifd += le(0, 4);
  const std::string tiff =
      "II*" + std::string(1, '\0') + le(8, 4) + ifd + "Camera\0\0" + le(72, 4) + le(1, 4);
  return segment(0xE1, std::string("Exif\0\0", 6) + tiff);
}

// A matrix/TRC display profile (ICC v2 or v4) with the given D50 primaries.
std::string s15(double v) { return be(static_cast<std::uint32_t>(std::lround(v * 65536)), 4); }
std::string xyz(double x, double y, double z) {
  return "XYZ " + be(0, 4) + s15(x) + s15(y) + s15(z);
}
std::string icc_profile(std::uint32_t version, const std::string& desc, const double (&rgb)[3][3],
                        const std::string& trc) {
  const std::vector<std::pair<std::string, std::string>> tags = {
      {"desc", desc},
      {"wtpt", xyz(0.9642, 1.0, 0.8249)},
      {"rXYZ", xyz(rgb[0][0], rgb[0][1], rgb[0][2])},
      {"gXYZ", xyz(rgb[1][0], rgb[1][1], rgb[1][2])},
      {"bXYZ", xyz(rgb[2][0], rgb[2][1], rgb[2][2])},
      {"rTRC", trc},
      {"gTRC", trc},
      {"bTRC", trc}};
  std::string table = be(tags.size(), 4), data;
  const std::size_t first = 128 + 4 + 12 * tags.size();
  for (auto [signature, bytes] : tags) {
    bytes.resize((bytes.size() + 3) / 4 * 4, '\0');
    table += signature + be(first + data.size(), 4) + be(bytes.size(), 4);
    data += bytes;
  }
  std::string header = be(first + data.size(), 4) + be(0, 4) + be(version, 4) + "mntrRGB XYZ " +
                       std::string(12, '\0') + "acsp" + std::string(24, '\0') + be(0, 4) +
                       s15(0.9642) + s15(1.0) + s15(0.8249);
  header.resize(128, '\0');
  return header + table + data;
}
std::string icc_segment(const std::string& profile) {
  return segment(0xE2, std::string("ICC_PROFILE\0\1\1", 14) + profile);
}
std::string display_p3() {  // v4: the description as a UTF-16BE record, the sRGB curve
  std::string text;
  for (const char c : std::string_view("Display P3")) text += std::string(1, '\0') + c;
  const std::string mluc =
      "mluc" + be(0, 4) + be(1, 4) + be(12, 4) + "enUS" + be(text.size(), 4) + be(28, 4) + text;
  const std::string curve = "para" + be(0, 4) + be(3, 2) + be(0, 2) + s15(2.4) + s15(1 / 1.055) +
                            s15(0.055 / 1.055) + s15(1 / 12.92) + s15(0.04045);
  const double primaries[3][3] = {
      {0.5151, 0.2412, -0.0011}, {0.2920, 0.6922, 0.0419}, {0.1571, 0.0666, 0.7841}};
  return icc_profile(0x04300000, mluc, primaries, curve);
}
std::string adobe_rgb() {  // v2: the description as ASCII, gamma 563/256
  const std::string text = std::string("Adobe RGB (1998)") + '\0';
  const std::string desc = "desc" + be(0, 4) + be(text.size(), 4) + text + std::string(79, '\0');
  const std::string curve = "curv" + be(0, 4) + be(1, 4) + be(0x0233, 2);
  const double primaries[3][3] = {
      {0.6097, 0.3111, 0.0195}, {0.2053, 0.6257, 0.0609}, {0.1492, 0.0632, 0.7446}};
  return icc_profile(0x02100000, desc, primaries, curve);
}

// The stream with every APPn segment in front of the first scan removed.
std::string without_metadata(const std::string& jpeg) {
  std::string out = jpeg.substr(0, 2);
  std::size_t i = 2;
  while (i + 4 <= jpeg.size() && static_cast<unsigned char>(jpeg[i + 1]) != 0xDA) {
    const std::size_t length =
        static_cast<unsigned char>(jpeg[i + 2]) * 256u + static_cast<unsigned char>(jpeg[i + 3]);
    const auto code = static_cast<unsigned char>(jpeg[i + 1]);
    if (code < 0xE0 || code > 0xEF) out += jpeg.substr(i, length + 2);
    i += length + 2;
  }
  return out + jpeg.substr(i);
}

// Headless Chromium's screenshot (PNG bytes) of a page that shows `images`, each unsized (so that
// an orientation also turns its layout box) in a cell of its own.
std::string screenshot(const TempDir& dir, const std::string& name,
                       const std::vector<std::string>& images) {
  constexpr int kCell = 320, kColumns = 3;
  std::string html = "<!DOCTYPE html><html><body style=\"margin:0;background:#fff\">";
  for (std::size_t i = 0; i < images.size(); ++i)
    html += "<div style=\"position:absolute;overflow:hidden;width:" + std::to_string(kCell) +
            "px;height:" + std::to_string(kCell) +
            "px;left:" + std::to_string(i % kColumns * kCell) +
            "px;top:" + std::to_string(i / kColumns * kCell) + "px\"><img src=\"" + images[i] +
            "\"></div>";
  const std::string page = dir / (name + ".html");
  write_file(page, html + "</body></html>");
  const std::string shot = dir / (name + ".png");
  const std::string profile = dir / "browser-profile";
  std::filesystem::remove_all(profile);
  const std::size_t rows = (images.size() + kColumns - 1) / kColumns;
  const std::string command =
      "chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run"
      " --disable-background-networking --disable-component-update --disable-sync"
      " --force-color-profile=srgb --hide-scrollbars --window-size=" +
      std::to_string(kColumns * kCell) + "," + std::to_string(rows * kCell) +
      " --user-data-dir=" + shell_quote(profile) + " --screenshot=" + shell_quote(shot) + " " +
      shell_quote("file://" + page) + " >/dev/null 2>&1 </dev/null";
  if (std::system(command.c_str()) != 0) return {};
  return read_file(shot);
}

struct Photo {
  std::string name;
  std::string bytes;
};

TEST(JpegDisplay, OrientationAndColourProfileLookTheSameAfterFilteringAndRecoding) {
  ASSERT_EQ(std::system("command -v chromium >/dev/null"), 0)
      << "chromium is needed (Debian package chromium; scripts/test installs it)";
  TempDir dir;
  std::vector<Photo> photos;
  const std::string filler = segment(0xFE, "made for a display test") +
                             segment(0xE1, "http://ns.adobe.com/xap/1.0/" + std::string(1, '\0'));
  for (unsigned v = 2; v <= 8; ++v)
    photos.push_back(
        {"orientation-" + std::to_string(v) + ".jpg", photo_with(kWide, camera_exif(v) + filler)});
  photos.push_back({"display-p3.jpg", photo_with(kColourful, icc_segment(display_p3()) + filler)});
  photos.push_back({"adobe-rgb.jpg", photo_with(kColourful, icc_segment(adobe_rgb()) + filler)});
  for (const Photo& p : photos) write_file(dir / ("in/" + p.name), p.bytes);

  ASSERT_EQ(run_sveltery(dir.path(), {"-r", "-j", "-o", "out", "in"}).status, 1);
  ASSERT_EQ(run_sveltery(dir.path(), {"--safe", "-r", "-j", "-o", "safe", "in"}).status, 1);

  // One browser run per page: all inputs, all outputs, and for each photo the inputs with that
  // one photo's metadata dropped.
  std::vector<std::string> inputs, outputs, recoded;
  for (const Photo& p : photos) {
    const std::string output = read_file(dir / ("out/in/" + p.name));
    EXPECT_LT(output.size(), p.bytes.size()) << p.name << ": the filter dropped nothing";
    EXPECT_LT(read_file(dir / ("safe/in/" + p.name)).size(), output.size())
        << p.name << ": --safe did not re-encode it";
    write_file(dir / ("bare-" + p.name), without_metadata(p.bytes));
    inputs.push_back("in/" + p.name);
    outputs.push_back("out/in/" + p.name);
    recoded.push_back("safe/in/" + p.name);
  }
  const std::string shown = screenshot(dir, "inputs", inputs);
  ASSERT_FALSE(shown.empty()) << "chromium took no screenshot";
  EXPECT_EQ(screenshot(dir, "inputs-again", inputs), shown) << "screenshots are not repeatable";
  EXPECT_EQ(screenshot(dir, "outputs", outputs), shown) << "the outputs look different";
  EXPECT_EQ(screenshot(dir, "recoded", recoded), shown) << "the --safe outputs look different";
  for (std::size_t i = 0; i < photos.size(); ++i) {
    std::vector<std::string> old = inputs;
    old[i] = "bare-" + photos[i].name;
    EXPECT_NE(screenshot(dir, "bare-" + std::to_string(i), old), shown)
        << photos[i].name << ": dropping its metadata changes nothing, so the test shows nothing";
  }
}

}  // namespace
