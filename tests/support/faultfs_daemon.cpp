// ostrivane_faultfs: a pass-through FUSE file system that fails on request, for the fault
// tests and the benchmarks. One daemon serves one mount, which stands for one device.
//
//   ostrivane_faultfs BACKING MOUNTPOINT [-f] [-o auto_unmount,...]
//
// Everything is passed through to the folder BACKING. Faults are armed at run time by
// writing commands, one a line, to the control file MOUNTPOINT/.faultctl. The control file
// is reachable by its name only: it is never listed, and it cannot be created, removed or
// renamed. A command the daemon does not understand fails the write with EINVAL. Reading
// the control file gives the counters: one line "OP CALLS" per operation below, then
// "fired N" (how many calls an armed fault has failed so far).
//
//   fail OP ERROR [at=N] [count=C] [name=NAME] [past=BYTES]
//       The N-th call of OP (default 1) and the C-1 calls after it (default C=1; C=0: every
//       call from the N-th on, until cleared) fail with ERROR (EIO, ENOSPC, EPERM, ... or a
//       number). Calls are counted over the whole mount from the moment the command is
//       written; with name=, only calls on entries of that base name count (for rename and
//       link: the new name); with past=, only reads and writes that reach beyond byte BYTES
//       of their file count (a big file's copy fails midway, small files pass). OP is one
//       of: read write flush fsync rename link unlink create open mkdir rmdir chmod chown
//       truncate utimens fallocate symlink.
//       Kernel requests are counted, not system calls: a write(2) of more than 128 KiB
//       arrives as several write requests. flush is the close(2) of a descriptor; flush
//       faults hit only files opened for writing, so a source's close stays clean.
//   eio-write N            same as: fail write EIO at=N
//   enospc-write N         same as: fail write ENOSPC at=N count=0 (a disk that stays full)
//   full                   the device is full: every write fails with ENOSPC and statfs
//                          reports no free blocks
//   grow-on-read NAME B    the first read of a file named NAME appends B bytes to it
//   truncate-on-read NAME B  the first read of a file named NAME cuts it to B bytes
//   short-read NAME B      reads of a file named NAME end at byte B; its size stays as it is
//   delay USEC             every operation takes USEC microseconds longer
//   create-delay USEC      creating a file takes USEC microseconds more (as a device that
//                          writes its metadata at once)
//   bandwidth BYTES        writes go at most BYTES bytes per second (0: no cap)
//   no-perms               chmod and chown fail with EPERM; every mode reads as 0777
//   no-link                link fails with EPERM (no hard links)
//   no-rename-flags        rename with flags (RENAME_NOREPLACE, ...) fails with EINVAL;
//                          otherwise the flags are passed to renameat2 on BACKING
//   corrupt [name=NAME] [after=BYTES]
//                          silent corruption: writes succeed, but what is stored differs
//                          from what was written (every byte inverted): in files of that
//                          base name (name=; a file renamed or linked to that name, as a
//                          copy's temporary is, has all its bytes inverted then), or in
//                          everything written after the first BYTES bytes the mount
//                          received since the command (after=), or both; neither: every
//                          write
//   counterfeit MIB        a fake-capacity device of MIB MiB: each 4 KiB block a file gets
//                          written to takes the device's next block, and blocks past MIB MiB
//                          wrap around onto the first ones, overwriting what earlier files
//                          hold there (as sticks that report more than they have), while
//                          every write succeeds
//   renumber               every look at a regular file reports another inode number, as a
//                          file system that makes the numbers up when it loads a file
//                          (exfat-fuse, FAT, exFAT) does each time the kernel forgot it
//   clear                  everything above off, counters kept
//
// The mount is one device with one clock: the delay and the time the bandwidth gives a
// write are reserved one after the other on that clock, so concurrent writers queue as on
// one device. O_TMPFILE is not supported by this file system (the kernel answers
// EOPNOTSUPP), so the copy's fallback for file systems without it is what runs here.
// Attributes and names are not cached by the kernel (timeouts 0), so a change made behind
// a reader's back is seen at once (file data too, unless mounted with -o kernel_cache).
// An open file that is removed is removed for real.
#define FUSE_USE_VERSION 31
#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int backing = -1;  // the backing folder
constexpr const char* kControl = "/.faultctl";

