#include "platform/kovra_ticks.h"

#include <time.h>

#include <atomic>
#include <chrono>

namespace kovra {

namespace {
std::atomic<TTickSource> gTickSource{&SteadyTickCount};
}

uint32_t SteadyTickCount() {
#ifdef CLOCK_MONOTONIC_COARSE
  // The monotonic clock of steady_clock at tick resolution (a few ms, finer than
  // the 10-16 ms of a Windows tick count): a read costs a few ns instead of ~25,
  // which matters because progress reads it once per reported loop step.
  timespec ts;
  if (clock_gettime(CLOCK_MONOTONIC_COARSE, &ts) == 0)
    return uint32_t(uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u);
#endif
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return uint32_t(uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()));
}

uint32_t GetTickCount() { return gTickSource.load(std::memory_order_relaxed)(); }

void SetTickSource(TTickSource source) {
  gTickSource.store(source ? source : &SteadyTickCount, std::memory_order_relaxed);
}

}  // namespace kovra
