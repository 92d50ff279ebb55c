// Intermediate-vertex files from arbitrary bytes (coord3i.bin, then
// coord3.bin): the reader opens or raises the library's error, and an open
// reader answers every record the same whether it caches or not.
// Flags: bit 0 a key.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz_files.h"
#include "network/kovra_coord3file.h"

using namespace kovra;

namespace {

std::unique_ptr<TKvMemoryStream> Stream(const std::string& Bytes) {
  auto s = std::make_unique<TKvMemoryStream>();
  s->WriteBuffer(Bytes.data(), int32_t(Bytes.size()));
  return s;
}

std::unique_ptr<TCoord3File> Open(bool Cache, int64_t Key, TKvStream* Vertices, TKvStream* Index) {
  try {
    return std::make_unique<TCoord3File>(Cache, Key, Vertices, Index);
  } catch (const Exception&) {
    return nullptr;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzz::TTwoFiles f = fuzz::SplitTwoFiles(data, size);
  const int64_t key = (f.Flags & 1) ? 0x5A17C0DE : 0;
  auto index = Stream(f.First), vertices = Stream(f.Second);
  auto cached = Open(true, key, vertices.get(), index.get());
  auto direct = Open(false, key, vertices.get(), index.get());
  if (bool(cached) != bool(direct)) std::abort();  // both refuse or both open
  if (!cached) return 0;
  TCoord3File clone;
  direct->Clone(clone);
  TFloatPointArrayEx a, b;
  const int32_t count = cached->Count() < 4096 ? cached->Count() : 4096;
  for (int32_t i = 0; i < count; ++i) {
    cached->ReadSection(i, a);
    clone.ReadSection(i, b);
    if (a.Count != b.Count || a.Count != direct->GetCount(i)) std::abort();
    for (int32_t k = 1; k + 1 < a.Count; ++k) {
      // Bit patterns: a NaN read from the file is still the same vertex.
      if (std::memcmp(&a.Pnt[size_t(k)], &b.Pnt[size_t(k)], sizeof(TFloatPoint)) != 0) std::abort();
      double x, y;
      direct->GetCoord(i, uint16_t(k - 1), x, y);
      if (std::memcmp(&x, &a.Pnt[size_t(k)].x, 8) != 0 || std::memcmp(&y, &a.Pnt[size_t(k)].y, 8) != 0) std::abort();
      if (k > 64) break;
    }
  }
  return 0;
}
