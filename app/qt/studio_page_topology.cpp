// The "Topology Checks" tab: the checks to run on the open network, with
// their thresholds in metres, beside the run itself.
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "app/qt/studio_main.h"

namespace studio {

namespace {
constexpr int cNumberWidth = 60;
}  // namespace

QWidget* TForm1::BuildTopologyPage() {
  auto* page = new QWidget;
  page->setObjectName("TabTopology");
  auto* row = new QHBoxLayout(page);
  auto* options = new QGridLayout;
  row->addLayout(options);

  int line = 0;
  auto box = [&](QCheckBox*& cb, const char* name, const char* text) {
    cb = new QCheckBox(text, page);
    cb->setObjectName(name);
    options->addWidget(cb, line++, 0);
  };
  auto number = [&](QLineEdit*& ed, const char* name) {
    ed = new QLineEdit(page);
    ed->setObjectName(name);
    ed->setFixedWidth(cNumberWidth);
    options->addWidget(ed, line - 1, 1);
  };
  box(cbExportLinks, "cbExportLinks", "Export Link Layer");
  box(cbExportNodes, "cbExportNodes", "Export Node Layer");
  box(cbExportTurns, "cbExportTurns", "Export Turns");
  box(cbObjectCheck, "cbObjectCheck", "Object Check");
  box(cbShortLinks, "cbShortLinks", "Short links, below X meters:");
  number(edShortLink, "edShortLink");
  box(cbLoopLinks, "cbLoopLinks", "Loop Links");
  box(cbParallelLinks, "cbParallelLinks", "Parallel Links");
  box(cbNonConnectedN, "cbNonConnectedN", "Non-connected nodes, gap in meters:");
  number(edNonConnectedN, "edNonConnectedN");
  box(cbNonConnectedL, "cbNonConnectedL", "Non-connected links, gap in meters:");
  number(edNonConnectedL, "edNonConnectedL");
  box(cbOverpasses, "cbOverpasses", "Overpasses");
  lbNoLoopsOnly = new QLabel("Only for networks without loops:", page);
  lbNoLoopsOnly->setObjectName("lbNoLoopsOnly");
  options->addWidget(lbNoLoopsOnly, line++, 0, 1, 2);
  box(cbSubnet, "cbSubnet", "Subnet");
  box(cbSubnetEx, "cbSubnetEx", "Subnet - Extended");
  box(cbCulDeSacCurb, "cbCulDeSacCurb", "Cul de sac - check for U-turns");
  options->setRowStretch(line, 1);

  TopologyRunLayout = new QVBoxLayout;
  row->addLayout(TopologyRunLayout, 1);
  BuildTopologyRun();
  return page;
}

}  // namespace studio
