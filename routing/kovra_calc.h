// TCalc: the shortest-path calculator. It is created on a TNetwork, which it
// reads directly and never owns, in node mode (labels per node) or turn mode
// (labels per driving direction of every link), fixed for its whole life.
//
// What a calculator holds is split in two: Settings, the copyable choices of
// the caller (criterion, columns, limits, speeds, options) that a clone for a
// worker thread copies; and the search state (labels, queues, stamps) that
// every search refills. kovra_calc.cpp covers the settings, the cost of one
// link under them, the largest single-link cost, the include-node window of
// the matrices and the precondition of every search; kovra_calc_search.cpp
// the labels, the expansions and the rules they apply; kovra_calc_loop.h the
// one search loop of each mode, of which every search is a policy.
//
// Every setter checks before it changes anything: a refused value raises or
// is ignored and leaves every setting as it was. Values that must lie in a
// range are tested as !(lo <= v && v <= hi), so NaN and infinities are
// refused like any other value out of range.
#pragma once

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "foundation/kovra_bitarray.h"
#include "foundation/kovra_integerlist.h"
#include "foundation/kovra_progress.h"
#include "foundation/kovra_types.h"
#include "giswriter/kovra_giswriter.h"
#include "network/kovra_locationlist.h"
#include "network/kovra_network.h"
#include "network/kovra_turn.h"
#include "routing/kovra_costmath.h"
#include "routing/kovra_pq.h"

namespace kovra {

class TSpatialSearch;

inline constexpr const char* cMsgLoopLinksNotAllowed = "Loop links are not allowed in the network";
inline constexpr const char* cMsgTimeSlotsNonValid = "One or more timeslots points to a non-valid Time-Array";
inline constexpr const char* cMsgCostArrayUndefined = "Call SetCostFT and SetCostTF to define Cost-Array";
inline constexpr const char* cMsgTurnSlotsUndefined = "One or more timeslots has not been defined through SetTurn(Period)";
inline constexpr const char* cMsgSingleTurnSlot = "Only a single timeslot is allowed for turns";
inline constexpr const char* cMsgCalcTimeIndex = "Index (%d) must be defined in Network object (CreateArrayTime)";
inline constexpr const char* cMsgCalcCostIndex = "Index (%d) must be defined in Network object (CreateArrayCost)";
inline constexpr const char* cMsgCalcTurnIndex = "Index (%d) must be defined in Network object (CreateArrayTurn)";
inline constexpr const char* cMsgSkipLinkListSize = "SkipLinkList has wrong size";
inline constexpr const char* cMsgNRange = "N (%d) should be between 1 and %d";
inline constexpr const char* cMsgCostArraysNotSetup = "Cost arrays has not been setup";
inline constexpr const char* cMsgTimeArraysNotSetup = "Time arrays has not been setup";
inline constexpr const char* cMsgNoSearch = "No search result: run a search on the open network first";
inline constexpr const char* cMsgResultsOutOfDate = "Search results are out of date: run the search again";
inline constexpr const char* cMsgIncludeNodesSize = "Include-node window has wrong size";
inline constexpr const char* cMsgRouteFindAfterLocation =
    "RouteFind needs a tree from a node; after a tree from a location use RouteFindDyn";
inline constexpr const char* cMsgRouteFindAfterLocationRoute =
    "RouteFind needs a tree from a node; after a route between locations use RouteDynEx";
inline constexpr const char* cMsgRouteWalk = "Route walk did not reach the origin within %d steps";

// Minutes of the week: one time, cost and turn slot each.
inline constexpr int32_t cWeekMinutes = 10080;
using TSlotTable = std::array<int32_t, cWeekMinutes>;

// The caller's choices. Plain values only, so a clone copies them with one
// assignment; the skip list is a borrowed reference the clones share.
struct TCalcSettings {
  int16_t fDecimalsDist = -1;
  int16_t fDecimalsTime = -1;
  TMIPen fMIPen = DefaultPen;
  float FStarttime = 0;
  bool FUTurnAllowed = false;
  TSlotTable FTimeFT{};
  TSlotTable FTimeTF{};
  TSlotTable FTurn{};
  TDistanceUnit FDistanceUnit = duKm;
  bool FIsopolyRandomnization = false;
  double fMatrixBuffer = 0;
  int32_t Frounded = 0, Fpasses = 0, Fdeviation = 0;
  bool FNoDriveThrough = false;
  bool FTimeFormatAsString = false;
  float FMaxSpeed = 0;
  double FRelativeSpeed = 1.0;
  bool FRouteCostOK = true, FRouteTimeOK = true, FTurnsOK = true;
  int32_t FTimeSingleSlot = 0;
  int32_t FTurnSingleSlot = 0;
  int32_t FCostFT = 0, FCostTF = 0;
  int32_t FThreads = 1;
  float FMaxCost = 0;
  float FMaxCostExt = 0;
  bool FTurnCosts = false;
  std::array<double, 4> FLevelLimit{double(cInfinity), double(cInfinity), double(cInfinity), double(cInfinity)};
  float Falpha = 0;
  TRouteCriteria FRouteCriteria = rcDist;
  bool FHierarchy = false;
  int32_t Lmax = 0;
  bool Fanylimit = false;
  bool FIgnoreOneWay = false;
  bool FSmartInit = false;
  bool FSkipCulDeSacOptimization = false;
  std::array<uint8_t, 9> Flimit{};  // Flimit1 .. Flimit9
  const TBitArray* FSkipLinkList = nullptr;

  bool operator==(const TCalcSettings&) const = default;
};

// The cost of a link under the criterion of one search: one column read, with
// the speed cap and factor of the time criterion applied as GetTime applies
// them. Taken at the start of a search; it borrows the network's column.
struct TLinkCost {
  const float* Column = nullptr;
  const float* Length = nullptr;
  double MaxSpeed = 0;        // 0 = no cap
  double RelativeSpeed = 1;   // 1 = no factor
  bool Adjust = false;        // time criterion with a cap or a factor

  float operator()(int32_t link) const {
    if (!Adjust) return Column[link];
    double t = Column[link];
    if (MaxSpeed != 0) t = std::max(t, double(Length[link]) * 60.0 / MaxSpeed);
    if (RelativeSpeed != 1) t = t / RelativeSpeed;
    return float(t);
  }
};

// What one search lets its expansions admit besides the calculator's
// settings, by name rather than by position.
enum class TDeadEnds : uint8_t {
  Avoid,       // dead-end trees holding neither end are never entered
  LeaveStart,  // the start lies in one: entered until the search leaves it
  Enter        // every dead-end link may be entered
};
enum class TNoDriveThrough : uint8_t {
  Off,
  Ends,   // only links outside foreign areas (those of the two ends count as own)
  Origin  // the origin's area may be left, a foreign one entered but not passed
};
struct TExpandOptions {
  // false: every slot of the node whatever its one-way code and every
  // filter (the search for the nearest open link).
  bool filters = true;
  TDeadEnds deadEnds = TDeadEnds::Enter;
  TNoDriveThrough noDriveThrough = TNoDriveThrough::Off;
  // The road hierarchy against target (only searches toward a target).
  bool hierarchy = false;
  // Keys carry Alpha x the crow-fly distance to target.
  bool astar = false;
  TFloatPoint target{};
  // Turn mode: entries onto this link carry no estimate (the end link of a
  // location route, whose arrival lies inside it).
  int32_t noEstimateLink = 0;
  // Turn mode: taken off every estimate (never below 0), so that it stays a
  // lower bound where the target point lies off its link's chord.
  double lowering = 0;
};

class TCalc : public TProgressCancel {
public:
  TCalc(TNetwork& NW, bool aTurnmode);
  ~TCalc() override;
  TCalc(const TCalc&) = delete;
  TCalc& operator=(const TCalc&) = delete;

