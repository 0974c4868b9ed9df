// Text helpers shared by the naming, app and front-end modules.
#include "base/text.h"

#include <cstdint>
#include <cstdio>

namespace tessaly {

std::string Latin1ToUtf8(std::string_view latin1) {
  std::string out;
  out.reserve(latin1.size());
  for (char c : latin1) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out.push_back(c);
    } else {
      out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
      out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
  }
  return out;
}

std::size_t Utf8SequenceLength(std::string_view s, std::size_t i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  std::size_t len = 0;
  std::uint32_t min = 0;
  if (b0 < 0x80) return 1;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2;
    min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3;
    min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4;
    min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  std::uint32_t cp = b0 & (0x7F >> len);
  for (std::size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

bool Utf8ToLatin1(std::string_view utf8, std::string& latin1) {
  latin1.clear();
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t len = Utf8SequenceLength(utf8, i);
    const auto b0 = static_cast<unsigned char>(utf8[i]);
    if (len == 1) {
      latin1.push_back(utf8[i]);
    } else if (len == 2 && b0 <= 0xC3) {  // U+0080 to U+00FF
      latin1.push_back(
          static_cast<char>(((b0 & 0x03) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3F)));
    } else {
      return false;
    }
    i += len;
  }
  return true;
}

bool IsValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t len = Utf8SequenceLength(text, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::string EscapeControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  char buffer[8];
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    // U+0080 to U+009F: C2 80 to C2 9F.
    if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
        static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned char>(text[++i]));
      out += buffer;
    } else if (byte == '\\') {
      out += "\\\\";
    } else if (byte == '\n') {
      out += "\\n";
    } else if (byte == '\r') {
      out += "\\r";
    } else if (byte == '\t') {
      out += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      std::snprintf(buffer, sizeof buffer, "\\x%02x", byte);
      out += buffer;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string_view Trim(std::string_view text) {
  auto is_space = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
  while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace tessaly
