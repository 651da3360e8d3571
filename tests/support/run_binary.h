#pragma once

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

// What one run of the built program printed on standard output, and its exit status.
struct RunResult {
  std::string out;
  int status = -1;
};

inline std::string shell_quote(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs the program in `dir` with `args` under umask 022; stderr (getopt's complaints) is dropped.
// `as_user`: when the tests run as root, the program runs as nobody, so that modes apply to it
// (`dir` is then opened to everyone).
inline RunResult run_sveltery(const std::string& dir, const std::vector<std::string>& args,
                              bool as_user = false) {
  std::string runner;
  if (as_user && ::geteuid() == 0) {
    ::chmod(dir.c_str(), 0777);
    runner = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  }
  std::string command =
      "cd " + shell_quote(dir) + " && umask 022 && exec " + runner + SVELTERY_BINARY;
  for (const auto& arg : args) command += " " + shell_quote(arg);
  command += " 2>/dev/null </dev/null";
  RunResult result;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return result;
  char buffer[65536];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, got);
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// Runs the program under modes that bind it, as root or not.
inline RunResult run_sveltery_as_user(const std::string& dir,
                                      const std::vector<std::string>& args) {
  return run_sveltery(dir, args, true);
}

// What a run printed on both streams, and its exit status.
struct IoResult {
  std::string out;
  std::string err;
  int status = -1;
};

// Runs the program in `dir` with `args` and `input` as its standard input, under umask 022, and
// keeps standard error apart from standard output. The streams pass through files outside `dir`.
inline IoResult run_sveltery_io(const std::string& dir, const std::vector<std::string>& args,
                                const std::string& input = "") {
  IoResult result;
  std::string scratch = "/tmp/sveltery-io-XXXXXX";
  if (::mkdtemp(scratch.data()) == nullptr) return result;
  const std::string in = scratch + "/in", err = scratch + "/err";
  if (std::FILE* f = std::fopen(in.c_str(), "wb")) {
    std::fwrite(input.data(), 1, input.size(), f);
    std::fclose(f);
  }
  std::string command = "cd " + shell_quote(dir) + " && umask 022 && exec " + SVELTERY_BINARY;
  for (const auto& arg : args) command += " " + shell_quote(arg);
  command += " <" + shell_quote(in) + " 2>" + shell_quote(err);
  if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[65536];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      result.out.append(buffer, got);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  if (std::FILE* f = std::fopen(err.c_str(), "rb")) {
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
      result.err.append(buffer, got);
    std::fclose(f);
  }
  ::unlink(in.c_str());
  ::unlink(err.c_str());
  ::rmdir(scratch.c_str());
  return result;
}

// The lines of `text`, sorted: for runs whose order depends on directory-entry order.
inline std::vector<std::string> sorted_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}
