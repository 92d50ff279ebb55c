#include "foundation/kovra_random.h"

#include <mutex>
#include <random>

namespace kovra {

namespace {

struct TProcessRandomSource {
  std::mutex Lock;
  std::mt19937 Engine;
  TProcessRandomSource() : Engine(std::random_device{}()) {}
};

// Built on first use, thread-safe (function-local static).
TProcessRandomSource& Source() {
  static TProcessRandomSource source;
  return source;
}

}  // namespace

int32_t ProcessRandom(int32_t range) {
  if (range <= 0) return 0;
  TProcessRandomSource& s = Source();
  std::lock_guard<std::mutex> guard(s.Lock);
  std::uniform_int_distribution<int32_t> dist(0, range - 1);
  return dist(s.Engine);
}

void SeedProcessRandom(uint32_t seed) {
  TProcessRandomSource& s = Source();
  std::lock_guard<std::mutex> guard(s.Lock);
  s.Engine.seed(seed);
}

void TRandom::Randomize() { fRS = ProcessRandom(2147483647); }

}  // namespace kovra
