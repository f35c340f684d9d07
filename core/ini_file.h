// Reading and rewriting one value of an INI text ("[section]" lines followed by
// "key=value" lines). Section and key names ignore the case of ASCII letters, blanks
// (spaces and tabs) around names and values are trimmed, and a value in matching single or
// double quotes loses them. Lines end with LF or CR LF.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ostrivane {

// The value of the first `key` line inside a `section` (all sections of that name are
// searched in file order); nullopt when there is none.
std::optional<std::string> IniValue(std::string_view text, std::string_view section,
                                    std::string_view key);

// The text with `key` set to `value` in `section`. Every other line is kept byte for byte.
// The line IniValue would read is replaced; without one, the key is added after the last
// non-blank line of the first section of that name; without such a section, the section is
// added at the end. New lines end the way the text's first line does (LF for a text
// without line breaks).
std::string IniWithValue(std::string_view text, std::string_view section, std::string_view key,
                         std::string_view value);

}  // namespace ostrivane
