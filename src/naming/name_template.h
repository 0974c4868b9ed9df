// Names from a template of header fields ("{yyyy}-{mm}-{dd}_{HH}{MM}_{code}"), the
// batch tool's opt-in alternative to the standard names.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "naming/header_fields.h"

namespace tessaly {

// The placeholders and what each stands for, as --help lists them.
inline constexpr const char* kTemplatePlaceholderHelp =
    "{yyyy} year, {yy} year in two digits, {mm} month, {dd} day, {HH} hour, {MM} minute, "
    "{code} picture code, {satellite} satellite, {kind} kind of picture, "
    "{name} the standard name without extension";

// Why `name_template` cannot be used (an unknown placeholder, a folder separator, a character
// no file name may hold), or nothing when it can. With `folders`, "/" separates folders below
// an output folder, and no part between slashes may then be empty, "." or "..", or begin with a
// dot: whatever the header holds, the result stays below that folder.
std::optional<std::string> TemplateProblem(std::string_view name_template, bool folders = false);

// True when the template lays out folders ("{yyyy}/{mm}/{name}").
bool TemplateHasFolders(std::string_view name_template);

// The file name the template gives for these fields, in the folder of `input`
// and with the extension of `standard`; nothing when a placeholder it uses has
// no value in them or the result is no safe file name in that folder.
// `standard` is the standard proposal (its name part fills {name}). A name longer than
// NAME_MAX bytes is no safe name either. When `problem` is given, it is told why a name that
// was made cannot be used; a missing field is no problem (the standard name is meant then).
std::optional<std::filesystem::path> NameFromTemplate(std::string_view name_template,
                                                      const HeaderFields& fields,
                                                      const std::filesystem::path& input,
                                                      const std::filesystem::path& standard,
                                                      std::string* problem = nullptr);

// The path below an output folder that a template with folders gives for these fields, ending
// in `extension`; nothing when a placeholder it uses has no value in them, or a part between
// slashes is no storable name (IsStorableName) of at most 255 bytes. A field's value never adds
// a folder: one holding "/" gives nothing.
std::optional<std::filesystem::path> PathFromTemplate(std::string_view name_template,
                                                      const HeaderFields& fields,
                                                      const std::filesystem::path& standard,
                                                      const std::string& extension);

}  // namespace tessaly
