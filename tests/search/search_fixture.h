// Shared by the spatial-search tests: indexed networks written by the test
// writer and opened, random networks, a brute-force oracle that scans every
// node, segment and vertex with the search's own distance formulas, so that
// it judges the walk, the boxes and the pruning, and for degrees a judge of
// the distances themselves that shares no code with the search.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "foundation/kovra_random.h"
#include "network/kovra_network.h"
#include "network/support/network_writer.h"
#include "search/kovra_spatialsearch.h"
#include "search/kovra_spatialsearch_core.h"
#include "support/temp_dir_test.h"

namespace kovra {

// Reaches the two private rectangle selections.
struct TSpatialSearchTestAccess {
  static void SelectLinksInRect(TSpatialSearch& s, const TFloatRect& R, TIntegerList& L) { s.SelectLinksInRect(R, L); }
  static void SelectNodesInRect(TSpatialSearch& s, const TFloatRect& R, TIntegerList& L) { s.SelectNodesInRect(R, L); }
  static TFloatRect SearchBox(const TSpatialSearch& s, const TFloatPoint& P, double r) { return s.SearchBox(P, r); }
  // The include-links filter of the snap run is set.
  static bool FilterSet(const TSpatialSearch& s) { return s.FBA != nullptr; }
};

}  // namespace kovra

namespace kovra::testsupport {

class TSearchTest : public TTempDirTest {
protected:
  std::string Dir() const { return dir.string() + "/"; }

  // Writes w with its index into the test's folder and opens it.
  TNetwork& Open(TTestNetworkWriter& w, bool Attributes = false, bool Cached = false, bool Index = true) {
    w.SpatialIndex = true;
    w.Write(Dir());
    fNet = std::make_unique<TNetwork>();
    fNet->SetDirectory(Dir());
    fNet->SetEncryptionKey(w.Key);
    fNet->Open(Attributes, Cached, Index, 0);
    return *fNet;
  }

  std::unique_ptr<TNetwork> fNet;
};

// Random links over Region: Links polylines between random end points, each
// with 0..3 intermediate vertices jittered around the straight line, every
// fifth link ending at an end point of an earlier one, so nodes have degrees
// 1 to several. Segments stay short against the region (at most a tenth of
// its size), as on roads.
inline void AddRandomLinks(TTestNetworkWriter& w, TRandom& r, const TFloatRect& Region, int32_t Links) {
  const double W = Region.xmax - Region.xmin, H = Region.ymax - Region.ymin;
  std::vector<TFloatPoint> ends;
  auto point = [&] { return TFloatPoint{Region.xmin + r.NextDouble() * W, Region.ymin + r.NextDouble() * H}; };
  for (int32_t i = 0; i < Links; ++i) {
    TFloatPoint a = (i % 5 == 4 && !ends.empty()) ? ends[size_t(r.NextInt(int32_t(ends.size())))] : point();
    TFloatPoint b{a.x + (r.NextDouble() - 0.5) * W * 0.2, a.y + (r.NextDouble() - 0.5) * H * 0.2};
    b.x = std::clamp(b.x, Region.xmin, Region.xmax);
    b.y = std::clamp(b.y, Region.ymin, Region.ymax);
    TFloatPointArray line{a};
    const int32_t inner = r.NextInt(4);
    for (int32_t k = 1; k <= inner; ++k) {
      const double t = double(k) / (inner + 1);
      line.push_back({a.x + t * (b.x - a.x) + (r.NextDouble() - 0.5) * W * 0.01,
                      a.y + t * (b.y - a.y) + (r.NextDouble() - 0.5) * H * 0.01});
    }
    line.push_back(b);
    w.AddLink(line);
    ends.push_back(a);
    ends.push_back(b);
  }
}

// The oracle: every answer by a full scan, in the network's measure.
class TOracle {
public:
  explicit TOracle(const TNetwork& N) : fN(N), fKind(search::KindOf(N.CoordinateUnit())) {}

