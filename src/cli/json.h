// A one-line JSON object writer for the batch tool's --json output.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tessaly::cli {

// Builds {"key": value, ...} in insertion order on one line.
class JsonLine {
 public:
  JsonLine& Add(std::string_view key, std::string_view text);
  JsonLine& Add(std::string_view key, const char* text) { return Add(key, std::string_view(text)); }
  JsonLine& Add(std::string_view key, bool value);
  JsonLine& Add(std::string_view key, std::int64_t value);
  std::string str() const { return body_.empty() ? "{}" : "{" + body_ + "}"; }

 private:
  void Key(std::string_view key);
  std::string body_;
};

// A JSON string literal of UTF-8 text; bytes that are not valid UTF-8 become U+FFFD.
std::string JsonString(std::string_view utf8);

}  // namespace tessaly::cli
