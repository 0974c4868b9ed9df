// tessaly: the desktop window. Files arrive by being dropped on the left pane, chosen with
// Ctrl+O, or named on the command line, which handles them as one drop once the window is shown.
// "--catalog FILE" names the archive catalogue of the day's contact sheets, which is remembered.
// --help and --version are answered before any display is needed; without a display the program
// says so and ends with status 1.
//
// Testing aids, not for users: "--process FILE" (repeatable) is another way to name a file, and
// "--screenshot PNG" saves a picture of the window's client area to PNG once the files are
// handled and ends the program.
#include <QApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QTimer>

#include <csignal>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "gui/command_line.h"
#include "gui/main_form.h"
#include "gui/picture_formats.h"

namespace {

constexpr int kSettleMilliseconds = 500;
constexpr int kNoDisplayStatus = 1;
constexpr int kUsageErrorStatus = 2;

// Takes the catalogue, then handles the files as a drop would; a picture is taken once the
// window has settled.
void RunCommandLine(tessaly::TFormQuillet& form, const tessaly::CommandLine& line) {
  if (line.catalog) form.UseCatalog(*line.catalog);
  if (!line.files.empty()) form.OpenFiles(line.files);
  if (!line.screenshot) return;
  // Freshly shown controls are polished through queued events; a grab before them shows blanks.
  QTimer::singleShot(kSettleMilliseconds, &form,
                     [&form, path = QString::fromStdString(*line.screenshot)] {
                       QApplication::exit(form.grab().save(path, "PNG") ? 0 : 1);
                     });
}

}  // namespace

int main(int argc, char** argv) {
  const tessaly::CommandLine line =
      tessaly::ParseCommandLine(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc));
  switch (line.action) {
    case tessaly::CommandLine::Action::kHelp:
      std::cout << tessaly::HelpText();
      return 0;
    case tessaly::CommandLine::Action::kVersion:
      std::cout << tessaly::VersionText();
      return 0;
    case tessaly::CommandLine::Action::kUsageError:
      std::cerr << "tessaly: " << line.error << "\n"
                << tessaly::UsageText() << "Try 'tessaly --help' for more information.\n";
      return kUsageErrorStatus;
    case tessaly::CommandLine::Action::kRun:
      break;
  }

  // Checked before the application object is made, which would abort the program instead.
  if (!tessaly::HasDisplay(line, [](const char* name) { return std::getenv(name); })) {
    std::cerr << "tessaly needs a graphical display; use tessaly-cli for batch work\n";
    return kNoDisplayStatus;
  }

  // Past a file-size limit a save then fails with a message instead of ending the program.
  std::signal(SIGXFSZ, SIG_IGN);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tessaly"));
  tessaly::RegisterPictureFormats();
  std::optional<tessaly::TFormQuillet> form;
  try {
    form.emplace();
  } catch (const std::exception& error) {
    tessaly::MakeErrorReportBox(nullptr, QString::fromStdString(error.what()))->exec();
    return 1;
  }
  form->show();
  if (!line.files.empty() || line.screenshot || line.catalog) {
    QTimer::singleShot(0, &*form, [&form, &line] { RunCommandLine(*form, line); });
  }
  return QApplication::exec();
}