  // --- Properties ------------------------------------------------------------

  int16_t DecimalsDist() const { return fS.fDecimalsDist; }
  void SetDecimalsDist(int16_t value) { fS.fDecimalsDist = value; }
  int16_t DecimalsTime() const { return fS.fDecimalsTime; }
  void SetDecimalsTime(int16_t value) { fS.fDecimalsTime = value; }
  TDistanceUnit DistanceUnit() const { return fS.FDistanceUnit; }
  void SetDistanceUnit(TDistanceUnit value) { fS.FDistanceUnit = value; }
  const std::string& GeoJSON() const { return FGeoJSON; }
  TGISArray& GISarray() const { return *FGISarray; }
  bool IgnoreOneway() const { return fS.FIgnoreOneWay; }
  void SetIgnoreOneway(bool value) { fS.FIgnoreOneWay = value; }
  bool IsopolyRandomnization() const { return fS.FIsopolyRandomnization; }
  void SetIsopolyRandomnization(bool value) { fS.FIsopolyRandomnization = value; }
  double MatrixBuffer() const { return fS.fMatrixBuffer; }
  // Non-finite values are ignored; <= 0 means no include-node window.
  void SetMatrixBuffer(double value);
  float MaxCost() const { return fS.FMaxCost; }
  void SetMaxCost(float value) { fS.FMaxCost = value; }
  float MaxCostExt() const { return fS.FMaxCostExt; }
  void SetMaxCostExt(float value) { fS.FMaxCostExt = value; }
  float MaxSpeed() const { return fS.FMaxSpeed; }
  // Negative and non-finite values are ignored.
  void SetMaxSpeed(float value);
  const TMIPen& MIPen() const { return fS.fMIPen; }
  void SetMIPen(const TMIPen& value) { fS.fMIPen = value; }
  bool NoDriveThrough() const { return fS.FNoDriveThrough; }
  void SetNoDriveThrough(bool value) { fS.FNoDriveThrough = value; }
  double RelativeSpeed() const { return fS.FRelativeSpeed; }
  // Values outside 0.01..1 (and NaN) are ignored.
  void SetRelativeSpeed(double value);
  bool SmartInit() const { return fS.FSmartInit; }
  // True only on a network with a spatial index (otherwise ignored).
  void SetSmartInit(bool value);
  float Starttime() const { return fS.FStarttime; }
  // Non-finite values are ignored.
  void SetStarttime(float value);
  int32_t Threads() const { return fS.FThreads; }
  // Values outside 1..255 are ignored.
  void SetThreads(int32_t value);
  bool TimeFormatAsString() const { return fS.FTimeFormatAsString; }
  void SetTimeFormatAsString(bool value) { fS.FTimeFormatAsString = value; }
  bool Turnmode() const { return FTurnMode; }
  bool UTurnAllowed() const { return fS.FUTurnAllowed; }
  void SetUTurnAllowed(bool value) { fS.FUTurnAllowed = value; }

  // Every setting at once: what a clone copies and what tests compare.
  const TCalcSettings& Settings() const { return fS; }
  TNetwork& Network() const { return FNW; }

  // --- Criteria and columns --------------------------------------------------

  void SetShortest(bool turncosts);
  void SetFastest(bool turncosts);
  void SetCheapest(bool turncosts);
  // The new column takes effect at the next SetShortest, SetFastest or
  // SetCheapest.
  void SetTime(int32_t index);
  void SetCost(int32_t index);
  void SetTurn(int32_t index);
  // Travel time of link in time column index under MaxSpeed and RelativeSpeed.
  // Checks the open network, the column and the link id.
  float GetTime(int32_t index, int32_t link) const;
  // The same without checks: the searches' form.
  float GetTime_raw(int32_t index, int32_t link) const {
    const float t0 = FNW.Times()[size_t(index)][size_t(link)];
    if (fS.FMaxSpeed == 0 && fS.FRelativeSpeed == 1) return t0;
    double t = t0;
    if (fS.FMaxSpeed != 0) t = std::max(t, double(FNW.Lengths()[size_t(link)]) * 60.0 / double(fS.FMaxSpeed));
    if (fS.FRelativeSpeed != 1) t = t / fS.FRelativeSpeed;
    return float(t);
  }

  // --- Limits, one-way and skip list -----------------------------------------

  // LimitID 1..9; other ids are ignored.
  void SetLimit(int32_t LimitID, uint8_t value);
  // nil or exactly LinkCount + 1 bits; the caller keeps ownership.
  void SetSkipLinkList(const TBitArray* list);
  const TBitArray* SkipLinkList() const { return fS.FSkipLinkList; }
  // Adds (never clears) the bit of every valid link the vehicle limits refuse,
  // with includeoneway also of every link closed in both directions.
  void SelectClosedLinks(TBitArray& BA, bool includeoneway);
  // Accepted when 1..5, 3..6 and 0..15, or all three 0; otherwise ignored.
  void SetSmoothing(int32_t passes, int32_t rounded, int32_t deviation);

  // --- Services of the searches -----------------------------------------------

  // Precondition of every search: open network without loop links; with
  // allocate the labels of the mode are sized for the network as it is now.
  void CheckNetwork(bool allocate);
  // True when the labels were sized for the network's current opening, so a
  // query on results may read them.
  bool LabelsValid() const;

  // The cost of driving link forward (from-node to to-node) or backward,
  // elapsed being the cost spent so far. Equal in every configuration the
  // setters can produce; no checks.
  float CostFT(int32_t link, float elapsed) const { (void)elapsed; return LinkCost(link, fS.FCostFT); }
  float CostTF(int32_t link, float elapsed) const { (void)elapsed; return LinkCost(link, fS.FCostTF); }
  // The column reader of one search (valid until the network's columns are
  // recreated).
  TLinkCost LinkCostReader(bool forward) const;

  // The vehicle-limit test over the limits CheckNetwork (or SelectClosedLinks)
  // last prepared. Searches call it only when Fanylimit.
  bool LimitOK(int32_t link) const {
    for (int32_t k = 0; k < fActiveLimitCount; ++k) {
      const TActiveLimit& a = fActiveLimits[size_t(k)];
      const uint8_t v = a.Values[link];
      if (a.BitPattern ? (a.Vehicle & v) != 0 : (v != 0 && v < a.Vehicle)) return false;
    }
    return true;
  }

  void ValidateSlots();

