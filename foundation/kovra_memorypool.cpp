#include "foundation/kovra_memorypool.h"

namespace kovra {

void RaiseBigArrayIndex(const char* Method, int64_t index) {
  throw EAssertionFailed(Format("Invalid TBigArray.%s index: %d (kovra_memorypool)", Method, index));
}

}  // namespace kovra
