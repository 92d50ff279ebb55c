// The shapefile reader of the import on arbitrary files. The input holds a
// little-endian UInt32 length and the .shp bytes, the same for the .shx, one
// byte of settings (bit 0 degrees instead of metres, bit 1 loops allowed,
// bit 2 the second field as the last vertex's z-level), then the .dbf (none
// when empty: no z-levels). A run either reads
// every record or raises the library's error; a run that raised leaves no
// vertex file, and a finished one leaves vertex files that agree.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_import.h"

namespace fs = std::filesystem;
using namespace kovra::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  const std::string_view shp = TakePiece(in);
  const std::string_view shx = TakePiece(in);
  const uint8_t flags = in.empty() ? 0 : uint8_t(in.front());
  if (!in.empty()) in.remove_prefix(1);
  const std::string_view dbf = in;

  const fs::path dir = ImportFolder("shp");
  for (const char* ext : {".shp", ".shx", ".dbf"}) fs::remove(dir / "in" / (std::string("roads") + ext));
  WriteFile(dir / "in" / "roads.shp", shp);
  WriteFile(dir / "in" / "roads.shx", shx);
  if (!dbf.empty()) WriteFile(dir / "in" / "roads.dbf", dbf);

  TReadOnlyImport imp;
  imp.Add((dir / "in" / "roads.shp").string());
  imp.SetCoordinateUnit((flags & 1) ? kovra::cuDeg : kovra::cuM);
  imp.SetAllowLoops((flags & 2) != 0);
  if (!dbf.empty()) {
    imp.SetZFromField(0);
    imp.SetZToField(flags & 4 ? 1 : 0);
  }
  RunReadStage(imp, dir / "out");
  return 0;
}
