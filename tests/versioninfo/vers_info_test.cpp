// The version component: version numbers, translations, lookups, build flags, the list rows,
// files without a resource, and the program's own resource made by the build.
#include "versioninfo/vers_info.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <random>

#include "crafted.h"
#include "tessaly/version.h"
#include "versioninfo/embedded_resource.h"

namespace tessaly {
namespace {

using testing::ProgramLikeContent;
using testing::ProgramLikeResource;

// A component over crafted bytes, loaded as the window loads its own.
class Loaded {
 public:
  explicit Loaded(const VersionResourceContent& content)
      : bytes_(BuildVersionResource(content)), info_(bytes_) {
    info_.Loaded();
  }
  TvixVersionInfoResource& operator*() { return info_; }
  TvixVersionInfoResource* operator->() { return &info_; }

 private:
  std::vector<std::uint8_t> bytes_;
  TvixVersionInfoResource info_;
};

std::filesystem::path WriteTemp(const std::string& name, const std::vector<std::uint8_t>& bytes) {
  const auto path =
      std::filesystem::temp_directory_path() / (std::to_string(::getpid()) + "-" + name);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path;
}

TEST(TvixVersionInfoResource, ReadsTheProgramLikeResource) {
  Loaded info(ProgramLikeContent());
  EXPECT_EQ(info->FileVersionNumber().AsString(), "1.2.2.7");
  EXPECT_EQ(info->Translations(), std::vector<std::string>{"080904e4"});
  EXPECT_EQ(info->TranslationIndex(), 0);
  EXPECT_EQ(info->GetValue("FileVersion"), "1.2.2.7");
  EXPECT_EQ(info->FileDescription(), "Update and rename bitmaps to WEFAX standard");
  EXPECT_EQ(info->CompanyName(), "Kestrelwood");
  EXPECT_EQ(info->GetPredefinedValue(7), "Tessaly");
  EXPECT_EQ(info->Comments(), "");
  EXPECT_EQ(info->GetPredefinedValue(11), "");
  EXPECT_EQ(info->GetPredefinedValue(-1), "");
  EXPECT_EQ(info->ProductVersionNumber().AsString(), "1.2.2.7");
  EXPECT_EQ(info->VersionDataSize(), ProgramLikeResource().size());

  const auto& number = info->FileVersionNumber();
  EXPECT_TRUE(number.Valid());
  EXPECT_EQ(number.MostSignificant(), 0x00010002u);
  EXPECT_EQ(number.LeastSignificant(), 0x00020007u);
  EXPECT_EQ(std::vector<int>({number.GetNumber(0), number.GetNumber(1), number.GetNumber(2),
                              number.GetNumber(3), number.GetNumber(4), number.GetNumber(-1)}),
            std::vector<int>({1, 2, 2, 7, 0, 0}));
  EXPECT_EQ(info->GetBuildFlagsText(), "");
}

TEST(TvixVersionInfoResource, NothingIsLoadedBeforeLoadedIsCalled) {
  const auto bytes = ProgramLikeResource();
  TvixVersionInfoResource info(bytes);
  EXPECT_FALSE(info.FileVersionNumber().Valid());
  EXPECT_EQ(info.FileVersionNumber().AsString(), "");
  EXPECT_EQ(info.FileVersionNumber().GetNumber(0), 0);
  EXPECT_EQ(info.GetValue("FileVersion"), "");
}

TEST(TvixVersionInfoResource, EmptyOrMissingVersionStringGivesTheFixedNumbers) {
  for (bool missing : {false, true}) {
    auto content = ProgramLikeContent();
    content.fixed->file_version_ms = VersionWord(3, 0);
    content.fixed->file_version_ls = VersionWord(10, 65535);
    auto& strings = content.string_tables[0].strings;
    for (auto it = strings.begin(); it != strings.end(); ++it) {
      if (it->first != "FileVersion") continue;
      if (missing) {
        strings.erase(it);
      } else {
        it->second.clear();
      }
      break;
    }
    Loaded info(content);
    EXPECT_EQ(info->FileVersionNumber().Text(), "");
    EXPECT_EQ(info->FileVersionNumber().AsString(), "3.0.10.65535") << missing;
    EXPECT_EQ(info->ProductVersionNumber().AsString(), "1.2.2.7");
  }
}

TEST(TvixVersionInfoResource, WithoutTranslationTableValuesComeFromUsEnglishWestern) {
  auto content = ProgramLikeContent();
  content.translations.reset();
  content.string_tables.push_back({"040904E4", {{"FileVersion", "9.9"}, {"CompanyName", "US"}}});
  Loaded info(content);
  EXPECT_TRUE(info->Translations().empty());
  EXPECT_EQ(info->FileVersionNumber().AsString(), "9.9");
  EXPECT_EQ(info->CompanyName(), "US");
  EXPECT_EQ(info->FileDescription(), "") << "the British table is not consulted";
}

TEST(TvixVersionInfoResource, NeutralLanguageAndCodePageCountAsUsEnglishWestern) {
  auto content = ProgramLikeContent();
  content.translations = std::vector<VersionTranslation>{{0, 0}, {0x0809, 0}, {0, 0x04B0}};
  content.string_tables.push_back({"040904e4", {{"FileVersion", "neutral"}}});
  Loaded info(content);
  EXPECT_EQ(info->Translations(), (std::vector<std::string>{"040904e4", "080904e4", "040904b0"}));
  EXPECT_EQ(info->FileVersionNumber().AsString(), "neutral");
}

TEST(TvixVersionInfoResource, TranslationIndexChoosesTheTableAndIsResetWhenOutOfRange) {
  auto content = ProgramLikeContent();
  content.translations->push_back({0x0407, 0x04E4});
  content.string_tables.push_back({"040704E4", {{"ProductName", "Tessaly (de)"}}});
  Loaded info(content);
  info->SetTranslationIndex(1);
  EXPECT_EQ(info->ProductName(), "Tessaly (de)");
  info->SetTranslationIndex(5);
  EXPECT_EQ(info->ProductName(), "") << "no 040904E4 table to fall back on";
  info->LoadVersionData();
  EXPECT_EQ(info->TranslationIndex(), 0);
  EXPECT_EQ(info->ProductName(), "Tessaly");
  info->SetTranslationIndex(-1);
  EXPECT_EQ(info->ProductName(), "");
}

TEST(TvixVersionInfoResource, BuildFlagsFollowTheFileFlagsInTheirOwnOrder) {
  auto content = ProgramLikeContent();
  content.fixed->file_flags = 0x1 | 0x4;
  content.fixed->file_flags_mask = 0;  // the mask is not applied
  EXPECT_EQ(Loaded(content)->GetBuildFlagsText(), "Debug, Patched");
  content.fixed->file_flags = 0x3F | 0x40;
  Loaded all(content);
  EXPECT_EQ(all->GetBuildFlagsText(),
            "Debug, Info Inferred, Patched, Pre-Release, Private, Special");
  EXPECT_TRUE(all->FixedInfo().FileFlags() == TBuildFlags::All());
  content.fixed->file_flags = 0x10;
  EXPECT_EQ(Loaded(content)->GetBuildFlagsText(), "Info Inferred");
}

TEST(TvixVersionInfoResource, AFileWithoutResourceLeavesTheNumbersInvalid) {
  std::vector<std::uint8_t> junk(4096);
  std::mt19937 random(1);
  for (auto& b : junk) b = random() & 0xFF;
  const auto path = WriteTemp("tessaly_versioninfo_junk.bin", junk);
  TvixVersionInfoResource info(ProgramLikeResource());
  info.Loaded();
  EXPECT_TRUE(info.FileVersionNumber().Valid());
  info.SetFilename(path.string());
  EXPECT_EQ(info.GetVersionFileName(), path.string());
  EXPECT_FALSE(info.FileVersionNumber().Valid());
  EXPECT_FALSE(info.ProductVersionNumber().Valid());
  EXPECT_EQ("Update and rename bitmaps to WEFAX standard - V" + info.FileVersionNumber().AsString(),
            "Update and rename bitmaps to WEFAX standard - V");
  EXPECT_EQ(info.VersionDataSize(), 0u);
  EXPECT_TRUE(info.Translations().empty());
  EXPECT_EQ(info.GetValue("FileVersion"), "");
  EXPECT_FALSE(info.FixedInfo().Present());

  info.SetFilename((path.parent_path() / "tessaly_versioninfo_missing.bin").string());
  EXPECT_FALSE(info.FileVersionNumber().Valid());
  std::filesystem::remove(path);
}

TEST(TvixVersionInfoResource, ReadsAnotherFilesResourceFromInsideItsBytes) {
  auto content = ProgramLikeContent();
  content.string_tables[0].strings[2].second = "4.5.6.7 beta";
  std::vector<std::uint8_t> file(333, 0x90);
  const auto resource = BuildVersionResource(content);
  file.insert(file.end(), resource.begin(), resource.end());
  file.resize(file.size() + 100, 0);
  const auto path = WriteTemp("tessaly_versioninfo_other.bin", file);
  TvixVersionInfoResource info;
  info.SetFilename(path.string());
  info.Loaded();
  EXPECT_EQ(info.FileVersionNumber().AsString(), "4.5.6.7 beta");
  EXPECT_EQ(info.Translations(), std::vector<std::string>{"080904e4"});
  std::filesystem::remove(path);
}

TEST(TvixVersionInfoResource, AFixedBlockWithAWrongSignatureCountsAsNone) {
  auto bytes = ProgramLikeResource();
  bytes[40] ^= 0x01;
  TvixVersionInfoResource info(bytes);
  info.Loaded();
  EXPECT_FALSE(info.FixedInfo().Present());
  EXPECT_EQ(info.FixedInfo().FileVersionMS(), 0u);
  EXPECT_EQ(info.FileVersionNumber().AsString(), "1.2.2.7") << "the string still stands";
  EXPECT_EQ(info.FileVersionNumber().GetNumber(3), 0);
}

TEST(TvixVersionInfoResource, ListRowsKeepTheirOrderAndShowOnlyChosenNonEmptyItems) {
  auto content = ProgramLikeContent();
  content.fixed->file_flags = 0x2;
  content.string_tables[0].strings.push_back({"Comments", "Note"});
  content.string_tables[0].strings.push_back({"LegalTrademarks", "TM"});
  content.string_tables[0].strings[7].second = "";  // ProductVersion: the numbers stand in
  Loaded info(content);
  std::vector<std::string> rows;
  for (const auto& row : info->ListViewRows()) rows.push_back(row.caption + "=" + row.value);
  EXPECT_EQ(rows, (std::vector<std::string>{
                      "Product Name=Tessaly", "Product Version=1.2.2.7", "Company Name=Kestrelwood",
                      "Legal Copyright=Copyright \xC2\xA9 Kestrelwood", "Legal Trademarks=TM",
                      "File Description=Update and rename bitmaps to WEFAX standard",
                      "File Version=1.2.2.7", "Internal Name=Tessaly", "Original Filename=tessaly",
                      "Build Flags=Pre-Release", "Comments=Note"}));

  TPreDefs shown = TPreDefs::All();
  shown.Exclude(TPreDef::pdCompanyName);
  shown.Exclude(TPreDef::pdBuildFlags);
  info->SetShowResource(shown);
  rows.clear();
  for (const auto& row : info->ListViewRows()) rows.push_back(row.caption);
  EXPECT_EQ(rows, (std::vector<std::string>{"Product Name", "Product Version", "Legal Copyright",
                                            "Legal Trademarks", "File Description", "File Version",
                                            "Internal Name", "Original Filename", "Comments"}));
  EXPECT_EQ(Loaded(ProgramLikeContent())->ListViewRows().size(), 8u)
      << "no trademarks, comments or build flags";
}

TEST(TvixVersionInfoResource, MalformedResourcesLoadWithoutHarm) {
  const auto resource = ProgramLikeResource();
  std::mt19937 random(99);
  for (int round = 0; round < 2000; ++round) {
    auto bytes = resource;
    for (int n = 0; n < 3; ++n) bytes[random() % bytes.size()] = random() & 0xFF;
    bytes.resize(bytes.size() - random() % 64);
    TvixVersionInfoResource info(bytes);
    info.Loaded();
    info.ListViewRows();
    EXPECT_LE(info.Translations().size(), bytes.size() / 4);
  }
}

TEST(EmbeddedVersionResource, CarriesTheProjectVersion) {
  TvixVersionInfoResource info(EmbeddedVersionResource());
  info.Loaded();
  EXPECT_EQ(info.FileVersionNumber().AsString(), version::kText);
  const auto& number = info.FileVersionNumber();
  EXPECT_EQ(std::vector<int>({number.GetNumber(0), number.GetNumber(1), number.GetNumber(2),
                              number.GetNumber(3)}),
            std::vector<int>({version::kMajor, version::kMinor, version::kPatch, version::kTweak}));
  EXPECT_EQ(info.ProductVersionNumber().AsString(), version::kText);
  EXPECT_EQ(info.Translations(), std::vector<std::string>{"080904e4"});
  EXPECT_EQ(info.FileDescription(), "Update and rename bitmaps to WEFAX standard");
  EXPECT_EQ(info.CompanyName(), "Kestrelwood");
  EXPECT_EQ(info.ProductName(), "Tessaly");

  // Without the embedded copy the component finds the same block in the program's own file.
  TvixVersionInfoResource fromFile;
  fromFile.Loaded();
  EXPECT_EQ(fromFile.FileVersionNumber().AsString(), version::kText);
  EXPECT_EQ(fromFile.VersionDataSize(), EmbeddedVersionResource().size());
}

}  // namespace
}  // namespace tessaly
