// Throughput of the markup optimizer on real pages: every HTML page of the corpus, and one page of
// at least 50 MB made by repeating them; and every PHP page of the corpus, in PHP mode. Reports
// bytes per second of input.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "optimize/markup.h"
#include "optimize/progress_sink.h"

namespace {

namespace fs = std::filesystem;

std::vector<Bytes> load_pages(const char* kind) {
  std::vector<fs::path> paths;
  const fs::path root = fs::path(SVELTERY_CORPUS_DIR) / kind;
  if (fs::is_directory(root))
    for (const auto& entry : fs::recursive_directory_iterator(root))
      if (entry.is_regular_file()) paths.push_back(entry.path());
  std::sort(paths.begin(), paths.end());  // the same order, so the same large page, every run
  std::vector<Bytes> pages;
  for (const fs::path& path : paths) {
    std::ifstream file(path, std::ios::binary);
    pages.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  return pages;
}

const std::vector<Bytes>& html_pages() {
  static const std::vector<Bytes> pages = load_pages("html");
  return pages;
}

const std::vector<Bytes>& php_pages() {
  static const std::vector<Bytes> pages = load_pages("php");
  return pages;
}

const Bytes& large_page() {
  static const Bytes page = [] {
    constexpr std::size_t kMinimum = std::size_t{50} << 20;
    Bytes all;
    if (html_pages().empty()) return all;
    while (all.size() < kMinimum)
      for (const Bytes& p : html_pages()) all.insert(all.end(), p.begin(), p.end());
    return all;
  }();
  return page;
}

// Every page of one corpus folder through one profile, one call per page.
using Profile = std::optional<Bytes> (*)(std::span<const unsigned char>, bool, ProgressSink*,
                                         Bytes);

// The safe profile as --safe runs it: inline style sheets and scripts minified too.
std::optional<Bytes> safe_profile(std::span<const unsigned char> in, bool php, ProgressSink* sink,
                                  Bytes reuse) {
  return optimize_markup_safe(in, php, sink, std::move(reuse), InlineCode{true, true});
}

// The safe profile with inline code left as it is (--safe -h): the tree-keeping markup work alone.
std::optional<Bytes> safe_markup_only(std::span<const unsigned char> in, bool php,
                                      ProgressSink* sink, Bytes reuse) {
  return optimize_markup_safe(in, php, sink, std::move(reuse), InlineCode{false, false});
}

void corpus_bench(benchmark::State& state, const std::vector<Bytes>& pages, const char* kind,
                  Profile optimize, bool php) {
  if (pages.empty()) {
    state.SkipWithError((std::string("no pages under " SVELTERY_CORPUS_DIR "/") + kind).c_str());
    return;
  }
  std::size_t bytes = 0;
  for (const Bytes& p : pages) bytes += p.size();
  for (auto _ : state)
    for (const Bytes& p : pages) benchmark::DoNotOptimize(optimize(p, php, nullptr, {}));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
  state.counters["pages"] = static_cast<double>(pages.size());
}

void BM_CorpusPages(benchmark::State& state) {
  corpus_bench(state, html_pages(), "html", optimize_markup, false);
}
BENCHMARK(BM_CorpusPages)->Unit(benchmark::kMillisecond);

// PHP pages: most of their bytes lie in PHP blocks, scanned for the strings and comments that hide
// a "?>".
void BM_CorpusPhpPages(benchmark::State& state) {
  corpus_bench(state, php_pages(), "php", optimize_markup, true);
}
BENCHMARK(BM_CorpusPhpPages)->Unit(benchmark::kMillisecond);

void BM_CorpusPagesSafe(benchmark::State& state) {
  corpus_bench(state, html_pages(), "html", safe_profile, false);
}
BENCHMARK(BM_CorpusPagesSafe)->Unit(benchmark::kMillisecond);

void BM_CorpusPagesSafeMarkup(benchmark::State& state) {
  corpus_bench(state, html_pages(), "html", safe_markup_only, false);
}
BENCHMARK(BM_CorpusPagesSafeMarkup)->Unit(benchmark::kMillisecond);

void large_page_bench(benchmark::State& state, ProgressSink* sink,
                      Profile optimize = optimize_markup) {
  const Bytes& page = large_page();
  if (page.empty()) {
    state.SkipWithError("no HTML pages under " SVELTERY_CORPUS_DIR "/html");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(optimize(page, false, sink, {}));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(page.size()));
  state.counters["MB"] = static_cast<double>(page.size()) / 1e6;
}

void BM_LargePage(benchmark::State& state) { large_page_bench(state, nullptr); }
BENCHMARK(BM_LargePage)->Unit(benchmark::kMillisecond);

void BM_LargePageSafe(benchmark::State& state) { large_page_bench(state, nullptr, safe_profile); }
BENCHMARK(BM_LargePageSafe)->Unit(benchmark::kMillisecond);

// A sink that draws nothing: the cost of counting iterations for the bar.
void BM_LargePageWithSink(benchmark::State& state) {
  NoProgress quiet;
  large_page_bench(state, &quiet);
}
BENCHMARK(BM_LargePageWithSink)->Unit(benchmark::kMillisecond);

// The floor under BM_LargePage: allocating and zeroing an output buffer of the page's size, which
// for a page this large means fresh pages from the kernel on every call.
void BM_LargePageOutputBufferOnly(benchmark::State& state) {
  const Bytes& page = large_page();
  for (auto _ : state) {
    Bytes buffer(page.size());
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(page.size()));
}
BENCHMARK(BM_LargePageOutputBufferOnly)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
