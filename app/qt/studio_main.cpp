#include "app/qt/studio_main.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QTabWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

#include "app/core/studio_common.h"
#include "app/core/uCheckVersion.h"
#include "app/qt/studio_about.h"
#include "app/qt/studio_busy.h"
#include "foundation/kovra_functions.h"
#include "giswriter/kovra_giswriter.h"

namespace studio {

TForm1* Form1 = nullptr;

namespace {
// The client area as designed; the window cannot be made smaller.
constexpr int cDesignWidth = 818;
constexpr int cDesignHeight = 616;

QString Q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

TForm1::TForm1(const TPorts& Ports, QWidget* Parent) : QMainWindow(Parent), FPorts(Ports) {
  setObjectName("Form1");
  setWindowTitle(cProgramCaption);
  BuildMenus();

  auto* central = new QWidget(this);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(4, 4, 4, 4);
  PageControl1 = new QTabWidget(central);
  PageControl1->setObjectName("PageControl1");
  TabImport = BuildImportPage();
  TabNetworks = BuildNetworksPage();
  TabStatistics = BuildStatisticsPage();
  TabTopology = BuildTopologyPage();
  PageControl1->addTab(TabImport, "Import");
  PageControl1->addTab(TabNetworks, "Manage Networks");
  PageControl1->addTab(TabStatistics, "Statistics");
  PageControl1->addTab(TabTopology, "Topology Checks");
  PageControl1->setCurrentWidget(TabNetworks);
  column->addWidget(PageControl1, 1);
  ProgressBar1 = new QProgressBar(central);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->setMaximumHeight(16);
  column->addWidget(ProgressBar1);
  setCentralWidget(central);

  const QSize design(cDesignWidth, cDesignHeight + menuBar()->sizeHint().height());
  resize(design);
  setMinimumSize(design);

  FormCreate();
  FAboutForm = new TAboutForm(Ports, this);
}

TForm1::~TForm1() = default;

void TForm1::BuildMenus() {
  auto action = [this](QMenu* menu, const char* name, const QString& text) {
    QAction* a = menu->addAction(text);
    a->setObjectName(name);
    return a;
  };
  File1 = menuBar()->addMenu("File");
  Exit1 = action(File1, "Exit1", "Exit");
  connect(Exit1, &QAction::triggered, this, [this] { Guarded([this] { Exit1Click(); }); });

  // Radio items; none is checked until the settings are read, and a stored
  // number outside the table leaves them all unchecked.
  Outputformat1 = menuBar()->addMenu("Output format");
  OutputFormatGroup = new QActionGroup(this);
  OutputFormatGroup->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
  QAction** items[] = {&SHP1, &MIF1, &TAB1, &KML1, &GML1};
  const char* names[] = {"SHP1", "MIF1", "TAB1", "KML1", "GML1"};
  for (int i = 0; i < 5; ++i) {
    QAction* a = action(Outputformat1, names[i], cOutputFormats[i].Caption);
    a->setCheckable(true);
    a->setData(i);
    OutputFormatGroup->addAction(a);
    *items[i] = a;
  }
  connect(OutputFormatGroup, &QActionGroup::triggered, this,
          [this](QAction* a) { Guarded([this, a] { SHP1Click(a); }); });

  Unit1 = menuBar()->addMenu("Unit");
  UnitGroup = new QActionGroup(this);
  Km1 = action(Unit1, "Km1", "Km");
  Miles1 = action(Unit1, "Miles1", "Miles");
  for (QAction* a : {Km1, Miles1}) {
    a->setCheckable(true);
    UnitGroup->addAction(a);
  }
  Km1->setChecked(true);
  connect(UnitGroup, &QActionGroup::triggered, this, [this](QAction* a) { Guarded([this, a] { Km1Click(a); }); });

  Help1 = menuBar()->addMenu("Help");
  Producthelp1 = action(Help1, "Producthelp1", "Product help");
  Producthelp1->setShortcut(Qt::Key_F1);
  connect(Producthelp1, &QAction::triggered, this, [this] { Guarded([this] { Producthelp1Click(); }); });
  Checkforupdates1 = action(Help1, "Checkforupdates1", "Check for updates");
  connect(Checkforupdates1, &QAction::triggered, this, [this] { Guarded([this] { Checkforupdates1Click(); }); });
  About1 = action(Help1, "About1", "About");
  connect(About1, &QAction::triggered, this, [this] { Guarded([this] { About1Click(); }); });
}

void TForm1::Guarded(const std::function<void()>& Handler) {
  try {
    Handler();
  } catch (const std::exception& e) {
    Dialogs().error(e.what());
  }
}

// ---------------------------------------------------------------------------
// Start and close

void TForm1::FormCreate() {
  TAppState& app = AppState();
  // MITAB availability is fixed at start: hide what cannot be written.
  const bool mitab = kovra::TGISWriter::MITAB_supported();
  TAB1->setVisible(mitab);
  try {
    // With its parents: a fresh account has no ~/.config yet.
    ForceDirectories(app.DataFolder);
  } catch (const std::exception& e) {
    // The window opens in its design state and leaves the file alone.
    FSettingsWritable = false;
    Dialogs().error(e.what());
    return;
  }
  setWindowTitle(QString(cProgramCaption) + " " + cProgramVersion);

  // The network list is defined and opened empty here, and reads its
  // sections from the same file below.
  TWindowSettings settings;  // the design state, where the file says nothing valid
  const auto problem = LoadSettingsFile(SettingsFileName(app.DataFolder), app.Regional, settings, {});
  if (problem) FSettingsWritable = false;
  if (!mitab && settings.OutputItem == cOutputFormatTAB) settings.OutputItem = cOutputFormatMIF;
  SetWindowSettings(settings);
  // Here the speed grid of the network options is built, after the list.

  PageControl1->setCurrentWidget(TabNetworks);
  ImportCodePageList->setCurrentIndex(0);
  if (problem) Dialogs().error(*problem);
}

void TForm1::closeEvent(QCloseEvent* Event) {
  // Not in the middle of a long operation: it would go on with a window and
  // objects that are gone.
  if (BusyGuard::Active(*this)) {
    Event->ignore();
    return;
  }
  bool closes = false;
  Guarded([this, &closes] { closes = FormClose(); });
  if (closes)
    Event->accept();
  else
    Event->ignore();
}

bool TForm1::FormClose() {
  // Here a pending edit of the network list is posted.
  if (!FSettingsWritable) return true;
  // A number text that does not convert stops the close; the file stays.
  const TWindowSettings settings = WindowSettings();
  try {
    SaveSettingsFile(SettingsFileName(AppState().DataFolder), settings, AppState().Regional, {});
  } catch (const std::exception& e) {
    // The old file is intact; the window closes all the same.
    Dialogs().error(e.what());
  }
  return true;
}

TWindowSettings TForm1::WindowSettings() const {
  TWindowSettings s;
  if (QAction* checked = OutputFormatGroup->checkedAction()) s.OutputItem = checked->data().toInt();
  s.Unit = Miles1->isChecked() ? kovra::TDistanceUnit::duMiles : kovra::TDistanceUnit::duKm;
  const NumberFormat& fmt = AppState().Regional;
  TTopologyOptions& t = s.Topology;
  t.Links = cbExportLinks->isChecked();
  t.Nodes = cbExportNodes->isChecked();
  t.Turns = cbExportTurns->isChecked();
  t.ObjectCheck = cbObjectCheck->isChecked();
  t.ShortLinks = cbShortLinks->isChecked();
  t.ShortLinksValue = ParseFloatRegional(edShortLink->text().toStdString(), fmt);
  t.LoopLinks = cbLoopLinks->isChecked();
  t.ParallelLinks = cbParallelLinks->isChecked();
  t.NonConnectedNodes = cbNonConnectedN->isChecked();
  t.NonConnectedNodesValue = ParseFloatRegional(edNonConnectedN->text().toStdString(), fmt);
  t.NonConnectedLinks = cbNonConnectedL->isChecked();
  t.NonConnectedLinksValue = ParseFloatRegional(edNonConnectedL->text().toStdString(), fmt);
  t.Overpasses = cbOverpasses->isChecked();
  t.Subnet = cbSubnet->isChecked();
  t.SubnetEx = cbSubnetEx->isChecked();
  return s;
}

void TForm1::SetWindowSettings(const TWindowSettings& s) {
  for (QAction* a : OutputFormatGroup->actions()) a->setChecked(s.OutputItem && a->data().toInt() == *s.OutputItem);
  AppState().OutputFormat = OutputFormatOfItem(s.OutputItem);
  (s.Unit == kovra::TDistanceUnit::duMiles ? Miles1 : Km1)->setChecked(true);
  const NumberFormat& fmt = AppState().Regional;
  const TTopologyOptions& t = s.Topology;
  cbExportLinks->setChecked(t.Links);
  cbExportNodes->setChecked(t.Nodes);
  cbExportTurns->setChecked(t.Turns);
  cbObjectCheck->setChecked(t.ObjectCheck);
  cbShortLinks->setChecked(t.ShortLinks);
  edShortLink->setText(Q(FloatToStrRegional(t.ShortLinksValue, fmt)));
  cbLoopLinks->setChecked(t.LoopLinks);
  cbParallelLinks->setChecked(t.ParallelLinks);
  cbNonConnectedN->setChecked(t.NonConnectedNodes);
  edNonConnectedN->setText(Q(FloatToStrRegional(t.NonConnectedNodesValue, fmt)));
  cbNonConnectedL->setChecked(t.NonConnectedLinks);
  edNonConnectedL->setText(Q(FloatToStrRegional(t.NonConnectedLinksValue, fmt)));
  cbOverpasses->setChecked(t.Overpasses);
  cbSubnet->setChecked(t.Subnet);
  cbSubnetEx->setChecked(t.SubnetEx);
}

// ---------------------------------------------------------------------------
// Menus

void TForm1::Exit1Click() { close(); }

void TForm1::SHP1Click(QAction* Sender) {
  // A radio item: choosing the checked one keeps it checked.
  Sender->setChecked(true);
  AppState().OutputFormat = OutputFormatOfItem(Sender->data().toInt());
}

void TForm1::Km1Click(QAction* Sender) {
  if (Sender == Miles1) Dialogs().information(cMsgMilesOnlyStatistics);
}

void TForm1::Producthelp1Click() {
  const std::string folder = AppState().ProgramFolder;
  const auto file = FindHelpFile(folder);
  if (!file) {
    Dialogs().error(kovra::Format(cMsgHelpNotFound, HelpFileBesideProgram(folder)));
    return;
  }
  const std::string url = QUrl::fromLocalFile(Q(*file)).toString(QUrl::FullyEncoded).toStdString();
  if (!Shell().openUrl(url)) Dialogs().error(kovra::Format(cMsgCouldNotOpen, *file));
}

void TForm1::Checkforupdates1Click() { CheckForUpdates(FPorts, cProgramName, cProgramVersion); }

void TForm1::About1Click() { FAboutForm->exec(); }

// ---------------------------------------------------------------------------
// Progress

void TForm1::DoProgress(kovra::TObject* /*Sender*/, int32_t Progress, bool& /*Cancel*/) {
  ProgressBar1->setValue(std::clamp(Progress, 0, 100));
  // Repaint and stay responsive, but start no command meanwhile: whoever
  // reports progress is in the middle of one.
  BusyGuard busy(*this);
  QApplication::processEvents();
}

kovra::TProgressCancelEvent TForm1::ProgressHandler() {
  return [this](kovra::TObject* Sender, int32_t Progress, bool& Cancel) { DoProgress(Sender, Progress, Cancel); };
}

}  // namespace studio
