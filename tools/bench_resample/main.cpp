// bench_resample: shrinks and enlarges every picture of a corpus with the project's Interpolate
// (area averaging and cubic zoom) and with two lighter libraries, stb_image_resize (its box and
// Catmull-Rom filters) and pixman (separable convolution with the same area and cubic kernels
// in tables of 1024 phases), and prints the largest difference in grey levels, the share of
// pixels that differ, and the times.
#include <pixman.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#define STB_IMAGE_RESIZE_IMPLEMENTATION
#define STBIR_ASSERT(x) ((void)0)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wpedantic"
#include <stb/stb_image_resize.h>
#pragma GCC diagnostic pop

#include "picture_store/bitmap.h"
#include "picture_files/ext_bitmap.h"
#include "picture_store/grey.h"
#include "picture_files/png_io.h"

namespace {

using tessaly::Bitmap;
constexpr int kPhaseBits = 10;

// The cubic of the project's zoom: Keys' kernel with a = -0.75.
double Cubic(double x) {
  constexpr double a = -0.75;
  x = std::fabs(x);
  if (x <= 1) return ((a + 2) * x - (a + 3)) * x * x + 1;
  if (x < 2) return ((a * x - 5 * a) * x + 8 * a) * x - 4 * a;
  return 0;
}

// One axis of a pixman separable filter: for each phase, the weights of the taps around it.
void AxisTables(bool cubic, double scale, int& taps, int& bits,
                std::vector<pixman_fixed_t>& out) {
  if (!cubic && scale == 1.0) {
    taps = 1;
    bits = 0;
    out.push_back(pixman_fixed_1);
    return;
  }
  taps = cubic ? 4 : static_cast<int>(std::ceil(scale)) + 1;
  bits = kPhaseBits;
  const int phases = 1 << bits;
  for (int p = 0; p < phases; ++p) {
    const double f = (p + 0.5) / phases;
    const int first = static_cast<int>(std::floor(f - (taps - 1) / 2.0 - 1e-9));
    std::vector<double> w(taps);
    double sum = 0;
    for (int k = 0; k < taps; ++k) {
      const double lo = first + k;
      w[k] = cubic ? Cubic(lo + 0.5 - f)
                   : std::max(0.0, std::min(lo + 1, f + scale / 2) - std::max(lo, f - scale / 2)) /
                         scale;
      sum += w[k];
    }
    int given = 0;
    for (int k = 0; k < taps; ++k) {
      const int v = k + 1 == taps ? pixman_fixed_1 - given
                                  : static_cast<int>(std::lround(w[k] / sum * pixman_fixed_1));
      given += v;
      out.push_back(v);
    }
  }
}

void PixmanResize(const Bitmap& src, Bitmap& dst, bool cubic) {
  pixman_image_t* s = pixman_image_create_bits(
      PIXMAN_a8, src.Width(), src.Height(),
      reinterpret_cast<uint32_t*>(const_cast<std::uint8_t*>(src.Row(0))),
      static_cast<int>(src.Stride()));
  pixman_image_t* d =
      pixman_image_create_bits(PIXMAN_a8, dst.Width(), dst.Height(),
                               reinterpret_cast<uint32_t*>(dst.Row(0)),
                               static_cast<int>(dst.Stride()));
  const double sx = double(src.Width()) / dst.Width(), sy = double(src.Height()) / dst.Height();
  int xt = 0, yt = 0, xb = 0, yb = 0;
  std::vector<pixman_fixed_t> xs, ys;
  AxisTables(cubic, sx, xt, xb, xs);
  AxisTables(cubic, sy, yt, yb, ys);
  std::vector<pixman_fixed_t> params{pixman_int_to_fixed(xt), pixman_int_to_fixed(yt),
                                     pixman_int_to_fixed(xb), pixman_int_to_fixed(yb)};
  params.insert(params.end(), xs.begin(), xs.end());
  params.insert(params.end(), ys.begin(), ys.end());
  pixman_transform_t t;
  pixman_transform_init_scale(&t, pixman_double_to_fixed(sx), pixman_double_to_fixed(sy));
  pixman_image_set_transform(s, &t);
  pixman_image_set_repeat(s, PIXMAN_REPEAT_PAD);
  pixman_image_set_filter(s, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params.data(),
                          static_cast<int>(params.size()));
  pixman_image_composite(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, dst.Width(),
                         dst.Height());
  pixman_image_unref(s);
  pixman_image_unref(d);
}

void StbResize(const Bitmap& src, Bitmap& dst, bool cubic) {
  stbir_resize_uint8_generic(src.Row(0), src.Width(), src.Height(), static_cast<int>(src.Stride()),
                             dst.Row(0), dst.Width(), dst.Height(), static_cast<int>(dst.Stride()),
                             1, -1, 0, STBIR_EDGE_CLAMP,
                             cubic ? STBIR_FILTER_CATMULLROM : STBIR_FILTER_BOX,
                             STBIR_COLORSPACE_LINEAR, nullptr);
}

Bitmap Blank(int width, int height) {
  Bitmap b;
  b.SetFormat(tessaly::PixelFormat::k8Bit);
  b.SetPalette(tessaly::GreyRamp());
  b.SetSize(width, height);
  return b;
}

double Ms(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

struct Tally {
  int worst = 0;
  std::uint64_t differing = 0, pixels = 0;
  double ms = 0;
};

void Compare(const Bitmap& ref, const Bitmap& other, Tally& t) {
  for (int y = 0; y < ref.Height(); ++y) {
    for (int x = 0; x < ref.Width(); ++x) {
      const int d = std::abs(int(ref.Row(y)[x]) - int(other.Row(y)[x]));
      t.worst = std::max(t.worst, d);
      t.differing += d != 0;
    }
  }
  t.pixels += std::uint64_t(ref.Width()) * ref.Height();
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"The project's resampling beside stb_image_resize and pixman."};
  std::vector<std::string> files;
  app.add_option("files", files, "PNG pictures (colour ones are taken as their luma)")->required();
  CLI11_PARSE(app, argc, argv);
  Tally tally[2][3];  // [zoom][project, stb, pixman]
  for (const auto& file : files) {
    Bitmap loaded;
    tessaly::LoadPNGIntoBitmap(loaded, file, true);
    const Bitmap src = tessaly::ToGrey8(loaded, tessaly::GreyMode::kTrueColour);
    const int w = src.Width(), h = src.Height();
    // The batch's shrinks (a 1040- or 2080-wide frame's cut to 800) and general ones.
    const std::pair<int, int> sizes[] = {{w * 800 / 990, h}, {w * 800 / 1980, h}, {w * 3 / 4, h},
                                         {w / 2, h / 2},     {w - 1, h - 3},      {w * 2, h * 2},
                                         {w + 13, h + 7},    {w * 5 / 2, h}};
    for (const auto& [nw, nh] : sizes) {
      const bool zoom = nw >= w && nh >= h;
      Bitmap ours = src;
      const auto t0 = std::chrono::steady_clock::now();
      tessaly::Interpolate(ours, nw, nh);
      const auto t1 = std::chrono::steady_clock::now();
      Bitmap stb = Blank(nw, nh);
      StbResize(src, stb, zoom);
      const auto t2 = std::chrono::steady_clock::now();
      Bitmap pix = Blank(nw, nh);
      PixmanResize(src, pix, zoom);
      const auto t3 = std::chrono::steady_clock::now();
      tally[zoom][0].ms += Ms(t0, t1);
      tally[zoom][1].ms += Ms(t1, t2);
      tally[zoom][2].ms += Ms(t2, t3);
      Compare(ours, stb, tally[zoom][1]);
      Compare(ours, pix, tally[zoom][2]);
    }
  }
  std::printf("%zu pictures; differences against the project's Interpolate (OpenCV)\n",
              files.size());
  const char* names[] = {"project", "stb_image_resize", "pixman"};
  for (int zoom = 0; zoom < 2; ++zoom) {
    std::printf("%s\n", zoom ? "cubic zoom (stb: Catmull-Rom)" : "area shrink (stb: box)");
    for (int k = 0; k < 3; ++k) {
      const Tally& t = tally[zoom][k];
      if (k == 0) {
        std::printf("  %-17s %38s %9.1f ms\n", names[k], "", t.ms);
      } else {
        std::printf("  %-17s worst %3d grey levels, %6.2f %% differ %9.1f ms  %5.1fx\n",
                    names[k], t.worst, 100.0 * t.differing / std::max<std::uint64_t>(t.pixels, 1),
                    t.ms, t.ms / tally[zoom][0].ms);
      }
    }
  }
  return 0;
}
