// The "Import" tab offscreen, with fake dialogs: the file list, Scan, the
// field lists, and Go end to end on inputs made by ogr2ogr, opened back
// with the library.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <set>

#include "app_fixture.h"
#include "network/kovra_network.h"
#include "support/gdal_readback.h"

using namespace studio;
using namespace studio::testsupport;
using kovra::testsupport::ReadBytes;
using kovra::testsupport::RunCommand;
using kovra::testsupport::WriteBytes;
using Msg = FakeDialogs::TMessage;
using enum TFieldListId;
namespace fs = std::filesystem;

namespace {

class ImportPageTest : public StudioTest {
protected:
  void SetUp() override {
    StudioTest::SetUp();
    form = NewForm();
    form->PageControl1->setCurrentWidget(form->TabImport);
  }
  void TearDown() override {
    form.reset();
    StudioTest::TearDown();
  }

  void AddFiles(const std::vector<std::string>& Files) {
    for (const std::string& f : Files) dialogs.Files.push_back(f);
    QTest::mouseClick(form->ImportAddFilesButton, Qt::LeftButton);
    dialogs.Files.clear();
  }
  std::vector<std::string> Listed() const { return form->ImportFiles(); }
  void SelectOutput(const std::string& Folder) {
    fs::create_directories(Folder);
    dialogs.Files.push_back(Folder);
    QTest::mouseClick(form->sbImportOutputSelect, Qt::LeftButton);
  }
  void Scan() { QTest::mouseClick(form->ImportScanFileButton, Qt::LeftButton); }
  void Go() { QTest::mouseClick(form->GoButton, Qt::LeftButton); }
  QComboBox* List(TFieldListId id) const { return form->ImportFieldLists[size_t(id)]; }
  // Chooses the entry named Name; fails when it is not listed.
  void Choose(TFieldListId id, const char* Name) {
    const int i = List(id)->findText(Name);
    ASSERT_GT(i, 0) << Name << " not in " << cFieldListCaptions[size_t(id)];
    List(id)->setCurrentIndex(i);
  }
  std::vector<std::string> Entries(TFieldListId id) const {
    std::vector<std::string> out;
    for (int i = 0; i < List(id)->count(); ++i) out.push_back(List(id)->itemText(i).toStdString());
    return out;
  }
  std::vector<Msg> Errors() const {
    std::vector<Msg> out;
    for (const Msg& m : dialogs.Messages)
      if (m.Kind == "error" || m.Kind == "information") out.push_back(m);
    return out;
  }
  static std::set<std::string> FolderFiles(const std::string& Folder) {
    std::set<std::string> out;
    if (fs::exists(Folder))
      for (const auto& e : fs::directory_iterator(Folder)) out.insert(e.path().filename().string());
    return out;
  }

  std::unique_ptr<TForm1> form;
};

}  // namespace

TEST_F(ImportPageTest, StartsWithTheDesignState) {
  EXPECT_EQ(form->lbImportOutput->text(), "< not set >");
  EXPECT_TRUE(form->ImportAddFilesButton->isEnabled());
  EXPECT_FALSE(form->ImportScanFileButton->isEnabled());
  EXPECT_FALSE(form->sbImportOutputSelect->isEnabled());
  EXPECT_FALSE(form->GoButton->isEnabled());
  EXPECT_EQ(form->edMaxNodesPerCell->text(), "50");
  EXPECT_EQ(form->edEncryptionKey->text(), "0");
  EXPECT_FALSE(form->cbAllowLoops->isChecked());
  ASSERT_EQ(form->ImportCodePageList->count(), 40);
  EXPECT_EQ(form->ImportCodePageList->currentIndex(), 0);
  EXPECT_EQ(form->ImportCodePageList->itemText(26).toStdString(), "1252 \u2014 West European Latin");
  for (QComboBox* list : form->ImportFieldLists) EXPECT_EQ(list->count(), 0) << "empty until a Scan";
  EXPECT_EQ(form->ImportAddFilesButton->toolTip(), "Only one type (TAB, SHP, MIF) at a time");
  EXPECT_EQ(List(flAttribute)->toolTip(), "Values should be integers from 0 to 65535");
}

