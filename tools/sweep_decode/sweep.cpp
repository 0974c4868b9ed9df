// The header sweep: cases, frames, decoding and the table of results.
#include "sweep_decode/sweep.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <istream>
#include <sstream>
#include <string_view>
#include <thread>

#include "app/processor.h"
#include "app/source_prep.h"
#include "base/errors.h"
#include "naming/header_name.h"

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

// Deterministic choices for the varying headers: splitmix64, the same on every platform.
class Choices {
 public:
  explicit Choices(std::uint64_t seed) : state_(seed) {}
  // 0 to count - 1.
  int operator()(int count) {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<int>((z ^ (z >> 31)) % static_cast<std::uint64_t>(count));
  }

 private:
  std::uint64_t state_;
};

// The clean frames keep the seeds the sweep has always given them.
std::uint64_t CaseSeed(const SweepCase& c) {
  return (static_cast<std::uint64_t>(c.width) << 16) ^ (static_cast<std::uint64_t>(c.noise) << 8) ^
         static_cast<std::uint64_t>(c.header) ^ (static_cast<std::uint64_t>(c.degradation) << 40);
}

constexpr std::string_view kMonthNames = "JANFEBMARAPRMAYJUNJULAUGSEPOCTNOVDEC";

int DaysInMonth(int two_digit_year, int month) {
  constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const int year = FullYear(two_digit_year);
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return kDays[static_cast<std::size_t>(month - 1)] + (month == 2 && leap ? 1 : 0);
}

std::string TwoDigits(int value) {
  return {static_cast<char>('0' + value / 10), static_cast<char>('0' + value % 10)};
}

// One to four letters and digits, then blanks; sometimes blank throughout.
std::string Code(Choices& choose) {
  constexpr std::string_view kCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::string code(4, ' ');
  const int length = choose(8) == 0 ? 0 : 1 + choose(4);
  for (int i = 0; i < length; ++i) {
    code[static_cast<std::size_t>(i)] =
        kCharacters[static_cast<std::size_t>(choose(static_cast<int>(kCharacters.size())))];
  }
  return code;
}

Layout LayoutFromName(const std::string& name) {
  for (Layout layout : {Layout::GOES, Layout::GMS, Layout::Meteosat}) {
    if (name == LayoutName(layout)) return layout;
  }
  throw Error("Sweep table: unknown layout \"" + name + "\"");
}

Degradation Impaired(const char* name, const framegen::Impairment& impairment,
                     HeaderField dropout_over = HeaderField::kNone, double crop_left_share = 0.0) {
  Degradation d{name};
  d.impaired = true;
  d.impairment = impairment;
  d.dropout_over = dropout_over;
  d.crop_left_share = crop_left_share;
  return d;
}

framegen::Impairment Scaled(double scale, framegen::Resampler resampler) {
  return {.scale = scale, .resampler = resampler};
}

