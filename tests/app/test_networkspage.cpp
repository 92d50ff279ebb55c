// The "Manage Networks" tab offscreen, with fake dialogs: the grid, the
// options panel bound to the current row, the buttons, the Delete key, the
// turn-file button, and when a pending edit is posted.
#include <QButtonGroup>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <algorithm>

#include "app/qt/studio_qtports.h"
#include "app_fixture.h"

using namespace studio;
using namespace studio::testsupport;
using kovra::testsupport::ReadBytes;
using Msg = FakeDialogs::TMessage;

namespace {

// Two networks; the second with every option away from its default.
const std::string cTwoNetworks =
    "[Network_1]\r\nID=3\r\nPath=/net/three/\r\nAttributes=1\r\nSpatialIndex=1\r\nSpeed3=30\r\n"
    "[Network_2]\r\nID=7\r\nPath=/net/seven/\r\nCoord3cache=1\r\nEncryption=42\r\nExternalID=2\r\n"
    "Limit2=1\r\nRoadname=5\r\nTurn=/net/seven/turns.txt\r\n";

class NetworksPageTest : public StudioTest {
protected:
  std::unique_ptr<TForm1> Start(const std::string& Settings) {
    WriteSettings(Settings);
    auto form = NewForm();
    form->PageControl1->setCurrentWidget(form->TabNetworks);
    return form;
  }
  // As the user types: the edit's whole text replaced key by key.
  static void Type(QLineEdit* Edit, const QString& Text) {
    Edit->setFocus();
    Edit->selectAll();
    QTest::keyClick(Edit, Qt::Key_Backspace);
    QTest::keyClicks(Edit, Text);
  }
  static void ClickRow(TForm1& Form, int Row) {
    QTableView* grid = Form.DBGrid1;
    const QRect cell = grid->visualRect(grid->model()->index(Row, 1));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    QCoreApplication::processEvents();
  }
  static int GridRow(const TForm1& Form) { return Form.DBGrid1->currentIndex().row(); }
  static std::vector<std::string> GridIDs(const TForm1& Form) {
    std::vector<std::string> out;
    const QAbstractItemModel* m = Form.DBGrid1->model();
    for (int r = 0; r < m->rowCount(); ++r) out.push_back(m->index(r, 0).data().toString().toStdString());
    return out;
  }
  // The checked button's id; -1 for none.
  static int Radio(QButtonGroup* Group) { return Group->checkedId(); }
  static void PressDelete(TForm1& Form) { QTest::keyClick(Form.DBGrid1, Qt::Key_Delete); }
};

}  // namespace

TEST_F(NetworksPageTest, GridAndPanelShowTheCurrentRow) {
  auto form = Start(cTwoNetworks);
  EXPECT_EQ(GridIDs(*form), (std::vector<std::string>{"3", "7"}));
  EXPECT_EQ(form->DBGrid1->model()->headerData(0, Qt::Horizontal).toString(), "ID");
  EXPECT_EQ(form->DBGrid1->model()->headerData(1, Qt::Horizontal).toString(), "Path");
  EXPECT_EQ(GridRow(*form), 0) << "the first row is current after start";
  EXPECT_TRUE(form->cbAttributes->isChecked());
  EXPECT_EQ(form->SpeedEdits[3]->text(), "30");

  ClickRow(*form, 1);
  EXPECT_EQ(form->NetworkList().CurrentIndex(), 1);
  EXPECT_FALSE(form->cbAttributes->isChecked());
  EXPECT_TRUE(form->cbCoord3cache->isChecked());
  EXPECT_FALSE(form->cbSpatialIndex->isChecked());
  EXPECT_EQ(form->edEncryption->text(), "42");
  EXPECT_EQ(form->edRoadname->text(), "5");
  EXPECT_EQ(form->edTurn->text(), "/net/seven/turns.txt");
  EXPECT_EQ(Radio(form->rgExternalID), 2);
  EXPECT_EQ(Radio(form->rgLimit1), 0);
  EXPECT_EQ(Radio(form->rgLimit2), 1);
  EXPECT_EQ(form->SpeedEdits[3]->text(), "0");
  EXPECT_FALSE(form->NetworkList().Editing()) << "showing a row does not edit it";
  EXPECT_EQ(form->AddNetwork->toolTip(), "Add a new path to an existing network");
  EXPECT_EQ(form->CopyNetwork->toolTip(), "Copy an existing network to new list entry");
  EXPECT_EQ(form->DeleteNetwork->toolTip(), "Deletes the current network from list (but not from disk)");
  EXPECT_EQ(form->SpeedButton1->toolTip(), "Locate a turn restriction file");
  EXPECT_TRUE(dialogs.Messages.empty());
}