TEST_F(ImportPageTest, AddFilesKeepsOneKindAndSetsTheOutputFolder) {
  AddFiles({"/in/a.shp", "/in/b.SHP", "/in/c.tab"});
  EXPECT_EQ(Listed(), (std::vector<std::string>{"/in/a.shp", "/in/b.SHP"}));
  EXPECT_EQ(form->lbImportOutput->text(), "/in/");
  EXPECT_TRUE(form->ImportScanFileButton->isEnabled());
  EXPECT_TRUE(form->sbImportOutputSelect->isEnabled());
  AddFiles({"/other/d.mif"});
  EXPECT_EQ(Listed().size(), 2u) << "a later dialog adds nothing of another kind";
  EXPECT_EQ(form->lbImportOutput->text(), "/in/") << "the first file's folder";
  AddFiles({"/in/a.shp"});
  EXPECT_EQ(Listed().size(), 3u) << "duplicates are allowed";
  // A cancelled dialog changes nothing.
  form->lbImportOutput->setText("/mine/");
  AddFiles({});
  EXPECT_EQ(form->lbImportOutput->text(), "/mine/");
}

TEST_F(ImportPageTest, DeleteKeyRemovesTheSelectedFiles) {
  AddFiles({"/in/1.mif", "/in/2.mif", "/in/3.mif", "/in/4.mif", "/in/5.mif"});
  QListWidget* box = form->ImportFileListBox;
  box->setFocus();
  box->setCurrentRow(3, QItemSelectionModel::ClearAndSelect);
  box->setCurrentRow(4, QItemSelectionModel::Select);
  QTest::keyClick(box, Qt::Key_Delete);
  EXPECT_EQ(Listed(), (std::vector<std::string>{"/in/1.mif", "/in/2.mif", "/in/3.mif"}));
  ASSERT_EQ(box->selectedItems().size(), 1);
  EXPECT_EQ(box->selectedItems()[0]->text(), "/in/3.mif") << "the last file is selected";
  EXPECT_TRUE(form->ImportScanFileButton->isEnabled());

  box->selectAll();
  QTest::keyClick(box, Qt::Key_Delete);
  EXPECT_TRUE(Listed().empty());
  EXPECT_FALSE(form->ImportScanFileButton->isEnabled());
  EXPECT_FALSE(form->sbImportOutputSelect->isEnabled());
}

TEST_F(ImportPageTest, ScanFillsTheListsFromTheMifHeader) {
  Scan();  // disabled: a click does nothing
  EXPECT_TRUE(dialogs.Messages.empty());
  form->ImportScanFileButtonClick();
  EXPECT_EQ(dialogs.Messages, (std::vector<Msg>{{"information", "Add one more files first"}}));

  const std::string mif = Make("r.MIF", "Version 300\nCharset \"WindowsLatin1\"\nColumns 3\n  Name Char(30)\n"
                                        "  Born DateTime\n  Class Smallint\nData\n");
  AddFiles({mif});
  Scan();
  EXPECT_EQ(Entries(flRoadname2), (std::vector<std::string>{"<pick a field>", "NAME"}));
  EXPECT_EQ(Entries(flLimit3), (std::vector<std::string>{"<pick a field>", "CLASS"}));
  EXPECT_EQ(List(flLimit3)->itemData(1).toInt(), 2) << "the column number, skipped ones counted";
  EXPECT_EQ(List(flExternalIDstring)->itemData(1).toInt(), 0);
  EXPECT_EQ(AppState().ImportCodePage, 1252);
  EXPECT_TRUE(form->GoButton->isEnabled());

  // The two external-id lists exclude each other.
  List(flExternalIDstring)->setCurrentIndex(1);
  List(flExternalIDint)->setCurrentIndex(1);
  EXPECT_EQ(List(flExternalIDstring)->currentIndex(), 0);
  List(flExternalIDstring)->setCurrentIndex(1);
  EXPECT_EQ(List(flExternalIDint)->currentIndex(), 0);

  // A failing Scan leaves "<pick a field>" and the code page at 0.
  WriteBytes(mif, "Columns x\n");
  Scan();
  EXPECT_EQ(dialogs.Messages.back(), (Msg{"error", "'X' is not a valid integer value"}));
  EXPECT_EQ(Entries(flRoadname2), (std::vector<std::string>{"<pick a field>"}));
  EXPECT_EQ(AppState().ImportCodePage, 0);
}

