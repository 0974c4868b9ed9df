// Saving the output: the overwrite question, the four PNG texts and the write.
// Used by the per-file processing (Save button, AutoSave) and the batch tool.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/files.h"
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

// Runs after the check for an existing file and the writing of the new one, just before the
// new file takes its name: the tests stand there as another program creating the target.
using BeforePublish = std::function<void()>;

// The one save of the window and the batch tool. Asks before replacing an existing file, writes
// the picture beside it and gives it the name. A file that appears after the check is never
// replaced unasked: the question is asked about it then. Returns false, leaving what stands at
// `name` untouched, when the answer was No ("not saved, the file exists"). Write failures throw
// Error naming the file.
bool SaveEncodedOutput(std::span<const std::uint8_t> png, const std::filesystem::path& name,
                       const OverwriteQuestion& ask, const BeforePublish& before_publish = {});

// The file's bytes written beside `name` under a temporary name and flushed to disk ahead of
// its save, so that a batch can do the slow part on its worker threads and leave only the
// naming to the saves in input order. Null when that fails: the save then writes the file
// itself and reports what fails then. Dropping it unsaved removes the temporary file.
std::unique_ptr<PendingFile> PrepareFile(const std::filesystem::path& name,
                                         std::span<const std::uint8_t> bytes);

// PrepareFile on a thread of its own. Creating, writing and flushing a file wait for the disk,
// not the processor, and flushes under way together are committed together, so a batch writes
// ahead on more threads than it decodes on. An invalid future when no thread can be started.
std::future<std::unique_ptr<PendingFile>> PrepareAhead(std::filesystem::path name,
                                                       std::vector<std::uint8_t> bytes);

// The prepared file, once written; null when there is none.
std::unique_ptr<PendingFile> Prepared(std::future<std::unique_ptr<PendingFile>>& prepared);

// SaveEncodedOutput for a picture that PrepareFile wrote ahead for `name` (or, when `prepared`
// is null, that it writes now), with the same questions and results.
bool SavePreparedOutput(std::unique_ptr<PendingFile> prepared, std::span<const std::uint8_t> png,
                        const std::filesystem::path& name, const OverwriteQuestion& ask,
                        const BeforePublish& before_publish = {});

// EncodeOutput, then SaveEncodedOutput.
bool SaveOutput(const Bitmap& output, const std::filesystem::path& name,
                const OverwriteQuestion& ask, const BeforePublish& before_publish = {});

}  // namespace tessaly
