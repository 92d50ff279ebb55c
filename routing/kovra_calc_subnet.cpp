// TCalc network analyses by repeated trees: connectivity (SubNetSimple),
// components with and without the vehicle limits (SubNet, SubNetLimits), the
// route links to a node list as a layer (Tree), the links no shortest path
// uses (UnusedLinks), the weighted centre node (CenterNode) and the midpoint
// of a long route (CenterLocation1).
#include <cstdlib>

#include "foundation/kovra_functions.h"
#include "routing/kovra_calc.h"
#include "routing/kovra_calc_matrix.h"

namespace kovra {

using calcmatrix::TRestore;

namespace {

inline constexpr const char* cMsgUnusedLinksTurnmode = "UnusedLinks is not possible in turnmode";
inline constexpr const char* cMsgNodeWeightsLength = "Length of nodeweights must match TNetwork.NodeCount+1";

}  // namespace

// The first link at node 1; 0 when there is none.
int32_t TCalc::FirstLinkAtNode1() const {
  if (FNW.NodeCount() < 1 || FNW.Adjacent(1).empty()) return 0;
  return std::abs(FNW.Adjacent(1)[0]);
}

void TCalc::FullTreeFromLocation(int32_t link) {
  if (fAnalysisTreeHook) fAnalysisTreeHook();
  TreeFromLocation(TLocation{link, 0.5}, 0, 0, nullptr, apIgnore, 0);
}

bool TCalc::LinkReached(int32_t link) const { return P1array(link) != cNoPred || P2array(link) != cNoPred; }

bool TCalc::SubNetSimple() {
  CheckNetwork(true);
  // Every setting goes back: the criterion setter also moves the time and
  // turn slot states.
  TSettingsRestore settings(*this);
  fS.FIgnoreOneWay = true;
  fS.Flimit.fill(0);
  fS.Fanylimit = false;
  PrepareLimits();
  // The distance criterion with the turn-cost switch as it is, so that
  // prohibited turns still count in turn mode.
  SetShortest(fS.FTurnCosts);
  const float* length = FNW.Lengths().data();
  if (FTurnMode) {
    // From the lowest link of non-zero length: a tree from a link of length
    // 0 (a rejected object) would reach nothing. The origin link counts as
    // reached, and a link is unreached only when neither direction is: a
    // link one prohibited turn bars in one direction is still connected.
    int32_t start = 0;
    for (int32_t l = 1; l <= FNW.LinkCount() && start == 0; ++l)
      if (length[l] != 0) start = l;
    if (start == 0) return false;
    FullTreeFromLocation(start);
    for (int32_t l = 1; l <= FNW.LinkCount(); ++l)
      if (length[l] != 0 && l != start && !LinkReached(l)) return true;
    return false;
  }
  if (FNW.NodeCount() < 1) return false;
  if (fAnalysisTreeHook) fAnalysisTreeHook();
  TreeFromNode(1, 0, 0, nullptr, 0);
  for (int32_t v = 1; v <= FNW.NodeCount(); ++v)
    if (P0array(v) == cNoPred) return true;
  return false;
}

// Node mode of SubNet and SubNetLimits: trees from the lowest node without a
// number until every node has one; a later tree overwrites what it reaches.
// Returns the highest number; comp gets the number per node.
int32_t TCalc::NodeComponents(TIntegerArray& comp) {
  const int32_t nodes = FNW.NodeCount();
  comp.assign(size_t(nodes) + 1, -1);
  comp[0] = 0;
  int32_t result = -1;
  int32_t start = nodes >= 1 ? 1 : 0;
  while (start != 0) {
    ++result;
    if (fAnalysisTreeHook) fAnalysisTreeHook();
    TreeFromNode(start, 0, 0, nullptr, 0);
    for (int32_t v = 1; v <= nodes; ++v)
      if (P0array(v) != cNoPred) comp[size_t(v)] = result;
    comp[size_t(start)] = result;
    while (start <= nodes && comp[size_t(start)] != -1) ++start;
    if (start > nodes) start = 0;
  }
  return result;
}

// Turn mode of SubNet and SubNetLimits over IA (-1: no number yet): trees
// from {start, 0.5} until no link is at -1. A link is numbered only when a
// tree reaches it, and a tree need not come back onto its own origin link
// (nor leave it at all when it is skipped, or when the calculator was
// cancelled), so each pass numbers its start link itself: every pass then
// takes at least one link off -1, and the run ends within LinkCount passes.
int32_t TCalc::LinkComponents(TIntegerArray& IA, int32_t start) {
  const int32_t n = FNW.LinkCount();
  int32_t result = -1;
  int32_t lowest = 1;  // no link below is at -1: numbers never go back to -1
  while (start != 0) {
    ++result;
    FullTreeFromLocation(start);
    for (int32_t l = 1; l <= n; ++l)
      if (LinkReached(l)) IA[size_t(l)] = result;
    if (IA[size_t(start)] == -1) IA[size_t(start)] = result;
    while (lowest <= n && IA[size_t(lowest)] != -1) ++lowest;
    start = lowest <= n ? lowest : 0;
  }
  return result;
}

int32_t TCalc::SubNet(TIntegerArray& IA) {
  IA.clear();
  CheckNetwork(true);
  TLimitRestore limits(*this);
  TRestore<bool> oneway(fS.FIgnoreOneWay);
  fS.FIgnoreOneWay = true;
  try {
    const int32_t n = FNW.LinkCount();
    const float* length = FNW.Lengths().data();
    IA.assign(size_t(n) + 1, 0);
    int32_t result;
    if (FTurnMode) {
      for (int32_t l = 1; l <= n; ++l) IA[size_t(l)] = length[l] != 0 ? -1 : 0;
      int32_t start = FirstLinkAtNode1();
      if (start == 0 || IA[size_t(start)] != -1) start = LowestAt(IA, -1);
      result = LinkComponents(IA, start);
    } else {
      TIntegerArray comp;
      result = NodeComponents(comp);
      const int32_t* from = FNW.Fromnodes().data();
      for (int32_t l = 1; l <= n; ++l)
        if (length[l] != 0) IA[size_t(l)] = comp[size_t(from[l])];
    }
    return result < 0 ? 0 : result;
  } catch (...) {
    IA.clear();
    throw;
  }
}

int32_t TCalc::LowestAt(const TIntegerArray& IA, int32_t value) {
  for (size_t l = 1; l < IA.size(); ++l)
    if (IA[l] == value) return int32_t(l);
  return 0;
}

int32_t TCalc::SubNetLimits(TIntegerArray& IA) {
  IA.clear();
  CheckNetwork(true);
  TRestore<bool> oneway(fS.FIgnoreOneWay);
  fS.FIgnoreOneWay = true;
  try {
    const int32_t n = FNW.LinkCount();
    const float* length = FNW.Lengths().data();
    IA.assign(size_t(n) + 1, 0);
    for (int32_t l = 1; l <= n; ++l)
      IA[size_t(l)] = length[l] == 0 ? 0 : (!fS.Fanylimit || LimitOK(l)) ? -1 : -2;
    int32_t result;
    if (FTurnMode) {
      int32_t start = FirstLinkAtNode1();
      if (start == 0 || IA[size_t(start)] != -1) {
        // A blocked first link stays the start only when no link is open.
        const int32_t open = LowestAt(IA, -1);
        if (open != 0 || start == 0) start = open;
      }
      result = LinkComponents(IA, start);
    } else {
      TIntegerArray comp;
      result = NodeComponents(comp);
      const int32_t* from = FNW.Fromnodes().data();
      for (int32_t l = 1; l <= n; ++l)
        if (IA[size_t(l)] == -1) IA[size_t(l)] = comp[size_t(from[l])];
    }
    for (int32_t l = 1; l <= n; ++l)
      if (IA[size_t(l)] == -2) IA[size_t(l)] = ++result;
    return result < 0 ? 0 : result;
  } catch (...) {
    IA.clear();
    throw;
  }
}

void TCalc::Tree(const std::string& filename, TGISFormat GF, int32_t node, const TIntegerList& NL) {
  IsoCostList(node, NL);
  TBitArray bits(int64_t(FNW.LinkCount()) + 1);
  bits.SetAllFalse();
  for (int32_t i = 0; i < NL.Count(); ++i) {
    const TRoute route = ExtractRoute(NL.GetItem(i));
    for (const int32_t l : route.links) bits.SetBit2(std::abs(l), true);
  }
  // An empty layer stays on disk: the caller asked for this file. LinkID is a
  // full integer: link ids pass 32767 on any real network.
  FNW.WriteOutputTo(filename, GF, {.DropEmpty = false, .ProgressZero = false}, *FGISarray, FGeoJSON, *this,
                    [&](TGISWriter& w) {
                      w.StartHeader(1, otPline);
                      w.AddField("LinkID", gfInteger, 0, 0);
                      TFloatPointArrayEx section;
                      for (int32_t l = 1; l <= FNW.LinkCount(); ++l) {
                        if (!bits.GetBit(l)) continue;
                        FNW.GetGISSection_raw(l, section);
                        w.AddObject(1, false, IntToStr(l));
                        w.AddSection(1, section);
                      }
                    });
}

void TCalc::UnusedLinks(TBitArray& BA) {
  if (FTurnMode) throw Exception(cMsgUnusedLinksTurnmode);
  CheckNetwork(true);
  const int32_t n = FNW.LinkCount();
  const float* length = FNW.Lengths().data();
  const int32_t* from = FNW.Fromnodes().data();
  const int32_t* to = FNW.Tonodes().data();
  BA.SetSize(int64_t(n) + 1);
  BA.SetAllTrue();
  BA.SetBit2(0, false);
  for (int32_t l = 1; l <= n; ++l)
    if (length[l] == 0 || from[l] == to[l]) BA.SetBit2(l, false);
  TBitArray roots(int64_t(FNW.NodeCount()) + 1);
  roots.SetAllFalse();
  // MaxCost stays 0 afterwards, as documented.
  fS.FMaxCost = 0;
  int32_t a = 1;
  for (;;) {
    while (a <= n && !(BA.GetBit(a) && !roots.GetBit(from[a]))) ++a;
    if (a > n) break;
    const int32_t root = from[a];
    TreeFromNode(root, 0, 0, nullptr, 0);
    roots.SetBit2(root, true);
    // Every link still set, also below a: a link whose from-node is already
    // a root may lie on a later tree all the same.
    for (int32_t l = 1; l <= n; ++l) {
      if (!BA.GetBit(l)) continue;
      const int32_t f = from[l], t = to[l];
      if (P0array(f) == t || P0array(t) == f) BA.SetBit2(l, false);
    }
  }
}

int32_t TCalc::CenterNode(const TCostArray& nodeweights) {
  CheckNetwork(true);
  const int32_t nodes = FNW.NodeCount();
  if (nodeweights.size() != size_t(nodes) + 1) throw Exception(cMsgNodeWeightsLength);
  TCostArray sum(size_t(nodes) + 1, 0);
  for (int32_t i = 1; i <= nodes; ++i) {
    const float w = nodeweights[size_t(i)];
    if (!(w > 0)) continue;
    TreeFromNode(i, 0, 0, nullptr, 0);
    for (int32_t j = 1; j <= nodes; ++j) {
      const float c = NodeCost_raw(j);
      if (c < 1e35f) sum[size_t(j)] = sum[size_t(j)] + w * c;
    }
  }
  int32_t result = 0;
  float best = cInfinity;
  for (int32_t j = 1; j <= nodes; ++j)
    if (sum[size_t(j)] != 0 && sum[size_t(j)] < best) {
      result = j;
      best = sum[size_t(j)];
    }
  return result;
}

TLocation TCalc::CenterLocation1() {
  CheckNetwork(true);
  const int32_t nodes = FNW.NodeCount();
  TLocation result{0, 0};
  if (nodes < 1) return result;
  int32_t b = 1;
  float D = 0;
  for (int pass = 0; pass < 2; ++pass) {
    TreeFromNode(b, 0, 0, nullptr, 0);
    int32_t far = 0;
    float best = 0;
    for (int32_t v = 1; v <= nodes; ++v) {
      const float c = NodeCost_raw(v);
      if (c != cInfinity && c > best) {
        far = v;
        best = c;
      }
    }
    // No node at a positive finite cost: there is no long route to halve.
    if (far == 0) return result;
    b = far;
    D = best;
  }
  const TRoute route = ExtractRoute(b);
  const double half = double(D) / 2;
  double d = 0;
  for (const int32_t L : route.links) {
    const int32_t link = std::abs(L);
    const double e = d + double(CostFT(link, 0));
    if (e > half) {
      const double h = (half - d) / (e - d);
      result.link = link;
      result.percent = L < 1 ? 1 - h : h;
      return result;
    }
    d = e;
  }
  return result;
}

}  // namespace kovra
