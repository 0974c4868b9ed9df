// The main window: controls, handlers and the ties to drop target, settings and version data.
#include "gui/main_form.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>
#include <thread>

#include "app/results.h"
#include "app/saving.h"
#include "base/errors.h"
#include "gui/bitmap_qimage.h"
#include "gui/picture_control.h"
#include "gui/picture_pane.h"
#include "gui/read_ahead.h"
#include "gui/status_text.h"
#include "naming/header_name.h"
#include "settings/kov_radio_group.h"
#include "settings/registry_variables.h"
#include "versioninfo/embedded_resource.h"

namespace tessaly {

namespace {

QString FromCore(const std::string& text) {
  return QString::fromStdString(text);
}

PicturePane* MakeScrollBox(QWidget* parent, const char* name, const QRect& geometry,
                           PictureControl* picture) {
  auto* box = new PicturePane(picture, parent);
  box->setObjectName(name);
  box->setGeometry(geometry);
  return box;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QRect& geometry, const char* text) {
  auto* label = new QLabel(QString::fromLatin1(text), parent);
  label->setObjectName(name);
  label->setGeometry(geometry);
  label->setAlignment(Qt::AlignCenter);
  return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QRect& geometry,
                        const char* text) {
  auto* button = new QPushButton(QString::fromLatin1(text), parent);
  button->setObjectName(name);
  button->setGeometry(geometry);
  return button;
}

// How a control follows the window as it grows beyond its designed size: its designed place,
// and what share of the extra width and height moves it or widens it. The two panes split the
// extra width, the left one taking the smaller half of an odd count.
struct Anchor {
  QWidget* control;
  QRect design;
  enum Share { kNone, kLeftHalf, kRightHalf, kAll };
  Share move_x, grow_x;
  bool move_y, grow_y;
};

int ShareOf(Anchor::Share share, int extra) {
  switch (share) {
    case Anchor::kLeftHalf:
      return extra / 2;
    case Anchor::kRightHalf:
      return extra - extra / 2;
    case Anchor::kAll:
      return extra;
    case Anchor::kNone:
      break;
  }
  return 0;
}

}  // namespace

Source SourceOfItem(int item_index) {
  // No item chosen reads as a full frame too.
  return item_index == kSourceDataLinesOnly ? Source::kDataLines : Source::kFullFrame;
}

std::string ErrorReportText(const std::string& message, const std::filesystem::path& file) {
  if (file.empty()) return message;
  if (message.find(file.string()) != std::string::npos) return message;
  if (message.find(file.filename().string()) != std::string::npos) return message;
  return message + "\n\nFile: " + file.string();
}

TFormQuillet::TFormQuillet(std::shared_ptr<WindowDialogs> dialogs, QWidget* parent)
    : QWidget(parent),
      dialogs_(dialogs ? std::move(dialogs) : std::make_shared<QtWindowDialogs>(this)),
      versInfo_(EmbeddedVersionResource()) {
  setObjectName("FormQuillet");
  setWindowTitle(QString::fromLatin1(kFormCaption));
  // The designed size is where the window starts and the least it can be.
  setMinimumSize(kFormClientWidth, kFormClientHeight);
  resize(kFormClientWidth, kFormClientHeight);
  move(193, 107);
  QFont font(QStringLiteral("Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  setFont(font);
  CreateControls();
  CreateActions();
  SetTabOrder();
  // What the form description's loading does before the creation handler runs.
  radioGroupSourceID_->Loaded();
  versInfo_.Loaded();
  RestoreView();
  FormCreate();
}

TFormQuillet::~TFormQuillet() {
  StoreView();
  // A destructor must not throw: a refused unregistration is dropped with the window.
  try {
    FormDestroy();
  } catch (const std::exception&) {
  }
}

void TFormQuillet::CreateControls() {
  buttonSave_ = MakeButton(this, "ButtonSave", {536, 344, 81, 25}, "Save");
  buttonSave_->setEnabled(false);
  buttonClose_ = MakeButton(this, "ButtonClose", {536, 384, 81, 25}, "Close");
  labelHelp_ = MakeLabel(this, "LabelHelp", {8, 304, 289, 13}, kLabelHelpText);
  labelOutputName_ = MakeLabel(this, "LabelOutputName", {328, 304, 289, 13}, kLabelOutputNameText);
  labelOutputName_->setToolTip(QString::fromLatin1(kLabelOutputNameHint));
  imageIn_ = new PictureControl;
  imageIn_->setObjectName("ImageIn");
  scrollBoxIn_ = MakeScrollBox(this, "ScrollBoxIn", {8, 8, 289, 289}, imageIn_);
  imageOut_ = new PictureControl;
  imageOut_->setObjectName("ImageOut");
  scrollBoxOut_ = MakeScrollBox(this, "ScrollBoxOut", {328, 8, 289, 289}, imageOut_);

  radioGroupSourceID_ = new TkovRadioGroup(this);
  radioGroupSourceID_->setObjectName("RadioGroupSourceID");
  radioGroupSourceID_->setGeometry(16, 336, 201, 73);
  radioGroupSourceID_->setTitle(" Source ");
  radioGroupSourceID_->SetItems({"Full bitmap", "Data lines only"});
  radioGroupSourceID_->SetItemIndex(kSourceFullBitmap);
  radioGroupSourceID_->SetNamedAs("SourceID");
  radioGroupSourceID_->setToolTip(QString::fromLatin1(kSourceHint));

  // Empty until a file has been handled, so the window starts as designed.
  statusLine_ = new QLabel(this);
  statusLine_->setObjectName("StatusLine");
  statusLine_->setGeometry(224, 340, 304, 40);
  statusLine_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  statusLine_->setWordWrap(true);
  buttonCancel_ = MakeButton(this, "ButtonCancel", {448, 384, 81, 25}, "Cancel");
  buttonCancel_->hide();
  buttonDetails_ = MakeButton(this, "ButtonDetails", {360, 384, 81, 25}, "Details");
  buttonDetails_->hide();
  showTimer_ = new QTimer(this);
  showTimer_->setSingleShot(true);
  connect(showTimer_, &QTimer::timeout, this, [this] { ShowState(false); });

  connect(buttonSave_, &QPushButton::clicked, this, [this] { ButtonSaveClick(); });
  connect(buttonClose_, &QPushButton::clicked, this, [this] { ButtonCloseClick(); });
  connect(buttonCancel_, &QPushButton::clicked, this, [this] { ButtonCancelClick(); });
  connect(buttonDetails_, &QPushButton::clicked, this, [this] { ButtonDetailsClick(); });
  radioGroupSourceID_->OnClick = [this] { RadioGroupSourceIDClick(); };
}

void TFormQuillet::CreateActions() {
  auto add = [this](const char* text, QKeySequence keys, void (TFormQuillet::*handler)()) {
    auto* action = new QAction(QString::fromLatin1(text), this);
    action->setShortcut(keys);
    connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    addAction(action);
    return action;
  };
  openAction_ =
      add("Open pictures", QKeySequence(Qt::CTRL | Qt::Key_O), &TFormQuillet::OpenFilesClick);
  openFolderAction_ = add("Open a folder", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O),
                          &TFormQuillet::OpenFolderClick);
  quitAction_ = add("Close", QKeySequence(Qt::CTRL | Qt::Key_Q), &TFormQuillet::ButtonCloseClick);
  escapeAction_ = add("Cancel", QKeySequence(Qt::Key_Escape), &TFormQuillet::EscapeClick);
  // Offered on the right pane's menu for the picture shown there.
  saveDoubtfulAction_ =
      add("Save as the doubtful header names it", QKeySequence(), &TFormQuillet::SaveDoubtfulClick);
  saveAsAction_ =
      add("Save as...", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), &TFormQuillet::SaveAsClick);
  daySheetAction_ = add("", QKeySequence(Qt::CTRL | Qt::Key_D), &TFormQuillet::DaySheetClick);
  scrollBoxOut_->addAction(saveDoubtfulAction_);
  scrollBoxOut_->addAction(saveAsAction_);
  scrollBoxOut_->addAction(daySheetAction_);
}

void TFormQuillet::LayOutControls() {
  const Anchor anchors[] = {
      {scrollBoxIn_, {8, 8, 289, 289}, Anchor::kNone, Anchor::kLeftHalf, false, true},
      {scrollBoxOut_, {328, 8, 289, 289}, Anchor::kLeftHalf, Anchor::kRightHalf, false, true},
      {labelHelp_, {8, 304, 289, 13}, Anchor::kNone, Anchor::kLeftHalf, true, false},
      {labelOutputName_, {328, 304, 289, 13}, Anchor::kLeftHalf, Anchor::kRightHalf, true, false},
      {radioGroupSourceID_, {16, 336, 201, 73}, Anchor::kNone, Anchor::kNone, true, false},
      {statusLine_, {224, 340, 304, 40}, Anchor::kNone, Anchor::kAll, true, false},
      {buttonCancel_, {448, 384, 81, 25}, Anchor::kAll, Anchor::kNone, true, false},
      {buttonDetails_, {360, 384, 81, 25}, Anchor::kAll, Anchor::kNone, true, false},
      {buttonSave_, {536, 344, 81, 25}, Anchor::kAll, Anchor::kNone, true, false},
      {buttonClose_, {536, 384, 81, 25}, Anchor::kAll, Anchor::kNone, true, false},
  };
  const int extraWidth = std::max(0, width() - kFormClientWidth);
  const int extraHeight = std::max(0, height() - kFormClientHeight);
  for (const Anchor& anchor : anchors) {
    QRect place = anchor.design;
    place.translate(ShareOf(anchor.move_x, extraWidth), anchor.move_y ? extraHeight : 0);
    place.setWidth(place.width() + ShareOf(anchor.grow_x, extraWidth));
    place.setHeight(place.height() + (anchor.grow_y ? extraHeight : 0));
    anchor.control->setGeometry(place);
  }
}

void TFormQuillet::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayOutControls();
}

