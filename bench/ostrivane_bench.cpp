// Benchmark driver: generates deterministic trees and runs one core operation on them,
// timed, so that bench/run can compare whole process runs against cp, rsync, find and rm.
//
//   ostrivane_bench gen-files DIR          10,000 files of 1 to 16 KiB in 100 folders
//   ostrivane_bench gen-medium DIR         1,000 files of 32 to 256 KiB in 10 folders
//   ostrivane_bench gen-big FILE           one file of 512 MiB
//   ostrivane_bench gen-folders DIR        50,000 folders (three levels)
//   ostrivane_bench gen-empty-tree DIR     50,000 small files in 500 folders
//   ostrivane_bench gen-real DIR           the shape of a real tree: 20,000 files (mostly
//                                          headers and documents of 1 to 16 KiB, some of
//                                          64 to 256 KiB, four of 4 to 16 MiB; about
//                                          290 MiB) in about 1,200 folders three levels
//                                          deep, and 8 links to folders of the tree
//   ostrivane_bench copy [--peak-memory] [--writers N] [--verify] [--figures]
//                        [--folder-links] SRC DEST...
//                                          (--figures: with a figures hook, as the window
//                                          and the command line's progress run it;
//                                          --folder-links: the failures of links to
//                                          folders, which a copy does not follow, are
//                                          expected)
//   ostrivane_bench index DIR
//   ostrivane_bench empty DIR
//
// The operations print the seconds they took on the first line of stdout (`copy
// --peak-memory` adds the peak resident memory in KiB on a second line, `index` adds the
// number of folders found). Failures go to stderr and give exit status 1, so a benchmark
// never times work that did not happen.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/copy_run.h"
#include "core/discovery.h"
#include "core/emptying.h"
#include "core/path_list.h"

namespace ostrivane::bench {
namespace {

constexpr int kSmallFileFolders = 100;
constexpr int kSmallFilesPerFolder = 100;
constexpr std::size_t kSmallFileMinBytes = 1024;
constexpr std::size_t kSmallFileMaxBytes = 16 * 1024;
constexpr std::size_t kBigFileBytes = std::size_t{512} * 1024 * 1024;
constexpr int kFolderTreeTop = 50;
constexpr int kFolderTreeMiddle = 20;
constexpr int kFolderTreeLeaves = 49;  // 50 + 50*20 + 50*20*49 = 50,050 folders
constexpr int kEmptyTreeTop = 50;
constexpr int kEmptyTreeMiddle = 10;
constexpr int kEmptyTreeFilesPerFolder = 100;  // 50*10*100 = 50,000 files

// Raised for any failure of the benchmark's own file-system work.
class BenchError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] void ThrowOsError(const std::string& what, const std::string& path) {
    throw BenchError(what + " " + path + ": " + std::strerror(errno));
}

// splitmix64: small, fast and the same on every machine, so generated trees are identical
// from run to run.
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // Fills `buffer` with pseudo-random bytes (no runs of zeros a file system could skip).
    void fill(std::vector<char>& buffer) {
        for (std::size_t i = 0; i < buffer.size(); i += sizeof(std::uint64_t)) {
            const std::uint64_t word = next();
            std::memcpy(buffer.data() + i, &word, std::min(sizeof(word), buffer.size() - i));
        }
    }

  private:
    std::uint64_t state_;
};

// Creates one folder; an existing folder is accepted, so generation can start on a folder
// made by the caller.
void MakeFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) ThrowOsError("mkdir", path);
}

int CreateFile(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) ThrowOsError("open", path);
    return fd;
}

// Writes all of `content` to the open file `fd` (named `path` for errors).
void WriteAll(int fd, const std::string& path, const std::vector<char>& content) {
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            close(fd);
            ThrowOsError("write", path);
        }
        done += static_cast<std::size_t>(n);
    }
}

void CloseFile(int fd, const std::string& path) {
    if (close(fd) != 0) ThrowOsError("close", path);
}

