// Throughput of the style-sheet and script minifiers on the corpus's code files, one call per file
// into a buffer reused from call to call. Reports bytes per second of input.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "optimize/css.h"
#include "optimize/js.h"

namespace {

namespace fs = std::filesystem;

std::vector<Bytes> load_code(const char* extension) {
  std::vector<fs::path> paths;
  const fs::path root = fs::path(SVELTERY_CORPUS_DIR) / "code";
  if (fs::is_directory(root))
    for (const auto& entry : fs::recursive_directory_iterator(root))
      if (entry.is_regular_file() && entry.path().extension() == extension)
        paths.push_back(entry.path());
  std::sort(paths.begin(), paths.end());
  std::vector<Bytes> files;
  for (const fs::path& path : paths) {
    std::ifstream file(path, std::ios::binary);
    files.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  return files;
}

template <class Minify>
void code_bench(benchmark::State& state, const std::vector<Bytes>& files, const char* what,
                Minify minify) {
  if (files.empty()) {
    state.SkipWithError(
        (std::string("no ") + what + " files under " SVELTERY_CORPUS_DIR "/code").c_str());
    return;
  }
  std::size_t bytes = 0;
  std::size_t largest = 0;
  for (const Bytes& f : files) {
    bytes += f.size();
    largest = std::max(largest, f.size());
  }
  Bytes out(largest);
  std::size_t written = 0;
  for (auto _ : state)
    for (const Bytes& f : files) {
      written += minify(f, out.data()).value_or(f.size());
      benchmark::DoNotOptimize(out.data());
    }
  benchmark::DoNotOptimize(written);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
  state.counters["files"] = static_cast<double>(files.size());
}

void BM_CssFiles(benchmark::State& state) {
  static const std::vector<Bytes> files = load_code(".css");
  code_bench(state, files, "CSS", [](const Bytes& f, unsigned char* out) {
    return minify_css(f, CssInput::Sheet, out);
  });
}
BENCHMARK(BM_CssFiles)->Unit(benchmark::kMillisecond);

void BM_JsFiles(benchmark::State& state) {
  static const std::vector<Bytes> files = load_code(".js");
  code_bench(state, files, "JavaScript",
             [](const Bytes& f, unsigned char* out) { return minify_js(f, JsInput::Either, out); });
}
BENCHMARK(BM_JsFiles)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
