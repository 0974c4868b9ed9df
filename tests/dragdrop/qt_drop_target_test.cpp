// Tests of the Qt drop target adapter under the offscreen platform: drops on the registered
// scroll area and elsewhere, auto-scrolling with the QTimer, registration and the clipboard.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDeadlineTimer>
#include <QDragEnterEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QUrl>

#include "base/errors.h"
#include "dragdrop/qt_drop_target.h"
#include "support/qt_drag_simulation.h"

namespace tessaly {
namespace {

using Names = std::vector<std::string>;

void Wait(int ms) {
  const QDeadlineTimer deadline(ms);
  while (!deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

std::unique_ptr<QMimeData> Files(const QStringList& paths) {
  auto mime = std::make_unique<QMimeData>();
  QList<QUrl> urls;
  for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
  mime->setUrls(urls);
  return mime;
}

// The main form's arrangement: a scroll area showing a large picture, a right pane, a button.
class QtDropTargetTest : public ::testing::Test {
 protected:
  QtDropTargetTest() {
    form_.resize(400, 200);
    area_ = new QScrollArea(&form_);
    area_->setObjectName("ScrollBoxIn");
    area_->setGeometry(0, 0, 200, 150);
    QFont font = area_->font();
    font.setPixelSize(11);
    area_->setFont(font);
    picture_ = new QLabel;
    picture_->setFixedSize(600, 600);
    area_->setWidget(picture_);
    right_pane_ = new QLabel(&form_);
    right_pane_->setGeometry(210, 0, 100, 100);
    button_ = new QPushButton("Save", &form_);
    button_->setGeometry(210, 110, 80, 30);
    form_.show();
    QCoreApplication::processEvents();

    target_.Dragtypes = {dtCopy};
    target_.OnDrop = [this](TDropTarget&, TShiftState, TPoint point, DropEffect&) {
      dropped_ = target_.Files();
      mapped_ = target_.MappedNames();
      point_ = point;
    };
    target_.OnLeave = [this](TDropTarget&) { ++leaves_; };
    target_.RegisterTarget(area_);
  }

  QWidget form_;
  QScrollArea* area_ = nullptr;
  QLabel* picture_ = nullptr;
  QLabel* right_pane_ = nullptr;
  QPushButton* button_ = nullptr;
  QtDropFileTarget target_;  // declared last: unregisters while the widgets still exist
  std::optional<Names> dropped_;
  Names mapped_;
  TPoint point_;
  int leaves_ = 0;
};

TEST_F(QtDropTargetTest, FileUrlsDroppedOnThePaneReachOnDropInOrder) {
  const QString accented = QString::fromUtf8("/frames/caf\xC3\xA9.png");
  auto mime = Files({"/frames/b frame.bmp", accented});
  mime->setUrls(mime->urls() << QUrl("https://example.org/remote.png"));

  EXPECT_EQ(SimulateDrop(picture_, *mime, QPoint(20, 30)), Qt::CopyAction);
  EXPECT_EQ(dropped_, (Names{"/frames/b frame.bmp", "/frames/caf\xC3\xA9.png"}));
  const QPoint client = picture_->mapTo(area_->viewport(), QPoint(20, 30));
  EXPECT_EQ(point_, (TPoint{client.x(), client.y()}));
  EXPECT_TRUE(target_.Files().empty());
}

TEST_F(QtDropTargetTest, DragsWithoutLocalFilesAreRefused) {
  QMimeData text;
  text.setText("/frames/a.bmp");
  EXPECT_EQ(SimulateDrop(picture_, text, QPoint(20, 30)), Qt::IgnoreAction);
  QMimeData remote;
  remote.setUrls({QUrl("https://example.org/a.bmp")});
  EXPECT_EQ(SimulateDrop(picture_, remote, QPoint(20, 30)), Qt::IgnoreAction);
  EXPECT_FALSE(dropped_.has_value());
  EXPECT_EQ(leaves_, 2);
  EXPECT_FALSE(target_.Dragging());
}

TEST_F(QtDropTargetTest, OnlyTheRegisteredWidgetTakesDrops) {
  auto mime = Files({"/frames/a.bmp"});
  EXPECT_EQ(SimulateDrop(right_pane_, *mime, QPoint(5, 5)), Qt::IgnoreAction);
  EXPECT_EQ(SimulateDrop(button_, *mime, QPoint(5, 5)), Qt::IgnoreAction);
  // Sent straight to the button, as a platform might, the drag is refused as well.
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(button_, &enter);
  EXPECT_FALSE(enter.isAccepted());
  EXPECT_FALSE(dropped_.has_value());
}

TEST_F(QtDropTargetTest, ANameMapTravelsUnderItsNativeName) {
  auto mime = Files({"/frames/a.bmp"});
  mime->setData("application/x-qt-windows-mime;value=\"FileNameMap\"", QByteArray("A.BMP\0\0", 7));
  EXPECT_EQ(SimulateDrop(picture_, *mime, QPoint(20, 30)), Qt::CopyAction);
  EXPECT_EQ(mapped_, Names{"A.BMP"});
}

TEST_F(QtDropTargetTest, DraggingNearTheBottomScrollsLineByLineUntilLeft) {
  auto mime = Files({"/frames/a.bmp"});
  QScrollBar* vertical = area_->verticalScrollBar();
  QScrollBar* horizontal = area_->horizontalScrollBar();
  QWidget* viewport = area_->viewport();
  const QPoint near_bottom = viewport->mapTo(area_, QPoint(50, viewport->height() - 3));
  QDragEnterEvent enter(near_bottom, Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(area_, &enter);
  QDragMoveEvent move(near_bottom, Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(area_, &move);
  EXPECT_TRUE(move.isAccepted());
  EXPECT_EQ(move.dropAction(), Qt::CopyAction);
  EXPECT_EQ(target_.ScrollMargin(), 11);
  EXPECT_EQ(target_.ScrollDirections(), (TScrollDirections{sdHorizontal, sdVertical}));
  EXPECT_TRUE(target_.ScrollTimer().Enabled());

  // The pointer keeps sending moves while held still in the zone; they must not hold up ticks.
  for (int i = 0; i < 12; ++i) {
    QDragMoveEvent again(near_bottom, Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(area_, &again);
    Wait(30);
  }
  EXPECT_GE(vertical->value(), 2 * vertical->singleStep());
  EXPECT_EQ(vertical->value() % vertical->singleStep(), 0);
  EXPECT_EQ(horizontal->value(), 0);

  QDragLeaveEvent leave;
  QCoreApplication::sendEvent(area_, &leave);
  EXPECT_FALSE(target_.ScrollTimer().Enabled());
  const int stopped_at = vertical->value();
  Wait(250);
  EXPECT_EQ(vertical->value(), stopped_at);
}

TEST_F(QtDropTargetTest, RegistrationOfTheWidget) {
  QtDropFileTarget second;
  try {
    second.RegisterTarget(area_);
    FAIL() << "a widget registered twice";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Failed to Register ScrollBoxIn");
  }
  target_.RegisterTarget(area_);  // the same widget: nothing changes
  EXPECT_EQ(target_.TargetWidget(), area_);
  auto mime = Files({"/frames/a.bmp"});
  EXPECT_EQ(SimulateDrop(picture_, *mime, QPoint(20, 30)), Qt::CopyAction);

  target_.RegisterTarget(nullptr);
  EXPECT_EQ(target_.TargetWidget(), nullptr);
  EXPECT_FALSE(area_->acceptDrops());
  dropped_.reset();
  EXPECT_EQ(SimulateDrop(picture_, *mime, QPoint(20, 30)), Qt::IgnoreAction);
  EXPECT_FALSE(dropped_.has_value());
}

TEST_F(QtDropTargetTest, AWidgetDestroyedWhileRegisteredLeavesNothingToRevoke) {
  delete area_;
  area_ = nullptr;
  EXPECT_NO_THROW(target_.UnregisterTarget());
  EXPECT_EQ(target_.TargetWidget(), nullptr);
  EXPECT_NE(target_.Target(), nullptr);
}

TEST_F(QtDropTargetTest, ReadClipboardTakesTheCopiedFiles) {
  QGuiApplication::clipboard()->setMimeData(Files({"/frames/x.bmp", "/frames/y.png"}).release());
  EXPECT_EQ(target_.ReadClipboard(), DROPEFFECT_COPY);
  EXPECT_EQ(target_.Files(), (Names{"/frames/x.bmp", "/frames/y.png"}));
}

}  // namespace
}  // namespace tessaly

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