// Each kind of damage at the strengths the tables name it by; the mixes at the end.
std::vector<Degradation> ImpairedFrames() {
  using framegen::Impairment;
  using framegen::Resampler;
  const Impairment crash{.crash_row = 2};
  const auto dropout = [](int crash_row) {
    return Impairment{.crash_row = crash_row, .dropout_row = 1};
  };
  return {
      Impaired("crash", crash),
      Impaired("crash+dropout-satellite", dropout(2), HeaderField::kSatellite),
      Impaired("crash+dropout-kind", dropout(2), HeaderField::kKind),
      Impaired("crash+dropout-date", dropout(2), HeaderField::kDate),
      Impaired("crash+dropout-code", dropout(2), HeaderField::kCode),
      Impaired("dropout-date", dropout(0), HeaderField::kDate),
      Impaired("phasing-1%", {.rotation = 0.01}),
      Impaired("phasing-3%", {.rotation = 0.03}),
      Impaired("phasing-10%", {.rotation = 0.10}),
      Impaired("phasing-40%", {.rotation = 0.40}),
      Impaired("phasing-77%", {.rotation = 0.77}),
      Impaired("crop-left-3", {.crop_left = 3}),
      Impaired("crop-left-10", {.crop_left = 10}),
      Impaired("crop-left-25", {.crop_left = 25}),
      Impaired("crop-left-4%", {}, HeaderField::kNone, 0.04),
      Impaired("crop-top-5", {.crop_top = 5}),
      Impaired("crop-top-12", {.crop_top = 12}),
      Impaired("crop-top-19", {.crop_top = 19}),
      Impaired("negative", {.negative = true}),
      Impaired("scale-0.5-nearest", Scaled(0.5, Resampler::kNearest)),
      Impaired("scale-0.5-lanczos", Scaled(0.5, Resampler::kLanczos)),
      Impaired("scale-0.73-bicubic", Scaled(0.73, Resampler::kBicubic)),
      Impaired("scale-0.85-nearest", Scaled(0.85, Resampler::kNearest)),
      Impaired("scale-0.85-lanczos", Scaled(0.85, Resampler::kLanczos)),
      Impaired("scale-1.37-bicubic", Scaled(1.37, Resampler::kBicubic)),
      Impaired("scale-1.37-nearest", Scaled(1.37, Resampler::kNearest)),
      Impaired("scale-1.5-lanczos", Scaled(1.5, Resampler::kLanczos)),
      Impaired("scale-2-nearest", Scaled(2.0, Resampler::kNearest)),
      Impaired("scale-2-bicubic", Scaled(2.0, Resampler::kBicubic)),
      Impaired("slant-0.1", {.slant = 0.1}),
      Impaired("slant-0.2", {.slant = 0.2}),
      Impaired("slant-0.5", {.slant = 0.5}),
      Impaired("slant-1.0", {.slant = 1.0}),
      Impaired("slant-minus-0.5", {.slant = -0.5}),
      Impaired("salt-pepper-2%", {.salt_and_pepper = 0.02}),
      Impaired("salt-pepper-5%", {.salt_and_pepper = 0.05}),
      Impaired("salt-pepper-10%", {.salt_and_pepper = 0.10}),
      Impaired("noisy-rows-1", {.noisy_rows = 1, .row_noise = 60}),
      Impaired("noisy-rows-2", {.noisy_rows = 2, .row_noise = 60}),
      Impaired("noisy-rows-3", {.noisy_rows = 3, .row_noise = 60}),
      Impaired("streaks-3", {.streaks = 3}),
      Impaired("streaks-8", {.streaks = 8}),
      Impaired("fading-50%", {.fading = 0.5}),
      Impaired("fading-80%", {.fading = 0.8}),
      Impaired("levels-8", {.levels = 8}),
      Impaired("levels-4", {.levels = 4}),
      Impaired("gamma-0.5", {.gamma = 0.5}),
      Impaired("gamma-2.2", {.gamma = 2.2}),
      Impaired("mix-phasing-slant", {.rotation = 0.25, .slant = 0.2}),
      Impaired("mix-negative-scale",
               {.negative = true, .scale = 0.85, .resampler = Resampler::kBicubic}),
      Impaired("mix-crop-salt-pepper", {.salt_and_pepper = 0.03, .crop_left = 10, .crop_top = 8}),
      Impaired("mix-fading-gamma-levels", {.fading = 0.5, .gamma = 1.8, .levels = 16}),
      Impaired("mix-crash-dropout-phasing", {.rotation = 0.3, .crash_row = 2, .dropout_row = 1},
               HeaderField::kDate),
      Impaired("mix-slant-scale", {.slant = 0.3, .scale = 1.37, .resampler = Resampler::kLanczos}),
      Impaired("mix-streaks-noisy-rows", {.noisy_rows = 1, .row_noise = 40, .streaks = 4}),
  };
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
  // Zeros and "CODE" mark what varies.
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
      {Layout::GOES, "GOES8   IR 0000000000CODE", 1, Varies::kDateAndCode},
      {Layout::GOES, "GOES-I  FD 0000000000    ", 2, Varies::kDate},
      {Layout::GOES, "GOES-K  NH 0000000000CODE", 3, Varies::kDateAndCode},
      {Layout::GOES, "GOES-9  WV 0000000000CODE", 2, Varies::kDateAndCode},
      {Layout::GOES, "GOES8   ADM0000000000    ", 2, Varies::kDigits},
      {Layout::GOES, "GOES-K  TST0000000000    ", 1, Varies::kDigits},
      {Layout::GOES, "WEFAX    99 DEC 05 12 UTC", 2, Varies::kAltDate},
      {Layout::GOES, "GOES8   VIS9902301200D2  ", 2},  // 30 February: names nothing
      {Layout::GMS, "GMSN    VIS0000000000CODE", 1, Varies::kDateAndCode},
      {Layout::GMS, "GMSS    IR 0000000000CODE", 3, Varies::kDateAndCode},
      {Layout::GMS, "GMS-5   WV 0000000000    ", 2, Varies::kDate},
      {Layout::GMS, "GMSN    ADM0000000000CODE", 2, Varies::kDigits},
      {Layout::GMS, "GMS      99 DEC 05 12 UTC", 2, Varies::kAltDate},
      {Layout::GMS, "GMSS    IR 0512312500C1  ", 2},  // hour 25: names nothing
      {Layout::Meteosat, "MET7    VIS0000000000CODE", 2, Varies::kDateAndCode},
      {Layout::Meteosat, "MET5    IR 0000000000CODE", 2, Varies::kDateAndCode},
      {Layout::Meteosat, "METEO-8 WV 0000000000    ", 2, Varies::kDate},
      {Layout::Meteosat, "MET7    TST0000000000    ", 2, Varies::kDigits},
      {Layout::Meteosat, "METEOSAT 99 DEC 05 12 UTC", 2, Varies::kAltDate},
  };
  return headers;
}

