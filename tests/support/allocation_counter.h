// Counts allocations of the calling thread, for tests that a call allocates
// nothing. It replaces the global operator new, so include it in exactly one
// file of a test program. The sanitizers bring their own allocator: there
// KOVRA_COUNT_ALLOCATIONS is 0 and such tests skip.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KOVRA_COUNT_ALLOCATIONS 0
#else
#define KOVRA_COUNT_ALLOCATIONS 1
#endif
namespace {
thread_local int64_t tAllocations = 0;
}
#if KOVRA_COUNT_ALLOCATIONS
// The replacements below pair malloc with free; the compiler sees only the
// library's operator new at the call sites.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t n) {
  ++tAllocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
#endif
