// The encoders of the compressed copies over the corpus's pages, style sheets and scripts, one
// file at a time, beside the gzip levels a server uses on the fly (libdeflate 6 and 9, the peers
// of `gzip -6` and `gzip -9`). Each row reports its speed and its output as a share of the input.
#include <benchmark/benchmark.h>
#include <libdeflate.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "optimize/precompress.h"

namespace {

std::vector<Bytes> load_texts(const char* kind) {
  std::vector<Bytes> files;
  const std::filesystem::path root = std::string(SVELTERY_CORPUS_DIR "/") + kind;
  if (!std::filesystem::is_directory(root)) return files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    const std::string ext = e.path().extension().string();
    if (!e.is_regular_file() || (ext != ".html" && ext != ".css" && ext != ".js")) continue;
    std::ifstream f(e.path(), std::ios::binary);
    const std::string text(std::istreambuf_iterator<char>(f), {});
    files.emplace_back(text.begin(), text.end());
  }
  return files;
}

const std::vector<Bytes>& pages() {
  static const std::vector<Bytes> files = load_texts("html");
  return files;
}
const std::vector<Bytes>& code() {
  static const std::vector<Bytes> files = load_texts("code");
  return files;
}

template <class Encode>
void run(benchmark::State& state, const std::vector<Bytes>& files, Encode&& encode_one) {
  if (files.empty()) {
    state.SkipWithError("no corpus at " SVELTERY_CORPUS_DIR);
    return;
  }
  std::int64_t in = 0, out = 0;
  Bytes buffer;
  for (auto _ : state) {
    in = out = 0;
    for (const Bytes& f : files) {
      out += encode_one(f, buffer);
      in += static_cast<std::int64_t>(f.size());
    }
  }
  state.SetBytesProcessed(state.iterations() * in);
  state.counters["out_percent"] = 100.0 * static_cast<double>(out) / static_cast<double>(in);
}

void BM_Encode(benchmark::State& state, Encoding e, const std::vector<Bytes>& (*files)()) {
  run(state, files(), [&](const Bytes& f, Bytes& buffer) {
    if (!encode(e, f, buffer, nullptr)) state.SkipWithError("encode failed");
    return static_cast<std::int64_t>(buffer.size());
  });
}

// The peers: what a server does per request.
void BM_DeflateLevel(benchmark::State& state, int level, const std::vector<Bytes>& (*files)()) {
  libdeflate_compressor* c = libdeflate_alloc_compressor(level);
  run(state, files(), [&](const Bytes& f, Bytes& buffer) {
    buffer.resize(libdeflate_gzip_compress_bound(c, f.size()));
    return static_cast<std::int64_t>(
        libdeflate_gzip_compress(c, f.data(), f.size(), buffer.data(), buffer.size()));
  });
  libdeflate_free_compressor(c);
}

BENCHMARK_CAPTURE(BM_DeflateLevel, pages_gzip6_peer, 6, pages)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DeflateLevel, pages_gzip9_peer, 9, pages)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Encode, pages_gz, Encoding::Gzip, pages)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Encode, pages_zst, Encoding::Zstd, pages)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Encode, pages_br, Encoding::Brotli, pages)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(BM_DeflateLevel, code_gzip9_peer, 9, code)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Encode, code_gz, Encoding::Gzip, code)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Encode, code_br, Encoding::Brotli, code)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