void TFormQuillet::closeEvent(QCloseEvent* event) {
  // A window closed during a run stops it after the current file.
  RequestCancel();
  event->accept();
}

void TFormQuillet::SetStatus(const std::string& text, const std::string& hint) {
  statusText_ = text;
  statusHint_ = hint.empty() ? text : hint;
  // The list belongs to the summary; any later news replaces both.
  buttonDetails_->hide();
  if (several_) return;  // shown with the rest of the state
  statusLine_->setText(FromCore(text));
  statusLine_->setToolTip(FromCore(statusHint_));
}

void TFormQuillet::SetTabOrder() {
  setTabOrder(buttonSave_, buttonClose_);
  setTabOrder(buttonClose_, scrollBoxIn_);
  setTabOrder(scrollBoxIn_, scrollBoxOut_);
  setTabOrder(scrollBoxOut_, radioGroupSourceID_);
}

void TFormQuillet::FormCreate() {
  dropFileTarget_.Dragtypes = {dtCopy};
  dropFileTarget_.GetDataOnEnter = false;
  dropFileTarget_.ShowImage = true;
  dropFileTarget_.OnDrop = [this](TDropTarget&, TShiftState, TPoint, DropEffect&) {
    DropFileTargetDrop();
  };
  dropFileTarget_.RegisterTarget(static_cast<QWidget*>(scrollBoxIn_));
  RepaintOutput();
  setWindowTitle(windowTitle() + " - V" + FromCore(versInfo_.FileVersionNumber().AsString()));
}

