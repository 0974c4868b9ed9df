// The catalogue's reports: SQL over the indexes, and the slot arithmetic of the gaps.
#include "catalog/report.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <system_error>
#include <vector>

#include "base/errors.h"
#include "base/text.h"
#include "catalog/content_hash.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using std::chrono::sys_days;
using std::chrono::year_month_day;

constexpr long kMinutesPerDay = 24 * 60;

// Division and remainder rounding down, for the times before 1970 that the century rule
// admits.
long FloorDiv(long a, long b) {
  return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0);
}
long FloorMod(long a, long b) {
  return a - FloorDiv(a, b) * b;
}

std::optional<year_month_day> DayOf(std::string_view text) {
  int y = 0;
  unsigned m = 0, d = 0;
  char end = 0;
  if (text.size() != 10 ||
      std::sscanf(std::string(text).c_str(), "%4d-%2u-%2u%c", &y, &m, &d, &end) != 3) {
    return std::nullopt;
  }
  const year_month_day day{std::chrono::year{y}, std::chrono::month{m}, std::chrono::day{d}};
  if (!day.ok()) return std::nullopt;
  return day;
}

std::string DayText(const year_month_day& day) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(day.year()),
                static_cast<unsigned>(day.month()), static_cast<unsigned>(day.day()));
  return text;
}

year_month_day CheckedDay(const std::string& text, const char* which) {
  const std::optional<year_month_day> day = DayOf(text);
  if (!day) {
    throw Error("The report's " + std::string(which) + " day \"" + EscapeControls(text) +
                "\" is not a day (YYYY-MM-DD)");
  }
  return *day;
}

// A WHERE clause and the values of its numbered parameters.
struct Conditions {
  std::string sql;
  std::vector<std::string> values;
  void Add(const std::string& condition) { sql += (sql.empty() ? " WHERE " : " AND ") + condition; }
  void Add(const std::string& left, const std::string& value) {
    values.push_back(value);
    Add(left + " ?" + std::to_string(values.size()));
  }
};

Conditions FilterConditions(const ReportFilter& f) {
  Conditions c;
  c.Add("time IS NOT NULL");
  if (!f.satellite.empty()) c.Add("satellite =", f.satellite);
  if (!f.code.empty()) c.Add("code =", f.code);
  if (!f.from.empty()) c.Add("time >=", DayText(CheckedDay(f.from, "first")));
  if (!f.to.empty()) {
    c.Add("time <", DayText(sys_days(CheckedDay(f.to, "last")) + std::chrono::days(1)));
  }
  return c;
}

Statement Run(Catalog& catalog, const std::string& sql, const std::vector<std::string>& values) {
  Statement s = catalog.Prepare(sql);
  for (std::size_t i = 0; i < values.size(); ++i) s.Bind(static_cast<int>(i + 1), values[i]);
  return s;
}

// Minutes since 1970 of a catalogue time ("YYYY-MM-DDTHH:MMZ").
std::optional<long> MinutesOf(const std::string& time) {
  const std::optional<year_month_day> day = DayOf(std::string_view(time).substr(0, 10));
  unsigned hour = 0, minute = 0;
  if (!day || time.size() != 17 ||
      std::sscanf(time.c_str() + 10, "T%2u:%2uZ", &hour, &minute) != 2) {
    return std::nullopt;
  }
  return sys_days(*day).time_since_epoch().count() * kMinutesPerDay + hour * 60 + minute;
}

// The commonest spacing between consecutive frames (the smaller of equals); 0 with fewer than
// two distinct times.
long CommonestSpacing(const std::set<long>& times) {
  std::map<long, int> spacings;
  for (auto it = std::next(times.begin()); it != times.end(); ++it) {
    ++spacings[*it - *std::prev(it)];
  }
  long best = 0;
  int seen = 0;
  for (const auto& [spacing, n] : spacings) {
    if (n > seen) best = spacing, seen = n;
  }
  return best;
}

// The slot a series' frames fall in most: its commonest minute of the day modulo the interval.
long CommonestPhase(const std::set<long>& times, long interval) {
  std::map<long, int> phases;
  for (long t : times) ++phases[FloorMod(FloorMod(t, kMinutesPerDay), interval)];
  return std::max_element(phases.begin(), phases.end(),
                          [](const auto& a, const auto& b) { return a.second < b.second; })
      ->first;
}

