// The per-file pipeline: one picture file in, its processed picture and proposed name out as a
// value (ProcessPicture), and the save of that value (SavePicture). The batch tool, the window
// and the processing fuzz target all go through it; none of it keeps state between files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/saving.h"
#include "decoder/data_lines.h"
#include "naming/header_check.h"
#include "naming/header_name.h"
#include "picture_files/ext_bitmap.h"

namespace tessaly {

// The two kinds of source picture (the item index of the source choice).
enum SourceId : int { kSourceFullBitmap = 0, kSourceDataLinesOnly = 1 };

inline constexpr int kMaxOutputWidth = 800;

// How one file is processed.
struct ProcessingOptions {
  int source_id = kSourceFullBitmap;  // a SourceId
  // The window shows the loaded picture; the batch tool lets it go as soon as the working
  // picture is made, which lowers the peak memory of a file.
  bool keep_input = false;
};

// What the pipeline made of one file. Front ends add what they need around it, never in it.
struct PictureResult {
  std::filesystem::path input_name;
  std::string header_text;  // as decoded: Latin-1, one character a byte, untrimmed
  // The reading the header came from: GOES or GMS (told by the frame's layout), or Meteosat
  // when only the Meteosat layout gave a header that names the file.
  SatelliteType read_as = SatelliteType::GOES;
  std::int32_t black_level = 0;
  std::int32_t white_level = 0;
  // The part of the working picture that became the output: the decoder's cut, or the whole
  // working picture when it found nothing to cut.
  PictureRect cut;
  std::filesystem::path proposed_name;  // in the input's folder, with the extension ".png"
  NamedFrom named_from = NamedFrom::kInputName;
  // From the header parser: the text a front end shows for a header neither form reads.
  std::string bad_header_message;
  // How far the header reading can be trusted (naming/header_check.h): the margin of its bits
  // in standard deviations of the noise, less a cost per character that breaks its field; 0
  // when no text was read. A doubtful reading names nothing: the proposal is then the input's
  // own name (named_from kInputName), and the name it would have given is kept in
  // doubtful_name (in the input's folder, extension ".png"; empty otherwise), from the form
  // doubtful_named_from.
  double header_confidence = 0.0;
  bool header_doubtful = false;
  std::filesystem::path doubtful_name;
  NamedFrom doubtful_named_from = NamedFrom::kInputName;
  // The header parser failed unexpectedly (it handles unreadable headers itself); the input's
  // own name was proposed.
  bool naming_failed = false;
  // The proposed name differs from the input's beyond letter case: the picture is to be saved.
  bool changed = false;
  TExtBitmap output;  // 8-bit, grey palette
  TExtBitmap input;   // the loaded 8-bit picture; empty unless ProcessingOptions::keep_input
  std::vector<std::uint8_t> png;  // the encoded output once EncodePicture ran; empty before
};

// How the pipeline reads a frame's header: the decoder's findings and the name they give.
struct FrameReading {
  DataLinesResult found;
  NameProposal proposal;
  bool naming_failed = false;  // see PictureResult::naming_failed
  HeaderJudgement judgement;
  NameProposal doubtful_proposal;  // what a doubtful reading would have named; else empty
};

// Reads the working picture `sample` as GOES (the decoder tells GMS frames by their layout)
// and, when neither name form accepts that header or the reading is doubtful, again as
// Meteosat, keeping that reading when a name form accepts its header and it is surer. A
// doubtful reading proposes the input's own name. Names are proposed in the folder of
// `file_name`.
FrameReading ReadFrame(const IplImage& sample, const std::filesystem::path& file_name);

// Why the file is not read, naming it, for a name that is neither .bmp nor .png (any case);
// nothing for one that is.
std::optional<std::string> SkipReason(const std::filesystem::path& file_name);

// Every step below turns an allocation failure into Error(OutOfMemoryMessage(file)).

// The picture file as the pipeline's input: BMP through the repairing loader, PNG through the
// codec, then brought to 8 bits (an 8-bit picture keeps its index values as grey levels).
// Throws Error when it cannot be read, and naming the file when it holds less than 1 x 2 pixels.
TExtBitmap LoadPicture(const std::filesystem::path& file_name);

// The rest of the pipeline on a loaded picture: source preparation, decoding, cut, stretch,
// shrink to kMaxOutputWidth, naming.
PictureResult ProcessLoadedPicture(const std::filesystem::path& file_name, TExtBitmap input,
                                   const ProcessingOptions& options);

// The whole pipeline for one file. A name SkipReason refuses throws Error with that reason;
// load and processing failures throw Error.
PictureResult ProcessPicture(const std::filesystem::path& file_name,
                             const ProcessingOptions& options);

// Encodes the output as the PNG SavePicture writes, so that a worker thread can do it.
void EncodePicture(PictureResult& result);

// Saves the output under the proposed name, asking first when something stands there, also
// when a file appears there during the save; false when the answer was No (an unset question
// counts as No), leaving that file untouched. Write failures throw Error naming the file.
// `before_publish` is the tests' seam (see SaveEncodedOutput).
bool SavePicture(const PictureResult& result, const OverwriteQuestion& ask,
                 const BeforePublish& before_publish = {});

// SavePicture for a picture whose PNG PrepareFile wrote ahead under the proposed name (null:
// as SavePicture).
bool SavePreparedPicture(const PictureResult& result, std::unique_ptr<PendingFile> prepared,
                         const OverwriteQuestion& ask);

// The name with its extension (the part after the last dot of the last name
// component) replaced by ".png", or ".png" appended when it has none.
std::filesystem::path WithPngExtension(const std::filesystem::path& name);

// What an allocation failure while processing or saving `file` says.
std::string OutOfMemoryMessage(const std::filesystem::path& file);

// True when the two names are equal ignoring letter case over the whole path.
bool SameNameIgnoringCase(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace tessaly
