// The libpng side of TPngImage: decoding and encoding with the state of each operation kept in
// that operation, and libpng errors turned into exceptions without a longjmp over C++ frames.
#include <png.h>

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <string>
#include <utility>

#include "base/byte_order.h"
#include "base/errors.h"
#include "base/limits.h"
#include "base/text.h"
#include "picture_files/png_filter.h"
#include "picture_files/png_image.h"

namespace tessaly {
namespace {

// Ancillary chunks (and decompressed zTXt/iCCP) above this are dropped by libpng, which keeps
// compression bombs in metadata from exhausting memory; real metadata is far smaller.
constexpr png_alloc_size_t kChunkMallocMax = 1u << 20;
// Text and other kept ancillary chunks beyond this many are dropped. libpng keeps every one in
// memory, and a compressed one of a kilobyte inflates to the size above: its own limit of 1000
// would let a 1 MB file take a gigabyte.
constexpr png_uint_32 kChunkCacheMax = 64;
// libpng leaves the samples alone when file gamma x screen gamma is close to 1; this is the
// assumed file gamma of pictures without gAMA, as a decimal, not 1/2.2.
constexpr double kAssumedFileGamma = 0.45455;
constexpr double kScreenGamma = 2.2;
// What the last row of a picture may read besides its own compressed data: libpng's read-ahead
// of 8 KiB, chunk headers and checksums of split image data, the end of the deflate stream.
constexpr std::size_t kLastRowReadAhead = 64u << 10;
// Running reports are spaced at least this far apart.
constexpr std::uint64_t kProgressIntervalMs = 100;

// One encode or decode. libpng hands it back to every callback through its error pointer.
struct Session {
  TPngImage* image = nullptr;
  std::span<const std::uint8_t> input;
  std::size_t position = 0;
  std::vector<std::uint8_t>* output = nullptr;
  std::uint64_t last_running_ms = 0;
  char message[256] = {};
  std::size_t read_limit = SIZE_MAX;  // no read may pass this offset
  std::exception_ptr pending;         // thrown by a callback; passed on once libpng has returned
};

Session& SessionOf(png_const_structrp png) {
  return *static_cast<Session*>(png_get_error_ptr(png));
}

std::uint64_t NowMs() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// The callbacks below run inside libpng. They hold no object with a destructor when they call
// png_error, whose longjmp then lands in a stage function (see below) without skipping cleanup.

[[noreturn]] void OnPngError(png_structp png, png_const_charp message) {
  Session& session = SessionOf(png);
  std::snprintf(session.message, sizeof session.message, "%s",
                message != nullptr ? message : "unknown libpng error");
  png_longjmp(png, 1);
}

// Warnings (ignored bad ancillary chunks and the like) never stop a decode.
void OnPngWarning(png_structp, png_const_charp) {}

void ReadData(png_structp png, png_bytep data, std::size_t length) {
  Session& session = SessionOf(png);
  if (length > session.input.size() - session.position) {
    png_error(png, "Unexpected end of the PNG data");
  }
  if (length > session.read_limit - std::min(session.read_limit, session.position)) {
    png_error(png, "too much compressed image data after the picture's last row");
  }
  std::memcpy(data, session.input.data() + session.position, length);
  session.position += length;
}

bool AppendOutput(Session& session, png_bytep data, std::size_t length) noexcept {
  try {
    session.output->insert(session.output->end(), data, data + length);
    return true;
  } catch (...) {
    session.pending = std::current_exception();
    return false;
  }
}

void WriteData(png_structp png, png_bytep data, std::size_t length) {
  if (!AppendOutput(SessionOf(png), data, length)) png_error(png, "Out of memory writing PNG");
}

void FlushData(png_structp) {}

bool ReportRunning(Session& session, png_uint_32 row) noexcept {
  try {
    const std::uint32_t height = session.image->Height;
    const std::uint64_t percent = height == 0 ? 0 : std::uint64_t{row} * 100 / height;
    session.image->Progress(ProgressStage::kRunning,
                            static_cast<std::uint8_t>(std::min<std::uint64_t>(percent, 100)), false,
                            Rect{}, "Running");
    return true;
  } catch (...) {
    session.pending = std::current_exception();
    return false;
  }
}

void OnRow(png_structp png, png_uint_32 row, int /*pass*/) {
  if (png == nullptr || row > 0x7FFFFFFFu) return;
  Session& session = SessionOf(png);
  if (session.image == nullptr) return;
  if (NowMs() - session.last_running_ms <= kProgressIntervalMs) return;
  if (!ReportRunning(session, row)) png_error(png, "Progress report failed");
  session.last_running_ms = NowMs();
}

// Every libpng call that can fail runs inside one of these stage functions, each with its own
// setjmp. They hold only plain data, so the error handler's longjmp back here skips nothing
// that C++ would have to clean up; the caller then throws.

// The IHDR values in libpng's types, as read and as written.
struct PngHeader {
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bit_depth = 8;
  int color_type = 0;
  int interlace = 0;
  int compression = 0;
  int filter = 0;
};

PngHeader HeaderOf(const TPngImage& image) {
  return {image.Width,
          image.Height,
          image.BitDepth,
          image.ColorType,
          static_cast<int>(image.InterlaceType),
          static_cast<int>(image.CompressionType),
          static_cast<int>(image.FilterType)};
}

void SetHeader(TPngImage& image, const PngHeader& header) {
  image.Width = header.width;
  image.Height = header.height;
  image.BitDepth = header.bit_depth;
  image.ColorType = header.color_type;
  image.InterlaceType = static_cast<std::uint32_t>(header.interlace);
  image.CompressionType = static_cast<std::uint32_t>(header.compression);
  image.FilterType = static_cast<std::uint32_t>(header.filter);
}

// What png_read_info found; the pointers stay valid until the read struct is destroyed.
struct HeaderInfo {
  PngHeader ihdr;
  png_textp texts = nullptr;
  int text_count = 0;
  png_color_16p background = nullptr;
  bool has_background = false;
  png_colorp palette = nullptr;
  int palette_count = 0;
  bool has_trns = false;
  double file_gamma = 0.0;
};

struct TransformPlan {
  bool palette_to_rgb = false;
  bool gray_to_8 = false;
  bool trns_to_alpha = false;
  bool strip_alpha = false;
  bool gray_to_rgb = false;
  bool gamma = false;
  double file_gamma = 0.0;
  bool packing = false;
  bool swap = false;
  bool interlace = false;
  // Results.
  png_size_t row_bytes = 0;
  int channels = 0;
  int passes = 1;
};

struct WritePlan {
  PngHeader ihdr;
  int level = 3;
  int strategy = kPngDefaultStrategy;
  int filter_flags = 0;
  png_color palette[256] = {};
  int palette_count = 0;
  png_text texts[5] = {};
  std::string text_values[5];  // what the texts point to, in the chunk's own encoding
  int text_count = 0;
  png_bytepp rows = nullptr;
  // The encoder picks each row's filter itself (see ChooseRowFilter) instead of leaving the
  // choice to libpng.
  bool choose_row_filters = false;
  bool report = false;
};

bool StageReadInfo(png_structp png, png_infop info, HeaderInfo* header) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_user_limits(png, kMaxPictureSide, kMaxPictureSide);
  png_set_chunk_malloc_max(png, kChunkMallocMax);
  png_set_chunk_cache_max(png, kChunkCacheMax);
  png_set_sig_bytes(png, 4);
  png_set_read_fn(png, png_get_error_ptr(png), ReadData);
  png_read_info(png, info);
  PngHeader& ihdr = header->ihdr;
  png_get_IHDR(png, info, &ihdr.width, &ihdr.height, &ihdr.bit_depth, &ihdr.color_type,
               &ihdr.interlace, &ihdr.compression, &ihdr.filter);
  png_get_text(png, info, &header->texts, &header->text_count);
  header->has_background = png_get_bKGD(png, info, &header->background) != 0;
  if (png_get_PLTE(png, info, &header->palette, &header->palette_count) == 0) {
    header->palette_count = 0;
  }
  header->has_trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  if (png_get_gAMA(png, info, &header->file_gamma) == 0) header->file_gamma = 0.0;
  return true;
}

bool StageTransform(png_structp png, png_infop info, TransformPlan* plan) {
  if (setjmp(png_jmpbuf(png))) return false;
  if (plan->palette_to_rgb) png_set_palette_to_rgb(png);
  if (plan->gray_to_8) png_set_expand_gray_1_2_4_to_8(png);
  if (plan->trns_to_alpha) png_set_tRNS_to_alpha(png);
  if (plan->strip_alpha) png_set_strip_alpha(png);
  if (plan->gray_to_rgb) png_set_gray_to_rgb(png);
  if (plan->gamma) png_set_gamma(png, kScreenGamma, plan->file_gamma);
  png_set_invert_alpha(png);
  if (plan->packing) png_set_packing(png);
  if (plan->swap) png_set_swap(png);
  if (plan->interlace) plan->passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  plan->row_bytes = png_get_rowbytes(png, info);
  plan->channels = png_get_channels(png, info);
  return true;
}

// Where the decoded rows go: into the picture's row table, or one at a time through a room of
// one row to a sink.
struct RowTarget {
  png_bytepp rows = nullptr;
  png_bytep row = nullptr;
  const PngRowSink* sink = nullptr;
};

bool HandOn(Session& session, const PngRowSink& sink, const PngRow& row) noexcept {
  try {
    sink(row);
    return true;
  } catch (...) {
    session.pending = std::current_exception();
    return false;
  }
}

// The rows of an interlaced picture read without libpng's deinterlacing, pass by pass (libpng
// skips the passes that hold no pixel), each handed on with the places of its pixels.
void ReadPassRows(png_structp png, png_uint_32 width, png_uint_32 height, const RowTarget& target,
                  const TransformPlan& plan) {
  Session& session = SessionOf(png);
  int last_pass = 0;
  for (int pass = 0; pass < PNG_INTERLACE_ADAM7_PASSES; ++pass) {
    if (PNG_PASS_COLS(width, pass) != 0 && PNG_PASS_ROWS(height, pass) != 0) last_pass = pass;
  }
  for (int pass = 0; pass <= last_pass; ++pass) {
    const png_uint_32 columns = PNG_PASS_COLS(width, pass);
    const png_uint_32 rows = PNG_PASS_ROWS(height, pass);
    if (columns == 0) continue;
    for (png_uint_32 y = 0; y < rows; ++y) {
      if (pass == last_pass && y + 1 == rows) {
        session.read_limit = session.position + 2 * (plan.row_bytes + 1) + kLastRowReadAhead;
      }
      png_read_row(png, target.row, nullptr);
      const PngRow row{PNG_ROW_FROM_PASS_ROW(y, pass),
                       static_cast<png_uint_32>(PNG_PASS_START_COL(pass)),
                       png_uint_32{1} << PNG_PASS_COL_SHIFT(pass), columns, target.row};
      if (!HandOn(session, *target.sink, row)) png_error(png, "the decoded row was not taken");
    }
  }
}

// The rows as png_read_image reads them, with the read of the last one held to a budget: with
// that row libpng inflates all the image data left, only to warn that there was too much, and a
// small file could keep it busy for minutes (deflate expands up to 1032 times).
bool StageReadImage(png_structp png, png_infop info, const RowTarget& target,
                    const TransformPlan& plan, bool report, png_timep* time) {
  if (setjmp(png_jmpbuf(png))) return false;
  if (report) png_set_read_status_fn(png, OnRow);
  Session& session = SessionOf(png);
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  if (target.sink != nullptr && png_get_interlace_type(png, info) == PNG_INTERLACE_ADAM7) {
    ReadPassRows(png, width, height, target, plan);
  } else {
    for (int pass = 0; pass < plan.passes; ++pass) {
      for (png_uint_32 y = 0; y < height; ++y) {
        if (pass == plan.passes - 1 && y + 1 == height) {
          session.read_limit = session.position + 2 * (plan.row_bytes + 1) + kLastRowReadAhead;
        }
        if (target.sink == nullptr) {
          png_read_row(png, target.rows[y], nullptr);
        } else {
          png_read_row(png, target.row, nullptr);
          if (!HandOn(session, *target.sink, PngRow{y, 0, 1, width, target.row})) {
            png_error(png, "the decoded row was not taken");
          }
        }
      }
    }
  }
  session.read_limit = SIZE_MAX;
  png_read_end(png, info);
  if (png_get_tIME(png, info, time) == 0) *time = nullptr;
  return true;
}

bool StageWriteHeader(png_structp png, png_infop info, const WritePlan* plan) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_write_fn(png, png_get_error_ptr(png), WriteData, FlushData);
  png_set_compression_level(png, plan->level);
  if (plan->strategy != kPngDefaultStrategy) png_set_compression_strategy(png, plan->strategy);
  const PngHeader& ihdr = plan->ihdr;
  png_set_IHDR(png, info, ihdr.width, ihdr.height, ihdr.bit_depth, ihdr.color_type, ihdr.interlace,
               ihdr.compression, ihdr.filter);
  if (ihdr.color_type == PNG_COLOR_TYPE_PALETTE) {
    png_set_PLTE(png, info, plan->palette, plan->palette_count);
  }
  for (int i = 0; i < plan->text_count; ++i) png_set_text(png, info, &plan->texts[i], 1);
  png_write_info(png, info);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, plan->filter_flags);
  return true;
}

