// The "Import" tab: GIS files into a new network directory. The tab only
// binds widgets; the checks, the Scan and Go's plan and run are in
// app/core/studio_functions and app/core/studio_import.
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QToolButton>
#include <QVBoxLayout>
#include <filesystem>

#include "app/core/studio_functions.h"
#include "app/core/studio_import.h"
#include "app/qt/studio_busy.h"
#include "app/qt/studio_main.h"

namespace studio {

namespace {

constexpr const char* cAddFilesTitle = "Add Files";
// Both cases: file names on Linux are case-sensitive.
constexpr const char* cImportFilters =
    "All formats (*.SHP *.shp *.TAB *.tab *.MIF *.mif);;SHP files (*.SHP *.shp);;TAB files (*.TAB *.tab);;"
    "MIF files (*.MIF *.mif)";
constexpr const char* cSelectOutputTitle = "Select output folder";

// Hints of the field lists, in TFieldListId order.
const char* const cFieldListHints[cFieldListCount] = {
    "Values should integers -9 to 9",
    "Values should integers -9 to 9",
    "Values should be integers from 0 to 65535",
    nullptr,
    nullptr,
    nullptr,
    "Values should be integers from 0 to 255",
    "Values should be integers from 0 to 255",
    "Values should be integers from 0 to 255",
    "Values should be integers from 0 to 2147483647",
    nullptr};
const char* const cFieldListNames[cFieldListCount] = {
    "cbZLevelFrom", "cbZLevelTo", "cbAttribute", "cbRoadname1", "cbRoadname2", "cbRoadname3",
    "cbLimit1",     "cbLimit2",   "cbLimit3",    "cbExternalIDint", "cbExternalIDstring"};

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Passes the Delete key of the file list to the window's handler.
class TKeyFilter : public QObject {
public:
  TKeyFilter(QObject* Parent, std::function<void(int)> OnKey) : QObject(Parent), FOnKey(std::move(OnKey)) {}

protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override {
    if (Event->type() == QEvent::KeyPress) {
      FOnKey(static_cast<QKeyEvent*>(Event)->key());
      // Delete is the tab's; other keys move the selection as usual.
      if (static_cast<QKeyEvent*>(Event)->key() == Qt::Key_Delete) return true;
    }
    return QObject::eventFilter(Watched, Event);
  }

private:
  std::function<void(int)> FOnKey;
};

}  // namespace

QWidget* TForm1::BuildImportPage() {
  auto* page = new QWidget;
  page->setObjectName("TabImport");
  ImportLayout = new QGridLayout(page);
  auto label = [page](const char* text) { return new QLabel(text, page); };
  auto guarded = [this](void (TForm1::*handler)()) {
    return [this, handler] { Guarded([this, handler] { (this->*handler)(); }); };
  };

  // Left: the input files, the output folder and Go.
  auto* left = new QVBoxLayout;
  ImportFileListBox = new QListWidget(page);
  ImportFileListBox->setObjectName("ImportFileListBox");
  ImportFileListBox->setSelectionMode(QAbstractItemView::ExtendedSelection);
  ImportFileListBox->setMinimumWidth(260);
  ImportFileListBox->installEventFilter(
      new TKeyFilter(ImportFileListBox, [this](int key) { Guarded([this, key] { ImportFileListBoxKeyDown(key); }); }));
  left->addWidget(ImportFileListBox, 1);
  auto* fileButtons = new QHBoxLayout;
  ImportAddFilesButton = new QPushButton("Add Files", page);
  ImportAddFilesButton->setObjectName("ImportAddFilesButton");
  ImportAddFilesButton->setToolTip("Only one type (TAB, SHP, MIF) at a time");
  connect(ImportAddFilesButton, &QPushButton::clicked, this, guarded(&TForm1::ImportAddFilesButtonClick));
  ImportScanFileButton = new QPushButton("Scan Files", page);
  ImportScanFileButton->setObjectName("ImportScanFileButton");
  connect(ImportScanFileButton, &QPushButton::clicked, this, guarded(&TForm1::ImportScanFileButtonClick));
  fileButtons->addWidget(ImportAddFilesButton);
  fileButtons->addWidget(ImportScanFileButton);
  fileButtons->addStretch(1);
  left->addLayout(fileButtons);
  left->addWidget(label("Output folder"));
  auto* output = new QHBoxLayout;
  lbImportOutput = new QLabel(cOutputNotSet, page);
  lbImportOutput->setObjectName("lbImportOutput");
  lbImportOutput->setTextInteractionFlags(Qt::TextSelectableByMouse);
  sbImportOutputSelect = new QToolButton(page);
  sbImportOutputSelect->setObjectName("sbImportOutputSelect");
  sbImportOutputSelect->setText("...");
  sbImportOutputSelect->setToolTip("Select output folder");
  connect(sbImportOutputSelect, &QToolButton::clicked, this, guarded(&TForm1::sbImportOutputSelectClick));
  output->addWidget(sbImportOutputSelect);
  output->addWidget(lbImportOutput, 1);
  left->addLayout(output);
  GoButton = new QPushButton("Go !", page);
  GoButton->setObjectName("GoButton");
  connect(GoButton, &QPushButton::clicked, this, guarded(&TForm1::GoButtonClick));
  left->addWidget(GoButton, 0, Qt::AlignLeft);
  ImportLayout->addLayout(left, 0, 0);

  // Middle: the eleven field lists, filled by Scan.
  auto* fields = new QGridLayout;
  fields->setVerticalSpacing(2);
  for (int i = 0; i < cFieldListCount; ++i) {
    auto* list = new QComboBox(page);
    list->setObjectName(cFieldListNames[i]);
    if (cFieldListHints[i]) list->setToolTip(cFieldListHints[i]);
    list->setMinimumContentsLength(16);
    list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    ImportFieldLists[size_t(i)] = list;
    fields->addWidget(label(cFieldListCaptions[size_t(i)]), 2 * i, 0);
    fields->addWidget(list, 2 * i + 1, 0);
  }
  // At most one external id is imported.
  QComboBox* idInt = ImportFieldLists[size_t(TFieldListId::flExternalIDint)];
  QComboBox* idText = ImportFieldLists[size_t(TFieldListId::flExternalIDstring)];
  connect(idInt, &QComboBox::currentIndexChanged, this, [idText](int i) {
    if (i > 0) idText->setCurrentIndex(0);
  });
  connect(idText, &QComboBox::currentIndexChanged, this, [idInt](int i) {
    if (i > 0) idInt->setCurrentIndex(0);
  });
  fields->setRowStretch(2 * cFieldListCount, 1);
  ImportLayout->addLayout(fields, 0, 1);

  // Right: coordinate system, code page and options.
  auto* right = new QVBoxLayout;
  auto edit = [&](QLineEdit*& ed, const char* name, const char* caption) {
    QLabel* l = label(caption);
    l->setWordWrap(true);  // the long captions on a narrow window
    right->addWidget(l);
    ed = new QLineEdit(page);
    ed->setObjectName(name);
    right->addWidget(ed);
  };
  edit(edImportCoordSys, "edImportCoordSys", "MapInfo CoordSys string (fill in manually if you use SHP files)");
  edit(edImportPrj, "edImportPrj", "ESRI PRJ-file (fill in manually if you use MIF / TAB files)");
  edit(edImportEPSG, "edImportEPSG", "EPSG code (fill in manually)");
  auto* presets = new QHBoxLayout;
  auto preset = [&](QPushButton*& b, const char* name, const char* text, const char* hint, const TCoordPreset& p) {
    b = new QPushButton(text, page);
    b->setObjectName(name);
    b->setToolTip(hint);
    connect(b, &QPushButton::clicked, this, [this, &p] {
      edImportCoordSys->setText(p.CoordSys);
      edImportEPSG->setText(QString::number(p.EPSG));
      edImportPrj->setText(Q(p.Prj));
      // The start of a long text is what tells one from another.
      for (QLineEdit* ed : {edImportCoordSys, edImportPrj}) ed->setCursorPosition(0);
    });
    presets->addWidget(b);
  };
  preset(btWGS84, "btWGS84", "WGS84", "Set to WGS84 coordinate system", PresetWGS84());
  preset(btBNG, "btBNG", "British National Grid", "Set to BNG coordinate system", PresetBNG());
  presets->addStretch(1);
  right->addLayout(presets);
  right->addSpacing(8);
  ImportCodePageList = new QComboBox(page);
  ImportCodePageList->setObjectName("ImportCodePageList");
  for (int i = 0; i < cCodePageEntryCount; ++i) ImportCodePageList->addItem(Q(CodePageEntryText(i)));
  right->addWidget(ImportCodePageList);
  cbAllowLoops = new QCheckBox("Allow loops", page);
  cbAllowLoops->setObjectName("cbAllowLoops");
  cbAllowLoops->setToolTip("We do not recommend allowing loops (see documentation)");
  right->addWidget(cbAllowLoops);
  // Digits only, typed or pasted.
  auto digits = [&](QLineEdit*& ed, const char* name, const char* caption, const char* hint, const char* text) {
    edit(ed, name, caption);
    ed->setToolTip(hint);
    ed->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), ed));
    ed->setText(text);
    ed->setMaximumWidth(120);
  };
  digits(edMaxNodesPerCell, "edMaxNodesPerCell", "Max Nodes Per Cell", "An integer from 25-500", "50");
  digits(edEncryptionKey, "edEncryptionKey", "Encryptionkey", "Enter any non-zero integer to encrypt", "0");
  right->addStretch(1);
  ImportLayout->addLayout(right, 0, 2);
  ImportLayout->setColumnStretch(0, 3);
  ImportLayout->setColumnStretch(2, 2);

  ImportScanFileButton->setEnabled(false);
  sbImportOutputSelect->setEnabled(false);
  GoButton->setEnabled(false);
  return page;
}

