// TFormQuillet, the program's one window: the source picture on the left (the only drop zone),
// the processed picture on the right, the name labels, the source choice and the Save and Close
// buttons. It keeps the window's state (pictures, labels, Save enabled, the current file) and
// runs each file through the per-file pipeline. Used by main.cpp and the window tests.
#pragma once

#include <QWidget>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/processor.h"
#include "dragdrop/qt_drop_target.h"
#include "gui/window_dialogs.h"
#include "versioninfo/vers_info.h"

class QLabel;
class QPushButton;
class QScrollArea;

namespace tessaly {

class PictureControl;
class TkovRadioGroup;

inline constexpr char kFormCaption[] = "Update and rename bitmaps to WEFAX standard";
inline constexpr char kSourceHint[] =
    "Choose between full input image, and one with just the data lines at the top";
inline constexpr int kFormClientWidth = 625;
inline constexpr int kFormClientHeight = 425;
inline constexpr char kLabelHelpText[] = "Drag one or more image files from Explorer";
inline constexpr char kLabelOutputNameText[] = "Output file name will be here";
inline constexpr char kLabelOutputNameHint[] = "This is the suggested new filename";
inline constexpr char kHeaderFailureMessage[] =
    "Sorry, but I could not decode the binary header for file: ";

// The error report's text: the error's own text, followed by the file being handled when the
// text does not name it already.
std::string ErrorReportText(const std::string& message, const std::filesystem::path& file);

class TFormQuillet : public QWidget {
 public:
  // `dialogs` shows the boxes; by default real modal boxes over this window. Restores the stored
  // source choice, registers the left pane as drop target and puts the version in the title.
  // Throws Error "Failed to Register ScrollBoxIn" when the pane cannot take drops.
  explicit TFormQuillet(std::shared_ptr<WindowDialogs> dialogs = nullptr,
                        QWidget* parent = nullptr);
  // Unregisters the drop target; the source choice is stored as the radio group goes.
  ~TFormQuillet() override;

  // Event handlers. Each reports an error that escapes it and returns normally.
  void ButtonCloseClick();
  void ButtonSaveClick();
  void DropFileTargetDrop();
  void RadioGroupSourceIDClick();

  // One file through the pipeline, the view following its state; with autoSave and a changed
  // name the result is saved at once, asking before a file is replaced. Errors pass to the
  // caller.
  void ProcessFile(const std::filesystem::path& fileName, bool autoSave);
  // The body of a drop: each name in order, a folder standing for its BMP then PNG files, every
  // file saved at once when its name changes. The first error ends the list and is passed on.
  void ProcessDroppedNames(const std::vector<std::string>& names);

  QPushButton* ButtonSave() const { return buttonSave_; }
  QPushButton* ButtonClose() const { return buttonClose_; }
  QLabel* LabelHelp() const { return labelHelp_; }
  QLabel* LabelOutputName() const { return labelOutputName_; }
  QScrollArea* ScrollBoxIn() const { return scrollBoxIn_; }
  QScrollArea* ScrollBoxOut() const { return scrollBoxOut_; }
  PictureControl* ImageIn() const { return imageIn_; }
  PictureControl* ImageOut() const { return imageOut_; }
  TkovRadioGroup* RadioGroupSourceID() const { return radioGroupSourceID_; }
  QtDropFileTarget& DropFileTarget() { return dropFileTarget_; }
  const TvixVersionInfoResource& VersInfo() const { return versInfo_; }
  // The file processed last; empty before the first.
  const std::filesystem::path& CurrentFile() const { return currentFile_; }

 private:
  void CreateControls();
  void SetTabOrder();
  void FormCreate();
  void FormDestroy();
  void RepaintOutput();
  void ShowState();
  // Saves the current result under its proposed name; false when the question was answered No.
  bool SaveCurrent();
  // Runs a handler; an error escaping it goes to the standard error report.
  void Guarded(const std::function<void()>& handler);

  std::shared_ptr<WindowDialogs> dialogs_;
  // The window's state between files.
  TExtBitmap inputBitmap_;  // shown on the left
  PictureResult current_;   // the last result; its output is shown on the right
  std::filesystem::path currentFile_;
  std::string labelHelpText_ = kLabelHelpText;
  std::string labelOutputNameText_ = kLabelOutputNameText;
  std::string labelOutputNameHint_ = kLabelOutputNameHint;
  bool saveEnabled_ = false;
  TvixVersionInfoResource versInfo_;
  QtDropFileTarget dropFileTarget_;
  QPushButton* buttonSave_ = nullptr;
  QPushButton* buttonClose_ = nullptr;
  QLabel* labelHelp_ = nullptr;
  QLabel* labelOutputName_ = nullptr;
  QScrollArea* scrollBoxIn_ = nullptr;
  PictureControl* imageIn_ = nullptr;
  QScrollArea* scrollBoxOut_ = nullptr;
  PictureControl* imageOut_ = nullptr;
  TkovRadioGroup* radioGroupSourceID_ = nullptr;
};

}  // namespace tessaly
