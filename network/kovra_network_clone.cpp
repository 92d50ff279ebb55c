// Cloning: the clone gets its own copy of everything it may change (arrays,
// attribute words, columns, limits, turn sets, cul-de-sac bits); what never
// changes once loaded (the quadtree, cached intermediate vertices, road-name
// bytes) and the external-id reader are shared.
#include "network/kovra_coord3file.h"
#include "network/kovra_externid.h"
#include "network/kovra_network.h"
#include "network/kovra_quadtree.h"
#include "network/kovra_roadnamefile.h"
#include "network/kovra_turn.h"

namespace kovra {

void TNetwork::Clone(TNetwork& v) const {
  if (&v == this) return;
  CheckOpen();
  v.Close();
  try {
    v.fEncryptionKey = fEncryptionKey;
    v.fDirectory = fDirectory;
    v.FCoordinateUnit = FCoordinateUnit;
    v.Fepsg = Fepsg;
    v.Fprj = Fprj;
    v.Fcoordsys = Fcoordsys;
    v.FCodepage = FCodepage;
    v.Fmaxdegree = Fmaxdegree;
    v.FexternalID = FexternalID;
    v.FCoordinateWindow = FCoordinateWindow;
    v.Fmbr = Fmbr;
    v.FmbrX = FmbrX;
    v.FcompactMIF = FcompactMIF;
    v.fLoopLinks = fLoopLinks;
    v.FDistfactor = FDistfactor;
    v.FLinkCount = FLinkCount;
    v.FNodeCount = FNodeCount;
    v.FX = FX;
    v.FY = FY;
    v.Fromnode = Fromnode;
    v.tonode = tonode;
    v.FAdjacency = FAdjacency;
    v.FDegree = FDegree;
    v.FGroupBase = FGroupBase;
    v.a = a;
    FCDS.Clone(v.FCDS);
    if (FCoord3file) {
      v.FCoord3file = std::make_unique<TCoord3File>();
      FCoord3file->Clone(*v.FCoord3file);
    }
    if (FQuadtree) {
      v.FQuadtree = std::make_unique<TQuadTree>();
      FQuadtree->Clone(*v.FQuadtree);
    }
    v.FLength = FLength;
    v.Fattribute = Fattribute;
    // Every row as long as the first, as the columns are made.
    const auto copyColumns = [](const TMatrix& from, TMatrix& to) {
      to.assign(from.size(), TCostArray());
      for (size_t i = 0; i < from.size(); ++i) {
        to[i] = from[i];
        to[i].resize(from[0].size());
      }
    };
    copyColumns(FTime, v.FTime);
    copyColumns(FCost, v.FCost);
    for (const auto& set : FTurnList) {
      auto copy = std::make_unique<TTurnRestrictions>(FLinkCount);
      set->Clone(*copy);
      v.FTurnList.push_back(std::move(copy));
    }
    for (int32_t id = 1; id <= cMaxRoadNameFiles; ++id)
      if (FRoadNameFiles[size_t(id)]) {
        auto copy = std::make_unique<TRoadNameFile>();
        FRoadNameFiles[size_t(id)]->Clone(*copy);
        v.FRoadNameFiles[size_t(id)] = std::move(copy);
      }
    v.FlimitX = FlimitX;
    v.FlimitA = FlimitA;
    v.FlimitBP = FlimitBP;
    v.FLengthAlpha = FLengthAlpha;
    v.FTimeAlpha = FTimeAlpha;
    v.FCostAlpha = FCostAlpha;
    v.FTimeAlphaUpdateNeeded = FTimeAlphaUpdateNeeded;
    v.FCostAlphaUpdateNeeded = FCostAlphaUpdateNeeded;
    v.fTag = fTag;
    v.FDuplicates = FDuplicates;
    FAreaList.Clone(v.FAreaList);
    v.fIsOpen = true;
    ++v.fOpenGeneration;
    v.AttributeChanged();
    // The copy's adjacency equals this one's: a current search graph is
    // shared, under the copy's own opening and attribute version.
    std::lock_guard<std::mutex> lock(fSearchGraphLock);
    if (fSearchGraph && fSearchGraphOpen == fOpenGeneration && fSearchGraphAttributes == fAttributeVersion) {
      std::lock_guard<std::mutex> lockV(v.fSearchGraphLock);
      v.fSearchGraph = fSearchGraph;
      v.fSearchGraphOpen = v.fOpenGeneration;
      v.fSearchGraphAttributes = v.fAttributeVersion;
    }
  } catch (...) {
    v.Release();
    throw;
  }
}

}  // namespace kovra
