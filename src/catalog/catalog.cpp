// The catalogue over SQLite: schema, the rows waiting for their transaction, and the checks of
// a rerun.
#include "catalog/catalog.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <set>
#include <system_error>
#include <utility>
#include <vector>

#include "base/errors.h"
#include "base/text.h"
#include "tessaly/version.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A column of `frames`. The table of a new catalogue, the upgrade of an older one (every
// column it lacks is added), and the statements that read and write rows all follow this list,
// so a column that joins the table is one line here, beside its FrameRow field and its line in
// BindRow and ReadRow. ALTER TABLE gives it to an older catalogue, so it has to allow NULL.
struct Column {
  const char* name;
  const char* type;            // as CREATE TABLE and ALTER TABLE ... ADD COLUMN take it
  const char* fill = nullptr;  // SQL for its value in the rows an older catalogue holds
  bool kept = false;           // a rerun's row leaves a value already there
  // SQL for the value once a rerun's row replaces the row (frames.NAME is the earlier row's,
  // excluded.NAME the rerun's); null: the rerun's.
  const char* rerun = nullptr;
};

// The problem of a row written before the column joined, as the batch words it from the row's
// outcome and header (cli's ProblemOf, HeaderStateOf): a failure alone; else the header's state
// (doubtful also when it named the file), then a target that was not replaced.
constexpr const char* kProblemOfOlderRows =
    "nullif(trim(coalesce(CASE WHEN outcome = 'failed' OR named_from IS NULL THEN NULL WHEN "
    "named_from <> 'input' THEN CASE WHEN header_doubtful = 1 THEN 'header doubtful' END WHEN "
    "trim(coalesce(header, '')) = '' THEN 'header not read' WHEN header_doubtful = 1 THEN "
    "'header doubtful' ELSE 'header gave no name' END, '') || ', ' || coalesce(CASE WHEN "
    "outcome IN ('failed', 'declined', 'kept original', 'collided') THEN outcome END, '')"
    ", ', '), '')";

// An acknowledgement holds for the problem recorded of the content as it was: a rerun that
// records the same problem of the same content (or, for an input that could not be read then,
// of the same size and last change) keeps it; a changed input, or another problem, is new.
constexpr const char* kAcknowledgementKept =
    "CASE WHEN excluded.problem IS NOT NULL AND excluded.problem IS frames.problem AND CASE WHEN "
    "frames.source_hash IS NULL THEN excluded.source_hash IS NULL AND excluded.source_size IS "
    "frames.source_size AND excluded.source_mtime IS frames.source_mtime ELSE "
    "excluded.source_hash IS frames.source_hash END THEN coalesce(excluded.acknowledged, "
    "frames.acknowledged) ELSE excluded.acknowledged END";

// In the order every statement below binds and reads them.
constexpr Column kColumns[] = {
    {"source", "TEXT PRIMARY KEY NOT NULL"},
    {"source_size", "INTEGER"},
    {"source_mtime", "TEXT"},
    {"source_hash", "TEXT"},
    {"header", "TEXT"},
    {"satellite", "TEXT"},
    {"kind", "TEXT"},
    {"code", "TEXT"},
    {"time", "TEXT"},
    {"message", "TEXT"},
    {"reading", "TEXT"},
    {"named_from", "TEXT"},
    {"header_doubtful", "INTEGER"},
    {"header_confidence", "REAL"},
    {"black", "INTEGER"},
    {"white", "INTEGER"},
    {"cut_x", "INTEGER"},
    {"cut_y", "INTEGER"},
    {"cut_w", "INTEGER"},
    {"cut_h", "INTEGER"},
    {"output", "TEXT"},
    {"output_hash", "TEXT"},
    {"outcome", "TEXT NOT NULL"},
    {"detail", "TEXT"},
    {"tool_version", "TEXT NOT NULL"},
    {"processed_at", "TEXT NOT NULL"},
    // Version 2. A version 1 row that names an output was last written when that output
    // stood: the earliest time the catalogue knows.
    {"first_filed", "TEXT", "CASE WHEN output IS NOT NULL THEN processed_at END", true},
    // An older row knows neither: its output is hashed, and its options are not held against
    // it, until a rerun records them.
    {"output_size", "INTEGER"},
    {"output_mtime", "TEXT"},
    {"source_kind", "TEXT"},
    {"creation_time", "INTEGER"},
    {"problem", "TEXT", kProblemOfOlderRows},
    {"acknowledged", "TEXT", nullptr, false, kAcknowledgementKept},
};

