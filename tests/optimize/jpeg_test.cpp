#include "optimize/jpeg.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <optional>
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
  // Sized once: growing a four-byte vector here trips a false -Warray-bounds in GCC 12 at -O3.
  Bytes b(len + 2);
  b[0] = 0xFF;
  b[1] = code;
  b[2] = static_cast<unsigned char>(len >> 8);
  b[3] = static_cast<unsigned char>(len);
  std::copy(payload.begin(), payload.end(), b.begin() + 4);
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

// EXIF: a TIFF header in either byte order and one IFD0 of (tag, type, count, value) entries.
struct Entry {
  unsigned tag, type, count, value;  // a SHORT value sits in the value field's first two bytes
};
struct Tiff {
  bool big_endian = true;
  std::vector<Entry> entries;
  std::size_t ifd_offset = 8;
  std::size_t extra = 0;  // bytes after IFD0, as the values a real IFD points to
};
void put_uint(Bytes& b, std::size_t v, std::size_t n, bool big) {
  for (std::size_t k = 0; k < n; ++k)
    b.push_back(static_cast<unsigned char>(v >> (8 * (big ? n - 1 - k : k))));
}
Bytes exif_payload(const Tiff& t) {
  Bytes b = to_bytes(std::string_view("Exif\0\0", 6));
  const std::size_t tiff = b.size();
  const Bytes order = t.big_endian ? Bytes{'M', 'M', 0, 42} : Bytes{'I', 'I', 42, 0};
  b.insert(b.end(), order.begin(), order.end());
  put_uint(b, t.ifd_offset, 4, t.big_endian);
  b.resize(std::max(b.size(), tiff + t.ifd_offset));
  put_uint(b, t.entries.size(), 2, t.big_endian);
  for (const Entry& e : t.entries) {
    put_uint(b, e.tag, 2, t.big_endian);
    put_uint(b, e.type, 2, t.big_endian);
    put_uint(b, e.count, 4, t.big_endian);
    if (e.type == 3) {
      put_uint(b, e.value, 2, t.big_endian);
      put_uint(b, 0, 2, t.big_endian);
    } else {
      put_uint(b, e.value, 4, t.big_endian);
    }
  }
  put_uint(b, 0, 4, t.big_endian);  // no IFD1
  const Bytes tail = pattern(t.extra, 0xE1);
  b.insert(b.end(), tail.begin(), tail.end());
  return b;
}
Entry orientation_entry(unsigned v) { return {0x0112, 3, 1, v}; }
Bytes exif(const Tiff& t) { return seg(0xE1, exif_payload(t)); }
// A camera-like IFD0: make, orientation among other tags, resolution, pointer to the EXIF IFD.
Bytes camera_exif(unsigned orientation, bool big_endian) {
  return exif({big_endian,
               {{0x010F, 2, 6, 0x80},
                orientation_entry(orientation),
                {0x011A, 5, 1, 0x90},
                {0x0128, 3, 1, 2},
                {0x8769, 4, 1, 0xA0}},
               8,
               120});
}
// What the filter writes in place of an EXIF segment that carries an orientation.
Bytes orientation(unsigned v) {
  return {0xFF, 0xE1, 0x00, 0x22, 'E',  'x',  'i',  'f',  0x00, 0x00,
          'M',  'M',  0x00, 0x2A, 0x00, 0x00, 0x00, 0x08, 0x00, 0x01,
          0x01, 0x12, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, static_cast<unsigned char>(v),
          0,    0,    0,    0,    0,    0};
}

