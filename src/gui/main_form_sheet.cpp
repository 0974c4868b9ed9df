// The window's view of the archive catalogue: the catalogue kept, and the day's contact sheet of
// the picture shown, gathered from it and drawn in memory, in a viewer of its own.
#include <QAction>
#include <QApplication>

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "base/errors.h"
#include "catalog/catalog.h"
#include "gui/bitmap_qimage.h"
#include "gui/main_form.h"
#include "gui/sheet_viewer.h"
#include "overview/catalog_tiles.h"
#include "overview/contact_sheet.h"
#include "settings/registry_variables.h"

namespace tessaly {

namespace {

inline constexpr char kDaySheetText[] = "Day's contact sheet";

// The series and the day of a picture as the catalogue keeps them.
struct SheetSubject {
  std::string satellite;
  std::string code;
  std::string day;  // "YYYY-MM-DD", UTC
};

// Nothing when the header gives no satellite, code or time to find the day's frames by.
std::optional<SheetSubject> SubjectOf(const PictureResult& result) {
  if (!result.header || !result.header->time) return std::nullopt;
  const HeaderFields& fields = *result.header;
  if (fields.satellite.empty() || fields.code.empty()) return std::nullopt;
  // The catalogue's day of a time, hour 24 being the next day's midnight.
  return SheetSubject{fields.satellite, fields.code, IsoTime(*fields.time).substr(0, 10)};
}

// The hourglass while the catalogue is read and the results shrunk, which may take a second.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

// The sheet of the subject's day. Error, in words for the user, when the catalogue cannot be
// read or holds no frame of that day.
ContactSheet DrawDaySheet(const std::filesystem::path& file, const SheetSubject& subject) {
  const WaitCursor busy;
  Catalog catalog = Catalog::OpenForReading(file);
  const ReportFilter filter{subject.satellite, subject.code, subject.day, subject.day};
  const std::vector<Tile> frames = GatherFrames(catalog, filter);
  const std::vector<MissingSlot> missing = GatherMissingSlots(catalog, filter);
  if (frames.empty() && missing.empty()) {
    throw Error("The catalogue \"" + file.string() + "\" holds no frame of " +
                SeriesName(subject.satellite, subject.code) + " on " + subject.day + ".");
  }
  return DrawContactSheet(frames, missing);
}

}  // namespace

void TFormQuillet::ShowSheetActions() {
  // Without a catalogue the window stays as it always was: no entry, and Ctrl+D does nothing.
  daySheetAction_->setVisible(!catalogFile_->Value().isEmpty());
  const std::optional<SheetSubject> subject = SubjectOf(current_);
  const bool offered = subject && !catalogFile_->Value().isEmpty();
  daySheetAction_->setEnabled(offered);
  daySheetAction_->setText(QString::fromStdString(
      offered ? std::string(kDaySheetText) + " (" + SeriesName(subject->satellite, subject->code) +
                    ", " + subject->day + ")"
              : kDaySheetText));
}

void TFormQuillet::UseCatalog(const std::string& file) {
  std::filesystem::path chosen;
  if (!file.empty()) {
    // Kept whole, so that a later run started elsewhere finds the same file.
    std::error_code unknown;
    chosen = std::filesystem::absolute(file, unknown);
    if (unknown) chosen = file;
    // A file that is no catalogue is refused now rather than at every sheet.
    try {
      Catalog::OpenForReading(chosen);
    } catch (const Error& error) {
      dialogs_->ShowMessage(error.what());
      return;
    }
  }
  catalogFile_->SetValue(QString::fromStdString(chosen.string()));
  ShowSheetActions();
}

void TFormQuillet::DaySheetClick() {
  const std::optional<SheetSubject> subject = SubjectOf(current_);
  if (running_ || !subject || catalogFile_->Value().isEmpty()) return;
  Guarded([this, &subject] {
    ContactSheet sheet;
    try {
      sheet = DrawDaySheet(catalogFile_->Value().toStdString(), *subject);
    } catch (const Error& error) {
      dialogs_->ShowMessage(error.what());
      return;
    }
    if (!sheetViewer_) sheetViewer_ = new SheetViewer(this);
    sheetViewer_->ShowSheet(BitmapToQImage(sheet.picture),
                            QString::fromStdString(sheet.description));
  });
}

}  // namespace tessaly