constexpr const char* kIndexes = R"sql(
CREATE INDEX frames_by_time ON frames(time);
CREATE INDEX frames_by_satellite_time ON frames(satellite, time);
CREATE INDEX frames_by_code_time ON frames(code, time);
CREATE INDEX frames_by_source_hash ON frames(source_hash);
)sql";

std::string CreateSql() {
  std::string sql = "CREATE TABLE frames (";
  for (const Column& c : kColumns) {
    sql += std::string(&c == kColumns ? "\n  " : ",\n  ") + c.name + " " + c.type;
  }
  return sql + "\n);" + kIndexes;
}

std::string ColumnList() {
  std::string list;
  for (const Column& c : kColumns) list += std::string(list.empty() ? "" : ", ") + c.name;
  return list;
}

// A rerun's row replaces every field of the earlier one but the kept ones; the row keeps its
// place in the table.
std::string UpsertSql() {
  std::string values;
  std::string updates;
  for (std::size_t i = 0; i < std::size(kColumns); ++i) {
    values += (i == 0 ? "?" : ", ?") + std::to_string(i + 1);
    if (i == 0) continue;
    const Column& c = kColumns[i];
    const std::string name = c.name;
    updates += (i == 1 ? "" : ", ") + name + " = " +
               (c.rerun != nullptr ? std::string(c.rerun)
                : c.kept           ? "coalesce(frames." + name + ", excluded." + name + ")"
                                   : "excluded." + name);
  }
  return "INSERT INTO frames (" + ColumnList() + ") VALUES (" + values +
         ") ON CONFLICT (source) DO UPDATE SET " + updates;
}

// Where the table's paths are relative to: the catalogue's folder, so that an archive moved
// with its catalogue keeps its rows. A path outside that folder stays absolute, so that inputs
// elsewhere stay found when the folder of results moves alone. A catalogue of version 1 read
// as it is holds absolute paths only.
struct PathBase {
  std::string prefix;  // the folder's full path, ending in '/'
  bool relative = false;

  std::string Stored(const std::string& full) const {
    if (!relative) return full;
    if (!full.starts_with('/')) return Stored(FullPath(full));
    if (full.size() > prefix.size() && full.starts_with(prefix)) return full.substr(prefix.size());
    return full;
  }
  std::string Full(std::string_view stored) const {
    std::string full;
    Full(stored, full);
    return full;
  }
  void Full(std::string_view stored, std::string& full) const {
    if (stored.empty() || stored.front() == '/') {
      full.assign(stored);
    } else {
      full.assign(prefix).append(stored);
    }
  }
};

