// The Windows layer of the file-system operations: the only file of the core that calls
// Windows. Paths stay UTF-8 inside the program; this file converts them to UTF-16 and calls
// the wide functions, so every name the file system holds can be reached, whatever the
// system code page. Paths are made absolute and given the "\\?\" prefix, so no length
// limit of the old path functions applies.
//
// Work inside an open folder goes through NtCreateFile with the folder's handle as the
// root of the name (the twin of openat): a folder swapped for a junction between a listing
// and the open is seen, since reparse points are opened as themselves and never followed.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winioctl.h>
#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string_view>
#include <vector>

#include "core/fsops.h"

namespace ostrivane {

// ------------------------------------------------------------------------------------------
// Errors

namespace {

// Windows reports one condition under several numbers depending on the call; the core
// compares with one value each.
int Normalized(DWORD error) {
    switch (error) {
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_INVALID_DRIVE:
            return ERROR_FILE_NOT_FOUND;
        case ERROR_FILE_EXISTS:
            return ERROR_ALREADY_EXISTS;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return static_cast<int>(error);
        default:
            return static_cast<int>(error);
    }
}

int LastError() {
    return Normalized(::GetLastError());
}

int FromStatus(NTSTATUS status) {
    return Normalized(::RtlNtStatusToDosError(status));
}

}  // namespace

EInOutError InOutErrorFromOs(int osError) {
    switch (osError) {
        case ERROR_FILE_NOT_FOUND:
            return EInOutError(2, "File not found");
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DIRECTORY:
        case ERROR_INVALID_NAME:
        case ERROR_FILENAME_EXCED_RANGE:
        case ERROR_CANT_RESOLVE_FILENAME:
        case ERROR_NO_UNICODE_TRANSLATION:
            return EInOutError(3, "Invalid filename");
        case ERROR_TOO_MANY_OPEN_FILES:
            return EInOutError(4, "Too many open files");
        case ERROR_ACCESS_DENIED:
            return EInOutError(5, "File access denied");
        default:
            return EInOutError(osError, "I/O error " + std::to_string(osError));
    }
}

namespace error {
const int kAlreadyExists = ERROR_ALREADY_EXISTS;
const int kNotFound = ERROR_FILE_NOT_FOUND;
const int kLinkLoop = ERROR_CANT_RESOLVE_FILENAME;
const int kNotAFolder = ERROR_DIRECTORY;
const int kAccessDenied = ERROR_ACCESS_DENIED;
const int kIsLink = ERROR_CANT_RESOLVE_FILENAME;
const int kSourceChanged = 0x10001;  // beyond every Win32 error number
const int kStopped = 0x10002;
// Beyond every Win32 error number too (it was ERROR_FILE_INVALID); ErrorText words it.
const int kChangedMeanwhile = 0x10003;
const int kDeviceFull = 0x10004;
}  // namespace error

bool MeansDeviceFull(int error) {
    constexpr int kDiskQuotaExceeded = 1295;  // ERROR_DISK_QUOTA_EXCEEDED, not in every SDK
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL ||
           error == kDiskQuotaExceeded;
}

namespace {
// A folder where a file was wanted (the EISDIR of POSIX).
constexpr int kIsAFolder = 336;  // ERROR_DIRECTORY_NOT_SUPPORTED
// Something that is no regular disk file (a device, a pipe).
constexpr int kNotRegularFile = ERROR_NOT_SUPPORTED;
// The words for a folder where a file was wanted, and for an error number of which the
// system has no text (the number between the two parts).
constexpr const char* kIsAFolderText = "这是文件夹，不是文件";
constexpr const char* kNoSystemTextBefore = "Windows 错误 ";
constexpr const char* kNoSystemTextAfter = "（系统没有关于它的说明）";
}  // namespace

// ------------------------------------------------------------------------------------------
// Text and paths

namespace {

// UTF-8 to UTF-16; false for bytes that are no UTF-8 (such a name cannot exist here).
bool ToWide(std::string_view text, std::wstring& wide) {
    wide.clear();
    if (text.empty()) return true;
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                             static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) return false;
    wide.resize(static_cast<size_t>(length));
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                          static_cast<int>(text.size()), wide.data(), length);
    return true;
}

std::string FromWide(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                             nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(std::max(length, 0)), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(),
                          length, nullptr, nullptr);
    return text;
}

// Fills `text` through a call that, given a buffer and its size in characters, returns
// the characters written, or the size it needs when the buffer is too small (0 on
// failure), as GetFullPathNameW and GetFinalPathNameByHandleW do. Grows the buffer a few
// times, since the answer may change between two calls.
template <typename Call>
bool ReadGrowing(std::wstring& text, Call call) {
    DWORD size = call(nullptr, 0);
    for (int attempt = 0; attempt < 4 && size > 0; ++attempt) {
        text.resize(size);
        const DWORD written = call(text.data(), size);
        if (written == 0) break;
        if (written < size) {
            text.resize(written);
            return true;
        }
        size = written;
    }
    return false;
}

// The absolute form of a path as Win32 resolves it ("." and ".." folded, "/" read as "\",
// a drive-relative "C:x" put on that drive's current folder).
bool FullWidePath(const std::wstring& path, std::wstring& full) {
    return ReadGrowing(full, [&](wchar_t* buffer, DWORD size) {
        return ::GetFullPathNameW(path.c_str(), size, buffer, nullptr);
    });
}

bool HasLongPrefix(std::wstring_view path) {
    return path.starts_with(L"\\\\?\\") || path.starts_with(L"\\\\.\\");
}

// The absolute form of `path` (with "/" read as "\") in which every name stays exactly as
// written: "." and empty names are left out and ".." takes the name before it away, as
// GetFullPathNameW does, but no name loses the dots and spaces at its end (a folder
// "dirtrail." stays "dirtrail.", not "dirtrail"; copies are made under such names through
// their folder's handle, and every later look at them must find them) and no name is read
// as a device ("CON"). The system gives only the start of a path that is not absolute: the
// current folder, that of a drive ("C:x"), or the current drive's root ("\x").
bool AbsoluteWide(std::wstring wide, std::wstring& result, bool fromSystem = false) {
    for (wchar_t& c : wide) {
        if (c == L'/') c = L'\\';
    }
    const auto isLetter = [](wchar_t c) {
        return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
    };
    std::wstring root;
    size_t rest = 0;
    if (wide.starts_with(L"\\\\")) {
        // "\\server\share\...": the share is the root.
        const size_t server = wide.find(L'\\', 2);
        if (server == std::wstring::npos || server == 2) return FullWidePath(wide, result);
        const size_t share = wide.find(L'\\', server + 1);
        root = wide.substr(0, share == std::wstring::npos ? wide.size() : share);
        rest = share == std::wstring::npos ? wide.size() : share + 1;
    } else if (wide.size() >= 3 && isLetter(wide[0]) && wide[1] == L':' && wide[2] == L'\\') {
        root = wide.substr(0, 2);
        rest = 3;
    } else if (fromSystem) {
        return FullWidePath(wide, result);  // no start the rules above know: as it is
    } else {
        std::wstring base;
        size_t after = 0;
        if (!wide.empty() && wide[0] == L'\\') {
            if (!FullWidePath(L"\\", base)) return false;
            after = 1;
        } else if (wide.size() >= 2 && isLetter(wide[0]) && wide[1] == L':') {
            if (!FullWidePath(wide.substr(0, 2), base)) return false;
            after = 2;
        } else {
            if (!FullWidePath(L".", base)) return false;
        }
        // The system's answer is absolute: its names are taken as they are.
        return AbsoluteWide(base + L"\\" + wide.substr(after), result, true);
    }
    std::vector<std::wstring_view> names;
    const std::wstring_view text(wide);
    for (size_t at = rest; at < text.size();) {
        size_t end = text.find(L'\\', at);
        if (end == std::wstring_view::npos) end = text.size();
        const std::wstring_view name = text.substr(at, end - at);
        if (name == L"..") {
            if (!names.empty()) names.pop_back();
        } else if (!name.empty() && name != L".") {
            names.push_back(name);
        }
        at = end + 1;
    }
    result = root + L"\\";
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) result += L'\\';
        result += names[i];
    }
    if (!names.empty() && wide.back() == L'\\') result += L'\\';
    return true;
}

// The path in the form the wide calls take without a length limit: absolute
// (AbsoluteWide), with the "\\?\" prefix ("\\?\UNC\server\share\..." for a network
// path). False, with the error set, for text that is no UTF-8 or no path.
bool LongPath(const std::string& path, std::wstring& result) {
    std::wstring wide;
    if (path.empty() || !ToWide(path, wide)) {
        ::SetLastError(path.empty() ? ERROR_FILE_NOT_FOUND : ERROR_NO_UNICODE_TRANSLATION);
        return false;
    }
    if (HasLongPrefix(wide)) {
        result = wide;
        return true;
    }
    std::wstring full;
    if (!AbsoluteWide(wide, full)) return false;
    if (full.starts_with(L"\\\\")) {
        result = L"\\\\?\\UNC\\" + full.substr(2);
    } else {
        result = L"\\\\?\\" + full;
    }
    return true;
}

// The user's form of a path the system gave with the "\\?\" prefix.
std::string WithoutLongPrefix(std::wstring_view path) {
    if (path.starts_with(L"\\\\?\\UNC\\")) return "\\\\" + FromWide(path.substr(8));
    if (path.starts_with(L"\\\\?\\")) return FromWide(path.substr(4));
    return FromWide(path);
}

