// bench_catalog: what the archive catalogue costs. Fills a catalogue with many rows, times the
// date-range report over it, the recording of a batch's rows (grouped in one transaction, and
// one transaction a row for comparison), and the per-file work a batch adds (hashing the input
// and the output) beside the processing of a 1040 x 1100 frame.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <CLI/CLI.hpp>

#include "app/processor.h"
#include "app/saving.h"
#include "base/files.h"
#include "catalog/catalog.h"
#include "catalog/report.h"
#include "cli/catalog_report.h"
#include "framegen/framegen.h"
#include "support/bmp_writer.h"

namespace {

namespace fs = std::filesystem;
using namespace tessaly;
using cli::ReportKind;

// A report as tessaly-cli --report prints it: the catalogue's rows, then their text.
std::size_t PrintReport(Catalog& catalog, ReportKind kind, const ReportFilter& filter,
                        std::ostream& out) {
  return cli::PrintReport(catalog, kind, filter, cli::ReportFormat::kText, out);
}

struct Times {
  double wall_ms = 0;
  double cpu_ms = 0;
};

double CpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

Times Measure(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  const double cpu = CpuMs();
  work();
  return {
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count(),
      CpuMs() - cpu};
}

// Medians of wall and processor time over the runs.
Times Median(std::vector<Times> runs) {
  Times m;
  std::vector<double> wall, cpu;
  for (const Times& t : runs) wall.push_back(t.wall_ms), cpu.push_back(t.cpu_ms);
  std::sort(wall.begin(), wall.end());
  std::sort(cpu.begin(), cpu.end());
  return {wall[wall.size() / 2], cpu[cpu.size() / 2]};
}

void Show(const char* what, const Times& t) {
  std::printf("%-58s %9.3f ms wall %9.3f ms cpu\n", what, t.wall_ms, t.cpu_ms);
}

// A row as a batch over a dated archive records it: five satellites, four codes each, a frame
// of each series every three hours.
FrameRow ArchiveRow(int i, const std::string& tree) {
  static const char* const kSatellites[] = {"GOES8", "GOES10", "GMS5", "MET7", "GOES9"};
  static const char* const kCodes[] = {"C1", "D2", "IR1", "WV"};
  const auto when =
      std::chrono::sys_days(std::chrono::year{1999} / 1 / 1) + std::chrono::hours(3 * (i / 20));
  const auto day = std::chrono::floor<std::chrono::days>(when);
  const std::chrono::year_month_day ymd(day);
  const auto hour = std::chrono::duration_cast<std::chrono::hours>(when - day).count();
  char time[40];
  std::snprintf(time, sizeof time, "%04d-%02u-%02uT%02ld:00Z", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                static_cast<long>(hour));
  FrameRow row;
  row.source = tree + "/" + std::string(time, 10) + "/rx" + std::to_string(100000 + i) + ".bmp";
  row.source_size = 1144054;
  row.source_mtime = std::string(time, 16) + ":00.000000000Z";
  const std::string id = std::to_string(i);
  row.source_hash = HashBytes({reinterpret_cast<const std::uint8_t*>(id.data()), id.size()});
  row.satellite = kSatellites[i % 5];
  row.kind = "VIS";
  row.code = kCodes[i / 5 % 4];
  row.time = time;
  row.header = *row.satellite + "   VIS" + std::string(time, 16) + *row.code;
  row.named_from = "header";
  row.reading = "goes";
  row.black = 3000, row.white = 15000, row.cut_x = 12, row.cut_y = 40, row.cut_w = 1000;
  row.cut_h = 800;
  row.output = row.source.substr(0, row.source.size() - 4) + ".png";
  row.output_hash = *row.source_hash;
  row.outcome = kOutcomeSaved;
  return row;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Times the archive catalogue: fill, date-range report, recording, hashing."};
  int rows = 100000;
  int batch = 300;
  int reps = 15;
  std::string work = (fs::temp_directory_path() / "tessaly-bench-catalog").string();
  app.add_option("--rows", rows, "rows of the catalogue")->capture_default_str();
  app.add_option("--batch", batch, "rows of one recorded batch")->capture_default_str();
  app.add_option("--reps", reps, "runs of each measurement (medians printed)")
      ->capture_default_str();
  app.add_option("--work", work, "scratch folder (emptied first)")->capture_default_str();
  // Outside the catalogue's folder the table keeps the paths absolute, as every build did: the
  // figures compare with earlier builds'. A tree below --work keeps them relative.
  std::string tree = "/archive";
  app.add_option("--tree", tree, "the folder the rows' files are said to be in")
      ->capture_default_str();
  bool keep = false;
  app.add_flag("--keep", keep, "leave the catalogue (WORK/archive.db) to try queries on");
  CLI11_PARSE(app, argc, argv);

  const fs::path root(work);
  fs::remove_all(root);
  fs::create_directories(root);
  const fs::path file = root / "archive.db";

  const Times fill = Measure([&] {
    Catalog catalog = Catalog::Open(file);
    for (int i = 0; i < rows; ++i) catalog.Record(ArchiveRow(i, tree));
    catalog.Flush();
  });
  std::printf(
      "catalogue of %d rows: %.1f MB with its WAL\n", rows,
      static_cast<double>(fs::file_size(file) + (fs::exists(root / "archive.db-wal")
                                                     ? fs::file_size(root / "archive.db-wal")
                                                     : 0)) /
          1e6);
  Show("filling it through Record", fill);

  // A month of one satellite, and the same month of every satellite, as the frames report
  // prints them.
  const ReportFilter one{.satellite = "GOES8", .from = "1999-06-01", .to = "1999-06-30"};
  const ReportFilter all{.from = "1999-06-01", .to = "1999-06-30"};
  for (const auto& [what, filter] :
       {std::pair{"date-range report, one satellite, a month", one},
        std::pair{"date-range report, every satellite, a month", all}}) {
    Catalog catalog = Catalog::OpenForReading(file);
    std::size_t found = 0;
    std::vector<Times> runs;
    for (int r = 0; r < reps; ++r) {
      std::ostringstream out;
      runs.push_back(
          Measure([&] { found = PrintReport(catalog, ReportKind::kFrames, filter, out); }));
    }
    Show((std::string(what) + " (" + std::to_string(found) + " frames)").c_str(), Median(runs));
  }
  {
    // The first query of a fresh connection, as one `tessaly-cli --report` run makes it.
    std::vector<Times> runs;
    for (int r = 0; r < reps; ++r) {
      runs.push_back(Measure([&] {
        Catalog catalog = Catalog::OpenForReading(file);
        std::ostringstream out;
        PrintReport(catalog, ReportKind::kFrames, one, out);
      }));
    }
    Show("open, then date-range report, one satellite, a month", Median(runs));
  }

  // The other reports over the whole catalogue, once each as a --report run makes them.
  const ReportFilter month_of_code{
      .satellite = "GOES8", .code = "C1", .from = "1999-06-01", .to = "1999-06-30"};
  for (const auto& [what, kind, filter] :
       {std::tuple{"gaps report, one code, a month", ReportKind::kGaps, month_of_code},
        std::tuple{"gaps report, every code, all days", ReportKind::kGaps, ReportFilter{}},
        std::tuple{"duplicates report", ReportKind::kDuplicates, ReportFilter{}},
        std::tuple{"doubtful report", ReportKind::kDoubtful, ReportFilter{}}}) {
    std::vector<Times> runs;
    for (int r = 0; r < std::max(1, reps / 5); ++r) {
      runs.push_back(Measure([&] {
        Catalog catalog = Catalog::OpenForReading(file);
        std::ostringstream out;
        PrintReport(catalog, kind, filter, out);
      }));
    }
    Show(what, Median(runs));
  }

  // A batch's rows: new files, then the same files again (a rerun's upserts); grouped as the
  // catalogue groups them, and one commit a row for comparison.
  int next = rows;
  for (const bool grouped : {true, false}) {
    std::vector<Times> fresh, again;
    for (int r = 0; r < reps; ++r) {
      Catalog catalog = Catalog::Open(file);
      std::vector<FrameRow> rows_of_batch;
      for (int i = 0; i < batch; ++i) rows_of_batch.push_back(ArchiveRow(next++, "/new"));
      for (auto* runs : {&fresh, &again}) {
        runs->push_back(Measure([&] {
          for (const FrameRow& row : rows_of_batch) {
            catalog.Record(row);
            if (!grouped) catalog.Flush();
          }
          catalog.Flush();
        }));
      }
    }
    const std::string how = grouped ? "grouped" : "one commit a row";
    Show(("recording " + std::to_string(batch) + " new rows, " + how).c_str(), Median(fresh));
    Show(("recording " + std::to_string(batch) + " rows again (upserts), " + how).c_str(),
         Median(again));
  }

  // What a batch adds for each file: the input's stamp and hash, and the output's hash, beside
  // the processing and encoding it does anyway.
  framegen::FrameRecipe recipe = framegen::SizedFrameRecipe(framegen::Layout::GOES, 1040, 1100);
  const fs::path frame = root / "frame.bmp";
  WriteFileReplacing(frame, EncodeBmp(framegen::ToBitmap(framegen::MakeFrame(recipe))));
  PictureResult result;
  const std::vector<std::uint8_t> frame_bytes = ReadFileBytes(frame);
  std::vector<Times> process, facts, input_hash, output_hash;
  for (int r = 0; r < reps; ++r) {
    process.push_back(Measure([&] {
      result = ProcessPicture(frame, ProcessingOptions{});
      EncodePicture(result);
    }));
    facts.push_back(Measure([&] { ReadSourceFacts(frame); }));
    input_hash.push_back(Measure([&] { HashBytes(frame_bytes); }));
    output_hash.push_back(Measure([&] { HashBytes(result.png); }));
  }
  const Times p = Median(process), f = Median(facts), i = Median(input_hash),
              o = Median(output_hash);
  Show("one 1040 x 1100 BMP: ProcessPicture + EncodePicture", p);
  Show("  the input's hash over the bytes the pipeline read", i);
  Show("  the input's stamp and hash read from the file (a rerun)", f);
  Show("  the output's hash (HashBytes of the PNG)", o);
  std::printf(
      "  a new file's hashes add %.2f %% to its processing's cpu time; a rerun's check "
      "takes %.2f %% of it\n",
      (i.cpu_ms + o.cpu_ms) / p.cpu_ms * 100.0, (f.cpu_ms + o.cpu_ms) / p.cpu_ms * 100.0);
  if (keep) {
    std::printf("catalogue kept: %s\n", file.c_str());
  } else {
    fs::remove_all(root);
  }
  return 0;
}
