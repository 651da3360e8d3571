// Optimized PHP pages run under PHP itself (Debian's php-cli) as their originals did.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace {

// Standard output and standard error of a shell command run in `dir`, together, and its status.
RunResult output_of(const std::string& dir, const std::string& command) {
  const std::string line = "cd " + shell_quote(dir) + " && " + command + " 2>&1";
  RunResult result;
  std::FILE* pipe = ::popen(line.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    result.out.append(buffer, got);
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

void require_php() {
  ASSERT_EQ(std::system("command -v php >/dev/null"), 0)
      << "php is needed (Debian package php-cli; scripts/test installs it)";
}

// Output buffering off, as on many servers: any byte sent before header() makes it fail.
const std::string kPhp = "php -n -d output_buffering=0 -d display_errors=1 -d error_reporting=-1 ";

TEST(PhpRuns, HeaderAfterIncludeOfAnOptimizedLibrary) {
  require_php();
  TempDir dir;
  write_file(dir / "site/lib.php",
             "<?php\n// Shared helpers.\nfunction answer() {\n"
             "  return [1, 2];\n}\n");
  write_file(dir / "site/api.php",
             "<?php\nrequire __DIR__ . '/lib.php';\nheader('Content-Type: application/json');\n"
             "echo json_encode(answer());\n?>\n\n<p>  done</p>\n");
  const RunResult r = run_sveltery(dir.path(), {"-p", "-r", "site"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(output_of(dir.path(), kPhp + "sveltered/site/lib.php").out, "");
  EXPECT_EQ(output_of(dir.path(), kPhp + "sveltered/site/api.php").out, "[1,2]<p> done</p>");
}

// The PHP pages under `root` (by the extensions the checker reads).
int php_pages_under(const std::string& root) {
  namespace fs = std::filesystem;
  int pages = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string ext = entry.path().extension().string();
    if (entry.is_regular_file() && (ext == ".php" || ext == ".phtml" || ext == ".php3")) ++pages;
  }
  return pages;
}

// A profile over a corpus of real pages: the repository's own, and the shared corpus where it
// lies beside the repository.
struct CorpusRun {
  const char* name;
  const char* profile;  // "" for the default one
  std::string corpus;
};

std::vector<CorpusRun> corpus_runs() {
  std::vector<CorpusRun> runs = {
      {"default", "", SVELTERY_TEST_CORPUS_DIR "/php"},
      {"safe", "--safe", SVELTERY_TEST_CORPUS_DIR "/php"},
  };
  if (std::filesystem::is_directory(SVELTERY_CORPUS_DIR "/php")) {
    runs.push_back({"shared_default", "", SVELTERY_CORPUS_DIR "/php"});
    runs.push_back({"shared_safe", "--safe", SVELTERY_CORPUS_DIR "/php"});
  }
  return runs;
}

// Every profile leaves the code of every corpus page as PHP's own tokenizer sees it.
class CorpusCode : public testing::TestWithParam<CorpusRun> {};

TEST_P(CorpusCode, KeptOnEveryPage) {
  require_php();
  const CorpusRun& run = GetParam();
  const int pages = php_pages_under(run.corpus);
  ASSERT_GT(pages, 0) << "no PHP pages under " << run.corpus;
  TempDir dir;
  std::vector<std::string> args = {"-p", "-r", "-o", "out", run.corpus};
  if (*run.profile != '\0') args.insert(args.begin(), run.profile);
  const RunResult r = run_sveltery(dir.path(), args);
  ASSERT_EQ(r.status, 1) << r.out;
  const std::string script = std::string(SVELTERY_SOURCE_DIR) + "/tests/php/php_tokens_same.php";
  const RunResult check = output_of(
      dir.path(), "php " + shell_quote(script) + " " + shell_quote(run.corpus) + " out/php");
  const std::string all = std::to_string(pages);
  EXPECT_NE(check.out.find(all + " of " + all + " PHP pages keep their code\n"), std::string::npos)
      << check.out;
}

INSTANTIATE_TEST_SUITE_P(PhpRuns, CorpusCode, testing::ValuesIn(corpus_runs()),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