TEST_F(ImportPageTest, DigitFieldsTakeDigitsOnlyAndPresetsFillTheTexts) {
  QLineEdit* key = form->edEncryptionKey;
  key->clear();
  key->setFocus();
  QTest::keyClicks(key, "4a7-1");
  EXPECT_EQ(key->text(), "471");
  key->clear();
  key->insert("12ab");  // as a paste does
  EXPECT_EQ(key->text(), "");
  key->insert("4711");
  EXPECT_EQ(key->text(), "4711");
  form->edMaxNodesPerCell->clear();
  form->edMaxNodesPerCell->insert("1.5");
  EXPECT_EQ(form->edMaxNodesPerCell->text(), "");

  QTest::mouseClick(form->btBNG, Qt::LeftButton);
  EXPECT_EQ(form->edImportEPSG->text(), "27700");
  EXPECT_EQ(form->edImportPrj->text().toStdString(), PresetBNG().Prj);
  EXPECT_TRUE(form->edImportCoordSys->text().startsWith("CoordSys Earth Projection 8, 79"));
  QTest::mouseClick(form->btWGS84, Qt::LeftButton);
  EXPECT_EQ(form->edImportEPSG->text(), "4326");
  EXPECT_EQ(form->edImportCoordSys->text(), "CoordSys Earth Projection 1, 104");
  EXPECT_TRUE(form->edImportPrj->text().startsWith("GEOGCS[\"GCS_WGS_1984\""));
}

// ---------------------------------------------------------------------------
// Go end to end