// A handle closed on every way out.
class Handle {
  public:
    explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE release() {
        HANDLE h = h_;
        h_ = INVALID_HANDLE_VALUE;
        return h;
    }
    void reset(HANDLE h = INVALID_HANDLE_VALUE) {
        if (valid()) ::CloseHandle(h_);
        h_ = h;
    }

  private:
    HANDLE h_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens `path` (any kind of entry; folders too). `followLinks` false opens a reparse point
// as itself. INVALID_HANDLE_VALUE with the error set on failure.
HANDLE OpenPath(const std::string& path, DWORD access, bool followLinks,
                DWORD share = kShareAll, DWORD disposition = OPEN_EXISTING, DWORD flags = 0) {
    std::wstring wide;
    if (!LongPath(path, wide)) return INVALID_HANDLE_VALUE;
    flags |= FILE_FLAG_BACKUP_SEMANTICS;
    if (!followLinks) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    return ::CreateFileW(wide.c_str(), access, share, nullptr, disposition, flags, nullptr);
}

// Identity of the open entry `h`: the volume's serial number and the file's id. ReFS ids
// are 128 bits wide, of which the older call gives only a part that need not be unique;
// there the whole id is folded into 64 bits. An id of 64 bits (NTFS, FAT) stays as it is,
// the number the folder listings give.
FileIdentity IdentityOf(HANDLE h, const BY_HANDLE_FILE_INFORMATION& info) {
    std::uint64_t id = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    FILE_ID_INFO wide{};
    if (::GetFileInformationByHandleEx(h, FileIdInfo, &wide, sizeof wide)) {
        std::uint64_t low = 0, high = 0;
        std::memcpy(&low, wide.FileId.Identifier, 8);
        std::memcpy(&high, wide.FileId.Identifier + 8, 8);
        if (high != 0) id = low ^ (high * 0x9E3779B97F4A7C15ull) ^ (high >> 29);
    }
    return {info.dwVolumeSerialNumber, id};
}

bool InfoOf(HANDLE h, BY_HANDLE_FILE_INFORMATION& info) {
    return ::GetFileInformationByHandle(h, &info) != 0;
}

std::uint64_t SizeOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

bool IsFolderAttr(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
bool IsReparseAttr(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Only a reparse point that stands for another name (a symbolic link, a junction, a volume
// mount point) is a link. Others (cloud placeholders such as OneDrive's, deduplicated
// files) are the files and folders they look like, and lose the link bit here.
DWORD WithoutOtherReparsePoints(DWORD attributes, DWORD tag) {
    if (IsReparseAttr(attributes) && !IsReparseTagNameSurrogate(tag))
        attributes &= ~FILE_ATTRIBUTE_REPARSE_POINT;
    return attributes;
}

// The attributes of the open entry `h`, the link bit as WithoutOtherReparsePoints keeps it.
DWORD LinkAttributes(HANDLE h, DWORD attributes) {
    if (!IsReparseAttr(attributes)) return attributes;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    // Where the tag cannot be read, the entry stays a link: it is then never followed.
    if (!::GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag))
        return attributes;
    return WithoutOtherReparsePoints(attributes, tag.ReparseTag);
}

// The current path of what an open handle names, as the system gives it ("\\?\C:\...").
bool PathOfHandle(HANDLE h, std::wstring& path) {
    return ReadGrowing(path, [&](wchar_t* buffer, DWORD size) {
        return ::GetFinalPathNameByHandleW(h, buffer, size, FILE_NAME_NORMALIZED);
    });
}

// Opens the entry `name` of the open folder `parent` through the folder's handle, never
// following a reparse point. `options` are NtCreateFile's (FILE_DIRECTORY_FILE, ...).
// 0 or the Win32 error number.
int OpenAt(HANDLE parent, const std::string& name, ACCESS_MASK access, ULONG disposition,
           ULONG options, HANDLE& result, ULONG attributes = 0, ULONG share = kShareAll) {
    result = INVALID_HANDLE_VALUE;
    std::wstring wide;
    if (name.empty()) return ERROR_FILE_NOT_FOUND;
    if (!ToWide(name, wide)) return ERROR_NO_UNICODE_TRANSLATION;
    // "." is the folder itself: an empty name relative to its handle opens it anew. ".."
    // is no entry to open relative to a handle (OpenParentFolder goes by the path), and a
    // "/" would be read as part of a path.
    if (wide == L".") wide.clear();
    if (wide == L".." || wide.find(L'/') != std::wstring::npos) return ERROR_INVALID_NAME;
    if (wide.size() * sizeof(wchar_t) > 0xFFF0) return ERROR_FILENAME_EXCED_RANGE;
    UNICODE_STRING uname;
    uname.Buffer = wide.data();
    uname.Length = static_cast<USHORT>(wide.size() * sizeof(wchar_t));
    uname.MaximumLength = uname.Length;
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &uname, OBJ_CASE_INSENSITIVE, parent, nullptr);
    IO_STATUS_BLOCK io{};
    HANDLE h = nullptr;
    NTSTATUS status = ::NtCreateFile(&h, access | SYNCHRONIZE, &object, &io, nullptr, attributes,
                                     share, disposition,
                                     options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT,
                                     nullptr, 0);
    if (status < 0) return FromStatus(status);
    result = h;
    return 0;
}

HANDLE FolderHandle(const Folder& folder) {
    return reinterpret_cast<HANDLE>(folder.native());
}

// Whether the open folder `h` is the root of its volume: its final path has no component
// below the volume's mount point.
bool IsVolumeRoot(HANDLE h) {
    std::wstring final;
    if (!PathOfHandle(h, final)) return false;
    wchar_t volume[MAX_PATH + 1];
    if (!::GetVolumePathNameW(final.c_str(), volume, MAX_PATH + 1)) return false;
    std::wstring a = final, b = volume;
    while (!a.empty() && a.back() == L'\\') a.pop_back();
    while (!b.empty() && b.back() == L'\\') b.pop_back();
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}


}  // namespace

bool FreeSpaceAt(const Folder& folder, std::uint64_t& bytes, std::uint64_t& entries) {
    std::wstring path;
    if (!PathOfHandle(FolderHandle(folder), path)) return false;
    if (path.empty() || path.back() != L'\\') path += L'\\';
    // What the caller may use: its quota counted (NTFS keeps no reserve of the privileged).
    ULARGE_INTEGER available{};
    if (!::GetDiskFreeSpaceExW(path.c_str(), &available, nullptr, nullptr)) return false;
    bytes = available.QuadPart;
    entries = UINT64_MAX;  // NTFS and FAT keep no count of free entries worth asking
    return true;
}

std::string ErrorText(int error) {
    if (error == error::kSourceChanged) return "源文件在复制过程中被改动";
    if (error == error::kStopped) return "复制已停止，未完成的副本已丢弃";
    if (error == error::kChangedMeanwhile) return "运行中已被移动、删除或替换（链接或另一文件夹）";
    if (error == error::kDeviceFull) return "目标磁盘已满，未复制";
    wchar_t* buffer = nullptr;
    DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (length == 0 || !buffer) {
        // Numbers the system has no words for (Wine lacks many): never a bare number.
        if (error == kIsAFolder) return kIsAFolderText;
        return kNoSystemTextBefore + std::to_string(error) + kNoSystemTextAfter;
    }
    std::wstring text(buffer, length);
    ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
        text.pop_back();
    return FromWide(text);
}

// ------------------------------------------------------------------------------------------
// Directory search

namespace detail {
struct SearchState {
    HANDLE find = INVALID_HANDLE_VALUE;
    std::string folder;  // the folder part of the pattern, ending with "\" (or empty)
    std::uint32_t excluded = 0;
    FileIdentity folderIdentity;
    ~SearchState() {
        if (find != INVALID_HANDLE_VALUE) ::FindClose(find);
    }
};
void SearchStateDeleter::operator()(SearchState* state) const {
    delete state;
}
}  // namespace detail

namespace {

// The folder part of a search pattern with its delimiter (empty when there is none).
std::string FolderPartOf(const std::string& pattern) {
    const int i = LastDelimiterIndex(platform::kFileNameDelimiters, pattern);
    return pattern.substr(0, static_cast<size_t>(i));
}

bool Passes(const detail::SearchState& state, const WIN32_FIND_DATAW& data) {
    if (data.dwFileAttributes & state.excluded) return false;
    // With the folder bit excluded the dot entries cannot pass anyway; this keeps them out
    // also where a file system reports them without it.
    if (state.excluded & attr::kFolder) {
        std::wstring_view name = data.cFileName;
        if (name == L"." || name == L"..") return false;
    }
    return true;
}

void Take(SearchRec& rec, const WIN32_FIND_DATAW& data) {
    rec.entry.name = FromWide(data.cFileName);
    rec.entry.attributes = data.dwFileAttributes;
}

bool NextMatching(SearchRec& rec) {
    WIN32_FIND_DATAW data;
    while (::FindNextFileW(rec.state->find, &data)) {
        if (Passes(*rec.state, data)) {
            Take(rec, data);
            return true;
        }
    }
    return false;
}

bool StartSearch(const std::string& pattern,
                 std::unique_ptr<detail::SearchState, detail::SearchStateDeleter> state,
                 SearchRec& rec) {
    rec.state.reset();
    rec.error = 0;
    std::wstring wide;
    if (!LongPath(pattern, wide)) {
        rec.error = LastError();
        return false;
    }
    WIN32_FIND_DATAW data;
    state->find = ::FindFirstFileExW(wide.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                     nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (state->find == INVALID_HANDLE_VALUE) {
        const int error = LastError();
        // An empty match is no failure of the folder.
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES) rec.error = error;
        return false;
    }
    state->folder = FolderPartOf(pattern);
    {
        Handle folder(OpenPath(state->folder.empty() ? std::string(".") : state->folder,
                               FILE_READ_ATTRIBUTES, true));
        BY_HANDLE_FILE_INFORMATION info;
        if (folder.valid() && InfoOf(folder.get(), info))
            state->folderIdentity = IdentityOf(folder.get(), info);
    }
    rec.state = std::move(state);
    if (Passes(*rec.state, data)) {
        Take(rec, data);
        return true;
    }
    if (NextMatching(rec)) return true;
    rec.state.reset();  // a search that yielded nothing holds nothing
    return false;
}

}  // namespace

bool SearchFirst(const std::string& pattern, std::uint32_t wanted, SearchRec& rec,
                 SearchDetail) {
    std::unique_ptr<detail::SearchState, detail::SearchStateDeleter> state(new detail::SearchState);
    state->excluded = 0x1E & ~wanted;
    return StartSearch(pattern, std::move(state), rec);
}

bool SearchNext(SearchRec& rec) {
    if (!rec.state) return false;
    return NextMatching(rec);
}

bool RawSearchFirst(const std::string& folder, SearchRec& rec, SearchDetail) {
    // The checks of a change into the folder, in its order: the path, a folder.
    std::wstring wide;
    if (!LongPath(folder, wide)) throw InOutErrorFromOs(LastError());
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) throw InOutErrorFromOs(LastError());
    if (!IsFolderAttr(attributes)) throw InOutErrorFromOs(ERROR_DIRECTORY);
    std::unique_ptr<detail::SearchState, detail::SearchStateDeleter> state(new detail::SearchState);
    std::string pattern = folder;
    if (pattern.back() != '\\' && pattern.back() != '/' && pattern.back() != ':') pattern += '\\';
    pattern += '*';
    bool found = StartSearch(pattern, std::move(state), rec);
    if (!found && rec.error != 0 && rec.error != ERROR_ACCESS_DENIED)
        throw InOutErrorFromOs(rec.error);
    return found;
}