void BindRow(Statement& s, const FrameRow& r, const PathBase& paths) {
  int i = 0;
  s.Bind(++i, paths.Stored(r.source));
  s.Bind(++i, r.source_size);
  s.Bind(++i, r.source_mtime);
  s.Bind(++i, r.source_hash);
  s.Bind(++i, r.header);
  s.Bind(++i, r.satellite);
  s.Bind(++i, r.kind);
  s.Bind(++i, r.code);
  s.Bind(++i, r.time);
  s.Bind(++i, r.message);
  s.Bind(++i, r.reading);
  s.Bind(++i, r.named_from);
  if (r.header_doubtful) {
    s.Bind(++i, std::int64_t{*r.header_doubtful ? 1 : 0});
  } else {
    s.BindNull(++i);
  }
  s.Bind(++i, r.header_confidence);
  for (const auto* value : {&r.black, &r.white, &r.cut_x, &r.cut_y, &r.cut_w, &r.cut_h}) {
    s.Bind(++i, *value);
  }
  if (r.output) {
    s.Bind(++i, paths.Stored(*r.output));
  } else {
    s.BindNull(++i);
  }
  s.Bind(++i, r.output_hash);
  s.Bind(++i, std::string_view(r.outcome));
  s.Bind(++i, r.detail);
  s.Bind(++i, r.tool_version);
  s.Bind(++i, r.processed_at);
  s.Bind(++i, r.first_filed);
  s.Bind(++i, r.output_size);
  s.Bind(++i, r.output_mtime);
  s.Bind(++i, r.source_kind);
  if (r.creation_time) {
    s.Bind(++i, std::int64_t{*r.creation_time ? 1 : 0});
  } else {
    s.BindNull(++i);
  }
  s.Bind(++i, r.problem);
  s.Bind(++i, r.acknowledged);
}

FrameRow ReadRow(const Statement& s, const PathBase& paths) {
  FrameRow r;
  int i = 0;
  r.source = paths.Full(s.Text(i++).value_or(""));
  r.source_size = s.Int(i++);
  r.source_mtime = s.Text(i++);
  r.source_hash = s.Text(i++);
  r.header = s.Text(i++);
  r.satellite = s.Text(i++);
  r.kind = s.Text(i++);
  r.code = s.Text(i++);
  r.time = s.Text(i++);
  r.message = s.Text(i++);
  r.reading = s.Text(i++);
  r.named_from = s.Text(i++);
  if (const auto doubtful = s.Int(i++)) r.header_doubtful = *doubtful != 0;
  r.header_confidence = s.Real(i++);
  for (auto* value : {&r.black, &r.white, &r.cut_x, &r.cut_y, &r.cut_w, &r.cut_h}) {
    *value = s.Int(i++);
  }
  if (const auto output = s.Text(i++)) r.output = paths.Full(*output);
  r.output_hash = s.Text(i++);
  // An outcome only a newer build words is taken as a failure: the file is done again.
  r.outcome = s.Text(i++).value_or(kOutcomeFailed);
  r.detail = s.Text(i++);
  r.tool_version = s.Text(i++).value_or("");
  r.processed_at = s.Text(i++).value_or("");
  r.first_filed = s.Text(i++);
  r.output_size = s.Int(i++);
  r.output_mtime = s.Text(i++);
  r.source_kind = s.Text(i++);
  if (const auto dated = s.Int(i++)) r.creation_time = *dated != 0;
  r.problem = s.Text(i++);
  r.acknowledged = s.Text(i++);
  return r;
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::optional<std::string> Unless(std::string text) {
  if (text.empty()) return std::nullopt;
  return text;
}

}  // namespace

struct Catalog::State {
  fs::path file;
  std::string name;  // the file as messages give it
  sqlite3* db = nullptr;
  PathBase paths;
  std::set<std::string, std::less<>> columns;  // those the table has
  std::mutex mutex;
  StopWaiting stop_waiting;
  Clock::time_point busy_since{};              // the wait under way began
  std::optional<Clock::time_point> stop_seen;  // and was told to stop
  // A catalogue opened for writing leaves WAL mode when it is closed last: a database in WAL
  // mode can be read only by a user who may make its -shm file, or while a writer has it open.
  bool leave_wal = false;
  std::optional<Statement> find;
  std::optional<Statement> upsert;
  // The rows not yet committed, in the order they came; at most kCatalogCommitRows, so a
  // source's row is looked for among them one by one.
  std::vector<FrameRow> waiting;
  Clock::time_point first_waiting{};

