// Z-levels from external node ids: ends of crossing roads that an import
// merged into one node by their coordinates get apart again through z-levels.
#include "foundation/kovra_functions.h"
#include "giswriter/kovra_giswriter.h"
#include "network/kovra_fromtonode.h"
#include "network/kovra_network.h"

namespace kovra {

void TNetwork::ExternalNodeId2ZLevels(const std::string& InputFile, const std::string& OutputFile, TGISFormat GF) {
  // Close keeps the link count but frees the node arrays read below.
  CheckOpen();
  // Each line's ids are read once: the numbering and the table both use them,
  // and no output exists before the whole input passed.
  std::vector<TExternalNodeIds> ids;
  ReadExternalNodeIds(InputFile, FLinkCount, ids);

  TFromToNodeTree tree;
  SetProgressMaxValue(FLinkCount);
  SetProgressStart(0);
  SetProgressStop(100);
  for (int32_t link = 1; link <= FLinkCount; ++link) {
    // A rejected object joins no nodes: its ids would all meet at node 0.
    if (FLength[size_t(link)] == 0) continue;
    tree.Add(Fromnode[size_t(link)], ids[size_t(link)].FromId);
    tree.Add(tonode[size_t(link)], ids[size_t(link)].ToId);
    ProgressExecute(link);
  }
  tree.CreateZ();

  WriteOutput(OutputFile, GF, {.DropEmpty = false, .ProgressZero = true}, [&](TGISWriter& w) {
    w.StartHeader(2, otNone);
    w.AddField("ZFrom", gfInteger, 9, 0);
    w.AddField("ZTo", gfInteger, 9, 0);
    std::string text;
    for (int32_t link = 1; link <= FLinkCount; ++link) {
      text = IntToStr(tree.GetZ(ids[size_t(link)].FromId));
      text += ',';
      text += IntToStr(tree.GetZ(ids[size_t(link)].ToId));
      w.AddObject(0, false, text);
      ProgressExecute(link);
    }
  });
}

}  // namespace kovra
