// TStringTree: the distinct road names of one attribute in collation order
// (CompareRoadNames, case-sensitive), numbered, written as the name file of a
// road-name pair and, name by name, as its number file.
//
// A hash map from the exact text to its tree node sits in front of the tree:
// a name seen before is counted without reaching the collator, so only new
// names pay for a collation walk. Since the collation calls only identical
// texts equal, the map and the tree always agree.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "foundation/kovra_basetree.h"
#include "foundation/kovra_io.h"
#include "foundation/kovra_types.h"

namespace kovra {

inline constexpr const char* cMsgRoadNameFileTooLarge = "Road-name file would exceed 2 GB (%d names of %d bytes)";
inline constexpr const char* cMsgRoadNameNotInFirstPass = "Road name not found in first pass: %s";

class TStringTree : public TBalancedTree<std::u16string> {
public:
  TStringTree() : TBalancedTree(cBlockShift) {}

  // Counts aItem once more, or inserts it; keeps the longest length.
  void Add(const std::u16string& aItem) override;
  // CompareRoadNames(a, b, false).
  int32_t Compare(const std::u16string& a, const std::u16string& b) override;

  // Length in UTF-16 code units of the longest name added; 0 for a new tree.
  int32_t MaxLength() const { return fMaxLength; }
  // Number of distinct names.
  int32_t NameCount() const { return NodeCount(); }

  // The name file: every name in order, as UTF-16LE code units followed by
  // zero bytes up to 2 x MaxLength bytes. CreateID must have run. Raises
  // EOutOfRange "Road-name file would exceed 2 GB (%d names of %d bytes)"
  // before writing anything when the file would reach 2^31 bytes.
  void Write(TKvStream& outdata);
  // One value of the number file: the id + 1 of AKey as an Int32. A name that
  // was never added raises EInvalidParameter "Road name not found in first
  // pass: %s" (the input changed between the passes).
  void WriteKeyID(TKvStream& AOutData, std::u16string_view AKey);

private:
  // Nodes of 4096 names a block: a block of strings is built whole.
  static constexpr uint8_t cBlockShift = 12;

  void WriteInOrder(TKvStream& outdata, int32_t p, const std::u16string& zeros);

  int32_t fMaxLength = 0;
  // Views into the keys of the tree's nodes, which never move.
  std::unordered_map<std::u16string_view, int32_t> fNodeOfName;
};

}  // namespace kovra
