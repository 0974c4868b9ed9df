// The window's modal boxes behind one interface: the message with an OK button, the Yes/No
// question and the standard error report. The main form shows real boxes; tests answer and
// record through their own implementation.
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QString>

#include <memory>
#include <string>

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
};

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

 private:
  QPointer<QWidget> owner_;
};

}  // namespace tessaly