  ~State() {
    find.reset();
    upsert.reset();
    if (leave_wal) {
      // Another run or a report still has it open: the last of them to close leaves WAL mode.
      sqlite3_busy_handler(db, nullptr, nullptr);
      sqlite3_exec(db, "PRAGMA journal_mode = DELETE", nullptr, nullptr, nullptr);
    }
    sqlite3_close_v2(db);
  }

  // SQLite's busy handler: waits a little longer each time, up to kCatalogBusyTimeoutMs in all,
  // or kCatalogStoppedWaitMs once stop_waiting holds; SQLite's own timeout would sleep through
  // an interrupt for its whole length.
  static int WaitWhileBusy(void* data, int count) {
    State& s = *static_cast<State*>(data);
    const Clock::time_point now = Clock::now();
    if (count == 0) {
      s.busy_since = now;
      s.stop_seen.reset();
    }
    if (s.stop_waiting && s.stop_waiting()) {
      if (!s.stop_seen) s.stop_seen = now;
      if (now - *s.stop_seen >= std::chrono::milliseconds(kCatalogStoppedWaitMs)) return 0;
    }
    if (now - s.busy_since >= std::chrono::milliseconds(kCatalogBusyTimeoutMs)) return 0;
    sqlite3_sleep(std::min(count + 1, 20));
    return 1;
  }

  [[noreturn]] void Fail(int code) const { throw Error(CatalogError(db, code, name)); }

  int PragmaValue(const char* pragma) {
    Statement s(db, std::string("PRAGMA ") + pragma, name);
    return s.Step() ? static_cast<int>(s.Int(0).value_or(0)) : 0;
  }

  // Creates the table in an empty database, or checks that the database is a catalogue of a
  // schema this build knows and, when it may write, brings it up to this build's. Runs inside
  // the transaction that opens the catalogue.
  void CheckOrCreateSchema(bool may_write) {
    const int application = PragmaValue("application_id");
    int version = PragmaValue("user_version");
    Statement tables(db, "SELECT count(*) FROM sqlite_schema", name);
    const bool empty = tables.Step() && tables.Int(0).value_or(0) == 0;
    if (application == 0 && version == 0 && empty) {
      if (!may_write) throw Error("Catalogue \"" + name + "\": the database is empty");
      Execute(db, CreateSql(), name);
      Execute(db, "PRAGMA application_id = " + std::to_string(kCatalogApplicationId), name);
      Execute(db, "PRAGMA user_version = " + std::to_string(kCatalogSchemaVersion), name);
      version = kCatalogSchemaVersion;
    } else {
      CheckVersion(application, version);
    }
    ReadColumns();
    if (may_write) {
      Upgrade(version);
      version = kCatalogSchemaVersion;
    }
    paths.relative = version >= 2;
  }

  void CheckVersion(int application, int version) const {
    if (application != kCatalogApplicationId) {
      throw Error("Catalogue \"" + name + "\": the database is not a Tessaly catalogue");
    }
    if (version > kCatalogSchemaVersion) {
      throw Error("Catalogue \"" + name + "\": it was made by a newer Tessaly (schema version " +
                  std::to_string(version) + "; this one knows " +
                  std::to_string(kCatalogSchemaVersion) + ")");
    }
    if (version < 1) {
      throw Error("Catalogue \"" + name + "\": schema version " + std::to_string(version) +
                  " is unknown");
    }
  }

  void ReadColumns() {
    columns.clear();
    Statement info(db, "SELECT name FROM pragma_table_info('frames')", name);
    while (info.Step()) columns.insert(info.Text(0).value_or(""));
  }

  // Gives the table the columns it lacks (a catalogue of an earlier version, or one of this
  // version made before a column joined it), each filled for the rows already there, and
  // makes version 1's absolute paths relative.
  void Upgrade(int version) {
    for (const Column& c : kColumns) {
      if (columns.count(c.name) != 0) continue;
      Execute(db, std::string("ALTER TABLE frames ADD COLUMN ") + c.name + " " + c.type, name);
      if (c.fill != nullptr) {
        Execute(db, std::string("UPDATE frames SET ") + c.name + " = " + c.fill, name);
      }
      columns.insert(c.name);
    }
    if (version < 2) MakePathsRelative();
    if (version != kCatalogSchemaVersion) {
      Execute(db, "PRAGMA user_version = " + std::to_string(kCatalogSchemaVersion), name);
    }
  }

