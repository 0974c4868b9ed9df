// A second look at a frame whose header the first analysis did not read surely: the header
// band and the data rows found wherever reception and later copies left them (phasing errors,
// slant, cropped edges, negatives, rescaling, static and dropouts on some data rows), the data
// rows laid over one another and read with a bit period fitted to them. Used by the per-file
// processing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decoder/bit_confidence.h"
#include "decoder/data_lines.h"
#include "decoder/satellite.h"
#include "picture_store/ipl.h"

namespace tessaly {

// One reading of the second look, judged as the first analysis judges its readings.
struct HeaderLook {
  std::string header_text;                 // 25 Latin-1 characters
  std::vector<std::uint8_t> header_bytes;  // one a character
  SatelliteType decoded_as = SatelliteType::GOES;
  // The margin of its bits against the data rows laid over one another (at most 0 for bytes
  // no header holds), and whether that is below kDoubtfulBelow.
  double confidence = 0.0;
  bool doubtful = true;
  int unknown_characters = 0;
  BitEvidence evidence;
  // What was found.
  bool negative = false;      // the frame's polarity is reversed
  int data_rows = 0;          // data rows laid over one another
  double period_scale = 1.0;  // the bit period fitted, against the one the row's width gives
};

// The readings of the frame's header, the surer first: one for the ASCII and one for the
// EBCDIC coding where the data rows were found; none when no header band with data rows after
// it is found. `sample_rate` is the one the first analysis used (4 x width).
std::vector<HeaderLook> LookAgain(const IplImage* image, float sample_rate);

// `found` with its header reading replaced by `look`'s; its levels, cut and structure stay.
void TakeHeader(const HeaderLook& look, DataLinesResult& found);

}  // namespace tessaly
