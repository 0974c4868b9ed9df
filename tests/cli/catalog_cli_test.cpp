// tessaly-cli keeping an archive catalogue, end to end: the rows of a tree, reruns that take
// them instead of decoding, a killed run and two runs writing at once, the Creation Time text,
// an old catalogue migrated and an archive moved with its catalogue, the reports' forms.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <future>
#include <thread>
#include <tuple>

#include "catalog/catalog.h"
#include "cli_folder_test.h"
#include "picture_files/png_image.h"

namespace tessaly {
namespace {

namespace fs = std::filesystem;

class CatalogCliTest : public test::CliFolderTest {
 protected:
  CatalogCliTest() : CliFolderTest("tessaly-catalog-cli-") {}

  // Frame i of a series, each with a time of its own.
  void SaveFrames(const std::string& folder, int from, int to) {
    for (int i = from; i < to; ++i) {
      framegen::FrameRecipe recipe;
      char header[64];
      std::snprintf(header, sizeof header, "GOES8   VIS9812%02d%02d00D2  ", 1 + i % 28, i / 28);
      recipe.header = header;
      recipe.picture_height = 400;
      recipe.content = framegen::Content::Flat;  // quick to make
      SaveFrame(folder + "/rx" + std::to_string(i) + ".bmp", framegen::MakeFrame(recipe));
    }
  }