// ICC: a profile of a 128-byte header ("acsp" at 36), a tag table and tag data, cut into APP2
// chunks. Tag offsets count from the header's first byte.
struct Tag {
  std::string signature;
  Bytes data;
};
Bytes be(std::size_t v, std::size_t n) {
  Bytes b;
  put_uint(b, v, n, true);
  return b;
}
Bytes desc_v2(std::string_view text) {  // ASCII count with the terminating zero, as profiles do
  Bytes d = jpeg({to_bytes("desc"), be(0, 4), be(text.size() + 1, 4), to_bytes(text), {0}});
  return jpeg({d, Bytes(79, 0)});  // the empty Unicode and ScriptCode parts
}
Bytes mluc(std::string_view text) {  // one en-US record
  Bytes utf16;
  for (const char c : text) utf16.insert(utf16.end(), {0, static_cast<unsigned char>(c)});
  return jpeg({to_bytes("mluc"), be(0, 4), be(1, 4), be(12, 4), to_bytes("enUS"),
               be(utf16.size(), 4), be(28, 4), utf16});
}
Bytes profile(const std::vector<Tag>& tags, std::size_t tag_count_field = SIZE_MAX) {
  Bytes header(128, 0);
  std::copy_n("acsp", 4, header.begin() + 36);
  Bytes table = be(tag_count_field == SIZE_MAX ? tags.size() : tag_count_field, 4);
  Bytes data;
  std::size_t offset = 128 + 4 + 12 * tags.size();
  for (const Tag& t : tags) {
    table = jpeg({table, to_bytes(t.signature), be(offset + data.size(), 4), be(t.data.size(), 4)});
    data = jpeg({data, t.data});
  }
  Bytes p = jpeg({header, table, data});
  const Bytes size = be(p.size(), 4);
  std::copy(size.begin(), size.end(), p.begin());
  return p;
}
Bytes icc_chunk(unsigned char sequence, unsigned char count, const Bytes& part) {
  return seg(0xE2,
             jpeg({to_bytes(std::string_view("ICC_PROFILE\0", 12)), {sequence, count}, part}));
}
// The profile as APP2 chunks of at most `chunk` profile bytes each.
std::vector<Bytes> icc_chunks(const Bytes& p, std::size_t chunk = 65519) {
  std::vector<Bytes> out;
  const std::size_t count = (p.size() + chunk - 1) / chunk;
  for (std::size_t i = 0; i < count; ++i) {
    const auto from = p.begin() + static_cast<std::ptrdiff_t>(i * chunk);
    const auto to = p.begin() + static_cast<std::ptrdiff_t>(std::min(p.size(), (i + 1) * chunk));
    out.push_back(icc_chunk(static_cast<unsigned char>(i + 1), static_cast<unsigned char>(count),
                            Bytes(from, to)));
  }
  return out;
}
Bytes icc(const Bytes& p) { return icc_chunks(p).at(0); }  // a one-chunk profile
Bytes described(const Bytes& desc) {  // a profile whose description tag holds `desc`
  return profile({{"cprt", desc_v2("none")}, {"desc", desc}, {"wtpt", Bytes(20, 1)}});
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
}

INSTANTIATE_TEST_SUITE_P(Jpeg, JpegWalk, testing::ValuesIn(kCases),
                         [](const auto& p) { return std::string(p.param.name); });

// What stays of the metadata: an EXIF orientation (rewritten), a wide-gamut colour profile; and
// nothing is filtered in a stream that does not open as a JPEG.
const Bytes kP3 = profile({{"desc", mluc("Display P3")}, {"wtpt", Bytes(20, 1)}});
const Bytes kAdobe = described(desc_v2("Adobe RGB (1998)"));
const Bytes kSrgb = described(desc_v2("sRGB IEC61966-2.1"));
const Bytes kEmptyDesc = jpeg({to_bytes("desc"), be(0, 4), be(0, 4)});
const Bytes kBigP3 = profile({{"desc", mluc("Display P3")}, {"A2B0", pattern(150000, 3)}});
Bytes head() { return jpeg({soi(), app(0xE0, 14)}); }  // SOI and a JFIF-like APP0
Bytes body() { return jpeg({dqt(64), sof(15), dht(28), sos(), data(20)}); }
Bytes lean() { return jpeg({soi(), body()}); }
Bytes with(const Bytes& middle) { return jpeg({soi(), middle, body()}); }
Bytes changed(Bytes b, std::size_t at, unsigned char v) {
  b.at(at) = v;
  return b;
}
Bytes cut(const Bytes& b, std::size_t n) {
  return Bytes(b.begin(), b.end() - static_cast<std::ptrdiff_t>(n));
}
Bytes chunks(const Bytes& p, std::size_t chunk) {
  Bytes b;
  for (const Bytes& c : icc_chunks(p, chunk)) b = jpeg({b, c});
  return b;
}

