#include "core/list_files.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "core/fsops.h"
#include "core/intake.h"

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

#ifdef _WIN32
// True when `bytes` is well-formed UTF-8 (no overlong forms, no surrogates, nothing above
// U+10FFFF).
bool IsValidUtf8(std::string_view bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        size_t length = 0;
        unsigned min = 0, code = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            length = 2, min = 0x80, code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3, min = 0x800, code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4, min = 0x10000, code = c & 0x07;
        } else {
            return false;
        }
        if (i + length > bytes.size()) return false;
        for (size_t k = 1; k < length; ++k) {
            const auto t = static_cast<unsigned char>(bytes[i + k]);
            if ((t & 0xC0) != 0x80) return false;
            code = (code << 6) | (t & 0x3F);
        }
        if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}
#endif

// The bytes a list file holds for `text` (UTF-8). On Windows: the system code page when
// every entry has its form there, so that older versions and other programs read the file
// as before; else UTF-8, which keeps every name. The code-page form is also given up when
// it would itself read as other UTF-8 text. Elsewhere the text unchanged.
std::string ListFileBytes(const std::string& text) {
#ifdef _WIN32
    std::string bytes;
    if (TextToSystemCodePage(text, bytes) && (bytes == text || !IsValidUtf8(bytes))) return bytes;
#endif
    return text;
}

// The text of a list file's bytes: UTF-8 when they are valid UTF-8, else (on Windows) the
// system code page, in which older versions wrote them.
std::string ListFileText(std::string bytes) {
#ifdef _WIN32
    if (!IsValidUtf8(bytes)) return TextFromSystemCodePage(bytes);
#endif
    return bytes;
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
    int error = WriteFileAtomically(fileName, ListFileBytes(text), &shortWrite);
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
    // A NUL ends the text before any conversion, as it does in every code page.
    bytes.resize(std::min(bytes.size(), bytes.find('\0')));
    std::string converted = ListFileText(std::move(bytes));
    std::string_view text = converted;
    if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
    SetListText(list, text);
}

void ImportSourceList(const std::string& fileName, PathList& scratch, ListedEntries& sources) {
    LoadListFile(scratch, fileName);
    for (const std::string& line : scratch.entries()) {
        // An empty line names nothing; the check also keeps "" away from the file system.
        if (line.empty()) continue;
        if (IsExistingFile(line) || IsExistingFolder(line))
            sources.addIfAbsent(NativeSeparators(line));
    }
}

void ImportSourceList(const std::string& fileName, PathList& scratch, PathList& sources) {
    ListedEntries listed(sources, ListRole::Sources);
    ImportSourceList(fileName, scratch, listed);
}

DestinationImport ImportDestinationList(const std::string& fileName, PathList& scratch,
                                        ListedEntries& destinations,
                                        const std::function<void()>& onAdded) {
    DestinationImport result;
    LoadListFile(scratch, fileName);
    for (const std::string& given : scratch.entries()) {
        const std::string line = NativeSeparators(given);
        // The list is asked first so that a line already present costs no disk access.
        if (line.empty() || destinations.list().find(line) != -1 || !IsExistingFolder(line)) {
            result.skipped = true;
        } else if (IsWholeFileSystem(line)) {
            ++result.refusedRoots;
        } else if (!destinations.addIfAbsent(line)) {
            result.skipped = true;  // the folder is listed in another spelling
        } else if (onAdded) {
            onAdded();
        }
    }
    return result;
}

DestinationImport ImportDestinationList(const std::string& fileName, PathList& scratch,
                                        PathList& destinations,
                                        const std::function<void()>& onAdded) {
    ListedEntries listed(destinations, ListRole::Destinations);
    return ImportDestinationList(fileName, scratch, listed, onAdded);
}

}  // namespace ostrivane