// Each control writes its own field; a value outside a radio group shows no
// button and stays until the user picks one.
TEST_F(NetworksPageTest, ControlsWriteTheirFields) {
  auto form = Start("[Network_1]\r\nID=1\r\nPath=/n/\r\nExternalID=7\r\nLimit3=3\r\n");
  EXPECT_EQ(Radio(form->rgExternalID), -1);
  EXPECT_EQ(Radio(form->rgLimit3), -1);
  QTest::mouseClick(form->cbCoord3cache, Qt::LeftButton);
  form->rgLimit1->button(2)->click();
  Type(form->edRoadname, "12");
  Type(form->edEncryption, "-9");
  Type(form->edTurn, "/t/turns.txt");
  EXPECT_TRUE(form->close());
  const std::string dump = DumpIni(SettingsFile());
  EXPECT_NE(dump.find("[Network_1]\nID=1\nAttributes=0\nCoord3cache=1\nEncryption=-9\nExternalID=7\nLimit1=2\n"
                      "Limit2=0\nLimit3=3\nPath=/n/\nRoadname=12\n"),
            std::string::npos)
      << dump;
  EXPECT_NE(dump.find("\nTurn=/t/turns.txt\n"), std::string::npos) << dump;

  // The user picks: the stored value goes.
  dialogs.Messages.clear();
  auto again = NewForm();
  again->rgExternalID->button(3)->click();
  EXPECT_EQ(Radio(again->rgExternalID), 3);
  EXPECT_TRUE(again->close());
  EXPECT_NE(DumpIni(SettingsFile()).find("\nExternalID=3\n"), std::string::npos);
}

// The edit at column c, line r of the speed grid, found by where it is
// drawn, edits class 8c + r.
TEST_F(NetworksPageTest, SpeedGridPlacesClassesByColumnAndLine) {
  auto form = Start("[Network_1]\r\nID=1\r\nPath=/n/\r\n");
  std::vector<int> xs, ys;
  for (QLineEdit* ed : form->SpeedEdits) {
    const QPoint p = ed->mapTo(form.get(), QPoint(0, 0));
    xs.push_back(p.x());
    ys.push_back(p.y());
  }
  auto distinct = [](std::vector<int> v) {
    std::sort(v.begin(), v.end());
    v.erase(std::unique(v.begin(), v.end()), v.end());
    return v;
  };
  const std::vector<int> columns = distinct(xs), lines = distinct(ys);
  ASSERT_EQ(columns.size(), 4u);
  ASSERT_EQ(lines.size(), 8u);
  auto editAt = [&](int c, int r) -> QLineEdit* {
    for (QLineEdit* ed : form->SpeedEdits)
      if (ed->mapTo(form.get(), QPoint(0, 0)) == QPoint(columns[size_t(c)], lines[size_t(r)])) return ed;
    return nullptr;
  };
  // The headings stand over their columns, left to right.
  const char* headings[] = {" 0 - 7", " 8 - 15", "16 - 23", "24 - 31"};
  for (int c = 0; c < 4; ++c) {
    QLabel* heading = nullptr;
    for (QLabel* l : form->OptionsPanel->findChildren<QLabel*>())
      if (l->text() == headings[c]) heading = l;
    ASSERT_NE(heading, nullptr) << headings[c];
    const int x = heading->mapTo(form.get(), QPoint(0, 0)).x();
    EXPECT_LT(std::abs(x - columns[size_t(c)]), 20) << headings[c];
  }
  struct Case {
    int c, r;
    std::string field;
  };
  const std::vector<Case> cases = {
      {0, 0, "Speed0"}, {0, 7, "Speed7"}, {3, 0, "Speed24"}, {3, 7, "Speed31"}, {1, 2, "Speed10"},
  };
  for (const Case& k : cases) {
    QLineEdit* ed = editAt(k.c, k.r);
    ASSERT_NE(ed, nullptr);
    Type(ed, "77");
    form->PostNetworkEdit();
    const NetworkRow& row = *form->NetworkList().Current();
    for (int cls = 0; cls < 32; ++cls) {
      const bool target = "Speed" + std::to_string(cls) == k.field;
      EXPECT_EQ(row.Speed[size_t(cls)] == 77, target) << k.c << "," << k.r << " class " << cls;
    }
    Type(ed, "0");
    form->PostNetworkEdit();
  }
}

