#include "app/core/studio_start.h"

#include "app/core/studio_common.h"
#include "giswriter/kovra_giswriter.h"
#include "search/kovra_spatialsearch.h"

namespace studio {

void LoadLibraries() {
  // Loads the library once; every later question gets the same answer.
  kovra::TGISWriter::MITAB_supported();
  kovra::RegisterSpatialSearch();
  // Alpha shapes: when the routing module offers its library loader, it is
  // registered here with kovra::SetAlphaShapeLoader and also called once
  // directly. The network would run it only at its first construction; a
  // present but broken library must stop the start instead, with its message.
}

void InitAppState() {
  TAppState& s = AppState();
  const std::string base = CommonAppDataFolder();
  s.DataFolder = base.empty() ? std::string() : base + cProgramName + "/";
  s.ProgramFolder = ExeFolder();
}

}  // namespace studio