void TFormQuillet::FormDestroy() {
  dropFileTarget_.UnregisterTarget();
}

void TFormQuillet::Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    dialogs_->ReportError(ErrorReportText(error.what(), currentFile_));
  }
}

void TFormQuillet::ButtonCloseClick() {
  close();
}

void TFormQuillet::ButtonSaveClick() {
  Guarded([this] {
    const bool saved = SaveCurrent();
    SetStatus(SaveText(currentFile_.filename().string(), current_.proposed_name.filename().string(),
                       saved));
  });
}

void TFormQuillet::ButtonCancelClick() {
  RequestCancel();
}

void TFormQuillet::ButtonDetailsClick() {
  dialogs_->ShowList(runSummary_, runProblems_);
}

void TFormQuillet::EscapeClick() {
  if (running_)
    RequestCancel();
  else
    close();
}

void TFormQuillet::OpenFilesClick() {
  if (running_) return;
  const std::vector<std::string> chosen = dialogs_->ChooseFiles();
  if (!chosen.empty()) OpenFiles(chosen);
}

void TFormQuillet::OpenFolderClick() {
  if (running_) return;
  const std::string chosen = dialogs_->ChooseFolder();
  if (!chosen.empty()) OpenFiles({chosen});
}

void TFormQuillet::OpenFiles(const std::vector<std::string>& names) {
  Guarded([this, &names] { ProcessDroppedNames(names); });
}

