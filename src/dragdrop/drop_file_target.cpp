// TDropFileTarget: fetching the file list and its name map; the folder test.
#include "dragdrop/drop_file_target.h"

#include <system_error>

#include "dragdrop/drop_files.h"

namespace tessaly {

TDropFileTarget::TDropFileTarget(std::unique_ptr<TDropTimer> scroll_timer)
    : TDropTarget(std::move(scroll_timer)) {}

bool TDropFileTarget::HasAcceptableFormat() const {
  return DataObject() != nullptr && DataObject()->QueryGetData(kFormatHDrop);
}

void TDropFileTarget::ResetData() {
  files_.clear();
  mapped_names_.clear();
}

bool TDropFileTarget::FetchData() {
  ResetData();
  const TDataObject* data = DataObject();
  if (data == nullptr) return false;
  const auto list = data->GetData(kFormatHDrop);
  if (!list) return false;
  files_ = ReadDropFiles(*list);
  // The wide map is asked for only when the 8-bit one is not offered at all.
  if (const auto map = data->GetData(kFormatFileNameMap)) {
    mapped_names_ = ReadNameList(*map, 0, false);
  } else if (const auto wide_map = data->GetData(kFormatFileNameMapW)) {
    mapped_names_ = ReadNameList(*wide_map, 0, true);
  }
  if (mapped_names_.size() != files_.size()) mapped_names_.clear();
  return !files_.empty();
}

DropEffect TDropFileTarget::ReadClipboard(const TDataObject& clipboard) {
  const auto list = clipboard.GetData(kFormatHDrop);
  if (!list) return DROPEFFECT_NONE;
  files_ = ReadDropFiles(*list);
  if (files_.empty()) return DROPEFFECT_NONE;
  const DropEffect preferred = TDropTarget::ReadClipboard(clipboard);
  return preferred != DROPEFFECT_NONE ? preferred : DROPEFFECT_COPY;
}

}  // namespace tessaly
