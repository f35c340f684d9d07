// The failure report: every failure of a run as CSV (RFC 4180 fields), written by the
// windows and the command line through one implementation, each in its own file format.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/copy_run.h"

namespace ostrivane::app {

// `bytes` as valid UTF-8: every byte that does not belong to a well-formed UTF-8 character
// (RFC 3629: no overlong forms, no surrogates, nothing above U+10FFFF; names on Linux are
// arbitrary bytes) becomes U+FFFD.
std::string ValidUtf8(std::string_view bytes);

// The two report files. Users' scripts and spreadsheets read them as they are, so neither
// changes.
enum class ReportFormat {
    // The command line's (--report): no byte-order mark, the header "path,reason", lines
    // ending with LF as the tools of Linux read them; a field with a leading or trailing
    // blank is quoted too, so that a script that trims fields keeps the blank.
    Script,
    // The windows' ("保存报告…"): a UTF-8 byte-order mark (spreadsheet programs then read it
    // as UTF-8), the header "路径,原因", lines ending with CR LF; a field is quoted only when
    // RFC 4180 needs it, or when it begins with a character that makes a spreadsheet take
    // the cell for a formula ("=", "+", "-", "@", a tab or CR): then the quoted field
    // begins with a quote mark "'", which shows the cell as text.
    Spreadsheet,
};

// One CSV field in `format`: quoted, with inner quotes doubled, when it holds a comma, a
// quote or a line break (CR or LF), for ReportFormat::Script also when it begins or ends
// with a blank, and for ReportFormat::Spreadsheet, with "'" before the text, when it begins
// with a formula's first character; otherwise unchanged. `text` is taken as it is (no UTF-8
// repair).
std::string CsvField(std::string_view text, ReportFormat format);

// The whole report in `format`: the header line, then one line "path,reason" per failure,
// in order, every field valid UTF-8 (ValidUtf8). A line break inside a quoted field stays
// as it is; only the line ends follow the format.
std::string ReportText(const std::vector<Failure>& failures, ReportFormat format);

}  // namespace ostrivane::app