void TFormQuillet::RadioGroupSourceIDClick() {
  Guarded([this] {
    if (currentFile_.empty()) return;
    ProcessFile(currentFile_, false);
  });
}

void TFormQuillet::DropFileTargetDrop() {
  Guarded([this] { ProcessDroppedNames(dropFileTarget_.Files()); });
}

void TFormQuillet::SetCurrent(const std::filesystem::path& file, PictureResult result) {
  currentFile_ = file;
  current_ = std::move(result);
  labelHelpText_ = file.filename().string();
  labelOutputNameHint_ = current_.proposed_name.string();
  labelOutputNameText_ = current_.proposed_name.filename().string();
  saveEnabled_ = current_.changed;
}

void TFormQuillet::ClearCurrent(const std::filesystem::path& file) {
  currentFile_ = file;
  current_ = PictureResult();
  inputPicture_ = QImage();
  outputPicture_ = QImage();
  labelHelpText_ = file.filename().string();
  labelOutputNameText_.clear();
  labelOutputNameHint_ = kLabelOutputNameHint;
  saveEnabled_ = false;
}

void TFormQuillet::ProcessFile(const std::filesystem::path& fileName, bool auto_save) {
  saveEnabled_ = false;
  currentFile_ = fileName;
  current_.output.SetHeight(0);
  outputPicture_ = QImage();
  RepaintOutput();
  // A file of another kind is not read at all; the user learns why and the drop goes on.
  if (const std::optional<std::string> reason = SkipReason(fileName)) {
    labelHelpText_ = fileName.filename().string();
    ShowState();
    SetStatus(SkippedText(labelHelpText_, kOnlyPicturesRead));
    dialogs_->ShowMessage(*reason);
    return;
  }
  ProcessingOptions options;
  options.source = SourceOfItem(radioGroupSourceID_->ItemIndex());
  Fate fate = Fate::kUnchanged;
  try {
    // Loaded apart from the rest, so that the picture shows even when processing it fails.
    TExtBitmap input = LoadPicture(fileName);
    inputPicture_ = BitmapToQImage(input);
    labelHelpText_ = fileName.filename().string();
    PictureResult result = ProcessLoadedPicture(fileName, std::move(input), options);
    outputPicture_ = BitmapToQImage(result.output);
    if (result.naming_failed) dialogs_->ShowMessage(kHeaderFailureMessage + labelHelpText_);
    RepaintOutput();
    SetCurrent(fileName, std::move(result));
    if (current_.changed) {
      fate = !auto_save ? Fate::kWouldSave : SaveCurrent() ? Fate::kSaved : Fate::kDeclined;
    }
  } catch (...) {
    ShowState();
    throw;
  }
  ShowState();
  const std::string input_name = fileName.filename().string();
  SetStatus(ReportText(input_name, fate, current_), ReportHint(input_name, fate, current_));
}