enum Op {
    kRead,
    kWrite,
    kFlush,
    kFsync,
    kRename,
    kLink,
    kUnlink,
    kCreate,
    kOpen,
    kMkdir,
    kRmdir,
    kChmod,
    kChown,
    kTruncate,
    kUtimens,
    kFallocate,
    kSymlink,
    kOpCount
};
const char* const kOpNames[kOpCount] = {
    "read",  "write", "flush", "fsync", "rename",   "link",    "unlink",    "create", "open",
    "mkdir", "rmdir", "chmod", "chown", "truncate", "utimens", "fallocate", "symlink"};

struct Rule {
    Op op;
    int error;
    long at, count;
    std::string name;
    long past = 0;
    long seen = 0;
};
enum class Change { Grow, Truncate, Short };
struct ReadRule {
    Change change;
    std::string name;
    off_t bytes;
    bool done = false;
};

struct State {
    std::mutex mutex;
    std::vector<Rule> rules;
    std::vector<ReadRule> readRules;
    long calls[kOpCount] = {};
    long fired = 0;
    long delayUs = 0;
    long bandwidth = 0;
    long createDelayUs = 0;
    bool noPerms = false, noLink = false, noRenameFlags = false, full = false;
    bool renumber = false;
    std::uint64_t renumbered = 0;  // the looks renumbered so far
    Clock::time_point deviceFree{};
    // Silent corruption: armed, for files of this name (empty: any) and past this many bytes
    // of the mount's writes; `written` counts them since the command.
    bool corrupt = false;
    std::string corruptName;
    long corruptAfter = 0, written = 0;
    // The counterfeit device: its real size in blocks (0: off), the next block it hands
    // out, where each file block lies and whose block each device block holds now.
    long counterfeitBlocks = 0, nextBlock = 0;
    std::map<std::pair<ino_t, off_t>, long> blockOf;
    std::map<long, std::pair<ino_t, off_t>> holderOf;
    std::map<ino_t, int> fileOf;  // a descriptor of each file written, for the overwrites
} state;

constexpr off_t kDeviceBlock = 4096;

// An open file: its descriptor on BACKING, the path it was opened by and whether it was
// opened for writing. The control file has no descriptor.
struct Handle {
    int fd = -1;
    std::string rel, name;
    bool writable = false, control = false;
};
Handle* H(fuse_file_info* fi) {
    return reinterpret_cast<Handle*>(fi->fh);
}

