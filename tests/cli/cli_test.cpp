// End-to-end tests of ostrivane-cli: the built program runs on temporary trees, with its
// standard input from /dev/null (NUL on Windows: no terminal) unless a test gives it a
// pseudo-terminal.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/content_hash.h"
#include "core/copy_run.h"
#include "core/fsops.h"
#include "core/temp_tree.h"
#ifndef _WIN32
#include "support/fault_fs.h"
#endif

namespace fs = std::filesystem;
namespace run_reason = ostrivane::run_reason;
using ostrivane::test::Exists;
using ostrivane::test::NativePath;
using ostrivane::test::ReadFile;
using ostrivane::test::TempTree;

namespace {

struct Outcome {
    int status = -1;
    std::string out, err;
};

using Env = std::map<std::string, std::string>;

// Every entry below `root` ("dir/" for folders, "/" between names on every platform),
// relative to it, in UTF-8.
std::set<std::string> Tree(const std::string& root) {
    std::set<std::string> names;
    const fs::path top = NativePath(root);
    if (!fs::exists(top)) return names;
    for (const auto& entry : fs::recursive_directory_iterator(top)) {
        const std::u8string relative = fs::relative(entry.path(), top).generic_u8string();
        std::string name(relative.begin(), relative.end());
        if (entry.is_directory()) name += "/";
        names.insert(name);
    }
    return names;
}

#ifdef _WIN32
// The environment variable that points the program at its settings folder.
constexpr const char* kSettingsHome = "APPDATA";

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                         nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
    return wide;
}

// One argument quoted as CommandLineToArgvW reads it back.
std::wstring Quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

// The program beside this test's build folder: tests\cli_test.exe and cli\ostrivane-cli.exe.
std::wstring ProgramPath() {
    wchar_t self[4096];
    const DWORD length = GetModuleFileNameW(nullptr, self, 4096);
    std::wstring path(self, length);
    path.erase(path.find_last_of(L"\\/"));
    return path + L"\\" + Wide(OSTRIVANE_CLI_RELATIVE);
}

struct Child {
    HANDLE process = nullptr;
    DWORD id = 0;
};

HANDLE OpenInheritable(const std::wstring& name, bool write) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return CreateFileW(name.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Starts the program with `args`; standard input from NUL, standard output and error to the
// given files, the locale English unless `env` says otherwise (an empty value removes the
// variable), and the settings read from `configHome`. `flags` go to CreateProcessW.
Child Start(const std::vector<std::string>& args, const std::string& outFile,
            const std::string& errFile, const std::string& configHome, const Env& env,
            DWORD flags = 0) {
    std::wstring commandLine = Quoted(ProgramPath());
    for (const std::string& arg : args) commandLine += L" " + Quoted(Wide(arg));

    // This process's environment with the test's changes, sorted by name as Windows wants.
    std::map<std::wstring, std::wstring> variables;
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) {
            const std::wstring text(entry);
            const auto equals = text.find(L'=', 1);
            if (equals != std::wstring::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
        }
        FreeEnvironmentStringsW(block);
    }
    Env changes{{"LANG", ""}, {"LC_MESSAGES", ""}, {"LC_ALL", "C.UTF-8"},
                {kSettingsHome, configHome}};
    for (const auto& [name, value] : env) changes[name] = value;
    for (const auto& [name, value] : changes) {
        // Names compare ignoring case on Windows.
        for (auto it = variables.begin(); it != variables.end();) {
            it = _wcsicmp(it->first.c_str(), Wide(name).c_str()) == 0 ? variables.erase(it)
                                                                      : std::next(it);
        }
        if (!value.empty()) variables[Wide(name)] = Wide(value);
    }
    std::wstring block;
    for (const auto& [name, value] : variables) block += name + L"=" + value + L'\0';
    block += L'\0';

    const HANDLE in = OpenInheritable(L"NUL", false);
    const HANDLE out = OpenInheritable(Wide(outFile), true);
    const HANDLE err = OpenInheritable(Wide(errFile), true);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in, startup.hStdOutput = out, startup.hStdError = err;
    PROCESS_INFORMATION started{};
    const BOOL ok = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                                   CREATE_UNICODE_ENVIRONMENT | flags, block.data(), nullptr, &startup,
                                   &started);
    for (const HANDLE handle : {in, out, err}) {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    if (!ok) return Child{};
    CloseHandle(started.hThread);
    return Child{started.hProcess, started.dwProcessId};
}

// The exit status, or -1 when it did not start or did not end within `seconds` (it is then
// ended).
int Wait(Child child, double seconds = 20) {
    if (child.process == nullptr) return -1;
    DWORD status = 0;
    if (WaitForSingleObject(child.process, static_cast<DWORD>(seconds * 1000)) != WAIT_OBJECT_0) {
        TerminateProcess(child.process, 255);
        WaitForSingleObject(child.process, INFINITE);
        CloseHandle(child.process);
        return -1;
    }
    GetExitCodeProcess(child.process, &status);
    CloseHandle(child.process);
    return static_cast<int>(status);
}
#else
constexpr const char* kSettingsHome = "XDG_CONFIG_HOME";

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
    ::setenv(kSettingsHome, configHome.c_str(), 1);
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
#endif

class Cli : public testing::Test {
  protected:
    Outcome run(const std::vector<std::string>& args, const Env& env = {}) {
        Outcome outcome;
        outcome.status = Wait(Start(args, work.path("out"), work.path("err"), work.root(), env));
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
    fs::remove_all(NativePath(p("t")));
    tree.mkdir("t/A/A1");
    EXPECT_EQ(run({p("src/c.txt"), "--to-tree", p("t"), "--policy", "skip"}).status, 0);
    EXPECT_EQ(Tree(p("t")), (std::set<std::string>{"c.txt", "A/", "A/c.txt", "A/A1/",
                                                   "A/A1/c.txt"}));
    // A missing folder is named as such; a colon before the last separator (a Windows
    // drive) is not taken for a depth.
    const Outcome missing = run({p("src/c.txt"), "--to-tree", p("none")});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find(p("none") + ": not a folder"), std::string::npos) << missing.err;
#ifndef _WIN32
    // A folder whose name holds a colon is taken whole (Windows names hold no colon).
    tree.mkdir("t:2");
    EXPECT_EQ(run({p("src/c.txt"), "--to-tree", p("t:2")}).status, 0);
    EXPECT_TRUE(Exists(p("t:2/c.txt")));
#endif
}