  // The largest single-link cost under the criterion; 0 when not computed or
  // computed under other network columns or another opening.
  float MaxICost() const;
  void MaxLinkCostNetwork();
  void MaxLinkCostTargets(const TLocationList& LL);
  float EffectiveMaxLinkCost() const;

  // The include-node window of a matrix: nil when MatrixBuffer <= 0.
  std::unique_ptr<TBitArray> IncludeNodesFromNodes(const TIntegerList& NL1, const TIntegerList* NL2) const;
  std::unique_ptr<TBitArray> IncludeNodesFromLocations(const TLocationList& LL1, const TLocationList* LL2) const;

  std::string DistanceFieldSuffix() const { return std::string(); }

  // Turn set in force after cost c spent from Starttime.
  int32_t TurnSlot(float c) const;

  // --- Search core (kovra_calc_search.cpp) ----------------------------------
  //
  // Labels are packed and stamped: an entry whose stamp is not the current
  // generation reads as unreached (cost 1e38, predecessor MaxInt), so a reset
  // is one increment instead of a pass over the network; when the generation
  // wraps the stamps are cleared once. The first write in a generation sets
  // every field of the entry.

  // Node mode, per node: the cost, the predecessor node and the link of the
  // item that settled the node (what route extraction follows).
  struct TNodeLabel {
    float cost;
    int32_t pred;
    int32_t link;
    uint32_t stamp;
  };
  // Turn mode, per link state: 2L forward (driven from-node to to-node, cost
  // on arrival at the to-node), 2L + 1 backward. The predecessor is a signed
  // link (+K driven forward into the node, -K backward), 0 from an origin.
  struct TStateLabel {
    float cost;
    int32_t pred;
    uint32_t stamp;
  };
  // A* searches, per node: the crow-fly distance to the target, stamped
  // with its generation. Packed: 12 bytes instead of 16 per node. The
  // distance is read whole either way (x86 and ARMv8 load unaligned doubles).
  struct __attribute__((packed)) TDistEntry {
    double d;
    uint32_t stamp;
  };
  static_assert(sizeof(TDistEntry) == 12);

  // New generation: every label of the mode reads as unreached. Also takes
  // the settings, network arrays and bit arrays the expansions read, so it
  // comes after everything a search prepares (no-drive-through bits, window).
  void ResetNodeLabels();
  void ResetLinkLabels();

  float cost0(int32_t node) const {
    const TNodeLabel& l = NodeLabel(node);
    return l.stamp == fStamp ? l.cost : cInfinity;
  }
  int32_t P0array(int32_t node) const {
    const TNodeLabel& l = NodeLabel(node);
    return l.stamp == fStamp ? l.pred : cNoPred;
  }
  // The link over which node was settled; 0 when unreached or an origin.
  int32_t SettlingLink(int32_t node) const {
    const TNodeLabel& l = NodeLabel(node);
    return l.stamp == fStamp ? l.link : 0;
  }
  void SetNodeLabel(int32_t node, float cost, int32_t pred, int32_t link) {
    NodeLabelW(node) = {cost, pred, link, fStamp};
  }

  float cost1(int32_t link) const { return StateCost(2 * link); }
  float cost2(int32_t link) const { return StateCost(2 * link + 1); }
  int32_t P1array(int32_t link) const { return StatePred(2 * link); }
  int32_t P2array(int32_t link) const { return StatePred(2 * link + 1); }
  // A state counts as reached only when its predecessor is not MaxInt; a
  // cost written alone does not reach it.
  bool StateReached(int32_t link, bool forward) const { return StatePred(2 * link + (forward ? 0 : 1)) != cNoPred; }
  void SetState(int32_t link, bool forward, float cost, int32_t pred) {
    StateLabelW(2 * link + (forward ? 0 : 1)) = {cost, pred, fStamp};
  }
  // Writes the cost alone: the predecessor stays (MaxInt in a new generation).
  void SetStateCost(int32_t link, bool forward, float cost) {
    TStateLabel& l = StateLabelW(2 * link + (forward ? 0 : 1));
    if (l.stamp != fStamp) l = {cost, cNoPred, fStamp};
    else l.cost = cost;
  }
  // Entries allocated (0 before the first search); node mode NodeCount + 1,
  // turn mode 2 (LinkCount + 1).
  size_t NodeLabelCount() const { return fNodeLabels.size(); }
  size_t StateLabelCount() const { return fStateLabels.size(); }

  // Expansion of a settled node (node mode) into PQ, with cost cost0(node).
  void ExpandNodeMode(TPQ& PQ, int32_t node, const TExpandOptions& o);
  // Expansion of the settled state that arrived at node through link cur
  // (unsigned, 0 at an origin) with cost, into PQT.
  void ExpandTurnMode(int32_t cur, int32_t node, float cost, const TExpandOptions& o);
  // The same into any queue with Enq (kovra_calc_search.h holds them).
  template <class Q>
  void ExpandNodeModeInto(Q& PQ, int32_t node, const TExpandOptions& o);
  template <class Q>
  void ExpandTurnModeInto(Q& PQ, int32_t cur, int32_t node, float cost, const TExpandOptions& o);
  // The one search loop of each mode (kovra_calc_loop.h): the policy P
  // seeds it, tells stale entries, decides at each entry whether to settle
  // it, stop or go on, and holds the expansion options.
  template <class P>
  void RunNodeSearch(P& p);
  template <class P>
  void RunTurnSearch(P& p);
  // Turn mode: may the search leave node on cur, the link it arrived by?
  bool UTurnPermitted(int32_t cur, int32_t node) const;
  // The admitted hierarchy at crow-fly distance d (km) from the target.
  int32_t HierarchyLevel(double d, int32_t aLmax) const;
  // Crow-fly km from node to target, cached per node for the search.
  double TargetDistance(int32_t node, const TFloatPoint& target) {
    PrepareTargetDistances(target);
    return CachedTargetDistance(node, target);
  }
  // The two halves of TargetDistance, so that an expansion checks the cache
  // once and reads it inline per link: PrepareTargetDistances sizes the
  // cache and starts a new generation of it when the search or the target
  // changed; CachedTargetDistance is TargetDistance after it.
  void PrepareTargetDistances(const TFloatPoint& target);
  double CachedTargetDistance(int32_t node, const TFloatPoint& target) {
    assert(size_t(node) < fDist.size());
    TDistEntry& e = fDist[size_t(node)];
    if (e.stamp != fDistGen) e = {FNW.DistanceBetweenPoints_raw(FNW.Node2Coordinate_raw(node), target), fDistGen};
    return e.d;
  }
  // Turn mode: the signed slot (1-based) of the cheapest reached arrival at
  // node, + arriving forward, - backward; 0 when none. Ties keep the first.
  int32_t CheapestArrival(int32_t node) const;
  // Fills the no-drive-through bits of the mode for a search whose allowed
  // areas are area1 and area2 (0 = none): FNoDriveThroughBits in both modes,
  // the exit bits in node mode.
  void PrepareNoDriveThrough(int32_t area1, int32_t area2);
  // The include-node window of the running matrix (borrowed); nil = none.
  // Anything but NodeCount + 1 bits raises "Include-node window has wrong
  // size", here and at every search (the network may be reopened meanwhile).
  void SetIncludeNodes(const TBitArray* window);
  const TBitArray* IncludeNodes() const { return fIncludeNodes; }

