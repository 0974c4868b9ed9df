// TExtBitmap with its repairing loader, and the bitmap services on any Bitmap.
#include "picture_files/ext_bitmap.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/byte_order.h"
#include "base/errors.h"
#include "base/files.h"
#include "picture_files/bmp_reader.h"

namespace tessaly {
namespace {

constexpr char kMakeIplFormat[] =
    "Error: MakeIPL or MakeFramedIPL called without 8 or 24-bit pixels.";
constexpr char kInterpolateDirection[] =
    "Error: Interpolate called with increase width and reduce height or vice-versa.";
constexpr char kInterpolateFormat[] = "Error: Interpolate called without 8-bit or 24-bit pixels.";

// The loader looks at the 14-byte file header and a 40-byte info header only.
constexpr std::size_t kHeadersSize = 54;
constexpr std::size_t kStoredTableSize = 256 * 4;
// The receivers' frame width that wrote bad image sizes.
constexpr std::int32_t kRepairWidth = 2080;
constexpr std::size_t kImageSizeOffset = 34;  // biSizeImage
constexpr std::uint32_t kImageSizeEnd = 24;   // the info header size that reaches past it

RepairedBmp CutPalette(std::span<const std::uint8_t> file, std::uint32_t announced) {
  RepairedBmp result{BmpRepair::kPalette, {}};
  const auto kept = file.begin() + kHeadersSize + announced * 4;
  result.bytes.reserve(file.size() - (kStoredTableSize - announced * 4));
  result.bytes.insert(result.bytes.end(), file.begin(), kept);
  result.bytes.insert(result.bytes.end(), file.begin() + kHeadersSize + kStoredTableSize,
                      file.end());
  return result;
}

// Bytes the uncompressed pixel rows take, the last row's padding not counted (some writers
// leave it out); 0 when the header gives no usable size.
std::uint64_t PixelRowBytes(const BmpHeaders& h) {
  const std::uint64_t bits = h.bit_count;
  if (h.width <= 0 || h.height == 0 || h.width > Bitmap::kMaxSide ||
      h.height > Bitmap::kMaxSide || h.height < -Bitmap::kMaxSide || bits == 0 || bits > 32) {
    return 0;
  }
  const std::uint64_t rows = static_cast<std::uint64_t>(h.height < 0 ? -h.height : h.height);
  const std::uint64_t row_bits = static_cast<std::uint64_t>(h.width) * bits;
  return (row_bits + 31) / 32 * 4 * (rows - 1) + (row_bits + 7) / 8;
}

// Whether a file announcing fewer colours still stores all 256 table entries. The receivers'
// bfOffBits counts either all entries or only the announced ones, so it cannot tell; the
// file's length can: the full table and the pixel rows have to fit in it.
bool StoresFullTable(const BmpHeaders& h, std::size_t file_size) {
  if (h.info_size != 40 || file_size < kHeadersSize + kStoredTableSize) return false;
  constexpr std::uint32_t kUncompressed = 0;
  const std::uint64_t pixels = h.compression == kUncompressed ? PixelRowBytes(h) : 0;
  // Compressed rows have no size the header can be trusted for; the offset has to tell.
  if (pixels == 0) return h.pixel_offset >= kHeadersSize + kStoredTableSize;
  return file_size >= kHeadersSize + kStoredTableSize + pixels;
}

int ChannelsOf(const Bitmap& bitmap) {
  if (bitmap.Format() == PixelFormat::k8Bit) return 1;
  if (bitmap.Format() == PixelFormat::k24Bit) return 3;
  throw InvalidGraphicOperation(kMakeIplFormat);
}

// An 8-bit image as MakeIPL makes it: "GRAY" for one channel, "RGB"/"BGR" for three.
IplImagePtr NewImage(int channels, int width, int height) {
  const bool grey = channels == 1;
  IplImagePtr image(iplCreateImageHeader(
      channels, 0, kIplDepth8U, grey ? "GRAY" : "RGB", grey ? "GRAY" : "BGR", kIplDataOrderPixel,
      kIplOriginTopLeft, kIplAlignQword, width, height, nullptr, nullptr, nullptr, nullptr));
  iplAllocateImage(image.get(), 0, 0);
  return image;
}

bool IsGreyRamp(const Palette& palette) {
  if (palette.size() != 256) return false;
  for (std::size_t i = 0; i < palette.size(); ++i) {
    const PaletteEntry& e = palette[i];
    if (e.red != i || e.green != i || e.blue != i) return false;
  }
  return true;
}

}  // namespace

TkovHistogram::TkovHistogram(int bin_count) {
  if (bin_count < 0) throw Error("A histogram cannot have a negative number of bins");
  bins_.resize(static_cast<std::size_t>(bin_count));
  Clear();
}

void TkovHistogram::Clear() {
  std::fill(bins_.begin(), bins_.end(), 0);
  statistics[0] = 0;
  statistics[2] = 0;
  flag = false;
}

RepairedBmp RepairBmpHeaders(std::span<const std::uint8_t> file) {
  if (file.size() <= kHeadersSize || file[0] != 'B' || file[1] != 'M') return {};
  const BmpHeaders h = ReadBmpHeaders(file);
  const std::uint32_t used = h.colours_used;
  const std::uint32_t important = h.colours_important;
  // The receivers that announce 200 or 224 colours still store all 256 entries behind a
  // 40-byte header. A file too short for that table really holds only the announced
  // entries; it is valid and read as it is.
  if (((used == 200 && important == 200) || (used == 224 && important == 224)) &&
      StoresFullTable(h, file.size())) {
    return CutPalette(file, used);
  }
  // Only an info header that holds biSizeImage can have it wrong.
  if (h.core || h.info_size < kImageSizeEnd) return {};
  if (h.planes != 1 || h.bit_count != 8 || h.width != kRepairWidth) return {};
  // The 32-bit product, wrapping as the writers' arithmetic did.
  const auto product = static_cast<std::uint32_t>(h.width * h.height);
  if (product == h.image_size) return {};
  RepairedBmp result{BmpRepair::kImageSize, {file.begin(), file.end()}};
  StoreLe32(result.bytes, kImageSizeOffset, product);
  return result;
}

void TExtBitmap::LoadFromStream(ByteStream& stream) {
  Bitmap decoded;
  if (stream.Position() != 0 || stream.Size() <= kHeadersSize) {
    decoded = ReadBmp(stream.Remaining());
  } else {
    const RepairedBmp repaired = RepairBmpHeaders(stream.All());
    if (repaired.repair == BmpRepair::kNone) {
      decoded = ReadBmp(stream.All());
    } else {
      decoded = ReadBmp(repaired.bytes, repaired.repair == BmpRepair::kPalette
                                            ? BmpPixelPlacement::kAfterColourTable
                                            : BmpPixelPlacement::kAtOffset);
    }
  }
  stream.Seek(stream.Size());
  Assign(std::move(decoded));
  SetModified(true);
}

void TExtBitmap::LoadFromFile(const std::filesystem::path& path) {
  // The whole-file read refuses pipes and devices, which an input stream would wait on for ever.
  const std::vector<std::uint8_t> bytes = ReadFileBytes(path);
  ByteStream stream(bytes);
  LoadFromStream(stream);
}

IplImagePtr MakeFramedIPL(const Bitmap& bitmap, int width, int height, int x_offset, int y_offset) {
  if (width == 0 || height == 0) return nullptr;
  const int channels = ChannelsOf(bitmap);
  IplImagePtr image = NewImage(channels, width, height);
  const bool covered =
      x_offset == 0 && y_offset == 0 && width == bitmap.Width() && height == bitmap.Height();
  if (!covered) std::memset(image->imageData, 0, static_cast<std::size_t>(image->imageSize));
  std::int64_t span = std::int64_t{bitmap.Width()} * channels;
  std::int64_t skip = 0;
  std::int64_t start = 0;
  if (x_offset < 0) {
    skip = -std::int64_t{x_offset} * channels;  // the bitmap's left columns are dropped
    span -= skip;
  } else {
    start = std::int64_t{x_offset} * channels;
    span -= start;
  }
  // A frame narrower than the bitmap breaks the contract; clip rather than spill over.
  span = std::min(span, std::int64_t{width} * channels - start);
  if (span <= 0) return image;
  for (int r = 0; r < bitmap.Height(); ++r) {
    const std::int64_t row = std::int64_t{y_offset} + r;
    if (row < 0 || row >= height) continue;
    std::memcpy(image->imageData + row * image->widthStep + start, bitmap.Row(r) + skip,
                static_cast<std::size_t>(span));
  }
  return image;
}

IplImagePtr MakeIPL(const Bitmap& bitmap) {
  return MakeFramedIPL(bitmap, bitmap.Width(), bitmap.Height(), 0, 0);
}

void IPLToBitmap(Bitmap& bitmap, const IplImage* image) {
  if (image == nullptr) return;
  bitmap.SetHeight(0);
  if (image->nChannels == 1) bitmap.SetFormat(PixelFormat::k8Bit);
  if (image->nChannels == 3) bitmap.SetFormat(PixelFormat::k24Bit);
  bitmap.SetSize(image->width, image->height);
  if (image->imageData == nullptr) return;
  // Never more than a bitmap row holds, whatever the image's channel count.
  const std::size_t bytes = std::min<std::size_t>(
      static_cast<std::size_t>(image->width) * image->nChannels, bitmap.RowBytes());
  for (int r = 0; r < image->height; ++r) {
    std::memcpy(bitmap.Row(r), image->imageData + std::int64_t{r} * image->widthStep, bytes);
  }
}

void Interpolate(Bitmap& bitmap, int new_width, int new_height) {
  const int width = bitmap.Width();
  const int height = bitmap.Height();
  if (new_width == width && new_height == height) return;
  if (height < 3 || width < 3) return;
  const bool grow = new_width >= width && new_height >= height;
  const bool shrink = new_width <= width && new_height <= height;
  if (!grow && !shrink) throw InvalidGraphicOperation(kInterpolateDirection);
  const PixelFormat format = bitmap.Format();
  if (format != PixelFormat::k8Bit && format != PixelFormat::k24Bit) {
    throw InvalidGraphicOperation(kInterpolateFormat);
  }
  if (new_width == 0 || new_height == 0) {
    bitmap.SetSize(new_width, new_height);
  } else {
    // The source is read in place, through a header over the bitmap's own rows: a copy
    // of the whole picture would cost as much as the resampling. The destination is
    // owned here, so a failure on the way releases it and leaves the bitmap as it was.
    IplImage src;
    src.nChannels = ChannelsOf(bitmap);
    src.width = width;
    src.height = height;
    src.imageData = bitmap.Row(0);
    src.widthStep = static_cast<int>(bitmap.Stride());
    const IplImagePtr dst = NewImage(src.nChannels, new_width, new_height);
    if (grow) {
      iplZoom(&src, dst.get(), dst->width, src.width, dst->height, src.height, kIplInterCubic);
    } else {
      iplDecimate(&src, dst.get(), dst->width, src.width, dst->height, src.height, kIplInterSuper);
    }
    IPLToBitmap(bitmap, dst.get());
  }
  bitmap.SetModified(true);
}

void SetGreyPalette(Bitmap& bitmap) {
  if (bitmap.Format() != PixelFormat::k8Bit || !bitmap.HasPalette()) return;
  if (IsGreyRamp(bitmap.GetPalette())) return;
  bitmap.SetPalette(GreyRamp());
  bitmap.SetModified(true);
}

}  // namespace tessaly