const std::vector<Degradation>& Degradations() {
  static const std::vector<Degradation> degradations = [] {
    std::vector<Degradation> all = {
        {"clean"},
        {"blur1.2", 1.2},
        {"blur2.0", 2.0},
        {"jpeg50", 0.0, 50},
        {"jpeg20", 0.0, 20},
        {"low-contrast", 0.0, 0, 90, 170},
        {"half-bit-late", 0.0, 0, 8, 240, 0.5},
        {"half-bit-early", 0.0, 0, 8, 240, -0.5},
        {"dark", 0.0, 0, 0, 60},
    };
    for (const Degradation& impaired : ImpairedFrames()) all.push_back(impaired);
    return all;
  }();
  return degradations;
}

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kRight:
      return "right";
    case Outcome::kDoubtful:
      return "doubtful";
    case Outcome::kNotRead:
      return "not-read";
    case Outcome::kWrong:
      break;
  }
  return "WRONG";
}

std::vector<SweepCase> SweepCases(const SweepRange& range) {
  std::vector<SweepCase> cases;
  const std::vector<SweepHeader>& headers = SweepHeaders();
  std::vector<int> chosen = range.headers;
  if (chosen.empty()) {
    for (std::size_t h = 0; h < headers.size(); ++h) chosen.push_back(static_cast<int>(h));
  }
  for (const int degradation : range.degradations) {
    for (Layout layout : {Layout::GOES, Layout::GMS, Layout::Meteosat}) {
      for (int width = range.first_width; width <= range.last_width; width += range.width_step) {
        for (const int noise : range.noises) {
          for (const int h : chosen) {
            if (headers.at(static_cast<std::size_t>(h)).layout == layout) {
              cases.push_back({layout, width, noise, h, degradation});
            }
          }
        }
      }
    }
  }
  return cases;
}

