#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

inline std::vector<unsigned char> to_bytes(std::string_view s) {
  return std::vector<unsigned char>(s.begin(), s.end());
}

inline std::string to_text(std::span<const unsigned char> b) {
  return std::string(b.begin(), b.end());
}

// Everything `fn` prints on standard output, as bytes. The only place that uses gtest's
// internal capture API.
inline std::string capture_stdout(const std::function<void()>& fn) {
  testing::internal::CaptureStdout();
  fn();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}
