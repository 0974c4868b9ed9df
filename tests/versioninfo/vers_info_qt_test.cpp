// The version component's Qt links: the two-column version list and the linked labels.
#include "versioninfo/vers_info_qt.h"

#include <QApplication>
#include <QHeaderView>

#include <gtest/gtest.h>

#include <memory>

#include "crafted.h"

namespace tessaly {
namespace {

QStringList Rows(const QTreeWidget& view) {
  QStringList rows;
  for (int i = 0; i < view.topLevelItemCount(); ++i) {
    rows << view.topLevelItem(i)->text(0) + "=" + view.topLevelItem(i)->text(1);
  }
  return rows;
}

class VersionLinks : public ::testing::Test {
 protected:
  std::vector<std::uint8_t> bytes_ = testing::ProgramLikeResource();
  TvixVersionInfoResourceQt info_{bytes_};
};

TEST_F(VersionLinks, FillsAReadOnlyTwoColumnListInItsOrder) {
  QTreeWidget view;
  view.addTopLevelItem(new QTreeWidgetItem(QStringList{"stale"}));
  info_.SetVersionListView(&view);
  EXPECT_EQ(view.topLevelItemCount(), 1) << "nothing is shown while loading";
  info_.Loaded();

  EXPECT_EQ(view.columnCount(), 2);
  EXPECT_EQ(view.headerItem()->text(0), "Resource");
  EXPECT_EQ(view.headerItem()->text(1), "Value");
  EXPECT_EQ(view.editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_FALSE(view.header()->sectionsClickable());
  EXPECT_FALSE(view.rootIsDecorated());
  EXPECT_EQ(view.header()->sectionSize(0), view.header()->sectionSizeHint(0));
  const QStringList all = {"Product Name=Tessaly",
                           "Product Version=1.2.2.7",
                           "Company Name=Kestrelwood",
                           QString::fromUtf8("Legal Copyright=Copyright \xC2\xA9 Kestrelwood"),
                           "File Description=Update and rename bitmaps to WEFAX standard",
                           "File Version=1.2.2.7",
                           "Internal Name=Tessaly",
                           "Original Filename=tessaly"};
  EXPECT_EQ(Rows(view), all);

  // Changing the shown items refills the list instead of adding to it.
  TPreDefs shown = TPreDefs::All();
  shown.Exclude(TPreDef::pdProductVersion);
  info_.SetShowResource(shown);
  QStringList expected = all;
  expected.removeAt(1);
  EXPECT_EQ(Rows(view), expected);
}

TEST_F(VersionLinks, LinkedLabelsTakeTheirItemsOutOfTheList) {
  QTreeWidget view;
  QLabel version;
  QLabel copyright;
  auto description = std::make_unique<QLabel>();
  QLabel product;
  info_.SetVersionListView(&view);
  info_.SetVersionLabel(&version);
  info_.SetCopyrightLabel(&copyright);
  info_.SetDescriptionLabel(description.get());
  info_.SetProductLabel(&product);
  info_.Loaded();

  EXPECT_EQ(version.text(), "1.2.2.7");
  EXPECT_EQ(copyright.text(), QString::fromUtf8("Copyright \xC2\xA9 Kestrelwood"));
  EXPECT_EQ(description->text(), "Update and rename bitmaps to WEFAX standard");
  EXPECT_EQ(product.text(), "Tessaly");
  EXPECT_EQ(Rows(view), (QStringList{"Product Version=1.2.2.7", "Company Name=Kestrelwood",
                                     "Internal Name=Tessaly", "Original Filename=tessaly"}));

  // A destroyed label is unlinked; unlinking does not bring its row back.
  description.reset();
  EXPECT_EQ(info_.DescriptionLabel(), nullptr);
  info_.LoadVersionData();
  info_.SetVersionLabel(nullptr);
  EXPECT_EQ(view.topLevelItemCount(), 4);
}

}  // namespace
}  // namespace tessaly

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