  // Test hook: called before every tree of the network analyses
  // (SubNetSimple, SubNet, SubNetLimits), which report no progress, so a
  // test can make a run fail half-way.
  void SetAnalysisTreeHookForTest(std::function<void()> hook) { fAnalysisTreeHook = std::move(hook); }

  // The network's search graph the last reset took (shared by every
  // calculator on the network); nil before the first.
  const TSearchGraph* SearchGraphInUse() const { return fX.graph; }

  // Test hook: the next reset continues from this generation.
  void SetGenerationForTest(uint32_t stamp) { fStamp = stamp; }
  uint32_t Generation() const { return fStamp; }

  // --- Trees and costs from nodes (kovra_calc_tree.cpp) ---------------------

  // Every node reachable from node, up to MaxCost (0 = no limit).
  void IsoCost(int32_t node);
  // Until every distinct node of NL is settled (no cost limit).
  void IsoCostList(int32_t node, const TIntegerList& NL);
  // Until N distinct nodes of NL are settled, up to MaxCost; IL := the
  // positions in NL of the N cheapest reached (fewer when fewer are).
  void IsoCostListN(int32_t node, const TIntegerList& NL, TIntegerList& IL, int32_t N);
  // The first position in NL of the first target settled; -1 when none.
  // In node mode the origin itself is never found.
  int32_t Nearest(int32_t node, const TIntegerList& NL);
  // The nearest link that may be left (open), ignoring every filter on the
  // way there; node, link 0 and cost 0 when none is reachable.
  void NearestOpen(int32_t node, int32_t& NearestNode, int32_t& NearestLink, float& cost);
  // Readers of the last tree. They raise when no search has run on the
  // network as it is open now.
  float NodeCost(int32_t node) const;
  float LinkCost(int32_t link) const;
  TRoute RouteFind(int32_t node) const;
  // Price of a route from the cost columns and from the time column in
  // force, whatever the criterion.
  float RouteCost(const TRoute& route) const;
  float RouteTime(const TRoute& route) const;

  // Internal services of the trees for the other searches.
  // mode 0: to the end or the cost limit; 1: every target; 2: N targets;
  // 3: the first target (the result); 4: the first open link.
  int32_t TreeFromNode(int32_t s, float limit, int32_t mode, const TIntegerList* NL, int32_t N);
  bool LinkIsOpen(int32_t n, int32_t L) const;
  void SelectCheapestN(TCostArray& costs, TIntegerList& IL, int32_t N) const;
  TRoute ExtractRoute(int32_t t) const;
  // NodeCost without the argument check (never without the label check).
  float NodeCost_raw(int32_t node) const;
  // The one check of every reader of a search's results: raises "No search
  // result: ..." unless the labels hold a search of the network as it is
  // open now, and "Search results are out of date: ..." when a column, a
  // limit slot, the attribute words or a setting the readers apply (vehicle
  // values, skip list, IgnoreOneway, criterion, columns, speeds) changed
  // since the search. The readers never apply other settings than the
  // search did, and never read a limit slot that was replaced since.
  void CheckLabels() const;
  // Marks the labels as holding a search of the current opening, under the
  // current settings; searchKind tells the readers what kind it was.
  enum TSearchKind : uint8_t { skTreeFromNode, skTreeFromLocation, skLocationRoute, skRoute };
  void MarkSearched(TSearchKind kind);
  TSearchKind LastSearchKind() const { return fSearchKind; }
  // Turn mode: whether a turn rule in force can make a detour into a
  // dead-end tree pay (a prohibition, or a turn cost under time or cost).
  // Without one a shortest route never needs a dead end it does not start
  // or end in; with one the only place to turn round may lie in one.
  bool TurnRulesReachDeadEnds() const;

  // --- Network analyses (kovra_calc_subnet.cpp) ------------------------------
  //
  // Whole-network analyses by repeated trees. The settings a method changes
  // for its run are put back on every exit, also when a search or the
  // progress handler raises. IA and BA are the caller's arrays: cleared
  // first, LinkCount + 1 entries (entry 0 unused) once filled, left empty
  // when the run raises.

  // True when the network is not connected (one-way rules, limits and the
  // criterion set aside; the turn rules of turn mode still count).
  bool SubNetSimple();
  // IA: the 0-based component of each link of non-zero length (0 for the
  // others), component 0 holding node 1; the result is the highest number.
  // One-way rules and vehicle limits are set aside for the run.
  int32_t SubNet(TIntegerArray& IA);
  // The same under the vehicle limits; each blocked link gets a component
  // of its own after the others.
  int32_t SubNetLimits(TIntegerArray& IA);
  // The links of the routes from node to every node of NL as the polyline
  // layer filename, one column "LinkID".
  void Tree(const std::string& filename, TGISFormat GF, int32_t node, const TIntegerList& NL);
  // Node mode: BA := the links no shortest-path tree uses. Leaves MaxCost 0.
  void UnusedLinks(TBitArray& BA);
  // The node with the smallest positive weighted cost sum from the nodes of
  // positive weight (NodeCount + 1 entries); 0 when none.
  int32_t CenterNode(const TCostArray& nodeweights);
  // The cost midpoint of the route between two nodes far apart; {0, 0} when
  // none.
  TLocation CenterLocation1();

  // --- Spanning and Steiner trees (kovra_calc_mst.cpp) ----------------------

  // links := a minimum spanning tree of the part of the network holding the
  // cheapest link of non-zero length, travel direction ignored; all clear
  // when there is no such link.
  void MST(TBitArray& links);
  // links := the links of shortest routes (one-way rules ignored) joining
  // the nodes, grown by attaching the cheapest remaining node each pass.
  void SteinerTree(const TIntegerList& nodes, TBitArray& links);

  std::unique_ptr<TBitArray> FNodeOnOff;

  // --- Trees from locations; cost and route to a location
  // (kovra_calc_location.cpp, kovra_calc_location_route.cpp) ------------------
  //
  // The origin is a point inside a link; the tree leaves it in the directions
  // the link's one-way code, IgnoreOneway and the departure side allow. A
  // target list stops the tree one largest-link cost after its targets' links
  // were reached, so each target can still be reached from its link's far end.

