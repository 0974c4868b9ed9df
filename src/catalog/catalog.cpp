// The catalogue over SQLite: schema, the rows waiting for their transaction, and the checks of
// a rerun.
#include "catalog/catalog.h"

#include <sqlite3.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
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

// The columns of `frames` in the order every statement below binds and reads them.
constexpr std::array<const char*, 26> kColumns = {"source",
                                                  "source_size",
                                                  "source_mtime",
                                                  "source_hash",
                                                  "header",
                                                  "satellite",
                                                  "kind",
                                                  "code",
                                                  "time",
                                                  "message",
                                                  "reading",
                                                  "named_from",
                                                  "header_doubtful",
                                                  "header_confidence",
                                                  "black",
                                                  "white",
                                                  "cut_x",
                                                  "cut_y",
                                                  "cut_w",
                                                  "cut_h",
                                                  "output",
                                                  "output_hash",
                                                  "outcome",
                                                  "detail",
                                                  "tool_version",
                                                  "processed_at"};

constexpr const char* kSchema = R"sql(
CREATE TABLE frames (
  source            TEXT PRIMARY KEY NOT NULL,
  source_size       INTEGER,
  source_mtime      TEXT,
  source_hash       TEXT,
  header            TEXT,
  satellite         TEXT,
  kind              TEXT,
  code              TEXT,
  time              TEXT,
  message           TEXT,
  reading           TEXT,
  named_from        TEXT,
  header_doubtful   INTEGER,
  header_confidence REAL,
  black             INTEGER,
  white             INTEGER,
  cut_x             INTEGER,
  cut_y             INTEGER,
  cut_w             INTEGER,
  cut_h             INTEGER,
  output            TEXT,
  output_hash       TEXT,
  outcome           TEXT NOT NULL,
  detail            TEXT,
  tool_version      TEXT NOT NULL,
  processed_at      TEXT NOT NULL
);
CREATE INDEX frames_by_time ON frames(time);
CREATE INDEX frames_by_satellite_time ON frames(satellite, time);
CREATE INDEX frames_by_code_time ON frames(code, time);
CREATE INDEX frames_by_source_hash ON frames(source_hash);
)sql";

constexpr std::array<std::pair<Outcome, const char*>, 9> kOutcomeTexts = {{
    {Outcome::kSaved, "saved"},
    {Outcome::kUpToDate, "up to date"},
    {Outcome::kUnchanged, "unchanged"},
    {Outcome::kDeclined, "declined"},
    {Outcome::kCollided, "collided"},
    {Outcome::kKeptOriginal, "kept original"},
    {Outcome::kUnreadLeft, "header not read left"},
    {Outcome::kSkipped, "skipped"},
    {Outcome::kFailed, "failed"},
}};

std::string ColumnList() {
  std::string list;
  for (const char* column : kColumns) list += std::string(list.empty() ? "" : ", ") + column;
  return list;
}

std::string SelectSql() {
  return "SELECT " + ColumnList() + " FROM frames WHERE source = ?1";
}

// A rerun's row replaces every field of the earlier one; the row keeps its place in the table.
std::string UpsertSql() {
  std::string values;
  std::string updates;
  for (std::size_t i = 0; i < kColumns.size(); ++i) {
    values += (i == 0 ? "?" : ", ?") + std::to_string(i + 1);
    if (i > 0) {
      updates += std::string(i == 1 ? "" : ", ") + kColumns[i] + " = excluded." + kColumns[i];
    }
  }
  return "INSERT INTO frames (" + ColumnList() + ") VALUES (" + values +
         ") ON CONFLICT (source) DO UPDATE SET " + updates;
}

void BindRow(Statement& s, const FrameRow& r) {
  int i = 0;
  s.Bind(++i, r.source);
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
  s.Bind(++i, r.output);
  s.Bind(++i, r.output_hash);
  s.Bind(++i, std::string_view(OutcomeText(r.outcome)));
  s.Bind(++i, r.detail);
  s.Bind(++i, r.tool_version);
  s.Bind(++i, r.processed_at);
}

FrameRow ReadRow(const Statement& s) {
  FrameRow r;
  int i = 0;
  r.source = s.Text(i++).value_or("");
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
  r.output = s.Text(i++);
  r.output_hash = s.Text(i++);
  // An outcome only a newer build words is taken as a failure: the file is done again.
  r.outcome = OutcomeFromText(s.Text(i++).value_or("")).value_or(Outcome::kFailed);
  r.detail = s.Text(i++);
  r.tool_version = s.Text(i++).value_or("");
  r.processed_at = s.Text(i++).value_or("");
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

bool LeavesAnOutput(Outcome outcome) {
  return outcome == Outcome::kSaved || outcome == Outcome::kUpToDate;
}

}  // namespace

struct Catalog::State {
  fs::path file;
  std::string name;  // the file as messages give it
  sqlite3* db = nullptr;
  std::mutex mutex;
  std::optional<Statement> find;
  std::optional<Statement> upsert;
  // The rows not yet committed, in the order they came; at most kCatalogCommitRows, so a
  // source's row is looked for among them one by one.
  std::vector<FrameRow> waiting;
  Clock::time_point first_waiting{};

