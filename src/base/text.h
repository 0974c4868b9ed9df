// Small text helpers: Latin-1 to UTF-8, case folding and trimming as the
// header parser and the file-name comparisons need them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tessaly {

// Header text is Latin-1 (one byte per character); file names are UTF-8.
std::string Latin1ToUtf8(std::string_view latin1);

// The length of the valid UTF-8 sequence that starts at text[at], or 0 when none does.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at);

// The text in Latin-1 when it is valid UTF-8 and every character has a Latin-1 form;
// otherwise false, and `latin1` is unspecified.
bool Utf8ToLatin1(std::string_view utf8, std::string& latin1);

// True when the whole text is valid UTF-8.
bool IsValidUtf8(std::string_view text);

// The text with every control character (C0, DEL, and C1 written in UTF-8) and backslash
// written as an escape (\n, \r, \t, \\, \xHH, \u00HH), so that one line of a report
// stays one line and sends nothing to the terminal but text.
std::string EscapeControls(std::string_view text);

// Upper-cases ASCII letters only; other bytes are kept.
std::string AsciiUpper(std::string_view text);

// Removes blanks and control characters (bytes up to 0x20) from both ends.
std::string_view Trim(std::string_view text);

}  // namespace tessaly