void TForm1::ImportFilesChanged() {
  const bool any = ImportFileListBox->count() > 0;
  ImportScanFileButton->setEnabled(any);
  sbImportOutputSelect->setEnabled(any);
}

std::vector<std::string> TForm1::ImportFiles() const {
  std::vector<std::string> out;
  for (int i = 0; i < ImportFileListBox->count(); ++i) out.push_back(ImportFileListBox->item(i)->text().toStdString());
  return out;
}

void TForm1::ImportAddFilesButtonClick() {
  const std::vector<std::string> chosen = Dialogs().openFileNames(cAddFilesTitle, cImportFilters, "");
  for (const std::string& f : chosen) {
    // One kind of file per import: others are left out without a message.
    if (ImportFileListBox->count() == 0 ||
        UpperExt(f) == UpperExt(ImportFileListBox->item(0)->text().toStdString()))
      ImportFileListBox->addItem(Q(f));
  }
  if (!chosen.empty() && ImportFileListBox->count() > 0) {
    const std::string first = ImportFileListBox->item(0)->text().toStdString();
    std::string folder = std::filesystem::path(first).parent_path().string();
    if (folder.empty() || folder.back() != '/') folder += '/';
    lbImportOutput->setText(Q(folder));
  }
  ImportFilesChanged();
}

