#pragma once
// A property a fuzz target holds its code to: when it fails, the reason is said and the run
// aborts, so that libFuzzer keeps the input that broke it.
#include <cstdio>
#include <cstdlib>

namespace fuzz {

inline void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "failed: %s\n", what);
  std::abort();
}

}  // namespace fuzz
