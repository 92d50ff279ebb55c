// TSpatialSearch: geometric questions about an open network, answered through
// its quadtree spatial index: the nearest node, the nearest point on a link
// (a location with its foot point), the nearest vertex, the nodes or links
// within a radius or a rectangle, and the GPS match candidates near a fix.
//
//   TSpatialSearch s(net);          // borrows net, which must outlive it
//   s.SetSkipLinks(&closed);        // optional, borrowed
//   TLocation loc = s.NearestLocationSimple({x, y});
//   TIntegerList near;
//   s.SelectLinksList({x, y}, 0.5, near);   // radius in km
//
// Coordinates are in the network's unit; every radius and distance of the
// interface is in km. For the angular units distances are great-circle.
//
// Threads: an object serves one query at a time (it owns work buffers); any
// number of objects may query one network at once, since the network's
// polyline reads are positional and its index is read-only.
//
// Rules callers may rely on:
//  - Every query first needs an open network ("Network is not open") with
//    its spatial index ("Spatial index need to be open"), then checks its
//    point with TNetwork::CheckCoordinate (NaN and infinities are refused in
//    every unit), then that SkipLinks and SkipNodes, when given, hold at
//    least LinkCount + 1 and NodeCount + 1 bits (EInvalidParameter "Bit array
//    must hold at least %d bits"). A query that raises changes nothing.
//  - The nearest searches always end. When no node or link can qualify
//    (every one skipped) they raise "<query>: no node can be found" or
//    "<query>: no link can be found".
//  - A negative or NaN radius selects nothing.
//  - The search box of an angular unit is widened in longitude by the cosine
//    of the box's latitude farthest from the equator, so that it holds the
//    whole circle of the radius on both hemispheres; a box that reaches a
//    pole spans the unit's whole longitude range. The box never wraps the
//    antimeridian: a network across it is searched on one side only.
//  - A segment is searched in the leaves its straight line in network
//    coordinates passes; on the sphere its great-circle arc bulges off that
//    line by a negligible amount for road segments, so a point nearest to the
//    bulge of a very long segment may be measured against its neighbours.
//  - NearestLocation's percent is a fraction of the polyline measured from
//    its vertices; TNetwork::Location2Coordinate measures against the stored
//    Single length, so a round trip differs by about 1e-7 of the link.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "foundation/kovra_bitarray.h"
#include "foundation/kovra_integerlist.h"
#include "foundation/kovra_progress.h"
#include "foundation/kovra_types.h"
#include "giswriter/kovra_giswriter.h"
#include "network/kovra_gpsmatch.h"
#include "network/kovra_locationlist.h"

namespace kovra {

class TCalc;
class TNetwork;
class TQuadTree;
class TQuadTreeCell;
struct TSearchCore;
struct TCheckCore;
struct TSpatialSearchTestAccess;

inline constexpr const char* cMsgNoNodeFound = "%s: no node can be found";
inline constexpr const char* cMsgNoLinkFound = "%s: no link can be found";
inline constexpr const char* cMsgBearingNotFinite = "NearestLink: Bearing must be a finite number (is %s)";

// Makes TNetwork::NearestNodeFinder answer with TSpatialSearch::NearestNode
// (the type 2 records of a turn-restriction text file). Runs when this module
// is linked; a program that never names TSpatialSearch calls it itself.
void RegisterSpatialSearch();

class TSpatialSearch : public TProgressCancel {
public:
  // Borrows NW; the network need not be open yet.
  explicit TSpatialSearch(TNetwork& NW);
  ~TSpatialSearch() override;
  TSpatialSearch(const TSpatialSearch&) = delete;
  TSpatialSearch& operator=(const TSpatialSearch&) = delete;

  // The radius selections select by box (a vertex or node inside the search
  // box) instead of by distance.
  bool MBRselect() const { return fMBRselect; }
  void SetMBRselect(bool value) { fMBRselect = value; }
  // A link (node) whose bit is set is never returned or selected; borrowed.
  TBitArray* SkipLinks() const { return FSkipLinks; }
  void SetSkipLinks(TBitArray* value) { FSkipLinks = value; }
  TBitArray* SkipNodes() const { return FSkipNodes; }
  void SetSkipNodes(TBitArray* value) { FSkipNodes = value; }
  // The rows and text of the last network-check output.
  TGISArray& GISarray() const { return *FGISarray; }
  const std::string& GeoJSON() const { return FGeoJSON; }

