// How texts from outside (paths, configuration and error texts) are written into records.
#pragma once

#include <string>

namespace sonara_archive {

// For line-based output (text, CSV): control characters (below 0x20 and 0x7f) and bytes that
// are not part of a UTF-8 character become \xHH, a backslash becomes \\, so a record stays on
// one line and the original bytes can be recovered. Valid UTF-8 is kept.
std::string escape_control(const std::string &text);

// A JSON string literal, quotes included: ASCII kept (control characters escaped), other
// characters as \uXXXX, and each byte that is not part of a UTF-8 character as \udcXX, the
// escape Python's surrogateescape reads back into that byte.
std::string json_string(const std::string &text);

// text without a UTF-8 character cut short at its end (a library text truncated to a fixed
// size can end inside one).
std::string without_partial_character(const std::string &text);

// Valid UTF-8 with every byte that is not part of a character replaced by U+FFFD.
std::string valid_utf8(const std::string &text);

}  // namespace sonara_archive
