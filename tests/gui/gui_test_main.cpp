// Runs the window tests on Qt's offscreen platform with the project's picture readers registered.
#include <QApplication>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include "gui/picture_formats.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QStandardPaths::setTestModeEnabled(true);
  QApplication app(argc, argv);
  tessaly::RegisterPictureFormats();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
