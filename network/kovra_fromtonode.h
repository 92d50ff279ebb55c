// TFromToNodeTree: numbers the external node ids that end at one network
// node with z-levels 1, 2, 3 ... in ascending id order, so that ends an
// import merged by their coordinates can be kept apart again.
//
// The tree holds one node per distinct external id, ordered by network node
// then external id; a hash map from the external id to its tree node spares
// a tree search on every lookup.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/kovra_basetree.h"
#include "foundation/kovra_types.h"

namespace kovra {

inline constexpr const char* cMsgTooManyExternalNodeIds = "More than 9 external node ids at node %d";
inline constexpr const char* cMsgZLevelInputMissing = "Input file is missing";
inline constexpr const char* cMsgZLevelLineCount = "Invalid number of links in input file";
inline constexpr const char* cMsgZLevelFields = "Invalid fields for Z-levels defined";

struct TFromToNode {
  int32_t IntNode = 0;  // network node id
  int32_t ExtNode = 0;  // external node id
  TZLevel ZLevel = 0;   // 0 until numbered
};

class TFromToNodeTree : public TBalancedTree<TFromToNode> {
public:
  TFromToNodeTree() = default;

  // By IntNode, then ExtNode; ZLevel takes no part.
  int32_t Compare(const TFromToNode& a, const TFromToNode& b) override;
  // An ExtNode seen before is ignored: it stays with the first network node
  // it came with.
  void Add(int32_t IntNode, int32_t ExtNode);
  // Numbers the ids of every network node that more than one id ends at
  // with 1..k in ascending id order; an id alone at its node keeps 0. Raises
  // EOutOfRange "More than 9 external node ids at node %d" when a node has
  // more ids than z-levels exist (nothing is numbered past 9).
  void CreateZ();
  // 0 for an id never added.
  TZLevel GetZ(int32_t ExtNode) const;

private:
  // Visits the nodes in ascending order; the walk's stack is O(log n).
  template <typename F>
  void InOrder(F&& Visit);

  std::unordered_map<int32_t, int32_t> IndexedNodes;  // external id -> store index
};

// The two external node ids of one link's ends.
struct TExternalNodeIds {
  int32_t FromId = 0;
  int32_t ToId = 0;
};
static_assert(sizeof(TExternalNodeIds) == 8);

// Reads the z-level input: a text file in code page 1252, exactly LinkCount
// lines, each starting with the from-node and to-node ids of its link as
// decimal Int32 values. Ids[link] is filled for links 1..LinkCount (Ids[0]
// stays zero). Raises, in this order of precedence: Exception "Input file
// is missing"; Exception "Invalid number of links in input file"; for the
// first bad line, Exception "Invalid fields for Z-levels defined" (fewer
// than two fields) or EConvertError (not an Int32).
void ReadExternalNodeIds(const std::string& InputFile, int32_t LinkCount, std::vector<TExternalNodeIds>& Ids);

}  // namespace kovra
