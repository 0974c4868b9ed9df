// File-list and name-map blocks: bounded readers and the file-list writer.
#include "dragdrop/drop_files.h"

#include "base/byte_order.h"

namespace tessaly {

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr std::size_t kOffsetField = 0;
constexpr std::size_t kWideField = 16;

bool IsSurrogate(char32_t cp) {
  return cp >= 0xD800 && cp <= 0xDFFF;
}

void AppendUtf8(std::string& out, char32_t cp) {
  auto put = [&out](unsigned value) { out.push_back(static_cast<char>(value)); };
  if (cp < 0x80) {
    put(cp);
  } else if (cp < 0x800) {
    put(0xC0 | (cp >> 6));
    put(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    put(0xE0 | (cp >> 12));
    put(0x80 | ((cp >> 6) & 0x3F));
    put(0x80 | (cp & 0x3F));
  } else {
    put(0xF0 | (cp >> 18));
    put(0x80 | ((cp >> 12) & 0x3F));
    put(0x80 | ((cp >> 6) & 0x3F));
    put(0x80 | (cp & 0x3F));
  }
}

// How a UTF-8 lead byte starts a sequence: continuation bytes, its payload bits, and the least
// value the sequence may carry (smaller ones are overlong encodings).
struct LeadByte {
  int extra = -1;
  char32_t bits = 0;
  char32_t least = 0;
};

LeadByte ClassifyLead(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return {1, char32_t{lead} & 0x1Fu, 0x80};
  if (lead >= 0xE0 && lead <= 0xEF) return {2, char32_t{lead} & 0x0Fu, 0x800};
  if (lead >= 0xF0 && lead <= 0xF4) return {3, char32_t{lead} & 0x07u, 0x10000};
  return {};
}

// Decodes the code point starting at text[i] and steps past it; a malformed sequence gives
// the replacement character and steps over its first byte only.
char32_t NextCodePoint(std::string_view text, std::size_t& i) {
  const auto lead = static_cast<unsigned char>(text[i++]);
  if (lead < 0x80) return lead;
  const LeadByte kind = ClassifyLead(lead);
  if (kind.extra < 0) return kReplacement;
  char32_t cp = kind.bits;
  std::size_t j = i;
  for (int k = 0; k < kind.extra; ++k, ++j) {
    if (j >= text.size() || (static_cast<unsigned char>(text[j]) & 0xC0) != 0x80) {
      return kReplacement;
    }
    cp = (cp << 6) | (static_cast<unsigned char>(text[j]) & 0x3F);
  }
  if (cp < kind.least || cp > 0x10FFFF || IsSurrogate(cp)) return kReplacement;
  i = j;
  return cp;
}

bool IsZeroUnit(std::span<const std::uint8_t> block, std::size_t at, std::size_t unit) {
  return block[at] == 0 && (unit == 1 || block[at + 1] == 0);
}

std::string DecodeName(std::span<const std::uint8_t> bytes, bool wide) {
  if (!wide) return std::string(bytes.begin(), bytes.end());
  std::u16string units;
  for (std::size_t at = 0; at + 1 < bytes.size(); at += 2) {
    units.push_back(static_cast<char16_t>(LoadLe16(bytes, at)));
  }
  return Utf16ToUtf8(units);
}

}  // namespace

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    const bool high = cp >= 0xD800 && cp <= 0xDBFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (IsSurrogate(cp)) {
      cp = kReplacement;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char32_t cp = NextCodePoint(text, i);
    if (cp < 0x10000) {
      out.push_back(static_cast<char16_t>(cp));
    } else {
      out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    }
  }
  return out;
}

std::vector<std::string> ReadNameList(std::span<const std::uint8_t> block, std::size_t offset,
                                      bool wide) {
  std::vector<std::string> names;
  const std::size_t unit = wide ? 2 : 1;
  std::size_t start = offset;
  while (start <= block.size()) {
    std::size_t end = start;
    while (end + unit <= block.size() && !IsZeroUnit(block, end, unit)) end += unit;
    // A name whose terminator lies outside the block is cut off, not a name.
    if (end + unit > block.size() || end == start) break;
    names.push_back(DecodeName(block.subspan(start, end - start), wide));
    start = end + unit;
  }
  return names;
}

std::vector<std::string> ReadDropFiles(std::span<const std::uint8_t> block) {
  if (block.size() < kDropFilesHeaderSize) return {};
  const std::uint32_t offset = LoadLe32(block, kOffsetField);
  const bool wide = LoadLe32(block, kWideField) != 0;
  return ReadNameList(block, offset, wide);
}

std::vector<std::uint8_t> MakeDropFiles(const std::vector<std::string>& names, bool wide) {
  std::vector<std::uint8_t> block;
  AppendLe32(block, kDropFilesHeaderSize);
  AppendLe32(block, 0);  // drop point x
  AppendLe32(block, 0);  // drop point y
  AppendLe32(block, 0);  // point in the client area
  AppendLe32(block, wide ? 1 : 0);
  for (const std::string& name : names) {
    if (name.empty()) continue;
    if (wide) {
      for (char16_t unit : Utf8ToUtf16(name)) {
        AppendLe16(block, unit);
      }
      block.insert(block.end(), {0, 0});
    } else {
      block.insert(block.end(), name.begin(), name.end());
      block.push_back(0);
    }
  }
  block.insert(block.end(), wide ? 2 : 1, 0);  // the empty name that ends the list
  return block;
}

}  // namespace tessaly