std::string DayText(long day) {
  return DayText(year_month_day(sys_days(std::chrono::days(day))));
}

// The missing slots of one satellite's code, day by day, from its first day to its last (or
// over the filter's days): the days with some reception, then the runs of days without one.
void FindGaps(SeriesGaps& series, const std::set<long>& times, const ReportFilter& filter) {
  const long interval = series.interval_minutes;
  const long phase = CommonestPhase(times, interval);
  long first_day = FloorDiv(*times.begin(), kMinutesPerDay);
  long last_day = FloorDiv(*times.rbegin(), kMinutesPerDay);
  if (!filter.from.empty()) {
    first_day = sys_days(CheckedDay(filter.from, "first")).time_since_epoch().count();
  }
  if (!filter.to.empty()) {
    last_day = sys_days(CheckedDay(filter.to, "last")).time_since_epoch().count();
  }
  series.slots_per_day = (kMinutesPerDay - phase + interval - 1) / interval;
  std::vector<Gap> empty_runs;
  long run_start = 0;  // the first day of the last run of empty_runs
  std::vector<long> missing;
  for (long day = first_day; day <= last_day; ++day) {
    missing.clear();
    for (long slot = phase; slot < kMinutesPerDay; slot += interval) {
      if (times.count(day * kMinutesPerDay + slot) == 0) missing.push_back(slot);
    }
    if (missing.empty()) continue;
    if (static_cast<long>(missing.size()) < series.slots_per_day) {
      series.gaps.push_back({DayText(day), DayText(day), 1, missing});
    } else if (!empty_runs.empty() && empty_runs.back().days == day - run_start) {
      empty_runs.back().last_day = DayText(day);
      ++empty_runs.back().days;
    } else {
      run_start = day;
      empty_runs.push_back({DayText(day), DayText(day), 1, {}});
    }
  }
  series.gaps.insert(series.gaps.end(), empty_runs.begin(), empty_runs.end());
}

// True when anything stands at the path, a link leading nowhere too.
bool Stands(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

bool SameHash(const std::string& file, const std::string& hash) {
  try {
    return HashFile(file) == hash;
  } catch (const std::exception&) {
    return false;
  }
}

void Assign(std::optional<std::string>& field, std::optional<std::string_view> text) {
  if (!text) {
    field.reset();
  } else if (field) {
    field->assign(*text);
  } else {
    field.emplace(*text);
  }
}

std::vector<std::string> Values(Statement& s) {
  std::vector<std::string> values;
  while (s.Step()) values.push_back(s.Text(0).value_or(""));
  return values;
}

}  // namespace

bool IsDay(std::string_view text) {
  return DayOf(text).has_value();
}

std::string FramesSql(const Catalog& catalog, const ReportFilter& filter) {
  return std::string("SELECT time, satellite, kind, code, header, source, output, ") +
         (catalog.HasColumn("first_filed") ? "first_filed" : "NULL") + " FROM frames" +
         FilterConditions(filter).sql + " ORDER BY time";
}

std::size_t FramesReport(Catalog& catalog, const ReportFilter& filter,
                         const std::function<void(const FrameLine&)>& visit) {
  const Conditions c = FilterConditions(filter);
  Statement s = Run(catalog, FramesSql(catalog, filter), c.values);
  // The index gives the rows by time; the few frames of one time are put in order of their
  // source here, where a sorter in SQLite would carry every row of the report. The lines'
  // strings are refilled row after row.
  std::vector<FrameLine> same_time;
  std::vector<const FrameLine*> by_source;
  std::size_t held = 0, count = 0;
  const auto hand_on = [&] {
    by_source.clear();
    for (std::size_t i = 0; i < held; ++i) by_source.push_back(&same_time[i]);
    std::sort(by_source.begin(), by_source.end(),
              [](const FrameLine* a, const FrameLine* b) { return a->source < b->source; });
    for (const FrameLine* line : by_source) visit(*line);
    count += held;
    held = 0;
  };
  while (s.Step()) {
    if (held > 0 && same_time[0].time != s.TextView(0)) hand_on();
    if (held == same_time.size()) same_time.emplace_back();
    FrameLine& line = same_time[held++];
    Assign(line.time, s.TextView(0));
    Assign(line.satellite, s.TextView(1));
    Assign(line.kind, s.TextView(2));
    Assign(line.code, s.TextView(3));
    Assign(line.header, s.TextView(4));
    catalog.PathFromTable(s.TextView(5).value_or(""), line.source);
    if (const auto output = s.TextView(6)) {
      catalog.PathFromTable(*output, line.output ? *line.output : line.output.emplace());
    } else {
      line.output.reset();
    }
    Assign(line.first_filed, s.TextView(7));
  }
  hand_on();
  return count;
}

