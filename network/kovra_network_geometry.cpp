// Polylines of links and routes, sections between two fractions of a
// polyline, crow-fly distances and the coordinates of locations.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "foundation/kovra_geometry.h"
#include "network/kovra_coord3file.h"
#include "network/kovra_network.h"
#include "network/kovra_network_geometry.h"

namespace kovra {

namespace geometry {

double ToRadians(TCoordinateUnit Unit) {
  switch (Unit) {
    case cuDeg: return cDegToRad;
    case cuGrad: return cGradToRad;
    default: return 1;
  }
}

double FromRadians(TCoordinateUnit Unit) {
  switch (Unit) {
    case cuDeg: return 57.29577951308232;
    case cuGrad: return 63.66197723675813;
    default: return 1;
  }
}

void Reserve(TFloatPointArrayEx& list, int32_t Count) {
  if (list.Pnt.size() < size_t(Count)) list.Pnt.resize(size_t(Count));
  list.Count = Count;
}

}  // namespace geometry

using namespace geometry;

namespace {

TFloatPoint Lerp(const TFloatPoint& A, const TFloatPoint& B, double t) {
  return {A.x + t * (B.x - A.x), A.y + t * (B.y - A.y)};
}

void Append(TFloatPointArrayEx& list, const TFloatPoint& P) {
  if (list.Pnt.size() <= size_t(list.Count)) list.Pnt.resize(std::max<size_t>(16, list.Pnt.size() * 2));
  list.Pnt[size_t(list.Count++)] = P;
}

}  // namespace

// ---------------------------------------------------------------------------
// Polylines

void TNetwork::GetGISSection_raw(int32_t link, TFloatPointArrayEx& list) const {
  FCoord3file->ReadSection(link - 1, list);
  list.Pnt[0] = Node2Coordinate_raw(Fromnode[size_t(link)]);
  list.Pnt[size_t(list.Count) - 1] = Node2Coordinate_raw(tonode[size_t(link)]);
}

TFloatPointArrayEx TNetwork::GetGISSection(int32_t link) const {
  CheckOpen();
  CheckLink(link);
  TFloatPointArrayEx list;
  GetGISSection_raw(link, list);
  return list;
}

TFloatPointArrayEx TNetwork::GetGISSectionRoute(const TRoute& route) const {
  CheckOpen();
  const size_t L = route.links.size();
  // Every id is range-checked before any work: id 0 would otherwise read link -1.
  for (const int32_t id : route.links) CheckLinkRange(id < 0 ? -id : id);
  const bool nodeRoute = L > 0 && route.nodes.size() == L + 1;
  if (nodeRoute) {
    for (const int32_t n : route.nodes) CheckNode(n);
  } else if (L >= 2) {
    if (route.nodes.size() < L - 1)
      throw EInvalidParameter(Format(cMsgRouteNodes, int32_t(L), int32_t(L - 1), int32_t(route.nodes.size())));
    for (size_t k = 0; k + 1 < L; ++k) CheckNode(route.nodes[k]);
  }
  if (!nodeRoute && L > 0) {
    CheckPercent(route.percent1);
    CheckPercent(route.percent2);
  }

  TFloatPointArrayEx result;
  if (L == 0) return result;
  TFloatPointArrayEx poly, part;
  // The intermediate vertices of a link, in stored order or reversed.
  auto appendInner = [&](int32_t id) {
    GetGISSection_raw(id < 0 ? -id : id, poly);
    if (id > 0)
      for (int32_t i = 1; i + 1 < poly.Count; ++i) Append(result, poly.Pnt[size_t(i)]);
    else
      for (int32_t i = poly.Count - 2; i >= 1; --i) Append(result, poly.Pnt[size_t(i)]);
  };
  auto appendPart = [&](int32_t from) {
    for (int32_t i = from; i < part.Count; ++i) Append(result, part.Pnt[size_t(i)]);
  };

  if (nodeRoute) {
    for (size_t k = 0; k < L; ++k) {
      Append(result, Node2Coordinate_raw(route.nodes[k]));
      appendInner(route.links[k]);
    }
    Append(result, Node2Coordinate_raw(route.nodes[L]));
    return result;
  }
  if (L == 1) {
    if (route.percent1 == route.percent2) return result;
    const int32_t id = route.links[0];
    GetGISSection_raw(id < 0 ? -id : id, poly);
    ExtractSection_raw1(poly, route.percent1, route.percent2, result);
    return result;
  }
  // First link.
  const int32_t first = route.links[0];
  GetGISSection_raw(first < 0 ? -first : first, poly);
  if (first > 0) {
    if (route.percent1 == 1)
      Append(result, poly.Pnt[size_t(poly.Count) - 1]);
    else
      ExtractSection_raw1(poly, route.percent1, 1, result);
  } else {
    if (route.percent1 == 0)
      Append(result, poly.Pnt[0]);
    else
      ExtractSection_raw1(poly, route.percent1, 0, result);
  }
  // Middle links end at the node that follows them.
  for (size_t k = 1; k + 1 < L; ++k) {
    appendInner(route.links[k]);
    Append(result, Node2Coordinate_raw(route.nodes[k]));
  }
  // Last link, from its second point on: its first is the node just appended.
  const int32_t last = route.links[L - 1];
  if (last > 0 && route.percent2 > 0) {
    GetGISSection_raw(last, poly);
    ExtractSection_raw1(poly, 0, route.percent2, part);
    appendPart(1);
  } else if (last < 0 && route.percent2 < 1) {
    GetGISSection_raw(-last, poly);
    ExtractSection_raw1(poly, 1, route.percent2, part);
    appendPart(1);
  }
  return result;
}

// ---------------------------------------------------------------------------
// Sections

TFloatPointArrayEx TNetwork::ExtractSection(const TFloatPointArrayEx& list, double start, double stop) const {
  CheckPercent(start);
  CheckPercent(stop);
  if (start == stop) throw EWrongPercent(cMsgStartStopPercent);
  TFloatPointArrayEx result;
  ExtractSectionCore(list, start, stop, cZeroPoint, cZeroPoint, false, result);
  return result;
}

void TNetwork::ExtractSection_raw1(const TFloatPointArrayEx& list, double start, double stop,
                                   TFloatPointArrayEx& FPA) const {
  ExtractSectionCore(list, start, stop, cZeroPoint, cZeroPoint, false, FPA);
}

void TNetwork::ExtractSectionCore(const TFloatPointArrayEx& list, double start, double stop, const TFloatPoint& P1,
                                  const TFloatPoint& P2, bool useGivenEnds, TFloatPointArrayEx& result) const {
  result.Count = 0;
  const bool swapped = stop < start;
  if (swapped) std::swap(start, stop);
  const int32_t Count = list.Count;
  auto copyAll = [&] {
    Reserve(result, Count);
    std::copy_n(list.Pnt.begin(), Count, result.Pnt.begin());
  };
  if ((start == 0 && stop == 1) || Count < 2) {
    copyAll();
  } else {
    // Cumulative lengths; thread_local keeps the hot path free of allocation.
    thread_local std::vector<double> cum;
    if (cum.size() < size_t(Count)) cum.resize(size_t(Count));
    cum[0] = 0;
    for (int32_t i = 1; i < Count; ++i)
      cum[size_t(i)] =
          cum[size_t(i) - 1] + SegmentLength(FCoordinateUnit, list.Pnt[size_t(i) - 1], list.Pnt[size_t(i)]);
    const double total = cum[size_t(Count) - 1];
    // The segment is capped at the last one: a fraction just below 1 or a
    // polyline of length 0 would otherwise walk past the last vertex.
    auto locate = [&](double f, int32_t& n) {
      const double target = total * f;
      n = 0;
      while (n < Count - 2 && !(target < cum[size_t(n) + 1])) ++n;
      const double seg = cum[size_t(n) + 1] - cum[size_t(n)];
      const double t = seg > 0 ? (target - cum[size_t(n)]) / seg : 0;
      return Lerp(list.Pnt[size_t(n)], list.Pnt[size_t(n) + 1], t);
    };
    int32_t n = 0, k = 0;
    if (start > 0 && stop < 1) {
      const TFloatPoint a = locate(start, n), b = locate(stop, k);
      Reserve(result, k - n + 2);
      result.Pnt[0] = useGivenEnds ? P1 : a;
      for (int32_t i = n + 1; i <= k; ++i) result.Pnt[size_t(i - n)] = list.Pnt[size_t(i)];
      result.Pnt[size_t(k - n + 1)] = useGivenEnds ? P2 : b;
    } else if (start > 0) {
      const TFloatPoint a = locate(start, n);
      Reserve(result, Count - n);
      result.Pnt[0] = useGivenEnds ? P1 : a;
      for (int32_t i = n + 1; i < Count; ++i) result.Pnt[size_t(i - n)] = list.Pnt[size_t(i)];
    } else {
      const TFloatPoint b = locate(stop, k);
      Reserve(result, k + 2);
      for (int32_t i = 0; i <= k; ++i) result.Pnt[size_t(i)] = list.Pnt[size_t(i)];
      result.Pnt[size_t(k) + 1] = useGivenEnds ? P2 : b;
    }
  }
  if (swapped) SwapList(result);
}

// ---------------------------------------------------------------------------
// Crow-fly distances

double TNetwork::DistanceBetweenPoints(const TFloatPoint& P1, const TFloatPoint& P2) const {
  CheckOpen();
  CheckCoordinate(P1);
  CheckCoordinate(P2);
  return DistanceBetweenPoints_raw(P1, P2);
}

double TNetwork::DistanceBetweenNodes(int32_t node1, int32_t node2) const {
  CheckOpen();
  CheckNode(node1);
  CheckNode(node2);
  return DistanceBetweenNodes_raw(node1, node2);
}

double TNetwork::DistanceToNode(const TFloatPoint& P, int32_t node) const {
  CheckOpen();
  CheckCoordinate(P);
  CheckNode(node);
  return DistanceBetweenPoints_raw(P, Node2Coordinate_raw(node));
}

double TNetwork::DistanceBetweenLocations(const TLocation& loc1, const TLocation& loc2) const {
  CheckOpen();
  CheckLocation(loc1);
  CheckLocation(loc2);
  return DistanceBetweenPoints_raw(Location2Coordinate_raw(loc1, 0), Location2Coordinate_raw(loc2, 0));
}

// ---------------------------------------------------------------------------
// Locations

TFloatPoint TNetwork::PointAtPercent(const TFloatPointArrayEx& section, const TLocation& loc,
                                     int32_t& segment) const {
  const int32_t Count = section.Count;
  if (loc.percent == 0) {
    segment = 0;
    return section.Pnt[0];
  }
  if (loc.percent == 1) {
    segment = Count - 1;
    return section.Pnt[size_t(Count) - 1];
  }
  // Measured against the stored length, so the point may lie on the
  // extension of the last segment when the stored length is the longer.
  const double target = double(FLength[size_t(loc.link)]) * loc.percent / FDistfactor;
  double before = 0;
  int32_t i = 1;
  double seg = 0;
  for (;; ++i) {
    seg = SegmentLength(FCoordinateUnit, section.Pnt[size_t(i) - 1], section.Pnt[size_t(i)]);
    if (target <= before + seg || i >= Count - 1) break;
    before += seg;
  }
  segment = i;
  const double t = seg > 0 ? (target - before) / seg : 0;
  return Lerp(section.Pnt[size_t(i) - 1], section.Pnt[size_t(i)], t);
}

TFloatPoint TNetwork::Location2CoordinateOnSection(const TFloatPointArrayEx& section, const TLocation& loc,
                                                   double offset) const {
  int32_t segment = 0;
  const TFloatPoint P = PointAtPercent(section, loc, segment);
  if (offset == 0) return P;
  const double b = offset / FDistfactor;
  // The reference segment gives the direction; a zero-length one has none, so
  // the nearest segment with a length stands in (the previous ones, then the
  // following ones), and without any the point stays where it is.
  int32_t s = std::max(segment, 1);
  auto hasLength = [&](int32_t e) {
    return SegmentLength(FCoordinateUnit, section.Pnt[size_t(e) - 1], section.Pnt[size_t(e)]) > 0;
  };
  if (!hasLength(s)) {
    int32_t e = s - 1;
    while (e >= 1 && !hasLength(e)) --e;
    if (e < 1) {
      e = s + 1;
      while (e < section.Count && !hasLength(e)) ++e;
      if (e >= section.Count) return P;
    }
    s = e;
  }
  const TFloatPoint& A = section.Pnt[size_t(s) - 1];
  const TFloatPoint& B = section.Pnt[size_t(s)];
  if (!IsAngular(FCoordinateUnit)) {
    const double dx = B.x - A.x, dy = B.y - A.y;
    const double len = std::hypot(dy, -dx);
    return {P.x + b * dy / len, P.y - b * dx / len};
  }
  const double f = ToRadians(FCoordinateUnit);
  const TFloatPoint Ar{A.x * f, A.y * f}, Br{B.x * f, B.y * f};
  const double theta = BearingRad(Ar, Br) + std::numbers::pi / 2;
  const double lat = P.y * f, lon = P.x * f;
  const double lat2 =
      std::asin(std::clamp(std::sin(lat) * std::cos(b) + std::cos(lat) * std::sin(b) * std::cos(theta), -1.0, 1.0));
  double lon2 = lon;
  if (std::cos(lat2) != 0)
    lon2 = ReduceTwoPi(lon - std::asin(std::clamp(std::sin(theta) * std::sin(b) / std::cos(lat2), -1.0, 1.0)) +
                       std::numbers::pi) -
           std::numbers::pi;
  const double back = FromRadians(FCoordinateUnit);
  return {lon2 * back, lat2 * back};
}

TFloatPoint TNetwork::Location2Coordinate_raw(const TLocation& loc, double offset) const {
  thread_local TFloatPointArrayEx section;
  GetGISSection_raw(loc.link, section);
  return Location2CoordinateOnSection(section, loc, offset);
}

TFloatPoint TNetwork::Location2Coordinate(const TLocation& loc, double offset) const {
  CheckOpen();
  CheckLocation(loc);
  return Location2Coordinate_raw(loc, offset);
}

void TNetwork::Location2CoordinateList(TLocationList& LL, double offset) const {
  CheckOpen();
  // All links first, so that a failing item leaves the whole list unchanged.
  for (int32_t i = 0; i < LL.Count(); ++i) CheckLink(LL.GetItem(i).loc.link);
  for (int32_t i = 0; i < LL.Count(); ++i) {
    TLocationListItem item = LL.GetItem(i);
    item.P = Location2Coordinate_raw(item.loc, offset);
    LL.SetItem(i, item);
  }
}

}  // namespace kovra