std::string SweepHeaderText(const SweepCase& sweep_case) {
  const SweepHeader& header = SweepHeaders().at(static_cast<std::size_t>(sweep_case.header));
  std::string text = header.text;
  if (header.varies == Varies::kNothing) return text;
  Choices choose(CaseSeed(sweep_case) ^ 0xC0FFEEull);
  const int year = choose(100);
  const int month = 1 + choose(12);
  const int day = 1 + choose(DaysInMonth(year, month));
  int hour = choose(24);
  int minute = choose(60);
  if (choose(16) == 0) {
    hour = 24;  // midnight as some senders give it
    minute = 0;
  }
  switch (header.varies) {
    case Varies::kDateAndCode:
      text.replace(21, 4, Code(choose));
      [[fallthrough]];
    case Varies::kDate:
      text.replace(11, 10,
                   TwoDigits(year) + TwoDigits(month) + TwoDigits(day) + TwoDigits(hour) +
                       TwoDigits(minute));
      break;
    case Varies::kDigits:
      for (int i = 11; i < 21; ++i)
        text[static_cast<std::size_t>(i)] = static_cast<char>('0' + choose(10));
      break;
    case Varies::kAltDate:
      text.replace(9, 2, TwoDigits(year));
      text.replace(12, 3,
                   std::string(kMonthNames.substr(static_cast<std::size_t>(month - 1) * 3, 3)));
      text.replace(16, 2, TwoDigits(day));
      text.replace(19, 2, TwoDigits(hour % 24));
      break;
    case Varies::kNothing:
      break;
  }
  return text;
}

namespace {

// Some characters of the field, from a character or up to four bits either side of one.
void PlaceDropout(HeaderField field, std::uint64_t seed, framegen::Impairment& impairment) {
  constexpr std::array<std::array<int, 2>, 5> kColumns = {
      {{0, 0}, {0, 8}, {8, 3}, {11, 10}, {21, 4}}};
  const auto [first, count] = kColumns[static_cast<std::size_t>(field)];
  Choices choose(seed ^ 0xD20F00ull);
  impairment.dropout_length = 1 + choose(std::min(count, 4));
  impairment.dropout_first = first + choose(count - impairment.dropout_length + 1);
  impairment.dropout_shift = choose(3) == 0 ? 0.0 : choose(9) - 4.0;
  // Over the header's characters: a dropout that spans its end is not one over characters.
  const double end = 8.0 * (impairment.dropout_first + impairment.dropout_length);
  impairment.dropout_shift =
      std::clamp(impairment.dropout_shift, -8.0 * impairment.dropout_first, 200.0 - end);
}

}  // namespace

framegen::FrameRecipe SweepRecipe(const SweepCase& sweep_case) {
  const SweepHeader& header = SweepHeaders().at(static_cast<std::size_t>(sweep_case.header));
  const Degradation& degradation =
      Degradations().at(static_cast<std::size_t>(sweep_case.degradation));
  framegen::FrameRecipe recipe;
  recipe.layout = sweep_case.layout;
  recipe.header = SweepHeaderText(sweep_case);
  recipe.data_rows = header.data_rows;
  recipe.width = sweep_case.width;
  recipe.picture_height = kPictureRows;
  recipe.tone_rows = kToneRows;
  recipe.below_rows = kBelowRows;
  recipe.content = framegen::Content::Flat;
  recipe.noise = sweep_case.noise;
  recipe.seed = CaseSeed(sweep_case);
  recipe.black = degradation.black;
  recipe.white = degradation.white;
  recipe.blur = degradation.blur;
  recipe.jpeg_quality = degradation.jpeg_quality;
  recipe.bit_offset = degradation.bit_offset;
  recipe.impairment = degradation.impairment;
  if (degradation.crop_left_share > 0.0) {
    recipe.impairment.crop_left =
        static_cast<int>(std::lround(degradation.crop_left_share * sweep_case.width));
  }
  if (degradation.dropout_over != HeaderField::kNone) {
    PlaceDropout(degradation.dropout_over, CaseSeed(sweep_case), recipe.impairment);
  }
  return recipe;
}