void TForm1::ImportFileListBoxKeyDown(int Key) {
  if (Key == Qt::Key_Delete && !ImportFileListBox->selectedItems().isEmpty()) {
    const int focus = ImportFileListBox->currentRow();
    for (QListWidgetItem* item : ImportFileListBox->selectedItems()) delete item;
    const int n = ImportFileListBox->count();
    if (n > 0) {
      ImportFileListBox->clearSelection();
      const int row = std::clamp(focus, 0, n - 1);
      ImportFileListBox->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
    }
  }
  ImportFilesChanged();
}

void TForm1::sbImportOutputSelectClick() {
  const auto folder = Dialogs().existingFolder(cSelectOutputTitle, lbImportOutput->text().toStdString());
  if (!folder || folder->empty()) return;
  lbImportOutput->setText(Q(folder->back() == '/' ? *folder : *folder + "/"));
}

void TForm1::ResetFieldList(QComboBox* List) {
  List->clear();
  List->addItem(cPickAField, -1);
  List->setCurrentIndex(0);
}

void TForm1::ImportScanFileButtonClick() {
  if (ImportFileListBox->count() == 0) {
    Dialogs().information(cMsgAddFilesFirst);
    return;
  }
  for (QComboBox* list : ImportFieldLists) ResetFieldList(list);
  // A Scan starts from the tables' own code page; only a MIF charset changes it.
  AppState().ImportCodePage = 0;
  const TScanResult scan = ScanFiles(ImportFileListBox->item(0)->text().toStdString());
  AppState().ImportCodePage = scan.CodePage;
  for (int i = 0; i < cFieldListCount; ++i)
    for (const TFieldEntry& f : scan.Fields[size_t(i)]) ImportFieldLists[size_t(i)]->addItem(Q(f.Name), f.Number);
  if (scan.NoPrj) Dialogs().information(cMsgNoPrjFile);
  GoButton->setEnabled(true);
}

TImportState TForm1::ImportState() const {
  TImportState s;
  s.Files = ImportFiles();
  s.FieldsListed = true;
  for (int i = 0; i < cFieldListCount; ++i) {
    const QComboBox* list = ImportFieldLists[size_t(i)];
    if (list->count() == 0) s.FieldsListed = false;
    s.Fields[size_t(i)] = list->currentIndex() > 0 ? list->currentData().toInt() : -1;
  }
  s.CoordSys = edImportCoordSys->text().toStdString();
  s.Prj = edImportPrj->text().toStdString();
  s.EPSG = edImportEPSG->text().toStdString();
  s.AllowLoops = cbAllowLoops->isChecked();
  s.MaxNodesPerCell = edMaxNodesPerCell->text().toStdString();
  s.EncryptionKey = edEncryptionKey->text().toStdString();
  s.CodePageEntry = std::max(0, ImportCodePageList->currentIndex());
  s.ScanCodePage = AppState().ImportCodePage;
  s.OutputFolder = lbImportOutput->text().toStdString();
  return s;
}

void TForm1::GoButtonClick() {
  const auto plan = BuildImportPlan(ImportState(), [this](const std::string& q) { return Dialogs().question(q); });
  if (!plan) return;
  CheckFileSets(plan->Files);
  {
    BusyGuard busy(*this);
    RunImportPlan(*plan, ProgressHandler());
  }
  // Only a complete run adds its network.
  FNetworks.Append(ImportedNetworkRow(*plan), AppState().Regional);
  NetworksChanged();
}

}  // namespace studio
