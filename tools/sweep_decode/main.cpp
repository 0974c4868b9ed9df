// tessaly-sweep-decode: decodes generated frames of every layout over a range of row widths,
// noise levels and headers, prints where the header was read wrong, writes the results as a
// table and compares them with the table of an earlier build.
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include <CLI/CLI.hpp>

#include "base/errors.h"
#include "sweep_decode/sweep.h"

namespace {

using tessaly::framegen::Layout;
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
  int right = 0;
  std::set<int> wrong_widths;
  // Against the earlier table:
  int compared = 0;
  int right_before = 0;
  int identical_where_right_before = 0;
  int wrong_before_right_now = 0;
  std::set<int> wrong_before_widths;
  std::set<int> changed_where_right_before;
};

std::string GroupName(Layout layout, int noise) {
  return std::string(tessaly::sweep::LayoutName(layout)) + " sigma " + std::to_string(noise);
}

}  // namespace

int main(int argc, char** argv) try {
  CLI::App app{"Decodes generated frames over a range of row widths and reports the headers read."};
  tessaly::sweep::SweepRange range;
  int jobs = 1;
  std::string table_path;
  std::string compare_path;
  app.add_option("--from", range.first_width, "First row width")->check(CLI::Range(226, 20000));
  app.add_option("--to", range.last_width, "Last row width")->check(CLI::Range(226, 20000));
  app.add_option("--every", range.width_step, "Width step")->check(CLI::PositiveNumber);
  app.add_option("--noise", range.noises, "Noise levels (grey levels)");
  app.add_option("--jobs", jobs, "Threads")->check(CLI::Range(1, 64));
  app.add_option("--table", table_path, "Write every result to this file");
  app.add_option("--compare", compare_path, "Compare with a table an earlier build wrote");
  CLI11_PARSE(app, argc, argv);

  const std::vector<SweepResult> results =
      tessaly::sweep::RunCases(tessaly::sweep::SweepCases(range), jobs);
  if (!table_path.empty()) {
    std::ofstream table(table_path, std::ios::trunc);
    table << "# layout\twidth\tnoise\theader\tright\tas\trows\tstart\tblack\twhite\tcut x\ty\t"
             "width\theight\ttext (hex)\n";
    for (const SweepResult& r : results) table << tessaly::sweep::TableLine(r) << '\n';
    table.close();
    if (!table) throw tessaly::Error("Cannot write the table " + table_path);
  }
  std::map<std::string, SweepResult> before;
  if (!compare_path.empty()) {
    std::ifstream in(compare_path);
    if (!in) throw tessaly::Error("Cannot read the table " + compare_path);
    before = tessaly::sweep::ReadTable(in);
  }

  std::map<std::pair<int, int>, Group> groups;
  for (const SweepResult& r : results) {
    Group& g = groups[{static_cast<int>(r.sweep_case.layout), r.sweep_case.noise}];
    ++g.cases;
    if (r.right)
      ++g.right;
    else
      g.wrong_widths.insert(r.sweep_case.width);
    const auto old = before.find(tessaly::sweep::CaseKey(r.sweep_case));
    if (old == before.end()) continue;
    ++g.compared;
    if (old->second.right) {
      ++g.right_before;
      if (tessaly::sweep::SameReading(old->second, r))
        ++g.identical_where_right_before;
      else
        g.changed_where_right_before.insert(r.sweep_case.width);
    } else {
      g.wrong_before_widths.insert(r.sweep_case.width);
      if (r.right) ++g.wrong_before_right_now;
    }
  }

  bool all_right = true;
  std::cout << "Headers read right, widths " << range.first_width << ".." << range.last_width
            << " every " << range.width_step << ":\n";
  std::cout << "group                 cases   right   widths read wrong\n";
  for (const auto& [key, g] : groups) {
    const std::string name = GroupName(static_cast<Layout>(key.first), key.second);
    std::cout << name << std::string(20 - std::min<std::size_t>(name.size(), 19), ' ') << g.cases
              << "\t" << g.right << "\t" << Ranges(g.wrong_widths, range.width_step) << "\n";
    all_right = all_right && g.right == g.cases;
  }
  if (!before.empty()) {
    bool identical = true;
    std::cout << "\nAgainst " << compare_path << ":\n";
    std::cout << "group                 compared  right before  identical now  wrong before"
                 "  right now  widths wrong before\n";
    for (const auto& [key, g] : groups) {
      const std::string name = GroupName(static_cast<Layout>(key.first), key.second);
      std::cout << name << std::string(20 - std::min<std::size_t>(name.size(), 19), ' ')
                << g.compared << "\t  " << g.right_before << "\t\t" << g.identical_where_right_before
                << "\t\t" << (g.compared - g.right_before) << "\t     " << g.wrong_before_right_now
                << "\t    " << Ranges(g.wrong_before_widths, range.width_step) << "\n";
      if (!g.changed_where_right_before.empty()) {
        std::cout << "  changed where right before: "
                  << Ranges(g.changed_where_right_before, range.width_step) << "\n";
        identical = false;
      }
    }
    all_right = all_right && identical;
  }
  return all_right ? 0 : 1;
} catch (const std::exception& error) {
  std::cerr << "tessaly-sweep-decode: " << error.what() << "\n";
  return 2;
}
