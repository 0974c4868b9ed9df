// The picture side of the window: bitmaps shown as QImages, the BMP and PNG readers registered
// with Qt, and TPngGraphic.
#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QMimeData>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "base/errors.h"
#include "gui/bitmap_qimage.h"
#include "gui/picture_formats.h"
#include "gui/png_graphic.h"
#include "gui_test_support.h"
#include "picture_files/ext_bitmap.h"
#include "picture_files/png_io.h"
#include "support/bmp_writer.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

QRgb Rgb(Color c) {
  return qRgb(ColorRed(c), ColorGreen(c), ColorBlue(c));
}

void ExpectSamePicture(const Bitmap& bitmap, const QImage& image) {
  ASSERT_EQ(image.size(), QSize(bitmap.Width(), bitmap.Height()));
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = 0; x < bitmap.Width(); ++x) {
      ASSERT_EQ(image.pixel(x, y), Rgb(bitmap.PixelColor(x, y))) << "at " << x << "," << y;
    }
  }
}

Bitmap Colours(int width, int height) {
  Bitmap bitmap;
  bitmap.SetFormat(PixelFormat::k24Bit);
  bitmap.SetSize(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = bitmap.Row(y) + 3 * x;
      p[0] = static_cast<std::uint8_t>(x * 19);
      p[1] = static_cast<std::uint8_t>(y * 50);
      p[2] = static_cast<std::uint8_t>(255 - x * 7);
    }
  }
  return bitmap;
}

class PictureFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    RegisterPictureFormats();
  }
  fs::path Path(const char* name) const { return fs::path(dir_.path().toStdString()) / name; }
  QString QPath(const char* name) const { return QString::fromStdString(Path(name).string()); }

  QTemporaryDir dir_;
};

TEST(BitmapToQImageTest, EveryPixelFormatShowsTheBitmapsColours) {
  const Bitmap colours = Colours(13, 5);  // odd width: rows are padded differently
  for (PixelFormat format : {PixelFormat::k1Bit, PixelFormat::k4Bit, PixelFormat::k8Bit,
                             PixelFormat::k16Bit, PixelFormat::k24Bit, PixelFormat::k32Bit}) {
    Bitmap bitmap = colours;
    bitmap.SetFormat(format);
    SCOPED_TRACE(BitsPerPixel(format));
    ExpectSamePicture(bitmap, BitmapToQImage(bitmap));
  }
  EXPECT_TRUE(BitmapToQImage(Bitmap()).isNull());
}

TEST(BitmapToQImageTest, IndicesPastAShortPaletteShowBlack) {
  Bitmap bitmap;
  bitmap.SetFormat(PixelFormat::k8Bit);
  bitmap.SetPalette(Palette(10, PaletteEntry{200, 100, 50, 0}));
  bitmap.SetSize(2, 1);
  bitmap.Row(0)[0] = 9;
  bitmap.Row(0)[1] = 200;
  const QImage image = BitmapToQImage(bitmap);
  EXPECT_EQ(image.pixel(0, 0), qRgb(200, 100, 50));
  EXPECT_EQ(image.pixel(1, 0), qRgb(0, 0, 0));
}

TEST_F(PictureFileTest, BmpFilesOpenThroughTheRepairingLoader) {
  // A receiver's frame: 200 colours announced over a stored 256-entry table.
  Bitmap frame;
  frame.SetFormat(PixelFormat::k8Bit);
  Palette palette(256);
  for (int i = 0; i < 256; ++i) {
    palette[static_cast<std::size_t>(i)] = {static_cast<std::uint8_t>(i),
                                            static_cast<std::uint8_t>(255 - i),
                                            static_cast<std::uint8_t>(i / 2), 0};
  }
  frame.SetPalette(palette);
  frame.SetSize(50, 4);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 50; ++x) frame.Row(y)[x] = static_cast<std::uint8_t>((x * 4 + y) % 200);
  }
  testing::WriteFileBytes(Path("quirk.bmp"), EncodeBmp(frame, {.announced_colours = 200}));
  TExtBitmap expected;
  expected.LoadFromFile(Path("quirk.bmp"));

  QImageReader reader(QPath("quirk.bmp"));
  EXPECT_EQ(reader.subType(), kBmpReaderName);
  const QImage image = reader.read();
  ExpectSamePicture(expected, image);
  ExpectSamePicture(frame, image);
  ExpectSamePicture(expected, QImage(QPath("quirk.bmp")));

  // The handler reads a device from where it stands, as a file of its own.
  QByteArray bytes(7, 'x');
  bytes += QByteArray(reinterpret_cast<const char*>(testing::FileBytes(Path("quirk.bmp")).data()),
                      static_cast<qsizetype>(fs::file_size(Path("quirk.bmp"))));
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  buffer.seek(7);
  ExpectSamePicture(expected, QImageReader(&buffer).read());
}

TEST_F(PictureFileTest, PngFilesOpenThroughTheCodecExpandedToRgbWithTheirTexts) {
  const Bitmap grey = testing::Ramp(21, 9);
  SaveBitmapAsPNG(grey, Path("grey.png"), "Kestrelwood", "GOES image", "Tessaly", "grey.png");
  QImageReader reader(QPath("grey.png"));
  EXPECT_EQ(reader.subType(), kPngReaderName);
  const QImage image = reader.read();
  EXPECT_FALSE(image.isGrayscale() && image.format() == QImage::Format_Grayscale8);
  ExpectSamePicture(grey, image);
  EXPECT_EQ(image.text("Title"), "grey.png");
  EXPECT_EQ(image.text("Author"), "Kestrelwood");

  std::ofstream(Path("broken.png"), std::ios::binary) << "\x89PNG\r\n\x1a\n and then nothing";
  EXPECT_TRUE(QImage(QPath("broken.png")).isNull());
}