  // --- Nearest queries ------------------------------------------------------

  // The nearest node not in SkipNodes; distance in km. On equal distances
  // the node met first in the walk (children NE, NW, SW, SE) wins.
  void NearestNode(const TFloatPoint& P, int32_t& node, double& distance);
  int32_t NearestNodeSimple(const TFloatPoint& P);
  // The nearest point on a link not in SkipLinks: its location, the side of P
  // (-1 left, +1 right of the digitised direction; +1 on the line), the
  // distance in km and the foot point Pnew.
  void NearestLocation(const TFloatPoint& P, TLocation& Loc, int32_t& side, double& distance, TFloatPoint& Pnew);
  TLocation NearestLocationSimple(const TFloatPoint& P);
  // Every item's location := NearestLocationSimple(item.P). All items are
  // computed before any is written, so a failing item leaves the list as it
  // was. An empty list is left alone without any check.
  void NearestLocationSimpleList(TLocationList& LL);
  // The nearest polyline vertex (end nodes included): its link, its 0-based
  // index in that link's polyline, distance in km; the nearest link's vertices
  // first, then the other links in ascending order, the first at the
  // smallest distance winning.
  void NearestVertex(const TFloatPoint& P, int32_t& link, int32_t& index, double& distance);

  // --- Selections -----------------------------------------------------------

  // Links within Radius km of P (a segment strictly nearer), or with a vertex
  // in the search box when MBRselect; each link once. List (ascending) and BA
  // (LinkCount + 1 bits) are replaced when given; either may be null.
  void SelectLinks(const TFloatPoint& P, double Radius, TIntegerList* List, TBitArray* BA);
  void SelectLinksArray(const TFloatPoint& P, double Radius, TBitArray& BA);
  void SelectLinksList(const TFloatPoint& P, double Radius, TIntegerList& List);
  // Nodes strictly within Radius km of P, or inside the search box when
  // MBRselect. List (ascending) and BA (NodeCount + 1 bits) are replaced when
  // given; either may be null.
  void SelectNodes(const TFloatPoint& P, double Radius, TIntegerList* List, TBitArray* BA);
  void SelectNodesList(const TFloatPoint& P, double Radius, TIntegerList& List);
  void SelectNodesArray(const TFloatPoint& P, double Radius, TBitArray& BA);

  // --- GPS match candidates -------------------------------------------------

  // Two candidates per link with a segment strictly within SearchRadius km of
  // P, one for each travel direction, each at the segment within the radius
  // whose direction best matches Bearing (compass degrees, clockwise from
  // north; reduced modulo 360). Links closed both ways give none. Sorted:
  // allowed directions first, then by Distance * 1000 + DifBearing. An empty
  // list when nothing is near; EInvalidParameter for a Bearing that is not a
  // finite number.
  std::unique_ptr<TGPSMatchList> NearestLink(const TFloatPoint& P, double Bearing, double SearchRadius);

  // --- Geometric network checks (kovra_spatialsearch_checks.cpp) -----------
  // The layer checks write through TNetwork::WriteOutputTo into GISarray
  // (gfArray) or files named filename (GeoJSON text kept for gfGeoJSON) and
  // return the lines written; no findings (a Radius <= 0 or NaN finds none)
  // leave no file, and a failure mid-run drops the partial layer. None of the
  // four looks at the cancel flag.

