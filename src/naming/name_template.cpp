// Template names: placeholders filled from the header's fields, then the same
// file-name check as every standard proposal.
#include "naming/name_template.h"

#include <array>
#include <climits>
#include <cstdio>

#include "base/text.h"
#include "naming/header_name.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

constexpr std::array<std::string_view, 10> kPlaceholders{
    "yyyy", "yy", "mm", "dd", "HH", "MM", "code", "satellite", "kind", "name"};

// Characters no file name may hold, besides control characters.
constexpr std::string_view kForbidden = "\\:*?\"<>|";

// The longest name a folder entry can have on the usual file systems (NAME_MAX).
constexpr std::size_t kMaxNameBytes = 255;

std::string Digits(int value, int width) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*d", width, value);
  return buffer;
}

// The value of one placeholder, or nothing when these fields lack it.
std::optional<std::string> Value(std::string_view placeholder, const HeaderFields& fields,
                                 const fs::path& standard) {
  if (placeholder == "name") return standard.stem().string();
  auto text = [](const std::string& s) -> std::optional<std::string> {
    if (s.empty()) return std::nullopt;
    return s;
  };
  if (placeholder == "code") return text(fields.code);
  if (placeholder == "satellite") return text(fields.satellite);
  if (placeholder == "kind") return text(fields.kind);
  if (!fields.time) return std::nullopt;
  const PictureTime& t = *fields.time;
  if (placeholder == "yyyy") return Digits(t.year, 4);
  if (placeholder == "yy") return Digits(t.year % 100, 2);
  if (placeholder == "mm") return Digits(t.month, 2);
  if (placeholder == "dd") return Digits(t.day, 2);
  if (placeholder == "HH") return Digits(t.hour, 2);
  return Digits(t.minute, 2);
}

// The template with its placeholders filled, or nothing when one has no value in these fields
// or a value holds "/", which only the template's own text may bring.
std::optional<std::string> Filled(std::string_view name_template, const HeaderFields& fields,
                                  const fs::path& standard) {
  std::string text;
  for (std::size_t i = 0; i < name_template.size(); ++i) {
    const std::size_t close = name_template[i] == '{' ? name_template.find('}', i) : i;
    if (close == i || close == std::string_view::npos) {
      text.push_back(name_template[i]);
      continue;
    }
    const std::optional<std::string> value =
        Value(name_template.substr(i + 1, close - i - 1), fields, standard);
    if (!value || value->find('/') != std::string::npos) return std::nullopt;
    text += *value;
    i = close;
  }
  return text;
}

// Why one part of a template with folders, between slashes, could lead out of the output
// folder or hide what it names; nothing when it cannot.
std::optional<std::string> PartProblem(std::string_view part) {
  if (part.empty()) {
    return "a name template cannot hold an empty folder name (\"/\" at its start or end, or "
           "\"//\"): results stay below the output folder";
  }
  if (part == "." || part == "..") {
    return "a name template cannot hold \".\" or \"..\" as a folder: results stay below the "
           "output folder";
  }
  if (part.front() == '.') {
    return "a folder or name in a name template cannot begin with a dot, which would hide it";
  }
  return std::nullopt;
}

}  // namespace

bool TemplateHasFolders(std::string_view name_template) {
  return name_template.find('/') != std::string_view::npos;
}

std::optional<std::string> TemplateProblem(std::string_view name_template, bool folders) {
  if (name_template.empty()) return "the name template is empty";
  if (folders) {
    for (std::size_t from = 0;;) {
      const std::size_t slash = name_template.find('/', from);
      const std::size_t end = slash == std::string_view::npos ? name_template.size() : slash;
      if (auto problem = PartProblem(name_template.substr(from, end - from))) return problem;
      if (slash == std::string_view::npos) break;
      from = slash + 1;
    }
  }
  for (std::size_t i = 0; i < name_template.size(); ++i) {
    const char c = name_template[i];
    if (c == '/' && !folders) {
      return "a name template can hold \"/\" only with --output-dir: names stay in the folder "
             "of their picture";
    }
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      return "a name template cannot hold control characters";
    }
    if (kForbidden.find(c) != std::string_view::npos) {
      return std::string("a name template cannot hold \"") + c + "\", which no file name may hold";
    }
    if (c != '{') continue;
    const std::size_t close = name_template.find('}', i);
    const std::string_view name =
        name_template.substr(i + 1, close == std::string_view::npos ? 0 : close - i - 1);
    bool known = false;
    for (std::string_view p : kPlaceholders) known = known || p == name;
    if (close == std::string_view::npos || !known) {
      const std::string shown(name_template.substr(
          i, close == std::string_view::npos ? std::string_view::npos : close - i + 1));
      return "unknown placeholder \"" + shown + "\" in the name template; the placeholders are " +
             kTemplatePlaceholderHelp;
    }
    i = close;
  }
  return std::nullopt;
}

std::optional<fs::path> NameFromTemplate(std::string_view name_template, const HeaderFields& fields,
                                         const fs::path& input, const fs::path& standard,
                                         std::string* problem) {
  const std::optional<std::string> part = Filled(name_template, fields, standard);
  if (!part) return std::nullopt;
  const std::string& whole = input.native();
  const std::string folder = whole.substr(0, whole.size() - input.filename().native().size());
  fs::path name(folder + *part + input.extension().native());
  if (!IsValidFileName(name, input)) {
    if (problem != nullptr) {
      *problem = "the name template gives \"" + *part + "\", which is no storable file name";
    }
    return std::nullopt;
  }
  // The filesystem would refuse a longer name with an error that tells nothing of the template.
  if (const std::size_t length = name.filename().native().size(); length > kMaxNameBytes) {
    if (problem != nullptr) {
      *problem = "the name template gives a name of " + std::to_string(length) +
                 " bytes, longer than the " + std::to_string(kMaxNameBytes) +
                 " a file name may have";
    }
    return std::nullopt;
  }
  return name;
}

std::optional<fs::path> PathFromTemplate(std::string_view name_template, const HeaderFields& fields,
                                         const fs::path& standard, const std::string& extension) {
  std::optional<std::string> text = Filled(name_template, fields, standard);
  if (!text) return std::nullopt;
  *text += extension;
  fs::path path;
  for (std::size_t from = 0;;) {
    const std::size_t slash = text->find('/', from);
    const std::size_t end = slash == std::string::npos ? text->size() : slash;
    // The extension belongs to the last part only: "{name}" of nothing stays empty.
    const std::string_view part(text->data() + from, end - from);
    const std::size_t bare =
        slash == std::string::npos ? part.size() - extension.size() : part.size();
    if (!IsStorableName(part.substr(0, bare)) || part.size() > kMaxNameBytes) return std::nullopt;
    path /= part;
    if (slash == std::string::npos) return path;
    from = slash + 1;
  }
}

}  // namespace tessaly
