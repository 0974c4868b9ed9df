// Fuzz target: the repairing BMP loader (TExtBitmap::LoadFromStream at position 0, with its
// header repairs), the reader's placement after the colour table, and the grey conversion
// the processing applies to what was loaded.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "base/errors.h"
#include "fuzz_target.h"
#include "picture_files/bmp_reader.h"
#include "picture_files/byte_stream.h"
#include "picture_files/ext_bitmap.h"
#include "picture_store/grey.h"

namespace {

using tessaly::Bitmap;

void CheckPicture(const Bitmap& bitmap) {
  FUZZ_CHECK(bitmap.Width() > 0 && bitmap.Height() > 0);
  FUZZ_CHECK(bitmap.Width() <= Bitmap::kMaxSide && bitmap.Height() <= Bitmap::kMaxSide);
  FUZZ_CHECK(std::int64_t{bitmap.Width()} * bitmap.Height() <= Bitmap::kMaxPixels);
  const Bitmap grey = tessaly::ToGrey8(bitmap);
  FUZZ_CHECK(grey.Format() == tessaly::PixelFormat::k8Bit);
  FUZZ_CHECK(grey.Width() == bitmap.Width() && grey.Height() == bitmap.Height());
  Touch(grey);
}

// Run-length pictures of the largest allowed size take a few bytes; allocating hundreds of
// megabytes on every such input would slow the search to a crawl. The size limits themselves are
// checked before any pixel is allocated, so inputs claiming more than the limits still run.
bool IsLargeRunLengthPicture(std::span<const std::uint8_t> d) {
  if (d.size() < 34 || d[14] < 40) return false;
  const auto i32 = [&](std::size_t at) {
    return static_cast<std::int32_t>(d[at] | (d[at + 1] << 8) | (d[at + 2] << 16) |
                                     (std::uint32_t{d[at + 3]} << 24));
  };
  const std::int64_t width = i32(18), height = i32(22);
  const std::int32_t compression = i32(30);
  constexpr std::int64_t kFastPixels = std::int64_t{1} << 20;
  return (compression == 1 || compression == 2) && width > 0 && height != 0 &&
         width <= Bitmap::kMaxSide && std::abs(height) <= Bitmap::kMaxSide &&
         width * std::abs(height) > kFastPixels && width * std::abs(height) <= Bitmap::kMaxPixels;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  if (IsLargeRunLengthPicture(bytes)) return 0;
  tessaly::ByteStream stream(bytes);
  tessaly::TExtBitmap bitmap;
  try {
    bitmap.LoadFromStream(stream);
    FUZZ_CHECK(stream.Position() == size);
    CheckPicture(bitmap);
    Touch(bitmap);
  } catch (const tessaly::Error&) {
    // Refusing a file is the expected answer to most inputs.
  }
  try {
    CheckPicture(tessaly::ReadBmp(bytes, tessaly::BmpPixelPlacement::kAfterColourTable));
  } catch (const tessaly::Error&) {
  }
  return 0;
}
