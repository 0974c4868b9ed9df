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
  std::set<int> wrongWidths;
  // Against the earlier table:
  int compared = 0;
  int rightBefore = 0;
  int identicalWhereRightBefore = 0;
  int wrongBeforeRightNow = 0;
  std::set<int> wrongBeforeWidths;
  std::set<int> changedWhereRightBefore;
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
  app.add_option("--from", range.firstWidth, "First row width")->check(CLI::Range(226, 20000));
  app.add_option("--to", range.lastWidth, "Last row width")->check(CLI::Range(226, 20000));
  app.add_option("--every", range.widthStep, "Width step")->check(CLI::PositiveNumber);
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
    Group& g = groups[{static_cast<int>(r.sweepCase.layout), r.sweepCase.noise}];
    ++g.cases;
    if (r.right)
      ++g.right;
    else
      g.wrongWidths.insert(r.sweepCase.width);
    const auto old = before.find(tessaly::sweep::CaseKey(r.sweepCase));
    if (old == before.end()) continue;
    ++g.compared;
    if (old->second.right) {
      ++g.rightBefore;
      if (tessaly::sweep::SameReading(old->second, r))
        ++g.identicalWhereRightBefore;
      else
        g.changedWhereRightBefore.insert(r.sweepCase.width);
    } else {
      g.wrongBeforeWidths.insert(r.sweepCase.width);
      if (r.right) ++g.wrongBeforeRightNow;
    }
  }

  bool all_right = true;
  std::cout << "Headers read right, widths " << range.firstWidth << ".." << range.lastWidth
            << " every " << range.widthStep << ":\n";
  std::cout << "group                 cases   right   widths read wrong\n";
  for (const auto& [key, g] : groups) {
    const std::string name = GroupName(static_cast<Layout>(key.first), key.second);
    std::cout << name << std::string(20 - std::min<std::size_t>(name.size(), 19), ' ') << g.cases
              << "\t" << g.right << "\t" << Ranges(g.wrongWidths, range.widthStep) << "\n";
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
                << g.compared << "\t  " << g.rightBefore << "\t\t" << g.identicalWhereRightBefore
                << "\t\t" << (g.compared - g.rightBefore) << "\t     " << g.wrongBeforeRightNow
                << "\t    " << Ranges(g.wrongBeforeWidths, range.widthStep) << "\n";
      if (!g.changedWhereRightBefore.empty()) {
        std::cout << "  changed where right before: "
                  << Ranges(g.changedWhereRightBefore, range.widthStep) << "\n";
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
