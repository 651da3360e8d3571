// The lossless re-encoder: libjpeg-turbo's transcoding calls, held so that nothing it meets can end
// the process and no candidate can grow past the best output so far.
#include "optimize/jpeg_recode.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
// After <cstdio>, which declares the FILE and size_t jpeglib.h uses; jerror.h after jpeglib.h.
// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

namespace {

// libjpeg reports through its error manager. Ours jumps back to the call that started the work
// instead of exiting, and treats a warning (libjpeg's word for corrupt data it decoded anyway) as
// an error: coefficients read past damage are not the ones the file means.
struct Trap {
  jpeg_error_mgr manager;  // first member: libjpeg hands back a pointer to it
  std::jmp_buf jump;
  bool overflow = false;  // the candidate outgrew its buffer: it lost, nothing went wrong
};

Trap& trap_of(j_common_ptr info) { return *reinterpret_cast<Trap*>(info->err); }

[[noreturn]] void jump_back(j_common_ptr info) { std::longjmp(trap_of(info).jump, 1); }

void on_message(j_common_ptr info, int level) {
  if (level < 0) jump_back(info);  // -1 is a warning; 0 and up are trace messages
}

void say_nothing(j_common_ptr) {}

void arm(Trap& trap) {
  jpeg_std_error(&trap.manager);
  trap.manager.error_exit = jump_back;
  trap.manager.emit_message = on_message;
  trap.manager.output_message = say_nothing;
}

// What libjpeg's last message means for the caller: a stream it does not carry, or a broken one.
Recode failure_of(const Trap& trap) {
  switch (trap.manager.msg_code) {
    case JERR_SOF_UNSUPPORTED:  // lossless and hierarchical processes
    case JERR_BAD_PRECISION:    // 12- and 16-bit samples
    case JERR_ARITH_NOTIMPL:
    case JERR_NOTIMPL:
    case JERR_NO_BACKING_STORE:  // over the memory limit
    case JERR_OUT_OF_MEMORY:
      return Recode::kUnsupported;
    default:
      return Recode::kFailed;
  }
}

// A destination of fixed size: a candidate that does not fit could not have won.
struct Sink {
  jpeg_destination_mgr manager;  // first member: libjpeg hands back a pointer to it
  unsigned char* data;
  std::size_t capacity;
};

void sink_start(j_compress_ptr info) {
  Sink& sink = *reinterpret_cast<Sink*>(info->dest);
  sink.manager.next_output_byte = sink.data;
  sink.manager.free_in_buffer = sink.capacity;
}

[[noreturn]] boolean sink_full(j_compress_ptr info) {
  const auto common = reinterpret_cast<j_common_ptr>(info);
  trap_of(common).overflow = true;
  jump_back(common);
}

void sink_end(j_compress_ptr) {}

// The objects live outside the functions that call setjmp, so nothing a longjmp skips needs
// unwinding; the destructors free what libjpeg allocated, however far it got.
struct Decoder {
  jpeg_decompress_struct info{};
  Trap trap{};
  jvirt_barray_ptr* coefficients = nullptr;
  std::size_t trailing = 0;  // bytes after the end-of-image marker
  Decoder() = default;
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;
  ~Decoder() { jpeg_destroy_decompress(&info); }
};

struct Encoder {
  jpeg_compress_struct info{};
  Trap trap{};
  Sink sink{};
  Encoder() = default;
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;
  ~Encoder() { jpeg_destroy_compress(&info); }
};

std::size_t count_markers(jpeg_saved_marker_ptr m) {
  std::size_t n = 0;
  for (; m != nullptr; m = m->next) ++n;
  return n;
}

// Whether the scans sent every bit of every coefficient. A decoder smooths the blocks of a
// progressive image whose low-frequency coefficients are missing or not yet refined; a
// re-encoding would state them complete (as zeros) and show the image unsmoothed.
bool every_coefficient_sent(const jpeg_decompress_struct& info) {
  if (!info.progressive_mode) return true;
  for (int c = 0; c < info.num_components; ++c)
    for (int k = 0; k < DCTSIZE2; ++k)
      if (info.coef_bits[c][k] != 0) return false;  // -1: never sent; above 0: bits still to come
  return true;
}

// Every coefficient of the image in memory, the segments to carry saved in order. kSmaller here
// only means the read went through.
Recode read_coefficients(Decoder& d, std::span<const unsigned char> in,
                         const RecodeLimits& limits) {
  arm(d.trap);
  d.info.err = &d.trap.manager;
  if (setjmp(d.trap.jump) != 0) return failure_of(d.trap);
  jpeg_create_decompress(&d.info);
  d.info.mem->max_memory_to_use = static_cast<long>(limits.memory_bytes);
  jpeg_mem_src(&d.info, in.data(), static_cast<unsigned long>(in.size()));
  for (int app = 0; app < 16; ++app) jpeg_save_markers(&d.info, JPEG_APP0 + app, 0xFFFF);
  jpeg_save_markers(&d.info, JPEG_COM, 0xFFFF);
  if (jpeg_read_header(&d.info, TRUE) != JPEG_HEADER_OK) return Recode::kFailed;
  // Arithmetic-coded images decode, but browsers do not display them: keep what the file holds.
  if (d.info.data_precision != 8 || d.info.arith_code) return Recode::kUnsupported;
  std::int64_t samples = 0;
  for (int c = 0; c < d.info.num_components; ++c) {
    const jpeg_component_info& component = d.info.comp_info[c];
    samples += std::int64_t{component.width_in_blocks} * component.height_in_blocks * DCTSIZE2;
  }
  if (samples > limits.samples) return Recode::kUnsupported;
  // Segments met between scans would have to move in front of the first one, where a decoder
  // reads them differently (a colour profile there applies to the image).
  const std::size_t in_front = count_markers(d.info.marker_list);
  d.coefficients = jpeg_read_coefficients(&d.info);
  if (d.coefficients == nullptr) return Recode::kFailed;
  if (count_markers(d.info.marker_list) != in_front) return Recode::kUnsupported;
  if (!every_coefficient_sent(d.info)) return Recode::kUnsupported;
  d.trailing = d.info.src->bytes_in_buffer;
  return Recode::kSmaller;
}

enum class Mode : unsigned char { kSequential, kProgressive };

// Writes the decoded coefficients into `buffer` in the given mode. The written length, or 0 when
// the candidate does not fit in `capacity`; none when libjpeg failed.
std::optional<std::size_t> write_candidate(Encoder& e, Decoder& d, Mode mode, unsigned char* buffer,
                                           std::size_t capacity, const RecodeLimits& limits) {
  arm(e.trap);
  e.info.err = &e.trap.manager;
  if (setjmp(e.trap.jump) != 0)
    return e.trap.overflow ? std::optional<std::size_t>(0) : std::nullopt;
  jpeg_create_compress(&e.info);
  e.info.mem->max_memory_to_use = static_cast<long>(limits.memory_bytes);
  e.sink.manager.init_destination = sink_start;
  e.sink.manager.empty_output_buffer = sink_full;
  e.sink.manager.term_destination = sink_end;
  e.sink.data = buffer;
  e.sink.capacity = capacity;
  e.info.dest = &e.sink.manager;
  jpeg_copy_critical_parameters(&d.info, &e.info);
  // The segments to show come from the input only: a JFIF or Adobe segment of libjpeg's own
  // making would add bytes, and its colour-transform flag could differ from the input's.
  e.info.write_JFIF_header = FALSE;
  e.info.write_Adobe_marker = FALSE;
  e.info.optimize_coding = TRUE;
  if (mode == Mode::kProgressive) jpeg_simple_progression(&e.info);
  jpeg_write_coefficients(&e.info, d.coefficients);
  for (jpeg_saved_marker_ptr m = d.info.marker_list; m != nullptr; m = m->next)
    jpeg_write_marker(&e.info, m->marker, m->data, m->data_length);
  jpeg_finish_compress(&e.info);
  return capacity - e.sink.manager.free_in_buffer;
}

}  // namespace

