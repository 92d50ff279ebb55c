// The "Import" tab: GIS files into a new network directory.
#include <QComboBox>
#include <QGridLayout>

#include "app/qt/studio_main.h"

namespace studio {

QWidget* TForm1::BuildImportPage() {
  auto* page = new QWidget;
  page->setObjectName("TabImport");
  ImportLayout = new QGridLayout(page);
  ImportCodePageList = new QComboBox(page);
  ImportCodePageList->setObjectName("ImportCodePageList");
  // Entry 0 leaves the code page to what the tables declare.
  ImportCodePageList->addItem("Auto-detect codepage");
  ImportLayout->addWidget(ImportCodePageList, 0, 0, Qt::AlignLeft | Qt::AlignTop);
  ImportLayout->setRowStretch(1, 1);
  ImportLayout->setColumnStretch(1, 1);
  return page;
}

}  // namespace studio
