// The window's remembered values: each pane's view, the window's place and size, and the
// archive catalogue of its contact sheets; read when it is made, written when it goes.
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

#include "gui/main_form.h"
#include "gui/picture_pane.h"
#include "settings/registry_variables.h"

namespace tessaly {

bool FitsTheScreens(const QRect& geometry) {
  const QList<QScreen*> screens = QGuiApplication::screens();
  return std::any_of(screens.begin(), screens.end(), [&geometry](const QScreen* screen) {
    return screen->availableGeometry().contains(geometry);
  });
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
  catalogFile_ = std::make_unique<TRegistryString>(kCatalogFileName, QString());
  ShowSheetActions();
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

}  // namespace tessaly
