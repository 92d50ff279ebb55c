// What the matrix outputs share: the id columns, the value columns' checks
// and values, the move onto an open link and the snapping of points.
#include <algorithm>
#include <functional>
#include <vector>

#include "routing/kovra_calc.h"
#include "routing/kovra_calc_matrix.h"
#include "search/kovra_spatialsearch.h"

namespace kovra {

TGISField TCalc::AddIDField(TGISWriter& W, const std::string& Name, const TLabelList* SL) const {
  if (!SL) {
    W.AddField(Name, gfInteger, 0, 0);
    return gfInteger;
  }
  int32_t width = 0;
  const TGISField f = W.SL2GISField(*SL, width);
  // The field record holds one byte; the writers cap a wider text column.
  W.AddField(Name, f, uint8_t(std::min(width, 254)), 0);
  return f;
}

void TCalc::CheckValueColumns(bool time, bool cost) const {
  FNW.CheckOpen();
  // The slots as they name the network's columns now: the flags the setters
  // kept may be stale after a reopening or after columns were created.
  if (time) {
    const int64_t times = int64_t(FNW.Times().size());
    auto bad = [times](int32_t t) { return !(0 <= t && t < times); };
    if (std::any_of(fS.FTimeFT.begin(), fS.FTimeFT.end(), bad) ||
        std::any_of(fS.FTimeTF.begin(), fS.FTimeTF.end(), bad))
      throw Exception(cMsgTimeArraysNotSetup);
  }
  if (cost) {
    const int64_t costs = int64_t(FNW.Costs().size());
    if (!(0 <= fS.FCostFT && fS.FCostFT < costs && 0 <= fS.FCostTF && fS.FCostTF < costs))
      throw Exception(cMsgCostArraysNotSetup);
  }
}

bool TCalc::RouteFindNeeded(bool showRoute, bool dist, bool time, bool cost) const {
  if (showRoute) return true;
  switch (fS.FRouteCriteria) {
    case rcTime: return dist || cost;
    case rcCost: return dist || time;
    default: return time || cost;
  }
}

TCalc::TRowValues TCalc::RowValues(float c, const TRoute& route, bool dist, bool time, bool cost) const {
  TRowValues v;
  const TRouteCriteria rc = fS.FRouteCriteria;
  if (dist) v.Distance = rc == rcDist ? double(c) : double(FNW.RouteLength(route));
  if (time) v.Time = rc == rcTime ? double(c) : double(RouteTime(route));
  if (cost) v.Cost = rc == rcCost ? double(c) : double(RouteCost(route));
  return v;
}

bool TCalc::MoveToNearestOpen(TLocation& loc) {
  int32_t node = 0, link = 0;
  float cost = 0;
  NearestOpenDyn(loc, node, link, cost);
  if (link == 0 || link == loc.link) return false;
  loc = TLocation{link, FNW.Link2FromNode(link) == node ? 0.0 : 1.0};
  return true;
}

void TCalc::CheckSearchIndex(const TSpatialSearch& s) const { s.CheckSpatialIndex(); }

void TCalc::SnapMatrixPoints(TLocationList& LL1, TLocationList& LL2, bool nearestOpen, bool skiplinkbit) {
  const bool same = &LL1 == &LL2;
  TSpatialSearch search(FNW);
  TBitArray skip;
  if (skiplinkbit) {
    FNW.SkipLinks2BitArray(skip);
    search.SetSkipLinks(&skip);
  }
  const bool legs = foffroadspeed != 0;
  struct TSnapped {
    std::vector<TLocation> locs;
    std::shared_ptr<TDoubleArray> dist;
  };
  auto snap = [&](const TLocationList& LL) {
    TSnapped s;
    s.locs.resize(size_t(LL.Count()));
    if (legs) s.dist = std::make_shared<TDoubleArray>(size_t(LL.Count()));
    for (int32_t i = 0; i < LL.Count(); ++i) {
      const TFloatPoint P = LL.GetItem(i).P;
      if (legs) {
        int32_t side = 0;
        TFloatPoint Pnew{};
        search.NearestLocation(P, s.locs[size_t(i)], side, (*s.dist)[size_t(i)], Pnew);
      } else {
        s.locs[size_t(i)] = search.NearestLocationSimple(P);
      }
    }
    return s;
  };
  TSnapped s1 = snap(LL1);
  TSnapped s2 = same ? TSnapped{} : snap(LL2);
  if (nearestOpen) {
    calcmatrix::TRestore<bool> smart(fS.FSmartInit);
    SetSmartInit(true);
    for (TSnapped* s : {&s1, &s2})
      for (size_t i = 0; i < s->locs.size(); ++i)
        if (MoveToNearestOpen(s->locs[i]) && s->dist) (*s->dist)[i] = 0;
  }
  // Nothing can fail from here on.
  auto put = [](TLocationList& LL, const TSnapped& s) {
    for (int32_t i = 0; i < LL.Count(); ++i) {
      TLocationListItem it = LL.GetItem(i);
      it.loc = s.locs[size_t(i)];
      LL.SetItem(i, it);
    }
  };
  put(LL1, s1);
  if (!same) put(LL2, s2);
  if (legs) {
    fDist1 = s1.dist;
    fDist2 = same ? s1.dist : s2.dist;
  }
}

namespace calcmatrix {

void CheckLabels(const TCalc::TLabelList* SL, int32_t count, const char* message) {
  if (SL && int64_t(SL->size()) != int64_t(count)) throw Exception(message);
}

TPairColumns DeclarePairColumns(const TCalc& C, TGISWriter& W, const TCalc::TLabelList* SL1,
                                const TCalc::TLabelList* SL2, bool dist, bool time, bool cost, bool directdist,
                                bool geometry) {
  TPairColumns pc{dist, time, cost, directdist, C.TimeFormatAsString()};
  W.Pen = C.MIPen();
  W.StartHeader(2 + int32_t(dist) + int32_t(time) + int32_t(cost) + int32_t(directdist), geometry ? otPline : otNone);
  pc.bare1 = C.AddIDField(W, "ID_from", SL1) == gfInteger;
  pc.bare2 = C.AddIDField(W, "ID_to", SL2) == gfInteger;
  if (dist) W.AddField("Distance", gfFloat, 0, 0);
  if (time) {
    if (pc.timeText) W.AddField("Time", gfChar, 12, 0);
    else W.AddField("Time", gfFloat, 0, 0);
  }
  if (cost) W.AddField("Cost", gfFloat, 0, 0);
  if (directdist) W.AddField("DirectDist", gfFloat, 0, 0);
  return pc;
}

void PairValuesText(const TCalc& C, const TPairColumns& pc, const TCalc::TRowValues& v, bool reached,
                    double directKm, calcmatrix::TRowText& text) {
  const TDistanceUnit unit = C.DistanceUnit();
  if (pc.dist) text.Add(FloatToStrDecimals(InUnit(v.Distance, unit, reached), C.DecimalsDist()));
  if (pc.time) text.Add(pc.timeText ? DurationText(v.Time) : FloatToStrDecimals(v.Time, C.DecimalsTime()));
  if (pc.cost) text.Add(FloatToStrDot(v.Cost));
  if (pc.directdist) text.Add(FloatToStrDecimals(InUnit(directKm, unit, true), C.DecimalsDist()));
}

void ForEachPair(TProgress& P, int32_t n1, int32_t n2, bool same, bool symmetric,
                 const std::function<void(int32_t, int32_t)>& Row) {
  P.SetProgressStart(0);
  P.SetProgressStop(100);
  int64_t done = 0;
  if (symmetric) {
    P.SetProgressMaxValue(double(n1) * double(n1 - 1) / 2);
    for (int32_t i = 0; i + 1 < n1; ++i)
      for (int32_t j = i + 1; j < n1; ++j) {
        P.ProgressExecute(double(done++));
        Row(i, j);
      }
    return;
  }
  P.SetProgressMaxValue(double(n1) * double(n2) - (same ? n1 : 0));
  for (int32_t i = 0; i < n1; ++i)
    for (int32_t j = 0; j < n2; ++j) {
      if (same && i == j) continue;
      P.ProgressExecute(double(done++));
      Row(i, j);
    }
}

}  // namespace calcmatrix

}  // namespace kovra
