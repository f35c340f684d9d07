// End-to-end tests of ostrivane-cli: the built program runs on temporary trees, with its
// standard input from /dev/null (no terminal) unless a test gives it a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/temp_tree.h"
#include "support/fault_fs.h"

namespace fs = std::filesystem;
using ostrivane::test::Exists;
using ostrivane::test::ReadFile;
using ostrivane::test::TempTree;

namespace {

struct Outcome {
    int status = -1;
    std::string out, err;
};

using Env = std::map<std::string, std::string>;

// Every entry below `root` ("dir/" for folders), relative to it.
std::set<std::string> Tree(const std::string& root) {
    std::set<std::string> names;
    if (!fs::exists(root)) return names;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        std::string name = fs::relative(entry.path(), root).string();
        if (entry.is_directory()) name += "/";
        names.insert(name);
    }
    return names;
}

// Starts the program with `args`; standard input from `inputFd` (or /dev/null), standard
// output and error to the given files, the locale English unless `env` says otherwise, and
// the settings read from `configHome`.
pid_t Start(const std::vector<std::string>& args, const std::string& outFile,
            const std::string& errFile, const std::string& configHome, const Env& env,
            int inputFd = -1) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    const int in = inputFd >= 0 ? inputFd : ::open("/dev/null", O_RDONLY);
    const int out = ::open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) ::_exit(127);
    ::dup2(in, 0), ::dup2(out, 1), ::dup2(err, 2);
    ::unsetenv("LANG"), ::unsetenv("LC_MESSAGES");
    ::setenv("LC_ALL", "C.UTF-8", 1);
    ::setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
    for (const auto& [name, value] : env) {
        if (value.empty()) {
            ::unsetenv(name.c_str());
        } else {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
    }
    std::vector<char*> argv{const_cast<char*>(OSTRIVANE_CLI)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(OSTRIVANE_CLI, argv.data());
    ::_exit(127);
}

// The exit status, or -1 when it did not end within `seconds` (it is then killed).
int Wait(pid_t pid, double seconds = 20) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class Cli : public testing::Test {
  protected:
    Outcome run(const std::vector<std::string>& args, const Env& env = {}) {
        const pid_t pid = Start(args, work.path("out"), work.path("err"), work.root(), env);
        Outcome outcome;
        outcome.status = Wait(pid);
        outcome.out = ReadFile(work.path("out"));
        outcome.err = ReadFile(work.path("err"));
        return outcome;
    }

    TempTree work;  // the program's output and settings
    TempTree tree;  // sources and destinations
};

// A source folder, a file, and two empty destinations.
class CliCopy : public Cli {
  protected:
    void SetUp() override {
        tree.write("src/data/a.txt", "alpha");
        tree.write("src/data/sub/b.txt", "beta");
        tree.write("src/c.txt", "gamma");
        tree.mkdir("d1");
        tree.mkdir("d2");
    }
    std::string p(const std::string& relative) const { return tree.path(relative); }
    const std::set<std::string> copied{"data/", "data/a.txt", "data/sub/", "data/sub/b.txt",
                                       "c.txt"};
};

TEST_F(CliCopy, CopiesEverySourceIntoEveryDestinationAndSaysSoOnStandardOutputOnly) {
    // Sources and destinations from arguments and list files; every source named twice.
    tree.write("sources.lst", p("src/c.txt") + "\r\n" + p("src/data/") + "\r\n" + p("gone") +
                                  "\r\n");
    tree.write("dirs.lst", p("d2") + "\n");
    const Outcome run1 =
        this->run({p("src/data"), p("src/c.txt"), "--sources-list", p("sources.lst"), "--to",
                   p("d1"), "--destinations-list", p("dirs.lst"), "-t", p("d1/"), "-p", "number"});
    EXPECT_EQ(run1.status, 0) << run1.err;
    // Under "number" a source copied twice would leave c_1.txt: each was taken once.
    EXPECT_EQ(Tree(p("d1")), copied);
    EXPECT_EQ(Tree(p("d2")), copied);
    EXPECT_EQ(ReadFile(p("d2/data/sub/b.txt")), "beta");
    // Nothing but the summary goes to a pipe.
    EXPECT_EQ(run1.err, "");
    EXPECT_EQ(run1.out.rfind("Copy finished. files copied: 6, 28 B in ", 0), 0u) << run1.out;
    EXPECT_EQ(std::count(run1.out.begin(), run1.out.end(), '\n'), 1);
}

TEST_F(CliCopy, ToTreeTakesSubfoldersDownToTheDepth) {
    tree.mkdir("t/A/A1/A2");
    tree.mkdir("t/B");
    EXPECT_EQ(run({p("src/c.txt"), "--to-tree", p("t") + ":1"}).status, 0);
    EXPECT_EQ(Tree(p("t")), (std::set<std::string>{"c.txt", "A/", "A/c.txt", "A/A1/", "A/A1/A2/",
                                                   "B/", "B/c.txt"}));
    fs::remove_all(p("t"));
    tree.mkdir("t/A/A1");
    EXPECT_EQ(run({p("src/c.txt"), "--to-tree", p("t"), "--policy", "skip"}).status, 0);
    EXPECT_EQ(Tree(p("t")), (std::set<std::string>{"c.txt", "A/", "A/c.txt", "A/A1/",
                                                   "A/A1/c.txt"}));
    // A folder whose name holds a colon is taken whole.
    tree.mkdir("t:2");
    EXPECT_EQ(run({p("src/c.txt"), "--to-tree", p("t:2")}).status, 0);
    EXPECT_TRUE(Exists(p("t:2/c.txt")));
}

TEST_F(CliCopy, BadInputPrintsOneLineAndCopiesNothing) {
    tree.write("file-not-folder", "x");
    const std::vector<std::vector<std::string>> cases = {
        {p("src/c.txt"), "--to", p("d1"), "--no-such-option"},
        {p("src/c.txt"), "--sources-list", p("missing.lst"), "--to", p("d1")},
        {p("src/c.txt")},
        {"--to", p("d1")},
        {p("src/c.txt"), "--to-tree", p("d1") + ":two"},
        {p("src/c.txt"), "--to-tree", p("d1") + ":"},
        {p("src/missing.txt"), p("src/c.txt"), "--to", p("d1")},
        {p("src/c.txt"), "--to", p("d1"), "--to", p("file-not-folder")},
        {p("src/c.txt"), "--to", p("d1"), "--to", "/"},
        {p("src/c.txt"), "--to", p("d1"), "--to", p("..") + "/../../../../../../../.."},
        {"/", "--to", p("d1")},
        {p("src/c.txt"), "--to", p("d1"), "--policy", "sometimes"},
        {p("src/c.txt"), "--to", p("d1"), "--policy", "ask"},
        {p("src/c.txt"), "--to", p("d1"), "--empty-first"},
        {"--to", p("d1"), "--empty-now"},
        {p("src/c.txt"), "--to", p("d1"), "--empty-now", "--empty-first", "--yes"},
        {p("src/c.txt"), "--to", p("d1"), "--report", p("no/such/folder/r.csv")},
        {p("src/c.txt"), "--to", p("d1"), "--writers", "0"},
    };
    tree.write("d2/keep.txt", "kept");
    for (const auto& args : cases) {
        std::string line;
        for (const auto& arg : args) line += arg + " ";
        SCOPED_TRACE(line);
        const Outcome outcome = run(args);
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
        EXPECT_EQ(outcome.err.rfind("ostrivane-cli: ", 0), 0u) << outcome.err;
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(Tree(p("d1")), std::set<std::string>{});
        EXPECT_EQ(Tree(p("d2")), std::set<std::string>{"keep.txt"});
    }
}

TEST_F(CliCopy, FailuresGiveStatusOneAndAQuotedUtf8Report) {
    // A name with a comma, a quote, a line break and a byte that is not UTF-8; in the
    // destination a folder of that name stands in the way of its copy.
    const std::string odd = "we\"ird, na\nme\xff.txt";
    tree.write("src/" + odd, "odd");
    tree.mkdir("d1/" + odd);
    const Outcome outcome = run({p("src/" + odd), p("src/c.txt"), "--to", p("d1"), "--policy",
                                 "overwrite", "--report", work.path("report.csv")});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(ReadFile(p("d1/c.txt")), "gamma");  // the run went on
    EXPECT_NE(outcome.err.find("not done (1):"), std::string::npos) << outcome.err;
    EXPECT_NE(outcome.err.find(p("d1/" + odd)), std::string::npos);
    const std::string report = ReadFile(work.path("report.csv"));
    const std::string quoted = "\"" + p("d1/") + "we\"\"ird, na\nme\xEF\xBF\xBD.txt\",";
    EXPECT_EQ(report.rfind("path,reason\n" + quoted, 0), 0u) << report;
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 3);  // header, row with a break

    // "-": the report on standard output, the summary moved to standard error.
    const Outcome toStdout =
        run({p("src/" + odd), "--to", p("d1"), "--policy", "overwrite", "--report", "-"});
    EXPECT_EQ(toStdout.status, 1);
    EXPECT_EQ(toStdout.out, report);
    EXPECT_NE(toStdout.err.find("Copy finished."), std::string::npos);

    // No failure: a report with its header alone.
    EXPECT_EQ(run({p("src/c.txt"), "--to", p("d2"), "--report", work.path("report.csv")}).status,
              0);
    EXPECT_EQ(ReadFile(work.path("report.csv")), "path,reason\n");
}

