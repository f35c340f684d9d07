// The failure report file of --report: where it may be written and its writing. Its text is
// app::ReportText in the script format (app/report.h).
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "core/copy_run.h"
#include "core/path_list.h"

namespace ostrivane::cli {

// Why the report `name` must not be written where it is, in one line for the user: it is
// a source, lies inside a source folder, or lies inside a destination folder, where the run
// could copy, overwrite or (emptying) delete it; compared by what the paths name, through
// any spelling or link (core/intake.h). Empty when it may be written there, and for "-".
std::string ReportPlaceRefusal(const std::string& name, PathList& sources,
                               PathList& destinations);

// Why the checksum file `name` (written whole after the run, its temporary renamed over the
// name) must not be written where it is, in one line for the user; empty when it may. Every
// refusal of ReportPlaceRefusal, and: the report file itself (`report`, when given), a name
// that is anything but a regular file or a new name (a folder, a link, a device, FIFO or
// socket: the rename would replace it), and a place where it cannot be written now (its
// folder missing or taking no new file, a file without write permission).
std::string ChecksumPlaceRefusal(const std::string& name, const std::optional<std::string>& report,
                                 PathList& sources, PathList& destinations);

// The same look just before the file is written (the run may have taken long): why it can
// no longer be written there as it was checked (anything but a regular file or a new name,
// or no longer writable); empty when it can.
std::string ChecksumPlaceChanged(const std::string& name);

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
