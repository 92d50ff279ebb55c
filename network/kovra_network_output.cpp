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

int32_t TNetwork::WriteOutputTo(const std::string& filename, TGISFormat GF, TOutputTail Tail, TGISArray& Table,
                                std::string& GeoJSON, TProgress& Progress,
                                const std::function<void(TGISWriter& Writer)>& Produce) const {
  std::unique_ptr<TGISWriter> w = GISoutputInit(filename, GF);
  w->GISarray = &Table;
  int32_t written = 0;
  try {
    Produce(*w);
    w->Close();
    written = w->WrittenRecords();
    if (Tail.DropEmpty && written == 0) w->Drop();
    // A progress handler that raises here fails the call: no layer is left
    // that the caller would have to tell from a result.
    if (Tail.ProgressZero) Progress.ProgressExecuteZero();
  } catch (...) {
    // A half-written layer would pass for a result: take it away. The
    // producer's error is the one to report, not a second one from here.
    try {
      w->Drop();
    } catch (...) {
    }
    throw;
  }
  if (GF == gfGeoJSON) GeoJSON = std::move(w->GeoJSON);
  return written;
}

int32_t TNetwork::WriteOutput(const std::string& filename, TGISFormat GF, TOutputTail Tail,
                              const std::function<void(TGISWriter& Writer)>& Produce) {
  return WriteOutputTo(filename, GF, Tail, *FGISarray, FGeoJSON, *this, Produce);
}

}  // namespace kovra
