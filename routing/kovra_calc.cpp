// TCalc: creation, settings, link costs, the largest single-link cost, the
// include-node window and the precondition of the searches.
#include "routing/kovra_calc.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "foundation/kovra_geometry.h"
#include "platform/kovra_sysutils.h"

namespace kovra {

TCalc::TCalc(TNetwork& NW, bool aTurnmode) : FNW(NW), FTurnMode(aTurnmode), FGISarray(std::make_unique<TGISArray>()) {
  if (FTurnMode) {
    PQT = std::make_unique<TPQturn>();
  } else {
    PQ1 = std::make_unique<TPQ>();
    PQ2 = std::make_unique<TPQ>();
  }
  // Never raises: without turn costs the distance criterion needs no column.
  SetShortest(false);
}

TCalc::~TCalc() = default;

// ---------------------------------------------------------------------------
// Properties

void TCalc::SetMatrixBuffer(double value) {
  if (!std::isfinite(value)) return;
  fS.fMatrixBuffer = value;
}

void TCalc::SetMaxSpeed(float value) {
  if (!(0 <= value && value <= std::numeric_limits<float>::max())) return;
  fS.FMaxSpeed = value;
  // Times change with the cap, so the largest-link cost no longer holds.
  ClearMaxICost();
}

void TCalc::SetRelativeSpeed(double value) {
  if (!(0.01 <= value && value <= 1)) return;
  fS.FRelativeSpeed = value;
  ClearMaxICost();
}

void TCalc::SetSmartInit(bool value) {
  if (!value) {
    fS.FSmartInit = false;
    return;
  }
  // Stamped labels make every reset O(1), so the setting needs no per-node
  // marks: only its rule (a spatial index is required) stays.
  if (FNW.QuadTree() == nullptr) return;
  fS.FSmartInit = true;
}

void TCalc::SetStarttime(float value) {
  if (!std::isfinite(value)) return;
  fS.FStarttime = value;
}

void TCalc::SetThreads(int32_t value) {
  if (!(1 <= value && value <= 255)) return;
  fS.FThreads = value;
}

// ---------------------------------------------------------------------------
// Criteria and columns

TCalc::TSlotState TCalc::ComputeSlots() const {
  const int64_t times = int64_t(FNW.Times().size());
  const int64_t costs = int64_t(FNW.Costs().size());
  const int64_t turns = FNW.TurnSetCount();
  TSlotState s{true, true, true, fS.FTimeFT[0], fS.FTurn[0]};
  for (int32_t m = 0; m < cWeekMinutes; ++m) {
    const int32_t ft = fS.FTimeFT[size_t(m)], tf = fS.FTimeTF[size_t(m)], tu = fS.FTurn[size_t(m)];
    if (!(0 <= ft && ft < times) || !(0 <= tf && tf < times)) s.RouteTimeOK = false;
    if (!(0 <= tu && tu < turns)) s.TurnsOK = false;
    if (ft != s.TimeSingleSlot || tf != s.TimeSingleSlot) s.TimeSingleSlot = -1;
    if (tu != s.TurnSingleSlot) s.TurnSingleSlot = -1;
  }
  // A single-slot value, once -1, never matches again, so it stays -1.
  s.RouteCostOK = 0 <= fS.FCostFT && fS.FCostFT < costs && 0 <= fS.FCostTF && fS.FCostTF < costs;
  return s;
}

void TCalc::CommitSlots(const TSlotState& s) {
  fS.FRouteTimeOK = s.RouteTimeOK;
  fS.FRouteCostOK = s.RouteCostOK;
  fS.FTurnsOK = s.TurnsOK;
  fS.FTimeSingleSlot = s.TimeSingleSlot;
  fS.FTurnSingleSlot = s.TurnSingleSlot;
}

void TCalc::ValidateSlots() { CommitSlots(ComputeSlots()); }

void TCalc::CheckTurnSlots(const TSlotState& s, bool turncosts, bool singleslot) {
  if (!turncosts) return;
  if (!s.TurnsOK) throw Exception(cMsgTurnSlotsUndefined);
  if (singleslot && s.TurnSingleSlot < 0) throw Exception(cMsgSingleTurnSlot);
}

// The slot state is computed first and committed only when the setter
// succeeds: a refused criterion must not move the time column of the one in
// force.
void TCalc::SetCriterion(TRouteCriteria rc, bool turncosts) {
  const TSlotState s = ComputeSlots();
  switch (rc) {
    case rcDist:
      CheckTurnSlots(s, turncosts, true);
      break;
    case rcTime:
      if (!s.RouteTimeOK) throw Exception(cMsgTimeSlotsNonValid);
      CheckTurnSlots(s, turncosts, false);
      break;
    case rcCost:
      if (!s.RouteCostOK) throw Exception(cMsgCostArrayUndefined);
      CheckTurnSlots(s, turncosts, true);
      break;
  }
  CommitSlots(s);
  fS.FRouteCriteria = rc;
  fS.FTurnCosts = turncosts;
  ClearMaxICost();
}

void TCalc::SetShortest(bool turncosts) { SetCriterion(rcDist, turncosts); }
void TCalc::SetFastest(bool turncosts) { SetCriterion(rcTime, turncosts); }
void TCalc::SetCheapest(bool turncosts) { SetCriterion(rcCost, turncosts); }

void TCalc::SetTime(int32_t index) {
  if (!(0 <= index && index < int64_t(FNW.Times().size()))) throw EOutOfRange(Format(cMsgCalcTimeIndex, index));
  fS.FTimeFT.fill(index);
  fS.FTimeTF.fill(index);
  ClearMaxICost();
}

void TCalc::SetCost(int32_t index) {
  if (!(0 <= index && index < int64_t(FNW.Costs().size()))) throw EOutOfRange(Format(cMsgCalcCostIndex, index));
  fS.FCostFT = fS.FCostTF = index;
  ClearMaxICost();
}

void TCalc::SetTurn(int32_t index) {
  if (!(0 <= index && index < FNW.TurnSetCount())) throw EOutOfRange(Format(cMsgCalcTurnIndex, index));
  fS.FTurn.fill(index);
  ClearMaxICost();
}

float TCalc::GetTime(int32_t index, int32_t link) const {
  FNW.CheckOpen();
  if (!(0 <= index && index < int64_t(FNW.Times().size()))) throw EOutOfRange(Format(cMsgCalcTimeIndex, index));
  FNW.CheckLinkRange(link);
  return GetTime_raw(index, link);
}

int32_t TCalc::TurnSlot(float c) const {
  // Floor modulo of the truncated minute: a negative start time counts back
  // from the end of the week, and fmod keeps any magnitude exact where a
  // 32-bit (or even 64-bit) integer would overflow.
  double x = std::trunc(double(fS.FStarttime) + double(c));
  if (!std::isfinite(x)) x = 0;
  double m = std::fmod(x, double(cWeekMinutes));
  if (m < 0) m += cWeekMinutes;
  return fS.FTurn[size_t(m)];
}

TLinkCost TCalc::LinkCostReader(bool forward) const {
  TLinkCost r;
  r.Length = FNW.Lengths().data();
  switch (fS.FRouteCriteria) {
    case rcTime:
      r.Column = FNW.Times()[size_t(fS.FTimeSingleSlot)].data();
      r.MaxSpeed = fS.FMaxSpeed;
      r.RelativeSpeed = fS.FRelativeSpeed;
      r.Adjust = fS.FMaxSpeed != 0 || fS.FRelativeSpeed != 1;
      break;
    case rcCost:
      r.Column = FNW.Costs()[size_t(forward ? fS.FCostFT : fS.FCostTF)].data();
      break;
    default:
      r.Column = r.Length;
      break;
  }
  return r;
}

// ---------------------------------------------------------------------------
// Limits, one-way and skip list

void TCalc::SetLimit(int32_t LimitID, uint8_t value) {
  if (!(1 <= LimitID && LimitID <= 9)) return;
  fS.Flimit[size_t(LimitID - 1)] = value;
  fS.Fanylimit = false;
  for (uint8_t v : fS.Flimit) fS.Fanylimit = fS.Fanylimit || v != 0;
}

void TCalc::SetSkipLinkList(const TBitArray* list) {
  FNW.CheckOpen();
  if (list != nullptr && list->Size() != int64_t(FNW.LinkCount()) + 1) throw Exception(cMsgSkipLinkListSize);
  fS.FSkipLinkList = list;
}

void TCalc::SetSmoothing(int32_t passes, int32_t rounded, int32_t deviation) {
  const bool off = passes == 0 && rounded == 0 && deviation == 0;
  const bool ok = 1 <= passes && passes <= 5 && 3 <= rounded && rounded <= 6 && 0 <= deviation && deviation <= 15;
  if (!off && !ok) return;
  fS.Fpasses = passes;
  fS.Frounded = rounded;
  fS.Fdeviation = deviation;
}

// Only the network's loaded slots with a non-zero vehicle value take part: a
// value of 0 never refuses, so leaving it out changes no answer.
void TCalc::PrepareLimits() {
  fActiveLimitCount = 0;
  const int32_t slots = std::min(FNW.LimitSlots(), 9);
  for (int32_t k = 1; k <= slots; ++k) {
    const uint8_t vehicle = fS.Flimit[size_t(k - 1)];
    if (vehicle == 0) continue;
    const auto& values = FNW.Limits(k);
    if (int64_t(values.size()) < int64_t(FNW.LinkCount()) + 1) continue;
    fActiveLimits[size_t(fActiveLimitCount++)] = {values.data(), vehicle, FNW.LimitIsBitPattern(k)};
  }
}

void TCalc::SelectClosedLinks(TBitArray& BA, bool includeoneway) {
  FNW.CheckOpen();
  PrepareLimits();
  if (BA.Size() != int64_t(FNW.LinkCount()) + 1) BA.SetSize(int64_t(FNW.LinkCount()) + 1);
  const auto& length = FNW.Lengths();
  for (int32_t l = 1; l <= FNW.LinkCount(); ++l) {
    if (length[size_t(l)] == 0) continue;
    if ((fS.Fanylimit && !LimitOK(l)) || (includeoneway && FNW.OneWayCode(l) == 3)) BA.SetBit2(l, true);
  }
}

// ---------------------------------------------------------------------------
// Precondition of the searches

void TCalc::CheckNetwork(bool allocate) {
  FNW.CheckOpen();
  if (FNW.LoopLinks()) throw Exception(cMsgLoopLinksNotAllowed);
  CheckColumns();
  PrepareLimits();
  if (!allocate) return;
  const size_t links = size_t(FNW.LinkCount()) + 1, nodes = size_t(FNW.NodeCount()) + 1;
  if (FTurnMode) {
    if (fStateLabels.size() != 2 * links) {
      // Discarded first, so the old and the new arrays never coexist. Stamp
      // 0 is never a current generation: the new entries read as unreached.
      fStateLabels = {};
      fStateLabels.assign(2 * links, TStateLabel{cInfinity, cNoPred, 0});
    }
  } else if (fNodeLabels.size() != nodes) {
    fNodeLabels = {};
    fNodeLabels.assign(nodes, TNodeLabel{cInfinity, cNoPred, 0, 0});
  }
  if (fDist.size() != nodes) {
    fDist = {};
    fDistForStamp = 0;
  }
  fLabelGeneration = FNW.OpenGeneration();
  fLabelLinks = FNW.LinkCount();
  fLabelNodes = FNW.NodeCount();
}

// The columns, turn sets and skip list the settings name were checked when
// they were set, but the network may since have been reopened (which drops
// its columns and turn sets) and the caller may have resized the skip list:
// a search must not read past them.
void TCalc::CheckColumns() const {
  if (fS.FRouteCriteria == rcTime && !(0 <= fS.FTimeSingleSlot && fS.FTimeSingleSlot < int64_t(FNW.Times().size())))
    throw Exception(cMsgTimeSlotsNonValid);
  if (fS.FRouteCriteria == rcCost) {
    const int64_t costs = int64_t(FNW.Costs().size());
    if (!(0 <= fS.FCostFT && fS.FCostFT < costs && 0 <= fS.FCostTF && fS.FCostTF < costs))
      throw Exception(cMsgCostArrayUndefined);
  }
  if (fS.FTurnCosts && FTurnMode) {
    const int32_t turns = FNW.TurnSetCount();
    auto bad = [turns](int32_t t) { return !(0 <= t && t < turns); };
    if (fS.FTurnSingleSlot >= 0 ? bad(fS.FTurnSingleSlot) : std::any_of(fS.FTurn.begin(), fS.FTurn.end(), bad))
      throw Exception(cMsgTurnSlotsUndefined);
  }
  if (fS.FSkipLinkList && fS.FSkipLinkList->Size() != int64_t(FNW.LinkCount()) + 1)
    throw Exception(cMsgSkipLinkListSize);
  // The expansions read the window's bit of every node they expand.
  if (fIncludeNodes && fIncludeNodes->Size() != int64_t(FNW.NodeCount()) + 1) throw Exception(cMsgIncludeNodesSize);
}

void TCalc::SetIncludeNodes(const TBitArray* window) {
  if (window && window->Size() != int64_t(FNW.NodeCount()) + 1) throw Exception(cMsgIncludeNodesSize);
  fIncludeNodes = window;
}

bool TCalc::TurnRulesReachDeadEnds() const {
  if (!FTurnMode || !fS.FTurnCosts) return false;
  // Under distance a positive turn value counts 0: only prohibitions matter.
  auto matters = [&](int32_t set) {
    if (!(0 <= set && set < FNW.TurnSetCount())) return false;
    const TTurnRestrictions& t = FNW.TurnSet(set);
    return t.ProhibitionCount() > 0 || (fS.FRouteCriteria != rcDist && t.CostCount() > 0);
  };
  if (fS.FTurnSingleSlot >= 0) return matters(fS.FTurnSingleSlot);
  // Slots that differ: any set of the network may be in force.
  for (int32_t set = 0; set < FNW.TurnSetCount(); ++set)
    if (matters(set)) return true;
  return false;
}

bool TCalc::LabelsValid() const {
  return FNW.IsOpen() && fLabelGeneration == FNW.OpenGeneration() && fLabelLinks == FNW.LinkCount() &&
         fLabelNodes == FNW.NodeCount();
}

// ---------------------------------------------------------------------------
// Largest single-link cost

float TCalc::MaxICost() const {
  if (fMaxICostGeneration != FNW.OpenGeneration() || fMaxICostColumns != FNW.ColumnVersion()) return 0;
  return FMaxICost;
}

// links == nullptr: every link 1..LinkCount. Under rcTime and rcCost every
// column counts, not only the one in force.
float TCalc::LargestLinkCost(const int32_t* links, int64_t n) const {
  float best = 0;
  auto consider = [&](float v) {
    if (v > best) best = v;  // NaN never wins
  };
  const int64_t count = links ? n : FNW.LinkCount();
  auto link = [&](int64_t i) { return links ? links[i] : int32_t(i + 1); };
  switch (fS.FRouteCriteria) {
    case rcDist:
      for (int64_t i = 0; i < count; ++i) consider(FNW.Lengths()[size_t(link(i))]);
      break;
    case rcTime:
      for (int32_t c = 0; c < int32_t(FNW.Times().size()); ++c)
        for (int64_t i = 0; i < count; ++i) consider(GetTime_raw(c, link(i)));
      break;
    case rcCost:
      for (const auto& column : FNW.Costs())
        for (int64_t i = 0; i < count; ++i) consider(column[size_t(link(i))]);
      break;
  }
  return best;
}

void TCalc::MaxLinkCostNetwork() {
  FNW.CheckOpen();
  FMaxICost = LargestLinkCost(nullptr, 0);
  fMaxICostGeneration = FNW.OpenGeneration();
  fMaxICostColumns = FNW.ColumnVersion();
}

void TCalc::MaxLinkCostTargets(const TLocationList& LL) {
  FNW.CheckOpen();
  FNW.CheckLocationList(LL);
  TIntegerArray links(size_t(LL.Count()));
  for (int32_t i = 0; i < LL.Count(); ++i) links[size_t(i)] = LL.GetItem(i).loc.link;
  FMaxICost = LargestLinkCost(links.data(), int64_t(links.size()));
  fMaxICostGeneration = FNW.OpenGeneration();
  fMaxICostColumns = FNW.ColumnVersion();
}

float TCalc::EffectiveMaxLinkCost() const {
  const float m = MaxICost();
  return fS.FMaxCostExt != 0 ? std::min(fS.FMaxCostExt, m) : m;
}

// ---------------------------------------------------------------------------
// Include-node window

std::unique_ptr<TBitArray> TCalc::NodesInRect(TFloatRect R) const {
  auto bits = std::make_unique<TBitArray>(int64_t(FNW.NodeCount()) + 1);
  R = GrowRectKm(static_cast<const TFloatRect&>(R), FNW.CoordinateUnit(), FNW.DistFactor(), fS.fMatrixBuffer);
  const auto& X = FNW.X();
  const auto& Y = FNW.Y();
  for (int32_t n = 1; n <= FNW.NodeCount(); ++n) {
    const double x = X[size_t(n)], y = Y[size_t(n)];
    if (R.xmin <= x && x <= R.xmax && R.ymin <= y && y <= R.ymax) bits->SetBit2(n, true);
  }
  return bits;
}

std::unique_ptr<TBitArray> TCalc::IncludeNodesFromNodes(const TIntegerList& NL1, const TIntegerList* NL2) const {
  if (!(fS.fMatrixBuffer > 0)) return nullptr;
  FNW.CheckOpen();
  FNW.CheckNodeList(NL1);
  if (NL2) FNW.CheckNodeList(*NL2);
  TFloatRect R = cEmptyRect;
  for (const TIntegerList* L : {&NL1, NL2})
    if (L)
      for (int32_t i = 0; i < L->Count(); ++i) ExtendRect(R, FNW.Node2Coordinate_raw(L->GetItem(i)));
  return NodesInRect(R);
}

std::unique_ptr<TBitArray> TCalc::IncludeNodesFromLocations(const TLocationList& LL1, const TLocationList* LL2) const {
  if (!(fS.fMatrixBuffer > 0)) return nullptr;
  FNW.CheckOpen();
  FNW.CheckLocationList(LL1);
  if (LL2) FNW.CheckLocationList(*LL2);
  TFloatRect R = cEmptyRect;
  for (const TLocationList* L : {&LL1, LL2})
    if (L)
      for (int32_t i = 0; i < L->Count(); ++i) ExtendRect(R, FNW.Location2Coordinate_raw(L->GetItem(i).loc, 0));
  return NodesInRect(R);
}

}  // namespace kovra
