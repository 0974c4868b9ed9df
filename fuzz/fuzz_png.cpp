// Fuzz target: the PNG loaders (LoadPNGFromMemory, as LoadPNGIntoBitmap after reading the file,
// and the processing's row-by-row LoadIntoGrey8 against it), with and without expansion to RGB,
// and the grey conversion.
#include <cstdint>
#include <cstring>
#include <span>

#include "base/errors.h"
#include "fuzz_target.h"
#include "picture_files/ext_bitmap.h"
#include "picture_files/png_image.h"
#include "picture_files/png_io.h"
#include "picture_store/grey.h"

namespace {

using tessaly::Bitmap;
using tessaly::PixelFormat;

void LoadAs(std::span<const std::uint8_t> bytes, bool expand_to_rgb) {
  Bitmap bitmap;
  bitmap.SetFormat(PixelFormat::k8Bit);
  tessaly::SetGreyPalette(bitmap);
  try {
    FUZZ_CHECK(tessaly::LoadPNGFromMemory(bitmap, bytes, expand_to_rgb));
  } catch (const tessaly::Error&) {
    return;  // refusing damaged data is the expected answer to most inputs
  }
  FUZZ_CHECK(bitmap.Format() == PixelFormat::k8Bit || bitmap.Format() == PixelFormat::k24Bit);
  FUZZ_CHECK(bitmap.Width() > 0 && bitmap.Height() > 0);
  FUZZ_CHECK(bitmap.Width() <= tessaly::kMaxPictureSide);
  FUZZ_CHECK(std::int64_t{bitmap.Width()} * bitmap.Height() <= tessaly::kMaxPicturePixels);
  if (expand_to_rgb) FUZZ_CHECK(bitmap.Format() == PixelFormat::k24Bit);
  const Bitmap grey = tessaly::ToGrey8(bitmap);
  FUZZ_CHECK(grey.Width() == bitmap.Width() && grey.Height() == bitmap.Height());
  Touch(grey);
}

// The processing's loader decodes row by row (pass by pass when interlaced) straight into an
// 8-bit picture; it must give what the whole decode, CopyToBitmap and ToGrey8 give, or fail
// where that fails.
void LoadRowByRow(std::span<const std::uint8_t> bytes, bool expand_to_rgb) {
  auto start = [&](tessaly::TPngImage& image, Bitmap& bitmap) {
    image.ExpandToRGB = expand_to_rgb;
    image.IgnoreAlpha = true;
    bitmap.SetFormat(PixelFormat::k8Bit);
    tessaly::SetGreyPalette(bitmap);
  };
  tessaly::TPngImage whole, rows;
  Bitmap expected, loaded;
  start(whole, expected);
  start(rows, loaded);
  bool decoded = true;
  try {
    whole.LoadFromMemory(bytes);
  } catch (const tessaly::Error&) {
    decoded = false;
  }
  try {
    rows.LoadIntoGrey8(bytes, loaded);
  } catch (const tessaly::Error&) {
    FUZZ_CHECK(!decoded);
    return;
  }
  FUZZ_CHECK(decoded);
  whole.CopyToBitmap(expected, 0, 0);
  if (expected.Format() != PixelFormat::k8Bit) expected.Assign(tessaly::ToGrey8(expected));
  FUZZ_CHECK(loaded.Format() == PixelFormat::k8Bit);
  FUZZ_CHECK(loaded.Width() == expected.Width() && loaded.Height() == expected.Height());
  FUZZ_CHECK(loaded.GetPalette() == expected.GetPalette());
  for (int y = 0; y < loaded.Height(); ++y) {
    FUZZ_CHECK(std::memcmp(loaded.Row(y), expected.Row(y), loaded.RowBytes()) == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  LoadAs(bytes, false);
  LoadAs(bytes, true);
  LoadRowByRow(bytes, false);
  LoadRowByRow(bytes, true);
  return 0;
}
