// The main window offscreen, with fake dialogs and shell: start, close,
// menus, help and the about window.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <cstring>

#include "app/qt/studio_about.h"
#include "app/qt/studio_qtports.h"
#include "app_fixture.h"

using namespace studio;
using namespace studio::testsupport;
using kovra::testsupport::ReadBytes;
using kovra::testsupport::WriteBytes;
using Msg = FakeDialogs::TMessage;

namespace {
class MainWindowTest : public StudioTest {};
}  // namespace

TEST_F(MainWindowTest, FirstStartMakesTheDataFolderAndShowsTheDefaults) {
  // A fresh account: none of the folders exists yet.
  AppState().DataFolder = (dir / "home" / ".config" / "orvellastudio").string() + "/";
  auto form = NewForm();
  EXPECT_TRUE(std::filesystem::is_directory(AppState().DataFolder));
  EXPECT_EQ(form->windowTitle().toStdString(), "Orvella Studio 1.07");
  EXPECT_EQ(form->PageControl1->tabText(form->PageControl1->currentIndex()).toStdString(), "Manage Networks");
  EXPECT_EQ(form->ImportCodePageList->currentText().toStdString(), "Auto-detect codepage");
  EXPECT_EQ(CheckedOutputFormat(*form), "SHP");
  EXPECT_EQ(AppState().OutputFormat, kovra::TGISFormat::gfSHP);
  EXPECT_TRUE(form->Km1->isChecked());
  EXPECT_EQ(form->ProgressBar1->value(), 0);
  const std::vector<std::pair<QCheckBox*, bool>> boxes = {
      {form->cbExportLinks, true},   {form->cbExportNodes, true},    {form->cbExportTurns, false},
      {form->cbObjectCheck, true},   {form->cbShortLinks, true},     {form->cbLoopLinks, false},
      {form->cbParallelLinks, true}, {form->cbNonConnectedN, true},  {form->cbNonConnectedL, true},
      {form->cbOverpasses, true},    {form->cbSubnet, true},         {form->cbSubnetEx, true},
      {form->cbCulDeSacCurb, false},
  };
  for (auto [box, ticked] : boxes) EXPECT_EQ(box->isChecked(), ticked) << box->objectName().toStdString();
  EXPECT_EQ(form->edShortLink->text(), "2");
  EXPECT_EQ(form->edNonConnectedN->text(), "5");
  EXPECT_EQ(form->edNonConnectedL->text(), "5");
  EXPECT_TRUE(dialogs.Messages.empty());
  EXPECT_TRUE(http.Requests.empty()) << "no update check at start";
  EXPECT_GE(form->width(), 818);
}

// File -> controls -> user's changes -> file, in a German number format.
TEST_F(MainWindowTest, SettingsFromTheFileAndBackAtClose) {
  AppState().Regional = NumberFormatOf(QLocale(QLocale::German, QLocale::Germany));
  WriteSettings("[main]\r\noutputformat=3\r\nunit=1\r\n[topology]\r\nTurns=1\r\nShortLinksValue=2,5\r\n"
                "NonConnectedNodesValue=0.75\r\n[Network_3]\r\nPath=/old/\r\n[Mine]\r\nk=v\r\n");
  auto form = NewForm();
  EXPECT_EQ(CheckedOutputFormat(*form), "KML");
  EXPECT_EQ(AppState().OutputFormat, kovra::TGISFormat::gfKML2);
  EXPECT_TRUE(form->Miles1->isChecked());
  EXPECT_TRUE(form->cbExportTurns->isChecked());
  EXPECT_EQ(form->edShortLink->text().toStdString(), "2,5");
  EXPECT_EQ(form->edNonConnectedN->text().toStdString(), "0,75") << "a '.' value shown regionally";

  form->GML1->trigger();
  EXPECT_EQ(AppState().OutputFormat, kovra::TGISFormat::gfGML2);
  form->GML1->trigger();  // the checked radio item stays checked
  EXPECT_EQ(CheckedOutputFormat(*form), "GML");
  form->Km1->trigger();
  form->cbExportLinks->setChecked(false);
  form->cbCulDeSacCurb->setChecked(true);
  form->edShortLink->setText("3.5");
  form->Exit1->trigger();
  EXPECT_FALSE(form->isVisible());
  EXPECT_TRUE(dialogs.Messages.empty());
  EXPECT_EQ(DumpIni(SettingsFile()),
            "[main]\noutputformat=4\nunit=0\n[topology]\nTurns=1\nShortLinksValue=3,5\n"
            "NonConnectedNodesValue=0,75\nLinks=0\nNodes=1\nObjectCheck=1\nShortLinks=1\nLoopLinks=0\n"
            "ParallelLinks=1\nNonConnectedNodes=1\nNonConnectedLinks=1\nNonConnectedLinksValue=5\n"
            "Overpasses=1\nSubnet=1\nSubnetEx=1\n[Mine]\nk=v\n")
      << "network sections erased, the cul-de-sac option not stored, other sections kept";
}

