// The version component with its Qt links: labels for the version, copyright, description
// and product name, and a two-column list of the version items. Used by the main window.
#pragma once

#include <QLabel>
#include <QPointer>
#include <QTreeWidget>

#include "versioninfo/vers_info.h"

namespace tessaly {

// Replaces the view's columns and rows with "Resource"/"Value" and the component's rows;
// the view becomes a flat, read-only list whose headers do not react to clicks.
void FillVersionListView(QTreeWidget& view, const TvixVersionInfoResource& info);

class TvixVersionInfoResourceQt : public TvixVersionInfoResource {
 public:
  using TvixVersionInfoResource::TvixVersionInfoResource;

  // Linking a label takes its item out of ShowResource so the list does not repeat it.
  // A linked control that is destroyed is unlinked by itself.
  QLabel* VersionLabel() const { return versionLabel_; }
  void SetVersionLabel(QLabel* label);
  QLabel* CopyrightLabel() const { return copyrightLabel_; }
  void SetCopyrightLabel(QLabel* label);
  QLabel* DescriptionLabel() const { return descriptionLabel_; }
  void SetDescriptionLabel(QLabel* label);
  QLabel* ProductLabel() const { return productLabel_; }
  void SetProductLabel(QLabel* label);
  QTreeWidget* VersionListView() const { return listView_; }
  void SetVersionListView(QTreeWidget* view);

 protected:
  void UpdateLinkedControls() override;

 private:
  void LinkLabel(QPointer<QLabel>& link, QLabel* label, TPreDef item);

  QPointer<QLabel> versionLabel_;
  QPointer<QLabel> copyrightLabel_;
  QPointer<QLabel> descriptionLabel_;
  QPointer<QLabel> productLabel_;
  QPointer<QTreeWidget> listView_;
};

}  // namespace tessaly
