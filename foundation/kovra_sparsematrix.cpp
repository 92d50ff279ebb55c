#include "foundation/kovra_sparsematrix.h"

namespace kovra {

TSparseMatrix::TSparseMatrix(int32_t dim)
    : Rowbits(dim < 0 ? 0 : dim), ColBits(dim < 0 ? 0 : dim), Fhashcount(size_t(cHashSize), 0),
      Fhash(size_t(cHashSize)) {}

bool TSparseMatrix::Add(int32_t ARow, int32_t ACol) {
  if (ARow < 0 || ACol < 0)
    throw EOutOfRange(Format("TSparseMatrix: negative row or column (%d, %d)", ARow, ACol));
  const size_t bucket = size_t((int64_t(ACol) * Fhashfactor + ARow) % cHashSize);
  std::vector<TSCell>& cells = Fhash[bucket];
  int32_t& count = Fhashcount[bucket];

  // A stored pair has set both its bits, so the scan is needed only when both are
  // set; a bit beyond a set's size counts as clear.
  if (ARow < Rowbits.Size() && ACol < ColBits.Size() && Rowbits.GetBit(ARow) && ColBits.GetBit(ACol)) {
    for (int32_t i = 0; i < count; ++i)
      if (cells[size_t(i)].Row == ARow && cells[size_t(i)].Col == ACol) return true;
  }

  if (cells.empty()) {
    cells.resize(20);
    count = 0;
  } else if (size_t(count) == cells.size() - 1) {
    cells.resize(size_t(Trunc(double(cells.size() - 1) * 1.5)));
  }
  cells[size_t(count)] = TSCell{ARow, ACol};
  // Grow the bit sets before counting the cell, so a failure leaves the set as it was.
  if (ARow >= Rowbits.Size()) Rowbits.SetSize(int64_t(ARow) + 1);
  if (ACol >= ColBits.Size()) ColBits.SetSize(int64_t(ACol) + 1);
  ++count;
  Rowbits.SetBit2(ARow, true);
  ColBits.SetBit2(ACol, true);
  return false;
}

}  // namespace kovra
