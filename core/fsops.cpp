// The platform-independent part of the file-system operations: path text rules and the
// folder-chain creation built on the platform layer.
#include "core/fsops.h"

#include <utility>

namespace ostrivane {

EInOutError::EInOutError(int code, const std::string& message, std::string path)
    : std::runtime_error(message), code(code), path(std::move(path)) {}

int LastDelimiterIndex(std::string_view delimiters, std::string_view text) {
    // Every delimiter is ASCII and no byte of a multi-byte UTF-8 character is, so a plain
    // byte scan never mistakes part of a character for a delimiter.
    for (size_t i = text.size(); i > 0; --i) {
        if (delimiters.find(text[i - 1]) != std::string_view::npos) return static_cast<int>(i);
    }
    return 0;
}

std::string FileNamePart(const std::string& path) {
    int i = LastDelimiterIndex(platform::kFileNameDelimiters, path);
    return path.substr(static_cast<size_t>(i));
}

std::string ExtensionPart(const std::string& path) {
    int i = LastDelimiterIndex(platform::kExtensionDelimiters, path);
    if (i > 0 && path[static_cast<size_t>(i - 1)] == '.')
        return path.substr(static_cast<size_t>(i - 1));
    return {};
}

namespace {

bool CreateChain(std::string path) {
    // The parent of "a//b" is cut as "a//", which names the folder "a": every trailing
    // separator goes, not only the last.
    while (!path.empty() && path.back() == platform::kSeparator) path.pop_back();
    // Nothing left means the path was separators only: the file-system root, which always
    // exists.
    if (path.empty() || IsExistingFolder(path)) return true;
    std::string parent = path.substr(
        0, static_cast<size_t>(LastDelimiterIndex(platform::kFileNameDelimiters, path)));
    if (parent == path) return true;
    // A relative name without any separator has the working directory as its parent.
    bool parentReady = parent.empty() || CreateChain(parent);
    return parentReady && CreateFolder(path) == 0;
}

}  // namespace

bool CreateFolderChain(const std::string& path) {
    if (path.empty()) throw EInOutError(0, "Unable to create directory");
    return CreateChain(path);
}

// The parts of an open folder and a search that need no system call; closing is the
// platform's.
Folder::~Folder() {
    close();
}

Folder::Folder(Folder&& other) noexcept
    : handle_(other.handle_), identity_(other.identity_), listable_(other.listable_) {
    other.handle_ = -1;
}

Folder& Folder::operator=(Folder&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = other.handle_;
        identity_ = other.identity_;
        listable_ = other.listable_;
        other.handle_ = -1;
    }
    return *this;
}

void SearchClose(SearchRec& rec) {
    rec.state.reset();
}

}  // namespace ostrivane
