// The main window: controls, handlers and the ties to drop target, settings and version data.
#include "gui/main_form.h"

#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>

#include <exception>
#include <optional>

#include "app/folders.h"
#include "gui/picture_control.h"
#include "settings/kov_radio_group.h"
#include "versioninfo/embedded_resource.h"

namespace tessaly {

namespace {

QString FromCore(const std::string& text) {
  return QString::fromStdString(text);
}

QScrollArea* MakeScrollBox(QWidget* parent, const char* name, const QRect& geometry,
                           PictureControl* picture) {
  auto* box = new QScrollArea(parent);
  box->setObjectName(name);
  box->setGeometry(geometry);
  box->setWidgetResizable(false);
  box->setWidget(picture);
  box->horizontalScrollBar()->setTracking(true);
  box->verticalScrollBar()->setTracking(true);
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

}  // namespace

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
  // A fixed border with system menu and minimise, but no maximise.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(kFormClientWidth, kFormClientHeight);
  move(193, 107);
  QFont font(QStringLiteral("Sans Serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  setFont(font);
  CreateControls();
  SetTabOrder();
  // What the form description's loading does before the creation handler runs.
  radioGroupSourceID_->Loaded();
  versInfo_.Loaded();
  FormCreate();
}

TFormQuillet::~TFormQuillet() {
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

  connect(buttonSave_, &QPushButton::clicked, this, [this] { ButtonSaveClick(); });
  connect(buttonClose_, &QPushButton::clicked, this, [this] { ButtonCloseClick(); });
  radioGroupSourceID_->OnClick = [this] { RadioGroupSourceIDClick(); };
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
  Guarded([this] { SaveCurrent(); });
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
  for (const std::string& name : names) {
    const std::filesystem::path path(name);
    if (IsFolder(path)) {
      for (const std::filesystem::path& entry : ListFolderPictures(path)) ProcessFile(entry, true);
    } else {
      ProcessFile(path, true);
    }
  }
}

void TFormQuillet::ProcessFile(const std::filesystem::path& fileName, bool autoSave) {
  saveEnabled_ = false;
  currentFile_ = fileName;
  current_.output.SetHeight(0);
  RepaintOutput();
  // A file of another kind is not read at all; the user learns why and the drop goes on.
  if (const std::optional<std::string> reason = SkipReason(fileName)) {
    labelHelpText_ = fileName.filename().string();
    ShowState();
    dialogs_->ShowMessage(*reason);
    return;
  }
  try {
    // Loaded apart from the rest, so that the picture shows even when processing it fails.
    inputBitmap_ = LoadPicture(fileName);
    labelHelpText_ = fileName.filename().string();
    ProcessingOptions options;
    options.source_id = radioGroupSourceID_->ItemIndex();
    current_ = ProcessLoadedPicture(fileName, inputBitmap_, options);
    if (current_.naming_failed) dialogs_->ShowMessage(kHeaderFailureMessage + labelHelpText_);
    RepaintOutput();
    labelOutputNameHint_ = current_.proposed_name.string();
    labelOutputNameText_ = current_.proposed_name.filename().string();
    saveEnabled_ = current_.changed;
    if (autoSave && current_.changed) SaveCurrent();
  } catch (...) {
    ShowState();
    throw;
  }
  ShowState();
}

bool TFormQuillet::SaveCurrent() {
  return SavePicture(current_, [this](const std::string& caption, const std::string& text) {
    // The question is about the file just processed: the user sees its pictures and names.
    ShowState();
    RepaintOutput();
    return dialogs_->AskYesNo(caption, text);
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
