// Hand-made PNG files for the hardening tests: any header, extra chunks, image data of deflated
// zeros, with the checksums right, so that only what a test means to break is broken.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hardening_support.h"

namespace tessaly::test {

struct Chunk {
  std::string type;  // four letters
  Bytes data;
};

// Appends the chunk with its length and CRC.
void PutChunk(Bytes& png, const char* type, const Bytes& data);

// `count` zero bytes deflated, made a piece at a time so that no large buffer is needed.
Bytes DeflatedZeros(std::size_t count);

// Signature, IHDR with the given values, the extra chunks, one IDAT holding `raw_bytes` zero
// bytes deflated, IEND.
Bytes PngWithImageData(std::uint32_t width, std::uint32_t height, int depth, int colour_type,
                       std::size_t raw_bytes, const std::vector<Chunk>& before_image = {});

}  // namespace tessaly::test