bool StageWriteImage(png_structp png, png_infop info, const WritePlan* plan) {
  if (setjmp(png_jmpbuf(png))) return false;
  if (plan->ihdr.bit_depth == 16) png_set_swap(png);
  if (plan->report) png_set_write_status_fn(png, OnRow);
  if (plan->choose_row_filters) {
    const png_size_t bytes = png_get_rowbytes(png, info);
    const png_size_t bpp = png_get_channels(png, info);
    // The first row goes with the whole set, which libpng needs to see at the start to keep the
    // row above; from the second row on it applies just the filter chosen here.
    png_write_row(png, plan->rows[0]);
    for (png_uint_32 y = 1; y < plan->ihdr.height; ++y) {
      png_set_filter(
          png, PNG_FILTER_TYPE_BASE,
          ChooseRowFilter(plan->rows[y], plan->rows[y - 1], bytes, bpp, plan->filter_flags));
      png_write_row(png, plan->rows[y]);
    }
  } else {
    png_write_image(png, plan->rows);
  }
  // The PNG standard asks for UTC; taken when the rows are written.
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  png_time stamp{};
  stamp.year = static_cast<png_uint_16>(utc.tm_year + 1900);
  stamp.month = static_cast<png_byte>(utc.tm_mon + 1);
  stamp.day = static_cast<png_byte>(utc.tm_mday);
  stamp.hour = static_cast<png_byte>(utc.tm_hour);
  stamp.minute = static_cast<png_byte>(utc.tm_min);
  stamp.second = static_cast<png_byte>(utc.tm_sec);
  png_set_tIME(png, info, &stamp);
  png_write_end(png, info);
  return true;
}

