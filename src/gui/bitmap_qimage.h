// Turns the core's bitmaps into Qt images for display and for the picture-format handlers.
// Used by the main window's picture controls and by the BMP and PNG image readers.
#pragma once

#include <QImage>

#include "picture_store/bitmap.h"

namespace tessaly {

// A copy of the bitmap as a QImage of the same size: indexed formats keep their indices with the
// palette as colour table (padded with black to the full depth, so indices past the palette show
// black as they do in the bitmap), 16-bit as the RGB colours the bitmap reads,
// 24-bit as BGR bytes, 32-bit as opaque RGB.
// An empty bitmap gives a null image.
QImage BitmapToQImage(const Bitmap& bitmap);

}  // namespace tessaly
