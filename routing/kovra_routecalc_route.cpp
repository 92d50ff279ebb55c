// TRouteCalc::Route: the cheapest route between two nodes, in node mode and
// in turn mode, directed by the A* estimate toward the target node.
#include "routing/kovra_calc.h"
#include "routing/kovra_calc_search.h"

namespace kovra {

using calcsearch::Bit;

float TRouteCalc::Route(int32_t node1, int32_t node2) {
  CheckNetwork(true);
  FNW.CheckNode(node1);
  FNW.CheckNode(node2);
  // The list may have been set on an earlier opening of another size.
  if (FSkipNodeList && FSkipNodeList->Size() != int64_t(FNW.NodeCount()) + 1) throw Exception(cMsgSkipNodeListSize);
  Flinkdyn = 0;
  Fpercentdyn = 0;
  fLastSettled = 0;
  fLastPushed = 0;
  // The early answers start a fresh search too, so that the readers do not
  // describe the route before.
  if (IsSkipNode(node1) || IsSkipNode(node2)) {
    StartEmptyRoute(0);
    return -1;
  }
  if (node1 == node2) {
    StartEmptyRoute(node1);
    return 0;
  }
  // 2: the target lies in a dead-end tree, every link may be entered; 1: the
  // start does, dead-end links may be entered until the search has left it;
  // 0: dead-end trees holding neither end are never entered. Under turn
  // rules that can make a dead end the only place to turn round, every
  // dead end is searched.
  const int32_t culdesac =
      IsCulDeSacNode(node2) || TurnRulesReachDeadEnds() ? 2 : IsCulDeSacNode(node1) ? 1 : 0;
  int32_t ndt = 0;
  if (fS.FNoDriveThrough) {
    const int64_t bits = int64_t(FNW.LinkCount()) + 1;
    if (!FNoDriveThroughBits) FNoDriveThroughBits = std::make_unique<TBitArray>(bits);
    else if (FNoDriveThroughBits->Size() != bits) FNoDriveThroughBits->SetSize(bits);
    FNW.AreaList().Update(*FNoDriveThroughBits, FNW.NodeArea(node1), FNW.NodeArea(node2));
    ndt = 1;
  }
  fS.Lmax = 5;
  UpdateAlpha();
  MarkSearched(skRoute);
  return FTurnMode ? RouteTurnMode(node1, node2, culdesac, ndt) : RouteNodeMode(node1, node2, culdesac, ndt);
}

void TRouteCalc::StartEmptyRoute(int32_t origin) {
  if (!FTurnMode) {
    ResetNodeLabels();
    if (origin != 0) SetNodeLabel(origin, 0, 0, 0);
  } else {
    ResetLinkLabels();
    FnodeTurnMode = origin;
  }
  MarkSearched(skRoute);
}

// The labels are reset by a new generation (resets and smart initialisation
// alike cost O(1)); the reset also takes the factor UpdateAlpha set.
float TRouteCalc::RouteNodeMode(int32_t node1, int32_t node2, int32_t culdesac, int32_t ndt) {
  ResetNodeLabels();
  SetNodeLabel(node1, 0, 0, 0);
  TPQ& pq = *PQ1;
  pq.Clear();
  const TFloatPoint target = FNW.Node2Coordinate_raw(node2);
  const bool astar = fS.Falpha > 0;
  const bool hierarchy = fS.FHierarchy;
  const uint32_t* skip = FSkipNodeList ? FSkipNodeList->Words().data() : nullptr;
  const uint32_t* cds = FNW.CulDeSacs().Words().data();
  const uint16_t* attr = FNW.Attributes().data();
  int64_t taken = 0, settled = 0;
  int32_t current = node1;
  float result = -1;
  for (;;) {
    // A skip node is settled but never passed through.
    if (!(skip && current != node1 && Bit(skip, current)))
      ExpandNodeMode(pq, current, astar, target, false, culdesac, ndt, hierarchy);
    TPQitem it;
    for (;;) {
      it = pq.Deq();
      if (it.FromNode == 0) break;
      ++taken;
      if (culdesac == 1 && !Bit(cds, it.link)) culdesac = 0;
      if (P0array(it.ToNode) == cNoPred) break;
    }
    if (it.FromNode == 0) break;
    if (hierarchy) fS.Lmax = (attr[it.link] & cAttrHierarchy) >> 5;
    current = it.ToNode;
    SetNodeLabel(current, it.cost, it.FromNode, it.link);
    ++settled;
    if (current == node2) {
      result = it.cost;
      break;
    }
  }
  fLastSettled = settled;
  fLastPushed = taken + pq.Count();
  return result;
}

float TRouteCalc::RouteTurnMode(int32_t node1, int32_t node2, int32_t culdesac, int32_t ndt) {
  ResetLinkLabels();
  FnodeTurnMode = 0;
  TPQturn& pq = *PQT;
  pq.Clear();
  const TFloatPoint target = FNW.Node2Coordinate_raw(node2);
  const bool astar = fS.Falpha > 0;
  const bool hierarchy = fS.FHierarchy;
  const uint32_t* skip = FSkipNodeList ? FSkipNodeList->Words().data() : nullptr;
  const uint32_t* cds = FNW.CulDeSacs().Words().data();
  const uint16_t* attr = FNW.Attributes().data();
  const int32_t* from = FNW.Fromnodes().data();
  int64_t taken = 0, settled = 0;
  int32_t curLink = 0, curNode = node1;
  float curCost = 0;
  float result = -1;
  for (;;) {
    // The first expansion has no arriving link: no turn rule applies at node1.
    if (!(skip && curNode != node1 && Bit(skip, curNode)))
      ExpandTurnMode(0, curLink, curNode, curCost, astar, target, false, culdesac, ndt, hierarchy);
    TPQturnitem it;
    bool forward = false;
    for (;;) {
      it = pq.Deq();
      if (it.ToLink == 0) break;
      ++taken;
      if (culdesac == 1 && !Bit(cds, it.ToLink)) culdesac = 0;
      if (hierarchy) fS.Lmax = (attr[it.ToLink] & cAttrHierarchy) >> 5;
      forward = it.Node == from[it.ToLink];
      if (!StateReached(it.ToLink, forward)) break;
    }
    if (it.ToLink == 0) break;
    SetState(it.ToLink, forward, it.cost, it.FromLink);
    ++settled;
    curLink = it.ToLink;
    curNode = it.NextNode;
    curCost = it.cost;
    if (curNode == node2) {
      result = curCost;
      break;
    }
  }
  fLastSettled = settled;
  fLastPushed = taken + pq.Count();
  return result;
}

}  // namespace kovra
