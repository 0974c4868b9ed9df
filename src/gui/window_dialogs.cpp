// Modal message, question and error boxes of the window.
#include "gui/window_dialogs.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>

namespace tessaly {

namespace {

// Texts of the core are UTF-8 (file names included).
QString FromCore(const std::string& text) {
  return QString::fromStdString(text);
}

std::unique_ptr<QMessageBox> MakeBox(QWidget* owner, QMessageBox::Icon icon, const QString& caption,
                                     const QString& text, QMessageBox::StandardButtons buttons) {
  auto box = std::make_unique<QMessageBox>(icon, caption, text, buttons, owner);
  box->setTextFormat(Qt::PlainText);
  box->setWindowModality(Qt::ApplicationModal);
  return box;
}

}  // namespace

std::string OverwriteQuestionText(const std::filesystem::path& name) {
  return "The file \"" + name.string() + "\" already exists. " +
         "Do you want to overwrite this file?";
}

std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* owner, const QString& text) {
  return MakeBox(owner, QMessageBox::NoIcon, QCoreApplication::applicationName(), text,
                 QMessageBox::Ok);
}

std::unique_ptr<QMessageBox> MakeQuestionBox(QWidget* owner, const QString& caption,
                                             const QString& text) {
  auto box = MakeBox(owner, QMessageBox::NoIcon, caption, text, QMessageBox::Yes | QMessageBox::No);
  box->setDefaultButton(QMessageBox::No);
  box->setEscapeButton(QMessageBox::No);
  return box;
}

std::unique_ptr<QMessageBox> MakeRunQuestionBox(QWidget* owner, const QString& caption,
                                                const QString& text) {
  auto box =
      MakeBox(owner, QMessageBox::NoIcon, caption, text,
              QMessageBox::Yes | QMessageBox::No | QMessageBox::YesToAll | QMessageBox::NoToAll);
  box->button(QMessageBox::YesToAll)->setText(QStringLiteral("Yes to &all"));
  box->button(QMessageBox::NoToAll)->setText(QStringLiteral("N&o to all"));
  box->addButton(QStringLiteral("&Stop"), QMessageBox::RejectRole);
  box->setDefaultButton(QMessageBox::No);
  box->setEscapeButton(QMessageBox::No);
  return box;
}

std::unique_ptr<QMessageBox> MakeErrorReportBox(QWidget* owner, const QString& text) {
  return MakeBox(owner, QMessageBox::Critical, QCoreApplication::applicationName(), text,
                 QMessageBox::Ok);
}

void QtWindowDialogs::ShowMessage(const std::string& text) {
  MakeMessageBox(owner_, FromCore(text))->exec();
}

Answer QtWindowDialogs::AskYesNo(const std::string& caption, const std::string& text) {
  const int pressed = MakeQuestionBox(owner_, FromCore(caption), FromCore(text))->exec();
  return pressed == QMessageBox::Yes ? Answer::kYes : Answer::kNo;
}

RunAnswer QtWindowDialogs::AskInRun(const std::string& caption, const std::string& text) {
  const auto box = MakeRunQuestionBox(owner_, FromCore(caption), FromCore(text));
  box->exec();
  switch (box->standardButton(box->clickedButton())) {
    case QMessageBox::Yes:
      return RunAnswer::kYes;
    case QMessageBox::YesToAll:
      return RunAnswer::kYesToAll;
    case QMessageBox::NoToAll:
      return RunAnswer::kNoToAll;
    case QMessageBox::NoButton:  // the one button of its own, Stop
      return box->clickedButton() != nullptr ? RunAnswer::kStop : RunAnswer::kNo;
    default:
      return RunAnswer::kNo;
  }
}

void QtWindowDialogs::ReportError(const std::string& text) {
  MakeErrorReportBox(owner_, FromCore(text))->exec();
}

void QtWindowDialogs::ShowList(const std::string& text, const std::string& list) {
  // A long list would make the box taller than the screen: its start shows, the rest scrolls in
  // the details.
  constexpr int kShownLines = 15;
  const QString all = FromCore(list);
  const QStringList lines = all.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  QString shown =
      FromCore(text) + QStringLiteral("\n\n") + lines.mid(0, kShownLines).join(QLatin1Char('\n'));
  if (lines.size() > kShownLines) {
    shown += QStringLiteral("\n... and %1 more (Show Details)").arg(lines.size() - kShownLines);
  }
  const auto box = MakeMessageBox(owner_, shown);
  if (lines.size() > kShownLines) box->setDetailedText(all);
  box->exec();
}

std::vector<std::string> QtWindowDialogs::ChooseFiles() {
  const QStringList chosen =
      QFileDialog::getOpenFileNames(owner_, QString::fromLatin1(kOpenDialogCaption), lastFolder_,
                                    QString::fromLatin1(kOpenDialogFilter));
  if (!chosen.isEmpty()) lastFolder_ = QFileInfo(chosen.front()).absolutePath();
  std::vector<std::string> files;
  for (const QString& file : chosen) files.push_back(file.toStdString());
  return files;
}

std::string QtWindowDialogs::ChooseFolder() {
  const QString chosen = QFileDialog::getExistingDirectory(
      owner_, QString::fromLatin1(kOpenFolderCaption), lastFolder_);
  if (chosen.isEmpty()) return {};
  lastFolder_ = chosen;
  return chosen.toStdString();
}

std::string QtWindowDialogs::ChooseSaveName(const std::string& suggested) {
  // The window asks its own question before a file is replaced.
  const QString chosen = QFileDialog::getSaveFileName(
      owner_, QString::fromLatin1(kSaveAsCaption), QString::fromStdString(suggested),
      QString::fromLatin1(kSaveAsFilter), nullptr, QFileDialog::DontConfirmOverwrite);
  return chosen.toStdString();
}

}  // namespace tessaly
