// Build-time generator: writes the program's version resource, made from the project
// version given on the command line, as a C++ byte array for tessaly_version_resource.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "versioninfo/version_resource.h"

namespace {

tessaly::VersionResourceContent ProgramContent(const std::uint16_t (&parts)[4]) {
  const std::string version = std::to_string(parts[0]) + '.' + std::to_string(parts[1]) + '.' +
                              std::to_string(parts[2]) + '.' + std::to_string(parts[3]);
  tessaly::VersionFixedInfo fixed;
  fixed.file_version_ms = tessaly::VersionWord(parts[0], parts[1]);
  fixed.file_version_ls = tessaly::VersionWord(parts[2], parts[3]);
  fixed.product_version_ms = fixed.file_version_ms;
  fixed.product_version_ls = fixed.file_version_ls;

  tessaly::VersionResourceContent content;
  content.fixed = fixed;
  // British English under the Western code page, as the window's texts are written.
  content.string_tables.push_back(
      {"080904E4",
       {{"CompanyName", "Kestrelwood"},
        {"FileDescription", "Update and rename bitmaps to WEFAX standard"},
        {"FileVersion", version},
        {"InternalName", "Tessaly"},
        {"LegalCopyright", "Copyright \u00A9 Kestrelwood"},
        {"OriginalFilename", "tessaly"},
        {"ProductName", "Tessaly"},
        {"ProductVersion", version}}});
  content.translations = std::vector<tessaly::VersionTranslation>{{0x0809, 0x04E4}};
  return content;
}

std::string AsCppSource(const std::vector<std::uint8_t>& bytes) {
  std::string out =
      "// Generated at build time from the project version by make_version_resource; do not "
      "edit.\n#include \"versioninfo/embedded_resource.h\"\n\nnamespace tessaly {\nnamespace "
      "{\nalignas(4) constexpr std::uint8_t kVersionResource[] = {";
  char hex[8];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(hex, sizeof hex, "0x%02x,", bytes[i]);
    out += (i % 12 == 0 ? "\n   " : "");
    out += ' ';
    out += hex;
  }
  out +=
      "\n};\n}  // namespace\n\nstd::span<const std::uint8_t> EmbeddedVersionResource() { "
      "return kVersionResource; }\n\n}  // namespace tessaly\n";
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::cerr << "usage: make_version_resource MAJOR MINOR PATCH TWEAK OUTPUT.cpp\n";
    return 2;
  }
  try {
    std::uint16_t parts[4];
    for (int i = 0; i < 4; ++i) {
      const unsigned long part = std::stoul(argv[i + 1]);
      if (part > 0xFFFF) throw std::out_of_range("version part above 65535");
      parts[i] = static_cast<std::uint16_t>(part);
    }
    const std::string source = AsCppSource(tessaly::BuildVersionResource(ProgramContent(parts)));
    std::ofstream out(argv[5], std::ios::binary | std::ios::trunc);
    out << source;
    if (!out.flush()) throw std::runtime_error(std::string("cannot write ") + argv[5]);
  } catch (const std::exception& e) {
    std::cerr << "make_version_resource: " << e.what() << '\n';
    return 1;
  }
  return 0;
}
