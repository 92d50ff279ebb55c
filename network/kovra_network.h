// TNetwork: the routable road network held in memory. Links 1..LinkCount and
// nodes 1..NodeCount live in flat per-link and per-node arrays whose element 0
// stays empty; a link of length 0 is an object the import rejected and no
// part of the graph.
//
// The implementation is split by concern: kovra_network_checks.cpp (argument
// checks), kovra_network_open.cpp (settings, file loading and validation,
// Close), kovra_network_clone.cpp, kovra_network_attributes.cpp (attribute
// words and adjacency signs), kovra_network_access.cpp (accessors, lengths,
// random locations, code pages), kovra_network_seams.cpp (the services other
// layers register). Further concerns add their own kovra_network_<concern>.cpp
// with member functions declared in the marked sections below.
//
// Adjacency: the slots of every node, node after node as "node.bin" holds
// them, in one array. Nodes are grouped by descending degree, so node n of
// degree d has its slots at FGroupBase[d] + n * d; Adjacent(node) is that
// span, element k - 1 being slot k. An entry is the link id, negative where
// the link cannot be left through this node (at its from-node when bit 10 of
// its attribute word is set, else at its to-node when bit 9 is set). A loop
// link occupies two slots of its node.
//
// Readers (search, routing) take the arrays through the const accessors and
// must refuse their cached labels when OpenGeneration(), AttributeVersion() or
// ColumnVersion() changed since they were computed.
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/kovra_bitarray.h"
#include "foundation/kovra_configfile.h"
#include "foundation/kovra_filebase.h"
#include "foundation/kovra_integerlist.h"
#include "foundation/kovra_io.h"
#include "foundation/kovra_random.h"
#include "foundation/kovra_types.h"
#include "network/kovra_arealist.h"
#include "network/kovra_locationlist.h"
#include "network/kovra_searchgraph.h"

namespace kovra {

class TCoord3File;
class TExternalID;
class TGISArray;
class TGISWriter;
class TNetwork;
class TQuadTree;
class TQuadTreeCell;
class TRoadClassSpeed;
class TRoadClassTurnCost;
class TRoadNameFile;
class TTurnRestrictions;
class TTrafficList;
struct TMIPen;
struct TPolyGeneration;
struct TTurnRestriction;

// Numbers in the messages below are %g (coordinates) or %n (percents), and
// NAN, INF or -INF where they are not finite: they come in as text.
inline constexpr const char* cMsgNetworkNotOpen = "Network is not open";
inline constexpr const char* cMsgNonValidLink = "Link %d is a non-valid link";
// A limit slot that is not loaded in a row from slot 1.
inline constexpr const char* cMsgInvalidLimitID = "Invalid limitID";
inline constexpr const char* cMsgNodeIdBelowOne = "Node-ID must be >=1: %d";
inline constexpr const char* cMsgNodeIdAboveCount = "Node-ID must be =<%d: %d";
inline constexpr const char* cMsgNodeListEmpty = "Nodelist is empty";
inline constexpr const char* cMsgNodeListEntry = "Node at index %d in list, %d, must be between 1 and %d";
inline constexpr const char* cMsgWrongPercent = "Percent need to be from 0 to 1";
inline constexpr const char* cMsgRoadFileID = "RoadFileID should be from 1 to %d, not %d";
inline constexpr const char* cMsgRoadNameID = "RoadNameID should be from 1 to %d, not %d";
inline constexpr const char* cMsgRadianCoordinates = "(%s , %s) are not valid radian coordinates";
inline constexpr const char* cMsgDegreeCoordinates = "(%s , %s) are not valid degree coordinates";
inline constexpr const char* cMsgGradCoordinates = "(%s , %s) are not valid grad coordinates";
inline constexpr const char* cMsgPlanarCoordinates = "(%s , %s) are not valid coordinates";
inline constexpr const char* cMsgBeyondSearchArea = "Coordinates (%s , %s) are beyond search area";
inline constexpr const char* cMsgLocationPercent = "Percentage must be 0<=percent<=1: %s";
inline constexpr const char* cMsgLocationNonValid = "Location (link %d), is a non-valid link";
inline constexpr const char* cMsgLocationListEmpty = "Locationlist is empty";
inline constexpr const char* cMsgLocationListLink = "Location (link) at index %d in list, %d, must be between 1 and %d";
inline constexpr const char* cMsgLocationListPercent =
    "Location (percentage) at index %d in list, %s, must be between 0 and 1";
inline constexpr const char* cMsgLocationListNonValid = "Location (link) at index %d in list, %d, is a non-valid link";
inline constexpr const char* cMsgTurnIndex = "Turn index must be between 0 and %d";
inline constexpr const char* cMsgWrongVersion = "This network is not compatible with the software";
// Margin of the search window on a side where the network has no extent.
inline constexpr double cFlatWindowMarginKm = 1;
inline constexpr const char* cMsgWrongKey = "Wrong encryption key or corrupted network file %s (%s)";
inline constexpr const char* cMsgRoadClassRange = "Index for RoadClass should be 0 to 31 (is %d)";
inline constexpr const char* cMsgHierarchyRange = "Hierarchy should be 0 to 7 (is %d)";
inline constexpr const char* cMsgNoValidLinks = "Network has no valid links";
inline constexpr const char* cMsgLinkIndex = "Link index must be from 1 to %d, not %d";
inline constexpr const char* cMsgBitArrayTooShort = "Bit array must hold at least %d bits";
inline constexpr const char* cMsgNoRoadFiles = "No roadfiles are open";
inline constexpr const char* cMsgStartStopPercent = "Start and Stop percent need to be different";
inline constexpr const char* cMsgNotConnected = "Link %d and node %d are not connected";
inline constexpr const char* cMsgCostIndex = "Index must be 0 to %d (is %d)";
inline constexpr const char* cMsgSplitDistance = "Distance should be >0 (is %s)";
inline constexpr const char* cMsgSplitCount = "Distance %s gives more than 2147483647 split points";
inline constexpr const char* cMsgEulerArrays = "Euler: arrays must cover links 1 to %d";
inline constexpr const char* cMsgEulerUnbalanced = "Euler: link counts are not balanced at node %d";
inline constexpr const char* cMsgDegreeAtLeast4 = "Degree for node should be >=4 (is %d)";
inline constexpr const char* cMsgDegreeEven = "Degree for node should be even (is %d)";
inline constexpr const char* cMsgRouteNodes = "Route of %d links must hold %d nodes (holds %d)";

// The merge step of TNetwork::Euler: circuits (links L[c], nodes N[c], node
// ids 1..NodeCount) that share a node are spliced into one, the first pair in
// list order first, until no two share a node.
void MergeCircuits(std::vector<TIntegerArray>& L, std::vector<TIntegerArray>& N, int32_t NodeCount);

// v as Format prints it with Pattern ("%g", "%n"), or NAN, INF, -INF.
std::string NumberText(double v, const char* Pattern);

inline constexpr int32_t cMaxRoadNameFiles = 99;
inline constexpr int32_t cLimitSlots = 9;

// The attribute word of a link.
inline constexpr uint16_t cAttrRoadClass = 0x001F;
inline constexpr uint16_t cAttrHierarchy = 0x00E0;
inline constexpr uint16_t cAttrNoDriveThrough = 0x0100;
inline constexpr uint16_t cAttrOnewayFromTo = 0x0200;  // travel only from the from-node to the to-node
inline constexpr uint16_t cAttrOnewayToFrom = 0x0400;  // travel only from the to-node to the from-node
inline constexpr uint16_t cAttrOneway = 0x0600;
inline constexpr uint16_t cAttrRoundAbout = 0x0800;
inline constexpr uint16_t cAttrNonDrive = 0x1000;
inline constexpr uint16_t cAttrUturnFrom = 0x2000;
inline constexpr uint16_t cAttrUturnTo = 0x4000;
inline constexpr uint16_t cAttrSearchLink = 0x8000;

// The settings of a network, supplied by the caller instead of its settings file.
using TGetConfigEvent = std::function<TConfig(TObject* Sender)>;

// ---------------------------------------------------------------------------
// Services of the layers above, registered by them at start-up: the network
// never includes their code.

// The nearest node of an open network to a point; made per use by the
// registered factory.
class INearestNodeFinder {
public:
  virtual ~INearestNodeFinder() = default;
  virtual void NearestNode(const TFloatPoint& P, int32_t& node, double& distance) = 0;
};
using TNearestNodeFinderFactory = std::function<std::unique_ptr<INearestNodeFinder>(const TNetwork& Network)>;

// Runs once, at the first TNetwork construction after it is set; an exception
// it raises propagates out of that constructor, and the next construction
// tries again. Without a loader nothing runs (alpha shapes stay not loaded).
void SetAlphaShapeLoader(std::function<void()> Loader);
void SetNearestNodeFinderFactory(TNearestNodeFinderFactory Factory);

// ---------------------------------------------------------------------------

class TNetwork : public TFileBase {
public:
  TNetwork();
  ~TNetwork() override;
  TNetwork(const TNetwork&) = delete;
  TNetwork& operator=(const TNetwork&) = delete;

