// The per-file processing: load, prepare, decode, render, shrink, name and
// (on request) save one picture, keeping the state the window shows. The
// window drives it; the batch tool runs one per worker thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "app/saving.h"
#include "picture_files/ext_bitmap.h"
#include "picture_store/bitmap.h"

namespace tessaly {

// The two kinds of source picture (the item index of the source choice).
enum SourceId : int { kSourceFullBitmap = 0, kSourceDataLinesOnly = 1 };

inline constexpr int kMaxOutputWidth = 800;
inline constexpr const char* kLabelHelpText = "Drag one or more image files from Explorer";
inline constexpr const char* kLabelOutputNameText = "Output file name will be here";
inline constexpr const char* kLabelOutputNameHint = "This is the suggested new filename";
inline constexpr const char* kHeaderFailureMessage =
    "Sorry, but I could not decode the binary header for file: ";

// What became of one file.
struct FileOutcome {
  enum class Status { kProcessed, kSkipped };
  Status status = Status::kProcessed;
  bool saved = false;     // a PNG file was written
  bool declined = false;  // the overwrite question was answered No
  std::string message;    // why the file was skipped
};

class FileProcessor {
 public:
  FileProcessor();

  // Hooks of the front end; each may stay unset.
  OverwriteQuestion ask_overwrite;                       // unset: every question answered No
  std::function<void(const std::string&)> show_message;  // modal message with an OK button
  std::function<void()> repaint_output;                  // redraw the output picture now
  BeforePublish before_publish;                          // tests: another writer steps in here

  // The source choice: kSourceFullBitmap or kSourceDataLinesOnly.
  int source_id = kSourceFullBitmap;
  // The batch tool frees the input picture as soon as the working picture is made.
  bool keep_input = true;

  // Runs the whole sequence for one file. With autoSave and a proposal that
  // differs from the file's name, the result is saved at once, asking before
  // an existing file is replaced. Load, size and save failures throw Error; a
  // file that is neither .bmp nor .png is skipped without loading anything.
  FileOutcome ProcessFile(const std::filesystem::path& fileName, bool autoSave);
  // Saves the output under the proposed name, asking first when the file exists.
  // Returns false when the answer was No. Throws Error when the write fails.
  bool ButtonSaveClick();
  // Processes the current file again (without saving) after the source choice changed.
  void RadioGroupSourceIDClick();

  TExtBitmap& InputBitmap() { return input_; }
  const TExtBitmap& InputBitmap() const { return input_; }
  TExtBitmap& OutputBitmap() { return output_; }
  const TExtBitmap& OutputBitmap() const { return output_; }
  const std::filesystem::path& CurrentFile() const { return current_file_; }
  bool SaveEnabled() const { return save_enabled_; }
  const std::string& LabelHelpCaption() const { return label_help_; }
  const std::string& LabelOutputNameCaption() const { return label_output_; }
  // The output label's hint: its design text, then the full proposed name.
  const std::string& LabelOutputNameHint() const { return output_hint_; }
  const std::filesystem::path& ProposedName() const { return proposed_; }
  // What the decoder found in the last processed file.
  const std::string& HeaderText() const { return header_text_; }
  std::int32_t BlackLevel() const { return black_level_; }
  std::int32_t WhiteLevel() const { return white_level_; }

 private:
  void LoadInput(const std::filesystem::path& fileName);
  void DecodeAndRender();
  void ProposeName(const std::filesystem::path& fileName);
  void Repaint();

  TExtBitmap input_;
  TExtBitmap output_;
  std::filesystem::path current_file_;
  std::filesystem::path proposed_;
  std::string label_help_ = kLabelHelpText;
  std::string label_output_ = kLabelOutputNameText;
  std::string output_hint_ = kLabelOutputNameHint;
  std::string header_text_;
  std::int32_t black_level_ = 0;
  std::int32_t white_level_ = 0;
  bool save_enabled_ = false;
};

// The name with its extension (the part after the last dot of the last name
// component) replaced by ".png", or ".png" appended when it has none.
std::filesystem::path WithPngExtension(const std::filesystem::path& name);

// What an allocation failure while processing or saving `file` says.
std::string OutOfMemoryMessage(const std::filesystem::path& file);

// True when the two names are equal ignoring letter case over the whole path.
bool SameNameIgnoringCase(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace tessaly
