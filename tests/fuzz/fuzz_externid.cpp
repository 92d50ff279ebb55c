// External-id files from arbitrary bytes (index1.bin, then index2.bin): the
// reader opens or raises the library's error; an open reader maps ids to links
// and back, or raises the library's error for a damaged bucket.
// Flags: bit 0 caches index1.bin, bit 1 index2.bin.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "fuzz_files.h"
#include "network/kovra_externid.h"

using namespace kovra;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzz::TTwoFiles f = fuzz::SplitTwoFiles(data, size);
  TKvMemoryStream s1, s2;
  s1.WriteBuffer(f.First.data(), int32_t(f.First.size()));
  s2.WriteBuffer(f.Second.data(), int32_t(f.Second.size()));
  TExternalID r(&s1, &s2);
  try {
    r.Open((f.Flags & 1) != 0, (f.Flags & 2) != 0);
  } catch (const Exception&) {
    return 0;
  }
  const int32_t count = r.MaxIndex() < 2048 ? r.MaxIndex() : 2048;
  for (int32_t link = 1; link <= count; ++link) {
    const std::u16string id = r.FindExternalid(link);
    int32_t found = 0;
    try {
      // An id found must lead back to itself; a damaged file may hide it.
      if (r.FindIndex(id, found) && r.FindExternalid(found) != id) std::abort();
    } catch (const Exception&) {
    }
  }
  // Any text, numeric or not.
  try {
    int32_t found = 0;
    r.FindIndex(std::u16string(f.Second.begin(), f.Second.begin() + (f.Second.size() < 40 ? f.Second.size() : 40)),
                found);
  } catch (const Exception&) {
  }
  return 0;
}
