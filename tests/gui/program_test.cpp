// The tessaly program itself, run with its testing aids on the offscreen platform: it handles a
// frame as a drop would, saves its output, pictures its window and ends.
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>

#include "gui_test_support.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

TEST(ProgramTest, ProcessesAFrameSavesItsWindowPictureAndStoresTheChoiceAtExit) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const fs::path root(dir.path().toStdString());
  const fs::path frame = root / "frame.bmp";
  testing::WriteFrameBmp(frame, testing::GoesSpec(testing::GoesHeader("0915")));
  const QString shot = dir.filePath("window.png");

  QProcess program;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("QT_QPA_PLATFORM", "offscreen");
  environment.insert("XDG_CONFIG_HOME", dir.filePath("config"));
  program.setProcessEnvironment(environment);
  program.start(TESSALY_GUI_PROGRAM,
                {"--process", QString::fromStdString(frame.string()), "--screenshot", shot});
  ASSERT_TRUE(program.waitForFinished(60000));
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();

  EXPECT_TRUE(fs::exists(root / testing::GoesName("0915")));
  const QImage picture(shot);
  EXPECT_EQ(picture.size(), QSize(625, 425));
  EXPECT_TRUE(fs::exists(root / "config" / "Kestrelwood" / "tessaly.conf"));
}

}  // namespace
}  // namespace tessaly