  // --- Opening, closing, cloning (kovra_network_open.cpp, _clone.cpp) -------

  // Opens the network in Directory (an open network is closed first).
  // externalid: 1 opens the external ids uncached, 2 with the second index
  // cached, 3 with both; any other value leaves the reader closed. Every file
  // is checked against the others before it is used; on any error the
  // network is left closed and holds nothing.
  void Open(bool attributes, bool Coord3Cache, bool spatialindex, int32_t externalid);
  // Loads the attribute words and signs the adjacency by them. On an error
  // the words held before stay.
  void OpenAttributes();
  // An open slot is closed first; a failed load leaves the slot empty.
  void OpenRoadName(int32_t RoadFileID, bool cache);
  // RoadFileID must lie in 1..99 (not tested).
  void CloseRoadNameFile(int32_t RoadFileID);
  void CloseExternalID();
  // Releases the open network; nothing when it is closed. The settings-derived
  // fields and the counts stay.
  void Close();
  // Makes v a copy of this open network ("Network is not open" otherwise). v
  // gets its own copies of everything it may change; the quadtree, cached
  // intermediate vertices and the external-id reader are shared.
  void Clone(TNetwork& v) const;

  // Changes with every Open and Close of this network.
  uint64_t OpenGeneration() const { return fOpenGeneration; }
  // Changes with every change of an attribute word.
  uint64_t AttributeVersion() const { return fAttributeVersion; }

  // The search graph of the open network as it is now, built on the first
  // call after an Open or an attribute change (kovra_network_searchgraph.cpp).
  // Calculators on several threads may ask for it at once; it stays valid
  // until the network changes or closes. "Network is not open" when closed.
  const TSearchGraph& SearchGraph() const;
  // Bytes the search graph holds; 0 when none is built (also after Close).
  int64_t SearchGraphBytes() const;

  // --- Properties ------------------------------------------------------------

  int32_t LinkCount() const { return FLinkCount; }
  int32_t NodeCount() const { return FNodeCount; }
  int32_t MaxDegree() const { return Fmaxdegree; }
  const TFloatRect& MBR() const { return Fmbr; }
  // The search window: MBR widened by CoordinateWindow percent on each side;
  // a side of no extent (a network on one horizontal or vertical line) is
  // widened by cFlatWindowMarginKm instead when CoordinateWindow is above 0.
  const TFloatRect& MBRX() const { return FmbrX; }
  TCoordinateUnit CoordinateUnit() const { return FCoordinateUnit; }
  double DistFactor() const { return FDistfactor; }
  const std::string& Coordsys() const { return Fcoordsys; }
  void SetCoordsys(const std::string& value) { Fcoordsys = value; }
  const std::string& PRJ() const { return Fprj; }
  void SetPRJ(const std::string& value) { Fprj = value; }
  int32_t EPSG() const { return Fepsg; }
  void SetEPSG(int32_t value) { Fepsg = value; }
  uint16_t Codepage() const { return FCodepage; }
  void SetCodepage(uint16_t value) { FCodepage = value; }
  bool CompactMIF() const { return FcompactMIF; }
  void SetCompactMIF(bool value) { FcompactMIF = value; }
  double CoordinateWindow() const { return FCoordinateWindow; }
  // Stores the value; when it is >= 0 the search window is recomputed.
  void SetCoordinateWindow(double value);
  bool AllowNegativeCost() const { return FAllowNegativeCost; }
  void SetAllowNegativeCost(bool value) { FAllowNegativeCost = value; }
  TGISArray& GISarray() const { return *FGISarray; }
  const std::string& GeoJSON() const { return FGeoJSON; }
  const TTurnEvent& onTurn() const { return eTurn; }
  void SetonTurn(TTurnEvent value) { eTurn = std::move(value); }
  const TTurnTEvent& onTurnT() const { return eTurnT; }
  void SetonTurnT(TTurnTEvent value) { eTurnT = std::move(value); }
  const TGetConfigEvent& OnConfig() const { return fOnConfig; }
  void SetOnConfig(TGetConfigEvent value) { fOnConfig = std::move(value); }
  TObject* Tag() const { return fTag; }
  void SetTag(TObject* value) { fTag = value; }

