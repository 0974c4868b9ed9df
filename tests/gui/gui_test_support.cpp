// Test doubles and picture writers of the window tests.
#include "gui_test_support.h"

#include <QSettings>
#include <QUrl>

#include "base/files.h"
#include "picture_files/png_io.h"
#include "support/bmp_writer.h"

namespace tessaly::testing {

Answer RecordingDialogs::AskYesNo(const std::string& caption, const std::string& text) {
  questions.emplace_back(caption, text);
  if (on_question) on_question();
  if (answers.empty()) return Answer::kNo;
  const Answer answer = answers.front();
  answers.pop_front();
  return answer;
}

RunAnswer RecordingDialogs::AskInRun(const std::string& caption, const std::string& text) {
  ++run_questions;
  if (run_answers.empty())
    return AskYesNo(caption, text) == Answer::kYes ? RunAnswer::kYes : RunAnswer::kNo;
  questions.emplace_back(caption, text);
  if (on_question) on_question();
  const RunAnswer answer = run_answers.front();
  run_answers.pop_front();
  return answer;
}

std::vector<std::string> RecordingDialogs::ChooseFiles() {
  ++openings;
  if (choices.empty()) return {};
  std::vector<std::string> chosen = std::move(choices.front());
  choices.pop_front();
  return chosen;
}

void UseSettingsFolder(const QString& folder) {
  for (auto scope : {QSettings::UserScope, QSettings::SystemScope}) {
    QSettings::setPath(QSettings::NativeFormat, scope, folder);
    QSettings::setPath(QSettings::IniFormat, scope, folder);
  }
}

std::string GoesHeader(const std::string& hhmm) {
  return "GOES8   VIS981224" + hhmm + "D2  ";
}

std::string GoesName(const std::string& hhmm) {
  return "D2   24-12-98 " + hhmm + ".png";
}

framegen::FrameRecipe GoesSpec(const std::string& header) {
  framegen::FrameRecipe recipe = framegen::SizedFrameRecipe(framegen::Layout::GOES, 840, 400);
  recipe.header = header;
  return recipe;
}

void WriteFrameBmp(const std::filesystem::path& path, const framegen::FrameRecipe& recipe) {
  WriteBmp(path, framegen::ToBitmap(framegen::MakeFrame(recipe)));
}

void WriteFramePng(const std::filesystem::path& path, const framegen::FrameRecipe& recipe) {
  WritePng(path, framegen::ToBitmap(framegen::MakeFrame(recipe)));
}

Bitmap Ramp(int width, int height) {
  Bitmap bitmap;
  bitmap.SetFormat(PixelFormat::k8Bit);
  bitmap.SetPalette(GreyRamp());
  bitmap.SetSize(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) bitmap.Row(y)[x] = static_cast<std::uint8_t>((x + y) % 256);
  }
  return bitmap;
}

void WriteBmp(const std::filesystem::path& path, const Bitmap& bitmap) {
  WriteFileReplacing(path, EncodeBmp(bitmap));
}

void WritePng(const std::filesystem::path& path, const Bitmap& bitmap) {
  SaveBitmapAsPNG(bitmap, path, "", "", "", "");
}

std::unique_ptr<QMimeData> FileDrag(const std::vector<std::filesystem::path>& paths) {
  auto data = std::make_unique<QMimeData>();
  QList<QUrl> urls;
  for (const auto& path : paths) urls << QUrl::fromLocalFile(QString::fromStdString(path.string()));
  data->setUrls(urls);
  return data;
}

std::vector<std::uint8_t> FileBytes(const std::filesystem::path& path) {
  return ReadFileBytes(path);
}

void WriteFileBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
  WriteFileReplacing(path, bytes);
}

}  // namespace tessaly::testing
