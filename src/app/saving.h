// Saving a processed picture: its PNG encoding with the four texts, the one save call of the
// window and the batch tool, and the file written ahead of its save.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "app/processor.h"
#include "base/files.h"
#include "base/messages.h"
#include "picture_store/bitmap.h"

namespace tessaly {

// The saved picture's PNG encoding with its Author, Description, Software and
// Title texts (the title is the name part of `name`), and a "Creation Time" text after them
// when `creation_time` is not blank.
std::vector<std::uint8_t> EncodeOutput(const Bitmap& output, const std::filesystem::path& name,
                                       const std::string& creation_time = {});

// Whether a saved picture carries its own time: the four texts alone by default, or with the
// header's time (ISO 8601 UTC, IsoTime) as "Creation Time", so that image managers can sort
// by when the picture was received rather than when it was saved. A header without a time
// (an administrative or test message, or none read) adds nothing.
enum class CreationTime { kLeftOut, kFromHeader };

// Encodes the output as the PNG SavePicture writes, so that a worker thread can do it.
void EncodePicture(PictureResult& result, CreationTime creation_time = CreationTime::kLeftOut);

// Runs after the check for an existing file and the writing of the new one, just before the
// new file takes its name: the tests stand there as another program creating the target.
using BeforePublish = std::function<void()>;

// The one save of the window and the batch tool: the output under the proposed name. Asks
// before replacing what stands there, also when a file appears there during the save; false
// when the answer was No (an unset question counts as No), leaving that file untouched. The
// PNG is `prepared` when PrepareFile wrote it ahead for this name, else the encoded png of the
// result, else encoded now. Every step works in `folder` when it is given (the proposed name's
// folder as OutputFolder::Place opened it), else in the prepared file's folder, else in the
// folder the proposed name leads to, opened once. Write failures throw Error naming the file.
bool SavePicture(const PictureResult& result, const OverwriteQuestion& ask,
                 std::unique_ptr<PendingFile> prepared = nullptr,
                 const BeforePublish& before_publish = {}, FolderRef folder = nullptr);

// The file's bytes written beside `name` (in `folder` when given, as WritePending) and flushed
// ahead of its save, so that a batch can do the slow part on its worker threads and leave only
// the naming to the saves in input order. Null when that fails: the save then writes the file
// itself and reports what fails then. Dropping it unsaved removes the temporary file.
std::unique_ptr<PendingFile> PrepareFile(const std::filesystem::path& name,
                                         std::span<const std::uint8_t> bytes,
                                         FolderRef folder = nullptr);

}  // namespace tessaly
