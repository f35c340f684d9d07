#include "support/fault_fs.h"

#include <fcntl.h>
#include <linux/loop.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>
#include <vector>

namespace ostrivane::test {
namespace {

using Clock = std::chrono::steady_clock;

std::string Reason(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

// Waits up to `seconds` for `pid`; its wait status, or -1 when it is still running.
int WaitFor(pid_t pid, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        int status = 0;
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) return status;
        if (r < 0 && errno != EINTR) return -1;
        if (Clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// Starts `argv` with stdin from /dev/null and stdout and stderr appended to `log`. With
// `dieWithParent` the child is sent SIGTERM when this process ends. -1 when fork fails.
pid_t Start(const std::vector<std::string>& argv, const std::string& log, bool dieWithParent) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid != 0) return pid;
    if (dieWithParent && (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != parent))
        ::_exit(126);
    int in = ::open("/dev/null", O_RDONLY);
    int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (in < 0 || out < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    ::execvp(args[0], args.data());
    ::_exit(127);
}

}  // namespace

bool EnterPrivateMountNamespace() {
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNS) != 0) return false;
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

int RunProgram(const std::vector<std::string>& argv, const std::string& log, double seconds) {
    pid_t pid = Start(argv, log, false);
    if (pid < 0) return -1;
    int status = WaitFor(pid, seconds);
    if (status == -1) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// --- Mount ------------------------------------------------------------------------------

Mount::Mount() : mountPoint_(temp_.mkdir("mnt")) {}

Mount::~Mount() {
    unmount();
}

void Mount::waitUntilMounted(pid_t daemon, const std::string& log, double seconds) {
    struct stat parent;
    if (::stat(temp_.root().c_str(), &parent) != 0)
        throw MountUnavailable(Reason("cannot look at " + temp_.root(), errno));
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        struct stat st;
        if (::stat(mountPoint_.c_str(), &st) == 0 && st.st_dev != parent.st_dev) {
            mounted_ = true;
            return;
        }
        const bool ended = daemon > 0 && WaitFor(daemon, 0) != -1;
        if (ended || Clock::now() >= deadline)
            throw MountUnavailable("the mount on " + mountPoint_ + " did not come up" +
                                   (ended ? " (its daemon ended)" : "") + "; its output:\n" +
                                   ReadFile(log));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void Mount::unmount() noexcept {
    if (!mounted_) return;
    mounted_ = false;
    if (::umount2(mountPoint_.c_str(), 0) == 0) return;
    // Something still holds it open (a test that failed midway): detach it now; the kernel
    // lets it go when the last user closes it.
    if (::umount2(mountPoint_.c_str(), MNT_DETACH) == 0) return;
    RunProgram({"fusermount3", "-u", "-z", mountPoint_}, "/dev/null");
}

// --- FaultFs ----------------------------------------------------------------------------

FaultFs::FaultFs(bool kernelCache) : backing_(temp_.mkdir("backing")) {
#ifndef OSTRIVANE_FAULTFS_DAEMON
    throw MountUnavailable("the fault file system was not built (pkg-config found no fuse3)");
#else
    if (::access("/dev/fuse", R_OK | W_OK) != 0)
        throw MountUnavailable(Reason("/dev/fuse cannot be used", errno));
    const std::string log = temp_.path("faultfs.log");
    daemon_ = Start({OSTRIVANE_FAULTFS_DAEMON, backing_, mountPoint_, "-f", "-o",
                     std::string("auto_unmount,fsname=ostrivane-faultfs,subtype=faultfs") +
                         (kernelCache ? ",kernel_cache" : "")},
                    log, true);
    if (daemon_ < 0) throw MountUnavailable(Reason("cannot start the daemon", errno));
    try {
        waitUntilMounted(daemon_, log);
    } catch (...) {
        ::kill(daemon_, SIGKILL);
        ::waitpid(daemon_, nullptr, 0);
        throw;
    }
#endif
}

FaultFs::~FaultFs() {
    unmount();
    // An unmounted daemon ends by itself; one that does not is ended.
    if (daemon_ > 0 && WaitFor(daemon_, 5) == -1) {
        ::kill(daemon_, SIGKILL);
        ::waitpid(daemon_, nullptr, 0);
    }
}

void FaultFs::arm(const std::string& commands) const {
    std::string text = commands;
    if (text.empty() || text.back() != '\n') text += '\n';
    int fd = ::open(path(".faultctl").c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error(Reason("cannot open the control file", errno));
    ssize_t n = ::write(fd, text.data(), text.size());
    int error = errno;
    ::close(fd);
    if (n != static_cast<ssize_t>(text.size()))
        throw std::runtime_error(
            Reason("the fault file system refused \"" + commands + "\"", n < 0 ? error : EIO));
}

std::map<std::string, long> FaultFs::counters() const {
    std::map<std::string, long> result;
    std::istringstream in(ReadFile(path(".faultctl")));
    std::string name;
    long value = 0;
    while (in >> name >> value) result[name] = value;
    return result;
}

// --- SmallTmpfs -------------------------------------------------------------------------

SmallTmpfs::SmallTmpfs(std::size_t bytes, std::size_t inodes) {
    std::string options = "mode=0755,size=" + std::to_string(bytes);
    if (inodes) options += ",nr_inodes=" + std::to_string(inodes);
    if (::mount("ostrivane-test", mountPoint_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                options.c_str()) != 0)
        throw MountUnavailable(Reason("mounting a tmpfs was refused (needs root)", errno));
    mounted_ = true;
}

// --- ExfatVolume ------------------------------------------------------------------------

namespace {

// Attaches `image` to a free loop device that lets go of it when its last user closes it.
// Returns the open device and its path in `device`.
int AttachLoop(const std::string& image, std::string& device) {
    int file = ::open(image.c_str(), O_RDWR | O_CLOEXEC);
    if (file < 0) throw MountUnavailable(Reason("cannot open " + image, errno));
    int control = ::open("/dev/loop-control", O_RDWR | O_CLOEXEC);
    if (control < 0) {
        ::close(file);
        throw MountUnavailable(Reason("/dev/loop-control cannot be used", errno));
    }
    int loop = -1, error = EBUSY;
    // Another process may take the free device first; then ask again.
    for (int attempt = 0; attempt < 20 && loop < 0; ++attempt) {
        int n = ::ioctl(control, LOOP_CTL_GET_FREE);
        if (n < 0) {
            error = errno;
            break;
        }
        device = "/dev/loop" + std::to_string(n);
        int fd = ::open(device.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) {
            error = errno;
            continue;
        }
        loop_config config{};
        config.fd = static_cast<__u32>(file);
        config.info.lo_flags = LO_FLAGS_AUTOCLEAR;
        if (::ioctl(fd, LOOP_CONFIGURE, &config) == 0) {
            loop = fd;
        } else {
            error = errno;
            ::close(fd);
        }
    }
    ::close(control);
    ::close(file);
    if (loop < 0) throw MountUnavailable(Reason("no loop device could be attached", error));
    return loop;
}

}  // namespace

ExfatVolume::ExfatVolume(unsigned mebibytes) {
    if (::geteuid() != 0) throw MountUnavailable("mounting an exFAT image needs root");
    const std::string image = temp_.path("exfat.img");
    const std::string log = temp_.path("exfat.log");
    int fd = ::open(image.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(mebibytes) << 20) != 0)
        throw MountUnavailable(Reason("cannot make the image", errno));
    ::close(fd);
    if (RunProgram({"mkfs.exfat", image}, log) != 0)
        throw MountUnavailable("mkfs.exfat (exfatprogs) failed or is missing:\n" + ReadFile(log));
    std::string device;
    int loop = AttachLoop(image, device);
    // exfat-fuse goes to the background once mounted; it ends when the mount goes away.
    int status = RunProgram({"mount.exfat-fuse", device, mountPoint_}, log);
    try {
        if (status != 0)
            throw MountUnavailable("mount.exfat-fuse (exfat-fuse) failed or is missing:\n" +
                                   ReadFile(log));
        waitUntilMounted(-1, log);
    } catch (...) {
        ::close(loop);
        throw;
    }
    ::close(loop);  // the mount holds the device now
}

// --- Ext4Volume -------------------------------------------------------------------------

Ext4Volume::Ext4Volume(unsigned mebibytes, unsigned reservedPercent) {
    if (::geteuid() != 0) throw MountUnavailable("mounting an ext4 image needs root");
    const std::string image = temp_.path("ext4.img");
    const std::string log = temp_.path("ext4.log");
    int fd = ::open(image.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(mebibytes) << 20) != 0)
        throw MountUnavailable(Reason("cannot make the image", errno));
    ::close(fd);
    // No journal: blocks freed are free at once, so the figures a test reads are the ones
    // the next write meets.
    if (RunProgram({"mkfs.ext4", "-q", "-F", "-b", "4096", "-O", "^has_journal", "-m",
                    std::to_string(reservedPercent), image},
                   log) != 0)
        throw MountUnavailable("mkfs.ext4 (e2fsprogs) failed or is missing:\n" + ReadFile(log));
    std::string device;
    int loop = AttachLoop(image, device);
    const int mounted =
        ::mount(device.c_str(), mountPoint_.c_str(), "ext4", MS_NOSUID | MS_NODEV, nullptr);
    const int error = errno;
    ::close(loop);  // the mount holds the device now (or it lets go of it)
    if (mounted != 0) throw MountUnavailable(Reason("mounting the ext4 image was refused", error));
    mounted_ = true;
}

}  // namespace ostrivane::test
