#include "foundation/kovra_bitarray.h"

#include <algorithm>
#include <bit>
#include <cstdlib>

namespace kovra {

void TBitArray::SetSize(int64_t Value) {
  if (Value < 0 || Value > cMaxSize) throw EBitArrayError(cMsgBitArrayIndex);
  if (Value == FSize) return;
  size_t words = size_t((Value + 31) / 32);
  FBits.resize(words, 0u);  // strong guarantee: a failed allocation changes nothing
  FSize = Value;
  if (words > 0) FBits.back() &= LastWordMask();
}

void TBitArray::SetFromIntegerArray(const TIntegerArray& IA) {
  SetSize(int64_t(IA.size()));
  SetAllFalse();
  for (size_t i = 1; i < IA.size(); ++i)
    if (IA[i] != 0) SetBit2(int64_t(i), true);
}

void TBitArray::SetFromTRoute(const TRoute& route) {
  for (int32_t link : route.links) SetBit(std::abs(int64_t(link)), true);
}

void TBitArray::Assign(const TBitArray& B) {
  if (B.FSize != FSize) throw EBitArrayError(cMsgBitArraySize);
  if (&B != this) std::copy(B.FBits.begin(), B.FBits.end(), FBits.begin());
}

void TBitArray::Clone(TBitArray& v) const {
  if (&v == this) return;
  v.FBits = FBits;
  v.FSize = FSize;
}

int64_t TBitArray::CountTrue() const {
  int64_t n = 0;
  for (uint32_t w : FBits) n += std::popcount(w);
  return n;
}

int64_t TBitArray::OpenBitOffset(int64_t index) const {
  // A negative start searches from the first word.
  size_t w = index < 0 ? 0 : size_t(index / 32);
  const size_t words = FBits.size();
  while (w < words && FBits[w] == 0xFFFFFFFFu) ++w;
  if (w >= words) return FSize;
  int64_t bit = int64_t(w) * 32 + std::countr_one(FBits[w]);
  return std::min(bit, FSize);
}

void TBitArray::P_And(const TBitArray& B) {
  if (B.FBits.size() < FBits.size()) throw EBitArrayError(cMsgBitArraySize);
  uint32_t* a = FBits.data();
  const uint32_t* b = B.FBits.data();
  for (size_t i = 0, n = FBits.size(); i < n; ++i) a[i] &= b[i];
}

void TBitArray::P_Or(const TBitArray& B) {
  if (B.FBits.size() < FBits.size()) throw EBitArrayError(cMsgBitArraySize);
  uint32_t* a = FBits.data();
  const uint32_t* b = B.FBits.data();
  for (size_t i = 0, n = FBits.size(); i < n; ++i) a[i] |= b[i];
  // B may be longer (more words, or more bits in the shared last word).
  if (!FBits.empty()) FBits.back() &= LastWordMask();
}

void TBitArray::P_Not() {
  for (uint32_t& w : FBits) w = ~w;
  if (!FBits.empty()) FBits.back() &= LastWordMask();
}

void TBitArray::SetAllFalse() { std::fill(FBits.begin(), FBits.end(), 0u); }

void TBitArray::SetAllTrue() {
  std::fill(FBits.begin(), FBits.end(), 0xFFFFFFFFu);
  if (!FBits.empty()) FBits.back() &= LastWordMask();
}

}  // namespace kovra
