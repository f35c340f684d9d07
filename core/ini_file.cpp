#include "core/ini_file.h"

#include <vector>

namespace ostrivane {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// One line of the text: its content and the break that ended it ("\r\n", "\n" or "" for a
// last line without one).
struct Line {
    std::string content;
    std::string ending;
};

enum class LineKind { Section, Key, Other };

// What a line means: a section header with its name, a key line with its key and value,
// or anything else (comments, blank lines, stray text).
struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;
    std::string_view value;
};

std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t lf = text.find('\n', pos);
        if (lf == std::string_view::npos) {
            lines.push_back({std::string(text.substr(pos)), ""});
            break;
        }
        size_t end = (lf > pos && text[lf - 1] == '\r') ? lf - 1 : lf;
        lines.push_back({std::string(text.substr(pos, end - pos)),
                         std::string(text.substr(end, lf + 1 - end))});
        pos = lf + 1;
    }
    return lines;
}

std::string JoinLines(const std::vector<Line>& lines) {
    std::string text;
    for (const Line& line : lines) {
        text += line.content;
        text += line.ending;
    }
    return text;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

std::string_view WithoutQuotes(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

// `isFirst` marks the text's first line, which may start with a UTF-8 byte-order mark
// that editors add and that is no part of a name.
ParsedLine Parse(std::string_view content, bool isFirst) {
    if (isFirst && content.starts_with(kUtf8Bom)) content.remove_prefix(kUtf8Bom.size());
    std::string_view trimmed = Trimmed(content);
    if (trimmed.starts_with('[')) {
        size_t close = trimmed.find(']');
        if (close != std::string_view::npos) {
            return {LineKind::Section, Trimmed(trimmed.substr(1, close - 1)), {}};
        }
        return {};
    }
    size_t equals = trimmed.find('=');
    if (equals == std::string_view::npos) return {};
    std::string_view key = Trimmed(trimmed.substr(0, equals));
    if (key.empty()) return {};
    return {LineKind::Key, key, WithoutQuotes(Trimmed(trimmed.substr(equals + 1)))};
}

constexpr size_t kNone = static_cast<size_t>(-1);

// Where a value lives in the text: the first section of that name, the line of the key
// (first match over all sections of that name, in file order) and the last non-blank line
// of the first section.
struct Location {
    size_t firstSection = kNone;
    size_t keyLine = kNone;
    size_t lastLineOfFirstSection = kNone;
};

Location Locate(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
    Location found;
    bool inSection = false;
    bool inFirstSection = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        ParsedLine parsed = Parse(lines[i].content, i == 0);
        if (parsed.kind == LineKind::Section) {
            inSection = SameName(parsed.name, section);
            inFirstSection = inSection && found.firstSection == kNone;
            if (inFirstSection) {
                found.firstSection = i;
                found.lastLineOfFirstSection = i;
            }
            continue;
        }
        if (inFirstSection && !Trimmed(lines[i].content).empty()) {
            found.lastLineOfFirstSection = i;
        }
        if (inSection && parsed.kind == LineKind::Key && found.keyLine == kNone &&
            SameName(parsed.name, key)) {
            found.keyLine = i;
        }
    }
    return found;
}

std::string LineEndingOf(const std::vector<Line>& lines) {
    for (const Line& line : lines) {
        if (!line.ending.empty()) return line.ending;
    }
    return "\n";
}

}  // namespace

std::optional<std::string> IniValue(std::string_view text, std::string_view section,
                                    std::string_view key) {
    std::vector<Line> lines = SplitLines(text);
    Location found = Locate(lines, section, key);
    if (found.keyLine == kNone) return std::nullopt;
    return std::string(Parse(lines[found.keyLine].content, found.keyLine == 0).value);
}

std::string IniWithValue(std::string_view text, std::string_view section, std::string_view key,
                         std::string_view value) {
    std::vector<Line> lines = SplitLines(text);
    const std::string ending = LineEndingOf(lines);
    Location found = Locate(lines, section, key);
    std::string keyLine = std::string(key) + "=" + std::string(value);

    if (found.keyLine != kNone) {
        lines[found.keyLine].content = keyLine;
        return JoinLines(lines);
    }
    std::vector<Line> added;
    if (found.firstSection == kNone) added.push_back({"[" + std::string(section) + "]", ending});
    added.push_back({keyLine, ending});
    if (lines.empty()) return JoinLines(added);
    // The new lines go after `after`, which must then end with a break.
    size_t after = found.firstSection != kNone ? found.lastLineOfFirstSection : lines.size() - 1;
    if (lines[after].ending.empty()) lines[after].ending = ending;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(after) + 1, added.begin(),
                 added.end());
    return JoinLines(lines);
}

}  // namespace ostrivane