TEST_F(CliCopy, BadInputPrintsOneLineAndCopiesNothing) {
    tree.write("file-not-folder", "x");
#ifdef _WIN32
    const std::string root = tree.root().substr(0, 3);  // the drive, "C:\\"
    const std::string up = p("..") + "\\..\\..\\..\\..\\..\\..\\..\\..";
#else
    const std::string root = "/";
    const std::string up = p("..") + "/../../../../../../../..";
#endif
    const std::vector<std::vector<std::string>> cases = {
        {p("src/c.txt"), "--to", p("d1"), "--no-such-option"},
        {p("src/c.txt"), "--sources-list", p("missing.lst"), "--to", p("d1")},
        {p("src/c.txt")},
        {"--to", p("d1")},
        {p("src/c.txt"), "--to-tree", p("d1") + ":two"},
        {p("src/c.txt"), "--to-tree", p("d1") + ":"},
        // A depth is decimal digits, 0 or more: the destination d2 beside it is not copied to.
        {p("src/c.txt"), "--to", p("d2"), "--to-tree", p("d1") + ":-1"},
        {p("src/c.txt"), "--to", p("d2"), "--to-tree", p("d1") + ":0x2"},
        {p("src/c.txt"), "--to", p("d2"), "--to-tree", p("d1") + ": 1"},
        {p("src/c.txt"), "--to", p("d2"), "--to-tree", p("d1") + ":+1"},
        {p("src/missing.txt"), p("src/c.txt"), "--to", p("d1")},
        {p("src/c.txt"), "--to", p("d1"), "--to", p("file-not-folder")},
        {p("src/c.txt"), "--to", p("d1"), "--to", root},
        {p("src/c.txt"), "--to", p("d1"), "--to", up},
        {root, "--to", p("d1")},
        {p("src/c.txt"), "--to-tree", p("no-such-folder")},
        {p("src/c.txt"), "--to", p("d1"), "--policy", "sometimes"},
        {p("src/c.txt"), "--to", p("d1"), "--policy", "ask"},
        {p("src/c.txt"), "--to", p("d1"), "--empty-first"},
        {"--to", p("d1"), "--empty-now"},
        {p("src/c.txt"), "--to", p("d1"), "--empty-now", "--empty-first", "--yes"},
        {p("src/c.txt"), "--to", p("d1"), "--report", p("no/such/folder/r.csv")},
        {p("src/c.txt"), "--to", p("d1"), "--writers", "0"},
        {p("src/c.txt"), "--to", p("d1"), "--writers", ""},
        {p("src/c.txt"), "--to", p("d1"), "--writers", "0x10"},
        {p("src/c.txt"), "--to", p("d1"), "--progress", "sometimes"},
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
    // destination a folder of that name stands in the way of its copy. (Windows names hold
    // no quote and no line break, and are always Unicode: there a comma and characters
    // outside the code page.)
#ifdef _WIN32
    const std::string odd = "we ird, \xE5\x90\x8D\xCE\xB1.txt";
    const std::string quoted = "\"" + p("d1/") + odd + "\",";
    const long reportLines = 2;
#else
    const std::string odd = "we\"ird, na\nme\xff.txt";
    const std::string quoted = "\"" + p("d1/") + "we\"\"ird, na\nme\xEF\xBF\xBD.txt\",";
    const long reportLines = 3;  // header, row with a break
#endif
    tree.write("src/" + odd, "odd");
    tree.mkdir("d1/" + odd);
    const Outcome outcome = run({p("src/" + odd), p("src/c.txt"), "--to", p("d1"), "--policy",
                                 "overwrite", "--report", work.path("report.csv")});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(ReadFile(p("d1/c.txt")), "gamma");  // the run went on
    EXPECT_NE(outcome.err.find("not done (1):"), std::string::npos) << outcome.err;
    EXPECT_NE(outcome.err.find(p("d1/" + odd)), std::string::npos);
    const std::string report = ReadFile(work.path("report.csv"));
    EXPECT_EQ(report.rfind("path,reason\n" + quoted, 0), 0u) << report;
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), reportLines) << report;

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

#ifdef _WIN32
// The path with every "\" written as "/", as a user may type it.
std::string Slashed(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

// On Windows "/" separates as "\" does: sources and destinations so spelled are copied under
// their own names, and a list file's line with "/" is the same entry as with "\". "/" is the
// root of the current drive: refused for copying and emptying alike, as every spelling of a
// drive root, and nothing claims to have been deleted.
TEST_F(CliCopy, SlashesSeparateAndEveryDriveRootSpellingIsRefused) {
    const Outcome slashed =
        run({Slashed(p("src/c.txt")), Slashed(p("src/data")), "--to", Slashed(p("d1"))});
    EXPECT_EQ(slashed.status, 0) << slashed.err;
    EXPECT_EQ(Tree(p("d1")), copied);
    tree.write("sources.lst", Slashed(p("src/c.txt")) + "\r\n" + p("src/c.txt") + "\r\n");
    const Outcome listed =
        run({"--sources-list", p("sources.lst"), "--to", p("d2"), "--policy", "number"});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(Tree(p("d2")), std::set<std::string>{"c.txt"});
    for (const char* root : {"/", "\\", "C:", "C:/", "C:\\", "\\\\?\\C:\\"}) {
        const Outcome emptied = run({"--empty-now", "--yes", "--to", root});
        EXPECT_EQ(emptied.status, 2) << root;
        EXPECT_NE(emptied.err.find("refused: the whole drive"), std::string::npos) << emptied.err;
        EXPECT_EQ(emptied.out, "") << root;
        const Outcome copy = run({p("src/c.txt"), "--to", root});
        EXPECT_EQ(copy.status, 2) << root << copy.err;
    }
    // A drive named by its letter alone is shown with its separator, the colon not doubled.
    const Outcome letter = run({p("src/c.txt"), "--to", "C:"});
    EXPECT_NE(letter.err.find("C:\\: refused"), std::string::npos) << letter.err;
    EXPECT_EQ(letter.err.find("C::"), std::string::npos) << letter.err;
}
#endif

#ifndef _WIN32
// The system's reasons come in the run's language too: GNU's LANGUAGE list (set on many
// Chinese desktops) does not turn them Chinese in an English run.
TEST_F(CliCopy, SystemReasonsFollowTheRunsLanguageNotLanguageLists) {
    // A name of 255 bytes already there: its numbered form is too long a name.
    const std::string name = std::string(251, 'n') + ".txt";
    tree.write("src/" + name, "new");
    tree.write("d1/" + name, "old");
    const Outcome english =
        run({p("src/" + name), "--to", p("d1"), "--policy", "number"}, {{"LANGUAGE", "zh_CN:zh"}});
    EXPECT_EQ(english.status, 1);
    EXPECT_NE(english.err.find(p("d1/" + name) + ": " + std::strerror(ENAMETOOLONG) + "\n"),
              std::string::npos)
        << english.err;
    EXPECT_TRUE(std::all_of(english.err.begin(), english.err.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x80;
    })) << english.err;
}
#endif