// A number text that does not convert stops the close; the file stays.
TEST_F(MainWindowTest, NumberTextThatDoesNotConvertStopsTheClose) {
  const std::string content = "[main]\r\nunit=1\r\n[Network_1]\r\nPath=/keep/\r\n";

  WriteSettings(content);
  auto form = NewForm();
  form->edShortLink->setText("");
  EXPECT_FALSE(form->close());
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(dialogs.Messages, (std::vector<Msg>{{"error", "'' is not a valid floating point value"}}));
  EXPECT_EQ(ReadSettings(), content);
  form->edShortLink->setText("4");
  EXPECT_TRUE(form->close());
  EXPECT_NE(ReadSettings(), content);
}

TEST_F(MainWindowTest, UnreadableSettingsAreShownAndLeftAlone) {
  // A folder in place of the file.
  std::filesystem::create_directories(SettingsFile());
  auto form = NewForm();
  EXPECT_EQ(dialogs.Messages,
            (std::vector<Msg>{{"error", "The settings file " + SettingsFile() + " could not be read: " +
                                            std::strerror(EISDIR) +
                                            ". It will not be changed when the program closes."}}));
  EXPECT_FALSE(form->SettingsWritable());
  EXPECT_EQ(CheckedOutputFormat(*form), "SHP") << "the window has its defaults";
  form->Miles1->trigger();
  dialogs.Messages.clear();
  EXPECT_TRUE(form->close());
  EXPECT_TRUE(dialogs.Messages.empty());
  EXPECT_TRUE(std::filesystem::is_directory(SettingsFile()));
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(AppState().DataFolder)) ++entries;
  EXPECT_EQ(entries, 1u) << "no temporary file either";
}

TEST_F(MainWindowTest, DataFolderThatCannotBeMadeLeavesTheDesignState) {
  WriteBytes((dir / "blocker").string(), "a file, not a folder");
  AppState().DataFolder = (dir / "blocker" / "orvellastudio").string() + "/";
  auto form = NewForm();
  ASSERT_EQ(dialogs.Messages.size(), 1u);
  EXPECT_EQ(dialogs.Messages[0].Text,
            "Cannot create folder \"" + AppState().DataFolder + "\". " + std::strerror(ENOTDIR));
  EXPECT_EQ(form->windowTitle().toStdString(), "Orvella Studio");
  EXPECT_EQ(CheckedOutputFormat(*form), "");
  EXPECT_EQ(AppState().OutputFormat, kovra::TGISFormat::gfMIF);
  EXPECT_TRUE(form->close());
  EXPECT_EQ(ReadBytes((dir / "blocker").string()), "a file, not a folder");
}

