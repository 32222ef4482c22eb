// What the fuzz targets do when a result differs from their model: say which
// check failed and abort, which libFuzzer reports with the input.
#ifndef BREVLIN_FUZZ_FUZZ_CHECK_H_
#define BREVLIN_FUZZ_FUZZ_CHECK_H_

#include <cstdio>
#include <cstdlib>

namespace fuzzing {

inline void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "check failed: %s\n", what);
    std::abort();
  }
}

}  // namespace fuzzing

#endif  // BREVLIN_FUZZ_FUZZ_CHECK_H_
