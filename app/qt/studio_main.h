// The main window: menus, the four tabs, the progress bar, the settings file
// read at start and written at close. Each tab is built in its own source
// file (studio_page_*.cpp) and keeps its controls in its block below.
#pragma once

#include <QMainWindow>
#include <array>
#include <functional>
#include <optional>

#include "app/core/studio_import.h"
#include "app/core/studio_networklist.h"
#include "app/core/studio_opennetwork.h"
#include "app/core/studio_ports.h"
#include "app/core/studio_settings.h"
#include "foundation/kovra_types.h"

class QAction;
class QActionGroup;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QToolButton;
class QTabWidget;
class QTableView;
class QVBoxLayout;
class QBoxLayout;
class QGridLayout;

namespace studio {

class TAboutForm;
class TNetworkGridModel;

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

  // --- the network list ---
  TNetworkList& NetworkList() { return FNetworks; }
  // Posts a pending edit of the current row (before "Open", say); raises the
  // list's message when it cannot be posted.
  void PostNetworkEdit();
  // Shows the list as it now is: grid, current row, options panel. Whoever
  // changes the list outside the tab's own handlers (an import) calls it.
  void NetworksChanged();
  // While a network is open: grid, options panel, "Add", "Copy", "Delete"
  // and "Open" off, so the current row cannot change.
  void SetListEnabled(bool Enabled);

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
  QListWidget* ImportFileListBox = nullptr;
  QPushButton* ImportAddFilesButton = nullptr;
  QPushButton* ImportScanFileButton = nullptr;
  QLabel* lbImportOutput = nullptr;
  QToolButton* sbImportOutputSelect = nullptr;
  QPushButton* GoButton = nullptr;
  // In TFieldListId order; each entry's data is its field number, entry 0
  // "<pick a field>" (-1).
  std::array<QComboBox*, cFieldListCount> ImportFieldLists{};
  QLineEdit* edImportCoordSys = nullptr;
  QLineEdit* edImportPrj = nullptr;
  QLineEdit* edImportEPSG = nullptr;
  QPushButton* btWGS84 = nullptr;
  QPushButton* btBNG = nullptr;
  QComboBox* ImportCodePageList = nullptr;
  QCheckBox* cbAllowLoops = nullptr;
  QLineEdit* edMaxNodesPerCell = nullptr;
  QLineEdit* edEncryptionKey = nullptr;
  // The listed input files, in list order.
  std::vector<std::string> ImportFiles() const;
  // What Go reads from the tab.
  TImportState ImportState() const;
  // The tab's handlers; the controls run them guarded.
  void ImportAddFilesButtonClick();
  void ImportFileListBoxKeyDown(int Key);
  void sbImportOutputSelectClick();
  void ImportScanFileButtonClick();
  void GoButtonClick();
  // "Scan Files" and the output-folder button follow the file list.
  void ImportFilesChanged();
  // Empties a field list to its entry "<pick a field>".
  static void ResetFieldList(QComboBox* List);

  // --- "Manage Networks" (studio_page_networks.cpp) ---
  QWidget* TabNetworks = nullptr;
  QTableView* DBGrid1 = nullptr;
  TNetworkGridModel* NetworkGridModel = nullptr;
  // Beside the grid: the list's buttons.
  QVBoxLayout* NetworkButtonsLayout = nullptr;
  QPushButton* AddNetwork = nullptr;
  QPushButton* CopyNetwork = nullptr;
  QPushButton* DeleteNetwork = nullptr;
  // Under the grid: the options of the current row.
  QFrame* OptionsPanel = nullptr;
  QGridLayout* OptionsPanelLayout = nullptr;
  QCheckBox* cbAttributes = nullptr;
  QCheckBox* cbCoord3cache = nullptr;
  QCheckBox* cbSpatialIndex = nullptr;
  QLineEdit* edEncryption = nullptr;
  QLineEdit* edRoadname = nullptr;
  QLineEdit* edTurn = nullptr;
  QToolButton* SpeedButton1 = nullptr;  // locates the turn file
  // Radio groups; the button id is the stored value.
  QButtonGroup* rgExternalID = nullptr;
  QButtonGroup* rgLimit1 = nullptr;
  QButtonGroup* rgLimit2 = nullptr;
  QButtonGroup* rgLimit3 = nullptr;
  // Edit (c, r) of the speed grid is SpeedEdits[8c + r], road class 8c + r.
  std::array<QLineEdit*, cSpeedCount> SpeedEdits{};
  // Beside the options panel: opening and closing the network.
  QVBoxLayout* OpenCloseLayout = nullptr;
  QPushButton* OpenNetwork = nullptr;
  QPushButton* CloseNetwork = nullptr;

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
  QLabel* lbTopoOutput = nullptr;
  QPushButton* bTopologyGo = nullptr;

  // --- opening and closing (studio_page_open.cpp) ---
  // The controls' state with a network open or none.
  const TOpenState& OpenState() const { return FOpener.State(); }

public slots:
  // The tab's handlers; each runs guarded.
  void AddNetworkClick();
  void CopyNetworkClick();
  void DeleteNetworkClick();
  void SpeedButton1Click();
  void DBGrid1KeyDown(int Key);
  // "Open": the current row's network, its report on the Statistics tab.
  void OpenNetworkClick();
  // "Close": releases it.
  void CloseNetworkClick();

protected:
  void closeEvent(QCloseEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
  void BuildMenus();
  QWidget* BuildImportPage();
  QWidget* BuildNetworksPage();
  void BuildNetworkOptions();
  // A button of Parent with its hint, added to Into; a click runs Click
  // guarded.
  QPushButton* NewButton(QWidget* Parent, QBoxLayout* Into, const char* Name, const char* Text, const char* Hint,
                         void (TForm1::*Click)());
  // The options panel's controls from the current row and its pending edit.
  void ShowNetworkOptions();
  // The grid's current row from the list's, without posting.
  void SelectCurrentNetwork();
  void NetworkRowChanged(int Row);
  // Asks "Are you sure?"; Yes deletes the current row.
  void ConfirmDeleteNetwork();
  QWidget* BuildStatisticsPage();
  QWidget* BuildTopologyPage();
  // "Open" and "Close" beside the options panel; the output folder and
  // "Go !" of the Topology Checks run.
  void BuildOpenClose();
  void BuildTopologyRun();
  // The controls from OpenState().
  void ApplyOpenState(bool importGo = true);

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
  TNetworkList FNetworks;
  bool FListEnabled = true;
  // The window itself moves the grid's selection: no post, no panel refresh.
  bool FSyncingGrid = false;
  studio::OpenNetwork FOpener{AppState().CurrentNetwork};
};

// The main window of the running program (set by the program's start).
extern TForm1* Form1;

}  // namespace studio
