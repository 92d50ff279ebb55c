// The "Manage Networks" tab: the list of known networks with the options of
// the current row, and opening one of them. As the window grows, the grid
// takes the room; the options panel and the buttons keep their size.
#include <QFrame>
#include <QGridLayout>
#include <QHeaderView>
#include <QTableView>
#include <QVBoxLayout>

#include "app/qt/studio_main.h"

namespace studio {

namespace {
// The room the options panel is designed for, and the button column's width.
constexpr int cOptionsPanelHeight = 400;
constexpr int cButtonColumnWidth = 110;
}  // namespace

QWidget* TForm1::BuildNetworksPage() {
  auto* page = new QWidget;
  page->setObjectName("TabNetworks");
  auto* grid = new QGridLayout(page);

  DBGrid1 = new QTableView(page);
  DBGrid1->setObjectName("DBGrid1");
  DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
  DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
  DBGrid1->horizontalHeader()->setStretchLastSection(true);
  grid->addWidget(DBGrid1, 0, 0);
  NetworkButtonsLayout = new QVBoxLayout;
  NetworkButtonsLayout->addStretch(1);
  grid->addLayout(NetworkButtonsLayout, 0, 1);

  OptionsPanel = new QFrame(page);
  OptionsPanel->setObjectName("OptionsPanel");
  OptionsPanel->setFrameShape(QFrame::StyledPanel);
  OptionsPanel->setMinimumHeight(cOptionsPanelHeight);
  OptionsPanelLayout = new QGridLayout(OptionsPanel);
  grid->addWidget(OptionsPanel, 1, 0);
  OpenCloseLayout = new QVBoxLayout;
  OpenCloseLayout->addStretch(1);
  grid->addLayout(OpenCloseLayout, 1, 1);

  grid->setRowStretch(0, 1);
  grid->setColumnStretch(0, 1);
  grid->setColumnMinimumWidth(1, cButtonColumnWidth);
  return page;
}

}  // namespace studio
