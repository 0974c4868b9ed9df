// The archive catalogue: schema and its checks, rows kept across reopening, upserts, grouped
// commits, two writing processes, the rerun check, the query plans and the reports' rows.
#include "catalog/catalog.h"
#include "catalog/report.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "base/errors.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

class CatalogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tessaly-catalog-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    db_ = dir_ / "archive.db";
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path Write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
    return dir_ / name;
  }

  // What another process sees: committed rows only.
  std::int64_t Committed(const std::string& sql = "SELECT count(*) FROM frames") {
    Catalog other = Catalog::OpenForReading(db_);
    Statement s = other.Prepare(sql);
    return s.Step() ? s.Int(0).value_or(-1) : -1;
  }

  static FrameRow Row(const std::string& source, const char* time = nullptr) {
    FrameRow row;
    row.source = source;
    row.outcome = kOutcomeSaved;
    row.satellite = "GOES8";
    row.code = "D2";
    if (time != nullptr) row.time = time;
    return row;
  }

  static void RecordReportRows(Catalog& catalog);

  fs::path dir_;
  fs::path db_;
};

TEST_F(CatalogTest, ARowComesBackWholeAfterReopeningAndARerunReplacesIt) {
  FrameRow row;
  row.source = FullPath(dir_ / "in" / ".." / "rx000.bmp");
  EXPECT_EQ(row.source, (dir_ / "rx000.bmp").string());
  row.source_size = 1144000;
  row.source_mtime = "2001-03-11T13:00:05.123456789Z";
  row.source_hash = std::string(32, 'a');
  SetHeader(row, "GOES8   VIS9812241200D2  ", ReadHeader("GOES8   VIS9812241200D2  "),
            NamedFrom::kPrimaryForm);
  row.reading = "goes";
  row.header_doubtful = false;
  row.header_confidence = 0.875;
  row.black = 3200, row.white = 14000, row.cut_x = 10, row.cut_y = 20, row.cut_w = 800;
  row.cut_h = 600;
  row.output = (dir_ / "D2   24-12-98 1200.png").string();
  row.output_hash = std::string(32, 'b');
  row.outcome = kOutcomeSaved;
  {
    Catalog catalog = Catalog::Open(db_);
    catalog.Record(row);
    EXPECT_EQ(Committed(), 0);  // waiting for its transaction, yet found
    ASSERT_TRUE(catalog.Find(row.source));
    EXPECT_EQ(catalog.Find(row.source)->time, "1998-12-24T12:00Z");
  }  // closing commits
  Catalog catalog = Catalog::Open(db_);
  const std::optional<FrameRow> back = catalog.Find(row.source);
  ASSERT_TRUE(back);
  EXPECT_FALSE(back->tool_version.empty());
  EXPECT_EQ(back->processed_at.size(), 20u);
  row.tool_version = back->tool_version;
  row.processed_at = back->processed_at;
  row.first_filed = back->processed_at;
  EXPECT_EQ(*back, row);
  EXPECT_EQ(RecordedHeader(*back)->code_columns, "D2  ");
  // The table holds the paths below its folder relative to it.
  Statement stored = catalog.Prepare("SELECT source || '|' || output FROM frames");
  ASSERT_TRUE(stored.Step());
  EXPECT_EQ(stored.Text(0), "rx000.bmp|D2   24-12-98 1200.png");

  // A rerun's row replaces the earlier one, but for the time the input was first filed.
  row.outcome = kOutcomeUpToDate;
  row.processed_at = "2030-01-01T00:00:00Z";
  row.first_filed.reset();
  catalog.Record(row);
  catalog.Flush();
  EXPECT_EQ(Committed(), 1);
  EXPECT_EQ(Committed("SELECT count(*) FROM frames WHERE outcome = 'up to date'"), 1);
  EXPECT_EQ(catalog.Find(row.source)->first_filed, back->processed_at);
  EXPECT_FALSE(catalog.Find(row.source + "x"));
}