  // Caller streams that replace the directory's files; borrowed, read from
  // their position, never freed.
  TKvStream* SpatialIndexStream() const { return fSpatialIndexStream; }
  void SetSpatialIndexStream(TKvStream* value) { fSpatialIndexStream = value; }
  TKvStream* ExternalIdIndex1Stream() const { return fExternalIDIndex1Stream; }
  void SetExternalIdIndex1Stream(TKvStream* value) { fExternalIDIndex1Stream = value; }
  TKvStream* ExternalIdIndex2Stream() const { return fExternalIDIndex2Stream; }
  void SetExternalIdIndex2Stream(TKvStream* value) { fExternalIDIndex2Stream = value; }
  TKvStream* LengthStream() const { return fLengthStream; }
  void SetLengthStream(TKvStream* value) { fLengthStream = value; }
  TKvStream* LinkStream() const { return fLinkStream; }
  void SetLinkStream(TKvStream* value) { fLinkStream = value; }
  TKvStream* CoordStream() const { return fCoordStream; }
  void SetCoordStream(TKvStream* value) { fCoordStream = value; }
  TKvStream* NodeStream() const { return fNodeStream; }
  void SetNodeStream(TKvStream* value) { fNodeStream = value; }
  TKvStream* AttributeStream() const { return fAttributeStream; }
  void SetAttributeStream(TKvStream* value) { fAttributeStream = value; }
  TKvStream* Coord3Stream() const { return fCoord3Stream; }
  void SetCoord3Stream(TKvStream* value) { fCoord3Stream = value; }
  TKvStream* Coord3iStream() const { return fCoord3iStream; }
  void SetCoord3iStream(TKvStream* value) { fCoord3iStream = value; }

  // Factors of the automatic turn costs.
  double cTJunction = 1;
  double cTJunctionCrossing = 1.5;
  double cNormal = 1;
  double cNormalCrossingTurn = 1.5;
  double cNormalCrossingStraight = 1.5;
  double cFast = 1;
  double cStraight = 2;
  double cSlow = 4.5;

  // --- Argument checks (kovra_network_checks.cpp) ------------------------------
  // Only CheckOpen and CheckTurnIndex test IsOpen.

  void CheckOpen() const;
  void CheckLink(int32_t link) const;
  void CheckLinkRange(int32_t link) const;
  void CheckNode(int32_t node) const;
  void CheckNodeList(const TIntegerList& NL) const;
  void CheckPercent(double percent) const;
  void CheckRoadNameFile(int32_t RoadFileID) const;
  void CheckExternalOpen() const;
  void CheckCoordinate(const TFloatPoint& P) const;
  void CheckLocation(const TLocation& loc) const;
  void CheckLocationList(const TLocationList& LL) const;
  void CheckLocationListP(const TLocationList& LL) const;
  void CheckTurnIndex(int32_t index) const;

  // --- Attribute words (kovra_network_attributes.cpp) -------------------------

  uint16_t AttributeGet(int32_t link) const;
  // Bits 16 and above read as clear.
  bool AttributeGetBit(int32_t link, uint8_t bit) const;
  bool AttributeGetBit_raw(int32_t link, uint8_t bit) const { return bit < 16 && ((Fattribute[link] >> bit) & 1u); }
  // A loop link gets bits 9 and 10 cleared.
  void AttributeSet(int32_t link, uint16_t value);
  // No loop masking; bits 16 and above are ignored.
  void AttributeSetBit(int32_t link, uint8_t bit, bool value);
  // Bit `bit` of every link 1..LinkCount := bit `link` of BA.
  void AttributeSetBits(uint8_t bit, const TBitArray& BA);
  void AttributeSetSkipInSearchBit();
  TRoadClass GetRoadClass(int32_t link) const { return TRoadClass(Fattribute[link] & cAttrRoadClass); }
  void SetRoadClass(int32_t link, TRoadClass value);
  THierarchy GetHierarchy(int32_t link) const { return THierarchy((Fattribute[link] & cAttrHierarchy) >> 5); }
  void SetHierarchy(int32_t link, THierarchy value);
  uint16_t OneWayGet(int32_t link) const;
  // Stores value & 0x600 (0 for a loop link).
  void OneWaySet(int32_t link, uint16_t value);
  // 0 two-way, 1 from->to only, 2 to->from only, 3 closed.
  int32_t OneWayCode(int32_t link) const { return (Fattribute[link] >> 9) & 3; }
  void SwapOneWay();

  // --- Nodes, links, lengths (kovra_network_access.cpp) -----------------------

  int32_t Degree(int32_t node) const;
  int32_t Degree_raw(int32_t node) const { return FDegree[size_t(node)]; }
  // The signed link entries of a node; element k - 1 is slot k.
  std::span<const int32_t> Adjacent(int32_t node) const {
    const int32_t d = FDegree[size_t(node)];
    return {FAdjacency.data() + (FGroupBase[size_t(d)] + int64_t(node) * d), size_t(d)};
  }
  int32_t Node2Link(int32_t node, int32_t linkindex) const;
  bool NodesConnected(int32_t node1, int32_t node2) const;
  TFloatPoint Node2Coordinate(int32_t node) const;
  TFloatPoint Node2Coordinate_raw(int32_t node) const { return {FX[size_t(node)], FY[size_t(node)]}; }
  int32_t Link2FromNode(int32_t link) const;
  int32_t Link2ToNode(int32_t link) const;
  float LinkLength(int32_t link) const;
  // Summed in double, returned as Single.
  float Length() const;
  bool LoopLink(int32_t link) const;
  bool LoopLinks() const;
  std::string Link2ExternalID(int32_t link) const;
  float RouteLength(const TRoute& Route) const;
  static void SwapList(TFloatPointArrayEx& list);
  TLocation RandomLocation(TRandom& r) const;

  // Crow-fly km: great-circle for angular units, planar otherwise. No checks.
  double DistanceBetweenPoints_raw(const TFloatPoint& P1, const TFloatPoint& P2) const;
  double DistanceBetweenNodes_raw(int32_t node1, int32_t node2) const {
    return DistanceBetweenPoints_raw(Node2Coordinate_raw(node1), Node2Coordinate_raw(node2));
  }

  // The leaf of the spatial index holding P; Exception "Spatial index need to
  // be open" without an index. P is not checked.
  const TQuadTreeCell& FindQuadTreeCell(const TFloatPoint& P) const;
  // A finder made by the registered factory; Exception "Spatial index need to
  // be open" when none is registered.
  std::unique_ptr<INearestNodeFinder> NearestNodeFinder() const;

  // --- Road names (kovra_network_access.cpp) -----------------------------------

