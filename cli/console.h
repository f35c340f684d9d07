// What the command-line program does on the terminal: the stop request from Ctrl-C and
// SIGTERM, the Yes/No questions, and the live progress display.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/run_control.h"

namespace ostrivane::cli {

// The descriptors of standard input and standard error.
inline constexpr int kStandardInput = 0;
inline constexpr int kStandardError = 2;

// Installs handlers for SIGINT and SIGTERM that only set `stop` (which must outlive the
// process's run) and wake a question waiting for its answer on any thread (AskOnTerminal
// then answers No at once).
// SIGPIPE is ignored: a closed pipe must not kill a run halfway. On Windows a console
// control handler sets `stop` for Ctrl-C, Ctrl-Break and the closing of the console window
// (and holds a close back for a few seconds, so that the run can discard its partial copy).
void InstallStopSignals(std::atomic<bool>& stop);

// Runs `work` on a thread of its own while this thread watches the stop flag: once the first
// signal has set it, SIGINT and SIGTERM get their default action back (on Windows the control
// handler is removed), so a second Ctrl-C ends a run that is slow to stop (a flush of a slow
// device) at once; `onStop` runs once then. Exceptions of `work` pass on to the caller.
void RunWatched(const std::function<void()>& work, const std::atomic<bool>& stop,
                const std::function<void()>& onStop);

// True when the descriptor is a terminal (on Windows: a console, not the NUL device).
bool IsTerminal(int fd);

// Called once before anything is printed. On Windows: the console shows UTF-8 and takes the
// display's escape sequences; elsewhere nothing.
void PrepareConsole();

// The program's arguments as UTF-8. On Windows they come from the wide command line, so
// names outside the system code page reach the program intact; elsewhere argv as it is.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// std::fopen with a UTF-8 name (on Windows through the wide name).
std::FILE* OpenFile(const std::string& name, const char* mode);

// Writes UTF-8 `text` to standard output or standard error and flushes it; on a Windows
// console as wide characters, so that it reads right whatever the console's code page.
void PrintText(std::FILE* stream, const std::string& text);

// True when the system's language for the user interface is Chinese (Windows); false
// where the environment's locale alone decides.
bool SystemLanguageIsChinese();

// The live display on standard error: one line for the whole run and, when the run writes
// to several devices, one more line per device. Draws at most 10 times a second; the hook
// may be called on any thread. Lines are cut to the terminal's width so that erasing them
// again never leaves a wrapped remainder. The hook never blocks its caller.
class ProgressDisplay {
  public:
    explicit ProgressDisplay(bool enabled);
    ~ProgressDisplay();

    // The run's figures hook.
    void show(const TransferFigures& figures);
    // The copy run's percentage hook.
    void percent(int value) { percent_.store(value, std::memory_order_relaxed); }
    // Erases what is drawn (before a question, and at the end).
    void erase();

    // Erases the display, runs `write` (which prints on the terminal) and lets the next
    // figures draw again; questions use it so their text never mixes with the display.
    template <typename Write>
    auto withTerminal(Write write) {
        std::lock_guard<std::mutex> lock(mutex_);
        eraseLocked();
        return write();
    }

    bool enabled() const { return enabled_; }

  private:
    void eraseLocked();

    bool enabled_;
    std::mutex mutex_;
    int linesDrawn_ = 0;
    std::atomic<int> percent_{-1};
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastDraw_{};
};

// Asks `question` on the terminal (standard error, answer from standard input) and returns
// true only for an answer beginning with "y", "Y" or "是". End of input, a stop request
// (also one that comes while the question waits) and anything else are No.
bool AskOnTerminal(const std::string& question);

// A byte count for people: 1023 B, 1.5 KiB, 20.3 MiB, ...
std::string HumanBytes(std::uint64_t bytes);
// A duration for people: 42 s, 3 min 05 s, 2 h 10 min.
std::string HumanDuration(double seconds);

}  // namespace ostrivane::cli
