// The about window: program name, version, a support mail link. Created at
// start, shown modally by Help > About, hidden again when closed.
#pragma once

#include <QDialog>

#include "app/core/studio_ports.h"

class QLabel;
class QPushButton;

namespace studio {

class TAboutForm : public QDialog {
  Q_OBJECT

public:
  TAboutForm(const TPorts& Ports, QWidget* Parent);

  // "mailto:" + the support address + subject and body with the version.
  static std::string SupportMailUrl();

  QLabel* ProgramIcon = nullptr;
  QLabel* ProductName = nullptr;
  QLabel* Comments = nullptr;
  QLabel* VersionLabel = nullptr;
  QPushButton* SupportButton = nullptr;

protected:
  void showEvent(QShowEvent* Event) override;
  // A click on the picture or the background closes the window.
  void mousePressEvent(QMouseEvent* Event) override;

private:
  void SupportButtonClick();

  TPorts FPorts;
};

}  // namespace studio