// Throws what made a stage fail: a callback's own exception, or libpng's message.
void Check(bool stage_ok, Session& session, const char* what) {
  if (stage_ok) return;
  if (session.pending) std::rethrow_exception(session.pending);
  throw Error(std::string(what) + session.message);
}

class ReadHandles {
 public:
  ReadHandles(const ReadHandles&) = delete;
  ReadHandles& operator=(const ReadHandles&) = delete;
  explicit ReadHandles(Session* session)
      : png(png_create_read_struct(PNG_LIBPNG_VER_STRING, session, OnPngError, OnPngWarning)) {}
  ~ReadHandles() {
    if (png != nullptr) png_destroy_read_struct(&png, &info, nullptr);
  }
  png_structp png = nullptr;
  png_infop info = nullptr;
};

class WriteHandles {
 public:
  WriteHandles(const WriteHandles&) = delete;
  WriteHandles& operator=(const WriteHandles&) = delete;
  explicit WriteHandles(Session* session)
      : png(png_create_write_struct(PNG_LIBPNG_VER_STRING, session, OnPngError, OnPngWarning)) {}
  ~WriteHandles() {
    if (png != nullptr) png_destroy_write_struct(&png, &info);
  }
  png_structp png = nullptr;
  png_infop info = nullptr;
};

