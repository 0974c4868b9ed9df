// tessaly-sweep-decode: names generated frames of every layout over a range of row widths,
// noise levels, headers and degradations through the per-file processing, counts right,
// doubtful, unread and wrong names, writes the results as a table and compares them with the
// table of an earlier build.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>

#include <CLI/CLI.hpp>

#include "base/errors.h"
#include "picture_files/png_io.h"
#include "sweep_decode/sweep.h"

namespace {

using tessaly::framegen::Layout;
using tessaly::sweep::Outcome;
using tessaly::sweep::SweepResult;

// "814-856, 864" from a set of widths.
std::string Ranges(const std::set<int>& widths, int step) {
  std::ostringstream out;
  int first = 0;
  int last = 0;
  bool open = false;
  const auto close = [&] {
    if (!open) return;
    if (out.tellp() > 0) out << ", ";
    out << first;
    if (last != first) out << '-' << last;
  };
  for (const int w : widths) {
    if (open && w == last + step) {
      last = w;
      continue;
    }
    close();
    first = last = w;
    open = true;
  }
  close();
  return widths.empty() ? "none" : out.str();
}

struct Group {
  int cases = 0;
  std::map<Outcome, int> outcomes;
  std::set<int> wrong_widths;
  // Against the earlier table:
  int compared = 0;
  int right_before = 0;
  int kept = 0;  // right before, read the same and named right now
  int right_before_doubtful_now = 0;
  int wrong_before = 0;
  int wrong_before_right_now = 0;
  int wrong_before_doubtful_now = 0;
  std::set<int> changed_where_right_before;
};

// Degradation, layout, noise.
using GroupKey = std::tuple<int, int, int>;

std::string GroupName(const GroupKey& key) {
  const auto& [degradation, layout, noise] = key;
  std::string name = tessaly::sweep::Degradations().at(static_cast<std::size_t>(degradation)).name;
  name += std::string(" ") + tessaly::sweep::LayoutName(static_cast<Layout>(layout)) + " sigma " +
          std::to_string(noise);
  return name;
}

std::string Padded(std::string text, std::size_t width) {
  if (text.size() < width) text.resize(width, ' ');
  return text + ' ';
}

std::string Percent(int part, int whole) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f %%", whole > 0 ? 100.0 * part / whole : 0.0);
  return text;
}

void WriteEvidence(const std::string& path, const std::vector<SweepResult>& results) {
  std::ofstream out(path, std::ios::trunc);
  out << "# degradation\tlayout\twidth\tnoise\theader\toutcome\tname right\tconfidence\tmargin\t"
         "noise share\trow agreement\tweakest bit\tbit edge\n";
  for (const SweepResult& r : results) {
    const auto& c = r.sweep_case;
    out << tessaly::sweep::Degradations().at(static_cast<std::size_t>(c.degradation)).name << '\t'
        << tessaly::sweep::LayoutName(c.layout) << '\t' << c.width << '\t' << c.noise << '\t'
        << c.header << '\t' << tessaly::sweep::OutcomeName(r.outcome) << '\t'
        << (r.name == r.expected_name ? 1 : 0) << '\t' << r.confidence << '\t' << r.evidence.margin
        << '\t' << r.evidence.noise << '\t' << r.evidence.row_agreement << '\t'
        << r.evidence.weakest_bit << '\t' << r.evidence.bit_edge << '\n';
  }
  out.close();
  if (!out) throw tessaly::Error("Cannot write " + path);
}

// The frames (or only those named wrong), as they were made, for a closer look.
void SaveFrames(const std::string& folder, const std::vector<SweepResult>& results,
                bool only_wrong) {
  for (const SweepResult& r : results) {
    if (only_wrong && r.outcome != Outcome::kWrong) continue;
    std::string name = tessaly::sweep::CaseKey(r.sweep_case) + ".png";
    std::replace(name.begin(), name.end(), '\t', '-');
    const tessaly::framegen::Frame frame =
        tessaly::framegen::MakeFrame(tessaly::sweep::SweepRecipe(r.sweep_case));
    tessaly::SaveBitmapAsPNG(tessaly::framegen::ToBitmap(frame), folder + "/" + name, "", "", "",
                             "");
  }
}

int Count(const Group& g, Outcome o) {
  const auto found = g.outcomes.find(o);
  return found == g.outcomes.end() ? 0 : found->second;
}

