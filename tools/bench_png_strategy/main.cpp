// bench_png_strategy: encodes every picture of a corpus under each deflate strategy and row
// filter set at the save level, and prints the time and the bytes of each beside the save
// settings of the day, so that the settings can be chosen by measurement.
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "picture_store/bitmap.h"
#include "picture_store/grey.h"
#include "picture_files/png_image.h"
#include "picture_files/png_io.h"

namespace {

using tessaly::Bitmap;

constexpr int kLevel = 4;

struct Strategy {
  const char* name;
  int value;
};
constexpr Strategy kStrategies[] = {{"libpng", tessaly::kPngDefaultStrategy},
                                    {"default", Z_DEFAULT_STRATEGY},
                                    {"rle", Z_RLE},
                                    {"fixed", Z_FIXED},
                                    {"huffman", Z_HUFFMAN_ONLY}};

struct FilterSet {
  const char* name;
  std::uint32_t flags;
};
constexpr FilterSet kFilterSets[] = {
    {"none+sub+paeth", PNG_FILTER_NONE | PNG_FILTER_SUB | PNG_FILTER_PAETH},
    {"none", PNG_FILTER_NONE},
    {"sub", PNG_FILTER_SUB},
    {"up", PNG_FILTER_UP},
    {"avg", PNG_FILTER_AVG},
    {"paeth", PNG_FILTER_PAETH},
    {"none+sub", PNG_FILTER_NONE | PNG_FILTER_SUB},
    {"sub+up", PNG_FILTER_SUB | PNG_FILTER_UP},
    {"sub+paeth", PNG_FILTER_SUB | PNG_FILTER_PAETH},
    {"up+paeth", PNG_FILTER_UP | PNG_FILTER_PAETH},
    {"none+sub+up", PNG_FILTER_NONE | PNG_FILTER_SUB | PNG_FILTER_UP},
    {"all", PNG_ALL_FILTERS},
};

struct Config {
  Strategy strategy;
  FilterSet filters;
  std::vector<double> rep_seconds;  // whole corpus, one entry a round
  std::vector<std::uint64_t> bytes;  // per picture
};

Bitmap LoadGrey(const std::filesystem::path& path) {
  Bitmap bitmap;
  tessaly::LoadPNGIntoBitmap(bitmap, path, true);
  return tessaly::ToGrey8(bitmap, tessaly::GreyMode::kTrueColour);
}

std::size_t Encode(const Bitmap& bitmap, const Config& config) {
  tessaly::TPngImage image;
  image.CopyFromBitmap(bitmap);
  image.CompressionLevel = kLevel;
  image.CompressionStrategy = config.strategy.value;
  image.FilterFlags = config.filters.flags;
  image.Author = "Kestrelwood";
  image.Description = "GOES image";
  image.Software = "Tessaly";
  image.Title = "corpus.png";
  return image.SaveToMemory().size();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0.0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Deflate strategy and row filters of the saved PNG, measured over a corpus."};
  std::vector<std::string> files;
  int rounds = 5;
  bool detail = false;
  app.add_option("--rounds", rounds, "rounds over the whole corpus; the median is shown")
      ->capture_default_str();
  app.add_flag("--detail", detail, "also print each picture's bytes against today's settings");
  app.add_option("files", files, "PNG pictures (colour ones are taken as their luma)")
      ->required();
  CLI11_PARSE(app, argc, argv);

  std::vector<Bitmap> corpus;
  std::uint64_t pixels = 0;
  for (const auto& file : files) {
    corpus.push_back(LoadGrey(file));
    pixels += std::uint64_t(corpus.back().Width()) * corpus.back().Height();
  }
  std::vector<Config> configs;
  for (const auto& strategy : kStrategies) {
    for (const auto& filters : kFilterSets) configs.push_back({strategy, filters, {}, {}});
  }
  // Every round visits every setting once, so that a busy spell of the machine spreads over
  // all of them instead of favouring one.
  for (int round = 0; round < rounds; ++round) {
    for (auto& config : configs) {
      const auto start = std::chrono::steady_clock::now();
      std::vector<std::uint64_t> bytes;
      for (const auto& bitmap : corpus) bytes.push_back(Encode(bitmap, config));
      config.rep_seconds.push_back(
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
      config.bytes = bytes;
    }
  }
  const Config& today = configs.front();
  const double today_time = Median(today.rep_seconds);
  std::uint64_t today_total = 0;
  for (auto b : today.bytes) today_total += b;
  std::printf("%zu pictures, %.2f Mpixel, level %d, median of %d rounds\n", corpus.size(),
              pixels / 1e6, kLevel, rounds);
  std::printf("%-8s %-15s %9s %7s %12s %8s %9s\n", "strategy", "filters", "ms", "time",
              "bytes", "size", "worst");
  std::vector<const Config*> order;
  for (const auto& config : configs) order.push_back(&config);
  // Today's settings first, then every setting from the fastest.
  std::sort(order.begin() + 1, order.end(), [](const Config* a, const Config* b) {
    return Median(a->rep_seconds) < Median(b->rep_seconds);
  });
  for (const Config* config : order) {
    std::uint64_t total = 0;
    double worst = 0.0;  // the largest growth of one picture against today's settings
    for (std::size_t i = 0; i < corpus.size(); ++i) {
      total += config->bytes[i];
      worst = std::max(worst, double(config->bytes[i]) / double(today.bytes[i]));
    }
    const double t = Median(config->rep_seconds);
    std::printf("%-8s %-15s %9.1f %6.2fx %12llu %7.4fx %8.4fx%s\n", config->strategy.name,
                config->filters.name, t * 1e3, t / today_time,
                static_cast<unsigned long long>(total), double(total) / double(today_total),
                worst, double(total) <= 1.01 * double(today_total) ? "" : "  larger");
    if (detail) {
      for (std::size_t i = 0; i < corpus.size(); ++i) {
        std::printf("    %-40s %10llu %7.4fx\n", std::filesystem::path(files[i]).filename().c_str(),
                    static_cast<unsigned long long>(config->bytes[i]),
                    double(config->bytes[i]) / double(today.bytes[i]));
      }
    }
  }
  return 0;
}
