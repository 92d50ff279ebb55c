// Pictures of the window as a user sees it, one per tab and the about
// window, into $KOVRA_SCREENSHOT_DIR (build/screenshots). Each is checked by
// ImageMagick's identify: the widget's size, and more than one colour (a
// window that drew nothing is one colour).
#include <QPixmap>
#include <QTabWidget>
#include <QTimer>
#include <cstdlib>

#include "app/qt/studio_about.h"
#include "app_fixture.h"
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
    WriteSettings("[main]\r\noutputformat=3\r\nunit=0\r\n[topology]\r\nTurns=1\r\nShortLinksValue=2.5\r\n");
    FForm = NewForm();
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

  std::string FFolder;
  std::unique_ptr<TForm1> FForm;
};

}  // namespace

TEST_F(AppScreenshots, Networks) { ShootTab(FForm->TabNetworks, "networks"); }
TEST_F(AppScreenshots, Import) { ShootTab(FForm->TabImport, "import"); }
TEST_F(AppScreenshots, Statistics) { ShootTab(FForm->TabStatistics, "statistics"); }
TEST_F(AppScreenshots, Topology) { ShootTab(FForm->TabTopology, "topology"); }

TEST_F(AppScreenshots, About) {
  TAboutForm& about = FForm->AboutForm();
  QTimer::singleShot(0, [&] {
    Shoot(about, "about");
    about.close();
  });
  about.exec();
}
