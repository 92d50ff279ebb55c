// The z-level input from arbitrary bytes: the reader fills one id pair per
// link or raises the library's error, and the tree numbers the ids it gets
// as a model says (ids of one node ranked 1..k when k >= 2, an id staying
// with the first node it came with, more than nine at a node refused).
//
// Input: the link count (one byte, 0..15), then the file.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "network/kovra_fromtonode.h"

using namespace kovra;
using namespace kovra::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFuzzInput in(data, size);
  const int32_t links = in.Byte() % 16;
  const std::string path = WriteFuzzFile("zlevels.txt", in.Rest());
  std::vector<TExternalNodeIds> ids = {{1, 2}};
  try {
    ReadExternalNodeIds(path, links, ids);
  } catch (const Exception&) {
    Check(ids.size() == 1 && ids[0].FromId == 1, "a refused input changed the ids");
    return 0;
  }
  Check(ids.size() == size_t(links) + 1, "not one id pair per link");
  Check(ids[0].FromId == 0 && ids[0].ToId == 0, "entry 0 is not empty");

  // Three network nodes, the link's ends spread over them.
  TFromToNodeTree tree;
  std::map<int32_t, int32_t> nodeOf;
  std::map<int32_t, std::set<int32_t>> idsAt;
  auto add = [&](int32_t node, int32_t id) {
    tree.Add(node, id);
    if (nodeOf.try_emplace(id, node).second) idsAt[node].insert(id);
  };
  for (int32_t l = 1; l <= links; ++l) {
    add(1 + l % 3, ids[size_t(l)].FromId);
    add(1 + (l * 2 + 1) % 3, ids[size_t(l)].ToId);
  }
  bool tooMany = false;
  for (const auto& [node, set] : idsAt) tooMany = tooMany || set.size() > 9;
  try {
    tree.CreateZ();
  } catch (const EOutOfRange&) {
    Check(tooMany, "refused a node of nine ids or fewer");
    return 0;
  }
  Check(!tooMany, "numbered more than nine ids at a node");
  for (const auto& [node, set] : idsAt) {
    int32_t rank = 0;
    for (const int32_t id : set) {
      ++rank;
      Check(tree.GetZ(id) == (set.size() > 1 ? rank : 0), "z-level differs from the model");
    }
  }
  return 0;
}