  std::string Link2RoadName(int32_t RoadFileID, int32_t link) const;
  int32_t Link2RoadNameID(int32_t RoadFileID, int32_t link) const;
  std::string RoadNameID2RoadName(int32_t RoadFileID, int32_t RoadNameID) const;
  int32_t RoadName2RoadNameID(int32_t RoadFileID, const std::string& roadname, bool ignorecase) const;
  int32_t RoadNameMaxWidth(int32_t RoadFileID, uint16_t aCodepage) const;
  // The first candidate code page in which every road name of the open slots
  // can be written; 0 when none.
  uint16_t ValidCodePage(bool TAB) const;

  // --- Read-only views for search, routing and the other network parts ------

  const TCostArray& Lengths() const { return FLength; }
  const TIntegerArray& Fromnodes() const { return Fromnode; }
  const TIntegerArray& Tonodes() const { return tonode; }
  const TWordArray& Attributes() const { return Fattribute; }
  const TDoubleArray& X() const { return FX; }
  const TDoubleArray& Y() const { return FY; }
  // a[d] = number of nodes of degree d or more, d = 1..MaxDegree; a[MaxDegree + 1] = 0.
  const TIntegerArray& DegreeTable() const { return a; }
  const TBitArray& CulDeSacs() const { return FCDS; }
  const TMatrix& Times() const { return FTime; }
  const TMatrix& Costs() const { return FCost; }
  // Limit slot 1..9: one byte per link (empty when not loaded).
  const std::vector<uint8_t>& Limits(int32_t slot) const { return FlimitA[size_t(slot) - 1]; }
  bool LimitIsBitPattern(int32_t slot) const { return FlimitBP[size_t(slot) - 1]; }
  int32_t LimitSlots() const { return FlimitX; }
  float LengthAlpha() const { return FLengthAlpha; }
  float TimeAlpha() const { return FTimeAlpha; }
  float CostAlpha() const { return FCostAlpha; }
  // Null when not loaded.
  const TQuadTree* QuadTree() const { return FQuadtree.get(); }
  const TCoord3File* Coord3File() const { return FCoord3file.get(); }
  const TExternalID* ExternalID() const { return FexternalID.get(); }
  int32_t TurnSetCount() const { return int32_t(FTurnList.size()); }
  TTurnRestrictions& TurnSet(int32_t index) const { return *FTurnList[size_t(index)]; }
  // Null for an empty slot.
  TRoadNameFile* RoadNameFile(int32_t RoadFileID) const { return FRoadNameFiles[size_t(RoadFileID)].get(); }

  // --- Geometry (kovra_network_geometry.cpp, _projection.cpp, _matrix.cpp) --
  // Polylines run from the from-node to the to-node (the digitised direction).
  // A sideways offset in km moves a point to the RIGHT of that direction for
  // planar units and to the LEFT for angular units (bearings grow westwards).

  TFloatPointArrayEx GetGISSection(int32_t link) const;
  // No checks; fills list (grown, never shrunk) and allocates nothing when it
  // is large enough. Safe from many threads at once.
  void GetGISSection_raw(int32_t link, TFloatPointArrayEx& list) const;
  void GetGISSection_raw2(int32_t link, TFloatPointArrayEx& list) const { GetGISSection_raw(link, list); }
  TFloatPointArrayEx GetGISSectionRoute(const TRoute& route) const;
  TFloatPointArrayEx ExtractSection(const TFloatPointArrayEx& list, double start, double stop) const;
  void ExtractSection_raw1(const TFloatPointArrayEx& list, double start, double stop, TFloatPointArrayEx& FPA) const;
  void ExtractSectionCore(const TFloatPointArrayEx& list, double start, double stop, const TFloatPoint& P1,
                          const TFloatPoint& P2, bool useGivenEnds, TFloatPointArrayEx& result) const;
  // Crow-fly km.
  double DistanceBetweenPoints(const TFloatPoint& P1, const TFloatPoint& P2) const;
  double DistanceBetweenNodes(int32_t node1, int32_t node2) const;
  double DistanceToNode(const TFloatPoint& P, int32_t node) const;
  double DistanceBetweenLocations(const TLocation& loc1, const TLocation& loc2) const;
  // Projects P onto the link: percent along its polyline, side -1 left / +1
  // right of the digitised direction, distance in km, Pnew the foot point.
  void DistanceToLink(const TFloatPoint& P, int32_t link, double& percent, int32_t& side, double& distance,
                      TFloatPoint& Pnew) const;
  double DistanceToLinkSimple(const TFloatPoint& P, int32_t link) const;
  // The same without checks.
  void DistanceToLink_raw(const TFloatPoint& P, int32_t link, double& percent, int32_t& side, double& distance,
                          TFloatPoint& Pnew) const;
  TFloatPoint Location2Coordinate(const TLocation& loc, double offset) const;
  TFloatPoint Location2Coordinate_raw(const TLocation& loc, double offset) const;
  TFloatPoint Location2CoordinateOnSection(const TFloatPointArrayEx& section, const TLocation& loc,
                                           double offset) const;
  TFloatPoint PointAtPercent(const TFloatPointArrayEx& section, const TLocation& loc, int32_t& segment) const;
  // Every item's link is checked before any item changes.
  void Location2CoordinateList(TLocationList& LL, double offset) const;
  TMatrix MatrixDyn(const TLocationList& LL, bool extra) const;
  TMatrix MatrixDyn2(const TLocationList& LL1, const TLocationList& LL2) const;
  TMatrix Matrix(const TIntegerList& NL, bool extra) const;
  void Split(float distance, bool evenout, TLocationList& LL) const;
  int32_t RandomNode(TRandom& r) const;
  TFloatPoint RandomPoint(TRandom& r) const;
  // Turn angle 0..359 driving from link1 through node into link2.
  int32_t Direction(int32_t link1, int32_t node, int32_t link2) const;
  int32_t ExternalID2Link(const std::string& id) const;
  float GetCost(int32_t index, int32_t link) const;

  // --- Topology analyses (kovra_network_topology.cpp) ---------------------------

  bool GetCulDeSac(int32_t link) const;
  // Appends, ascending, every node with a link whose cul-de-sac bit is clear.
  void NonCulDeSacNodes(TIntegerList& NonCDSnodes) const;
  // Pairs opposite one-way links over the same geometry; returns twice the
  // number of pairs.
  int32_t FindDuplicateLinks();
  // The other link of index's pair, 0 when it has none. No checks.
  int32_t GetDuplicateLink(int32_t index) const {
    return size_t(index) < FDuplicates.size() ? FDuplicates[size_t(index)] : 0;
  }
  // Appends the chain of one-way links that starts with link; a ring ends
  // before its first link comes round again.
  void DownStream(int32_t link, TIntegerList& linklist) const;
  // Sets the bits of every one-way link from which link is reached.
  void UpStream(int32_t link, TBitArray& links) const;
  // Links reached from link without passing a valve node, and the valves met.
  // Valves must cover node ids 1..NodeCount.
  void Trace(int32_t link, const TBitArray& Valves, TBitArray& ValvesReached, TBitArray& LinksReached) const;
  // Appends closed walks using link l linkFT[l] times forwards and linkTF[l]
  // times backwards, one per connected group; nothing is appended on an error.
  void Euler(const TIntegerArray& linkFT, const TIntegerArray& linkTF, TIntegerLists& linklists,
             TIntegerLists& nodelists) const;

