// Small text helpers: Latin-1 to UTF-8, case folding and trimming as the
// header parser and the file-name comparisons need them.
#pragma once

#include <string>
#include <string_view>

namespace tessaly {

// Header text is Latin-1 (one byte per character); file names are UTF-8.
std::string Latin1ToUtf8(std::string_view latin1);

// Upper-cases ASCII letters only; other bytes are kept.
std::string AsciiUpper(std::string_view text);

// Removes blanks and control characters (bytes up to 0x20) from both ends.
std::string_view Trim(std::string_view text);

}  // namespace tessaly
