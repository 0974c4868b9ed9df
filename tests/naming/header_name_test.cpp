// Tests of the header parser: result names of both header forms, fall-back, the facts read, and
// the header check that judges a reading.
#include "naming/header_name.h"
#include "naming/header_check.h"
#include "naming/header_fields.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tessaly {
namespace {

// A primary-form header: satellite padded to 8, kind padded to 3, then the date digits
// (YYMMDDHHMI) and the picture code as given.
std::string Header(std::string satellite, std::string kind, std::string_view digits,
                   std::string_view code) {
  satellite.resize(8, ' ');
  kind.resize(3, ' ');
  return satellite + kind + std::string(digits) + std::string(code);
}

const std::string kInput = "/data/in/frame.bmp";

struct Row {
  const char* what;
  std::string header;
  std::string name;  // name part expected between folder and extension; "" = the input name
};

std::vector<Row> ResultRows() {
  const std::string digits = "9912051230";
  return {
      {"worked example, MET7", Header("MET7", "C02", digits, "D2AB"), "D2AB 05-12-99 1230"},
      {"worked example, GOES-I", Header("GOES-I", "FD", "0101311445", "    "),
       "GOES-I 31-01-01 1445 G8FD"},
      {"administrative", Header("MET7", "ADM", "99xx051230", "D2AB"), "ADMIN"},
      {"test message, garbage date", Header("GMSN", "TST", "-+ab", ""), "TEST"},
      {"ADM outside the kind columns", Header("MET7", " AD", "", "") + "M", ""},
      {"lower-case adm is a kind", Header("XSAT", "adm", digits, "CODE"), "CODE 05-12-99 1230 adm"},
      {"MET5 prefix", Header("MET5B", "C03", digits, "CODE"), "CODE 05-12-99 1230"},
      {"GMSS", Header("GMSS", "IR", digits, "CODE"), "CODE 05-12-99 1230"},
      {"GOES8", Header("GOES8", "FD", digits, "CODE"), "CODE 05-12-99 1230"},
      {"GOES-K", Header("GOES-K", "NH", digits, "CODE"), "CODE 05-12-99 1230 G10NH"},
      {"GOES-I takes two kind letters", Header("GOES-I", "FDX", digits, "CODE"),
       "CODE 05-12-99 1230 G8FD"},
      {"GOES-9 is any other", Header("GOES-9", "FD", digits, "CODE"), "CODE 05-12-99 1230 FD"},
      {"blank kind ends in a blank", Header("XSAT", "", digits, "CODE"), "CODE 05-12-99 1230 "},
      {"blank code", Header("  MET7", "C02", digits, "    "), "MET7 05-12-99 1230"},
      {"half-blank code", Header("MET7", "C02", digits, "AB  "), "AB   05-12-99 1230"},
      {"code cut short", Header("MET7", "C02", digits, "D2"), "D2 05-12-99 1230"},
      {"minute cut short", Header("MET7", "C02", "991205123", ""), "MET7 05-12-99 1203"},
      {"leading blank digit", Header("MET7", "C02", " 9 1 5 1 3", "X"), "X 05-01-09 0103"},
      {"year 56", Header("MET7", "C02", "5612051230", "X"), "X 05-12-56 1230"},
      {"year 57", Header("MET7", "C02", "5712051230", "X"), "X 05-12-57 1230"},
      {"year 00 is leap 2000", Header("MET7", "C02", "0002291230", "X"), "X 29-02-00 1230"},
      {"year 99 is 1999, not leap", Header("MET7", "C02", "9902291230", "X"), ""},
      {"hour 24", Header("MET7", "C02", "9912052400", "X"), "X 05-12-99 2400"},
      {"hour 25", Header("MET7", "C02", "9912052500", "X"), ""},
      {"minute 60", Header("MET7", "C02", "9912051260", "X"), ""},
      {"31 February", Header("MET7", "C02", "9902311230", "X"), ""},
      {"trailing blank in a number", Header("MET7", "C02", "9912051 30", "X"), ""},
      {"a sign is no digit", Header("MET7", "C02", "+912051230", "X"), ""},
      {"11 characters", Header("MET7", "C02", "", ""), ""},
      {"minute beyond the end", Header("MET7", "C02", "99120512", ""), ""},
      {"Latin-1 code", Header("GMSS", "VS", digits, "\xA2\xACXY"),
       "\xC2\xA2\xC2\xACXY 05-12-99 1230"},
      {"code leaving the folder", Header("MET7", "C02", digits, "../x"), ""},
      {"code hiding the file", Header("MET7", "C02", digits, ".X"), ""},
      {"code with a separator", Header("MET7", "C02", digits, "A/BC"), ""},
      {"satellite leaving the folder", Header("../..", "C02", digits, ""), ""},
      {"kind with a colon", Header("XSAT", "A:B", digits, "CODE"), ""},
      // Alternative form: year at 10-11, month name at 13-15, day at 17-18, hour at 20-21.
      {"alternative", "GMS-5 IR 99-DEC-05 12.00Z", "GMS-5 IR 99-DEC-05 12.00Z"},
      {"alternative, any case", " GMS5 IR 99 dEc 05 12 Z ", "GMS5 IR 99 dEc 05 12 Z"},
      {"alternative, straddling ANF", "GMS-5 IR 99-anf-31 00", "GMS-5 IR 99-anf-31 00"},
      {"alternative, Latin-1", "GMS\xA2 IR  00 FEB 29 23", "GMS\xC2\xA2 IR  00 FEB 29 23"},
      {"alternative, XYZ", "GMS-5 IR 99-XYZ-05 12.00Z", ""},
      {"alternative, hour 24", "GMS-5 IR 99-DEC-05 24.00Z", ""},
      {"alternative, 31 November", "GMS-5 IR 99-NOV-31 12.00Z", ""},
      {"alternative, invalid name", "GMS-5 IR 99-DEC-05 12:00Z", ""},
      {"alternative, separator", "GMS/5 IR 99-DEC-05 12.00Z", ""},
      {"alternative, hiding the file", ".GMS5 IR 99-DEC-05 12.00Z", ""},
      {"alternative, month cut short", "GMS-5 IR 99-DE", ""},
      // The headers of the frame generator's layouts and of the decoding sweep.
      {"GOES8 visible", "GOES8   VIS9812241200D2  ", "D2   24-12-98 1200"},
      {"GOES-K at hour 24 of a leap day", "GOES-K  NH 2402292400UUUU", "UUUU 29-02-24 2400 G10NH"},
      {"GMSN infrared", "GMSN    IR 0003151200C1  ", "C1   15-03-00 1200"},
      {"GMSS at the year's last minute", "GMSS    VIS0512312359H0Z9", "H0Z9 31-12-05 2359"},
      {"GMS-5 is any other", "GMS-5   WV 2402290000ab  ", "ab   29-02-24 0000 WV"},
      {"MET7 visible", "MET7    VIS0104011230D2  ", "D2   01-04-01 1230"},
      {"METEO-8 in 2056", "METEO-8 WV 5612312359UUUU", "UUUU 31-12-56 2359 WV"},
  };
}

TEST(HeaderToFileName, ProposesTheNameOfEachHeaderFormAndSaysWhichFormItWas) {
  for (const Row& row : ResultRows()) {
    const std::string expected = row.name.empty() ? kInput : "/data/in/" + row.name + ".bmp";
    const NameProposal proposal = HeaderToFileName(kInput, row.header);
    EXPECT_EQ(proposal.name.native(), expected) << row.what;
    const NamedFrom form = row.name.empty() ? NamedFrom::kInputName
                           : std::string_view(row.what).starts_with("alt")
                               ? NamedFrom::kAlternativeForm
                               : NamedFrom::kPrimaryForm;
    EXPECT_EQ(proposal.named_from, form) << row.what;
  }
}

TEST(HeaderToFileName, KeepsFolderAndExtensionAsTheyStand) {
  const std::string header = Header("MET7", "C02", "9912051230", "D2AB");
  EXPECT_EQ(HeaderToFileName("/d/frame", header).name.native(), "/d/D2AB 05-12-99 1230");
  EXPECT_EQ(HeaderToFileName("frame.BMP", header).name.native(), "D2AB 05-12-99 1230.BMP");
  EXPECT_EQ(HeaderToFileName("/d.x/frame.old.png", header).name.native(),
            "/d.x/D2AB 05-12-99 1230.png");
  EXPECT_EQ(HeaderToFileName("/d/frame.png", Header("MET7", "ADM", "", "")).name.native(),
            "/d/ADMIN.png");
}

TEST(HeaderToFileName, HasTheBadHeaderMessageOnlyWhenNeitherFormReads) {
  const std::string bad = Header("MET7", "C02", "9902311230", "\xA2");
  const NameProposal unread = HeaderToFileName(kInput, bad);
  EXPECT_EQ(unread.name.native(), kInput);
  EXPECT_EQ(unread.bad_header_message, "Bad WEFAX header: MET7    C029902311230\xC2\xA2");

  for (const std::string& header :
       {std::string("MET7   C02"),  // too short to be a header
        Header("MET7", "C02", "9912051230", "X"), std::string("GMS-5 IR 99-DEC-05 12.00Z")}) {
    EXPECT_EQ(HeaderToFileName(kInput, header).bad_header_message, "") << header;
  }
}

TEST(HeaderProblem, SaysWhyAHeaderThatWasReadGivesNoName) {
  const std::pair<std::string, std::string> rows[] = {
      {Header("MET7", "C02", "9902311230", "X"), "31-02-99 is not a date"},
      {Header("MET7", "C02", "9912052500", "X"), "25:00 is not a time"},
      {Header("MET7", "C02", "9912051 30", "X"), "its date and time \"9912051 30\" are not digits"},
      {Header("MET7", "C02", "99120512", ""), "its date and time \"99120512\" are not digits"},
      {Header("MET7", "C02", "9912051230", "A/BC"), "\"A/BC 05-12-99 1230\" cannot be a file name"},
      {" MET7  C02", "\"MET7  C02\" is too short to be a header"},
      {"MET7    C02 ", "\"MET7    C02\" has no date and time"},
      {std::string(25, ' '), ""},  // nothing was read
      {Header("MET7", "C02", "9912051230", "X"), ""},
      {"GMS-5 IR 99-DEC-05 12.00Z", ""},
  };
  for (const auto& [header, problem] : rows) EXPECT_EQ(HeaderProblem(header), problem) << header;
}

TEST(ReadHeader, GivesTheFactsOfTheFormThatReadsWithItsTimeInIso8601) {
  struct FieldRow {
    const char* what;
    std::string header;
    NamedFrom form;
    const char* satellite;
    const char* code;
    const char* time;  // "" = none
    const char* message;
  };
  const std::vector<FieldRow> rows = {
      {"primary", Header("MET7", "C02", "9912051230", "D2AB"), NamedFrom::kPrimaryForm, "MET7",
       "D2AB", "1999-12-05T12:30Z", ""},
      {"blank code: the satellite", Header("GOES-I", "FD", "0101311445", "    "),
       NamedFrom::kPrimaryForm, "GOES-I", "GOES-I", "2001-01-31T14:45Z", ""},
      {"hour 24 at a leap month's end", Header("MET7", "C02", "0002292415", "D2AB"),
       NamedFrom::kPrimaryForm, "MET7", "D2AB", "2000-03-01T00:15Z", ""},
      {"hour 24 at the year's end", Header("MET7", "C02", "9912312400", "D2AB"),
       NamedFrom::kPrimaryForm, "MET7", "D2AB", "2000-01-01T00:00Z", ""},
      {"administrative message", Header("MET7", "ADM", "xxxxxxxxxx", "xxxx"),
       NamedFrom::kPrimaryForm, "MET7", "", "", "ADMIN"},
      {"alternative form: to the hour", "ABCDEFGHI99 DEC 05 12 XYZ", NamedFrom::kAlternativeForm,
       "", "", "1999-12-05T12:00Z", ""},
      {"not read", Header("MET7", "C02", "9913051230", "D2AB"), NamedFrom::kInputName, "", "", "",
       ""},
  };
  for (const FieldRow& row : rows) {
    SCOPED_TRACE(row.what);
    const std::optional<HeaderFields> read = ReadHeader(row.header);
    ASSERT_EQ(read.has_value(), row.form != NamedFrom::kInputName);
    if (!read) continue;
    const HeaderFields& f = *read;
    EXPECT_EQ(f.form, row.form);
    EXPECT_EQ(f.satellite, row.satellite);
    EXPECT_EQ(f.code, row.code);
    EXPECT_EQ(f.time ? IsoTime(*f.time) : "", row.time);
    EXPECT_EQ(f.message, row.message);
  }
}

TEST(IsKnownSatellite, MatchesPrefixesCaseSensitively) {
  for (const char* name : {"MET5", "MET7B", "GMSN", "GMSS", "GOES8", "GOES8W"}) {
    EXPECT_TRUE(IsKnownSatellite(name)) << name;
  }
  for (const char* name : {"MET6", "met7", "GMS", "GOES-I", "GOES-9", " MET7"}) {
    EXPECT_FALSE(IsKnownSatellite(name)) << name;
  }
}

TEST(IsValidFileName, AcceptsOnlyStorableNamesInTheInputFolder) {
  EXPECT_TRUE(IsValidFileName("/d/A B-1 .bmp", "/d/x.bmp"));
  EXPECT_TRUE(IsValidFileName("/d/\xC2\xA2.bmp", "/d/x.bmp"));
  EXPECT_TRUE(IsValidFileName("name", "x"));
  for (const char* bad :
       {"/d/.bmp", "/d/..bmp", "/d/...bmp", "/d/.a.bmp", "/d/a\x1F.bmp", "/d/a\x7F.bmp",
        "/d/a/b.bmp", "/d/a\\b.bmp", "/d/a:b.bmp", "/d/a*.bmp", "/d/a?.bmp", "/d/\"a\".bmp",
        "/d/<a>.bmp", "/d/a|b.bmp", "/e/a.bmp", "/d/a.png", "/d/.bm"}) {
    EXPECT_FALSE(IsValidFileName(bad, "/d/x.bmp")) << bad;
  }
}

TEST(HeaderCheck, CountsCharactersThatBreakTheirFieldAndChargesThemToTheMargin) {
  const std::string digits = "9912051230";
  const struct {
    std::string header;
    NamedFrom form;
    int breaks;
    bool dropout = false;  // blanks where a dropout leaves them: no confidence at all
  } rows[] = {
      {Header("GOES-I", "FD", digits, "    "), NamedFrom::kPrimaryForm, 0},
      {Header("GMS-5", "WV", digits, "ab"), NamedFrom::kPrimaryForm, 0},
      {Header("MET7", "^ c", digits, "D2"), NamedFrom::kPrimaryForm, 2},  // a kind is one word
      {Header("MET7", "VIS", digits, " 2"), NamedFrom::kPrimaryForm, 1, true},    // so is a code
      {Header("  MET7", "VIS", digits, "D2"), NamedFrom::kPrimaryForm, 2, true},  // a satellite
      {Header("", "VIS", digits, "D2"), NamedFrom::kPrimaryForm, 1, true},  // a satellite is named
      {Header("MET7", "VIS", " 912051230", "D2"), NamedFrom::kPrimaryForm, 1, true},  // digits
      {Header("MET7", "ADM", "99xx051230", "D2AB"), NamedFrom::kPrimaryForm, 0},      // not read
      {"WEFAX    99 DEC 05 12 UTC", NamedFrom::kAlternativeForm, 0},
      {"WEFAX    99 D3C 05 1* UT#", NamedFrom::kAlternativeForm, 3},
      {"WEFAX    99 DEC  5 12 UTC", NamedFrom::kAlternativeForm, 1, true},
      {"#~#", NamedFrom::kInputName, 0},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(CountFieldBreaks(row.header, row.form), row.breaks) << row.header;
    const HeaderJudgement judged = JudgeHeader(20.0, row.header, row.form);
    EXPECT_EQ(judged.confidence, row.dropout ? 0.0 : 20.0 - kFieldBreakCost * row.breaks)
        << row.header;
  }
  EXPECT_FALSE(
      JudgeHeader(kDoubtfulBelow, "GOES8   VIS9812241200D2  ", NamedFrom::kPrimaryForm).doubtful);
  EXPECT_TRUE(JudgeHeader(kDoubtfulBelow + kFieldBreakCost - 0.01,
                          Header("MET7", "VIS", digits, " 2"), NamedFrom::kPrimaryForm)
                  .doubtful);
  // Nothing read, nothing to doubt or measure.
  for (const std::string& nothing : {std::string(), std::string(25, ' ')}) {
    const HeaderJudgement judged = JudgeHeader(0.0, nothing, NamedFrom::kInputName);
    EXPECT_FALSE(judged.doubtful);
    EXPECT_FALSE(judged.confidence.has_value());
  }
}

}  // namespace
}  // namespace tessaly