FileIdentity IdentityOfSearch(const SearchRec& rec) {
    return rec.state ? rec.state->folderIdentity : FileIdentity{};
}

// ------------------------------------------------------------------------------------------
// Open folders

void Folder::close() {
    if (handle_ >= 0) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
}

int Folder::adopt(std::intptr_t handle, bool listable) {
    close();
    BY_HANDLE_FILE_INFORMATION info;
    if (!InfoOf(reinterpret_cast<HANDLE>(handle), info)) {
        const int error = LastError();
        ::CloseHandle(reinterpret_cast<HANDLE>(handle));
        return error;
    }
    if (!IsFolderAttr(info.dwFileAttributes)) {
        ::CloseHandle(reinterpret_cast<HANDLE>(handle));
        return ERROR_DIRECTORY;
    }
    handle_ = handle;
    identity_ = IdentityOf(reinterpret_cast<HANDLE>(handle), info);
    listable_ = listable;
    return 0;
}

namespace {

constexpr DWORD kListAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES |
                              FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kReachAccess = FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

int AdoptHandle(HANDLE h, Folder& folder, bool listable) {
    return folder.adopt(reinterpret_cast<std::intptr_t>(h), listable);
}

}  // namespace

int OpenFolder(const std::string& path, Folder& folder) {
    folder.close();
    if (path.empty()) return ERROR_FILE_NOT_FOUND;
    // Writing attributes is asked for where it is granted (clearing a read-only folder);
    // then listing alone, then reaching the entries alone.
    const DWORD tries[] = {kListAccess, kListAccess & ~FILE_WRITE_ATTRIBUTES, kReachAccess};
    int error = 0;
    for (DWORD access : tries) {
        HANDLE h = OpenPath(path, access, true);
        if (h != INVALID_HANDLE_VALUE) return AdoptHandle(h, folder, access != kReachAccess);
        error = LastError();
        if (error != ERROR_ACCESS_DENIED) return error;
    }
    return error;
}

namespace {

// True for the file systems whose listings give each entry the id its handle reports
// (NTFS). Elsewhere (ReFS, whose ids are wider than 64 bits; FAT and exFAT, whose ids are
// made up from where an entry stands) ReadFolder asks each entry for its id.
bool ListsTrueFileIds(HANDLE folder) {
    wchar_t name[MAX_PATH + 1] = {};
    if (!::GetVolumeInformationByHandleW(folder, nullptr, 0, nullptr, nullptr, nullptr, name,
                                         MAX_PATH + 1))
        return false;
    return std::wstring_view(name) == L"NTFS";
}

}  // namespace

int OpenSubfolder(const Folder& parent, const std::string& name, Folder& folder,
                  std::uint64_t listedInode) {
    folder.close();
    const DWORD tries[] = {kListAccess, kListAccess & ~FILE_WRITE_ATTRIBUTES, kReachAccess};
    HANDLE h = INVALID_HANDLE_VALUE;
    int error = 0;
    DWORD granted = 0;
    for (DWORD access : tries) {
        error = OpenAt(FolderHandle(parent), name, access, FILE_OPEN, 0, h);
        granted = access;
        if (error != ERROR_ACCESS_DENIED) break;
    }
    if (error) return error;
    BY_HANDLE_FILE_INFORMATION info;
    if (!InfoOf(h, info)) {
        error = LastError();
        ::CloseHandle(h);
        return error;
    }
    // The reparse point itself was opened: a junction or a link is never entered.
    info.dwFileAttributes = LinkAttributes(h, info.dwFileAttributes);
    if (IsReparseAttr(info.dwFileAttributes)) {
        ::CloseHandle(h);
        return error::kIsLink;
    }
    if (!IsFolderAttr(info.dwFileAttributes)) {
        ::CloseHandle(h);
        return ERROR_DIRECTORY;
    }
    if (int adoptError = AdoptHandle(h, folder, granted != kReachAccess)) return adoptError;
    if (listedInode != 0 && folder.identity().inode != listedInode) {
        folder.close();
        return error::kChangedMeanwhile;
    }
    return 0;
}

int CheckSearchPermission(const std::string& path) {
    Handle h(OpenPath(path, kReachAccess, true));
    return h.valid() ? 0 : LastError();
}

int CanEnterAt(const Folder& parent, const std::string& name) {
    HANDLE h = INVALID_HANDLE_VALUE;
    if (int error = OpenAt(FolderHandle(parent), name, kReachAccess, FILE_OPEN, 0, h)) return error;
    Handle held(h);
    BY_HANDLE_FILE_INFORMATION info;
    if (!InfoOf(h, info)) return LastError();
    if (IsReparseAttr(LinkAttributes(h, info.dwFileAttributes))) return error::kIsLink;
    if (!IsFolderAttr(info.dwFileAttributes)) return ERROR_DIRECTORY;
    return 0;
}

int OpenParentFolder(const Folder& child, Folder& parent) {
    parent.close();
    std::wstring path;
    if (!PathOfHandle(FolderHandle(child), path)) return LastError();
    // The root of a volume is its own parent, as on POSIX.
    if (IsVolumeRoot(FolderHandle(child))) return OpenFolder(FromWide(path), parent);
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    const size_t cut = path.rfind(L'\\');
    if (cut == std::wstring::npos) return ERROR_FILE_NOT_FOUND;
    return OpenFolder(FromWide(path.substr(0, cut + 1)), parent);
}

int ReadFolder(const Folder& folder, std::vector<FolderEntry>& entries) {
    entries.clear();
    if (!folder.listable()) return ERROR_ACCESS_DENIED;
    // Each listing reads through a handle of its own, opened anew from the folder's: it
    // sees the folder as it is now (some systems keep what a handle listed once), and two
    // threads can list one open folder.
    HANDLE own = INVALID_HANDLE_VALUE;
    if (int error = OpenAt(FolderHandle(folder), ".", FILE_LIST_DIRECTORY, FILE_OPEN,
                           FILE_DIRECTORY_FILE, own))
        return error;
    Handle listing(own);
    // Where the listing's ids are not those the entries' handles report, each entry is
    // looked at for its id, so that every identity compares with every other.
    const bool trueIds = ListsTrueFileIds(listing.get());
    // 64 KiB of entries per call.
    std::vector<unsigned char> buffer(64 * 1024);
    FILE_INFO_BY_HANDLE_CLASS what = FileIdBothDirectoryRestartInfo;
    for (;;) {
        if (!::GetFileInformationByHandleEx(listing.get(), what, buffer.data(),
                                            static_cast<DWORD>(buffer.size()))) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_NO_MORE_FILES) return 0;
            if (error == ERROR_FILE_NOT_FOUND && what == FileIdBothDirectoryRestartInfo) return 0;
            return Normalized(error);
        }
        what = FileIdBothDirectoryInfo;
        size_t offset = 0;
        for (;;) {
            auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + offset);
            std::wstring_view name(info->FileName, info->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") {
                // For a reparse point the listing gives its tag where extended attributes'
                // size would be.
                entries.push_back({FromWide(name),
                                   WithoutOtherReparsePoints(info->FileAttributes, info->EaSize),
                                   static_cast<std::uint64_t>(info->FileId.QuadPart)});
                if (!trueIds) {
                    HANDLE entry = INVALID_HANDLE_VALUE;
                    BY_HANDLE_FILE_INFORMATION entryInfo;
                    std::uint64_t id = 0;  // vanished meanwhile: no id to compare
                    if (OpenAt(listing.get(), entries.back().name, FILE_READ_ATTRIBUTES,
                               FILE_OPEN, 0, entry) == 0) {
                        if (InfoOf(entry, entryInfo)) id = IdentityOf(entry, entryInfo).inode;
                        ::CloseHandle(entry);
                    }
                    entries.back().inode = id;
                }
            }
            if (info->NextEntryOffset == 0) break;
            offset += info->NextEntryOffset;
        }
    }
}