// The groups summed over the layouts, one line a degradation and noise, and over everything.
void PrintDamageTotals(const std::map<GroupKey, Group>& groups) {
  std::map<std::pair<int, int>, Group> totals;
  Group all;
  for (const auto& [key, g] : groups) {
    const auto& [degradation, layout, noise] = key;
    for (Group* sum : {&totals[{degradation, noise}], &all}) {
      sum->cases += g.cases;
      for (const auto& [outcome, count] : g.outcomes) sum->outcomes[outcome] += count;
    }
  }
  std::cout << "\nAll layouts:\n"
            << Padded("damage", 32) << "noise  frames  right  doubtful  not read  WRONG  right\n";
  const auto line = [](const std::string& name, const std::string& noise, const Group& g) {
    char counts[128];
    std::snprintf(counts, sizeof counts, "%5s  %6d  %5d  %8d  %8d  %5d  ", noise.c_str(), g.cases,
                  Count(g, Outcome::kRight), Count(g, Outcome::kDoubtful),
                  Count(g, Outcome::kNotRead), Count(g, Outcome::kWrong));
    std::cout << Padded(name, 32) << counts << Percent(Count(g, Outcome::kRight), g.cases) << "\n";
  };
  for (const auto& [key, g] : totals) {
    line(tessaly::sweep::Degradations().at(static_cast<std::size_t>(key.first)).name,
         std::to_string(key.second), g);
  }
  line("all", "", all);
}

// The degradations of the --degraded or the --impaired run, only those named when names are
// given.
std::vector<int> ChosenDamage(bool impaired, const std::vector<std::string>& only) {
  std::vector<int> chosen;
  const auto& all = tessaly::sweep::Degradations();
  for (std::size_t d = 1; d < all.size(); ++d) {
    const bool named =
        only.empty() || std::find(only.begin(), only.end(), all[d].name) != only.end();
    if (named && all[d].impaired == impaired) chosen.push_back(static_cast<int>(d));
  }
  return chosen;
}

}  // namespace

