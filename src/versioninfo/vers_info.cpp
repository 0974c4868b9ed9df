// The version component's logic: loading, translations, lookups and the list rows.
#include "versioninfo/vers_info.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace tessaly {
namespace {

struct PreDefText {
  std::string_view key;
  std::string_view caption;
};

constexpr std::array<PreDefText, kPreDefCount> kPreDefTexts = {{
    {"CompanyName", "Company Name"},
    {"FileDescription", "File Description"},
    {"FileVersion", "File Version"},
    {"InternalName", "Internal Name"},
    {"LegalCopyright", "Legal Copyright"},
    {"LegalTrademarks", "Legal Trademarks"},
    {"OriginalFilename", "Original Filename"},
    {"ProductName", "Product Name"},
    {"ProductVersion", "Product Version"},
    {"Comments", "Comments"},
    {"BuildFlags", "Build Flags"},
}};

// File flag bit of each build flag, in the order of TBuildFlag.
constexpr std::array<std::uint32_t, kBuildFlagCount> kBuildFlagBits = {1, 0x10, 4, 2, 8, 0x20};
constexpr std::array<std::string_view, kBuildFlagCount> kBuildFlagNames = {
    "Debug", "Info Inferred", "Patched", "Pre-Release", "Private", "Special"};

// The order of the list view's rows.
constexpr std::array<TPreDef, kPreDefCount> kListOrder = {
    TPreDef::pdProductName,    TPreDef::pdProductVersion,  TPreDef::pdCompanyName,
    TPreDef::pdLegalCopyright, TPreDef::pdLegalTrademarks, TPreDef::pdFileDescription,
    TPreDef::pdFileVersion,    TPreDef::pdInternalName,    TPreDef::pdOriginalFilename,
    TPreDef::pdBuildFlags,     TPreDef::pdComments};

constexpr std::string_view kDefaultTranslation = "040904E4";

std::string TranslationId(VersionTranslation t) {
  // Language 0 means language-neutral and code page 0 plain ASCII: looked up as US English
  // under the Western code page, which is where such tables are written.
  const unsigned language = t.language == 0 ? 0x0409 : t.language;
  const unsigned code_page = t.code_page == 0 ? 0x04E4 : t.code_page;
  char id[9];
  std::snprintf(id, sizeof id, "%.4x%.4x", language, code_page);
  return id;
}

}  // namespace

std::string_view PreDefKey(TPreDef item) {
  return kPreDefTexts[static_cast<int>(item)].key;
}
std::string_view PreDefCaption(TPreDef item) {
  return kPreDefTexts[static_cast<int>(item)].caption;
}
std::string_view BuildFlagName(TBuildFlag flag) {
  return kBuildFlagNames[static_cast<int>(flag)];
}

std::uint16_t TVersionNumberInformation::GetNumber(int index) const {
  if (!valid_ || index < 0 || index > 3) return 0;
  const std::uint32_t half = index < 2 ? mostSignificant_ : leastSignificant_;
  return static_cast<std::uint16_t>(index % 2 == 0 ? half >> 16 : half & 0xFFFF);
}

std::string TVersionNumberInformation::AsString() const {
  if (!valid_) return {};
  if (!text_.empty()) return text_;
  return std::to_string(GetNumber(0)) + '.' + std::to_string(GetNumber(1)) + '.' +
         std::to_string(GetNumber(2)) + '.' + std::to_string(GetNumber(3));
}

void TVersionNumberInformation::Assign(std::uint32_t mostSignificant,
                                       std::uint32_t leastSignificant, std::string text) {
  valid_ = true;
  mostSignificant_ = mostSignificant;
  leastSignificant_ = leastSignificant;
  text_ = std::move(text);
}

TBuildFlags TFixedFileVersionInfo::FileFlags() const {
  TBuildFlags flags;
  if (!info_) return flags;
  for (int i = 0; i < kBuildFlagCount; ++i) {
    if (info_->file_flags & kBuildFlagBits[i]) flags.Include(static_cast<TBuildFlag>(i));
  }
  return flags;
}

TvixVersionInfoResource::TvixVersionInfoResource(std::span<const std::uint8_t> ownResource)
    : ownResource_(ownResource.begin(), ownResource.end()) {}

