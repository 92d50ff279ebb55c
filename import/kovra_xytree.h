// TXYTree: merges the end points of the links into nodes and numbers them.
// Two link ends are one node exactly when their coordinates are equal (no
// tolerance; -0.0 equals 0.0). Node ids are grouped by descending degree and
// ascend by (x, y) within a degree; a node keeps the coordinate bits of its
// first end in link order.
//
//   TXYTree t;
//   for each valid link: t.Add(first vertex); t.Add(last vertex);
//   t.CreateID();                 // ETooManyLinksAtNode past 255 ends at a point
//   t.EndNode(k);                 // node id of the k-th end added
//   t.Write(coordStream, key);    // coord.bin
//
// The ends are collected in a flat array and merged by one sort, which keeps
// memory flat and runs far faster than a search tree per end point.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/kovra_io.h"
#include "foundation/kovra_types.h"

namespace kovra {

// The nodes of one degree d after numbering.
struct TLeg {
  int32_t num = 0;       // nodes of degree d
  int32_t last = 0;      // last node id of degree d
  int32_t startpos = 0;  // adjacency slots of all nodes of higher degree
  int32_t iindex = 1;    // while numbering the next id to give; then one past the last
};

inline constexpr const char* cMsgTooManyLinksAtNode = "Too many links at %s, %s";

class TXYTree {
public:
  TXYTree() = default;
  TXYTree(const TXYTree&) = delete;
  TXYTree& operator=(const TXYTree&) = delete;

  void Reserve(int64_t Ends) { fEnds.reserve(size_t(Ends)); }
  // Appends one link end; the ends are numbered 0, 1, 2 ... in this order.
  void Add(const TFloatPoint& aItem);
  int64_t EndCount() const { return fEndCount; }

  // Merges equal points, counts degrees, fills the degree table and numbers
  // the nodes. More than 255 ends at one point raise ETooManyLinksAtNode for
  // the point whose 256th end was added first, with nothing numbered.
  void CreateID();

  // The largest degree (1 before CreateID or without ends).
  int32_t MaxItemCount() const { return fMaxItemCount; }
  int32_t NodeCount() const { return int32_t(fNodes.size()); }
  // The degree table entry of degree index, 1 <= index <= MaxItemCount + 1;
  // EOutOfRange otherwise.
  TLeg GetLeg(int32_t index) const;
  // After CreateID: the node id of end k (0-based, in the order of Add).
  int32_t EndNode(int64_t k) const { return fEndNode[size_t(k)]; }
  // After CreateID: the coordinate of node id (1..NodeCount).
  const TFloatPoint& Node(int32_t id) const { return fNodes[size_t(id) - 1]; }
  // After CreateID: the id of the node at P (exact, -0.0 equal to 0.0), 0 when none.
  int32_t IndexOf(const TFloatPoint& P) const;
  // The end-to-node table is no longer needed.
  void ReleaseEnds();

  // Writes coord.bin: x then y of every node in id order, each Double
  // through a sequential cipher started at startkey's restart key (0 = plain).
  void Write(TKvStream& outdata, int64_t startkey) const;

private:
  struct TEnd {
    double x, y;
    uint32_t end;  // order of Add
  };
  std::vector<TEnd> fEnds;
  int64_t fEndCount = 0;
  std::vector<int32_t> fEndNode;   // per end, its node id
  std::vector<TFloatPoint> fNodes;  // by id - 1
  std::vector<TLeg> fleg;           // 0..MaxItemCount+1
  int32_t fMaxItemCount = 1;
};

}  // namespace kovra
