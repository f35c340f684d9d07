// The POSIX (Linux) layer of the file-system operations: the only file of the core that
// calls the operating system.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <vector>

#include "core/fsops.h"

namespace ostrivane {

// ------------------------------------------------------------------------------------------
// Errors

EInOutError InOutErrorFromOs(int osError) {
    switch (osError) {
        case ENOENT:
            return EInOutError(2, "File not found");
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
            return EInOutError(3, "Invalid filename");
        case EMFILE:
        case ENFILE:
            return EInOutError(4, "Too many open files");
        case EACCES:
        case EPERM:
            return EInOutError(5, "File access denied");
        default:
            return EInOutError(osError, "I/O error " + std::to_string(osError));
    }
}

namespace error {
const int kAlreadyExists = EEXIST;
const int kNotFound = ENOENT;
const int kLinkLoop = ELOOP;
const int kNotAFolder = ENOTDIR;
const int kAccessDenied = EACCES;
const int kIsLink = ELOOP;
const int kChangedMeanwhile = ESTALE;
}  // namespace error

std::string ErrorText(int error) {
    char buffer[256];
    return strerror_r(error, buffer, sizeof buffer);
}

namespace {

// A file descriptor closed on every way out.
class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    // Closes and reports the error of the close, which for written files can be the
    // first sign of a failed write.
    int close() {
        int result = ::close(fd_) == 0 ? 0 : errno;
        fd_ = -1;
        return result;
    }

  private:
    int fd_;
};

bool IsFolderMode(mode_t mode) {
    return S_ISDIR(mode);
}

std::uint32_t AttributesFromMode(mode_t mode) {
    if (S_ISDIR(mode)) return attr::kFolder;
    if (S_ISREG(mode)) return attr::kArchive;
    if (S_ISLNK(mode)) return attr::kLink;
    return attr::kSystem;  // FIFOs, sockets and devices
}

std::uint32_t NameAttributes(const char* name) {
    bool dotEntry = std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
    return (name[0] == '.' && !dotEntry) ? attr::kHidden : 0;
}

// The folder part of a search pattern ("." when it has none) and the name pattern.
void SplitPattern(const std::string& pattern, std::string& folder, std::string& names) {
    size_t slash = pattern.rfind('/');
    if (slash == std::string::npos) {
        folder = ".";
        names = pattern;
    } else {
        folder = pattern.substr(0, slash + 1);
        names = pattern.substr(slash + 1);
    }
}

mode_t ProcessUmask() {
    // Reading the mask from /proc avoids changing it, which would race with other threads.
    static const mode_t mask = [] {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("Umask:", 0) == 0)
                return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
        }
        mode_t old = ::umask(022);
        ::umask(old);
        return old;
    }();
    return mask;
}

}  // namespace

// ------------------------------------------------------------------------------------------
// Directory search

namespace detail {
// Listing buffers are reused: allocating and freeing 32 KiB per folder costs more than the
// listing itself on small folders.
struct ListingBuffer {
    static constexpr size_t kSize = 32 * 1024;
    static std::unique_ptr<char[]> take() {
        auto& pool = Pool();
        if (pool.empty()) return std::make_unique<char[]>(kSize);
        auto b = std::move(pool.back());
        pool.pop_back();
        return b;
    }
    static void give(std::unique_ptr<char[]> b) {
        if (b && Pool().size() < 64) Pool().push_back(std::move(b));
    }
    static std::vector<std::unique_ptr<char[]>>& Pool() {
        static thread_local std::vector<std::unique_ptr<char[]>> pool;
        return pool;
    }
};
struct SearchState {
    int fd = -1;
    std::unique_ptr<char[]> buffer;
    size_t position = 0, length = 0;
    std::string names;  // name pattern; empty matches everything
    std::uint32_t excluded = 0;
    bool raw = false;
    SearchDetail detail = SearchDetail::Full;
    ~SearchState() {
        if (fd >= 0) ::close(fd);
        ListingBuffer::give(std::move(buffer));
    }
    const dirent64* next() {
        if (position >= length) {
            ssize_t n = ::getdents64(fd, buffer.get(), ListingBuffer::kSize);
            if (n <= 0) return nullptr;
            length = static_cast<size_t>(n);
            position = 0;
        }
        auto* entry = reinterpret_cast<const dirent64*>(buffer.get() + position);
        position += entry->d_reclen;
        return entry;
    }
};
void SearchStateDeleter::operator()(SearchState* state) const {
    delete state;
}
}  // namespace detail