namespace {

struct TRoad {
  int z_from, z_to, attr;
  const char* name1;
  int lim1, ext_int;
  const char* ext_txt;
  double x1, y1, x2, y2;
};

// A small network in degrees: a square with a diagonal and a spur.
const TRoad cRoads[] = {
    {0, 0, 65535, "Straße der Einheit", 0, 1001, "r-1", 0, 0, 0.01, 0},
    {0, 0, 17, "\u041d\u0435\u0432\u0441\u043a\u0438\u0439 \u043f\u0440\u043e\u0441\u043f\u0435\u043a\u0442", 255,
     1002, "r-2", 0.01, 0, 0.01, 0.01},
    {0, 1, 0, "Main Street", 3, 1003, "r-3", 0.01, 0.01, 0, 0.01},
    {1, 0, 4096, "", 12, 1004, "r-4", 0, 0.01, 0, 0},
    {0, 0, 300, "Straße der Einheit", 7, 1005, "r-5", 0, 0, 0.01, 0.01},
    {0, 0, 1, "Côte d'Azur", 200, 1006, "r-6", 0.01, 0.01, 0.02, 0.02},
};
constexpr int cRoadCount = int(std::size(cRoads));

std::string GeoJson(bool CyrillicOnly = false) {
  std::string out = "{\"type\":\"FeatureCollection\",\"features\":[\n";
  for (int i = 0; i < cRoadCount; ++i) {
    const TRoad& r = cRoads[i];
    std::string name = r.name1;
    if (CyrillicOnly && i != 1) name = "Road " + std::to_string(i + 1);
    out += std::string(i ? ",\n" : "") + "{\"type\":\"Feature\",\"properties\":{" +
           "\"z_from\":" + std::to_string(r.z_from) + ",\"z_to\":" + std::to_string(r.z_to) +
           ",\"attr\":" + std::to_string(r.attr) + ",\"name1\":\"" + name + "\",\"lim1\":" +
           std::to_string(r.lim1) + ",\"ext_int\":" + std::to_string(r.ext_int) + ",\"ext_txt\":\"" + r.ext_txt +
           "\"},\"geometry\":{\"type\":\"LineString\",\"coordinates\":[[" + std::to_string(r.x1) + "," +
           std::to_string(r.y1) + "],[" + std::to_string(r.x2) + "," + std::to_string(r.y2) + "]]}}";
  }
  return out + "\n]}\n";
}

class ImportGoTest : public ImportPageTest {
protected:
  // ogr2ogr makes the input from the GeoJSON; returns the input file.
  std::string MakeInput(const std::string& Kind, const std::string& Options, const std::string& Json) {
    const std::string folder = (dir / ("in_" + Kind)).string();
    fs::create_directories(folder);
    const std::string json = folder + "/roads.geojson";
    WriteBytes(json, Json);
    const std::string file = folder + "/roads." + Kind;
    std::string out;
    EXPECT_EQ(RunCommand("ogr2ogr " + Options + " '" + file + "' '" + json + "' 2>&1", &out), 0) << out;
    return file;
  }
  // Every list chosen; the external id by number or by text.
  void ChooseAll(bool IdAsText) {
    Choose(flZFrom, "Z_FROM");
    Choose(flZTo, "Z_TO");
    Choose(flAttribute, "ATTR");
    Choose(flRoadname1, "NAME1");
    Choose(flRoadname2, "EXT_TXT");
    Choose(flRoadname3, "NAME1");
    Choose(flLimit1, "LIM1");
    Choose(flLimit2, "Z_TO");
    Choose(flLimit3, "LIM1");
    Choose(IdAsText ? flExternalIDstring : flExternalIDint, IdAsText ? "EXT_TXT" : "EXT_INT");
  }
  // Opens the network with the library and compares every link with the roads.
  void ExpectNetwork(const std::string& Folder, int32_t Key, bool IdAsText, bool CyrillicOnly = false) {
    kovra::TNetwork net;
    net.SetDirectory(Folder);
    net.SetEncryptionKey(Key);
    net.Open(true, false, true, 1);
    ASSERT_EQ(net.LinkCount(), cRoadCount);
    net.OpenRoadName(1, true);
    net.OpenRoadName(2, true);
    net.OpenLimit(1, 1, false);
    net.OpenLimit(2, 2, false);
    for (int i = 1; i <= cRoadCount; ++i) {
      const TRoad& r = cRoads[i - 1];
      SCOPED_TRACE("link " + std::to_string(i));
      EXPECT_EQ(net.Attributes()[size_t(i)], r.attr);
      EXPECT_EQ(net.GetLimit(1, i), r.lim1);
      EXPECT_EQ(net.GetLimit(2, i), r.z_to);
      const std::string name = CyrillicOnly && i != 2 ? "Road " + std::to_string(i) : r.name1;
      EXPECT_EQ(net.Link2RoadName(1, i), name);
      EXPECT_EQ(net.Link2RoadName(2, i), r.ext_txt);
      EXPECT_EQ(net.Link2ExternalID(i), IdAsText ? r.ext_txt : std::to_string(r.ext_int));
    }
  }
  // The network files Go leaves with every list chosen.
  static std::set<std::string> CompleteFolder() {
    return {"attribute.bin",  "coord.bin",      "coord3.bin",      "coord3i.bin",    "index1.bin",
            "index2.bin",     "kovra_config.ini", "length.bin",    "limit1.bin",     "limit2.bin",
            "limit3.bin",     "link.bin",       "network_report.txt", "node.bin",    "roadname01.bin",
            "roadname02.bin", "roadname03.bin", "roadnumber01.bin", "roadnumber02.bin", "roadnumber03.bin",
            "spatialindex.bin"};
  }
};

}  // namespace