TEST_F(CatalogTest, TheSchemaIsMadeOnceAndOnlyCatalogueDatabasesOfAKnownVersionAreTaken) {
  { Catalog::Open(db_); }
  Catalog catalog = Catalog::Open(db_);
  const auto value = [&](const std::string& sql) {
    Statement s = catalog.Prepare(sql);
    s.Step();
    return s.Text(0).value_or("");
  };
  EXPECT_EQ(value("PRAGMA user_version"), std::to_string(kCatalogSchemaVersion));
  EXPECT_EQ(value("PRAGMA journal_mode"), "wal");
  EXPECT_EQ(value("SELECT group_concat(name, ' ') FROM (SELECT name FROM sqlite_schema WHERE "
                  "type = 'index' AND name LIKE 'frames_by%' ORDER BY name)"),
            "frames_by_code_time frames_by_satellite_time frames_by_source_hash frames_by_time");

  const auto refused = [](const fs::path& file, const std::string& why) {
    SCOPED_TRACE(file);
    try {
      Catalog::Open(file);
      ADD_FAILURE() << "opened";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("\"" + file.string() + "\""), std::string::npos);
      EXPECT_NE(std::string(e.what()).find(why), std::string::npos) << e.what();
    }
  };
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open((dir_ / "newer.db").c_str(), &raw), SQLITE_OK);
  sqlite3_exec(raw, "PRAGMA application_id = 1414745177; PRAGMA user_version = 3", nullptr, nullptr,
               nullptr);
  sqlite3_close(raw);
  refused(dir_ / "newer.db", "newer Tessaly (schema version 3; this one knows 2)");
  ASSERT_EQ(sqlite3_open((dir_ / "other.db").c_str(), &raw), SQLITE_OK);
  sqlite3_exec(raw, "CREATE TABLE t (x)", nullptr, nullptr, nullptr);
  sqlite3_close(raw);
  refused(dir_ / "other.db", "not a Tessaly catalogue");
  refused(Write("text.db", std::string(4096, 'x')), "not a database");
  refused(dir_ / "missing" / "a.db", "unable to open");
  EXPECT_THROW(Catalog::OpenForReading(dir_ / "none.db"), Error);
  EXPECT_FALSE(fs::exists(dir_ / "none.db"));
}

TEST_F(CatalogTest, RowsAreCommittedInGroupsOfFiveHundredOrAfterASecond) {
  Catalog catalog = Catalog::Open(db_);
  for (int i = 0; i < 499; ++i) catalog.Record(Row("/a/" + std::to_string(i)));
  catalog.Record(Row("/a/0"));  // the same file again replaces its waiting row
  catalog.Record(Row("/a/499"));
  EXPECT_EQ(Committed(), 500);
  catalog.Record(Row("/b/0"));
  EXPECT_EQ(Committed(), 500);
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  catalog.Record(Row("/b/1"));
  EXPECT_EQ(Committed(), 502);
}

// Two runs sharing one catalogue: the busy timeout makes each wait for the other's commits.
TEST_F(CatalogTest, TwoProcessesWritingAtOnceLoseNoRow) {
  { Catalog::Open(db_); }
  constexpr int kRows = 400;
  std::vector<pid_t> children;
  for (const char* prefix : {"/one/", "/two/"}) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int status = 0;
      try {
        Catalog catalog = Catalog::Open(db_);
        for (int i = 0; i < kRows; ++i) {
          catalog.Record(Row(prefix + std::to_string(i)));
          if (i % 7 == 0) catalog.Flush();  // many small transactions, to meet the other's
        }
        catalog.Flush();
      } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        status = 1;
      }
      ::_exit(status);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(Committed(), 2 * kRows);
  Catalog catalog = Catalog::Open(db_);
  Statement check = catalog.Prepare("PRAGMA integrity_check");
  ASSERT_TRUE(check.Step());
  EXPECT_EQ(check.Text(0), "ok");
}

TEST_F(CatalogTest, AnInputIsUpToDateOnlyAsRecordedAndWithItsOutputAsSaved) {
  const fs::path input = Write("rx000.bmp", "frame bytes");
  const fs::path output = Write("out.png", "picture bytes");
  FrameRow row = Row(FullPath(input));
  const SourceFacts facts = ReadSourceFacts(input);
  EXPECT_EQ(facts.hash, HashBytes({reinterpret_cast<const std::uint8_t*>("frame bytes"), 11}));
  row.source_size = facts.stamp.size;
  row.source_mtime = facts.stamp.mtime;
  row.source_hash = facts.hash;
  row.output = output.string();
  row.output_hash = HashFile(output);
  EXPECT_TRUE(UpToDateFromCatalog(row, facts));

  FrameRow unchanged = row;
  unchanged.outcome = "unchanged";
  EXPECT_FALSE(UpToDateFromCatalog(unchanged, facts));
  SourceFacts touched = facts;
  touched.stamp.mtime = "2001-01-01T00:00:00.000000000Z";
  EXPECT_FALSE(UpToDateFromCatalog(row, touched));
  SourceFacts edited = facts;
  edited.hash[0] = edited.hash[0] == '0' ? '1' : '0';
  EXPECT_FALSE(UpToDateFromCatalog(row, edited));
  Write("out.png", "picture bytez");
  EXPECT_FALSE(UpToDateFromCatalog(row, facts));
  fs::remove(output);
  EXPECT_FALSE(UpToDateFromCatalog(row, facts));
}