// An entry of the other kind in the way is named in the run's language: a folder where a
// file goes, and a file where a folder goes, with one line for that folder and the number of
// files it held instead of a line for each of them.
TEST_F(CliCopy, AnEntryOfTheOtherKindInTheWayIsNamed) {
    tree.mkdir("d1/c.txt");
    tree.write("d1/data", "a file");
    for (const char* policy : {"overwrite", "number"}) {
        const Outcome outcome =
            run({p("src/c.txt"), p("src/data"), "--to", p("d1"), "--policy", policy});
        EXPECT_EQ(outcome.status, 1) << policy;
        EXPECT_NE(outcome.err.find(p("d1/c.txt") + ": a folder of that name is in the way\n"),
                  std::string::npos)
            << outcome.err;
        EXPECT_NE(outcome.err.find(p("d1/data") +
                                   ": a file of that name is in the way; files it held, not "
                                   "copied: 2\n"),
                  std::string::npos)
            << outcome.err;
        EXPECT_EQ(outcome.err.find("b.txt"), std::string::npos) << outcome.err;
        EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 3) << outcome.err;
    }
    const Outcome chinese =
        run({p("src/c.txt"), p("src/data"), "--to", p("d1"), "--policy", "overwrite"},
            {{"LC_ALL", "zh_CN.UTF-8"}});
    EXPECT_NE(chinese.err.find(p("d1/c.txt") + ": " + run_reason::kFolderInTheWay),
              std::string::npos)
        << chinese.err;
    EXPECT_NE(chinese.err.find(std::string(run_reason::kFileInTheWay) +
                               run_reason::kFilesNotCopiedInside + "2"),
              std::string::npos)
        << chinese.err;
    EXPECT_EQ(ReadFile(p("d1/data")), "a file");
}

// --verify counts what it read back; --checksum-file lists every copied file's XXH3-128 by
// its path in a destination, which xxhsum checks there, and which catches a copy changed
// later.
TEST_F(CliCopy, VerifiedRunAndAChecksumFileThatXxhsumChecksInEveryDestination) {
    const std::string sums = work.path("sums.xxh");
    const Outcome outcome = run({p("src/data"), p("src/c.txt"), "--to", p("d1"), "--to", p("d2"),
                                 "--verify", "--checksum-file", sums});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_NE(outcome.out.find("; copies verified: 6"), std::string::npos) << outcome.out;
    const std::string sep(1, ostrivane::platform::kSeparator);
    // xxhsum -H2 of "gamma", "alpha" and "beta".
    EXPECT_EQ(ReadFile(sums), ostrivane::HashOf("gamma", 5).hex() + "  c.txt\n" +
                                  ostrivane::HashOf("alpha", 5).hex() + "  data" + sep + "a.txt\n" +
                                  ostrivane::HashOf("beta", 4).hex() + "  data" + sep + "sub" +
                                  sep + "b.txt\n");
#ifndef _WIN32
    const auto check = [&](const std::string& folder) {
        const std::string command = "cd '" + folder + "' && xxhsum -H2 -c '" + sums + "' > '" +
                                    work.path("check") + "' 2>&1";
        return std::system(command.c_str());
    };
    if (std::system("command -v xxhsum > /dev/null") != 0) GTEST_SKIP() << "no xxhsum";
    EXPECT_EQ(check(p("d1")), 0) << ReadFile(work.path("check"));
    EXPECT_EQ(check(p("d2")), 0) << ReadFile(work.path("check"));
    tree.write("d2/data/sub/b.txt", "Beta");
    EXPECT_NE(check(p("d2")), 0);
    EXPECT_NE(ReadFile(work.path("check")).find("data/sub/b.txt: FAILED"), std::string::npos)
        << ReadFile(work.path("check"));
    // A name with a line break cannot be listed for xxhsum: it is left out with a note.
    tree.write("src/two\nlines.txt", "x");
    const Outcome odd = run({p("src/two\nlines.txt"), p("src/c.txt"), "--to", p("d1"), "--policy",
                             "overwrite", "--checksum-file", sums});
    EXPECT_EQ(odd.status, 0) << odd.err;
    EXPECT_NE(odd.err.find("is not listed"), std::string::npos) << odd.err;
    EXPECT_EQ(ReadFile(sums), ostrivane::HashOf("gamma", 5).hex() + "  c.txt\n");
#endif
    // Without --verify nothing is said of verification.
    const Outcome plain = run({p("src/c.txt"), "--to", p("d1"), "--policy", "overwrite"});
    EXPECT_EQ(plain.out.find("verified"), std::string::npos) << plain.out;
}

// A report the run could overwrite, copy or delete: refused before it is created, whatever
// the spelling or link that leads there; nothing copied, the source untouched.
TEST_F(CliCopy, AReportOnASourceOrInsideASourceOrADestinationIsRefused) {
    tree.write("d2/keep.txt", "kept");
    tree.mkdir("d1/sub");
    std::vector<std::vector<std::string>> cases = {
        {p("src/c.txt"), "--to", p("d1"), "--report", p("src/c.txt")},
        {p("src/c.txt"), "--to", p("d1"), "--report", p("src/../src/c.txt")},
        {p("src/data"), "--to", p("d1"), "--report", p("src/data/r.csv")},
        {p("src/data"), "--to", p("d1"), "--report", p("src/data/sub/b.txt")},
        {p("src/c.txt"), "--to", p("d2"), "--empty-first", "--yes", "--report", p("d2/r.csv")},
        {p("src/c.txt"), "--to", p("d2"), "--to", p("d1"), "--report", p("d1/sub/r.csv")},
        {"--to", p("d2"), "--empty-now", "--yes", "--report", p("d2/keep.txt")},
    };
#ifndef _WIN32
    // Through links: to the source file, to a destination, and a destination listed as one.
    ASSERT_EQ(::symlink(p("src/c.txt").c_str(), p("c-link").c_str()), 0);
    ASSERT_EQ(::symlink(p("d2").c_str(), p("d2-link").c_str()), 0);
    cases.push_back({p("src/c.txt"), "--to", p("d1"), "--report", p("c-link")});
    cases.push_back({p("src/c.txt"), "--to", p("d1"), "--to", p("d2"), "--report",
                     p("d2-link/r.csv")});
    cases.push_back({p("src/c.txt"), "--to", p("d2-link"), "--report", p("d2/r.csv")});
#endif
    for (const auto& args : cases) {
        std::string line;
        for (const auto& arg : args) line += arg + " ";
        SCOPED_TRACE(line);
        const Outcome outcome = run(args);
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
        EXPECT_NE(outcome.err.find("--report"), std::string::npos) << outcome.err;
        EXPECT_EQ(ReadFile(p("src/c.txt")), "gamma");
        EXPECT_EQ(ReadFile(p("src/data/sub/b.txt")), "beta");
        EXPECT_FALSE(Exists(p("src/data/r.csv")));
        EXPECT_EQ(Tree(p("d1")), std::set<std::string>{"sub/"});
        EXPECT_EQ(Tree(p("d2")), std::set<std::string>{"keep.txt"});
        EXPECT_EQ(ReadFile(p("d2/keep.txt")), "kept");
    }
}

