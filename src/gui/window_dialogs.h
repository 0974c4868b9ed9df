// The window's modal boxes behind one interface: the message with an OK button, the Yes/No
// question, the standard error report and the dialog that chooses pictures to open. The main form
// shows real boxes; tests answer and record through their own implementation.
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

class WindowDialogs {
 public:
  virtual ~WindowDialogs() = default;
  // A modal message with an OK button; the text is shown unchanged.
  virtual void ShowMessage(const std::string& text) = 0;
  // A modal Yes/No question whose default (Enter) answer is No.
  virtual Answer AskYesNo(const std::string& caption, const std::string& text) = 0;
  // The standard error report: an error that no handler caught, shown with its text; the
  // program goes on afterwards.
  virtual void ReportError(const std::string& text) = 0;
  // The pictures the user chose to open, in the dialog's order; none when it was cancelled.
  virtual std::vector<std::string> ChooseFiles() = 0;
};

// The overwrite question's caption and text.
inline constexpr char kOverwriteCaption[] = "Overwrite image file?";
// "The file "<name>" already exists. Do you want to overwrite this file?"
std::string OverwriteQuestionText(const std::filesystem::path& name);

inline constexpr char kOpenDialogCaption[] = "Open pictures";
inline constexpr char kOpenDialogFilter[] =
    "Pictures (*.bmp *.BMP *.png *.PNG);;BMP pictures (*.bmp *.BMP);;PNG pictures (*.png *.PNG);;"
    "All files (*)";

// The boxes as the window shows them, built apart from showing them so they can be inspected.
// A message: the text unchanged, an OK button, no icon, the application's name as caption.
std::unique_ptr<QMessageBox> MakeMessageBox(QWidget* owner, const QString& text);
// A question: the caption and text given, Yes and No with No the default, no icon.
std::unique_ptr<QMessageBox> MakeQuestionBox(QWidget* owner, const QString& caption,
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
  void ReportError(const std::string& text) override;
  // Opens in the folder of the last choice.
  std::vector<std::string> ChooseFiles() override;

 private:
  QPointer<QWidget> owner_;
  QString lastFolder_;
};

}  // namespace tessaly
