#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

using Bytes = std::vector<unsigned char>;

// Folds 'A'..'Z' to lower case and nothing else (no locale, no 0x20 trick).
inline constexpr auto fold = [] {
  std::array<unsigned char, 256> t{};
  for (std::size_t b = 0; b < t.size(); ++b)
    t[b] = static_cast<unsigned char>(b >= 'A' && b <= 'Z' ? b + 32 : b);
  return t;
}();

// Past the end a look-ahead sees 0, which matches nothing the scanners look for.
inline unsigned char peek(std::span<const unsigned char> in, std::size_t i) {
  return i < in.size() ? in[i] : 0;
}

// `lit` is lower case; true when it matches at `i` in any case. A match running past the end fails.
inline bool match_nocase(std::span<const unsigned char> in, std::size_t i, std::string_view lit) {
  if (i > in.size() || in.size() - i < lit.size()) return false;
  for (std::size_t k = 0; k < lit.size(); ++k)
    if (fold[in[i + k]] != static_cast<unsigned char>(lit[k])) return false;
  return true;
}
