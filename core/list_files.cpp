#include "core/list_files.h"

#include <utility>
#include <vector>

#include "core/fsops.h"

namespace ostrivane {

namespace {

constexpr std::string_view kLineBreak = "\r\n";
// What an editor may put before the first line of a UTF-8 text file.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsLineBreakByte(char c) {
    return c == '\r' || c == '\n';
}

// An entry that would not come back as itself from its list file: a CR or LF would split it
// into several lines, and a NUL would end the whole file there.
bool BreaksListFormat(const std::string& entry) {
    return entry.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos;
}

// The entry as it can be shown in a one-line message: control characters spelled out.
std::string Printable(const std::string& entry) {
    std::string shown;
    for (char c : entry) {
        if (c == '\r') {
            shown += "\\r";
        } else if (c == '\n') {
            shown += "\\n";
        } else if (c == '\0') {
            shown += "\\0";
        } else {
            shown += c;
        }
    }
    return shown;
}

void RefuseUnwritableEntries(const PathList& list) {
    for (const std::string& entry : list.entries()) {
        if (BreaksListFormat(entry)) {
            throw EListFileError("Cannot export the list: the entry \"" + Printable(entry) +
                                 "\" contains a line break or NUL character.");
        }
    }
}

// Splits the text into lines. A NUL ends the text; CR LF is one break, a lone CR or LF is
// one break each; the text after the last break is a line only when it is not empty.
std::vector<std::string> SplitLines(std::string_view bytes) {
    bytes = bytes.substr(0, bytes.find('\0'));
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t end = pos;
        while (end < bytes.size() && !IsLineBreakByte(bytes[end])) ++end;
        lines.emplace_back(bytes.substr(pos, end - pos));
        if (end < bytes.size() && bytes[end] == '\r') ++end;
        if (end < bytes.size() && bytes[end] == '\n') ++end;
        pos = end;
    }
    return lines;
}

}  // namespace

std::string ListText(const PathList& list) {
    std::string text;
    size_t size = 0;
    for (const std::string& entry : list.entries()) size += entry.size() + kLineBreak.size();
    text.reserve(size);
    for (const std::string& entry : list.entries()) {
        text += entry;
        text += kLineBreak;
    }
    return text;
}

void SetListText(PathList& list, std::string_view bytes) {
    list.assign(SplitLines(bytes));
}

void SaveListFile(const PathList& list, const std::string& fileName) {
    RefuseUnwritableEntries(list);
    std::string text = ListText(list);
    // Reading strips one mark at the start of the file; this one is there to be stripped.
    if (list.count() > 0 && list.at(0).starts_with(kByteOrderMark)) text.insert(0, kByteOrderMark);
    bool shortWrite = false;
    int error = WriteFileAtomically(fileName, text, &shortWrite);
    if (error == 0) return;
    if (shortWrite) throw EListFileError("Stream write error");
    throw EListFileError("Cannot create file \"" + AbsolutePath(fileName) + "\". " +
                         ErrorText(error));
}

void LoadListFile(PathList& list, const std::string& fileName) {
    std::string bytes;
    int error = ReadWholeFile(fileName, bytes);
    if (error != 0) {
        throw EListFileError("Cannot open file \"" + AbsolutePath(fileName) + "\". " +
                             ErrorText(error));
    }
    std::string_view text = bytes;
    if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
    SetListText(list, text);
}

void ImportSourceList(const std::string& fileName, PathList& scratch, PathList& sources) {
    LoadListFile(scratch, fileName);
    for (const std::string& line : scratch.entries()) {
        // An empty line names nothing; the check also keeps "" away from the file system.
        if (line.empty()) continue;
        if (IsExistingFile(line) || IsExistingFolder(line)) sources.addIfAbsent(line);
    }
}

DestinationImport ImportDestinationList(const std::string& fileName, PathList& scratch,
                                        PathList& destinations,
                                        const std::function<void()>& onAdded) {
    DestinationImport result;
    LoadListFile(scratch, fileName);
    for (const std::string& line : scratch.entries()) {
        // The list is asked first so that a line already present costs no disk access.
        if (destinations.find(line) != -1 || line.empty() || !IsExistingFolder(line)) {
            result.skipped = true;
        } else if (IsFileSystemRoot(line)) {
            ++result.refusedRoots;
        } else {
            destinations.append(line);
            if (onAdded) onAdded();
        }
    }
    return result;
}

}  // namespace ostrivane