  // Every place reachable from Loc, up to MaxCost (0 = no limit).
  void IsoCostDyn(const TLocation& Loc);
  // Until every location of LL is reachable (no cost limit). In node mode a
  // target counts only when its link is the one that settles a node, so a
  // target on a link that never does (closed, or a longer parallel) lets the
  // tree run to the end of the reachable network; the costs are right
  // either way.
  void IsoCostListDyn(const TLocation& Loc, const TLocationList& LL);
  // Until N locations of LL are counted, up to MaxCost; IL := the positions
  // in LL of the N cheapest by CostToLocation.
  void IsoCostListNDyn(const TLocation& Loc, const TLocationList& LL, TIntegerList& IL, int32_t N);
  // The position in LL of the cheapest location (the first of equal ones);
  // -1 when none is reachable.
  int32_t NearestDyn(const TLocation& Loc, const TLocationList& LL);
  // Cost 0 and the nearer end when Loc's own link is open. Otherwise the
  // nearest open link through either end; a side whose search reports cost
  // 0 (nothing found, or an open link right at that end) counts as having
  // found nothing, which matches NearestOpen's cost 0 for "nothing found".
  void NearestOpenDyn(const TLocation& Loc, int32_t& NearestNode, int32_t& NearestLink, float& cost);
  // Turn mode only: leaving Loc on the given side.
  void IsoCostDynApproach(const TLocation& Loc, TApproach Approach);
  void IsoCostListDynApproach(const TLocation& Loc, const TLocationList& LL, TApproach Approach);

  // Cost of reaching loc from the last tree's origin; 1e38 when it cannot be
  // reached. After a tree from a node RouteFindDyn gives the cost with an
  // empty route (percent1 0, percent2 the target's percent). A route is
  // empty whenever the cost is 1e38.
  float LinkCostDyn(const TLocation& loc) const;
  float LinkCostDynApproach(const TLocation& loc, TApproach approach) const;
  float RouteFindDyn(const TLocation& Loc, TRoute& route) const;
  float RouteFindDynApproach(const TLocation& loc, TApproach approach, TRoute& route) const;
  // LinkCostDyn without the argument checks; never allocates.
  float CostToLocation(const TLocation& loc) const;
  // route == nullptr: cost only. In turn mode the route is the walk back
  // from the arrival state to the first predecessor that is the origin link
  // as the tree left it, so a shortest route that drove through the origin
  // link again on that side comes out without the loop before it.
  float RouteToLocation(const TLocation& loc, TApproach a, TRoute* route) const;

  // mode 0: to the end or the cost limit; 1: every location of LL; 2: N of
  // them; 3: the first target link reached. A refused list raises before
  // anything of the previous tree changes.
  void TreeFromLocation(const TLocation& Loc, float limit, int32_t mode, const TLocationList* LL, TApproach side,
                        int32_t N);
  // Per link, the target locations on it not yet counted; all 0 between trees.
  std::vector<uint16_t> FLinkOnOff;
  // The directions the last tree from a location left its origin in.
  bool FLocForward = false, FLocBackward = false;

  // --- Matrix outputs: the pieces the route-matrix, route-pair and tree
  // matrix outputs share (kovra_calc_matrixhelpers.cpp) -----------------------

  // A label list of an output: UTF-8 strings, or nil for positions.
  using TLabelList = std::vector<std::string>;
  // Declares the id column Name: from W.SL2GISField of SL when given (its
  // width too), else gfInteger of width 0. Returns the column's type, which
  // decides whether a row writes its labels bare.
  TGISField AddIDField(TGISWriter& W, const std::string& Name, const TLabelList* SL) const;
  // Raises "Time arrays has not been setup" / "Cost arrays has not been
  // setup" when a time (cost) value is asked and the calculator's time
  // (cost) slots do not name columns of the network as it is open now.
  void CheckValueColumns(bool time, bool cost) const;
  // Whether a row needs its route: for geometry, or for a value that is not
  // the criterion's own (time covers Time and TimeAsText).
  bool RouteFindNeeded(bool showRoute, bool dist, bool time, bool cost) const;
  // The values of a reached row: c is the search's result under the
  // criterion, the others are priced along route. Only asked values are
  // computed; the others stay 0.
  struct TRowValues {
    double Distance = 0, Time = 0, Cost = 0;
  };
  TRowValues RowValues(float c, const TRoute& route, bool dist, bool time, bool cost) const;
  // NearestOpenDyn of loc: when it finds another open link, loc moves to that
  // link's end at the node found and the result is true.
  bool MoveToNearestOpen(TLocation& loc);
  // Snaps the points of LL1 and LL2 (the same object or two) to the network
  // and writes the locations back, the points staying: with foffroadspeed
  // <> 0 by NearestLocation, filling fDist1 and fDist2 (the same array when
  // the lists are) with each point's distance to the network in km; else by
  // NearestLocationSimple. skiplinkbit keeps points off links whose skip
  // bit is set; nearestOpen then moves items onto open links (their
  // distance becomes 0). Everything is computed before anything is
  // written: on an error the lists and the distances stay as they were.
  void SnapMatrixPoints(TLocationList& LL1, TLocationList& LL2, bool nearestOpen, bool skiplinkbit);
  // The spatial-index guard of s's queries ("Spatial index need to be open"),
  // for a caller that must refuse before it writes anything.
  void CheckSearchIndex(const TSpatialSearch& s) const;

  // Work fields of the matrix outputs.
  bool fShowRoute = false;
  bool fCallRouteFind = false;
  float foffroadspeed = 0;
  std::shared_ptr<TDoubleArray> fDist1, fDist2;

  // --- Search state ----------------------------------------------------------

  std::unique_ptr<TPQ> PQ1, PQ2;
  std::unique_ptr<TPQturn> PQT;
  std::unique_ptr<TBitArray> FNoDriveThroughBits;
  std::unique_ptr<TBitArray> FExitLinkFTBits, FExitLinkTFBits;
  TIntegerList FListOfTurns;
  int32_t Flinkdyn = 0;
  double Fpercentdyn = 0;
  TApproach Fapproachdyn = apIgnore;
  int32_t FnodeTurnMode = 0;
  int32_t FNearLink = 0, FNearNode = 0;

protected:
  // Route builders from a location on link S (also the location routes').
  // Turn mode: the walk back from L's state to S as it was left (S forward
  // with apForward, backward with apReverse, either with apIgnore); node
  // mode: the route to node, S in front and L behind, signs left to the
  // caller.
  void WalkToLocation(int32_t S, TApproach left, int32_t L, bool forward, TRoute& route) const;
  void WrapNodeRoute(int32_t S, int32_t node, int32_t L, TRoute& route) const;

  // Guards of the runs that change settings (kovra_calc_matrix.h).
  class TLimitRestore;
  class TSettingsRestore;

  // Pieces of the analyses (kovra_calc_subnet.cpp).
  // The first link at node 1 (slot 1); 0 when there is none.
  int32_t FirstLinkAtNode1() const;
  // The lowest link whose IA entry is value; 0 when none.
  static int32_t LowestAt(const TIntegerArray& IA, int32_t value);
  // A tree from {link, 0.5}, both sides, no limit, no targets.
  void FullTreeFromLocation(int32_t link);
  // After a tree from a location: link reached in either direction.
  bool LinkReached(int32_t link) const;
  // The component passes of SubNet and SubNetLimits in node mode (numbers
  // per node) and turn mode (numbers per link in IA, -1 = none yet).
  int32_t NodeComponents(TIntegerArray& comp);
  int32_t LinkComponents(TIntegerArray& IA, int32_t start);

