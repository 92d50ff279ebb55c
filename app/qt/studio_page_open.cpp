// Opening and closing the current row's network ("Open", "Close" beside the
// options panel) and the controls that follow: the list, the Import tab's
// "Go !", the Topology Checks run. The work and the state are in
// OpenNetwork; this file only shows them.
#include <QAction>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "app/qt/studio_busy.h"
#include "app/qt/studio_main.h"

namespace studio {

namespace {
constexpr const char* cNotSet = "< not set >";
// The Import tab's run button.
constexpr const char* cImportGoName = "GoButton";
}  // namespace

void TForm1::BuildOpenClose() {
  QWidget* page = OptionsPanel->parentWidget();
  OpenNetwork = NewButton(page, OpenCloseLayout, "OpenNetwork", "Open", "Open the network chosen above",
                          &TForm1::OpenNetworkClick);
  CloseNetwork = NewButton(page, OpenCloseLayout, "CloseNetwork", "Close", "Close the currently open network",
                           &TForm1::CloseNetworkClick);
  CloseNetwork->setEnabled(false);
}

void TForm1::BuildTopologyRun() {
  QWidget* page = TopologyRunLayout->parentWidget();
  lbTopoOutput = new QLabel(cNotSet, page);
  lbTopoOutput->setObjectName("lbTopoOutput");
  TopologyRunLayout->addWidget(lbTopoOutput);
  bTopologyGo = new QPushButton("Go !", page);
  bTopologyGo->setObjectName("bTopologyGo");
  TopologyRunLayout->addWidget(bTopologyGo);
  TopologyRunLayout->addStretch(1);
  // Every tab exists now. The Import tab's "Go !" keeps its start state
  // (disabled until a Scan); only "Close" and a failed Open enable it.
  ApplyOpenState(false);
}

void TForm1::ApplyOpenState(bool importGo) {
  const TOpenState& s = FOpener.State();
  SetListEnabled(s.ListEnabled);
  if (OpenNetwork) OpenNetwork->setEnabled(s.OpenEnabled);
  if (CloseNetwork) CloseNetwork->setEnabled(s.CloseEnabled);
  if (bTopologyGo) bTopologyGo->setEnabled(s.TopologyGoEnabled);
  if (lbTopoOutput) lbTopoOutput->setText(s.TopologyOutputFolder.empty() ? QString(cNotSet)
                                                                          : QString::fromStdString(s.TopologyOutputFolder));
  if (TabImport && importGo)
    if (auto* go = TabImport->findChild<QPushButton*>(cImportGoName)) go->setEnabled(s.ImportGoEnabled);
  DBGrid1->repaint();
}

void TForm1::OpenNetworkClick() {
  BusyGuard busy(*this);
  // A row that cannot be posted opens nothing (the error is shown).
  PostNetworkEdit();
  const NetworkRow* current = FNetworks.Current();
  if (!current) return;
  const NetworkRow row = *current;
  // Nothing of the list can change while the network opens.
  SetListEnabled(false);
  if (TabImport)
    if (auto* go = TabImport->findChild<QPushButton*>(cImportGoName)) go->setEnabled(false);
  DBGrid1->repaint();
  const kovra::TDistanceUnit unit = Miles1->isChecked() ? kovra::duMiles : kovra::duKm;
  std::vector<std::string> report;
  try {
    report = FOpener.Open(row, unit, AppState().Regional, ProgressHandler());
  } catch (...) {
    // The closed state first, then the message (shown by the caller).
    ApplyOpenState();
    throw;
  }
  QString text;
  for (size_t i = 0; i < report.size(); ++i) {
    if (i > 0) text += '\n';
    text += QString::fromStdString(report[i]);
  }
  StatisticsMemo->setPlainText(text);
  ApplyOpenState();
}

void TForm1::CloseNetworkClick() {
  BusyGuard busy(*this);
  try {
    FOpener.Close();
  } catch (...) {
    ApplyOpenState();
    throw;
  }
  ApplyOpenState();
}

}  // namespace studio
