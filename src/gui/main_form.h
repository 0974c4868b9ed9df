// TFormQuillet, the program's one window: the source picture on the left (the only drop zone),
// the processed picture on the right, the name labels, the source choice and the Save and Close
// buttons. It keeps the window's state (pictures, labels, Save enabled, the current file) and
// runs each file through the per-file pipeline; a run of several files is read ahead on worker
// threads. It opens at the designed size and place and can be resized; a status line, a Cancel
// button and a Details button follow runs of several files; the right pane's menu also opens
// the day's contact sheet of the picture shown when a catalogue is kept. Used by main.cpp and the
// window tests.
#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/fate.h"
#include "app/folders.h"
#include "app/processor.h"
#include "dragdrop/qt_drop_target.h"
#include "gui/sheet_viewer.h"
#include "gui/window_dialogs.h"
#include "versioninfo/vers_info.h"

class QAction;
class QLabel;
class QPushButton;
class QScrollArea;
class QTimer;

namespace tessaly {

class PictureControl;
class PicturePane;
struct FileWork;
struct RunItem;
class TkovRadioGroup;
class TRegistryInteger;
class TRegistryString;

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
// Value names of the remembered view, beside the source choice's "SourceID".
inline constexpr char kFitImageInName[] = "FitImageIn";
inline constexpr char kFitImageOutName[] = "FitImageOut";
inline constexpr char kWindowLeftName[] = "WindowLeft";
inline constexpr char kWindowTopName[] = "WindowTop";
inline constexpr char kWindowWidthName[] = "WindowWidth";
inline constexpr char kWindowHeightName[] = "WindowHeight";
inline constexpr char kWindowMaximizedName[] = "WindowMaximized";
// The archive catalogue the day's contact sheets come from; none until one is given.
inline constexpr char kCatalogFileName[] = "CatalogFile";

// The source choice's items, in their order on the window and as the stored "SourceID".
enum SourceId : int { kSourceFullBitmap = 0, kSourceDataLinesOnly = 1 };

// The kind of source picture an item of the source choice stands for; with no item chosen, a
// full frame.
Source SourceOfItem(int item_index);

// True when the window's client rectangle lies wholly on one of the screens' free areas.
bool FitsTheScreens(const QRect& geometry);

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
  // Unregisters the drop target; the source choice, the panes' views and the window's place
  // are stored.
  ~TFormQuillet() override;

  // Event handlers. Each reports an error that escapes it and returns normally.
  void ButtonCloseClick();
  void ButtonSaveClick();
  void ButtonCancelClick();
  // Lists the files the last run could not handle, with their reasons.
  void ButtonDetailsClick();
  void DropFileTargetDrop();
  void RadioGroupSourceIDClick();
  // Ctrl+O: the chosen pictures go the way of a drop.
  void OpenFilesClick();
  // Ctrl+Shift+O: the chosen folder goes the way of a drop of that folder.
  void OpenFolderClick();
  // Escape: stops a run of files after the current one; with no run, closes the window.
  void EscapeClick();
  // The right pane's menu, for a picture whose doubtful header named nothing: saves it under
  // the name that header would give. Never done unasked.
  void SaveDoubtfulClick();
  // The right pane's menu, Ctrl+Shift+S: saves the picture under a name the user chooses.
  void SaveAsClick();
  // The right pane's menu, Ctrl+D, with a catalogue and a picture whose header gives a
  // satellite, a code and a time: the contact sheet of that series' day, drawn from the
  // catalogue in memory and shown in a window of its own. A catalogue that cannot be read, or a
  // day without frames, is told in a message. Nothing is written.
  void DaySheetClick();
  // The command line's catalogue, kept (by its absolute path) once it reads as one; a file that
  // does not is told in a message and the one kept before stays. Empty: none from now on.
  void UseCatalog(const std::string& file);

  // Names from the command line or the open dialog, handled as one drop on the left pane.
  void OpenFiles(const std::vector<std::string>& names);
  // One file through the pipeline, the view following its state; with auto_save and a changed
  // name the result is saved at once, asking before a file is replaced. Errors pass to the
  // caller.
  void ProcessFile(const std::filesystem::path& fileName, bool auto_save);
  // The body of a drop: each name in order, a folder standing for its BMP then PNG files, every
  // file saved at once when its name changes. One file goes through ProcessFile, its error
  // passed on. A run of several is read ahead on worker threads and shown, asked about and saved
  // in order: the tool's own results are left out, up-to-date targets left alone, files that
  // fail are reported and the run goes on, the overwrite question offers answers for all the
  // files left or to stop, and the status line ends with what became of all of them. Cancel
  // stops it; a new drop waits for its end.
  void ProcessDroppedNames(const std::vector<std::string>& names);
  bool Running() const { return running_; }

