// The JPEG filter against plain memmove over the same bytes. Every run starts from a fresh copy
// of the input (the filter compacts in place); the restoring copy is outside the timed region
// for the filter and the baseline alike.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "optimize/jpeg.h"

namespace {

using Bytes = std::vector<unsigned char>;

struct Input {
  Bytes original;
  Bytes work;
  std::size_t shift = 1;  // how far the filter moves the rest toward the front (at least 1)
};

Input make_input(Bytes bytes) {
  Input in{bytes, bytes, 1};
  if (const auto len = optimize_jpeg(in.work); len && *len < bytes.size())
    in.shift = bytes.size() - *len;
  return in;
}

std::vector<Input> load_corpus() {
  std::vector<Input> files;
  const std::filesystem::path root = SVELTERY_CORPUS_DIR "/jpeg";
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    std::string ext = e.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    if (!e.is_regular_file() || (ext != ".jpg" && ext != ".jpeg")) continue;
    std::ifstream f(e.path(), std::ios::binary);
    files.push_back(make_input(Bytes(std::istreambuf_iterator<char>(f), {})));
  }
  return files;
}

Bytes segment(unsigned char code, std::size_t payload, std::mt19937& rng) {
  const std::size_t len = payload + 2;
  Bytes b{0xFF, code, static_cast<unsigned char>(len >> 8), static_cast<unsigned char>(len)};
  for (std::size_t i = 0; i < payload; ++i) b.push_back(static_cast<unsigned char>(rng()));
  return b;
}

// Openings of segment payloads that the filter keeps: an EXIF IFD0 holding an orientation, and
// the first chunk of a profile whose description is not sRGB.
const Bytes kExif = {'E', 'x',  'i',  'f', 0, 0, 'M', 'M', 0, 42,  0,   0,   0, 8,    0,
                     2,   0x01, 0x0F, 0,   2, 0, 0,   0,   4, 'C', 'a', 'm', 0, 0x01, 0x12,
                     0,   3,    0,    0,   0, 1, 0,   6,   0, 0,   0,   0,   0, 0};
const Bytes kWideProfile = [] {
  Bytes p = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, 1, 1};
  Bytes header(128, 0);
  std::copy_n("acsp", 4, header.begin() + 36);
  p.insert(p.end(), header.begin(), header.end());
  const Bytes table = {0, 0, 0, 1, 'd', 'e', 's', 'c', 0, 0, 0, 144, 0, 0, 0, 32};
  const Bytes mluc = {'m', 'l', 'u', 'c', 0, 0, 0, 0, 0, 0, 0, 1,  0, 0,   0, 12,
                      'e', 'n', 'U', 'S', 0, 0, 0, 4, 0, 0, 0, 28, 0, 'P', 0, '3'};
  p.insert(p.end(), table.begin(), table.end());
  p.insert(p.end(), mluc.begin(), mluc.end());
  return p;
}();
void patch(Bytes& segment, const Bytes& opening) {
  std::copy(opening.begin(), opening.end(), segment.begin() + 4);
}

// Camera-like headers (EXIF, ICC, Photoshop, XMP, comment, tables), then 64 MiB of scan data.
std::vector<Input> make_large() {
  std::mt19937 rng(7);
  Bytes b{0xFF, 0xD8};
  for (const auto& [code, size] : std::vector<std::pair<unsigned char, std::size_t>>{{0xE0, 14},
                                                                                     {0xE1, 30000},
                                                                                     {0xE2, 3000},
                                                                                     {0xED, 5000},
                                                                                     {0xE1, 12000},
                                                                                     {0xFE, 40},
                                                                                     {0xDB, 130},
                                                                                     {0xC0, 15},
                                                                                     {0xC4, 416},
                                                                                     {0xDA, 10}}) {
    Bytes s = segment(code, size, rng);
    if (code == 0xE1 && size == 30000) patch(s, kExif);  // the camera's orientation, kept
    if (code == 0xE2) patch(s, kWideProfile);            // a Display P3 profile, kept
    b.insert(b.end(), s.begin(), s.end());
  }
  const std::size_t scan = std::size_t{64} << 20;
  b.reserve(b.size() + scan + 2);
  for (std::size_t i = 0; i < scan; ++i) {
    const auto v = static_cast<unsigned char>(rng());
    b.push_back(v);
    if (v == 0xFF) b.push_back(0x00);  // byte stuffing, as in real scan data
  }
  b.insert(b.end(), {0xFF, 0xD9});
  return {make_input(std::move(b))};
}

void restore(std::vector<Input>& inputs) {
  for (Input& in : inputs) std::memcpy(in.work.data(), in.original.data(), in.original.size());
}

template <class Step>
void run(benchmark::State& state, std::vector<Input>& inputs, Step step) {
  std::size_t bytes = 0;
  for (const Input& in : inputs) bytes += in.original.size();
  for (auto _ : state) {
    state.PauseTiming();
    restore(inputs);
    state.ResumeTiming();
    for (Input& in : inputs) step(in);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
  state.counters["files"] = static_cast<double>(inputs.size());
}

void filter(Input& in) {
  auto len = optimize_jpeg(in.work);
  benchmark::DoNotOptimize(len);
  benchmark::ClobberMemory();
}

void shift(Input& in) {
  std::memmove(in.work.data(), in.work.data() + in.shift, in.work.size() - in.shift);
  benchmark::ClobberMemory();
}

std::vector<Input>& corpus() {
  static std::vector<Input> files = load_corpus();
  return files;
}
std::vector<Input>& large() {
  static std::vector<Input> file = make_large();
  return file;
}

void BM_FilterCorpus(benchmark::State& state) { run(state, corpus(), filter); }
void BM_MemmoveCorpus(benchmark::State& state) { run(state, corpus(), shift); }
void BM_FilterLarge(benchmark::State& state) { run(state, large(), filter); }
void BM_MemmoveLarge(benchmark::State& state) { run(state, large(), shift); }

BENCHMARK(BM_FilterCorpus)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MemmoveCorpus)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FilterLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemmoveLarge)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