SweepResult RunCase(const SweepCase& sweep_case, const RunOptions& options) {
  const framegen::Frame frame = framegen::MakeFrame(SweepRecipe(sweep_case));
  const std::filesystem::path input = "frame.bmp";
  PictureResult named;
  BitEvidence evidence;
  if (options.first_analysis) {
    const IplImagePtr sample = MakeSampleImage(framegen::ToBitmap(frame));
    const DataLinesResult found = AnalyseDataLines(
        sample.get(), 4.0f * static_cast<float>(sample->width), SatelliteType::GOES, Looks::kFirst);
    const NameProposal proposal = HeaderToFileName(input, found.header_text);
    named.header_text = found.header_text;
    named.read_as = found.decoded_as;
    named.black_level = found.black_level;
    named.white_level = found.white_level;
    named.cut = found.cut;
    named.proposed_name = WithPngExtension(proposal.name);
    named.named_from = proposal.named_from;
    evidence = found.evidence;
  } else if (options.whole_frame) {
    // What the per-file processing takes from the reading, without its even-row working picture.
    const IplImagePtr image = framegen::MakeWorkingImage(frame);
    FrameReading reading = ReadFrame(*image, input);
    named.header_text = reading.found.header_text;
    named.read_as = reading.found.decoded_as;
    named.black_level = reading.found.black_level;
    named.white_level = reading.found.white_level;
    named.cut = reading.found.cut;
    named.proposed_name = WithPngExtension(reading.proposal.name);
    named.named_from = reading.proposal.named_from;
    named.header_confidence = reading.judgement.confidence;
    named.header_doubtful = reading.judgement.doubtful;
    if (!reading.doubtful_proposal.name.empty()) {
      named.doubtful_name = WithPngExtension(reading.doubtful_proposal.name);
    }
    evidence = reading.found.evidence;
  } else {
    TExtBitmap bitmap;
    bitmap.Assign(framegen::ToBitmap(frame));
    named = ProcessLoadedPicture(input, std::move(bitmap), {});
    // The processing renders the whole frame when the decoder cut nothing; the tables keep the
    // decoder's empty cut.
    if (named.cut.x == 0 && named.cut.y == 0 && named.cut.width == frame.width) {
      named.cut = PictureRect();
    }
    if (options.evidence) {
      const IplImagePtr sample = MakeSampleImage(framegen::ToBitmap(frame));
      evidence = ReadFrame(*sample, input).found.evidence;
    }
  }
  SweepResult result;
  result.sweep_case = sweep_case;
  result.header = named.header_text;
  result.right = named.header_text == frame.header;
  result.decoded_as = static_cast<int>(named.read_as);
  result.black = named.black_level;
  result.white = named.white_level;
  result.cut = named.cut;
  result.confidence = named.header_confidence.value_or(0.0);
  result.evidence = evidence;
  result.has_outcome = true;
  result.sent_header = frame.header;
  result.expected_name = WithPngExtension(HeaderToFileName(input, frame.header).name).string();
  const std::string proposed = named.proposed_name.string();
  result.name = named.doubtful_name.empty() ? proposed : named.doubtful_name.string();
  if (named.header_doubtful) {
    result.outcome = Outcome::kDoubtful;
  } else if (proposed == result.expected_name) {
    result.outcome = Outcome::kRight;
  } else if (named.named_from == NamedFrom::kInputName) {
    result.outcome = Outcome::kNotRead;
  } else {
    result.outcome = Outcome::kWrong;
  }
  result.sent_start_column = frame.start_column;
  result.sent_picture = frame.picture;
  return result;
}

std::vector<SweepResult> RunCases(const std::vector<SweepCase>& cases, int jobs,
                                  const RunOptions& options) {
  std::vector<SweepResult> results(cases.size());
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t i = next++; i < cases.size(); i = next++) {
      results[i] = RunCase(cases[i], options);
    }
  };
  std::vector<std::thread> threads;
  for (int j = 1; j < jobs; ++j) threads.emplace_back(work);
  work();
  for (std::thread& thread : threads) thread.join();
  return results;
}