  QPushButton* ButtonSave() const { return buttonSave_; }
  QPushButton* ButtonClose() const { return buttonClose_; }
  QLabel* LabelHelp() const { return labelHelp_; }
  QLabel* LabelOutputName() const { return labelOutputName_; }
  PicturePane* ScrollBoxIn() const { return scrollBoxIn_; }
  PicturePane* ScrollBoxOut() const { return scrollBoxOut_; }
  QLabel* StatusLine() const { return statusLine_; }
  QPushButton* ButtonCancel() const { return buttonCancel_; }
  QPushButton* ButtonDetails() const { return buttonDetails_; }
  PictureControl* ImageIn() const { return imageIn_; }
  PictureControl* ImageOut() const { return imageOut_; }
  QAction* SaveDoubtfulAction() const { return saveDoubtfulAction_; }
  QAction* SaveAsAction() const { return saveAsAction_; }
  QAction* DaySheetAction() const { return daySheetAction_; }
  // The window of the last day's contact sheet; none before one was shown or once it is closed.
  SheetViewer* SheetWindow() const { return sheetViewer_; }
  TkovRadioGroup* RadioGroupSourceID() const { return radioGroupSourceID_; }
  QtDropFileTarget& DropFileTarget() { return dropFileTarget_; }
  const TvixVersionInfoResource& VersInfo() const { return versInfo_; }
  // The file processed last; empty before the first.
  const std::filesystem::path& CurrentFile() const { return currentFile_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  class Run;
  struct Several;

  void CreateControls();
  void CreateActions();
  void LayOutControls();
  void RestoreView();
  void StoreView();
  // The day's contact sheet in the right pane's menu: only with a catalogue kept, and enabled
  // for a picture whose header names its day.
  void ShowSheetActions();
  // `hint`: the status line's hint when it says more than `text`.
  void SetStatus(const std::string& text, const std::string& hint = {});
  void SetTabOrder();
  void FormCreate();
  void FormDestroy();
  void RepaintOutput();
  // Puts the window's state on its controls; painted at once, or with the next paint.
  void ShowState(bool at_once = true);
  // In a run: shows the state with the next frame of the screen, so that files coming faster
  // than the screen shows them cost no paint each.
  void ShowSoon();
  int FrameMilliseconds() const;
  // The state for a processed file, or for one that gave no picture.
  void SetCurrent(const std::filesystem::path& file, PictureResult result);
  void ClearCurrent(const std::filesystem::path& file);
  // Stops a run of files; the file at hand is finished.
  void RequestCancel();
  void RunSeveral(const std::vector<ExpandedName>& names);
  void HandleRunItem(std::size_t index, RunItem&& item);
  // The run's file `index`, now current: its progress, and what its header needs said.
  void ShowRunItem(std::size_t index);
  // What became of the current file of the run at its turn: up to date, or saved after the
  // question where its target stands.
  Fate SaveRunItem(std::size_t index, FileWork& work);
  // "File i of n: text" for file `index` of the run.
  void RunStatus(std::size_t index, const std::string& text, const std::string& hint = {});
  // Adds the current file of a run to the run's list when it was not saved for a reason the
  // user may want to act on: its target exists, or its header named nothing.
  void NoteUnsaved(Fate fate);
  // Adds a file that failed or was skipped to the run's list.
  void NoteProblem(const std::filesystem::path& file, const std::string& reason);
  // The overwrite question of file `index` of the run.
  Answer AskInRun(std::size_t index, const std::filesystem::path& target);
  // Saves the current result under its proposed name, or under `name` when given; false when the
  // question was answered No.
  bool SaveCurrent(const std::filesystem::path& name = {});
  // Save as the user chose: the status line says what became of it.
  void SaveCurrentAs(const std::filesystem::path& name);
  // Runs a handler; an error escaping it goes to the standard error report.
  void Guarded(const std::function<void()>& handler);

  std::shared_ptr<WindowDialogs> dialogs_;
  // The window's state between files.
  QImage inputPicture_;    // shown on the left
  PictureResult current_;  // the last result
  QImage outputPicture_;   // its output, shown on the right
  std::filesystem::path currentFile_;
  std::string labelHelpText_ = kLabelHelpText;
  std::string labelOutputNameText_ = kLabelOutputNameText;
  std::string labelOutputNameHint_ = kLabelOutputNameHint;
  std::string statusText_;
  std::string statusHint_;
  bool saveEnabled_ = false;
  TvixVersionInfoResource versInfo_;
  QtDropFileTarget dropFileTarget_;
  QPushButton* buttonSave_ = nullptr;
  QPushButton* buttonClose_ = nullptr;
  QLabel* labelHelp_ = nullptr;
  QLabel* labelOutputName_ = nullptr;
  PicturePane* scrollBoxIn_ = nullptr;
  PictureControl* imageIn_ = nullptr;
  PicturePane* scrollBoxOut_ = nullptr;
  PictureControl* imageOut_ = nullptr;
  TkovRadioGroup* radioGroupSourceID_ = nullptr;
  QLabel* statusLine_ = nullptr;
  QPushButton* buttonCancel_ = nullptr;
  QPushButton* buttonDetails_ = nullptr;
  QTimer* showTimer_ = nullptr;
  QElapsedTimer lastShown_;
  QAction* openAction_ = nullptr;
  QAction* openFolderAction_ = nullptr;
  QAction* quitAction_ = nullptr;
  QAction* escapeAction_ = nullptr;
  QAction* saveDoubtfulAction_ = nullptr;
  QAction* saveAsAction_ = nullptr;
  QAction* daySheetAction_ = nullptr;
  QPointer<SheetViewer> sheetViewer_;
  bool running_ = false;
  bool cancelRequested_ = false;
  // While a run of several files lasts.
  Several* several_ = nullptr;
  // What the last run could not do: its summary and a line for each file.
  std::string runSummary_;
  std::string runProblems_;
  // Read when the window is made, written when it goes.
  std::unique_ptr<TRegistryInteger> fitImageIn_;
  std::unique_ptr<TRegistryInteger> fitImageOut_;
  std::unique_ptr<TRegistryInteger> windowLeft_;
  std::unique_ptr<TRegistryInteger> windowTop_;
  std::unique_ptr<TRegistryInteger> windowWidth_;
  std::unique_ptr<TRegistryInteger> windowHeight_;
  std::unique_ptr<TRegistryInteger> windowMaximized_;
  std::unique_ptr<TRegistryString> catalogFile_;
};

}  // namespace tessaly