bool FileSizeAt(const Folder& folder, const std::string& name, std::uint64_t& size) {
    HANDLE h = INVALID_HANDLE_VALUE;
    if (OpenAt(FolderHandle(folder), name, FILE_READ_ATTRIBUTES, FILE_OPEN, 0, h) != 0)
        return false;
    Handle held(h);
    BY_HANDLE_FILE_INFORMATION info;
    if (!InfoOf(h, info) || IsFolderAttr(info.dwFileAttributes)) return false;
    size = SizeOf(info);
    return true;
}

bool EntryAttributesAt(const Folder& folder, const std::string& name, std::uint32_t& attributes,
                       FileIdentity* id) {
    HANDLE h = INVALID_HANDLE_VALUE;
    if (OpenAt(FolderHandle(folder), name, FILE_READ_ATTRIBUTES, FILE_OPEN, 0, h) != 0)
        return false;
    Handle held(h);
    BY_HANDLE_FILE_INFORMATION info;
    if (!InfoOf(h, info)) return false;
    attributes = LinkAttributes(h, info.dwFileAttributes);
    if (id) *id = IdentityOf(h, info);
    return true;
}

bool TargetIdentityAt(const Folder& folder, const std::string& name, FileIdentity& id) {
    std::uint32_t attributes = 0;
    if (!EntryAttributesAt(folder, name, attributes, &id)) return false;
    if (!IsReparseAttr(attributes)) return true;
    // Follow the reparse point by its current path.
    std::wstring path;
    if (!PathOfHandle(FolderHandle(folder), path)) return false;
    if (path.back() != L'\\') path += L'\\';
    std::wstring wideName;
    if (!ToWide(name, wideName)) return false;
    Handle target(::CreateFileW((path + wideName).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!target.valid() || !InfoOf(target.get(), info)) return false;
    id = IdentityOf(target.get(), info);
    return true;
}

bool IsExistingFileAt(const Folder& folder, const std::string& name) {
    std::uint32_t attributes = 0;
    if (!EntryAttributesAt(folder, name, attributes)) return false;
    if (!IsReparseAttr(attributes)) return !IsFolderAttr(attributes);
    FileIdentity id;
    // A link counts as what it leads to; a dangling link is an entry.
    if (!TargetIdentityAt(folder, name, id)) return true;
    return !IsFolderAttr(attributes);
}

int CreateFolderAt(const Folder& folder, const std::string& name) {
    HANDLE h = INVALID_HANDLE_VALUE;
    int error = OpenAt(FolderHandle(folder), name, FILE_LIST_DIRECTORY, FILE_CREATE,
                       FILE_DIRECTORY_FILE, h, FILE_ATTRIBUTE_NORMAL);
    if (error == 0) ::CloseHandle(h);
    return error;
}

namespace {

// Deletes the entry `name` of `parent` (a reparse point as itself): a file, a link, or
// with `folder` an empty folder. A read-only entry loses that bit first, as the emptying
// of a folder must remove it; its attributes come back when the deletion fails.
int DeleteAt(HANDLE parent, const std::string& name, bool folder) {
    HANDLE h = INVALID_HANDLE_VALUE;
    int error = OpenAt(parent, name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                       FILE_OPEN, 0, h);
    if (error == ERROR_ACCESS_DENIED)
        error = OpenAt(parent, name, DELETE | FILE_READ_ATTRIBUTES, FILE_OPEN, 0, h);
    if (error) return error;
    Handle held(h);
    FILE_BASIC_INFO basic;
    if (!::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic)) return LastError();
    const bool isFolder = IsFolderAttr(basic.FileAttributes);
    const bool isLink = IsReparseAttr(LinkAttributes(h, basic.FileAttributes));
    if (folder && (!isFolder || isLink)) return isLink ? error::kIsLink : ERROR_DIRECTORY;
    if (!folder && isFolder && !isLink) return kIsAFolder;
    const DWORD original = basic.FileAttributes;
    bool cleared = false;
    if (original & FILE_ATTRIBUTE_READONLY) {
        FILE_BASIC_INFO changed{};
        changed.FileAttributes = (original & ~FILE_ATTRIBUTE_READONLY) ? (original & ~FILE_ATTRIBUTE_READONLY)
                                                                      : FILE_ATTRIBUTE_NORMAL;
        cleared = ::SetFileInformationByHandle(h, FileBasicInfo, &changed, sizeof changed) != 0;
    }
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (::SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition))
        return 0;
    error = LastError();
    if (cleared) {
        FILE_BASIC_INFO back{};
        back.FileAttributes = original;
        ::SetFileInformationByHandle(h, FileBasicInfo, &back, sizeof back);
    }
    return error;
}

}  // namespace

int DeleteEntryAt(const Folder& folder, const std::string& name) {
    return DeleteAt(FolderHandle(folder), name, false);
}

int RemoveFolderAt(const Folder& folder, const std::string& name) {
    return DeleteAt(FolderHandle(folder), name, true);
}

