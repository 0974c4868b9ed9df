// The per-file pipeline.
#include "app/processor.h"

#include <exception>
#include <new>
#include <string>
#include <tuple>
#include <utility>

#include "app/source_prep.h"
#include "base/errors.h"
#include "base/files.h"
#include "base/text.h"
#include "decoder/second_look.h"
#include "picture_files/byte_stream.h"
#include "picture_files/png_chunks.h"
#include "picture_files/png_image.h"
#include "picture_files/png_io.h"
#include "picture_store/grey.h"

namespace tessaly {
namespace {

// PNG palette pictures that are read as colour and then brought to grey through their palette:
// one of 1, 2 or 4 bits per pixel, read without expansion, would keep bare indices and no
// palette; one with a tRNS chunk the reader expands to its colours (and then ignores their
// transparency), so its grey is the luma of its palette's colours, as for a picture of the
// same colours without a palette.
bool ReadAsColour(std::span<const std::uint8_t> bytes) {
  PngChunkReader png(bytes);
  const std::optional<PngHeader> header = ReadPngHeader(png);
  if (!header || header->colour_type != kPngPaletteColours) return false;
  return header->bit_depth < 8 || HasChunkBeforeData(png, "tRNS");
}

bool IsPngName(const std::filesystem::path& file_name) {
  return AsciiUpper(file_name.extension().string()) == ".PNG";
}

// Runs one step of the pipeline for `file`; running out of memory names the file.
template <typename Step>
auto NamingTheFileOnOutOfMemory(const std::filesystem::path& file, Step step) {
  try {
    return step();
  } catch (const std::bad_alloc&) {
    throw Error(OutOfMemoryMessage(file));
  }
}

// The readers work on bytes and know no file name; their messages get it here.
std::string CannotRead(const std::filesystem::path& file, const std::exception& e) {
  return "Cannot read \"" + file.string() + "\": " + e.what();
}

TExtBitmap Load(const std::filesystem::path& file_name, const FileBytesSeen& seen) {
  TExtBitmap picture;
  // A grey PNG brings no palette of its own and takes the one set here.
  picture.SetFormat(PixelFormat::k8Bit);
  SetGreyPalette(picture);
  const std::vector<std::uint8_t> bytes = ReadFileBytes(file_name);
  if (seen) seen(bytes);
  try {
    if (IsPngName(file_name)) {
      TPngImage png;
      png.ExpandToRGB = ReadAsColour(bytes);
      // Transparency would be blended with whatever the bitmap held before: a frame's levels
      // and header bits are in its colours alone.
      png.IgnoreAlpha = true;
      // Straight into the 8-bit picture, a row at a time: a large 16-bit colour picture would
      // otherwise be held three times over (decoded, as colours, as grey).
      picture.SetSize(0, 0);
      png.LoadIntoGrey8(bytes, picture);
    } else {
      ByteStream stream(bytes);
      picture.LoadFromStream(stream);
    }
  } catch (const InvalidGraphicOperation& e) {
    throw InvalidGraphicOperation(CannotRead(file_name, e));
  } catch (const Error& e) {
    throw Error(CannotRead(file_name, e));
  }
  if (picture.Height() < 2 || picture.Width() < 1) {
    throw Error("The picture in \"" + file_name.string() + "\" is too small (" +
                std::to_string(picture.Width()) + " x " + std::to_string(picture.Height()) +
                " pixels); at least 1 x 2 pixels are needed");
  }
  // Received frames are 8-bit grey; anything else is brought to 8-bit grey
  // so that the working picture is always filled.
  if (picture.Format() != PixelFormat::k8Bit) {
    picture.Assign(ToGrey8(picture, GreyMode::kKeepIndices));
  }
  return picture;
}

// The part `cut` of `image` as an image header of its own over the same samples, so that the
// output is rendered straight from the working picture instead of from a copy of the cut.
// `cut` lies inside `image` (the decoder clips it to the frame); the view owns nothing.
IplImage CutView(const IplImage& image, const PictureRect& cut) {
  IplImage view = image;
  view.roi = nullptr;
  view.maskROI = nullptr;
  view.imageData += static_cast<std::int64_t>(cut.y) * image.widthStep +
                    static_cast<std::int64_t>(cut.x) * static_cast<int>(sizeof(std::uint16_t));
  view.width = cut.width;
  view.height = cut.height;
  view.imageSize = static_cast<std::int64_t>(cut.height) * image.widthStep;
  return view;
}

// Reads the decoder's header text and proposes the name it gives in the folder of `file_name`.
void Name(FrameReading& reading, const std::filesystem::path& file_name) {
  try {
    reading.header = ReadHeader(reading.found.header_text);
    reading.proposal = ProposeName(file_name, reading.found.header_text, reading.header);
  } catch (const std::exception&) {
    // Only an unexpected failure gets here; the file keeps its own name.
    reading.naming_failed = true;
    reading.header.reset();
    reading.proposal = NameProposal{file_name, NamedFrom::kInputName, {}};
  }
}

PictureResult Process(const std::filesystem::path& file_name, TExtBitmap input,
                      const ProcessingOptions& options) {
  PictureResult result;
  result.input_name = file_name;
  result.output.SetFormat(PixelFormat::k8Bit);
  SetGreyPalette(result.output);

  IplImagePtr sample;
  if (options.source == Source::kDataLines) {
    result.looks_like_full_frame = LooksLikeFullFrame(input);
    PrepareDataLines(input, result.output);
    sample = MakeSampleImage(result.output);
  } else {
    sample = MakeSampleImage(input);
  }
  // Let go as soon as the working picture is made: it lowers the peak memory of a file.
  input = TExtBitmap();

  // A full frame given as data lines is cut and levelled as data lines would be: its header,
  // found by a second look, would give that picture the frame's own name, which its proper
  // result should take.
  FrameReading reading =
      ReadFrame(*sample, file_name, options.accept_doubtful, !result.looks_like_full_frame);
  DataLinesResult& decoded = reading.found;
  result.cut = decoded.cut.empty() ? PictureRect{0, 0, sample->width, sample->height} : decoded.cut;
  result.header_text = std::move(decoded.header_text);
  result.header = std::move(reading.header);
  result.read_as = decoded.decoded_as;
  result.black_level = decoded.black_level;
  result.white_level = decoded.white_level;
  RenderOutput(CutView(*sample, result.cut), result.black_level, result.white_level, result.output);
  sample.reset();
  if (result.output.Width() > kMaxOutputWidth) {
    Interpolate(result.output, kMaxOutputWidth, result.output.Height());
  }

  result.naming_failed = reading.naming_failed;
  result.header_confidence = reading.judgement.confidence;
  result.header_doubtful = reading.judgement.doubtful;
  SetProposal(result, std::move(reading.proposal), reading.doubtful_proposal);
  return result;
}

}  // namespace

namespace {

bool Names(const FrameReading& r) {
  return !r.naming_failed && r.proposal.named_from != NamedFrom::kInputName;
}

bool Sure(const FrameReading& r) {
  return Names(r) && !r.judgement.doubtful;
}

void Judge(FrameReading& reading, const std::filesystem::path& file_name) {
  Name(reading, file_name);
  reading.judgement =
      JudgeHeader(reading.found.confidence, reading.found.header_text, reading.proposal.named_from);
}

FrameReading Read(const IplImage& sample, const std::filesystem::path& file_name,
                  SatelliteType type, Looks looks) {
  FrameReading reading;
  reading.found = AnalyseDataLines(&sample, static_cast<float>(4 * sample.width), type, looks);
  Judge(reading, file_name);
  return reading;
}

// A sure reading names the file, or is a header whose date or time does not exist.
bool Taken(const FrameReading& r) {
  return Sure(r) ||
         (!r.naming_failed && !Names(r) && !Trim(r.found.header_text).empty() &&
          !JudgeHeader(r.found.confidence, r.found.header_text, NamedFrom::kPrimaryForm).doubtful);
}

// A second look reads the header of a damaged frame; the picture stays as the first analysis
// cuts it, and without a sure reading so do its levels and its text.
FrameReading LookAgainAt(const IplImage& sample, const std::filesystem::path& file_name) {
  FrameReading first = Read(sample, file_name, SatelliteType::GOES, Looks::kFirst);
  if (Taken(first)) return first;
  for (const HeaderLook& look : LookAgain(&sample, static_cast<float>(4 * sample.width))) {
    FrameReading other;
    other.found = first.found;
    TakeHeader(look, other.found);
    Judge(other, file_name);
    if (Taken(other)) return other;
  }
  return first;
}

}  // namespace

FrameReading ReadFrame(const IplImage& sample, const std::filesystem::path& file_name,
                       bool accept_doubtful, bool look_again) {
  // Readings that name a file: sure ones first, then those read with the clock where it
  // starts, then the more confident.
  const auto rank = [&](const FrameReading& r) {
    const bool sure = Sure(r);
    return std::tuple(Names(r), sure, sure && r.found.clock_shift == 0, r.judgement.confidence);
  };
  // Asked for GOES, the decoder tells a GMS frame by its layout; a Meteosat frame it cannot
  // tell, and its data rows start four 1680ths of the row later (the GOES clock, started half
  // a bit earlier, may read them too).
  FrameReading reading = Read(sample, file_name, SatelliteType::GOES, Looks::kAll);
  if (!reading.naming_failed && !std::get<2>(rank(reading))) {
    FrameReading meteosat = Read(sample, file_name, SatelliteType::Meteosat, Looks::kAll);
    if (Names(meteosat) && rank(meteosat) > rank(reading)) reading = std::move(meteosat);
  }
  if (look_again && !Taken(reading) && !reading.naming_failed) {
    reading = LookAgainAt(sample, file_name);
  }
  if (Names(reading) && reading.judgement.doubtful && !accept_doubtful) {
    reading.doubtful_proposal =
        std::exchange(reading.proposal, {file_name, NamedFrom::kInputName, {}});
    reading.header.reset();
  }
  return reading;
}

HeaderState StateOf(const PictureResult& result) {
  return HeaderStateOf(result.header_text, result.named_from, result.header_doubtful);
}

std::string UnnamedHeaderWords(const PictureResult& result) {
  return UnnamedHeaderWords(result.header_text, result.named_from, result.header_doubtful);
}

void SetProposal(PictureResult& result, NameProposal proposal, const NameProposal& doubtful) {
  result.proposed_name = WithPngExtension(proposal.name);
  result.named_from = proposal.named_from;
  result.bad_header_message = std::move(proposal.bad_header_message);
  if (!doubtful.name.empty()) {
    result.doubtful_name = WithPngExtension(doubtful.name);
    result.doubtful_named_from = doubtful.named_from;
  }
  result.changed = !SameNameIgnoringCase(result.proposed_name, result.input_name);
}

std::filesystem::path WithPngExtension(const std::filesystem::path& name) {
  const std::string text = name.string();
  const std::size_t separator = text.find_last_of('/');
  const std::size_t dot = text.find_last_of('.');
  const bool has_extension =
      dot != std::string::npos && (separator == std::string::npos || dot > separator);
  return std::filesystem::path((has_extension ? text.substr(0, dot) : text) + ".png");
}

bool SameNameIgnoringCase(const std::filesystem::path& a, const std::filesystem::path& b) {
  return AsciiUpper(a.string()) == AsciiUpper(b.string());
}

std::optional<std::string> SkipReason(const std::filesystem::path& file_name) {
  const std::string ext = AsciiUpper(file_name.extension().string());
  if (ext == ".PNG" || ext == ".BMP") return std::nullopt;
  return "Skipped \"" + file_name.string() + "\": " + kOnlyPicturesRead;
}

std::string OutOfMemoryMessage(const std::filesystem::path& file) {
  return "Not enough memory to process \"" + file.string() + "\"";
}

TExtBitmap LoadPicture(const std::filesystem::path& file_name, const FileBytesSeen& seen) {
  return NamingTheFileOnOutOfMemory(file_name, [&] { return Load(file_name, seen); });
}

PictureResult ProcessLoadedPicture(const std::filesystem::path& file_name, TExtBitmap input,
                                   const ProcessingOptions& options) {
  return NamingTheFileOnOutOfMemory(file_name,
                                    [&] { return Process(file_name, std::move(input), options); });
}

PictureResult ProcessPicture(const std::filesystem::path& file_name,
                             const ProcessingOptions& options) {
  if (const std::optional<std::string> reason = SkipReason(file_name)) throw Error(*reason);
  return ProcessLoadedPicture(file_name, LoadPicture(file_name, options.on_file_bytes), options);
}

}  // namespace tessaly
