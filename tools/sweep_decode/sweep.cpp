// The header sweep: cases, frames, decoding and the table of results.
#include "sweep_decode/sweep.h"

#include <atomic>
#include <istream>
#include <sstream>
#include <thread>

#include "app/processor.h"
#include "base/errors.h"

namespace tessaly::sweep {
namespace {

using framegen::Layout;

constexpr int kPictureRows = 40;  // enough for the layout strip the decoder inspects
constexpr int kToneRows = 20;
constexpr int kBelowRows = 6;

std::string ToHex(const std::string& text) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    hex.push_back(kDigits[byte >> 4]);
    hex.push_back(kDigits[byte & 0xF]);
  }
  return hex;
}

std::string FromHex(const std::string& hex) {
  if (hex == "-") return std::string();
  if (hex.size() % 2 != 0) throw Error("Sweep table: odd hexadecimal text \"" + hex + "\"");
  std::string text;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    text.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return text;
}

Layout LayoutFromName(const std::string& name) {
  for (Layout layout : {Layout::GOES, Layout::GMS, Layout::Meteosat}) {
    if (name == LayoutName(layout)) return layout;
  }
  throw Error("Sweep table: unknown layout \"" + name + "\"");
}

}  // namespace

const char* LayoutName(Layout layout) {
  switch (layout) {
    case Layout::GMS:
      return "GMS";
    case Layout::Meteosat:
      return "Meteosat";
    case Layout::GOES:
      break;
  }
  return "GOES";
}

const std::vector<SweepHeader>& SweepHeaders() {
  static const std::vector<SweepHeader> headers = {
      {Layout::GOES, "GOES8   VIS9812241200D2  ", 2},
      {Layout::GOES, "GOES-I  FD 0101311445    ", 1},
      {Layout::GOES, "GOES-K  NH 2402292400UUUU", 4},
      {Layout::GOES, "WEFAX    99 DEC 05 12 UTC", 3},
      {Layout::GMS, "GMSN    IR 0003151200C1  ", 2},
      {Layout::GMS, "GMSS    VIS0512312359H0Z9", 1},
      {Layout::GMS, "GMS-5   WV 2402290000ab  ", 4},
      {Layout::Meteosat, "MET7    VIS0104011230D2  ", 2},
      {Layout::Meteosat, "MET5    C029912051230D2AB", 2},
      {Layout::Meteosat, "METEO-8 WV 5612312359UUUU", 2},
  };
  return headers;
}

std::vector<SweepCase> SweepCases(const SweepRange& range) {
  std::vector<SweepCase> cases;
  const std::vector<SweepHeader>& headers = SweepHeaders();
  for (Layout layout : {Layout::GOES, Layout::GMS, Layout::Meteosat}) {
    for (int width = range.first_width; width <= range.last_width; width += range.width_step) {
      for (const int noise : range.noises) {
        for (std::size_t h = 0; h < headers.size(); ++h) {
          if (headers[h].layout == layout) {
            cases.push_back({layout, width, noise, static_cast<int>(h)});
          }
        }
      }
    }
  }
  return cases;
}

framegen::FrameRecipe SweepRecipe(const SweepCase& sweep_case) {
  const SweepHeader& header = SweepHeaders().at(static_cast<std::size_t>(sweep_case.header));
  framegen::FrameRecipe recipe;
  recipe.layout = sweep_case.layout;
  recipe.header = header.text;
  recipe.data_rows = header.data_rows;
  recipe.width = sweep_case.width;
  recipe.picture_height = kPictureRows;
  recipe.tone_rows = kToneRows;
  recipe.below_rows = kBelowRows;
  recipe.content = framegen::Content::Flat;
  recipe.noise = sweep_case.noise;
  recipe.seed = (static_cast<std::uint64_t>(sweep_case.width) << 16) ^
                (static_cast<std::uint64_t>(sweep_case.noise) << 8) ^
                static_cast<std::uint64_t>(sweep_case.header);
  return recipe;
}

SweepResult RunCase(const SweepCase& sweep_case) {
  const framegen::Frame frame = framegen::MakeFrame(SweepRecipe(sweep_case));
  const IplImagePtr image = framegen::MakeWorkingImage(frame);
  const DataLinesResult read = ReadFrame(*image, "frame.bmp").found;
  SweepResult result;
  result.sweep_case = sweep_case;
  result.header = read.header_text;
  result.right = read.header_text == frame.header;
  result.decoded_as = static_cast<int>(read.decoded_as);
  result.data_rows = read.data_rows;
  result.start_column = read.start_column;
  result.black = read.black_level;
  result.white = read.white_level;
  result.cut = read.cut;
  result.sent_start_column = frame.start_column;
  result.sent_picture = frame.picture;
  return result;
}

std::vector<SweepResult> RunCases(const std::vector<SweepCase>& cases, int jobs) {
  std::vector<SweepResult> results(cases.size());
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t i = next++; i < cases.size(); i = next++) results[i] = RunCase(cases[i]);
  };
  std::vector<std::thread> threads;
  for (int j = 1; j < jobs; ++j) threads.emplace_back(work);
  work();
  for (std::thread& thread : threads) thread.join();
  return results;
}

std::string CaseKey(const SweepCase& c) {
  return std::string(LayoutName(c.layout)) + "\t" + std::to_string(c.width) + "\t" +
         std::to_string(c.noise) + "\t" + std::to_string(c.header);
}

std::string TableLine(const SweepResult& r) {
  std::ostringstream line;
  line << CaseKey(r.sweep_case) << '\t' << (r.right ? 1 : 0) << '\t' << r.decoded_as << '\t'
       << r.data_rows << '\t' << r.start_column << '\t' << r.black << '\t' << r.white << '\t'
       << r.cut.x << '\t' << r.cut.y << '\t' << r.cut.width << '\t' << r.cut.height << '\t'
       << (r.header.empty() ? "-" : ToHex(r.header));
  return line.str();
}

std::map<std::string, SweepResult> ReadTable(std::istream& in) {
  std::map<std::string, SweepResult> table;
  std::string text;
  while (std::getline(in, text)) {
    if (text.empty() || text[0] == '#') continue;
    std::istringstream line(text);
    std::string layout;
    std::string hex;
    int right = 0;
    SweepResult r;
    line >> layout >> r.sweep_case.width >> r.sweep_case.noise >> r.sweep_case.header >> right >>
        r.decoded_as >> r.data_rows >> r.start_column >> r.black >> r.white >> r.cut.x >> r.cut.y >>
        r.cut.width >> r.cut.height >> hex;
    if (!line) throw Error("Sweep table: cannot read the line \"" + text + "\"");
    r.sweep_case.layout = LayoutFromName(layout);
    r.right = right != 0;
    r.header = FromHex(hex);
    table[CaseKey(r.sweep_case)] = r;
  }
  return table;
}

bool SameReading(const SweepResult& a, const SweepResult& b) {
  return a.header == b.header && a.black == b.black && a.white == b.white && a.cut.x == b.cut.x &&
         a.cut.y == b.cut.y && a.cut.width == b.cut.width && a.cut.height == b.cut.height &&
         a.decoded_as == b.decoded_as && a.data_rows == b.data_rows && a.start_column == b.start_column;
}

}  // namespace tessaly::sweep
