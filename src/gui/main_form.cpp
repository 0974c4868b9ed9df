// The main window: controls, handlers and the ties to drop target, settings and version data.
#include "gui/main_form.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include <algorithm>
#include <exception>
#include <optional>

#include "app/folders.h"
#include "app/saving.h"
#include "base/errors.h"
#include "gui/picture_control.h"
#include "gui/picture_pane.h"
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

bool FitsTheScreens(const QRect& geometry) {
  const QList<QScreen*> screens = QGuiApplication::screens();
  return std::any_of(screens.begin(), screens.end(), [&geometry](const QScreen* screen) {
    return screen->availableGeometry().contains(geometry);
  });
}

// A run of files: while it lasts new drops are refused and the source choice holds still; a run
// of several files offers Cancel.
class TFormQuillet::Run {
 public:
  Run(TFormQuillet& form, bool several)
      : form_(form), several_(several), dragtypes_(form.dropFileTarget_.Dragtypes) {
    form_.running_ = true;
    form_.cancelRequested_ = false;
    form_.dropFileTarget_.Dragtypes = {};
    if (several_) {
      form_.buttonCancel_->show();
      form_.radioGroupSourceID_->setEnabled(false);
    }
  }
  ~Run() {
    form_.running_ = false;
    form_.dropFileTarget_.Dragtypes = dragtypes_;
    if (several_) {
      form_.buttonCancel_->hide();
      form_.radioGroupSourceID_->setEnabled(true);
    }
  }
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

 private:
  TFormQuillet& form_;
  bool several_;
  TDragTypes dragtypes_;
};

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

  connect(buttonSave_, &QPushButton::clicked, this, [this] { ButtonSaveClick(); });
  connect(buttonClose_, &QPushButton::clicked, this, [this] { ButtonCloseClick(); });
  connect(buttonCancel_, &QPushButton::clicked, this, [this] { ButtonCancelClick(); });
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
  quitAction_ = add("Close", QKeySequence(Qt::CTRL | Qt::Key_Q), &TFormQuillet::ButtonCloseClick);
  escapeAction_ = add("Cancel", QKeySequence(Qt::Key_Escape), &TFormQuillet::EscapeClick);
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
  if (running_) cancelRequested_ = true;
  event->accept();
}

void TFormQuillet::RestoreView() {
  fitImageIn_ = std::make_unique<TRegistryInteger>(kFitImageInName, 0);
  fitImageOut_ = std::make_unique<TRegistryInteger>(kFitImageOutName, 0);
  scrollBoxIn_->SetFitted(fitImageIn_->Value() != 0);
  scrollBoxOut_->SetFitted(fitImageOut_->Value() != 0);
  scrollBoxIn_->OnFitChanged = [this] { fitImageIn_->SetValue(scrollBoxIn_->Fitted()); };
  scrollBoxOut_->OnFitChanged = [this] { fitImageOut_->SetValue(scrollBoxOut_->Fitted()); };

  // Width and height 0 stand for a window never closed before.
  windowLeft_ = std::make_unique<TRegistryInteger>(kWindowLeftName, 0);
  windowTop_ = std::make_unique<TRegistryInteger>(kWindowTopName, 0);
  windowWidth_ = std::make_unique<TRegistryInteger>(kWindowWidthName, 0);
  windowHeight_ = std::make_unique<TRegistryInteger>(kWindowHeightName, 0);
  windowMaximized_ = std::make_unique<TRegistryInteger>(kWindowMaximizedName, 0);
  const QRect stored(windowLeft_->Value(), windowTop_->Value(), windowWidth_->Value(),
                     windowHeight_->Value());
  // A place on a screen that has gone, or a size larger than the screens now are, is not used.
  if (stored.width() >= kFormClientWidth && stored.height() >= kFormClientHeight &&
      FitsTheScreens(stored)) {
    resize(stored.size());
    move(stored.topLeft());
  }
  if (windowMaximized_->Value() == 1) setWindowState(windowState() | Qt::WindowMaximized);
}

void TFormQuillet::StoreView() {
  // The place is that of the frame's corner and the size that of the client area, as move()
  // and resize() take them back; a maximised window keeps the place it returns to.
  QRect place(pos(), size());
  if (isMaximized() && normalGeometry().isValid()) {
    place = normalGeometry().translated(frameGeometry().topLeft() - geometry().topLeft());
  }
  windowLeft_->SetValue(place.x());
  windowTop_->SetValue(place.y());
  windowWidth_->SetValue(place.width());
  windowHeight_->SetValue(place.height());
  windowMaximized_->SetValue(isMaximized() ? 1 : 0);
}

