#include "routing/support/bgl_oracle.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include <boost/graph/adjacency_list.hpp>
#include <boost/graph/dijkstra_shortest_paths.hpp>

#include "network/kovra_turn.h"

namespace kovra::testsupport {

namespace {

inline int32_t Abs(int32_t v) { return v < 0 ? -v : v; }

}  // namespace

TBglOracle::TBglOracle(const TNetwork& nw, const TOracleOptions& o) : fNW(nw), fO(o) {
  const int32_t L = nw.LinkCount();
  fWeight.assign(size_t(L) + 1, 0.0f);
  fAdmitted.assign(size_t(L) + 1, 0);
  for (int32_t l = 1; l <= L; ++l) {
    float w = nw.Lengths()[size_t(l)];
    if (o.Criterion == rcTime) {
      double t = nw.Times()[size_t(o.TimeColumn)][size_t(l)];
      if (o.MaxSpeed != 0) t = std::max(t, double(nw.Lengths()[size_t(l)]) * 60.0 / o.MaxSpeed);
      if (o.RelativeSpeed != 1) t = t / o.RelativeSpeed;
      w = float(t);
    } else if (o.Criterion == rcCost) {
      w = nw.Costs()[size_t(o.CostColumn)][size_t(l)];
    }
    fWeight[size_t(l)] = w;
    bool ok = !(o.Skip && o.Skip->GetBit(l));
    for (int32_t k = 1; k <= std::min(nw.LimitSlots(), 9) && ok; ++k) {
      const uint8_t vehicle = o.Vehicle[size_t(k - 1)];
      if (vehicle == 0 || nw.Limits(k).empty()) continue;
      const uint8_t v = nw.Limits(k)[size_t(l)];
      if (nw.LimitIsBitPattern(k) ? (vehicle & v) != 0 : (v != 0 && v < vehicle)) ok = false;
    }
    fAdmitted[size_t(l)] = ok;
  }
  DeriveDeadEnds();
  DeriveExits();
  fForeign.assign(size_t(L) + 1, 0);
  fExitFT.assign(size_t(L) + 1, 0);
  fExitTF.assign(size_t(L) + 1, 0);
  const TAreaList& areas = nw.AreaList();
  for (int32_t i = 0; i < areas.Count(); ++i) {
    const TAreaListItem& it = areas.Item(i);
    if (it.areaID == o.AllowedArea || (o.AllowedArea2 != 0 && it.areaID == o.AllowedArea2)) continue;
    fForeign[size_t(it.link)] = 1;
    fExitFT[size_t(it.link)] = fExitAtTo[size_t(it.link)];
    fExitTF[size_t(it.link)] = fExitAtFrom[size_t(it.link)];
  }
}

// Links of length 0 are rejected objects, no part of the graph.
std::vector<std::vector<int32_t>> TBglOracle::LinksAtNodes() const {
  std::vector<std::vector<int32_t>> at(size_t(fNW.NodeCount()) + 1);
  for (int32_t l = 1; l <= fNW.LinkCount(); ++l) {
    if (fNW.Lengths()[size_t(l)] == 0) continue;
    at[size_t(fNW.Fromnodes()[size_t(l)])].push_back(l);
    at[size_t(fNW.Tonodes()[size_t(l)])].push_back(l);
  }
  return at;
}

// Strips nodes with one remaining link until none is left: the links
// stripped are those of the trees that hang off the rest of the network.
void TBglOracle::DeriveDeadEnds() {
  const auto at = LinksAtNodes();
  std::vector<int32_t> degree(at.size());
  std::vector<int32_t> leaves;
  for (size_t n = 1; n < at.size(); ++n) {
    degree[n] = int32_t(at[n].size());
    if (degree[n] == 1) leaves.push_back(int32_t(n));
  }
  fDeadEnd.assign(size_t(fNW.LinkCount()) + 1, 0);
  while (!leaves.empty()) {
    const int32_t n = leaves.back();
    leaves.pop_back();
    if (degree[size_t(n)] != 1) continue;
    for (const int32_t l : at[size_t(n)]) {
      if (fDeadEnd[size_t(l)]) continue;
      fDeadEnd[size_t(l)] = 1;
      const int32_t m = fNW.Fromnodes()[size_t(l)] + fNW.Tonodes()[size_t(l)] - n;
      --degree[size_t(n)];
      if (--degree[size_t(m)] == 1) leaves.push_back(m);
      break;
    }
  }
}

// An end of an area link is a border when links outside every area meet
// there too.
void TBglOracle::DeriveExits() {
  const auto at = LinksAtNodes();
  std::vector<uint8_t> inArea(size_t(fNW.LinkCount()) + 1, 0);
  const TAreaList& areas = fNW.AreaList();
  for (int32_t i = 0; i < areas.Count(); ++i) inArea[size_t(areas.Item(i).link)] = 1;
  auto border = [&](int32_t n) {
    bool in = false, out = false;
    for (const int32_t l : at[size_t(n)]) (inArea[size_t(l)] ? in : out) = true;
    return in && out;
  };
  fExitAtTo.assign(size_t(fNW.LinkCount()) + 1, 0);
  fExitAtFrom.assign(size_t(fNW.LinkCount()) + 1, 0);
  for (int32_t l = 1; l <= fNW.LinkCount(); ++l) {
    if (!inArea[size_t(l)]) continue;
    fExitAtTo[size_t(l)] = border(fNW.Tonodes()[size_t(l)]);
    fExitAtFrom[size_t(l)] = border(fNW.Fromnodes()[size_t(l)]);
  }
}

bool TBglOracle::CanLeave(int32_t node, int32_t e) const {
  (void)node;
  return e >= 1 || fO.IgnoreOneway;
}

bool TBglOracle::NodeFilters(int32_t node, int32_t L, bool forward) const {
  if (fO.NdtMode == 1 && fForeign[size_t(L)]) return false;
  if (fO.NdtMode == 2 && (forward ? fExitFT : fExitTF)[size_t(L)]) return false;
  if (!fO.CulDeSacAllowed && fDeadEnd[size_t(L)]) return false;
  if (fO.Level && int32_t(fNW.GetHierarchy(L)) > fO.Level(node)) return false;
  if (fO.Window && !fO.Window->GetBit(node)) return false;
  return fAdmitted[size_t(L)] != 0;
}

bool TBglOracle::UTurnPermitted(int32_t cur, int32_t node) const {
  if (fDeadEnd[size_t(cur)]) return true;
  if (!fO.UTurnAllowed) return false;
  const bool atTo = fNW.Tonodes()[size_t(cur)] == node;
  return (fNW.AttributeGet(cur) & (atTo ? cAttrUturnTo : cAttrUturnFrom)) == 0;
}

bool TBglOracle::StateFilters(int32_t cur, int32_t node, int32_t L) const {
  if (fO.NdtMode == 1 && fForeign[size_t(L)]) return false;
  if (!fO.CulDeSacAllowed && fDeadEnd[size_t(L)]) return false;
  if (fO.Level && int32_t(fNW.GetHierarchy(L)) > fO.Level(node)) return false;
  if (L == cur && !UTurnPermitted(cur, node)) return false;
  if (fO.Window && !fO.Window->GetBit(node)) return false;
  if (fAdmitted[size_t(L)] == 0) return false;
  // Inside a foreign area only foreign-area links may follow.
  if (fO.NdtMode == 2 && cur != 0 && fForeign[size_t(cur)] && !fForeign[size_t(L)]) return false;
  return true;
}

float TBglOracle::TurnValue(int32_t cur, int32_t L) const {
  if (!fO.TurnCosts || cur == 0) return 0;
  TIntegerList list;
  const TTurnRestrictions& set = fNW.TurnSet(fO.TurnSet);
  if (!set.GetList(L, list)) return 0;
  for (int32_t i = 0; i < list.Count(); ++i) {
    const TTurnRestriction tr = set.GetTR(list.GetItem(i));
    if (tr.links.size() == 2 && tr.links[0] == cur && tr.links[1] == L) return tr.value;
  }
  return 0;
}

std::vector<TOracleArc> TBglOracle::NodeArcs(int32_t node) const {
  std::vector<TOracleArc> arcs;
  for (const int32_t e : fNW.Adjacent(node)) {
    if (!CanLeave(node, e)) continue;
    const int32_t L = Abs(e);
    const bool forward = fNW.Fromnodes()[size_t(L)] == node;
    if (!NodeFilters(node, L, forward)) continue;
    const int32_t m = forward ? fNW.Tonodes()[size_t(L)] : fNW.Fromnodes()[size_t(L)];
    arcs.push_back({node, m, L, 0, {0, fWeight[size_t(L)]}});
  }
  return arcs;
}

std::vector<TOracleArc> TBglOracle::StateArcs(int32_t K, bool forward) const {
  std::vector<TOracleArc> arcs;
  const int32_t node = forward ? fNW.Tonodes()[size_t(K)] : fNW.Fromnodes()[size_t(K)];
  const int32_t vertex = 2 * K + (forward ? 0 : 1);
  for (const int32_t e : fNW.Adjacent(node)) {
    if (!CanLeave(node, e)) continue;
    const int32_t L = Abs(e);
    if (!StateFilters(K, node, L)) continue;
    float t = TurnValue(K, L);
    if (t < 0) continue;
    if (fO.Criterion == rcDist) t = 0;
    const bool out = fNW.Fromnodes()[size_t(L)] == node;
    arcs.push_back({vertex, 2 * L + (out ? 0 : 1), L, forward ? K : -K, {t, fWeight[size_t(L)]}});
  }
  return arcs;
}

std::vector<TOracleArc> TBglOracle::SourceArcs(int32_t node) const {
  std::vector<TOracleArc> arcs;
  for (const int32_t e : fNW.Adjacent(node)) {
    if (!CanLeave(node, e)) continue;
    const int32_t L = Abs(e);
    if (!StateFilters(0, node, L)) continue;
    const bool out = fNW.Fromnodes()[size_t(L)] == node;
    arcs.push_back({0, 2 * L + (out ? 0 : 1), L, 0, {0, fWeight[size_t(L)]}});
  }
  return arcs;
}

std::vector<TOracleArc> TBglOracle::AllNodeArcs() const {
  std::vector<TOracleArc> arcs;
  for (int32_t n = 1; n <= fNW.NodeCount(); ++n) {
    auto a = NodeArcs(n);
    arcs.insert(arcs.end(), a.begin(), a.end());
  }
  return arcs;
}

std::vector<TOracleArc> TBglOracle::AllStateArcs() const {
  std::vector<TOracleArc> arcs;
  for (int32_t K = 1; K <= fNW.LinkCount(); ++K) {
    if (fNW.Lengths()[size_t(K)] == 0) continue;  // a rejected object is no part of the graph
    for (const bool forward : {true, false}) {
      auto a = StateArcs(K, forward);
      arcs.insert(arcs.end(), a.begin(), a.end());
    }
  }
  return arcs;
}

std::vector<float> TBglOracle::Dijkstra(int32_t vertices, const std::vector<TOracleArc>& arcs, int32_t source) {
  using Graph = boost::adjacency_list<boost::vecS, boost::vecS, boost::directedS, boost::no_property, TOracleWeight>;
  Graph g(static_cast<size_t>(vertices));
  for (const TOracleArc& a : arcs) boost::add_edge(size_t(a.from), size_t(a.to), a.weight, g);
  std::vector<float> dist(size_t(vertices), cInfinity);
  auto combine = [](float d, const TOracleWeight& w) { return float((double(w.t) + double(d)) + double(w.w)); };
  boost::dijkstra_shortest_paths(g, size_t(source),
                                 boost::weight_map(boost::get(boost::edge_bundle, g))
                                     .distance_map(boost::make_iterator_property_map(
                                         dist.begin(), boost::get(boost::vertex_index, g)))
                                     .distance_combine(combine)
                                     .distance_compare(std::less<float>())
                                     .distance_inf(cInfinity)
                                     .distance_zero(0.0f));
  return dist;
}

std::vector<float> TBglOracle::NodeTree(int32_t s) const {
  return Dijkstra(fNW.NodeCount() + 1, AllNodeArcs(), s);
}

std::vector<float> TBglOracle::StateTree(int32_t s) const {
  auto arcs = AllStateArcs();
  auto source = SourceArcs(s);
  arcs.insert(arcs.end(), source.begin(), source.end());
  return Dijkstra(2 * (fNW.LinkCount() + 1), arcs, 0);
}

namespace {

// May link L be driven away from node (its sign there), and is it admitted?
bool Drivable(const TNetwork& nw, int32_t L, int32_t node, bool ignoreOneway) {
  if (ignoreOneway) return true;
  for (const int32_t e : nw.Adjacent(node))
    if (e == L) return true;
  return false;
}

}  // namespace

std::vector<float> TBglOracle::NodeTreeFromLocation(const TLocation& loc) const {
  auto arcs = AllNodeArcs();
  const int32_t L = loc.link;
  const int32_t v = fNW.NodeCount() + 1;
  const int32_t a = fNW.Fromnodes()[size_t(L)], b = fNW.Tonodes()[size_t(L)];
  const float w = fWeight[size_t(L)];
  if (fAdmitted[size_t(L)]) {
    if (Drivable(fNW, L, a, fO.IgnoreOneway)) arcs.push_back({v, b, L, 0, {0, float((1 - loc.percent) * double(w))}});
    if (Drivable(fNW, L, b, fO.IgnoreOneway)) arcs.push_back({v, a, L, 0, {0, float(loc.percent * double(w))}});
  }
  auto d = Dijkstra(v + 1, arcs, v);
  d.resize(size_t(v));
  return d;
}

float TBglOracle::NodeCostToLocation(const std::vector<float>& tree, const TLocation& loc) const {
  const int32_t L = loc.link;
  const int32_t a = fNW.Fromnodes()[size_t(L)], b = fNW.Tonodes()[size_t(L)];
  const float w = fWeight[size_t(L)];
  float best = cInfinity;
  if (!fAdmitted[size_t(L)]) return best;
  if (tree[size_t(a)] < cInfinity && Drivable(fNW, L, a, fO.IgnoreOneway))
    best = std::min(best, float(double(tree[size_t(a)]) + loc.percent * double(w)));
  if (tree[size_t(b)] < cInfinity && Drivable(fNW, L, b, fO.IgnoreOneway))
    best = std::min(best, float(double(tree[size_t(b)]) + (1 - loc.percent) * double(w)));
  return best;
}

}  // namespace kovra::testsupport
