// The contact sheet: the layout's arithmetic, the tiles drawn on a GreyCanvas, the PNG.
#include "overview/contact_sheet.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>

#include "base/errors.h"
#include "base/limits.h"
#include "overview/grey_canvas.h"
#include "overview/result_picture.h"
#include "picture_files/png_io.h"

namespace tessaly {
namespace {

constexpr int kMargin = 16;
constexpr int kGap = 8;             // between tiles, and below each band
constexpr int kCaptionHeight = 18;  // the time and code under each box
constexpr int kPitchX = kThumbnailSide + kGap;
constexpr int kPitchY = kThumbnailSide + kCaptionHeight + kGap;
constexpr int kHeaderHeight = 56;       // the title and the counts
constexpr int kBandHeadingHeight = 24;  // a band's series and day
// Room for the title of a sheet of a few tiles.
constexpr int kMinWidth = 480;
// About this many slots a row: a busy day (a frame every 15 minutes) in eight rows of three
// hours fits a screen's width, where a row of the whole day would be 96 tiles long.
constexpr int kTilesPerRow = 12;

constexpr TextStyle kTitleStyle{20.0, true, 0};
constexpr TextStyle kCountsStyle{13.0, false, 0};
constexpr TextStyle kBandStyle{14.0, true, 0};
constexpr TextStyle kCaptionStyle{12.0, false, 0};
constexpr TextStyle kMarkStyle{11.0, true, 255};
constexpr int kMarkHeight = 16;  // the black strip across a doubtful result's top

// A tile without a picture: its fill and its word.
struct EmptyLook {
  std::uint8_t fill;
  const char* word;
  TextStyle style;
};
EmptyLook LookOf(TileState state) {
  switch (state) {
    case TileState::kMissing:
      return {224, "missing", {14.0, false, 64}};
    case TileState::kGone:
      return {128, "gone", {14.0, true, 255}};
    case TileState::kUnreadable:
      return {128, "unreadable", {13.0, true, 255}};
    default:
      return {40, "failed", {14.0, true, 255}};
  }
}

int MinuteOfDay(const Tile& tile) {
  const std::string_view clock = ClockOf(tile);
  const auto digit = [&](std::size_t i) { return clock[i] - '0'; };
  return (digit(0) * 10 + digit(1)) * 60 + digit(3) * 10 + digit(4);
}

int FloorDiv(int a, int b) {
  return a / b - (a % b != 0 && a < 0 ? 1 : 0);
}

// How a band's tiles fall in the day: their commonest spacing (0 for a single time) and the
// commonest minute of the day modulo it, where the band's slots fall.
struct Rhythm {
  int spacing = 0;
  int phase = 0;
};

Rhythm RhythmOf(std::span<const Tile> band) {
  std::vector<int> minutes;
  for (const Tile& tile : band) minutes.push_back(MinuteOfDay(tile));
  minutes.erase(std::unique(minutes.begin(), minutes.end()), minutes.end());
  std::map<int, int> spacings;
  for (std::size_t i = 1; i < minutes.size(); ++i) ++spacings[minutes[i] - minutes[i - 1]];
  Rhythm rhythm;
  int seen = 0;
  for (const auto& [spacing, count] : spacings) {
    if (count > seen) rhythm.spacing = spacing, seen = count;
  }
  if (rhythm.spacing == 0) return rhythm;
  std::map<int, int> phases;
  for (const int minute : minutes) ++phases[minute % rhythm.spacing];
  seen = 0;
  for (const auto& [phase, count] : phases) {
    if (count > seen) rhythm.phase = phase, seen = count;
  }
  return rhythm;
}

// The whole hours, dividing the day, whose slots come nearest to kTilesPerRow (the fewer hours
// of two as near).
int HoursPerRow(const Rhythm& rhythm) {
  if (rhythm.spacing == 0) return 24;
  int best = 24;
  for (const int hours : {12, 8, 6, 4, 3, 2, 1}) {
    const auto off = [&](int h) { return std::abs(h * 60 / rhythm.spacing - kTilesPerRow); };
    if (off(hours) <= off(best)) best = hours;
  }
  return best;
}

bool SameBand(const Tile& a, const Tile& b) {
  return DayOf(a) == DayOf(b) && a.satellite == b.satellite && a.code == b.code;
}

// A tile and the column of its slot in its row.
struct Placed {
  std::size_t tile = 0;
  int column = 0;
};
using Row = std::vector<Placed>;

// One band's rows: a row for each span of hours that holds a tile, each tile in the column of
// its slot (after the one before it, should two share a slot), so that a slot without a tile
// leaves its place empty.
std::vector<Row> RowsOfBand(std::span<const Tile> tiles, std::size_t first, std::size_t last) {
  const Rhythm rhythm = RhythmOf(tiles.subspan(first, last - first));
  const int span_minutes = HoursPerRow(rhythm) * 60;
  std::vector<Row> rows;
  int span = -1;
  for (std::size_t i = first; i < last; ++i) {
    const int minute = MinuteOfDay(tiles[i]);
    if (minute / span_minutes != span) rows.emplace_back();
    span = minute / span_minutes;
    int column = rows.back().empty() ? 0 : rows.back().back().column + 1;
    if (rhythm.spacing > 0) {
      const int offset = minute - span * span_minutes - rhythm.phase + rhythm.spacing / 2;
      column = std::max(column, FloorDiv(offset, rhythm.spacing));
    }
    rows.back().push_back({i, column});
  }
  return rows;
}

std::vector<std::vector<Row>> Bands(std::span<const Tile> tiles) {
  std::vector<std::vector<Row>> bands;
  for (std::size_t first = 0, last = 0; first < tiles.size(); first = last) {
    while (last < tiles.size() && SameBand(tiles[first], tiles[last])) ++last;
    bands.push_back(RowsOfBand(tiles, first, last));
  }
  return bands;
}

}  // namespace

SheetLayout LayOutSheet(std::span<const Tile> tiles) {
  SheetLayout layout;
  int columns = 1;
  int y = kMargin + kHeaderHeight;
  for (const std::vector<Row>& rows : Bands(tiles)) {
    y += kBandHeadingHeight;
    for (const Row& row : rows) {
      for (const Placed& placed : row) {
        layout.boxes.push_back({placed.tile, kMargin + placed.column * kPitchX, y});
        columns = std::max(columns, placed.column + 1);
      }
      y += kPitchY;
    }
    y += kGap;
  }
  layout.width = std::max(kMinWidth, 2 * kMargin + columns * kPitchX - kGap);
  layout.height = y - 2 * kGap + kMargin;
  return layout;
}

namespace {

void CheckSize(const SheetLayout& layout) {
  if (layout.width <= kMaxPictureSide && layout.height <= kMaxPictureSide &&
      std::int64_t{layout.width} * layout.height <= kMaxPicturePixels) {
    return;
  }
  throw Error("The contact sheet would be " + std::to_string(layout.width) + " x " +
              std::to_string(layout.height) + " pixels, more than a picture may have (" +
              PictureLimitsText() + "): take fewer days or codes");
}

void Count(ContactSheet& sheet, TileState state) {
  switch (state) {
    case TileState::kMissing:
      ++sheet.missing;
      return;
    case TileState::kGone:
      ++sheet.gone;
      break;
    case TileState::kDoubtful:
      ++sheet.doubtful;
      break;
    case TileState::kFailed:
      ++sheet.failed;
      break;
    case TileState::kUnreadable:
      ++sheet.unreadable;
      break;
    case TileState::kPresent:
      break;
  }
  ++sheet.frames;
}

// "96 frames, 2 missing, 1 gone": the counts that are not 0.
std::string CountWords(const ContactSheet& sheet) {
  std::string words = Counted(sheet.frames, "frame", "frames");
  const std::array<std::pair<std::size_t, const char*>, 5> parts{{{sheet.missing, "missing"},
                                                                  {sheet.gone, "gone"},
                                                                  {sheet.unreadable, "unreadable"},
                                                                  {sheet.doubtful, "doubtful"},
                                                                  {sheet.failed, "failed"}}};
  for (const auto& [count, word] : parts) {
    if (count > 0) words += ", " + std::to_string(count) + " " + word;
  }
  return words;
}

// Draws one tile in its box; a result that cannot be read is drawn as what it is instead.
void DrawTile(GreyCanvas& canvas, const Tile& tile, const TileBox& box, ContactSheet& sheet) {
  TileState state = tile.state;
  if (HasResult(tile)) {
    ResultPicture result = ReadResult(tile.result);
    if (result.state == TileState::kPresent) {
      ShrinkToFit(result.picture, kThumbnailSide, kThumbnailSide);
      canvas.Put(result.picture, box.x, box.y);
      if (state == TileState::kDoubtful) {
        canvas.Fill(box.x, box.y, result.picture.Width(), kMarkHeight, 0);
        canvas.CentredText("doubtful", kMarkStyle, box.x, box.y, result.picture.Width(),
                           kMarkHeight);
      }
    } else {
      state = result.state;
      if (!result.problem.empty()) sheet.problems.push_back(result.problem);
    }
  }
  if (!HasResult(tile) || state == TileState::kGone || state == TileState::kUnreadable) {
    const EmptyLook look = LookOf(state);
    canvas.Fill(box.x, box.y, kThumbnailSide, kThumbnailSide, look.fill);
    canvas.CentredText(look.word, look.style, box.x, box.y, kThumbnailSide, kThumbnailSide);
  }
  canvas.Text(std::string(ClockOf(tile)) + " " + tile.code, kCaptionStyle, box.x,
              box.y + kThumbnailSide + kCaptionHeight - 5);
  Count(sheet, state);
}

void DrawHeadings(GreyCanvas& canvas, std::span<const Tile> tiles, const SheetLayout& layout,
                  const ContactSheet& sheet) {
  const int width = layout.width - 2 * kMargin;
  canvas.CentredText(sheet.title, kTitleStyle, kMargin, kMargin, width, 28);
  canvas.CentredText(CountWords(sheet), kCountsStyle, kMargin, kMargin + 28, width, 20);
  for (std::size_t i = 0; i < layout.boxes.size(); ++i) {
    const Tile& tile = tiles[layout.boxes[i].tile];
    if (i > 0 && SameBand(tiles[layout.boxes[i - 1].tile], tile)) continue;
    canvas.Text(SeriesName(tile.satellite, tile.code) + "  " + std::string(DayOf(tile)), kBandStyle,
                kMargin, layout.boxes[i].y - 7);
  }
}

}  // namespace

ContactSheet DrawContactSheet(std::span<const Tile> frames, std::span<const MissingSlot> missing,
                              const OverviewProgress& progress) {
  const std::vector<Tile> tiles = MergedTiles(frames, missing);
  if (tiles.empty()) throw Error("A contact sheet needs at least one frame or missing slot");
  const SheetLayout layout = LayOutSheet(tiles);
  CheckSize(layout);
  ContactSheet sheet;
  sheet.width = layout.width;
  sheet.height = layout.height;
  sheet.title = SeriesWords(tiles) + "  " + DayWords(tiles);
  const auto to_read =
      static_cast<std::size_t>(std::count_if(tiles.begin(), tiles.end(), HasResult));
  std::size_t done = 0;
  {
    GreyCanvas canvas(layout.width, layout.height, 255);
    for (const TileBox& box : layout.boxes) {
      const Tile& tile = tiles[box.tile];
      if (progress && HasResult(tile)) progress(done++, to_read, tile.result);
      DrawTile(canvas, tile, box, sheet);
    }
    DrawHeadings(canvas, tiles, layout, sheet);
    sheet.picture = canvas.ToBitmap();
  }
  sheet.description = "Contact sheet of " + SeriesWords(tiles) + " on " + DayWords(tiles) + ": " +
                      CountWords(sheet);
  return sheet;
}

ContactSheet MakeContactSheet(std::span<const Tile> frames, std::span<const MissingSlot> missing,
                              const std::filesystem::path& name, const OverviewProgress& progress) {
  ContactSheet sheet = DrawContactSheet(frames, missing, progress);
  sheet.png = EncodeToolPNG(sheet.picture, sheet.description, name);
  return sheet;
}

}  // namespace tessaly
