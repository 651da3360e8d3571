// libjpeg's own compressor and decompressor for tests: images made in any layout, pixels compared.
#pragma once

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <utility>
#include <vector>
// clang-format off
#include <jpeglib.h>
// clang-format on

namespace libjpeg_codec {

struct Trap {
  jpeg_error_mgr manager;  // first member: libjpeg hands back a pointer to it
  std::jmp_buf jump;
};
[[noreturn]] inline void jump_back(j_common_ptr info) {
  std::longjmp(reinterpret_cast<Trap*>(info->err)->jump, 1);
}
inline void on_message(j_common_ptr info, int level) {
  if (level < 0) jump_back(info);  // a warning: corrupt data counts as a failed decode
}
inline void arm(Trap& trap) {
  jpeg_std_error(&trap.manager);
  trap.manager.error_exit = jump_back;
  trap.manager.emit_message = on_message;
  trap.manager.output_message = [](j_common_ptr) {};
}

// The image as a browser's decoder sees it with libjpeg's defaults: the colour space it guessed
// from the segments, and every sample after colour conversion and upsampling.
struct Pixels {
  unsigned width = 0, height = 0;
  int components = 0;
  J_COLOR_SPACE jpeg_space = JCS_UNKNOWN;
  std::vector<unsigned char> samples;
  bool operator==(const Pixels&) const = default;
};

struct DecodeState {
  jpeg_decompress_struct info{};
  Trap trap{};
  Pixels pixels;
  std::vector<unsigned char> row;
  ~DecodeState() { jpeg_destroy_decompress(&info); }
};

inline bool decode_into(DecodeState& s, std::span<const unsigned char> in) {
  arm(s.trap);
  s.info.err = &s.trap.manager;
  if (setjmp(s.trap.jump) != 0) return false;
  jpeg_create_decompress(&s.info);
  s.info.mem->max_memory_to_use = 512L << 20;
  jpeg_mem_src(&s.info, in.data(), static_cast<unsigned long>(in.size()));
  if (jpeg_read_header(&s.info, TRUE) != JPEG_HEADER_OK) return false;
  s.pixels.jpeg_space = s.info.jpeg_color_space;
  jpeg_start_decompress(&s.info);
  s.pixels.width = s.info.output_width;
  s.pixels.height = s.info.output_height;
  s.pixels.components = s.info.output_components;
  const std::size_t stride =
      std::size_t{s.info.output_width} * static_cast<unsigned>(s.info.output_components);
  s.pixels.samples.resize(stride * s.info.output_height);
  while (s.info.output_scanline < s.info.output_height) {
    JSAMPROW row = s.pixels.samples.data() + stride * s.info.output_scanline;
    jpeg_read_scanlines(&s.info, &row, 1);
  }
  jpeg_finish_decompress(&s.info);
  return true;
}

// None when libjpeg reports an error or a warning.
inline std::optional<Pixels> decode_pixels(std::span<const unsigned char> in) {
  DecodeState s;
  if (!decode_into(s, in)) return std::nullopt;
  return std::move(s.pixels);
}

// One segment written right after SOI: code (JPEG_APP0 + n or JPEG_COM) and payload.
struct Segment {
  int code;
  std::vector<unsigned char> payload;
};

struct Layout {
  unsigned width = 64, height = 48;
  J_COLOR_SPACE in_space = JCS_RGB;  // JCS_GRAYSCALE, JCS_RGB or JCS_CMYK
  J_COLOR_SPACE jpeg_space = JCS_YCbCr;
  int h_samp = 2, v_samp = 2;  // of the first component; the others get 1x1
  bool progressive = false;
  unsigned restart_rows = 0;
  bool arithmetic = false;
  bool optimize = false;  // the standard tables, as most cameras write them, unless set
  int quality = 90;
  std::vector<Segment> segments;
};

inline int components_of(J_COLOR_SPACE space) {
  return space == JCS_GRAYSCALE ? 1 : space == JCS_CMYK ? 4 : 3;
}

// A photograph-like pattern: gradients with some noise, so that the entropy coding has work.
inline std::vector<unsigned char> test_pattern(const Layout& l) {
  const int n = components_of(l.in_space);
  std::vector<unsigned char> px(std::size_t{l.width} * l.height * static_cast<unsigned>(n));
  unsigned seed = 12345;
  for (unsigned y = 0; y < l.height; ++y)
    for (unsigned x = 0; x < l.width; ++x)
      for (int c = 0; c < n; ++c) {
        seed = seed * 1103515245u + 12345u;
        const unsigned noise = (seed >> 16) % 24;
        px[(std::size_t{y} * l.width + x) * static_cast<unsigned>(n) + static_cast<unsigned>(c)] =
            static_cast<unsigned char>((x * (3 + static_cast<unsigned>(c)) + y * 2 + noise +
                                        static_cast<unsigned>(c) * 60) &
                                       0xFF);
      }
  return px;
}

struct EncodeState {
  jpeg_compress_struct info{};
  Trap trap{};
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  ~EncodeState() {
    jpeg_destroy_compress(&info);
    std::free(buffer);
  }
};

inline bool encode_into(EncodeState& s, const Layout& l, const std::vector<unsigned char>& px) {
  arm(s.trap);
  s.info.err = &s.trap.manager;
  if (setjmp(s.trap.jump) != 0) return false;
  jpeg_create_compress(&s.info);
  jpeg_mem_dest(&s.info, &s.buffer, &s.size);
  s.info.image_width = l.width;
  s.info.image_height = l.height;
  s.info.input_components = components_of(l.in_space);
  s.info.in_color_space = l.in_space;
  jpeg_set_defaults(&s.info);
  jpeg_set_colorspace(&s.info, l.jpeg_space);
  jpeg_set_quality(&s.info, l.quality, TRUE);
  s.info.comp_info[0].h_samp_factor = l.h_samp;
  s.info.comp_info[0].v_samp_factor = l.v_samp;
  for (int c = 1; c < s.info.num_components; ++c)
    s.info.comp_info[c].h_samp_factor = s.info.comp_info[c].v_samp_factor = 1;
  if (l.progressive) jpeg_simple_progression(&s.info);
  s.info.restart_in_rows = static_cast<int>(l.restart_rows);
  s.info.arith_code = l.arithmetic ? TRUE : FALSE;
  s.info.optimize_coding = l.optimize ? TRUE : FALSE;
  jpeg_start_compress(&s.info, TRUE);
  for (const Segment& seg : l.segments)
    jpeg_write_marker(&s.info, seg.code, seg.payload.data(),
                      static_cast<unsigned>(seg.payload.size()));
  const std::size_t stride = std::size_t{l.width} * static_cast<unsigned>(s.info.input_components);
  while (s.info.next_scanline < s.info.image_height) {
    auto row = const_cast<JSAMPROW>(px.data() + stride * s.info.next_scanline);
    jpeg_write_scanlines(&s.info, &row, 1);
  }
  jpeg_finish_compress(&s.info);
  return true;
}

// The image `l` describes, compressed by libjpeg; empty when libjpeg refuses the layout.
inline std::vector<unsigned char> encode_image(const Layout& l) {
  const std::vector<unsigned char> px = test_pattern(l);
  EncodeState s;
  if (!encode_into(s, l, px)) return {};
  return std::vector<unsigned char>(s.buffer, s.buffer + s.size);
}

}  // namespace libjpeg_codec
