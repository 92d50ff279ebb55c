#include "foundation/kovra_baselist.h"

#include <new>

namespace kovra {

int32_t BaseListGrowth(int32_t capacity) {
  int64_t delta = capacity > 64 ? capacity / 4 : (capacity > 8 ? 16 : 4);
  int64_t result = int64_t(capacity) + delta;
  if (result > MaxInt) throw std::bad_alloc();
  return int32_t(result);
}

int32_t BaseListCapacityFor(int32_t index) {
  int64_t result = (int64_t(index) + 32) / 32 * 32;
  if (result > MaxInt) throw std::bad_alloc();
  return int32_t(result);
}

}  // namespace kovra
