// The reports people run over a catalogue (tessaly-cli --catalog FILE --report KIND): the frames
// in a date range, the missing slots of each picture code, duplicates, doubtful or unread
// headers, and results whose output is gone.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "catalog/catalog.h"

namespace tessaly {

enum class ReportKind {
  kFrames,      // the frames, by time
  kGaps,        // the slots of each satellite's code with no frame, day by day
  kDuplicates,  // files of the same content, and different files of the same header
  kDoubtful,    // headers that were doubtful, not read, or read without giving a name
  kGone,        // saved outputs no longer there (or, verified, no longer as saved)
};

// The words of the kinds, as the option takes them.
inline constexpr std::string_view kReportWords = "frames|gaps|duplicates|doubtful|gone";
std::optional<ReportKind> ReportKindFromWord(std::string_view word);

// What the frames and gaps reports look at; the others take the whole catalogue.
struct ReportFilter {
  std::string satellite = {};  // as the catalogue holds it (trimmed); empty: every one
  std::string code = {};       // empty: every one
  std::string from = {};       // days "YYYY-MM-DD", both included; empty: no bound
  std::string to = {};
  // gaps: the minutes between slots; 0 takes each series' commonest spacing.
  int interval_minutes = 0;
  bool verify_outputs = false;  // gone: also hash each output that stands against its row
};

// True when `text` is a day as the filter takes it: "YYYY-MM-DD", a date that exists.
bool IsDay(std::string_view text);

// The frames report's query: every row with a time that the filter admits, by time. Its
// parameters are the filter's values in the order satellite, code, from, day after `to`, each
// only when given. Error when `from` or `to` is no day.
std::string FramesSql(const ReportFilter& filter);

// Prints the report, one finding a line and a closing count, paths and header texts escaped as
// the batch tool's reports escape them. Returns the number of findings: frames listed, slots
// missing, groups of duplicates, headers listed, outputs gone or changed. Error for a filter
// that does not read, or when the catalogue cannot be read.
std::size_t PrintReport(Catalog& catalog, ReportKind kind, const ReportFilter& filter,
                        std::ostream& out);

}  // namespace tessaly
