// "Open" and "Close" as the window shows them: the report in the Statistics
// tab, the buttons, the message of a failure and the way back.
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>

#include "app_fixture.h"
#include "network/support/network_writer.h"

using namespace studio;
using namespace studio::testsupport;
namespace fs = std::filesystem;

namespace {

class OpenWindow : public StudioTest {
protected:
  void SetUp() override {
    StudioTest::SetUp();
    form = NewForm();
  }
  void TearDown() override {
    form.reset();
    StudioTest::TearDown();
  }
  // A 4 x 4 grid in metres (24 links); returns its folder with the '/'.
  std::string Network(const std::string& Name) {
    kovra::testsupport::TTestNetworkWriter w;
    w.AddGrid({4, 4, 1000, 1, 0.1});
    const fs::path folder = dir / Name;
    fs::create_directories(folder);
    w.Write(folder.string());
    return folder.string() + "/";
  }
  // Appends a row for Path and makes it current.
  void AddRow(const std::string& Path) {
    NetworkRow r = DefaultNetworkRow();
    r.Path = Path;
    r.SpatialIndex = false;
    form->NetworkList().Append(r, AppState().Regional);
    form->NetworksChanged();
  }
  // What the controls show, in the order of TOpenState.
  std::vector<bool> Controls() const {
    return {form->DBGrid1->isEnabled(),     form->AddNetwork->isEnabled(),  form->CopyNetwork->isEnabled(),
            form->DeleteNetwork->isEnabled(), form->OpenNetwork->isEnabled(), form->CloseNetwork->isEnabled(),
            form->bTopologyGo->isEnabled()};
  }
  const std::vector<bool> closed{true, true, true, true, true, false, false};
  const std::vector<bool> open{false, false, false, false, false, true, true};
  std::string Memo() const { return form->StatisticsMemo->toPlainText().toStdString(); }

  std::unique_ptr<TForm1> form;
};

}  // namespace

TEST_F(OpenWindow, OpenShowsReportAndCloseReleases) {
  EXPECT_EQ(Controls(), closed);
  EXPECT_EQ(form->lbTopoOutput->text().toStdString(), "< not set >");
  const std::string path = Network("grid");
  AddRow(path);
  form->OpenNetwork->click();
  ASSERT_TRUE(AppState().CurrentNetwork) << (dialogs.Messages.empty() ? "" : dialogs.Messages.back().Text);
  EXPECT_TRUE(dialogs.Messages.empty());
  EXPECT_EQ(Controls(), open);
  EXPECT_EQ(form->OptionsPanel->isEnabled(), false);
  EXPECT_EQ(form->lbTopoOutput->text().toStdString(), path);
  EXPECT_EQ(Memo().rfind("Path: " + path + "\n\nCoordsys: ", 0), 0u) << Memo();
  EXPECT_NE(Memo().find("\nLinks: 24\n"), std::string::npos) << Memo();
  EXPECT_NE(Memo().find(" km\n"), std::string::npos) << Memo();

  form->CloseNetwork->click();
  EXPECT_FALSE(AppState().CurrentNetwork);
  EXPECT_EQ(Controls(), closed);
  EXPECT_TRUE(form->OptionsPanel->isEnabled());
  EXPECT_EQ(form->OpenState().ImportGoEnabled, true);
  // The report stays readable after the close.
  EXPECT_NE(Memo().find("Links: 24"), std::string::npos);

  // "Miles" in the Unit menu.
  form->Miles1->setChecked(true);
  form->OpenNetwork->click();
  ASSERT_TRUE(AppState().CurrentNetwork);
  EXPECT_NE(Memo().find(" miles\n"), std::string::npos) << Memo();
  EXPECT_NE(Memo().find(" sq mi"), std::string::npos) << Memo();
}

TEST_F(OpenWindow, FailureShowsMessageAndReturnsToClosedState) {
  const std::string good = Network("good");
  const std::string bad = Network("bad");
  fs::remove(bad + "link.bin");
  AddRow(good);
  AddRow(bad);
  form->OpenNetwork->click();
  ASSERT_EQ(dialogs.Messages.size(), 1u);
  EXPECT_EQ(dialogs.Messages[0].Kind, "error");
  EXPECT_EQ(dialogs.Messages[0].Text, "File is missing: " + bad + "link.bin");
  EXPECT_FALSE(AppState().CurrentNetwork);
  EXPECT_EQ(Controls(), closed);

  // The good row opens without a restart.
  form->DBGrid1->selectRow(0);
  ASSERT_EQ(form->NetworkList().Current()->Path, good);
  form->OpenNetwork->click();
  EXPECT_TRUE(AppState().CurrentNetwork);
  EXPECT_EQ(Controls(), open);
  EXPECT_EQ(dialogs.Messages.size(), 1u);
}

TEST_F(OpenWindow, RowThatCannotBePostedOpensNothing) {
  AddRow(Network("grid"));
  form->edEncryption->setText("");
  form->NetworkList().SetFieldText(FindNetworkField("Encryption"), "");
  form->OpenNetwork->click();
  ASSERT_EQ(dialogs.Messages.size(), 1u);
  EXPECT_EQ(dialogs.Messages[0].Text, "Field 'Encryption' must have a value");
  EXPECT_FALSE(AppState().CurrentNetwork);
  EXPECT_EQ(Controls(), closed);
  EXPECT_EQ(Memo(), "");
}
