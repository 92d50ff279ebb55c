#include "platform/kovra_ticks.h"

#include <atomic>
#include <chrono>

namespace kovra {

namespace {
std::atomic<TTickSource> gTickSource{&SteadyTickCount};
}

uint32_t SteadyTickCount() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return uint32_t(uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()));
}

uint32_t GetTickCount() { return gTickSource.load(std::memory_order_relaxed)(); }

void SetTickSource(TTickSource source) {
  gTickSource.store(source ? source : &SteadyTickCount, std::memory_order_relaxed);
}

}  // namespace kovra
