// Fuzz target: the PNG loader the processing uses (LoadPNGFromMemory, as LoadPNGIntoBitmap
// after reading the file), with and without expansion to RGB, and the grey conversion after it.
#include <cstdint>
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  LoadAs(bytes, false);
  LoadAs(bytes, true);
  return 0;
}
