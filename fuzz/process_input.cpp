// Decoding and encoding of the per-file processing fuzz target's input format.
#include "process_input.h"

#include <algorithm>
#include <utility>

#include "base/errors.h"
#include "picture_files/png_io.h"

namespace tessaly::fuzz {
namespace {

constexpr std::size_t kEditSize = 5;  // x and y (16 bits each) and the new grey level
constexpr int kMinFrameWidth = 16;
constexpr int kFrameWidths = 2100;  // up to the 2080-wide frames of some receivers
constexpr int kFramePictureRows = 900;
constexpr int kMaxHeaderLength = 40;

// Reads the input from the front, giving zeros once it runs out.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}
  std::uint8_t Byte() { return at_ < data_.size() ? data_[at_++] : 0; }
  int U16() {
    const int low = Byte();
    return low | (Byte() << 8);
  }
  std::span<const std::uint8_t> Rest() const { return data_.subspan(std::min(at_, data_.size())); }
  std::size_t Left() const { return data_.size() - std::min(at_, data_.size()); }

 private:
  std::span<const std::uint8_t> data_;
  std::size_t at_ = 0;
};

ProcessFlags FlagsOf(std::uint8_t byte) {
  ProcessFlags f;
  f.source_id = byte & 1;
  f.as_png = (byte & 2) != 0;
  const int mode = (byte >> 2) & 3;
  f.mode = mode == 2                ? InputMode::kFile
           : mode == 1 || mode == 3 ? InputMode::kFrame
                                    : InputMode::kRaw;
  f.bmp_variant = (byte >> 4) & 3;
  return f;
}

std::uint8_t ByteOf(const ProcessFlags& f) {
  return static_cast<std::uint8_t>(f.source_id | (f.as_png ? 2 : 0) |
                                   (static_cast<int>(f.mode) << 2) | (f.bmp_variant << 4));
}

void PutU16(std::vector<std::uint8_t>& out, int v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

std::vector<std::uint8_t> FileOf(const Bitmap& picture, const ProcessFlags& flags) {
  if (flags.as_png) return EncodeBitmapAsPNG(picture, "", "", "", "");
  BmpWriteOptions options;
  if (flags.bmp_variant == 1) options.announced_colours = 200;
  if (flags.bmp_variant == 2) options.announced_colours = 224;
  options.omit_size_image = flags.bmp_variant == 3;
  return EncodeBmp(picture, options);
}

Bitmap GreyPicture(int width, int height, std::span<const std::uint8_t> pixels) {
  Bitmap picture;
  picture.SetFormat(PixelFormat::k8Bit);
  picture.SetPalette(GreyRamp());
  picture.SetSize(width, height);
  std::size_t next = 0;
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = picture.Row(y);
    for (int x = 0; x < width && !pixels.empty(); ++x, ++next)
      row[x] = pixels[next % pixels.size()];
  }
  return picture;
}

Bitmap RawPicture(Reader& in) {
  const int width = 1 + in.U16() % kMaxRawSide;
  const int height = 1 + in.U16() % kMaxRawSide;
  return GreyPicture(width, height, in.Rest());
}

framegen::FrameRecipe ReadRecipe(Reader& in) {
  framegen::FrameRecipe recipe;
  recipe.layout = static_cast<framegen::Layout>(in.Byte() % 3);
  recipe.width = kMinFrameWidth + in.U16() % kFrameWidths;
  recipe.picture_height = 1 + in.U16() % kFramePictureRows;
  recipe.top_rows = 1 + in.Byte() % 26;
  recipe.data_rows = in.Byte() % 5;
  recipe.tone_rows = in.Byte() % 80;
  recipe.below_rows = in.Byte() % 40;
  recipe.content = static_cast<framegen::Content>(in.Byte() % 3);
  recipe.noise = in.Byte() % 32;
  recipe.seed = in.Byte();
  recipe.black = in.Byte();
  recipe.white = in.Byte();
  if (recipe.black > recipe.white) std::swap(recipe.black, recipe.white);
  if (recipe.black == recipe.white)
    recipe.white = std::min(recipe.white + 1, 255), recipe.black = recipe.white - 1;
  const int length = in.Byte() % (kMaxHeaderLength + 1);
  recipe.header.clear();
  for (int i = 0; i < length; ++i) recipe.header.push_back(static_cast<char>(in.Byte()));
  return recipe;
}

// The generated frame (or its data-lines picture) with the edits applied.
Bitmap FramePicture(Reader& in, int source_id) {
  const framegen::FrameRecipe recipe = ReadRecipe(in);
  framegen::Frame frame = framegen::MakeFrame(recipe);
  if (source_id == 1) {
    try {
      frame = framegen::DataLinesSource(frame, recipe);
    } catch (const Error&) {
      // A frame the data-lines layout cannot take is processed whole.
    }
  }
  while (in.Left() >= kEditSize) {
    const int x = in.U16() % frame.width;
    const int y = in.U16() % frame.height;
    frame.pixels[static_cast<std::size_t>(y) * frame.width + x] = in.Byte();
  }
  return framegen::ToBitmap(frame);
}

}  // namespace

std::optional<ProcessInput> DecodeProcessInput(std::span<const std::uint8_t> data) {
  if (data.empty()) return std::nullopt;
  Reader in(data);
  ProcessInput input;
  input.flags = FlagsOf(in.Byte());
  try {
    switch (input.flags.mode) {
      case InputMode::kFile:
        input.file.assign(in.Rest().begin(), in.Rest().end());
        break;
      case InputMode::kFrame:
        input.file = FileOf(FramePicture(in, input.flags.source_id), input.flags);
        break;
      case InputMode::kRaw:
        input.file = FileOf(RawPicture(in), input.flags);
        break;
    }
  } catch (const Error&) {
    return std::nullopt;  // a frame description the generator cannot draw
  }
  return input;
}

std::vector<std::uint8_t> EncodeRawInput(const ProcessFlags& flags, int width, int height,
                                         std::span<const std::uint8_t> pixels) {
  ProcessFlags f = flags;
  f.mode = InputMode::kRaw;
  std::vector<std::uint8_t> out{ByteOf(f)};
  PutU16(out, width - 1);
  PutU16(out, height - 1);
  out.insert(out.end(), pixels.begin(), pixels.end());
  return out;
}

std::vector<std::uint8_t> EncodeFrameInput(const ProcessFlags& flags,
                                           const framegen::FrameRecipe& recipe) {
  ProcessFlags f = flags;
  f.mode = InputMode::kFrame;
  std::vector<std::uint8_t> out{ByteOf(f), static_cast<std::uint8_t>(recipe.layout)};
  PutU16(out, recipe.width - kMinFrameWidth);
  PutU16(out, recipe.picture_height - 1);
  for (int v : {recipe.top_rows - 1, recipe.data_rows, recipe.tone_rows, recipe.below_rows,
                static_cast<int>(recipe.content), static_cast<int>(recipe.noise),
                static_cast<int>(recipe.seed & 0xFF), recipe.black, recipe.white,
                static_cast<int>(recipe.header.size())}) {
    out.push_back(static_cast<std::uint8_t>(v));
  }
  out.insert(out.end(), recipe.header.begin(), recipe.header.end());
  return out;
}

std::vector<std::uint8_t> EncodeFileInput(const ProcessFlags& flags,
                                          std::span<const std::uint8_t> file) {
  ProcessFlags f = flags;
  f.mode = InputMode::kFile;
  std::vector<std::uint8_t> out{ByteOf(f)};
  out.insert(out.end(), file.begin(), file.end());
  return out;
}

}  // namespace tessaly::fuzz