TvixVersionInfoResource::~TvixVersionInfoResource() = default;

void TvixVersionInfoResource::Loaded() {
  loading_ = false;
  LoadVersionData();
}

void TvixVersionInfoResource::SetFilename(const std::string& filename) {
  filename_ = filename;
  LoadVersionData();
}

void TvixVersionInfoResource::SetForceEXE(bool force) {
  if (force == forceExe_) return;
  forceExe_ = force;
  LoadVersionData();
}

void TvixVersionInfoResource::SetShowResource(TPreDefs items) {
  if (items == showResource_) return;
  showResource_ = items;
  UpdateLinkedControls();
}

void TvixVersionInfoResource::SetTranslationIndex(int index) {
  translationIndex_ = index;
  UpdateLinkedControls();
}

std::string TvixVersionInfoResource::GetVersionFileName() const {
  if (!filename_.empty()) return filename_;
  std::error_code error;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.string();
}

void TvixVersionInfoResource::LoadVersionData() {
  translations_.clear();
  fixedInfo_.Assign(std::nullopt);
  versionData_.clear();
  if (filename_.empty() && !ownResource_.empty()) {
    versionData_ = ownResource_;
  } else {
    versionData_ = ReadVersionResource(std::filesystem::path(GetVersionFileName()));
  }
  if (versionData_.empty()) {
    fileVersionNumber_.Invalidate();
    productVersionNumber_.Invalidate();
  } else {
    fixedInfo_.Assign(ReadFixedInfo(versionData_));
    for (const VersionTranslation& t : ReadTranslations(versionData_)) {
      translations_.push_back(TranslationId(t));
    }
    if (translationIndex_ < 0 || translationIndex_ >= static_cast<int>(translations_.size())) {
      translationIndex_ = 0;
    }
    fileVersionNumber_.Assign(fixedInfo_.FileVersionMS(), fixedInfo_.FileVersionLS(),
                              GetPredefinedValue(2));
    productVersionNumber_.Assign(fixedInfo_.ProductVersionMS(), fixedInfo_.ProductVersionLS(),
                                 GetPredefinedValue(8));
  }
  UpdateLinkedControls();
}

std::string TvixVersionInfoResource::GetValue(std::string_view key) const {
  if (versionData_.empty()) return {};
  const bool selected =
      translationIndex_ >= 0 && translationIndex_ < static_cast<int>(translations_.size());
  const std::string id = selected ? translations_[static_cast<std::size_t>(translationIndex_)]
                                  : std::string(kDefaultTranslation);
  const std::string path = "\\StringFileInfo\\" + id + "\\" + std::string(key);
  const auto value = QueryVersionValue(versionData_, path);
  return value ? VersionValueText(value->bytes) : std::string();
}

std::string TvixVersionInfoResource::GetPredefinedValue(int index) const {
  if (index < 0 || index >= kPreDefCount) return {};
  return GetValue(PreDefKey(static_cast<TPreDef>(index)));
}

std::string TvixVersionInfoResource::GetBuildFlagsText() const {
  std::string text;
  const TBuildFlags flags = fixedInfo_.FileFlags();
  for (int i = 0; i < kBuildFlagCount; ++i) {
    if (!flags.Contains(static_cast<TBuildFlag>(i))) continue;
    if (!text.empty()) text += ", ";
    text += BuildFlagName(static_cast<TBuildFlag>(i));
  }
  return text;
}

std::vector<TVersionListRow> TvixVersionInfoResource::ListViewRows() const {
  std::vector<TVersionListRow> rows;
  for (TPreDef item : kListOrder) {
    if (!showResource_.Contains(item)) continue;
    std::string value;
    switch (item) {
      case TPreDef::pdProductVersion:
        value = productVersionNumber_.AsString();
        break;
      case TPreDef::pdFileVersion:
        value = fileVersionNumber_.AsString();
        break;
      case TPreDef::pdBuildFlags:
        value = GetBuildFlagsText();
        break;
      default:
        value = GetPredefinedValue(static_cast<int>(item));
        break;
    }
    if (!value.empty()) rows.push_back({item, std::string(PreDefCaption(item)), std::move(value)});
  }
  return rows;
}

}  // namespace tessaly
