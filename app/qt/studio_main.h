// The main window: menus, the four tabs, the progress bar, the settings file
// read at start and written at close. Each tab is built in its own source
// file (studio_page_*.cpp) and keeps its controls in its block below.
#pragma once

#include <QMainWindow>
#include <functional>
#include <optional>

#include "app/core/studio_ports.h"
#include "app/core/studio_settings.h"
#include "foundation/kovra_types.h"

class QAction;
class QActionGroup;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QTabWidget;
class QTableView;
class QVBoxLayout;
class QGridLayout;

namespace studio {

class TAboutForm;

inline constexpr const char* cMsgMilesOnlyStatistics =
    "This only affects the statistics. Distances in topology checking output remain km";

class TForm1 : public QMainWindow {
  Q_OBJECT

public:
  // Runs FormCreate, then creates the about window. Ports are borrowed.
  explicit TForm1(const TPorts& Ports, QWidget* Parent = nullptr);
  ~TForm1() override;

  // The one progress handler of every library object the window runs: moves
  // the bar and lets pending messages run (the window takes no input
  // meanwhile). Never sets Cancel.
  void DoProgress(kovra::TObject* Sender, int32_t Progress, bool& Cancel);
  kovra::TProgressCancelEvent ProgressHandler();

  // Runs a handler; an exception it raises is shown with its message and
  // the window goes on.
  void Guarded(const std::function<void()>& Handler);

  // The menus' and tabs' state as the settings file keeps it; raises the
  // conversion error of a topology number text that does not convert.
  TWindowSettings WindowSettings() const;
  void SetWindowSettings(const TWindowSettings& Settings);
  // False when the settings file could not be read or its folder made: the
  // close then leaves the file alone.
  bool SettingsWritable() const { return FSettingsWritable; }
  TAboutForm& AboutForm() { return *FAboutForm; }

  // --- menus ---
  QMenu* File1 = nullptr;
  QAction* Exit1 = nullptr;
  QMenu* Outputformat1 = nullptr;
  QActionGroup* OutputFormatGroup = nullptr;
  QAction* SHP1 = nullptr;
  QAction* MIF1 = nullptr;
  QAction* TAB1 = nullptr;
  QAction* KML1 = nullptr;
  QAction* GML1 = nullptr;
  QMenu* Unit1 = nullptr;
  QActionGroup* UnitGroup = nullptr;
  QAction* Km1 = nullptr;
  QAction* Miles1 = nullptr;
  QMenu* Help1 = nullptr;
  QAction* Producthelp1 = nullptr;
  QAction* Checkforupdates1 = nullptr;
  QAction* About1 = nullptr;

  QTabWidget* PageControl1 = nullptr;
  QProgressBar* ProgressBar1 = nullptr;

  // --- "Import" (studio_page_import.cpp) ---
  QWidget* TabImport = nullptr;
  QGridLayout* ImportLayout = nullptr;
  QComboBox* ImportCodePageList = nullptr;

  // --- "Manage Networks" (studio_page_networks.cpp) ---
  QWidget* TabNetworks = nullptr;
  QTableView* DBGrid1 = nullptr;
  // Beside the grid: the list's buttons.
  QVBoxLayout* NetworkButtonsLayout = nullptr;
  // Under the grid: the options of the current row.
  QFrame* OptionsPanel = nullptr;
  QGridLayout* OptionsPanelLayout = nullptr;
  // Beside the options panel: opening and closing the network.
  QVBoxLayout* OpenCloseLayout = nullptr;

  // --- "Statistics" (studio_page_statistics.cpp) ---
  QWidget* TabStatistics = nullptr;
  QPlainTextEdit* StatisticsMemo = nullptr;

  // --- "Topology Checks" (studio_page_topology.cpp) ---
  QWidget* TabTopology = nullptr;
  QCheckBox* cbExportLinks = nullptr;
  QCheckBox* cbExportNodes = nullptr;
  QCheckBox* cbExportTurns = nullptr;
  QCheckBox* cbObjectCheck = nullptr;
  QCheckBox* cbShortLinks = nullptr;
  QLineEdit* edShortLink = nullptr;
  QCheckBox* cbLoopLinks = nullptr;
  QCheckBox* cbParallelLinks = nullptr;
  QCheckBox* cbNonConnectedN = nullptr;
  QLineEdit* edNonConnectedN = nullptr;
  QCheckBox* cbNonConnectedL = nullptr;
  QLineEdit* edNonConnectedL = nullptr;
  QCheckBox* cbOverpasses = nullptr;
  QLabel* lbNoLoopsOnly = nullptr;
  QCheckBox* cbSubnet = nullptr;
  QCheckBox* cbSubnetEx = nullptr;
  QCheckBox* cbCulDeSacCurb = nullptr;
  // Right of the options: the run (output folder, "Go !", step list).
  QVBoxLayout* TopologyRunLayout = nullptr;

protected:
  void closeEvent(QCloseEvent* Event) override;

private:
  void BuildMenus();
  QWidget* BuildImportPage();
  QWidget* BuildNetworksPage();
  QWidget* BuildStatisticsPage();
  QWidget* BuildTopologyPage();

  void FormCreate();
  // False when the window must stay open.
  bool FormClose();

  void Exit1Click();
  void SHP1Click(QAction* Sender);
  void Km1Click(QAction* Sender);
  void Producthelp1Click();
  void Checkforupdates1Click();
  void About1Click();

  IDialogs& Dialogs() const { return *FPorts.Dialogs; }
  IShell& Shell() const { return *FPorts.Shell; }

  TPorts FPorts;
  TAboutForm* FAboutForm = nullptr;
  bool FSettingsWritable = true;
};

// The main window of the running program (set by the program's start).
extern TForm1* Form1;

}  // namespace studio