// Writes `content` as a new file (replacing any old one).
void WriteFile(const std::string& path, const std::vector<char>& content) {
    const int fd = CreateFile(path);
    WriteAll(fd, path, content);
    CloseFile(fd, path);
}

std::string Numbered(const char* prefix, int n) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%05d", prefix, n);
    return text;
}

// DIR/d00000 .. d00099, each with 100 files f00000.dat .. of 1 to 16 KiB (sizes and bytes
// follow from the file's number alone).
void GenerateSmallFiles(const std::string& dir) {
    MakeFolder(dir);
    std::vector<char> content;
    for (int folder = 0; folder < kSmallFileFolders; ++folder) {
        const std::string folderPath = dir + "/" + Numbered("d", folder);
        MakeFolder(folderPath);
        for (int file = 0; file < kSmallFilesPerFolder; ++file) {
            const int number = folder * kSmallFilesPerFolder + file;
            Random random(static_cast<std::uint64_t>(number) + 1);
            const std::size_t span = kSmallFileMaxBytes - kSmallFileMinBytes + 1;
            content.resize(kSmallFileMinBytes + random.next() % span);
            random.fill(content);
            WriteFile(folderPath + "/" + Numbered("f", number) + ".dat", content);
        }
    }
}

// DIR/d00000 .. d00009, each with 100 files of 32 to 256 KiB: the slow-devices case.
void GenerateMediumFiles(const std::string& dir) {
    MakeFolder(dir);
    std::vector<char> content;
    for (int folder = 0; folder < 10; ++folder) {
        const std::string folderPath = dir + "/" + Numbered("d", folder);
        MakeFolder(folderPath);
        for (int file = 0; file < 100; ++file) {
            const int number = folder * 100 + file;
            Random random(static_cast<std::uint64_t>(number) + 7);
            content.resize(32 * 1024 + random.next() % (224 * 1024 + 1));
            random.fill(content);
            WriteFile(folderPath + "/" + Numbered("f", number) + ".dat", content);
        }
    }
}

// One file of 512 MiB of pseudo-random bytes, written in 4 MiB blocks.
void GenerateBigFile(const std::string& path) {
    const int fd = CreateFile(path);
    std::vector<char> block(std::size_t{4} * 1024 * 1024);
    Random random(512);
    for (std::size_t written = 0; written < kBigFileBytes; written += block.size()) {
        random.fill(block);
        WriteAll(fd, path, block);
    }
    CloseFile(fd, path);
}

// Three levels of folders: 50 top, 20 below each, 49 below each of those (50,050 folders
// besides DIR). Each leaf holds nothing, like most folders of a deep archive tree.
void GenerateFolders(const std::string& dir) {
    MakeFolder(dir);
    for (int top = 0; top < kFolderTreeTop; ++top) {
        const std::string topPath = dir + "/" + Numbered("t", top);
        MakeFolder(topPath);
        for (int middle = 0; middle < kFolderTreeMiddle; ++middle) {
            const std::string middlePath = topPath + "/" + Numbered("m", middle);
            MakeFolder(middlePath);
            for (int leaf = 0; leaf < kFolderTreeLeaves; ++leaf) {
                MakeFolder(middlePath + "/" + Numbered("l", leaf));
            }
        }
    }
}

// 50 top folders with 10 folders each, each holding 100 files of 1 to 256 bytes: 50,000
// files in 550 folders. Two calls on two folders give identical trees.
void GenerateEmptyTree(const std::string& dir) {
    MakeFolder(dir);
    std::vector<char> content;
    int number = 0;
    for (int top = 0; top < kEmptyTreeTop; ++top) {
        const std::string topPath = dir + "/" + Numbered("t", top);
        MakeFolder(topPath);
        for (int middle = 0; middle < kEmptyTreeMiddle; ++middle) {
            const std::string middlePath = topPath + "/" + Numbered("m", middle);
            MakeFolder(middlePath);
            for (int file = 0; file < kEmptyTreeFilesPerFolder; ++file, ++number) {
                content.assign(1 + number % 256, static_cast<char>('a' + number % 26));
                WriteFile(middlePath + "/" + Numbered("f", number) + ".txt", content);
            }
        }
    }
}

