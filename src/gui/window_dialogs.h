// The window's modal boxes behind one interface: the message with an OK button, the Yes/No
// question and its form for a run of files, the standard error report, the list of what a run
// could not do, the dialogs that choose pictures or a folder to open, and the one that names a
// picture to save. The main form shows
// real boxes; tests answer and record through their own implementation.
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QString>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/messages.h"

namespace tessaly {

// The answers of the overwrite question asked in a run with more files to come.
enum class RunAnswer { kYes, kNo, kYesToAll, kNoToAll, kStop };

class WindowDialogs {
 public:
  virtual ~WindowDialogs() = default;
  // A modal message with an OK button; the text is shown unchanged.
  virtual void ShowMessage(const std::string& text) = 0;
  // A modal Yes/No question whose default (Enter) answer is No.
  virtual Answer AskYesNo(const std::string& caption, const std::string& text) = 0;
  // The same question with "Yes to all", "No to all" and "Stop" beside Yes and No; Enter and
  // Escape answer No.
  virtual RunAnswer AskInRun(const std::string& caption, const std::string& text) = 0;
  // The standard error report: an error that no handler caught, shown with its text; the
  // program goes on afterwards.
  virtual void ReportError(const std::string& text) = 0;
  // A message with a list behind it (the files a run could not handle, with their reasons).
  virtual void ShowList(const std::string& text, const std::string& list) = 0;
  // The pictures the user chose to open, in the dialog's order; none when it was cancelled.
  virtual std::vector<std::string> ChooseFiles() = 0;
  // The folder the user chose to open; empty when the dialog was cancelled.
  virtual std::string ChooseFolder() = 0;
  // The name the user typed or chose to save the picture under, starting from `suggested`;
  // empty when the dialog was cancelled. Replacing a file is asked about apart.
  virtual std::string ChooseSaveName(const std::string& suggested) = 0;
};

// The overwrite question's caption and text.
inline constexpr char kOverwriteCaption[] = "Overwrite image file?";
// "The file "<name>" already exists. Do you want to overwrite this file?"
std::string OverwriteQuestionText(const std::filesystem::path& name);

inline constexpr char kOpenDialogCaption[] = "Open pictures";
inline constexpr char kOpenFolderCaption[] = "Open a folder of pictures";
inline constexpr char kSaveAsCaption[] = "Save the picture as";
inline constexpr char kSaveAsFilter[] = "PNG pictures (*.png *.PNG)";
inline constexpr char kOpenDialogFilter[] =
    "Pictures (*.bmp *.BMP *.png *.PNG);;BMP pictures (*.bmp *.BMP);;PNG pictures (*.png *.PNG);;"
    "All files (*)";

// The boxes as the window shows them, built apart from showing them so they can be inspected.
// A message: the text unchanged, an OK button, no icon, the application's name as caption.
std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* owner, const QString& text);
// A question: the caption and text given, Yes and No with No the default, no icon.
std::unique_ptr<QMessageBox> MakeQuestionBox(QWidget* owner, const QString& caption,
                                             const QString& text);
// The question in a run: Yes, No, Yes to all, No to all and Stop, No the default.
std::unique_ptr<QMessageBox> MakeRunQuestionBox(QWidget* owner, const QString& caption,
                                                const QString& text);
// An error report: the error's text, an OK button, the error icon, the application's name as
// caption.
std::unique_ptr<QMessageBox> MakeErrorReportBox(QWidget* owner, const QString& text);

// Shows the boxes modally over the owner (or over no window once the owner is gone).
class QtWindowDialogs final : public WindowDialogs {
 public:
  explicit QtWindowDialogs(QWidget* owner) : owner_(owner) {}

  void ShowMessage(const std::string& text) override;
  Answer AskYesNo(const std::string& caption, const std::string& text) override;
  RunAnswer AskInRun(const std::string& caption, const std::string& text) override;
  void ReportError(const std::string& text) override;
  // The first lines of the list in the box, all of it behind its details button.
  void ShowList(const std::string& text, const std::string& list) override;
  // Both open in the folder of the last choice.
  std::vector<std::string> ChooseFiles() override;
  std::string ChooseFolder() override;
  std::string ChooseSaveName(const std::string& suggested) override;

 private:
  QPointer<QWidget> owner_;
  QString lastFolder_;
};

}  // namespace tessaly
