// Test fixtures that mount file systems on fresh temporary folders: the fault-injection file
// system (tests/support/faultfs_daemon.cpp, whose header comment gives the control
// commands), a size-limited tmpfs for a real full disk, and an exFAT image (no permission
// bits, names that ignore case). Each constructor mounts and waits until the mount answers;
// each destructor unmounts, so a test that fails or throws leaves no mount behind. When
// the machine cannot mount (not root, no /dev/fuse, tools missing, mount refused) the
// constructor raises MountUnavailable with the reason, for GTEST_SKIP.
//
// Mounting needs root. Call EnterPrivateMountNamespace() once at the start of main(): the
// mounts are then only seen by this process and its children, and vanish when it dies, even
// by kill -9.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/temp_tree.h"

namespace ostrivane::test {

class MountUnavailable : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Moves the process into a mount namespace of its own with private propagation. Must run
// before any thread starts; false (and nothing changed) when it cannot, e.g. not root.
bool EnterPrivateMountNamespace();

// The base class: a temporary folder holding the mount point "mnt", unmounted when
// destroyed.
class Mount {
  public:
    virtual ~Mount();
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;

    // The mount point, without a trailing "/".
    const std::string& root() const { return mountPoint_; }
    // root() + "/" + relative.
    std::string path(const std::string& relative) const { return mountPoint_ + "/" + relative; }

  protected:
    Mount();
    // Waits until root() is a mount point of its own; raises MountUnavailable after
    // `seconds`, or at once when `daemon` (when given) has ended, with `log`'s text.
    void waitUntilMounted(pid_t daemon, const std::string& log, double seconds = 5.0);
    void unmount() noexcept;

    TempTree temp_;
    std::string mountPoint_;
    bool mounted_ = false;
};

// The fault-injection file system over the folder backing(), served by its own daemon.
class FaultFs : public Mount {
  public:
    // With `kernelCache` the kernel keeps the files' data in its cache across opens, as for
    // a local disk; otherwise each open reads from the daemon.
    explicit FaultFs(bool kernelCache = false);
    ~FaultFs() override;

    // The folder the mount passes through to; reading and writing there bypasses every fault.
    const std::string& backing() const { return backing_; }
    // Writes control commands (one a line) to the control file; raises std::runtime_error
    // when the daemon refuses one.
    void arm(const std::string& commands) const;
    // The daemon's counters: calls per operation name ("write", "flush", ...) and "fired".
    std::map<std::string, long> counters() const;
    long counter(const std::string& name) const { return counters()[name]; }

  private:
    std::string backing_;
    pid_t daemon_ = -1;
};

// A tmpfs of `bytes` bytes and, when `inodes` is not 0, that many inodes (its root folder
// takes one).
class SmallTmpfs : public Mount {
  public:
    explicit SmallTmpfs(std::size_t bytes, std::size_t inodes = 0);
};

// An exFAT file system in an image file of `mebibytes`, attached to a loop device and
// mounted through exfat-fuse.
class ExfatVolume : public Mount {
  public:
    explicit ExfatVolume(unsigned mebibytes = 16);
};

// An ext4 file system in an image file of `mebibytes`, made with `reservedPercent` of its
// blocks kept back for root (mkfs.ext4 -m; 5 by default), attached to a loop device and
// mounted by the kernel.
class Ext4Volume : public Mount {
  public:
    explicit Ext4Volume(unsigned mebibytes = 32, unsigned reservedPercent = 5);
};

// Runs `argv` (the program looked up on PATH) with output to `log`; its exit status, or -1
// when it could not be started or outlived `seconds` (it is then killed).
int RunProgram(const std::vector<std::string>& argv, const std::string& log, double seconds = 10);

}  // namespace ostrivane::test

// In a GoogleTest test: mounts `Type` (made with the arguments) into the std::unique_ptr
// `var`, or skips the test with the reason the mount is unavailable (needs <memory> and
// <gtest/gtest.h>).
#define MOUNT_OR_SKIP(var, Type, ...)                                        \
    std::unique_ptr<Type> var;                                               \
    try {                                                                    \
        var = std::make_unique<Type>(__VA_ARGS__);                           \
    } catch (const ::ostrivane::test::MountUnavailable& unavailable) {       \
        GTEST_SKIP() << "cannot mount: " << unavailable.what();              \
    }

