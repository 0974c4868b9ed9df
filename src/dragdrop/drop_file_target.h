// TDropFileTarget: a drop target for lists of file names, and the folder test IsFolder; used by
// the main window's drop handler.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/files.h"
#include "dragdrop/drop_target.h"

namespace tessaly {

class TDropFileTarget : public TDropTarget {
 public:
  explicit TDropFileTarget(std::unique_ptr<TDropTimer> scroll_timer);

  // Full names (UTF-8) of the dropped files in the source's order; valid while OnDrop runs.
  const std::vector<std::string>& Files() const { return files_; }
  // The names of the source's name map, one per file, or empty.
  const std::vector<std::string>& MappedNames() const { return mapped_names_; }

  // Reads the clipboard's file list into Files; returns its preferred effect, copy when it has
  // none, or none when the clipboard holds no file names.
  DropEffect ReadClipboard(const TDataObject& clipboard) override;

 protected:
  bool FetchData() override;
  void ResetData() override;
  bool HasAcceptableFormat() const override;

 private:
  std::vector<std::string> files_;
  std::vector<std::string> mapped_names_;
};

}  // namespace tessaly