const Case kKeptMetadataCases[] = {
    // EXIF orientation: rewritten where the EXIF segment was
    {"orientation_6_big_endian", jpeg({head(), camera_exif(6, true), com(9), body()}),
     with(orientation(6))},
    {"orientation_6_little_endian", jpeg({head(), camera_exif(6, false), body()}),
     with(orientation(6))},
    {"orientation_2_lowest_turn", jpeg({head(), camera_exif(2, false), body()}),
     with(orientation(2))},
    {"orientation_8_highest_turn", jpeg({head(), camera_exif(8, true), body()}),
     with(orientation(8))},
    {"orientation_1_upright_dropped", jpeg({head(), camera_exif(1, true), body()}), lean()},
    {"orientation_0_dropped", jpeg({head(), camera_exif(0, false), body()}), lean()},
    {"orientation_9_dropped", jpeg({head(), camera_exif(9, true), body()}), lean()},
    {"orientation_as_long_dropped", jpeg({head(), exif({true, {{0x0112, 4, 1, 6}}}), body()}),
     lean()},
    {"orientation_count_2_dropped", jpeg({head(), exif({false, {{0x0112, 3, 2, 6}}}), body()}),
     lean()},
    {"orientation_first_qualifying_entry",
     jpeg({head(),
           exif({true,
                 {{0x0112, 4, 1, 3},
                  orientation_entry(1),
                  orientation_entry(7),
                  orientation_entry(5)}}),
           body()}),
     with(orientation(7))},
    {"minimal_exif_in_place", jpeg({soi(), orientation(4), body()}), with(orientation(4))},
    {"exif_in_app0_dropped",
     jpeg({soi(), seg(0xE0, exif_payload({true, {orientation_entry(6)}})), body()}), lean()},
    {"exif_name_wrong_dropped",
     jpeg({soi(), seg(0xE1, changed(exif_payload({true, {orientation_entry(6)}}), 5, 1)), body()}),
     lean()},
    {"tiff_header_wrong_dropped",
     jpeg(
         {soi(), seg(0xE1, changed(exif_payload({true, {orientation_entry(6)}}), 9, '+')), body()}),
     lean()},
    {"ifd0_offset_below_8_dropped", jpeg({soi(), exif({true, {orientation_entry(6)}, 4}), body()}),
     lean()},
    {"ifd0_past_end_dropped",
     jpeg({soi(),
           seg(0xE1, jpeg({to_bytes(std::string_view("Exif\0\0II*\0", 10)),
                           {0x40, 0, 0, 0},
                           Bytes(40, 0)})),
           body()}),
     lean()},
    {"ifd0_offset_huge_dropped",
     jpeg({soi(),
           seg(0xE1, jpeg({to_bytes(std::string_view("Exif\0\0MM\0*", 10)), be(0xFFFFFFFF, 4),
                           Bytes(30, 0)})),
           body()}),
     lean()},
    {"ifd0_entry_count_lies_dropped",  // two entries declared, one there
     jpeg({soi(), seg(0xE1, changed(exif_payload({true, {orientation_entry(6)}, 8, 10}), 15, 2)),
           body()}),
     lean()},
    {"ifd0_without_next_offset_dropped",
     jpeg({soi(), seg(0xE1, cut(exif_payload({false, {orientation_entry(6)}}), 1)), body()}),
     lean()},
    {"second_exif_gives_orientation",
     jpeg({head(), exif({true, {{0x010F, 2, 4, 0x41424300}}}), com(4), camera_exif(5, false),
           body()}),
     with(orientation(5))},
    {"only_first_orientation_kept",
     jpeg({head(), camera_exif(3, true), com(4), camera_exif(6, false), body()}),
     with(orientation(3))},
    {"orientation_when_output_ran_ahead",
     jpeg({Bytes{0xD8}, orientation(6), com(10), sos(), data(5)}),
     jpeg({soi(), orientation(6), sos(), data(5)})},
    {"no_room_for_orientation", jpeg({Bytes{0xD8}, orientation(6)}), std::nullopt},
    // ICC colour profile: the first chunk decides for all of them
    {"display_p3_v4_kept", jpeg({head(), icc(kP3), body()}), with(icc(kP3))},
    {"adobe_rgb_v2_kept", jpeg({head(), icc(kAdobe), app(0xED, 30), body()}), with(icc(kAdobe))},
    {"srgb_v2_dropped", jpeg({head(), icc(kSrgb), body()}), lean()},
    {"srgb_v4_dropped", jpeg({head(), icc(profile({{"desc", mluc("sRGB built-in")}})), body()}),
     lean()},
    {"srgb_prefix_only_counts", jpeg({head(), icc(described(desc_v2("sRG"))), body()}),
     with(icc(described(desc_v2("sRG"))))},
    {"empty_description_kept", jpeg({head(), icc(described(kEmptyDesc)), body()}),
     with(icc(described(kEmptyDesc)))},
    {"multi_chunk_profile_kept_whole",
     jpeg({head(), icc_chunks(kBigP3).at(0), icc_chunks(kBigP3).at(1), com(3),
           icc_chunks(kBigP3).at(2), body()}),
     with(jpeg({icc_chunks(kBigP3).at(0), icc_chunks(kBigP3).at(1), icc_chunks(kBigP3).at(2)}))},
    {"multi_chunk_srgb_dropped_whole", jpeg({head(), chunks(kSrgb, 380), body()}), lean()},
    {"description_in_second_chunk_dropped", jpeg({head(), chunks(kAdobe, 150), body()}), lean()},
    {"first_chunk_out_of_sequence_dropped",
     jpeg({head(), icc_chunk(2, 2, Bytes(kAdobe.begin() + 200, kAdobe.end())),
           icc_chunk(1, 2, Bytes(kAdobe.begin(), kAdobe.begin() + 200)), body()}),
     lean()},
    {"later_chunk_not_checked", jpeg({head(), icc(kP3), icc_chunk(9, 0, to_bytes("junk")), body()}),
     with(jpeg({icc(kP3), icc_chunk(9, 0, to_bytes("junk"))}))},
    {"icc_name_only_dropped",
     jpeg({head(), seg(0xE2, to_bytes(std::string_view("ICC_PROFILE\0", 12))), body()}), lean()},
    {"header_without_acsp_dropped", jpeg({head(), icc(changed(kP3, 36, 'b')), body()}), lean()},
    {"header_too_short_dropped", jpeg({head(), icc(Bytes(kP3.begin(), kP3.begin() + 131)), body()}),
     lean()},
    {"tag_table_past_chunk_dropped",
     jpeg({head(), icc(profile({{"desc", mluc("P3")}}, 40)), body()}), lean()},
    {"tag_count_huge_dropped",
     jpeg({head(), icc(profile({{"desc", mluc("P3")}}, 0xFFFFFFFF)), body()}), lean()},
    {"no_desc_tag_dropped", jpeg({head(), icc(profile({{"dscm", mluc("P3")}})), body()}), lean()},
    {"desc_of_text_type_dropped",
     jpeg({head(), icc(profile({{"desc", jpeg({to_bytes("text"), be(0, 4), to_bytes("P3")})}})),
           body()}),
     lean()},
    {"first_desc_entry_decides",
     jpeg({head(), icc(profile({{"desc", desc_v2("sRGB")}, {"desc", desc_v2("P3")}})), body()}),
     lean()},
    // (the description is the second entry of the tag table, at 144)
    {"desc_offset_past_end_dropped", jpeg({head(), icc(changed(kAdobe, 148, 0xFF)), body()}),
     lean()},
    {"desc_size_past_end_dropped", jpeg({head(), icc(changed(kAdobe, 152, 0x7F)), body()}), lean()},
    {"ascii_count_past_tag_dropped",
     jpeg({head(),
           icc(described(jpeg({to_bytes("desc"), be(0, 4), be(9, 4), to_bytes("P3 wide")}))),
           body()}),
     lean()},
    {"desc_tag_cut_before_count_dropped",
     jpeg({head(), icc(described(jpeg({to_bytes("desc"), be(0, 4), be(0, 3)}))), body()}), lean()},
    {"mluc_without_records_dropped",
     jpeg({head(), icc(profile({{"desc", changed(mluc("P3"), 11, 0)}})), body()}), lean()},
    {"mluc_text_past_tag_dropped",
     jpeg({head(), icc(profile({{"desc", changed(mluc("P3"), 27, 30)}})), body()}), lean()},
    {"mluc_record_cut_dropped",
     jpeg({head(), icc(profile({{"desc", cut(mluc("P3"), 5)}})), body()}), lean()},
    {"no_room_for_profile", jpeg({Bytes{0xD8}, icc(kP3)}), std::nullopt},
    // Everything together: the colour transform, profile and orientation stay in their order
    {"all_kept_together",
     jpeg({head(), camera_exif(6, true), icc(kAdobe), app(0xE1, 200), adobe(7), com(20), body()}),
     with(jpeg({orientation(6), icc(kAdobe), adobe(7)}))},
    // Only JPEGs: the first code after any 0xFF must be SOI
    {"png_signature", jpeg({to_bytes("\x89PNG\r\n\x1a\n"), pattern(40, 5)}), std::nullopt},
    {"table_first", Bytes{0xDB, 0x00, 0x03, 0x07, 0xFF, 0xE1, 0x00, 0x04, 1, 2, 0xFF, 0xDA, 9, 9},
     std::nullopt},
    {"fill_then_app0_first", jpeg({fill(2), app(0xE0, 4), soi(), sos(), data(3)}), std::nullopt},
    {"restart_first", jpeg({marker(0xD0), soi(), app(0xE0, 4), sos()}), std::nullopt},
    {"bare_soi_first", jpeg({Bytes{0xD8}, app(0xE0, 4), sos(), data(2)}),
     jpeg({soi(), sos(), data(2)})},
};

INSTANTIATE_TEST_SUITE_P(KeptMetadata, JpegWalk, testing::ValuesIn(kKeptMetadataCases),
                         [](const auto& p) { return std::string(p.param.name); });

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

}  // namespace
