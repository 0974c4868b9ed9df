// The picture-format registrations: "BMP" read through the repairing loader (TExtBitmap) and
// "PNG" through the PNG codec (TPngGraphic), as Qt image-format handlers, so every QImage,
// QImageReader or QPixmap that opens such a file uses the project's readers. Used at start-up.
#pragma once

#include <QByteArray>
#include <QImageIOHandler>

#include <string>
#include <vector>

namespace tessaly {

struct PictureFormat {
  std::string extension;    // upper case, without the dot
  std::string description;  // as the format registry lists it
  QByteArray qt_format;     // the Qt format key the handler serves
};

// The formats the program registers, in registration order.
const std::vector<PictureFormat>& RegisteredPictureFormats();

// Makes the handlers known to Qt's image readers; they then take precedence over Qt's own readers
// of these formats. Safe to call more than once. Qt's writers stay in charge of writing.
void RegisterPictureFormats();

// The handler for a BMP or PNG device, judged by its first bytes; nullptr for anything else.
// The caller owns it.
QImageIOHandler* CreatePictureHandler(QIODevice* device, const QByteArray& format);

// The reader a handler of this program names as its sub-type ("TExtBitmap", "TPngGraphic"), so
// callers can tell which reader opened a file.
inline constexpr char kBmpReaderName[] = "TExtBitmap";
inline constexpr char kPngReaderName[] = "TPngGraphic";

}  // namespace tessaly
