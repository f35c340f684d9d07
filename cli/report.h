// The failure report: every failure of a run as CSV, for scripts.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "core/copy_run.h"
#include "core/path_list.h"

namespace ostrivane::cli {

// `bytes` as valid UTF-8: every byte that does not belong to a well-formed UTF-8 character
// (names on Linux are arbitrary bytes) becomes U+FFFD.
std::string ValidUtf8(std::string_view bytes);

// One CSV field (RFC 4180): quoted, with inner quotes doubled, when it holds a comma, a
// quote, a line break or a leading or trailing blank; otherwise unchanged.
std::string CsvField(std::string_view text);

// The whole report: the header line "path,reason", then one line per failure, every field
// valid UTF-8. Lines end with LF, as the tools of this platform read them (CSV readers
// take LF as well as RFC 4180's CR LF; a break inside a quoted field stays as it is).
std::string ReportText(const std::vector<Failure>& failures);

// Why the report `name` must not be written where it is, in one line for the user: it is
// a source, lies inside a source folder, or lies inside a destination folder, where the run
// could copy, overwrite or (emptying) delete it; compared by what the paths name, through
// any spelling or link (core/intake.h). Empty when it may be written there, and for "-".
std::string ReportPlaceRefusal(const std::string& name, PathList& sources,
                               PathList& destinations);

// Where the report goes, opened before the run starts so that a report that cannot be
// created stops the program before anything is copied. "-" is standard output.
class ReportFile {
  public:
    // Raises std::runtime_error with the system's reason when the file cannot be created.
    explicit ReportFile(const std::string& name);
    ~ReportFile();
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;

    bool toStandardOutput() const { return stream_ == stdout; }
    // Writes the report and closes the file; false with *reason set when that failed.
    bool write(const std::vector<Failure>& failures, std::string* reason);

  private:
    std::string name_;
    std::FILE* stream_ = nullptr;
};

}  // namespace ostrivane::cli
