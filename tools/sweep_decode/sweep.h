// The header sweep: generated frames of every layout at a range of row widths, noise levels,
// headers and degradations, named by the per-file processing as the batch tool names a file,
// with the results kept as table rows that an earlier run's table can be compared with. Used
// by tessaly-sweep-decode and the decoder tests.
#pragma once

#include <iosfwd>
#include <map>
#include <string>
#include <vector>

#include "decoder/data_lines.h"
#include "framegen/framegen.h"

namespace tessaly::sweep {

// How a sweep header changes from frame to frame.
enum class Varies {
  kNothing,      // sent as written
  kDateAndCode,  // primary form: a new date and time (columns 12-21) and picture code (22-25)
  kDate,         // primary form: a new date and time, the code as written
  kDigits,       // primary form: the ten date columns any digits (a message's garbage)
  kAltDate,      // alternative form: a new year, month name, day and hour
};

// One header the sweep sends, with the number of data rows that carry it.
struct SweepHeader {
  framegen::Layout layout;
  std::string text;  // 25 characters; what varies is replaced per frame
  int data_rows;
  Varies varies = Varies::kNothing;
};

// The headers of every layout: the primary name form with and without a kind suffix (known
// satellites, GOES-I and GOES-K, others), blank codes, hour 24, administrative and test
// messages, the alternative form, impossible dates that name nothing, runs of alternating bits
// and EBCDIC small letters. The first ten are sent as written, the others with dates and codes
// that change from frame to frame.
const std::vector<SweepHeader>& SweepHeaders();

// The columns of a primary-form header field, from 0, that a dropout is laid over.
enum class HeaderField { kNone, kSatellite, kKind, kDate, kCode };

// A way received frames are spoilt, applied to a frame's recipe.
struct Degradation {
  const char* name;  // one word, for the tables
  double blur = 0.0;
  int jpeg_quality = 0;
  int black = 8;
  int white = 240;
  double bit_offset = 0.0;
  // The damage of reception and copies (the --impaired sweep).
  bool impaired = false;
  framegen::Impairment impairment{};
  // Each frame's dropout spans some characters of this field, chosen from the frame's seed.
  HeaderField dropout_over = HeaderField::kNone;
  double crop_left_share = 0.0;  // columns cut at the left, as a share of the width
};

// Index 0 is the clean frame; then blur, JPEG copies, low contrast, bits half a bit late and
// early, and a dark frame (the --degraded sweep); then the damage of reception and copies,
// each kind at several strengths (impaired, the --impaired sweep).
const std::vector<Degradation>& Degradations();

struct SweepCase {
  framegen::Layout layout = framegen::Layout::GOES;
  int width = 0;
  int noise = 0;        // standard deviation of the pixel noise, grey levels
  int header = 0;       // index into SweepHeaders()
  int degradation = 0;  // index into Degradations()
};

// What became of one frame's name.
enum class Outcome {
  kRight,     // named as its header names it (a header that names nothing: the input's name)
  kDoubtful,  // the reading was judged doubtful and named nothing
  kNotRead,   // no name from the header, which gives one
  kWrong,     // a name other than the header's, not marked doubtful
};

const char* OutcomeName(Outcome outcome);

// What was read from one frame.
struct SweepResult {
  SweepCase sweep_case;
  bool right = false;  // the header read is the one sent
  int decoded_as = 0;  // satellite type number
  int black = 0;
  int white = 0;
  PictureRect cut;
  std::string header;  // Latin-1, as read
  Outcome outcome = Outcome::kNotRead;
  double confidence = 0.0;
  std::string name;          // the proposed name, without folder; for a doubtful reading the one it
                             // would have given
  bool has_outcome = false;  // false for a row of a table without outcomes
  // Not kept in the table: the header sent and where the frame's picture lies, as generated.
  std::string sent_header;
  std::string expected_name;
  int sent_start_column = 0;
  framegen::Rect sent_picture;
  BitEvidence evidence;  // the reading's, with RunOptions::evidence only
};

struct SweepRange {
  int first_width = 226;
  int last_width = 2200;
  int width_step = 7;
  std::vector<int> noises = {0, 2, 4, 8, 16, 32};
  std::vector<int> degradations = {0};
  // Only the headers of these indices; empty: all.
  std::vector<int> headers;
};

// Every case of the range: each degradation, layout, width, noise and header of the layout.
std::vector<SweepCase> SweepCases(const SweepRange& range);

// The header text a case sends.
std::string SweepHeaderText(const SweepCase& sweep_case);

// The frame of a case: a short flat picture, so that a sweep of thousands stays quick; its
// seed follows from the case, so a case always gives the same frame.
framegen::FrameRecipe SweepRecipe(const SweepCase& sweep_case);

struct RunOptions {
  // Also read the frame's working picture once more (ReadFrame) for the evidence of its bits.
  bool evidence = false;
  // Read the frame with every row, as the sweeps before naming outcomes did, instead of
  // through the per-file processing (whose working picture drops the last row of an
  // odd-height frame); for comparisons with their tables. The evidence is then always read.
  bool whole_frame = false;
  // Name the frame from the first analysis alone, read as GOES (the decoder tells GMS by its
  // layout), without judging the reading: what the algorithm the decoder starts from names.
  bool first_analysis = false;
};

// Names the case's frame, saved as "frame.bmp", through the per-file processing
// (ProcessLoadedPicture) and sorts the outcome.
SweepResult RunCase(const SweepCase& sweep_case, const RunOptions& options = {});

// Runs the cases on `jobs` threads; the results keep the order of the cases.
std::vector<SweepResult> RunCases(const std::vector<SweepCase>& cases, int jobs,
                                  const RunOptions& options = {});

// One tab-separated line per result (the header in hexadecimal), and its reading; the key
// names the case alone.
std::string TableLine(const SweepResult& result);
std::string TableHeading();
std::string CaseKey(const SweepCase& sweep_case);
// Reads a table written by TableLine, or by the builds before outcomes were kept (their
// rows have has_outcome false), keyed by CaseKey. Throws Error for a line it cannot read.
std::map<std::string, SweepResult> ReadTable(std::istream& in);

// True when header, levels and cut agree.
bool SameReading(const SweepResult& a, const SweepResult& b);

const char* LayoutName(framegen::Layout layout);

}  // namespace tessaly::sweep
