// List files: one path per line, every line ended by CR LF. On Linux the bytes are the
// names' own; on Windows the file is in the system code page when every entry has its form
// there, else in UTF-8, and is read as UTF-8 when its bytes are valid UTF-8, else in the
// system code page (files of older versions: code page 936 on Chinese Windows).
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/path_list.h"

namespace ostrivane {

class ListedEntries;

// Raised when a list file cannot be created, opened or written, or a list cannot be
// exported; what() is the message shown to the user.
class EListFileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The text of all entries, each followed by CR LF.
std::string ListText(const PathList& list);

// Replaces the list's content by the lines of `bytes`: a line ends at CR LF, a lone CR or a
// lone LF; a NUL ends the text; a final break starts no empty line; lines are unchanged.
void SetListText(PathList& list, std::string_view bytes);

// Writes the list to `fileName` (through a temporary file, so a failed export leaves an
// existing file intact). A first entry that itself begins with a UTF-8 byte-order mark is
// preceded by one more, so that reading the file back keeps the entry whole. Raises
// EListFileError "Cannot create file "%s". %s", or "Stream write error", or a refusal
// naming an entry that holds a line break or NUL.
void SaveListFile(const PathList& list, const std::string& fileName);

// Replaces the list's content by the lines of `fileName`. One UTF-8 byte-order mark
// (EF BB BF) at the start of the file is not part of the first line: editors put it there;
// one anywhere else stays part of its line. Raises EListFileError
// "Cannot open file "%s". %s"; the list is then unchanged.
void LoadListFile(PathList& list, const std::string& fileName);

// Import into the source list: the file's lines go to `scratch`; each line naming an
// existing file or folder is added to `sources`, unchanged (on Windows with "/" written as
// "\\"), unless the list names it already
// (ListedEntries, core/intake.h: "d1" and "/abs/d1" are one source).
void ImportSourceList(const std::string& fileName, PathList& scratch, PathList& sources);
void ImportSourceList(const std::string& fileName, PathList& scratch, ListedEntries& sources);

// What a destination import left out.
struct DestinationImport {
    // Some line was already listed or named no existing folder.
    bool skipped = false;
    // Lines that named the file-system root (in any spelling, or through a link): it is
    // never a destination, since emptying it would delete everything the user may delete.
    int refusedRoots = 0;
};

// Import into the destination list: each line naming an existing folder other than the
// file-system root, and not listed yet (ListedEntries, core/intake.h: "d1", "d1/" and
// "/abs/d1" are one folder), is appended unchanged (on Windows with "/" written as "\\"), and
// `onAdded` runs after each such line. The lines left out are counted in the result.
DestinationImport ImportDestinationList(const std::string& fileName, PathList& scratch,
                                        PathList& destinations,
                                        const std::function<void()>& onAdded = {});
DestinationImport ImportDestinationList(const std::string& fileName, PathList& scratch,
                                        ListedEntries& destinations,
                                        const std::function<void()>& onAdded = {});

}  // namespace ostrivane
