#include "app/qt/studio_about.h"

#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSvgRenderer>

#include "app/core/studio_common.h"
#include "foundation/kovra_functions.h"

namespace studio {

namespace {
constexpr int cPictureSize = 96;

QPixmap Picture() {
  QSvgRenderer svg(QString(":/studio/orvella.svg"));
  QPixmap pix(cPictureSize, cPictureSize);
  pix.fill(Qt::transparent);
  QPainter p(&pix);
  svg.render(&p);
  return pix;
}
}  // namespace

TAboutForm::TAboutForm(const TPorts& Ports, QWidget* Parent)
    : QDialog(Parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      FPorts(Ports) {
  setObjectName("AboutForm");
  setWindowTitle("About Orvella Studio");
  auto* grid = new QGridLayout(this);
  grid->setSizeConstraint(QLayout::SetFixedSize);
  grid->setContentsMargins(16, 16, 16, 16);
  grid->setHorizontalSpacing(16);

  ProgramIcon = new QLabel(this);
  ProgramIcon->setObjectName("ProgramIcon");
  ProgramIcon->setPixmap(Picture());
  grid->addWidget(ProgramIcon, 0, 0, 4, 1, Qt::AlignTop);

  ProductName = new QLabel(cProgramCaption, this);
  ProductName->setObjectName("ProductName");
  QFont big = ProductName->font();
  big.setPointSizeF(big.pointSizeF() * 1.6);
  big.setBold(true);
  ProductName->setFont(big);
  grid->addWidget(ProductName, 0, 1);
  Comments = new QLabel("Road networks from GIS files, ready for routing", this);
  Comments->setObjectName("Comments");
  grid->addWidget(Comments, 1, 1);
  VersionLabel = new QLabel(this);
  VersionLabel->setObjectName("VersionLabel");
  grid->addWidget(VersionLabel, 2, 1);
  SupportButton = new QPushButton("Support", this);
  SupportButton->setObjectName("SupportButton");
  SupportButton->setAutoDefault(false);
  grid->addWidget(SupportButton, 3, 1, Qt::AlignLeft | Qt::AlignBottom);
  connect(SupportButton, &QPushButton::clicked, this, [this] {
    try {
      SupportButtonClick();
    } catch (const std::exception& e) {
      FPorts.Dialogs->error(e.what());
    }
  });
}

std::string TAboutForm::SupportMailUrl() {
  return std::string("mailto:") + cSupportAddress + "?subject=Orvella Studio 1 Support" + "&body=Version " +
         cProgramVersion + "%0A";
}

void TAboutForm::showEvent(QShowEvent* Event) {
  VersionLabel->setText(QString("Version ") + cProgramVersion);
  QDialog::showEvent(Event);
}

void TAboutForm::mousePressEvent(QMouseEvent* Event) {
  // Labels pass their clicks on, so the picture lands here too.
  if (Event->button() == Qt::LeftButton) {
    close();
    return;
  }
  QDialog::mousePressEvent(Event);
}

void TAboutForm::SupportButtonClick() {
  const std::string url = SupportMailUrl();
  // Without a mail program nothing would happen at all: say so.
  if (!FPorts.Shell->openUrl(url)) FPorts.Dialogs->error(kovra::Format(cMsgCouldNotOpen, url));
  close();
}

}  // namespace studio