long SeriesGaps::MissingSlots() const {
  long count = 0;
  for (const Gap& gap : gaps) {
    count += gap.missing.empty() ? gap.days * slots_per_day : static_cast<long>(gap.missing.size());
  }
  return count;
}

std::vector<SeriesGaps> GapsReport(Catalog& catalog, const ReportFilter& filter) {
  Conditions c = FilterConditions(filter);
  c.Add("code IS NOT NULL");
  Statement s =
      Run(catalog,
          "SELECT satellite, code, time FROM frames" + c.sql + " ORDER BY satellite, code, time",
          c.values);
  std::map<std::pair<std::string, std::string>, std::set<long>> series_times;
  while (s.Step()) {
    const auto minutes = MinutesOf(s.Text(2).value_or(""));
    if (minutes) series_times[{s.Text(0).value_or(""), s.Text(1).value_or("")}].insert(*minutes);
  }
  std::vector<SeriesGaps> report;
  for (const auto& [key, times] : series_times) {
    SeriesGaps& series = report.emplace_back();
    series.satellite = key.first;
    series.code = key.second;
    series.interval_minutes =
        filter.interval_minutes > 0 ? filter.interval_minutes : CommonestSpacing(times);
    if (series.interval_minutes > 0) FindGaps(series, times, filter);
  }
  return report;
}

std::vector<DuplicateGroup> DuplicatesReport(Catalog& catalog) {
  std::vector<DuplicateGroup> groups;
  Statement same = catalog.Prepare(
      "SELECT source_hash, source FROM frames WHERE source_hash IN (SELECT source_hash FROM "
      "frames WHERE source_hash IS NOT NULL GROUP BY source_hash HAVING count(*) > 1) ORDER BY "
      "source_hash, source");
  // Two receptions of one broadcast, or a copy that was changed: the header is the same, the
  // bytes are not. Only headers that named a file count; blank or unreadable ones are alike.
  Statement header = catalog.Prepare(
      "SELECT trim(header), source FROM frames WHERE named_from IN ('header', 'alternative') AND "
      "trim(header) IN (SELECT trim(header) FROM frames WHERE named_from IN ('header', "
      "'alternative') GROUP BY trim(header) HAVING count(DISTINCT coalesce(source_hash, source)) "
      "> 1) ORDER BY 1, source");
  for (Statement* s : {&same, &header}) {
    while (s->Step()) {
      const std::string key = s->Text(0).value_or("");
      if (groups.empty() || groups.back().key != key ||
          groups.back().same_content != (s == &same)) {
        groups.push_back({s == &same, key, {}});
      }
      groups.back().sources.push_back(catalog.PathFromTable(s->Text(1).value_or("")));
    }
  }
  for (DuplicateGroup& group : groups) std::sort(group.sources.begin(), group.sources.end());
  return groups;
}

std::vector<DoubtfulLine> DoubtfulReport(Catalog& catalog) {
  Statement s = catalog.Prepare(
      "SELECT source, header, header_doubtful, header_confidence FROM frames WHERE "
      "header_doubtful = 1 OR named_from = 'input' ORDER BY source");
  std::vector<DoubtfulLine> lines;
  while (s.Step()) {
    DoubtfulLine& line = lines.emplace_back();
    line.source = catalog.PathFromTable(s.Text(0).value_or(""));
    line.header = s.Text(1).value_or("");
    // A doubtful reading is listed as doubtful, also when --accept-doubtful named from it.
    const bool doubtful = s.Int(2).value_or(0) != 0;
    line.state = doubtful ? HeaderState::kDoubtful
                          : HeaderStateOf(line.header, NamedFrom::kInputName, false);
    if (doubtful) line.confidence = s.Real(3);
  }
  return lines;
}