int MakeOpenFolderWritable(const Folder& folder) {
    // Windows asks nothing of a folder to delete its entries; a read-only folder loses the
    // bit so that the folder itself can be removed afterwards.
    FILE_BASIC_INFO basic;
    if (!::GetFileInformationByHandleEx(FolderHandle(folder), FileBasicInfo, &basic, sizeof basic))
        return LastError();
    if (!(basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) return 0;
    FILE_BASIC_INFO changed{};
    changed.FileAttributes = basic.FileAttributes & ~FILE_ATTRIBUTE_READONLY;
    return ::SetFileInformationByHandle(FolderHandle(folder), FileBasicInfo, &changed,
                                        sizeof changed)
               ? 0
               : LastError();
}

// ------------------------------------------------------------------------------------------
// Existence and attributes

namespace {

DWORD AttributesOf(const std::string& path) {
    std::wstring wide;
    if (!LongPath(path, wide)) return INVALID_FILE_ATTRIBUTES;
    return ::GetFileAttributesW(wide.c_str());
}

// Attributes of what `path` leads to (a link followed); INVALID_FILE_ATTRIBUTES when it
// leads nowhere.
DWORD TargetAttributesOf(const std::string& path) {
    Handle h(OpenPath(path, FILE_READ_ATTRIBUTES, true));
    BY_HANDLE_FILE_INFORMATION info;
    if (!h.valid() || !InfoOf(h.get(), info)) return INVALID_FILE_ATTRIBUTES;
    return info.dwFileAttributes;
}

}  // namespace

bool IsExistingFolder(const std::string& path) {
    const DWORD attributes = AttributesOf(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if (!IsReparseAttr(attributes)) return IsFolderAttr(attributes);
    const DWORD target = TargetAttributesOf(path);
    return target != INVALID_FILE_ATTRIBUTES && IsFolderAttr(target);
}


bool IsFileSystemRoot(const std::string& path) {
    // The root of a drive ("C:\") or of a network share ("\\server\share\") however it is
    // spelled or reached.
    Handle h(OpenPath(path, FILE_READ_ATTRIBUTES, true));
    if (!h.valid()) return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (!InfoOf(h.get(), info) || !IsFolderAttr(info.dwFileAttributes)) return false;
    return IsVolumeRoot(h.get());
}

bool IsFileSystemRootFolder(const Folder& folder) {
    // Where the final path cannot be told, the folder counts as a root: the caller refuses
    // to empty it rather than risk a whole volume.
    std::wstring final;
    if (!folder.isOpen()) return false;
    if (!PathOfHandle(FolderHandle(folder), final)) return true;
    return IsVolumeRoot(FolderHandle(folder));
}

bool IsExistingFile(const std::string& path) {
    const DWORD attributes = AttributesOf(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    if (!IsReparseAttr(attributes)) return !IsFolderAttr(attributes);
    // A link counts as what it leads to; a dangling link is still an entry of that path.
    const DWORD target = TargetAttributesOf(path);
    return target == INVALID_FILE_ATTRIBUTES || !IsFolderAttr(target);
}

bool GetAttributes(const std::string& path, std::uint32_t& attributes) {
    const DWORD word = AttributesOf(path);
    if (word == INVALID_FILE_ATTRIBUTES) return false;
    attributes = word;
    return true;
}

int SetAttributes(const std::string& path, std::uint32_t attributes) {
    std::wstring wide;
    if (!LongPath(path, wide)) return LastError();
    const DWORD word = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    return ::SetFileAttributesW(wide.c_str(), word) ? 0 : LastError();
}

int MakeFolderWritable(const std::string& path) {
    const DWORD attributes = AttributesOf(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return LastError();
    if (!IsFolderAttr(attributes) || !(attributes & FILE_ATTRIBUTE_READONLY)) return 0;
    return SetAttributes(path, attributes & ~FILE_ATTRIBUTE_READONLY);
}

int CreateFolder(const std::string& path) {
    std::wstring wide;
    if (!LongPath(path, wide)) return LastError();
    return ::CreateDirectoryW(wide.c_str(), nullptr) ? 0 : LastError();
}

int DeleteOneFile(const std::string& path) {
    std::wstring wide;
    if (!LongPath(path, wide)) return LastError();
    if (::DeleteFileW(wide.c_str())) return 0;
    const int error = LastError();
    // A link to a folder is a folder entry of its own: it goes with RemoveDirectoryW, which
    // removes the link and never what it leads to.
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && IsReparseAttr(attributes) &&
        IsFolderAttr(attributes))
        return ::RemoveDirectoryW(wide.c_str()) ? 0 : LastError();
    return error;
}

int RemoveFolder(const std::string& path) {
    std::wstring wide;
    if (!LongPath(path, wide)) return LastError();
    return ::RemoveDirectoryW(wide.c_str()) ? 0 : LastError();
}

bool GetIdentity(const std::string& path, FileIdentity& id) {
    Handle h(OpenPath(path, FILE_READ_ATTRIBUTES, true));
    BY_HANDLE_FILE_INFORMATION info;
    if (!h.valid() || !InfoOf(h.get(), info)) return false;
    id = IdentityOf(h.get(), info);
    return true;
}

bool GetEntryIdentity(const std::string& path, FileIdentity& id) {
    Handle h(OpenPath(path, FILE_READ_ATTRIBUTES, false));
    BY_HANDLE_FILE_INFORMATION info;
    if (!h.valid() || !InfoOf(h.get(), info)) return false;
    id = IdentityOf(h.get(), info);
    return true;
}

std::uint64_t OpenFileLimit() {
    // Handles are limited only by memory; the walks keep a share of this many folders open.
    return 16384;
}

// ------------------------------------------------------------------------------------------
// Flushing
//
// "Done" means on the device. A whole volume is flushed with FlushFileBuffers on the volume
// handle, which needs the right to open the volume (administrators); where it cannot be
// opened, every copy into it is flushed on its own before it gets its name.

namespace {

// The volume device of the folder at `path` ("\\.\C:", "\\?\Volume{...}"), without a
// trailing separator; empty when it cannot be told.
std::wstring VolumeDeviceOf(const std::wstring& path) {
    wchar_t mount[MAX_PATH + 1];
    if (!::GetVolumePathNameW(path.c_str(), mount, MAX_PATH + 1)) return {};
    wchar_t name[MAX_PATH + 1];
    std::wstring device;
    if (::GetVolumeNameForVolumeMountPointW(mount, name, MAX_PATH + 1)) {
        device = name;
    } else {
        std::wstring m = mount;
        if (m.starts_with(L"\\\\?\\")) m = m.substr(4);
        if (m.size() >= 2 && m[1] == L':') device = L"\\\\.\\" + m.substr(0, 2);
    }
    while (!device.empty() && device.back() == L'\\') device.pop_back();
    return device;
}

HANDLE OpenVolumeForFlush(const std::wstring& device) {
    return ::CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Whether the volume with this serial number can be opened and flushed as a whole; asked
// once per volume and process, and remembered.
bool VolumeFlushable(std::uint64_t serial, HANDLE folderOnIt) {
    static std::mutex lock;
    static std::map<std::uint64_t, bool> known;
    {
        std::lock_guard<std::mutex> guard(lock);
        auto found = known.find(serial);
        if (found != known.end()) return found->second;
    }
    bool flushable = false;
    std::wstring path;
    if (PathOfHandle(folderOnIt, path)) {
        const std::wstring device = VolumeDeviceOf(path);
        Handle volume(device.empty() ? INVALID_HANDLE_VALUE : OpenVolumeForFlush(device));
        // Some volumes open but cannot be flushed as a whole (network redirectors, Wine's
        // drives): one trial flush tells.
        flushable = volume.valid() && ::FlushFileBuffers(volume.get());
    }
    std::lock_guard<std::mutex> guard(lock);
    known[serial] = flushable;
    return flushable;
}

}  // namespace

// NTFS, FAT and exFAT take names that differ in case only for one entry (a folder with
// case sensitivity turned on is rare enough to be treated alike).
bool FolderFoldsNames(const Folder&) {
    return true;
}

// Handles belong to the process on Windows: there is no table a thread could keep apart.
void UsePrivateDescriptorTable() {}

namespace {

// Whether the disk under the volume device `device` ("\\?\Volume{...}") pays for seeks:
// the storage driver's seek-penalty property, which a volume on one disk passes on from
// that disk. False where it cannot be told (a volume over several disks, a driver that
// does not answer).
bool IncursSeekPenalty(const std::wstring& device) {
    Handle volume(::CreateFileW(device.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    if (!volume.valid()) return false;
    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageDeviceSeekPenaltyProperty;
    query.QueryType = PropertyStandardQuery;
    DEVICE_SEEK_PENALTY_DESCRIPTOR penalty{};
    DWORD returned = 0;
    if (!::DeviceIoControl(volume.get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query,
                           &penalty, sizeof penalty, &returned, nullptr) ||
        returned < sizeof penalty)
        return false;
    return penalty.IncursSeekPenalty != FALSE;
}

// The device of the local volume with this serial number (without the trailing separator);
// empty when no local volume has it (a network share, a volume gone meanwhile).
std::wstring VolumeWithSerial(std::uint64_t serial) {
    wchar_t name[MAX_PATH + 1];
    HANDLE search = ::FindFirstVolumeW(name, MAX_PATH + 1);
    if (search == INVALID_HANDLE_VALUE) return {};
    std::wstring found;
    do {
        DWORD volumeSerial = 0;
        if (::GetVolumeInformationW(name, nullptr, 0, &volumeSerial, nullptr, nullptr, nullptr, 0) &&
            volumeSerial == serial) {
            found = name;
            break;
        }
    } while (::FindNextVolumeW(search, name, MAX_PATH + 1));
    ::FindVolumeClose(search);
    while (!found.empty() && found.back() == L'\\') found.pop_back();
    return found;
}

}  // namespace

// A FileIdentity's device here is a volume serial number: the local volume that carries it
// is found among the volumes, and its disk asked for its seek penalty; once per volume and
// process. Anything that cannot be told (a share, a driver that does not say) counts as a
// device that gains from several writers.
bool IsRotatingDisk(std::uint64_t device) {
    static std::mutex lock;
    static std::map<std::uint64_t, bool> known;
    {
        std::lock_guard<std::mutex> guard(lock);
        auto found = known.find(device);
        if (found != known.end()) return found->second;
    }
    const std::wstring volume = device == 0 ? std::wstring() : VolumeWithSerial(device);
    const bool rotating = !volume.empty() && IncursSeekPenalty(volume);
    std::lock_guard<std::mutex> guard(lock);
    known[device] = rotating;
    return rotating;
}

int SyncFileSystemOf(const std::string& path) {
    Handle folder(OpenPath(path, FILE_READ_ATTRIBUTES, true));
    if (!folder.valid()) return LastError();
    BY_HANDLE_FILE_INFORMATION info;
    if (!InfoOf(folder.get(), info)) return LastError();
    if (!VolumeFlushable(info.dwVolumeSerialNumber, folder.get()))
        return 0;  // each copy was flushed before it got its name
    std::wstring final;
    if (!PathOfHandle(folder.get(), final)) return LastError();
    Handle volume(OpenVolumeForFlush(VolumeDeviceOf(final)));
    if (!volume.valid()) return LastError();
    return ::FlushFileBuffers(volume.get()) ? 0 : LastError();
}

// ------------------------------------------------------------------------------------------
// Copying one file
//
// A copy is written under a named temporary ".ostrivane-partial-<process id>-<16 hex
// digits>" in the target folder, created exclusively through the folder's handle, and
// renamed to its final name only when complete: data, times and attributes. The rename is
// made through the temporary's handle relative to the folder's handle (the call MoveFileExW
// makes underneath, without a path that could be swapped meanwhile), replacing or not as
// asked. RemoveLeftoverTemporaries removes what a killed run left.

namespace {

constexpr std::string_view kTemporaryPrefix = ".ostrivane-partial-";
constexpr size_t kTemporaryRandomDigits = 16;

std::string NewTemporaryName() {
    static thread_local std::mt19937_64 random{std::random_device{}() ^
                                                (static_cast<std::uint64_t>(::GetCurrentThreadId()) << 32)};
    char tail[48];
    std::snprintf(tail, sizeof tail, "%lu-%016llx", static_cast<unsigned long>(::GetCurrentProcessId()),
                  static_cast<unsigned long long>(random()));
    return std::string(kTemporaryPrefix) + tail;
}

// The process id a name of kTemporaryPrefix's shape carries; 0 when it has another shape.
DWORD TemporaryWriter(std::string_view name) {
    if (name.substr(0, kTemporaryPrefix.size()) != kTemporaryPrefix) return 0;
    name.remove_prefix(kTemporaryPrefix.size());
    const size_t dash = name.find('-');
    if (dash == std::string_view::npos || dash == 0 || dash > 10 || name[0] == '0') return 0;
    unsigned long long pid = 0;
    for (char c : name.substr(0, dash)) {
        if (c < '0' || c > '9') return 0;
        pid = pid * 10 + static_cast<unsigned>(c - '0');
    }
    const std::string_view random = name.substr(dash + 1);
    if (random.size() != kTemporaryRandomDigits) return 0;
    for (char c : random)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return 0;
    if (pid > 0xFFFFFFFFull) return 0;
    return static_cast<DWORD>(pid);
}

bool ProcessAlive(DWORD pid) {
    if (pid == ::GetCurrentProcessId()) return true;
    Handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process.valid()) return ::GetLastError() == ERROR_ACCESS_DENIED;  // somebody else's
    DWORD code = 0;
    return ::GetExitCodeProcess(process.get(), &code) && code == STILL_ACTIVE;
}

thread_local const CopyControl* activeControl = nullptr;

// The side of a failed copy (core/fsops.cpp): CopyFileAt clears the source's failure when a
// copy starts and tells its caller the source's side when the error it returns is that one.
using detail::SideOf;
using detail::SourceFailed;

// A modification time in 100-nanosecond steps since 1601, as the file system keeps it.
std::int64_t ModifiedNs(const BY_HANDLE_FILE_INFORMATION& info) {
    return static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
        info.ftLastWriteTime.dwLowDateTime);
}

// Pieces between two looks at a stop request.
constexpr DWORD kPiece = 1 << 20;

// The hash of the copy this thread is making, when its caller asked for one (CopyFileAt's
// `placed`), and what is told once the copy stands under its final name. It lives on
// CopyFileAt's stack for the copy; the thread keeps only a pointer to it. (No thread-local
// object here has a destructor: with mingw-w64's threads such a destructor can run when the
// thread's storage is already gone, and a writer thread then crashes as it ends.)
struct CopyHashing {
    PlacedCopy* out = nullptr;
    ContentHasher hasher;
};
thread_local CopyHashing* hashing = nullptr;

bool CopiedAndStopped(std::uint64_t bytes) {
    if (!activeControl) return false;
    if (bytes > 0 && activeControl->copied) activeControl->copied(bytes);
    return activeControl->stop && activeControl->stop->load(std::memory_order_relaxed);
}

// Copies from `source` to `target` up to the end; `length` receives the bytes copied.
// `expected` is the source's size when it was opened: the buffer is no larger than that
// needs (a small file takes one read and the read that finds the end), at most kPiece.
int CopyData(HANDLE source, HANDLE target, std::uint64_t expected, std::uint64_t& length) {
    const DWORD size = static_cast<DWORD>(std::clamp<std::uint64_t>(expected + 1, 4096, kPiece));
    const std::unique_ptr<char[]> buffer(new char[size]);
    length = 0;
    if (hashing) hashing->hasher.reset();
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(source, buffer.get(), size, &got, nullptr))
            return SourceFailed(LastError());
        if (got == 0) return 0;
        if (hashing) hashing->hasher.update(buffer.get(), got);
        for (DWORD written = 0; written < got;) {
            DWORD n = 0;
            if (!::WriteFile(target, buffer.get() + written, got - written, &n, nullptr))
                return LastError();
            if (n == 0) return ERROR_DISK_FULL;
            written += n;
        }
        length += got;
        if (CopiedAndStopped(got)) return error::kStopped;
    }
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// kSourceChanged when the source was written to while it was copied.
int CheckSourceUnchanged(HANDLE source, const BY_HANDLE_FILE_INFORMATION& before,
                         std::uint64_t length) {
    BY_HANDLE_FILE_INFORMATION after;
    if (!InfoOf(source, after)) return SourceFailed(LastError());
    if (SizeOf(after) != SizeOf(before) || !SameTime(after.ftLastWriteTime, before.ftLastWriteTime))
        return SourceFailed(error::kSourceChanged);
    if (length != SizeOf(before)) return SourceFailed(error::kSourceChanged);
    return 0;
}

// The attributes a copy takes from its source.
constexpr DWORD kCopiedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                    FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                    FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Removes the temporary `h` (open with DELETE access) and closes it.
void Discard(Handle& h) {
    FILE_BASIC_INFO normal{};
    normal.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    ::SetFileInformationByHandle(h.get(), FileBasicInfo, &normal, sizeof normal);
    FILE_DISPOSITION_INFO disposition{TRUE};
    ::SetFileInformationByHandle(h.get(), FileDispositionInfo, &disposition, sizeof disposition);
    h.reset();
}

// Gives the open file `h` the name `name` in the folder `folder`; with `replace` an
// existing file of that name is replaced, else the call fails with kAlreadyExists.
int RenameInto(HANDLE h, HANDLE folder, const std::string& name, bool replace) {
    std::wstring wide;
    if (!ToWide(name, wide)) return ERROR_NO_UNICODE_TRANSLATION;
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + wide.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = replace ? TRUE : FALSE;
    info->RootDirectory = folder;
    info->FileNameLength = static_cast<DWORD>(wide.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, wide.data(), wide.size() * sizeof(wchar_t));
    // Straight to the kernel: the name is relative to the folder's handle, which the Win32
    // wrapper of some systems would resolve against the working directory.
    IO_STATUS_BLOCK io{};
    const NTSTATUS status = ::NtSetInformationFile(h, &io, info, static_cast<ULONG>(buffer.size()),
                                                   FileRenameInformation);
    return status < 0 ? FromStatus(status) : 0;
}

// Opens the copy's source: a regular disk file, or a link to one. Folders and devices are
// refused without reading.
int OpenSource(const Folder* folder, const std::string& name, Handle& source,
               BY_HANDLE_FILE_INFORMATION& info) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    if (folder) {
        HANDLE h = INVALID_HANDLE_VALUE;
        // Opened as itself first: a link in a source tree is followed by its path.
        int error = OpenAt(FolderHandle(*folder), name, FILE_READ_ATTRIBUTES, FILE_OPEN, 0, h);
        if (error) return error;
        Handle entry(h);
        BY_HANDLE_FILE_INFORMATION own;
        if (!InfoOf(h, own)) return LastError();
        if (!IsReparseAttr(own.dwFileAttributes)) {
            if (IsFolderAttr(own.dwFileAttributes)) return kIsAFolder;
            error = OpenAt(FolderHandle(*folder), name, GENERIC_READ, FILE_OPEN,
                           FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY, h, 0, share);
            if (error) return error;
            source.reset(h);
        } else {
            std::wstring path;
            if (!PathOfHandle(FolderHandle(*folder), path)) return LastError();
            if (path.back() != L'\\') path += L'\\';
            std::wstring wideName;
            ToWide(name, wideName);
            source.reset(::CreateFileW((path + wideName).c_str(), GENERIC_READ, share, nullptr,
                                       OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN,
                                       nullptr));
            if (!source.valid()) return LastError();
        }
    } else {
        source.reset(OpenPath(name, GENERIC_READ, true, share, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN));
        if (!source.valid()) return LastError();
    }
    if (!InfoOf(source.get(), info)) return LastError();
    if (IsFolderAttr(info.dwFileAttributes)) return kIsAFolder;
    if (::GetFileType(source.get()) != FILE_TYPE_DISK) return kNotRegularFile;
    return 0;
}

// Whether the entry `name` of `folder` may be replaced by a copy of the file `source`: a
// folder (or a link to one) is in the way, the source itself needs no copy (kNothingToDo),
// a read-only file is refused. A missing entry may be replaced.
constexpr int kNothingToDo = -3;
int CheckReplaceable(const Folder& folder, const std::string& name, HANDLE sourceHandle,
                     const BY_HANDLE_FILE_INFORMATION& source) {
    std::uint32_t attributes = 0;
    FileIdentity own;
    if (!EntryAttributesAt(folder, name, attributes, &own)) return 0;
    if (IsFolderAttr(attributes)) return kIsAFolder;
    FileIdentity target = own;
    if (IsReparseAttr(attributes) && !TargetIdentityAt(folder, name, target)) return 0;
    if (target == IdentityOf(sourceHandle, source)) return kNothingToDo;
    if (!IsReparseAttr(attributes) && (attributes & FILE_ATTRIBUTE_READONLY))
        return ERROR_ACCESS_DENIED;
    return 0;
}

int CopyFromOpenSource(HANDLE source, const BY_HANDLE_FILE_INFORMATION& st, const Folder& target,
                       const std::string& targetName, bool failIfExists) {
    if (activeControl && activeControl->opened) activeControl->opened(SizeOf(st));
    if (activeControl && activeControl->roomFor && !activeControl->roomFor(SizeOf(st)))
        return error::kDeviceFull;
    if (failIfExists) {
        // A look first spares copying data for nothing; the exclusive rename is what keeps
        // a target that appears meanwhile.
        std::uint32_t attributes = 0;
        if (EntryAttributesAt(target, targetName, attributes)) return error::kAlreadyExists;
    } else {
        const int refusal = CheckReplaceable(target, targetName, source, st);
        if (refusal == kNothingToDo) return 0;
        if (refusal) return refusal;
    }
    const bool flushEach = !VolumeFlushable(target.identity().device, FolderHandle(target));
    Handle temp;
    int error = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        HANDLE h = INVALID_HANDLE_VALUE;
        error = OpenAt(FolderHandle(target), NewTemporaryName(),
                       GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, FILE_CREATE,
                       FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY, h,
                       FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, 0);
        if (error != ERROR_ALREADY_EXISTS) {
            if (!error) temp.reset(h);
            break;
        }
    }
    if (error) return error;
    std::uint64_t length = 0;
    error = CopyData(source, temp.get(), SizeOf(st), length);
    if (!error) error = CheckSourceUnchanged(source, st, length);
    if (!error) {
        FILE_BASIC_INFO basic{};
        basic.CreationTime.LowPart = st.ftCreationTime.dwLowDateTime;
        basic.CreationTime.HighPart = static_cast<LONG>(st.ftCreationTime.dwHighDateTime);
        basic.LastAccessTime.LowPart = st.ftLastAccessTime.dwLowDateTime;
        basic.LastAccessTime.HighPart = static_cast<LONG>(st.ftLastAccessTime.dwHighDateTime);
        basic.LastWriteTime.LowPart = st.ftLastWriteTime.dwLowDateTime;
        basic.LastWriteTime.HighPart = static_cast<LONG>(st.ftLastWriteTime.dwHighDateTime);
        basic.ChangeTime = basic.LastWriteTime;
        const DWORD attributes = st.dwFileAttributes & kCopiedAttributes;
        basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
        // A file system that keeps no such times or attributes (a network share of another
        // kind) leaves the copy without them: the data is what counts.
        ::SetFileInformationByHandle(temp.get(), FileBasicInfo, &basic, sizeof basic);
    }
    if (!error && flushEach && !::FlushFileBuffers(temp.get())) error = LastError();
    PlacedCopy placed;
    if (!error && hashing) {
        BY_HANDLE_FILE_INFORMATION copy;
        if (!InfoOf(temp.get(), copy)) error = LastError();
        placed.identity = IdentityOf(temp.get(), copy);
        placed.modifiedNs = ModifiedNs(copy);
        placed.size = length;
        placed.sourceHash = hashing->hasher.digest();
        // What the rename will replace: a file's old content is gone once it is done.
        std::uint32_t attributes = 0;
        const bool exists = !failIfExists && EntryAttributesAt(target, targetName, attributes) &&
                            !IsFolderAttr(attributes);
        placed.replacedFile = exists && !IsReparseAttr(attributes);
        // A link to a file: it cannot be made again here (linkTarget stays empty).
        placed.replacedLink = exists && IsReparseAttr(attributes);
    }
    if (!error) error = RenameInto(temp.get(), FolderHandle(target), targetName, !failIfExists);
    if (error) {
        Discard(temp);
        return error;
    }
    if (hashing) *hashing->out = placed;
    return 0;
}

}  // namespace

int CopyFileAt(const Folder* sourceFolder, const std::string& sourceName,
               const Folder& targetFolder, const std::string& targetName, bool failIfExists,
               std::uint32_t, const CopyControl* control, PlacedCopy* placed,
               CopySide* failedSide) {
    if (placed) *placed = {};
    if (failedSide) *failedSide = CopySide::None;
    if (control && control->stop && control->stop->load()) {
        if (failedSide) *failedSide = CopySide::Target;
        return error::kStopped;
    }
    std::optional<CopyHashing> hashed;
    if (placed) hashed.emplace().out = placed;
    struct ActiveControl {
        ActiveControl(const CopyControl* control, CopyHashing* copyHashing) {
            activeControl = control;
            hashing = copyHashing;
            detail::ClearSourceFailure();
        }
        ~ActiveControl() {
            activeControl = nullptr;
            hashing = nullptr;
        }
    } active(control, hashed ? &*hashed : nullptr);
    Handle source;
    BY_HANDLE_FILE_INFORMATION info;
    // Whatever keeps the source from being opened as a regular file is the source's.
    int error = OpenSource(sourceFolder, sourceName, source, info);
    if (error)
        SourceFailed(error);
    else
        error = CopyFromOpenSource(source.get(), info, targetFolder, targetName, failIfExists);
    if (failedSide) *failedSide = SideOf(error);
    return error;
}

namespace {

// Whether the volume of the open file `h` keeps a file's id for as long as the file exists:
// NTFS and ReFS on a local disk. FAT and exFAT make the id up from where the file's entry
// stands (a rename to a longer name moves it), and a share's ids are the server's to give.
// Remembered per volume and thread.
bool StableFileIds(HANDLE h, DWORD volume) {
    struct Known {
        DWORD volume;
        bool stable;
    };
    thread_local std::vector<Known> known;
    for (const Known& k : known)
        if (k.volume == volume) return k.stable;
    wchar_t name[MAX_PATH + 1] = {};
    FILE_REMOTE_PROTOCOL_INFO remote{};
    const bool stable =
        ::GetVolumeInformationByHandleW(h, nullptr, 0, nullptr, nullptr, nullptr, name,
                                        MAX_PATH + 1) &&
        (std::wstring_view(name) == L"NTFS" || std::wstring_view(name) == L"ReFS") &&
        !::GetFileInformationByHandleEx(h, FileRemoteProtocolInfo, &remote, sizeof remote);
    if (known.size() >= 32) known.erase(known.begin());
    known.push_back({volume, stable});
    return stable;
}

// True when the open file `h` is the copy `placed`: a file (no link) of its modification
// time and, where the volume keeps ids, of its id (POSIX's IsPlacedCopy tells why).
bool IsPlacedCopy(HANDLE h, const BY_HANDLE_FILE_INFORMATION& info, const PlacedCopy& placed) {
    if (IsReparseAttr(info.dwFileAttributes) || ModifiedNs(info) != placed.modifiedNs) return false;
    return IdentityOf(h, info) == placed.identity || !StableFileIds(h, info.dwVolumeSerialNumber);
}

}  // namespace

bool IsPlacedCopyAt(const Folder& folder, const std::string& name, const PlacedCopy& placed) {
    HANDLE h = INVALID_HANDLE_VALUE;
    if (OpenAt(FolderHandle(folder), name, FILE_READ_ATTRIBUTES, FILE_OPEN, FILE_NON_DIRECTORY_FILE,
               h) != 0)
        return false;
    Handle entry(h);
    BY_HANDLE_FILE_INFORMATION info;
    return InfoOf(h, info) && IsPlacedCopy(h, info, placed);
}

int PutLinkBackAt(const Folder&, const std::string&, const PlacedCopy&) {
    // Making a symbolic link takes a privilege most accounts lack; the check removes the
    // copy instead and says that the link is gone.
    return ERROR_NOT_SUPPORTED;
}

int ReadBackHash(const Folder& folder, const std::string& name, const PlacedCopy& expected,
                 ContentHash& hash, std::uint64_t& size, const std::atomic<bool>* stop,
                 const std::function<void(std::uint64_t)>& read) {
    size = 0;
    HANDLE h = INVALID_HANDLE_VALUE;
    // Without the system's cache (FILE_FLAG_NO_BUFFERING): every read reaches the device.
    // Such reads take sector-aligned buffers and lengths; a page-aligned buffer of whole
    // MiB is both, and the last read of a file returns what is left.
    if (int error = OpenAt(
            FolderHandle(folder), name, GENERIC_READ, FILE_OPEN,
            FILE_NON_DIRECTORY_FILE | FILE_NO_INTERMEDIATE_BUFFERING | FILE_SEQUENTIAL_ONLY, h))
        return error;
    Handle copy(h);
    BY_HANDLE_FILE_INFORMATION info;
    if (!InfoOf(h, info)) return LastError();
    if (!IsPlacedCopy(h, info, expected)) return error::kChangedMeanwhile;
    struct Aligned {
        void* bytes = ::VirtualAlloc(nullptr, kPiece, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        ~Aligned() {
            if (bytes) ::VirtualFree(bytes, 0, MEM_RELEASE);
        }
    } buffer;
    if (!buffer.bytes) return ERROR_NOT_ENOUGH_MEMORY;
    ContentHasher hasher;
    for (;;) {
        if (stop && stop->load(std::memory_order_relaxed)) return error::kStopped;
        DWORD got = 0;
        if (!::ReadFile(h, buffer.bytes, kPiece, &got, nullptr)) return LastError();
        if (got == 0) break;
        hasher.update(buffer.bytes, got);
        size += got;
        if (read) read(got);
    }
    hash = hasher.digest();
    return 0;
}

int HashFile(const std::string& path, ContentHash& hash, std::uint64_t& size,
             const std::atomic<bool>* stop) {
    size = 0;
    Handle h(OpenPath(path, GENERIC_READ, true, kShareAll, OPEN_EXISTING,
                      FILE_FLAG_SEQUENTIAL_SCAN));
    if (!h.valid()) return LastError();
    BY_HANDLE_FILE_INFORMATION info;
    if (!InfoOf(h.get(), info)) return LastError();
    if (IsFolderAttr(info.dwFileAttributes)) return kIsAFolder;
    if (::GetFileType(h.get()) != FILE_TYPE_DISK) return kNotRegularFile;
    std::vector<char> buffer(kPiece);
    ContentHasher hasher;
    for (;;) {
        if (stop && stop->load(std::memory_order_relaxed)) return error::kStopped;
        DWORD got = 0;
        if (!::ReadFile(h.get(), buffer.data(), kPiece, &got, nullptr)) return LastError();
        if (got == 0) break;
        hasher.update(buffer.data(), got);
        size += got;
    }
    hash = hasher.digest();
    return 0;
}

namespace {

// The folder part of `target` (".\" when it has none) and its last component.
void SplitTarget(const std::string& target, std::string& folder, std::string& name) {
    const int i = LastDelimiterIndex(platform::kFileNameDelimiters, target);
    folder = i > 0 ? target.substr(0, static_cast<size_t>(i)) : std::string(".\\");
    name = target.substr(static_cast<size_t>(i));
}

int CopyToPath(const Folder* sourceFolder, const std::string& source, const std::string& target,
               bool failIfExists) {
    std::string folderPath, name;
    SplitTarget(target, folderPath, name);
    Folder folder;
    if (int error = OpenFolder(folderPath, folder)) return error;
    return CopyFileAt(sourceFolder, source, folder, name, failIfExists);
}

}  // namespace

int CopyOneFile(const std::string& source, const std::string& target, bool failIfExists) {
    return CopyToPath(nullptr, source, target, failIfExists);
}

int CopyOneFileFromSearch(const SearchRec& folder, const std::string& name,
                          const std::string& target, bool failIfExists) {
    const std::string prefix = folder.state ? folder.state->folder : std::string();
    return CopyToPath(nullptr, prefix + name, target, failIfExists);
}

int RemoveLeftoverTemporaries(const Folder& folder, std::vector<std::string>* removed) {
    std::vector<FolderEntry> entries;
    if (int error = ReadFolder(folder, entries)) return error;
    int firstError = 0;
    for (const FolderEntry& entry : entries) {
        const DWORD writer = TemporaryWriter(entry.name);
        if (writer == 0 || ProcessAlive(writer)) continue;
        if (IsFolderAttr(entry.attributes) || IsReparseAttr(entry.attributes)) continue;
        const int error = DeleteEntryAt(folder, entry.name);
        if (error == 0) {
            if (removed) removed->push_back(entry.name);
        } else if (error != ERROR_FILE_NOT_FOUND && firstError == 0) {
            firstError = error;
        }
    }
    return firstError;
}

// ------------------------------------------------------------------------------------------
// Whole files

int ReadWholeFile(const std::string& path, std::string& bytes) {
    // Others may read the file meanwhile, not write it.
    Handle h(OpenPath(path, GENERIC_READ, true, FILE_SHARE_READ));
    if (!h.valid()) return LastError();
    BY_HANDLE_FILE_INFORMATION info;
    if (!InfoOf(h.get(), info)) return LastError();
    if (IsFolderAttr(info.dwFileAttributes)) return kIsAFolder;
    if (::GetFileType(h.get()) != FILE_TYPE_DISK) return kNotRegularFile;
    std::string result;
    result.reserve(static_cast<size_t>(SizeOf(info)));
    std::vector<char> buffer(65536);
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(h.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
            return LastError();
        if (got == 0) break;
        result.append(buffer.data(), got);
    }
    bytes = std::move(result);
    return 0;
}

int WriteFileAtomically(const std::string& path, std::string_view bytes, bool* shortWrite) {
    if (shortWrite) *shortWrite = false;
    std::wstring target;
    if (!LongPath(path, target)) return LastError();
    const DWORD existing = ::GetFileAttributesW(target.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES) {
        if (IsFolderAttr(existing) && !IsReparseAttr(existing)) return kIsAFolder;
        if (existing & FILE_ATTRIBUTE_READONLY) return ERROR_ACCESS_DENIED;
    }
    const size_t cut = target.rfind(L'\\');
    const std::wstring folder = target.substr(0, cut + 1);
    std::wstring temp;
    Handle h;
    for (int attempt = 0; attempt < 100 && !h.valid(); ++attempt) {
        std::wstring name;
        ToWide(NewTemporaryName(), name);
        temp = folder + name;
        h.reset(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_HIDDEN, nullptr));
        if (!h.valid() && ::GetLastError() != ERROR_FILE_EXISTS) return LastError();
    }
    if (!h.valid()) return ERROR_ALREADY_EXISTS;
    auto fail = [&](int error, bool duringWrite) {
        h.reset();
        ::DeleteFileW(temp.c_str());
        if (shortWrite) *shortWrite = duringWrite;
        return error;
    };
    for (size_t done = 0; done < bytes.size();) {
        const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20));
        DWORD n = 0;
        if (!::WriteFile(h.get(), bytes.data() + done, want, &n, nullptr)) return fail(LastError(), true);
        if (n == 0) return fail(ERROR_DISK_FULL, true);
        done += n;
    }
    // The data must be on the device before the new name points at it.
    if (!::FlushFileBuffers(h.get())) return fail(LastError(), true);
    // The file keeps the attributes it had (hidden, say); a new one has none.
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = existing != INVALID_FILE_ATTRIBUTES
                               ? (existing & kCopiedAttributes & ~FILE_ATTRIBUTE_READONLY)
                               : 0;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    ::SetFileInformationByHandle(h.get(), FileBasicInfo, &basic, sizeof basic);
    h.reset();
    if (!::MoveFileExW(temp.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return fail(LastError(), false);
    return 0;
}

int LookAtFilePlace(const std::string& path, FilePlaceKind& kind) {
    kind = FilePlaceKind::Free;
    const int delimiter = LastDelimiterIndex("\\/:", path);
    const std::string name = path.substr(static_cast<size_t>(delimiter));
    if (!path.empty() && (name.empty() || name == "." || name == "..")) {
        kind = FilePlaceKind::Folder;
        return 0;
    }
    std::wstring target;
    if (!LongPath(path, target)) return LastError();
    // The device namespace ("NUL", "CON", "\\.\PhysicalDrive0" as GetFullPathNameW gives them).
    if (target.starts_with(L"\\\\?\\UNC\\.\\") || target.starts_with(L"\\\\?\\UNC\\?\\") ||
        target.starts_with(L"\\\\.\\")) {
        kind = FilePlaceKind::Other;
        return 0;
    }
    const DWORD existing = ::GetFileAttributesW(target.c_str());
    if (existing != INVALID_FILE_ATTRIBUTES) {
        kind = IsReparseAttr(existing)  ? FilePlaceKind::Link
               : IsFolderAttr(existing) ? FilePlaceKind::Folder
                                        : FilePlaceKind::File;
        if (kind != FilePlaceKind::File) return 0;
        if (existing & FILE_ATTRIBUTE_READONLY) return ERROR_ACCESS_DENIED;
    } else if (const DWORD error = ::GetLastError(); error != ERROR_FILE_NOT_FOUND) {
        return static_cast<int>(error);
    }
    // The temporary is made in the same folder and moved over the name: a probe made and
    // deleted at once tells whether the folder takes a new file.
    const std::wstring folder = target.substr(0, target.rfind(L'\\') + 1);
    const DWORD folderAttributes = ::GetFileAttributesW(folder.c_str());
    if (folderAttributes == INVALID_FILE_ATTRIBUTES) return LastError();
    if (!IsFolderAttr(folderAttributes)) return ERROR_DIRECTORY;
    std::wstring probe;
    ToWide(NewTemporaryName(), probe);
    Handle h(::CreateFileW((folder + probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!h.valid()) return LastError();
    return 0;
}

std::string CanonicalPath(const std::string& path) {
    Handle h(OpenPath(path, FILE_READ_ATTRIBUTES, true));
    std::wstring final;
    if (!h.valid() || !PathOfHandle(h.get(), final)) return {};
    return WithoutLongPrefix(final);
}

std::vector<FolderPlace> PlacesOf(const std::string& path) {
    // The final path names a folder by the volume it is on, whatever link, junction or
    // second mount point it was reached through; its names compare without case.
    std::string canonical = CanonicalPath(path);
    if (canonical.empty()) return {};
    return {FolderPlace{0, std::move(canonical), true}};
}

std::string AbsolutePath(const std::string& path) {
    std::wstring wide, full;
    if (!ToWide(path, wide) || wide.empty() || !FullWidePath(wide, full)) return path;
    return WithoutLongPrefix(full);
}

std::string EnvironmentValue(const char* name) {
    std::wstring wideName;
    if (!ToWide(name, wideName)) return {};
    DWORD size = ::GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (size == 0) return {};
    std::wstring value(size, L'\0');
    DWORD written = ::GetEnvironmentVariableW(wideName.c_str(), value.data(), size);
    if (written == 0 || written >= size) return {};
    value.resize(written);
    return FromWide(value);
}

std::string PathCaseKey(std::string_view path) {
    std::wstring wide;
    if (!ToWide(path, wide)) return std::string(path);  // no UTF-8: only itself is equal
    if (wide.empty()) return {};
    // Upper case without linguistic rules, as NTFS's own table folds names.
    std::wstring upper(wide.size(), L'\0');
    const int n = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.c_str(),
                                  static_cast<int>(wide.size()), upper.data(),
                                  static_cast<int>(upper.size()), nullptr, nullptr, 0);
    if (n <= 0) return std::string(path);
    upper.resize(static_cast<size_t>(n));
    return FromWide(upper);
}

std::vector<std::string> SystemSettingsFiles(const std::string& name) {
    std::vector<std::string> folders;
    wchar_t buffer[MAX_PATH + 1];
    UINT n = ::GetSystemWindowsDirectoryW(buffer, MAX_PATH + 1);
    if (n > 0 && n <= MAX_PATH) folders.push_back(FromWide(buffer) + "\\SysWOW64");
    n = ::GetSystemDirectoryW(buffer, MAX_PATH + 1);
    if (n > 0 && n <= MAX_PATH) folders.push_back(FromWide(buffer));
    const std::string store = EnvironmentValue("LOCALAPPDATA");
    std::vector<std::string> files;
    for (const std::string& folder : folders) {
        // The store mirrors the path below the drive: C:\Windows\System32 is kept as
        // %LOCALAPPDATA%\VirtualStore\Windows\System32.
        if (!store.empty() && folder.size() > 3 && folder[1] == ':' && folder[2] == '\\')
            files.push_back(store + "\\VirtualStore\\" + folder.substr(3) + "\\" + name);
        files.push_back(folder + "\\" + name);
    }
    return files;
}

std::string TextFromSystemCodePage(std::string_view bytes) {
    if (bytes.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                                        nullptr, 0);
    std::wstring wide(static_cast<size_t>(std::max(n, 0)), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), wide.data(), n);
    return FromWide(wide);
}

bool TextToSystemCodePage(std::string_view text, std::string& bytes) {
    bytes.clear();
    std::wstring wide;
    if (!ToWide(text, wide)) return false;
    if (wide.empty()) return true;
    const int n = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                        nullptr, 0, nullptr, nullptr);
    if (n <= 0) return false;
    bytes.resize(static_cast<size_t>(n));
    ::WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(), n,
                          nullptr, nullptr);
    // Lossless only when the bytes read back as the same text: a character without a form
    // in the code page becomes "?" or a look-alike ("best fit").
    const int back = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), n, nullptr, 0);
    std::wstring again(static_cast<size_t>(std::max(back, 0)), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), n, again.data(), back);
    return again == wide;
}

}  // namespace ostrivane
