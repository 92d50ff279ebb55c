// TBitArray: a growable set of bits addressed by a 64-bit index, for link and node
// selections, visited marks and on/off columns.
#pragma once

#include <cassert>
#include <cstdint>
#include <vector>

#include "foundation/kovra_types.h"

namespace kovra {

KOVRA_DECLARE_EXCEPTION(EBitArrayError, Exception);

inline constexpr const char* cMsgBitArrayIndex = "TBitArray: Index out of range";
inline constexpr const char* cMsgBitArraySize = "TBitArray: Not the same size";

class TBitArray : public TObject {
public:
  // (2^32 - 1) * 32 bits.
  static constexpr int64_t cMaxSize = int64_t(0xFFFFFFFFu) * 32;

  TBitArray() = default;
  explicit TBitArray(int64_t ASize) { SetSize(ASize); }

  int64_t Size() const { return FSize; }
  // Raises EBitArrayError "TBitArray: Index out of range" for a size above cMaxSize
  // or below 0, changing nothing. Bits of a shrunk last word are cleared; new bits are clear.
  void SetSize(int64_t Value);

  // Grows the set to Index + 1 when needed. A negative index raises like SetSize.
  void SetBit(int64_t Index, bool Value) {
    // One unsigned compare catches both a negative index and one at or beyond Size.
    if (uint64_t(Index) >= uint64_t(FSize)) SetSize(Index < 0 || Index >= cMaxSize ? -1 : Index + 1);
    SetBit2(Index, Value);
  }
  // Unchecked: Index must be below Size.
  void SetBit2(int64_t Index, bool Value) {
    assert(Index >= 0 && Index < FSize);
    uint32_t mask = uint32_t(1) << (Index & 31);
    uint32_t& w = FBits[size_t(Index >> 5)];
    w = Value ? (w | mask) : (w & ~mask);
  }
  // Unchecked: Index must be below Size.
  bool GetBit(int64_t Index) const {
    assert(Index >= 0 && Index < FSize);
    return (FBits[size_t(Index >> 5)] >> (Index & 31)) & 1u;
  }

  // Size := length of IA; bit 0 clear; bit i := IA[i] <> 0 for i >= 1. An empty array gives Size 0.
  void SetFromIntegerArray(const TIntegerArray& IA);
  // Sets bit |link| for every link of the route, growing as needed.
  void SetFromTRoute(const TRoute& route);
  // Raises EBitArrayError "TBitArray: Not the same size" when the sizes differ.
  void Assign(const TBitArray& B);
  // Gives v this set's Size and bits.
  void Clone(TBitArray& v) const;

  int64_t CountTrue() const;
  int64_t CountFalse() const { return FSize - CountTrue(); }
  int64_t OpenBit() const { return OpenBitOffset(0); }
  // First clear bit from bit 0 of the word holding bit index; Size when none.
  int64_t OpenBitOffset(int64_t index) const;

  // Word-wise AND / OR of B into this set. B must have at least as many words,
  // else EBitArrayError "TBitArray: Not the same size" and nothing changes.
  void P_And(const TBitArray& B);
  void P_Or(const TBitArray& B);
  // Inverts bits 0..Size-1.
  void P_Not();

  void SetAllFalse();
  void SetAllTrue();
  void SetAll(bool Value) { Value ? SetAllTrue() : SetAllFalse(); }

  // The words, least significant bit first (for bulk readers and tests).
  const std::vector<uint32_t>& Words() const { return FBits; }

private:
  // Mask of the valid bits of the last word (all ones when Size is a multiple of 32).
  uint32_t LastWordMask() const {
    uint32_t r = uint32_t(FSize & 31);
    return r == 0 ? 0xFFFFFFFFu : ((uint32_t(1) << r) - 1);
  }

  int64_t FSize = 0;
  std::vector<uint32_t> FBits;
};

}  // namespace kovra