std::string CaseKey(const SweepCase& c) {
  std::string key = std::string(LayoutName(c.layout)) + "\t" + std::to_string(c.width) + "\t" +
                    std::to_string(c.noise) + "\t" + std::to_string(c.header);
  if (c.degradation != 0) key += std::string("\t") + Degradations().at(c.degradation).name;
  return key;
}

std::string TableHeading() {
  return "# layout\twidth\tnoise\theader\tdegradation\tright\tas\tblack\twhite\tcut x\ty\twidth\t"
         "height\toutcome\tconfidence\ttext (hex)\tname (hex)";
}

std::string TableLine(const SweepResult& r) {
  const SweepCase& c = r.sweep_case;
  std::ostringstream line;
  line << LayoutName(c.layout) << '\t' << c.width << '\t' << c.noise << '\t' << c.header << '\t'
       << Degradations().at(static_cast<std::size_t>(c.degradation)).name << '\t'
       << (r.right ? 1 : 0) << '\t' << r.decoded_as << '\t' << r.black << '\t' << r.white << '\t'
       << r.cut.x << '\t' << r.cut.y << '\t' << r.cut.width << '\t' << r.cut.height << '\t'
       << OutcomeName(r.outcome) << '\t' << r.confidence << '\t'
       << (r.header.empty() ? "-" : ToHex(r.header)) << '\t'
       << (r.name.empty() ? "-" : ToHex(r.name));
  return line.str();
}

std::map<std::string, SweepResult> ReadTable(std::istream& in) {
  std::map<std::string, SweepResult> table;
  std::string text;
  while (std::getline(in, text)) {
    if (text.empty() || text[0] == '#') continue;
    std::vector<std::string> fields;
    std::istringstream split(text);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    SweepResult r;
    SweepCase& c = r.sweep_case;
    try {
      c.layout = LayoutFromName(fields.at(0));
      c.width = std::stoi(fields.at(1));
      c.noise = std::stoi(fields.at(2));
      c.header = std::stoi(fields.at(3));
      if (fields.size() == 15) {
        // Before outcomes were kept: data rows and start column after the coding, which
        // the cut tells as well; every frame was clean.
        r.right = fields[4] == "1";
        r.decoded_as = std::stoi(fields[5]);
        r.black = std::stoi(fields[8]);
        r.white = std::stoi(fields[9]);
        r.cut = {std::stoi(fields[10]), std::stoi(fields[11]), std::stoi(fields[12]),
                 std::stoi(fields[13])};
        r.header = FromHex(fields[14]);
      } else if (fields.size() == 17) {
        c.degradation = -1;
        for (std::size_t d = 0; d < Degradations().size(); ++d) {
          if (fields[4] == Degradations()[d].name) c.degradation = static_cast<int>(d);
        }
        if (c.degradation < 0) throw Error("unknown degradation");
        r.right = fields[5] == "1";
        r.decoded_as = std::stoi(fields[6]);
        r.black = std::stoi(fields[7]);
        r.white = std::stoi(fields[8]);
        r.cut = {std::stoi(fields[9]), std::stoi(fields[10]), std::stoi(fields[11]),
                 std::stoi(fields[12])};
        r.has_outcome = true;
        r.outcome = Outcome::kWrong;
        for (Outcome o : {Outcome::kRight, Outcome::kDoubtful, Outcome::kNotRead}) {
          if (fields[13] == OutcomeName(o)) r.outcome = o;
        }
        r.confidence = std::stod(fields[14]);
        r.header = FromHex(fields[15]);
        r.name = FromHex(fields[16]);
      } else {
        throw Error("wrong number of fields");
      }
    } catch (const std::exception&) {
      throw Error("Sweep table: cannot read the line \"" + text + "\"");
    }
    table[CaseKey(c)] = r;
  }
  return table;
}

bool SameReading(const SweepResult& a, const SweepResult& b) {
  return a.header == b.header && a.black == b.black && a.white == b.white && a.cut.x == b.cut.x &&
         a.cut.y == b.cut.y && a.cut.width == b.cut.width && a.cut.height == b.cut.height &&
         a.decoded_as == b.decoded_as;
}

}  // namespace tessaly::sweep
