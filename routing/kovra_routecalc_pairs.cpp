// TRouteCalc's route pairs: trip i from item i of LL1 to item i of LL2, one
// location route and one row per trip. The caller's lists never change.
#include <optional>

#include "routing/kovra_calc.h"
#include "routing/kovra_calc_matrix.h"
#include "search/kovra_spatialsearch.h"

namespace kovra {

using calcmatrix::DurationText;
using calcmatrix::IdText;
using calcmatrix::InUnit;
using calcmatrix::TRestore;

void TRouteCalc::RoutePairs(const std::string& filename, TGISFormat GF, const TLocationList& LL1,
                            const TLocationList& LL2, const TLabelList* SL1, const TLabelList* SL2, bool dist,
                            bool time, bool cost, bool directdist, bool routeobject, bool nearestopen) {
  RoutePairsRun(filename, GF, LL1, LL2, SL1, SL2, dist, time, cost, directdist, routeobject, nearestopen, false, 0);
}

void TRouteCalc::RoutePairsP(const std::string& filename, TGISFormat GF, const TLocationList& LL1,
                             const TLocationList& LL2, const TLabelList* SL1, const TLabelList* SL2, bool dist,
                             bool time, bool cost, bool directdist, bool routeobject, bool nearestopen,
                             double offroadspeed) {
  RoutePairsRun(filename, GF, LL1, LL2, SL1, SL2, dist, time, cost, directdist, routeobject, nearestopen, true,
                offroadspeed);
}

void TRouteCalc::RoutePairsRun(const std::string& filename, TGISFormat GF, const TLocationList& LL1,
                               const TLocationList& LL2, const TLabelList* SL1, const TLabelList* SL2, bool dist,
                               bool time, bool cost, bool directdist, bool routeobject, bool nearestopen,
                               bool points, double offroadspeed) {
  CheckNetwork(true);
  for (const TLocationList* L : {&LL1, &LL2}) points ? FNW.CheckLocationListP(*L) : FNW.CheckLocationList(*L);
  if (LL1.Count() != LL2.Count()) throw Exception("LL1 and LL2 need to have same length");
  calcmatrix::CheckLabels(SL1, LL1.Count(), "LL1 and SL1 need to have same length");
  calcmatrix::CheckLabels(SL2, LL2.Count(), "LL2 and SL2 need to have same length");
  const bool timeText = fS.FTimeFormatAsString;
  CheckValueColumns(time || timeText, cost);
  // A negative speed would draw legs it never counts; NaN is refused too.
  if (points && !(offroadspeed >= 0)) throw Exception("Offroadspeed must be >= 0");
  const bool geometry = routeobject && InSet(GISFormatsWithGeometry, GF);
  std::optional<TSpatialSearch> search;
  if (points) {
    search.emplace(FNW);
    CheckSearchIndex(*search);
  }
  const bool labels = SL1 || SL2;

  FNW.WriteOutputTo(filename, GF, {.ProgressZero = true}, *FGISarray, FGeoJSON, *this, [&](TGISWriter& w) {
    if (points) w.SetOptimizePLinesSections(true);
    w.Pen = fS.fMIPen;
    w.StartHeader((labels ? 2 : 1) + int32_t(dist) + int32_t(time) + int32_t(timeText) + int32_t(cost) +
                      int32_t(directdist),
                  geometry ? otPline : otNone);
    bool bare1 = true, bare2 = true;
    if (!labels) {
      AddIDField(w, "ID", nullptr);
    } else {
      bare1 = AddIDField(w, "ID_from", SL1) == gfInteger;
      bare2 = AddIDField(w, "ID_to", SL2) == gfInteger;
    }
    if (dist) w.AddField("Distance", gfFloat, 0, 0);
    if (time) w.AddField("Time", gfFloat, 0, 0);
    if (timeText) w.AddField("TimeAsText", gfChar, 12, 0);
    if (cost) w.AddField("Cost", gfFloat, 0, 0);
    if (directdist) w.AddField("DirectDist", gfFloat, 0, 0);

    SetProgressStart(0);
    SetProgressStop(100);
    SetProgressMaxValue(LL1.Count());
    calcmatrix::TRowText text;
    TRoute route;
    const TDistanceUnit unit = fS.FDistanceUnit;
    for (int32_t i = 0; i < LL1.Count(); ++i) {
      ProgressExecute(i);
      const TLocationListItem& o = LL1.GetItem(i);
      const TLocationListItem& d = LL2.GetItem(i);
      TLocation loc1 = points ? search->NearestLocationSimple(o.P) : o.loc;
      TLocation loc2 = points ? search->NearestLocationSimple(d.P) : d.loc;
      double speed = offroadspeed;
      if (nearestopen) {
        TRestore<bool> smart(fS.FSmartInit);
        SetSmartInit(true);
        // A moved end is reached on the road: no leg is driven off it.
        if (MoveToNearestOpen(loc1)) speed = 0;
        if (MoveToNearestOpen(loc2)) speed = 0;
      }
      const float c = RouteDynEx(loc1, loc2, route);
      const bool reached = c != -1;
      TRowValues v{-1, -1, -1};
      if (reached) {
        v = RowValues(c, route, dist, time || timeText, cost);
        if (points && speed > 0) {
          const double w1 = FNW.DistanceBetweenPoints_raw(o.P, FNW.Location2Coordinate_raw(loc1, 0));
          const double w2 = FNW.DistanceBetweenPoints_raw(d.P, FNW.Location2Coordinate_raw(loc2, 0));
          v.Distance += w1 + w2;
          v.Time += (w1 + w2) / speed * 60;
        }
      }
      text.Clear();
      if (!labels) {
        text.Add(IntToStr(i));
      } else {
        text.Add(IdText(SL1, i, bare1));
        text.Add(IdText(SL2, i, bare2));
      }
      if (dist) text.Add(FloatToStrDecimals(InUnit(v.Distance, unit, reached), fS.fDecimalsDist));
      if (time) text.Add(FloatToStrDecimals(v.Time, fS.fDecimalsTime));
      if (timeText) text.Add(DurationText(v.Time));
      if (cost) text.Add(FloatToStrDot(v.Cost));
      if (directdist) {
        const double km = points ? FNW.DistanceBetweenPoints_raw(o.P, d.P)
                                 : FNW.DistanceBetweenPoints_raw(FNW.Location2Coordinate_raw(o.loc, 0),
                                                                 FNW.Location2Coordinate_raw(d.loc, 0));
        text.Add(FloatToStrDecimals(InUnit(km, unit, true), fS.fDecimalsDist));
      }
      if (!(geometry && reached && !RouteIsPoint(route))) {
        w.AddObject(0, false, text.Text());
        continue;
      }
      TFloatPointArrayEx line = FNW.GetGISSectionRoute(route);
      if (points && speed != 0) {
        const TFloatPoint first = line.Pnt[0], last = line.Pnt[size_t(line.Count - 1)];
        w.AddObject(3, false, text.Text());
        w.AddSection3(1, o.P, first);
        w.AddSection(2, line);
        w.AddSection3(3, last, d.P);
      } else {
        w.AddObject(1, false, text.Text());
        w.AddSection(1, line);
      }
    }
  });
}

}  // namespace kovra
