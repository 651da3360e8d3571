// A run stopped by SIGINT or SIGTERM: the log of every file it finished, and no partial output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr int kPages = 3000;
// Large enough that a run takes a good while on any machine, so that the signal comes mid-run.
const std::string kBody = "<p>" + std::string(8000, 'a') + "</p>";

// The program started in `dir` with `args`, its standard output going to `log` and its standard
// error to `err`.
pid_t start(const std::string& dir, const std::vector<std::string>& args, const std::string& log,
            const std::string& err) {
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  if (::chdir(dir.c_str()) != 0) ::_exit(126);
  const int out_fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out_fd < 0 || err_fd < 0 || ::dup2(out_fd, STDOUT_FILENO) < 0 ||
      ::dup2(err_fd, STDERR_FILENO) < 0)
    ::_exit(126);
  std::vector<char*> argv = {const_cast<char*>(SVELTERY_BINARY)};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  ::execv(SVELTERY_BINARY, argv.data());
  ::_exit(127);
}

std::size_t entries_in(const std::string& path) {
  std::error_code ec;
  std::size_t count = 0;
  for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) ++count;
  return count;
}

struct StopCase {
  const char* name;
  int signal_number;
  const char* jobs;
  int status;
  const char* said;  // on standard error
};

const StopCase kStops[] = {
    {"sigint_one_worker", SIGINT, "1", 130, "SIGINT"},
    {"sigterm_one_worker", SIGTERM, "1", 143, "SIGTERM"},
    {"sigint_two_workers", SIGINT, "2", 130, "SIGINT"},
    {"sigterm_four_workers", SIGTERM, "4", 143, "SIGTERM"},
};

class Stop : public testing::TestWithParam<StopCase> {};

TEST_P(Stop, LogOfEveryFinishedFileAndNoPartialOutput) {
  const StopCase& c = GetParam();
  TempDir dir;
  for (int k = 0; k < kPages; ++k)
    write_file(dir / ("site/p" + std::to_string(k) + ".html"), kBody);
  const std::string err = dir.path() + ".err";  // beside the directory: not an output
  const pid_t pid = start(dir.path(), {"-l", "--jobs", c.jobs, "-r", "site"}, dir / "log", err);
  ASSERT_GT(pid, 0);
  // Once some outputs are there, the run is under way.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (entries_in(dir / "sveltered/site") < 20 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ::kill(pid, c.signal_number);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), c.status);

  EXPECT_EQ(read_file(err), std::string("sveltery: stopped by ") + c.said +
                                ": files not yet started were not written\n");
  ::unlink(err.c_str());
  const std::string log = read_file(dir / "log");
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), '\n');
  EXPECT_EQ(log.find("Sveltery Optimized:"), std::string::npos);  // no report of a part run
  // Every output is whole and logged as finished, and every finished file has its output.
  std::set<std::string> written;
  for (const auto& entry : fs::directory_iterator(dir / "sveltered/site")) {
    const std::string name = entry.path().filename().string();
    ASSERT_NE(name.front(), '.') << "a temporary file was left: " << name;
    written.insert(name);
    const std::string page = read_file(entry.path().string());
    EXPECT_EQ(page.substr(page.size() - kBody.size()), kBody) << name;
    EXPECT_NE(log.find("Optimizing: site/" + name + "\n Saved: "), std::string::npos) << name;
  }
  std::size_t finished = 0;
  for (std::size_t at = 0; (at = log.find(" Saved: ", at)) != std::string::npos; ++at) ++finished;
  EXPECT_EQ(finished, written.size());
  EXPECT_GE(written.size(), 20u);
  EXPECT_LT(written.size(), static_cast<std::size_t>(kPages)) << "the run ended before the signal";
}

INSTANTIATE_TEST_SUITE_P(Cli, Stop, testing::ValuesIn(kStops),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