  // --- No-drive-through areas (kovra_network_areas.cpp) ----------------------
  // Links with bit 8 (value 256) form areas, connected through shared nodes,
  // numbered by their lowest link; a route may start or end in one but must
  // not cross a foreign one. Built by OpenAttributes and NoDriveThroughInit.

  void NoDriveThroughInit();
  // False on a closed network.
  bool NoDriveThroughSet() const;
  // True when a link between the first and the last lies in an area that is
  // neither of theirs; a route of 2 links or fewer never crosses.
  bool NoDriveThroughCheck(const TRoute& route) const;
  // 0 when any link at the node lies in no area, else the area of its links.
  int32_t NodeArea(int32_t node) const;
  const TAreaList& AreaList() const { return FAreaList; }

  // --- Result writers and check layers (kovra_network_output.cpp,
  // kovra_network_objectcheck.cpp) -------------------------------------------

  // Makes the writer GISoutputInit starts from; tests substitute writers
  // through SetGISWriterFactory. It must return a writer.
  using TGISWriterFactory = std::function<std::unique_ptr<TGISWriter>(TGISFormat GF)>;
  // Test seam: GISoutputInit takes its writers from Factory (configured as
  // usual); an empty function restores TGISWriter::GetGISObject.
  void SetGISWriterFactory(TGISWriterFactory Factory) { fWriterFactory = std::move(Factory); }

  // A new writer for one output; the caller owns it. For gfArray a bare
  // in-memory writer (nothing set on it); otherwise the factory's writer with
  // the network's CompactMIF, CoordSys, EPSG, PRJ, FileName := filename and,
  // unless GF is in GISFormatsOwnCodepage, the network's code page. Opens
  // nothing and checks nothing.
  std::unique_ptr<TGISWriter> GISoutputInit(const std::string& filename, TGISFormat GF) const;

  // Groups of links joining the same two nodes (loop links never), one
  // polyline record per link with its group number and whether the group's
  // lengths are equal. Returns the records written; no file when none.
  int32_t ParallelLinks(const std::string& filename, TGISFormat GF);
  // Links whose polylines repeat a point, cross themselves or turn back
  // within turn_angle degrees of a full reversal (PolylineDefectScore). A
  // turn of exactly 180 degrees scores 0 and is not listed. Returns the
  // records written; no file when none.
  int32_t ObjectCheck(const std::string& filename, TGISFormat GF, int32_t turn_angle);

  // === Joined links and z-levels from external node ids
  // (kovra_network_join.cpp, kovra_network_zlevels.cpp) =====================

  // Merges links into joined links: topology 0 groups of equal values
  // (attribute word and/or road name of slot RoadFileID), 1 connected
  // groups, 2 node to node, 3 node to node passing cul-de-sac spurs. IA[l]
  // := the joined link of link l (1.. in the order written; 0 for links of
  // length 0). Writes the joined links as the polyline layer filename (ID,
  // Roadname<RoadFileID>, Attribute) and every turn set k as
  // "<filename>_<k>.turn" in joined numbers. Every argument is checked before
  // IA is sized or a file exists; an empty filename raises EInvalidParameter.
  // On an error IA is left empty.
  void Join(const std::string& filename, TGISFormat GF, int32_t topology, int32_t RoadFileID, bool attributes,
            TIntegerArray& IA);
  // Reads the external ids of every link's two end nodes from InputFile (one
  // line per link, in link order; see ReadExternalNodeIds) and writes the
  // table OutputFile of ZFrom and ZTo per link: 1..k for the k ids ending at
  // one network node, 0 for an id alone at its node (rejected objects join
  // no node). More than nine ids at a node raise EOutOfRange. The whole input
  // is read and checked before the output is created; a failure leaves no
  // output.
  void ExternalNodeId2ZLevels(const std::string& InputFile, const std::string& OutputFile, TGISFormat GF);

  // === End of joined links and z-levels ======================================

  // How a layer written through WriteOutput ends.
  struct TOutputTail {
    bool DropEmpty = false;     // an output without records leaves no file
    bool ProgressZero = false;  // ProgressExecuteZero of Progress once the output is closed
  };
  // The frame of every layer written on this network: a writer from
  // GISoutputInit with GISarray pointed at Table (borrowed), Produce to
  // write it, then the tail: Close; Drop when Tail.DropEmpty and nothing was
  // written; Progress.ProgressExecuteZero when Tail.ProgressZero; for
  // gfGeoJSON the writer's text into GeoJSON; the writer destroyed (gfArray
  // included: it never owns Table). Returns the records written. When
  // Produce or Close raises, the unfinished output is dropped (its files
  // deleted, Table emptied), the writer destroyed and the error propagates;
  // GeoJSON then stays as it was.
  int32_t WriteOutputTo(const std::string& filename, TGISFormat GF, TOutputTail Tail, TGISArray& Table,
                        std::string& GeoJSON, TProgress& Progress,
                        const std::function<void(TGISWriter& Writer)>& Produce) const;

 private:
  // WriteOutputTo with the network's own table, text and progress.
  int32_t WriteOutput(const std::string& filename, TGISFormat GF, TOutputTail Tail,
                      const std::function<void(TGISWriter& Writer)>& Produce);

  TGISWriterFactory fWriterFactory;

 public:
  // --- Further concerns declare their member functions here ------------------

  // === Turn sets: checked adds, counting, reversing, the text and binary
  // files (kovra_network_turns.cpp, _turns_import.cpp), generated turns
  // (kovra_network_turns_auto.cpp) and the restriction layer
  // (kovra_network_turns_gis.cpp) ============================================
  // Every public method starts with CheckTurnIndex(index).