void TFormQuillet::SaveDoubtfulClick() {
  if (running_ || current_.doubtful_name.empty()) return;
  Guarded([this] { SaveCurrentAs(current_.doubtful_name); });
}

void TFormQuillet::SaveAsClick() {
  if (running_ || current_.output.Height() == 0) return;
  const std::string chosen = dialogs_->ChooseSaveName(current_.proposed_name.string());
  if (chosen.empty()) return;
  Guarded([this, &chosen] { SaveCurrentAs(WithPngExtension(chosen)); });
}

void TFormQuillet::SaveCurrentAs(const std::filesystem::path& name) {
  const bool saved = SaveCurrent(name);
  SetStatus(SaveText(currentFile_.filename().string(), name.filename().string(), saved));
}

bool TFormQuillet::SaveCurrent(const std::filesystem::path& name) {
  if (!name.empty()) {
    // Encoded again, so that the picture's Title is its own name.
    PictureResult renamed = current_;
    renamed.proposed_name = name;
    renamed.png.clear();
    return SavePicture(
        renamed, [this](const std::filesystem::path&, const std::filesystem::path& target) {
          ShowState();
          return dialogs_->AskYesNo(kOverwriteCaption, OverwriteQuestionText(target));
        });
  }
  return SavePicture(current_,
                     [this](const std::filesystem::path&, const std::filesystem::path& target) {
                       // The question is about the file just processed: the user sees its pictures
                       // and names.
                       ShowState();
                       RepaintOutput();
                       return dialogs_->AskYesNo(kOverwriteCaption, OverwriteQuestionText(target));
                     });
}

void TFormQuillet::ShowState(bool at_once) {
  showTimer_->stop();
  lastShown_.start();
  buttonSave_->setEnabled(saveEnabled_);
  // Offered while a run lasts too, but done only once it is over.
  const bool doubtful = !current_.doubtful_name.empty();
  saveDoubtfulAction_->setVisible(doubtful);
  if (doubtful) {
    saveDoubtfulAction_->setText(
        FromCore("Save as " + current_.doubtful_name.filename().string() + " (doubtful header)"));
  }
  saveAsAction_->setEnabled(current_.output.Height() > 0);
  ShowSheetActions();
  labelHelp_->setText(FromCore(labelHelpText_));
  labelOutputName_->setText(FromCore(labelOutputNameText_));
  labelOutputName_->setToolTip(FromCore(labelOutputNameHint_));
  statusLine_->setText(FromCore(statusText_));
  statusLine_->setToolTip(FromCore(statusHint_));
  imageIn_->SetPicture(inputPicture_);
  imageOut_->SetPicture(outputPicture_);
  if (at_once) {
    imageIn_->repaint();
    imageOut_->repaint();
  }
}

void TFormQuillet::ShowSoon() {
  if (showTimer_->isActive()) return;
  const qint64 since = lastShown_.isValid() ? lastShown_.elapsed() : FrameMilliseconds();
  showTimer_->start(static_cast<int>(std::max<qint64>(0, FrameMilliseconds() - since)));
}

int TFormQuillet::FrameMilliseconds() const {
  constexpr double kUsualRate = 60;
  const QScreen* shown_on = screen();
  const double rate =
      shown_on != nullptr && shown_on->refreshRate() >= 1 ? shown_on->refreshRate() : kUsualRate;
  return std::max(1, static_cast<int>(std::lround(1000 / rate)));
}

void TFormQuillet::RepaintOutput() {
  imageOut_->SetPicture(outputPicture_);
  imageOut_->repaint();
}

}  // namespace tessaly