namespace {

bool MatchesAll(const std::string& names) {
    return names.empty() || names == "*" || names == "*.*";
}

// Attribute word of one directory entry; the entry's own type spares a stat in most cases.
std::uint32_t EntryAttributes(int dirFd, const dirent64* entry, SearchDetail detail) {
    std::uint32_t attributes = NameAttributes(entry->d_name);
    unsigned char type = entry->d_type;
    struct stat st;
    bool haveStat = false;
    if (type == DT_UNKNOWN || detail == SearchDetail::Full) {
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            haveStat = true;
            type = S_ISDIR(st.st_mode)   ? DT_DIR
                   : S_ISREG(st.st_mode) ? DT_REG
                   : S_ISLNK(st.st_mode) ? DT_LNK
                                         : DT_FIFO;
        }
    }
    switch (type) {
        case DT_DIR:
            attributes |= attr::kFolder;
            break;
        case DT_REG:
            attributes |= attr::kArchive;
            break;
        case DT_LNK: {
            attributes |= attr::kLink;
            struct stat target;
            if (::fstatat(dirFd, entry->d_name, &target, 0) == 0 && IsFolderMode(target.st_mode))
                attributes |= attr::kFolder;
            break;
        }
        case DT_UNKNOWN:
            break;  // vanished meanwhile: report it as a plain file
        default:
            attributes |= attr::kSystem;
    }
    if (haveStat && !S_ISLNK(st.st_mode) && !(st.st_mode & S_IWUSR)) attributes |= attr::kReadOnly;
    return attributes;
}

// Reads entries until one passes the filter; false at the end of the folder.
bool NextMatching(SearchRec& rec) {
    auto& state = *rec.state;
    int dirFd = state.fd;
    while (const dirent64* entry = state.next()) {
        if (!state.raw && !MatchesAll(state.names) &&
            ::fnmatch(state.names.c_str(), entry->d_name, 0) != 0)
            continue;
        std::uint32_t attributes = EntryAttributes(dirFd, entry, state.detail);
        if (attributes & state.excluded) continue;
        rec.entry.name = entry->d_name;
        rec.entry.attributes = attributes;
        return true;
    }
    return false;
}

bool StartSearch(const std::string& folder,
                 std::unique_ptr<detail::SearchState, detail::SearchStateDeleter> state,
                 SearchRec& rec) {
    rec.state.reset();
    rec.error = 0;
    state->fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (state->fd < 0) {
        rec.error = errno;
        return false;
    }
    state->buffer = detail::ListingBuffer::take();
    rec.state = std::move(state);
    if (NextMatching(rec)) return true;
    rec.state.reset();  // a search that yielded nothing holds nothing
    return false;
}

int SearchFd(const SearchRec& rec) {
    return rec.state ? rec.state->fd : -1;
}

}  // namespace

bool SearchFirst(const std::string& pattern, std::uint32_t wanted, SearchRec& rec,
                 SearchDetail detail) {
    std::unique_ptr<detail::SearchState, detail::SearchStateDeleter> state(new detail::SearchState);
    std::string folder;
    SplitPattern(pattern, folder, state->names);
    state->excluded = 0x1E & ~wanted;
    state->detail = detail;
    return StartSearch(folder, std::move(state), rec);
}

bool SearchNext(SearchRec& rec) {
    if (!rec.state) return false;
    return NextMatching(rec);
}

void SearchClose(SearchRec& rec) {
    rec.state.reset();
}

bool RawSearchFirst(const std::string& folder, SearchRec& rec, SearchDetail detail) {
    // The checks of a change into the folder, in its order: the path, a folder, then
    // search permission on it.
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0) throw InOutErrorFromOs(errno);
    if (!S_ISDIR(st.st_mode)) throw InOutErrorFromOs(ENOTDIR);
    if (::faccessat(AT_FDCWD, folder.c_str(), X_OK, AT_EACCESS) != 0) throw InOutErrorFromOs(errno);
    std::unique_ptr<detail::SearchState, detail::SearchStateDeleter> state(new detail::SearchState);
    state->raw = true;
    state->detail = detail;
    bool found = StartSearch(folder, std::move(state), rec);
    if (!found && rec.error != 0 && rec.error != EACCES) throw InOutErrorFromOs(rec.error);
    return found;
}

