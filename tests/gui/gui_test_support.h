// Shared pieces of the window tests: a recording stand-in for the modal boxes, a per-user store
// in a temporary folder, and writers of test pictures (synthetic WEFAX frames and plain ones).
#pragma once

#include <QMimeData>
#include <QString>
#include <QStringList>

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framegen/framegen.h"
#include "gui/window_dialogs.h"
#include "picture_store/bitmap.h"

namespace tessaly::testing {

// Answers questions from a queue (No once it is empty) and records everything it is shown. The
// question of a run takes its answers from run_answers, then from answers.
class RecordingDialogs final : public WindowDialogs {
 public:
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  Answer AskYesNo(const std::string& caption, const std::string& text) override;
  RunAnswer AskInRun(const std::string& caption, const std::string& text) override;
  void ReportError(const std::string& text) override { errors.push_back(text); }
  void ShowList(const std::string& text, const std::string& list) override {
    messages.push_back(text + "\n\n" + list);
  }
  std::vector<std::string> ChooseFiles() override;
  std::string ChooseFolder() override { return folder; }
  std::string ChooseSaveName(const std::string& suggested) override {
    save_suggestions.push_back(suggested);
    return save_name;
  }

  std::deque<Answer> answers;
  std::deque<RunAnswer> run_answers;
  int run_questions = 0;              // how many of the questions offered answers for all
  std::function<void()> on_question;  // runs while a question is up, before it is answered
  std::vector<std::string> messages;
  std::vector<std::pair<std::string, std::string>> questions;  // caption, text
  std::vector<std::string> errors;
  // What the open dialog returns, one entry per opening (nothing once empty); and how often it
  // was opened.
  std::deque<std::vector<std::string>> choices;
  int openings = 0;
  std::string folder;     // what the folder dialog returns
  std::string save_name;  // what the save dialog returns
  std::vector<std::string> save_suggestions;
};

// Points every per-user and system-wide store of QSettings at `folder`.
void UseSettingsFolder(const QString& folder);

// A GOES header carrying the time hhmm on 24 December 1998, and the name it is proposed under.
std::string GoesHeader(const std::string& hhmm);
std::string GoesName(const std::string& hhmm);

// A 400-row GOES frame whose data lines carry `header`.
framegen::FrameRecipe GoesSpec(const std::string& header);
void WriteFrameBmp(const std::filesystem::path& path, const framegen::FrameRecipe& recipe);
void WriteFramePng(const std::filesystem::path& path, const framegen::FrameRecipe& recipe);
// An 8-bit grey diagonal ramp with no header in it.
Bitmap Ramp(int width, int height);
void WriteBmp(const std::filesystem::path& path, const Bitmap& bitmap);
void WritePng(const std::filesystem::path& path, const Bitmap& bitmap);

// What a file manager hands over when the files are dragged.
std::unique_ptr<QMimeData> FileDrag(const std::vector<std::filesystem::path>& paths);

std::vector<std::uint8_t> FileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

}  // namespace tessaly::testing
