// The proposed name of a picture: the header's standard name in the input's folder with the
// input's extension, or the input's own name when the header does not read.
#include "naming/header_name.h"

#include <string>

#include "base/text.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

// Folder (with its trailing separator) and extension (with its dot) of the input name;
// every proposal is built between the two.
struct NameFrame {
  std::string folder;
  std::string extension;

  explicit NameFrame(const fs::path& input)
      : folder(input.native().substr(0, input.native().size() - input.filename().native().size())),
        extension(input.extension().native()) {}

  fs::path Compose(std::string_view name_part) const {
    return fs::path(folder + std::string(name_part) + extension);
  }
};

}  // namespace

NameProposal HeaderToFileName(const fs::path& file_name, std::string_view header_text) {
  return ProposeName(file_name, header_text, ReadHeader(header_text));
}

NameProposal ProposeName(const fs::path& file_name, std::string_view header_text,
                         const std::optional<HeaderFields>& fields) {
  if (header_text.size() < kMinHeaderLength) return {file_name, NamedFrom::kInputName, {}};
  if (!fields) {
    return {file_name, NamedFrom::kInputName, "Bad WEFAX header: " + Latin1ToUtf8(header_text)};
  }
  return {NameFrame(file_name).Compose(StandardName(*fields)), fields->form, {}};
}

bool IsValidFileName(const fs::path& name, const fs::path& input_name) {
  const NameFrame frame(input_name);
  const std::string& text = name.native();
  if (text.size() < frame.folder.size() + frame.extension.size()) return false;
  if (!text.starts_with(frame.folder) || !text.ends_with(frame.extension)) return false;
  const std::size_t part_length = text.size() - frame.folder.size() - frame.extension.size();
  return IsStorableName(std::string_view(text).substr(frame.folder.size(), part_length));
}

}  // namespace tessaly
