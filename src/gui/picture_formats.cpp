// The BMP and PNG image-format handlers over the project's readers, and their static plugin.
#include "gui/picture_formats.h"

#include <QImageIOPlugin>
#include <QVariant>
#include <QtPlugin>

#include <span>

#include "gui/bitmap_qimage.h"
#include "gui/png_graphic.h"
#include "picture_files/byte_stream.h"
#include "picture_files/ext_bitmap.h"

namespace tessaly {

namespace {

constexpr char kPngSignature[] = "\x89PNG\r\n\x1a\n";

bool LooksLikeBmp(QIODevice* device) {
  return device != nullptr && device->peek(2) == "BM";
}

bool LooksLikePng(QIODevice* device) {
  return device != nullptr && device->peek(8) == QByteArray(kPngSignature, 8);
}

std::span<const std::uint8_t> Bytes(const QByteArray& data) {
  return {reinterpret_cast<const std::uint8_t*>(data.constData()),
          static_cast<std::size_t>(data.size())};
}

// What both handlers share: only reading, and the sub-type naming the reader.
class ProjectHandler : public QImageIOHandler {
 public:
  explicit ProjectHandler(const char* reader) : reader_(reader) {}
  bool supportsOption(ImageOption option) const override { return option == SubType; }
  QVariant option(ImageOption option) const override {
    return option == SubType ? QVariant(QByteArray(reader_)) : QVariant();
  }

 private:
  const char* reader_;
};

// BMP files through the repairing loader; the device is read from its position to its end, and
// that position counts as the file's start.
class ExtBitmapHandler final : public ProjectHandler {
 public:
  ExtBitmapHandler() : ProjectHandler(kBmpReaderName) {}
  bool canRead() const override {
    if (!LooksLikeBmp(device())) return false;
    setFormat("bmp");
    return true;
  }
  bool read(QImage* image) override {
    const QByteArray data = device()->readAll();
    TExtBitmap bitmap;
    try {
      ByteStream stream(Bytes(data));
      bitmap.LoadFromStream(stream);
    } catch (const std::exception&) {
      return false;  // Qt reports its own "unable to read" error
    }
    *image = BitmapToQImage(bitmap);
    return !image->isNull();
  }
};

// PNG files through the codec, expanded to RGB as the graphic draws them; the text chunks become
// the image's texts.
class PngGraphicHandler final : public ProjectHandler {
 public:
  PngGraphicHandler() : ProjectHandler(kPngReaderName) {}
  bool canRead() const override {
    if (!LooksLikePng(device())) return false;
    setFormat("png");
    return true;
  }
  bool read(QImage* image) override {
    const QByteArray data = device()->readAll();
    TPngGraphic graphic;
    try {
      graphic.Image()->LoadFromMemory(Bytes(data));
    } catch (const std::exception&) {
      return false;
    }
    *image = graphic.ToQImage();
    for (const std::string& text : graphic.Image()->Texts) {
      const std::size_t eq = text.find('=');
      if (eq == std::string::npos) continue;
      image->setText(QString::fromUtf8(text.substr(0, eq)), QString::fromUtf8(text.substr(eq + 1)));
    }
    return !image->isNull();
  }
};

}  // namespace

QImageIOHandler* CreatePictureHandler(QIODevice* device, const QByteArray& format) {
  QImageIOHandler* handler = nullptr;
  if (format == "bmp" || (format.isEmpty() && LooksLikeBmp(device))) {
    handler = new ExtBitmapHandler;
  } else if (format == "png" || (format.isEmpty() && LooksLikePng(device))) {
    handler = new PngGraphicHandler;
  }
  if (handler != nullptr) {
    handler->setDevice(device);
    handler->setFormat(format);
  }
  return handler;
}

// The static plugin through which Qt's readers find the handlers.
class PictureFormatsPlugin : public QImageIOPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QImageIOHandlerFactoryInterface_iid FILE "picture_formats.json")

 public:
  Capabilities capabilities(QIODevice* device, const QByteArray& format) const override {
    if (format == "bmp" || format == "png") return CanRead;
    if (!format.isEmpty() || device == nullptr || !device->isReadable()) return {};
    return LooksLikeBmp(device) || LooksLikePng(device) ? CanRead : Capabilities();
  }
  QImageIOHandler* create(QIODevice* device, const QByteArray& format) const override {
    return CreatePictureHandler(device, format);
  }
};

const std::vector<PictureFormat>& RegisteredPictureFormats() {
  static const std::vector<PictureFormat> formats{
      {"BMP", "Windows bitmap", "bmp"},
      {"PNG", "Portable Network Graphics", "png"},
  };
  return formats;
}

}  // namespace tessaly

// Made by moc for the plugin class (QT_STATICPLUGIN).
extern const QStaticPlugin qt_static_plugin_PictureFormatsPlugin();

namespace tessaly {

void RegisterPictureFormats() {
  // Qt keeps static plugins for the whole run; one registration is enough.
  static const bool registered = [] {
    qRegisterStaticPluginFunction(qt_static_plugin_PictureFormatsPlugin());
    return true;
  }();
  (void)registered;
}

}  // namespace tessaly

#include "picture_formats.moc"