  void MakePathsRelative() {
    PathBase to = paths;
    to.relative = true;
    struct Paths {
      std::int64_t rowid;
      std::string source;
      std::optional<std::string> output;
    };
    // Read whole before any is changed: the rows are not rewritten under a running scan.
    std::vector<Paths> rows;
    Statement read(db, "SELECT rowid, source, output FROM frames", name);
    while (read.Step()) rows.push_back({*read.Int(0), *read.Text(1), read.Text(2)});
    Statement update(db, "UPDATE frames SET source = ?2, output = ?3 WHERE rowid = ?1", name);
    for (const Paths& row : rows) {
      const std::string source = to.Stored(row.source);
      std::optional<std::string> output;
      if (row.output) output = to.Stored(*row.output);
      if (source == row.source && output == row.output) continue;
      update.Reset();
      update.Bind(1, row.rowid);
      update.Bind(2, source);
      update.Bind(3, output);
      update.Step();
    }
  }

  std::string SelectSql() const {
    std::string list;
    for (const Column& c : kColumns) {
      list += (list.empty() ? "" : ", ") + (columns.count(c.name) ? std::string(c.name) : "NULL");
    }
    return "SELECT " + list + " FROM frames WHERE source = ?1";
  }

  FrameRow* WaitingRow(const std::string& source) {
    for (auto it = waiting.rbegin(); it != waiting.rend(); ++it) {
      if (it->source == source) return &*it;
    }
    return nullptr;
  }

