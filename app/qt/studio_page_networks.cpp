// The "Manage Networks" tab: the list of known networks with the options of
// the current row, and opening one of them. As the window grows, the grid
// takes the room; the options panel and the buttons keep their size.
//
// The panel's controls report only what the user does (textEdited, clicked,
// idClicked), so showing a row never puts it in edit.
#include <QButtonGroup>
#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/qt/studio_main.h"
#include "app/qt/studio_networkgrid.h"
#include "app/qt/studio_validators.h"
#include "foundation/kovra_functions.h"

namespace studio {

namespace {
// The room the options panel is designed for, and the button column's width.
constexpr int cOptionsPanelHeight = 400;
constexpr int cButtonColumnWidth = 110;
constexpr int cSpeedEditWidth = 40;
constexpr int cNumberEditWidth = 80;
constexpr int cIDColumnWidth = 50;

constexpr const char* cMsgAreYouSure = "Are you sure?";
constexpr const char* cLocateTitle = "Locate networks";
constexpr const char* cNetworkFilter = "Kovra 4 networks (kovra_config.ini)";
constexpr const char* cTurnFilters = "Turn restriction file (*.txt *.TXT);;Turn restriction file (*)";

const char* const cExternalIDItems[] = {"Skip", "Open, but no caching", "Open, cache index",
                                        "Open, cache index + keys"};
const char* const cLimitItems[] = {"Skip", "Scalar value", "Bit pattern"};

QString Q(const std::string& s) { return QString::fromStdString(s); }

int32_t Field(const char* Name) { return FindNetworkField(Name); }

// A group box of radio buttons whose ids are the stored values.
QButtonGroup* RadioGroup(QWidget* Parent, QBoxLayout* Into, const char* Name, const QString& Title,
                         const char* const* Items, int Count) {
  auto* box = new QGroupBox(Title, Parent);
  box->setObjectName(Name);
  auto* column = new QVBoxLayout(box);
  column->setSpacing(2);
  auto* group = new QButtonGroup(box);
  group->setObjectName(Name);
  for (int i = 0; i < Count; ++i) {
    auto* b = new QRadioButton(Items[i], box);
    group->addButton(b, i);
    column->addWidget(b);
  }
  Into->addWidget(box);
  return group;
}

// Checks the button of Value; none when Value is outside the group.
void ShowRadio(QButtonGroup* Group, int32_t Value) {
  if (QAbstractButton* b = Group->button(Value)) {
    b->setChecked(true);
    return;
  }
  // An exclusive group keeps one button checked.
  Group->setExclusive(false);
  for (QAbstractButton* b : Group->buttons()) b->setChecked(false);
  Group->setExclusive(true);
}
}  // namespace

QWidget* TForm1::BuildNetworksPage() {
  auto* page = new QWidget;
  page->setObjectName("TabNetworks");
  auto* grid = new QGridLayout(page);

  DBGrid1 = new QTableView(page);
  DBGrid1->setObjectName("DBGrid1");
  NetworkGridModel = new TNetworkGridModel(FNetworks, DBGrid1);
  DBGrid1->setModel(NetworkGridModel);
  DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
  DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
  DBGrid1->verticalHeader()->hide();
  DBGrid1->horizontalHeader()->setStretchLastSection(true);
  DBGrid1->setColumnWidth(0, cIDColumnWidth);
  DBGrid1->installEventFilter(this);
  connect(DBGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { NetworkRowChanged(current.row()); });
  grid->addWidget(DBGrid1, 0, 0);

  NetworkButtonsLayout = new QVBoxLayout;
  auto button = [&](QPushButton*& b, const char* name, const char* text, const char* hint, void (TForm1::*click)()) {
    b = NewButton(page, NetworkButtonsLayout, name, text, hint, click);
  };
  button(AddNetwork, "AddNetwork", "Add", "Add a new path to an existing network", &TForm1::AddNetworkClick);
  button(CopyNetwork, "CopyNetwork", "Copy", "Copy an existing network to new list entry",
         &TForm1::CopyNetworkClick);
  button(DeleteNetwork, "DeleteNetwork", "Delete", "Deletes the current network from list (but not from disk)",
         &TForm1::DeleteNetworkClick);
  NetworkButtonsLayout->addStretch(1);
  grid->addLayout(NetworkButtonsLayout, 0, 1);

  OptionsPanel = new QFrame(page);
  OptionsPanel->setObjectName("OptionsPanel");
  OptionsPanel->setFrameShape(QFrame::StyledPanel);
  OptionsPanel->setMinimumHeight(cOptionsPanelHeight);
  OptionsPanelLayout = new QGridLayout(OptionsPanel);
  BuildNetworkOptions();
  grid->addWidget(OptionsPanel, 1, 0);
  OpenCloseLayout = new QVBoxLayout;
  OpenCloseLayout->addStretch(1);
  BuildOpenClose();
  grid->addLayout(OpenCloseLayout, 1, 1);

  grid->setRowStretch(0, 1);
  grid->setColumnStretch(0, 1);
  grid->setColumnMinimumWidth(1, cButtonColumnWidth);
  NetworksChanged();
  return page;
}

void TForm1::BuildNetworkOptions() {
  QFrame* panel = OptionsPanel;
  const NumberFormat& fmt = AppState().Regional;
  // The panel's edits write into the current row's edit buffer as typed.
  auto typed = [this](QLineEdit* ed, int32_t field) {
    connect(ed, &QLineEdit::textEdited, this,
            [this, field](const QString& text) { FNetworks.SetFieldText(field, text.toStdString()); });
  };
  auto label = [&](const char* text) { return new QLabel(text, panel); };

  // Left: what is opened with the network, its key and road names.
  auto* left = new QVBoxLayout;
  auto box = [&](QCheckBox*& cb, const char* name, const char* text, const char* field) {
    cb = new QCheckBox(text, panel);
    cb->setObjectName(name);
    connect(cb, &QCheckBox::clicked, this,
            [this, f = Field(field)](bool checked) { FNetworks.SetFieldValue(f, checked); });
    left->addWidget(cb);
  };
  box(cbAttributes, "cbAttributes", "Open Attributes", "Attributes");
  box(cbCoord3cache, "cbCoord3cache", "Cache Coord3 file", "Coord3cache");
  box(cbSpatialIndex, "cbSpatialIndex", "Open Spatial Index", "SpatialIndex");
  auto number = [&](QLineEdit*& ed, const char* name, const char* caption, const char* field) {
    left->addSpacing(6);
    left->addWidget(label(caption));
    ed = new QLineEdit(panel);
    ed->setObjectName(name);
    ed->setValidator(NewSignedDigitsValidator(ed));
    ed->setMaximumWidth(cNumberEditWidth);
    typed(ed, Field(field));
    left->addWidget(ed);
  };
  number(edEncryption, "edEncryption", "Password for encryption", "Encryption");
  number(edRoadname, "edRoadname", "Roadname file (1-99 or 0 = skip)", "Roadname");
  left->addStretch(1);
  OptionsPanelLayout->addLayout(left, 0, 0);

  // Middle: how the external ids and the limit files are opened.
  auto* middle = new QVBoxLayout;
  auto radios = [&](QButtonGroup*& g, QBoxLayout* into, const char* name, const QString& title,
                    const char* const* items, int count, const char* field) {
    g = RadioGroup(panel, into, name, title, items, count);
    connect(g, &QButtonGroup::idClicked, this,
            [this, f = Field(field)](int id) { FNetworks.SetFieldValue(f, int32_t(id)); });
  };
  radios(rgExternalID, middle, "rgExternalID", "External ID", cExternalIDItems, 4, "ExternalID");
  middle->addStretch(1);
  OptionsPanelLayout->addLayout(middle, 0, 1);
  // Under both: the three limit files side by side.
  auto* limits = new QHBoxLayout;
  QButtonGroup** limitGroups[] = {&rgLimit1, &rgLimit2, &rgLimit3};
  for (int k = 1; k <= 3; ++k) {
    const std::string n = kovra::IntToStr(k);
    radios(*limitGroups[k - 1], limits, ("rgLimit" + n).c_str(), Q("Limit " + n), cLimitItems, 3,
           ("Limit" + n).c_str());
  }
  OptionsPanelLayout->addLayout(limits, 1, 0, 1, 2);

  // Right: a speed per road class, class 8c + r in column c, line r.
  auto* speeds = new QGridLayout;
  speeds->setVerticalSpacing(3);
  speeds->addWidget(label("Speed in km/h for all road classes"), 0, 0, 1, 4);
  const char* headings[] = {" 0 - 7", " 8 - 15", "16 - 23", "24 - 31"};
  auto* validator = new TRegionalFloatValidator(fmt, panel);
  for (int c = 0; c < 4; ++c) {
    speeds->addWidget(label(headings[c]), 1, c);
    for (int r = 0; r < 8; ++r) {
      const int cls = 8 * c + r;
      auto* ed = new QLineEdit(panel);
      ed->setObjectName(Q("edSpeed" + kovra::IntToStr(cls)));
      ed->setFixedWidth(cSpeedEditWidth);
      ed->setValidator(validator);
      typed(ed, SpeedField(cls));
      speeds->addWidget(ed, 2 + r, c);
      SpeedEdits[size_t(cls)] = ed;
    }
  }
  speeds->setRowStretch(10, 1);
  OptionsPanelLayout->addLayout(speeds, 0, 2, 3, 1);

  // Under them: the turn-restriction file, typed or located.
  auto* turn = new QHBoxLayout;
  turn->addWidget(label("Turn restriction file"));
  edTurn = new QLineEdit(panel);
  edTurn->setObjectName("edTurn");
  typed(edTurn, Field("Turn"));
  turn->addWidget(edTurn, 1);
  SpeedButton1 = new QToolButton(panel);
  SpeedButton1->setObjectName("SpeedButton1");
  SpeedButton1->setText("...");
  SpeedButton1->setToolTip("Locate a turn restriction file");
  connect(SpeedButton1, &QToolButton::clicked, this, [this] { Guarded([this] { SpeedButton1Click(); }); });
  turn->addWidget(SpeedButton1);
  OptionsPanelLayout->addLayout(turn, 3, 0, 1, 3);
  OptionsPanelLayout->setColumnStretch(1, 1);
  // Spare height goes between the options and the turn file.
  OptionsPanelLayout->setRowStretch(2, 1);
}

QPushButton* TForm1::NewButton(QWidget* Parent, QBoxLayout* Into, const char* Name, const char* Text,
                               const char* Hint, void (TForm1::*Click)()) {
  auto* b = new QPushButton(Text, Parent);
  b->setObjectName(Name);
  b->setToolTip(Hint);
  connect(b, &QPushButton::clicked, this, [this, Click] { Guarded([this, Click] { (this->*Click)(); }); });
  Into->addWidget(b);
  return b;
}

// ---------------------------------------------------------------------------
// Showing the list

void TForm1::NetworksChanged() {
  NetworkGridModel->Reload();
  SelectCurrentNetwork();
  ShowNetworkOptions();
  SetListEnabled(FListEnabled);
}

void TForm1::SetListEnabled(bool Enabled) {
  FListEnabled = Enabled;
  DBGrid1->setEnabled(Enabled);
  // An empty list has no row to edit.
  OptionsPanel->setEnabled(Enabled && !FNetworks.Empty());
  for (QPushButton* b : {AddNetwork, CopyNetwork, DeleteNetwork, OpenNetwork})
    if (b) b->setEnabled(Enabled);
}

void TForm1::SelectCurrentNetwork() {
  FSyncingGrid = true;
  QItemSelectionModel* sel = DBGrid1->selectionModel();
  const int32_t cur = FNetworks.CurrentIndex();
  if (cur < 0) {
    sel->clear();
  } else {
    const QModelIndex at = NetworkGridModel->index(cur, 0);
    sel->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    DBGrid1->scrollTo(at);
  }
  FSyncingGrid = false;
}

void TForm1::ShowNetworkOptions() {
  const NetworkRow row = FNetworks.EditValues();
  const NumberFormat& fmt = AppState().Regional;
  // An edit shows the text still waiting for post, else the row's value.
  auto text = [this](QLineEdit* ed, int32_t field, const std::string& value) {
    ed->setText(Q(FNetworks.EditText(field).value_or(value)));
  };
  const bool any = !FNetworks.Empty();
  cbAttributes->setChecked(row.Attributes);
  cbCoord3cache->setChecked(row.Coord3cache);
  cbSpatialIndex->setChecked(row.SpatialIndex);
  text(edEncryption, Field("Encryption"), any ? kovra::IntToStr(row.Encryption) : "");
  text(edRoadname, Field("Roadname"), any ? kovra::IntToStr(row.Roadname) : "");
  text(edTurn, Field("Turn"), row.Turn);
  ShowRadio(rgExternalID, any ? row.ExternalID : -1);
  ShowRadio(rgLimit1, any ? row.Limit1 : -1);
  ShowRadio(rgLimit2, any ? row.Limit2 : -1);
  ShowRadio(rgLimit3, any ? row.Limit3 : -1);
  for (int32_t c = 0; c < cSpeedCount; ++c)
    text(SpeedEdits[size_t(c)], SpeedField(c), any ? FloatToStrRegional(row.Speed[size_t(c)], fmt) : "");
}

// ---------------------------------------------------------------------------
// Handlers

void TForm1::PostNetworkEdit() { FNetworks.post(AppState().Regional); }

void TForm1::NetworkRowChanged(int Row) {
  if (FSyncingGrid) return;
  // A pending edit that cannot be posted keeps its row current.
  Guarded([this, Row] { FNetworks.SetCurrent(Row, AppState().Regional); });
  SelectCurrentNetwork();
  // The view goes on with the click that moved it; put it back after that.
  if (FNetworks.CurrentIndex() != Row)
    QMetaObject::invokeMethod(this, [this] { SelectCurrentNetwork(); }, Qt::QueuedConnection);
  ShowNetworkOptions();
}

void TForm1::AddNetworkClick() {
  PostNetworkEdit();
  const auto file = Dialogs().openFileName(cLocateTitle, cNetworkFilter, "");
  if (!file || file->empty()) return;
  const size_t slash = file->rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : file->substr(0, slash + 1);
  FNetworks.Add(folder, AppState().Regional);
  NetworksChanged();
}

void TForm1::CopyNetworkClick() {
  FNetworks.Copy(AppState().Regional);
  NetworksChanged();
}

void TForm1::DeleteNetworkClick() {
  if (FNetworks.Empty()) return;
  PostNetworkEdit();
  ConfirmDeleteNetwork();
}

void TForm1::DBGrid1KeyDown(int Key) {
  // The key deletes without posting: a pending edit goes with its row.
  if (Key == Qt::Key_Delete && !FNetworks.Empty()) ConfirmDeleteNetwork();
}

void TForm1::ConfirmDeleteNetwork() {
  if (!Dialogs().question(cMsgAreYouSure)) return;
  FNetworks.DeleteCurrent();
  NetworksChanged();
}

void TForm1::SpeedButton1Click() {
  const NetworkRow* row = FNetworks.Current();
  if (!row) return;
  const auto file = Dialogs().openFileName(cLocateTitle, cTurnFilters, row->Path);
  if (!file || file->empty()) return;
  FNetworks.SetFieldValue(Field("Turn"), *file);
  edTurn->setText(Q(*file));
  PostNetworkEdit();
  ShowNetworkOptions();
}

bool TForm1::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == DBGrid1 && Event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(Event)->key();
    if (key == Qt::Key_Delete) {
      Guarded([this, key] { DBGrid1KeyDown(key); });
      return true;
    }
  }
  return QMainWindow::eventFilter(Watched, Event);
}

}  // namespace studio
