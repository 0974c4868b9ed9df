// tessaly: the desktop window. Files arrive only by being dropped on the left pane.
//
// Testing aids, not for users: "--process FILE" (repeatable) handles FILE as if it had been
// dropped on the left pane once the window is shown, and "--screenshot PNG" then saves a picture
// of the window's client area to PNG and ends the program.
#include <QApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QStringList>
#include <QTimer>

#include <csignal>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "gui/main_form.h"
#include "gui/picture_formats.h"

namespace {

constexpr int kSettleMilliseconds = 500;

struct TestingAids {
  std::vector<std::string> process;
  std::optional<QString> screenshot;
};

TestingAids ReadTestingAids(const QStringList& arguments) {
  TestingAids aids;
  for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
    if (arguments[i] == "--process")
      aids.process.push_back(arguments[++i].toStdString());
    else if (arguments[i] == "--screenshot")
      aids.screenshot = arguments[++i];
  }
  return aids;
}

// Handles the files as a drop would; a picture is taken once the window has settled.
void RunTestingAids(tessaly::TFormQuillet& form, const TestingAids& aids) {
  if (!aids.process.empty()) {
    try {
      form.ProcessDroppedNames(aids.process);
    } catch (const std::exception& error) {
      tessaly::MakeErrorReportBox(&form, QString::fromStdString(error.what()))->exec();
    }
  }
  if (!aids.screenshot) return;
  // Freshly shown controls are polished through queued events; a grab before them shows blanks.
  QTimer::singleShot(kSettleMilliseconds, &form, [&form, path = *aids.screenshot] {
    QApplication::exit(form.grab().save(path, "PNG") ? 0 : 1);
  });
}

}  // namespace

int main(int argc, char** argv) {
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
  const TestingAids aids = ReadTestingAids(QApplication::arguments());
  if (!aids.process.empty() || aids.screenshot) {
    QTimer::singleShot(0, &*form, [&form, &aids] { RunTestingAids(*form, aids); });
  }
  return QApplication::exec();
}