  ~State() {
    find.reset();
    upsert.reset();
    sqlite3_close_v2(db);
  }

  [[noreturn]] void Fail(int code) const { throw Error(CatalogError(db, code, name)); }

  int PragmaValue(const char* pragma) {
    Statement s(db, std::string("PRAGMA ") + pragma, name);
    return s.Step() ? static_cast<int>(s.Int(0).value_or(0)) : 0;
  }

  // Creates the table in an empty database, or checks that the database is a catalogue of a
  // schema this build knows. Runs inside a transaction.
  void CheckOrCreateSchema(bool may_create) {
    const int application = PragmaValue("application_id");
    const int version = PragmaValue("user_version");
    Statement tables(db, "SELECT count(*) FROM sqlite_schema", name);
    const bool empty = tables.Step() && tables.Int(0).value_or(0) == 0;
    if (application == 0 && version == 0 && empty) {
      if (!may_create) throw Error("Catalogue \"" + name + "\": the database is empty");
      Execute(db, kSchema, name);
      Execute(db, "PRAGMA application_id = " + std::to_string(kCatalogApplicationId), name);
      Execute(db, "PRAGMA user_version = " + std::to_string(kCatalogSchemaVersion), name);
      return;
    }
    if (application != kCatalogApplicationId) {
      throw Error("Catalogue \"" + name + "\": the database is not a Tessaly catalogue");
    }
    if (version > kCatalogSchemaVersion) {
      throw Error("Catalogue \"" + name + "\": it was made by a newer Tessaly (schema version " +
                  std::to_string(version) + "; this one knows " +
                  std::to_string(kCatalogSchemaVersion) + ")");
    }
    if (version != kCatalogSchemaVersion) {
      throw Error("Catalogue \"" + name + "\": schema version " + std::to_string(version) +
                  " is unknown");
    }
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
        BindRow(*upsert, row);
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

const char* OutcomeText(Outcome outcome) {
  for (const auto& [value, text] : kOutcomeTexts) {
    if (value == outcome) return text;
  }
  return "failed";
}

std::optional<Outcome> OutcomeFromText(std::string_view text) {
  for (const auto& [value, known] : kOutcomeTexts) {
    if (text == known) return value;
  }
  return std::nullopt;
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

bool UpToDateFromCatalog(const FrameRow& row, const SourceFacts& now) {
  if (!LeavesAnOutput(row.outcome) || !row.output || !row.output_hash) return false;
  if (row.source_size != now.stamp.size || row.source_mtime != now.stamp.mtime ||
      row.source_hash != now.hash) {
    return false;
  }
  try {
    return HashFile(*row.output) == *row.output_hash;
  } catch (const std::exception&) {
    return false;  // gone, or no longer readable: made again
  }
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
std::unique_ptr<Catalog::State> Catalog::Connect(const fs::path& file, bool for_writing) {
  auto state = std::make_unique<State>();
  state->file = file;
  state->name = file.string();
  const int flags = for_writing ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY;
  const int code = sqlite3_open_v2(file.c_str(), &state->db, flags, nullptr);
  if (code != SQLITE_OK) state->Fail(code);
  sqlite3_busy_timeout(state->db, kCatalogBusyTimeoutMs);
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

Catalog Catalog::Open(const fs::path& file) {
  std::unique_ptr<State> state = Connect(file, true);
  // WAL lets one run read while another commits, and a killed run leaves the database whole.
  // Without fsync at every commit a power cut may lose the last rows, never make the file
  // unsound; the outputs they name were flushed before their rows were recorded.
  Statement(state->db, "PRAGMA journal_mode = WAL", state->name).Step();
  Execute(state->db, "PRAGMA synchronous = NORMAL", state->name);
  return Catalog(std::move(state));
}

Catalog Catalog::OpenForReading(const fs::path& file) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) {
    throw Error("Catalogue \"" + file.string() +
                "\": " + (fs::exists(file, ec) ? "not a file" : "no such file"));
  }
  return Catalog(Connect(file, false));
}

std::optional<FrameRow> Catalog::Find(const std::string& source) {
  State& s = *state_;
  const std::lock_guard lock(s.mutex);
  if (const FrameRow* waiting = s.WaitingRow(source)) return *waiting;
  if (!s.find) s.find.emplace(s.db, SelectSql(), s.name);
  s.find->Reset();
  s.find->Bind(1, source);
  std::optional<FrameRow> row;
  if (s.find->Step()) row = ReadRow(*s.find);
  s.find->Reset();
  return row;
}

void Catalog::Record(FrameRow row) {
  if (row.tool_version.empty()) row.tool_version = version::kText;
  if (row.processed_at.empty()) row.processed_at = UtcNow();
  State& s = *state_;
  const std::lock_guard lock(s.mutex);
  if (FrameRow* waiting = s.WaitingRow(row.source)) {
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

Statement Catalog::Prepare(std::string_view sql) {
  return Statement(state_->db, sql, state_->name);
}

const fs::path& Catalog::file() const {
  return state_->file;
}

}  // namespace tessaly