// A checksum file the run could copy, overwrite or delete, or one that cannot go where it
// is named (anything but a regular file or a new name, a place that takes no file): refused
// before anything is copied, with status 2 and one line, and what stands there is left as
// it was.
TEST_F(CliCopy, AChecksumFileIsRefusedBeforeTheRunWhereItCannotOrMustNotGo) {
    tree.write("src/sums.xxh", "a source of that name");
    tree.mkdir("other");
    tree.mkdir("d1/sub");
    const std::string report = work.path("r.csv");
    struct Case {
        std::vector<std::string> args;
        std::string why;
    };
    std::vector<Case> cases = {
        {{p("src/c.txt"), "--to", p("d1"), "--checksum-file", p("src/c.txt")}, "is the source"},
        {{p("src/c.txt"), "--to", p("d1"), "--checksum-file", p("src/../src/c.txt")},
         "is the source"},
        {{p("src/data"), "--to", p("d1"), "--checksum-file", p("src/data/sums.xxh")},
         "inside the source folder"},
        // Where a source of that name (or a numbered copy of any) would land.
        {{p("src/sums.xxh"), p("src/c.txt"), "--to", p("d1"), "--checksum-file", p("d1/sums.xxh")},
         "inside the destination folder"},
        {{p("src/c.txt"), "--to", p("d2"), "--to", p("d1"), "--checksum-file", p("d1/sub/c_1.txt")},
         "inside the destination folder"},
        {{p("src/c.txt"), "--to", p("d1"), "--checksum-file", p("other")}, "is a folder"},
        {{p("src/c.txt"), "--to", p("d1"), "--checksum-file", p("other") + "/"}, "is a folder"},
        {{p("src/c.txt"), "--to", p("d1"), "--checksum-file", p("none/sums.xxh")},
         "cannot be written there"},
        {{p("src/c.txt"), "--to", p("d1"), "--report", report, "--checksum-file", report},
         "is the report file"},
        {{p("src/c.txt"), "--to", p("d1"), "--report", report, "--checksum-file",
          work.path("./r.csv")},
         "is the report file"},
    };
#ifndef _WIN32
    // A device, a FIFO, links (to a file, a folder, a device, nowhere), a hard link to a
    // source. Root (whose rename could replace /dev/null itself, were the check gone) gets
    // a twin of /dev/null of its own in the tree; anybody else cannot replace an entry of
    // /dev.
    const std::string device = ::geteuid() == 0 ? p("null") : "/dev/null";
    if (::geteuid() == 0) {
        ASSERT_EQ(::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    }
    ASSERT_EQ(::mkfifo(p("fifo").c_str(), 0600), 0);
    ASSERT_EQ(::symlink(p("other/x").c_str(), p("dangling").c_str()), 0);
    ASSERT_EQ(::symlink(p("other").c_str(), p("folder-link").c_str()), 0);
    ASSERT_EQ(::symlink(device.c_str(), p("null-link").c_str()), 0);
    tree.write("file", "stays");
    ASSERT_EQ(::symlink(p("file").c_str(), p("file-link").c_str()), 0);
    ASSERT_EQ(::link(p("src/c.txt").c_str(), p("hard").c_str()), 0);
    for (const auto& [path, why] : std::vector<std::pair<std::string, std::string>>{
             {device, "neither a regular file nor a new name"},
             {p("fifo"), "neither a regular file nor a new name"},
             {p("dangling"), "symbolic link"},
             {p("folder-link"), "symbolic link"},
             {p("null-link"), "symbolic link"},
             {p("file-link"), "symbolic link"},
             {p("hard"), "is the source"}}) {
        cases.push_back({{p("src/c.txt"), "--to", p("d1"), "--checksum-file", path}, why});
    }
    // A folder that takes no new file, a file that may not be written (root may write both).
    tree.mkdir("locked");
    tree.write("readonly.xxh", "stays");
    ASSERT_EQ(::chmod(p("locked").c_str(), 0555), 0);
    ASSERT_EQ(::chmod(p("readonly.xxh").c_str(), 0444), 0);
    if (::geteuid() != 0) {
        cases.push_back({{p("src/c.txt"), "--to", p("d1"), "--checksum-file", p("locked/s.xxh")},
                         "cannot be written there: Permission denied"});
        cases.push_back({{p("src/c.txt"), "--to", p("d1"), "--checksum-file", p("readonly.xxh")},
                         "cannot be written there: Permission denied"});
    }
#endif
    for (const Case& c : cases) {
        std::string line;
        for (const auto& arg : c.args) line += arg + " ";
        SCOPED_TRACE(line);
        const Outcome outcome = run(c.args);
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
        EXPECT_NE(outcome.err.find("--checksum-file"), std::string::npos) << outcome.err;
        EXPECT_NE(outcome.err.find(c.why), std::string::npos) << outcome.err;
        EXPECT_EQ(Tree(p("d1")), std::set<std::string>{"sub/"});
        EXPECT_EQ(Tree(p("d2")), std::set<std::string>{});
        EXPECT_EQ(ReadFile(p("src/c.txt")), "gamma");
        EXPECT_EQ(ReadFile(p("src/sums.xxh")), "a source of that name");
        EXPECT_FALSE(Exists(report));  // not even the report was created
        EXPECT_EQ(Tree(p("other")), std::set<std::string>{});
    }
#ifndef _WIN32
    struct stat st;
    ASSERT_EQ(::stat(device.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    ASSERT_EQ(::lstat(p("fifo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(ReadFile(p("file")), "stays");
    EXPECT_EQ(ReadFile(p("readonly.xxh")), "stays");
    ASSERT_EQ(::lstat(p("dangling").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(Tree(p("locked")), std::set<std::string>{});
    ::chmod(p("locked").c_str(), 0755);
#endif
    // A regular file of the user's and a new name are taken.
    tree.write("old.xxh", "older list");
    for (const std::string& sums : {p("old.xxh"), p("new.xxh")}) {
        const Outcome outcome = run(
            {p("src/c.txt"), "--to", p("d1"), "--policy", "overwrite", "--checksum-file", sums});
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_EQ(ReadFile(sums), ostrivane::HashOf("gamma", 5).hex() + "  c.txt\n");
    }
}

// The checksum file holds only what is true in every destination: a name that one
// destination kept, or that a copy there was numbered away from, is left out (under both
// names), and the run says how many and why; xxhsum then checks the list in every
// destination without a fault.
TEST_F(CliCopy, TheChecksumFileHoldsWhatIsTrueInEveryDestination) {
    const std::string sums = work.path("sums.xxh");
    const std::string sep(1, ostrivane::platform::kSeparator);
    const std::string dataLines = ostrivane::HashOf("alpha", 5).hex() + "  data" + sep + "a.txt\n" +
                                  ostrivane::HashOf("beta", 4).hex() + "  data" + sep + "sub" +
                                  sep + "b.txt\n";
    for (const std::string policy : {"number", "skip"}) {
        SCOPED_TRACE(policy);
        fs::remove_all(NativePath(p("d1")));
        fs::remove_all(NativePath(p("d2")));
        tree.mkdir("d1");
        tree.write("d2/c.txt", "older");
        const Outcome outcome =
            run({p("src/data"), p("src/c.txt"), "--to", p("d1"), "--to", p("d2"), "--policy",
                 policy, "--verify", "--checksum-file", sums});
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        EXPECT_EQ(ReadFile(sums), dataLines);
        // Under number, c.txt (d1) and c_1.txt (d2); under skip, c.txt (d1 only).
        const std::string count = policy == "number" ? "2" : "1";
        EXPECT_NE(outcome.err.find("checksum file: " + count +
                                   " files not listed: not copied under that name into every "
                                   "destination"),
                  std::string::npos)
            << outcome.err;
#ifndef _WIN32
        if (std::system("command -v xxhsum > /dev/null") != 0) continue;
        for (const std::string& folder : {p("d1"), p("d2")}) {
            const std::string command = "cd '" + folder + "' && xxhsum -H2 -c '" + sums + "' > '" +
                                        work.path("check") + "' 2>&1";
            EXPECT_EQ(std::system(command.c_str()), 0) << folder << ReadFile(work.path("check"));
        }
#endif
    }
    // The note in Chinese under a Chinese locale (d2 keeps its c.txt again).
    fs::remove_all(NativePath(p("d1")));
    tree.mkdir("d1");
    const Outcome chinese = run({p("src/c.txt"), "--to", p("d1"), "--to", p("d2"), "--policy",
                                 "skip", "--checksum-file", sums},
                                {{"LC_ALL", "zh_CN.UTF-8"}});
    EXPECT_EQ(chinese.status, 0) << chinese.err;
    EXPECT_NE(chinese.err.find("校验文件：有 1 个文件未列入：并非以该名称复制到每个目标文件夹"),
              std::string::npos)
        << chinese.err;
    // The same copies in every destination: everything listed, nothing said.
    fs::remove_all(NativePath(p("d1")));
    fs::remove_all(NativePath(p("d2")));
    tree.mkdir("d1");
    tree.mkdir("d2");
    const Outcome alike = run(
        {p("src/data"), p("src/c.txt"), "--to", p("d1"), "--to", p("d2"), "--checksum-file", sums});
    EXPECT_EQ(alike.status, 0) << alike.err;
    EXPECT_EQ(alike.err, "");
    EXPECT_EQ(ReadFile(sums), ostrivane::HashOf("gamma", 5).hex() + "  c.txt\n" + dataLines);
}

// Every reason is English under an English locale, the most common first: a link to a
// folder inside a source folder, which is not followed; on standard error and in the
// report. Under a Chinese locale it stays the window's.
TEST_F(CliCopy, ReasonsAreInTheLanguageOfTheMessages) {
#ifndef _WIN32
    ASSERT_EQ(::symlink(p("d2").c_str(), p("src/data/elsewhere").c_str()), 0);
    const std::string english = "not copied: a link to a folder elsewhere";
    const std::string chinese = "未复制：这是指向其他位置的文件夹链接";
    const Outcome outcome = run({p("src/data"), "--to", p("d1"), "--report", work.path("r.csv")});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find(p("src/data/elsewhere") + ": " + english), std::string::npos)
        << outcome.err;
    EXPECT_EQ(outcome.err.find(chinese), std::string::npos) << outcome.err;
    EXPECT_NE(ReadFile(work.path("r.csv")).find(english), std::string::npos);
    const Outcome inChinese = run({p("src/data"), "--to", p("d2"), "--report", work.path("r.csv")},
                                  {{"LC_ALL", "zh_CN.UTF-8"}});
    EXPECT_EQ(inChinese.status, 1);
    EXPECT_NE(inChinese.err.find(p("src/data/elsewhere") + ": " + chinese), std::string::npos)
        << inChinese.err;
    EXPECT_NE(ReadFile(work.path("r.csv")).find(chinese), std::string::npos);
#else
    GTEST_SKIP() << "links to folders need privileges on Windows";
#endif
}

// One folder named in several spellings is one destination, one source in several
// spellings one source; a link to a source folder is a source of its own (it is copied
// under its own name).
TEST_F(CliCopy, OneFolderInSeveralSpellingsIsCopiedIntoOnce) {
    const Outcome outcome =
        run({p("src/c.txt"), p("src/data"), p("src/data/"), p("src/../src/data"), "--to",
             p("d1"), "--to", p("d1") + "/", "--to", p("d1") + "//", "--to", p("src/../d1"),
             "--to", p("d1/."), "--to-tree", p("d1") + ":0", "-p", "number"});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    // Under "number" a second copy would leave c_1.txt and data/a_1.txt.
    EXPECT_EQ(Tree(p("d1")), copied);
#ifndef _WIN32
    ASSERT_EQ(::symlink(p("src/data").c_str(), p("data-link").c_str()), 0);
    EXPECT_EQ(run({p("src/data"), p("data-link"), "--to", p("d2")}).status, 0);
    EXPECT_EQ(Tree(p("d2")), (std::set<std::string>{"data/", "data/a.txt", "data/sub/",
                                                    "data/sub/b.txt", "data-link/",
                                                    "data-link/a.txt", "data-link/sub/",
                                                    "data-link/sub/b.txt"}));
#endif
}

TEST_F(CliCopy, ThePolicyTheWindowStoredIsTheDefault) {
    tree.write("d1/c.txt", "older");
    tree.write("d2/c.txt", "older");
#ifdef _WIN32
    const std::string settings = work.path("Ostrivane/Quillmere.ini");  // below %APPDATA%
#else
    const std::string settings = work.path("Quillmere.ini");
#endif
    work.write(settings.substr(work.root().size() + 1), "[Parameter]\nSameFile=2\n");
    EXPECT_EQ(run({p("src/c.txt"), "--to", p("d1")}).status, 0);
    EXPECT_EQ(ReadFile(p("d1/c.txt")), "older");  // skip
    EXPECT_EQ(run({p("src/c.txt"), "--to", p("d1"), "--policy", "overwrite"}).status, 0);
    EXPECT_EQ(ReadFile(p("d1/c.txt")), "gamma");
    // No settings: number.
    fs::remove(NativePath(settings));
    EXPECT_EQ(run({p("src/c.txt"), "--to", p("d2")}).status, 0);
    EXPECT_EQ(ReadFile(p("d2/c.txt")), "older");
    EXPECT_EQ(ReadFile(p("d2/c_1.txt")), "gamma");
    EXPECT_FALSE(Exists(settings));  // read, never written
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

// Windows: no mode bits to take away (and Wine runs the tests as root, who enters all).
#ifndef _WIN32
TEST_F(CliCopy, AFolderThatCannotBeEnteredEndsTheRunWithStatusFour) {
    if (!ostrivane::test::PermissionsApply()) GTEST_SKIP() << "root enters every folder";
    ASSERT_EQ(::chmod(p("src/data/sub").c_str(), 0), 0);
    const Outcome outcome = run({p("src/data"), "--to", p("d1"), "--report", work.path("r.csv")});
    ::chmod(p("src/data/sub").c_str(), 0755);
    EXPECT_EQ(outcome.status, 4);
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(ReadFile(work.path("r.csv")), "path,reason\n");

    // Failures before that folder are still listed and reported, then its error.
    tree.mkdir("d2/c.txt");  // stands in the way of the copy of c.txt
    ASSERT_EQ(::chmod(p("src/data/sub").c_str(), 0), 0);
    const Outcome after = run({p("src/c.txt"), p("src/data"), "--to", p("d2"), "--policy",
                               "overwrite", "--report", work.path("r.csv")});
    ::chmod(p("src/data/sub").c_str(), 0755);
    EXPECT_EQ(after.status, 4);
    const size_t listed = after.err.find(p("d2/c.txt"));
    EXPECT_NE(listed, std::string::npos) << after.err;
    EXPECT_GT(after.err.find("File access denied"), listed) << after.err;
    const std::string report = ReadFile(work.path("r.csv"));
    EXPECT_EQ(report.rfind("path,reason\n" + p("d2/c.txt") + ",", 0), 0u) << report;
    EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 2) << report;
}

// A list file from an anonymous pipe (standard input here, as "<(...)" or "cmd |" give it) is
// read to its end; a named FIFO is still refused at once, as it might never get a writer.
TEST_F(CliCopy, AListFileMayComeFromAPipeButNotFromANamedFifo) {
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    const std::string lines = p("src/c.txt") + "\n" + p("src/data") + "\n";
    ASSERT_EQ(::write(pipeFds[1], lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
    ::close(pipeFds[1]);
    const pid_t pid = Start({"--sources-list", "/dev/stdin", "--to", p("d1")}, work.path("out"),
                            work.path("err"), work.root(), {}, pipeFds[0]);
    ::close(pipeFds[0]);
    EXPECT_EQ(Wait(pid), 0) << ReadFile(work.path("err"));
    EXPECT_EQ(Tree(p("d1")), copied);

    ASSERT_EQ(::mkfifo(p("fifo").c_str(), 0600), 0);
    const auto started = std::chrono::steady_clock::now();
    const Outcome fifo = run({"--sources-list", p("fifo"), "--to", p("d2")});
    EXPECT_EQ(fifo.status, 2) << fifo.err;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(Tree(p("d2")), std::set<std::string>{});
}
#endif

#ifndef _WIN32
// With --empty-first every source is walked before anything is deleted: a folder that cannot
// be entered ends the run with status 4, named in the error, and no destination is touched.
TEST_F(CliCopy, EmptyFirstNamesAFolderThatCannotBeEnteredAndDeletesNothing) {
    if (!ostrivane::test::PermissionsApply()) GTEST_SKIP() << "root enters every folder";
    tree.write("src/data/sub/locked/x", "x");
    const std::vector<std::string> destinations = {"d1", "d2", "d3"};
    for (const std::string& d : destinations) tree.write(d + "/old.txt", "old");
    ASSERT_EQ(::chmod(p("src/data/sub/locked").c_str(), 0), 0);
    const Outcome outcome = run({p("src/c.txt"), p("src/data"), "--to", p("d1"), "--to", p("d2"),
                                 "--to", p("d3"), "--empty-first", "--yes"});
    ::chmod(p("src/data/sub/locked").c_str(), 0755);
    EXPECT_EQ(outcome.status, 4);
    EXPECT_EQ(outcome.err, "ostrivane-cli: cannot enter the folder " + p("src/data/sub/locked") +
                               ": File access denied\n");
    for (const std::string& d : destinations)
        EXPECT_EQ(Tree(p(d)), std::set<std::string>{"old.txt"}) << d;
}

// A destination that was there when the run began and is gone when it is written into is
// reported in words of its own, in English too (here the emptying of a removed a/b, which
// the destination a/b/../c was reached through).
TEST_F(CliCopy, DestinationGoneSinceTheStartIsReportedInEnglish) {
    tree.mkdir("a/b");
    tree.mkdir("a/c");
    const Outcome outcome = run({p("src/c.txt"), "--to", p("a"), "--to", p("a/b/../c"),
                                 "--empty-first", "--yes"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find(p("a/b/../c/") + ": deleted or moved away after the run began\n"),
              std::string::npos)
        << outcome.err;
    EXPECT_NE(outcome.err.find(p("a/b/../c/c.txt") +
                               ": the destination folder was deleted or replaced after the run "
                               "began; nothing written\n"),
              std::string::npos)
        << outcome.err;
    EXPECT_FALSE(Exists(p("a/b")));
}
#endif

// Names outside every single-byte code page reach the program as arguments and in list
// files, and are copied as they are.
TEST_F(CliCopy, NamesOutsideTheCodePageArriveIntact) {
    const std::string name = "\xE7\x9B\xAE\xE5\xBD\x95-\xCE\xB5\xCE\xBB";  // 目录-ελ
    tree.write("src/" + name + "/f-" + name + ".txt", "utf8");
    tree.mkdir("d-" + name);
    tree.write("dirs.lst", p("d1") + "\r\n");
    const Outcome outcome = run({p("src/" + name), "--to", p("d-" + name), "--destinations-list",
                                 p("dirs.lst"), "--report", work.path("r-" + name + ".csv")});
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    const std::set<std::string> copied{name + "/", name + "/f-" + name + ".txt"};
    EXPECT_EQ(Tree(p("d-" + name)), copied);
    EXPECT_EQ(Tree(p("d1")), copied);
    EXPECT_EQ(ReadFile(p("d1/" + name + "/f-" + name + ".txt")), "utf8");
    EXPECT_EQ(ReadFile(work.path("r-" + name + ".csv")), "path,reason\n");
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
    // What the argument parser refuses is said in the language too.
    const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
        {{p("src/c.txt"), "--to", p("d1"), "--no-such-option"}, "无法识别的参数：--no-such-option"},
        {{p("src/c.txt"), "--to"}, "--to：缺少值"},
        {{p("src/c.txt"), "--to", p("d1"), "--policy", "sometimes"}, "--policy：“sometimes”不是可选的值"},
        {{p("src/c.txt"), "--to", p("d1"), "-j", "4x"}, "--writers：“4x”不是 1 到 1024 之间的整数"},
    };
    for (const auto& [args, expected] : refused) {
        const Outcome outcome = run(args, {{"LC_ALL", "zh_CN.UTF-8"}});
        EXPECT_EQ(outcome.status, 2);
        EXPECT_NE(outcome.err.find(expected), std::string::npos) << outcome.err;
    }
}

// Windows: a console cannot be driven from a test under Wine (and there is no pseudo-
// terminal); the signal test needs the FUSE fault file system. The console's Windows code
// (control handler, wide console input) is not run by a test.
#ifndef _WIN32
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
    // A program still running (a test that failed on the way) is killed.
    ~Terminal() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) ::close(master_);
    }
    // Reads the terminal until `text` appears after what an earlier call found; false after
    // 10 seconds without it.
    bool waitFor(const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            const auto at = seen_.find(text, consumed_);
            if (at != std::string::npos) {
                consumed_ = at + text.size();
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd readable{master_, POLLIN, 0};
            if (::poll(&readable, 1, static_cast<int>(left.count())) <= 0) continue;
            char buffer[256];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) return false;
            seen_.append(buffer, static_cast<std::size_t>(n));
        }
    }
    void type(const std::string& text) {
        ASSERT_EQ(::write(master_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    // The exit status, or -1 when the program did not end within 20 seconds (it is killed).
    int status() {
        const int status = Wait(pid_);
        pid_ = -1;
        return status;
    }
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

// The checksum file's place is looked at again when the list is written: what took its
// name during the run (here a FIFO, while a question waited) is neither replaced nor
// written into; the run ends with status 1.
TEST_F(CliCopy, AChecksumFileWhosePlaceChangedDuringTheRunIsNotWritten) {
    tree.write("d1/c.txt", "older");
    const std::string sums = work.path("sums.xxh");
    Terminal terminal({p("src/c.txt"), "--to", p("d1"), "--policy", "ask", "--checksum-file", sums},
                      work.root());
    ASSERT_TRUE(terminal.waitFor("Overwrite? [y/N]")) << terminal.seen();
    ASSERT_EQ(::mkfifo(sums.c_str(), 0600), 0);
    terminal.type("y\n");
    EXPECT_TRUE(terminal.waitFor("ostrivane-cli: --checksum-file " + sums +
                                 ": refused: it is neither a regular file nor a new name"))
        << terminal.seen();
    EXPECT_EQ(terminal.status(), 1);
    EXPECT_EQ(ReadFile(p("d1/c.txt")), "gamma");
    struct stat st;
    ASSERT_EQ(::lstat(sums.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// Ctrl-C while a question waits for its answer (the question is asked on a writer thread):
// the question is answered No, the run stops with status 3, the summary and the report.
TEST_F(CliCopy, CtrlCWhileAQuestionWaitsStopsTheRun) {
    tree.write("d1/c.txt", "older");
    Terminal terminal({p("src/c.txt"), p("src/data"), "--to", p("d1"), "--policy", "ask",
                       "--report", work.path("r.csv")},
                      work.root());
    ASSERT_TRUE(terminal.waitFor("File " + p("d1/c.txt") + " already exists. Overwrite? [y/N]"))
        << terminal.seen();
    terminal.type("\x03");  // the terminal's interrupt character: SIGINT
    EXPECT_TRUE(terminal.waitFor("Stopped")) << terminal.seen();
    EXPECT_TRUE(terminal.waitFor("files copied: 0")) << terminal.seen();
    EXPECT_EQ(terminal.status(), 3) << terminal.seen();
    EXPECT_EQ(ReadFile(p("d1/c.txt")), "older");
    EXPECT_EQ(Tree(p("d1")), std::set<std::string>{"c.txt"});  // nothing after the question
    EXPECT_EQ(ReadFile(work.path("r.csv")), "path,reason\n");
}

// One folder of an exFAT volume in several spellings: exfat-fuse gives each spelling an
// inode number of its own, yet it is one destination, copied into once.
TEST(CliMounted, OneExfatFolderInSeveralSpellingsIsOneDestination) {
    MOUNT_OR_SKIP(volume, ostrivane::test::ExfatVolume);
    TempTree src, work;
    src.write("c.txt", "gamma");
    fs::create_directories(volume->path("X/Dir"));
    std::vector<std::string> args{src.path("c.txt"), "--policy", "number"};
    for (const char* spelling : {"X/Dir", "X/dir", "X/DIR", "x/dIR/"})
        args.insert(args.end(), {"--to", volume->path(spelling)});
    const pid_t pid = Start(args, work.path("out"), work.path("err"), work.root(), {});
    EXPECT_EQ(Wait(pid), 0) << ReadFile(work.path("err"));
    EXPECT_EQ(Tree(volume->path("X")), (std::set<std::string>{"Dir/", "Dir/c.txt"}));
}

// A copy that the device stores wrongly: with --verify the run ends with status 1, the copy
// is listed and reported with its reason and is not left under its name; the copy on the
// honest folder is counted as verified.
TEST(CliMounted, AWrongCopyFailsTheVerifiedRunWithStatusOne) {
    MOUNT_OR_SKIP(ffs, ostrivane::test::FaultFs);
    TempTree src, work, plain;
    src.write("c.txt", "gamma");
    fs::create_directories(ffs->backing() + "/d");
    ffs->arm("corrupt name=c.txt");
    const pid_t pid = Start({src.path("c.txt"), "--to", plain.root(), "--to", ffs->path("d"),
                             "--verify", "--report", work.path("report.csv")},
                            work.path("out"), work.path("err"), work.root(), {});
    EXPECT_EQ(Wait(pid), 1) << ReadFile(work.path("err"));
    const std::string err = ReadFile(work.path("err"));
    EXPECT_NE(err.find(ffs->path("d") + "/c.txt: verification failed: the copy differs from its "
                                        "source"),
              std::string::npos)
        << err;
    EXPECT_NE(ReadFile(work.path("report.csv")).find(ffs->path("d") + "/c.txt,"),
              std::string::npos);
    EXPECT_NE(ReadFile(work.path("out")).find("copies verified: 1"), std::string::npos)
        << ReadFile(work.path("out"));
    EXPECT_FALSE(ostrivane::test::Exists(ffs->backing() + "/d/c.txt"));
    EXPECT_EQ(ReadFile(plain.path("c.txt")), "gamma");
}

// A copy that failed its check in one destination is not in the checksum file, which holds
// for every destination; the run says so. The copy on the honest folder is right, and the
// list checks there and on the device alike.
TEST(CliMounted, TheChecksumFileLeavesOutACopyThatFailedInOneDestination) {
    MOUNT_OR_SKIP(ffs, ostrivane::test::FaultFs);
    TempTree src, work, plain;
    src.write("c.txt", "gamma");
    src.write("e.txt", "epsilon");
    fs::create_directories(ffs->backing() + "/d");
    ffs->arm("corrupt name=c.txt");
    const pid_t pid = Start({src.path("c.txt"), src.path("e.txt"), "--to", plain.root(), "--to",
                             ffs->path("d"), "--verify", "--checksum-file", work.path("sums")},
                            work.path("out"), work.path("err"), work.root(), {});
    EXPECT_EQ(Wait(pid), 1) << ReadFile(work.path("err"));
    const std::string err = ReadFile(work.path("err"));
    EXPECT_NE(err.find("checksum file: 1 files not listed: their copy failed in a destination"),
              std::string::npos)
        << err;
    EXPECT_EQ(ReadFile(work.path("sums")), ostrivane::HashOf("epsilon", 7).hex() + "  e.txt\n");
    EXPECT_EQ(ReadFile(plain.path("c.txt")), "gamma");
}

// The summary counts what stands on the destinations: a copy that failed midway adds no
// bytes, and one the check after write removed is no copy.
TEST(CliMounted, TheSummaryCountsOnlyTheCopiesThatStand) {
    MOUNT_OR_SKIP(ffs, ostrivane::test::FaultFs);
    TempTree src, work;
    src.write("big.bin", std::string(8 << 20, 'b'));
    src.write("c.txt", "gamma");
    struct Case {
        const char* fault;
        std::string source;
        std::vector<std::string> more;
    };
    const Case cases[] = {{"fail write EIO past=1000000", src.path("big.bin"), {}},
                          {"corrupt name=c.txt", src.path("c.txt"), {"--verify"}}};
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        const std::string dest = "d" + std::to_string(++round);
        fs::create_directories(ffs->backing() + "/" + dest);
        ffs->arm(std::string("clear\n") + c.fault);
        std::vector<std::string> args{c.source, "--to", ffs->path(dest)};
        args.insert(args.end(), c.more.begin(), c.more.end());
        const pid_t pid = Start(args, work.path("out"), work.path("err"), work.root(), {});
        EXPECT_EQ(Wait(pid), 1) << ReadFile(work.path("err"));
        ffs->arm("clear");
        const std::string out = ReadFile(work.path("out"));
        EXPECT_EQ(out.rfind("Copy finished. files copied: 0, 0 B in ", 0), 0u) << out;
        EXPECT_EQ(Tree(ffs->backing() + "/" + dest), std::set<std::string>{});
    }
}

// A source that changes while it is copied into the first of three destinations: the line
// and the report's row name the source, and in English, the destination that lacks the copy.
TEST(CliMounted, ASourceThatChangedNamesTheDestinationThatLacksTheCopy) {
    MOUNT_OR_SKIP(ffs, ostrivane::test::FaultFs);
    TempTree work, out;
    std::ofstream(ffs->backing() + "/f.bin", std::ios::binary) << std::string(300 * 1024, 'f');
    ffs->arm("grow-on-read f.bin 4096");
    const std::string source = ffs->path("f.bin");
    const pid_t pid =
        Start({source, "--to", out.mkdir("d1"), "--to", out.mkdir("d2"), "--to", out.mkdir("d3"),
               "--writers", "1", "--report", work.path("report.csv")},
              work.path("out"), work.path("err"), work.root(), {});
    EXPECT_EQ(Wait(pid), 1) << ReadFile(work.path("err"));
    ffs->arm("clear");
    const std::string reason =
        "the source changed while it was copied; not copied to: " + out.path("d1/f.bin");
    const std::string err = ReadFile(work.path("err"));
    EXPECT_NE(err.find("not done (1):\n" + source + ": " + reason + "\n"), std::string::npos)
        << err;
    EXPECT_EQ(ReadFile(work.path("report.csv")), "path,reason\n" + source + "," + reason + "\n");
    EXPECT_FALSE(ostrivane::test::Exists(out.path("d1/f.bin")));
    EXPECT_TRUE(ostrivane::test::Exists(out.path("d2/f.bin")));
    EXPECT_TRUE(ostrivane::test::Exists(out.path("d3/f.bin")));
}

// A run onto a slow device stopped by a signal: status 3 at once, the file being copied
// nowhere (not under its name, no partial copy), the file copied before it complete.
TEST(CliInterrupt, ASignalStopsASlowRunLeavingNothingPartial) {
    MOUNT_OR_SKIP(ffs, ostrivane::test::FaultFs);
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

#endif  // !_WIN32

#ifdef _WIN32
// Ctrl-Break during a run (sent to the program's own process group on a console it shares
// with the test): status 3, no partial copy left, whatever has its name is complete. Skips
// where the console sends no control events: under Wine without a console window, as when
// scripts/test-windows runs it.
TEST(CliInterrupt, CtrlBreakStopsARunLeavingNothingPartial) {
    // A console of the test's own (standard input and output stay as ctest gave them).
    FreeConsole();
    if (!AllocConsole()) GTEST_SKIP() << "no console (error " << GetLastError() << ")";
    // Whether this console sends control events at all: one to the test itself, which
    // ignores it.
    SetConsoleCtrlHandler([](DWORD) -> BOOL { return TRUE; }, TRUE);
    if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0)) {
        // Wine's console without a window (as under ctest) refuses them (error 6).
        GTEST_SKIP() << "the console sends no control events here (error " << GetLastError() << ")";
    }
    TempTree src, dst, work;
    src.write("a-small.txt", "small");
    const std::string big(64 << 20, 'x');
    for (int i = 0; i < 4; ++i) src.write("b-big" + std::to_string(i) + ".bin", big);
    std::vector<std::string> args{src.path("a-small.txt")};
    for (int i = 0; i < 4; ++i) args.push_back(src.path("b-big" + std::to_string(i) + ".bin"));
    for (int d = 0; d < 8; ++d) args.insert(args.end(), {"--to", dst.mkdir("d" + std::to_string(d))});
    const Child child = Start(args, work.path("out"), work.path("err"), work.root(), {},
                              CREATE_NEW_PROCESS_GROUP);
    ASSERT_NE(child.process, nullptr);
    // Once the run is under way (the small file is in the first destination).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!Exists(dst.path("d0/a-small.txt")) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, child.id)) {
        const DWORD error = GetLastError();
        TerminateProcess(child.process, 255);
        Wait(child);
        GTEST_SKIP() << "the console sends no control events here (error " << error << ")";
    }
    const int status = Wait(child);
    const std::string err = ReadFile(work.path("err"));
    if (status == 0) GTEST_SKIP() << "the run ended before the break arrived";
    EXPECT_EQ(status, 3) << err;
    EXPECT_NE(err.find("Stopped"), std::string::npos) << err;
    for (const std::string& name : Tree(dst.root())) {
        EXPECT_EQ(name.find(".ostrivane-partial"), std::string::npos) << name;
        if (name.find("b-big") != std::string::npos) {
            EXPECT_EQ(ReadFile(dst.path(name)).size(), big.size()) << name;
        }
    }
}
#endif

}  // namespace

int main(int argc, char** argv) {
#ifndef _WIN32
    // Before any thread starts: mounts stay private to this process and its children.
    ostrivane::test::EnterPrivateMountNamespace();
#endif
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
