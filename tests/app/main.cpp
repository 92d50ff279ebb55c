// The desktop program's tests run with a QApplication, offscreen unless
// QT_QPA_PLATFORM names another platform (without a display Qt would abort).
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "app/core/studio_common.h"
#include "app/qt/studio_qtports.h"

int main(int argc, char** argv) {
  // A child started by the tests reports the program's own name.
  if (argc == 2 && std::strcmp(argv[1], "--print-exe-file-name") == 0) {
    std::cout << studio::ExeFileName() << std::endl;
    return 0;
  }
  ::testing::InitGoogleTest(&argc, argv);
  // Listing the tests needs no window system.
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // Whatever a test leaves unset, the user's own settings stay out of reach.
  setenv("XDG_CONFIG_HOME", (studio::ExeFolder() + "config").c_str(), 1);
  QApplication app(argc, argv);
  studio::InitLocale();
  return RUN_ALL_TESTS();
}