int main(int argc, char** argv) try {
  CLI::App app{
      "Names generated frames over a range of row widths, noise levels, headers and "
      "degradations, and counts right, doubtful, unread and wrong names."};
  tessaly::sweep::SweepRange range;
  int jobs = 1;
  bool degraded = false;
  bool impaired = false;
  bool first_analysis = false;
  std::string table_path;
  std::string compare_path;
  std::string evidence_path;
  std::vector<std::string> only;
  std::string keep_wrong;
  std::string save_frames;
  app.add_option("--from", range.first_width, "First row width")->check(CLI::Range(226, 20000));
  app.add_option("--to", range.last_width, "Last row width")->check(CLI::Range(226, 20000));
  app.add_option("--every", range.width_step, "Width step")->check(CLI::PositiveNumber);
  app.add_option("--noise", range.noises, "Noise levels (grey levels)");
  app.add_option("--headers", range.headers, "Only these headers (indices)");
  app.add_flag("--degraded", degraded,
               "Degraded frames (blur, JPEG copies, low contrast, bit offsets, dark) instead of "
               "clean ones; widths 800 to 2080 every 7 and noise 0 2 4 8 unless given");
  app.add_flag("--impaired", impaired,
               "Frames with the damage of reception and copies (phasing, crops, negatives, "
               "rescaling, slant, static and dropouts on the data rows, impulse noise, fading, "
               "grey levels, gamma, and mixes) instead of clean ones; widths 560 to 2200 every "
               "41 and noise 4 unless given");
  app.add_option("--only", only, "Only the degradations of these names");
  app.add_flag("--first-analysis", first_analysis,
               "Name from the first analysis alone, without judging the reading");
  app.add_option("--keep-wrong", keep_wrong,
                 "Save each frame named wrong as a PNG in this folder, named by its case");
  app.add_option("--save-frames", save_frames,
                 "Save every frame of the run as a PNG in this folder, named by its case");
  app.add_option("--jobs", jobs, "Threads")->check(CLI::Range(1, 64));
  app.add_option("--table", table_path, "Write every result to this file");
  app.add_option("--compare", compare_path, "Compare with a table an earlier build wrote");
  app.add_option("--evidence", evidence_path,
                 "Write the evidence of every reading (margin, noise, row agreement) to this file");
  CLI11_PARSE(app, argc, argv);
  if (degraded || impaired) {
    range.degradations = ChosenDamage(impaired, only);
    if (range.degradations.empty()) throw tessaly::Error("No degradation of those names");
    if (app.count("--from") == 0) range.first_width = degraded ? 800 : 560;
    if (app.count("--to") == 0) range.last_width = degraded ? 2080 : 2200;
    if (app.count("--every") == 0 && impaired) range.width_step = 41;
    if (app.count("--noise") == 0)
      range.noises = degraded ? std::vector<int>{0, 2, 4, 8} : std::vector<int>{4};
  }

  const std::vector<tessaly::sweep::SweepCase> cases = tessaly::sweep::SweepCases(range);
  const std::vector<SweepResult> results = tessaly::sweep::RunCases(
      cases, jobs, {.evidence = !evidence_path.empty(), .first_analysis = first_analysis});
  if (!table_path.empty()) {
    std::ofstream table(table_path, std::ios::trunc);
    table << tessaly::sweep::TableHeading() << '\n';
    for (const SweepResult& r : results) table << tessaly::sweep::TableLine(r) << '\n';
    table.close();
    if (!table) throw tessaly::Error("Cannot write the table " + table_path);
  }
  if (!evidence_path.empty()) WriteEvidence(evidence_path, results);
  if (!keep_wrong.empty()) SaveFrames(keep_wrong, results, true);
  if (!save_frames.empty()) SaveFrames(save_frames, results, false);
  std::map<std::string, SweepResult> before;
  // Tables from before the naming outcomes read whole frames; their cases are read so again.
  std::map<std::string, SweepResult> whole_frames;
  if (!compare_path.empty()) {
    std::ifstream in(compare_path);
    if (!in) throw tessaly::Error("Cannot read the table " + compare_path);
    before = tessaly::sweep::ReadTable(in);
    std::vector<tessaly::sweep::SweepCase> old_cases;
    for (const auto& c : cases) {
      const auto old = before.find(tessaly::sweep::CaseKey(c));
      if (old != before.end() && !old->second.has_outcome) old_cases.push_back(c);
    }
    for (SweepResult& r : tessaly::sweep::RunCases(old_cases, jobs, {.whole_frame = true})) {
      whole_frames[tessaly::sweep::CaseKey(r.sweep_case)] = std::move(r);
    }
  }

  std::map<GroupKey, Group> groups;
  int wide_cases = 0;
  int wide_right = 0;
  for (const SweepResult& r : results) {
    const auto& c = r.sweep_case;
    Group& g = groups[{c.degradation, static_cast<int>(c.layout), c.noise}];
    ++g.cases;
    ++g.outcomes[r.outcome];
    if (r.outcome == Outcome::kWrong) g.wrong_widths.insert(c.width);
    if (c.degradation == 0 && c.width >= 700 && c.noise <= 16) {
      ++wide_cases;
      if (r.outcome == Outcome::kRight) ++wide_right;
    }
    const std::string key = tessaly::sweep::CaseKey(c);
    const auto old = before.find(key);
    if (old == before.end()) continue;
    ++g.compared;
    // An older table knows only whether the header was read as sent, which names right.
    const bool was_right =
        old->second.has_outcome ? old->second.outcome == Outcome::kRight : old->second.right;
    const SweepResult& now = old->second.has_outcome ? r : whole_frames.at(key);
    if (was_right) {
      ++g.right_before;
      if (now.outcome == Outcome::kRight && tessaly::sweep::SameReading(old->second, now)) {
        ++g.kept;
      } else {
        g.changed_where_right_before.insert(c.width);
        if (now.outcome == Outcome::kDoubtful) ++g.right_before_doubtful_now;
      }
    } else {
      ++g.wrong_before;
      if (now.outcome == Outcome::kRight) ++g.wrong_before_right_now;
      if (now.outcome == Outcome::kDoubtful) ++g.wrong_before_doubtful_now;
    }
  }

  bool sound = true;
  std::cout << "Names, widths " << range.first_width << ".." << range.last_width << " every "
            << range.width_step << ":\n";
  std::cout << Padded("group", 32)
            << "cases  right  doubtful  not read  WRONG  widths named wrong\n";
  for (const auto& [key, g] : groups) {
    const auto count = [&](Outcome o) {
      const auto found = g.outcomes.find(o);
      return found == g.outcomes.end() ? 0 : found->second;
    };
    char line[128];
    std::snprintf(line, sizeof line, "%5d  %5d  %8d  %8d  %5d  ", g.cases, count(Outcome::kRight),
                  count(Outcome::kDoubtful), count(Outcome::kNotRead), count(Outcome::kWrong));
    std::cout << Padded(GroupName(key), 32) << line << Ranges(g.wrong_widths, range.width_step)
              << "\n";
    sound = sound && g.wrong_widths.empty();
  }
  if (range.degradations.size() > 1) PrintDamageTotals(groups);
  if (wide_cases > 0) {
    std::cout << "Clean frames 700 px and wider, noise up to 16: " << wide_right << " of "
              << wide_cases << " named right (" << Percent(wide_right, wide_cases) << ")\n";
  }
  if (!before.empty()) {
    std::cout << "\nAgainst " << compare_path << ":\n";
    std::cout
        << Padded("group", 32)
        << "compared  right before  kept  doubtful now  wrong before  right now  doubtful now\n";
    for (const auto& [key, g] : groups) {
      if (g.compared == 0) continue;
      char line[128];
      std::snprintf(line, sizeof line, "%8d  %12d  %4d  %12d  %12d  %9d  %12d", g.compared,
                    g.right_before, g.kept, g.right_before_doubtful_now, g.wrong_before,
                    g.wrong_before_right_now, g.wrong_before_doubtful_now);
      std::cout << Padded(GroupName(key), 32) << line << "\n";
      if (!g.changed_where_right_before.empty()) {
        std::cout << "  changed where right before: "
                  << Ranges(g.changed_where_right_before, range.width_step) << "\n";
        sound = false;
      }
    }
  }
  return sound ? 0 : 1;
} catch (const std::exception& error) {
  std::cerr << "tessaly-sweep-decode: " << error.what() << "\n";
  return 2;
}
