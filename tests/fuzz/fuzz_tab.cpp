// The MapInfo TAB reader of the import on arbitrary files. The input holds a
// little-endian UInt32 length and the .map bytes, the same for the .id, one
// byte of settings (bit 0 z-levels from the .dat, bit 1 loops allowed, bit 2
// a NATIVEX table), then the .dat. The .tab names the two integer fields
// ZFROM and ZTO. A run either reads every row or raises the library's error;
// a run that raised leaves no vertex file, and a finished one leaves vertex
// files that agree.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_import.h"

namespace fs = std::filesystem;
using namespace kovra::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  const std::string_view map = TakePiece(in);
  const std::string_view id = TakePiece(in);
  const uint8_t flags = in.empty() ? 0 : uint8_t(in.front());
  if (!in.empty()) in.remove_prefix(1);
  const std::string_view dat = in;

  const fs::path dir = ImportFolder("tab");
  WriteFile(dir / "in" / "roads.tab", std::string("!table\n!version 300\n!charset WindowsLatin1\n\n") +
                                          "Definition Table\n  Type " + ((flags & 4) ? "NATIVEX" : "NATIVE") +
                                          " Charset \"WindowsLatin1\"\n  Fields 2\n    zfrom Integer ;\n"
                                          "    zto Integer ;\n");
  WriteFile(dir / "in" / "roads.map", map);
  WriteFile(dir / "in" / "roads.id", id);
  WriteFile(dir / "in" / "roads.dat", dat);

  TReadOnlyImport imp;
  imp.Add((dir / "in" / "roads.tab").string());
  imp.SetAllowLoops((flags & 2) != 0);
  if (flags & 1) {
    imp.SetZFromField(0);
    imp.SetZToField(1);
  }
  RunReadStage(imp, dir / "out");
  return 0;
}
