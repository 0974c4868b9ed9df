// Saving the output: the overwrite question, the four PNG texts and the write.
// Used by the per-file processing (Save button, AutoSave) and the batch tool.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "base/messages.h"
#include "picture_store/bitmap.h"

namespace tessaly {

inline constexpr const char* kOverwriteCaption = "Overwrite image file?";

// "The file "<name>" already exists. Do you want to overwrite this file?"
std::string OverwriteQuestionText(const std::filesystem::path& name);

// True when nothing stands at `name`, or the question was answered Yes. An
// unset question counts as No.
bool ConfirmOverwrite(const std::filesystem::path& name, const OverwriteQuestion& ask);

// The saved picture's PNG encoding with its Author, Description, Software and
// Title texts (the title is the name part of `name`).
std::vector<std::uint8_t> EncodeOutput(const Bitmap& output, const std::filesystem::path& name);

// Asks before replacing, then writes the output picture as `name`; false when
// the answer was No and nothing was written. Write failures throw Error.
bool SaveOutput(const Bitmap& output, const std::filesystem::path& name,
                const OverwriteQuestion& ask);

// As SaveOutput, for a picture already encoded (the batch tool encodes on its workers).
bool SaveEncodedOutput(std::span<const std::uint8_t> png, const std::filesystem::path& name,
                       const OverwriteQuestion& ask);

}  // namespace tessaly