// Seconds `work` takes on the steady clock.
// DIR/p00 .. p11, each with folders m00 .. and below them l00 ..: about 1,200 folders, 20,000
// files of the sizes a tree of sources and documents has, and 8 links to folders of the
// tree (as `latest` or `compat` links are): the real-disk case.
void GenerateRealTree(const std::string& dir) {
    constexpr int kFiles = 20000;
    MakeFolder(dir);
    std::vector<std::string> folders;
    Random shape(2026);
    for (int top = 0; top < 12; ++top) {
        const std::string topPath = dir + "/" + Numbered("p", top);
        MakeFolder(topPath);
        folders.push_back(topPath);
        for (int middle = 0; middle < 12; ++middle) {
            const std::string middlePath = topPath + "/" + Numbered("m", middle);
            MakeFolder(middlePath);
            folders.push_back(middlePath);
            const int leaves = static_cast<int>(shape.next() % 15);
            for (int leaf = 0; leaf < leaves; ++leaf) {
                folders.push_back(middlePath + "/" + Numbered("l", leaf));
                MakeFolder(folders.back());
            }
        }
    }
    std::vector<char> content;
    for (int number = 0; number < kFiles; ++number) {
        Random random(static_cast<std::uint64_t>(number) + 7);
        const std::uint64_t kind = random.next() % 1000;
        std::size_t size;
        if (number < 4)
            size = (std::size_t{4} << 20) << (number % 3);  // 4, 8, 16, 4 MiB
        else if (kind < 970)
            size = 1024 + random.next() % (15 * 1024);
        else
            size = 64 * 1024 + random.next() % (192 * 1024);
        content.resize(size);
        random.fill(content);
        const std::string& folder = folders[random.next() % folders.size()];
        WriteFile(folder + "/" + Numbered("f", number) + (kind % 2 ? ".h" : ".html"), content);
    }
    for (int link = 0; link < 8; ++link) {
        const std::string& target = folders[shape.next() % folders.size()];
        const std::string name = dir + "/" + Numbered("p", link) + "/" + Numbered("link", link);
        if (symlink(target.c_str(), name.c_str()) != 0) ThrowOsError("symlink", name);
    }
}

double Seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Peak resident memory of this process so far, in KiB.
long PeakMemoryKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;  // KiB on Linux
}

