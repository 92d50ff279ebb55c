// kovra-import: imports GIS files (.shp, .mif or .tab) into a network
// directory and prints the import report. Run with --help for the options.
#include <array>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "../common/example_args.h"
#include "../common/example_progress.h"
#include "foundation/kovra_configfile.h"
#include "foundation/kovra_functions.h"
#include "import/kovra_import.h"

namespace {

using kovra::example::TArgError;

const char* const cHelp =
    "usage: kovra-import -o OUTDIR [options] INPUT...\n"
    "\n"
    "Imports road lines from ESRI shapefiles (.shp with .shx, .dbf, .prj),\n"
    "MapInfo MIF/MID files (.mif) or MapInfo tables (.tab with .map, .id, .dat)\n"
    "into the network directory OUTDIR and prints its import report\n"
    "(network_report.txt). All INPUT files are of one kind; every object becomes\n"
    "one link, numbered 1, 2, ... over the files in the order given.\n"
    "\n"
    "  -o OUTDIR       the network directory; made (with its parents) when missing.\n"
    "                  A network already there is replaced only when the import\n"
    "                  succeeds.\n"
    "  --zfrom N       0-based field number of the z-level at each link's start\n"
    "  --zto N         0-based field number of the z-level at its end. Both or\n"
    "                  neither; with them, link ends meet only where their\n"
    "                  z-levels are equal. Default: no z-levels.\n"
    "  --unit NAME     coordinate unit when the input does not say: Meter,\n"
    "                  Kilometer, Degrees, Feet, ... Default: from the .prj, the\n"
    "                  MIF CoordSys or the .map.\n"
    "  --loops         keep links that start and end at one node (loop links);\n"
    "                  default: they are rejected and listed in the report.\n"
    "                  Routing refuses a network with loop links.\n"
    "  --key K         encryption key (a whole number); the same key must be\n"
    "                  given to open the network. Default 0: plain files.\n"
    "  --skip-index    no spatial index (spatialindex.bin): faster, but nothing\n"
    "                  can snap points to the network (kovra-route needs it).\n"
    "  -h, --help      this text.\n"
    "\n"
    "Exit status: 0 when a network was written; 1 when the import failed or no\n"
    "object could be used (nothing is written then); 2 for a wrong call (nothing\n"
    "is created). Progress goes to standard error when the import takes longer\n"
    "than a second.\n"
    "\n"
    "examples:\n"
    "  kovra-import -o mynet roads.shp\n"
    "  kovra-import -o mynet --zfrom 3 --zto 4 part1.mif part2.mif\n"
    "  kovra-import -o mynet --unit Feet --loops roads.shp\n";

const char* PhaseOf(int32_t Percent) {
  // The shares of the import run: reading up to 26 %, then the build.
  if (Percent < 26) return "reading";
  if (Percent < 54) return "lengths and nodes";
  if (Percent < 67) return "links";
  if (Percent < 71) return "nodes";
  return "spatial index";
}

const char* ReasonOf(kovra::TErrorCode Code) {
  switch (Code) {
    case kovra::ecDeleted: return "deleted";
    case kovra::ecNotGeoCoded: return "without geometry";
    case kovra::ecNotPolyLine: return "not a line";
    case kovra::ecMultiSection: return "of several sections";
    case kovra::ecZeroOrOneVertices: return "of fewer than two vertices";
    case kovra::ecLoopLink: return "loop links (see --loops)";
    case kovra::ecTooManyVertices: return "of more than 65535 vertices";
    case kovra::ecInvalidGeography: return "of invalid geography";
    case kovra::ecSinglePoint: return "single points";
  }
  return "unusable";
}

// Why a run that raised nothing wrote no network.
std::string NoNetworkReason(const kovra::TImport& Imp) {
  const kovra::TImportErrorList& errors = Imp.ImportErrorList();
  if (Imp.LinkCount() == 0) return "the input holds no object";
  std::array<int32_t, 9> count{};
  for (int32_t i = 0; i < errors.Count(); ++i) ++count[size_t(errors.GetItem(i).errorcode)];
  std::string s = "none of the " + std::to_string(Imp.LinkCount()) + " objects can be used:";
  const char* sep = " ";
  for (size_t c = 0; c < count.size(); ++c)
    if (count[c] > 0) {
      s += sep + std::to_string(count[c]) + " " + ReasonOf(kovra::TErrorCode(c));
      sep = ", ";
    }
  return s;
}

// The topmost folder of Dir that does not exist yet (empty when Dir exists):
// what the run creates and must take away again when it writes nothing.
std::filesystem::path FirstMissing(const std::filesystem::path& Dir) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path missing;
  for (fs::path p = fs::absolute(Dir).lexically_normal(); !p.empty() && !fs::exists(p, ec); p = p.parent_path()) {
    missing = p;
    if (p == p.parent_path()) break;
  }
  return missing;
}

