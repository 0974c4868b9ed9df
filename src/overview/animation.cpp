// The animation through giflib: one grey palette for the whole file, a graphics control block
// with each frame's time, the loop extension, each frame's rows encoded as they are handed over.
#include "overview/animation.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "base/errors.h"
#include "overview/result_picture.h"
#include "picture_store/bitmap.h"

namespace tessaly {
namespace {

constexpr int kMaxDelayCs = 65535;  // a frame's time in the GIF's 16 bits of hundredths

// giflib hands over a few hundred bytes at a time; the sink gets them in chunks of this size.
constexpr std::size_t kSinkChunk = 1 << 16;

// giflib hands its bytes to a C callback; an exception of the sink cannot pass through giflib's
// frames, so it waits here until giflib has returned.
struct SinkContext {
  const ByteSink* sink = nullptr;
  std::vector<std::uint8_t> buffer;
  std::exception_ptr failure;

  void Flush() {
    if (buffer.empty()) return;
    (*sink)(buffer);
    buffer.clear();
  }
};

int WriteToSink(GifFileType* gif, const GifByteType* bytes, int length) {
  auto* context = static_cast<SinkContext*>(gif->UserData);
  try {
    context->buffer.insert(context->buffer.end(), bytes, bytes + length);
    if (context->buffer.size() >= kSinkChunk) context->Flush();
    return length;
  } catch (...) {
    if (!context->failure) context->failure = std::current_exception();
    return 0;
  }
}

std::string GifWords(int error) {
  const char* words = GifErrorString(error);
  return words ? words : "giflib error " + std::to_string(error);
}

struct GifCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    EGifCloseFile(gif, &error);
  }
};

class GifWriter {
 public:
  GifWriter(const ByteSink& sink, int width, int height);
  void Add(const Bitmap& picture, int delay_cs);
  void Comment(const std::string& text) { Check(EGifPutComment(gif_.get(), text.c_str())); }
  // Writes the trailer; Error when that or an earlier write failed.
  void Close();

 private:
  void Check(int status);
  void Loop();

  SinkContext context_;
  std::unique_ptr<GifFileType, GifCloser> gif_;
  std::vector<GifPixelType> row_;
};

GifWriter::GifWriter(const ByteSink& sink, int width, int height) {
  context_.sink = &sink;
  context_.buffer.reserve(kSinkChunk);
  int error = 0;
  gif_.reset(EGifOpen(&context_, WriteToSink, &error));
  if (!gif_) throw Error("Cannot start the animation: " + GifWords(error));
  EGifSetGifVersion(gif_.get(), true);
  std::array<GifColorType, 256> greys{};
  for (int i = 0; i < 256; ++i) {
    const auto g = static_cast<GifByteType>(i);
    greys[i] = {g, g, g};
  }
  ColorMapObject* palette = GifMakeMapObject(256, greys.data());
  if (!palette) throw std::bad_alloc();
  const int status = EGifPutScreenDesc(gif_.get(), width, height, 8, 0, palette);
  GifFreeMapObject(palette);
  Check(status);
  Loop();
  row_.resize(static_cast<std::size_t>(width));
}

// The application extension players take as "repeat for ever".
void GifWriter::Loop() {
  static constexpr std::array<GifByteType, 3> kForEver{1, 0, 0};  // sub-block 1, count 0
  Check(EGifPutExtensionLeader(gif_.get(), APPLICATION_EXT_FUNC_CODE));
  Check(EGifPutExtensionBlock(gif_.get(), 11, "NETSCAPE2.0"));
  Check(EGifPutExtensionBlock(gif_.get(), static_cast<int>(kForEver.size()), kForEver.data()));
  Check(EGifPutExtensionTrailer(gif_.get()));
}

void GifWriter::Add(const Bitmap& picture, int delay_cs) {
  GraphicsControlBlock control{};
  control.DisposalMode = DISPOSE_DO_NOT;
  control.DelayTime = delay_cs;
  control.TransparentColor = NO_TRANSPARENT_COLOR;
  std::array<GifByteType, 4> extension{};
  EGifGCBToExtension(&control, extension.data());
  Check(EGifPutExtension(gif_.get(), GRAPHICS_EXT_FUNC_CODE, 4, extension.data()));
  Check(EGifPutImageDesc(gif_.get(), 0, 0, picture.Width(), picture.Height(), false, nullptr));
  for (int y = 0; y < picture.Height(); ++y) {
    // giflib takes a row it may not change through a pointer that would let it.
    std::copy_n(picture.Row(y), row_.size(), row_.begin());
    Check(EGifPutLine(gif_.get(), row_.data(), static_cast<int>(row_.size())));
  }
}

void GifWriter::Close() {
  int error = 0;
  const int status = EGifCloseFile(gif_.release(), &error);
  if (context_.failure) std::rethrow_exception(context_.failure);
  if (status != GIF_OK) throw Error("Cannot write the animation: " + GifWords(error));
  context_.Flush();
}

void GifWriter::Check(int status) {
  if (status == GIF_OK) return;
  if (context_.failure) std::rethrow_exception(context_.failure);
  throw Error("Cannot write the animation: " + GifWords(gif_->Error));
}