void CheckPictureSize(std::uint64_t width, std::uint64_t height) {
  constexpr auto kSide = static_cast<std::uint64_t>(kMaxPictureSide);
  constexpr auto kPixels = static_cast<std::uint64_t>(kMaxPicturePixels);
  if (width > kSide || height > kSide || width * height > kPixels) {
    throw Error("PNG picture of " + std::to_string(width) + " x " + std::to_string(height) +
                " pixels is larger than supported (" + PictureLimitsText() + ")");
  }
}

// The size a hostile header claims is refused before libpng sees it, with a plain message
// (libpng's own limit check only says "Invalid IHDR data").
void CheckDeclaredSize(std::span<const std::uint8_t> data) {
  if (data.size() < 24 || std::memcmp(data.data() + 12, "IHDR", 4) != 0) return;
  CheckPictureSize(LoadBe32(data, 16), LoadBe32(data, 20));
}

// Deflate turns at best 2 bits into 258 bytes (1032:1); a stream claiming more is not deflate.
// Twice that leaves room for any framing a valid file can have.
constexpr std::uint64_t kMaxInflateRatio = 2064;

// The bytes of the IDAT chunks present in the data, counting a cut-off chunk's remainder.
std::uint64_t ImageDataBytes(std::span<const std::uint8_t> data) {
  std::uint64_t total = 0;
  for (std::size_t at = 8; at + 8 <= data.size();) {
    const std::size_t present = std::min<std::size_t>(LoadBe32(data, at), data.size() - at - 8);
    if (std::memcmp(data.data() + at + 4, "IDAT", 4) == 0) total += present;
    if (std::memcmp(data.data() + at + 4, "IEND", 4) == 0) break;
    at += present + 12;
  }
  return total;
}

