// Result writers of the network: every layer of a network carries its
// spatial reference, and every layer the network writes itself ends the same
// way (WriteOutput).
#include "giswriter/kovra_giswriter.h"
#include "network/kovra_network.h"

namespace kovra {

std::unique_ptr<TGISWriter> TNetwork::GISoutputInit(const std::string& filename, TGISFormat GF) const {
  std::unique_ptr<TGISWriter> w = fWriterFactory ? fWriterFactory(GF) : TGISWriter::GetGISObject(GF);
  // The in-memory table takes neither files nor a spatial reference: the
  // caller only points its GISarray somewhere.
  if (GF == gfArray) return w;
  w->CompactMIF = FcompactMIF;
  w->CoordSys = Fcoordsys;
  w->epsg = Fepsg;
  w->PRJ = Fprj;
  w->FileName = filename;
  if (!InSet(GISFormatsOwnCodepage, GF)) w->SetCodepage(FCodepage);
  return w;
}

int32_t TNetwork::WriteOutput(const std::string& filename, TGISFormat GF, TOutputTail Tail,
                              const std::function<void(TGISWriter& Writer)>& Produce) {
  std::unique_ptr<TGISWriter> w = GISoutputInit(filename, GF);
  w->GISarray = FGISarray.get();
  try {
    Produce(*w);
    w->Close();
  } catch (...) {
    // A half-written layer would pass for a result: take it away. The
    // producer's error is the one to report, not a second one from here.
    try {
      w->Drop();
    } catch (...) {
    }
    throw;
  }
  const int32_t written = w->WrittenRecords();
  if (Tail.DropEmpty && written == 0) w->Drop();
  if (Tail.ProgressZero) ProgressExecuteZero();
  if (GF == gfGeoJSON) FGeoJSON = std::move(w->GeoJSON);
  return written;
}

}  // namespace kovra
