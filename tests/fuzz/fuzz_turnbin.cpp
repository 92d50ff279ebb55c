// Binary turn file reader on arbitrary bytes: either the file's own error with
// the set unchanged, or a set whose export reads back to the same bytes.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "network/kovra_turn.h"

namespace {

// Large enough that ids l and l + 65003 can share a bucket.
constexpr int32_t cSize = 70000;

std::string TempName(const char* what) {
  return "/tmp/kovra_fuzz_turnbin_" + std::to_string(::getpid()) + "_" + what;
}

std::string ReadAll(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string in = TempName("in"), out = TempName("out"), again = TempName("again");
  {
    std::ofstream f(in, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  }
  kovra::TTurnRestrictions ts(cSize);
  try {
    ts.ImportBin(in);
  } catch (const kovra::EInvalidParameter&) {
    // Nothing of a refused file may have been added.
    if (ts.Count() != 0 || ts.B().CountTrue() != 0) std::abort();
    std::remove(in.c_str());
    return 0;
  }
  ts.ExportBin(out);
  kovra::TTurnRestrictions copy(cSize);
  copy.ImportBin(out);
  copy.ExportBin(again);
  if (ReadAll(out) != ReadAll(again)) std::abort();
  for (const std::string& n : {in, out, again}) std::remove(n.c_str());
  return 0;
}