bool IsControl(const char* path) {
    return path && std::strcmp(path, kControl) == 0;
}
// BACKING-relative form of a mount path: "/" is ".", "/a/b" is "a/b".
std::string Rel(const char* path) {
    return path[1] ? std::string(path + 1) : std::string(".");
}
std::string Base(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

// Counts a call of `op` on the entry `name` (a read or write up to byte `end` of it); the
// error an armed fault gives it, or 0.
int Fault(Op op, const std::string& name, off_t end = 0) {
    std::lock_guard lock(state.mutex);
    ++state.calls[op];
    for (Rule& r : state.rules) {
        if (r.op != op || (!r.name.empty() && r.name != name) || (r.past > 0 && end <= r.past))
            continue;
        const long n = ++r.seen;
        if (n >= r.at && (r.count == 0 || n < r.at + r.count)) {
            ++state.fired;
            return r.error;
        }
    }
    return 0;
}

// The device's clock: the operation takes the armed delay, a write also its bytes at the
// armed bandwidth, reserved after whatever the device is still busy with.
void Serve(size_t writtenBytes = 0, bool creates = false) {
    Clock::time_point until;
    {
        std::lock_guard lock(state.mutex);
        const bool paced = state.bandwidth > 0 && writtenBytes > 0;
        const long extra = creates ? state.createDelayUs : 0;
        if (state.delayUs == 0 && !paced && extra == 0) return;
        auto cost = std::chrono::microseconds(state.delayUs + extra);
        if (paced)
            cost += std::chrono::microseconds(static_cast<long long>(
                static_cast<double>(writtenBytes) * 1e6 / static_cast<double>(state.bandwidth)));
        state.deviceFree = std::max(Clock::now(), state.deviceFree) + cost;
        until = state.deviceFree;
    }
    std::this_thread::sleep_until(until);
}

int Errno(int result) {
    return result < 0 ? -errno : 0;
}

// --- The control file -----------------------------------------------------------------

int ErrorNumber(const std::string& text) {
    static const std::pair<const char*, int> names[] = {{"EIO", EIO},
                                                        {"ENOSPC", ENOSPC},
                                                        {"EDQUOT", EDQUOT},
                                                        {"EPERM", EPERM},
                                                        {"EACCES", EACCES},
                                                        {"EROFS", EROFS},
                                                        {"EXDEV", EXDEV},
                                                        {"EINVAL", EINVAL},
                                                        {"ENOSYS", ENOSYS},
                                                        {"EOPNOTSUPP", EOPNOTSUPP},
                                                        {"EFBIG", EFBIG},
                                                        {"EBUSY", EBUSY},
                                                        {"EEXIST", EEXIST},
                                                        {"ENOENT", ENOENT},
                                                        {"EINTR", EINTR},
                                                        {"EAGAIN", EAGAIN},
                                                        {"ENAMETOOLONG", ENAMETOOLONG},
                                                        {"ENOTEMPTY", ENOTEMPTY},
                                                        {"EMLINK", EMLINK}};
    for (auto& [name, number] : names)
        if (text == name) return number;
    char* end = nullptr;
    long n = std::strtol(text.c_str(), &end, 10);
    return (!text.empty() && *end == 0 && n > 0 && n < 4096) ? static_cast<int>(n) : 0;
}

bool Number(const std::string& text, long& value) {
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && *end == 0 && value >= 0;
}

// Applies one command line; false when it is not understood. Called with the state locked.
bool Apply(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    if (words.empty()) return true;
    const std::string& verb = words[0];
    long n = 0;
    if (verb == "clear" && words.size() == 1) {
        state.rules.clear();
        state.readRules.clear();
        state.delayUs = state.bandwidth = state.createDelayUs = 0;
        state.noPerms = state.noLink = state.noRenameFlags = state.full = false;
        state.renumber = false;
        state.corrupt = false;
        state.counterfeitBlocks = 0;
        return true;
    }
    if (verb == "corrupt") {
        state.corrupt = true;
        state.corruptName.clear();
        state.corruptAfter = state.written = 0;
        for (size_t i = 1; i < words.size(); ++i) {
            const std::string& w = words[i];
            if (w.rfind("name=", 0) == 0 && w.size() > 5)
                state.corruptName = w.substr(5);
            else if (w.rfind("after=", 0) != 0 || !Number(w.substr(6), state.corruptAfter))
                return state.corrupt = false;
        }
        return true;
    }
    if (verb == "counterfeit" && words.size() == 2 && Number(words[1], n) && n > 0) {
        state.counterfeitBlocks = n * (1 << 20) / kDeviceBlock;
        return true;
    }
    if (verb == "full" && words.size() == 1) {
        state.rules.push_back({kWrite, ENOSPC, 1, 0, {}});
        return state.full = true;
    }
    if (verb == "renumber" && words.size() == 1) return state.renumber = true;
    if (verb == "no-perms" && words.size() == 1) return state.noPerms = true;
    if (verb == "no-link" && words.size() == 1) return state.noLink = true;
    if (verb == "no-rename-flags" && words.size() == 1) return state.noRenameFlags = true;
    if (verb == "delay" && words.size() == 2 && Number(words[1], n)) {
        state.delayUs = n;
        return true;
    }
    if (verb == "create-delay" && words.size() == 2 && Number(words[1], n)) {
        state.createDelayUs = n;
        return true;
    }
    if (verb == "bandwidth" && words.size() == 2 && Number(words[1], n)) {
        state.bandwidth = n;
        return true;
    }
    if ((verb == "eio-write" || verb == "enospc-write") && words.size() == 2 &&
        Number(words[1], n) && n > 0) {
        const bool full = verb == "enospc-write";
        state.rules.push_back({kWrite, full ? ENOSPC : EIO, n, full ? 0 : 1, {}});
        return true;
    }
    if ((verb == "grow-on-read" || verb == "truncate-on-read" || verb == "short-read") &&
        words.size() == 3 && Number(words[2], n)) {
        Change c = verb == "grow-on-read"       ? Change::Grow
                   : verb == "truncate-on-read" ? Change::Truncate
                                                : Change::Short;
        state.readRules.push_back({c, words[1], static_cast<off_t>(n)});
        return true;
    }
    if (verb == "fail" && words.size() >= 3) {
        Rule r{kOpCount, ErrorNumber(words[2]), 1, 1, {}};
        for (int op = 0; op < kOpCount; ++op)
            if (words[1] == kOpNames[op]) r.op = static_cast<Op>(op);
        if (r.op == kOpCount || r.error == 0) return false;
        for (size_t i = 3; i < words.size(); ++i) {
            const std::string& w = words[i];
            const size_t eq = w.find('=');
            if (eq == std::string::npos) return false;
            const std::string key = w.substr(0, eq), value = w.substr(eq + 1);
            if (key == "name" && !value.empty())
                r.name = value;
            else if (key == "at" && Number(value, r.at) && r.at > 0)
                continue;
            else if (key == "count" && Number(value, r.count))
                continue;
            else if (key == "past" && Number(value, r.past))
                continue;
            else
                return false;
        }
        state.rules.push_back(r);
        return true;
    }
    return false;
}

int WriteControl(const char* data, size_t size) {
    std::lock_guard lock(state.mutex);
    std::istringstream in(std::string(data, size));
    for (std::string line; std::getline(in, line);)
        if (!Apply(line)) {
            std::fprintf(stderr, "ostrivane_faultfs: command not understood: %s\n", line.c_str());
            return -EINVAL;
        }
    return static_cast<int>(size);
}

int ReadControl(char* buffer, size_t size, off_t offset) {
    std::string text;
    {
        std::lock_guard lock(state.mutex);
        for (int op = 0; op < kOpCount; ++op)
            text += std::string(kOpNames[op]) + " " + std::to_string(state.calls[op]) + "\n";
        text += "fired " + std::to_string(state.fired) + "\n";
    }
    if (offset >= static_cast<off_t>(text.size())) return 0;
    const size_t n = std::min(size, text.size() - static_cast<size_t>(offset));
    std::memcpy(buffer, text.data() + offset, n);
    return static_cast<int>(n);
}

// --- Pass-through operations ------------------------------------------------------------

void* Init(fuse_conn_info* conn, fuse_config* cfg) {
    // With the cache kept, a change of a file's times (a copy sets them last) must not drop
    // it either: the cache then holds what was written, whatever the device stores.
    if (cfg->kernel_cache) conn->want &= ~FUSE_CAP_AUTO_INVAL_DATA;
    cfg->use_ino = 1;      // the backing inode numbers: identities stay meaningful
    cfg->hard_remove = 1;  // no ".fuse_hidden" files for removed open files
    cfg->nullpath_ok = 1;  // operations on such files go by their descriptor
    cfg->entry_timeout = cfg->attr_timeout = cfg->negative_timeout = 0;
    // The kernel's cache of file data is dropped at each open unless "-o kernel_cache" asks
    // to keep it (as a local disk keeps it), for the tests that prove a read reaches the
    // device.
    return nullptr;
}

void Permissionless(struct stat* st) {
    bool noPerms;
    {
        std::lock_guard lock(state.mutex);
        noPerms = state.noPerms;
    }
    if (noPerms && !S_ISLNK(st->st_mode)) st->st_mode = (st->st_mode & S_IFMT) | 0777;
}

int GetAttr(const char* path, struct stat* st, fuse_file_info* fi) {
    Serve();
    if (fi && H(fi)->control) path = kControl;
    if (IsControl(path)) {
        *st = {};
        st->st_mode = S_IFREG | 0666;
        st->st_nlink = 1;
        st->st_uid = getuid();
        st->st_gid = getgid();
        return 0;
    }
    int r =
        fi ? fstat(H(fi)->fd, st) : fstatat(backing, Rel(path).c_str(), st, AT_SYMLINK_NOFOLLOW);
    if (r < 0) return -errno;
    Permissionless(st);
    if (S_ISREG(st->st_mode)) {
        std::lock_guard lock(state.mutex);
        // Far above the backing's numbers, never the same twice.
        if (state.renumber) st->st_ino += static_cast<ino_t>(++state.renumbered << 40);
    }
    return 0;
}

int ReadLink(const char* path, char* buffer, size_t size) {
    Serve();
    ssize_t n = readlinkat(backing, Rel(path).c_str(), buffer, size - 1);
    if (n < 0) return -errno;
    buffer[n] = 0;
    return 0;
}

int MkNod(const char* path, mode_t mode, dev_t dev) {
    Serve();
    if (IsControl(path)) return -EEXIST;
    if (int e = Fault(kCreate, Base(path))) return -e;
    return Errno(mknodat(backing, Rel(path).c_str(), mode, dev));
}

int MkDir(const char* path, mode_t mode) {
    Serve();
    if (IsControl(path)) return -EEXIST;
    if (int e = Fault(kMkdir, Base(path))) return -e;
    return Errno(mkdirat(backing, Rel(path).c_str(), mode));
}

int Unlink(const char* path) {
    Serve();
    if (IsControl(path)) return -EPERM;
    if (int e = Fault(kUnlink, Base(path))) return -e;
    return Errno(unlinkat(backing, Rel(path).c_str(), 0));
}

int RmDir(const char* path) {
    Serve();
    if (int e = Fault(kRmdir, Base(path))) return -e;
    return Errno(unlinkat(backing, Rel(path).c_str(), AT_REMOVEDIR));
}

int Symlink(const char* target, const char* path) {
    Serve();
    if (IsControl(path)) return -EEXIST;
    if (int e = Fault(kSymlink, Base(path))) return -e;
    return Errno(symlinkat(target, backing, Rel(path).c_str()));
}

// A file that takes the name silent corruption is armed for holds other bytes from then on.
void CorruptByName(const char* path) {
    {
        std::lock_guard lock(state.mutex);
        if (!state.corrupt || state.corruptName.empty() || state.corruptName != Base(path)) return;
    }
    int fd = openat(backing, Rel(path).c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return;
    // The device changes the bytes, not the file's times.
    struct stat before;
    const bool timed = fstat(fd, &before) == 0;
    char buffer[65536];
    ssize_t n;
    for (off_t at = 0; (n = pread(fd, buffer, sizeof buffer, at)) > 0; at += n) {
        for (ssize_t i = 0; i < n; ++i) buffer[i] = static_cast<char>(~buffer[i]);
        if (pwrite(fd, buffer, static_cast<size_t>(n), at) != n) break;
    }
    if (timed) {
        const struct timespec times[2] = {before.st_atim, before.st_mtim};
        futimens(fd, times);
    }
    close(fd);
}

int Rename(const char* from, const char* to, unsigned int flags) {
    Serve();
    if (IsControl(from) || IsControl(to)) return -EPERM;
    if (int e = Fault(kRename, Base(to))) return -e;
    if (flags) {
        std::lock_guard lock(state.mutex);
        if (state.noRenameFlags) return -EINVAL;
    }
    const int result =
        Errno(renameat2(backing, Rel(from).c_str(), backing, Rel(to).c_str(), flags));
    if (result == 0) CorruptByName(to);
    return result;
}

int Link(const char* from, const char* to) {
    Serve();
    if (IsControl(from) || IsControl(to)) return -EPERM;
    {
        std::lock_guard lock(state.mutex);
        if (state.noLink) return -EPERM;
    }
    if (int e = Fault(kLink, Base(to))) return -e;
    const int result = Errno(linkat(backing, Rel(from).c_str(), backing, Rel(to).c_str(), 0));
    if (result == 0) CorruptByName(to);
    return result;
}

int ChMod(const char* path, mode_t mode, fuse_file_info* fi) {
    Serve();
    if (IsControl(path) || (fi && H(fi)->control)) return -EPERM;
    {
        std::lock_guard lock(state.mutex);
        if (state.noPerms) return -EPERM;
    }
    if (int e = Fault(kChmod, fi ? H(fi)->name : Base(path))) return -e;
    return Errno(fi ? fchmod(H(fi)->fd, mode) : fchmodat(backing, Rel(path).c_str(), mode, 0));
}

int ChOwn(const char* path, uid_t uid, gid_t gid, fuse_file_info* fi) {
    Serve();
    if (IsControl(path) || (fi && H(fi)->control)) return -EPERM;
    {
        std::lock_guard lock(state.mutex);
        if (state.noPerms) return -EPERM;
    }
    if (int e = Fault(kChown, fi ? H(fi)->name : Base(path))) return -e;
    return Errno(fi ? fchown(H(fi)->fd, uid, gid)
                    : fchownat(backing, Rel(path).c_str(), uid, gid, AT_SYMLINK_NOFOLLOW));
}

int Truncate(const char* path, off_t size, fuse_file_info* fi) {
    Serve();
    if (IsControl(path) || (fi && H(fi)->control)) return 0;
    if (int e = Fault(kTruncate, fi ? H(fi)->name : Base(path))) return -e;
    if (fi) return Errno(ftruncate(H(fi)->fd, size));
    int fd = openat(backing, Rel(path).c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return -errno;
    int r = Errno(ftruncate(fd, size));
    close(fd);
    return r;
}

int Utimens(const char* path, const struct timespec tv[2], fuse_file_info* fi) {
    Serve();
    if (IsControl(path) || (fi && H(fi)->control)) return 0;
    if (int e = Fault(kUtimens, fi ? H(fi)->name : Base(path))) return -e;
    return Errno(fi ? futimens(H(fi)->fd, tv)
                    : utimensat(backing, Rel(path).c_str(), tv, AT_SYMLINK_NOFOLLOW));
}

int OpenBacking(const char* path, int flags, mode_t mode, fuse_file_info* fi) {
    int fd = openat(backing, Rel(path).c_str(), flags | O_CLOEXEC, mode);
    if (fd < 0) return -errno;
    auto* h = new Handle{fd, Rel(path), Base(path), (flags & O_ACCMODE) != O_RDONLY, false};
    fi->fh = reinterpret_cast<uint64_t>(h);
    return 0;
}

int Open(const char* path, fuse_file_info* fi) {
    Serve();
    if (IsControl(path)) {
        fi->fh = reinterpret_cast<uint64_t>(new Handle{-1, {}, {}, true, true});
        fi->direct_io = 1;  // its size reads 0; the reads must reach the daemon anyway
        return 0;
    }
    if (int e = Fault(kOpen, Base(path))) return -e;
    return OpenBacking(path, fi->flags, 0, fi);
}

int Create(const char* path, mode_t mode, fuse_file_info* fi) {
    Serve(0, true);
    if (IsControl(path)) return -EEXIST;
    if (int e = Fault(kCreate, Base(path))) return -e;
    return OpenBacking(path, fi->flags | O_CREAT, mode, fi);
}

// The change armed for the first read of `h`'s file, made to the backing file.
void ChangeOnRead(const Handle& h, off_t& readLimit) {
    std::lock_guard lock(state.mutex);
    for (ReadRule& r : state.readRules) {
        if (r.name != h.name) continue;
        if (r.change == Change::Short) {
            readLimit = std::min(readLimit, r.bytes);
            continue;
        }
        if (r.done) continue;
        r.done = true;
        int fd = openat(backing, h.rel.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (fd < 0) continue;
        if (r.change == Change::Truncate) {
            if (ftruncate(fd, r.bytes) != 0) std::perror("ostrivane_faultfs: truncate-on-read");
        } else {
            std::string more(static_cast<size_t>(r.bytes), '+');
            if (write(fd, more.data(), more.size()) < 0)
                std::perror("ostrivane_faultfs: grow-on-read");
        }
        close(fd);
    }
}

int Read(const char*, char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
    Handle& h = *H(fi);
    if (h.control) return ReadControl(buffer, size, offset);
    Serve();
    if (int e = Fault(kRead, h.name, offset + static_cast<off_t>(size))) return -e;
    off_t limit = std::numeric_limits<off_t>::max();
    ChangeOnRead(h, limit);
    if (offset >= limit) return 0;
    size = static_cast<size_t>(std::min<off_t>(static_cast<off_t>(size), limit - offset));
    ssize_t n = pread(h.fd, buffer, size, offset);
    return n < 0 ? -errno : static_cast<int>(n);
}

// The bytes a write stores where silent corruption is armed: `data` itself, or `changed`
// filled with the bytes inverted from where the corruption begins.
const char* Corrupted(const Handle& h, const char* data, size_t size, std::string& changed) {
    std::lock_guard lock(state.mutex);
    const long before = state.written;
    state.written += static_cast<long>(size);
    if (!state.corrupt || (!state.corruptName.empty() && state.corruptName != h.name)) return data;
    const long from = std::max(0L, state.corruptAfter - before);
    if (from >= static_cast<long>(size)) return data;
    changed.assign(data, size);
    for (size_t i = static_cast<size_t>(from); i < size; ++i)
        changed[i] = static_cast<char>(~changed[i]);
    return changed.data();
}

// The counterfeit device: gives each block the write reached its place on the device and
// copies the block over what the earlier holder of that place (another file's block) holds.
void Counterfeit(const Handle& h, size_t size, off_t offset) {
    std::lock_guard lock(state.mutex);
    if (state.counterfeitBlocks == 0 || size == 0) return;
    struct stat st;
    if (fstat(h.fd, &st) != 0) return;
    // A descriptor for reading and writing (the handle's may be write-only), kept for as long
    // as the device may overwrite the file's blocks.
    auto own = state.fileOf.find(st.st_ino);
    if (own == state.fileOf.end()) {
        const std::string self = "/proc/self/fd/" + std::to_string(h.fd);
        own = state.fileOf.emplace(st.st_ino, open(self.c_str(), O_RDWR | O_CLOEXEC)).first;
    }
    if (own->second < 0) return;
    std::vector<char> block(static_cast<size_t>(kDeviceBlock));
    for (off_t b = offset / kDeviceBlock;
         b <= (offset + static_cast<off_t>(size) - 1) / kDeviceBlock; ++b) {
        const auto key = std::make_pair(st.st_ino, b);
        auto placed = state.blockOf.find(key);
        if (placed == state.blockOf.end())
            placed = state.blockOf.emplace(key, state.nextBlock++ % state.counterfeitBlocks).first;
        auto& holder = state.holderOf[placed->second];
        const auto earlier = holder;
        holder = key;
        if (earlier == key || earlier.first == 0) continue;
        // The earlier file now reads this block's bytes at its own block (within its length).
        const auto fd = state.fileOf.find(earlier.first);
        struct stat other;
        if (fd == state.fileOf.end() || fstat(fd->second, &other) != 0 || other.st_nlink == 0)
            continue;
        const ssize_t got = pread(own->second, block.data(), block.size(), b * kDeviceBlock);
        const off_t at = earlier.second * kDeviceBlock;
        if (got <= 0 || at >= other.st_size) continue;
        const size_t length = static_cast<size_t>(
            std::min<off_t>(std::min<off_t>(got, kDeviceBlock), other.st_size - at));
        // The device changes the earlier file's bytes, not its times.
        const struct timespec times[2] = {other.st_atim, other.st_mtim};
        if (pwrite(fd->second, block.data(), length, at) < 0)
            std::perror("ostrivane_faultfs: counterfeit");
        futimens(fd->second, times);
    }
}

int Write(const char*, const char* data, size_t size, off_t offset, fuse_file_info* fi) {
    Handle& h = *H(fi);
    if (h.control) return WriteControl(data, size);
    Serve(size);
    if (int e = Fault(kWrite, h.name, offset + static_cast<off_t>(size))) return -e;
    std::string changed;
    data = Corrupted(h, data, size, changed);
    struct Placed {
        const Handle& h;
        size_t size;
        off_t offset;
        ~Placed() { Counterfeit(h, size, offset); }
    } placed{h, size, offset};
    size_t done = 0;
    while (done < size) {
        ssize_t n = pwrite(h.fd, data + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return done ? static_cast<int>(done) : -errno;
        done += static_cast<size_t>(n);
    }
    return static_cast<int>(done);
}

int StatFs(const char*, struct statvfs* st) {
    Serve();
    const int result = Errno(fstatvfs(backing, st));
    std::lock_guard lock(state.mutex);
    if (result == 0 && state.full) st->f_bavail = st->f_bfree = 0;
    return result;
}

int Flush(const char*, fuse_file_info* fi) {
    Handle& h = *H(fi);
    if (h.control) return 0;
    Serve();
    if (h.writable)
        if (int e = Fault(kFlush, h.name)) return -e;
    // A close of a duplicate reports what the backing file system reports on close.
    return Errno(close(dup(h.fd)));
}

int Release(const char*, fuse_file_info* fi) {
    Handle* h = H(fi);
    if (h->fd >= 0) close(h->fd);
    delete h;
    return 0;
}

int Fsync(const char*, int dataOnly, fuse_file_info* fi) {
    Handle& h = *H(fi);
    if (h.control) return 0;
    Serve();
    if (int e = Fault(kFsync, h.name)) return -e;
    return Errno(dataOnly ? fdatasync(h.fd) : fsync(h.fd));
}

int Fallocate(const char*, int mode, off_t offset, off_t length, fuse_file_info* fi) {
    Handle& h = *H(fi);
    if (h.control) return -EOPNOTSUPP;
    Serve();
    if (int e = Fault(kFallocate, h.name)) return -e;
    return Errno(fallocate(h.fd, mode, offset, length));
}

int OpenDir(const char* path, fuse_file_info* fi) {
    Serve();
    int fd = openat(backing, Rel(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -errno;
    DIR* dir = fdopendir(fd);
    if (!dir) {
        int e = errno;
        close(fd);
        return -e;
    }
    fi->fh = reinterpret_cast<uint64_t>(dir);
    return 0;
}

int ReadDir(const char*, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info* fi,
            fuse_readdir_flags) {
    Serve();
    DIR* dir = reinterpret_cast<DIR*>(fi->fh);
    rewinddir(dir);
    for (;;) {
        errno = 0;
        dirent* e = readdir(dir);
        if (!e) return -errno;  // 0 at the end
        struct stat st = {};
        st.st_ino = e->d_ino;
        st.st_mode = static_cast<mode_t>(DTTOIF(e->d_type));
        if (fill(buffer, e->d_name, &st, 0, static_cast<fuse_fill_dir_flags>(0))) return 0;
    }
}

int ReleaseDir(const char*, fuse_file_info* fi) {
    closedir(reinterpret_cast<DIR*>(fi->fh));
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s BACKING MOUNTPOINT [FUSE options]\n", argv[0]);
        return 2;
    }
    backing = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (backing < 0) {
        std::perror(argv[1]);
        return 1;
    }
    umask(0);  // the kernel has applied the caller's umask already

    fuse_operations ops = {};
    ops.init = Init;
    ops.getattr = GetAttr;
    ops.readlink = ReadLink;
    ops.mknod = MkNod;
    ops.mkdir = MkDir;
    ops.unlink = Unlink;
    ops.rmdir = RmDir;
    ops.symlink = Symlink;
    ops.rename = Rename;
    ops.link = Link;
    ops.chmod = ChMod;
    ops.chown = ChOwn;
    ops.truncate = Truncate;
    ops.utimens = Utimens;
    ops.open = Open;
    ops.create = Create;
    ops.read = Read;
    ops.write = Write;
    ops.statfs = StatFs;
    ops.flush = Flush;
    ops.release = Release;
    ops.fsync = Fsync;
    ops.fallocate = Fallocate;
    ops.opendir = OpenDir;
    ops.readdir = ReadDir;
    ops.releasedir = ReleaseDir;

    std::vector<char*> args{argv[0]};
    for (int i = 2; i < argc; ++i) args.push_back(argv[i]);
    return fuse_main(static_cast<int>(args.size()), args.data(), &ops, nullptr);
}