int DeleteEntryOfSearch(const SearchRec& rec, const std::string& name) {
    return ::unlinkat(SearchFd(rec), name.c_str(), 0) == 0 ? 0 : errno;
}

int RemoveFolderOfSearch(const SearchRec& rec, const std::string& name) {
    return ::unlinkat(SearchFd(rec), name.c_str(), AT_REMOVEDIR) == 0 ? 0 : errno;
}

FileIdentity IdentityOfSearch(const SearchRec& rec) {
    struct stat st;
    if (!rec.state || ::fstat(SearchFd(rec), &st) != 0) return {};
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// ------------------------------------------------------------------------------------------
// Open folders

namespace {

FileIdentity IdentityOf(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

int FdOf(const Folder& folder) {
    return static_cast<int>(folder.native());
}

}  // namespace

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

void Folder::close() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
    handle_ = -1;
}

int Folder::adopt(std::intptr_t handle, bool listable) {
    close();
    struct stat st;
    if (::fstat(static_cast<int>(handle), &st) != 0) {
        int error = errno;
        ::close(static_cast<int>(handle));
        return error;
    }
    handle_ = handle;
    identity_ = IdentityOf(st);
    listable_ = listable;
    return 0;
}

int OpenFolder(const std::string& path, Folder& folder) {
    folder.close();
    if (path.empty()) return ENOENT;
    int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) return folder.adopt(fd);
    if (errno != EACCES) return errno;
    // No read permission: a path descriptor still reaches the entries.
    fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    return folder.adopt(fd, false);
}