// True when `path` is a link to a folder (which a copy does not follow).
bool IsFolderLink(const std::string& path) {
    struct stat entry {}, target {};
    std::string name = path;
    while (name.size() > 1 && name.back() == '/') name.pop_back();
    return lstat(name.c_str(), &entry) == 0 && S_ISLNK(entry.st_mode) &&
           stat(name.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
}

// Prints every failure to stderr; returns the exit status (1 when there was any, not
// counting links to folders when `folderLinksExpected`).
int ReportFailures(const std::vector<Failure>& failures, bool folderLinksExpected = false) {
    int counted = 0;
    for (const Failure& failure : failures) {
        if (folderLinksExpected && IsFolderLink(failure.path)) continue;
        std::fprintf(stderr, "failed: %s: %s\n", failure.path.c_str(), failure.reason.c_str());
        ++counted;
    }
    return counted == 0 ? 0 : 1;
}

// CopyAll of SRC into every DEST under Overwrite; no question is ever asked there.
int RunCopy(std::vector<std::string> args) {
    bool reportMemory = false, folderLinks = false;
    RunOptions options;
    for (;;) {
        if (!args.empty() && args.front() == "--peak-memory") {
            reportMemory = true;
            args.erase(args.begin());
        } else if (!args.empty() && args.front() == "--verify") {
            options.verify = true;
            args.erase(args.begin());
        } else if (!args.empty() && args.front() == "--folder-links") {
            folderLinks = true;
            args.erase(args.begin());
        } else if (!args.empty() && args.front() == "--figures") {
            options.showTransfer = [](const TransferFigures&) {};
            args.erase(args.begin());
        } else if (args.size() > 1 && args.front() == "--writers") {
            options.maxWriters = std::stoi(args[1]);
            args.erase(args.begin(), args.begin() + 2);
        } else {
            break;
        }
    }
    if (args.size() < 2) throw BenchError("copy needs SRC and at least one DEST");
    PathList sources;
    sources.append(args.front());
    PathList destinations;
    for (std::size_t i = 1; i < args.size(); ++i) destinations.append(args[i]);
    RunRequest request;
    request.sources = std::move(sources);
    request.destinations = std::move(destinations);
    request.policy = SameFilePolicy::Overwrite;
    request.ask = [](const std::string&) { return false; };
    request.progress = [](int) {};
    request.options = options;
    RunResult result;
    const double seconds = Seconds([&] { result = CopyAll(request); });
    // A folder that could not be entered ends the measurement as an error.
    if (result.ended()) throw BenchError(result.endedBy.path + ": " + result.endedBy.text);
    std::printf("%.6f\n", seconds);
    if (reportMemory) std::printf("%ld\n", PeakMemoryKiB());
    return ReportFailures(result.failures, folderLinks);
}

// IndexDisk of DIR into an empty list; prints the seconds and the folders found, then ends
// the process at once. Freeing a list of 50,000 paths one by one takes about a tenth of the
// walk's own time; the program keeps its list, and `find`, the comparison, frees nothing
// either, so the benchmark leaves that to the end of the process as well.
[[noreturn]] void RunIndexAndExit(const std::string& dir) {
    auto* destinations = new PathList;
    const double seconds = Seconds([&] { IndexDisk(WithTrailingSeparator(dir), *destinations); });
    std::printf("%.6f %d\n", seconds, destinations->count());
    std::fflush(stdout);
    std::_Exit(0);
}

// EmptyFolder of DIR with DIR/ as the only destination, so DIR itself stays.
int RunEmpty(const std::string& dir) {
    PathList destinations;
    destinations.append(WithTrailingSeparator(dir));
    std::vector<Failure> failures;
    const double seconds = Seconds([&] { EmptyFolder(dir, destinations, &failures); });
    std::printf("%.6f\n", seconds);
    return ReportFailures(failures);
}

int Usage() {
    std::fputs(
        "usage: ostrivane_bench gen-files DIR | gen-medium DIR | gen-big FILE | gen-folders DIR |\n"
        "       gen-empty-tree DIR | gen-real DIR |\n"
        "       copy [--peak-memory] [--writers N] [--verify] [--figures] [--folder-links]\n"
        "            SRC DEST... |\n"
        "       index DIR |\n"
        "       empty DIR\n",
        stderr);
    return 2;
}

int Run(const std::string& command, const std::vector<std::string>& args) {
    const bool oneArgument = args.size() == 1;
    if (command == "copy") return RunCopy(args);
    if (!oneArgument) return Usage();
    const std::string& path = args.front();
    if (command == "gen-files") return GenerateSmallFiles(path), 0;
    if (command == "gen-big") return GenerateBigFile(path), 0;
    if (command == "gen-medium") return GenerateMediumFiles(path), 0;
    if (command == "gen-folders") return GenerateFolders(path), 0;
    if (command == "gen-empty-tree") return GenerateEmptyTree(path), 0;
    if (command == "gen-real") return GenerateRealTree(path), 0;
    if (command == "index") RunIndexAndExit(path);
    if (command == "empty") return RunEmpty(path);
    return Usage();
}

}  // namespace
}  // namespace ostrivane::bench

int main(int argc, char** argv) {
    if (argc < 2) return ostrivane::bench::Usage();
    try {
        return ostrivane::bench::Run(argv[1], std::vector<std::string>(argv + 2, argv + argc));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "ostrivane_bench: %s\n", error.what());
        return 1;
    }
}
