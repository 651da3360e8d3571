// The three encoders behind the compressed siblings, over the libraries' own APIs.
#include "optimize/precompress.h"

#include <brotli/encode.h>
#include <libdeflate.h>
#include <zstd.h>

#include <algorithm>
#include <memory>
#include <new>

namespace {

// Input handed to a streaming encoder at a time: small enough for a bar to move on large files,
// large enough that the calls cost nothing next to the encoding.
constexpr std::size_t kChunk = std::size_t{256} << 10;

struct BrotliFree {
  void operator()(BrotliEncoderState* s) const { BrotliEncoderDestroyInstance(s); }
};
struct DeflateFree {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
struct ZstdFree {
  void operator()(ZSTD_CCtx* c) const { ZSTD_freeCCtx(c); }
};

// The smallest window that holds the whole input: the same result as the largest, in less memory.
std::uint32_t brotli_window_for(std::size_t size) {
  std::uint32_t bits = BROTLI_MIN_WINDOW_BITS;
  while (bits < BROTLI_MAX_WINDOW_BITS && (std::size_t{1} << bits) - 16 < size) ++bits;
  return bits;
}

// Room in `out` past what it holds, growing it by half when full.
bool grow(Bytes& out, std::size_t used) {
  try {
    size_for_overwrite(out, std::max<std::size_t>(used + (used >> 1), used + 4096));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void tick(ProgressSink* progress, std::size_t total, std::size_t done) {
  if (progress)
    progress->tick(static_cast<std::int64_t>(total), static_cast<std::int64_t>(done));
}

bool encode_brotli(std::span<const unsigned char> in, Bytes& out, ProgressSink* progress) {
  std::unique_ptr<BrotliEncoderState, BrotliFree> state{
      BrotliEncoderCreateInstance(nullptr, nullptr, nullptr)};
  if (!state) return false;
  BrotliEncoderSetParameter(state.get(), BROTLI_PARAM_QUALITY, BROTLI_MAX_QUALITY);
  BrotliEncoderSetParameter(state.get(), BROTLI_PARAM_LGWIN, brotli_window_for(in.size()));
  BrotliEncoderSetParameter(state.get(), BROTLI_PARAM_SIZE_HINT,
                            static_cast<std::uint32_t>(std::min<std::size_t>(in.size(), 1u << 30)));
  if (!grow(out, in.size() / 4)) return false;
  std::size_t used = 0;
  const unsigned char* next_in = in.data();
  std::size_t avail_in = 0, fed = 0;
  for (;;) {
    if (avail_in == 0 && fed < in.size()) {
      tick(progress, in.size(), fed);
      avail_in = std::min(kChunk, in.size() - fed);
      fed += avail_in;
    }
    const BrotliEncoderOperation op =
        fed == in.size() ? BROTLI_OPERATION_FINISH : BROTLI_OPERATION_PROCESS;
    if (used == out.size() && !grow(out, used)) return false;
    std::size_t avail_out = out.size() - used;
    unsigned char* next_out = out.data() + used;
    if (!BrotliEncoderCompressStream(state.get(), op, &avail_in, &next_in, &avail_out, &next_out,
                                     nullptr))
      return false;
    used = out.size() - avail_out;
    if (op == BROTLI_OPERATION_FINISH && BrotliEncoderIsFinished(state.get())) break;
  }
  out.resize(used);
  tick(progress, in.size(), in.size());
  return true;
}

bool encode_gzip(std::span<const unsigned char> in, Bytes& out, ProgressSink* progress) {
  // Level 12 is libdeflate's best: within a few hundredths of a point of an exhaustive search,
  // at a twentieth of its time.
  constexpr int kLevel = 12;
  std::unique_ptr<libdeflate_compressor, DeflateFree> compressor{
      libdeflate_alloc_compressor(kLevel)};
  if (!compressor) return false;
  tick(progress, in.size(), 0);
  try {
    size_for_overwrite(out, libdeflate_gzip_compress_bound(compressor.get(), in.size()));
  } catch (const std::bad_alloc&) {
    return false;
  }
  const std::size_t size =
      libdeflate_gzip_compress(compressor.get(), in.data(), in.size(), out.data(), out.size());
  if (size == 0) return false;  // cannot happen with a buffer of the bound's size
  out.resize(size);
  tick(progress, in.size(), in.size());
  return true;
}

bool encode_zstd(std::span<const unsigned char> in, Bytes& out, ProgressSink* progress) {
  constexpr int kLevel = 19;
  std::unique_ptr<ZSTD_CCtx, ZstdFree> context{ZSTD_createCCtx()};
  if (!context) return false;
  if (ZSTD_isError(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_compressionLevel, kLevel)) ||
      ZSTD_isError(ZSTD_CCtx_setPledgedSrcSize(context.get(), in.size())))
    return false;
  if (!grow(out, in.size() / 4)) return false;
  std::size_t used = 0;
  ZSTD_inBuffer source{in.data(), 0, 0};
  for (;;) {
    if (source.pos == source.size && source.size < in.size()) {
      tick(progress, in.size(), source.size);
      source.size = std::min(in.size(), source.size + kChunk);
    }
    const ZSTD_EndDirective mode = source.size == in.size() ? ZSTD_e_end : ZSTD_e_continue;
    if (used == out.size() && !grow(out, used)) return false;
    ZSTD_outBuffer sink{out.data() + used, out.size() - used, 0};
    const std::size_t left = ZSTD_compressStream2(context.get(), &sink, &source, mode);
    if (ZSTD_isError(left)) return false;
    used += sink.pos;
    if (mode == ZSTD_e_end && left == 0) break;
  }
  out.resize(used);
  tick(progress, in.size(), in.size());
  return true;
}

}  // namespace

std::optional<EncodingSet> parse_encoding_list(std::string_view list) {
  EncodingSet set;
  for (;;) {
    const std::size_t comma = list.find(',');
    const std::string_view item = list.substr(0, comma);
    bool known = false;
    for (const Encoding e : kEncodings) {
      if (item != encoding_name(e)) continue;
      if (set.has(e)) return std::nullopt;
      set.add(e);
      known = true;
    }
    if (!known) return std::nullopt;
    if (comma == std::string_view::npos) return set;
    list.remove_prefix(comma + 1);
  }
}

bool encode(Encoding encoding, std::span<const unsigned char> in, Bytes& out,
            ProgressSink* progress) {
  out.clear();
  switch (encoding) {
    case Encoding::Brotli:
      return encode_brotli(in, out, progress);
    case Encoding::Gzip:
      return encode_gzip(in, out, progress);
    case Encoding::Zstd:
      break;
  }
  return encode_zstd(in, out, progress);
}