  TCalcSettings fS;
  TNetwork& FNW;
  const bool FTurnMode;
  std::unique_ptr<TGISArray> FGISarray;
  std::string FGeoJSON;

private:
  struct TSlotState {
    bool RouteTimeOK, RouteCostOK, TurnsOK;
    int32_t TimeSingleSlot, TurnSingleSlot;
  };
  TSlotState ComputeSlots() const;
  void CommitSlots(const TSlotState& s);
  // Raises the turn messages of a criterion setter.
  static void CheckTurnSlots(const TSlotState& s, bool turncosts, bool singleslot);
  void SetCriterion(TRouteCriteria rc, bool turncosts);
  void ClearMaxICost() { FMaxICost = 0; }
  void PrepareLimits();
  void CheckColumns() const;
  float LinkCost(int32_t link, int32_t costcolumn) const {
    switch (fS.FRouteCriteria) {
      case rcTime: return GetTime_raw(fS.FTimeSingleSlot, link);
      case rcCost: return FNW.Costs()[size_t(costcolumn)][size_t(link)];
      default: return FNW.Lengths()[size_t(link)];
    }
  }
  float LargestLinkCost(const int32_t* links, int64_t n) const;
  std::unique_ptr<TBitArray> NodesInRect(TFloatRect R) const;

  // Largest-link cost and the network state it was computed under.
  float FMaxICost = 0;
  uint64_t fMaxICostGeneration = 0, fMaxICostColumns = 0;

  struct TActiveLimit {
    const uint8_t* Values;
    uint8_t Vehicle;
    bool BitPattern;
  };
  std::array<TActiveLimit, 9> fActiveLimits{};
  int32_t fActiveLimitCount = 0;

  const TNodeLabel& NodeLabel(int32_t node) const {
    assert(size_t(node) < fNodeLabels.size());
    return fNodeLabels[size_t(node)];
  }
  TNodeLabel& NodeLabelW(int32_t node) {
    assert(size_t(node) < fNodeLabels.size());
    return fNodeLabels[size_t(node)];
  }
  float StateCost(int32_t state) const {
    assert(size_t(state) < fStateLabels.size());
    const TStateLabel& l = fStateLabels[size_t(state)];
    return l.stamp == fStamp ? l.cost : cInfinity;
  }
  int32_t StatePred(int32_t state) const {
    assert(size_t(state) < fStateLabels.size());
    const TStateLabel& l = fStateLabels[size_t(state)];
    return l.stamp == fStamp ? l.pred : cNoPred;
  }
  TStateLabel& StateLabelW(int32_t state) {
    assert(size_t(state) < fStateLabels.size());
    return fStateLabels[size_t(state)];
  }
  void NextGeneration();
  void PrepareExpansion();
  // The tree once FNodeOnOff is clear and sized.
  int32_t TreeFromNodeRun(int32_t s, float limit, int32_t mode, const TIntegerList* NL, int32_t N);
  // Walk back of a restriction of 3 or more links from the state of cur that
  // arrived at node.
  bool RestrictionWalkMatches(const TTurnRestriction& tr, int32_t cur, int32_t node) const;
  // The turn value of turning from cur into L at node, after cost c.
  float TurnValue(int32_t cur, int32_t node, int32_t L, float c);

  std::function<void()> fAnalysisTreeHook;
  std::vector<TNodeLabel> fNodeLabels;
  std::vector<TStateLabel> fStateLabels;
  uint32_t fStamp = 1;
  std::vector<TDistEntry> fDist;
  uint32_t fDistGen = 1, fDistForStamp = 0;
  TFloatPoint fDistTarget{};
  const TBitArray* fIncludeNodes = nullptr;

  // What the expansions read, taken at the last reset.
  struct TExpansionData {
    const TSearchGraph* graph = nullptr;
    const int32_t* from = nullptr;
    const int32_t* to = nullptr;
    const uint16_t* attr = nullptr;
    const uint32_t* cds = nullptr;
    const uint32_t* skip = nullptr;
    const uint32_t* window = nullptr;
    const uint32_t* ndt = nullptr;
    const uint32_t* exitFT = nullptr;
    const uint32_t* exitTF = nullptr;
    TLinkCost costFT, costTF;
    bool ignoreOneway = false, anyLimit = false, skipCulDeSacOpt = false;
    bool turnCosts = false, dist = false;
    float alpha = 0;
  };
  TExpansionData fX;
  // What the last search read besides its labels; the readers compare it
  // with the network and the settings as they are.
  struct TSearchStamp {
    uint64_t open = 0, columns = 0, attributes = 0;
    std::array<uint8_t, 9> vehicle{};
    const TBitArray* skipLinks = nullptr;
    TRouteCriteria criterion = rcDist;
    int32_t timeColumn = 0, costFT = 0, costTF = 0;
    float maxSpeed = 0;
    double relativeSpeed = 1;
    bool ignoreOneway = false;
    bool operator==(const TSearchStamp&) const = default;
  };
  TSearchStamp CurrentStamp() const;
  TSearchStamp fSearchStamp;
  bool fSearched = false;
  TSearchKind fSearchKind = skTreeFromNode;
  // Trees from locations: the counting of one tree, and whether the stored
  // largest-link cost was taken over target links only.
  struct TTargetCount {
    int32_t mode = 0;
    int64_t remaining = 0;
    float limit = 0;
  };
  void CountTargetsOnLink(TTargetCount& tc, int32_t L, float cost);
  void TreeFromLocationTurn(int32_t S, double p, TTargetCount& tc);
  void TreeFromLocationNode(int32_t S, double p, TTargetCount& tc);
  float NodeCostAfterLocation(int32_t node) const;
  bool fMaxICostTargets = false;
  // No-drive-through was in force for the last tree.
  bool fTreeNoDriveThrough = false;

