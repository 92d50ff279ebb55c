// The z-level tree and the reader of its input file.
#include "network/kovra_fromtonode.h"

#include <exception>
#include <filesystem>

#include "foundation/kovra_csvfiles.h"
#include "foundation/kovra_functions.h"

namespace kovra {

int32_t TFromToNodeTree::Compare(const TFromToNode& a, const TFromToNode& b) {
  if (a.IntNode != b.IntNode) return a.IntNode < b.IntNode ? -1 : 1;
  if (a.ExtNode != b.ExtNode) return a.ExtNode < b.ExtNode ? -1 : 1;
  return 0;
}

void TFromToNodeTree::Add(int32_t IntNode, int32_t ExtNode) {
  if (!IndexedNodes.try_emplace(ExtNode, 0).second) return;
  TBalancedTree::Add(TFromToNode{IntNode, ExtNode, 0});
}

template <typename F>
void TFromToNodeTree::InOrder(F&& Visit) {
  // An AVL tree of n nodes is at most 1.45 log2(n) deep: a small explicit stack.
  std::vector<int32_t> stack;
  int32_t p = fRoot;
  while (p != 0 || !stack.empty()) {
    while (p != 0) {
      stack.push_back(p);
      p = fNodeArray.Item(p).left;
    }
    p = stack.back();
    stack.pop_back();
    Visit(p, fNodeArray.Item(p).key);
    p = fNodeArray.Item(p).right;
  }
}

void TFromToNodeTree::CreateZ() {
  TFromToNode* previous = nullptr;
  int32_t counter = 1;
  InOrder([&](int32_t, TFromToNode& node) {
    if (previous == nullptr || previous->IntNode != node.IntNode) {
      counter = 1;
    } else {
      if (previous->ZLevel == 0) previous->ZLevel = TZLevel(counter++);
      // A level past 9 is one no z-level field takes.
      if (counter > cMaxZLevel) throw EOutOfRange(Format(cMsgTooManyExternalNodeIds, node.IntNode));
      node.ZLevel = TZLevel(counter++);
    }
    previous = &node;  // nodes never move in the store
  });
  // The map holds exactly the tree's ids: the indexes go in place, without
  // emptying and refilling it.
  InOrder([&](int32_t index, TFromToNode& node) { IndexedNodes[node.ExtNode] = index; });
}

TZLevel TFromToNodeTree::GetZ(int32_t ExtNode) const {
  const auto it = IndexedNodes.find(ExtNode);
  if (it == IndexedNodes.end() || it->second == 0) return 0;
  return fNodeArray.Item(it->second).key.ZLevel;
}

void ReadExternalNodeIds(const std::string& InputFile, int32_t LinkCount, std::vector<TExternalNodeIds>& Ids) {
  std::error_code ec;
  if (!std::filesystem::exists(InputFile, ec)) throw Exception(cMsgZLevelInputMissing);
  TCSVFiles csv(1252);
  csv.Add(InputFile);
  csv.Open();
  std::vector<TExternalNodeIds> ids(size_t(LinkCount < 0 ? 0 : LinkCount) + 1);
  std::vector<std::string> fields;
  // The line count decides first: a file of the wrong length is refused as
  // such even when one of its lines is bad too. The first bad line waits.
  std::exception_ptr firstError;
  int64_t lines = 0;
  while (!csv.Eof()) {
    ++lines;
    if (lines > LinkCount) throw Exception(cMsgZLevelLineCount);
    csv.ReadLine(fields);
    if (firstError) continue;
    try {
      if (fields.size() < 2) throw Exception(cMsgZLevelFields);
      TExternalNodeIds& e = ids[size_t(lines)];
      e.FromId = StrToInt(fields[0]);
      e.ToId = StrToInt(fields[1]);
    } catch (const Exception&) {
      firstError = std::current_exception();
    }
  }
  if (lines != LinkCount) throw Exception(cMsgZLevelLineCount);
  if (firstError) std::rethrow_exception(firstError);
  Ids = std::move(ids);
}

}  // namespace kovra
