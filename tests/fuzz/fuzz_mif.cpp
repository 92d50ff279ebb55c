// The MIF reader of the import on arbitrary files. The input is two files
// (fuzz_files.h): the .mif and the .mid. The flag byte: bit 0 degrees given
// (else the unit comes from the header), bit 1 loops allowed, bit 2 z-levels
// from fields 0 and 1 of the .mid, bit 3 a second list entry, the same file
// again. A run either reads every object or raises the library's error; a run
// that raised leaves no vertex file, and a finished one leaves vertex files
// that agree. The header reader alone must agree with the run about the file.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_files.h"
#include "fuzz_import.h"
#include "import/kovra_import_mif.h"

namespace fs = std::filesystem;
using namespace kovra::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const TTwoFiles in = SplitTwoFiles(data, size);
  const fs::path dir = ImportFolder("mif");
  const std::string mif = (dir / "in" / "roads.mif").string();
  WriteFile(mif, in.First);
  WriteFile(dir / "in" / "roads.mid", in.Second);

  try {
    const kovra::TMifHeader h = kovra::ReadMifHeader(mif);
    if (h.Size != int64_t(in.First.size()) || h.DataOffset < 0 || h.DataOffset > h.Size) std::abort();
  } catch (const kovra::Exception&) {
  }

  TReadOnlyImport imp;
  imp.Add(mif);
  if (in.Flags & 8) imp.Add(mif);
  if (in.Flags & 1) imp.SetCoordinateUnit(kovra::cuDeg);
  imp.SetAllowLoops((in.Flags & 2) != 0);
  if (in.Flags & 4) {
    imp.SetZFromField(0);
    imp.SetZToField(1);
  }
  RunReadStage(imp, dir / "out");
  return 0;
}
