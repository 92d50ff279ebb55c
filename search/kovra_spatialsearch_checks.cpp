// Geometric network checks: places where the geometry and the topology of
// the network disagree. Nodes close together but not joined, nodes close to
// a link they do not touch (both written as layers of short lines), links
// that cross without a common node, and dead ends or pass-through nodes that
// could be snapped onto a nearby link (both appended to a location list).
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <span>
#include <vector>

#include "foundation/kovra_functions.h"
#include "foundation/kovra_sparsematrix.h"
#include "network/kovra_coord3file.h"
#include "network/kovra_network.h"
#include "network/kovra_quadtree.h"
#include "search/kovra_spatialsearch.h"
#include "search/kovra_spatialsearch_core.h"

namespace kovra {

using namespace search;

namespace {

// The box of a polyline, bounds as its extreme vertices.
TFloatRect BoxOf(const TPolyView& v) {
  TFloatRect r{v.First.x, v.First.y, v.First.x, v.First.y};
  for (int32_t j = 1; j < v.Count; ++j) {
    const TFloatPoint p = v[j];
    r.xmin = std::min(r.xmin, p.x);
    r.xmax = std::max(r.xmax, p.x);
    r.ymin = std::min(r.ymin, p.y);
    r.ymax = std::max(r.ymax, p.y);
  }
  return r;
}

// Orientation of p2 against the line p0 -> p1: +1 counter-clockwise, -1
// clockwise; on the line, -1 behind p0, +1 beyond p1, 0 between them.
int32_t ccw(const TFloatPoint& p0, const TFloatPoint& p1, const TFloatPoint& p2) {
  const double dx1 = p1.x - p0.x, dy1 = p1.y - p0.y;
  const double dx2 = p2.x - p0.x, dy2 = p2.y - p0.y;
  if (dx1 * dy2 > dy1 * dx2) return 1;
  if (dx1 * dy2 < dy1 * dx2) return -1;
  if (dx1 * dx2 < 0 || dy1 * dy2 < 0) return -1;
  if (dx1 * dx1 + dy1 * dy1 < dx2 * dx2 + dy2 * dy2) return 1;
  return 0;
}

// X's fraction of the segment A -> B, from the x values, or from the y
// values when the segment is vertical. A and B differ.
double Fraction(const TFloatPoint& X, const TFloatPoint& A, const TFloatPoint& B) {
  if (B.x != A.x) return (X.x - A.x) / (B.x - A.x);
  return (X.y - A.y) / (B.y - A.y);
}

bool SameBox(const TFloatPoint& A, const TFloatPoint& B, const TFloatPoint& C, const TFloatPoint& D) {
  return std::min(A.x, B.x) <= std::max(C.x, D.x) && std::min(C.x, D.x) <= std::max(A.x, B.x) &&
         std::min(A.y, B.y) <= std::max(C.y, D.y) && std::min(C.y, D.y) <= std::max(A.y, B.y);
}

// Where segments A-B and C-D, which the orientation test says meet, meet:
// X with its fractions t1 along A-B and t2 along C-D. False when no point is
// defined: nearly parallel segments that are not collinear, or collinear
// ones of which no end lies on the other. "Nearly" is relative to the
// segments' lengths (the sine of their angle below 1e-10), so that it means
// the same in degrees as in metres: an absolute bound on the cross product
// called every X of two half-metre links in a degree network parallel. For
// segments a unit long the bound is the absolute 1e-10 it was.
bool MeetingPoint(const TFloatPoint& A, const TFloatPoint& B, const TFloatPoint& C, const TFloatPoint& D,
                  TFloatPoint& X, double& t1, double& t2) {
  constexpr double cParallel = 1e-10;
  const double v = (C.x - D.x) * (A.y - B.y) - (C.y - D.y) * (A.x - B.x);
  const double lengthCD = std::hypot(C.x - D.x, C.y - D.y);
  if (std::fabs(v) >= cParallel * lengthCD * std::hypot(A.x - B.x, A.y - B.y) && v != 0) {
    const double N = ((A.x - B.x) * (D.y - B.y) - (A.y - B.y) * (D.x - B.x)) / v;
    X = {D.x + N * (C.x - D.x), D.y + N * (C.y - D.y)};
    t2 = 1 - N;
    t1 = Fraction(X, A, B);
    return true;
  }
  // Collinear: B lies on the line C-D, within the same relative bound.
  const double w = (C.x - D.x) * (D.y - B.y) - (C.y - D.y) * (D.x - B.x);
  if (!(std::fabs(w) <= cParallel * lengthCD * std::hypot(D.x - B.x, D.y - B.y))) return false;
  // Collinear overlap: a point both segments hold, with both fractions
  // belonging to it (C or D on A-B first, else A or B on C-D).
  auto on = [](double t) { return t >= 0 && t <= 1; };
  if (const double f = Fraction(C, A, B); on(f)) {
    X = C, t1 = f, t2 = 0;
    return true;
  }
  if (const double f = Fraction(D, A, B); on(f)) {
    X = D, t1 = f, t2 = 1;
    return true;
  }
  if (const double f = Fraction(A, C, D); on(f)) {
    X = A, t1 = 0, t2 = f;
    return true;
  }
  if (const double f = Fraction(B, C, D); on(f)) {
    X = B, t1 = 1, t2 = f;
    return true;
  }
  return false;
}

// A box in Single, rounded outwards.
struct TLinkBox {
  float xmin, ymin, xmax, ymax;
  static float Down(double v) {
    float f = float(v);
    return double(f) > v ? std::nextafter(f, -std::numeric_limits<float>::infinity()) : f;
  }
  static float Up(double v) {
    float f = float(v);
    return double(f) < v ? std::nextafter(f, std::numeric_limits<float>::infinity()) : f;
  }
  static TLinkBox Of(const TFloatRect& r) { return {Down(r.xmin), Down(r.ymin), Up(r.xmax), Up(r.ymax)}; }
  // For a link without a polyline of its own: no shortcut.
  static TLinkBox Everywhere() {
    const float inf = std::numeric_limits<float>::infinity();
    return {-inf, -inf, inf, inf};
  }
  bool Meets(const TFloatRect& b) const { return xmin <= b.xmax && b.xmin <= xmax && ymin <= b.ymax && b.ymin <= ymax; }
};

bool SamePoint(const TFloatPoint& a, const TFloatPoint& b) { return a.x == b.x && a.y == b.y; }

// Resets the include-links filter on every exit, so that no later
// NearestLocation is filtered by a stale set.
struct TFilterReset {
  std::unique_ptr<TBitArray>& BA;
  ~TFilterReset() { BA.reset(); }
};

// Clears the marks of the links in Marked on every exit.
struct TMarkClear {
  std::vector<uint64_t>& Mark;
  std::vector<int32_t>& Marked;
  void operator()() {
    for (const int32_t l : Marked) Mark[size_t(l) >> 6] &= ~(uint64_t(1) << (l & 63));
    Marked.clear();
  }
  ~TMarkClear() { (*this)(); }
};

}  // namespace

// The per-kind loops, with access to the object's fields.
struct TCheckCore {
  // Link's whole polyline, from the network's vertex cache or read into Buf.
  static TPolyView View(const TSpatialSearch& s, int32_t link, TFloatPointArrayEx& Buf) {
    const TNetwork& nw = *s.FNW;
    if (s.fCacheFirst && link >= 1 && link <= s.fCacheLinks) {
      const int32_t first = s.fCacheFirst[link - 1];
      return {s.fCachePoints + first, s.fCacheFirst[link] - first + 2,
              nw.Node2Coordinate_raw(nw.Fromnodes()[size_t(link)]),
              nw.Node2Coordinate_raw(nw.Tonodes()[size_t(link)])};
    }
    nw.GetGISSection_raw(link, Buf);
    const TFloatPoint* p = Buf.Pnt.data();
    return {p + 1, Buf.Count, p[0], p[Buf.Count - 1]};
  }

