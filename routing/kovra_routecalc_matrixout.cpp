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

void TRouteCalc::RMatrixDynOut(const std::string& filename, TGISFormat GF, TLocationList& LL1, TLocationList& LL2,
                               const TLabelList* SL1, const TLabelList* SL2, bool dist, bool time, bool cost,
                               bool directdist, bool symmetric, bool routeobject, bool nearestOpen) {
  LocationMatrixOut(filename, GF, LL1, LL2, SL1, SL2, dist, time, cost, directdist, symmetric, routeobject,
                    nearestOpen, false, 0, false);
}

void TRouteCalc::RMatrixPOut(const std::string& filename, TGISFormat GF, TLocationList& LL1, TLocationList& LL2,
                             const TLabelList* SL1, const TLabelList* SL2, bool dist, bool time, bool cost,
                             bool directdist, bool symmetric, bool routeobject, bool nearestOpen,
                             double offroadspeed, bool skiplinkbit) {
  LocationMatrixOut(filename, GF, LL1, LL2, SL1, SL2, dist, time, cost, directdist, symmetric, routeobject,
                    nearestOpen, true, offroadspeed, skiplinkbit);
}

void TRouteCalc::LocationMatrixOut(const std::string& filename, TGISFormat GF, TLocationList& LL1,
                                   TLocationList& LL2, const TLabelList* SL1, const TLabelList* SL2, bool dist,
                                   bool time, bool cost, bool directdist, bool symmetric, bool routeobject,
                                   bool nearestOpen, bool points, double offroadspeed, bool skiplinkbit) {
  const bool same = &LL1 == &LL2;
  FNW.CheckOpen();
  for (TLocationList* L : {&LL1, same ? nullptr : &LL2})
    if (L) points ? FNW.CheckLocationListP(*L) : FNW.CheckLocationList(*L);
  calcmatrix::CheckLabels(SL1, LL1.Count(), "LL1 and SL1 need to have same length");
  calcmatrix::CheckLabels(SL2, LL2.Count(), "LL2 and SL2 need to have same length");
  if (symmetric && !same) throw Exception("Symmetric is not possible when LL1 and LL2 are different");
  CheckValueColumns(time, cost);
  // NaN is refused too.
  if (points && !(offroadspeed >= 0)) throw Exception("Offroadspeed must be >= 0");
  TRestore<bool> g1(fShowRoute), g2(fCallRouteFind);
  TRestore<float> g3(foffroadspeed);
  TRestore<std::shared_ptr<TDoubleArray>> g4(fDist1), g5(fDist2);
  fShowRoute = routeobject && InSet(GISFormatsWithGeometry, GF);
  CheckNetwork(true);

  // The prepared locations go into the caller's lists; a failure later on
  // puts the lists back.
  calcmatrix::TListRestore keep1(LL1), keep2(LL2);
  foffroadspeed = 0;
  if (points) {
    foffroadspeed = float(offroadspeed);
    fDist1.reset();
    fDist2.reset();
    SnapMatrixPoints(LL1, LL2, nearestOpen, skiplinkbit);
  } else if (nearestOpen) {
    std::vector<TLocation> moved1, moved2;
    {
      TRestore<bool> smart(fS.FSmartInit);
      SetSmartInit(true);
      for (auto [L, moved] : {std::pair{&LL1, &moved1}, std::pair{same ? nullptr : &LL2, &moved2}}) {
        if (!L) continue;
        for (int32_t i = 0; i < L->Count(); ++i) {
          moved->push_back(L->GetItem(i).loc);
          MoveToNearestOpen(moved->back());
        }
      }
    }
    for (auto [L, moved] : {std::pair{&LL1, &moved1}, std::pair{same ? nullptr : &LL2, &moved2}}) {
      if (!L) continue;
      for (int32_t i = 0; i < L->Count(); ++i) {
        TLocationListItem it = L->GetItem(i);
        it.loc = (*moved)[size_t(i)];
        L->SetItem(i, it);
      }
    }
  }
  fCallRouteFind = RouteFindNeeded(fShowRoute, dist, time, cost);
  const bool legs = foffroadspeed != 0;

  FNW.WriteOutputTo(filename, GF, {.ProgressZero = true}, *FGISarray, FGeoJSON, *this, [&](TGISWriter& w) {
    if (points) w.SetOptimizePLinesSections(legs);
    calcmatrix::TPairColumns pc =
        calcmatrix::DeclarePairColumns(*this, w, SL1, SL2, dist, time, cost, directdist, fShowRoute);
    // Location rows always quote their labels.
    pc.bare1 = pc.bare2 = false;
    calcmatrix::TIncludeWindow window(*this, IncludeNodesFromLocations(LL1, same ? nullptr : &LL2));
    calcmatrix::TRowText text;
    const float maxcost = fS.FMaxCost;
    const TRouteCriteria rc = fS.FRouteCriteria;
    TRoute route;
    // WriteRMatrixRowDyn and WriteRMatrixRowP
    auto row = [&](int32_t i, int32_t j) {
      const TLocationListItem& o = LL1.GetItem(i);
      const TLocationListItem& d = LL2.GetItem(j);
      route = TRoute{};
      const float c = CellRouteDyn(o.loc, d.loc, fCallRouteFind ? &route : nullptr);
      const bool reached = c != -1;
      if (maxcost != 0 && (!reached || c > maxcost)) return;
      TRowValues v{-1, -1, -1};
      double d1 = 0, d2 = 0;
      if (reached) {
        v = RowValues(c, route, dist, time, cost);
        if (legs && (o.P.x != d.P.x || o.P.y != d.P.y)) {
          d1 = (*fDist1)[size_t(i)];
          d2 = (*fDist2)[size_t(j)];
          const double km = d1 + d2, minutes = km / double(foffroadspeed) * 60;
          v.Distance += km;
          v.Time += minutes;
          // The limit holds for the whole trip, asked for or not.
          if (maxcost != 0 && ((rc == rcDist && double(c) + km > double(maxcost)) ||
                               (rc == rcTime && double(c) + minutes > double(maxcost))))
            return;
        }
      }
      text.Clear();
      text.Add(IdText(SL1, i, false));
      text.Add(IdText(SL2, j, false));
      const double direct = directdist ? FNW.DistanceBetweenPoints_raw(FNW.Location2Coordinate_raw(o.loc, 0),
                                                                       FNW.Location2Coordinate_raw(d.loc, 0))
                                       : 0;
      calcmatrix::PairValuesText(*this, pc, v, reached, direct, text);
      if (!(fShowRoute && reached && c != 0)) {
        w.AddObject(0, false, text.Text());
        return;
      }
      TFloatPointArrayEx line = FNW.GetGISSectionRoute(route);
      const bool leg1 = legs && d1 > 0, leg2 = legs && d2 > 0;
      const TFloatPoint first = line.Pnt[0], last = line.Pnt[size_t(line.Count - 1)];
      w.AddObject(1 + int32_t(leg1) + int32_t(leg2), false, text.Text());
      int32_t part = 0;
      if (leg1) w.AddSection3(++part, o.P, first);
      w.AddSection(++part, line);
      if (leg2) w.AddSection3(++part, last, d.P);
    };
    calcmatrix::ForEachPair(*this, LL1.Count(), LL2.Count(), same, symmetric, row);
  });
  keep1.Commit();
  keep2.Commit();
}

}  // namespace kovra
