// TRouteCalc: creation, its own settings, the A* factor of a search and the
// cul-de-sac test of a route's ends.
#include <cmath>

#include "routing/kovra_calc.h"

namespace kovra {

TRouteCalc::TRouteCalc(TNetwork& NW, bool Turnmode) : TCalc(NW, Turnmode) {}

void TRouteCalc::SetAlpha(float value) {
  // A negative or non-finite weight makes the key non-monotone: the search
  // would still end, with an arbitrary result.
  if (!(std::isfinite(value) && value >= 0)) return;
  FXAlpha = value;
}

void TRouteCalc::SetHierarchyLevel(double h2, double h3, double h4, double h5) {
  if (!(h2 >= h3 && h3 >= h4 && h4 >= h5 && h5 > 0)) return;
  fS.FLevelLimit = {h2, h3, h4, h5};
}

void TRouteCalc::SetSkipNodeList(const TBitArray* list) {
  FNW.CheckOpen();
  if (list && list->Size() != int64_t(FNW.NodeCount()) + 1) throw Exception(cMsgSkipNodeListSize);
  FSkipNodeList = list;
}

// The network's lower-bound factor of the criterion times Alpha. A factor
// flagged stale (a time or cost was lowered since it was computed) would
// overestimate and let A* settle the target through a dearer route, so the
// calculator computes it for the columns as they are and keeps it for their
// version. The network is only read: calculators on one network may search
// on several threads at once.
void TRouteCalc::UpdateAlpha() {
  auto fresh = [&](TFactorCache& cache, bool time) {
    if (!cache.valid || cache.open != FNW.OpenGeneration() || cache.columns != FNW.ColumnVersion()) {
      cache.factor = FNW.ComputeAlpha(time);
      cache.open = FNW.OpenGeneration();
      cache.columns = FNW.ColumnVersion();
      cache.valid = true;
    }
    return cache.factor;
  };
  float factor;
  switch (fS.FRouteCriteria) {
    case rcTime:
      factor = FNW.TimeAlphaUpdateNeeded() ? fresh(fTimeFactor, true) : FNW.TimeAlpha();
      break;
    case rcCost:
      factor = FNW.CostAlphaUpdateNeeded() ? fresh(fCostFactor, false) : FNW.CostAlpha();
      break;
    default:
      factor = FNW.LengthAlpha();
      break;
  }
  fS.Falpha = float(double(factor) * double(FXAlpha));
}

// Every link at the node is a cul-de-sac link; a node without links counts.
bool TRouteCalc::IsCulDeSacNode(int32_t node) const {
  const TBitArray& cds = FNW.CulDeSacs();
  for (const int32_t e : FNW.Adjacent(node))
    if (!cds.GetBit(e < 0 ? -e : e)) return false;
  return true;
}

}  // namespace kovra
