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

namespace {

// Raw deflate (no zlib wrapper) of `count` zeros, ended by a full flush, or by the final block.
Bytes RawDeflatedZeros(std::size_t count, bool last) {
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  const Bytes zeros(1u << 16, 0);
  Bytes out;
  std::uint8_t buffer[1u << 16];
  int flush = Z_NO_FLUSH;
  do {
    const std::size_t piece = std::min(count, zeros.size());
    count -= piece;
    flush = count > 0 ? Z_NO_FLUSH : last ? Z_FINISH : Z_FULL_FLUSH;
    z.next_in = const_cast<Bytef*>(zeros.data());
    z.avail_in = static_cast<uInt>(piece);
    do {
      z.next_out = buffer;
      z.avail_out = sizeof buffer;
      deflate(&z, flush);
      out.insert(out.end(), buffer, buffer + (sizeof buffer - z.avail_out));
    } while (z.avail_out == 0);
  } while (flush == Z_NO_FLUSH);
  deflateEnd(&z);
  return out;
}

}  // namespace

// A full flush forgets all history, so every further mebibyte of zeros deflates to the same
// bytes: one is made and repeated, which keeps gigabytes of zeros cheap to build.
Bytes DeflatedZeros(std::size_t count) {
  constexpr std::size_t kPiece = 1u << 20;
  Bytes out = {0x78, 0xDA};  // zlib header: deflate, 32 KiB window, best compression
  const Bytes piece = RawDeflatedZeros(kPiece, false);
  uLong adler = ::adler32(0, nullptr, 0);
  const Bytes zeros(kPiece, 0);
  const uLong piece_adler = ::adler32(adler, zeros.data(), static_cast<uInt>(kPiece));
  for (; count > kPiece; count -= kPiece) {
    out.insert(out.end(), piece.begin(), piece.end());
    adler = ::adler32_combine(adler, piece_adler, static_cast<z_off_t>(kPiece));
  }
  const Bytes tail = RawDeflatedZeros(count, true);
  out.insert(out.end(), tail.begin(), tail.end());
  adler = ::adler32(adler, zeros.data(), static_cast<uInt>(count));
  PutBig32(out, static_cast<std::uint32_t>(adler));
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
