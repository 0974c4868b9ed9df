// The archive catalogue: an SQLite database with one row per input a batch run handled, keyed
// by the input's path, holding what its header said, what became of it and the content hashes
// that let a rerun tell a file up to date without decoding it again.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/files.h"
#include "catalog/content_hash.h"
#include "catalog/statement.h"
#include "naming/header_fields.h"

namespace tessaly {

// PRAGMA user_version of the catalogues this build writes; a change of the table adds one.
// Version 1 kept absolute paths; version 2 keeps them relative to the catalogue's folder and
// adds first_filed. An older catalogue is brought up to this version when it is opened for
// writing, and read as it is otherwise.
inline constexpr int kCatalogSchemaVersion = 2;
// PRAGMA application_id of every catalogue ("TSLY"): another program's database is refused.
inline constexpr std::int32_t kCatalogApplicationId = 0x54534C59;

// Rows wait in memory and are committed together once this many wait, or the first has waited
// kCatalogCommitSeconds: one transaction per file would cost a journal write per file.
inline constexpr std::size_t kCatalogCommitRows = 500;
inline constexpr int kCatalogCommitSeconds = 1;
// How long a run waits for another one that is committing to the same catalogue, and how long
// at most once it was told to stop waiting (an interrupt): long enough for another run's
// commit, short enough that the run ends at once.
inline constexpr int kCatalogBusyTimeoutMs = 30000;
inline constexpr int kCatalogStoppedWaitMs = 500;

// Asked while the catalogue waits for another connection: true when the wait should end.
using StopWaiting = std::function<bool()>;

// The `outcome` column's words for what became of an input that the catalogue itself reasons
// about; the batch maps each fate of a file to its word (cli/catalog_run.h). The others are
// "unchanged", "declined", "collided", "kept original", "header not read left" and "skipped".
inline constexpr char kOutcomeSaved[] = "saved";          // the output was written
inline constexpr char kOutcomeUpToDate[] = "up to date";  // an earlier run's output stands
inline constexpr char kOutcomeFailed[] = "failed";        // reading, processing or saving failed

// True for an outcome that left an output standing for the input.
bool LeavesAnOutput(std::string_view outcome);

// One row of the `frames` table. Texts are UTF-8; a field with nothing to say is empty
// (NULL in the table). Paths are full (FullPath) here, whatever form the table keeps them in.
struct FrameRow {
  std::string source;  // the input's full path
  std::optional<std::int64_t> source_size;
  std::optional<std::string> source_mtime;  // FileStamp::mtime
  std::optional<std::string> source_hash;   // HashFile of the input, 32 hex digits
  // The header as decoded (Latin-1 converted to UTF-8, untrimmed) and what it says.
  std::optional<std::string> header;
  std::optional<std::string> satellite, kind, code;
  std::optional<std::string> time;        // IsoTime, "YYYY-MM-DDTHH:MMZ"
  std::optional<std::string> message;     // "ADMIN" or "TEST"
  std::optional<std::string> reading;     // "goes", "gms" or "meteosat"
  std::optional<std::string> named_from;  // NamedFromText
  std::optional<bool> header_doubtful;
  std::optional<double> header_confidence;
  std::optional<std::int64_t> black, white;  // levels in working-picture samples (grey x 64)
  std::optional<std::int64_t> cut_x, cut_y, cut_w, cut_h;
  std::optional<std::string> output;       // the saved picture's full path
  std::optional<std::string> output_hash;  // HashBytes of the saved PNG
  std::string outcome = kOutcomeFailed;    // the column's word
  std::optional<std::string> detail;       // why it failed or was skipped, in the report's words
  std::string tool_version;                // filled by Record when empty
  std::string processed_at;  // ISO 8601 UTC to the second; filled by Record when empty
  // When a row first named the input's output, as processed_at; filled by Record for a row
  // that names one, and never replaced by a later row of the same input.
  std::optional<std::string> first_filed;
  // The output's stamp when the row was made, so that a rerun need not read it to find it as
  // saved; none in a row made before the stamp was kept (its output is hashed instead).
  std::optional<std::int64_t> output_size;
  std::optional<std::string> output_mtime;
  // What the output was made with: --source's word ("full", "data-lines") and whether it
  // carries the header's time (--creation-time); none where the row does not know.
  std::optional<std::string> source_kind;
  std::optional<bool> creation_time;
  // What in the input's handling wants the user's attention, in the words of the batch's
  // summary ("failed", "header doubtful", "header doubtful, collided"); nothing when all went
  // well. And when the user acknowledged it (as processed_at): a rerun's row keeps that while
  // it records the same problem of the same content, and drops it otherwise.
  std::optional<std::string> problem;
  std::optional<std::string> acknowledged;
  friend bool operator==(const FrameRow&, const FrameRow&) = default;
};

// The header's part of a row: the decoded text (Latin-1), the fields it states, and the rule
// that named the file.
void SetHeader(FrameRow& row, std::string_view header_latin1,
               const std::optional<HeaderFields>& fields, NamedFrom named_from);

// The recorded header read again, as ReadHeader read it when the row was made: what a rerun
// names the file from when it is not decoded again. Nothing when the row holds no header that
// reads.
std::optional<HeaderFields> RecordedHeader(const FrameRow& row);

// What a rerun knows of an input before decoding it. The stamp is taken before the hash, so
// that a file changed while it is hashed or processed shows a newer stamp the next time.
struct SourceFacts {
  FileStamp stamp;
  std::string hash;
};
SourceFacts ReadSourceFacts(const std::filesystem::path& file);

// True when the row's output stands as it was recorded: its size and last change as the row
// has them (a quick check, as file synchronisers make), else its content hash. False when it
// cannot be examined.
bool OutputAsRecorded(const FrameRow& row);

// True when `row` describes the input as it is now (size, last change and content hash all as
// recorded), its outcome left an output (saved or up to date), and that output still stands as
// recorded (OutputAsRecorded): the input need not be decoded again. Whether the output is still
// the name this run would give is the caller's to check (RecordedHeader). False whenever
// something cannot be examined.
bool UpToDateFromCatalog(const FrameRow& row, const SourceFacts& now);

// True when the user acknowledged the problem the row records and the input is as it was then:
// the same content, or for an input that could not be read (no hash recorded) the same size and
// last change. `hash` gives the content's hash, asked for only when the size is the same; the
// hash it gave is kept in `now`.
bool AcknowledgedNow(const FrameRow& row, SourceFacts& now,
                     const std::function<std::string()>& hash);

// An open catalogue. Find, Record and Flush may be called from several threads at once.
class Catalog {
 public:
  // Opens the catalogue for a batch run, creating it (and its table) when there is none (never
  // through a link that leads nowhere): WAL journal, waits of up to kCatalogBusyTimeoutMs for
  // other connections, ended kCatalogStoppedWaitMs after `stop_waiting` says so. A catalogue of
  // an earlier version is brought up to kCatalogSchemaVersion in the transaction that opens it,
  // so that it is either migrated whole or left as it was. Error naming the file when it cannot
  // be opened or created, is no catalogue, or has a schema this build does not know. Closed, it
  // leaves WAL mode when no other connection has it open, so that a user who may only read the
  // file can still read it.
  static Catalog Open(const std::filesystem::path& file, StopWaiting stop_waiting = {});
  // Opens an existing catalogue read-only, for reports and dry runs; one of an earlier version
  // is read as it is. Error naming the file when there is none or it cannot be read as one.
  static Catalog OpenForReading(const std::filesystem::path& file, StopWaiting stop_waiting = {});

