// Shared by the spatial-search tests: indexed networks written by the test
// writer and opened, random networks, and a brute-force oracle that scans
// every node, segment and vertex with the search's own distance formulas, so
// that it judges the walk, the boxes and the pruning.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
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

inline std::vector<int32_t> Items(const TIntegerList& L) {
  std::vector<int32_t> v;
  for (int32_t i = 0; i < L.Count(); ++i) v.push_back(L.GetItem(i));
  return v;
}

}  // namespace kovra::testsupport
