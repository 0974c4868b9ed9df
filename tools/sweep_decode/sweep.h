// The header sweep: generated frames of every layout at a range of row widths, noise levels
// and headers, decoded as the per-file processing reads each layout, with the results kept
// as table rows that an earlier run's table can be compared with. Used by
// tessaly-sweep-decode and the decoder tests.
#pragma once

#include <iosfwd>
#include <map>
#include <string>
#include <vector>

#include "decoder/data_lines.h"
#include "framegen/framegen.h"

namespace tessaly::sweep {

// One header the sweep sends, with the number of data rows that carry it.
struct SweepHeader {
  framegen::Layout layout;
  std::string text;
  int data_rows;
};

// The headers of every layout: the primary name form with and without a kind suffix, a
// GOES header in the alternative form, runs of alternating bits and EBCDIC small letters.
const std::vector<SweepHeader>& SweepHeaders();

struct SweepCase {
  framegen::Layout layout = framegen::Layout::GOES;
  int width = 0;
  int noise = 0;   // standard deviation of the pixel noise, grey levels
  int header = 0;  // index into SweepHeaders()
};

// What was read from one frame.
struct SweepResult {
  SweepCase sweep_case;
  bool right = false;  // the header read is the one sent
  int decoded_as = 0;   // satellite type number
  int data_rows = 0;
  int start_column = 0;
  int black = 0;
  int white = 0;
  PictureRect cut;
  std::string header;  // Latin-1, as read
  // Where the frame's picture lies, as generated (not kept in the table).
  int sent_start_column = 0;
  framegen::Rect sent_picture;
};

struct SweepRange {
  int first_width = 700;
  int last_width = 2200;
  int width_step = 1;
  std::vector<int> noises = {0, 2, 4};
};

// Every case of the range: each layout, each width, each noise, each of the layout's headers.
std::vector<SweepCase> SweepCases(const SweepRange& range);

// The frame of a case: a short flat picture, so that a sweep of thousands stays quick; its
// seed follows from the case, so a case always gives the same frame.
framegen::FrameRecipe SweepRecipe(const SweepCase& sweep_case);

// Reads the case's frame as the per-file pipeline does: as GOES (the decoder tells GMS by the
// layout), and again as Meteosat when no name form accepts the GOES reading's header.
SweepResult RunCase(const SweepCase& sweep_case);

// Runs the cases on `jobs` threads; the results keep the order of the cases.
std::vector<SweepResult> RunCases(const std::vector<SweepCase>& cases, int jobs);

// One tab-separated line per result (the header in hexadecimal), and its reading; the key
// names the case alone.
std::string TableLine(const SweepResult& result);
std::string CaseKey(const SweepCase& sweep_case);
// Reads a table written by TableLine, keyed by CaseKey. Throws Error for a line it cannot read.
std::map<std::string, SweepResult> ReadTable(std::istream& in);

// True when header, levels and cut agree.
bool SameReading(const SweepResult& a, const SweepResult& b);

const char* LayoutName(framegen::Layout layout);

}  // namespace tessaly::sweep
