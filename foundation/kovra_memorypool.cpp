#include "foundation/kovra_memorypool.h"

#include <sys/mman.h>

#include <cstdlib>
#include <new>

namespace kovra {

namespace {
constexpr size_t cMapThreshold = size_t(2) << 20;  // one huge page
}

void* AllocZeroedBlock(size_t bytes) {
  if (bytes < cMapThreshold) {
    void* mem = std::calloc(1, bytes);
    if (!mem) throw std::bad_alloc();
    return mem;
  }
  void* mem = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mem == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  madvise(mem, bytes, MADV_HUGEPAGE);  // a hint only; failure is harmless
#endif
  return mem;
}

void FreeZeroedBlock(void* block, size_t bytes) {
  if (!block) return;
  if (bytes < cMapThreshold)
    std::free(block);
  else
    munmap(block, bytes);
}

void RaiseBigArrayIndex(const char* Method, int64_t index) {
  throw EAssertionFailed(Format("Invalid TBigArray.%s index: %d (kovra_memorypool)", Method, index));
}

}  // namespace kovra
