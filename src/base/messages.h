// The seam through which the core talks to the user: plain messages and
// yes/no questions. The window answers with modal boxes, the command-line
// tool on the terminal, tests with recorders.
#pragma once

#include <string>

namespace tessaly {

enum class Answer { kYes, kNo };

class MessageService {
 public:
  virtual ~MessageService() = default;
  // A modal message with an OK button; the text is shown unchanged.
  virtual void ShowMessage(const std::string& text) = 0;
  // A modal Yes/No question whose default (Enter) answer is No.
  virtual Answer AskYesNo(const std::string& caption, const std::string& text) = 0;
};

}  // namespace tessaly
