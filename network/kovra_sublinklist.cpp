#include "network/kovra_sublinklist.h"

namespace kovra {

void TSubLinkList::incsub2() {
  TSubLink last = Last();
  ++last.sub2;
  SetItem(FCount - 1, last);
}

int32_t TSubLinkList::Vertexcount() const {
  int32_t n = 0;
  for (int32_t i = 0; i < FCount; ++i) {
    const TSubLink& s = FList[size_t(i)];
    if (s.sub2 != 0) n += int32_t(s.sub2) - int32_t(s.sub1) + 1;
  }
  return n;
}

}  // namespace kovra
