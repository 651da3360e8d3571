// Optimized PHP pages run under PHP itself (Debian's php-cli) as their originals did.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace {

// Standard output and standard error of a shell command run in `dir`, together.
std::string output_of(const std::string& dir, const std::string& command) {
  const std::string line = "cd " + shell_quote(dir) + " && " + command + " 2>&1";
  std::string out;
  std::FILE* pipe = ::popen(line.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    out.append(buffer, got);
  ::pclose(pipe);
  return out;
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
  EXPECT_EQ(output_of(dir.path(), kPhp + "sveltered/site/lib.php"), "");
  EXPECT_EQ(output_of(dir.path(), kPhp + "sveltered/site/api.php"), "[1,2]<p> done</p>");
}

}  // namespace