  // Unordered pairs of nodes strictly within Radius km of each other that no
  // link joins, one line from the lower id; honours SkipNodes and MBRselect.
  int32_t FindNonConnectedNodes(const std::string& filename, TGISFormat GF, double Radius);
  // Per node, links strictly within Radius km that neither end at it nor
  // touch a neighbour of it: a line to the link's nearest point. A node's
  // search leaves a leaf at its first finding, so which links of a leaf are
  // reported depends on run order. Ignores SkipLinks.
  int32_t FindNonConnected(const std::string& filename, TGISFormat GF, double Radius);
  // Appends two items (link1, link2 at the crossing point X) per pair of
  // links whose polylines cross away from their end vertices without
  // sharing an end node; then LL.RemoveDuplicates and RemoveStartEndPos
  // (items LL held before included). Zero-length and parallel segments
  // (|cross| below 1e-10 x the product of their lengths) cross nothing
  // unless collinear.
  void FindOverpasses(TLocationList& LL);
  // Nodes of degree 1 or 2 within Radius km of a link that neither they nor
  // their neighbours touch, snapped to that link's nearest point away from
  // its ends: appends the location with the foot point, and per own link
  // (link, -2) when the node is its from-node, (link, -1) when its to-node.
  // Returns the nodes snapped. A node with no link left to snap to is skipped.
  int32_t SplitAndSnap(double Radius, TLocationList& LL);

private:
  friend class TCalc;
  friend struct TSearchCore;  // the per-unit loops (kovra_spatialsearch.cpp)
  friend struct TSpatialSearchTestAccess;  // the tests reach the rectangle selections
  friend struct TCheckCore;   // the network checks (kovra_spatialsearch_checks.cpp)

  // Links with a vertex inside Rect (bounds inclusive), not in SkipLinks,
  // ascending. No coordinate check.
  void SelectLinksInRect(const TFloatRect& Rect, TIntegerList& List);
  // Nodes inside Rect, SkipNodes not consulted, in leaf order.
  void SelectNodesInRect(const TFloatRect& Rect, TIntegerList& List);

  // The guard of every query: open network, spatial index.
  void CheckSpatialIndex() const;
  void CheckSkipLinks() const;
  void CheckSkipNodes() const;
  // The box around P of radius r (unit measure; radians for angular units).
  TFloatRect SearchBox(const TFloatPoint& P, double r) const;

  // The searches behind the public forms, without the checks: false when no
  // node (link) can qualify.
  bool NearestNode_raw(const TFloatPoint& P, int32_t& node, double& best);
  bool NearestLocation_raw(const TFloatPoint& P, TLocation& Loc, int32_t& side, double& distance,
                           TFloatPoint& Pnew);
  // The nearest link's search alone: link, 1-based segment, distance in the
  // unit's measure.
  bool NearestSegment_raw(const TFloatPoint& P, int32_t& link, int32_t& segment, double& best);
  // Fills fSel with the selected links (nodes), unsorted.
  void SelectLinks_raw(const TFloatPoint& P, double r);
  void SelectNodes_raw(const TFloatPoint& P, double r);
  // Starts a nearest search's visited set.
  void NewVisit();
  // Reads link's polyline into list1 unless it is there from this query.
  void ReadLink1(int32_t link);
  // Looks up the network's vertex cache for the query about to run.
  void BeginPolylines();

  TFloatPointArrayEx list1;
  TFloatPointArrayEx list2;
  std::unique_ptr<TGISArray> FGISarray;
  std::string FGeoJSON;
  bool fMBRselect = false;
  TNetwork* FNW;
  std::unique_ptr<TBitArray> FBA;  // include-links filter of NearestLocation, only while SplitAndSnap runs
  TBitArray* FSkipLinks = nullptr;
  TBitArray* FSkipNodes = nullptr;

  // Work state, kept between queries only to avoid allocations.
  int32_t fList1Link = 0;              // the link in list1, 0 when unknown
  const int32_t* fCacheFirst = nullptr;       // the network's vertex cache, while a query runs
  const TFloatPoint* fCachePoints = nullptr;
  int32_t fCacheLinks = 0;
  std::vector<uint32_t> fCellStamp;    // per cell ID: the visit that scanned it
  uint32_t fVisit = 0;
  std::vector<int32_t> fSel;           // selection result before it is handed out
  struct TSegEntry {
    TFloatPoint A, B;
    double Lower;  // a lower bound of the segment's distance
    int32_t Link, Index;
  };
  std::vector<TSegEntry> fSegs;        // a leaf's segments waiting to be measured
  std::vector<uint64_t> fLinkMark;     // links selected by the running query; all clear between queries
  std::vector<std::pair<int32_t, int32_t>> fVertexTies;  // nearest vertices found so far: link, index
};

}  // namespace kovra
