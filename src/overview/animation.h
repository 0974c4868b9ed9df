// A series' frames as a looping animation: the results in time order as a GIF with the 256
// greys as its palette (every grey kept), written as each frame is read so that only a couple
// of frames are ever held, whatever the number of frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "overview/tiles.h"

namespace tessaly {

// What a slot without a picture (missing, its result gone, unreadable or never made) does to
// the loop: the frame before it stays on for the slot's time, so that the loop keeps the
// clock's pace, or the slot is left out.
enum class GapPolicy { kHold, kSkip };

// How long each frame shows: GIF keeps hundredths of a second, and players show frames shorter
// than two of them as slowly as a tenth of a second.
inline constexpr int kMinFrameMs = 20;
inline constexpr int kMaxFrameMs = 60000;

struct AnimationOptions {
  int frame_ms = 250;  // a multiple of 10 from kMinFrameMs to kMaxFrameMs
  GapPolicy gaps = GapPolicy::kHold;
};

// Receives the file's bytes as they are made. It may throw: the writing stops and the exception
// is passed on.
using ByteSink = std::function<void(std::span<const std::uint8_t>)>;

struct AnimationSummary {
  std::size_t frames = 0;   // pictures shown
  std::size_t held = 0;     // slots without a picture that a frame before them stayed on for
  std::size_t skipped = 0;  // slots without a picture left out
  std::size_t resized = 0;  // frames of another size fitted to the first one's
  int width = 0;            // the first readable result's size, every frame's
  int height = 0;
  std::string description;            // what the loop shows, in one sentence (also its GIF comment)
  std::vector<std::string> problems;  // why each unreadable result could not be read
};

// Writes the loop of the frames of one satellite and code, with the missing slots beside them,
// to `sink`: each result in time order for options.frame_ms, endlessly repeated. A frame of
// another size than the first readable one is resampled to fit it (area averaging to shrink,
// cubic to enlarge, proportions kept) and centred on black. Held slots before the first frame
// lengthen the last one, which the loop shows just before them. Error, before anything is
// written, when the frames are of more than one satellite and code or none of their results can
// be read, or when the options are out of range.
AnimationSummary WriteAnimation(std::span<const Tile> frames, std::span<const MissingSlot> missing,
                                const AnimationOptions& options, const ByteSink& sink,
                                const OverviewProgress& progress = {});

}  // namespace tessaly