std::vector<FailedLine> FailedReport(Catalog& catalog) {
  Statement s = catalog.Prepare(
      "SELECT source, detail, processed_at FROM frames WHERE outcome = 'failed' ORDER BY source");
  std::vector<FailedLine> lines;
  while (s.Step()) {
    lines.push_back({catalog.PathFromTable(s.Text(0).value_or("")), s.Text(1).value_or(""),
                     s.Text(2).value_or("")});
  }
  return lines;
}

std::vector<ProblemLine> ProblemsReport(Catalog& catalog, Acknowledgement which) {
  // A catalogue read as it is may have rows from before problems were recorded: theirs are
  // told from their outcome and header, as an upgrade fills them in.
  const std::string problem = catalog.ColumnOrFill("problem");
  const std::string acknowledged = catalog.ColumnOrFill("acknowledged");
  std::string sql = "SELECT source, " + problem + ", detail, processed_at, " + acknowledged +
                    " FROM frames WHERE " + problem + " IS NOT NULL";
  if (which == Acknowledgement::kOpen) sql += " AND " + acknowledged + " IS NULL";
  if (which == Acknowledgement::kAcknowledged) sql += " AND " + acknowledged + " IS NOT NULL";
  Statement s = catalog.Prepare(sql + " ORDER BY source");
  std::vector<ProblemLine> lines;
  while (s.Step()) {
    lines.push_back({catalog.PathFromTable(s.Text(0).value_or("")), s.Text(1).value_or(""),
                     s.Text(2), s.Text(3).value_or(""), s.Text(4)});
  }
  return lines;
}

std::vector<GoneLine> GoneReport(Catalog& catalog, bool verify_outputs) {
  Statement s = catalog.Prepare("SELECT source, output, output_hash FROM frames");
  std::vector<GoneLine> inputs, outputs;
  while (s.Step()) {
    const std::string source = catalog.PathFromTable(s.Text(0).value_or(""));
    if (!Stands(source)) inputs.push_back({true, source, source});
    const std::optional<std::string> output = s.Text(1);
    if (!output) continue;
    GoneLine line{false, catalog.PathFromTable(*output), source};
    if (Stands(line.path)) {
      if (!verify_outputs || !s.Text(2) || SameHash(line.path, *s.Text(2))) continue;
      line.changed = true;
    }
    outputs.push_back(std::move(line));
  }
  const auto by_path = [](const GoneLine& a, const GoneLine& b) { return a.path < b.path; };
  std::sort(inputs.begin(), inputs.end(), by_path);
  std::sort(outputs.begin(), outputs.end(), by_path);
  inputs.insert(inputs.end(), outputs.begin(), outputs.end());
  return inputs;
}

bool AnyFrameCarries(Catalog& catalog, const std::string& satellite, const std::string& code) {
  Conditions c;
  if (!satellite.empty()) c.Add("satellite =", satellite);
  if (!code.empty()) c.Add("code =", code);
  Statement s = Run(catalog, "SELECT 1 FROM frames" + c.sql + " LIMIT 1", c.values);
  return s.Step();
}

std::vector<std::string> SatellitesCarried(Catalog& catalog) {
  Statement s = catalog.Prepare(
      "SELECT DISTINCT satellite FROM frames WHERE satellite IS NOT NULL ORDER BY 1");
  return Values(s);
}

std::vector<std::string> CodesCarried(Catalog& catalog, const std::string& satellite) {
  Conditions c;
  c.Add("code IS NOT NULL");
  if (!satellite.empty()) c.Add("satellite =", satellite);
  Statement s = Run(catalog, "SELECT DISTINCT code FROM frames" + c.sql + " ORDER BY 1", c.values);
  return Values(s);
}

}  // namespace tessaly
