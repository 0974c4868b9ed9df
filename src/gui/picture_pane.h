// One of the window's two picture panes: a scroll area around a picture control, showing the
// picture at actual size (the default) or fitted to the pane. Double-click or the context menu
// switches between the two; a focus mark is drawn round the pane while it has the keyboard focus.
// Used by the main form for ScrollBoxIn and ScrollBoxOut.
#pragma once

#include <QScrollArea>

#include <functional>

class QAction;
class QActionGroup;

namespace tessaly {

class PictureControl;

inline constexpr char kFitToPaneText[] = "&Fit to pane";
inline constexpr char kActualSizeText[] = "&Actual size";

class PicturePane : public QScrollArea {
 public:
  // The pane owns `picture`.
  explicit PicturePane(PictureControl* picture, QWidget* parent = nullptr);

  bool Fitted() const { return fitted_; }
  // Switches the view without running OnFitChanged.
  void SetFitted(bool fitted);
  // Runs when the user switches the view.
  std::function<void()> OnFitChanged;

  // The context menu offers the two views, then the visible actions added to the pane
  // (QWidget::addAction).
  QAction* FitAction() const { return fitAction_; }
  QAction* ActualSizeAction() const { return actualSizeAction_; }

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void UserSetFitted(bool fitted);

  PictureControl* picture_;
  QAction* fitAction_;
  QAction* actualSizeAction_;
  QActionGroup* viewGroup_;
  bool fitted_ = false;
};

}  // namespace tessaly