// A pending edit is posted before Add, Copy and Delete, when the row changes
// and at close; one that cannot be posted stops them all and stays in edit.
TEST_F(NetworksPageTest, PendingEditIsPostedAtEachPoint) {
  auto form = Start(cTwoNetworks);
  const std::string onDisk = ReadSettings();
  const Msg required{"error", "Field 'Speed3' must have a value"};
  Type(form->SpeedEdits[3], "");
  EXPECT_TRUE(form->NetworkList().Editing());

  dialogs.Files.push_back("/net/new/kovra_config.ini");
  form->AddNetwork->click();
  EXPECT_EQ(dialogs.Messages, (std::vector<Msg>{required})) << "no file dialog either";
  dialogs.Files.clear();
  form->CopyNetwork->click();
  form->DeleteNetwork->click();
  EXPECT_EQ(dialogs.Messages, (std::vector<Msg>{required, required, required})) << "no question asked";
  ClickRow(*form, 1);
  EXPECT_EQ(dialogs.Messages.back(), required);
  EXPECT_EQ(form->NetworkList().CurrentIndex(), 0);
  EXPECT_EQ(GridRow(*form), 0) << "the grid stays on the row in edit";
  dialogs.Messages.clear();
  EXPECT_FALSE(form->close());
  EXPECT_EQ(dialogs.Messages, (std::vector<Msg>{required}));
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(ReadSettings(), onDisk) << "the file is untouched";
  EXPECT_EQ(form->NetworkList().Count(), 2);
  EXPECT_TRUE(form->NetworkList().Editing());
  EXPECT_EQ(form->SpeedEdits[3]->text(), "") << "the text stays for the user to mend";

  // Mended: changing rows posts it.
  dialogs.Messages.clear();
  QTest::keyClicks(form->SpeedEdits[3], "45");
  ClickRow(*form, 1);
  EXPECT_TRUE(dialogs.Messages.empty());
  EXPECT_EQ(form->NetworkList().CurrentIndex(), 1);
  EXPECT_EQ(form->NetworkList().Row(0).Speed[3], 45);

  // A text the edit lets through while typing but that is no number.
  Type(form->edEncryption, "-");
  form->CopyNetwork->click();
  EXPECT_EQ(dialogs.Messages,
            (std::vector<Msg>{{"error", "'-' is not a valid integer value for field 'Encryption'"}}));
  EXPECT_EQ(form->NetworkList().Count(), 2);
}

// The Delete key asks without posting; Yes deletes, No keeps; the button
// posts first. On an empty list neither asks.
TEST_F(NetworksPageTest, DeleteKeyAndButton) {
  auto form = Start(cTwoNetworks);
  Type(form->SpeedEdits[0], "");  // cannot be posted
  form->DBGrid1->setFocus();
  dialogs.Answers = {false};
  PressDelete(*form);
  EXPECT_EQ(dialogs.Messages, (std::vector<Msg>{{"question", "Are you sure?"}})) << "no post, so no error";
  EXPECT_EQ(form->NetworkList().Count(), 2);
  EXPECT_TRUE(form->NetworkList().Editing()) << "No keeps the edit too";

  dialogs.Answers = {true};
  PressDelete(*form);
  EXPECT_EQ(GridIDs(*form), std::vector<std::string>{"7"});
  EXPECT_FALSE(form->NetworkList().Editing());
  EXPECT_EQ(form->edEncryption->text(), "42") << "the panel shows the next row";

  dialogs.Messages.clear();
  dialogs.Answers = {false};
  form->DeleteNetwork->click();
  EXPECT_EQ(GridIDs(*form), std::vector<std::string>{"7"});
  dialogs.Answers = {true};
  form->DeleteNetwork->click();
  EXPECT_TRUE(GridIDs(*form).empty());
  EXPECT_FALSE(form->OptionsPanel->isEnabled()) << "no row to edit";

  dialogs.Messages.clear();
  form->DeleteNetwork->click();
  PressDelete(*form);
  form->CopyNetwork->click();
  EXPECT_EQ(dialogs.Messages, (std::vector<Msg>{{"error", "No network selected"}})) << "only Copy speaks";
  EXPECT_TRUE(form->close());
  EXPECT_EQ(DumpIni(SettingsFile()).find("[Network_"), std::string::npos);
}

