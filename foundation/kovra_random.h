// The library's own random numbers: a 32-bit linear congruential generator whose
// sequence is fixed for a given seed, and the process-wide source that seeds it.
#pragma once

#include <cstdint>

#include "platform/kovra_sysutils.h"

namespace kovra {

// Process-wide pseudo-random source (one mutex-guarded generator seeded once from
// the operating system). Returns a value drawn uniformly from 0..range-1; 0 for
// range <= 0.
int32_t ProcessRandom(int32_t range);
// Test hook: reseeds the process-wide source so that Randomize becomes repeatable.
void SeedProcessRandom(uint32_t seed);

class TRandom : public TObject {
public:
  TRandom() = default;

  // A seed outside 0..2^32-1 behaves as its low 32 bits.
  void SetSeed(int64_t value) { fRS = value; }
  int64_t Seed() const { return fRS; }
  // Seeds from the process-wide source with a value in 0..2147483646.
  void Randomize();

  // Next state / 2^32, in [0, 1).
  double NextDouble() {
    Step();
    return double(fRS) / 4294967296.0;
  }
  // Trunc(state / 2^32 * value): 0..value-1 for value > 0, value+1..0 for value < 0.
  int32_t NextInt(int32_t value) {
    Step();
    // |result| < |value|, so the truncation cannot leave the Integer range.
    return int32_t(double(fRS) / 4294967296.0 * double(value));
  }

private:
  // Wraps by design: stepped in unsigned 64 bits, kept to the low 32 bits.
  void Step() { fRS = int64_t((uint64_t(fRS) * 134775813u + 1u) & 0xFFFFFFFFu); }

  int64_t fRS = 0;
};

}  // namespace kovra
