// The reports people run over a catalogue, as rows: the frames in a date range, the missing
// slots of each picture code, duplicates, doubtful or unread headers, failed inputs, and inputs
// or results that are gone. The words and layouts are the front end's.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/catalog.h"
#include "naming/header_state.h"

namespace tessaly {

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
std::string FramesSql(const Catalog& catalog, const ReportFilter& filter);

// Every report below throws Error for a filter that does not read, or when the catalogue cannot
// be read. Paths are full (FullPath), texts as the table holds them.

struct FrameLine {
  std::optional<std::string> time, satellite, kind, code, header;
  std::string source;
  std::optional<std::string> output, first_filed;
};
// Hands each frame to `visit` as it is read, by time and source: the frames of a whole archive
// are never held at once. Returns their number.
std::size_t FramesReport(Catalog& catalog, const ReportFilter& filter,
                         const std::function<void(const FrameLine&)>& visit);

// A stretch of one series' days that missed slots: a day with some reception and the slots it
// missed, or a run of days without a frame (`missing` empty).
struct Gap {
  std::string first_day, last_day;  // "YYYY-MM-DD"
  long days = 1;
  std::vector<long> missing;  // minutes after midnight, UTC
};
struct SeriesGaps {
  std::string satellite, code;  // the satellite empty or equal to the code for a code alone
  long interval_minutes = 0;    // 0: one frame time only, no interval to go by
  long slots_per_day = 0;
  // The days with some reception first, by day, then the runs of days without a frame.
  std::vector<Gap> gaps;
  long MissingSlots() const;
};
std::vector<SeriesGaps> GapsReport(Catalog& catalog, const ReportFilter& filter);

struct DuplicateGroup {
  bool same_content = true;  // else the same header over different content
  std::string key;           // the content hash, or the trimmed header
  std::vector<std::string> sources;
};
std::vector<DuplicateGroup> DuplicatesReport(Catalog& catalog);

struct DoubtfulLine {
  std::string source;
  HeaderState state = HeaderState::kNotRead;  // doubtful, not read or no name
  std::string header;                         // UTF-8, untrimmed
  std::optional<double> confidence;
};
std::vector<DoubtfulLine> DoubtfulReport(Catalog& catalog);

// Inputs whose last outcome was a failure.
struct FailedLine {
  std::string source;
  std::string reason;  // the row's detail
  std::string processed_at;
};
std::vector<FailedLine> FailedReport(Catalog& catalog);

// Rows that record a problem, by source: the open ones, those the user acknowledged, or both.
enum class Acknowledgement { kOpen, kAcknowledged, kAny };
struct ProblemLine {
  std::string source;
  std::string problem;  // the row's words, as "failed" or "header doubtful, collided"
  std::optional<std::string> detail;
  std::string processed_at;
  std::optional<std::string> acknowledged;  // when, for an acknowledged one
};
std::vector<ProblemLine> ProblemsReport(Catalog& catalog, Acknowledgement which);

// Inputs no longer there, then outputs no longer there (or, verified, no longer as saved).
struct GoneLine {
  bool input = false;  // else an output, of `source`
  std::string path;
  std::string source;
  bool changed = false;  // an output that stands with other content
};
std::vector<GoneLine> GoneReport(Catalog& catalog, bool verify_outputs);

// True when a frame carries the satellite and the code, an empty one standing for any; each
// answered from an index.
bool AnyFrameCarries(Catalog& catalog, const std::string& satellite, const std::string& code);
// What a filter value that matches no frame may have meant, sorted: the satellites the frames
// carry, and the codes of the frames of `satellite` (of every frame when it is empty). These
// read a whole index: ask them only once AnyFrameCarries said no.
std::vector<std::string> SatellitesCarried(Catalog& catalog);
std::vector<std::string> CodesCarried(Catalog& catalog, const std::string& satellite);

}  // namespace tessaly
