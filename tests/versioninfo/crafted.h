// Crafted version resources shared by the version tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "versioninfo/version_resource.h"

namespace tessaly::testing {

// Laid out like the program's own: fixed 1.2.2.7, one British-English table, 0809/04E4.
inline VersionResourceContent ProgramLikeContent() {
  VersionFixedInfo fixed;
  fixed.file_version_ms = VersionWord(1, 2);
  fixed.file_version_ls = VersionWord(2, 7);
  fixed.product_version_ms = VersionWord(1, 2);
  fixed.product_version_ls = VersionWord(2, 7);
  VersionResourceContent content;
  content.fixed = fixed;
  content.string_tables.push_back(
      {"080904E4",
       {{"CompanyName", "Kestrelwood"},
        {"FileDescription", "Update and rename bitmaps to WEFAX standard"},
        {"FileVersion", "1.2.2.7"},
        {"InternalName", "Tessaly"},
        {"LegalCopyright", "Copyright \u00A9 Kestrelwood"},
        {"OriginalFilename", "tessaly"},
        {"ProductName", "Tessaly"},
        {"ProductVersion", "1.2.2.7"}}});
  content.translations = std::vector<VersionTranslation>{{0x0809, 0x04E4}};
  return content;
}

inline std::vector<std::uint8_t> ProgramLikeResource() {
  return BuildVersionResource(ProgramLikeContent());
}

}  // namespace tessaly::testing
