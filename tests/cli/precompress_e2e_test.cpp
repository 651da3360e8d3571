// Compressed siblings through the whole program: the reference tools read them, a killed run
// leaves no part of one, what -l and -v print, and a real server sends them.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
const std::string kDemo = "Sveltery 1.1 Demo\n";

// Standard output of a shell command, and its status.
RunResult shell(const std::string& command) {
  RunResult result;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[65536];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    result.out.append(buffer, got);
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string page(std::size_t size) {
  std::string s = "<html><body>\n";
  for (int i = 0; s.size() < size; ++i)
    s += "<p class=\"row\">Line " + std::to_string(i) + " of a page   that   compresses.</p>\n";
  return s;
}

// Runs the program over `tree` (from `dir`) with every encoding and checks each sibling with the
// tool users would use; returns how many there were.
int check_every_sibling(const TempDir& dir, const std::string& tree, const std::string& out) {
  const RunResult r = run_sveltery(dir.path(), {"--precompress=br,gz,zst", "-o", out, "-r", tree});
  EXPECT_EQ(r.status, 1);
  const char* const tools[][2] = {{".br", "brotli -dc"}, {".gz", "gzip -dc"}, {".zst", "zstd -dcq"}};
  int siblings = 0;
  for (const auto& entry : fs::recursive_directory_iterator(dir / out)) {
    const std::string path = entry.path().string();
    for (const auto& [suffix, tool] : tools) {
      if (!path.ends_with(suffix) || !exists(path.substr(0, path.size() - std::strlen(suffix))))
        continue;
      const std::string relative = path.substr((dir / out).size());
      if (exists(fs::path(tree).parent_path().string() + relative)) continue;  // an input's own
      const RunResult d = shell(std::string(tool) + " " + shell_quote(path));
      EXPECT_EQ(d.status, 0) << path;
      EXPECT_TRUE(d.out == read_file(path.substr(0, path.size() - std::strlen(suffix)))) << path;
      ++siblings;
    }
  }
  return siblings;
}

TEST(Precompress, ReferenceToolsDecodeEverySiblingToItsOutput) {
  ASSERT_EQ(std::system("{ command -v brotli && command -v zstd && command -v gzip; } >/dev/null"), 0)
      << "brotli, zstd and gzip are needed (scripts/test installs them)";
  TempDir dir;
  fs::copy(SVELTERY_SOURCE_DIR "/examples/site", dir / "site", fs::copy_options::recursive);
  write_file(dir / "site/big.js", page(300000));
  write_file(dir / "site/big.css.gz", "an input of the same name is copied, not compressed");
  write_file(dir / "site/big.css", page(2000));
  // Three pages and big.js get all three; big.css gets no .gz, which its input has.
  EXPECT_EQ(check_every_sibling(dir, dir / "site", "out"), 4 * 3 + 2);
  if (fs::is_directory(SVELTERY_CORPUS_DIR)) {
    EXPECT_GT(check_every_sibling(dir, SVELTERY_CORPUS_DIR, "corpus"), 1000);
  }
}

TEST(Precompress, LoggingNamesEverySiblingAndTheReportCountsThem) {
  TempDir dir;
  const std::string css = page(2000), size = std::to_string(css.size());
  write_file(dir / "a.css", css);
  write_file(dir / "b.js", "tiny();");
  ::mkdir((dir / "sveltered").c_str(), 0700);
  ASSERT_EQ(::symlink("../b.js", (dir / "sveltered/a.css.gz").c_str()), 0);
  const RunResult r = run_sveltery(dir.path(), {"-l", "--precompress", "a.css", "b.js"});
  const auto br = static_cast<long>(fs::file_size(dir / "sveltered/a.css.br"));
  EXPECT_EQ(r.out, kDemo + "Outputing to: ./sveltered/\nCopying: a.css\n" +
                       " Precompressed: ./sveltered/a.css.br (" + std::to_string(br) +
                       " of " + size + " bytes)\n"
                       "Error: opening output file: ./sveltered/a.css.gz\n"
                       "Copying: b.js\n"
                       "Sveltery Precompressed: " + std::to_string(br) +
                       " bytes as br, 0 bytes as gz for " + size + " bytes in 1 files\n"
                       "Sveltery Optimized: 0 of 2 files\n");
  EXPECT_EQ(read_file(dir / "b.js"), "tiny();");
  EXPECT_TRUE(fs::is_symlink(dir / "sveltered/a.css.gz"));
}

TEST(Precompress, VerboseDrawsABarPerSibling) {
  TempDir dir;
  const std::string svg = page(2000), size = std::to_string(svg.size());
  write_file(dir / "a.svg", svg);
  const RunResult r = run_sveltery(dir.path(), {"-v", "--precompress=gz", "a.svg"});
  const auto gz = std::to_string(fs::file_size(dir / "sveltered/a.svg.gz"));
  const std::string bar = "| " + size;
  EXPECT_EQ(r.out, kDemo + "Outputing to: ./sveltered/\nCopying: a.svg\n"
                       "\r 100% |" + std::string(50, '*') + bar + "\n"
                       "\r 0% |" + std::string(50, ' ') + "| 0"
                       "\r 100% |" + std::string(50, '*') + bar + "\n"
                       " Precompressed: ./sveltered/a.svg.gz (" + gz + " of " + size + " bytes)\n"
                       "Sveltery Precompressed: " + gz + " bytes as gz for " + size +
                       " bytes in 1 files\n"
                       "Sveltery Optimized: 0 of 1 files\n");
}

TEST(Precompress, ABadListIsTheShortUsageScreenAndNothingIsWritten) {
  TempDir dir;
  write_file(dir / "a.css", page(2000));
  const RunResult usage = run_sveltery(dir.path(), {"-H"});
  for (const char* bad : {"--precompress=", "--precompress=br,deflate", "--precompress=gz,gz"}) {
    const RunResult r = run_sveltery(dir.path(), {bad, "a.css"});
    EXPECT_EQ(r.out, usage.out) << bad;
    EXPECT_EQ(r.status, 1);
  }
  EXPECT_FALSE(exists(dir / "sveltered"));
}

// The names in `path`, sorted, dot files included.
std::vector<std::string> names_in(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(path)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Starts the program on a page that takes seconds to compress and kills it once the page's
// output is there, while its first sibling is being encoded.
void run_and_kill(const TempDir& dir) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::chdir(dir.path().c_str()) != 0) ::_exit(127);
    ::execl(SVELTERY_BINARY, SVELTERY_BINARY, "--precompress", "-r", "in", nullptr);
    ::_exit(127);
  }
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!exists(dir / "sveltered/in/big.html") && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it was killed: make the page larger";
}

