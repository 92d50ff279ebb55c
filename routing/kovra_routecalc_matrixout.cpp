// TRouteCalc's route-matrix outputs: one row per origin-destination pair,
// each from its own point-to-point route, written through the network's
// output frame (the writer is always freed; a failure drops the layer).
#include <functional>

#include "routing/kovra_calc.h"
#include "routing/kovra_calc_matrix.h"

namespace kovra {

using calcmatrix::IdText;
using calcmatrix::TRestore;


void TRouteCalc::RMatrixOut(const std::string& filename, TGISFormat GF, const TIntegerList& NL1,
                            const TIntegerList& NL2, const TLabelList* SL1, const TLabelList* SL2, bool dist,
                            bool time, bool cost, bool directdist, bool symmetric, bool routeobject) {
  FNW.CheckOpen();
  FNW.CheckNodeList(NL1);
  FNW.CheckNodeList(NL2);
  calcmatrix::CheckLabels(SL1, NL1.Count(), "NL1 and SL1 need to have same length");
  calcmatrix::CheckLabels(SL2, NL2.Count(), "NL2 and SL2 need to have same length");
  const bool same = &NL1 == &NL2;
  if (symmetric && !same) throw Exception("Symmetric is not possible when NL1 and NL2 are different");
  CheckValueColumns(time, cost);
  TRestore<bool> g1(fShowRoute), g2(fCallRouteFind);
  fShowRoute = routeobject && InSet(GISFormatsWithGeometry, GF);
  CheckNetwork(true);
  fCallRouteFind = RouteFindNeeded(fShowRoute, dist, time, cost);
  FNW.WriteOutputTo(filename, GF, {.ProgressZero = true}, *FGISarray, FGeoJSON, *this, [&](TGISWriter& w) {
    const calcmatrix::TPairColumns pc =
        calcmatrix::DeclarePairColumns(*this, w, SL1, SL2, dist, time, cost, directdist, fShowRoute);
    calcmatrix::TIncludeWindow window(*this, IncludeNodesFromNodes(NL1, same ? nullptr : &NL2));
    calcmatrix::TRowText text;
    const float maxcost = fS.FMaxCost;
    // WriteRMatrixRow
    auto row = [&](int32_t i, int32_t j) {
      const int32_t a = NL1.GetItem(i), b = NL2.GetItem(j);
      const float c = CellRoute(a, b);
      const bool reached = c != -1;
      if (maxcost != 0 && (!reached || c > maxcost)) return;
      TRoute route;
      TRowValues v{-1, -1, -1};
      if (reached) {
        // The same node is a route of nothing: no labels are read for it.
        if (a == b) v = TRowValues{};
        else {
          if (fCallRouteFind) route = ExtractRoute(b);
          v = RowValues(c, route, dist, time, cost);
        }
      }
      text.Clear();
      text.Add(IdText(SL1, i, pc.bare1));
      text.Add(IdText(SL2, j, pc.bare2));
      calcmatrix::PairValuesText(*this, pc, v, reached, directdist ? FNW.DistanceBetweenNodes_raw(a, b) : 0, text);
      if (fShowRoute && reached && c != 0 && a != b) {
        TFloatPointArrayEx line = FNW.GetGISSectionRoute(route);
        w.AddObject(1, false, text.Text());
        w.AddSection(1, line);
      } else {
        w.AddObject(0, false, text.Text());
      }
    };
    calcmatrix::ForEachPair(*this, NL1.Count(), NL2.Count(), same, symmetric, row);
  });
}

}  // namespace kovra
