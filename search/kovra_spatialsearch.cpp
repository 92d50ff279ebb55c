// The spatial search: guard, search box, nearest searches with a growing
// box, radius and rectangle selections, and the network's nearest-node seam.
#include "search/kovra_spatialsearch.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <span>

#include "network/kovra_coord3file.h"
#include "network/kovra_network.h"
#include "network/kovra_quadtree.h"
#include "search/kovra_spatialsearch_core.h"

namespace kovra {

using namespace search;

namespace {

constexpr double cBest0 = double(cInfinity);

// The finder the network asks for type 2 turn records.
class TSearchNodeFinder final : public INearestNodeFinder {
public:
  explicit TSearchNodeFinder(const TNetwork& Network) : fSearch(const_cast<TNetwork&>(Network)) {}
  void NearestNode(const TFloatPoint& P, int32_t& node, double& distance) override {
    fSearch.NearestNode(P, node, distance);
  }

private:
  // The search only reads the network.
  TSpatialSearch fSearch;
};

// Registers when the module is linked; the seam's storage is safe to use
// from another file's static initialiser.
const bool gRegistered = (RegisterSpatialSearch(), true);

// Clears the marks of the links in Sel when a selection ends, also by an
// exception, so that the mark array is clear between queries.
struct TMarkReset {
  std::vector<uint64_t>& Mark;
  const std::vector<int32_t>& Sel;
  ~TMarkReset() {
    for (const int32_t l : Sel) Mark[size_t(l) >> 6] &= ~(uint64_t(1) << (l & 63));
  }
};

}  // namespace

void RegisterSpatialSearch() {
  (void)gRegistered;
  SetNearestNodeFinderFactory(
      [](const TNetwork& Network) -> std::unique_ptr<INearestNodeFinder> {
        return std::make_unique<TSearchNodeFinder>(Network);
      });
}

// The per-kind loops, with access to the object's fields.
struct TSearchCore {
  // Link's polyline as GetGISSection_raw gives it; cached vertices are read
  // in place, others through list1.
  [[gnu::always_inline]] static TPolyView View(TSpatialSearch& s, int32_t link);
  // Starts the memory reads for the runs ahead of run i: their link ends, the
  // ends' coordinates and cached vertices. Node numbers follow degree, not
  // position, so these reads miss the cache and would otherwise wait one
  // after another.
  [[gnu::always_inline]] static void Prefetch(const TSpatialSearch& s, std::span<const TSubLink> runs, size_t i);
  template <TKind K>
  static bool NearestNode(TSpatialSearch& s, const TFloatPoint& P, int32_t& node, double& best);
  template <TKind K>
  static bool NearestLocation(TSpatialSearch& s, const TFloatPoint& P, int32_t& link, int32_t& segment,
                              double& best);
  // The smallest vertex distance in km over the links not skipped; every
  // vertex at that distance in s.fVertexTies.
  template <TKind K>
  static bool NearestVertex(TSpatialSearch& s, const TFloatPoint& P, double& best);
  template <TKind K>
  static void SelectLinks(TSpatialSearch& s, const TFloatPoint& P, double r);
  template <TKind K>
  static void SelectNodes(TSpatialSearch& s, const TFloatPoint& P, double r);
  // Step 7: scan P's leaf, grow a box from it until something is found (or
  // the box covers the root), then one walk with the box of the best.
  template <class TScan>
  static void GrowingSearch(TSpatialSearch& s, const TFloatPoint& P, TScan& Scan, const bool& Found,
                            const double& best, TFloatRect& Box);
};

// ---------------------------------------------------------------------------
// Life, guard, box

TSpatialSearch::TSpatialSearch(TNetwork& NW) : FGISarray(std::make_unique<TGISArray>()), FNW(&NW) {
  list1.Pnt.resize(1000);
  list2.Pnt.resize(1000);
}

TSpatialSearch::~TSpatialSearch() = default;

void TSpatialSearch::CheckSpatialIndex() const {
  FNW->CheckOpen();
  if (!FNW->QuadTree() || FNW->QuadTree()->CellCount() == 0) throw Exception(cMsgSpatialIndexNotOpen);
}

void TSpatialSearch::CheckSkipLinks() const {
  const int64_t need = int64_t(FNW->LinkCount()) + 1;
  if (FSkipLinks && FSkipLinks->Size() < need) throw EInvalidParameter(Format(cMsgBitArrayTooShort, int32_t(need)));
  if (FBA && FBA->Size() < need) throw EInvalidParameter(Format(cMsgBitArrayTooShort, int32_t(need)));
}

void TSpatialSearch::CheckSkipNodes() const {
  const int64_t need = int64_t(FNW->NodeCount()) + 1;
  if (FSkipNodes && FSkipNodes->Size() < need) throw EInvalidParameter(Format(cMsgBitArrayTooShort, int32_t(need)));
}

TFloatRect TSpatialSearch::SearchBox(const TFloatPoint& P, double r) const {
  const TKind K = KindOf(FNW->CoordinateUnit());
  if (K == TKind::Planar) return {P.x - r, P.y - r, P.x + r, P.y + r};
  // r comes in radians; the box is in the unit.
  double full = std::numbers::pi;
  if (K == TKind::Deg) {
    r *= 57.29577951308232;
    full = 180;
  } else if (K == TKind::Grad) {
    r *= 63.66197723675813;
    full = 200;
  }
  TFloatRect box{0, P.y - r, 0, P.y + r};
  // The circle is widest in longitude at the box's latitude farthest from the
  // equator, on either hemisphere.
  const double c = std::cos(std::max(std::fabs(P.y - r), std::fabs(P.y + r)) * RadiansPerUnit(K));
  if (c > 0) {
    const double half = r / c;
    box.xmin = P.x - half;
    box.xmax = P.x + half;
  } else {
    // The box reaches a pole: every longitude.
    box.xmin = -full;
    box.xmax = full;
  }
  return box;
}

void TSpatialSearch::NewVisit() {
  const size_t cells = size_t(FNW->QuadTree()->CellCount()) + 1;
  if (fCellStamp.size() != cells) {
    fCellStamp.assign(cells, 0);
    fVisit = 0;
  }
  if (++fVisit == 0) {
    std::fill(fCellStamp.begin(), fCellStamp.end(), 0);
    fVisit = 1;
  }
}

void TSpatialSearch::ReadLink1(int32_t link) {
  if (fList1Link == link) return;
  fList1Link = 0;
  FNW->GetGISSection_raw(link, list1);
  fList1Link = link;
}

inline TPolyView TSearchCore::View(TSpatialSearch& s, int32_t link) {
  const TNetwork& nw = *s.FNW;
  if (s.fCacheFirst && link >= 1 && link <= s.fCacheLinks) {
    const int32_t first = s.fCacheFirst[link - 1];
    return {s.fCachePoints + first, s.fCacheFirst[link] - first + 2,
            nw.Node2Coordinate_raw(nw.Fromnodes()[size_t(link)]), nw.Node2Coordinate_raw(nw.Tonodes()[size_t(link)])};
  }
  // Read (and checked) through the network.
  s.ReadLink1(link);
  const TFloatPoint* v = s.list1.Pnt.data();
  return {v + 1, s.list1.Count, v[0], v[s.list1.Count - 1]};
}

inline void TSearchCore::Prefetch(const TSpatialSearch& s, std::span<const TSubLink> runs, size_t i) {
  if (!s.fCacheFirst) return;
  const TNetwork& nw = *s.FNW;
  const int32_t* from = nw.Fromnodes().data();
  const int32_t* to = nw.Tonodes().data();
  if (i + 8 < runs.size()) {
    const int32_t L = runs[i + 8].Link;
    if (L >= 1 && L <= s.fCacheLinks) {
      __builtin_prefetch(s.fCacheFirst + (L - 1));
      __builtin_prefetch(from + L);
      __builtin_prefetch(to + L);
    }
  }
  if (i + 4 < runs.size()) {
    const int32_t L = runs[i + 4].Link;
    if (L >= 1 && L <= s.fCacheLinks) {
      const double* X = nw.X().data();
      const double* Y = nw.Y().data();
      __builtin_prefetch(X + from[L]);
      __builtin_prefetch(Y + from[L]);
      __builtin_prefetch(X + to[L]);
      __builtin_prefetch(Y + to[L]);
      __builtin_prefetch(s.fCachePoints + s.fCacheFirst[L - 1]);
    }
  }
}

void TSpatialSearch::BeginPolylines() {
  fCacheFirst = nullptr;
  fCachePoints = nullptr;
  fCacheLinks = 0;
  const TCoord3File* c = FNW->Coord3File();
  if (c && c->Cached() && c->CachedVertices(fCacheFirst, fCachePoints)) fCacheLinks = std::min(c->Count(), FNW->LinkCount());
}

// ---------------------------------------------------------------------------
// Nearest searches

template <class TScan>
void TSearchCore::GrowingSearch(TSpatialSearch& s, const TFloatPoint& P, TScan& Scan, const bool& Found,
                                const double& best, TFloatRect& Box) {
  const TQuadTree& tree = *s.FNW->QuadTree();
  const TQuadTreeCell& first = FindQuadTreeCell(tree, P);
  Scan(first);
  if (!Found) {
    // The leaf's smaller side, but never 0 (nodes on one line make a flat
    // leaf), so that the box grows.
    const TFloatRect& r = first.Rect();
    const TFloatRect& root = tree.Root().Rect();
    const double w = r.xmax - r.xmin, h = r.ymax - r.ymin;
    double a = std::min(w, h);
    if (!(a > 0)) a = std::max(w, h);
    if (!(a > 0)) a = std::max(root.xmax - root.xmin, root.ymax - root.ymin);
    if (!(a > 0)) a = 1;
    a *= RadiansPerUnit(KindOf(s.FNW->CoordinateUnit()));
    for (;;) {
      Box = s.SearchBox(P, a);
      WalkCells(tree, Box, Scan);
      if (Found) break;
      // Every leaf was scanned: nothing can qualify.
      if (Covers(Box, root)) return;
      a *= 1.5;
    }
  }
  Box = s.SearchBox(P, best);
  WalkCells(tree, Box, Scan);
}

template <TKind K>
bool TSearchCore::NearestNode(TSpatialSearch& s, const TFloatPoint& P, int32_t& node, double& best) {
  const TQuadTree& tree = *s.FNW->QuadTree();
  const double* X = s.FNW->X().data();
  const double* Y = s.FNW->Y().data();
  const TBitArray* skip = s.FSkipNodes;
  uint32_t* stamp = nullptr;
  s.NewVisit();
  stamp = s.fCellStamp.data();
  const uint32_t visit = s.fVisit;
  const TSphereBound bound(P, RadiansPerUnit(K));
  node = 0;
  best = cBest0;
  bool found = false;
  TFloatRect box{};
  auto scan = [&](const TQuadTreeCell& leaf) {
    if (stamp[leaf.ID()] == visit) return;
    stamp[leaf.ID()] = visit;
    bool improved = false;
    for (const int32_t n : tree.Nodes(leaf)) {
      if (skip && skip->GetBit(n)) continue;
      const TFloatPoint Q{X[n], Y[n]};
      if constexpr (K == TKind::Planar) {
        if (PlanarPointBeyond(P, Q, best)) continue;
      } else {
        if (TSphereBound::PointBeyond(bound.Vertex(Q), best)) continue;
      }
      const double d = PointDistance<K>(P, Q);
      if (d < best) {
        best = d;
        node = n;
        improved = true;
      }
    }
    if (improved) {
      found = true;
      box = s.SearchBox(P, best);
    }
  };
  GrowingSearch(s, P, scan, found, best, box);
  return found;
}

template <TKind K>
bool TSearchCore::NearestLocation(TSpatialSearch& s, const TFloatPoint& P, int32_t& link, int32_t& segment,
                                  double& best) {
  const TQuadTree& tree = *s.FNW->QuadTree();
  const TBitArray* skip = s.FSkipLinks;
  const TBitArray* include = s.FBA.get();
  s.NewVisit();
  uint32_t* stamp = s.fCellStamp.data();
  const uint32_t visit = s.fVisit;
  const TSphereBound bound(P, RadiansPerUnit(K));
  link = 0;
  segment = 0;
  best = cBest0;
  bool found = false;
  TFloatRect box{};
  auto scan = [&](const TQuadTreeCell& leaf) {
    if (stamp[leaf.ID()] == visit) return;
    stamp[leaf.ID()] = visit;
    bool improved = false;
    // Angular units: above the distance of some segment gathered from this
    // leaf, so that a segment beyond it is certainly farther than the best
    // and need not be gathered.
    double cap = std::numeric_limits<double>::infinity();
    const std::span<const TSubLink> runs = tree.Runs(leaf);
    for (size_t i = 0; i < runs.size(); ++i) {
      Prefetch(s, runs, i);
      const TSubLink& run = runs[i];
      const int32_t L = run.Link;
      if (skip && skip->GetBit(L)) continue;
      if (include && !include->GetBit(L)) continue;
      const TPolyView v = View(s, L);
      // An index that does not fit the polyline is read no further than its end.
      const int32_t last = std::min<int32_t>(run.sub2, v.Count - 1);
      if (run.sub1 >= last) continue;
      TFloatPoint a = v[run.sub1];
      if constexpr (K == TKind::Planar) {
        for (int32_t j = run.sub1 + 1; j <= last; ++j) {
          const TFloatPoint b = v[j];
          if (PlanarSegmentBeyond(a, b, P, best)) {
            a = b;
            continue;
          }
          const double d = SegmentDistance<K>(a, b, P);
          a = b;
          if (d < best) {
            best = d;
            link = L;
            segment = j;
            improved = true;
          }
        }
      } else {
        // The angular kernel is dear: gather the leaf's segments that may
        // beat the best so far, then measure them below.
        TSphereBound::TVertex ba = bound.Vertex(a);
        for (int32_t j = run.sub1 + 1; j <= last; ++j) {
          const TFloatPoint b = v[j];
          const TSphereBound::TVertex bb = bound.Vertex(b);
          if (!TSphereBound::SegmentBeyond(ba, bb, std::min(best, cap))) {
            s.fSegs.push_back({a, b, TSphereBound::SegmentLower(ba, bb), L, j});
            // The kernel gives at most about the farther end's distance,
            // which is at most its meridian-then-parallel path; the margin
            // covers the kernel's rounding, so that a segment beyond the cap
            // is strictly farther than this one and never ties the best.
            // Beyond a radian the kernel's asin may round farther up.
            const double far = std::max(ba.ub, bb.ub);
            if (far <= 1) cap = std::min(cap, far * (1 + 1e-9) + 1e-12);
          }
          a = b;
          ba = bb;
        }
      }
    }
    if constexpr (K != TKind::Planar) {
      // First the segment with the smallest bound, which is likely nearest,
      // so that the others mostly fall to their bound. Among equal distances
      // the first in leaf order wins, as a scan in that order would choose;
      // a best from an earlier leaf wins ties (k0 = -1).
      auto& segs = s.fSegs;
      const ptrdiff_t n = ptrdiff_t(segs.size());
      ptrdiff_t seed = -1;
      for (ptrdiff_t k = 0; k < n; ++k)
        if (seed < 0 || segs[size_t(k)].Lower < segs[size_t(seed)].Lower) seed = k;
      ptrdiff_t k0 = -1;
      auto measure = [&](ptrdiff_t k) {
        const TSpatialSearch::TSegEntry& e = segs[size_t(k)];
        const double d = SegmentDistance<K>(e.A, e.B, P);
        if (d < best || (d == best && k0 >= 0 && k < k0)) {
          best = d;
          link = e.Link;
          segment = e.Index;
          k0 = k;
          improved = true;
        }
      };
      if (seed >= 0) measure(seed);
      // Beyond the next double above the best: certainly no tie.
      double above = std::nextafter(best, std::numeric_limits<double>::infinity());
      for (ptrdiff_t k = 0; k < n; ++k) {
        if (k == seed) continue;
        const TSpatialSearch::TSegEntry& e = segs[size_t(k)];
        if (TSphereBound::SegmentBeyond(bound.Vertex(e.A), bound.Vertex(e.B), above)) continue;
        measure(k);
        above = std::nextafter(best, std::numeric_limits<double>::infinity());
      }
      segs.clear();
    }
    if (improved) {
      found = true;
      box = s.SearchBox(P, best);
    }
  };
  GrowingSearch(s, P, scan, found, best, box);
  return found;
}

bool TSpatialSearch::NearestNode_raw(const TFloatPoint& P, int32_t& node, double& best) {
  switch (KindOf(FNW->CoordinateUnit())) {
    case TKind::Rad: return TSearchCore::NearestNode<TKind::Rad>(*this, P, node, best);
    case TKind::Deg: return TSearchCore::NearestNode<TKind::Deg>(*this, P, node, best);
    case TKind::Grad: return TSearchCore::NearestNode<TKind::Grad>(*this, P, node, best);
    default: return TSearchCore::NearestNode<TKind::Planar>(*this, P, node, best);
  }
}

void TSpatialSearch::NearestNode(const TFloatPoint& P, int32_t& node, double& distance) {
  CheckSpatialIndex();
  FNW->CheckCoordinate(P);
  CheckSkipNodes();
  int32_t n = 0;
  double best = 0;
  if (!NearestNode_raw(P, n, best)) throw Exception(Format(cMsgNoNodeFound, "NearestNode"));
  node = n;
  distance = best * FNW->DistFactor();
}

int32_t TSpatialSearch::NearestNodeSimple(const TFloatPoint& P) {
  int32_t node = 0;
  double distance = 0;
  NearestNode(P, node, distance);
  return node;
}

bool TSpatialSearch::NearestSegment_raw(const TFloatPoint& P, int32_t& link, int32_t& segment, double& best) {
  fList1Link = 0;
  BeginPolylines();
  switch (KindOf(FNW->CoordinateUnit())) {
    case TKind::Rad: return TSearchCore::NearestLocation<TKind::Rad>(*this, P, link, segment, best);
    case TKind::Deg: return TSearchCore::NearestLocation<TKind::Deg>(*this, P, link, segment, best);
    case TKind::Grad: return TSearchCore::NearestLocation<TKind::Grad>(*this, P, link, segment, best);
    default: return TSearchCore::NearestLocation<TKind::Planar>(*this, P, link, segment, best);
  }
}

bool TSpatialSearch::NearestLocation_raw(const TFloatPoint& P, TLocation& Loc, int32_t& side, double& distance,
                                         TFloatPoint& Pnew) {
  const TKind K = KindOf(FNW->CoordinateUnit());
  int32_t link = 0, segment = 0;
  double best = 0;
  if (!NearestSegment_raw(P, link, segment, best)) return false;

  // Position along the winning polyline: the lengths of the segments before
  // the nearest one, plus the foot's distance along it.
  ReadLink1(link);
  const TCoordinateUnit unit = FNW->CoordinateUnit();
  const double f = RadiansPerUnit(K);
  const TFloatPoint* v = list1.Pnt.data();
  double total = 0, pos = 0;
  int32_t footSide = 1;
  TFloatPoint foot = v[0];
  for (int32_t i = 1; i < list1.Count; ++i) {
    if (i == segment) {
      TSegmentFoot r;
      if (K == TKind::Planar) {
        r = SegmentFootPlanar(v[i - 1], v[i], P);
      } else {
        r = SegmentFootSphere({v[i - 1].x * f, v[i - 1].y * f}, {v[i].x * f, v[i].y * f}, {P.x * f, P.y * f});
        const double back = UnitsPerRadian(K);
        r.F = {r.F.x * back, r.F.y * back};
      }
      pos = total + r.a;
      footSide = r.side;
      foot = r.F;
    }
    total += SegmentLength(unit, v[i - 1], v[i]);
  }
  Loc.link = link;
  Loc.percent = total == 0 ? 0 : total <= pos ? 1 : pos / total;
  side = footSide;
  distance = best * FNW->DistFactor();
  Pnew = foot;
  return true;
}

void TSpatialSearch::NearestLocation(const TFloatPoint& P, TLocation& Loc, int32_t& side, double& distance,
                                     TFloatPoint& Pnew) {
  CheckSpatialIndex();
  FNW->CheckCoordinate(P);
  CheckSkipLinks();
  TLocation l{0, 0};
  int32_t sd = 1;
  double d = 0;
  TFloatPoint F{};
  if (!NearestLocation_raw(P, l, sd, d, F)) throw Exception(Format(cMsgNoLinkFound, "NearestLocation"));
  Loc = l;
  side = sd;
  distance = d;
  Pnew = F;
}

TLocation TSpatialSearch::NearestLocationSimple(const TFloatPoint& P) {
  TLocation Loc{0, 0};
  int32_t side = 0;
  double distance = 0;
  TFloatPoint Pnew{};
  NearestLocation(P, Loc, side, distance, Pnew);
  return Loc;
}

void TSpatialSearch::NearestLocationSimpleList(TLocationList& LL) {
  const int32_t n = LL.Count();
  if (n == 0) return;
  // Every item first, so that a failing one leaves the list as it was.
  std::vector<TLocation> found(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i) found[size_t(i)] = NearestLocationSimple(LL.GetItem(i).P);
  for (int32_t i = 0; i < n; ++i) {
    TLocationListItem item = LL.GetItem(i);
    item.loc = found[size_t(i)];
    LL.SetItem(i, item);
  }
}

void TSpatialSearch::NearestVertex(const TFloatPoint& P, int32_t& link, int32_t& index, double& distance) {
  CheckSpatialIndex();
  FNW->CheckCoordinate(P);
  CheckSkipLinks();
  fList1Link = 0;
  BeginPolylines();
  fVertexTies.clear();
  int32_t bestLink = 0, bestIndex = 0;
  double best = 0;
  bool found = false;
  switch (KindOf(FNW->CoordinateUnit())) {
    case TKind::Rad: found = TSearchCore::NearestVertex<TKind::Rad>(*this, P, best); break;
    case TKind::Deg: found = TSearchCore::NearestVertex<TKind::Deg>(*this, P, best); break;
    case TKind::Grad: found = TSearchCore::NearestVertex<TKind::Grad>(*this, P, best); break;
    default: found = TSearchCore::NearestVertex<TKind::Planar>(*this, P, best); break;
  }
  if (!found) throw Exception(Format(cMsgNoLinkFound, "NearestVertex"));
  // Among vertices at the same distance the nearest link's come first, then
  // the other links ascending, each link's lowest index first. The nearest
  // link is only needed when the ties span several links (a shared node).
  auto lowest = [&](int32_t only) {
    bool any = false;
    for (const auto& [l, i] : fVertexTies)
      if ((only == 0 || l == only) && (!any || l < bestLink || (l == bestLink && i < bestIndex))) {
        bestLink = l;
        bestIndex = i;
        any = true;
      }
    return any;
  };
  lowest(0);
  const bool oneLink = std::all_of(fVertexTies.begin(), fVertexTies.end(),
                                   [&](const std::pair<int32_t, int32_t>& t) { return t.first == bestLink; });
  if (!oneLink) {
    int32_t L = 0, segment = 0;
    double d = 0;
    if (NearestSegment_raw(P, L, segment, d)) lowest(L);
  }
  link = bestLink;
  index = bestIndex;
  distance = best;
}

// ---------------------------------------------------------------------------
// Selections

template <TKind K>
bool TSearchCore::NearestVertex(TSpatialSearch& s, const TFloatPoint& P, double& best) {
  const TQuadTree& tree = *s.FNW->QuadTree();
  const TBitArray* skip = s.FSkipLinks;
  const double factor = s.FNW->DistFactor();
  s.NewVisit();
  uint32_t* stamp = s.fCellStamp.data();
  const uint32_t visit = s.fVisit;
  const TSphereBound bound(P, RadiansPerUnit(K));
  auto& ties = s.fVertexTies;
  best = cBest0;
  // The best in the unit's measure, a little above it, so that the box and
  // the bounds below keep every vertex that may tie.
  double reach = cBest0;
  bool found = false;
  TFloatRect box{};
  auto scan = [&](const TQuadTreeCell& leaf) {
    if (stamp[leaf.ID()] == visit) return;
    stamp[leaf.ID()] = visit;
    bool improved = false;
    const std::span<const TSubLink> runs = tree.Runs(leaf);
    for (size_t i = 0; i < runs.size(); ++i) {
      Prefetch(s, runs, i);
      const TSubLink& run = runs[i];
      const int32_t L = run.Link;
      if (skip && skip->GetBit(L)) continue;
      const TPolyView v = View(s, L);
      const int32_t last = std::min<int32_t>(run.sub2, v.Count - 1);
      for (int32_t j = run.sub1; j <= last; ++j) {
        const TFloatPoint Q = v[j];
        if constexpr (K == TKind::Planar) {
          if (PlanarPointBeyond(P, Q, reach)) continue;
        } else {
          if (TSphereBound::PointBeyond(bound.Vertex(Q), reach)) continue;
        }
        // As TNetwork::DistanceBetweenPoints_raw measures.
        const double d = PointDistance<K>(P, Q) * factor;
        if (d < best) {
          best = d;
          reach = best / factor * (1 + 1e-9);
          ties.clear();
          improved = true;
        }
        if (d == best) ties.push_back({L, j});
      }
    }
    if (improved) {
      found = true;
      box = s.SearchBox(P, reach);
    }
  };
  GrowingSearch(s, P, scan, found, reach, box);
  return found;
}

template <TKind K>
void TSearchCore::SelectLinks(TSpatialSearch& s, const TFloatPoint& P, double r) {
  const TQuadTree& tree = *s.FNW->QuadTree();
  const TBitArray* skip = s.FSkipLinks;
  uint64_t* mark = s.fLinkMark.data();
  const bool byBox = s.fMBRselect;
  const TFloatRect box = s.SearchBox(P, r);
  const TSphereBound bound(P, RadiansPerUnit(K));
  WalkCells(tree, box, [&](const TQuadTreeCell& leaf) {
    const std::span<const TSubLink> runs = tree.Runs(leaf);
    for (size_t i = 0; i < runs.size(); ++i) {
      Prefetch(s, runs, i);
      const TSubLink& run = runs[i];
      const int32_t L = run.Link;
      if (skip && skip->GetBit(L)) continue;
      if (mark[size_t(L) >> 6] & (uint64_t(1) << (L & 63))) continue;
      const TPolyView v = View(s, L);
      const int32_t last = std::min<int32_t>(run.sub2, v.Count - 1);
      bool take = false;
      if (byBox) {
        for (int32_t j = run.sub1; j <= last && !take; ++j) take = Inside(box, v[j]);
      } else {
        for (int32_t j = run.sub1 + 1; j <= last && !take; ++j) {
          if constexpr (K == TKind::Planar) {
            if (PlanarSegmentBeyond(v[j - 1], v[j], P, r)) continue;
          } else {
            if (TSphereBound::SegmentBeyond(bound.Vertex(v[j - 1]), bound.Vertex(v[j]), r)) continue;
          }
          take = SegmentDistance<K>(v[j - 1], v[j], P) < r;
        }
      }
      if (take) {
        mark[size_t(L) >> 6] |= uint64_t(1) << (L & 63);
        s.fSel.push_back(L);
      }
    }
  });
}

template <TKind K>
void TSearchCore::SelectNodes(TSpatialSearch& s, const TFloatPoint& P, double r) {
  const TQuadTree& tree = *s.FNW->QuadTree();
  const double* X = s.FNW->X().data();
  const double* Y = s.FNW->Y().data();
  const TBitArray* skip = s.FSkipNodes;
  const bool byBox = s.fMBRselect;
  const TFloatRect box = s.SearchBox(P, r);
  const TSphereBound bound(P, RadiansPerUnit(K));
  WalkCells(tree, box, [&](const TQuadTreeCell& leaf) {
    for (const int32_t n : tree.Nodes(leaf)) {
      if (skip && skip->GetBit(n)) continue;
      const TFloatPoint Q{X[n], Y[n]};
      if (byBox) {
        if (Inside(box, Q)) s.fSel.push_back(n);
        continue;
      }
      if constexpr (K == TKind::Planar) {
        if (PlanarPointBeyond(P, Q, r)) continue;
      } else {
        if (TSphereBound::PointBeyond(bound.Vertex(Q), r)) continue;
      }
      if (PointDistance<K>(P, Q) < r) s.fSel.push_back(n);
    }
  });
}

void TSpatialSearch::SelectLinks_raw(const TFloatPoint& P, double r) {
  fSel.clear();
  fList1Link = 0;
  BeginPolylines();
  // A negative or NaN radius selects nothing.
  if (!(r >= 0)) return;
  const size_t words = (size_t(FNW->LinkCount()) + 1 + 63) / 64;
  if (fLinkMark.size() < words) fLinkMark.resize(words, 0);
  TMarkReset reset{fLinkMark, fSel};
  switch (KindOf(FNW->CoordinateUnit())) {
    case TKind::Rad: TSearchCore::SelectLinks<TKind::Rad>(*this, P, r); break;
    case TKind::Deg: TSearchCore::SelectLinks<TKind::Deg>(*this, P, r); break;
    case TKind::Grad: TSearchCore::SelectLinks<TKind::Grad>(*this, P, r); break;
    default: TSearchCore::SelectLinks<TKind::Planar>(*this, P, r); break;
  }
}

void TSpatialSearch::SelectNodes_raw(const TFloatPoint& P, double r) {
  fSel.clear();
  if (!(r >= 0)) return;
  switch (KindOf(FNW->CoordinateUnit())) {
    case TKind::Rad: TSearchCore::SelectNodes<TKind::Rad>(*this, P, r); break;
    case TKind::Deg: TSearchCore::SelectNodes<TKind::Deg>(*this, P, r); break;
    case TKind::Grad: TSearchCore::SelectNodes<TKind::Grad>(*this, P, r); break;
    default: TSearchCore::SelectNodes<TKind::Planar>(*this, P, r); break;
  }
}

namespace {

// List := Sel ascending; BA := Size bits with those of Sel set. Either may be null.
void HandOut(std::vector<int32_t>& Sel, bool SortList, TIntegerList* List, TBitArray* BA, int64_t Size) {
  if (SortList) std::sort(Sel.begin(), Sel.end());
  if (BA) {
    BA->SetSize(Size);
    BA->SetAllFalse();
    for (const int32_t i : Sel) BA->SetBit2(i, true);
  }
  if (List) {
    List->Clear();
    List->SetCapacity(int32_t(Sel.size()));
    for (const int32_t i : Sel) List->Add(i);
  }
}

}  // namespace

void TSpatialSearch::SelectLinks(const TFloatPoint& P, double Radius, TIntegerList* List, TBitArray* BA) {
  CheckSpatialIndex();
  FNW->CheckCoordinate(P);
  CheckSkipLinks();
  SelectLinks_raw(P, Radius / FNW->DistFactor());
  HandOut(fSel, true, List, BA, int64_t(FNW->LinkCount()) + 1);
}

void TSpatialSearch::SelectLinksArray(const TFloatPoint& P, double Radius, TBitArray& BA) {
  SelectLinks(P, Radius, nullptr, &BA);
}

void TSpatialSearch::SelectLinksList(const TFloatPoint& P, double Radius, TIntegerList& List) {
  SelectLinks(P, Radius, &List, nullptr);
}

void TSpatialSearch::SelectNodes(const TFloatPoint& P, double Radius, TIntegerList* List, TBitArray* BA) {
  CheckSpatialIndex();
  FNW->CheckCoordinate(P);
  CheckSkipNodes();
  SelectNodes_raw(P, Radius / FNW->DistFactor());
  HandOut(fSel, true, List, BA, int64_t(FNW->NodeCount()) + 1);
}

void TSpatialSearch::SelectNodesList(const TFloatPoint& P, double Radius, TIntegerList& List) {
  SelectNodes(P, Radius, &List, nullptr);
}

void TSpatialSearch::SelectNodesArray(const TFloatPoint& P, double Radius, TBitArray& BA) {
  SelectNodes(P, Radius, nullptr, &BA);
}

void TSpatialSearch::SelectLinksInRect(const TFloatRect& Rect, TIntegerList& List) {
  CheckSpatialIndex();
  CheckSkipLinks();
  fSel.clear();
  fList1Link = 0;
  BeginPolylines();
  const size_t words = (size_t(FNW->LinkCount()) + 1 + 63) / 64;
  if (fLinkMark.size() < words) fLinkMark.resize(words, 0);
  {
    TMarkReset reset{fLinkMark, fSel};
    const TQuadTree& tree = *FNW->QuadTree();
    const TBitArray* skip = FSkipLinks;
    uint64_t* mark = fLinkMark.data();
    WalkCells(tree, Rect, [&](const TQuadTreeCell& leaf) {
      for (const TSubLink& run : tree.Runs(leaf)) {
        const int32_t L = run.Link;
        if (skip && skip->GetBit(L)) continue;
        if (mark[size_t(L) >> 6] & (uint64_t(1) << (L & 63))) continue;
        const TPolyView v = TSearchCore::View(*this, L);
        const int32_t last = std::min<int32_t>(run.sub2, v.Count - 1);
        for (int32_t j = run.sub1; j <= last; ++j)
          if (Inside(Rect, v[j])) {
            mark[size_t(L) >> 6] |= uint64_t(1) << (L & 63);
            fSel.push_back(L);
            break;
          }
      }
    });
  }
  HandOut(fSel, true, &List, nullptr, 0);
}

void TSpatialSearch::SelectNodesInRect(const TFloatRect& Rect, TIntegerList& List) {
  CheckSpatialIndex();
  fSel.clear();
  const TQuadTree& tree = *FNW->QuadTree();
  const double* X = FNW->X().data();
  const double* Y = FNW->Y().data();
  WalkCells(tree, Rect, [&](const TQuadTreeCell& leaf) {
    for (const int32_t n : tree.Nodes(leaf))
      if (Inside(Rect, TFloatPoint{X[n], Y[n]})) fSel.push_back(n);
  });
  // Leaf order, as the walk met them.
  HandOut(fSel, false, &List, nullptr, 0);
}

}  // namespace kovra
