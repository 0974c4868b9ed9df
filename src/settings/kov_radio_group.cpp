// The remembering radio group: a group box of radio buttons over the per-user store.
#include "settings/kov_radio_group.h"

#include <QButtonGroup>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace tessaly {

TkovRadioGroup::TkovRadioGroup(QWidget* parent)
    : QGroupBox(parent), layout_(new QVBoxLayout(this)), group_(new QButtonGroup(this)) {
  group_->setExclusive(true);
  connect(group_, &QButtonGroup::idToggled, this, &TkovRadioGroup::ButtonToggled);
}

TkovRadioGroup::~TkovRadioGroup() {
  // The buttons die with the base classes; their last signals must not reach this object.
  QObject::disconnect(group_, nullptr, this, nullptr);
  if (registryValue_) {
    registryValue_->SetValue(itemIndex_);
    registryValue_.reset();
  }
}

void TkovRadioGroup::SetItems(const QStringList& items) {
  items_ = items;
  itemIndex_ = std::min(itemIndex_, static_cast<int>(items_.size()) - 1);
  RebuildButtons();
}

QRadioButton* TkovRadioGroup::Button(int index) const {
  if (index < 0 || index >= static_cast<int>(buttons_.size())) return nullptr;
  return buttons_[static_cast<std::size_t>(index)];
}

void TkovRadioGroup::RebuildButtons() {
  updating_ = true;
  for (QRadioButton* button : buttons_) {
    group_->removeButton(button);
    delete button;
  }
  buttons_.clear();
  for (int i = 0; i < static_cast<int>(items_.size()); ++i) {
    auto* button = new QRadioButton(items_[i], this);
    layout_->addWidget(button);
    group_->addButton(button, i);
    buttons_.push_back(button);
  }
  if (QRadioButton* selected = Button(itemIndex_)) selected->setChecked(true);
  updating_ = false;
}

void TkovRadioGroup::SetItemIndex(int index) {
  index = std::clamp(index, -1, static_cast<int>(items_.size()) - 1);
  if (index == itemIndex_) return;
  if (index < 0) {
    // An exclusive group refuses to uncheck its last checked button.
    group_->setExclusive(false);
    Button(itemIndex_)->setChecked(false);
    group_->setExclusive(true);
    itemIndex_ = -1;
    return;
  }
  Button(index)->setChecked(true);  // ButtonToggled takes over the new index
}

void TkovRadioGroup::ButtonToggled(int id, bool checked) {
  if (updating_ || !checked || id == itemIndex_) return;
  itemIndex_ = id;
  emit itemClicked(id);
  if (OnClick) OnClick();
}

void TkovRadioGroup::Loaded() {
  if (registryValue_) return;
  if (namedAs_.isEmpty()) namedAs_ = objectName();
  const QString baseName = programBaseName_.isNull() ? RunningProgramBaseName() : programBaseName_;
  registryValue_ = std::make_unique<TRegistryInteger>(namedAs_, itemIndex_, baseName);
  // The owner's click handler must not run for a selection the user did not make now.
  auto handler = std::exchange(OnClick, nullptr);
  {
    const QSignalBlocker blocker(this);
    SetItemIndex(registryValue_->Value());
  }
  OnClick = std::move(handler);
}

}  // namespace tessaly