// libpng allocates a chunk's buffer at the length the chunk claims before reading it, and lets an
// ancillary chunk exceed its chunk size limit with a warning: a small truncated file could make
// it allocate gigabytes. A chunk before IEND that runs past the data fails the decode anyway,
// so it is refused here, before libpng sees it.
void CheckChunksFit(std::span<const std::uint8_t> data) {
  for (std::size_t at = 8; at + 8 <= data.size();) {
    const std::uint64_t length = LoadBe32(data, at);
    if (length + 12 > data.size() - at) {
      throw Error("Damaged PNG: the data ends inside a chunk of " + std::to_string(length) +
                  " bytes at offset " + std::to_string(at));
    }
    if (std::memcmp(data.data() + at + 4, "IEND", 4) == 0) break;
    at += static_cast<std::size_t>(length) + 12;
  }
}

// A tiny file may claim a large picture; its pixel buffers are not allocated unless the file
// holds enough compressed data to fill them.
void CheckImageDataSize(std::span<const std::uint8_t> data, const TPngImage& image) {
  static constexpr std::uint64_t kSamples[] = {1, 0, 3, 1, 2, 0, 4};
  const std::uint64_t bits_per_pixel =
      (image.ColorType >= 0 && image.ColorType <= 6 ? kSamples[image.ColorType] : 4) *
      static_cast<std::uint64_t>(std::max(image.BitDepth, 1));
  const std::uint64_t pixel_bytes =
      (std::uint64_t{image.Width} * image.Height * bits_per_pixel + 7) / 8;
  const std::uint64_t stored = ImageDataBytes(data);
  if (stored < pixel_bytes / kMaxInflateRatio) {
    throw Error("Damaged PNG: its " + std::to_string(stored) +
                " bytes of image data cannot hold a picture of " + std::to_string(image.Width) +
                " x " + std::to_string(image.Height) + " pixels");
  }
}

