// Bits to characters: the bit clock, the character coding, the 25-character cut and the
// evidence for a reading.
#include "decoder/bit_decoder.h"
#include "decoder/bit_confidence.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "base/doubt.h"
#include "base/errors.h"
#include "decoder_test_support.h"

namespace tessaly {
namespace {

using decoder_test::FilledImage;
using framegen::Frame;
using framegen::FrameRecipe;
using framegen::Layout;

constexpr std::uint16_t kBright = 255 * 64;

// A one-row picture, dark but for single bright columns where `text` has its 1 bits,
// placed every 4 columns from `first_mark`.
IplImagePtr MarkedRow(int width, int first_mark, const std::string& text) {
  IplImagePtr image = FilledImage(width, 1, 0);
  for (std::size_t i = 0; i < text.size() * 8; ++i) {
    const int bit = (static_cast<unsigned char>(text[i / 8]) >> (7 - i % 8)) & 1;
    if (bit != 0) IplRow16(image.get(), 0)[first_mark + 4 * static_cast<int>(i)] = kBright;
  }
  return image;
}

std::string Padded(const std::string& text) {
  return text + std::string(kMaxHeaderLength - text.size(), ' ');
}

std::string DecodeFrameRows(const Frame& frame, const FrameRecipe& recipe, SatelliteType type) {
  const IplImagePtr image = framegen::MakeWorkingImage(frame);
  std::string text = "stale";
  DecodeBits(image.get(), recipe.top_rows, recipe.data_rows, text, type, 4.0f * recipe.width,
             frame.start_column);
  return text;
}

TEST(BitClock, StepsFollowTheSatelliteBitRates) {
  const BitClock goes = MakeBitClock(SatelliteType::GOES, 6720.0f);
  EXPECT_FLOAT_EQ(goes.samples_per_bit, 4.0f);
  EXPECT_EQ(goes.step, 16384);
  EXPECT_EQ(goes.initial_phase, 0x5000);
  const BitClock gms = MakeBitClock(SatelliteType::GMS, 6720.0f);
  EXPECT_NEAR(gms.samples_per_bit, 3.7333, 1e-4);
  EXPECT_EQ(gms.step, 17554);
  EXPECT_EQ(gms.initial_phase, 0x4000);
  EXPECT_EQ(MakeBitClock(SatelliteType::Meteosat, 6720.0f).initial_phase, 0x6000);
  EXPECT_EQ(MakeBitClock(SatelliteType::NOAA, 6720.0f).initial_phase, 0x6000);
  EXPECT_FALSE(MakeBitClock(SatelliteType::GOES, 0.0f).usable);
  // From three samples per bit on, a column is read whole; below, in as many parts as
  // bring the clock back to at least three.
  EXPECT_EQ(goes.column_parts, 1);
  EXPECT_EQ(goes.part_step, goes.step);
  EXPECT_EQ(gms.column_parts, 1);
  const BitClock goes_at_1260 = MakeBitClock(SatelliteType::GOES, 5040.0f);
  EXPECT_EQ(goes_at_1260.column_parts, 1);
  const BitClock goes_at_840 = MakeBitClock(SatelliteType::GOES, 3360.0f);
  EXPECT_EQ(goes_at_840.step, 32768);
  EXPECT_EQ(goes_at_840.column_parts, 2);
  EXPECT_EQ(goes_at_840.part_step, 16384);
  const BitClock gms_at_700 = MakeBitClock(SatelliteType::GMS, 2800.0f);  // 1.556 per bit
  EXPECT_EQ(gms_at_700.column_parts, 2);
  EXPECT_EQ(MakeBitClock(SatelliteType::GOES, 1000.0f).column_parts, 6);  // 0.595 per bit
  EXPECT_EQ(MakeBitClock(SatelliteType::GOES, 1.0f).column_parts, 16);
}

TEST(DecodeBits, FourSamplesPerBitAreTakenAtStartPlusTwoThenEveryFour) {
  const std::string text = "GOES-8";
  IplImagePtr on_clock = MarkedRow(1680, 100 + 2, text);
  std::string decoded;
  DecodeBits(on_clock.get(), 0, 1, decoded, SatelliteType::GOES, 6720.0f, 100);
  EXPECT_EQ(decoded, Padded(text));
  // The same marks one column early or late fall between the clock's samples.
  for (int first_mark : {101, 103}) {
    IplImagePtr off_clock = MarkedRow(1680, first_mark, text);
    DecodeBits(off_clock.get(), 0, 1, decoded, SatelliteType::GOES, 6720.0f, 100);
    EXPECT_NE(decoded.substr(0, text.size()), text) << first_mark;
  }
}

TEST(DecodeBits, NoRowsGiveTheEmptyTextAndClearIt) {
  IplImagePtr image = MarkedRow(1680, 102, "X");
  std::string text = "left over";
  DecodeBits(image.get(), 0, 0, text, SatelliteType::GOES, 6720.0f, 100);
  EXPECT_EQ(text, "");
}

TEST(DecodeBits, UniformRowsGiveOnlyBlanks) {
  for (SatelliteType type : {SatelliteType::GOES, SatelliteType::GMS, SatelliteType::Meteosat}) {
    IplImagePtr image = FilledImage(1000, 3, 9000);
    std::string text;
    DecodeBits(image.get(), 0, 3, text, type, 4000.0f, 30);
    EXPECT_EQ(text, std::string(25, ' '));
  }
}

TEST(DecodeBits, ALongHeaderIsCutTo25Characters) {
  FrameRecipe recipe;
  recipe.width = 1680;
  recipe.header = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnop";  // 52 characters
  const Frame frame = framegen::MakeFrame(recipe);
  EXPECT_EQ(DecodeFrameRows(frame, recipe, SatelliteType::GOES), recipe.header.substr(0, 25));
}

TEST(DecodeBits, AsciiKeeps7FAndBlanksControlAndHighBytes) {
  for (Layout layout : {Layout::GOES, Layout::Meteosat}) {
    FrameRecipe recipe;
    recipe.layout = layout;
    recipe.width = 1040;
    recipe.header = std::string("A\x7F\x01\x1F\x80\xFF~ ", 8) + "Z";
    const Frame frame = framegen::MakeFrame(recipe);
    const SatelliteType type =
        layout == Layout::GOES ? SatelliteType::GOES : SatelliteType::Meteosat;
    EXPECT_EQ(DecodeFrameRows(frame, recipe, type), Padded("A\x7F    ~ Z"));
  }
}

TEST(DecodeBits, GmsHeadersAreEbcdic) {
  FrameRecipe recipe;
  recipe.layout = Layout::GMS;
  recipe.width = 1680;
  recipe.header = "GMS-5 \xA2\xAC(a+z)";  // Latin-1 cent and not signs
  const Frame frame = framegen::MakeFrame(recipe);
  EXPECT_EQ(DecodeFrameRows(frame, recipe, SatelliteType::GMS), Padded(recipe.header));
  // Read as ASCII the same bits are other characters.
  EXPECT_NE(DecodeFrameRows(frame, recipe, SatelliteType::GOES), Padded(recipe.header));
}

TEST(DecodeBits, StartColumnZeroTakesColumnZeroAsThePreviousLevel) {
  // The same bits with one more column of the first level in front, decoded from column 1,
  // read exactly as the bits decoded from column 0.
  FrameRecipe recipe;
  recipe.width = 1680;
  recipe.start_column = 0;
  recipe.header = "\xC1\x81GOES";  // first bit 1: column 0 is bright
  const Frame frame = framegen::MakeFrame(recipe);
  const IplImagePtr image = framegen::MakeWorkingImage(frame);
  IplImagePtr shifted = FilledImage(1681, 1, 0);
  const std::uint16_t* row = IplRow16(image.get(), recipe.top_rows);
  IplRow16(shifted.get(), 0)[0] = row[0];
  for (int x = 0; x < 1680; ++x) IplRow16(shifted.get(), 0)[x + 1] = row[x];
  std::string from_zero;
  std::string from_one;
  DecodeBits(image.get(), recipe.top_rows, 1, from_zero, SatelliteType::GOES, 6720.0f, 0);
  DecodeBits(shifted.get(), 0, 1, from_one, SatelliteType::GOES, 6720.0f, 1);
  EXPECT_EQ(from_zero, Padded("  GOES"));
  EXPECT_EQ(from_one, from_zero);
}

TEST(DecodeBits, RowsOutsideThePictureReadAsZero) {
  IplImagePtr image = FilledImage(300, 4, 5000);
  std::string text;
  DecodeBits(image.get(), 2, 10, text, SatelliteType::GOES, 1200.0f, 0);
  EXPECT_EQ(text, std::string(25, ' '));
  DecodeBits(image.get(), -5, 3, text, SatelliteType::GOES, 6720.0f, 290);
  EXPECT_EQ(text, "");  // 10 columns at 4 per bit hold no whole character
}

TEST(DecodeBits, RefusesAPictureThatIsNotSixteenBitGrey) {
  IplImage* eight = iplCreateImageHeader(1, 0, kIplDepth8U, "GRAY", "GRAY", 0, 0, 8, 300, 4,
                                         nullptr, nullptr, nullptr, nullptr);
  iplAllocateImage(eight, 1, 0);
  std::string text;
  EXPECT_THROW(DecodeBits(eight, 0, 1, text, SatelliteType::GOES, 1200.0f, 0), Error);
  iplDeallocate(eight, kIplImageAll);
}

TEST(WeighHeaderBits, TheBitsSentStandClearOfTheNoiseAndAReadingOneBitOffFallsBelowZero) {
  for (const int width : {700, 1040, 2080}) {
    SCOPED_TRACE(width);
    FrameRecipe recipe;
    recipe.width = width;
    recipe.noise = 4;
    const Frame frame = framegen::MakeFrame(recipe);
    const IplImagePtr image = framegen::MakeWorkingImage(frame);
    const auto weigh = [&](int rows, const HeaderBits& read) {
      return WeighHeaderBits(image.get(), recipe.top_rows, rows, SatelliteType::GOES, 4.0f * width,
                             frame.start_column, 0, read);
    };
    HeaderBits bits = ReadHeaderBits(image.get(), recipe.top_rows, recipe.data_rows,
                                     SatelliteType::GOES, 4.0f * width, frame.start_column);
    ASSERT_EQ(bits.text, frame.header);
    const BitEvidence sent = weigh(recipe.data_rows, bits);
    EXPECT_GT(sent.margin, 2 * kDoubtfulBelow);
    EXPECT_GT(sent.row_agreement, 0.9);
    // The first row of the picture carries no bits.
    EXPECT_LT(weigh(recipe.data_rows + 1, bits).row_agreement, 0.2);
    bits.bytes[5] ^= 0x04;
    const BitEvidence misread = weigh(recipe.data_rows, bits);
    EXPECT_LT(misread.margin, 0.0);
    EXPECT_EQ(misread.weakest_bit, 5 * 8 + 5);
  }
  EXPECT_EQ(CountUnknownBytes({'A', '~', 0x7F, 0x1F, 0xC1}, SatelliteType::GOES), 3);
  EXPECT_EQ(CountUnknownBytes({0x40, 0xC1, 0x41, 0xFA}, SatelliteType::GMS), 2);
}

TEST(EbcdicToAscii, TranslatesTheHeaderCharactersAndBlanksTheRest) {
  EXPECT_EQ(EbcdicToAscii(0xC1), 'A');
  EXPECT_EQ(EbcdicToAscii(0xF5), '5');
  EXPECT_EQ(EbcdicToAscii(0x41), ' ');
  EXPECT_EQ(EbcdicToAscii(0x4A), 0xA2);
  EXPECT_EQ(EbcdicToAscii(0x5F), 0xAC);
  EXPECT_EQ(EbcdicToAscii(0x7F), '"');
  EXPECT_EQ(EbcdicToAscii(0xA2), 's');
  EXPECT_EQ(EbcdicToAscii(0xE9), 'Z');
  EXPECT_EQ(EbcdicToAscii(0xD1), 'J');
  EXPECT_EQ(EbcdicToAscii(0x91), 'j');
  // 88 codes have their own character, each a different one; all others are blanks.
  std::set<int> characters;
  int translated = 0;
  for (int code = 0; code < 256; ++code) {
    const int c = EbcdicToAscii(static_cast<std::uint8_t>(code));
    if (c == ' ') continue;
    ++translated;
    characters.insert(c);
  }
  EXPECT_EQ(translated, 88);
  EXPECT_EQ(characters.size(), 88u);
}

}  // namespace
}  // namespace tessaly