  double Point(const TFloatPoint& P, const TFloatPoint& Q) const {
    using namespace search;
    switch (fKind) {
      case TKind::Rad: return PointDistance<TKind::Rad>(P, Q);
      case TKind::Deg: return PointDistance<TKind::Deg>(P, Q);
      case TKind::Grad: return PointDistance<TKind::Grad>(P, Q);
      default: return PointDistance<TKind::Planar>(P, Q);
    }
  }
  double Segment(const TFloatPoint& A, const TFloatPoint& B, const TFloatPoint& P) const {
    using namespace search;
    switch (fKind) {
      case TKind::Rad: return SegmentDistance<TKind::Rad>(A, B, P);
      case TKind::Deg: return SegmentDistance<TKind::Deg>(A, B, P);
      case TKind::Grad: return SegmentDistance<TKind::Grad>(A, B, P);
      default: return SegmentDistance<TKind::Planar>(A, B, P);
    }
  }
  bool Valid(int32_t link, const TBitArray* Skip) const {
    return fN.Lengths()[size_t(link)] > 0 && !(Skip && Skip->GetBit(link));
  }
  TFloatPointArrayEx Poly(int32_t link) const {
    TFloatPointArrayEx p;
    fN.GetGISSection_raw(link, p);
    return p;
  }

  // Node and distance in the unit's measure; node 0 when none.
  std::pair<int32_t, double> NearestNode(const TFloatPoint& P, const TBitArray* Skip) const {
    std::pair<int32_t, double> best{0, 1e300};
    for (int32_t n = 1; n <= fN.NodeCount(); ++n) {
      if (Skip && Skip->GetBit(n)) continue;
      const double d = Point(P, fN.Node2Coordinate_raw(n));
      if (d < best.second) best = {n, d};
    }
    return best;
  }
  // Link, end vertex of the nearest segment, distance.
  struct TSeg {
    int32_t link = 0, segment = 0;
    double d = 1e300;
  };
  // The distance from P to one link.
  double LinkDistance(const TFloatPoint& P, int32_t link) const {
    const TFloatPointArrayEx p = Poly(link);
    double best = 1e300;
    for (int32_t j = 1; j < p.Count; ++j) best = std::min(best, Segment(p.Pnt[size_t(j) - 1], p.Pnt[size_t(j)], P));
    return best;
  }
  TSeg NearestSegment(const TFloatPoint& P, const TBitArray* Skip) const {
    TSeg best;
    for (int32_t l = 1; l <= fN.LinkCount(); ++l) {
      if (!Valid(l, Skip)) continue;
      const TFloatPointArrayEx p = Poly(l);
      for (int32_t j = 1; j < p.Count; ++j) {
        const double d = Segment(p.Pnt[size_t(j) - 1], p.Pnt[size_t(j)], P);
        if (d < best.d) best = {l, j, d};
      }
    }
    return best;
  }
  // Link, vertex index, km.
  struct TVertex {
    int32_t link = 0, index = 0;
    double km = 1e300;
  };
  // First links First's vertices, then the other links ascending: a shared
  // node is a vertex of every link at it, and the first met wins.
  TVertex NearestVertex(const TFloatPoint& P, const TBitArray* Skip, int32_t First) const {
    TVertex best;
    for (int32_t k = 0; k <= fN.LinkCount(); ++k) {
      const int32_t l = k == 0 ? First : k;
      if ((k > 0 && l == First) || !Valid(l, Skip)) continue;
      const TFloatPointArrayEx p = Poly(l);
      for (int32_t i = 0; i < p.Count; ++i) {
        const double d = fN.DistanceBetweenPoints_raw(P, p.Pnt[size_t(i)]);
        if (d < best.km) best = {l, i, d};
      }
    }
    return best;
  }
  std::vector<int32_t> Links(const TFloatPoint& P, double r, const TBitArray* Skip, const TFloatRect* Box) const {
    std::vector<int32_t> out;
    for (int32_t l = 1; l <= fN.LinkCount(); ++l) {
      if (!Valid(l, Skip)) continue;
      const TFloatPointArrayEx p = Poly(l);
      bool take = false;
      if (Box) {
        for (int32_t i = 0; i < p.Count && !take; ++i) take = search::Inside(*Box, p.Pnt[size_t(i)]);
      } else {
        for (int32_t j = 1; j < p.Count && !take; ++j) take = Segment(p.Pnt[size_t(j) - 1], p.Pnt[size_t(j)], P) < r;
      }
      if (take) out.push_back(l);
    }
    return out;
  }
  std::vector<int32_t> Nodes(const TFloatPoint& P, double r, const TBitArray* Skip, const TFloatRect* Box) const {
    std::vector<int32_t> out;
    for (int32_t n = 1; n <= fN.NodeCount(); ++n) {
      if (Skip && Skip->GetBit(n)) continue;
      const TFloatPoint Q = fN.Node2Coordinate_raw(n);
      if (Box ? search::Inside(*Box, Q) : Point(P, Q) < r) out.push_back(n);
    }
    return out;
  }

private:
  const TNetwork& fN;
  search::TKind fKind;
};

// An independent judge for networks in degrees: distances on the sphere by
// n-vectors (the unit vector of each point, a great circle's plane by a cross
// product), written apart from the search's haversine and spherical-triangle
// formulas, so that a fault the search shares with TOracle still shows. Km
// are radians times 6378.13, the earth radius of the angular units.
class TSphereJudge {
public:
  using TVec = std::array<double, 3>;
  static constexpr double cKmPerRadian = 6378.13;