Color BackgroundOf(const png_color_16& c, int bit_depth, int color_type) {
  if (bit_depth == 16) {
    return MakeColor(static_cast<std::uint8_t>(c.red >> 8), static_cast<std::uint8_t>(c.green >> 8),
                     static_cast<std::uint8_t>(c.blue >> 8));
  }
  if (color_type == PNG_COLOR_TYPE_GRAY && bit_depth < 8) {
    const int scale = bit_depth == 1 ? 255 : bit_depth == 2 ? 85 : 17;
    const int v = bit_depth == 1 ? (c.gray != 0 ? 255 : 0) : c.gray * scale;
    const auto grey = static_cast<std::uint8_t>(std::min(v, 255));
    return MakeColor(grey, grey, grey);
  }
  return MakeColor(static_cast<std::uint8_t>(c.red), static_cast<std::uint8_t>(c.green),
                   static_cast<std::uint8_t>(c.blue));
}

// Rows must hold what libpng will read for the header values, whatever the caller set.
void CheckWriteBuffers(const TPngImage& image) {
  if (image.Width == 0 || image.Height == 0) throw Error("Cannot write an empty picture as PNG");
  static constexpr int kSamples[] = {1, 0, 3, 1, 2, 0, 4};
  const int samples = image.ColorType >= 0 && image.ColorType <= 6 ? kSamples[image.ColorType] : 0;
  const std::uint64_t needed =
      (std::uint64_t{image.Width} * samples * static_cast<std::uint32_t>(image.BitDepth) + 7) / 8;
  if (samples == 0 || image.BitDepth <= 0 || image.RowBytes < needed ||
      image.Pixels.size() < std::uint64_t{image.Height} * image.RowBytes) {
    throw Error("The PNG picture's buffers do not match its header values");
  }
}

// Texts are UTF-8. A tEXt chunk holds Latin-1, so a text with a character beyond Latin-1 goes in
// an iTXt chunk instead; bytes that are not UTF-8 at all are written as they stand.
void SetText(png_text& entry, const char* key, const std::string& utf8, std::string& stored) {
  entry.compression = PNG_TEXT_COMPRESSION_NONE;
  if (!Utf8ToLatin1(utf8, stored)) {
    stored = utf8;
    if (IsValidUtf8(utf8)) entry.compression = PNG_ITXT_COMPRESSION_NONE;
  }
  entry.key = const_cast<png_charp>(key);  // libpng copies both; it never writes to them
  entry.text = const_cast<png_charp>(stored.c_str());
  entry.text_length = entry.compression == PNG_TEXT_COMPRESSION_NONE ? stored.size() : 0;
  entry.itxt_length = entry.compression == PNG_TEXT_COMPRESSION_NONE ? 0 : stored.size();
}

// Every text goes to Texts; Title, Author and Description are only overwritten, never cleared.
void TakeTexts(TPngImage& image, const HeaderInfo& header) {
  image.Texts.clear();
  for (int i = 0; i < header.text_count; ++i) {
    const png_text& entry = header.texts[i];
    const std::string key = entry.key != nullptr ? entry.key : "";
    std::string text = entry.text != nullptr ? entry.text : "";
    // tEXt and zTXt hold Latin-1; iTXt holds UTF-8, as the picture's texts do.
    if (entry.compression < PNG_ITXT_COMPRESSION_NONE) text = Latin1ToUtf8(text);
    image.Texts.push_back(key + "=" + text);
    const std::string upper = AsciiUpper(key);
    if (upper == "TITLE") {
      image.Title = text;
    } else if (upper == "AUTHOR") {
      image.Author = text;
    } else if (upper == "DESCRIPTION") {
      image.Description = text;
    }
  }
}

void TakeHeader(TPngImage& image, const HeaderInfo& header) {
  CheckPictureSize(header.ihdr.width, header.ihdr.height);
  SetHeader(image, header.ihdr);
  image.BackgroundColor =
      header.has_background && header.background != nullptr
          ? BackgroundOf(*header.background, header.ihdr.bit_depth, header.ihdr.color_type)
          : 0;
  image.Transparent = header.has_background;
}

