// The version component: loads the version resource of the running program or of a named
// file and answers its version numbers, translations, string values and build flags.
// Toolkit-free.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "versioninfo/version_resource.h"

namespace tessaly {

// A set over the first N members of an enumeration.
template <typename Enum, int N>
class EnumSet {
 public:
  constexpr EnumSet() = default;
  constexpr EnumSet(std::initializer_list<Enum> members) {
    for (Enum m : members) Include(m);
  }
  static constexpr EnumSet All() {
    EnumSet set;
    set.bits_ = (1u << N) - 1;
    return set;
  }
  constexpr bool Contains(Enum m) const { return (bits_ >> static_cast<int>(m)) & 1u; }
  constexpr void Include(Enum m) { bits_ |= 1u << static_cast<int>(m); }
  constexpr void Exclude(Enum m) { bits_ &= ~(1u << static_cast<int>(m)); }
  constexpr bool Empty() const { return bits_ == 0; }
  friend constexpr bool operator==(EnumSet, EnumSet) = default;

 private:
  unsigned bits_ = 0;
};

// The predefined string items, in the order of their indices 0-10.
enum class TPreDef {
  pdCompanyName,
  pdFileDescription,
  pdFileVersion,
  pdInternalName,
  pdLegalCopyright,
  pdLegalTrademarks,
  pdOriginalFilename,
  pdProductName,
  pdProductVersion,
  pdComments,
  pdBuildFlags,
};
inline constexpr int kPreDefCount = 11;
using TPreDefs = EnumSet<TPreDef, kPreDefCount>;

// String-table key and display caption of a predefined item.
std::string_view PreDefKey(TPreDef item);
std::string_view PreDefCaption(TPreDef item);

// The build flags of the fixed block, in the order they are listed.
enum class TBuildFlag { bfDebug, bfInfoInferred, bfPatched, bfPreRelease, bfPrivate, bfSpecial };
inline constexpr int kBuildFlagCount = 6;
using TBuildFlags = EnumSet<TBuildFlag, kBuildFlagCount>;
std::string_view BuildFlagName(TBuildFlag flag);

// One four-part version number with the string that stands for it.
class TVersionNumberInformation {
 public:
  bool Valid() const { return valid_; }
  std::uint32_t MostSignificant() const { return mostSignificant_; }
  std::uint32_t LeastSignificant() const { return leastSignificant_; }
  const std::string& Text() const { return text_; }

  // Number 0-3 of the four (most significant first); 0 for other indices and when not valid.
  std::uint16_t GetNumber(int index) const;
  // Empty when not valid; else Text, or the four parts joined by dots when Text is empty.
  std::string AsString() const;

  void Assign(std::uint32_t mostSignificant, std::uint32_t leastSignificant, std::string text);
  void Invalidate() { *this = TVersionNumberInformation(); }

 private:
  bool valid_ = false;
  std::uint32_t mostSignificant_ = 0;
  std::uint32_t leastSignificant_ = 0;
  std::string text_;
};

// The fixed block of the loaded resource; every number reads 0 when there is none.
class TFixedFileVersionInfo {
 public:
  bool Present() const { return info_.has_value(); }
  std::uint32_t FileVersionMS() const { return info_ ? info_->file_version_ms : 0; }
  std::uint32_t FileVersionLS() const { return info_ ? info_->file_version_ls : 0; }
  std::uint32_t ProductVersionMS() const { return info_ ? info_->product_version_ms : 0; }
  std::uint32_t ProductVersionLS() const { return info_ ? info_->product_version_ls : 0; }
  // The file flags as build flags; the block's flags mask is not applied.
  TBuildFlags FileFlags() const;

  void Assign(std::optional<VersionFixedInfo> info) { info_ = info; }

 private:
  std::optional<VersionFixedInfo> info_;
};

// One row of the version list: the item's caption and its value.
struct TVersionListRow {
  TPreDef item;
  std::string caption;
  std::string value;
};

class TvixVersionInfoResource {
 public:
  // `ownResource` is the running program's embedded resource (EmbeddedVersionResource()),
  // copied; when it is empty the program's own file is searched for one instead.
  explicit TvixVersionInfoResource(std::span<const std::uint8_t> ownResource = {});
  virtual ~TvixVersionInfoResource();
  TvixVersionInfoResource(const TvixVersionInfoResource&) = delete;
  TvixVersionInfoResource& operator=(const TvixVersionInfoResource&) = delete;

  // To be called once the owner has set the properties: loads the version data.
  void Loaded();

  // The file whose resource is read; empty means the running program. Setting it reloads.
  const std::string& Filename() const { return filename_; }
  void SetFilename(const std::string& filename);
  // Kept for form compatibility: a program here is always an executable, so the running
  // program's resource is read either way. Changing it reloads.
  bool ForceEXE() const { return forceExe_; }
  void SetForceEXE(bool force);
  // Which items the list view shows; all eleven by default.
  TPreDefs ShowResource() const { return showResource_; }
  void SetShowResource(TPreDefs items);

  const std::vector<std::string>& Translations() const { return translations_; }
  int TranslationIndex() const { return translationIndex_; }
  void SetTranslationIndex(int index);

  std::span<const std::uint8_t> VersionData() const { return versionData_; }
  std::size_t VersionDataSize() const { return versionData_.size(); }
  const TFixedFileVersionInfo& FixedInfo() const { return fixedInfo_; }
  const TVersionNumberInformation& FileVersionNumber() const { return fileVersionNumber_; }
  const TVersionNumberInformation& ProductVersionNumber() const { return productVersionNumber_; }

  // The string-table value of `key` in the selected translation ("040904E4" without one).
  std::string GetValue(std::string_view key) const;
  // GetValue of predefined item 0-10; empty for any other index.
  std::string GetPredefinedValue(int index) const;
  std::string CompanyName() const { return GetPredefinedValue(0); }
  std::string FileDescription() const { return GetPredefinedValue(1); }
  std::string InternalName() const { return GetPredefinedValue(3); }
  std::string LegalCopyright() const { return GetPredefinedValue(4); }
  std::string LegalTrademarks() const { return GetPredefinedValue(5); }
  std::string OriginalFilename() const { return GetPredefinedValue(6); }
  std::string ProductName() const { return GetPredefinedValue(7); }
  std::string Comments() const { return GetPredefinedValue(9); }

  // The full name of the file whose resource is read.
  virtual std::string GetVersionFileName() const;
  // Names of the set build flags joined by ", "; empty when none is set.
  virtual std::string GetBuildFlagsText() const;
  virtual void LoadVersionData();
  // The list view's rows: fixed order, non-empty values of the items in ShowResource only.
  std::vector<TVersionListRow> ListViewRows() const;

 protected:
  // Called after every load and setting change; the toolkit-free component links nothing.
  virtual void UpdateLinkedControls() {}
  bool IsLoading() const { return loading_; }
  TPreDefs& MutableShowResource() { return showResource_; }

 private:
  std::vector<std::uint8_t> ownResource_;
  std::vector<std::uint8_t> versionData_;
  std::string filename_;
  std::vector<std::string> translations_;
  int translationIndex_ = 0;
  TFixedFileVersionInfo fixedInfo_;
  bool forceExe_ = false;
  TVersionNumberInformation fileVersionNumber_;
  TVersionNumberInformation productVersionNumber_;
  TPreDefs showResource_ = TPreDefs::All();
  bool loading_ = true;
};

}  // namespace tessaly
