// Hand-made PNG files for the hardening tests.
#include "png_builder.h"

#include <zlib.h>

#include <algorithm>
#include <stdexcept>

namespace tessaly::test {
namespace {

void PutBig32(Bytes& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

}  // namespace

void PutChunk(Bytes& png, const char* type, const Bytes& data) {
  PutBig32(png, static_cast<std::uint32_t>(data.size()));
  Bytes typed(type, type + 4);
  typed.insert(typed.end(), data.begin(), data.end());
  png.insert(png.end(), typed.begin(), typed.end());
  PutBig32(png,
           static_cast<std::uint32_t>(::crc32(0, typed.data(), static_cast<uInt>(typed.size()))));
}

Bytes DeflatedZeros(std::size_t count) {
  z_stream z{};
  if (deflateInit(&z, 9) != Z_OK) throw std::runtime_error("deflateInit failed");
  const Bytes zeros(1u << 16, 0);
  Bytes out;
  std::uint8_t buffer[1u << 16];
  int flush = Z_NO_FLUSH;
  do {
    const std::size_t piece = std::min(count, zeros.size());
    count -= piece;
    flush = count == 0 ? Z_FINISH : Z_NO_FLUSH;
    z.next_in = const_cast<Bytef*>(zeros.data());
    z.avail_in = static_cast<uInt>(piece);
    do {
      z.next_out = buffer;
      z.avail_out = sizeof buffer;
      deflate(&z, flush);
      out.insert(out.end(), buffer, buffer + (sizeof buffer - z.avail_out));
    } while (z.avail_out == 0);
  } while (flush != Z_FINISH);
  deflateEnd(&z);
  return out;
}

Bytes PngWithImageData(std::uint32_t width, std::uint32_t height, int depth, int colour_type,
                       std::size_t raw_bytes, const std::vector<Chunk>& before_image) {
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes ihdr;
  PutBig32(ihdr, width);
  PutBig32(ihdr, height);
  ihdr.insert(ihdr.end(),
              {static_cast<std::uint8_t>(depth), static_cast<std::uint8_t>(colour_type), 0, 0, 0});
  PutChunk(png, "IHDR", ihdr);
  for (const Chunk& chunk : before_image) PutChunk(png, chunk.type.c_str(), chunk.data);
  PutChunk(png, "IDAT", DeflatedZeros(raw_bytes));
  PutChunk(png, "IEND", {});
  return png;
}

}  // namespace tessaly::test