int OpenSubfolder(const Folder& parent, const std::string& name, Folder& folder,
                  std::uint64_t listedInode) {
    folder.close();
    bool listable = true;
    int fd = ::openat(FdOf(parent), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) {
        // No read permission: a path descriptor still reaches the entries.
        listable = false;
        fd = ::openat(FdOf(parent), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (fd < 0) {
        int error = errno;
        // O_NOFOLLOW with O_DIRECTORY reports a link as ENOTDIR: tell it apart.
        if (error == ENOTDIR) {
            struct stat st;
            if (::fstatat(FdOf(parent), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(st.st_mode))
                error = ELOOP;
        }
        return error;
    }
    if (int error = folder.adopt(fd, listable)) return error;
    if (listedInode != 0 && folder.identity().inode != listedInode) {
        // A listing reports a mount point under the inode of the folder it covers; the
        // entry looked up by name is then the mounted root, which is what was opened.
        struct stat named, parentStat;
        const bool mountedRoot =
            ::fstatat(FdOf(parent), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            ::fstat(FdOf(parent), &parentStat) == 0 && IdentityOf(named) == folder.identity() &&
            named.st_dev != parentStat.st_dev;
        if (!mountedRoot) {
            folder.close();
            return ESTALE;
        }
    }
    return 0;
}

int CheckSearchPermission(const std::string& path) {
    return ::faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) == 0 ? 0 : errno;
}

int CanEnterAt(const Folder& parent, const std::string& name) {
    struct stat st;
    if (::fstatat(FdOf(parent), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
    if (S_ISLNK(st.st_mode)) return ELOOP;
    if (!S_ISDIR(st.st_mode)) return ENOTDIR;
    return ::faccessat(FdOf(parent), name.c_str(), X_OK, AT_EACCESS) == 0 ? 0 : errno;
}

int OpenParentFolder(const Folder& child, Folder& parent) {
    parent.close();
    int fd = ::openat(FdOf(child), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) return parent.adopt(fd);
    if (errno != EACCES) return errno;
    fd = ::openat(FdOf(child), "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    return parent.adopt(fd, false);
}

int ReadFolder(const Folder& folder, std::vector<FolderEntry>& entries) {
    entries.clear();
    if (!folder.listable()) return EACCES;
    // The listing reads through the folder's own descriptor from its start, so the same
    // open folder can be listed again.
    if (::lseek(FdOf(folder), 0, SEEK_SET) != 0) return errno;
    detail::SearchState state;
    state.fd = FdOf(folder);
    state.buffer = detail::ListingBuffer::take();
    state.detail = SearchDetail::TypeOnly;
    int error = 0;
    for (;;) {
        errno = 0;
        const dirent64* entry = state.next();
        if (!entry) {
            error = errno;
            break;
        }
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        entries.push_back({entry->d_name, EntryAttributes(state.fd, entry, SearchDetail::TypeOnly),
                           static_cast<std::uint64_t>(entry->d_ino)});
    }
    state.fd = -1;  // the folder keeps its descriptor
    return error;
}

bool EntryAttributesAt(const Folder& folder, const std::string& name, std::uint32_t& attributes,
                       FileIdentity* id) {
    struct stat st;
    if (::fstatat(FdOf(folder), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    attributes = AttributesFromMode(st.st_mode) | NameAttributes(name.c_str());
    if (S_ISLNK(st.st_mode)) {
        struct stat target;
        if (::fstatat(FdOf(folder), name.c_str(), &target, 0) == 0 && IsFolderMode(target.st_mode))
            attributes |= attr::kFolder;
    } else if (!(st.st_mode & S_IWUSR)) {
        attributes |= attr::kReadOnly;
    }
    if (id) *id = IdentityOf(st);
    return true;
}

bool TargetIdentityAt(const Folder& folder, const std::string& name, FileIdentity& id) {
    struct stat st;
    if (::fstatat(FdOf(folder), name.c_str(), &st, 0) != 0) return false;
    id = IdentityOf(st);
    return true;
}

bool IsExistingFileAt(const Folder& folder, const std::string& name) {
    struct stat st;
    if (::fstatat(FdOf(folder), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    if (!S_ISLNK(st.st_mode)) return !IsFolderMode(st.st_mode);
    return ::fstatat(FdOf(folder), name.c_str(), &st, 0) != 0 || !IsFolderMode(st.st_mode);
}

int CreateFolderAt(const Folder& folder, const std::string& name) {
    return ::mkdirat(FdOf(folder), name.c_str(), 0777) == 0 ? 0 : errno;
}

int DeleteEntryAt(const Folder& folder, const std::string& name) {
    return ::unlinkat(FdOf(folder), name.c_str(), 0) == 0 ? 0 : errno;
}

int RemoveFolderAt(const Folder& folder, const std::string& name) {
    return ::unlinkat(FdOf(folder), name.c_str(), AT_REMOVEDIR) == 0 ? 0 : errno;
}

int MakeOpenFolderWritable(const Folder& folder) {
    if (!folder.listable()) return EACCES;  // a path descriptor cannot change modes
    struct stat st;
    if (::fstat(FdOf(folder), &st) != 0) return errno;
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return 0;
    mode_t needed = S_IWUSR | S_IXUSR | S_IRUSR;
    if ((st.st_mode & needed) == needed) return 0;
    return ::fchmod(FdOf(folder), (st.st_mode & 07777) | needed) == 0 ? 0 : errno;
}

// ------------------------------------------------------------------------------------------
// Existence and attributes

bool IsExistingFolder(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && IsFolderMode(st.st_mode);
}

bool IsFileSystemRoot(const std::string& path) {
    struct stat st;
    struct stat root;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && ::stat("/", &root) == 0 &&
           st.st_dev == root.st_dev && st.st_ino == root.st_ino;
}

bool IsExistingFile(const std::string& path) {
    struct stat st;
    if (path.empty() || ::lstat(path.c_str(), &st) != 0) return false;
    if (!S_ISLNK(st.st_mode)) return !IsFolderMode(st.st_mode);
    // A link counts as what it points to; a dangling link is still an entry of that path.
    return ::stat(path.c_str(), &st) != 0 || !IsFolderMode(st.st_mode);
}

bool GetAttributes(const std::string& path, std::uint32_t& attributes) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return false;
    attributes = AttributesFromMode(st.st_mode);
    if (S_ISLNK(st.st_mode)) {
        struct stat target;
        if (::stat(path.c_str(), &target) == 0 && IsFolderMode(target.st_mode))
            attributes |= attr::kFolder;
    } else if (!(st.st_mode & S_IWUSR)) {
        attributes |= attr::kReadOnly;
    }
    std::string name = FileNamePart(path);
    attributes |= NameAttributes(name.c_str());
    return true;
}

int SetAttributes(const std::string& path, std::uint32_t attributes) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return errno;
    if (S_ISLNK(st.st_mode)) return 0;  // links carry no permissions of their own
    mode_t mode = st.st_mode & 07777;
    mode_t wanted = (attributes & attr::kReadOnly) ? (mode & ~mode_t{0222}) : (mode | S_IWUSR);
    if (wanted == mode) return 0;
    return ::chmod(path.c_str(), wanted) == 0 ? 0 : errno;
}

int MakeFolderWritable(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return errno;
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return 0;
    mode_t needed = S_IWUSR | S_IXUSR | S_IRUSR;
    if ((st.st_mode & needed) == needed) return 0;
    return ::chmod(path.c_str(), (st.st_mode & 07777) | needed) == 0 ? 0 : errno;
}

int CreateFolder(const std::string& path) {
    return ::mkdir(path.c_str(), 0777) == 0 ? 0 : errno;
}
int DeleteOneFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0 ? 0 : errno;
}
int RemoveFolder(const std::string& path) {
    return ::rmdir(path.c_str()) == 0 ? 0 : errno;
}

bool GetIdentity(const std::string& path, FileIdentity& id) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return true;
}

std::uint64_t OpenFileLimit() {
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 1024;
    return static_cast<std::uint64_t>(limit.rlim_cur);
}

bool GetEntryIdentity(const std::string& path, FileIdentity& id) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return false;
    id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    return true;
}

int SyncFileSystemOf(const std::string& path) {
    Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) {
        if (errno != EACCES) return errno;
        // A folder that may be written but not read (a drop box) cannot be opened; flushing
        // every file system still puts the copies on the device.
        ::sync();
        return 0;
    }
    return ::syncfs(fd.get()) == 0 ? 0 : errno;
}

// ------------------------------------------------------------------------------------------
// Copying one file

namespace {

// Creates a new, empty temporary file next to `target`; returns its descriptor or -1.
int CreateTemporaryBeside(const std::string& target, std::string& tempPath) {
    size_t slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    std::string name = target.substr(folder.size());
    static thread_local std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[20];
        std::snprintf(suffix, sizeof suffix, "%012llx",
                      static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
        tempPath = folder + "." + name.substr(0, 200) + ".ostrivane-" + suffix;
        int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

int WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

int CopyByReadWrite(int source, int target) {
    static thread_local std::vector<char> buffer(256 * 1024);
    for (;;) {
        ssize_t n = ::read(source, buffer.data(), buffer.size());
        if (n == 0) return 0;
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (int error = WriteAll(target, buffer.data(), static_cast<size_t>(n))) return error;
    }
}

bool KernelCopyUnsupported(int error) {
    return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP ||
           error == EBADF || error == ETXTBSY;
}

// Copies the data of `source` into the empty file `target`: a clone where the file system
// shares blocks (btrfs, XFS), else an in-kernel copy, else a read/write loop.
int CopyData(int source, int target, const struct stat& st) {
    // Remember the file systems that cannot clone, so each file does not pay for the probe.
    static thread_local dev_t noCloneDevice = static_cast<dev_t>(-1);
    static thread_local bool kernelCopyMissing = false;
    if (st.st_size == 0) return CopyByReadWrite(source, target);  // /proc-like files report 0
    if (st.st_dev != noCloneDevice) {
        if (::ioctl(target, FICLONE, source) == 0) return 0;
        noCloneDevice = st.st_dev;
    }
    if (!kernelCopyMissing) {
        bool copiedAny = false;
        for (;;) {
            ssize_t n = ::copy_file_range(source, nullptr, target, nullptr, size_t{1} << 30, 0);
            if (n > 0) {
                copiedAny = true;
                continue;
            }
            // Some file systems report the end at once for files whose size they do not
            // know; the plain loop then reads what is really there.
            if (n == 0 && copiedAny) return 0;
            if (n == 0) break;
            if (errno == EINTR) continue;
            if (copiedAny || !KernelCopyUnsupported(errno)) return errno;
            if (errno == ENOSYS) kernelCopyMissing = true;
            break;
        }
    }
    return CopyByReadWrite(source, target);
}

// A file system that cannot hold permission bits or times (FAT on a USB stick) refuses
// them with one of these; the copied bytes are what counts, so the copy stands with what
// the file system gives it.
bool RefusedByFileSystem(int error) {
    return error == EPERM || error == EOPNOTSUPP;
}

// Gives the new file the source's permission bits (0777) and times.
int FinishCopy(int target, const struct stat& st, bool createdWithMode) {
    mode_t mode = st.st_mode & 0777;
    if (!createdWithMode || (mode & ProcessUmask()) != 0) {
        if (::fchmod(target, mode) != 0 && !RefusedByFileSystem(errno)) return errno;
    }
    struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::futimens(target, times) != 0 && !RefusedByFileSystem(errno)) return errno;
    return 0;
}

// Creates a new, empty temporary file in the folder `dirFd` beside the entry `name`; returns
// its descriptor or -1, and its name in `tempName`.
int CreateTemporaryIn(int dirFd, const std::string& target, std::string& tempName) {
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = target.substr(folder.size());
    static thread_local std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[20];
        std::snprintf(suffix, sizeof suffix, "%012llx",
                      static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
        tempName = folder + "." + name.substr(0, 200) + ".ostrivane-" + suffix;
        int fd = ::openat(dirFd, tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

// Writes a complete copy into the open new file `name` of `dirFd`; on failure the file is
// removed.
int FillNewFile(int source, Fd& target, int dirFd, const std::string& name,
                const struct stat& st, bool createdWithMode) {
    int error = CopyData(source, target.get(), st);
    if (!error) error = FinishCopy(target.get(), st, createdWithMode);
    int closeError = target.close();
    if (!error) error = closeError;
    if (error) ::unlinkat(dirFd, name.c_str(), 0);
    return error;
}

int ReplaceExisting(int source, const struct stat& st, int dirFd, const std::string& target) {
    // A link counts as what it leads to: a link to a folder is a folder in the way.
    struct stat existing;
    if (::fstatat(dirFd, target.c_str(), &existing, 0) == 0) {
        if (S_ISDIR(existing.st_mode)) return EISDIR;
        if (existing.st_dev == st.st_dev && existing.st_ino == st.st_ino)
            return 0;  // the file itself
        if (S_ISREG(existing.st_mode) &&
            ::faccessat(dirFd, target.c_str(), W_OK, AT_EACCESS) != 0)
            return errno;
    }
    std::string tempName;
    Fd temp(CreateTemporaryIn(dirFd, target, tempName));
    if (!temp.valid()) return errno;
    if (int error = FillNewFile(source, temp, dirFd, tempName, st, false)) return error;
    if (::renameat(dirFd, tempName.c_str(), dirFd, target.c_str()) != 0) {
        int error = errno;
        ::unlinkat(dirFd, tempName.c_str(), 0);
        return error;
    }
    return 0;
}

// Why a source that is no regular file is not copied.
constexpr int kNotRegularFile = ENOTSUP;

// Opens `name` (relative to `dirFd`) for copying. Only a regular file, or a link to one, is
// opened: opening a FIFO would wait for a writer, and a device could be read without end.
// `knownRegular` says the folder listing already showed a regular file. Returns the
// descriptor, or -1 with errno set.
int OpenSource(int dirFd, const char* name, bool knownRegular) {
    if (!knownRegular) {
        struct stat st;
        if (::fstatat(dirFd, name, &st, 0) != 0) return -1;
        if (!S_ISREG(st.st_mode)) {
            errno = S_ISDIR(st.st_mode) ? EISDIR : kNotRegularFile;
            return -1;
        }
    }
    // Non-blocking, in case a FIFO took the file's place since it was looked at.
    return ::openat(dirFd, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
}

// Copies the open source to the entry `target` of the folder `dirFd` (AT_FDCWD: a path).
int CopyFromOpenSource(int source, int dirFd, const std::string& target, bool failIfExists) {
    struct stat st;
    if (::fstat(source, &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode)) return kNotRegularFile;
    // Create the target exclusively: nothing that exists or appears meanwhile is touched.
    Fd created(::openat(dirFd, target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                        st.st_mode & 0777));
    if (created.valid()) return FillNewFile(source, created, dirFd, target, st, true);
    if (errno != EEXIST || failIfExists) return errno;
    return ReplaceExisting(source, st, dirFd, target);
}

}  // namespace

int CopyOneFile(const std::string& source, const std::string& target, bool failIfExists) {
    Fd fd(OpenSource(AT_FDCWD, source.c_str(), false));
    if (!fd.valid()) return errno;
    return CopyFromOpenSource(fd.get(), AT_FDCWD, target, failIfExists);
}

int CopyOneFileFromSearch(const SearchRec& folder, const std::string& name,
                          const std::string& target, bool failIfExists) {
    // The archive bit of the current entry means a regular file that is no link.
    const bool knownRegular =
        folder.entry.name == name && (folder.entry.attributes & attr::kArchive);
    Fd fd(OpenSource(SearchFd(folder), name.c_str(), knownRegular));
    if (!fd.valid()) return errno;
    return CopyFromOpenSource(fd.get(), AT_FDCWD, target, failIfExists);
}

int CopyFileAt(const Folder* sourceFolder, const std::string& sourceName,
               const Folder& targetFolder, const std::string& targetName, bool failIfExists,
               std::uint32_t listedAttributes) {
    const bool knownRegular =
        (listedAttributes & attr::kArchive) != 0 && (listedAttributes & attr::kLink) == 0;
    Fd fd(OpenSource(sourceFolder ? FdOf(*sourceFolder) : AT_FDCWD, sourceName.c_str(),
                     knownRegular));
    if (!fd.valid()) return errno;
    return CopyFromOpenSource(fd.get(), FdOf(targetFolder), targetName, failIfExists);
}

// ------------------------------------------------------------------------------------------
// Whole files

int ReadWholeFile(const std::string& path, std::string& bytes) {
    // Non-blocking, so that a FIFO chosen as the file cannot hang the open; anything but a
    // regular file (a FIFO, a device that never ends) is refused before it is read.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) return errno;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode)) return ENOTSUP;
    std::string result;
    result.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        result.append(buffer, static_cast<size_t>(n));
    }
    bytes = std::move(result);
    return 0;
}

namespace {

// The file a path stands for: a link (a settings file kept elsewhere and linked in) is
// resolved, so that a rewrite replaces the file and keeps the link.
std::string ResolvedTarget(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return path;
    std::string result = resolved;
    std::free(resolved);
    return result;
}

}  // namespace

int WriteFileAtomically(const std::string& requestedPath, std::string_view bytes,
                        bool* shortWrite) {
    if (shortWrite) *shortWrite = false;
    const std::string path = ResolvedTarget(requestedPath);
    struct stat existing;
    bool exists = ::stat(path.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) return EISDIR;
    if (exists && ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return errno;
    std::string tempPath;
    Fd temp(CreateTemporaryBeside(path, tempPath));
    if (!temp.valid()) return errno;
    auto fail = [&](int error, bool duringWrite) {
        temp.reset();
        ::unlink(tempPath.c_str());
        if (shortWrite) *shortWrite = duringWrite;
        return error;
    };
    mode_t mode = exists ? (existing.st_mode & 07777) : (0666 & ~ProcessUmask());
    if (::fchmod(temp.get(), mode) != 0) return fail(errno, false);
    if (int error = WriteAll(temp.get(), bytes.data(), bytes.size())) return fail(error, true);
    // The data must be on the device before the new name points at it.
    if (::fsync(temp.get()) != 0) return fail(errno, true);
    if (int error = temp.close()) return fail(error, true);
    if (::rename(tempPath.c_str(), path.c_str()) != 0) return fail(errno, false);
    return 0;
}

std::string CanonicalPath(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return {};
    std::string result = resolved;
    std::free(resolved);
    return result;
}

std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) return path;
        buffer.resize(buffer.size() * 2);
    }
    std::string cwd = buffer.data();
    if (cwd.empty() || cwd.back() != '/') cwd += '/';
    return path.rfind("./", 0) == 0 ? cwd + path.substr(2) : cwd + path;
}

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace ostrivane
