// The program's start: the application object, the library modules, the
// data folder, the main window (which makes the about window), the loop.
#include <QApplication>
#include <exception>

#include "app/core/studio_common.h"
#include "app/core/studio_start.h"
#include "app/qt/studio_main.h"
#include "app/qt/studio_qtports.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app.setApplicationName(studio::cProgramName);
  app.setApplicationVersion(studio::cProgramVersion);
  studio::InitLocale();

  studio::QtDialogs dialogs;
  studio::QtShell shell;
  studio::QtHttpGet http;
  try {
    studio::LoadLibraries();
  } catch (const std::exception& e) {
    dialogs.error(e.what());
    return 1;
  }
  studio::InitAppState();

  studio::TForm1 form({&dialogs, &shell, &http});
  studio::Form1 = &form;
  dialogs.SetParentWindow(&form);
  http.SetParentWindow(&form);
  form.show();
  const int status = app.exec();
  studio::Form1 = nullptr;
  return status;
}
