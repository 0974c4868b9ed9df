// Version-resource layout: every block is a 16-bit length, value length and type, a UTF-16
// key, its value and its child blocks, each part starting on a 32-bit boundary counted from
// the start of the resource. All numbers are little-endian.
#include "versioninfo/version_resource.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <functional>
#include <istream>

#include "base/byte_order.h"
#include "base/errors.h"

namespace tessaly {
namespace {

constexpr std::size_t kHeaderSize = 6;
constexpr std::u16string_view kRootKey = u"VS_VERSION_INFO";
// Header, key with its NUL, padding: the fixed block starts here in every root block.
constexpr std::size_t kRootValueOffset = 40;
constexpr std::size_t kMinRootSize = kRootValueOffset + kFixedInfoSize;
constexpr std::size_t kMaxBlockSize = 0xFFFF;

constexpr std::size_t Align4(std::size_t offset) {
  return (offset + 3) & ~std::size_t{3};
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Length of the UTF-8 sequence led by `lead` (0 for a stray byte) and its payload bits.
int SequenceLength(unsigned char lead, char32_t& bits) {
  struct Form {
    unsigned char mask, pattern;
    int length;
  };
  for (const Form form :
       {Form{0x80, 0x00, 1}, Form{0xE0, 0xC0, 2}, Form{0xF0, 0xE0, 3}, Form{0xF8, 0xF0, 4}}) {
    if ((lead & form.mask) == form.pattern) {
      bits = lead & static_cast<unsigned char>(~form.mask);
      return form.length;
    }
  }
  return 0;
}

// Malformed sequences become U+FFFD, one per offending byte.
std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    int length = SequenceLength(static_cast<unsigned char>(text[i]), c);
    bool ok = length > 0 && i + length <= text.size();
    for (int k = 1; ok && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      ok = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    if (!ok || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD, length = 1;
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += static_cast<std::size_t>(length);
  }
  return out;
}

char16_t FoldAscii(char16_t c) {
  return c >= u'a' && c <= u'z' ? c - (u'a' - u'A') : c;
}

class NodeWriter {
 public:
  std::size_t Begin(std::u16string_view key, std::size_t valueLength, bool text) {
    if (valueLength > 0xFFFF) throw Error("Version resource value too long");
    Align();
    const std::size_t start = bytes_.size();
    Word(0);
    Word(static_cast<std::uint16_t>(valueLength));
    Word(text ? 1 : 0);
    for (char16_t c : key) Word(c);
    Word(0);
    Align();
    return start;
  }
  void End(std::size_t start) {
    const std::size_t length = bytes_.size() - start;
    if (length > kMaxBlockSize) throw Error("Version resource block too large");
    bytes_[start] = static_cast<std::uint8_t>(length & 0xFF);
    bytes_[start + 1] = static_cast<std::uint8_t>(length >> 8);
  }
  void Word(std::uint16_t value) { AppendLe16(bytes_, value); }
  void DWord(std::uint32_t value) { AppendLe32(bytes_, value); }
  void Align() {
    while (bytes_.size() % 4 != 0) bytes_.push_back(0);
  }
  std::vector<std::uint8_t> Take() { return std::move(bytes_); }

 private:
  std::vector<std::uint8_t> bytes_;
};

void WriteFixedInfo(NodeWriter& out, const VersionFixedInfo& f) {
  for (std::uint32_t v :
       {kFixedInfoSignature, std::uint32_t{0x00010000}, f.file_version_ms, f.file_version_ls,
        f.product_version_ms, f.product_version_ls, f.file_flags_mask, f.file_flags, f.file_os, f.file_type,
        f.file_subtype, f.file_date_ms, f.file_date_ls}) {
    out.DWord(v);
  }
}

void WriteStringTables(NodeWriter& out, const std::vector<VersionStringTable>& tables) {
  const std::size_t info = out.Begin(u"StringFileInfo", 0, true);
  for (const VersionStringTable& table : tables) {
    const std::size_t block = out.Begin(Utf8ToUtf16(table.id), 0, true);
    for (const auto& [key, value] : table.strings) {
      const std::u16string text = Utf8ToUtf16(value);
      const std::size_t item = out.Begin(Utf8ToUtf16(key), text.size() + 1, true);
      for (char16_t c : text) out.Word(c);
      out.Word(0);
      out.End(item);
    }
    out.End(block);
  }
  out.End(info);
}

void WriteTranslations(NodeWriter& out, const std::vector<VersionTranslation>& translations) {
  const std::size_t info = out.Begin(u"VarFileInfo", 0, true);
  const std::size_t var = out.Begin(u"Translation", 4 * translations.size(), false);
  for (const VersionTranslation& t : translations) {
    out.Word(t.language);
    out.Word(t.code_page);
  }
  out.End(var);
  out.End(info);
}

// One block inside [begin, limit); every offset it holds lies inside that range.
struct Block {
  std::size_t end = 0;
  std::size_t key_begin = 0;
  std::size_t key_end = 0;
  std::size_t value_begin = 0;
  std::size_t value_end = 0;
  std::size_t children_begin = 0;
  bool is_text = false;
};

std::optional<Block> ParseBlock(std::span<const std::uint8_t> bytes, std::size_t at,
                                std::size_t limit) {
  if (at > limit || limit - at < kHeaderSize) return std::nullopt;
  const std::size_t length = LoadLe16(bytes, at);
  if (length < kHeaderSize || length > limit - at) return std::nullopt;
  Block block;
  block.end = at + length;
  block.is_text = LoadLe16(bytes, at + 4) == 1;
  block.key_begin = at + kHeaderSize;
  std::size_t k = block.key_begin;
  for (;; k += 2) {
    if (block.end - k < 2) return std::nullopt;  // the key has no NUL inside the block
    if (LoadLe16(bytes, k) == 0) break;
  }
  block.key_end = k;
  // Text values count 16-bit characters, binary values bytes.
  const std::size_t valueLength = LoadLe16(bytes, at + 2) * (block.is_text ? 2u : 1u);
  block.value_begin = std::min(Align4(k + 2), block.end);
  block.value_end = block.value_begin + std::min(valueLength, block.end - block.value_begin);
  block.children_begin = std::min(Align4(block.value_end), block.end);
  return block;
}

bool KeyMatches(std::span<const std::uint8_t> bytes, const Block& block, std::u16string_view name) {
  if (block.key_end - block.key_begin != 2 * name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<char16_t>(LoadLe16(bytes, block.key_begin + 2 * i));
    if (FoldAscii(c) != FoldAscii(name[i])) return false;
  }
  return true;
}

std::optional<Block> FindChild(std::span<const std::uint8_t> bytes, const Block& parent,
                               std::u16string_view name) {
  for (std::size_t at = parent.children_begin; at < parent.end;) {
    const auto child = ParseBlock(bytes, at, parent.end);
    if (!child) return std::nullopt;
    if (KeyMatches(bytes, *child, name)) return child;
    at = Align4(child->end);
  }
  return std::nullopt;
}

bool IsRootBlockAt(std::span<const std::uint8_t> bytes, std::size_t at) {
  if (bytes.size() - at < kMinRootSize) return false;
  const std::size_t length = LoadLe16(bytes, at);
  return length >= kMinRootSize && length <= bytes.size() - at &&
         LoadLe16(bytes, at + 2) == kFixedInfoSize &&
         LoadLe32(bytes, at + kRootValueOffset) == kFixedInfoSignature;
}

const std::array<std::uint8_t, 32>& RootKeyPattern() {
  static const std::array<std::uint8_t, 32> pattern = [] {
    std::array<std::uint8_t, 32> bytes{};
    for (std::size_t i = 0; i < kRootKey.size(); ++i) bytes[2 * i] = kRootKey[i] & 0xFF;
    return bytes;
  }();
  return pattern;
}

// The first root block starting before `startLimit` and lying wholly inside `bytes`.
std::optional<std::size_t> FindRootBefore(std::span<const std::uint8_t> bytes,
                                          std::size_t startLimit) {
  const auto& pattern = RootKeyPattern();
  const std::boyer_moore_horspool_searcher searcher(pattern.begin(), pattern.end());
  for (auto from = bytes.begin();;) {
    const auto hit = std::search(from, bytes.end(), searcher);
    if (hit == bytes.end()) return std::nullopt;
    const auto keyAt = static_cast<std::size_t>(hit - bytes.begin());
    if (keyAt >= kHeaderSize) {
      const std::size_t at = keyAt - kHeaderSize;
      if (at >= startLimit) return std::nullopt;
      if (IsRootBlockAt(bytes, at)) return at;
    }
    from = hit + 1;
  }
}

}  // namespace

std::vector<std::uint8_t> BuildVersionResource(const VersionResourceContent& content) {
  NodeWriter out;
  const std::size_t root = out.Begin(kRootKey, content.fixed ? kFixedInfoSize : 0, false);
  if (content.fixed) WriteFixedInfo(out, *content.fixed);
  if (!content.string_tables.empty()) WriteStringTables(out, content.string_tables);
  if (content.translations) WriteTranslations(out, *content.translations);
  out.End(root);
  return out.Take();
}

std::optional<VersionValue> QueryVersionValue(std::span<const std::uint8_t> resource,
                                              std::string_view path) {
  auto block = ParseBlock(resource, 0, resource.size());
  while (block && !path.empty()) {
    const std::size_t separator = std::min(path.find('\\'), path.size());
    const std::string_view name = path.substr(0, separator);
    path.remove_prefix(std::min(separator + 1, path.size()));
    if (!name.empty()) block = FindChild(resource, *block, Utf8ToUtf16(name));
  }
  if (!block) return std::nullopt;
  return VersionValue{resource.subspan(block->value_begin, block->value_end - block->value_begin),
                      block->is_text};
}

std::string VersionValueText(std::span<const std::uint8_t> bytes) {
  std::string out;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    char32_t c = LoadLe16(bytes, i);
    if (c == 0) break;
    if (c >= 0xD800 && c <= 0xDBFF && i + 3 < bytes.size()) {
      const char32_t low = LoadLe16(bytes, i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      }
    }
    if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;  // an unpaired surrogate
    AppendUtf8(out, c);
  }
  return out;
}

std::optional<VersionFixedInfo> ReadFixedInfo(std::span<const std::uint8_t> resource) {
  const auto value = QueryVersionValue(resource, "\\");
  if (!value || value->bytes.size() < kFixedInfoSize) return std::nullopt;
  const auto b = value->bytes;
  if (LoadLe32(b, 0) != kFixedInfoSignature) return std::nullopt;
  return VersionFixedInfo{LoadLe32(b, 8),  LoadLe32(b, 12), LoadLe32(b, 16), LoadLe32(b, 20),
                          LoadLe32(b, 24), LoadLe32(b, 28), LoadLe32(b, 32), LoadLe32(b, 36),
                          LoadLe32(b, 40), LoadLe32(b, 44), LoadLe32(b, 48)};
}

std::vector<VersionTranslation> ReadTranslations(std::span<const std::uint8_t> resource) {
  std::vector<VersionTranslation> translations;
  const auto value = QueryVersionValue(resource, "\\VarFileInfo\\Translation");
  if (!value) return translations;
  for (std::size_t at = 0; at + 4 <= value->bytes.size(); at += 4) {
    translations.push_back({LoadLe16(value->bytes, at), LoadLe16(value->bytes, at + 2)});
  }
  return translations;
}

std::optional<std::size_t> FindVersionResource(std::span<const std::uint8_t> bytes) {
  return FindRootBefore(bytes, bytes.size());
}

std::vector<std::uint8_t> ReadVersionResource(std::istream& in, std::size_t chunkSize) {
  // Keeping a whole block's worth of bytes beyond each piece means any block that starts
  // inside the piece is seen whole.
  chunkSize = std::max<std::size_t>(chunkSize, 1);
  const std::size_t windowSize = chunkSize + kMaxBlockSize + 1;
  std::vector<std::uint8_t> window;
  for (;;) {
    const std::size_t kept = window.size();
    window.resize(windowSize);
    in.read(reinterpret_cast<char*>(window.data() + kept),
            static_cast<std::streamsize>(windowSize - kept));
    window.resize(kept + static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    const bool atEnd = window.size() < windowSize;
    const std::size_t startLimit = atEnd ? window.size() : chunkSize;
    if (const auto at = FindRootBefore(window, startLimit)) {
      const auto begin = window.begin() + static_cast<std::ptrdiff_t>(*at);
      return {begin, begin + LoadLe16(window, *at)};
    }
    if (atEnd) return {};
    window.erase(window.begin(), window.begin() + static_cast<std::ptrdiff_t>(chunkSize));
  }
}

std::vector<std::uint8_t> ReadVersionResource(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return {};
  return ReadVersionResource(in);
}

}  // namespace tessaly
