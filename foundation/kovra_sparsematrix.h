// TSparseMatrix: a set of ordered (row, column) pairs of non-negative integers
// whose Add tells whether a pair was already present (each crossing of two links
// is reported once).
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/kovra_bitarray.h"
#include "foundation/kovra_types.h"

namespace kovra {

struct TSCell {
  int32_t Row = 0;
  int32_t Col = 0;
};

// Not locked: one thread uses a set.
class TSparseMatrix : public TObject {
public:
  // dim: the expected bound of rows and columns (the link count + 1); larger ids
  // are accepted and grow the bit sets.
  explicit TSparseMatrix(int32_t dim);

  // True, changing nothing, when (ARow, ACol) is present; otherwise stores it and
  // returns False. A negative id raises EOutOfRange and changes nothing.
  bool Add(int32_t ARow, int32_t ACol);

  // Cells of bucket i (for tests: Fhash[i].size() is the bucket's length).
  const std::vector<TSCell>& Bucket(int32_t i) const { return Fhash[size_t(i)]; }
  int32_t BucketCount(int32_t i) const { return Fhashcount[size_t(i)]; }
  static int32_t BucketOf(int32_t ARow, int32_t ACol) {
    return int32_t((int64_t(ACol) * cHashFactor + ARow) % cHashSize);
  }

private:
  // Trunc(Sqrt(cHashSize)) + 1.
  static constexpr int64_t cHashFactor = 255;

  TBitArray Rowbits;
  TBitArray ColBits;
  int64_t Fhashfactor = cHashFactor;
  std::vector<int32_t> Fhashcount;
  std::vector<std::vector<TSCell>> Fhash;
};

}  // namespace kovra
