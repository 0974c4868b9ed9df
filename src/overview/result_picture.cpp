// Results read back through the PNG codec and resampled as the pipeline resamples them.
#include "overview/result_picture.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "base/errors.h"
#include "base/files.h"
#include "picture_files/ext_bitmap.h"
#include "picture_files/png_image.h"

namespace tessaly {
namespace {

// The size of width x height scaled by the largest factor that fits it within the box, at least
// one pixel a side.
std::pair<int, int> FittingSize(int width, int height, int box_width, int box_height) {
  const double scale =
      std::min(static_cast<double>(box_width) / width, static_cast<double>(box_height) / height);
  return {std::clamp(static_cast<int>(std::lround(width * scale)), 1, box_width),
          std::clamp(static_cast<int>(std::lround(height * scale)), 1, box_height)};
}

}  // namespace

ResultPicture ReadResult(const std::filesystem::path& file) {
  ResultPicture result;
  try {
    if (!NameIsTaken(file)) return {TileState::kGone, {}, {}};
    const std::vector<std::uint8_t> bytes = ReadFileBytes(file);
    // Results are grey PNGs without a palette: they take the ramp set here.
    result.picture.SetFormat(PixelFormat::k8Bit);
    result.picture.SetPalette(GreyRamp());
    TPngImage png;
    png.IgnoreAlpha = true;
    png.LoadIntoGrey8(bytes, result.picture);
    if (result.picture.Empty()) throw Error("it holds no pixels");
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    return {TileState::kUnreadable, {}, NamingFile(file, e.what())};
  }
  return result;
}

void ShrinkToFit(Bitmap& picture, int width, int height) {
  if (picture.Width() <= width && picture.Height() <= height) return;
  const auto [w, h] = FittingSize(picture.Width(), picture.Height(), width, height);
  Interpolate(picture, w, h);
}

Bitmap FittedTo(Bitmap picture, int width, int height) {
  if (picture.Width() == width && picture.Height() == height) return picture;
  const auto [w, h] = FittingSize(picture.Width(), picture.Height(), width, height);
  // Both sides move the same way, so the resampler takes it (it refuses a mixed change).
  Interpolate(picture, w, h);
  Bitmap frame;
  frame.SetFormat(PixelFormat::k8Bit);
  frame.SetPalette(GreyRamp());
  frame.SetSize(width, height);  // new pixels are 0: black
  frame.Draw((width - picture.Width()) / 2, (height - picture.Height()) / 2, picture);
  return frame;
}

}  // namespace tessaly
