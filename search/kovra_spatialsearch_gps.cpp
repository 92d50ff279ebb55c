// GPS match candidates: per link near a fix, the best-matching position for
// each travel direction, ranked.
#include <cmath>

#include "network/kovra_network.h"
#include "search/kovra_spatialsearch.h"
#include "search/kovra_spatialsearch_core.h"

namespace kovra {

using namespace search;

std::unique_ptr<TGPSMatchList> TSpatialSearch::NearestLink(const TFloatPoint& P, double Bearing,
                                                           double SearchRadius) {
  CheckSpatialIndex();
  FNW->CheckCoordinate(P);
  CheckSkipLinks();
  // A heading outside [0, 360) would push the differences past 180 and
  // below 0 and spoil the ranking; a non-finite one cannot be ranked at all.
  if (!std::isfinite(Bearing)) throw EInvalidParameter(Format(cMsgBearingNotFinite, NumberText(Bearing, "%g")));
  Bearing = std::fmod(Bearing, 360.0);
  if (Bearing < 0) Bearing += 360;
  if (Bearing >= 360) Bearing = 0;

  TIntegerList candidates;
  SelectLinksList(P, SearchRadius, candidates);

  auto result = std::make_unique<TGPSMatchList>();
  const double H = 360 - Bearing;
  const TKind K = KindOf(FNW->CoordinateUnit());
  const bool angular = K != TKind::Planar;
  const double f = RadiansPerUnit(K);
  const double factor = FNW->DistFactor();
  const TFloatPoint Pr = angular ? TFloatPoint{P.x * f, P.y * f} : P;
  constexpr double cToDeg = 57.29577951308232;
  constexpr double cNone = double(cInfinity);

  for (int32_t k = 0; k < candidates.Count(); ++k) {
    const int32_t L = candidates.GetItem(k);
    const int32_t code = FNW->OneWayCode(L);
    if (code == 3) continue;
    FNW->GetGISSection_raw(L, list1);
    fList1Link = L;
    double best1 = cNone, best2 = cNone;
    double dist1 = 0, dist2 = 0, pos1 = 0, pos2 = 0, cum = 0;
    for (int32_t i = 1; i < list1.Count; ++i) {
      const TFloatPoint& prev = list1.Pnt[size_t(i) - 1];
      const TFloatPoint& cur = list1.Pnt[size_t(i)];
      TSegmentFoot r;
      TFloatPoint A = prev, B = cur;
      if (angular) {
        A = {prev.x * f, prev.y * f};
        B = {cur.x * f, cur.y * f};
        r = SegmentFootSphere(A, B, Pr);
      } else {
        r = SegmentFootPlanar(A, B, Pr);
      }
      const double dk = r.d * factor;
      if (dk < SearchRadius) {
        // Direction of the segment, counter-clockwise degrees from north.
        double c;
        if (angular) {
          c = BearingRad(A, B) * cToDeg;
        } else if (prev.x != cur.x) {
          c = std::atan2(cur.y - prev.y, cur.x - prev.x) * cToDeg + 270;
          if (c >= 360) c -= 360;
        } else {
          c = cur.y < prev.y ? 180 : 0;
        }
        double d1 = std::fabs(c - H);
        if (d1 > 180) d1 = 360 - d1;
        if (d1 < best1) {
          best1 = d1;
          dist1 = dk;
          pos1 = cum + r.a;
        }
        double c2 = c + 180;
        if (c2 > 360) c2 -= 360;
        double d2 = std::fabs(c2 - H);
        if (d2 > 180) d2 = 360 - d2;
        if (d2 < best2) {
          best2 = d2;
          dist2 = dk;
          pos2 = cum + r.a;
        }
      }
      cum += r.m;
    }
    if (best1 != cNone) result->Add({TLocation{L, cum == 0 ? 0 : pos1 / cum}, dist1, best1, false, code == 2});
    if (best2 != cNone) result->Add({TLocation{L, cum == 0 ? 0 : pos2 / cum}, dist2, best2, true, code == 1});
  }
  result->Sort();
  return result;
}

}  // namespace kovra
