// TRouteCalc::Route: the cheapest route between two nodes, in node mode and
// in turn mode, directed by the A* estimate toward the target node.
#include "routing/kovra_calc.h"
#include "routing/kovra_calc_loop.h"

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
  const TDeadEnds deadEnds = IsCulDeSacNode(node2) || TurnRulesReachDeadEnds() ? TDeadEnds::Enter
                             : IsCulDeSacNode(node1)                           ? TDeadEnds::LeaveStart
                                                                               : TDeadEnds::Avoid;
  TNoDriveThrough ndt = TNoDriveThrough::Off;
  if (fS.FNoDriveThrough) {
    const int64_t bits = int64_t(FNW.LinkCount()) + 1;
    if (!FNoDriveThroughBits) FNoDriveThroughBits = std::make_unique<TBitArray>(bits);
    else if (FNoDriveThroughBits->Size() != bits) FNoDriveThroughBits->SetSize(bits);
    FNW.AreaList().Update(*FNoDriveThroughBits, FNW.NodeArea(node1), FNW.NodeArea(node2));
    ndt = TNoDriveThrough::Ends;
  }
  fS.Lmax = 5;
  UpdateAlpha();
  MarkSearched(skRoute);
  return RouteSearch(node1, node2, deadEnds, ndt);
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
float TRouteCalc::RouteSearch(int32_t node1, int32_t node2, TDeadEnds deadEnds, TNoDriveThrough ndt) {
  // One policy for both modes: an entry reaches a node; the search ends when
  // it is node2. A skip node is settled but never passed through.
  struct TRouteToNode : TSearchPolicyBase {
    TRouteCalc& c;
    int32_t node1, node2;
    const uint32_t* skip;
    const uint32_t* cds;
    const uint16_t* attr;
    int64_t taken = 0, settled = 0;
    float result = -1;

    TRouteToNode(TRouteCalc& calc, int32_t n1, int32_t n2)
        : c(calc), node1(n1), node2(n2), skip(calc.FSkipNodeList ? calc.FSkipNodeList->Words().data() : nullptr),
          cds(calc.FNW.CulDeSacs().Words().data()), attr(calc.FNW.Attributes().data()) {}
    // The first expansion has no arriving link: no turn rule applies at node1.
    void Seed(TNodeHeads&) {
      c.SetNodeLabel(node1, 0, 0, 0);
      c.ExpandNodeModeInto(*c.PQ1, node1, o);
    }
    void Seed() { c.ExpandTurnModeInto(*c.PQT, 0, node1, 0, o); }
    void LeaveStart(int32_t link) {
      if (o.deadEnds == TDeadEnds::LeaveStart && !Bit(cds, link)) o.deadEnds = TDeadEnds::Avoid;
    }
    void Level(int32_t link) {
      if (o.hierarchy) c.fS.Lmax = (attr[link] & cAttrHierarchy) >> 5;
    }
    void Taken(const TPQitem& it) {
      ++taken;
      LeaveStart(it.link);
    }
    void Taken(const TPQturnitem& it) {
      ++taken;
      LeaveStart(it.ToLink);
      Level(it.ToLink);
    }
    bool Stale(const TPQitem& it) const { return c.P0array(it.ToNode) != cNoPred; }
    TAdmit Admit(const TPQitem& it) {
      Level(it.link);
      return TAdmit::Settle;
    }
    TAdmit Admit(const TPQturnitem&, bool) const { return TAdmit::Settle; }
    TAfterSettle Settled(const TPQitem& it) { return Reached(it.ToNode, it.cost); }
    TAfterSettle Settled(const TPQturnitem& it, bool) { return Reached(it.NextNode, it.cost); }
    TAfterSettle Reached(int32_t node, float cost) {
      ++settled;
      if (node == node2) {
        result = cost;
        return TAfterSettle::Stop;
      }
      return skip && Bit(skip, node) ? TAfterSettle::Hold : TAfterSettle::Expand;
    }
  };
  TRouteToNode p(*this, node1, node2);
  p.o.deadEnds = deadEnds;
  p.o.noDriveThrough = ndt;
  p.o.hierarchy = fS.FHierarchy;
  p.o.astar = fS.Falpha > 0;
  p.o.target = FNW.Node2Coordinate_raw(node2);
  if (!FTurnMode) {
    ResetNodeLabels();
    RunNodeSearch(p);
  } else {
    ResetLinkLabels();
    FnodeTurnMode = 0;
    RunTurnSearch(p);
  }
  fLastSettled = p.settled;
  fLastPushed = p.taken + (FTurnMode ? PQT->Count() : PQ1->Count());
  return p.result;
}

}  // namespace kovra
