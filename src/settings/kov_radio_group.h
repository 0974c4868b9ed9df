// A radio group that remembers its selected item between runs under the value name
// NamedAs. Used by the main window for the source choice.
#pragma once

#include <QGroupBox>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

#include "settings/registry_variables.h"

class QButtonGroup;
class QRadioButton;
class QVBoxLayout;

namespace tessaly {

class TkovRadioGroup : public QGroupBox {
  Q_OBJECT

 public:
  explicit TkovRadioGroup(QWidget* parent = nullptr);
  // Stores the selection of this moment (once per run).
  ~TkovRadioGroup() override;

  QStringList Items() const { return items_; }
  void SetItems(const QStringList& items);

  // -1 means no item is selected. Setting an index outside the items clamps it to
  // -1 .. count - 1. As with any radio group, a change made in code runs OnClick too.
  int ItemIndex() const { return itemIndex_; }
  void SetItemIndex(int index);
  QRadioButton* Button(int index) const;

  // Runs (after the itemClicked signal) whenever the selection moves to an item.
  std::function<void()> OnClick;

  QString NamedAs() const { return namedAs_; }
  void SetNamedAs(const QString& name) { namedAs_ = name; }
  QString Name() const { return objectName(); }

  // To be called once the owner has set items, ItemIndex, NamedAs and the name: restores the
  // stored selection, with ItemIndex as the default, without running OnClick.
  void Loaded();
  const TRegistryInteger* RegistryValue() const { return registryValue_.get(); }

  // The executable's base name that names the key; set before Loaded to model a copy of
  // the program under another name.
  void SetProgramBaseName(const QString& baseName) { programBaseName_ = baseName; }

 signals:
  void itemClicked(int index);

 private:
  void RebuildButtons();
  void ButtonToggled(int id, bool checked);

  QStringList items_;
  int itemIndex_ = -1;
  QString namedAs_;
  QString programBaseName_;
  std::unique_ptr<TRegistryInteger> registryValue_;
  QVBoxLayout* layout_;
  QButtonGroup* group_;
  std::vector<QRadioButton*> buttons_;
  bool updating_ = false;
};

}  // namespace tessaly
