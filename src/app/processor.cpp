// The per-file processing sequence.
#include "app/processor.h"

#include <new>
#include <string>

#include "app/source_prep.h"
#include "base/errors.h"
#include "base/files.h"
#include "base/text.h"
#include "decoder/data_lines.h"
#include "naming/header_name.h"
#include "picture_files/byte_stream.h"
#include "picture_files/png_io.h"
#include "picture_store/grey.h"

namespace tessaly {

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

std::string OutOfMemoryMessage(const std::filesystem::path& file) {
  return "Not enough memory to process \"" + file.string() + "\"";
}

FileProcessor::FileProcessor() {
  output_.SetFormat(PixelFormat::k8Bit);
  SetGreyPalette(output_);
}

void FileProcessor::Repaint() {
  if (repaint_output) repaint_output();
}

namespace {

// A PNG palette picture of 1, 2 or 4 bits per pixel. Read without expansion it
// would keep bare indices and no palette, so it is read as colour instead and
// then brought to grey through its palette.
bool IsPackedPalettePng(std::span<const std::uint8_t> png) {
  // The signature (8 bytes), then IHDR: length, type, width, height, bit depth, colour type.
  constexpr std::size_t kBitDepth = 24;
  constexpr std::size_t kColourType = 25;
  constexpr std::uint8_t kPaletteType = 3;
  return png.size() > kColourType && png[kColourType] == kPaletteType && png[kBitDepth] < 8;
}

}  // namespace

void FileProcessor::LoadInput(const std::filesystem::path& fileName) {
  input_.SetFormat(PixelFormat::k8Bit);
  SetGreyPalette(input_);
  const std::vector<std::uint8_t> bytes = ReadFileBytes(fileName);
  if (AsciiUpper(fileName.extension().string()) == ".PNG") {
    LoadPNGFromMemory(input_, bytes, IsPackedPalettePng(bytes));
  } else {
    ByteStream stream(bytes);
    input_.LoadFromStream(stream);
  }
  if (input_.Height() < 2 || input_.Width() < 1) {
    throw Error("The picture in \"" + fileName.string() + "\" is too small (" +
                std::to_string(input_.Width()) + " x " + std::to_string(input_.Height()) +
                " pixels); at least 1 x 2 pixels are needed");
  }
  // Received frames are 8-bit grey; anything else is brought to 8-bit grey
  // so that the working picture is always filled.
  if (input_.Format() != PixelFormat::k8Bit) {
    input_.Assign(ToGrey8(input_, GreyMode::kKeepIndices));
  }
}

void FileProcessor::DecodeAndRender() {
  IplImagePtr sample;
  if (source_id == kSourceDataLinesOnly) {
    PrepareDataLines(input_, output_);
    sample = MakeSampleImage(output_);
  } else {
    sample = MakeSampleImage(input_);
  }
  if (!keep_input) input_.SetSize(0, 0);

  int picture_width = 0, picture_height = 0, start_column = 0;
  IplImage* image = sample.release();
  try {
    DecodeDataLines(image, picture_width, picture_height, black_level_, white_level_, start_column,
                    header_text_, static_cast<float>(4 * image->width), SatelliteType::GOES);
  } catch (...) {
    iplDeallocate(image, kIplImageAll);
    throw;
  }
  sample.reset(image);
  RenderOutput(*sample, black_level_, white_level_, output_);
  sample.reset();
  if (output_.Width() > kMaxOutputWidth) Interpolate(output_, kMaxOutputWidth, output_.Height());
}

void FileProcessor::ProposeName(const std::filesystem::path& fileName) {
  std::filesystem::path proposal;
  try {
    proposal = HeaderToFileName(fileName, header_text_, false);
  } catch (const std::exception&) {
    // Only an unexpected failure gets here; the file keeps its own name rather
    // than the previous file's proposal.
    if (show_message) show_message(kHeaderFailureMessage + label_help_);
    proposal = fileName;
  }
  Repaint();
  proposed_ = WithPngExtension(proposal);
  output_hint_ = proposed_.string();
  label_output_ = proposed_.filename().string();
}

FileOutcome FileProcessor::ProcessFile(const std::filesystem::path& fileName, bool autoSave) {
  save_enabled_ = false;
  current_file_ = fileName;
  output_.SetHeight(0);
  Repaint();
  const std::string ext = AsciiUpper(fileName.extension().string());
  if (ext != ".PNG" && ext != ".BMP") {
    FileOutcome skipped;
    skipped.status = FileOutcome::Status::kSkipped;
    skipped.message = "Skipped \"" + fileName.string() + "\": only .bmp and .png files are read";
    label_help_ = fileName.filename().string();
    return skipped;
  }
  FileOutcome outcome;
  try {
    LoadInput(fileName);
    label_help_ = fileName.filename().string();
    DecodeAndRender();
    ProposeName(fileName);
    const bool changed = !SameNameIgnoringCase(proposed_, fileName);
    save_enabled_ = changed;
    if (autoSave && changed) {
      outcome.saved = ButtonSaveClick();
      outcome.declined = !outcome.saved;
    }
  } catch (const std::bad_alloc&) {
    throw Error(OutOfMemoryMessage(fileName));
  }
  return outcome;
}

bool FileProcessor::ButtonSaveClick() {
  return SaveOutput(output_, proposed_, ask_overwrite, before_publish);
}

void FileProcessor::RadioGroupSourceIDClick() {
  if (!current_file_.empty()) ProcessFile(current_file_, false);
}

}  // namespace tessaly