  void FlushLocked() {
    if (waiting.empty()) return;
    if (!upsert) upsert.emplace(db, UpsertSql(), name);
    Execute(db, "BEGIN IMMEDIATE", name);
    try {
      for (const FrameRow& row : waiting) {
        upsert->Reset();
        BindRow(*upsert, row, paths);
        upsert->Step();
      }
      upsert->Reset();
      Execute(db, "COMMIT", name);
    } catch (...) {
      upsert->Reset();
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
    waiting.clear();
  }
};

bool LeavesAnOutput(std::string_view outcome) {
  return outcome == kOutcomeSaved || outcome == kOutcomeUpToDate;
}

void SetHeader(FrameRow& row, std::string_view header_latin1,
               const std::optional<HeaderFields>& fields, NamedFrom named_from) {
  row.header = Latin1ToUtf8(header_latin1);
  row.named_from = NamedFromText(named_from);
  if (!fields) return;
  row.satellite = Unless(fields->satellite);
  row.kind = Unless(fields->kind);
  row.code = Unless(fields->code);
  row.message = Unless(fields->message);
  if (fields->time) row.time = IsoTime(*fields->time);
}

std::optional<HeaderFields> RecordedHeader(const FrameRow& row) {
  std::string latin1;
  if (!row.header || !Utf8ToLatin1(*row.header, latin1)) return std::nullopt;
  return ReadHeader(latin1);
}

SourceFacts ReadSourceFacts(const fs::path& file) {
  SourceFacts facts;
  facts.stamp = StampOf(file);
  facts.hash = HashFile(file);
  return facts;
}

bool OutputAsRecorded(const FrameRow& row) {
  if (!row.output || !row.output_hash) return false;
  try {
    const FileStamp stamp = StampOf(*row.output);
    if (stamp.size == row.output_size && stamp.mtime == row.output_mtime) return true;
    return HashFile(*row.output) == *row.output_hash;
  } catch (const std::exception&) {
    return false;  // gone, or no longer readable: made again
  }
}

bool UpToDateFromCatalog(const FrameRow& row, const SourceFacts& now) {
  if (!LeavesAnOutput(row.outcome)) return false;
  if (row.source_size != now.stamp.size || row.source_mtime != now.stamp.mtime ||
      row.source_hash != now.hash) {
    return false;
  }
  return OutputAsRecorded(row);
}

bool AcknowledgedNow(const FrameRow& row, SourceFacts& now,
                     const std::function<std::string()>& hash) {
  if (!row.problem || !row.acknowledged || row.source_size != now.stamp.size) return false;
  if (!row.source_hash) return row.source_mtime == now.stamp.mtime;
  if (now.hash.empty()) now.hash = hash();
  return now.hash == *row.source_hash;
}

Catalog::Catalog(std::unique_ptr<State> state) : state_(std::move(state)) {}
Catalog::Catalog(Catalog&&) noexcept = default;
Catalog& Catalog::operator=(Catalog&&) noexcept = default;

Catalog::~Catalog() {
  if (!state_) return;
  try {
    Flush();
  } catch (const std::exception&) {
    // Rows lost here only make the next run do their files again.
  }
}

// Opens the connection and checks (or creates) the schema in one transaction, so that two runs
// starting on a new file create the table once.
std::unique_ptr<Catalog::State> Catalog::Connect(const fs::path& file, bool for_writing,
                                                 StopWaiting stop_waiting) {
  auto state = std::make_unique<State>();
  state->file = file;
  state->name = file.string();
  state->paths.prefix = fs::path(FullPath(file)).parent_path().string();
  if (!state->paths.prefix.ends_with('/')) state->paths.prefix += '/';
  state->stop_waiting = std::move(stop_waiting);
  int code = sqlite3_open_v2(file.c_str(), &state->db,
                             for_writing ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY, nullptr);
  if (code == SQLITE_CANTOPEN && for_writing) {
    // A new catalogue is made under its own name, never through a link: one that leads nowhere
    // would make its target wherever it points.
    sqlite3_close_v2(std::exchange(state->db, nullptr));
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(file, ec)) && !fs::exists(file, ec)) {
      throw Error("Catalogue \"" + state->name +
                  "\": it is a link that leads to no file, and is not followed");
    }
    code =
        sqlite3_open_v2(file.c_str(), &state->db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW, nullptr);
  }
  if (code != SQLITE_OK) state->Fail(code);
  sqlite3_busy_handler(state->db, &State::WaitWhileBusy, state.get());
  Execute(state->db, for_writing ? "BEGIN IMMEDIATE" : "BEGIN", state->name);
  try {
    state->CheckOrCreateSchema(for_writing);
    Execute(state->db, "COMMIT", state->name);
  } catch (...) {
    sqlite3_exec(state->db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  return state;
}

Catalog Catalog::Open(const fs::path& file, StopWaiting stop_waiting) {
  std::unique_ptr<State> state = Connect(file, true, std::move(stop_waiting));
  // WAL lets one run read while another commits, and a killed run leaves the database whole.
  // Without fsync at every commit a power cut may lose the last rows, never make the file
  // unsound; the outputs they name were flushed before their rows were recorded.
  Statement(state->db, "PRAGMA journal_mode = WAL", state->name).Step();
  Execute(state->db, "PRAGMA synchronous = NORMAL", state->name);
  state->leave_wal = true;
  return Catalog(std::move(state));
}

Catalog Catalog::OpenForReading(const fs::path& file, StopWaiting stop_waiting) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) {
    throw Error("Catalogue \"" + file.string() +
                "\": " + (fs::exists(file, ec) ? "not a file" : "no such file"));
  }
  return Catalog(Connect(file, false, std::move(stop_waiting)));
}