void TFormQuillet::SetStatus(const std::string& text) {
  statusLine_->setText(FromCore(text));
  statusLine_->setToolTip(FromCore(text));
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
  if (running_) cancelRequested_ = true;
}

void TFormQuillet::EscapeClick() {
  if (running_)
    cancelRequested_ = true;
  else
    close();
}

void TFormQuillet::OpenFilesClick() {
  if (running_) return;
  const std::vector<std::string> chosen = dialogs_->ChooseFiles();
  if (!chosen.empty()) OpenFiles(chosen);
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

void TFormQuillet::ProcessDroppedNames(const std::vector<std::string>& names) {
  if (running_) return;
  const std::vector<ExpandedName> files =
      ExpandNames(std::vector<std::filesystem::path>(names.begin(), names.end()));
  const int count = static_cast<int>(files.size());
  const bool several = count > 1;
  const Run run(*this, several);
  for (int i = 0; i < count; ++i) {
    const ExpandedName& file = files[static_cast<std::size_t>(i)];
    const int left = count - i - 1;
    try {
      if (!file.error.empty()) throw Error(file.error);
      if (several) {
        SetStatus(ProgressText(i + 1, count, file.path.filename().string()));
        statusLine_->repaint();
      }
      ProcessFile(file.path, true);
    } catch (const std::exception& error) {
      SetStatus(file.path.filename().string() + ": stopped by an error" +
                (left > 0 ? "; " + LeftUnprocessedText(left, count) : std::string()));
      if (left == 0) throw;
      throw Error(ErrorReportText(error.what(), file.path) + "\n\n" +
                  LeftUnprocessedText(left, count));
    }
    if (left == 0) break;
    // Between files the window repaints and sees Cancel, Escape or its closing.
    QCoreApplication::processEvents();
    if (cancelRequested_) {
      SetStatus(CancelledText(i + 1, count));
      return;
    }
  }
}

void TFormQuillet::ProcessFile(const std::filesystem::path& fileName, bool auto_save) {
  saveEnabled_ = false;
  currentFile_ = fileName;
  current_.output.SetHeight(0);
  RepaintOutput();
  // A file of another kind is not read at all; the user learns why and the drop goes on.
  if (const std::optional<std::string> reason = SkipReason(fileName)) {
    labelHelpText_ = fileName.filename().string();
    ShowState();
    FileReport report;
    report.input_name = labelHelpText_;
    report.skipped = true;
    SetStatus(ReportText(report));
    dialogs_->ShowMessage(*reason);
    return;
  }
  ProcessingOptions options;
  options.source = SourceOfItem(radioGroupSourceID_->ItemIndex());
  bool saved = false;
  bool declined = false;
  try {
    // Loaded apart from the rest, so that the picture shows even when processing it fails.
    inputBitmap_ = LoadPicture(fileName);
    labelHelpText_ = fileName.filename().string();
    current_ = ProcessLoadedPicture(fileName, inputBitmap_, options);
    if (current_.naming_failed) dialogs_->ShowMessage(kHeaderFailureMessage + labelHelpText_);
    RepaintOutput();
    labelOutputNameHint_ = current_.proposed_name.string();
    labelOutputNameText_ = current_.proposed_name.filename().string();
    saveEnabled_ = current_.changed;
    if (auto_save && current_.changed) {
      saved = SaveCurrent();
      declined = !saved;
    }
  } catch (...) {
    ShowState();
    throw;
  }
  ShowState();
  FileReport report;
  report.input_name = fileName.filename().string();
  report.proposed_name = current_.proposed_name.filename().string();
  report.header_read = current_.named_from != NamedFrom::kInputName;
  report.changed = current_.changed;
  report.auto_save = auto_save;
  report.saved = saved;
  report.declined = declined;
  report.looks_like_full_frame = current_.looks_like_full_frame;
  SetStatus(ReportText(report));
}

bool TFormQuillet::SaveCurrent() {
  return SavePicture(current_,
                     [this](const std::filesystem::path&, const std::filesystem::path& target) {
                       // The question is about the file just processed: the user sees its pictures
                       // and names.
                       ShowState();
                       RepaintOutput();
                       return dialogs_->AskYesNo(kOverwriteCaption, OverwriteQuestionText(target));
                     });
}

void TFormQuillet::ShowState() {
  buttonSave_->setEnabled(saveEnabled_);
  labelHelp_->setText(FromCore(labelHelpText_));
  labelOutputName_->setText(FromCore(labelOutputNameText_));
  labelOutputName_->setToolTip(FromCore(labelOutputNameHint_));
  imageIn_->SetPicture(inputBitmap_);
  imageIn_->repaint();
}

void TFormQuillet::RepaintOutput() {
  imageOut_->SetPicture(current_.output);
  imageOut_->repaint();
}

}  // namespace tessaly
