// bench_files: load and save times of 8-bit grey frames as PNG through the project's file
// functions, beside plain libpng decode and encode of the same pixels at the same settings,
// and the load time of the same pixels as an 8-bit BMP.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#include <CLI/CLI.hpp>

#include "base/files.h"
#include "bench_files/plain_libpng.h"
#include "picture_files/png_io.h"
#include "picture_store/bitmap.h"

// The BMP half needs the extended bitmap's loader and the BMP writer of the BMP side.
#if __has_include("picture_files/ext_bitmap.h") && __has_include("support/bmp_writer.h")
#define TESSALY_BENCH_BMP 1
#include "picture_files/ext_bitmap.h"
#include "support/bmp_writer.h"
#endif

namespace {

namespace fs = std::filesystem;
using tessaly::Bitmap;

constexpr int kLevel = 4;       // what SaveBitmapAsPNG uses
constexpr int kFilters = 0x98;  // none, sub and Paeth

// A received frame's look: a smooth diagonal ramp, a bright disc with soft cloud bands, and
// receiver noise, so that deflate and the row filters work as hard as on real frames.
Bitmap MakeFrame(int width, int height, unsigned seed) {
  Bitmap bitmap;
  bitmap.SetFormat(tessaly::PixelFormat::k8Bit);
  bitmap.SetPalette(tessaly::GreyRamp());
  bitmap.SetSize(width, height);
  std::mt19937 random(seed);
  std::normal_distribution<double> noise(0.0, 4.0);
  const double cx = width / 2.0, cy = height / 2.0, radius = std::min(width, height) * 0.42;
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = bitmap.Row(y);
    for (int x = 0; x < width; ++x) {
      double v = 20.0 + 40.0 * (x + y) / (width + height);
      const double d = std::hypot(x - cx, y - cy) / radius;
      if (d < 1.0) {
        v += 90.0 * std::sqrt(1.0 - d * d) +
             50.0 * std::sin(x * 0.013 + std::sin(y * 0.021) * 3.0) * std::cos(y * 0.009);
      }
      row[x] = static_cast<std::uint8_t>(std::clamp(v + noise(random), 0.0, 255.0));
    }
  }
  return bitmap;
}

double MedianMs(int reps, const std::function<void()>& work) {
  std::vector<double> times;
  for (int i = 0; i < reps; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

tessaly::bench::GreyPicture PictureOf(const Bitmap& bitmap) {
  tessaly::bench::GreyPicture picture;
  picture.width = static_cast<std::uint32_t>(bitmap.Width());
  picture.height = static_cast<std::uint32_t>(bitmap.Height());
  for (int y = 0; y < bitmap.Height(); ++y) {
    picture.pixels.insert(picture.pixels.end(), bitmap.Row(y), bitmap.Row(y) + bitmap.Width());
  }
  return picture;
}

Bitmap GreyTarget() {
  Bitmap bitmap;  // as the per-file processing prepares its input bitmap
  bitmap.SetFormat(tessaly::PixelFormat::k8Bit);
  bitmap.SetPalette(tessaly::GreyRamp());
  return bitmap;
}

// Milliseconds for the BMP load of the same pixels, or a negative value when not built.
double BmpLoadMs(const Bitmap& frame, const fs::path& dir, int reps) {
#ifdef TESSALY_BENCH_BMP
  const fs::path file = dir / "frame.bmp";
  tessaly::WriteFileReplacing(file, tessaly::EncodeBmp(frame));
  return MedianMs(reps, [&] {
    tessaly::TExtBitmap bitmap;
    bitmap.LoadFromFile(file);
  });
#else
  (void)frame, (void)dir, (void)reps;
  return -1.0;
#endif
}

void RunSize(int width, int height, const fs::path& dir, int reps) {
  const Bitmap frame = MakeFrame(width, height, static_cast<unsigned>(width * 31 + height));
  const tessaly::bench::GreyPicture picture = PictureOf(frame);
  const fs::path ours = dir / "ours.png", plain = dir / "plain.png";

  const double save = MedianMs(reps, [&] {
    tessaly::SaveBitmapAsPNG(frame, ours, "Author", "Description", "bench_files", "Title");
  });
  const double encode =
      MedianMs(reps, [&] { tessaly::EncodeBitmapAsPNG(frame, "Author", "", "", "Title"); });
  const double plain_encode = MedianMs(
      reps, [&] { tessaly::bench::PlainEncode(picture, plain.string(), kLevel, kFilters); });
  Bitmap loaded = GreyTarget();
  const double load = MedianMs(reps, [&] { tessaly::LoadPNGIntoBitmap(loaded, ours, false); });
  tessaly::bench::GreyPicture decoded;
  const double plain_decode =
      MedianMs(reps, [&] { decoded = tessaly::bench::PlainDecode(ours.string()); });
  if (decoded.pixels != picture.pixels || PictureOf(loaded).pixels != picture.pixels) {
    throw std::runtime_error("decoded pixels differ from the frame");
  }
  const double bmp = BmpLoadMs(frame, dir, reps);

  std::printf("%4dx%-4d  %7.1f KB %7.1f KB | %8.2f %8.2f | %8.2f %8.2f %8.2f | ", width, height,
              fs::file_size(ours) / 1024.0, fs::file_size(plain) / 1024.0, load, plain_decode, save,
              encode, plain_encode);
  if (bmp >= 0) {
    std::printf("%8.2f\n", bmp);
  } else {
    std::printf("%8s\n", "n/a");
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Times loading and saving 8-bit frames as PNG (and BMP) against plain libpng."};
  int reps = 7;
  std::string dir_option;
  app.add_option("--reps", reps, "runs per measurement; the median is printed")
      ->capture_default_str()
      ->check(CLI::PositiveNumber);
  app.add_option("--dir", dir_option, "folder for the files (default: a new temporary folder)");
  CLI11_PARSE(app, argc, argv);

  const fs::path dir =
      dir_option.empty() ? fs::temp_directory_path() / ("bench_files-" + std::to_string(::getpid()))
                         : fs::path(dir_option);
  fs::create_directories(dir);
  std::printf("files in %s; median of %d runs, milliseconds; level %d, filters 0x%X\n", dir.c_str(),
              reps, kLevel, kFilters);
  std::printf("%-9s  %10s %10s | %8s %8s | %8s %8s %8s | %8s\n", "frame", "ours", "plain", "load",
              "libpng", "save", "encode", "libpng", "BMP load");
  std::printf("%-9s  %10s %10s | %8s %8s | %8s %8s %8s | %8s\n", "", "PNG size", "PNG size",
              "(file)", "decode", "(file)", "(memory)", "encode", "(file)");
  int status = 0;
  try {
    for (const auto& [w, h] : {std::pair{840, 880}, std::pair{1040, 1100}, std::pair{2080, 2100}}) {
      RunSize(w, h, dir, reps);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_files: %s\n", e.what());
    status = 1;
  }
  if (dir_option.empty()) fs::remove_all(dir);
  std::printf(
      "load: LoadPNGIntoBitmap into an 8-bit grey bitmap; save: SaveBitmapAsPNG with four texts,\n"
      "written beside the target, flushed to disk (fsync) and renamed; encode: the same PNG in\n"
      "memory; libpng: plain libpng over stdio, no texts, no fsync.\n");
  return status;
}
