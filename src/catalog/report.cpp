// The catalogue's reports: SQL over the indexes, and the slot arithmetic of the gaps.
#include "catalog/report.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <ostream>
#include <set>
#include <system_error>
#include <vector>

#include "base/errors.h"
#include "base/text.h"

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

std::string Shown(const std::optional<std::string>& text) {
  return text ? EscapeControls(*text) : "-";
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

std::size_t Frames(Catalog& catalog, const ReportFilter& filter, std::ostream& out) {
  const Conditions c = FilterConditions(filter);
  Statement s = Run(catalog, FramesSql(filter), c.values);
  std::size_t count = 0;
  while (s.Step()) {
    ++count;
    out << Shown(s.Text(0)) << "  " << Shown(s.Text(1)) << "  " << Shown(s.Text(2)) << "  "
        << Shown(s.Text(3)) << "  " << EscapeControls(catalog.PathFromTable(*s.Text(4)));
    if (const auto output = s.Text(5)) {
      out << " -> " << EscapeControls(catalog.PathFromTable(*output));
    }
    out << '\n';
  }
  out << count << (count == 1 ? " frame\n" : " frames\n");
  return count;
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

std::string ClockText(long minute_of_day) {
  const auto hour = static_cast<int>(minute_of_day / 60 % 24);
  const auto minute = static_cast<int>(minute_of_day % 60);
  return std::string{char('0' + hour / 10), char('0' + hour % 10), ':', char('0' + minute / 10),
                     char('0' + minute % 10)};
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

// The missing slots of one satellite's code, day by day, from its first day to its last (or
// over the filter's days).
std::size_t SeriesGaps(const std::string& series, const std::set<long>& times,
                       const ReportFilter& filter, std::ostream& out) {
  const long interval =
      filter.interval_minutes > 0 ? filter.interval_minutes : CommonestSpacing(times);
  if (interval <= 0) {
    out << series << ": one frame time only, no interval to go by (give one)\n";
    return 0;
  }
  // Slots fall where most frames fall: at the commonest minute of the day modulo the interval.
  std::map<long, int> phases;
  for (long t : times) ++phases[FloorMod(FloorMod(t, kMinutesPerDay), interval)];
  const long phase =
      std::max_element(phases.begin(), phases.end(), [](const auto& a, const auto& b) {
        return a.second < b.second;
      })->first;
  long first_day = FloorDiv(*times.begin(), kMinutesPerDay);
  long last_day = FloorDiv(*times.rbegin(), kMinutesPerDay);
  if (!filter.from.empty()) {
    first_day = sys_days(CheckedDay(filter.from, "first")).time_since_epoch().count();
  }
  if (!filter.to.empty()) {
    last_day = sys_days(CheckedDay(filter.to, "last")).time_since_epoch().count();
  }
  const long slots_per_day = (kMinutesPerDay - phase + interval - 1) / interval;
  out << series << ", every " << interval << " minutes:\n";
  std::size_t missing_total = 0;
  for (long day = first_day; day <= last_day; ++day) {
    std::vector<long> missing;
    for (long slot = phase; slot < kMinutesPerDay; slot += interval) {
      if (times.count(day * kMinutesPerDay + slot) == 0) missing.push_back(slot);
    }
    if (missing.empty()) continue;
    missing_total += missing.size();
    out << "  " << DayText(year_month_day(sys_days(std::chrono::days(day)))) << ": ";
    if (static_cast<long>(missing.size()) == slots_per_day) {
      out << "no frames\n";
      continue;
    }
    out << missing.size() << " of " << slots_per_day << " missing:";
    for (long slot : missing) out << ' ' << ClockText(slot);
    out << '\n';
  }
  if (missing_total == 0) out << "  no slot missing\n";
  return missing_total;
}

std::size_t Gaps(Catalog& catalog, const ReportFilter& filter, std::ostream& out) {
  Conditions c = FilterConditions(filter);
  c.Add("code IS NOT NULL");
  Statement s =
      Run(catalog,
          "SELECT satellite, code, time FROM frames" + c.sql + " ORDER BY satellite, code, time",
          c.values);
  std::map<std::pair<std::string, std::string>, std::set<long>> series;
  while (s.Step()) {
    const auto minutes = MinutesOf(s.Text(2).value_or(""));
    if (minutes) series[{s.Text(0).value_or(""), s.Text(1).value_or("")}].insert(*minutes);
  }
  std::size_t missing = 0;
  for (const auto& [key, times] : series) {
    const std::string name = key.first.empty() || key.first == key.second
                                 ? EscapeControls(key.second)
                                 : EscapeControls(key.first) + " " + EscapeControls(key.second);
    missing += SeriesGaps(name, times, filter, out);
  }
  out << missing << (missing == 1 ? " slot missing\n" : " slots missing\n");
  return missing;
}

std::size_t Duplicates(Catalog& catalog, std::ostream& out) {
  std::size_t groups = 0;
  std::optional<std::string> current;
  Statement same = catalog.Prepare(
      "SELECT source_hash, source FROM frames WHERE source_hash IN (SELECT source_hash FROM "
      "frames WHERE source_hash IS NOT NULL GROUP BY source_hash HAVING count(*) > 1) ORDER BY "
      "source_hash, source");
  while (same.Step()) {
    const std::string hash = same.Text(0).value_or("");
    if (hash != current) {
      ++groups;
      current = hash;
      out << "same content (source hash " << hash << "):\n";
    }
    out << "  " << EscapeControls(catalog.PathFromTable(*same.Text(1))) << '\n';
  }
  // Two receptions of one broadcast, or a copy that was changed: the header is the same, the
  // bytes are not. Only headers that named a file count; blank or unreadable ones are alike.
  current.reset();
  Statement header = catalog.Prepare(
      "SELECT trim(header), source FROM frames WHERE named_from IN ('header', 'alternative') AND "
      "trim(header) IN (SELECT trim(header) FROM frames WHERE named_from IN ('header', "
      "'alternative') GROUP BY trim(header) HAVING count(DISTINCT coalesce(source_hash, source)) "
      "> 1) ORDER BY 1, source");
  while (header.Step()) {
    const std::string text = header.Text(0).value_or("");
    if (text != current) {
      ++groups;
      current = text;
      out << "same header \"" << EscapeControls(text) << "\", different content:\n";
    }
    out << "  " << EscapeControls(catalog.PathFromTable(*header.Text(1))) << '\n';
  }
  out << groups << (groups == 1 ? " group of duplicates\n" : " groups of duplicates\n");
  return groups;
}

std::size_t Doubtful(Catalog& catalog, std::ostream& out) {
  Statement s = catalog.Prepare(
      "SELECT source, header, header_doubtful, header_confidence FROM frames WHERE "
      "header_doubtful = 1 OR named_from = 'input' ORDER BY source");
  std::size_t count = 0;
  while (s.Step()) {
    ++count;
    const std::string header = s.Text(1).value_or("");
    out << EscapeControls(catalog.PathFromTable(*s.Text(0))) << ": ";
    if (s.Int(2).value_or(0) != 0) {
      out << "header doubtful";
      if (const auto confidence = s.Real(3)) {
        char text[32];
        std::snprintf(text, sizeof text, " (confidence %.2f)", *confidence);
        out << text;
      }
      out << ": \"" << EscapeControls(header) << "\"\n";
      continue;
    }
    std::string latin1;
    const std::string problem = Utf8ToLatin1(header, latin1) ? HeaderProblem(latin1) : "";
    if (Trim(header).empty()) {
      out << "header not read\n";
    } else {
      out << "header read, but " << (problem.empty() ? "it gives no name" : problem) << ": \""
          << EscapeControls(header) << "\"\n";
    }
  }
  out << count
      << (count == 1 ? " header doubtful or not read\n" : " headers doubtful or not read\n");
  return count;
}

std::size_t Gone(Catalog& catalog, bool verify, std::ostream& out) {
  Statement s = catalog.Prepare(
      "SELECT output, output_hash, source FROM frames WHERE output IS NOT NULL ORDER BY output");
  std::size_t count = 0;
  while (s.Step()) {
    const std::string output = catalog.PathFromTable(s.Text(0).value_or(""));
    std::error_code ec;
    const bool stands = fs::exists(fs::symlink_status(output, ec));
    bool changed = false;
    if (stands && verify && s.Text(1)) {
      try {
        changed = HashFile(output) != *s.Text(1);
      } catch (const std::exception&) {
        changed = true;
      }
    }
    if (stands && !changed) continue;
    ++count;
    out << EscapeControls(output) << (stands ? ": changed since it was saved" : ": gone")
        << " (from " << EscapeControls(catalog.PathFromTable(*s.Text(2))) << ")\n";
  }
  out << count << (count == 1 ? " output" : " outputs")
      << (verify ? " gone or changed\n" : " gone\n");
  return count;
}

}  // namespace

std::optional<ReportKind> ReportKindFromWord(std::string_view word) {
  static constexpr std::pair<std::string_view, ReportKind> kWords[] = {
      {"frames", ReportKind::kFrames},
      {"gaps", ReportKind::kGaps},
      {"duplicates", ReportKind::kDuplicates},
      {"doubtful", ReportKind::kDoubtful},
      {"gone", ReportKind::kGone}};
  for (const auto& [text, kind] : kWords) {
    if (word == text) return kind;
  }
  return std::nullopt;
}

bool IsDay(std::string_view text) {
  return DayOf(text).has_value();
}

std::string FramesSql(const ReportFilter& filter) {
  return "SELECT time, satellite, kind, code, source, output FROM frames" +
         FilterConditions(filter).sql + " ORDER BY time, source";
}

std::size_t PrintReport(Catalog& catalog, ReportKind kind, const ReportFilter& filter,
                        std::ostream& out) {
  switch (kind) {
    case ReportKind::kFrames:
      return Frames(catalog, filter, out);
    case ReportKind::kGaps:
      return Gaps(catalog, filter, out);
    case ReportKind::kDuplicates:
      return Duplicates(catalog, out);
    case ReportKind::kDoubtful:
      return Doubtful(catalog, out);
    case ReportKind::kGone:
      return Gone(catalog, filter.verify_outputs, out);
  }
  return 0;
}

}  // namespace tessaly
