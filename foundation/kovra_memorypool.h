// TBigArray<T>: an array of large fixed-size blocks addressed by an item index.
// Blocks never move once allocated, so an item's address stays valid for the
// life of the array; growth adds zero-filled blocks and never copies items.
#pragma once

#include <cstdint>
#include <cstddef>
#include <new>
#include <type_traits>
#include <vector>

#include "platform/kovra_sysutils.h"

namespace kovra {

// Zero-filled memory whose untouched pages cost nothing; large blocks are mapped
// directly and offered transparent huge pages, which spares most page faults
// when a block fills up.
void* AllocZeroedBlock(size_t bytes);
void FreeZeroedBlock(void* block, size_t bytes);

// Raises EAssertionFailed "Invalid TBigArray.<Method> index: N" naming this module.
[[noreturn]] void RaiseBigArrayIndex(const char* Method, int64_t index);

template <typename T>
class TBigArray {
public:
  explicit TBigArray(uint8_t Shift)
      : cShift(Shift), cElements(int32_t(1) << Shift), cAndPattern((int32_t(1) << Shift) - 1) {}
  TBigArray(const TBigArray&) = delete;
  TBigArray& operator=(const TBigArray&) = delete;
  ~TBigArray() {
    for (T* block : FArray) FreeBlock(block);
  }

  T GetItem(int64_t index) const { return *Slot(index, "GetItem"); }
  void SetItem(int64_t index, const T& item) { *Slot(index, "SetItem") = item; }
  // In-place access with the same index check; the reference stays valid as
  // long as the array lives.
  T& Item(int64_t index) { return *Slot(index, "GetItem"); }
  const T& Item(int64_t index) const { return *Slot(index, "GetItem"); }

  // Items per block, not the number of items stored.
  int32_t Count() const { return cElements; }
  int64_t Capacity() const { return FCapacity; }
  // Grows to (Value shr Shift) + 1 blocks when Value >= the capacity; never shrinks.
  void SetCapacity(int64_t Value) {
    if (Value < FCapacity) return;
    const size_t blocks = size_t(Value >> cShift) + 1;
    FArray.reserve(blocks);
    while (FArray.size() < blocks) {
      // A block enters the table only once it exists: after a failed
      // allocation the array stays as it was and every slot stays valid.
      T* block = AllocBlock();
      FArray.push_back(block);  // cannot throw: reserved above
      FCapacity = int64_t(FArray.size()) << cShift;
    }
  }

private:
  T* Slot(int64_t index, const char* method) const {
    if (index < 0 || index >= FCapacity) RaiseBigArrayIndex(method, index);
    return FArray[size_t(index >> cShift)] + (index & cAndPattern);
  }
  T* AllocBlock() {
    if constexpr (std::is_trivially_copyable_v<T>) {
      return static_cast<T*>(AllocZeroedBlock(size_t(cElements) * sizeof(T)));
    } else {
      return new T[size_t(cElements)]();
    }
  }
  void FreeBlock(T* block) {
    if constexpr (std::is_trivially_copyable_v<T>)
      FreeZeroedBlock(block, size_t(cElements) * sizeof(T));
    else
      delete[] block;
  }

  uint8_t cShift;
  int32_t cElements;
  int32_t cAndPattern;
  int64_t FCapacity = 0;
  std::vector<T*> FArray;
};

}  // namespace kovra
