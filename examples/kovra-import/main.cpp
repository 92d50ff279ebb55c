// kovra-import: imports GIS files (.shp, .mif or .tab) into a network
// directory and prints the import report.
//
//   kovra-import -o OUTDIR [--zfrom N --zto N] [--unit NAME] [--loops]
//                [--key K] [--skip-index] INPUT...
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "foundation/kovra_configfile.h"
#include "foundation/kovra_functions.h"
#include "import/kovra_import.h"

namespace {

int Usage() {
  std::cerr << "usage: kovra-import -o OUTDIR [--zfrom N --zto N] [--unit NAME] [--loops] [--key K]\n"
               "                    [--skip-index] INPUT...\n"
               "  --unit: a coordinate unit name (Meter, Degrees, Feet, ...); default from the input\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  kovra::TImport imp;
  std::string out;
  std::vector<std::string> inputs;
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string a = argv[i];
      auto value = [&]() -> std::string {
        if (i + 1 >= argc) throw kovra::Exception("missing value after " + a);
        return argv[++i];
      };
      if (a == "-o") out = value();
      else if (a == "--zfrom") imp.SetZFromField(kovra::StrToInt(value()));
      else if (a == "--zto") imp.SetZToField(kovra::StrToInt(value()));
      else if (a == "--unit") {
        const std::string name = value();
        const kovra::TCoordinateUnit cu = kovra::CoordinateUnitFromName(name);
        if (cu == kovra::cuUnknown) throw kovra::Exception("unknown unit " + name);
        imp.SetCoordinateUnit(cu);
      } else if (a == "--loops") imp.SetAllowLoops(true);
      else if (a == "--key") imp.SetEncryptionKey(kovra::StrToInt64(value()));
      else if (a == "--skip-index") imp.SetSkipSpatialIndex(true);
      else if (a.rfind("-", 0) == 0) return Usage();
      else inputs.push_back(a);
    }
    if (out.empty() || inputs.empty()) return Usage();
    std::filesystem::create_directories(out);
    imp.SetDirectory(out);
    imp.AddFiles(inputs);
    imp.Execute();
    imp.CreateReport();
  } catch (const std::exception& e) {
    std::cerr << "kovra-import: " << e.what() << "\n";
    return 1;
  }
  // The report is cp1252; print it as it stands.
  std::FILE* f = std::fopen((imp.Directory() + "network_report.txt").c_str(), "rb");
  if (!f) return 1;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) std::fwrite(buf, 1, n, stdout);
  std::fclose(f);
  return 0;
}
