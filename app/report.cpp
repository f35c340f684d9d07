#include "app/report.h"

namespace ostrivane::app {
namespace {

// Length of the well-formed UTF-8 character at the start of `bytes`, or 0 (RFC 3629: no
// overlong forms, no surrogates, nothing above U+10FFFF).
std::size_t Utf8CharLength(std::string_view bytes) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (bytes.size() < length) return 0;
    if (byte(1) < low || byte(1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    }
    return length;
}

struct FormatRules {
    const char* head;       // byte-order mark or nothing
    const char* header[2];  // the header line's two fields
    const char* lineEnd;
    bool quoteEdgeBlanks;
};

FormatRules RulesOf(ReportFormat format) {
    if (format == ReportFormat::Spreadsheet)
        return {"\xEF\xBB\xBF", {"路径", "原因"}, "\r\n", false};
    return {"", {"path", "reason"}, "\n", true};
}

}  // namespace

std::string ValidUtf8(std::string_view bytes) {
    std::string result;
    result.reserve(bytes.size());
    while (!bytes.empty()) {
        const std::size_t length = Utf8CharLength(bytes);
        if (length == 0) {
            result += "\xEF\xBF\xBD";
            bytes.remove_prefix(1);
        } else {
            result.append(bytes.substr(0, length));
            bytes.remove_prefix(length);
        }
    }
    return result;
}

std::string CsvField(std::string_view text, ReportFormat format) {
    const bool edgeBlank = RulesOf(format).quoteEdgeBlanks && !text.empty() &&
                           (text.front() == ' ' || text.back() == ' ');
    // A spreadsheet takes a cell that begins with one of these for a formula (a tab or CR
    // before one is passed over by some): a quote mark before it makes the cell text.
    const bool formulaStart =
        format == ReportFormat::Spreadsheet && !text.empty() &&
        std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos;
    if (!edgeBlank && !formulaStart && text.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(text);
    std::string field = formulaStart ? "\"'" : "\"";
    for (const char c : text) {
        if (c == '"') field += '"';
        field += c;
    }
    return field + '"';
}

std::string ReportText(const std::vector<Failure>& failures, ReportFormat format) {
    const FormatRules rules = RulesOf(format);
    std::string text = rules.head;
    text +=
        CsvField(rules.header[0], format) + ',' + CsvField(rules.header[1], format) + rules.lineEnd;
    for (const Failure& failure : failures) {
        text += CsvField(ValidUtf8(failure.path), format) + ',' +
                CsvField(ValidUtf8(failure.reason), format) + rules.lineEnd;
    }
    return text;
}

}  // namespace ostrivane::app