// Palette pictures of 1, 2 or 4 bits read without ExpandToRGB keep their indices and get no
// palette; at 8 bits the palette is kept.
void TakePalette(TPngImage& image, const HeaderInfo& header) {
  image.PaletteCount = 0;
  if (image.ColorType != PNG_COLOR_TYPE_PALETTE || image.ExpandToRGB || image.BitDepth != 8 ||
      header.palette == nullptr) {
    return;
  }
  image.PaletteCount = std::clamp(header.palette_count, 0, 256);
  for (int i = 0; i < image.PaletteCount; ++i) {
    const png_color& c = header.palette[i];
    image.Palette[i] = {c.red, c.green, c.blue};
  }
}

// Rows handed on one at a time are not deinterlaced: that would need the whole picture.
TransformPlan PlanTransforms(TPngImage& image, const HeaderInfo& header, bool row_by_row) {
  const bool grey = image.ColorType == PNG_COLOR_TYPE_GRAY;
  TransformPlan plan;
  plan.palette_to_rgb = image.ExpandToRGB && image.ColorType == PNG_COLOR_TYPE_PALETTE;
  plan.gray_to_8 = grey && image.BitDepth < 8;
  plan.trns_to_alpha = header.has_trns && !image.IgnoreAlpha;
  // Expanding a palette brings its tRNS entries along as alpha; that has to go too.
  plan.strip_alpha = image.IgnoreAlpha;
  plan.gray_to_rgb = image.ExpandToRGB && (grey || image.ColorType == PNG_COLOR_TYPE_GRAY_ALPHA);
  image.FileGamma = header.file_gamma;
  image.ScreenGamma = kScreenGamma;
  plan.gamma = image.GammaCorrection;
  plan.file_gamma = header.file_gamma != 0.0 ? header.file_gamma : kAssumedFileGamma;
  plan.packing = image.BitDepth < 8;
  plan.swap = image.BitDepth == 16;
  plan.interlace = image.InterlaceType == PNG_INTERLACE_ADAM7 && !row_by_row;
  return plan;
}

// Texts go in the order Author, Description, Software, Title, Creation Time; a blank value is
// left out, any other is written as it stands. The row table is made here from Pixels, so that
// a stale Rows cannot point libpng elsewhere.
// The row choice is libpng's own rule made faster (see ChooseRowFilter), taken where the rows go
// to the filters as they stand: 8-bit samples, not interlaced, more than one filter to choose
// from. libpng drops filters for pictures one pixel wide or high; those keep its own choice.
bool ChoosesRowFiltersItself(const TPngImage& image) {
  const unsigned filters = image.FilterFlags & PNG_ALL_FILTERS;
  return image.BitDepth == 8 && image.InterlaceType == PNG_INTERLACE_NONE && image.Width > 1 &&
         image.Height > 1 && (filters & (filters - 1)) != 0;
}

WritePlan PlanWrite(TPngImage& image, std::vector<png_bytep>& rows) {
  WritePlan plan;
  plan.ihdr = HeaderOf(image);
  plan.level = image.CompressionLevel;
  plan.strategy = image.CompressionStrategy;
  plan.filter_flags = static_cast<int>(image.FilterFlags);
  plan.palette_count = std::clamp(image.PaletteCount, 0, 256);
  for (int i = 0; i < plan.palette_count; ++i) {
    plan.palette[i] = {image.Palette[i].red, image.Palette[i].green, image.Palette[i].blue};
  }
  const std::pair<const char*, const std::string*> texts[] = {
      {"Author", &image.Author},
      {"Description", &image.Description},
      {"Software", &image.Software},
      {"Title", &image.Title},
      {"Creation Time", &image.CreationTime}};
  for (const auto& [key, value] : texts) {
    if (!Trim(*value).empty()) {
      SetText(plan.texts[plan.text_count], key, *value, plan.text_values[plan.text_count]);
      ++plan.text_count;
    }
  }
  rows.resize(image.Height);
  for (std::uint32_t i = 0; i < image.Height; ++i) {
    rows[i] = image.Pixels.data() + std::size_t{i} * image.RowBytes;
  }
  plan.rows = rows.data();
  plan.choose_row_filters = ChoosesRowFiltersItself(image);
  plan.report = image.OnProgress != nullptr;
  return plan;
}

}  // namespace

