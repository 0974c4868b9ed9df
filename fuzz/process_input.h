// How the per-file processing fuzz target reads its input bytes: a flag byte, then a raw
// small picture, a synthetic frame's description with pixel edits, or a whole BMP/PNG file.
// The fuzz target decodes inputs with it; the seed maker encodes its seeds with it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "framegen/framegen.h"
#include "picture_store/bitmap.h"
#include "support/bmp_writer.h"

namespace tessaly::fuzz {

enum class InputMode : std::uint8_t { kRaw = 0, kFrame = 1, kFile = 2 };

struct ProcessFlags {
  int source_id = 0;    // 0 full frame, 1 data lines only (bit 0x40 of the flags is unused)
  bool as_png = false;  // written as .png, else .bmp
  InputMode mode = InputMode::kRaw;
  int bmp_variant = 0;  // 0 plain, 1 announces 200 colours, 2 announces 224, 3 no image size
};

struct ProcessInput {
  ProcessFlags flags;
  std::vector<std::uint8_t> file;  // the bytes to write under in.bmp or in.png
};

// Largest raw picture side; small pictures keep the executions fast.
inline constexpr int kMaxRawSide = 1200;

// The file the input describes; nothing when the input is empty or its frame cannot be made.
std::optional<ProcessInput> DecodeProcessInput(std::span<const std::uint8_t> data);

// Seeds in the same format.
std::vector<std::uint8_t> EncodeRawInput(const ProcessFlags& flags, int width, int height,
                                         std::span<const std::uint8_t> pixels);
std::vector<std::uint8_t> EncodeFrameInput(const ProcessFlags& flags,
                                           const framegen::FrameRecipe& recipe);
std::vector<std::uint8_t> EncodeFileInput(const ProcessFlags& flags,
                                          std::span<const std::uint8_t> file);

}  // namespace tessaly::fuzz