TEST_F(ImportGoTest, EveryFormatEveryListPlainAndEnciphered) {
  struct Case {
    const char* kind;
    std::string options;
    int codePageEntry;  // 0: auto-detect
  } cases[] = {
      {"shp", "-lco ENCODING=UTF-8", 0},  // a .cpg "UTF-8" beside the table
      {"mif", "-f 'MapInfo File' -dsco FORMAT=MIF", 39},
      {"tab", "-f 'MapInfo File'", 39},
  };
  for (const Case& c : cases) {
    const std::string input = MakeInput(c.kind, c.options, GeoJson());
    // GDAL declares no character set it knows for UTF-8 text: the header
    // (.mif) or table definition (.tab) is made to say so.
    if (std::string(c.kind) != "shp") {
      std::string text = ReadBytes(input);
      const std::string neutral = "Neutral";
      ASSERT_NE(text.find(neutral), std::string::npos) << text.substr(0, 200);
      for (size_t at; (at = text.find(neutral)) != std::string::npos;) text.replace(at, neutral.size(), "UTF-8");
      WriteBytes(input, text);
    }
    for (const int32_t key : {0, 4711}) {
      const bool idAsText = key != 0;
      SCOPED_TRACE(std::string(c.kind) + " key " + std::to_string(key));
      form->ImportFileListBox->clear();
      AddFiles({input});
      const std::string out = (dir / ("out_" + std::string(c.kind) + std::to_string(key))).string() + "/";
      SelectOutput(out);
      EXPECT_EQ(form->lbImportOutput->text().toStdString(), out);
      Scan();
      ChooseAll(idAsText);
      form->ImportCodePageList->setCurrentIndex(c.codePageEntry);
      form->edEncryptionKey->setText(QString::number(key));
      const int rows = form->NetworkList().Count();
      dialogs.Messages.clear();
      Go();
      ASSERT_EQ(Errors(), std::vector<Msg>{});
      EXPECT_EQ(FolderFiles(out), CompleteFolder());
      EXPECT_EQ(fs::file_size(out + "attribute.bin"), 2u * cRoadCount);
      ExpectNetwork(out, key, idAsText);

      ASSERT_EQ(form->NetworkList().Count(), rows + 1);
      const NetworkRow& row = *form->NetworkList().Current();
      EXPECT_EQ(row.Path, out);
      EXPECT_EQ(row.Encryption, key);
      EXPECT_TRUE(row.Attributes);
      EXPECT_TRUE(row.SpatialIndex);
      EXPECT_EQ(row.ID, form->NetworkList().HighestID());
      EXPECT_NE(ReadBytes(out + "network_report.txt").find("Links in database: 6"), std::string::npos);
    }
  }
}

TEST_F(ImportGoTest, AScanOfACyrillicMifDoesNotCarryOverToAShapefile) {
  // First a MIF in WindowsCyrillic is scanned (its code page noted) ...
  const std::string mif = MakeInput("mif", "-f 'MapInfo File' -dsco FORMAT=MIF -lco ENCODING=CP1251", GeoJson(true));
  ASSERT_NE(ReadBytes(mif).find("Charset \"WindowsCyrillic\""), std::string::npos);
  AddFiles({mif});
  Scan();
  EXPECT_EQ(AppState().ImportCodePage, 1251);
  // ... then a shapefile whose .cpg says UTF-8 is imported under auto-detect.
  form->ImportFileListBox->clear();
  const std::string shp = MakeInput("shp", "-lco ENCODING=UTF-8", GeoJson());
  AddFiles({shp});
  const std::string out = (dir / "out").string() + "/";
  SelectOutput(out);
  Scan();
  EXPECT_EQ(AppState().ImportCodePage, 0);
  ChooseAll(false);
  Go();
  ASSERT_EQ(Errors(), std::vector<Msg>{});
  ExpectNetwork(out, 0, false);
}

