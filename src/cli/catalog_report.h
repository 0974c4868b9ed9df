// The catalogue's reports as tessaly-cli prints them (--report, --format): the words and layout
// of the text, and the columns of CSV and JSON.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "catalog/report.h"

namespace tessaly::cli {

enum class ReportKind {
  kFrames,        // the frames, by time
  kGaps,          // the slots of each satellite's code with no frame
  kDuplicates,    // files of the same content, and different files of the same header
  kDoubtful,      // headers that were doubtful, not read, or read without giving a name
  kFailed,        // inputs whose last outcome was a failure
  kGone,          // inputs and saved outputs no longer there
  kProblems,      // the problems recorded that the user has not acknowledged
  kAcknowledged,  // the problems the user acknowledged, and when
};
inline constexpr std::string_view kReportWords =
    "frames|gaps|duplicates|doubtful|failed|gone|problems|acknowledged";
std::optional<ReportKind> ReportKindFromWord(std::string_view word);

enum class ReportFormat { kText, kCsv, kJson };
inline constexpr std::string_view kReportFormatWords = "text|csv|json";
std::optional<ReportFormat> ReportFormatFromWord(std::string_view word);

// Prints the report. Text: a line a finding (under a line naming its series or group) and a
// closing count, paths and header texts escaped as the batch's lines escape them. CSV: a row of
// the column names, then a row a finding, quoted where a field needs it. JSON: an array of one
// object a finding, each on a line of its own. Both give texts as UTF-8 (a byte that is not
// becomes U+FFFD) and nothing for an empty field (null in JSON). Returns the number of findings:
// frames, slots missing, groups of duplicates, headers, failed inputs, inputs and outputs gone,
// problems.
std::size_t PrintReport(Catalog& catalog, ReportKind kind, const ReportFilter& filter,
                        ReportFormat format, std::ostream& out);

// When the filter names a satellite, or a code, that no frame carries: a message saying so and
// naming those the frames carry. Nothing when every value it names is carried.
std::optional<std::string> UnmatchedFilter(Catalog& catalog, const ReportFilter& filter);

}  // namespace tessaly::cli
