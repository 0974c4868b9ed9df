// The per-file pipeline: one picture file in, its processed picture and proposed name out as a
// value (ProcessPicture); app/saving.h saves that value. The batch tool, the window and the
// processing fuzz target all go through it; none of it keeps state between files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "decoder/data_lines.h"
#include "naming/header_check.h"
#include "naming/header_fields.h"
#include "naming/header_name.h"
#include "naming/header_state.h"
#include "picture_files/ext_bitmap.h"

namespace tessaly {

// The two kinds of source picture.
enum class Source {
  kFullFrame,  // a whole received frame
  kDataLines,  // a picture holding only the data lines
};

inline constexpr int kMaxOutputWidth = 800;

// Sees a file's bytes as they were read, before they are decoded.
using FileBytesSeen = std::function<void(std::span<const std::uint8_t> bytes)>;

// How one file is processed.
struct ProcessingOptions {
  Source source = Source::kFullFrame;
  // Called on the processing thread with the input's bytes: a batch that keeps a content hash
  // of its inputs takes it here instead of reading each file a second time.
  FileBytesSeen on_file_bytes;
  // Name files from header readings too weak to trust (header_doubtful still says so).
  bool accept_doubtful = false;
};

// What the pipeline made of one file. Front ends add what they need around it, never in it.
struct PictureResult {
  std::filesystem::path input_name;
  std::string header_text;  // as decoded: Latin-1, one character a byte, untrimmed
  // The reading the header came from: GOES or GMS (told by the frame's layout), or Meteosat
  // when only the Meteosat layout gave a header that names the file.
  SatelliteType read_as = SatelliteType::GOES;
  // What the header states, in the form that named the file; nothing when no form reads or
  // the reading is doubtful and was not accepted.
  std::optional<HeaderFields> header;
  std::int32_t black_level = 0;  // working-picture samples (grey levels x kSamplesPerGrey)
  std::int32_t white_level = 0;
  // The part of the working picture that became the output: the decoder's cut, or the whole
  // working picture when it found nothing to cut.
  PictureRect cut;
  std::filesystem::path proposed_name;  // in the input's folder, with the extension ".png"
  NamedFrom named_from = NamedFrom::kInputName;
  // From the header parser: the text a front end shows for a header neither form reads.
  std::string bad_header_message;
  // How far the header reading can be trusted (naming/header_check.h): the margin of its bits
  // in standard deviations of the noise, less a cost per character that breaks its field;
  // nothing when no text was read, which is never doubtful. A doubtful reading names nothing:
  // the proposal is then the input's own name (named_from kInputName), and the name it would
  // have given is kept in doubtful_name (in the input's folder, extension ".png"; empty
  // otherwise), from the form doubtful_named_from.
  std::optional<double> header_confidence;
  bool header_doubtful = false;
  std::filesystem::path doubtful_name;
  NamedFrom doubtful_named_from = NamedFrom::kInputName;
  // The header parser failed unexpectedly (it handles unreadable headers itself); the input's
  // own name was proposed.
  bool naming_failed = false;
  // The proposed name differs from the input's beyond letter case: the picture is to be saved.
  bool changed = false;
  // Read as data lines only, but the picture begins with a bright band as a full frame does.
  bool looks_like_full_frame = false;
  TExtBitmap output;              // 8-bit, grey palette
  std::vector<std::uint8_t> png;  // the encoded output once EncodePicture ran; empty before
};

// HeaderStateOf and UnnamedHeaderWords (naming/header_state.h) of a processed picture.
HeaderState StateOf(const PictureResult& result);
std::string UnnamedHeaderWords(const PictureResult& result);

// How the pipeline reads a frame's header: the decoder's findings and the name they give.
struct FrameReading {
  DataLinesResult found;
  std::optional<HeaderFields> header;  // ReadHeader of found.header_text
  NameProposal proposal;
  bool naming_failed = false;  // see PictureResult::naming_failed
  HeaderJudgement judgement;
  NameProposal doubtful_proposal;  // what a doubtful reading would have named; else empty
};

// Reads the working picture `sample` as GOES (the decoder tells GMS frames by their layout)
// and, when neither name form accepts that header or the reading is doubtful, again as
// Meteosat, keeping that reading when a name form accepts its header and it is surer. A
// doubtful reading proposes the input's own name (and keeps no HeaderFields) unless
// `accept_doubtful`. Names are proposed in the folder of `file_name`. Unless `look_again` is
// false, a reading that is not sure gets a second look (decoder/second_look.h) at a frame
// damaged in reception.
FrameReading ReadFrame(const IplImage& sample, const std::filesystem::path& file_name,
                       bool accept_doubtful = false, bool look_again = true);

// Gives the result the name the header proposes in the input's folder (`proposal`, with the
// extension ".png"), and whether it differs from the input; `doubtful` is what a doubtful
// reading would have named (empty when none), kept beside. The one place a picture's standard
// target is made, for a decoded picture and for one recalled from a record alike.
void SetProposal(PictureResult& result, NameProposal proposal, const NameProposal& doubtful = {});

// Why a file of another kind is not read, in a few words.
inline constexpr char kOnlyPicturesRead[] = "only .bmp and .png files are read";

// Why the file is not read, naming it, for a name that is neither .bmp nor .png (any case);
// nothing for one that is.
std::optional<std::string> SkipReason(const std::filesystem::path& file_name);

// Every step below turns an allocation failure into Error(OutOfMemoryMessage(file)).

// The picture file as the pipeline's input: BMP through the repairing loader, PNG through the
// codec, then brought to 8 bits (an 8-bit picture keeps its index values as grey levels).
// Throws Error when it cannot be read, and naming the file when it holds less than 1 x 2 pixels.
TExtBitmap LoadPicture(const std::filesystem::path& file_name, const FileBytesSeen& seen = {});

// The rest of the pipeline on a loaded picture: source preparation, decoding, cut, stretch,
// shrink to kMaxOutputWidth, naming.
PictureResult ProcessLoadedPicture(const std::filesystem::path& file_name, TExtBitmap input,
                                   const ProcessingOptions& options);

// The whole pipeline for one file. A name SkipReason refuses throws Error with that reason;
// load and processing failures throw Error.
PictureResult ProcessPicture(const std::filesystem::path& file_name,
                             const ProcessingOptions& options);

// The name with its extension (the part after the last dot of the last name
// component) replaced by ".png", or ".png" appended when it has none.
std::filesystem::path WithPngExtension(const std::filesystem::path& name);

// What an allocation failure while processing or saving `file` says.
std::string OutOfMemoryMessage(const std::filesystem::path& file);

// True when the two names are equal ignoring letter case over the whole path.
bool SameNameIgnoringCase(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace tessaly
