// Road-name pairs from arbitrary bytes (the number file, then the name file):
// the reader opens or raises the library's error; an open reader gives every
// link's name and id, and lookups by name answer with a record or -1.
// Flags: bit 0 holds the name file in memory, bit 1 asks for one link more
// than the number file holds.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_files.h"
#include "network/kovra_roadnamefile.h"

using namespace kovra;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzz::TTwoFiles f = fuzz::SplitTwoFiles(data, size);
  TKvMemoryStream numbers, names;
  numbers.WriteBuffer(f.First.data(), int32_t(f.First.size()));
  names.WriteBuffer(f.Second.data(), int32_t(f.Second.size()));
  TRoadNameFile r(&numbers, &names);
  const int32_t links = int32_t(f.First.size() / 4) + ((f.Flags & 2) ? 1 : 0);
  try {
    r.Load("", (f.Flags & 1) != 0, 0, 1, links);
  } catch (const Exception&) {
    if (r.IsOpen()) std::abort();
    return 0;
  }
  const int32_t n = r.MaxRoadNameID();
  if (n < 1 || r.MaxRoadNameLength() < 2 || int64_t(n) * r.MaxRoadNameLength() != int64_t(f.Second.size())) std::abort();
  const int32_t count = links < 2048 ? links : 2048;
  for (int32_t link = 1; link <= count; ++link) {
    const int32_t id = r.RoadNameID1(link);
    if (id < 1 || id > n) std::abort();
    const std::string name = r.RoadName1(link);
    for (bool ignorecase : {false, true}) {
      const int32_t found = r.RoadNameID2(name, ignorecase);
      if (found != -1 && (found < 1 || found > n)) std::abort();
    }
  }
  // Any text.
  const std::string probe = f.Second.substr(0, f.Second.size() < 40 ? f.Second.size() : 40);
  const int32_t found = r.RoadNameID2(probe, false);
  if (found != -1 && (found < 1 || found > n)) std::abort();
  return 0;
}