  // Grows the array of sets to n, each new set empty; never shrinks.
  void CreateArrayTurn(int32_t n);
  void TurnRestriction(int32_t index, int32_t link1, int32_t link2, float cost);
  // link1, link2, then the non-zero ones of link3..link6, in that order.
  void TurnRestrictionComplex(int32_t index, int32_t link1, int32_t link2, int32_t link3, int32_t link4,
                              int32_t link5, int32_t link6, float cost);
  void TurnClear(int32_t index);
  void TurnReset(int32_t index);
  int32_t TurnCount(int32_t index) const;
  // Replaces the set by its reverse.
  void TurnSwap(int32_t index);
  void TurnExportBin(int32_t index, const std::string& filename) const;
  void TurnImportBin(int32_t index, const std::string& filename);
  void TurnExportTxt(int32_t index, const std::string& filename) const;
  // The text file with external ids, UTF-8 without byte-order mark; a text
  // id that is empty or holds a character up to U+0020, a comma or a double
  // quote is written quoted (inner quotes doubled) so it reads back whole.
  void TurnExportTxt2(int32_t index, const std::string& filename) const;
  // Reads a turn-restriction text file into the set (nothing is cleared).
  // Every line is read and resolved first; an error names its line
  // (" (line N)" after the message) and leaves the set unchanged. A file
  // with a UTF-8 byte-order mark, or valid UTF-8 holding bytes >= 0x80, is
  // read as UTF-8, anything else in the system ANSI code page. Blank lines
  // are skipped. Returns the number of restrictions added (Count after minus
  // Count before).
  int32_t TurnImportTxt(int32_t index, const std::string& filename);

  // Checked adds; no turn-index check. A sequence holding a link of length 0
  // is dropped, as is a prohibition (value exactly -1) the one-way codes
  // already imply and a sequence whose consecutive links do not meet.
  void AddTurnChecked(int32_t index, int32_t link1, int32_t link2, float value);
  // Raises CheckLinkRange's error for an id outside 1..LinkCount first.
  void AddTurnListChecked(int32_t index, const TTurnRestriction& restriction);
  bool LinksShareNode(int32_t link1, int32_t link2) const;
  // Driving link1 then link2 through their shared node is impossible by the
  // one-way codes 1 and 2 (links joining the same two nodes never are).
  bool TurnBlockedByOneWay(int32_t link1, int32_t link2) const;

  // The eight factors cTJunction .. cSlow, in that order; no checks.
  void TurnAutoProcessParams(double TJunction, double TJunctionCrossing, double Normal, double NormalCrossingTurn,
                             double NormalCrossingStraight, double Fast, double Straight, double Slow);
  // Turn costs at every junction of degree 3 and 4 from its geometry, the
  // road-class weights of RCTC and the factors; onTurnT / onTurn decide a
  // junction instead when assigned. RCTC may be null only when both
  // callbacks are assigned, SkipNodes (a set bit leaves its node alone) must
  // hold NodeCount + 1 bits when given; both raise EInvalidParameter before
  // anything is added.
  void TurnAutoProcess(int32_t index, bool LeftHandTraffic, const TRoadClassTurnCost* RCTC,
                       const TBitArray* SkipNodes);
  // Only straight-across movements stay at node (even degree >= 4).
  void TurnStandard(int32_t index, int32_t node);
  void TurnMandatory(int32_t index, int32_t link1, int32_t link2);
  // No argument checks; ignore_error skips parallel and unconnected pairs.
  void TurnMandatory_raw(int32_t index, int32_t link1, int32_t link2, bool ignore_error);
  // One polyline per restriction, drawn through the junction.
  void TurnExportGIS(int32_t index, const std::string& filename, TGISFormat GF);
  // Entries 1..degree: the node's adjacency slots by increasing leaving
  // angle (counter-clockwise from north), equal angles in slot order. No checks.
  TIntegerArray SortLinksByAngle(int32_t node) const;
  // The angle at which the link in adjacency slot `slot` leaves node; only
  // its order means something. No checks.
  double LinkLeavingAngle(int32_t node, int32_t slot) const;

  // Scratch buffers of the restriction drawing, reused from record to record.
  struct TRestrictionDrawing {
    TFloatPointArrayEx Poly;
    TFloatPointArrayEx Part;
    TFloatPoint Last{};
  };
  // One record of a restriction layer: the restriction's links drawn from the
  // middle of the first link, ten metres (at most a quarter of a link) short
  // of each junction and past it, to the middle of the last; a restriction
  // holding a link of length 0 becomes a record without geometry. Links
  // must lie in 1..LinkCount and be at least two.
  void WriteRestrictionObject(TGISWriter& W, std::span<const int32_t> links, const std::string& Attrib,
                              TRestrictionDrawing& D) const;

 private:
  // TurnStandard after its checks.
  void TurnStandardCore(int32_t index, int32_t node);
  // A link in an adjacency slot (1-based) as its absolute id.
  int32_t SlotLink(int32_t node, int32_t slot) const { return std::abs(Adjacent(node)[size_t(slot) - 1]); }
  bool HasZeroLength(std::span<const int32_t> links) const;
  // LinkLeavingAngle and SortLinksByAngle on the caller's buffers.
  double LeavingAngle(int32_t node, int32_t link, TFloatPointArrayEx& poly) const;
  void SortSlotsByAngle(int32_t node, TIntegerArray& order, TDoubleArray& angle, TFloatPointArrayEx& poly) const;

 public:
  // === End of turn sets ========================================================

  // === Link, node and list exports (kovra_network_export.cpp) and the
  // restriction table (kovra_network_restrictions.cpp) =========================
  // Every check raises before a file is created; each layer ends through
  // WriteOutput (the in-memory table and GeoJSON text handed over).

  // Every valid link selected by BA (null: all; else at least LinkCount + 1
  // bits), split at the split points of LL and extended to its end points
  // (percent -2: from-end, -1: to-end). LL may be null; an unsorted list is
  // walked in sorted order (the caller's list is left alone); items on links
  // that are not written are passed over. Every item must name a link
  // 1..LinkCount and have a percent of -2, -1 or 0..1. Raises "Full network
  // could not be exported (2 GB limit reached)" after a full file is closed.
  void ExportLinks(const std::string& filename, TGISFormat GF, const TLocationList* LL, const TBitArray* BA);
  // Every segment of every valid link selected by BA; segments of two equal
  // points are skipped.
  void ExportLinksFullSplit(const std::string& filename, TGISFormat GF, const TBitArray* BA);
  // Every node with a symbol by its degree.
  void ExportNodes(const std::string& filename, TGISFormat GF);
  // Each item at its stored point.
  void ExportLocationList(const std::string& filename, TGISFormat GF, const TLocationList& LL);
  // Each entry must be a node id (checked first); an empty list writes an
  // empty layer.
  void ExportNodeList(const std::string& filename, TGISFormat GF, const TIntegerList& NL);
  // Two point layers, filename + "_StartPoints" and filename +
  // "_CoordCostSite"; gfArray and gfGeoJSON are refused.
  void ExportPolyGeneration(const std::string& filename, TGISFormat GF, const TPolyGeneration& Poly);
  // One line per item, or its origin and destination as two points.
  void ExportTrafficList(const std::string& filename, TGISFormat GF, const TTrafficList& TL, bool lines);
  // One table of turn restrictions of set TurnIndex (two links: a line
  // between their midpoints; three to six: drawn through the junctions; a
  // link of length 0: a record without geometry and coordinates 0), one-way
  // links, links with a limit in slots 1..4 and closed links.
  void ExportXQDRestrictions(const std::string& filename, TGISFormat GF, int32_t TurnIndex, const TMIPen& PenOneWayF,
                             const TMIPen& PenOneWayR, const TMIPen& PenTurn);

