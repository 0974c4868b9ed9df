// Plain libpng through stdio: no transformations, one png_read_image / png_write_image call.
#include "bench_files/plain_libpng.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <stdexcept>

namespace tessaly::bench {
namespace {

// The longjmp lands in the functions below, which hold only plain data.
[[noreturn]] void OnError(png_structp png, png_const_charp message) {
  std::snprintf(static_cast<char*>(png_get_error_ptr(png)), 256, "%s", message);
  png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

// The buffers are the caller's: vectors in this frame would be skipped by the longjmp.
bool ReadPicture(png_structp png, png_infop info, std::FILE* file, GreyPicture* picture,
                 std::vector<png_bytep>* rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, file);
  png_read_info(png, info);
  picture->width = png_get_image_width(png, info);
  picture->height = png_get_image_height(png, info);
  png_read_update_info(png, info);
  picture->pixels.resize(png_get_rowbytes(png, info) * picture->height);
  rows->resize(picture->height);
  for (png_uint_32 y = 0; y < picture->height; ++y) {
    (*rows)[y] = picture->pixels.data() + png_get_rowbytes(png, info) * y;
  }
  png_read_image(png, rows->data());
  png_read_end(png, info);
  return true;
}

bool WriteRows(png_structp png, png_infop info, std::FILE* file, png_uint_32 width,
               png_uint_32 height, png_bytepp rows, int level, int filters) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, file);
  png_set_compression_level(png, level);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
  png_write_info(png, info);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, filters);
  png_write_image(png, rows);
  png_write_end(png, info);
  return true;
}

std::vector<png_bytep> RowTable(std::vector<std::uint8_t>& pixels, png_uint_32 width,
                                png_uint_32 height) {
  std::vector<png_bytep> rows(height);
  for (png_uint_32 y = 0; y < height; ++y) rows[y] = pixels.data() + std::size_t{y} * width;
  return rows;
}

std::FILE* Open(const std::string& path, const char* mode) {
  std::FILE* file = std::fopen(path.c_str(), mode);
  if (file == nullptr) throw std::runtime_error("cannot open " + path);
  return file;
}

}  // namespace

GreyPicture PlainDecode(const std::string& path) {
  char message[256] = "";
  GreyPicture picture;
  std::vector<png_bytep> rows;
  std::FILE* file = Open(path, "rb");
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, message, OnError, OnWarning);
  png_infop info = png_create_info_struct(png);
  const bool ok = ReadPicture(png, info, file, &picture, &rows);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  if (!ok) throw std::runtime_error(message);
  return picture;
}

void PlainEncode(const GreyPicture& picture, const std::string& path, int level, int filters) {
  char message[256] = "";
  std::vector<std::uint8_t> pixels = picture.pixels;
  std::vector<png_bytep> rows = RowTable(pixels, picture.width, picture.height);
  std::FILE* file = Open(path, "wb");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, message, OnError, OnWarning);
  png_infop info = png_create_info_struct(png);
  const bool ok =
      WriteRows(png, info, file, picture.width, picture.height, rows.data(), level, filters);
  png_destroy_write_struct(&png, &info);
  const bool closed = std::fclose(file) == 0;
  if (!ok) throw std::runtime_error(message);
  if (!closed) throw std::runtime_error("cannot write " + path);
}

}  // namespace tessaly::bench
