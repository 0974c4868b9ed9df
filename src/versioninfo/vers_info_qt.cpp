// Qt links of the version component: label captions and the version list.
#include "versioninfo/vers_info_qt.h"

#include <QHeaderView>
#include <QTreeWidgetItem>

namespace tessaly {

void FillVersionListView(QTreeWidget& view, const TvixVersionInfoResource& info) {
  view.clear();
  view.setColumnCount(2);
  view.setHeaderLabels({QStringLiteral("Resource"), QStringLiteral("Value")});
  view.setRootIsDecorated(false);
  view.setItemsExpandable(false);
  view.setSortingEnabled(false);
  view.setEditTriggers(QAbstractItemView::NoEditTriggers);
  view.header()->setSectionsClickable(false);
  for (int column = 0; column < 2; ++column) {
    view.header()->resizeSection(column, view.header()->sectionSizeHint(column));
  }
  for (const TVersionListRow& row : info.ListViewRows()) {
    view.addTopLevelItem(new QTreeWidgetItem(
        QStringList{QString::fromStdString(row.caption), QString::fromStdString(row.value)}));
  }
}

void TvixVersionInfoResourceQt::LinkLabel(QPointer<QLabel>& link, QLabel* label, TPreDef item) {
  link = label;
  if (label) MutableShowResource().Exclude(item);
  UpdateLinkedControls();
}

void TvixVersionInfoResourceQt::SetVersionLabel(QLabel* label) {
  LinkLabel(versionLabel_, label, TPreDef::pdFileVersion);
}

void TvixVersionInfoResourceQt::SetCopyrightLabel(QLabel* label) {
  LinkLabel(copyrightLabel_, label, TPreDef::pdLegalCopyright);
}

void TvixVersionInfoResourceQt::SetDescriptionLabel(QLabel* label) {
  LinkLabel(descriptionLabel_, label, TPreDef::pdFileDescription);
}

void TvixVersionInfoResourceQt::SetProductLabel(QLabel* label) {
  LinkLabel(productLabel_, label, TPreDef::pdProductName);
}

void TvixVersionInfoResourceQt::SetVersionListView(QTreeWidget* view) {
  listView_ = view;
  UpdateLinkedControls();
}

void TvixVersionInfoResourceQt::UpdateLinkedControls() {
  if (IsLoading()) return;
  const auto text = [](const std::string& s) { return QString::fromStdString(s); };
  if (versionLabel_) versionLabel_->setText(text(FileVersionNumber().AsString()));
  if (copyrightLabel_) copyrightLabel_->setText(text(GetPredefinedValue(4)));
  if (productLabel_) productLabel_->setText(text(GetPredefinedValue(7)));
  if (descriptionLabel_) descriptionLabel_->setText(text(GetPredefinedValue(1)));
  if (listView_) FillVersionListView(*listView_, *this);
}

}  // namespace tessaly