TEST_F(CatalogTest, HashesAreXxh3OfTheWholeContentAndUnreadableFilesAreErrors) {
  EXPECT_EQ(HashBytes({}), "99aa06d3014798d86001c324468d497f");
  std::string big(200000, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 % 251);
  EXPECT_EQ(HashFile(Write("big", big)),
            HashBytes({reinterpret_cast<const std::uint8_t*>(big.data()), big.size()}));
  EXPECT_THROW(HashFile(dir_), Error);
  EXPECT_THROW(HashFile(dir_ / "missing"), Error);
  EXPECT_THROW(StampOf(dir_ / "missing"), Error);
}

TEST_F(CatalogTest, DateRangeQueriesUseAnIndex) {
  Catalog catalog = Catalog::Open(db_);
  for (const auto& [filter, index] :
       {std::pair{ReportFilter{"GOES8", "", "2001-03-01", "2001-03-31"},
                  "frames_by_satellite_time"},
        std::pair{ReportFilter{"", "", "2001-03-01", "2001-03-31"}, "frames_by_time"},
        std::pair{ReportFilter{"", "D2", "2001-03-11", "2001-03-11"}, "frames_by_code_time"}}) {
    Statement plan = catalog.Prepare("EXPLAIN QUERY PLAN " + FramesSql(catalog, filter));
    std::string text;
    while (plan.Step()) text += plan.Text(3).value_or("") + "\n";
    EXPECT_NE(text.find("USING INDEX " + std::string(index)), std::string::npos) << text;
    EXPECT_EQ(text.find("TEMP B-TREE"), std::string::npos) << text;  // no sorter over the rows
  }
  EXPECT_THROW(FramesSql(catalog, ReportFilter{"", "", "2001-02-30", ""}), Error);
}

// Each series as "SAT CODE every N:" and its gaps as "day minutes...;" for a day with some
// reception, "first..last xDAYS;" for a run of days without a frame.
std::string Shown(const std::vector<SeriesGaps>& report) {
  std::string text;
  for (const SeriesGaps& s : report) {
    text += s.satellite + " " + s.code + " every " + std::to_string(s.interval_minutes) + ":";
    for (const Gap& g : s.gaps) {
      text += " " + g.first_day;
      if (g.missing.empty()) text += ".." + g.last_day + " x" + std::to_string(g.days);
      for (long minute : g.missing) text += " " + std::to_string(minute);
      text += ";";
    }
  }
  return text;
}

// D2 every 6 hours: 12:00 missing on the 24th, nothing on the 25th, 27th and 28th, 06:00 and
// 18:00 missing on the 29th; a copy, another reception of one header, three headers that named
// nothing and a failure.
void CatalogTest::RecordReportRows(Catalog& catalog) {
  for (const char* time : {"1998-12-24T00:00Z", "1998-12-24T06:00Z", "1998-12-24T18:00Z",
                           "1998-12-26T00:00Z", "1998-12-26T06:00Z", "1998-12-26T12:00Z",
                           "1998-12-26T18:00Z", "1998-12-29T00:00Z", "1998-12-29T06:00Z"}) {
    FrameRow row = Row(std::string("/a/") + time, time);
    row.source_hash = time;
    row.header = std::string("header ") + time;
    row.named_from = "header";
    catalog.Record(row);
  }
  FrameRow copy = Row("/b/copy", "1998-12-26T18:00Z");
  copy.source_hash = "1998-12-26T18:00Z";
  FrameRow again = Row("/b/again", "1998-12-26T06:00Z");
  again.source_hash = "other bytes";
  again.header = "header 1998-12-26T06:00Z";
  again.named_from = "header";
  FrameRow doubtful = Row("/c/doubtful");
  doubtful.header = "G10N    NH 0407020600";
  doubtful.named_from = "input";
  doubtful.header_doubtful = true;
  doubtful.header_confidence = 0.25;
  FrameRow unread = Row("/c/unread");
  unread.header = "   ";
  unread.named_from = "input";
  FrameRow bad_date = Row("/c/bad date");
  SetHeader(bad_date, "MET7    C020102301230D2AB", std::nullopt, NamedFrom::kInputName);
  FrameRow failed = Row("/d/failed");
  failed.outcome = kOutcomeFailed;
  failed.detail = "Cannot read \"/d/failed\": no such file";
  for (const FrameRow* row : {&copy, &again, &doubtful, &unread, &bad_date, &failed}) {
    catalog.Record(*row);
  }
  catalog.Flush();
}

