// How far a header reading can be trusted: the decoder's evidence for its bits together with
// the characters each header field allows. Used by the per-file processing.
#pragma once

#include <optional>
#include <string_view>

#include "base/doubt.h"
#include "naming/header_fields.h"

namespace tessaly {

// The characters of `header_text` that no header of `form` carries in their place. Primary
// form: the satellite (columns 1-8) and the kind (9-11) are letters, digits and, in the
// satellite, hyphens, written from the field's first column and followed by blanks only; the
// date (12-21) is ten digits; the code (22-25) is letters and digits from its first column, or
// blank throughout. An administrative or test message is checked up to its kind. Alternative
// form: year, day and hour are digits, the month letters, and the rest letters, digits,
// blanks, hyphens and full stops. Nothing is checked for kInputName.
int CountFieldBreaks(std::string_view header_text, NamedFrom form);

// True when `header_text` has blanks where a dropout over the data rows leaves them and no
// header of `form` has any: a satellite that is blank or begins with one, a kind or a code that
// begins with one without being blank throughout, a blank among the digits of the date (in the
// alternative form, of the year, day and hour). Its bits may stand out clearly: a reading with
// such blanks is doubtful whatever its margin.
bool HasDropoutBlanks(std::string_view header_text, NamedFrom form);

// Each character that breaks its field costs this much of the bits' margin: one such
// character is not proof of a misread bit, but a reading that would name a file from it must
// be that much surer of its bits.
inline constexpr double kFieldBreakCost = 4.0;

struct HeaderJudgement {
  // The bits' margin less kFieldBreakCost per field break; nothing when no text was read.
  std::optional<double> confidence;
  bool doubtful = false;  // confidence below kDoubtfulBelow
};

// Judges a reading whose bits have `bit_margin` (see decoder/bit_confidence.h) and whose text
// names a file in `form`; a text with a dropout's blanks gets a confidence of at most 0. A text
// of nothing but blanks is not doubtful: nothing was read.
HeaderJudgement JudgeHeader(double bit_margin, std::string_view header_text, NamedFrom form);

}  // namespace tessaly