  // The network state the labels were sized for.
  uint64_t fLabelGeneration = 0;
  int32_t fLabelLinks = -1, fLabelNodes = -1;
};

// ---------------------------------------------------------------------------
// TRouteCalc: the route calculator. It runs goal-directed searches between
// two places on the search state of TCalc and stops as soon as the goal is
// settled. Where each method lives:
//
// | methods                                               | source                      |
// |-------------------------------------------------------|-----------------------------|
// | constructor, Alpha, DuplicateLinks, Hierarchy,        | kovra_routecalc.cpp         |
// | SkipCulDeSacOptimization, SetHierarchyLevel,          |                             |
// | SetSkipNodeList, UpdateAlpha, IsCulDeSacNode          |                             |
// | Route                                                 | kovra_routecalc_route.cpp   |
// | RouteDyn, RouteDynEx, RouteDynApproach(Ex)            | kovra_routecalc_dyn.cpp     |
// | RMatrix, RMatrix2, RMatrixDyn, RMatrixDyn2            | kovra_routecalc_matrix.cpp  |
// | RMatrixOut, RMatrixDynOut, RMatrixPOut                | kovra_routecalc_matrixout.cpp |
// | RoutePairs, RoutePairsP                               | kovra_routecalc_pairs.cpp   |
// | Bridges, RoadNameTest                                 | kovra_routecalc_bridges.cpp |
// | SubNetEx, CulDeSacCurb                                | kovra_routecalc_checks.cpp  |
// | nearest facilities, curb                              | to come, one file each      |
// | matrices, alternative routes, traffic assignment,     |                             |
// | subnets                                               |                             |
//
// Settings stay until changed and apply to every following search. The skip
// node list is borrowed: the caller keeps it alive and its size unchanged
// while it is set; clones share it read-only.
//
// Kept as they are, on purpose:
// - the hierarchy's current level (Lmax) is one value for the whole search,
//   taken from the link of the last entry taken from the queue;
// - Route picks its cul-de-sac mode from the two ends alone, whatever the
//   vehicle limits;
// - SetHierarchyLevel ignores a bad combination (NaN included) silently.
inline constexpr const char* cMsgSkipNodeListSize = "SkipNodeList has wrong size";
inline constexpr const char* cMsgNumOfRoutes = "NumOfRoutes should be >0";
inline constexpr const char* cMsgTooFewNodes = "NodeCount should be >1";

// The links whose removal disconnects their two ends in the undirected
// network of every link of non-zero length, whatever its one-way code:
// Bridge[link] := 1 for those, 0 for the others (LinkCount + 1 entries).
// Linear time; the network must be open.
void UndirectedBridges(const TNetwork& NW, std::vector<uint8_t>& Bridge);

// One position of a route in the road-name scan: the link, the length of the
// flagged run it belongs to (0 = none), its road-name id and the suggested
// road-name id.
struct Ty {
  int32_t id = 0;
  int32_t mark = 0;
  int32_t str = 0;
  int32_t str2 = 0;
};

// The road-name scan of one route, its positions in driving order with str
// filled: every run of other names between two positions of one name gets
// mark := the run's length and str2 := that name. A later run that covers a
// position again overwrites it (the last flag wins). Routes of two links or
// fewer flag nothing; mark and str2 are cleared first.
void ScanRoadNameRuns(std::span<Ty> route);
// Folds one scanned route into the per-link results (entry 0 unused): a
// flagged position sets its link's run length and suggestion when the link
// has none yet or a longer one.
void MergeRoadNameRuns(std::span<const Ty> route, TIntegerArray& RunLength, TIntegerArray& Suggestion);

class TRouteCalc : public TCalc {
public:
  TRouteCalc(TNetwork& NW, bool Turnmode);

  // Weight of the A* estimate; 0 gives plain Dijkstra order, above 1 a
  // weighted (inexact) search. Negative and non-finite values are ignored.
  float Alpha() const { return FXAlpha; }
  void SetAlpha(float value);
  bool DuplicateLinks() const { return FDuplicateLinks; }
  void SetDuplicateLinks(bool value) { FDuplicateLinks = value; }
  bool Hierarchy() const { return fS.FHierarchy; }
  void SetHierarchy(bool value) { fS.FHierarchy = value; }
  bool SkipCulDeSacOptimization() const { return fS.FSkipCulDeSacOptimization; }
  void SetSkipCulDeSacOptimization(bool value) { fS.FSkipCulDeSacOptimization = value; }

  // The hierarchy's distance thresholds (km), kept only when
  // h2 >= h3 >= h4 >= h5 > 0.
  void SetHierarchyLevel(double h2, double h3, double h4, double h5);
  // nil or exactly NodeCount + 1 bits (bit n: node n may be reached, never
  // passed through); a refused list leaves the previous one set.
  void SetSkipNodeList(const TBitArray* list);
  const TBitArray* SkipNodeList() const { return FSkipNodeList; }

  // The cost of the cheapest route from node1 to node2; 0 when they are
  // equal, -1 when there is none or either is a skip node. The labels then
  // describe the route for RouteFind and the other readers.
  float Route(int32_t node1, int32_t node2);

  // The cheapest route between two locations; -1 when there is none (also
  // when one-way rules, the approach sides, skip nodes or vehicle limits
  // close either end). With DuplicateLinks the duplicate of each end link
  // is tried too and the cheapest combination wins (the first on a tie).
  // The Ex forms clear aRoute first and fill it: signed links from the start
  // link to the end link, the nodes passed; empty with -1.
  float RouteDyn(const TLocation& loc1, const TLocation& loc2);
  float RouteDynEx(const TLocation& loc1, const TLocation& loc2, TRoute& aRoute);
  // With the side each location is left or reached from; the duplicate
  // links are not tried.
  float RouteDynApproach(const TLocation& loc1, const TLocation& loc2, TApproach Approach1, TApproach Approach2);
  float RouteDynApproachEx(const TLocation& loc1, const TLocation& loc2, TApproach Approach1, TApproach Approach2,
                           TRoute& aRoute);

  // --- Network checks by routes (kovra_routecalc_bridges.cpp) ----------------

  // The two-way links whose removal disconnects their two ends under the
  // calculator's other settings (criterion, turn mode and rules, limits,
  // skip lists, no-drive-through, hierarchy): IA[link] 1 for a bridge, 0
  // otherwise (zero-length and cul-de-sac links are never tested). Returns
  // the number of bridges. Each tested link is closed in the network for
  // its route, so no other calculator may use the network meanwhile; the
  // link and IgnoreOneway are restored on every exit, also when a route or
  // the progress handler raises (IA is then left empty). Every link's
  // answer is that of its own test: in node mode (without hierarchy,
  // no-drive-through or a node window) a link that the route found for an
  // admitted link drives from its from-node to its to-node is answered by
  // that route and not tested itself; every other link is tested, and an
  // answer once measured is never changed. A link that no route could
  // replace in any setting (UndirectedBridges) is a bridge without its
  // route: that route would search the whole side of the network it starts
  // in.
  int32_t Bridges(TIntegerArray& IA);
  // NumOfRoutes routes between random nodes (seeded from the process-wide
  // source): a run of other road names between two links of one name in
  // file RoadFileID is flagged with its length and that name; each link
  // keeps the shortest run it was found in. Writes the flagged links that
  // are not roundabouts as the polyline layer filename (ID, Count,
  // RoadName, Suggestion); gfGeoJSON leaves the text in GeoJSON, gfArray
  // the rows in GISarray. Every argument is checked before any route or
  // output; a failure while writing leaves no layer. A route of cost 0 and
  // routes of two links or fewer are not scanned.
  void RoadNameTest(const std::string& filename, TGISFormat GF, int32_t RoadFileID, int32_t NumOfRoutes);

  // --- One-way and curb checks (kovra_routecalc_checks.cpp) -----------------
  // IA: 1 for a flagged link, 0 otherwise (LinkCount + 1 entries, left empty
  // when the run raises); the result is the number flagged.

  // One-way links from whose end no route leads back to their start, under
  // the current settings with the vehicle limits off for the run.
  int32_t SubNetEx(TIntegerArray& IA);
  // Links that cannot be driven a second time in the same direction without
  // turning back on the link itself.
  int32_t CulDeSacCurb(TIntegerArray& IA);

  // Work of the last Route or location route: entries settled and entries
  // pushed (summed over the combinations of duplicate links).
  int64_t LastSettled() const { return fLastSettled; }
  int64_t LastPushed() const { return fLastPushed; }