int Main(int argc, char** argv) {
  kovra::TImport imp;
  std::string out;
  std::vector<std::string> inputs;
  bool zfrom = false, zto = false;
  kovra::example::TArgs args(argc, argv);
  while (args.More()) {
    const std::string a = args.Next();
    if (a == "-o") out = args.Value(a);
    else if (a == "--zfrom") {
      imp.SetZFromField(int32_t(args.Int(a, 0, 65535)));
      zfrom = true;
    } else if (a == "--zto") {
      imp.SetZToField(int32_t(args.Int(a, 0, 65535)));
      zto = true;
    } else if (a == "--unit") {
      const std::string name = args.Value(a);
      const kovra::TCoordinateUnit cu = kovra::CoordinateUnitFromName(name);
      if (cu == kovra::cuUnknown) throw TArgError("--unit: unknown unit " + name);
      imp.SetCoordinateUnit(cu);
    } else if (a == "--loops") imp.SetAllowLoops(true);
    else if (a == "--key") imp.SetEncryptionKey(args.Int(a, INT64_MIN, INT64_MAX));
    else if (a == "--skip-index") imp.SetSkipSpatialIndex(true);
    else if (a.size() > 1 && a[0] == '-') kovra::example::UnknownOption(a);
    else inputs.push_back(a);
  }
  if (out.empty()) throw TArgError("-o OUTDIR is missing");
  if (inputs.empty()) throw TArgError("no INPUT file given");
  if (zfrom != zto) throw TArgError(zfrom ? "--zfrom needs --zto" : "--zto needs --zfrom");
  for (const std::string& f : inputs) kovra::example::RequireFile("INPUT", f);
  {
    std::error_code ec;
    if (std::filesystem::exists(out, ec) && !std::filesystem::is_directory(out, ec))
      throw TArgError("-o: not a folder: " + out);
  }

  // The import checks its whole request before it writes anything, but needs
  // the folder; one made here goes again when the run writes no network.
  const std::filesystem::path made = FirstMissing(out);
  std::filesystem::create_directories(out);
  auto unmake = [&] {
    std::error_code ec;
    if (!made.empty()) std::filesystem::remove_all(made, ec);
  };
  kovra::example::TProgressLine progress("kovra-import", PhaseOf);
  try {
    imp.SetDirectory(out);
    imp.AddFiles(inputs);
    imp.SetOnProgress(progress.Handler());
    imp.Execute();
    progress.Finish();
    // A run that found no usable object leaves the folder as it was.
    if (imp.NodeCount() == 0) throw kovra::Exception("no network was written: " + NoNetworkReason(imp));
    imp.CreateReport();
  } catch (...) {
    progress.Finish();
    unmake();
    throw;
  }
  // The report is cp1252; print it as it stands.
  std::FILE* f = std::fopen((imp.Directory() + "network_report.txt").c_str(), "rb");
  if (!f) throw kovra::Exception("cannot read " + imp.Directory() + "network_report.txt");
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) std::fwrite(buf, 1, n, stdout);
  std::fclose(f);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return kovra::example::Run("kovra-import", cHelp, argc, argv, [&] { return Main(argc, argv); });
}