Recode recode_jpeg(std::span<const unsigned char> in, Bytes& out, const RecodeLimits& limits) {
  Decoder d;
  if (const Recode read = read_coefficients(d, in, limits); read != Recode::kSmaller) return read;
  const std::span<const unsigned char> trailing = in.last(d.trailing);
  const std::size_t budget = in.size() - trailing.size();  // for the image itself
  Bytes other;
  try {
    size_for_overwrite(out, in.size());
    size_for_overwrite(other, in.size());
  } catch (const std::bad_alloc&) {
    return Recode::kUnsupported;
  }
  // Each candidate must come out at least one byte shorter than the best so far.
  std::size_t best = budget;
  bool failed = false;
  for (const Mode mode : {Mode::kSequential, Mode::kProgressive}) {
    if (best == 0) break;
    Encoder e;
    const std::optional<std::size_t> got =
        write_candidate(e, d, mode, other.data(), best - 1, limits);
    if (!got) failed = true;
    if (got && *got != 0) {
      best = *got;
      out.swap(other);
    }
  }
  if (best == budget) return failed ? Recode::kFailed : Recode::kNotSmaller;
  if (!trailing.empty()) std::memcpy(out.data() + best, trailing.data(), trailing.size());
  out.resize(best + trailing.size());
  return Recode::kSmaller;
}