TEST(Precompress, AKilledRunLeavesNoPartOfASibling) {
  TempDir dir;
  write_file(dir / "in/big.html", page(6 << 20));
  run_and_kill(dir);  // into a directory the run made
  EXPECT_EQ(names_in(dir / "sveltered/in"), std::vector<std::string>{"big.html"});
  write_file(dir / "sveltered/in/big.html.br", "an earlier run's");
  run_and_kill(dir);  // over an earlier run's siblings
  EXPECT_EQ(names_in(dir / "sveltered/in"), (std::vector<std::string>{"big.html", "big.html.br"}));
  EXPECT_EQ(read_file(dir / "sveltered/in/big.html.br"), "an earlier run's");
}

// A port on 127.0.0.1 that was free a moment ago.
int free_port() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(s);
  return ntohs(a.sin_port);
}

// Debian's nginx with the brotli static module, serving `root` until it goes.
class Nginx {
 public:
  Nginx(const TempDir& dir, const std::string& root) : port_(free_port()) {
    const std::string conf = dir / "nginx.conf";
    write_file(conf, std::string(::geteuid() == 0 ? "user root;\n" : "") +
                         "load_module " + kModule + ";\n"
                         "daemon off; master_process off; pid nginx.pid;\n"
                         "error_log stderr;\nevents {}\nhttp {\n"
                         "  access_log off; client_body_temp_path tmp; proxy_temp_path tmp;\n"
                         "  fastcgi_temp_path tmp; uwsgi_temp_path tmp; scgi_temp_path tmp;\n"
                         "  gzip_static on; brotli_static on;\n"
                         "  server { listen 127.0.0.1:" + std::to_string(port_) +
                         "; root " + root + "; }\n}\n");
    ::mkdir((dir / "tmp").c_str(), 0700);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execl("/usr/sbin/nginx", "nginx", "-p", dir.path().c_str(), "-c", conf.c_str(), "-e",
              "stderr", nullptr);
      ::_exit(127);
    }
    for (int k = 0; k < 500 && !answers(); ++k)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  Nginx(const Nginx&) = delete;
  Nginx& operator=(const Nginx&) = delete;
  ~Nginx() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  static constexpr const char* kModule =
      "/usr/lib/nginx/modules/ngx_http_brotli_static_module.so";
  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  bool answers() const { return shell("curl -s -o /dev/null " + url("/")).status == 0; }

 private:
  int port_;
  pid_t pid_ = -1;
};

TEST(Precompress, NginxSendsTheSiblingsAsTheyAre) {
  if (!exists("/usr/sbin/nginx") || !exists(Nginx::kModule) ||
      std::system("command -v curl >/dev/null") != 0)
    GTEST_SKIP() << "needs nginx, libnginx-mod-http-brotli-static and curl (scripts/test "
                    "installs them)";
  TempDir dir;
  write_file(dir / "site/index.html", page(5000));
  ASSERT_EQ(run_sveltery(dir.path(), {"--precompress", "-o", "out", "-r", "site"}).status, 1);
  Nginx nginx(dir, dir / "out");
  ASSERT_TRUE(nginx.answers()) << "nginx did not start";
  const std::string output = dir / "out/site/index.html";
  struct Ask {
    const char* accept;
    const char* encoding;  // Content-Encoding sent back, "" for none
    std::string body;      // the file whose bytes come back
  };
  for (const Ask& ask : {Ask{"br", "br", output + ".br"}, Ask{"gzip", "gzip", output + ".gz"},
                         Ask{"", "", output}}) {
    const std::string headers = dir / "headers", body = dir / "body";
    const RunResult r = shell("curl -s -D " + headers + " -o " + body +
                              (*ask.accept ? " -H 'Accept-Encoding: " + std::string(ask.accept) + "'"
                                           : std::string()) +
                              " " + nginx.url("/site/index.html"));
    ASSERT_EQ(r.status, 0);
    const std::string h = read_file(headers);
    EXPECT_NE(h.find("200 OK"), std::string::npos) << h;
    const std::string sent = *ask.encoding ? "Content-Encoding: " + std::string(ask.encoding)
                                           : std::string("Content-Encoding");
    EXPECT_EQ(h.find(sent) != std::string::npos, *ask.encoding != '\0') << h;
    EXPECT_TRUE(read_file(body) == read_file(ask.body)) << ask.accept;
  }
}

}  // namespace