  Catalog(Catalog&&) noexcept;
  Catalog& operator=(Catalog&&) noexcept;
  // Commits the rows still waiting; a failure then is lost (call Flush to hear of it).
  ~Catalog();

  // The row of the input at `source` (FullPath), waiting or committed.
  std::optional<FrameRow> Find(const std::string& source);
  // Adds or replaces the row of row.source. It waits in memory and is committed with others
  // (see kCatalogCommitRows); a rerun's row replaces the earlier one. Record a saved file only
  // once its output stands under its name: a committed row never names an output that was
  // not complete.
  void Record(FrameRow row);
  // Commits every waiting row in one transaction. Error naming the file on failure; the rows
  // then stay waiting.
  void Flush();
  // Forgets the rows not yet committed, once committing them failed and the run gives up on
  // the catalogue: their files are only done again by the next run.
  void DropWaiting();
  // Marks the problems the rows of `sources` (full paths) record as acknowledged now, or
  // (`acknowledged` false) as open again, in one transaction. Returns the sources with no such
  // row: none, none with a problem, or (to open again) none acknowledged. Error naming the file.
  std::vector<std::string> Acknowledge(const std::vector<std::string>& sources, bool acknowledged);
  // Marks every open problem as acknowledged now; returns how many.
  int AcknowledgeAll();

  // A statement over the catalogue, for reports and checks; not guarded for other threads.
  Statement Prepare(std::string_view sql);
  // A path as the table holds it (relative to the catalogue's folder when it lies below it),
  // made full again: for statements of Prepare that read `source` or `output`.
  std::string PathFromTable(std::string_view stored) const;
  // The same into `full`, whose room is reused.
  void PathFromTable(std::string_view stored, std::string& full) const;
  // True when the table has the column: a catalogue of an earlier version read as it is may
  // lack one.
  bool HasColumn(std::string_view column) const;
  // The column for a statement of Prepare: its name, or where a catalogue read as it is lacks
  // it, the SQL that an upgrade would fill it with (NULL when none).
  std::string ColumnOrFill(std::string_view column) const;

  const std::filesystem::path& file() const;

 private:
  struct State;
  explicit Catalog(std::unique_ptr<State> state);
  static std::unique_ptr<State> Connect(const std::filesystem::path& file, bool for_writing,
                                        StopWaiting stop_waiting);
  std::unique_ptr<State> state_;
};

}  // namespace tessaly
