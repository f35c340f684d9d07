// The command line of ostrivane-cli: the options, and the two lists built from them by the
// rules the window's commands follow (core/intake.h, core/list_files.h, core/discovery.h).
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/copy_run.h"
#include "core/path_list.h"

namespace ostrivane::cli {

// Bad usage or bad input: what() is one line for the user; the program ends with status 2
// before anything is copied or deleted.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum class ProgressMode { Auto, Always, Never };

struct Request {
    PathList sources;
    PathList destinations;
    SameFilePolicy policy = SameFilePolicy::AutoNumber;
    bool emptyFirst = false;
    bool emptyNow = false;
    bool yes = false;
    int writers = 0;  // 0: the engine's choice
    std::optional<std::string> report;
    bool verify = false;                      // read every copy back after the run
    std::optional<std::string> checksumFile;  // where the copied files' hashes go
    ProgressMode progress = ProgressMode::Auto;
    // Lines to show before the run: list-file lines that were not taken.
    std::vector<std::string> notes;
};

// What parsing found: a request to carry out, or text that was printed on request
// (--help, --version) and ends the program with status 0.
struct Parsed {
    std::optional<Request> request;
    std::string printed;
};

// Parses the arguments and builds both lists: sources and destinations in the order they
// are given on the command line (list files where they stand among them), each added only
// when absent. The default policy is the one the window stored. Raises UsageError for an
// unknown option or bad value, a missing source, a destination that is no folder, the whole
// file system as a source or destination, a list file that cannot be read, a depth that is
// no number. Does not check that the lists are non-empty (the caller knows what is needed).
Parsed ParseCommandLine(int argc, const char* const* argv);

// The text of --help (used by the tests and the manual page).
std::string HelpText();

}  // namespace ostrivane::cli