TEST_F(CatalogTest, GapsListTheDaysWithSomeReceptionFirstAndFoldTheEmptyOnes) {
  Catalog catalog = Catalog::Open(db_);
  RecordReportRows(catalog);

  const std::vector<SeriesGaps> d2 = GapsReport(catalog, {.satellite = "GOES8", .code = "D2"});
  EXPECT_EQ(Shown(d2),
            "GOES8 D2 every 360: 1998-12-24 720; 1998-12-29 720 1080; "
            "1998-12-25..1998-12-25 x1; 1998-12-27..1998-12-28 x2;");
  EXPECT_EQ(d2.at(0).MissingSlots(), 15);
  EXPECT_EQ(Shown(GapsReport(catalog, {.interval_minutes = 720})),  // at 06:00 and 18:00
            "GOES8 D2 every 720: 1998-12-29 1080; 1998-12-25..1998-12-25 x1; "
            "1998-12-27..1998-12-28 x2;");
  std::string frames;
  EXPECT_EQ(FramesReport(catalog, {.satellite = "GOES8", .from = "1998-12-26", .to = "1998-12-26"},
                         [&](const FrameLine& l) { frames += l.time.value_or("") + " "; }),
            6u);
  EXPECT_EQ(frames,
            "1998-12-26T00:00Z 1998-12-26T06:00Z 1998-12-26T06:00Z 1998-12-26T12:00Z "
            "1998-12-26T18:00Z 1998-12-26T18:00Z ");
}

TEST_F(CatalogTest, ReportsListDuplicatesDoubtfulHeadersAndFailures) {
  Catalog catalog = Catalog::Open(db_);
  RecordReportRows(catalog);
  std::string groups;
  for (const DuplicateGroup& g : DuplicatesReport(catalog)) {
    groups += (g.same_content ? "content " : "header ") + g.key + ":";
    for (const std::string& source : g.sources) groups += " " + source;
    groups += ";";
  }
  EXPECT_EQ(groups,
            "content 1998-12-26T18:00Z: /a/1998-12-26T18:00Z /b/copy;"
            "header header 1998-12-26T06:00Z: /a/1998-12-26T06:00Z /b/again;");
  const std::vector<DoubtfulLine> headers = DoubtfulReport(catalog);
  ASSERT_EQ(headers.size(), 3u);
  EXPECT_EQ(headers[0].source, "/c/bad date");
  EXPECT_EQ(headers[0].state, HeaderState::kNoName);
  EXPECT_EQ(headers[1].state, HeaderState::kDoubtful);
  EXPECT_EQ(headers[1].confidence, 0.25);
  EXPECT_EQ(headers[2].state, HeaderState::kNotRead);
  const std::vector<FailedLine> failures = FailedReport(catalog);
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].source + ": " + failures[0].reason,
            "/d/failed: Cannot read \"/d/failed\": no such file");
  EXPECT_TRUE(AnyFrameCarries(catalog, "GOES8", "D2"));
  EXPECT_FALSE(AnyFrameCarries(catalog, "GOES8", "C1"));
  EXPECT_FALSE(AnyFrameCarries(catalog, "GMS5", ""));
  EXPECT_EQ(SatellitesCarried(catalog), std::vector<std::string>{"GOES8"});
  EXPECT_EQ(CodesCarried(catalog, "GMS5"), std::vector<std::string>{});
}

}  // namespace
}  // namespace tessaly