 private:
  // The columns both link exports end with: external id, limits, road names.
  int32_t LinkTailFieldCount() const;
  void AddLinkTailFields(TGISWriter& W) const;
  void AppendLinkTail(std::string& s, int32_t link) const;
  void CheckLinkSelection(const TBitArray* BA) const;

 public:
  // === End of exports ===========================================================

  // === Value columns: attribute words written back, limit slots, time and
  // cost columns, lower-bound factors (kovra_network_columns.cpp), and their
  // exchange with DBF tables (kovra_network_dbf.cpp) ===========================
  // Files are replaced through "<name>.tmp" beside them, renamed on success,
  // so a failed save leaves the old file as it was. Every check raises before
  // anything changes.

  // Changes with every change of a time, cost or limit column (also through
  // the _raw stores): routing refuses caches computed under another value.
  uint64_t ColumnVersion() const { return fColumnVersion; }

  // Writes the attribute words to "attribute.bin" in Directory, enciphered
  // with EncryptionKey, in the layout Open reads.
  void AttributeSave();

  // Slot LimitID (1..9) := "limit<FileNumber>.bin" (one byte per link). The
  // slot, its flag, its file number and the usable-slot count change together,
  // and only after the whole file was read.
  void OpenLimit(int32_t FileNumber, int32_t LimitID, bool bitpattern);
  // Writes slot LimitID to "limit<FileNumber>.bin"; an empty slot raises
  // "Invalid limitID" before any file is touched.
  void SaveLimit(int32_t FileNumber, int32_t LimitID);
  // limitID must be a usable slot (1..LimitSlots()); bits 8 and above read as
  // clear and are not stored.
  uint8_t GetLimit(int32_t limitID, int32_t link) const;
  bool GetLimitBit(int32_t limitID, int32_t link, uint8_t bit) const;
  // The number of the limit file last loaded into slot 1..9 (0 when none).
  uint8_t LimitFileNumber(int32_t slot) const { return XQDindex[size_t(slot) - 1]; }
  void SetLimit(int32_t limitID, int32_t link, uint8_t value);
  void SetLimitBit(int32_t limitID, int32_t link, uint8_t bit, bool value);
  // The selections size BA to LinkCount + 1 and only set bits of valid links.
  void SelectLimit(TBitArray& BA, int32_t LimitID, uint8_t limit_min, uint8_t limit_max) const;
  void SelectLinksWithLimits(TBitArray& BA, bool includeoneway) const;
  // bitn > 1: no condition on bit n; RoadNameID is compared when both it and
  // RoadFileID are non-zero.
  void Select(TBitArray& BA, int32_t roadclass_min, int32_t roadclass_max, int32_t hierarchy_min,
              int32_t hierarchy_max, int32_t RoadFileID, int32_t RoadNameID, uint8_t bit8, uint8_t bit9,
              uint8_t bit10, uint8_t bit11, uint8_t bit12, uint8_t bit13, uint8_t bit14, uint8_t bit15) const;
  // Bit 15 of every link's word; nothing on a closed network.
  void SkipLinks2BitArray(TBitArray& BA) const;

  // Time columns in minutes, cost columns in the caller's units; column i is
  // Times()[i], links 1..LinkCount. New columns start as the lengths.
  void CreateArrayTime(int32_t n);
  void CreateArrayCost(int32_t n);
  // time := length / speed of the link's road class * 60 for every link; a
  // used class of speed <= 0 raises before anything changes.
  void CalculateTime(int32_t index, const TRoadClassSpeed& RCS);
  // Weighted length and time (time at least length at maxspeed when it is
  // not 0), computed in double, stored as Single.
  void CalculateCost(int32_t costindex, float weightlength, float weighttime, int32_t timeindex, double maxspeed);
  void SetTime(int32_t index, int32_t link, float time);
  void SetSpeed(int32_t index, int32_t link, float speed);
  void SetCost(int32_t index, int32_t link, float cost);
  // No checks: the calculators' fast paths.
  float GetTime(int32_t index, int32_t link) const { return FTime[size_t(index)][size_t(link)]; }
  float GetSpeed(int32_t index, int32_t link) const {
    return float(double(FLength[size_t(link)]) / double(FTime[size_t(index)][size_t(link)]) * 60.0);
  }
  // Recomputes the flagged lower-bound factors so that crow-fly km x factor
  // <= every time (cost) of a valid link; a value <= 0 on a link of non-zero
  // crow-fly length makes the factor 0, which switches the bound off.
  void UpdateAlphas();
  // The factor UpdateAlphas would store for the time (time true) or the
  // cost columns as they are now, without storing it: what a search on a
  // network shared with others computes instead of writing it.
  float ComputeAlpha(bool time) const;
  // Stores without checks; a value smaller than the one it replaces flags the
  // factor for UpdateAlphas.
  void SetTime_raw(int32_t index, int32_t link, float time) {
    float& v = FTime[size_t(index)][size_t(link)];
    if (time < v) FTimeAlphaUpdateNeeded = true;
    v = time;
    ++fColumnVersion;
  }
  void SetSpeed_raw(int32_t index, int32_t link, float speed) { SetTime_raw(index, link, TimeAtSpeed(link, speed)); }
  void SetCost_raw(int32_t index, int32_t link, float cost) {
    float& v = FCost[size_t(index)][size_t(link)];
    if (cost < v) FCostAlphaUpdateNeeded = true;
    v = cost;
    ++fColumnVersion;
  }
  bool TimeAlphaUpdateNeeded() const { return FTimeAlphaUpdateNeeded; }
  bool CostAlphaUpdateNeeded() const { return FCostAlphaUpdateNeeded; }