  // True when some segment of v may lie within r of P (a certain miss is
  // false), so that DistanceToLink runs only on links that can qualify.
  template <TKind K>
  static bool MayReach(const TPolyView& v, const TFloatPoint& P, double r, const TSphereBound& bound) {
    for (int32_t j = 1; j < v.Count; ++j) {
      if constexpr (K == TKind::Planar) {
        if (!PlanarSegmentBeyond(v[j - 1], v[j], P, r)) return true;
      } else {
        if (!TSphereBound::SegmentBeyond(bound.Vertex(v[j - 1]), bound.Vertex(v[j]), r)) return true;
      }
    }
    return v.Count < 2;
  }

  template <TKind K>
  static void NonConnectedNodes(TSpatialSearch& s, TGISWriter& w, double Radius);
  template <TKind K>
  static void NonConnected(TSpatialSearch& s, TGISWriter& w, double Radius);
  template <TKind K>
  static void Overpasses(TSpatialSearch& s, std::vector<TLocationListItem>& Found);
};

// ---------------------------------------------------------------------------
// Nodes close together without a link between them

template <TKind K>
void TCheckCore::NonConnectedNodes(TSpatialSearch& s, TGISWriter& w, double Radius) {
  const TNetwork& nw = *s.FNW;
  const TQuadTree& tree = *nw.QuadTree();
  const double* X = nw.X().data();
  const double* Y = nw.Y().data();
  const TBitArray* skip = s.FSkipNodes;
  const bool byBox = s.fMBRselect;
  const double r = Radius / nw.DistFactor();
  std::vector<int32_t>& sel = s.fSel;
  std::string text;
  for (int32_t node1 = 1; node1 <= nw.NodeCount(); ++node1) {
    const TFloatPoint P1{X[node1], Y[node1]};
    // The radius selection of the nodes above node1: each pair once, from
    // its lower id.
    const TFloatRect box = s.SearchBox(P1, r);
    const TSphereBound bound(P1, RadiansPerUnit(K));
    sel.clear();
    WalkCells(tree, box, [&](const TQuadTreeCell& leaf) {
      for (const int32_t n : tree.Nodes(leaf)) {
        if (n <= node1 || (skip && skip->GetBit(n))) continue;
        const TFloatPoint Q{X[n], Y[n]};
        if (byBox) {
          if (Inside(box, Q)) sel.push_back(n);
          continue;
        }
        if constexpr (K == TKind::Planar) {
          // Outside the square is beyond the radius.
          if (!Inside(box, Q)) continue;
        } else {
          if (TSphereBound::PointBeyond(bound.Vertex(Q), r)) continue;
        }
        if (PointDistance<K>(P1, Q) < r) sel.push_back(n);
      }
    });
    std::sort(sel.begin(), sel.end());
    for (const int32_t node2 : sel) {
      if (nw.NodesConnected(node1, node2)) continue;
      const TFloatPoint P2{X[node2], Y[node2]};
      text = IntToStr(node1) + "," + IntToStr(node2) + "," + FloatToStrDot(nw.DistanceBetweenPoints_raw(P1, P2));
      w.AddLine2(P1, P2, text);
    }
    s.ProgressExecute(node1);
  }
}

int32_t TSpatialSearch::FindNonConnectedNodes(const std::string& filename, TGISFormat GF, double Radius) {
  CheckSpatialIndex();
  CheckSkipNodes();
  const TNetwork& nw = *FNW;
  return nw.WriteOutputTo(filename, GF, {.DropEmpty = true, .ProgressZero = true}, *FGISarray, FGeoJSON, *this,
                          [&](TGISWriter& w) {
                            w.StartHeader(3, otPline);
                            w.AddField("Node1", gfInteger, 0, 0);
                            w.AddField("Node2", gfInteger, 0, 0);
                            w.AddField("distance", gfFloat, 0, 0);
                            w.Pen.Width = 10;
                            SetProgressStart(0);
                            SetProgressStop(100);
                            SetProgressMaxValue(nw.NodeCount());
                            // A radius <= 0 or NaN finds nothing.
                            if (!(Radius > 0)) return;
                            switch (KindOf(nw.CoordinateUnit())) {
                              case TKind::Rad: TCheckCore::NonConnectedNodes<TKind::Rad>(*this, w, Radius); break;
                              case TKind::Deg: TCheckCore::NonConnectedNodes<TKind::Deg>(*this, w, Radius); break;
                              case TKind::Grad: TCheckCore::NonConnectedNodes<TKind::Grad>(*this, w, Radius); break;
                              default: TCheckCore::NonConnectedNodes<TKind::Planar>(*this, w, Radius); break;
                            }
                          });
}

// ---------------------------------------------------------------------------
// Nodes close to a link they do not touch

template <TKind K>
void TCheckCore::NonConnected(TSpatialSearch& s, TGISWriter& w, double Radius) {
  const TNetwork& nw = *s.FNW;
  const TQuadTree& tree = *nw.QuadTree();
  const int32_t* from = nw.Fromnodes().data();
  const int32_t* to = nw.Tonodes().data();
  const double r = Radius / nw.DistFactor();
  const size_t words = (size_t(nw.LinkCount()) + 1 + 63) / 64;
  if (s.fLinkMark.size() < words) s.fLinkMark.resize(words, 0);
  uint64_t* mark = s.fLinkMark.data();
  std::vector<int32_t> marked;
  TMarkClear clear{s.fLinkMark, marked};
  // Every link's box, rounded outwards to Single: a link whose box misses
  // the search box is beyond the radius, and this one read spares most of
  // the polyline reads.
  std::vector<TLinkBox> boxes(size_t(nw.LinkCount()) + 1);
  const float* length = nw.Lengths().data();
  for (int32_t l = 1; l <= nw.LinkCount(); ++l)
    boxes[size_t(l)] = length[l] == 0 ? TLinkBox::Everywhere() : TLinkBox::Of(BoxOf(View(s, l, s.list1)));
  std::string text;
  for (int32_t node = 1; node <= nw.NodeCount(); ++node) {
    const TFloatPoint P = nw.Node2Coordinate_raw(node);
    const TFloatRect box = s.SearchBox(P, r);
    const TSphereBound bound(P, RadiansPerUnit(K));
    clear();
    WalkCells(tree, box, [&](const TQuadTreeCell& leaf) {
      for (const TSubLink& run : tree.Runs(leaf)) {
        const int32_t L = run.Link;
        // Certainly too far, from whichever leaf it is met: no need to mark.
        if (!boxes[size_t(L)].Meets(box)) continue;
        if (mark[size_t(L) >> 6] & (uint64_t(1) << (L & 63))) continue;
        mark[size_t(L) >> 6] |= uint64_t(1) << (L & 63);
        marked.push_back(L);
        const int32_t f = from[L], t = to[L];
        if (node == f || node == t) continue;
        // The topology tests are cheaper than the distance; all of them
        // only skip, so their order does not change what is found.
        if (nw.NodesConnected(node, f) || nw.NodesConnected(node, t)) continue;
        if (!MayReach<K>(View(s, L, s.list1), P, r, bound)) continue;
        double percent = 0, d = 0;
        int32_t side = 0;
        TFloatPoint Pnew{};
        nw.DistanceToLink_raw(P, L, percent, side, d, Pnew);
        if (!(d < Radius)) continue;
        text = IntToStr(node) + "," + IntToStr(L) + "," + FloatToStrDot(d);
        w.AddLine2(P, Pnew, text);
        // The rest of this leaf waits for the node's other leaves.
        return;
      }
    });
    s.ProgressExecute(node);
  }
}

int32_t TSpatialSearch::FindNonConnected(const std::string& filename, TGISFormat GF, double Radius) {
  CheckSpatialIndex();
  const TNetwork& nw = *FNW;
  return nw.WriteOutputTo(filename, GF, {.DropEmpty = true, .ProgressZero = true}, *FGISarray, FGeoJSON, *this,
                          [&](TGISWriter& w) {
                            w.StartHeader(3, otPline);
                            w.AddField("Node", gfInteger, 0, 0);
                            w.AddField("Link", gfInteger, 0, 0);
                            w.AddField("distance", gfFloat, 20, 8);
                            w.Pen.Width = 10;
                            SetProgressStart(0);
                            SetProgressStop(100);
                            SetProgressMaxValue(nw.NodeCount());
                            if (!(Radius > 0)) return;
                            fList1Link = 0;
                            BeginPolylines();
                            switch (KindOf(nw.CoordinateUnit())) {
                              case TKind::Rad: TCheckCore::NonConnected<TKind::Rad>(*this, w, Radius); break;
                              case TKind::Deg: TCheckCore::NonConnected<TKind::Deg>(*this, w, Radius); break;
                              case TKind::Grad: TCheckCore::NonConnected<TKind::Grad>(*this, w, Radius); break;
                              default: TCheckCore::NonConnected<TKind::Planar>(*this, w, Radius); break;
                            }
                          });
}

// ---------------------------------------------------------------------------
// Links that cross without a common node

template <TKind K>
void TCheckCore::Overpasses(TSpatialSearch& s, std::vector<TLocationListItem>& Found) {
  const TNetwork& nw = *s.FNW;
  const TQuadTree& tree = *nw.QuadTree();
  const int32_t* from = nw.Fromnodes().data();
  const int32_t* to = nw.Tonodes().data();
  const float* length = nw.Lengths().data();
  const double DF = nw.DistFactor();
  TSparseMatrix examined(nw.LinkCount() + 1);
  // Per run of the current leaf: its link's box, once computed.
  std::vector<TFloatRect> box;
  std::vector<uint8_t> boxed;
  TFloatPointArrayEx buf1, buf2;
  // Position of X along a polyline in km, as a fraction of the stored length,
  // kept within the link (the stored Single may be shorter than the sum).
  auto percent = [&](const TPolyView& v, int32_t seg, double t, int32_t link) {
    double before = 0;
    for (int32_t k = 1; k <= seg; ++k) before += PointDistance<K>(v[k - 1], v[k]);
    const double len = double(length[link]);
    if (!(len > 0)) return 0.0;
    const double p = (before + t * PointDistance<K>(v[seg], v[seg + 1])) / len * DF;
    return std::clamp(p, 0.0, 1.0);
  };
  int32_t leafNo = 0;
  const double inf = std::numeric_limits<double>::infinity();
  WalkCells(tree, TFloatRect{-inf, -inf, inf, inf}, [&](const TQuadTreeCell& leaf) {
    s.ProgressExecute(++leafNo);
    const std::span<const TSubLink> runs = tree.Runs(leaf);
    box.resize(runs.size());
    boxed.assign(runs.size(), 0);
    auto boxOf = [&](size_t i) -> const TFloatRect& {
      if (!boxed[i]) {
        box[i] = BoxOf(View(s, runs[i].Link, buf2));
        boxed[i] = 1;
      }
      return box[i];
    };
    for (size_t i = 0; i + 1 < runs.size(); ++i) {
      const int32_t link1 = runs[i].Link;
      const int32_t f1 = from[link1], t1 = to[link1];
      TPolyView v1{};
      bool read1 = false;
      for (size_t j = i + 1; j < runs.size(); ++j) {
        const int32_t link2 = runs[j].Link;
        if (link1 == link2) continue;
        const int32_t f2 = from[link2], t2 = to[link2];
        if (f1 == f2 || f1 == t2 || t1 == f2 || t1 == t2) continue;
        // Boxes apart: no crossing, whichever leaf asks.
        if (!Overlaps(boxOf(i), boxOf(j))) continue;
        // A pair is examined once, in the first leaf holding both.
        if (examined.Add(std::min(link1, link2), std::max(link1, link2))) continue;
        if (!read1) {
          v1 = View(s, link1, buf1);
          read1 = true;
        }
        const TPolyView v2 = View(s, link2, buf2);
        const TFloatRect& b2 = box[j];
        const TFloatPoint e1a = v1.First, e1b = v1.Last, e2a = v2.First, e2b = v2.Last;
        bool done = false;
        for (int32_t l = 0; l + 1 < v1.Count && !done; ++l) {
          const TFloatPoint A = v1[l], B = v1[l + 1];
          // A repeated vertex is no segment: it cannot define a crossing.
          if (SamePoint(A, B)) continue;
          if (std::max(A.x, B.x) < b2.xmin || std::min(A.x, B.x) > b2.xmax || std::max(A.y, B.y) < b2.ymin ||
              std::min(A.y, B.y) > b2.ymax)
            continue;
          for (int32_t m = 0; m + 1 < v2.Count; ++m) {
            const TFloatPoint C = v2[m], D = v2[m + 1];
            if (SamePoint(C, D) || !SameBox(A, B, C, D)) continue;
            const int32_t c1 = ccw(A, B, C), c2 = ccw(A, B, D), c3 = ccw(C, D, A), c4 = ccw(C, D, B);
            if (!((c1 * c2 < 0 && c3 * c4 < 0) || c1 * c2 * c3 * c4 == 0)) continue;
            TFloatPoint X{};
            double u1 = 0, u2 = 0;
            if (!MeetingPoint(A, B, C, D, X, u1, u2)) continue;
            if (SamePoint(X, e1a) || SamePoint(X, e1b) || SamePoint(X, e2a) || SamePoint(X, e2b)) continue;
            Found.push_back({TLocation{link1, percent(v1, l, u1, link1)}, X});
            Found.push_back({TLocation{link2, percent(v2, m, u2, link2)}, X});
            done = true;
            break;
          }
        }
      }
    }
  });
}

void TSpatialSearch::FindOverpasses(TLocationList& LL) {
  CheckSpatialIndex();
  SetProgressStart(0);
  SetProgressStop(100);
  SetProgressMaxValue(FNW->QuadTree()->CellCount());
  fList1Link = 0;
  BeginPolylines();
  // Collected apart, so that a failure leaves LL as it was.
  std::vector<TLocationListItem> found;
  switch (KindOf(FNW->CoordinateUnit())) {
    case TKind::Rad: TCheckCore::Overpasses<TKind::Rad>(*this, found); break;
    case TKind::Deg: TCheckCore::Overpasses<TKind::Deg>(*this, found); break;
    case TKind::Grad: TCheckCore::Overpasses<TKind::Grad>(*this, found); break;
    default: TCheckCore::Overpasses<TKind::Planar>(*this, found); break;
  }
  ProgressExecuteZero();
  for (const TLocationListItem& item : found) LL.Add(item);
  LL.RemoveDuplicates();
  LL.RemoveStartEndPos();
}

// ---------------------------------------------------------------------------
// Nodes that could be snapped onto a nearby link

int32_t TSpatialSearch::SplitAndSnap(double Radius, TLocationList& LL) {
  CheckSpatialIndex();
  CheckSkipLinks();
  const TNetwork& nw = *FNW;
  const TIntegerArray& a = nw.DegreeTable();
  // Nodes of degree 1 and 2 follow those of degree 3 or more; a network
  // without such nodes has no entry 3.
  const int32_t first = a.size() > 3 ? a[3] + 1 : 1;
  const int32_t n = nw.NodeCount();
  const int32_t* from = nw.Fromnodes().data();
  const int32_t* to = nw.Tonodes().data();
  SetProgressStart(0);
  SetProgressStop(100);
  SetProgressMaxValue(n - first);
  std::vector<TLocationListItem> found;
  int32_t count = 0;
  {
    FBA = std::make_unique<TBitArray>(int64_t(nw.LinkCount()) + 1);
    TFilterReset reset{FBA};
    FBA->SetAllTrue();
    std::vector<int32_t> cleared;
    for (int32_t node = first; node <= n && Radius > 0; ++node) {
      // Not onto its own links, nor onto links that meet a neighbour.
      for (const int32_t e : nw.Adjacent(node)) {
        const int32_t l = std::abs(e);
        cleared.push_back(l);
        const int32_t other = from[l] + to[l] - node;
        for (const int32_t e2 : nw.Adjacent(other)) cleared.push_back(std::abs(e2));
      }
      for (const int32_t l : cleared) FBA->SetBit2(l, false);
      TLocation Loc{0, 0};
      int32_t side = 0;
      double d = 0;
      TFloatPoint Pnew{};
      const bool any = NearestLocation_raw(nw.Node2Coordinate_raw(node), Loc, side, d, Pnew);
      for (const int32_t l : cleared) FBA->SetBit2(l, true);
      cleared.clear();
      if (any && d < Radius && Loc.percent != 0 && Loc.percent != 1) {
        ++count;
        found.push_back({Loc, Pnew});
        for (const int32_t e : nw.Adjacent(node)) {
          const int32_t l = std::abs(e);
          if (from[l] == node) found.push_back({TLocation{l, -2}, Pnew});
          if (to[l] == node) found.push_back({TLocation{l, -1}, Pnew});
        }
      }
      ProgressExecute(node - first);
    }
  }
  ProgressExecuteZero();
  for (const TLocationListItem& item : found) LL.Add(item);
  LL.RemoveDuplicates();
  LL.RemoveStartEndPos();
  return count;
}

}  // namespace kovra
