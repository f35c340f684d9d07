// The POSIX (Linux) layer of the file-system operations: the only file of the core that
// calls the operating system.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <limits>
#include <mutex>
#include <random>
#include <string_view>
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
const int kSourceChanged = 0x10001;  // beyond every errno value
const int kStopped = 0x10002;
// Not ESTALE, whose system text "Stale file handle" tells of a fault, not of an entry
// moved or swapped meanwhile; ErrorText words it.
const int kChangedMeanwhile = 0x10003;
const int kDeviceFull = 0x10004;
}  // namespace error

bool MeansDeviceFull(int error) { return error == ENOSPC || error == EDQUOT; }

std::string ErrorText(int error) {
    if (error == error::kSourceChanged) return "源文件在复制过程中被改动";
    if (error == error::kStopped) return "复制已停止，未完成的副本已丢弃";
    if (error == error::kChangedMeanwhile) return "运行中已被移动、删除或替换（链接或另一文件夹）";
    if (error == error::kDeviceFull) return "目标磁盘已满，未复制";
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

FileIdentity IdentityOfSearch(const SearchRec& rec) {
    struct stat st;
    if (!rec.state || ::fstat(SearchFd(rec), &st) != 0) return {};
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// ------------------------------------------------------------------------------------------
// Open folders

namespace {

// A modification time in nanoseconds.
std::int64_t ModifiedNs(const struct stat& st) {
    return st.st_mtim.tv_sec * 1'000'000'000LL + st.st_mtim.tv_nsec;
}

FileIdentity IdentityOf(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

int FdOf(const Folder& folder) {
    return static_cast<int>(folder.native());
}

}  // namespace

namespace {

// True when this process may write into the blocks a file system keeps back for the
// privileged (ext2/3/4 keep 5 % by default): its user is root (the reserve's default owner),
// or it holds CAP_SYS_RESOURCE. Asked each time: a process may change its user.
bool MayUseReservedBlocks() {
    if (::geteuid() == 0) return true;
    __user_cap_header_struct header{};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0) return false;
    return (data[CAP_SYS_RESOURCE / 32].effective >> (CAP_SYS_RESOURCE % 32)) & 1U;
}

}  // namespace

bool FreeSpaceAt(const Folder& folder, std::uint64_t& bytes, std::uint64_t& entries) {
    struct statvfs st;
    if (::fstatvfs(FdOf(folder), &st) != 0) return false;
    // f_bavail leaves out the reserve; a process that may use it has f_bfree. (Where the
    // file system's own figures differ otherwise, a copy tried in vain fails as any other.)
    const bool reserve = MayUseReservedBlocks();
    bytes = static_cast<std::uint64_t>(reserve ? st.f_bfree : st.f_bavail) * st.f_frsize;
    // A file system that keeps no count of its entries (btrfs, FUSE ones) reports 0 of 0.
    entries = st.f_files == 0 ? UINT64_MAX
                              : static_cast<std::uint64_t>(reserve ? st.f_ffree : st.f_favail);
    return true;
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

namespace {

// The Linux file systems this layer knows by their magic numbers: ext2/3/4, XFS, btrfs,
// tmpfs and F2FS. (0 when the type cannot be read.)
bool IsKnownLinuxFileSystem(int fd, unsigned long& type) {
    struct statfs fs;
    type = ::fstatfs(fd, &fs) == 0 ? static_cast<unsigned long>(fs.f_type) : 0;
    switch (type) {
        case 0xEF53:      // ext2, ext3, ext4
        case 0x58465342:  // XFS
        case 0x9123683E:  // btrfs
        case 0x01021994:  // tmpfs
        case 0xF2F52010:  // F2FS
            return true;
        default:
            return false;
    }
}

// True for the file systems whose listings give each entry's own inode number, where a
// listed inode that differs from the opened folder's means the entry was swapped.
bool ListsTrueInodes(int folderFd) {
    unsigned long type = 0;
    return IsKnownLinuxFileSystem(folderFd, type) || type == 0;
}

// True when the open descriptor is the root of a mount, a bind mount of a folder of the
// same file system included (no device number tells that one apart). False where the
// kernel cannot say (before Linux 5.8).
bool IsMountRoot(int fd) {
    struct statx stx;
    if (::statx(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, 0, &stx) != 0) return false;
    return (stx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 &&
           (stx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
}

}  // namespace

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
        // Some file systems list other inode numbers than they report for the entry
        // (overlayfs over several file systems); there the entry as looked up by name now
        // must be the folder that was opened.
        struct stat named, parentStat;
        const bool sameAsNamed =
            ::fstatat(FdOf(parent), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            ::fstat(FdOf(parent), &parentStat) == 0 && IdentityOf(named) == folder.identity();
        const bool mountedRoot =
            sameAsNamed && (named.st_dev != parentStat.st_dev || IsMountRoot(FdOf(folder)));
        if (!mountedRoot && !(sameAsNamed && !ListsTrueInodes(FdOf(parent)))) {
            folder.close();
            return error::kChangedMeanwhile;
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

bool FolderFoldsNames(const Folder& folder) {
    unsigned long type = 0;
    if (!folder.isOpen()) return true;
    if (!IsKnownLinuxFileSystem(FdOf(folder), type))
        return type != 0x2FC12FC1 && type != 0xCA451A4E;  // ZFS and bcachefs keep names apart
    if (type != 0xEF53 && type != 0xF2F52010) return false;
    // ext4 and F2FS fold names in folders that carry the case-folding flag.
    long flags = 0;
    if (::ioctl(FdOf(folder), FS_IOC_GETFLAGS, &flags) != 0) return true;
    return (flags & FS_CASEFOLD_FL) != 0;
}

bool IsFileSystemRootFolder(const Folder& folder) {
    struct stat root;
    return folder.isOpen() && ::stat("/", &root) == 0 && folder.identity() == IdentityOf(root);
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

bool FileSizeAt(const Folder& folder, const std::string& name, std::uint64_t& size) {
    struct stat st;
    if (::fstatat(FdOf(folder), name.c_str(), &st, 0) != 0 || !S_ISREG(st.st_mode)) return false;
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
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

// Where a thread finds its own descriptors by name: /proc/thread-self (Linux 3.17 on) names
// the calling thread's table, /proc/self the process leader's, which a thread with a
// table of its own does not share.
bool HasThreadSelf() {
    static const bool has = ::access("/proc/thread-self/fd", X_OK) == 0;
    return has;
}

void UsePrivateDescriptorTable() {
    // Without /proc/thread-self an unnamed copy could not always be linked by its
    // descriptor's name, so the thread keeps the shared table (slower, not wrong). A
    // failed unshare keeps it too.
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer takes descriptor numbers as one table for the process: numbers that
    // private tables reuse would read as races. Its builds keep the shared table.
    return;
#else
    if (HasThreadSelf()) ::unshare(CLONE_FILES);
#endif
}

bool IsRotatingDisk(std::uint64_t device) {
    const dev_t id = static_cast<dev_t>(device);
    if (major(id) == 0) return false;  // no block device behind it
    const std::string base =
        "/sys/dev/block/" + std::to_string(major(id)) + ":" + std::to_string(minor(id));
    // A partition has no queue of its own; its disk (the folder above it) has.
    for (const char* queue : {"/queue/rotational", "/../queue/rotational"}) {
        std::ifstream in(base + queue);
        int rotational = 0;
        if (in >> rotational) return rotational != 0;
    }
    return false;
}

// ------------------------------------------------------------------------------------------
// Places

namespace {

// One line of /proc/self/mountinfo: the mount's id, its file system's device, the folder of
// that file system it shows (its root) and where it is mounted.
struct MountRecord {
    std::uint64_t id = 0;
    std::uint64_t device = 0;
    std::string root, point;
};

// A path field of mountinfo with its octal escapes ("\040" for a space) undone.
std::string UnescapedMountField(std::string_view field) {
    std::string text;
    for (size_t i = 0; i < field.size(); ++i) {
        const auto octal = [&](size_t k) { return field[k] >= '0' && field[k] <= '7'; };
        if (field[i] == '\\' && i + 3 < field.size() && octal(i + 1) && octal(i + 2) &&
            octal(i + 3)) {
            text += static_cast<char>(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) |
                                      (field[i + 3] - '0'));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

// The mounts of mountinfo's text in the order it lists them (a later one at the same point
// covers an earlier one).
std::vector<MountRecord> ParseMounts(std::string_view text) {
    std::vector<MountRecord> mounts;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        std::string_view fields[5];
        size_t at = 0, count = 0;
        for (; count < 5 && at <= line.size(); ++count) {
            size_t space = line.find(' ', at);
            if (space == std::string_view::npos) space = line.size();
            fields[count] = line.substr(at, space - at);
            at = space + 1;
        }
        unsigned major = 0, minor = 0;
        if (count < 5 || std::sscanf(std::string(fields[2]).c_str(), "%u:%u", &major, &minor) != 2)
            continue;
        MountRecord mount;
        mount.id = std::strtoull(std::string(fields[0]).c_str(), nullptr, 10);
        mount.device = static_cast<std::uint64_t>(makedev(major, minor));
        mount.root = UnescapedMountField(fields[3]);
        mount.point = UnescapedMountField(fields[4]);
        mounts.push_back(std::move(mount));
    }
    return mounts;
}

// The mount table as this thread last read it. The table is read again only when it may
// have changed: poll() on mountinfo reports POLLPRI once a mount or an unmount happened
// since the last look, so a run that takes the places of thousands of entries reads it
// once. One per thread, since a writer with a descriptor table of its own (see
// UsePrivateDescriptorTable) cannot use another thread's descriptor.
class MountTable {
  public:
    MountTable() = default;
    MountTable(const MountTable&) = delete;
    MountTable& operator=(const MountTable&) = delete;
    ~MountTable() {
        if (fd_ >= 0) ::close(fd_);
    }

    // The mounts, or null when mountinfo cannot be read.
    const std::vector<MountRecord>* current() {
        if (fd_ >= 0) {
            struct pollfd changed = {fd_, POLLPRI, 0};
            if (::poll(&changed, 1, 0) >= 0 && (changed.revents & (POLLPRI | POLLERR)) == 0)
                return mounts_.empty() ? nullptr : &mounts_;
        } else {
            fd_ = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
            if (fd_ < 0) return nullptr;
        }
        std::string text;
        char buffer[16384];
        ssize_t n = 0;
        if (::lseek(fd_, 0, SEEK_SET) == 0) {
            while ((n = ::read(fd_, buffer, sizeof buffer)) > 0)
                text.append(buffer, static_cast<size_t>(n));
        }
        mounts_ = n == 0 ? ParseMounts(text) : std::vector<MountRecord>();
        return mounts_.empty() ? nullptr : &mounts_;
    }

  private:
    int fd_ = -1;
    std::vector<MountRecord> mounts_;
};

thread_local MountTable mountTable;

// True when the absolute path `inner` is `outer` or lies below it.
bool PathWithin(const std::string& inner, const std::string& outer) {
    if (outer == "/") return !inner.empty() && inner[0] == '/';
    return inner.compare(0, outer.size(), outer) == 0 &&
           (inner.size() == outer.size() || inner[outer.size()] == '/');
}

// The id of the mount that `name` of `dirFd` lies in (statx, Linux 5.8 on), with statx's
// `flags`; 0 when the kernel does not tell.
std::uint64_t MountIdOf(int dirFd, const char* name, int flags) {
    struct statx stx;
    if (::statx(dirFd, name, flags | AT_STATX_DONT_SYNC, STATX_MNT_ID, &stx) != 0 ||
        !(stx.stx_mask & STATX_MNT_ID))
        return 0;
    return stx.stx_mnt_id;
}
std::uint64_t MountIdOf(const std::string& path) { return MountIdOf(AT_FDCWD, path.c_str(), 0); }
// The mount an open folder is reached through.
std::uint64_t MountIdOf(int folderFd) { return MountIdOf(folderFd, "", AT_EMPTY_PATH | AT_NO_AUTOMOUNT); }

// The path from its file system's root of `canonical`, which lies in `mount`. The names
// past the mount point are taken by their count, should the path spell the mount point
// otherwise than the kernel (a file system that folds names).
std::string PathOnFileSystem(const MountRecord& mount, const std::string& canonical) {
    std::string rest;
    if (PathWithin(canonical, mount.point)) {
        rest = mount.point == "/" ? canonical : canonical.substr(mount.point.size());
    } else {
        const auto names = std::count(mount.point.begin(), mount.point.end(), '/');
        size_t at = 0;
        for (long k = 0; k < names && at != std::string::npos; ++k)
            at = canonical.find('/', at + 1);
        rest = at == std::string::npos ? std::string() : canonical.substr(at);
    }
    if (mount.root == "/") return rest.empty() ? "/" : rest;
    return mount.root + rest;
}

}  // namespace

std::vector<FolderPlace> PlacesOf(const std::string& path) {
    std::vector<FolderPlace> places;
    const std::string canonical = CanonicalPath(path);
    if (canonical.empty()) return places;
    // Whether names may fold, asked of the folder itself or of the folder that holds a file.
    bool folds = true;
    {
        struct stat st;
        std::string folderPath = canonical;
        if (::stat(canonical.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
            folderPath.resize(std::max<size_t>(canonical.rfind('/'), 1));
        Folder folder;
        if (OpenFolder(folderPath, folder) == 0) folds = FolderFoldsNames(folder);
    }
    const std::vector<MountRecord>* mounts = mountTable.current();
    const MountRecord* own = nullptr;
    if (mounts) {
        const std::uint64_t id = MountIdOf(canonical);
        for (const MountRecord& mount : *mounts) {
            if (id != 0 ? mount.id == id
                        : PathWithin(canonical, mount.point) &&
                              (!own || mount.point.size() >= own->point.size()))
                own = &mount;
        }
    }
    if (!own) {
        places.push_back({0, canonical, folds});
        return places;
    }
    places.push_back({own->device, PathOnFileSystem(*own, canonical), folds});
    // What the mounts below show is written when the folder's tree is; whether names fold
    // there is not asked (it would wake automounts): they may.
    for (const MountRecord& mount : *mounts)
        if (mount.point != canonical && PathWithin(mount.point, canonical))
            places.push_back({mount.device, mount.root, true});
    return places;
}

// ------------------------------------------------------------------------------------------
// Copying one file
//
// A copy is written where nobody sees it and given its final name only when it is complete:
// data, permission bits and times. Where the file system can hold an unnamed file
// (O_TMPFILE: ext4, XFS, btrfs, tmpfs, ...), the copy is made as one and linked under its
// name, which fails when the name exists: the fail-if-exists rule comes for free, and a
// killed run leaves nothing behind. Elsewhere (FUSE, vfat, exfat, ...) it is written under
// a named temporary (kTemporaryPrefix) and renamed into place; RemoveLeftoverTemporaries
// removes what a killed run left of those.

namespace {

constexpr std::string_view kTemporaryPrefix = ".ostrivane-partial-";
constexpr size_t kTemporaryRandomDigits = 16;

// A fresh temporary name: the prefix, this process's id, "-", 16 random hex digits.
std::string NewTemporaryName() {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    char tail[48];
    std::snprintf(tail, sizeof tail, "%ld-%016llx", static_cast<long>(::getpid()),
                  static_cast<unsigned long long>(random()));
    return std::string(kTemporaryPrefix) + tail;
}

// The process id a name of kTemporaryPrefix's shape carries; 0 when the name has another
// shape.
pid_t TemporaryWriter(std::string_view name) {
    if (name.substr(0, kTemporaryPrefix.size()) != kTemporaryPrefix) return 0;
    name.remove_prefix(kTemporaryPrefix.size());
    const size_t dash = name.find('-');
    if (dash == std::string_view::npos || dash == 0 || dash > 10 || name[0] == '0') return 0;
    long long pid = 0;
    for (char c : name.substr(0, dash)) {
        if (c < '0' || c > '9') return 0;
        pid = pid * 10 + (c - '0');
    }
    const std::string_view random = name.substr(dash + 1);
    if (random.size() != kTemporaryRandomDigits) return 0;
    for (char c : random)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return 0;
    if (pid > std::numeric_limits<pid_t>::max()) return 0;
    return static_cast<pid_t>(pid);
}

bool ProcessAlive(pid_t pid) {
    if (pid == ::getpid()) return true;
    // EPERM: it exists and belongs to somebody else.
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

// Locks the temporary `fd` for its writer (flock, which belongs to the open file
// description): held from the temporary's creation until its rename, so that no remover
// takes it for abandoned, whatever its process id says there (another pid namespace,
// another host of a network share). 0; EWOULDBLOCK when somebody else holds the lock;
// another error number where the file system has no locks.
int LockTemporary(int fd) {
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        if (errno != EINTR) return errno == EAGAIN ? EWOULDBLOCK : errno;
    return 0;
}

// Closes the written temporary `temp` and returns the close's error (for written files the
// first sign of a failed write on some file systems), while `lock`, a second descriptor of
// the same open file description, keeps its lock until the caller has renamed it.
int CloseKeepingLock(Fd& temp, Fd& lock) {
    lock.reset(::fcntl(temp.get(), F_DUPFD_CLOEXEC, 0));
    return temp.close();
}

// Creates a new, empty named temporary in `folder` (a prefix of names relative to `dirFd`:
// empty or ending with '/'), locked (LockTemporary) where the file system has locks;
// returns its descriptor or -1, and its name in `tempName`. A new temporary whose lock a
// remover took first (it took the name for a dead run's) is left to it: another name is
// taken.
int CreateNamedTemporary(int dirFd, const std::string& folder, mode_t mode,
                         std::string& tempName) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempName = folder + NewTemporaryName();
        int fd = ::openat(dirFd, tempName.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0 || LockTemporary(fd) != EWOULDBLOCK) return fd;
        ::close(fd);
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

std::vector<char>& CopyBuffer() {
    static thread_local std::vector<char> buffer(256 * 1024);
    return buffer;
}

// The control of the copy this thread is making, if its caller gave one.
thread_local const CopyControl* activeControl = nullptr;

// The side of a failed copy (core/fsops.cpp): CopyFileAt clears the source's failure when a
// copy starts and tells its caller the source's side when the error it returns is that one.
using detail::SideOf;
using detail::SourceFailed;

// The kernel's copy (copy_file_range) failed with `error` at byte `offset` of `source`,
// without saying which of the two files failed. A read of the source there tells: where it
// fails too, the source is what failed; otherwise the target. A full device or a file too
// big for it is the target's without a look. Returns `error`.
int KernelCopyFailed(int source, off_t offset, int error) {
    if (MeansDeviceFull(error) || error == EFBIG) return error;
    char probe[4096];
    for (;;) {
        if (::pread(source, probe, sizeof probe, offset) >= 0) return error;
        if (errno != EINTR) return SourceFailed(error);
    }
}

// The hash of the copy this thread is making, when its caller asked for one (CopyFileAt's
// `placed`): the source's bytes as the copy reads them, and what is told once the copy
// stands under its final name.
struct CopyHashing {
    PlacedCopy* out = nullptr;  // the caller's, null when no hash was asked for
    ContentHasher hasher;
    PlacedCopy pending;  // the copy written, not yet under its final name
};
thread_local CopyHashing hashing;

bool Hashing() {
    return hashing.out != nullptr;
}

// The hash another copy of the run computed for this copy's source, where it was shared.
thread_local ContentHash sharedDigest;
thread_local bool useSharedDigest = false;

void HashRead(const char* data, ssize_t bytes) {
    if (Hashing()) hashing.hasher.update(data, static_cast<size_t>(bytes));
}

// What a replacing copy took the place of (defined below).
struct Replaced;
void NotePlaced(PlacedCopy& placed, const Replaced& replaced);

// The written copy now stands under its final name, where `replaced` stood.
void Placed(const Replaced* replaced) {
    if (!Hashing()) return;
    *hashing.out = hashing.pending;
    if (replaced) NotePlaced(*hashing.out, *replaced);
}

// Pieces of data a controlled copy moves between two looks at its stop request.
constexpr off_t kControlledPiece = 8 << 20;

// The most a copy may move in one call: everything, or one piece when it is controlled.
off_t PieceLimit(off_t wanted) {
    return activeControl ? std::min(wanted, kControlledPiece) : wanted;
}

// Tells the control that `bytes` more were written; true when the copy must stop now.
bool CopiedAndStopped(off_t bytes) {
    if (!activeControl) return false;
    if (bytes > 0 && activeControl->copied) activeControl->copied(static_cast<std::uint64_t>(bytes));
    return activeControl->stop && activeControl->stop->load(std::memory_order_relaxed);
}

// Copies from the current position of `source` to its end; adds the bytes to `length`.
// With `knownSize` > 0 the copy ends once `length` reaches it, without a read that finds the
// end: a file that grew meanwhile is caught by the look at its size and times afterwards.
int CopyByReadWrite(int source, int target, off_t& length, off_t knownSize = 0) {
    std::vector<char>& buffer = CopyBuffer();
    for (;;) {
        if (knownSize > 0 && length >= knownSize) return 0;
        ssize_t n = ::read(source, buffer.data(), buffer.size());
        if (n == 0) return 0;
        if (n < 0) {
            if (errno == EINTR) continue;
            return SourceFailed(errno);
        }
        HashRead(buffer.data(), n);
        if (int error = WriteAll(target, buffer.data(), static_cast<size_t>(n))) return error;
        length += n;
        if (CopiedAndStopped(n)) return error::kStopped;
    }
}

bool KernelCopyUnsupported(int error) {
    return error == EXDEV || error == ENOSYS || error == EINVAL || error == EOPNOTSUPP ||
           error == EBADF || error == ETXTBSY;
}

// Set once a copy_file_range call says the kernel has none.
thread_local bool kernelCopyMissing = false;

// Copies `count` bytes at `offset` of `source` to the same offset of `target`, by the
// kernel where it can, else by pread/pwrite. Stops early at the source's end; `done`
// receives the bytes copied.
int CopyRange(int source, int target, off_t offset, off_t count, off_t& done) {
    done = 0;
    bool kernel = !kernelCopyMissing;
    while (done < count) {
        if (kernel) {
            loff_t in = offset + done, out = offset + done;
            ssize_t n = ::copy_file_range(source, &in, target, &out,
                                          static_cast<size_t>(PieceLimit(count - done)), 0);
            if (n > 0) {
                done += n;
                if (CopiedAndStopped(n)) return error::kStopped;
                continue;
            }
            if (n == 0) return 0;
            if (errno == EINTR) continue;
            if (!KernelCopyUnsupported(errno))
                return KernelCopyFailed(source, offset + done, errno);
            if (errno == ENOSYS) kernelCopyMissing = true;
            kernel = false;
        }
        std::vector<char>& buffer = CopyBuffer();
        const size_t want = static_cast<size_t>(std::min<off_t>(
            count - done, static_cast<off_t>(buffer.size())));
        ssize_t n = ::pread(source, buffer.data(), want, offset + done);
        if (n == 0) return 0;
        if (n < 0) {
            if (errno == EINTR) continue;
            return SourceFailed(errno);
        }
        for (ssize_t written = 0; written < n;) {
            ssize_t w = ::pwrite(target, buffer.data() + written,
                                 static_cast<size_t>(n - written), offset + done + written);
            if (w < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            written += w;
        }
        done += n;
        if (CopiedAndStopped(n)) return error::kStopped;
    }
    return 0;
}

// Why a sparse copy gives way to a plain one.
constexpr int kNoHoleSearch = -1;

// Copies only the data of a file with holes (SEEK_DATA/SEEK_HOLE), then gives the copy the
// full size, so the holes stay holes. kNoHoleSearch where the file system cannot say.
// `length` receives the size, or where the data ended before a hole said it would (a file
// cut short meanwhile, or one of /sys, which reports a page and no blocks), that end.
int CopySparse(int source, int target, off_t size, off_t& length) {
    off_t position = 0;
    while (position < size) {
        off_t data = ::lseek(source, position, SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO) break;  // only a hole up to the end
            return position == 0 ? kNoHoleSearch : SourceFailed(errno);
        }
        if (data >= size) break;
        off_t hole = ::lseek(source, data, SEEK_HOLE);
        if (hole < 0) return position == 0 ? kNoHoleSearch : SourceFailed(errno);
        hole = std::min(hole, size);
        off_t copied = 0;
        if (int error = CopyRange(source, target, data, hole - data, copied)) return error;
        if (copied < hole - data) {
            length = data + copied;
            return 0;
        }
        position = hole;
    }
    if (::ftruncate(target, size) != 0) return errno;
    length = size;
    return 0;
}

// Hashes of big files are read in pieces of this size: few calls, and readahead keeps the
// device busy while a piece is hashed.
constexpr size_t kHashPiece = 1 << 20;

// This thread's buffer for hashing `bytes` (at most kHashPiece) at a time: the copy buffer
// where they fit (never in use while a file is hashed), so a thread that hashes only small
// files holds no other; one of kHashPiece otherwise.
char* HashBuffer(size_t bytes) {
    std::vector<char>& copyBuffer = CopyBuffer();
    if (bytes <= copyBuffer.size()) return copyBuffer.data();
    static thread_local std::vector<char> buffer(kHashPiece);
    return buffer.data();
}

// Zeros that stand for a file's holes in its hash (never written: its pages are the system's
// zero page, no memory of the process's own).
const char kZeroPiece[kHashPiece] = {};

// Files from this size on that hold fewer blocks than their size have their holes found
// (SEEK_DATA/SEEK_HOLE): the hash takes zeros for them without reading them.
constexpr off_t kHoleSearchFrom = 1 << 20;

// Hashes the first `length` bytes of the open file `fd` into `hasher` with pread in pieces,
// telling `read` each piece and giving up when `stop` is set (looked at between two reads).
// With `sparse`, holes are not read: the hash takes zeros for them, so a file system whose
// reads of holes would allocate pages (tmpfs through a mapping) keeps its file as it was.
// Nothing is ever mapped: a page whose read fails is one failed read here, never a fault the
// kernel retries. 0, error::kStopped, the read's error number, or `shortError` when the
// file ends before `length`.
int HashByReading(int fd, off_t length, bool sparse, ContentHasher& hasher,
                  const std::atomic<bool>* stop, const std::function<void(std::uint64_t)>* read,
                  int shortError) {
    char* const buffer =
        HashBuffer(static_cast<size_t>(std::min<off_t>(length, static_cast<off_t>(kHashPiece))));
    const char* const zeros = kZeroPiece;
    off_t done = 0;
    // The end of the data run that `done` is in (holes before it are hashed as zeros).
    off_t dataEnd = sparse ? 0 : length;
    while (done < length) {
        if (stop && stop->load(std::memory_order_relaxed)) return error::kStopped;
        if (done >= dataEnd) {
            off_t data = ::lseek(fd, done, SEEK_DATA);
            if (data < 0 && errno == ENXIO) data = length;  // a hole up to the end
            if (data < 0) {
                // The file system cannot say: read the rest.
                dataEnd = length;
                continue;
            }
            data = std::min(data, length);
            off_t hole = data < length ? ::lseek(fd, data, SEEK_HOLE) : length;
            if (hole < 0) hole = length;
            dataEnd = std::max(std::min(hole, length), data + 1);
            while (done < data) {
                const size_t piece = static_cast<size_t>(
                    std::min<off_t>(data - done, static_cast<off_t>(kHashPiece)));
                hasher.update(zeros, piece);
                done += static_cast<off_t>(piece);
                if (read && *read) (*read)(piece);
                if (stop && stop->load(std::memory_order_relaxed)) return error::kStopped;
            }
            if (done >= length) break;
        }
        const size_t want = static_cast<size_t>(
            std::min<off_t>(std::min(length, dataEnd) - done, static_cast<off_t>(kHashPiece)));
        const ssize_t n = ::pread(fd, buffer, want, done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return shortError;
        hasher.update(buffer, static_cast<size_t>(n));
        done += n;
        if (read && *read) (*read)(static_cast<std::uint64_t>(n));
    }
    return 0;
}

// True when `st` holds fewer blocks than its size asks for, enough to search its holes.
bool WorthHoleSearch(const struct stat& st) {
    return st.st_size >= kHoleSearchFrom && static_cast<off_t>(st.st_blocks) * 512 < st.st_size;
}

// Hashes the first `length` bytes of `source` for a copy whose data did not pass through
// this process (a clone, an in-kernel copy): a second read, mostly from the cache.
int HashSourceOnce(int source, off_t length);

// Sources from this size on copied into several destinations are hashed once for all.
constexpr off_t kSharedHashFrom = 1 << 20;

// The same through the run's shared hashes where a big source is copied into several
// destinations: one copy hashes it, the others take that hash.
int HashSource(int source, off_t length) {
    SharedSourceHashes* shared = activeControl ? activeControl->sourceHashes : nullptr;
    struct stat st;
    if (!shared || length < kSharedHashFrom || ::fstat(source, &st) != 0 || st.st_size != length)
        return HashSourceOnce(source, length);
    const SourceVersion version{static_cast<std::uint64_t>(st.st_dev),
                                static_cast<std::uint64_t>(st.st_ino),
                                static_cast<std::uint64_t>(st.st_size),
                                st.st_mtim.tv_sec * 1'000'000'000LL + st.st_mtim.tv_nsec,
                                st.st_ctim.tv_sec * 1'000'000'000LL + st.st_ctim.tv_nsec};
    ContentHash hash;
    const int error = shared->hash(version, hash, [&](ContentHash& computed) {
        const int result = HashSourceOnce(source, length);
        computed = hashing.hasher.digest();
        return result;
    });
    if (error) return error;
    // The copy's own hasher holds the shared hash: taken as its digest below.
    sharedDigest = hash;
    useSharedDigest = true;
    return 0;
}

int HashSourceOnce(int source, off_t length) {
    hashing.hasher.reset();
    struct stat st;
    const bool sparse = ::fstat(source, &st) == 0 && WorthHoleSearch(st);
    const std::atomic<bool>* stop = activeControl ? activeControl->stop : nullptr;
    // A source shorter than the copy changed meanwhile; a read that fails is the source's.
    const int error =
        HashByReading(source, length, sparse, hashing.hasher, stop, nullptr, error::kSourceChanged);
    return error == 0 || error == error::kStopped ? error : SourceFailed(error);
}

// Copies the data of `source` into the empty file `target`: a clone where the file system
// shares blocks (btrfs, XFS), else only the data of a file with holes, else an in-kernel
// copy, else a read/write loop. `length` receives the length of the copy as this function
// knows it (for a clone: the size of the source at open).
int CopyData(int source, int target, const struct stat& st, off_t& length) {
    // Remember the file systems that cannot clone, so each file does not pay for the probe.
    static thread_local dev_t noCloneDevice = static_cast<dev_t>(-1);
    length = 0;
    useSharedDigest = false;
    if (Hashing()) hashing.hasher.reset();
    if (st.st_size == 0) return CopyByReadWrite(source, target, length);  // /proc-like files
    if (st.st_dev != noCloneDevice) {
        if (::ioctl(target, FICLONE, source) == 0) {
            length = st.st_size;
            if (CopiedAndStopped(length)) return error::kStopped;
            return Hashing() ? HashSource(source, length) : 0;
        }
        noCloneDevice = st.st_dev;
    }
    if (static_cast<off_t>(st.st_blocks) * 512 < st.st_size) {
        int error = CopySparse(source, target, st.st_size, length);
        if (error == 0 && Hashing()) error = HashSource(source, length);
        if (error != kNoHoleSearch) return error;
    }
    // A small copy that is hashed reads the data anyway: through this process, it is read
    // once. A big one is copied by the kernel and its source read again for the hash (from
    // the cache, mostly), once for all its destinations.
    const bool hashedAfterwards = st.st_size >= kSharedHashFrom;
    if (!kernelCopyMissing && (!Hashing() || hashedAfterwards)) {
        // The known size bounds the copy: one call per file instead of a second one that
        // finds the end. A file that grew meanwhile is caught by the check after the copy.
        while (length < st.st_size) {
            ssize_t n = ::copy_file_range(source, nullptr, target, nullptr,
                                          static_cast<size_t>(PieceLimit(st.st_size - length)), 0);
            if (n > 0) {
                length += n;
                if (CopiedAndStopped(n)) return error::kStopped;
                continue;
            }
            // Some file systems report the end at once for files whose size they do not
            // know; the plain loop then reads what is really there.
            if (n == 0 && length > 0) return Hashing() ? HashSource(source, length) : 0;
            if (n == 0) break;
            if (errno == EINTR) continue;
            if (length > 0 || !KernelCopyUnsupported(errno))
                return KernelCopyFailed(source, length, errno);
            if (errno == ENOSYS) kernelCopyMissing = true;
            break;
        }
        if (length == st.st_size) return Hashing() ? HashSource(source, length) : 0;
    }
    return CopyByReadWrite(source, target, length, Hashing() ? st.st_size : 0);
}

// True for the kernel's own file systems (/proc, /sys, ...), whose files give other
// lengths than they report.
bool OnPseudoFileSystem(int fd) {
    struct statfs fs;
    if (::fstatfs(fd, &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
        case PROC_SUPER_MAGIC:
        case SYSFS_MAGIC:
        case DEBUGFS_MAGIC:
        case TRACEFS_MAGIC:
        case SECURITYFS_MAGIC:
        case CGROUP_SUPER_MAGIC:
        case CGROUP2_SUPER_MAGIC:
        case BPF_FS_MAGIC:
        case EFIVARFS_MAGIC:
            return true;
        default:
            return false;
    }
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// kSourceChanged when the source was written to while it was copied: its size, change or
// modification time differ from those at open, or the copy is not as long as the size at
// open said. A write that changes neither size nor times within the file system's clock
// tick cannot be seen.
int CheckSourceUnchanged(int source, const struct stat& before, off_t length) {
    struct stat after;
    if (::fstat(source, &after) != 0) return SourceFailed(errno);
    if (after.st_size != before.st_size || !SameTime(after.st_mtim, before.st_mtim) ||
        !SameTime(after.st_ctim, before.st_ctim))
        return SourceFailed(error::kSourceChanged);
    if (before.st_size != 0 && length != before.st_size && !OnPseudoFileSystem(source))
        return SourceFailed(error::kSourceChanged);
    return 0;
}

// A file system that cannot hold permission bits, times or owners (FAT on a USB stick)
// refuses them with one of these; the copied bytes are what counts, so the copy stands with
// what the file system gives it.
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

// Fills the new file `target` from `source` and finishes it; fails with kSourceChanged when
// the source changed meanwhile.
int FillTemporary(int source, int target, const struct stat& st, bool createdWithMode) {
    off_t length = 0;
    if (int error = CopyData(source, target, st, length)) return error;
    if (int error = CheckSourceUnchanged(source, st, length)) return error;
    if (int error = FinishCopy(target, st, createdWithMode)) return error;
    if (Hashing()) {
        struct stat copy;
        if (::fstat(target, &copy) != 0) return errno;
        hashing.pending = {};
        hashing.pending.identity = IdentityOf(copy);
        hashing.pending.modifiedNs = ModifiedNs(copy);
        hashing.pending.size = static_cast<std::uint64_t>(length);
        hashing.pending.sourceHash = useSharedDigest ? sharedDigest : hashing.hasher.digest();
    }
    return 0;
}

// Where a copy goes: its final name relative to an open folder (or the working directory),
// and the folder part of that name, where temporaries are made.
struct Place {
    int dirFd = AT_FDCWD;
    std::string target;  // the final name, relative to dirFd
    std::string folder;  // target's folder part with its '/', empty when it has none
    bool deviceKnown = false;
    dev_t device = 0;  // the target folder's device, when known
    ino_t folderInode = 0;  // and its inode

    const char* folderToOpen() const { return folder.empty() ? "." : folder.c_str(); }
};

Place MakePlace(int dirFd, const std::string& target, const FileIdentity* folderIdentity) {
    Place place;
    place.dirFd = dirFd;
    place.target = target;
    const size_t slash = target.rfind('/');
    if (slash != std::string::npos) place.folder = target.substr(0, slash + 1);
    // The open folder's device is the target's unless the name leads into another folder.
    if (folderIdentity && place.folder.empty()) {
        place.deviceKnown = true;
        place.device = static_cast<dev_t>(folderIdentity->device);
        place.folderInode = static_cast<ino_t>(folderIdentity->inode);
    }
    return place;
}

// What a file system was found unable to do, remembered per device and per thread, so that
// each copy does not pay for the probe again.
struct DeviceTraits {
    dev_t device = 0;
    bool kindKnown = false;  // whether the file system's kind was looked at
    bool noUnnamedFiles = false;
    bool noRenameNoReplace = false;
    bool noHardLinks = false;
};

DeviceTraits& TraitsOf(dev_t device) {
    static thread_local std::vector<DeviceTraits> known;
    for (DeviceTraits& traits : known)
        if (traits.device == device) return traits;
    if (known.size() >= 32) known.erase(known.begin());
    known.push_back({device});
    return known.back();
}

// The folder (by its name, for copies given by path) where an unnamed file was refused
// last; such copies know no device until a file is made.
thread_local std::string folderWithoutUnnamedFiles;

void RememberNoUnnamedFiles(const Place& place, dev_t device) {
    TraitsOf(device).noUnnamedFiles = true;
    if (!place.deviceKnown) folderWithoutUnnamedFiles = place.folder;
}

bool UnnamedFileUnsupported(int error) {
    // EISDIR: a kernel that does not know O_TMPFILE sees O_DIRECTORY in it.
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL || error == ENOSYS;
}

// How an unnamed file is given a name. AT_EMPTY_PATH needs a capability, or (Linux 6.10 on)
// a file opened by this process; the /proc/thread-self/fd (or /proc/self/fd) link works
// everywhere /proc is mounted.
enum LinkWay { kLinkWayUnknown, kLinkByDescriptor, kLinkThroughProc, kNoLinkWay };
std::atomic<int> linkWay{kLinkWayUnknown};

// Tells the caller to make the copy under a named temporary instead.
constexpr int kUseNamedTemporary = -2;

// File systems where a named temporary costs less than an unnamed file. ext4: an unnamed
// file goes through the file system's orphan list (one lock for the whole file system and
// journal writes on creation and again on linking, unless it has the orphan_file feature);
// on the machine's ext4 disk, a tree of 20,000 files into three folders took 12 to 14 s
// with named temporaries against 18 to 24 s with unnamed files (docs/ARCHITECTURE.md).
bool PrefersNamedTemporaries(int folderFd) {
    struct statfs fs {};
    return ::fstatfs(folderFd, &fs) == 0 && fs.f_type == EXT4_SUPER_MAGIC;
}

bool MayUseUnnamedFile(const Place& place) {
    if (linkWay.load(std::memory_order_relaxed) == kNoLinkWay) return false;
    if (place.deviceKnown) {
        DeviceTraits& traits = TraitsOf(place.device);
        if (!traits.kindKnown && place.folder.empty()) {
            traits.kindKnown = true;
            if (PrefersNamedTemporaries(place.dirFd)) traits.noUnnamedFiles = true;
        }
        return !traits.noUnnamedFiles;
    }
    return folderWithoutUnnamedFiles.empty() || folderWithoutUnnamedFiles != place.folder;
}

// Links the unnamed file `fd` under `name` of `dirFd`. 0, the error number (EEXIST when the
// name is taken), or kUseNamedTemporary when this process cannot link unnamed files at all.
int LinkUnnamedFile(int fd, int dirFd, const char* name) {
    const int way = linkWay.load(std::memory_order_relaxed);
    if (way != kLinkThroughProc) {
        if (::linkat(fd, "", dirFd, name, AT_EMPTY_PATH) == 0) {
            if (way == kLinkWayUnknown) linkWay.store(kLinkByDescriptor);
            return 0;
        }
        // ENOENT is also the answer when the kernel does not allow it (before 6.10 without
        // the capability; later for a file opened under other credentials).
        if (errno != ENOENT) return errno;
    }
    // The calling thread's descriptor: it may have a table of its own.
    char procPath[64];
    std::snprintf(procPath, sizeof procPath, "/proc/%s/fd/%d",
                  HasThreadSelf() ? "thread-self" : "self", fd);
    if (::linkat(AT_FDCWD, procPath, dirFd, name, AT_SYMLINK_FOLLOW) == 0) {
        if (way != kLinkThroughProc) linkWay.store(kLinkThroughProc);
        return 0;
    }
    const int error = errno;
    if (error == ENOENT && ::access("/proc/self/fd", X_OK) != 0) {
        linkWay.store(kNoLinkWay);
        return kUseNamedTemporary;
    }
    return error;
}

// The entry a replacing copy is about to take the place of.
struct Replaced {
    bool regularFile = false;  // a regular file (no link): its owner is kept
    uid_t owner = 0;
    gid_t group = 0;
    bool link = false;       // a symbolic link
    std::string linkTarget;  // its target, where it could be read
};

void NotePlaced(PlacedCopy& placed, const Replaced& replaced) {
    placed.replacedFile = replaced.regularFile;
    placed.replacedLink = replaced.link;
    placed.linkTarget = replaced.linkTarget;
    placed.linkOwner = replaced.owner;
    placed.linkGroup = replaced.group;
}

// Marks a replacement that has nothing to do: the target is the source itself.
constexpr int kNothingToDo = -3;

// Whether the entry `target` may be replaced by a copy of the file `st`: a folder or a link
// to one is in the way (EISDIR), the file itself needs no copy (kNothingToDo), a regular
// file without write permission for the caller is refused (EACCES). A missing or dangling
// entry may be replaced.
int CheckReplaceable(const Place& place, const struct stat& st, Replaced& replaced) {
    struct stat entry;
    if (::fstatat(place.dirFd, place.target.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) return 0;
    if (S_ISREG(entry.st_mode) || S_ISLNK(entry.st_mode)) {
        replaced.regularFile = S_ISREG(entry.st_mode);
        replaced.owner = entry.st_uid;
        replaced.group = entry.st_gid;
    }
    if (S_ISLNK(entry.st_mode)) {
        // A link is made again if the copy turns out wrong: its target as it reads now.
        replaced.link = true;
        std::string target(std::max<size_t>(static_cast<size_t>(entry.st_size) + 1, 256), '\0');
        for (; target.size() <= (1u << 16); target.resize(target.size() * 2)) {
            const ssize_t n =
                ::readlinkat(place.dirFd, place.target.c_str(), target.data(), target.size());
            if (n <= 0) break;
            if (static_cast<size_t>(n) < target.size()) {
                target.resize(static_cast<size_t>(n));
                replaced.linkTarget = std::move(target);
                break;
            }
        }
    }
    struct stat what = entry;
    if (S_ISLNK(entry.st_mode) && ::fstatat(place.dirFd, place.target.c_str(), &what, 0) != 0)
        return 0;  // a link to nothing
    if (S_ISDIR(what.st_mode)) return EISDIR;
    if (what.st_dev == st.st_dev && what.st_ino == st.st_ino) return kNothingToDo;
    if (S_ISREG(what.st_mode) &&
        ::faccessat(place.dirFd, place.target.c_str(), W_OK, AT_EACCESS) != 0)
        return errno;
    return 0;
}

// Gives the new file the owner and group of the file it replaces, where that gives nobody
// more than the source's owner and mode gave: the old owner is kept only when it owns the
// source too or everybody may read the source, and likewise the old group. Otherwise the
// copy stays the caller's, with the source's mode: root replacing a user's file with a
// copy of a file only root may read (a link planted in a source to /etc/shadow) does not
// hand it to that user. Only where the process may (root may; an owner may pick one of its
// groups); a refusal leaves the copy the caller's.
void KeepOwner(int fd, const Replaced& replaced, const struct stat& source) {
    if (!replaced.regularFile) return;
    const bool everybodyReads = (source.st_mode & S_IROTH) != 0;
    const uid_t owner =
        replaced.owner == source.st_uid || everybodyReads ? replaced.owner : ::geteuid();
    const gid_t group =
        replaced.group == source.st_gid || everybodyReads ? replaced.group : ::getegid();
    if (owner == ::geteuid() && group == ::getegid()) return;
    (void)::fchown(fd, owner == ::geteuid() ? static_cast<uid_t>(-1) : owner,
                   group == ::getegid() ? static_cast<gid_t>(-1) : group);
}

// Renames the named temporary `tempName` of `tempDirFd` over the target; the temporary is
// removed when that fails.
int RenameOver(const Place& place, const std::string& tempName, int tempDirFd) {
    if (::renameat(tempDirFd, tempName.c_str(), place.dirFd, place.target.c_str()) == 0)
        return 0;
    const int error = errno;
    ::unlinkat(tempDirFd, tempName.c_str(), 0);
    return error;
}
int RenameOver(const Place& place, const std::string& tempName) {
    return RenameOver(place, tempName, place.dirFd);
}

// Held from the look to the rename of the fallback below, so that no two writers of this
// process can both find one name free.
std::mutex lookThenRename;

// Gives the complete named temporary the target's name unless that name exists (EEXIST):
// renameat2(RENAME_NOREPLACE); where the file system refuses that flag, a hard link and the
// removal of the temporary; where it has no hard links either (vfat, exFAT), a look and a
// rename under one lock of the process, so that only another process's file that takes the
// name between the two is replaced. The temporary is gone afterwards in every case.
// The temporary is `tempName` of `tempDirFd`.
int RenameExclusively(const Place& place, const std::string& tempName, DeviceTraits& traits,
                      int tempDirFd) {
    const int dirFd = place.dirFd;
    const char* temp = tempName.c_str();
    const char* target = place.target.c_str();
    auto fail = [&](int error) {
        ::unlinkat(tempDirFd, temp, 0);
        return error;
    };
    if (!traits.noRenameNoReplace) {
        if (::renameat2(tempDirFd, temp, dirFd, target, RENAME_NOREPLACE) == 0) return 0;
        if (errno != EINVAL && errno != ENOSYS) return fail(errno);
        traits.noRenameNoReplace = true;
    }
    if (!traits.noHardLinks) {
        if (::linkat(tempDirFd, temp, dirFd, target, 0) == 0) {
            ::unlinkat(tempDirFd, temp, 0);
            return 0;
        }
        if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) return fail(errno);
        traits.noHardLinks = true;
    }
    std::lock_guard lock(lookThenRename);
    struct stat existing;
    if (::fstatat(dirFd, target, &existing, AT_SYMLINK_NOFOLLOW) == 0) return fail(EEXIST);
    if (errno != ENOENT) return fail(errno);
    return RenameOver(place, tempName, tempDirFd);
}

// The copy made as an unnamed file, linked into place when complete.
int CopyThroughUnnamedFile(int source, const struct stat& st, const Place& place,
                           bool failIfExists) {
    Fd temp(::openat(place.dirFd, place.folderToOpen(), O_TMPFILE | O_WRONLY | O_CLOEXEC,
                     st.st_mode & 0777));
    if (!temp.valid()) {
        const int error = errno;
        if (!UnnamedFileUnsupported(error)) return error;
        struct stat folder;
        if (place.deviceKnown)
            RememberNoUnnamedFiles(place, place.device);
        else if (::fstatat(place.dirFd, place.folderToOpen(), &folder, 0) == 0)
            RememberNoUnnamedFiles(place, folder.st_dev);
        return kUseNamedTemporary;
    }
    if (int error = FillTemporary(source, temp.get(), st, true)) return error;
    int error = LinkUnnamedFile(temp.get(), place.dirFd, place.target.c_str());
    if (error == 0) {
        if (int closeError = temp.close()) {
            ::unlinkat(place.dirFd, place.target.c_str(), 0);
            return closeError;
        }
        Placed(nullptr);
        return 0;
    }
    if (error != EEXIST || failIfExists) return error;

    // The name is taken: the complete copy gets a temporary name and is renamed over it.
    Replaced replaced;
    error = CheckReplaceable(place, st, replaced);
    if (error == kNothingToDo) return 0;
    if (error) return error;
    KeepOwner(temp.get(), replaced, st);
    // Its temporary name is locked like a named temporary's, for the moment it stands.
    LockTemporary(temp.get());
    std::string tempName;
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempName = place.folder + NewTemporaryName();
        error = LinkUnnamedFile(temp.get(), place.dirFd, tempName.c_str());
        if (error != EEXIST) break;
    }
    if (error) return error;
    Fd lock;
    if (int closeError = CloseKeepingLock(temp, lock)) {
        ::unlinkat(place.dirFd, tempName.c_str(), 0);
        return closeError;
    }
    error = RenameOver(place, tempName);
    if (error == 0) Placed(&replaced);
    return error;
}

// The folder where the copy to `place` writes its named temporary: the control's
// temporary folder (the run's destination folder) where the target's folder lies on its
// mount, so that a run killed meanwhile leaves its temporary where the next run into that
// destination looks; -1 for the target's own folder. A rename between two mounts of one
// device fails, so their mounts are compared, once per pair of folders and thread.
int TemporaryFolderFor(const Place& place) {
    const Folder* folder = activeControl ? activeControl->temporaryFolder : nullptr;
    if (!folder || !folder->isOpen() || !place.deviceKnown || !place.folder.empty()) return -1;
    const FileIdentity target{static_cast<std::uint64_t>(place.device),
                              static_cast<std::uint64_t>(place.folderInode)};
    const FileIdentity& temporaries = folder->identity();
    if (target.device != temporaries.device || target == temporaries) return -1;
    struct Known {
        FileIdentity temporaries, target;
        bool sameMount = false;
    };
    static thread_local Known known;
    const int folderFd = static_cast<int>(folder->native());
    if (!(known.temporaries == temporaries) || !(known.target == target))
        known = {temporaries, target, MountIdOf(folderFd) == MountIdOf(place.dirFd)};
    return known.sameMount ? folderFd : -1;
}

// Marks a copy whose temporary could not be made in the temporary folder, or not renamed
// from there into the target's folder (two mounts of one file system that statx could not
// tell apart): it is made again with its temporary beside the target.
constexpr int kTemporaryOnAnotherMount = -4;

// The copy made under a named temporary, renamed into place when complete.
int CopyThroughNamedTemporary(int source, const struct stat& st, const Place& place,
                              bool failIfExists, bool besideTarget = false) {
    Replaced replaced;
    if (!failIfExists) {
        int refusal = CheckReplaceable(place, st, replaced);
        if (refusal == kNothingToDo) return 0;
        if (refusal) return refusal;
    }
    const int elsewhere = besideTarget ? -1 : TemporaryFolderFor(place);
    const int tempDirFd = elsewhere >= 0 ? elsewhere : place.dirFd;
    std::string tempName;
    Fd temp(CreateNamedTemporary(tempDirFd, elsewhere >= 0 ? std::string() : place.folder, 0600,
                                 tempName));
    // A destination folder that takes no new files (no write permission, say) leaves the
    // temporary beside the target.
    if (!temp.valid() && elsewhere >= 0) return kTemporaryOnAnotherMount;
    if (!temp.valid()) return errno;
    struct stat tempStat;
    int error = ::fstat(temp.get(), &tempStat) == 0 ? 0 : errno;
    if (!error) error = FillTemporary(source, temp.get(), st, false);
    if (!error) KeepOwner(temp.get(), replaced, st);
    Fd lock;
    const int closeError = CloseKeepingLock(temp, lock);
    if (!error) error = closeError;
    if (error) {
        ::unlinkat(tempDirFd, tempName.c_str(), 0);
        return error;
    }
    if (failIfExists)
        error = RenameExclusively(place, tempName, TraitsOf(tempStat.st_dev), tempDirFd);
    else
        error = RenameOver(place, tempName, tempDirFd);
    if (error == 0) Placed(&replaced);
    return error == EXDEV && elsewhere >= 0 ? kTemporaryOnAnotherMount : error;
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

// Copies the open source to `place`.
int CopyFromOpenSource(int source, const Place& place, bool failIfExists) {
    struct stat st;
    if (::fstat(source, &st) != 0) return SourceFailed(errno);
    if (S_ISDIR(st.st_mode)) return SourceFailed(EISDIR);
    if (!S_ISREG(st.st_mode)) return SourceFailed(kNotRegularFile);
    if (activeControl && activeControl->opened)
        activeControl->opened(static_cast<std::uint64_t>(st.st_size));
    if (activeControl && activeControl->roomFor &&
        !activeControl->roomFor(static_cast<std::uint64_t>(st.st_size)))
        return error::kDeviceFull;
    if (failIfExists) {
        // A look first spares copying data for nothing; the final link or rename is what
        // keeps a target that appears meanwhile.
        struct stat existing;
        if (::fstatat(place.dirFd, place.target.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0)
            return EEXIST;
    }
    if (MayUseUnnamedFile(place)) {
        const int result = CopyThroughUnnamedFile(source, st, place, failIfExists);
        if (result != kUseNamedTemporary) return result;
        if (::lseek(source, 0, SEEK_SET) < 0) return SourceFailed(errno);
    }
    const int result = CopyThroughNamedTemporary(source, st, place, failIfExists);
    if (result != kTemporaryOnAnotherMount) return result;
    if (::lseek(source, 0, SEEK_SET) < 0) return SourceFailed(errno);
    return CopyThroughNamedTemporary(source, st, place, failIfExists, true);
}

}  // namespace

int CopyOneFile(const std::string& source, const std::string& target, bool failIfExists) {
    Fd fd(OpenSource(AT_FDCWD, source.c_str(), false));
    if (!fd.valid()) return SourceFailed(errno);
    return CopyFromOpenSource(fd.get(), MakePlace(AT_FDCWD, target, nullptr), failIfExists);
}

int CopyOneFileFromSearch(const SearchRec& folder, const std::string& name,
                          const std::string& target, bool failIfExists) {
    // The archive bit of the current entry means a regular file that is no link.
    const bool knownRegular =
        folder.entry.name == name && (folder.entry.attributes & attr::kArchive);
    Fd fd(OpenSource(SearchFd(folder), name.c_str(), knownRegular));
    if (!fd.valid()) return SourceFailed(errno);
    return CopyFromOpenSource(fd.get(), MakePlace(AT_FDCWD, target, nullptr), failIfExists);
}

int CopyFileAt(const Folder* sourceFolder, const std::string& sourceName,
               const Folder& targetFolder, const std::string& targetName, bool failIfExists,
               std::uint32_t listedAttributes, const CopyControl* control, PlacedCopy* placed,
               CopySide* failedSide) {
    if (placed) *placed = {};
    if (failedSide) *failedSide = CopySide::None;
    if (control && control->stop && control->stop->load()) {
        if (failedSide) *failedSide = CopySide::Target;
        return error::kStopped;
    }
    // The copy's loops consult the control and the hash; they are this thread's only while
    // this call runs.
    struct ActiveControl {
        ActiveControl(const CopyControl* control, PlacedCopy* placed) {
            activeControl = control;
            hashing.out = placed;
            detail::ClearSourceFailure();
        }
        ~ActiveControl() {
            activeControl = nullptr;
            hashing.out = nullptr;
        }
    } active(control, placed);
    const bool knownRegular =
        (listedAttributes & attr::kArchive) != 0 && (listedAttributes & attr::kLink) == 0;
    Fd fd(OpenSource(sourceFolder ? FdOf(*sourceFolder) : AT_FDCWD, sourceName.c_str(),
                     knownRegular));
    int error = fd.valid() ? 0 : SourceFailed(errno);
    if (error == 0) {
        error = CopyFromOpenSource(
            fd.get(), MakePlace(FdOf(targetFolder), targetName, &targetFolder.identity()),
            failIfExists);
    }
    if (failedSide) *failedSide = SideOf(error);
    return error;
}

namespace {

// Whether the file system of `fd` keeps a file's inode number for as long as the file
// exists. Those that make the number up when the kernel loads the file (FAT and exFAT in
// the kernel, through exfat-fuse, FUSE without the use_ino option, whose number is the
// daemon's node, given anew once the kernel forgot the file) give a file that was out of
// the kernel's cache another number than before; network file systems may too (a client
// without the server's numbers). FUSE keeps use_ino to the daemon and the mount table does
// not tell it, nor does every daemon name its kind there (exfat-fuse mounts as "fuseblk"),
// so every FUSE mount counts as unstable. Remembered per device and thread, as a check
// looks at many files of one device.
bool StableIdentities(int fd, dev_t device) {
    struct Known {
        dev_t device;
        bool stable;
    };
    thread_local std::vector<Known> known;
    for (const Known& k : known)
        if (k.device == device) return k.stable;
    struct statfs fs;
    bool stable = true;
    if (::fstatfs(fd, &fs) == 0) {
        switch (static_cast<unsigned long>(fs.f_type)) {
            case MSDOS_SUPER_MAGIC:  // vfat, msdos
            case 0x2011BAB0:         // exFAT (kernel)
            case FUSE_SUPER_MAGIC:   // fuse, fuseblk: exfat-fuse, ntfs-3g, sshfs, ...
            case NFS_SUPER_MAGIC:
            case SMB_SUPER_MAGIC:
            case 0xFF534D42:  // CIFS
            case 0xFE534D42:  // SMB2
            case V9FS_MAGIC:
            case 0x00C36400:  // Ceph
            case AFS_SUPER_MAGIC:
            case 0x6B414653:  // AFS (kernel client)
            case CODA_SUPER_MAGIC:
            case NCP_SUPER_MAGIC:
                stable = false;
                break;
            default:
                break;
        }
    }
    if (known.size() >= 32) known.erase(known.begin());
    known.push_back({device, stable});
    return stable;
}

// True when `st` (of the open `fd`, or of an entry of the folder `fd`) is the copy
// `placed`. Where identities are stable: a regular file of its identity and modification
// time (identities are reused once a file is deleted, times seldom with them). Elsewhere the
// identity says nothing after the file left the kernel's cache: a regular file of its
// modification time, the one the copy was given (the source's, as the file system stores
// it) counts as the copy. Its length is not asked: a device that lost a part of the copy
// keeps the copy's time, and that copy is a wrong copy of the run, not another file.
bool IsPlacedCopy(int fd, const struct stat& st, const PlacedCopy& placed) {
    if (!S_ISREG(st.st_mode) || ModifiedNs(st) != placed.modifiedNs) return false;
    return IdentityOf(st) == placed.identity || !StableIdentities(fd, st.st_dev);
}

}  // namespace

bool IsPlacedCopyAt(const Folder& folder, const std::string& name, const PlacedCopy& placed) {
    struct stat st;
    return ::fstatat(FdOf(folder), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           IsPlacedCopy(FdOf(folder), st, placed);
}

int PutLinkBackAt(const Folder& folder, const std::string& name, const PlacedCopy& placed) {
    if (!placed.replacedLink || placed.linkTarget.empty()) return ENOTSUP;
    const int dirFd = FdOf(folder);
    // The link is made under a temporary name beside the copy and renamed over it: the name
    // goes from the copy to the link at once, never free in between.
    std::string tempName;
    int error = EEXIST;
    for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
        tempName = NewTemporaryName();
        error = ::symlinkat(placed.linkTarget.c_str(), dirFd, tempName.c_str()) == 0 ? 0 : errno;
    }
    if (error) return error;
    // The user's link stays the user's (root may give it back; others make it their own).
    if (placed.linkOwner != ::geteuid() || placed.linkGroup != ::getegid())
        (void)::fchownat(dirFd, tempName.c_str(), placed.linkOwner, placed.linkGroup,
                         AT_SYMLINK_NOFOLLOW);
    if (!IsPlacedCopyAt(folder, name, placed))
        error = error::kChangedMeanwhile;
    else if (::renameat(dirFd, tempName.c_str(), dirFd, name.c_str()) != 0)
        error = errno;
    if (error) ::unlinkat(dirFd, tempName.c_str(), 0);
    return error;
}

namespace {

// True for a file system that keeps its files in memory (tmpfs, ramfs): its cached pages
// are its storage, and there is no device to read from instead. Remembered per device and
// thread, as a check reads many files of one device.
bool InMemoryFileSystem(int fd, dev_t device) {
    thread_local dev_t known = static_cast<dev_t>(-1);
    thread_local bool inMemory = false;
    if (device != known) {
        struct statfs fs;
        inMemory =
            ::fstatfs(fd, &fs) == 0 && (static_cast<unsigned long>(fs.f_type) == TMPFS_MAGIC ||
                                        static_cast<unsigned long>(fs.f_type) == RAMFS_MAGIC);
        known = device;
    }
    return inMemory;
}

}  // namespace

int ReadBackHash(const Folder& folder, const std::string& name, const PlacedCopy& expected,
                 ContentHash& hash, std::uint64_t& size, const std::atomic<bool>* stop,
                 const std::function<void(std::uint64_t)>& read) {
    size = 0;
    Fd fd(::openat(FdOf(folder), name.c_str(),
                   O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) return errno == ELOOP ? error::kChangedMeanwhile : errno;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return errno;
    if (!IsPlacedCopy(fd.get(), st, expected)) return error::kChangedMeanwhile;
    // The run's flush left the pages clean, so the kernel drops them: what is read next
    // comes from the device. (A RAM file system has nothing else to read from.)
    if (!InMemoryFileSystem(fd.get(), st.st_dev))
        ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_DONTNEED);
    // The size the file reports ends the reading, so no read is spent on finding the end.
    // Holes of a sparse copy are hashed as zeros without being read.
    ContentHasher hasher;
    const bool sparse = WorthHoleSearch(st);
    const int error = HashByReading(fd.get(), st.st_size, sparse, hasher, stop, &read,
                                    error::kChangedMeanwhile);
    if (error) return error;
    // A copy cut short meanwhile: a read finds its end early, but where holes were skipped
    // the lost part may have been taken for one.
    struct stat after;
    if (sparse && ::fstat(fd.get(), &after) != 0) return errno;
    if (sparse && (after.st_size != st.st_size || !IsPlacedCopy(fd.get(), after, expected)))
        return error::kChangedMeanwhile;
    // Nobody asked for these pages in memory; leave the cache to what the user works with.
    if (st.st_size > static_cast<off_t>(kHashPiece) && !InMemoryFileSystem(fd.get(), st.st_dev))
        ::posix_fadvise(fd.get(), 0, 0, POSIX_FADV_DONTNEED);
    size = static_cast<std::uint64_t>(st.st_size);
    hash = hasher.digest();
    return 0;
}

int HashFile(const std::string& path, ContentHash& hash, std::uint64_t& size,
             const std::atomic<bool>* stop) {
    size = 0;
    Fd fd(OpenSource(AT_FDCWD, path.c_str(), false));
    if (!fd.valid()) return errno;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return errno;
    if (!S_ISREG(st.st_mode)) return kNotRegularFile;
    ContentHasher hasher;
    if (int error = HashByReading(fd.get(), st.st_size, WorthHoleSearch(st), hasher, stop,
                                  nullptr, error::kSourceChanged))
        return error;
    size = static_cast<std::uint64_t>(st.st_size);
    hash = hasher.digest();
    return 0;
}

namespace {

// How long a temporary on a file system without locks must have stood unwritten before it
// counts as abandoned: far beyond any live copy's pause between two writes.
constexpr time_t kAbandonedAfterSeconds = 24 * 60 * 60;

// Whether the temporary `name` of the folder `dirFd`, whose process is not alive here, is
// certainly abandoned: its writer's lock can be taken (a live writer elsewhere, in another
// pid namespace or on another host of a network share, holds it), or, where the file
// system has no locks, it has not been written for kAbandonedAfterSeconds. `fd` receives
// the open temporary, whose lock is then held until it is removed.
bool Abandoned(int dirFd, const char* name, Fd& fd) {
    fd.reset(::openat(dirFd, name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid() && errno == EACCES)
        fd.reset(::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st;
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const int locked = LockTemporary(fd.get());
    if (locked == EWOULDBLOCK) return false;
    if (locked != 0) {
        const time_t now = ::time(nullptr);
        const time_t written = std::max(st.st_mtim.tv_sec, st.st_ctim.tv_sec);
        if (now - written < kAbandonedAfterSeconds) return false;
    }
    return true;
}

}  // namespace

int RemoveLeftoverTemporaries(const Folder& folder, std::vector<std::string>* removed) {
    std::vector<FolderEntry> entries;
    if (int error = ReadFolder(folder, entries)) return error;
    int firstError = 0;
    const int dirFd = FdOf(folder);
    for (const FolderEntry& entry : entries) {
        // Its process is not alive here (a cheap first test: a pid of another namespace or
        // host may name a live process elsewhere, or none here)...
        const pid_t writer = TemporaryWriter(entry.name);
        if (writer <= 0 || ProcessAlive(writer)) continue;
        // ... its lock is free, or it is old where there are no locks...
        Fd temp;
        if (!Abandoned(dirFd, entry.name.c_str(), temp)) continue;
        // ... and the name still stands for the file locked (its writer may have renamed
        // it, and a new temporary taken the name, since it was opened).
        struct stat opened, named;
        if (::fstat(temp.get(), &opened) != 0 ||
            ::fstatat(dirFd, entry.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
            opened.st_dev != named.st_dev || opened.st_ino != named.st_ino)
            continue;
        if (::unlinkat(dirFd, entry.name.c_str(), 0) == 0) {
            if (removed) removed->push_back(entry.name);
        } else if (errno != ENOENT && firstError == 0) {
            firstError = errno;
        }
    }
    return firstError;
}

// ------------------------------------------------------------------------------------------
// Whole files

int ReadWholeFile(const std::string& path, std::string& bytes) {
    // Non-blocking, so that a named FIFO chosen as the file cannot hang the open; anything
    // but a regular file or an anonymous pipe (a named FIFO, which may never get a writer,
    // a device that never ends) is refused before it is read.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) return errno;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (S_ISFIFO(st.st_mode)) {
        // An anonymous pipe ("<(...)", a piped standard input as /dev/stdin) has a writer
        // that gives its text and ends: read it to its end, waiting for it.
        constexpr unsigned long kPipeFs = 0x50495045;  // PIPEFS_MAGIC
        struct statfs fs;
        if (::fstatfs(fd.get(), &fs) != 0 || static_cast<unsigned long>(fs.f_type) != kPipeFs)
            return ENOTSUP;
        const int flags = ::fcntl(fd.get(), F_GETFL);
        if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return errno;
    } else if (!S_ISREG(st.st_mode)) {
        return ENOTSUP;
    }
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
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string tempPath;
    Fd temp(CreateNamedTemporary(AT_FDCWD, folder, 0600, tempPath));
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

int LookAtFilePlace(const std::string& path, FilePlaceKind& kind) {
    kind = FilePlaceKind::Free;
    if (path.empty()) return ENOENT;
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
        kind = FilePlaceKind::Folder;
        return 0;
    }
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
        kind = S_ISLNK(st.st_mode)   ? FilePlaceKind::Link
               : S_ISDIR(st.st_mode) ? FilePlaceKind::Folder
               : S_ISREG(st.st_mode) ? FilePlaceKind::File
                                     : FilePlaceKind::Other;
        if (kind != FilePlaceKind::File) return 0;
        if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return errno;
    } else if (errno != ENOENT) {
        return errno;
    }
    // The temporary is made in the same folder and renamed over the name.
    const std::string folder = slash == std::string::npos ? std::string(".")
                               : slash == 0               ? std::string("/")
                                                          : path.substr(0, slash);
    struct stat folderStat;
    if (::stat(folder.c_str(), &folderStat) != 0) return errno;
    if (!S_ISDIR(folderStat.st_mode)) return ENOTDIR;
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return errno;
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
