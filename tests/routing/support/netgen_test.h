// Test support: a fixture holding one generated network, written to the
// test's folder and opened.
#pragma once

#include <cstdint>
#include <memory>

#include "foundation/kovra_bitarray.h"
#include "network/kovra_network.h"
#include "routing/support/netgen.h"
#include "support/temp_dir_test.h"

namespace kovra::testsupport {

class TGenNetworkTest : public TTempDirTest {
protected:
  void Generate(const TNetGenOptions& Options) {
    gen = GenerateNetwork(Options);
    gen.Write(dir.string());
    gen.Open(nw, dir.string());
  }
  // Bits first, first + step, ... set among count + 1 (entry 0 unused).
  static std::unique_ptr<TBitArray> EveryNth(int32_t count, int32_t first, int32_t step) {
    auto bits = std::make_unique<TBitArray>(int64_t(count) + 1);
    for (int32_t i = first; i <= count; i += step) bits->SetBit2(i, true);
    return bits;
  }

  TGenNetwork gen;
  TNetwork nw;
};

}  // namespace kovra::testsupport
