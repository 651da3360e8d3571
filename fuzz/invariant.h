#pragma once

#include <cstdio>
#include <cstdlib>

// Stops the fuzzer with the name of the broken invariant: libFuzzer then keeps the input.
inline void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}