  // The first column of the query's first row; throws when the catalogue cannot be read.
  std::string Query(const std::string& sql, const std::string& db = "cat.db") {
    Catalog catalog = Catalog::OpenForReading(dir_ / db);
    Statement s = catalog.Prepare(sql);
    return s.Step() ? s.Text(0).value_or("NULL") : "no row";
  }
};

TEST_F(CatalogCliTest, ATreeGivesARowAFrameAndARerunTakesThemWithoutDecoding) {
  SaveFrames("arch/a", 0, 20);
  SaveFrames("arch/b", 20, 40);
  std::vector<std::string> args{"--catalog",       "cat.db", "-o",  "out",
                                "--creation-time", "-r",     "arch"};
  auto run = Cli(args);
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(Query("SELECT count(*) FROM frames WHERE outcome = 'saved' AND source_size > 0 AND "
                  "source_mtime LIKE '____-__-__T__:__:__.%Z' AND length(source_hash) = 32 AND "
                  "header LIKE 'GOES8   VIS9812%' AND satellite = 'GOES8' AND kind = 'VIS' AND "
                  "code = 'D2' AND time LIKE '1998-12-%Z' AND message IS NULL AND reading = "
                  "'goes' AND named_from = 'header' AND header_doubtful = 0 AND black > 0 AND "
                  "white > black AND cut_x > 0 AND cut_y > 0 AND cut_w > 0 AND cut_h > 0 AND "
                  "length(output_hash) = 32 AND detail IS NULL AND tool_version <> '' AND "
                  "processed_at LIKE '____-__-__T__:__:__Z'"),
            "40");
  const fs::path source = dir_ / "arch/b/rx29.bmp";
  const fs::path output = dir_ / "out/b/D2   02-12-98 0100.png";
  // Paths below the catalogue's folder are kept relative to it.
  EXPECT_EQ(Query("SELECT time || output || output_hash || source_hash FROM frames WHERE "
                  "source = 'arch/b/rx29.bmp'"),
            "1998-12-02T01:00Zout/b/D2   02-12-98 0100.png" + HashFile(output) + HashFile(source));
  TPngImage png;
  png.LoadFromFile(output);
  EXPECT_EQ(png.Texts.back(), "Creation Time=1998-12-02T01:00Z");

  // A rerun takes every file from its row: the levels changed in the rows stay as they are.
  Catalog(Catalog::Open(dir_ / "cat.db")).Prepare("UPDATE frames SET black = 1").Step();
  args.push_back("--json");
  run = Cli(args);
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(run.err.find("40 files seen: 0 saved, 0 unchanged, 0 skipped, 0 failed, 40 up to "
                           "date") != std::string::npos)
      << run.err;
  EXPECT_EQ(Query("SELECT count(*) || ' ' || sum(outcome = 'up to date' AND black = 1) FROM "
                  "frames"),
            "40 40");
  // An input touched since is decoded again; its result still stands for it.
  fs::last_write_time(source, fs::last_write_time(source) - std::chrono::hours(1));
  run = Cli(args);
  EXPECT_EQ(Query("SELECT count(*) FROM frames WHERE black = 1"), "39");

  const test::ChildResult pillow =
      test::RunChild("/usr/bin/python3", {"-c",
                                          "import sys; from PIL import Image; "
                                          "print(Image.open(sys.argv[1]).text['Creation Time'])",
                                          output.string()});
  if (pillow.err.find("No module named 'PIL'") != std::string::npos) {
    GTEST_SKIP() << "python3-pil is not installed (scripts/setup installs it)";
  }
  EXPECT_EQ(pillow.out, "1998-12-02T01:00Z\n") << pillow.err;
}

// Killed while it saves, a run leaves a sound catalogue whose rows name saved outputs only;
// two runs writing to it at once then complete it.
TEST_F(CatalogCliTest, AKilledRunLeavesASoundCatalogueThatTwoRunsAtOnceComplete) {
  // 300 frames: b holds copies of those in a, and their results mirror the folders.
  SaveFrames("arch/a", 0, 150);
  fs::copy(dir_ / "arch/a", dir_ / "arch/b");
  const std::string db = (dir_ / "cat.db").string();
  {
    test::RunningChild child(TESSALY_CLI_PATH, {"--catalog", db, "-o", (dir_ / "out").string(),
                                                "--jobs", "1", "-r", (dir_ / "arch").string()});
    // Held after its second save (the first file is recorded by then) for longer than rows
    // wait, so that the next row commits them; killed once it has, with most of the run to go.
    while (!fs::exists(dir_ / "out/a/D2   02-12-98 0000.png") && !child.Ended()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    child.Send(SIGSTOP);
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    child.Send(SIGCONT);
    while (Query("SELECT count(*) FROM frames") == "0" && !child.Ended()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(child.KillAndWait()) << "the run ended before it was killed";
  }
  EXPECT_EQ(Query("PRAGMA integrity_check"), "ok");
  const int rows = std::stoi(Query("SELECT count(*) FROM frames"));
  EXPECT_GT(rows, 0);
  EXPECT_LT(rows, 300);
  Catalog catalog = Catalog::OpenForReading(dir_ / "cat.db");
  Statement saved = catalog.Prepare("SELECT output, output_hash FROM frames WHERE output NOT NULL");
  while (saved.Step()) {
    EXPECT_EQ(HashFile(catalog.PathFromTable(*saved.Text(0))), *saved.Text(1)) << *saved.Text(0);
  }

  auto rerun = [&](const char* folder) {
    return std::async(std::launch::async, [&, folder] {
      return test::RunChild(TESSALY_CLI_PATH,
                            {"--catalog", db, "-o", (dir_ / "out" / folder).string(),
                             (dir_ / "arch" / folder).string()});
    });
  };
  auto a = rerun("a");
  auto b = rerun("b");
  EXPECT_EQ(a.get().exit_code, 0);
  EXPECT_EQ(b.get().exit_code, 0);
  EXPECT_EQ(Query("SELECT count(*) FROM frames WHERE outcome IN ('saved', 'up to date')"), "300");
}

// With the catalogue a result is trusted by its recorded size and last change, else its hash:
// one cut short or copied from another frame is made again, and the row then holds the new
// result. An input whose content changed under its old size and last change, or a result
// made from another --source, is not up to date either.
TEST_F(CatalogCliTest, ARowTrustsNoDamagedForeignOrStaleResult) {
  SaveFrames("arch", 0, 3);
  std::vector<std::string> args{"--catalog", "cat.db", "-o", "out", "arch"};
  ASSERT_EQ(Cli(args).exit_code, 0);
  EXPECT_EQ(Query("SELECT count(*) FROM frames WHERE output_size > 0 AND output_mtime NOT NULL "
                  "AND source_kind = 'full' AND creation_time = 0"),
            "3");
  const fs::path first = dir_ / "out/D2   01-12-98 0000.png";
  const fs::path second = dir_ / "out/D2   02-12-98 0000.png";
  const std::string row =
      "SELECT outcome || ' ' || ifnull(output_hash, '') FROM frames WHERE "
      "source = 'arch/rx0.bmp'";
  // Kept without consent, and no longer named by the row; made again with --overwrite.
  auto rerun = [&](const std::string& why) {
    auto run = Cli(args);
    EXPECT_TRUE(run.out.find("rx0.bmp -> out/D2   01-12-98 0000.png: not saved, the file exists (" +
                             why + ")\n") != std::string::npos)
        << run.out << run.err;
    EXPECT_EQ(Query(row), "declined ");
    args.push_back("--overwrite");
    run = Cli(args);
    args.pop_back();
    EXPECT_EQ(Query(row), "saved " + HashFile(first)) << run.out << run.err;
  };
  auto keep_time = [](const fs::path& file, auto change) {
    const auto time = fs::last_write_time(file);
    std::vector<std::uint8_t> bytes = ReadFileBytes(file);
    change(bytes);
    WriteFileReplacing(file, bytes);
    fs::last_write_time(file, time);
  };
  keep_time(first, [](auto& png) { png.resize(png.size() / 2); });
  rerun("its result is damaged");
  fs::copy_file(second, first, fs::copy_options::overwrite_existing);
  rerun("its result belongs to another frame");
  keep_time(dir_ / "arch/rx0.bmp", [](auto& bmp) { bmp[bmp.size() - 100] ^= 0x55; });
  rerun("its input changed since its result was made");
  Catalog(Catalog::Open(dir_ / "cat.db"))
      .Prepare("UPDATE frames SET source_kind = 'data-lines'")
      .Step();
  rerun("its result was made with --source data-lines");
}

// The nightly example's first night on an empty machine, and what a first night gets wrong:
// the catalogue kept in the output folder, a refused huge input that a rerun must not read, a
// folder of folders named without -r under --strict, and a destination that cannot be written.
TEST_F(CatalogCliTest, FirstNightsWorkAsPrintedAndStopAtWhatCannotBeDone) {
  SaveFrames("arch/2000/01", 0, 3);
  // Sparse: 40 GiB of nothing, refused before it is read; hashed, it would take many seconds.
  fs::create_directories(dir_ / "arch/2000/02");
  WriteFileReplacing(dir_ / "arch/2000/02/huge.bmp", std::vector<std::uint8_t>{'B', 'M'});
  fs::resize_file(dir_ / "arch/2000/02/huge.bmp", std::uintmax_t{40} << 30);
  const std::vector<std::string> args{
      "--catalog", "results/archive.db", "-o", "results", "-q", "-r", "arch"};
  auto run = Cli(args);
  EXPECT_EQ(run.exit_code, 1) << run.err;  // the huge file fails
  EXPECT_TRUE(fs::exists(dir_ / "results/2000/01/D2   01-12-98 0000.png")) << run.err;
  const auto started = std::chrono::steady_clock::now();
  run = Cli(args);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_TRUE(run.out.find("3 up to date") != std::string::npos) << run.out;

  // A folder holding only folders gives nothing without -r: under --strict that is a problem.
  run = Cli({"--strict", "arch"});
  EXPECT_EQ(run.exit_code, 1) << run.err;

  if (test::RunningAsRoot() && !test::UnprivilegedUserExists()) {
    GTEST_SKIP() << "running as root without a user \"nobody\": no folder refuses writing";
  }
  fs::create_directory(dir_ / "locked");
  ::chmod((dir_ / "locked").c_str(), 0555);
  test::ChildOptions as_user;
  as_user.as_nobody = test::RunningAsRoot();
  as_user.working_dir = dir_.string();
  run = test::RunChild(TESSALY_CLI_PATH, {"-o", "locked", "arch/2000/01"}, as_user);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_TRUE(run.err.find("nothing can be saved there, so the run stopped; 2 files not taken") !=
              std::string::npos)
      << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 2) << run.err;
}

// A nightly job over one folder: the first night's damaged frame, doubtful header and copy of a
// frame, once acknowledged, are neither reported nor counted on the nights after while new
// frames are filed; --recheck, a changed file or a new damaged frame make the night fail again.
TEST_F(CatalogCliTest, AcknowledgedProblemsLeaveLaterNightsQuietUntilANewOneComes) {
  const std::vector<std::uint8_t> damaged{'B', 'M', 0x36, 0, 0, 0, 0, 0, 0, 0, 0x36, 0, 0, 0};
  SaveFrames("rx", 0, 2);
  fs::copy_file(dir_ / "rx/rx0.bmp", dir_ / "rx/zcopy.bmp");
  SaveFrame("rx/d.bmp", framegen::MakeFrame(framegen::DoubtfulFrameRecipe()));
  WriteFileReplacing(dir_ / "rx/bad.bmp", damaged);
  const std::vector<std::string> nightly{"--catalog", "cat.db",   "-o", "out",
                                         "-q",        "--strict", "rx"};
  auto run = Cli(nightly);
  EXPECT_EQ(run.exit_code, 1) << run.err;
  run = Cli({"--catalog", "cat.db", "--report", "problems"});
  for (const char* line : {"/rx/bad.bmp: failed: ", "/rx/d.bmp: header doubtful (",
                           "/rx/zcopy.bmp: collided: ", "\n3 open problems\n"}) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line << run.out;
  }

  run = Cli({"--catalog", "cat.db", "--acknowledge", "rx/bad.bmp", "rx/d.bmp", "rx/rx1.bmp"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "2 problems acknowledged\n");
  EXPECT_EQ(run.err, "tessaly-cli: \"rx/rx1.bmp\": the catalogue records no problem of it\n");
  run = Cli({"--catalog", "cat.db", "--acknowledge-all"});
  EXPECT_EQ(run.out, "1 problem acknowledged\n");
  for (int night = 2; night <= 4; ++night) {
    SaveFrames("rx", 2 * night, 2 * night + 2);
    if (night == 4) WriteFileReplacing(dir_ / "rx/bad4.bmp", damaged);
    run = Cli(nightly);
    EXPECT_EQ(run.exit_code, night == 4 ? 1 : 0) << night << run.err;
    const std::string summary = "2 saved, 0 unchanged, 0 skipped, " + std::to_string(night == 4) +
                                " failed, " + std::to_string(2 * night - 1) +
                                " up to date, 3 known problems\n";
    EXPECT_TRUE(run.out.ends_with(summary)) << run.out;
    char filed[32];
    std::snprintf(filed, sizeof filed, "out/D2   %02d-12-98 0000.png", 2 * night + 2);
    EXPECT_TRUE(fs::exists(dir_ / filed)) << filed;
  }

  // Asked to, a rerun reports them all again; the acknowledgements stand.
  run = Cli({"--catalog", "cat.db", "-o", "out", "--recheck", "rx"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_TRUE(run.out.ends_with("2 failed, 9 up to date, 1 collided, 1 header doubtful\n"))
      << run.out;
  EXPECT_EQ(Query("SELECT count(*) FROM frames WHERE acknowledged IS NOT NULL"), "3");
  // A damaged file that changed is a new problem; one opened again is open.
  fs::remove(dir_ / "rx/bad4.bmp");
  WriteFileReplacing(dir_ / "rx/bad.bmp", {damaged.begin(), damaged.end() - 1});
  run = Cli({"--catalog", "cat.db", "--unacknowledge", "rx/d.bmp"});
  EXPECT_EQ(run.out, "1 problem open again\n");
  run = Cli(nightly);
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_TRUE(run.out.ends_with("1 failed, 9 up to date, 1 known problem, 1 header doubtful\n"))
      << run.out;
  run = Cli({"--catalog", "cat.db", "--report", "acknowledged", "--format", "csv"});
  EXPECT_TRUE(run.out.starts_with("source,problem,detail,processed_at,acknowledged\n" +
                                  (dir_ / "rx/zcopy.bmp").string() + ",collided,"))
      << run.out;
}

// A catalogue as the previous version wrote it (absolute paths, no first_filed) is read as it
// is, migrated by the first run that writes to it, and then moves with its archive: the rerun in
// the new place decodes nothing, and no file is gone.
TEST_F(CatalogCliTest, AnOldCatalogueMigratesAndAnArchiveMovedWithItsCatalogueKeepsEveryRow) {
  SaveFrames("a/arch", 0, 12);
  const std::vector<std::string> in_a{"--catalog", "a/cat.db", "-o", "a/out", "a/arch"};
  ASSERT_EQ(Cli(in_a).exit_code, 0);
  {
    // black = 1 marks the rows: a file decoded again gets its own levels back.
    Catalog catalog = Catalog::Open(dir_ / "a/cat.db");
    catalog.Prepare("ALTER TABLE frames DROP COLUMN first_filed").Step();
    Statement old = catalog.Prepare(
        "UPDATE frames SET source = ?1 || source, output = ?1 || output, black = 1, processed_at "
        "= '2001-01-01T00:00:00Z'");
    old.Bind(1, (dir_ / "a").string() + "/");
    old.Step();
    catalog.Prepare("PRAGMA user_version = 1").Step();
  }
  auto run = Cli({"--catalog", "a/cat.db", "--report", "frames"});
  EXPECT_TRUE(run.out.find(" -> " + (dir_ / "a/out/D2   01-12-98 0000.png").string() + "\n") !=
              std::string::npos)
      << run.out << run.err;
  run = Cli({"--dry-run", "-q", "--catalog", "a/cat.db", "-o", "a/out", "a/arch"});
  EXPECT_TRUE(run.out.find(" 12 up to date") != std::string::npos) << run.out << run.err;
  EXPECT_EQ(Query("PRAGMA user_version", "a/cat.db"), "1");

  run = Cli(in_a);
  EXPECT_EQ(run.exit_code, 0) << run.err;
  const std::string kept =
      "SELECT count(*) || ' ' || sum(black = 1 AND source LIKE 'arch/rx%' AND output LIKE "
      "'out/D2 %' AND first_filed = '2001-01-01T00:00:00Z' AND processed_at > first_filed) FROM "
      "frames";
  EXPECT_EQ(Query("PRAGMA user_version", "a/cat.db"), "2");
  EXPECT_EQ(Query(kept, "a/cat.db"), "12 12");

  fs::rename(dir_ / "a", dir_ / "moved");
  run = Cli({"--json", "--catalog", "moved/cat.db", "-o", "moved/out", "moved/arch"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 12);
  std::size_t up_to_date = 0;
  for (std::size_t at = 0; (at = run.out.find("\"up_to_date\":true", at)) != std::string::npos;) {
    ++up_to_date, ++at;
  }
  EXPECT_EQ(up_to_date, 12u) << run.out;
  EXPECT_EQ(Query(kept, "moved/cat.db"), "12 12");
  run = Cli({"--catalog", "moved/cat.db", "--report", "gone"});
  EXPECT_EQ(run.out, "0 inputs gone, 0 outputs gone\n") << run.err;
  fs::remove(dir_ / "moved/arch/rx3.bmp");
  fs::remove(dir_ / "moved/out/D2   05-12-98 0000.png");
  run = Cli({"--catalog", "moved/cat.db", "--report", "gone"});
  EXPECT_EQ(run.out, (dir_ / "moved/arch/rx3.bmp").string() + ": input gone\n" +
                         (dir_ / "moved/out/D2   05-12-98 0000.png").string() + ": gone (from " +
                         (dir_ / "moved/arch/rx4.bmp").string() +
                         ")\n1 input gone, 1 output gone\n");
}

// A name with a comma, quotes, a line break and a byte that is no UTF-8.
constexpr const char* kOddName = "odd,\"name\"\n\xE9.bmp";

// Two years of GOES8 D2 every three hours with 20 days of reception (five of them missing their
// 03:00 frame, two frames of the same content), a failed input of an odd name and a doubtful
// header; no file is there.
void FillTwoYears(const fs::path& db, const fs::path& dir) {
  Catalog catalog = Catalog::Open(db);
  for (int k = 0; k < 20; ++k) {
    const std::chrono::year_month_day day(std::chrono::sys_days(std::chrono::year{2000} / 1 / 1) +
                                          std::chrono::days(k * 730 / 19));
    for (int hour = 0; hour < 24; hour += 3) {
      if (hour == 3 && k % 4 == 0) continue;
      char time[24];
      std::snprintf(time, sizeof time, "%04d-%02u-%02uT%02d:00Z", static_cast<int>(day.year()),
                    static_cast<unsigned>(day.month()), static_cast<unsigned>(day.day()), hour);
      FrameRow row;
      row.time = time;
      row.source = (dir / ("rx" + *row.time + ".bmp")).string();
      row.satellite = "GOES8", row.code = "D2", row.outcome = kOutcomeSaved;
      row.source_hash = k == 1 && hour < 6 ? "same" : *row.time;
      catalog.Record(row);
    }
  }
  FrameRow failed;
  failed.source = (dir / kOddName).string();
  failed.detail = "damaged";
  catalog.Record(failed);
  FrameRow doubtful;
  doubtful.source = (dir / "d.bmp").string();
  doubtful.header = "G10N    NH 0407020600";
  doubtful.named_from = "input";
  doubtful.header_doubtful = true;
  doubtful.outcome = kOutcomeSaved;
  catalog.Record(doubtful);
}

// The days with some reception come first, the empty ones fold into runs; a filter naming what
// no frame carries says so.
TEST_F(CatalogCliTest, GapsFoldEmptyDaysAfterTheDaysWithSomeReception) {
  FillTwoYears(dir_ / "cat.db", dir_);
  auto run = Cli({"--catalog", "cat.db", "--report", "gaps"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_LE(std::count(run.out.begin(), run.out.end(), '\n'), 60) << run.out;
  EXPECT_TRUE(
      run.out.starts_with("GOES8 D2, every 180 minutes:\n"
                          "  2000-01-01: 1 of 8 missing: 03:00\n"
                          "  2000-06-02: 1 of 8 missing: 03:00\n"))
      << run.out;
  EXPECT_LT(run.out.find("  2001-09-06: 1 of 8"),
            run.out.find("  2000-01-02 to 2000-02-07: no frames (37 days)\n"))
      << run.out;

  run = Cli({"--catalog", "cat.db", "--report", "frames", "--satellite", "GOES-8"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "tessaly-cli: no frame carries the satellite \"GOES-8\" (the catalogue's "
            "satellites: GOES8)\n");
}

// Every report parses as CSV and as JSON, with the columns the user guide gives.
TEST_F(CatalogCliTest, EveryReportParsesAsCsvAndAsJson) {
  FillTwoYears(dir_ / "cat.db", dir_);
  // Each report in both forms: its rows, its columns, and the odd name as it came through.
  test::ChildResult run;
  std::vector<std::string> files;
  for (const char* kind : {"frames", "gaps", "duplicates", "doubtful", "failed", "gone"}) {
    for (const char* format : {"csv", "json"}) {
      run = Cli({"--catalog", "cat.db", "--report", kind, "--format", format});
      EXPECT_EQ(run.exit_code, 0) << kind << format << run.err;
      files.push_back((dir_ / (std::string(kind) + "." + format)).string());
      WriteFileReplacing(files.back(),
                         {reinterpret_cast<const std::uint8_t*>(run.out.data()), run.out.size()});
    }
  }
  files.insert(files.begin(), {"-c", R"(import csv, json, sys
for name in sys.argv[1:]:
    with open(name, newline='', encoding='utf-8') as f:
        if name.endswith('.csv'):
            table = list(csv.reader(f))
            columns, rows = table[0], [dict(zip(table[0], row)) for row in table[1:]]
        else:
            rows = json.load(f)
            columns = list(rows[0])
    odd = [json.dumps(r['source']) for r in rows if 'odd' in r.get('source', '')]
    print(name.rsplit('/', 1)[1], len(rows), ','.join(columns), *odd))"});
  const test::ChildResult parsed = test::RunChild("/usr/bin/python3", files);
  const std::string odd_json = "\"" + dir_.string() + "/odd,\\\"name\\\"\\n\\ufffd.bmp\"";
  std::string expected;
  for (const auto& [kind, rows, columns, odd_rows] :
       {std::tuple{"frames", 155, "time,satellite,kind,code,header,source,output,first_filed", 0},
        {"gaps", 24,
         "satellite,code,interval_minutes,slots_per_day,first_day,last_day,days,missing_slots,"
         "missing_times",
         0},
        {"duplicates", 2, "group,same,key,source", 0},
        {"doubtful", 1, "source,state,header,confidence,problem", 0},
        {"failed", 1, "source,reason,processed_at", 1},
        {"gone", 157, "path,role,state,source", 1}}) {
    for (const char* format : {".csv ", ".json "}) {
      expected += kind + std::string(format) + std::to_string(rows) + " " + columns +
                  (odd_rows ? " " + odd_json : "") + "\n";
    }
  }
  EXPECT_EQ(parsed.out, expected) << parsed.err;
}

// Another connection holds the catalogue in a write transaction: a run, or an acknowledgement,
// waiting for it ends within two seconds of SIGINT, with status 130.
TEST_F(CatalogCliTest, SigintEndsAWaitForACatalogueAnotherConnectionHolds) {
  using std::chrono::milliseconds;
  SaveFrames("arch", 0, 1);
  const std::string catalog = (dir_ / "cat.db").string();
  Catalog holder = Catalog::Open(catalog);
  holder.Prepare("BEGIN IMMEDIATE").Step();
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--catalog", catalog, "-o", (dir_ / "out").string(),
                                 (dir_ / "arch").string()},
        std::vector<std::string>{"--catalog", catalog, "--acknowledge-all"}}) {
    test::RunningChild run(TESSALY_CLI_PATH, args);
    ASSERT_TRUE(run.WaitUntilCatching(SIGINT, milliseconds(10000))) << args.back();
    EXPECT_EQ(run.SignalAndWait(SIGINT, milliseconds(2000)), 130) << args.back();
  }
  holder.Prepare("COMMIT").Step();
}

// A catalogue that runs closed cleanly can be reported from by a user who may only read it and
// its folder, so that no journal file can be made beside it.
TEST_F(CatalogCliTest, AUserWhoMayOnlyReadTheCatalogueReportsFromIt) {
  if (test::RunningAsRoot() && !test::UnprivilegedUserExists()) {
    GTEST_SKIP() << "running as root without a user \"nobody\": the catalogue cannot be read-only";
  }
  SaveFrames("arch", 0, 3);
  ASSERT_EQ(Cli({"--catalog", "cat.db", "-o", "out", "arch"}).exit_code, 0);
  ::chmod((dir_ / "cat.db").c_str(), 0444);
  ::chmod(dir_.c_str(), 0555);
  test::ChildOptions reader;
  reader.as_nobody = test::RunningAsRoot();
  reader.working_dir = dir_.string();
  const auto run =
      test::RunChild(TESSALY_CLI_PATH, {"--catalog", "cat.db", "--report", "frames"}, reader);
  ::chmod(dir_.c_str(), 0755);
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(run.out.ends_with("\n3 frames\n")) << run.out;
}

// A link that leads nowhere, given as the catalogue, is refused rather than followed to make its
// target.
TEST_F(CatalogCliTest, ALinkThatLeadsNowhereIsNoCatalogue) {
  SaveFrames("arch", 0, 1);
  fs::create_symlink("nowhere.db", dir_ / "cat.db");
  const auto run = Cli({"--catalog", "cat.db", "arch"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_NE(run.err.find("Catalogue \"cat.db\": it is a link that leads to no file, and is not "
                         "followed"),
            std::string::npos)
      << run.err;
  EXPECT_FALSE(fs::exists(dir_ / "nowhere.db"));
}

}  // namespace
}  // namespace tessaly
