// File-system questions shared by the folder expansion and the drop target.
#include "base/files.h"

#include <system_error>

namespace tessaly {

bool IsFolder(const std::filesystem::path& name) {
  std::error_code error;
  return std::filesystem::is_directory(name, error);
}

}  // namespace tessaly
