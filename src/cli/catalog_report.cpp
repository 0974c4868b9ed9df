// The catalogue's reports in words, and as CSV and JSON rows.
#include "cli/catalog_report.h"

#include <cstdio>
#include <ostream>
#include <utility>
#include <vector>

#include "base/text.h"
#include "cli/json.h"
#include "naming/header_fields.h"

namespace tessaly::cli {
namespace {

// A text, or null for nothing.
Json Value(const std::optional<std::string>& text) {
  return text ? Json(*text) : Json();
}
Json Value(const std::string& text) {
  return text.empty() ? Json() : Json(text);
}

// "-" stands for nothing in the text reports.
std::string Shown(const std::optional<std::string>& text) {
  return text ? EscapeControls(*text) : "-";
}

std::string Counted(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The text as valid UTF-8, a byte that does not belong to a sequence made U+FFFD, as JsonText
// makes it: a CSV file then reads as UTF-8 whatever bytes a path holds.
std::string ValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = Utf8SequenceLength(text, i);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
  return out;
}

// One CSV field: quoted, its quotes doubled, when it holds a separator, a quote or a line break;
// a list as its items with a blank between them.
std::string CsvField(const Json& value) {
  if (value.is_null()) return {};
  std::string text;
  if (value.is_string()) {
    text = ValidUtf8(value.get<std::string>());
  } else if (value.is_array()) {
    for (const Json& item : value) text += (text.empty() ? "" : " ") + item.get<std::string>();
  } else {
    text = JsonText(value);
  }
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

// A CSV or JSON report, printed a row at a time: the column names (CSV) or the array's start
// at once, each row as it comes (an object with the columns as keys, in their order), the end
// with Finish.
class Table {
 public:
  Table(ReportFormat format, std::vector<const char*> columns, std::ostream& out)
      : json_(format == ReportFormat::kJson), columns_(std::move(columns)), out_(out) {
    if (json_) {
      out_ << '[';
      return;
    }
    for (std::size_t i = 0; i < columns_.size(); ++i) out_ << (i == 0 ? "" : ",") << columns_[i];
    out_ << '\n';
  }

  void Row(const Json& row) {
    if (json_) {
      out_ << (rows_ == 0 ? "\n" : ",\n") << JsonText(row);
    } else {
      for (std::size_t i = 0; i < columns_.size(); ++i) {
        out_ << (i == 0 ? "" : ",") << CsvField(row[columns_[i]]);
      }
      out_ << '\n';
    }
    ++rows_;
  }

  void Finish() {
    if (json_) out_ << (rows_ == 0 ? "]\n" : "\n]\n");
  }

 private:
  bool json_;
  std::vector<const char*> columns_;
  std::ostream& out_;
  std::size_t rows_ = 0;
};

std::size_t Frames(Catalog& catalog, const ReportFilter& filter, ReportFormat format,
                   std::ostream& out) {
  if (format == ReportFormat::kText) {
    const std::size_t count = FramesReport(catalog, filter, [&out](const FrameLine& l) {
      out << Shown(l.time) << "  " << Shown(l.satellite) << "  " << Shown(l.kind) << "  "
          << Shown(l.code) << "  " << EscapeControls(l.source);
      if (l.output) out << " -> " << EscapeControls(*l.output);
      out << '\n';
    });
    out << Counted(count, "frame", "frames") << '\n';
    return count;
  }
  Table table(format,
              {"time", "satellite", "kind", "code", "header", "source", "output", "first_filed"},
              out);
  const std::size_t count = FramesReport(catalog, filter, [&table](const FrameLine& l) {
    table.Row({{"time", Value(l.time)},
               {"satellite", Value(l.satellite)},
               {"kind", Value(l.kind)},
               {"code", Value(l.code)},
               {"header", Value(l.header)},
               {"source", l.source},
               {"output", Value(l.output)},
               {"first_filed", Value(l.first_filed)}});
  });
  table.Finish();
  return count;
}

std::string ClockText(long minute_of_day) {
  char text[8];
  std::snprintf(text, sizeof text, "%02ld:%02ld", minute_of_day / 60 % 24, minute_of_day % 60);
  return text;
}

// "GOES8 D2", or the code alone when the satellite is blank or the code stands for it.
std::string SeriesName(const SeriesGaps& s) {
  return s.satellite.empty() || s.satellite == s.code
             ? EscapeControls(s.code)
             : EscapeControls(s.satellite) + " " + EscapeControls(s.code);
}

void GapsText(const std::vector<SeriesGaps>& report, std::ostream& out) {
  for (const SeriesGaps& series : report) {
    if (series.interval_minutes <= 0) {
      out << SeriesName(series) << ": one frame time only, no interval to go by\n";
      continue;
    }
    out << SeriesName(series) << ", every " << series.interval_minutes << " minutes:\n";
    for (const Gap& gap : series.gaps) {
      out << "  " << gap.first_day;
      if (gap.days > 1) out << " to " << gap.last_day;
      if (gap.missing.empty()) {
        out << ": no frames" << (gap.days > 1 ? " (" + std::to_string(gap.days) + " days)" : "")
            << '\n';
        continue;
      }
      out << ": " << gap.missing.size() << " of " << series.slots_per_day << " missing:";
      for (const long slot : gap.missing) out << ' ' << ClockText(slot);
      out << '\n';
    }
    if (series.gaps.empty()) out << "  no slot missing\n";
  }
}

std::size_t Gaps(Catalog& catalog, const ReportFilter& filter, ReportFormat format,
                 std::ostream& out) {
  const std::vector<SeriesGaps> report = GapsReport(catalog, filter);
  std::size_t missing = 0;
  for (const SeriesGaps& series : report)
    missing += static_cast<std::size_t>(series.MissingSlots());
  if (format == ReportFormat::kText) {
    GapsText(report, out);
    out << Counted(missing, "slot missing", "slots missing") << '\n';
    return missing;
  }
  // A series with one frame time has no interval to find gaps by, and no row.
  Table table(format,
              {"satellite", "code", "interval_minutes", "slots_per_day", "first_day", "last_day",
               "days", "missing_slots", "missing_times"},
              out);
  for (const SeriesGaps& series : report) {
    for (const Gap& gap : series.gaps) {
      Json times = Json::array();
      for (const long slot : gap.missing) times.push_back(ClockText(slot));
      table.Row({{"satellite", Value(series.satellite)},
                 {"code", series.code},
                 {"interval_minutes", series.interval_minutes},
                 {"slots_per_day", series.slots_per_day},
                 {"first_day", gap.first_day},
                 {"last_day", gap.last_day},
                 {"days", gap.days},
                 {"missing_slots", gap.missing.empty() ? gap.days * series.slots_per_day
                                                       : static_cast<long>(gap.missing.size())},
                 {"missing_times", times}});
    }
  }
  table.Finish();
  return missing;
}

std::size_t Duplicates(Catalog& catalog, ReportFormat format, std::ostream& out) {
  const std::vector<DuplicateGroup> groups = DuplicatesReport(catalog);
  if (format == ReportFormat::kText) {
    for (const DuplicateGroup& g : groups) {
      out << (g.same_content
                  ? "same content (source hash " + g.key + "):\n"
                  : "same header \"" + EscapeControls(g.key) + "\", different content:\n");
      for (const std::string& source : g.sources) out << "  " << EscapeControls(source) << '\n';
    }
    out << Counted(groups.size(), "group of duplicates", "groups of duplicates") << '\n';
    return groups.size();
  }
  Table table(format, {"group", "same", "key", "source"}, out);
  for (std::size_t i = 0; i < groups.size(); ++i) {
    for (const std::string& source : groups[i].sources) {
      table.Row({{"group", i + 1},
                 {"same", groups[i].same_content ? "content" : "header"},
                 {"key", groups[i].key},
                 {"source", source}});
    }
  }
  table.Finish();
  return groups.size();
}

// Why a header that was read surely names nothing, in the words that follow "header read, but".
std::string NoNameProblem(const std::string& header_utf8) {
  std::string latin1;
  const std::string problem = Utf8ToLatin1(header_utf8, latin1) ? HeaderProblem(latin1) : "";
  return problem.empty() ? "it gives no name" : problem;
}

std::string DoubtfulText(const DoubtfulLine& l) {
  const std::string quoted = ": \"" + EscapeControls(l.header) + "\"";
  switch (l.state) {
    case HeaderState::kDoubtful: {
      char confidence[32] = "";
      if (l.confidence)
        std::snprintf(confidence, sizeof confidence, " (confidence %.2f)", *l.confidence);
      return "header doubtful" + std::string(confidence) + quoted;
    }
    case HeaderState::kNotRead:
      return "header not read";
    case HeaderState::kNoName:
    case HeaderState::kNamed:  // not listed: a named header is doubtful or not in the report
      break;
  }
  return "header read, but " + NoNameProblem(l.header) + quoted;
}

std::size_t Doubtful(Catalog& catalog, ReportFormat format, std::ostream& out) {
  const std::vector<DoubtfulLine> lines = DoubtfulReport(catalog);
  if (format == ReportFormat::kText) {
    for (const DoubtfulLine& l : lines) {
      out << EscapeControls(l.source) << ": " << DoubtfulText(l) << '\n';
    }
    out << Counted(lines.size(), "header doubtful or not read", "headers doubtful or not read")
        << '\n';
    return lines.size();
  }
  Table table(format, {"source", "state", "header", "confidence", "problem"}, out);
  for (const DoubtfulLine& l : lines) {
    const bool no_name = l.state == HeaderState::kNoName;
    table.Row({{"source", l.source},
               {"state", l.state == HeaderState::kDoubtful ? "doubtful"
                         : no_name                         ? "no name"
                                                           : "not read"},
               {"header", l.header},
               {"confidence", l.confidence ? Json(RoundedConfidence(*l.confidence)) : Json()},
               {"problem", no_name ? Json(NoNameProblem(l.header)) : Json()}});
  }
  table.Finish();
  return lines.size();
}

std::size_t Failed(Catalog& catalog, ReportFormat format, std::ostream& out) {
  const std::vector<FailedLine> lines = FailedReport(catalog);
  if (format == ReportFormat::kText) {
    for (const FailedLine& l : lines) {
      out << EscapeControls(l.source) << ": " << EscapeControls(l.reason) << " (" << l.processed_at
          << ")\n";
    }
    out << Counted(lines.size(), "input failed", "inputs failed") << '\n';
    return lines.size();
  }
  Table table(format, {"source", "reason", "processed_at"}, out);
  for (const FailedLine& l : lines) {
    table.Row(
        {{"source", l.source}, {"reason", Value(l.reason)}, {"processed_at", l.processed_at}});
  }
  table.Finish();
  return lines.size();
}

std::size_t Gone(Catalog& catalog, bool verify, ReportFormat format, std::ostream& out) {
  const std::vector<GoneLine> lines = GoneReport(catalog, verify);
  if (format == ReportFormat::kText) {
    std::size_t inputs = 0;
    for (const GoneLine& l : lines) {
      inputs += l.input ? 1 : 0;
      out << EscapeControls(l.path);
      if (l.input) {
        out << ": input gone\n";
      } else {
        out << (l.changed ? ": changed since it was saved" : ": gone") << " (from "
            << EscapeControls(l.source) << ")\n";
      }
    }
    out << Counted(inputs, "input gone, ", "inputs gone, ")
        << Counted(lines.size() - inputs, "output", "outputs")
        << (verify ? " gone or changed\n" : " gone\n");
    return lines.size();
  }
  Table table(format, {"path", "role", "state", "source"}, out);
  for (const GoneLine& l : lines) {
    table.Row({{"path", l.path},
               {"role", l.input ? "input" : "output"},
               {"state", l.changed ? "changed" : "gone"},
               {"source", l.source}});
  }
  table.Finish();
  return lines.size();
}

std::size_t Problems(Catalog& catalog, Acknowledgement which, ReportFormat format,
                     std::ostream& out) {
  const std::vector<ProblemLine> lines = ProblemsReport(catalog, which);
  const bool open = which == Acknowledgement::kOpen;
  if (format == ReportFormat::kText) {
    for (const ProblemLine& l : lines) {
      out << EscapeControls(l.source) << ": " << EscapeControls(l.problem);
      if (l.detail) out << ": " << EscapeControls(*l.detail);
      out << " (" << l.processed_at;
      if (l.acknowledged) out << ", acknowledged " << *l.acknowledged;
      out << ")\n";
    }
    out << Counted(lines.size(), open ? "open problem" : "problem acknowledged",
                   open ? "open problems" : "problems acknowledged")
        << '\n';
    return lines.size();
  }
  Table table(format, {"source", "problem", "detail", "processed_at", "acknowledged"}, out);
  for (const ProblemLine& l : lines) {
    table.Row({{"source", l.source},
               {"problem", l.problem},
               {"detail", Value(l.detail)},
               {"processed_at", l.processed_at},
               {"acknowledged", Value(l.acknowledged)}});
  }
  table.Finish();
  return lines.size();
}

// At most this many of the values the frames carry are named when a filter's matches none.
constexpr std::size_t kValuesNamed = 12;

std::string ValueList(const std::vector<std::string>& values) {
  if (values.empty()) return "none";
  std::string list;
  for (std::size_t i = 0; i < values.size() && i < kValuesNamed; ++i) {
    list += (i == 0 ? "" : ", ") + EscapeControls(values[i]);
  }
  if (values.size() > kValuesNamed) {
    list += " and " + std::to_string(values.size() - kValuesNamed) + " more";
  }
  return list;
}

}  // namespace

std::optional<ReportKind> ReportKindFromWord(std::string_view word) {
  static constexpr std::pair<std::string_view, ReportKind> kWords[] = {
      {"frames", ReportKind::kFrames},         {"gaps", ReportKind::kGaps},
      {"duplicates", ReportKind::kDuplicates}, {"doubtful", ReportKind::kDoubtful},
      {"failed", ReportKind::kFailed},         {"gone", ReportKind::kGone},
      {"problems", ReportKind::kProblems},     {"acknowledged", ReportKind::kAcknowledged}};
  for (const auto& [text, kind] : kWords) {
    if (word == text) return kind;
  }
  return std::nullopt;
}

std::optional<ReportFormat> ReportFormatFromWord(std::string_view word) {
  if (word == "text") return ReportFormat::kText;
  if (word == "csv") return ReportFormat::kCsv;
  if (word == "json") return ReportFormat::kJson;
  return std::nullopt;
}

std::size_t PrintReport(Catalog& catalog, ReportKind kind, const ReportFilter& filter,
                        ReportFormat format, std::ostream& out) {
  switch (kind) {
    case ReportKind::kFrames:
      return Frames(catalog, filter, format, out);
    case ReportKind::kGaps:
      return Gaps(catalog, filter, format, out);
    case ReportKind::kDuplicates:
      return Duplicates(catalog, format, out);
    case ReportKind::kDoubtful:
      return Doubtful(catalog, format, out);
    case ReportKind::kFailed:
      return Failed(catalog, format, out);
    case ReportKind::kGone:
      return Gone(catalog, filter.verify_outputs, format, out);
    case ReportKind::kProblems:
      return Problems(catalog, Acknowledgement::kOpen, format, out);
    case ReportKind::kAcknowledged:
      return Problems(catalog, Acknowledgement::kAcknowledged, format, out);
  }
  return 0;
}

std::optional<std::string> UnmatchedFilter(Catalog& catalog, const ReportFilter& filter) {
  if (!filter.satellite.empty() && !AnyFrameCarries(catalog, filter.satellite, "")) {
    return "no frame carries the satellite \"" + EscapeControls(filter.satellite) +
           "\" (the catalogue's satellites: " + ValueList(SatellitesCarried(catalog)) + ")";
  }
  if (!filter.code.empty() && !AnyFrameCarries(catalog, filter.satellite, filter.code)) {
    const std::string of =
        filter.satellite.empty() ? "" : " of " + EscapeControls(filter.satellite);
    const std::string whose = filter.satellite.empty()
                                  ? "the catalogue's codes"
                                  : EscapeControls(filter.satellite) + "'s codes";
    return "no frame" + of + " carries the code \"" + EscapeControls(filter.code) + "\" (" + whose +
           ": " + ValueList(CodesCarried(catalog, filter.satellite)) + ")";
  }
  return std::nullopt;
}

}  // namespace tessaly::cli
