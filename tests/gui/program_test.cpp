// The tessaly program itself: files named on its command line handled as a drop on the offscreen
// platform, and --help, --version, usage errors and the lack of a display answered with no
// display at all.
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

struct Finished {
  int code = -1;
  std::string out;
  std::string err;
};

Finished RunProgram(const QStringList& arguments, const QProcessEnvironment& environment) {
  QProcess program;
  program.setProcessEnvironment(environment);
  program.start(TESSALY_GUI_PROGRAM, arguments);
  Finished finished;
  if (!program.waitForFinished(60000)) {
    program.kill();
    program.waitForFinished();
    ADD_FAILURE() << "tessaly did not end";
    return finished;
  }
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  finished.code = program.exitCode();
  finished.out = program.readAllStandardOutput().toStdString();
  finished.err = program.readAllStandardError().toStdString();
  return finished;
}

TEST(ProgramTest, FilesOnTheCommandLineAreHandledAsADropAndTheChoiceIsStoredAtExit) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const fs::path root(dir.path().toStdString());
  const fs::path frame = root / "frame.bmp";
  const fs::path folder = root / "more";
  fs::create_directories(folder);
  testing::WriteFrameBmp(frame, testing::GoesSpec(testing::GoesHeader("0915")));
  testing::WriteFramePng(folder / "second.png", testing::GoesSpec(testing::GoesHeader("0916")));
  const QString shot = dir.filePath("window.png");

  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert("QT_QPA_PLATFORM", "offscreen");
  environment.insert("XDG_CONFIG_HOME", dir.filePath("config"));
  const Finished finished =
      RunProgram({QString::fromStdString(frame.string()), QString::fromStdString(folder.string()),
                  "--screenshot", shot},
                 environment);
  EXPECT_EQ(finished.code, 0) << finished.err;

  EXPECT_TRUE(fs::exists(root / testing::GoesName("0915")));
  EXPECT_TRUE(fs::exists(folder / testing::GoesName("0916")));
  const QImage picture(shot);
  EXPECT_EQ(picture.size(), QSize(625, 425));
  EXPECT_TRUE(fs::exists(root / "config" / "Kestrelwood" / "tessaly.conf"));
}

TEST(ProgramTest, HelpVersionAndUsageErrorsNeedNoDisplay) {
  QProcessEnvironment bare = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) bare.remove(name);

  const Finished version = RunProgram({"--version"}, bare);
  EXPECT_EQ(version.code, 0) << version.err;
  EXPECT_EQ(version.out, "tessaly 1.2.2.7\n");

  const Finished help = RunProgram({"--help"}, bare);
  EXPECT_EQ(help.code, 0) << help.err;
  EXPECT_TRUE(help.out.starts_with("Usage: tessaly")) << help.out;

  const Finished wrong = RunProgram({"--frobnicate", "frame.bmp"}, bare);
  EXPECT_EQ(wrong.code, 2);
  EXPECT_TRUE(wrong.out.empty());
  EXPECT_NE(wrong.err.find("unknown option '--frobnicate'"), std::string::npos) << wrong.err;
  EXPECT_NE(wrong.err.find("Usage: tessaly"), std::string::npos) << wrong.err;

  // Without a display the program says so plainly instead of the toolkit aborting it ...
  const Finished headless = RunProgram({"frame.bmp"}, bare);
  EXPECT_EQ(headless.code, 1);
  EXPECT_EQ(headless.err, "tessaly needs a graphical display; use tessaly-cli for batch work\n");
  // ... and a platform named on the command line is still used.
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  bare.insert("XDG_CONFIG_HOME", dir.filePath("config"));
  const Finished offscreen =
      RunProgram({"-platform", "offscreen", "--screenshot", dir.filePath("w.png")}, bare);
  EXPECT_EQ(offscreen.code, 0) << offscreen.err;
  EXPECT_TRUE(QImage(dir.filePath("w.png")).size() == QSize(625, 425));
}

}  // namespace
}  // namespace tessaly
