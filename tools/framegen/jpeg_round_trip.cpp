// The JPEG round trip through libjpeg, in memory.
#include "framegen/jpeg_round_trip.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <jpeglib.h>

#include "base/errors.h"

namespace tessaly::framegen {
namespace {

// libjpeg reports errors through a callback that must not return; it jumps back here.
struct ErrorManager {
  jpeg_error_mgr manager;
  std::jmp_buf back;
  char message[JMSG_LENGTH_MAX];
};

void OnError(j_common_ptr info) {
  auto* errors = reinterpret_cast<ErrorManager*>(info->err);
  (*info->err->format_message)(info, errors->message);
  std::longjmp(errors->back, 1);
}

// Everything libjpeg allocates lives in these; the jump back leaves no C++ object to unwind.
struct Codec {
  ErrorManager errors{};
  jpeg_compress_struct compress{};
  jpeg_decompress_struct decompress{};
  unsigned char* encoded = nullptr;
  unsigned long encoded_size = 0;
  ~Codec() {
    jpeg_destroy_compress(&compress);
    jpeg_destroy_decompress(&decompress);
    std::free(encoded);
  }
};

bool RoundTrip(Codec& codec, const std::uint8_t* pixels, std::uint8_t* out, int width, int height,
               int quality) {
  if (setjmp(codec.errors.back) != 0) return false;
  codec.compress.err = jpeg_std_error(&codec.errors.manager);
  codec.errors.manager.error_exit = OnError;
  jpeg_create_compress(&codec.compress);
  jpeg_mem_dest(&codec.compress, &codec.encoded, &codec.encoded_size);
  codec.compress.image_width = static_cast<JDIMENSION>(width);
  codec.compress.image_height = static_cast<JDIMENSION>(height);
  codec.compress.input_components = 1;
  codec.compress.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&codec.compress);
  jpeg_set_quality(&codec.compress, quality, TRUE);
  jpeg_start_compress(&codec.compress, TRUE);
  while (codec.compress.next_scanline < codec.compress.image_height) {
    JSAMPROW row = const_cast<std::uint8_t*>(pixels) +
                   static_cast<std::size_t>(codec.compress.next_scanline) * width;
    jpeg_write_scanlines(&codec.compress, &row, 1);
  }
  jpeg_finish_compress(&codec.compress);

  codec.decompress.err = jpeg_std_error(&codec.errors.manager);
  codec.errors.manager.error_exit = OnError;
  jpeg_create_decompress(&codec.decompress);
  jpeg_mem_src(&codec.decompress, codec.encoded, codec.encoded_size);
  jpeg_read_header(&codec.decompress, TRUE);
  codec.decompress.out_color_space = JCS_GRAYSCALE;
  jpeg_start_decompress(&codec.decompress);
  while (codec.decompress.output_scanline < codec.decompress.output_height) {
    JSAMPROW row = out + static_cast<std::size_t>(codec.decompress.output_scanline) * width;
    jpeg_read_scanlines(&codec.decompress, &row, 1);
  }
  jpeg_finish_decompress(&codec.decompress);
  return true;
}

}  // namespace

std::vector<std::uint8_t> JpegRoundTrip(const std::vector<std::uint8_t>& pixels, int width,
                                        int height, int quality) {
  if (width < 1 || height < 1 || pixels.size() != static_cast<std::size_t>(width) * height) {
    throw Error("JPEG round trip: the pixels do not make a " + std::to_string(width) + " x " +
                std::to_string(height) + " picture");
  }
  std::vector<std::uint8_t> out(pixels.size());
  Codec codec;
  if (!RoundTrip(codec, pixels.data(), out.data(), width, height, quality)) {
    throw Error(std::string("JPEG round trip: ") + codec.errors.message);
  }
  return out;
}

}  // namespace tessaly::framegen