std::optional<FrameRow> Catalog::Find(const std::string& source) {
  State& s = *state_;
  const std::lock_guard lock(s.mutex);
  if (const FrameRow* waiting = s.WaitingRow(source)) return *waiting;
  if (!s.find) s.find.emplace(s.db, s.SelectSql(), s.name);
  s.find->Reset();
  s.find->Bind(1, s.paths.Stored(source));
  std::optional<FrameRow> row;
  if (s.find->Step()) row = ReadRow(*s.find, s.paths);
  s.find->Reset();
  return row;
}

void Catalog::Record(FrameRow row) {
  if (row.tool_version.empty()) row.tool_version = version::kText;
  if (row.processed_at.empty()) row.processed_at = UtcNow();
  if (!row.first_filed && row.output && LeavesAnOutput(row.outcome)) {
    row.first_filed = row.processed_at;
  }
  State& s = *state_;
  const std::lock_guard lock(s.mutex);
  if (FrameRow* waiting = s.WaitingRow(row.source)) {
    if (waiting->first_filed) row.first_filed = waiting->first_filed;
    *waiting = std::move(row);
  } else {
    if (s.waiting.empty()) s.first_waiting = Clock::now();
    s.waiting.push_back(std::move(row));
  }
  if (s.waiting.size() >= kCatalogCommitRows ||
      Clock::now() - s.first_waiting >= std::chrono::seconds(kCatalogCommitSeconds)) {
    s.FlushLocked();
  }
}

void Catalog::Flush() {
  State& s = *state_;
  const std::lock_guard lock(s.mutex);
  s.FlushLocked();
}

void Catalog::DropWaiting() {
  State& s = *state_;
  const std::lock_guard lock(s.mutex);
  s.waiting.clear();
}

std::vector<std::string> Catalog::Acknowledge(const std::vector<std::string>& sources,
                                              bool acknowledged) {
  State& s = *state_;
  const std::lock_guard lock(s.mutex);
  s.FlushLocked();
  Statement update(s.db,
                   acknowledged ? "UPDATE frames SET acknowledged = ?2 WHERE source = ?1 AND "
                                  "problem IS NOT NULL"
                                : "UPDATE frames SET acknowledged = NULL WHERE source = ?1 AND "
                                  "acknowledged IS NOT NULL",
                   s.name);
  const std::string now = UtcNow();
  std::vector<std::string> unmatched;
  Execute(s.db, "BEGIN IMMEDIATE", s.name);
  try {
    for (const std::string& source : sources) {
      update.Reset();
      update.Bind(1, s.paths.Stored(source));
      if (acknowledged) update.Bind(2, now);
      update.Step();
      if (sqlite3_changes(s.db) == 0) unmatched.push_back(source);
    }
    update.Reset();
    Execute(s.db, "COMMIT", s.name);
  } catch (...) {
    update.Reset();
    sqlite3_exec(s.db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  return unmatched;
}

int Catalog::AcknowledgeAll() {
  State& s = *state_;
  const std::lock_guard lock(s.mutex);
  s.FlushLocked();
  Statement update(s.db,
                   "UPDATE frames SET acknowledged = ?1 WHERE problem IS NOT NULL AND "
                   "acknowledged IS NULL",
                   s.name);
  update.Bind(1, UtcNow());
  update.Step();
  return sqlite3_changes(s.db);
}

Statement Catalog::Prepare(std::string_view sql) {
  return Statement(state_->db, sql, state_->name);
}

std::string Catalog::PathFromTable(std::string_view stored) const {
  return state_->paths.Full(stored);
}

void Catalog::PathFromTable(std::string_view stored, std::string& full) const {
  state_->paths.Full(stored, full);
}

bool Catalog::HasColumn(std::string_view column) const {
  return state_->columns.find(column) != state_->columns.end();
}

std::string Catalog::ColumnOrFill(std::string_view column) const {
  if (HasColumn(column)) return std::string(column);
  for (const Column& c : kColumns) {
    if (c.name == column && c.fill != nullptr) return std::string("(") + c.fill + ")";
  }
  return "NULL";
}

const fs::path& Catalog::file() const {
  return state_->file;
}

}  // namespace tessaly
