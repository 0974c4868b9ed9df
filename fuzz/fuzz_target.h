// The entry point every fuzz target defines, and the check its harness asserts with. libFuzzer
// calls the entry point; in the plain test build the replay program does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "picture_store/bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

// A broken promise of the code under test: reported and aborted, so that libFuzzer keeps the
// input and the replay test fails.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)

// Reads every pixel byte, so that a row lying outside its buffer shows up under the sanitizer
// (the sum goes to a volatile so that the reads are not optimised away).
inline void Touch(const tessaly::Bitmap& bitmap) {
  static volatile unsigned sink = 0;
  unsigned sum = 0;
  for (int y = 0; y < bitmap.Height(); ++y) {
    const std::uint8_t* row = bitmap.Row(y);
    for (std::size_t x = 0; x < bitmap.RowBytes(); ++x) sum += row[x];
  }
  sink = sink + sum;
}