TEST_F(CliCopy, ThePolicyTheWindowStoredIsTheDefault) {
    tree.write("d1/c.txt", "older");
    tree.write("d2/c.txt", "older");
    std::ofstream(work.path("Quillmere.ini")) << "[Parameter]\nSameFile=2\n";
    EXPECT_EQ(run({p("src/c.txt"), "--to", p("d1")}).status, 0);
    EXPECT_EQ(ReadFile(p("d1/c.txt")), "older");  // skip
    EXPECT_EQ(run({p("src/c.txt"), "--to", p("d1"), "--policy", "overwrite"}).status, 0);
    EXPECT_EQ(ReadFile(p("d1/c.txt")), "gamma");
    // No settings: number.
    fs::remove(work.path("Quillmere.ini"));
    EXPECT_EQ(run({p("src/c.txt"), "--to", p("d2")}).status, 0);
    EXPECT_EQ(ReadFile(p("d2/c.txt")), "older");
    EXPECT_EQ(ReadFile(p("d2/c_1.txt")), "gamma");
    EXPECT_FALSE(Exists(work.path("Quillmere.ini")));  // read, never written
}

TEST_F(CliCopy, EmptyNowEmptiesAndCopiesNothingEmptyFirstEmptiesThenCopies) {
    tree.write("d1/old.txt", "old");
    tree.write("d1/inner/old.txt", "old");
    tree.write("d2/old.txt", "old");
    Outcome outcome = run({p("src/c.txt"), "--to", p("d1"), "--to", p("d1/inner"), "--to",
                           p("d2"), "--empty-now", "--yes"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(Tree(p("d1")), std::set<std::string>{"inner/"});  // listed: kept, emptied
    EXPECT_EQ(Tree(p("d2")), std::set<std::string>{});
    EXPECT_EQ(ReadFile(p("src/c.txt")), "gamma");
    EXPECT_NE(outcome.out.find("have been deleted"), std::string::npos);

    tree.write("d1/old.txt", "old");
    outcome = run({p("src/c.txt"), "--to", p("d1"), "--empty-first", "-y"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(Tree(p("d1")), (std::set<std::string>{"c.txt"}));
}

TEST_F(CliCopy, AFolderThatCannotBeEnteredEndsTheRunWithStatusFour) {
    if (!ostrivane::test::PermissionsApply()) GTEST_SKIP() << "root enters every folder";
    ASSERT_EQ(::chmod(p("src/data/sub").c_str(), 0), 0);
    const Outcome outcome = run({p("src/data"), "--to", p("d1"), "--report", work.path("r.csv")});
    ::chmod(p("src/data/sub").c_str(), 0755);
    EXPECT_EQ(outcome.status, 4);
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(ReadFile(work.path("r.csv")), "path,reason\n");
}

TEST_F(CliCopy, MessagesFollowTheLocale) {
    const Outcome chinese = run({p("src/c.txt")}, {{"LC_ALL", ""}, {"LANG", "zh_CN.UTF-8"}});
    EXPECT_EQ(chinese.status, 2);
    EXPECT_NE(chinese.err.find("没有指定目标文件夹"), std::string::npos) << chinese.err;
    // LC_ALL comes before LANG.
    const Outcome english = run({"--to", p("d1")}, {{"LC_ALL", "en_GB.UTF-8"}, {"LANG", "zh_CN"}});
    EXPECT_NE(english.err.find("nothing to copy"), std::string::npos) << english.err;
    const Outcome messages =
        run({"--to", p("d1")}, {{"LC_ALL", ""}, {"LC_MESSAGES", "zh_TW"}, {"LANG", "C"}});
    EXPECT_NE(messages.err.find("没有需要复制的文件或文件夹!"), std::string::npos) << messages.err;
}

// The program on a pseudo-terminal, the test typing the answers.
class Terminal {
  public:
    Terminal(const std::vector<std::string>& args, const std::string& configHome) {
        pid_ = ::forkpty(&master_, nullptr, nullptr, nullptr);
        if (pid_ != 0) return;
        ::setenv("LC_ALL", "C.UTF-8", 1);
        ::setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(OSTRIVANE_CLI)};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(OSTRIVANE_CLI, argv.data());
        ::_exit(127);
    }
    ~Terminal() {
        if (master_ >= 0) ::close(master_);
    }
    // Reads the terminal until `text` appears after what an earlier call found.
    bool waitFor(const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            const auto at = seen_.find(text, consumed_);
            if (at != std::string::npos) {
                consumed_ = at + text.size();
                return true;
            }
            if (std::chrono::steady_clock::now() > deadline) return false;
            char buffer[256];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) return false;
            seen_.append(buffer, static_cast<std::size_t>(n));
        }
    }
    void type(const std::string& text) {
        ASSERT_EQ(::write(master_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    int status() { return Wait(pid_); }
    const std::string& seen() const { return seen_; }

  private:
    int master_ = -1;
    pid_t pid_ = -1;
    std::string seen_;
    std::size_t consumed_ = 0;
};

TEST_F(CliCopy, AsksOnATerminal) {
    tree.write("d1/c.txt", "older");
    tree.write("d2/c.txt", "older");
    {
        Terminal terminal({p("src/c.txt"), "--to", p("d1"), "--to", p("d2"), "--policy", "ask"},
                          work.root());
        ASSERT_TRUE(terminal.waitFor("File " + p("d1/c.txt") + " already exists. Overwrite? [y/N]"))
            << terminal.seen();
        terminal.type("y\n");
        ASSERT_TRUE(terminal.waitFor("File " + p("d2/c.txt") + " already exists. Overwrite? [y/N]"))
            << terminal.seen();
        terminal.type("n\n");
        EXPECT_TRUE(terminal.waitFor("Copy finished.")) << terminal.seen();
        EXPECT_EQ(terminal.status(), 0);
    }
    EXPECT_EQ(ReadFile(p("d1/c.txt")), "gamma");
    EXPECT_EQ(ReadFile(p("d2/c.txt")), "older");

    // The emptying warning: No deletes nothing and copies nothing, Yes empties and copies.
    const std::string warning = "Emptying (deleting) cannot be undone. Do you really want to "
                                "continue? [y/N]";
    for (const char* option : {"--empty-now", "--empty-first"}) {
        SCOPED_TRACE(option);
        Terminal terminal({p("src/data"), "--to", p("d1"), option}, work.root());
        ASSERT_TRUE(terminal.waitFor(warning)) << terminal.seen();
        terminal.type("n\n");
        EXPECT_EQ(terminal.status(), 2);
        EXPECT_EQ(Tree(p("d1")), std::set<std::string>{"c.txt"});
    }
    Terminal terminal({p("src/data"), "--to", p("d1"), "--empty-first"}, work.root());
    ASSERT_TRUE(terminal.waitFor(warning)) << terminal.seen();
    terminal.type("y\n");
    EXPECT_EQ(terminal.status(), 0);
    EXPECT_EQ(Tree(p("d1")), (std::set<std::string>{"data/", "data/a.txt", "data/sub/",
                                                    "data/sub/b.txt"}));
}

// A run onto a slow device stopped by a signal: status 3 at once, the file being copied
// nowhere (not under its name, no partial copy), the file copied before it complete.
TEST(CliInterrupt, ASignalStopsASlowRunLeavingNothingPartial) {
    std::unique_ptr<ostrivane::test::FaultFs> ffs;
    try {
        ffs = std::make_unique<ostrivane::test::FaultFs>();
    } catch (const ostrivane::test::MountUnavailable& unavailable) {
        GTEST_SKIP() << "cannot mount: " << unavailable.what();
    }
    TempTree src, work;
    src.write("a-small.txt", "small");
    src.write("b-big.bin", std::string(8 << 20, 'x'));
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal == SIGINT ? "SIGINT" : "SIGTERM");
        const std::string dest = "d" + std::to_string(signal);
        fs::create_directories(ffs->backing() + "/" + dest);
        ffs->arm("clear\nbandwidth 2097152");  // 2 MiB/s: the big file takes 4 s
        const long writesBefore = ffs->counter("write");
        const auto started = std::chrono::steady_clock::now();
        const pid_t pid = Start({src.path("a-small.txt"), src.path("b-big.bin"), "--to",
                                 ffs->path(dest), "--progress", "always"},
                                work.path("out"), work.path("err"), work.root(), {});
        // Signal once the big file is being written.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (ffs->counter("write") < writesBefore + 3 &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        const auto signalled = std::chrono::steady_clock::now();
        ::kill(pid, signal);
        EXPECT_EQ(Wait(pid), 3) << ReadFile(work.path("err"));
        EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(2));
        EXPECT_EQ(Tree(ffs->backing() + "/" + dest), std::set<std::string>{"a-small.txt"});
        EXPECT_EQ(ReadFile(ffs->backing() + "/" + dest + "/a-small.txt"), "small");
        const std::string err = ReadFile(work.path("err"));
        EXPECT_NE(err.find("Stopped"), std::string::npos) << err;
        // The abandoned copy is named, with the core's reason in English.
        EXPECT_NE(err.find(ffs->path(dest) + "/b-big.bin: stopped; the unfinished copy was discarded"),
                  std::string::npos)
            << err;
        // The display was drawn, at most 10 times a second, and erased again.
        std::size_t draws = 0;
        for (auto at = err.find("\r\033[K"); at != std::string::npos; at = err.find("\r\033[K", at + 1)) {
            ++draws;
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        EXPECT_GE(draws, 1u);
        EXPECT_LE(static_cast<double>(draws), seconds * 10 + 2) << draws << " in " << seconds << " s";
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Before any thread starts: mounts stay private to this process and its children.
    ostrivane::test::EnterPrivateMountNamespace();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