TEST_F(ImportGoTest, TheMidRecordCheck) {
  // A MIF of 100 two-point lines, written here, with MID files of 99 lines,
  // 100 lines and 100 lines followed by a blank line.
  const std::string folder = (dir / "count").string();
  fs::create_directories(folder);
  std::string mif = "Version 300\nCharset \"WindowsLatin1\"\nDelimiter \",\"\nColumns 1\n  attr Integer\nData\n";
  for (int i = 0; i < 100; ++i)
    mif += "Line " + std::to_string(i) + " 0 " + std::to_string(i + 1) + " 0\n";
  const std::string file = folder + "/roads.mif";
  WriteBytes(file, mif);
  auto mid = [](int lines, const char* end) {
    std::string s;
    for (int i = 0; i < lines; ++i) s += std::to_string(i) + "\r\n";
    return s + end;
  };
  WriteBytes(folder + "/roads.mid", mid(99, ""));
  AddFiles({file});
  Scan();
  Choose(flAttribute, "ATTR");
  const std::string out = (dir / "out").string() + "/";
  SelectOutput(out);
  dialogs.Messages.clear();
  Go();
  EXPECT_EQ(Errors(), (std::vector<Msg>{{"error", "The MIF and MID files do not have the same number of records"}}));
  const std::set<std::string> files = FolderFiles(out);
  EXPECT_TRUE(files.count("kovra_config.ini")) << "the network files stay";
  EXPECT_FALSE(files.count("attribute.bin"));
  EXPECT_EQ(form->NetworkList().Count(), 0) << "no row";

  for (const char* end : {"", "\r\n"}) {
    SCOPED_TRACE(end[0] ? "a blank last line" : "100 lines");
    WriteBytes(folder + "/roads.mid", mid(100, end));
    dialogs.Messages.clear();
    Go();
    EXPECT_EQ(Errors(), std::vector<Msg>{});
    EXPECT_EQ(fs::file_size(out + "attribute.bin"), 200u);
  }
  EXPECT_EQ(form->NetworkList().Count(), 2);
}

TEST_F(ImportGoTest, GoStopsBeforeWritingOnBadInput) {
  const std::string shp = MakeInput("shp", "-lco ENCODING=UTF-8", GeoJson());
  AddFiles({shp});
  const std::string out = (dir / "out").string() + "/";
  SelectOutput(out);
  auto expectStop = [&](const std::string& message) {
    dialogs.Messages.clear();
    form->Guarded([&] { form->GoButtonClick(); });
    EXPECT_EQ(Errors(), (std::vector<Msg>{{"error", message}}));
    EXPECT_TRUE(FolderFiles(out).empty()) << message;
    EXPECT_EQ(form->NetworkList().Count(), 0);
  };
  // Go is enabled by a Scan only; the handler itself also refuses.
  EXPECT_FALSE(form->GoButton->isEnabled());
  expectStop("Scan the input files first (Scan Files)");

  Scan();
  form->edImportEPSG->setText("abc");
  expectStop("'abc' is not a valid integer value");
  form->edImportEPSG->setText("");
  form->edEncryptionKey->setText("99999999999");
  expectStop("'99999999999' is not a valid integer value");
  form->edEncryptionKey->setText("0");

  // A loop question answered No: nothing happens.
  form->cbAllowLoops->setChecked(true);
  dialogs.Answers = {false};
  dialogs.Messages.clear();
  form->Guarded([&] { form->GoButtonClick(); });
  EXPECT_EQ(dialogs.Messages, (std::vector<Msg>{{"question", "Are you really sure loop links should be allowed?"}}));
  EXPECT_TRUE(FolderFiles(out).empty());
  form->cbAllowLoops->setChecked(false);

  // One record more in the table than entries in the index.
  const std::string shx = (fs::path(shp).parent_path() / "roads.shx").string();
  std::string bytes = ReadBytes(shx);
  WriteBytes(shx, bytes.substr(0, bytes.size() - 8));
  expectStop("This file isn't valid: " + shp);
}
