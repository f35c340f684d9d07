// Test helper: stand-ins for file systems that lack what the copy prefers, by failing the
// system calls as those file systems do. Include it in exactly one source file of a test
// executable: it defines the C library's functions for that executable. While a switch is
// off, every call goes to the kernel unchanged.
//
// Switch them on in a child process only (a fork): the copy remembers per thread what a
// file system cannot do, and the test process itself must keep its own memory clean.
#pragma once

#include <fcntl.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <functional>
#include <string_view>

namespace ostrivane::test {

// No unnamed files (O_TMPFILE): FUSE, vfat, exfat, older NFS.
inline std::atomic<bool> refuseUnnamedFiles{false};
// Unnamed files asked for so far (refused or not).
inline std::atomic<int> unnamedFileRequests{0};
// renameat2 without RENAME_NOREPLACE (FUSE servers that lack it).
inline std::atomic<bool> refuseRenameNoReplace{false};
// No hard links (vfat, exfat).
inline std::atomic<bool> refuseHardLinks{false};
// linkat with AT_EMPTY_PATH refused as kernels before 6.10 refuse it to processes without
// CAP_DAC_READ_SEARCH: ENOENT.
inline std::atomic<bool> refuseEmptyPathLinks{false};
// linkat calls with AT_EMPTY_PATH so far, and links made through /proc/thread-self/fd
// (or /proc/self/fd).
inline std::atomic<int> emptyPathLinkRequests{0};
inline std::atomic<int> linksThroughProc{0};
// Runs once, right after the next copy_file_range call that copied data, and is then
// cleared: something happening to the files while a copy is under way.
inline std::function<void()> duringNextCopy;
// While not 0, every copy_file_range call fails with this error number without reaching the
// kernel: the kernel's copy failing without saying which of its two files failed.
inline std::atomic<int> failKernelCopy{0};

// The ways a copy can be put in place, by what the file system offers.
enum class PlacingWay { UnnamedFile, RenameNoReplace, HardLink, LookAndRename };

inline const char* NameOf(PlacingWay way) {
    switch (way) {
        case PlacingWay::UnnamedFile:
            return "unnamed file";
        case PlacingWay::RenameNoReplace:
            return "named temporary, rename without replacing";
        case PlacingWay::HardLink:
            return "named temporary, hard link";
        case PlacingWay::LookAndRename:
            return "named temporary, look and rename";
    }
    return "?";
}

inline constexpr PlacingWay kAllPlacingWays[] = {
    PlacingWay::UnnamedFile, PlacingWay::RenameNoReplace, PlacingWay::HardLink,
    PlacingWay::LookAndRename};

// Makes the file systems of this process offer only `way` (call it in a child).
inline void OfferOnly(PlacingWay way) {
    refuseUnnamedFiles = way != PlacingWay::UnnamedFile;
    refuseRenameNoReplace = way == PlacingWay::HardLink || way == PlacingWay::LookAndRename;
    refuseHardLinks = way == PlacingWay::LookAndRename;
}

inline int OpenAtStandIn(int dirFd, const char* path, int flags, mode_t mode) {
    if ((flags & O_TMPFILE) == O_TMPFILE) {
        ++unnamedFileRequests;
        if (refuseUnnamedFiles) {
            errno = EOPNOTSUPP;
            return -1;
        }
    }
    return static_cast<int>(syscall(SYS_openat, dirFd, path, flags, mode));
}

}  // namespace ostrivane::test

namespace ostrivane::test {
// The mode argument of an open that creates a file; the caller owns `args`.
inline mode_t CreationMode(int flags, va_list args) {
    return (flags & (O_CREAT | O_TMPFILE)) ? static_cast<mode_t>(va_arg(args, int)) : 0;
}
}  // namespace ostrivane::test

extern "C" int openat(int dirFd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ostrivane::test::CreationMode(flags, args);
    va_end(args);
    return ostrivane::test::OpenAtStandIn(dirFd, path, flags, mode);
}

// The same entry point under its large-file name, which glibc's headers may pick.
extern "C" int openat64(int dirFd, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ostrivane::test::CreationMode(flags, args);
    va_end(args);
    return ostrivane::test::OpenAtStandIn(dirFd, path, flags, mode);
}

extern "C" int renameat2(int oldDirFd, const char* oldPath, int newDirFd, const char* newPath,
                         unsigned int flags) {
    if (ostrivane::test::refuseRenameNoReplace && (flags & RENAME_NOREPLACE)) {
        errno = EINVAL;
        return -1;
    }
    return static_cast<int>(syscall(SYS_renameat2, oldDirFd, oldPath, newDirFd, newPath, flags));
}

extern "C" int linkat(int oldDirFd, const char* oldPath, int newDirFd, const char* newPath,
                      int flags) {
    if (ostrivane::test::refuseHardLinks) {
        errno = EPERM;
        return -1;
    }
    if (flags & AT_EMPTY_PATH) {
        ++ostrivane::test::emptyPathLinkRequests;
        if (ostrivane::test::refuseEmptyPathLinks) {
            errno = ENOENT;
            return -1;
        }
    }
    const int result =
        static_cast<int>(syscall(SYS_linkat, oldDirFd, oldPath, newDirFd, newPath, flags));
    const std::string_view path = oldPath;
    if (result == 0 && (path.substr(0, 14) == "/proc/self/fd/" ||
                        path.substr(0, 21) == "/proc/thread-self/fd/"))
        ++ostrivane::test::linksThroughProc;
    return result;
}

extern "C" ssize_t copy_file_range(int inFd, off64_t* inOffset, int outFd, off64_t* outOffset,
                                   size_t length, unsigned int flags) {
    if (const int error = ostrivane::test::failKernelCopy.load()) {
        errno = error;
        return -1;
    }
    ssize_t n = syscall(SYS_copy_file_range, inFd, inOffset, outFd, outOffset, length, flags);
    if (n > 0 && ostrivane::test::duringNextCopy) {
        const int savedErrno = errno;
        auto hook = std::move(ostrivane::test::duringNextCopy);
        ostrivane::test::duringNextCopy = nullptr;
        hook();
        errno = savedErrno;
    }
    return n;
}
