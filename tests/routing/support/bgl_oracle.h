// Test support: the reference shortest paths of the routing tests, computed
// with the Boost Graph Library's Dijkstra on graphs built from an opened
// TNetwork through its public accessors, independently of the calculator.
//
// Two graphs:
// - node graph: a vertex per node (0 unused), an arc per node and admitted
//   leaving link, in slot order;
// - link-state graph: 2 (LinkCount + 1) vertices, 2L the forward state of
//   link L (driven from its from-node, at its to-node), 2L + 1 the backward
//   state; an arc per node, arriving state and admitted leaving link, without
//   prohibited turns, with the U-turn and cul-de-sac rules and the turn cost
//   of 2-link restrictions (0 under the distance criterion). Vertex 0 is the
//   virtual source of a tree from a node: it feeds the leaving states of the
//   origin with no turn rules.
// Extra vertices for locations can be added to either graph: a location on a
// link becomes a vertex that splits it.
//
// The dead-end links and the exits of the no-drive-through areas are derived
// here from the raw from/to arrays and the area list, not taken from the
// network, so that a fault in the network's own derivation shows: a link is
// a dead-end link when repeatedly stripping nodes with one remaining link
// strips it; an area link exits its area at an end where links in and
// links outside every area meet.
//
// Costs combine as the searches do: a node step float(double(d) + double(w)),
// a turn float((double(t) + double(d)) + double(w)); unreached is 1e38f.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "foundation/kovra_bitarray.h"
#include "foundation/kovra_types.h"
#include "network/kovra_network.h"

namespace kovra::testsupport {

// What the search filters; every field mirrors a calculator setting or an
// expansion parameter.
struct TOracleOptions {
  TRouteCriteria Criterion = rcDist;
  int32_t TimeColumn = 0;
  int32_t CostColumn = 0;
  double MaxSpeed = 0;       // 0 = none
  double RelativeSpeed = 1;  // 1 = none
  bool IgnoreOneway = false;
  const TBitArray* Skip = nullptr;
  std::array<uint8_t, 9> Vehicle{};  // vehicle value per limit slot, 0 = not applied
  bool CulDeSacAllowed = true;
  // No-drive-through: 0 off; 1 only links of no foreign area; 2 areas may be
  // entered, not driven through. AllowedArea is the origin's area.
  int32_t NdtMode = 0;
  int32_t AllowedArea = 0;
  int32_t AllowedArea2 = 0;  // a second allowed area (a route's target), 0 = none
  const TBitArray* Window = nullptr;  // nodes that may be expanded; nil = all
  // Admitted hierarchy per expanded node; empty = no hierarchy.
  std::function<int32_t(int32_t node)> Level;
  // Turn mode.
  bool UTurnAllowed = false;
  bool TurnCosts = false;
  int32_t TurnSet = 0;
};

struct TOracleWeight {
  float t = 0;  // turn value
  float w = 0;  // link cost
};

struct TOracleArc {
  int32_t from = 0, to = 0;  // vertices
  int32_t link = 0;          // link entered, positive
  int32_t fromLink = 0;      // turn mode: signed arriving link (0 from the virtual source)
  TOracleWeight weight;
};

class TBglOracle {
public:
  TBglOracle(const TNetwork& nw, const TOracleOptions& options);

  // The cost of link L under the criterion (both directions are equal).
  float LinkWeight(int32_t L) const { return fWeight[size_t(L)]; }
  // Whether the filters that do not depend on the node admit L.
  bool Admitted(int32_t L) const { return fAdmitted[size_t(L)] != 0; }
  // The oracle's own derivations (see above).
  bool DeadEnd(int32_t L) const { return fDeadEnd[size_t(L)] != 0; }
  bool ExitFT(int32_t L) const { return fExitAtTo[size_t(L)] != 0; }
  bool ExitTF(int32_t L) const { return fExitAtFrom[size_t(L)] != 0; }

  // Node graph: the arcs leaving node, in slot order.
  std::vector<TOracleArc> NodeArcs(int32_t node) const;
  // Link-state graph: the arcs leaving the state (link, forward), in slot order
  // of the node it arrived at.
  std::vector<TOracleArc> StateArcs(int32_t link, bool forward) const;
  // The virtual source's arcs into the leaving states of node.
  std::vector<TOracleArc> SourceArcs(int32_t node) const;

  // Dijkstra on the node graph from node s: cost per node (0 unused).
  std::vector<float> NodeTree(int32_t s) const;
  // Dijkstra on the link-state graph from the virtual source at node s: cost
  // per state vertex (2L forward, 2L + 1 backward).
  std::vector<float> StateTree(int32_t s) const;

  // Location vertices. The node graph with a source vertex at loc: the part
  // of the link toward each end that may be driven, costs p × w and
  // (1 - p) × w rounded once. Result: cost per node.
  std::vector<float> NodeTreeFromLocation(const TLocation& loc) const;
  // The cost at loc over the node graph from node s: min over the link's
  // ends of their cost plus the share of the link from that end, where that
  // direction may be driven.
  float NodeCostToLocation(const std::vector<float>& tree, const TLocation& loc) const;

  // Dijkstra on any arc list over vertices 0..vertices - 1 from source.
  static std::vector<float> Dijkstra(int32_t vertices, const std::vector<TOracleArc>& arcs, int32_t source);

private:
  std::vector<std::vector<int32_t>> LinksAtNodes() const;
  void DeriveDeadEnds();
  void DeriveExits();
  bool CanLeave(int32_t node, int32_t slotEntry) const;
  bool NodeFilters(int32_t node, int32_t L, bool forward) const;
  bool StateFilters(int32_t cur, int32_t node, int32_t L) const;
  bool UTurnPermitted(int32_t cur, int32_t node) const;
  // 2-link restrictions: the turn value from cur into L, 0 when none.
  float TurnValue(int32_t cur, int32_t L) const;
  std::vector<TOracleArc> AllNodeArcs() const;
  std::vector<TOracleArc> AllStateArcs() const;

  const TNetwork& fNW;
  TOracleOptions fO;
  std::vector<float> fWeight;
  std::vector<uint8_t> fAdmitted;
  std::vector<uint8_t> fDeadEnd;            // link in a dead-end tree
  std::vector<uint8_t> fExitAtTo, fExitAtFrom;  // area link whose to-node (from-node) is on the area's border
  std::vector<uint8_t> fForeign;            // link in a foreign area
  std::vector<uint8_t> fExitFT, fExitTF;    // direction leaves a foreign area
};

}  // namespace kovra::testsupport
