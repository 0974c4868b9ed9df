// The PNG codec's decoding rules, limits, failure handling, progress reports and threads.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "base/errors.h"
#include "picture_files/png_image.h"
#include "picture_files/png_io.h"
#include "png_helpers.h"

namespace tessaly {
namespace {

using test::BuildPng;
using test::Bytes;
using test::PngChunk;

std::string ErrorOf(const Bytes& data) {
  try {
    TPngImage().LoadFromMemory(data);
  } catch (const Error& e) {
    return e.what();
  }
  return "(no error)";
}

// A textured picture, so that compressing it takes measurable time.
Bitmap TexturedBitmap(int width, int height, int seed) {
  Bitmap bitmap;
  bitmap.SetSize(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width * 3; ++x) {
      bitmap.Row(y)[x] = static_cast<std::uint8_t>((x * 7 + y * 13 + seed) ^ (x * y >> 3));
    }
  }
  return bitmap;
}

TEST(PngDecode, ShortForeignAndHostileDataIsRefused) {
  EXPECT_NE(ErrorOf({0x89, 'P', 'N'}).find("fewer than 4 bytes"), std::string::npos);
  EXPECT_EQ(ErrorOf({'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0}), "Is not a valid PNG !");
  // Sizes beyond 16384 on a side or 2^26 pixels in all, with valid chunks otherwise.
  EXPECT_NE(ErrorOf(BuildPng(70000, 1, 8, 0, {}, {})).find("larger than supported"),
            std::string::npos);
  EXPECT_NE(ErrorOf(BuildPng(8193, 8193, 8, 0, {}, {})).find("larger than supported"),
            std::string::npos);
  // Fewer rows than the header promises.
  EXPECT_NE(ErrorOf(BuildPng(4, 3, 8, 0, {}, {Bytes(4)})).find("Damaged PNG"), std::string::npos);
}

TEST(PngDecode, DamagedFilesFailCleanly) {
  const Bytes good = test::SuiteFile("basi2c08.png");
  for (std::size_t cut = 0; cut < good.size(); cut += 7) {
    const Bytes truncated(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_THROW(TPngImage().LoadFromMemory(truncated), Error) << cut;
  }
  // Flipped bits decode or fail with an Error, never anything else.
  for (std::size_t at = 8; at < good.size(); at += 3) {
    Bytes damaged = good;
    damaged[at] ^= static_cast<std::uint8_t>(1u << (at % 8));
    try {
      TPngImage().LoadFromMemory(damaged);
    } catch (const Error&) {
    }
  }
}

TEST(PngDecode, ExpandToRgbDecidesChannelsAndBitmapFormat) {
  const Bytes grey = test::SuiteFile("basn0g08.png");
  TPngImage plain;
  plain.ExpandToRGB = false;
  plain.LoadFromMemory(grey);
  EXPECT_EQ(plain.Channels, 1);
  EXPECT_EQ(plain.PaletteCount, 0);

  Palette inverted(256);
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<std::uint8_t>(255 - i);
    inverted[i] = {v, v, v, 0};
  }
  Bitmap bitmap;  // 24 bits per pixel
  LoadPNGFromMemory(bitmap, grey, false);
  EXPECT_EQ(bitmap.Format(), PixelFormat::k8Bit);
  bitmap.SetPalette(inverted);
  LoadPNGFromMemory(bitmap, grey, false);
  EXPECT_EQ(bitmap.GetPalette(), inverted);  // a grey picture shows through the caller's palette

  TPngImage expanded;
  expanded.LoadFromMemory(grey);
  EXPECT_EQ(expanded.Channels, 3);
  LoadPNGFromMemory(bitmap, grey, true);
  EXPECT_EQ(bitmap.Format(), PixelFormat::k24Bit);
}

TEST(PngDecode, PaletteIsKeptOnlyAtEightBitsWithoutExpansion) {
  TPngImage four;
  four.ExpandToRGB = false;
  four.LoadFromMemory(test::SuiteFile("basn3p04.png"));
  EXPECT_EQ(four.Channels, 1);
  EXPECT_EQ(four.PaletteCount, 0);
  EXPECT_EQ(four.RowBytes, four.Width);  // one index per byte
  for (std::uint8_t index : four.Pixels) ASSERT_LT(index, 16);

  const Bytes eight_data = test::SuiteFile("basn3p08.png");
  TPngImage eight;
  eight.ExpandToRGB = false;
  eight.LoadFromMemory(eight_data);
  for (const auto& chunk : test::ParseChunks(eight_data)) {
    if (chunk.type != "PLTE") continue;
    ASSERT_EQ(eight.PaletteCount * 3, static_cast<int>(chunk.data.size()));
    EXPECT_EQ(eight.Palette[5].green, chunk.data[16]);
  }
  EXPECT_EQ(TPngImage().ExpandToRGB, true);
}

// Three RGBA pixels: opaque, fully transparent, alpha 64 (A' = 191), over a bitmap of
// (200, 150, 100). Blend of the last by hand: (200*191 + 100*64) div 255 = 174,
// (150*191 + 50*64) div 255 = 124, (100*191 + 0*64) div 255 = 74.
TEST(PngDecode, TransparentPixelsTakeTheBackgroundAndPartialOnesBlend) {
  const Bytes row = {1, 2, 3, 255, 9, 9, 9, 0, 100, 50, 0, 64};
  const PngChunk bkgd{"bKGD", {0, 10, 0, 20, 0, 30}};
  for (bool with_bkgd : {true, false}) {
    SCOPED_TRACE(with_bkgd);
    TPngImage image;
    image.LoadFromMemory(
        BuildPng(3, 1, 8, 6, with_bkgd ? std::vector{bkgd} : std::vector<PngChunk>{}, {row}));
    EXPECT_EQ(image.Channels, 4);
    Bitmap bitmap;
    bitmap.SetSize(3, 1);
    bitmap.FillRect({0, 0, 3, 1}, MakeColor(200, 150, 100));
    image.CopyToBitmap(bitmap, 0, 0);
    EXPECT_EQ(bitmap.Transparent(), with_bkgd);
    EXPECT_EQ(bitmap.PixelColor(0, 0), MakeColor(1, 2, 3));
    EXPECT_EQ(bitmap.PixelColor(1, 0), with_bkgd ? MakeColor(10, 20, 30) : kBlack);
    EXPECT_EQ(bitmap.PixelColor(2, 0), MakeColor(174, 124, 74));
  }
  TPngImage trns;  // a tRNS chunk gives an alpha channel too
  trns.LoadFromMemory(test::SuiteFile("tp1n3p08.png"));
  EXPECT_EQ(trns.Channels, 4);
}

TEST(PngDecode, BackgroundAndSixteenBitSamplesAreScaledToEightBits) {
  // 2-bit grey bKGD 2 -> 2 x 85; 16-bit bKGD keeps the high bytes.
  TPngImage grey2;
  grey2.LoadFromMemory(BuildPng(4, 1, 2, 0, {{"bKGD", {0, 2}}}, {{0x1B}}));
  EXPECT_EQ(grey2.BackgroundColor, MakeColor(170, 170, 170));
  EXPECT_EQ(grey2.Pixels, (Bytes{0, 0, 0, 85, 85, 85, 170, 170, 170, 255, 255, 255}));  // as RGB

  // RGB samples 511 and 65535: rounded, (511 x 255 + 32767) div 65535 = 2 (the high byte is 1).
  TPngImage rgb16;
  rgb16.LoadFromMemory(BuildPng(2, 1, 16, 2, {{"bKGD", {0x12, 0x34, 0xAB, 0xCD, 0xFF, 0}}},
                                {{0x01, 0xFF, 0x01, 0xFF, 0x01, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}}));
  EXPECT_EQ(rgb16.BackgroundColor, MakeColor(0x12, 0xAB, 0xFF));
  Bitmap bitmap;
  rgb16.CopyToBitmap(bitmap, 0, 0);
  EXPECT_EQ(bitmap.PixelColor(0, 0), MakeColor(2, 2, 2));
  EXPECT_EQ(bitmap.PixelColor(1, 0), MakeColor(255, 0, 0));
}

TEST(PngDecode, TextsTimeAndLongChunks) {
  const std::string long_text(100000, 'x');  // beyond any fixed read buffer
  TPngImage image;
  image.Title = "old";
  image.Author = "kept";
  image.LoadFromMemory(BuildPng(1, 1, 8, 0,
                                {test::TextChunk("title", "lower"),
                                 test::TextChunk("Comment", "c"),
                                 test::TextChunk("Description", long_text),
                                 {"tIME", {0x07, 0xD0, 2, 29, 23, 59, 60}}},
                                {{0}}));
  EXPECT_EQ(image.Title, "lower");
  EXPECT_EQ(image.Author, "kept");
  EXPECT_EQ(image.Description, long_text);
  ASSERT_EQ(image.Texts.size(), 3u);
  EXPECT_EQ(image.Texts[0], "title=lower");
  EXPECT_EQ(image.Texts[1], "Comment=c");
  EXPECT_EQ(image.FileTime, (PngTime{2000, 2, 29, 23, 59, 60}));  // a leap second is valid

  TPngImage suite;
  suite.LoadFromMemory(test::SuiteFile("cm9n0g04.png"));
  EXPECT_EQ(suite.FileTime, (PngTime{1999, 12, 31, 23, 59, 59}));
}

TEST(PngImage, StreamsStopAfterThePngAndDrawUsesTheCanvasOrigin) {
  const Bytes png = BuildPng(2, 2, 8, 2, {}, {{255, 0, 0, 0, 255, 0}, {0, 0, 255, 9, 9, 9}});
  std::stringstream stream;
  stream << "head";
  stream.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  stream << "tail";
  stream.seekg(4);
  TPngImage image;
  image.LoadFromStream(stream);
  EXPECT_EQ(static_cast<std::size_t>(stream.tellg()), 4 + png.size());

  Bitmap canvas;  // 24 bits per pixel
  canvas.SetSize(3, 3);
  canvas.FillRect({0, 0, 3, 3}, kWhite);
  image.Draw(canvas);
  EXPECT_EQ(canvas.Width(), 3);  // natural size at (0, 0); the canvas keeps its own
  EXPECT_EQ(canvas.PixelColor(0, 1), MakeColor(0, 0, 255));
  EXPECT_EQ(canvas.PixelColor(2, 2), kWhite);

  std::stringstream out;
  image.SaveToStream(out);
  TPngImage again;
  again.LoadFromStream(out);
  EXPECT_EQ(again.Pixels, image.Pixels);
}

TEST(PngProgress, ReportsAreOrderedAndAtMostOnePer100Ms) {
  struct Report {
    ProgressStage stage;
    int percent;
    std::string message;
    std::chrono::steady_clock::time_point at;
  };
  std::vector<Report> reports;
  TPngImage image;
  image.CopyFromBitmap(TexturedBitmap(1200, 1500, 1));
  image.OnProgress = [&](TPngImage& sender, ProgressStage stage, std::uint8_t percent, bool redraw,
                         const Rect& rect, const std::string& message) {
    EXPECT_EQ(&sender, &image);
    EXPECT_FALSE(redraw);
    EXPECT_EQ(rect.right, 0);
    reports.push_back({stage, percent, message, std::chrono::steady_clock::now()});
  };
  const auto start = std::chrono::steady_clock::now();
  const Bytes data = image.SaveToMemory();
  image.LoadFromMemory(data);
  const auto elapsed_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - start)
                              .count();

  ASSERT_GE(reports.size(), 6u);
  EXPECT_EQ(reports.front().message, "Starting PNG write");
  EXPECT_EQ(reports.back().message, "Ended PNG read");
  EXPECT_EQ(reports.back().percent, 100);
  int running = 0;
  const Report* last_running = nullptr;
  for (const Report& report : reports) {
    if (report.stage == ProgressStage::kStarting) last_running = nullptr;
    if (report.stage != ProgressStage::kRunning) continue;
    ++running;
    EXPECT_EQ(report.message, "Running");
    EXPECT_LE(report.percent, 100);
    if (last_running != nullptr) {
      EXPECT_GE(report.at - last_running->at, std::chrono::milliseconds(100));
    }
    last_running = &report;
  }
  EXPECT_GE(running, 2);  // at least the first row of each operation
  EXPECT_LE(running, 2 + elapsed_ms / 100);
}

TEST(PngProgress, AThrowingHandlerAbandonsTheOperation) {
  for (ProgressStage stop_at : {ProgressStage::kStarting, ProgressStage::kRunning}) {
    TPngImage image;
    image.CopyFromBitmap(TexturedBitmap(40, 40, 2));
    image.OnProgress = [stop_at](TPngImage&, ProgressStage stage, std::uint8_t, bool, const Rect&,
                                 const std::string&) {
      if (stage == stop_at) throw std::runtime_error("stopped");
    };
    EXPECT_THROW(image.SaveToMemory(), std::runtime_error);
    const Bytes data = EncodeBitmapAsPNG(TexturedBitmap(40, 40, 2), "", "", "", "");
    EXPECT_THROW(image.LoadFromMemory(data), std::runtime_error);
  }
}

Bytes ImageData(const Bytes& png) {
  for (const auto& chunk : test::ParseChunks(png)) {
    if (chunk.type == "IDAT") return chunk.data;
  }
  return {};
}

TEST(PngThreads, TwoPicturesAreCodedAtOnce) {
  const Bitmap pictures[2] = {TexturedBitmap(500, 400, 3), TexturedBitmap(400, 500, 4)};
  Bytes expected[2];
  for (int i = 0; i < 2; ++i) expected[i] = EncodeBitmapAsPNG(pictures[i], "a", "", "", "t");
  std::atomic<int> failures{0};
  auto work = [&](int i) {
    for (int round = 0; round < 8; ++round) {
      TPngImage image;
      image.OnProgress = [&image, &failures](TPngImage& sender, ProgressStage, std::uint8_t, bool,
                                             const Rect&, const std::string&) {
        if (&sender != &image) ++failures;
      };
      image.LoadFromMemory(expected[i]);
      Bitmap back;
      image.CopyToBitmap(back, 0, 0);
      const Bytes again = EncodeBitmapAsPNG(back, "a", "", "", "t");
      // Equal but for the tIME chunk, which may fall into another second.
      if (ImageData(again) != ImageData(expected[i])) ++failures;
    }
  };
  std::thread first(work, 0), second(work, 1);
  first.join();
  second.join();
  EXPECT_EQ(failures.load(), 0);
}

void AppendTo(png_structp png, png_bytep data, png_size_t length) {
  auto* bytes = static_cast<Bytes*>(png_get_io_ptr(png));
  bytes->insert(bytes->end(), data, data + length);
}

// libpng's longjmp leaves this frame, which therefore holds nothing to destroy.
bool WriteLeavingTheFilterChoiceToLibpng(png_structp png, png_infop info, const TPngImage& image,
                                         png_bytepp rows, Bytes* out) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, out, AppendTo, nullptr);
  png_set_compression_level(png, image.CompressionLevel);
  if (image.CompressionStrategy != kPngDefaultStrategy) {
    png_set_compression_strategy(png, image.CompressionStrategy);
  }
  png_set_IHDR(png, info, image.Width, image.Height, 8, image.ColorType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
  png_write_info(png, info);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, static_cast<int>(image.FilterFlags));
  png_write_image(png, rows);
  png_write_end(png, info);
  return true;
}

// The image data of `image` as libpng writes it when it picks every row's filter itself.
Bytes WithLibpngsOwnFilterChoice(const TPngImage& image) {
  Bytes out;
  std::vector<png_bytep> rows(image.Height);
  for (std::uint32_t y = 0; y < image.Height; ++y) {
    rows[y] = const_cast<png_bytep>(image.Pixels.data() + std::size_t{y} * image.RowBytes);
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  const bool written = WriteLeavingTheFilterChoiceToLibpng(png, info, image, rows.data(), &out);
  png_destroy_write_struct(&png, &info);
  return written ? ImageData(out) : Bytes{};
}

// The encoder chooses each row's filter itself, by libpng's rule; the image data must come out
// byte for byte as libpng's own choice makes it, for every 8-bit colour type and filter set.
TEST(PngEncode, RowFiltersAreChosenAsLibpngChoosesThem) {
  const std::pair<int, int> kinds[] = {{PNG_COLOR_TYPE_GRAY, 1},
                                       {PNG_COLOR_TYPE_GRAY_ALPHA, 2},
                                       {PNG_COLOR_TYPE_RGB, 3},
                                       {PNG_COLOR_TYPE_RGB_ALPHA, 4}};
  const int filter_sets[] = {PNG_FILTER_NONE | PNG_FILTER_SUB | PNG_FILTER_PAETH, PNG_ALL_FILTERS,
                             PNG_FILTER_SUB | PNG_FILTER_UP | PNG_FILTER_AVG,
                             PNG_FILTER_UP | PNG_FILTER_PAETH};
  for (const auto& [color_type, channels] : kinds) {
    TPngImage image;
    image.Width = 61;
    image.Height = 48;
    image.ColorType = color_type;
    image.Channels = channels;
    image.BitDepth = 8;
    image.RowBytes = image.Width * static_cast<std::uint32_t>(channels);
    image.Pixels.resize(std::size_t{image.RowBytes} * image.Height);
    // Bands of rows that different filters suit: flat, ramps across and down, repeats of the
    // row above, and noise, so that every filter wins some rows and ties occur.
    std::uint32_t noise = 12345;
    for (std::uint32_t y = 0; y < image.Height; ++y) {
      std::uint8_t* row = image.Pixels.data() + std::size_t{y} * image.RowBytes;
      for (std::uint32_t x = 0; x < image.RowBytes; ++x) {
        noise = noise * 1103515245u + 12345u;
        switch (y / 6 % 5) {
          case 0:
            row[x] = 200;
            break;
          case 1:
            row[x] = static_cast<std::uint8_t>(x * 3 + y);
            break;
          case 2:
            row[x] = static_cast<std::uint8_t>(y * 9 + (x & 1) * 40);
            break;
          case 3:
            row[x] = static_cast<std::uint8_t>(x * y + (noise >> 28));
            break;
          default:
            row[x] = static_cast<std::uint8_t>(noise >> 24);
            break;
        }
      }
    }
    for (const int filters : filter_sets) {
      for (const int strategy : {kPngDefaultStrategy, Z_RLE}) {
        image.FilterFlags = static_cast<std::uint32_t>(filters);
        image.CompressionStrategy = strategy;
        image.CompressionLevel = 4;
        const Bytes expected = WithLibpngsOwnFilterChoice(image);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(ImageData(image.SaveToMemory()), expected)
            << "colour type " << color_type << ", filters " << filters << ", strategy " << strategy;
      }
    }
  }
}

}  // namespace
}  // namespace tessaly