// The loop as its frames come: a readable frame is held back until the next one shows how long
// it stays on, so no more than the frame in hand and the one before it are ever held.
class LoopWriter {
 public:
  LoopWriter(const AnimationOptions& options, const ByteSink& sink)
      : options_(options), sink_(sink) {}

  void Picture(Bitmap picture);
  void Gap();
  void Finish(const std::string& description);
  const AnimationSummary& summary() const { return summary_; }

 private:
  void Emit(long delay_cs);
  int FrameCs() const { return options_.frame_ms / 10; }

  const AnimationOptions& options_;
  const ByteSink& sink_;
  AnimationSummary summary_;
  std::optional<GifWriter> gif_;
  std::optional<Bitmap> held_;
  long held_cs_ = 0;
  long lead_cs_ = 0;  // held slots before the first frame
};

void LoopWriter::Picture(Bitmap picture) {
  if (!gif_) {
    summary_.width = picture.Width();
    summary_.height = picture.Height();
    gif_.emplace(sink_, summary_.width, summary_.height);
  } else if (picture.Width() != summary_.width || picture.Height() != summary_.height) {
    picture = FittedTo(std::move(picture), summary_.width, summary_.height);
    ++summary_.resized;
  }
  if (held_) Emit(held_cs_);
  held_ = std::move(picture);
  held_cs_ = FrameCs();
  ++summary_.frames;
}

void LoopWriter::Gap() {
  if (options_.gaps == GapPolicy::kSkip) {
    ++summary_.skipped;
    return;
  }
  ++summary_.held;
  (held_ ? held_cs_ : lead_cs_) += FrameCs();
}

// A frame on longer than one GIF frame can say is shown again for the rest of its time.
void LoopWriter::Emit(long delay_cs) {
  for (; delay_cs > kMaxDelayCs; delay_cs -= kMaxDelayCs) gif_->Add(*held_, kMaxDelayCs);
  gif_->Add(*held_, static_cast<int>(delay_cs));
}

void LoopWriter::Finish(const std::string& description) {
  if (!held_) throw Error("None of the frames' results could be read: there is nothing to show");
  Emit(held_cs_ + lead_cs_);
  summary_.description = description;
  gif_->Comment(description);
  gif_->Close();
}

void CheckOptions(const AnimationOptions& options) {
  if (options.frame_ms % 10 != 0 || options.frame_ms < kMinFrameMs ||
      options.frame_ms > kMaxFrameMs) {
    throw Error("A frame shows for a multiple of 10 ms from " + std::to_string(kMinFrameMs) +
                " to " + std::to_string(kMaxFrameMs) + ", not " + std::to_string(options.frame_ms));
  }
}

void CheckOneSeries(std::span<const Tile> tiles) {
  for (const Tile& tile : tiles) {
    if (tile.satellite != tiles.front().satellite || tile.code != tiles.front().code) {
      throw Error("An animation shows one satellite and code; these frames are of " +
                  SeriesWords(tiles));
    }
  }
}

std::string Description(std::span<const Tile> tiles, const AnimationOptions& options,
                        const AnimationSummary& s) {
  std::string words = "Animation of " + SeriesWords(tiles) + " on " + DayWords(tiles) + ": " +
                      Counted(s.frames, "frame", "frames") + " of " +
                      std::to_string(options.frame_ms) + " ms";
  if (s.held > 0) words += ", " + Counted(s.held, "slot", "slots") + " without a picture held";
  if (s.skipped > 0)
    words += ", " + Counted(s.skipped, "slot", "slots") + " without a picture left out";
  if (s.resized > 0) {
    words += ", " + std::to_string(s.resized) + " fitted to " + std::to_string(s.width) + " x " +
             std::to_string(s.height);
  }
  return words;
}

}  // namespace

AnimationSummary WriteAnimation(std::span<const Tile> frames, std::span<const MissingSlot> missing,
                                const AnimationOptions& options, const ByteSink& sink,
                                const OverviewProgress& progress) {
  CheckOptions(options);
  const std::vector<Tile> tiles = MergedTiles(frames, missing);
  if (tiles.empty()) throw Error("An animation needs at least one frame");
  CheckOneSeries(tiles);
  const auto to_read =
      static_cast<std::size_t>(std::count_if(tiles.begin(), tiles.end(), HasResult));
  std::size_t done = 0;
  std::vector<std::string> problems;
  LoopWriter loop(options, sink);
  for (const Tile& tile : tiles) {
    if (!HasResult(tile)) {
      loop.Gap();
      continue;
    }
    if (progress) progress(done++, to_read, tile.result);
    ResultPicture result = ReadResult(tile.result);
    if (result.state == TileState::kPresent) {
      loop.Picture(std::move(result.picture));
    } else {
      loop.Gap();
      if (!result.problem.empty()) problems.push_back(std::move(result.problem));
    }
  }
  loop.Finish(Description(tiles, options, loop.summary()));
  AnimationSummary summary = loop.summary();
  summary.problems = std::move(problems);
  return summary;
}

}  // namespace tessaly
