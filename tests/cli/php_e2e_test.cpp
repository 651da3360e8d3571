// Optimized PHP pages run under PHP itself (Debian's php-cli) as their originals did.
#include <gtest/gtest.h>

#include <cstdlib>
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

// Every profile leaves the code of every corpus page as PHP's own tokenizer sees it.
class CorpusCode : public testing::TestWithParam<const char*> {};

TEST_P(CorpusCode, KeptOnEveryPage) {
  require_php();
  const std::string corpus = std::string(SVELTERY_CORPUS_DIR) + "/php";
  ASSERT_EQ(std::system(("test -d " + shell_quote(corpus)).c_str()), 0)
      << "no corpus at " << corpus;
  TempDir dir;
  std::vector<std::string> args = {"-p", "-r", "-o", "out", corpus};
  if (*GetParam() != '\0') args.insert(args.begin(), GetParam());
  const RunResult r = run_sveltery(dir.path(), args);
  ASSERT_EQ(r.status, 1) << r.out;
  const std::string script = std::string(SVELTERY_SOURCE_DIR) + "/tests/php/php_tokens_same.php";
  const RunResult check =
      output_of(dir.path(), "php " + shell_quote(script) + " " + shell_quote(corpus) + " out/php");
  EXPECT_NE(check.out.find("304 of 304 PHP pages keep their code\n"), std::string::npos)
      << check.out;
}

INSTANTIATE_TEST_SUITE_P(PhpRuns, CorpusCode, testing::Values("", "--safe"),
                         [](const auto& p) { return *p.param ? std::string("safe") : "default"; });

}  // namespace
