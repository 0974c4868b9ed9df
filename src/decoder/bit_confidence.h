// How sure a header reading is from the data rows alone: the bits read are checked against the
// samples they should have produced. Used by the data-line decoder.
#pragma once

#include <cstdint>
#include <vector>

#include "decoder/bit_decoder.h"
#include "decoder/satellite.h"
#include "picture_store/ipl.h"

namespace tessaly {

// The evidence for the bits of one header reading.
//
// The data rows are modelled as the bits read, each a bright or dark cell of exactly one bit
// period, summed over the rows and averaged over each column: column = dark + contrast x (the
// share of the column that lies in 1 bits). The bits' first edge is fitted near the start
// column, dark and contrast by least squares. Then every reading that differs from the one
// read in one bit or in two neighbouring bits is set against it: `margin` is the smallest
// distance, in standard deviations of the noise, by which the reading read explains the
// columns better than any of them (a reading one bit away that explains them better gives a
// negative margin). The noise is the fit's own residual, and at least kNoiseFloor of the
// contrast, since a reading that fits to the last grey level (a frame without noise) still
// depends on the model of the cells. With fewer samples than bits (below
// kMinSamplesPerBitToWeigh) readings that swap bits within a column explain the columns alike,
// and the margin is at most 0.
struct BitEvidence {
  double margin = 0.0;  // in noise standard deviations; 0 when nothing could be fitted
  double noise = 0.0;   // residual per column, as a share of the contrast
  // The weakest data row's contrast against the rows' mean contrast: near 1 when every row
  // carries the same bits, low when a row that carries none was taken for a data row.
  double row_agreement = 0.0;
  int weakest_bit = -1;   // the bit nearest to being read otherwise; -1 for none
  double bit_edge = 0.0;  // the fitted first edge of bit 0, in columns
};

inline constexpr double kNoiseFloor = 0.02;

// Below one sample per bit the margin is at most 0 (see WeighHeaderBits) and nothing is
// refined.
inline constexpr double kMinSamplesPerBitToWeigh = 1.0;

// A reading in which a data row's contrast is below this share of the rows' mean is given a
// confidence of at most 0 by the data-line decoder.
inline constexpr double kMinRowAgreement = 0.5;

// Half a bit period on the bit clock's phase scale.
inline constexpr std::int64_t kHalfBitPhase = 0x8000;

// The bits of `bytes` and of the `following` ones, most significant first.
std::vector<int> BitsOf(const std::vector<std::uint8_t>& bytes,
                        const std::vector<std::uint8_t>& following = {});

// The evidence for the bytes of `read` (8 bits each, most significant first), read from the
// `row_count` rows from `first_row` with the clock of `satellite_type` at `sample_rate`,
// starting at `start_column` with its initial phase moved by `phase_shift` (see
// ReadHeaderBits). The bytes that follow them take part in the fit but are not weighed. No
// bytes, or too few columns to fit, give a margin of 0.
BitEvidence WeighHeaderBits(const IplImage* image, int first_row, int row_count,
                            SatelliteType satellite_type, float sample_rate, int start_column,
                            std::int64_t phase_shift, const HeaderBits& read);

// The reading nearest to `read` that the data rows explain best: with the model fitted as
// for WeighHeaderBits, the bit or run of neighbouring bits whose flip explains the columns
// best is flipped while any flip explains them better, and the model is fitted again. For a
// reading the bit clock made from samples that blur, JPEG blocks or few samples per bit left
// near the threshold. Its text is made anew from its bytes.
HeaderBits RefineHeaderBits(const IplImage* image, int first_row, int row_count,
                            SatelliteType satellite_type, float sample_rate, int start_column,
                            std::int64_t phase_shift, const HeaderBits& read);

}  // namespace tessaly