std::size_t TPngImage::Decode(std::span<const std::uint8_t> data,
                              const std::function<void()>* header_read, const PngRowSink* sink) {
  if (data.size() < 4) {
    throw Error("Cannot read the PNG signature: the data holds fewer than 4 bytes");
  }
  if (png_sig_cmp(data.data(), 0, 4) != 0) throw Error("Is not a valid PNG !");
  CheckDeclaredSize(data);
  CheckChunksFit(data);
  Session session;
  session.image = this;
  session.input = data;
  session.position = 4;
  ReadHandles handles(&session);
  if (handles.png == nullptr) throw Error("Failed to create the PNG reader");
  Progress(ProgressStage::kStarting, 0, false, Rect{}, "Start PNG read");
  handles.info = png_create_info_struct(handles.png);
  if (handles.info == nullptr) throw Error("Failed to Create info struct");
  HeaderInfo header;
  Check(StageReadInfo(handles.png, handles.info, &header), session, "Damaged PNG: ");
  TakeTexts(*this, header);
  TakeHeader(*this, header);
  CheckImageDataSize(data, *this);
  TakePalette(*this, header);
  TransformPlan plan = PlanTransforms(*this, header, sink != nullptr);
  Check(StageTransform(handles.png, handles.info, &plan), session, "Damaged PNG: ");
  RowBytes = static_cast<std::uint32_t>(plan.row_bytes);
  Channels = plan.channels;
  RowTarget target;
  std::vector<std::uint8_t> row;
  if (sink == nullptr) {
    AllocateBuffers();
    target.rows = Rows.data();
  } else {
    Pixels.clear();
    Rows.clear();
    row.resize(RowBytes);
    target.row = row.data();
    target.sink = sink;
    if (header_read != nullptr && *header_read) (*header_read)();
  }
  png_timep time = nullptr;
  Check(StageReadImage(handles.png, handles.info, target, plan, OnProgress != nullptr, &time),
        session, "Damaged PNG: ");
  if (time != nullptr) {
    FileTime = PngTime{time->year, time->month, time->day, time->hour, time->minute, time->second};
  }
  Progress(ProgressStage::kEnding, 100, false, Rect{}, "Ended PNG read");
  return session.position;
}

std::vector<std::uint8_t> TPngImage::SaveToMemory() {
  CheckWriteBuffers(*this);
  std::vector<std::uint8_t> out;
  // Room for pictures that do not compress (each row has its filter byte, and the data its
  // chunk and block headers), up to a size past which a move or two no longer matters, so that
  // the file is not moved as it grows.
  constexpr std::size_t kMostReserved = 32u << 20;
  const std::size_t raw = Pixels.size() + Height;
  out.reserve(std::min(raw + raw / 64 + 4096, kMostReserved));
  Session session;
  session.image = this;
  session.output = &out;
  WriteHandles handles(&session);
  Progress(ProgressStage::kStarting, 0, false, Rect{}, "Starting PNG write");
  if (handles.png == nullptr) throw Error("Failed to create the PNG writer");
  handles.info = png_create_info_struct(handles.png);
  if (handles.info == nullptr) throw Error("Failed to Create info struct");

  std::vector<png_bytep> rows;
  const WritePlan plan = PlanWrite(*this, rows);
  Check(StageWriteHeader(handles.png, handles.info, &plan), session, "PNG encoding failed: ");
  Check(StageWriteImage(handles.png, handles.info, &plan), session, "PNG encoding failed: ");
  Progress(ProgressStage::kEnding, 100, false, Rect{}, "Ended PNG write");
  return out;
}

}  // namespace tessaly