  // Columns from a DBF table whose record n belongs to link n: the field
  // fieldname, or fieldindex (0-based) when the name is empty. Values <= 0
  // and links of length 0 leave the column as it was. The whole field is read
  // before the column changes.
  void ReadCost(int32_t index, const std::string& filename, int32_t fieldindex, const std::string& fieldname);
  void ReadTime(int32_t index, const std::string& filename, int32_t fieldindex, const std::string& fieldname);
  // Speeds in km/h, or mph when mph is set.
  void ReadSpeed(int32_t index, const std::string& filename, int32_t fieldindex, const std::string& fieldname,
                 bool mph);
  // Writes the speed of every valid link into its record, in place, once
  // every value was found to fit the field: only an I/O error can stop it
  // half-way.
  void SaveSpeed(int32_t index, const std::string& filename, int32_t fieldindex, const std::string& fieldname) const;
  // Whole columns of any DBF or MapInfo native table (integer, small integer,
  // decimal, float or logical fields), record r <-> entry r.
  void Read3(const std::string& filename, int32_t fieldindex, const std::string& fieldname, TBitArray& value) const;
  void Write1(const std::string& filename, int32_t fieldindex, const std::string& fieldname,
              const TIntegerArray& value) const;
  void Write2(const std::string& filename, int32_t fieldindex, const std::string& fieldname,
              const TCostArray& value) const;
  void Write3(const std::string& filename, int32_t fieldindex, const std::string& fieldname,
              const TBitArray& value) const;
  // The listed records (1..RecordCount; others are skipped) become true; with
  // reset every other record becomes false.
  void Write4(const std::string& filename, int32_t fieldindex, const std::string& fieldname,
              const TIntegerList& value, bool reset) const;

private:
  float TimeAtSpeed(int32_t link, float speed) const {
    return float(double(FLength[size_t(link)]) / double(speed) * 60.0);
  }
  void CheckLimitID(int32_t limitID) const;
  std::string LimitFileName(int32_t FileNumber) const;
  void ColumnChanged() { ++fColumnVersion; }
  // The longest link in km, found once per opening.
  float LongestLink() const;
  uint64_t fColumnVersion = 0;
  mutable float fLongest = 0;
  mutable uint64_t fLongestGeneration = ~uint64_t(0);

public:
  // === End of value columns ===================================================

private:
  // Open's steps (kovra_network_open.cpp).
  struct TLoadContext;
  void ReadSettings();
  void UpdateSearchWindow();
  void LoadLengths(TLoadContext& C);
  void LoadLinks(TLoadContext& C);
  void LoadCoords(TLoadContext& C);
  void LoadNodes(TLoadContext& C);
  void LoadSpatialIndex();
  void OpenExternalIDs(int32_t externalid);
  void OpenCoord3(bool Coord3Cache);
  void ComputeLengthAlpha();
  // The factors of the asked kinds in one pass over the links.
  void ComputeAlphas(bool doTime, bool doCost, float& time, float& cost) const;
  void MarkCulDeSacs(TBitArray& B) const;
  void LoadAttributes(TWordArray& Words);
  void CheckFileExists(const std::string& Name) const;
  // Releases everything Open loads; bumps the open generation.
  void Release();

  std::span<int32_t> AdjacentSlots(int32_t node) {
    const int32_t d = FDegree[size_t(node)];
    return {FAdjacency.data() + (FGroupBase[size_t(d)] + int64_t(node) * d), size_t(d)};
  }
  // Re-signs every entry of link at its two ends by bits 9 and 10.
  void UpdateNodeArraySigns(int32_t link);
  // Re-signs the whole adjacency.
  void UpdateAllNodeArraySigns();
  void AttributeChanged() { ++fAttributeVersion; }
  // Rebuilds the areas; absorbed dead ends get bit 8 in memory.
  void BuildAreas();
  const TRoadNameFile& RoadNameFileChecked(int32_t RoadFileID) const;

  TGetConfigEvent fOnConfig;
  TCoordinateUnit FCoordinateUnit = cuUnknown;
  int32_t Fepsg = 0;
  std::string Fprj;
  std::string Fcoordsys;
  uint16_t FCodepage = 0;
  TWordArray Fattribute;
  bool FTimeAlphaUpdateNeeded = false;
  bool FCostAlphaUpdateNeeded = false;
  bool FAllowNegativeCost = false;
  int32_t Fmaxdegree = 0;
  std::shared_ptr<TExternalID> FexternalID;  // shared with clones
  double FCoordinateWindow = 20;
  TFloatRect Fmbr;
  TFloatRect FmbrX;
  TTurnEvent eTurn;
  TTurnTEvent eTurnT;
  bool FcompactMIF = false;
  bool fLoopLinks = false;
  std::unique_ptr<TGISArray> FGISarray;
  std::string FGeoJSON;
  std::unique_ptr<TCoord3File> FCoord3file;
  std::array<std::unique_ptr<TRoadNameFile>, cMaxRoadNameFiles + 1> FRoadNameFiles;  // slots 1..99
  double FDistfactor = 0;
  TIntegerArray a;  // degree table, 0..MaxDegree + 1
  TBitArray FCDS;
  TCostArray FLength;
  TAreaList FAreaList;
  std::vector<int32_t> FDuplicates;  // per link, 0 = no pair; empty until searched
  uint8_t FlimitX = 0;
  float FLengthAlpha = 0;
  float FTimeAlpha = 0;
  float FCostAlpha = 0;
  std::array<std::vector<uint8_t>, cLimitSlots> FlimitA;  // slot k is FlimitA[k - 1]
  std::array<bool, cLimitSlots> FlimitBP{};
  std::array<uint8_t, cLimitSlots> XQDindex{};
  int32_t FLinkCount = 0;
  TIntegerArray FAdjacency;          // every node's slots, node.bin order
  std::vector<uint8_t> FDegree;      // per node, 0..255
  std::vector<int64_t> FGroupBase;   // per degree 0..MaxDegree: slot 1 of node n is FGroupBase[d] + n * d
  int32_t FNodeCount = 0;
  std::unique_ptr<TQuadTree> FQuadtree;
  TIntegerArray Fromnode;
  TIntegerArray tonode;
  TMatrix FTime;
  TMatrix FCost;
  std::vector<std::unique_ptr<TTurnRestrictions>> FTurnList;
  TDoubleArray FX;
  TDoubleArray FY;
  TKvStream* fSpatialIndexStream = nullptr;
  TKvStream* fExternalIDIndex2Stream = nullptr;
  TKvStream* fExternalIDIndex1Stream = nullptr;
  TKvStream* fLengthStream = nullptr;
  TKvStream* fLinkStream = nullptr;
  TKvStream* fCoordStream = nullptr;
  TKvStream* fNodeStream = nullptr;
  TKvStream* fAttributeStream = nullptr;
  TKvStream* fCoord3Stream = nullptr;
  TKvStream* fCoord3iStream = nullptr;
  TObject* fTag = nullptr;

  uint64_t fOpenGeneration = 0;
  uint64_t fAttributeVersion = 0;

  // The search graph and the opening and attribute version it was built
  // for; shared with a clone made while it is current.
  mutable std::mutex fSearchGraphLock;
  mutable std::shared_ptr<const TSearchGraph> fSearchGraph;
  mutable uint64_t fSearchGraphOpen = 0, fSearchGraphAttributes = 0;
};

}  // namespace kovra
