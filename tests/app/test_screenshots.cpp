// Pictures of the window as a user sees it, one per tab and the about
// window, into $KOVRA_SCREENSHOT_DIR (build/screenshots). Each is checked by
// ImageMagick's identify: the widget's size, and more than one colour (a
// window that drew nothing is one colour).
#include <QComboBox>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <cstdlib>

#include "app/qt/studio_about.h"
#include "app_fixture.h"
#include "network/support/network_writer.h"
#include "support/gdal_readback.h"

using namespace studio;
using namespace studio::testsupport;

namespace {

class AppScreenshots : public StudioTest {
protected:
  void SetUp() override {
    StudioTest::SetUp();
    const char* folder = std::getenv("KOVRA_SCREENSHOT_DIR");
    ASSERT_NE(folder, nullptr) << "run through the ctest entry app_screenshots";
    FFolder = folder;
    std::filesystem::create_directories(FFolder);
    // Two networks; the second, current after the start's first, has every
    // kind of option set.
    WriteSettings("[main]\r\noutputformat=3\r\nunit=0\r\n[topology]\r\nTurns=1\r\nShortLinksValue=2.5\r\n"
                  "[Network_1]\r\nID=1\r\nPath=/data/networks/london/\r\nAttributes=1\r\nSpatialIndex=1\r\n"
                  "[Network_2]\r\nID=4\r\nPath=/data/networks/south-east/\r\nAttributes=1\r\nCoord3cache=1\r\n"
                  "Encryption=73421\r\nExternalID=2\r\nLimit1=1\r\nLimit3=2\r\nRoadname=1\r\nSpatialIndex=1\r\n" +
                  Speeds() + "Turn=/data/networks/south-east/turns.txt\r\n");
    FForm = NewForm();
    // The second row, as a user picks it.
    FForm->DBGrid1->selectRow(1);
    ScanImportFiles();
  }
  void TearDown() override {
    FForm.reset();
    StudioTest::TearDown();
  }

  void Shoot(QWidget& Widget, const std::string& Name) {
    QCoreApplication::processEvents();
    const QPixmap pix = Widget.grab();
    const std::string file = FFolder + "/" + Name + ".png";
    ASSERT_TRUE(pix.save(QString::fromStdString(file), "PNG")) << file;
    std::string out;
    ASSERT_EQ(kovra::testsupport::RunCommand("identify -format '%w %h %k' '" + file + "'", &out), 0) << out;
    int w = 0, h = 0, colours = 0;
    ASSERT_EQ(std::sscanf(out.c_str(), "%d %d %d", &w, &h, &colours), 3) << out;
    EXPECT_EQ(w, Widget.width()) << Name;
    EXPECT_EQ(h, Widget.height()) << Name;
    EXPECT_GT(colours, 1) << Name << " is one colour";
  }
  void ShootTab(QWidget* Tab, const std::string& Name) {
    FForm->PageControl1->setCurrentWidget(Tab);
    Shoot(*FForm, Name);
  }

  // The import tab with a scanned file set: two MIF files of a county's
  // roads, the usual fields chosen, WGS84.
  void ScanImportFiles() {
    const std::string header =
        "Version 300\nCharset \"WindowsLatin1\"\nDelimiter \",\"\nCoordSys Earth Projection 1, 104\nColumns 8\n"
        "  Link_Id Integer\n  Z_From Smallint\n  Z_To Smallint\n  Road_Class Smallint\n  Name Char(60)\n"
        "  Ref Char(10)\n  Max_Height Decimal(4,1)\n  Survey Date\nData\n";
    for (const char* f : {"roads_north.mif", "roads_south.mif"}) dialogs.Files.push_back(Make(f, header));
    FForm->ImportAddFilesButtonClick();
    FForm->ImportScanFileButtonClick();
    auto choose = [this](TFieldListId id, const char* name) {
      QComboBox* list = FForm->ImportFieldLists[size_t(id)];
      list->setCurrentIndex(list->findText(name));
    };
    choose(TFieldListId::flZFrom, "Z_FROM");
    choose(TFieldListId::flZTo, "Z_TO");
    choose(TFieldListId::flAttribute, "ROAD_CLASS");
    choose(TFieldListId::flRoadname1, "NAME");
    choose(TFieldListId::flRoadname2, "REF");
    choose(TFieldListId::flLimit1, "MAX_HEIGHT");
    choose(TFieldListId::flExternalIDint, "LINK_ID");
    FForm->edImportCoordSys->setText(PresetWGS84().CoordSys);
    FForm->edImportEPSG->setText(QString::number(PresetWGS84().EPSG));
    dialogs.Messages.clear();
  }

  // Speeds by road class as a network of motorways down to tracks might have.
  static std::string Speeds() {
    std::string out;
    for (int c = 0; c < 32; ++c)
      out += "Speed" + std::to_string(c) + "=" + std::to_string(c < 8 ? 110 - 10 * c : c < 16 ? 50 : 30) + "\r\n";
    return out;
  }

  std::string FFolder;
  std::unique_ptr<TForm1> FForm;
};

}  // namespace

TEST_F(AppScreenshots, Networks) { ShootTab(FForm->TabNetworks, "networks"); }
TEST_F(AppScreenshots, Import) { ShootTab(FForm->TabImport, "import"); }
// The report of a network opened from the list: a grid in degrees with
// attribute words and a limit.
TEST_F(AppScreenshots, Statistics) {
  kovra::testsupport::TTestNetworkWriter w;
  w.Unit = kovra::cuDeg;
  w.Epsg = 4326;
  w.AddGrid({12, 12, 0.01, 3, 0.2});
  std::vector<uint8_t> limit(size_t(w.LinkCount()));
  for (int32_t l = 1; l <= w.LinkCount(); ++l) {
    w.SetAttribute(l, uint16_t((l % 7) | (l % 3) << 5 | (l % 11 == 0 ? 512 : 0)));
    limit[size_t(l - 1)] = uint8_t(l % 5 == 0 ? 35 : l % 5 == 1 ? 75 : 0);
  }
  w.SetLimit(1, limit);
  const std::filesystem::path net = dir / "grid";
  std::filesystem::create_directories(net);
  w.Write(net.string());
  NetworkRow row = DefaultNetworkRow();
  row.Path = net.string() + "/";
  row.Limit1 = 1;
  FForm->NetworkList().Append(row, AppState().Regional);
  FForm->NetworksChanged();
  FForm->OpenNetwork->click();
  ASSERT_TRUE(AppState().CurrentNetwork) << (dialogs.Messages.empty() ? "" : dialogs.Messages.back().Text);
  ASSERT_TRUE(FForm->StatisticsMemo->toPlainText().contains("Links: 264"));
  ShootTab(FForm->TabStatistics, "statistics");
}
TEST_F(AppScreenshots, Topology) { ShootTab(FForm->TabTopology, "topology"); }

TEST_F(AppScreenshots, About) {
  TAboutForm& about = FForm->AboutForm();
  QTimer::singleShot(0, [&] {
    Shoot(about, "about");
    about.close();
  });
  about.exec();
}