  // --- Route matrices (kovra_routecalc_matrix.cpp) ---------------------------
  // One route per cell on the caller's thread. A cell that finds no route
  // under the road hierarchy is computed once more without it (Hierarchy is
  // back on afterwards, also after an error). With MatrixBuffer > 0 every
  // search stays inside the box around the listed places grown by it.
  // Cells: the cost, -1 without a route, 0 on the skipped diagonal of the
  // one-list forms and in the extra row and column (last, with extra).
  // The symmetric forms compute i -> j for i < j and store the same value
  // for j -> i, also on a network with one-way links.

  TMatrix RMatrix(const TIntegerList& NL, bool extra, bool symmetric);
  TMatrix RMatrix2(const TIntegerList& NL1, const TIntegerList& NL2);
  TMatrix RMatrixDyn(const TLocationList& LL, bool extra, bool symmetric);
  TMatrix RMatrixDyn2(const TLocationList& LL1, const TLocationList& LL2);

  // --- Route matrix outputs (kovra_routecalc_matrixout.cpp) ------------------
  // One row per pair, one route per row; "the same list" means the same
  // object (&LL1 == &LL2). Every argument is checked before the writer is
  // made or a list changes. A pair without a route is a row of -1 (dropped
  // when MaxCost is set). A pair of the same node or location is 0 without
  // geometry. Labels: bare in an integer id column, else in double quotes
  // with inner quotes doubled; the location outputs always quote them, also
  // in an integer column (the writers' comma-text split removes the
  // quotes). A text Time column holds "-1" for a pair without a route.
  // gfArray rows go to GISarray, gfGeoJSON text to GeoJSON; the writer is
  // always freed. A failure mid-run leaves no output, every setting and the
  // caller's lists as they were. No cancel and no 2 GB check.
  // RMatrixDynOut with nearestOpen and RMatrixPOut write the moved or
  // snapped locations back into the caller's lists (the points stay);
  // RMatrixPOut's offroadspeed must be >= 0 (NaN is refused).

  void RMatrixOut(const std::string& filename, TGISFormat GF, const TIntegerList& NL1, const TIntegerList& NL2,
                  const TLabelList* SL1, const TLabelList* SL2, bool dist, bool time, bool cost, bool directdist,
                  bool symmetric, bool routeobject);
  void RMatrixDynOut(const std::string& filename, TGISFormat GF, TLocationList& LL1, TLocationList& LL2,
                     const TLabelList* SL1, const TLabelList* SL2, bool dist, bool time, bool cost, bool directdist,
                     bool symmetric, bool routeobject, bool nearestOpen);
  void RMatrixPOut(const std::string& filename, TGISFormat GF, TLocationList& LL1, TLocationList& LL2,
                   const TLabelList* SL1, const TLabelList* SL2, bool dist, bool time, bool cost, bool directdist,
                   bool symmetric, bool routeobject, bool nearestOpen, double offroadspeed, bool skiplinkbit);

  // --- Route pairs (kovra_routecalc_pairs.cpp) -------------------------------
  // Trip i runs from LL1[i] to LL2[i]; one row per trip, without a second
  // try without the hierarchy. The caller's lists are never changed
  // (nearestopen moves copies; a moved end drops RoutePairsP's legs).
  // RoutePairsP snaps the items' points, needs the spatial index and an
  // offroadspeed >= 0, and with a speed > 0 adds the straight legs from
  // the points to the network (three-part lines).

  void RoutePairs(const std::string& filename, TGISFormat GF, const TLocationList& LL1, const TLocationList& LL2,
                  const TLabelList* SL1, const TLabelList* SL2, bool dist, bool time, bool cost, bool directdist,
                  bool routeobject, bool nearestopen);
  void RoutePairsP(const std::string& filename, TGISFormat GF, const TLocationList& LL1, const TLocationList& LL2,
                   const TLabelList* SL1, const TLabelList* SL2, bool dist, bool time, bool cost, bool directdist,
                   bool routeobject, bool nearestopen, double offroadspeed);

private:
  // A matrix cell: Route (RouteDyn, RouteDynEx with route), once more
  // without the hierarchy when it found none.
  float CellRoute(int32_t node1, int32_t node2);
  float CellRouteDyn(const TLocation& loc1, const TLocation& loc2, TRoute* route);
  // The frame and rows of RMatrixDynOut (points false) and RMatrixPOut.
  void LocationMatrixOut(const std::string& filename, TGISFormat GF, TLocationList& LL1, TLocationList& LL2,
                         const TLabelList* SL1, const TLabelList* SL2, bool dist, bool time, bool cost,
                         bool directdist, bool symmetric, bool routeobject, bool nearestOpen, bool points,
                         double offroadspeed, bool skiplinkbit);
  // The frame and rows of RoutePairs (points false) and RoutePairsP.
  void RoutePairsRun(const std::string& filename, TGISFormat GF, const TLocationList& LL1, const TLocationList& LL2,
                     const TLabelList* SL1, const TLabelList* SL2, bool dist, bool time, bool cost,
                     bool directdist, bool routeobject, bool nearestopen, bool points, double offroadspeed);
  // The state of one location search (kovra_routecalc_dyn.cpp).
  struct TDynSearch;
  // route == nullptr: the cost only.
  float RouteDynDuplicates(const TLocation& loc1, const TLocation& loc2, TApproach Approach1, TApproach Approach2,
                           TRoute* route);
  float RouteDynSearch(const TLocation& loc1, const TLocation& loc2, TApproach Approach1, TApproach Approach2,
                       TRoute* route);
  float RouteDynTurnMode(TDynSearch& s);
  float RouteDynNodeMode(TDynSearch& s);
  void BuildRouteTurnMode(const TDynSearch& s, TRoute& route) const;
  void BuildRouteNodeMode(const TDynSearch& s, TRoute& route) const;
  void SetRouteSigns(const TDynSearch& s, TRoute& route) const;
  // Locations checked and the network open, in this order.
  void CheckDynArguments(const TLocation& loc1, const TLocation& loc2) const;

  // Falpha := the lower-bound factor of the criterion x Alpha. Never writes
  // the network: a factor the network flags as stale is computed here, once
  // per column version, so calculators on one network may search at once.
  void UpdateAlpha();
  bool IsCulDeSacNode(int32_t node) const;
  bool IsSkipNode(int32_t node) const { return FSkipNodeList && FSkipNodeList->GetBit(node); }
  // A fresh generation with nothing reached but, when origin != 0, origin.
  void StartEmptyRoute(int32_t origin);
  float RouteSearch(int32_t node1, int32_t node2, TDeadEnds deadEnds, TNoDriveThrough ndt);

  float FXAlpha = 1.0f;
  // The factors computed here for a network whose own are stale, and the
  // opening and column version they hold for.
  struct TFactorCache {
    uint64_t open = 0, columns = 0;
    bool valid = false;
    float factor = 0;
  };
  TFactorCache fTimeFactor, fCostFactor;
  const TBitArray* FSkipNodeList = nullptr;
  bool FDuplicateLinks = true;
  int64_t fLastSettled = 0, fLastPushed = 0;
  // Scratch routes of the duplicate combinations, kept for their capacity.
  TRoute fDynScratch, fDynBest;
};

}  // namespace kovra