TEST_F(NetworksPageTest, AddAndCopyThroughTheWindow) {
  auto form = Start(cTwoNetworks);
  dialogs.Files = {std::nullopt};
  form->AddNetwork->click();
  EXPECT_EQ(dialogs.Messages, (std::vector<Msg>{{"open", "Locate networks"}}));
  EXPECT_EQ(dialogs.OpenFilters, "Kovra 4 networks (kovra_config.ini)");
  EXPECT_EQ(form->NetworkList().Count(), 2) << "a cancelled dialog adds nothing";

  dialogs.Files = {"/data/new net/kovra_config.ini"};
  form->AddNetwork->click();
  EXPECT_EQ(GridIDs(*form), (std::vector<std::string>{"3", "7", "8"}));
  EXPECT_EQ(GridRow(*form), 2);
  EXPECT_EQ(form->NetworkList().Current()->Path, "/data/new net/");
  EXPECT_EQ(form->SpeedEdits[31]->text(), "60");

  ClickRow(*form, 1);
  form->CopyNetwork->click();
  EXPECT_EQ(GridIDs(*form), (std::vector<std::string>{"3", "7", "8", "9"}));
  EXPECT_EQ(GridRow(*form), 3);
  EXPECT_EQ(form->edTurn->text(), "/net/seven/turns.txt");
  EXPECT_EQ(Radio(form->rgExternalID), 2);
}

// Under a German number format speeds show and are stored with ','; a '.'
// typed by habit still posts.
TEST_F(NetworksPageTest, SpeedsInTheRegionalFormat) {
  AppState().Regional = NumberFormatOf(QLocale(QLocale::German, QLocale::Germany));
  auto form = Start("[Network_1]\r\nID=1\r\nPath=/n/\r\nSpeed0=50.5\r\nSpeed2=7,25\r\n");
  EXPECT_EQ(form->SpeedEdits[0]->text(), "50,5");
  EXPECT_EQ(form->SpeedEdits[2]->text(), "7,25");
  Type(form->SpeedEdits[1], "50.5");
  EXPECT_EQ(form->SpeedEdits[1]->text(), "50.5");
  Type(form->SpeedEdits[4], "x");
  EXPECT_EQ(form->SpeedEdits[4]->text(), "") << "the validator drops what can never be a number";
  Type(form->SpeedEdits[4], "3");
  EXPECT_TRUE(form->close());
  const std::string dump = DumpIni(SettingsFile());
  EXPECT_NE(dump.find("\nSpeed0=50,5\nSpeed1=50,5\nSpeed2=7,25\nSpeed3=0\nSpeed4=3\n"), std::string::npos) << dump;
}

// The located file lands in Turn and is posted; a cancelled dialog changes
// neither the row nor the file written at close.
TEST_F(NetworksPageTest, TurnFileButton) {
  {
    auto form = Start(cTwoNetworks);
    EXPECT_TRUE(form->close());
  }
  const std::string untouched = ReadSettings();
  auto form = NewForm();
  const NetworkRow before = *form->NetworkList().Current();
  dialogs.Files = {std::nullopt};
  form->SpeedButton1->click();
  EXPECT_EQ(dialogs.Messages, (std::vector<Msg>{{"open", "Locate networks"}}));
  EXPECT_EQ(dialogs.OpenFilters, "Turn restriction file (*.txt *.TXT);;Turn restriction file (*)");
  EXPECT_EQ(dialogs.OpenFolder, "/net/three/") << "starting in the row's folder";
  EXPECT_EQ(*form->NetworkList().Current(), before);
  EXPECT_FALSE(form->NetworkList().Editing());
  EXPECT_TRUE(form->close());
  EXPECT_EQ(ReadSettings(), untouched);

  auto third = NewForm();
  dialogs.Files = {"/net/three/restrictions.TXT"};
  third->SpeedButton1->click();
  EXPECT_FALSE(third->NetworkList().Editing()) << "posted";
  EXPECT_EQ(third->NetworkList().Current()->Turn, "/net/three/restrictions.TXT");
  EXPECT_EQ(third->edTurn->text(), "/net/three/restrictions.TXT");
  EXPECT_TRUE(third->close());
  EXPECT_NE(DumpIni(SettingsFile()).find("\nTurn=/net/three/restrictions.TXT\n[Network_2]"), std::string::npos);
}

TEST_F(NetworksPageTest, SetListEnabledLocksTheList) {
  auto form = Start(cTwoNetworks);
  auto enabled = [&] {
    return std::vector<bool>{form->DBGrid1->isEnabled(), form->OptionsPanel->isEnabled(),
                             form->AddNetwork->isEnabled(), form->CopyNetwork->isEnabled(),
                             form->DeleteNetwork->isEnabled()};
  };
  EXPECT_EQ(enabled(), std::vector<bool>(5, true));
  form->SetListEnabled(false);
  EXPECT_EQ(enabled(), std::vector<bool>(5, false));
  form->NetworksChanged();
  EXPECT_EQ(enabled(), std::vector<bool>(5, false)) << "a refresh keeps the lock";
  form->SetListEnabled(true);
  EXPECT_EQ(enabled(), std::vector<bool>(5, true));
}