  explicit TSphereJudge(const TNetwork& N) : fN(N) {}

  static TVec Vec(const TFloatPoint& P) {
    const double lon = P.x * (3.141592653589793 / 180), lat = P.y * (3.141592653589793 / 180);
    return {std::cos(lat) * std::cos(lon), std::cos(lat) * std::sin(lon), std::sin(lat)};
  }
  static TFloatPoint Point(const TVec& v) {
    return {std::atan2(v[1], v[0]) * (180 / 3.141592653589793),
            std::atan2(v[2], std::hypot(v[0], v[1])) * (180 / 3.141592653589793)};
  }
  // The angle between two unit vectors, well conditioned at every size.
  static double Angle(const TVec& a, const TVec& b) { return std::atan2(Norm(Cross(a, b)), Dot(a, b)); }
  double Km(const TFloatPoint& P, const TFloatPoint& Q) const { return Angle(Vec(P), Vec(Q)) * cKmPerRadian; }

  // The point of the minor arc a-b nearest to p.
  static TVec Nearest(const TVec& a, const TVec& b, const TVec& p) {
    const TVec n = Cross(a, b);
    const double nn = Norm(n);
    if (nn == 0) return a;
    const TVec u = Scale(n, 1 / nn);
    const TVec f = Sub(p, Scale(u, Dot(u, p)));  // p projected into the arc's plane
    const double fn = Norm(f);
    if (fn > 0) {
      const TVec g = Scale(f, 1 / fn);
      if (Dot(Cross(a, g), u) >= 0 && Dot(Cross(g, b), u) >= 0) return g;  // between a and b
    }
    return Angle(p, a) <= Angle(p, b) ? a : b;
  }

  // The point of a link nearest to P: its distance in km, its share of the
  // link's length from the from-node, and the point.
  struct TFoot {
    double Km = 1e300;
    double Percent = 0;
    TFloatPoint At{};
  };
  TFoot Link(const TFloatPoint& P, int32_t link) const {
    TFloatPointArrayEx line;
    fN.GetGISSection_raw(link, line);
    const TVec p = Vec(P);
    TFoot best;
    double before = 0, bestAlong = 0;
    for (int32_t j = 1; j < line.Count; ++j) {
      const TVec a = Vec(line.Pnt[size_t(j) - 1]), b = Vec(line.Pnt[size_t(j)]);
      const TVec f = Nearest(a, b, p);
      const double d = Angle(p, f);
      if (d * cKmPerRadian < best.Km) {
        best.Km = d * cKmPerRadian;
        best.At = Point(f);
        bestAlong = before + Angle(a, f);
      }
      before += Angle(a, b);
    }
    best.Percent = before > 0 ? std::min(1.0, bestAlong / before) : 0;
    return best;
  }
  // The length of a link along its polyline, km.
  double LinkKm(int32_t link) const {
    TFloatPointArrayEx line;
    fN.GetGISSection_raw(link, line);
    double sum = 0;
    for (int32_t j = 1; j < line.Count; ++j) sum += Angle(Vec(line.Pnt[size_t(j) - 1]), Vec(line.Pnt[size_t(j)]));
    return sum * cKmPerRadian;
  }

private:
  static TVec Cross(const TVec& a, const TVec& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
  }
  static double Dot(const TVec& a, const TVec& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
  static double Norm(const TVec& a) { return std::sqrt(Dot(a, a)); }
  static TVec Scale(const TVec& a, double k) { return {a[0] * k, a[1] * k, a[2] * k}; }
  static TVec Sub(const TVec& a, const TVec& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }

  const TNetwork& fN;
};

inline std::vector<int32_t> Items(const TIntegerList& L) {
  std::vector<int32_t> v;
  for (int32_t i = 0; i < L.Count(); ++i) v.push_back(L.GetItem(i));
  return v;
}

}  // namespace kovra::testsupport