TEST_F(MainWindowTest, FailedWriteAtCloseIsShownAndTheWindowCloses) {
  auto form = NewForm();
  std::filesystem::remove_all(AppState().DataFolder);  // gone while the program ran
  EXPECT_TRUE(form->close());
  EXPECT_EQ(dialogs.Messages, (std::vector<Msg>{{"error", "Unable to write to " + SettingsFile()}}));
}

TEST_F(MainWindowTest, UnitMenuTellsWhatMilesChange) {
  auto form = NewForm();
  form->Km1->trigger();
  EXPECT_TRUE(dialogs.Messages.empty());
  form->Miles1->trigger();
  EXPECT_TRUE(form->Miles1->isChecked());
  EXPECT_EQ(dialogs.Messages, (std::vector<Msg>{{"information",
                                                  "This only affects the statistics. Distances in topology "
                                                  "checking output remain km"}}));
}

TEST_F(MainWindowTest, ProductHelpOpensTheHtmlHelp) {
  const std::string page = AppState().ProgramFolder + "help/index.html";
  auto form = NewForm();
  QApplication::setActiveWindow(form.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));

  // Missing.
  QTest::keyClick(form.get(), Qt::Key_F1);
  EXPECT_EQ(dialogs.Messages, (std::vector<Msg>{{"error", "Help file not found: " + page}}));
  EXPECT_TRUE(shell.Urls.empty());

  // Beside the program: F1 opens it as a file address.
  std::filesystem::create_directories(AppState().ProgramFolder + "help");
  WriteBytes(page, "<html></html>");
  dialogs.Messages.clear();
  QTest::keyClick(form.get(), Qt::Key_F1);
  EXPECT_EQ(shell.Urls, std::vector<std::string>{"file://" + page});
  EXPECT_TRUE(dialogs.Messages.empty());

  // Nothing on the desktop opens it.
  shell.Result = false;
  form->Producthelp1->trigger();
  EXPECT_EQ(dialogs.Messages, (std::vector<Msg>{{"error", "Could not open " + page}}));
}

TEST_F(MainWindowTest, AboutWindowAndItsSupportLink) {
  auto form = NewForm();
  TAboutForm& about = form->AboutForm();
  std::string title, version;
  QTimer::singleShot(0, [&] {
    title = about.windowTitle().toStdString();
    version = about.VersionLabel->text().toStdString();
    QTest::mouseClick(about.SupportButton, Qt::LeftButton);
  });
  form->About1->trigger();  // modal until the click
  EXPECT_EQ(title, "About Orvella Studio");
  EXPECT_EQ(version, "Version 1.07");
  EXPECT_FALSE(about.isVisible());
  EXPECT_EQ(shell.Urls, std::vector<std::string>{"mailto:support@orvellastudio.invalid?subject=Orvella Studio 1 "
                                                 "Support&body=Version 1.07%0A"});

  // A click on the picture closes it too; the window goes on.
  QTimer::singleShot(0, [&] { QTest::mouseClick(about.ProgramIcon, Qt::LeftButton); });
  form->About1->trigger();
  EXPECT_FALSE(about.isVisible());
  EXPECT_EQ(shell.Urls.size(), 1u);
  EXPECT_TRUE(dialogs.Messages.empty());
}

// One guard around every handler: an exception is a message, not the end.
TEST_F(MainWindowTest, AHandlerThatRaisesIsShownAndTheWindowGoesOn) {
  std::filesystem::create_directories(AppState().ProgramFolder + "help");
  WriteBytes(AppState().ProgramFolder + "help/index.html", "<html></html>");
  shell.Raise = "the shell broke";
  auto form = NewForm();
  form->Producthelp1->trigger();
  EXPECT_EQ(dialogs.Messages, (std::vector<Msg>{{"error", "the shell broke"}}));
  EXPECT_TRUE(form->isVisible());
  form->Miles1->trigger();
  EXPECT_EQ(dialogs.Messages.size(), 2u) << "the next command runs";
}