TEST_F(PictureFileTest, TransparentPngKeepsItsAlphaAndQtStillWritesPng) {
  // Qt's own icons are transparent PNGs; losing the alpha would paint them black.
  QImage written(3, 2, QImage::Format_ARGB32);
  written.fill(qRgba(10, 20, 30, 255));
  written.setPixel(1, 0, qRgba(200, 100, 0, 0));
  written.setPixel(2, 1, qRgba(0, 255, 0, 128));
  QImageWriter writer(QPath("alpha.png"), "png");
  ASSERT_TRUE(writer.write(written)) << writer.errorString().toStdString();

  QImageReader reader(QPath("alpha.png"));
  EXPECT_EQ(reader.subType(), kPngReaderName);
  const QImage read = reader.read();
  ASSERT_TRUE(read.hasAlphaChannel());
  EXPECT_EQ(read.pixel(0, 0), qRgba(10, 20, 30, 255));
  EXPECT_EQ(qAlpha(read.pixel(1, 0)), 0);
  EXPECT_EQ(read.pixel(2, 1), qRgba(0, 255, 0, 128));
}

TEST(PictureFormatsTest, BmpAndPngAreRegisteredWithTheirDescriptions) {
  RegisterPictureFormats();
  const auto& formats = RegisteredPictureFormats();
  ASSERT_EQ(formats.size(), 2u);
  EXPECT_EQ(formats[0].extension, "BMP");
  EXPECT_EQ(formats[0].description, "Windows bitmap");
  EXPECT_EQ(formats[1].extension, "PNG");
  EXPECT_EQ(formats[1].description, "Portable Network Graphics");
  QByteArray bmp_data("BM"), other("GIF89a");
  QBuffer bmp_device(&bmp_data), other_device(&other);
  bmp_device.open(QIODevice::ReadOnly);
  other_device.open(QIODevice::ReadOnly);
  std::unique_ptr<QImageIOHandler> handler(CreatePictureHandler(&bmp_device, {}));
  ASSERT_NE(handler, nullptr);
  EXPECT_EQ(handler->option(QImageIOHandler::SubType).toByteArray(), kBmpReaderName);
  EXPECT_EQ(CreatePictureHandler(&other_device, {}), nullptr);
}

class PngGraphicTest : public PictureFileTest {
 protected:
  void SetUp() override {
    PictureFileTest::SetUp();
    SaveBitmapAsPNG(testing::Ramp(6, 4), Path("ramp.png"), "", "", "", "");
  }
};

TEST_F(PngGraphicTest, SizeChangesAndClipboardTransfersAreRefused) {
  TPngGraphic graphic;
  EXPECT_FALSE(graphic.GetEmpty());
  EXPECT_TRUE(graphic.Transparent());
  EXPECT_EQ(graphic.GetWidth(), 0);
  graphic.LoadFromFile(Path("ramp.png"));
  auto message = [](auto&& operation) {
    try {
      operation();
    } catch (const Error& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  QMimeData data;
  EXPECT_EQ(message([&] { graphic.SetWidth(10); }), "Cannot set width on a TPngGraphic");
  EXPECT_EQ(message([&] { graphic.SetHeight(10); }), "Cannot set height on a TPngGraphic");
  EXPECT_EQ(message([&] { graphic.LoadFromClipboardFormat(data); }),
            "Cannot load a TPngGraphic from the Clipboard");
  EXPECT_EQ(message([&] { graphic.SaveToClipboardFormat(data); }),
            "Cannot save a TPngGraphic to the Clipboard");
  EXPECT_EQ(graphic.GetWidth(), 6);
  EXPECT_EQ(graphic.GetHeight(), 4);
}

TEST_F(PngGraphicTest, AssignedGraphicsShareOnePictureThatOutlivesTheFirst) {
  auto first = std::make_unique<TPngGraphic>();
  first->LoadFromFile(Path("ramp.png"));
  TPngGraphic second;
  int changes = 0;
  second.OnChange = [&changes] { ++changes; };
  second.Assign(*first);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(second.Image(), first->Image());
  EXPECT_EQ(second.GetWidth(), 6);
  second.Assign(second);
  EXPECT_EQ(second.GetWidth(), 6) << "assigning itself keeps the picture";
  first.reset();

  QImage canvas(10, 10, QImage::Format_RGB32);
  canvas.fill(Qt::white);
  QPainter painter(&canvas);
  second.Draw(painter, QRect(4, 4, 2, 2));  // drawn at the origin, full size, whatever the rect
  painter.end();
  ExpectSamePicture(testing::Ramp(6, 4), canvas.copy(0, 0, 6, 4));
  EXPECT_EQ(canvas.pixel(7, 7), qRgb(255, 255, 255));

  std::ostringstream saved;
  second.SaveToStream(saved);
  std::istringstream in(saved.str());
  TPngGraphic third;
  third.LoadFromStream(in);
  EXPECT_EQ(third.GetHeight(), 4);
}

}  // namespace
}  // namespace tessaly
