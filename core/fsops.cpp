// The platform-independent part of the file-system operations: path text rules and the
// folder-chain creation built on the platform layer.
#include "core/fsops.h"

#include <utility>

namespace ostrivane {

namespace detail {

namespace {
// The error number with which the source failed the copy this thread is making; 0 while it
// has not.
thread_local int sourceFailure = 0;
}  // namespace

void ClearSourceFailure() { sourceFailure = 0; }

int SourceFailed(int error) {
    sourceFailure = error;
    return error;
}

CopySide SideOf(int error) {
    if (error == 0) return CopySide::None;
    if (error == error::kSourceChanged || error == sourceFailure) return CopySide::Source;
    return CopySide::Target;
}

}  // namespace detail

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

std::string NameFoldingKey(std::string_view name) {
    static const std::string kShared(1, '\x01');
    std::string key;
    key.reserve(name.size());
    for (size_t i = 0; i < name.size();) {
        const auto byte = static_cast<unsigned char>(name[i]);
        if (byte < 0x80) {
            key += static_cast<char>(byte >= 'A' && byte <= 'Z' ? byte + ('a' - 'A') : byte);
            ++i;
            continue;
        }
        // One UTF-8 sequence of 2 to 4 bytes.
        const size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 0;
        if (length == 0 || i + length > name.size()) return kShared;
        char32_t code = byte & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(name[i + k]);
            if ((next & 0xC0) != 0x80) return kShared;
            code = (code << 6) | (next & 0x3F);
        }
        const bool caseless = (code >= 0x3000 && code <= 0x303F) ||    // CJK punctuation
                              (code >= 0x3400 && code <= 0x4DBF) ||    // Han, extension A
                              (code >= 0x4E00 && code <= 0x9FFF) ||    // Han
                              (code >= 0xFF01 && code <= 0xFF20) ||    // full-width signs, digits
                              (code >= 0x20000 && code <= 0x2F7FF);    // Han, extensions B on
        if (!caseless) return kShared;
        key.append(name.substr(i, length));
        i += length;
    }
    return key;
}

namespace {

// The next name of a path from `at` on (separators skipped); empty at the end.
std::string_view NextName(std::string_view path, size_t& at) {
    while (at < path.size() && path[at] == platform::kSeparator) ++at;
    const size_t start = at;
    while (at < path.size() && path[at] != platform::kSeparator) ++at;
    return path.substr(start, at - start);
}

bool SameName(std::string_view a, std::string_view b, bool fold) {
    if (a == b) return true;
    return fold && NameFoldingKey(a) == NameFoldingKey(b);
}

}  // namespace

bool PlacesOverlap(const FolderPlace& a, const FolderPlace& b) {
    if (a.device != b.device) return false;
    const bool fold = a.foldsNames || b.foldsNames;
    size_t atA = 0, atB = 0;
    for (;;) {
        const std::string_view nameA = NextName(a.path, atA), nameB = NextName(b.path, atB);
        if (nameA.empty() || nameB.empty()) return true;  // one path leads to the other
        if (!SameName(nameA, nameB, fold)) return false;
    }
}

int SharedSourceHashes::hash(const SourceVersion& version, ContentHash& hash,
                             const std::function<int(ContentHash&)>& compute) {
    std::unique_lock lock(mutex_);
    Entry& entry = entries_[version];
    done_.wait(lock, [&] { return !entry.busy; });
    if (entry.ready) {
        hash = entry.hash;
        return 0;
    }
    entry.busy = true;
    lock.unlock();
    ContentHash computed;
    const int error = compute(computed);
    lock.lock();
    entry.busy = false;
    if (error == 0) {
        entry.ready = true;
        entry.hash = computed;
        hash = computed;
    }
    done_.notify_all();
    return error;
}

}  // namespace ostrivane
