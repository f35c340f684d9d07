#include "cli/console.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <string_view>
#include <thread>
#include <vector>

#include "app/figures.h"
#include "cli/console_platform.h"
#include "cli/texts.h"

namespace ostrivane::cli {

#ifndef _WIN32
// The POSIX side of the console (the Windows one is console_win32.cpp).
namespace {

static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag is set from a signal handler");

std::atomic<bool>* stopFlag = nullptr;
// Written to by the signal handler, never read empty: a question waits on its reading end
// besides standard input, so a stop request ends the wait on whichever thread asks (the
// signal itself interrupts only the thread it is delivered to).
int stopPipe[2] = {-1, -1};

extern "C" void OnStopSignal(int) {
    const int saved = errno;
    stopFlag->store(true);
    if (stopPipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(stopPipe[1], &byte, 1);
    }
    errno = saved;
}

bool StopRequested() {
    return stopFlag != nullptr && stopFlag->load();
}

}  // namespace

void WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

int TerminalColumns() {
    winsize size{};
    if (::ioctl(kStandardError, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

bool ReadAnswerLine(std::string& answer) {
    char c = 0;
    for (;;) {
        if (StopRequested()) return false;
        pollfd waits[2] = {{STDIN_FILENO, POLLIN, 0}, {stopPipe[0], POLLIN, 0}};
        const int ready = ::poll(waits, stopPipe[0] >= 0 ? 2 : 1, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;  // a stop request is seen above
            return false;
        }
        if (waits[1].revents != 0) return false;  // a stop request
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        // End of input, or an error.
        if (n <= 0) return false;
        if (c == '\n') return true;
        answer += c;
    }
}

void InstallStopSignals(std::atomic<bool>& stop) {
    stopFlag = &stop;
    if (stopPipe[0] < 0 && ::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        stopPipe[0] = stopPipe[1] = -1;  // questions then wake by the signal alone
    }
    struct sigaction action{};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a read waiting for an answer returns EINTR
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

void RestoreDefaultStop() {
    struct sigaction action{};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

bool IsTerminal(int fd) {
    return ::isatty(fd) == 1;
}

void PrepareConsole() {}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

std::FILE* OpenFile(const std::string& name, const char* mode) {
    return std::fopen(name.c_str(), mode);
}

void PrintText(std::FILE* stream, const std::string& text) {
    std::fputs(text.c_str(), stream);
    std::fflush(stream);
}

bool SystemLanguageIsChinese() {
    return false;
}
#endif  // !_WIN32

namespace {

// The first bytes of `line` that fill at most `columns` columns of a terminal, whole UTF-8
// characters only: a character of three or four bytes (the CJK range among them) takes two
// columns, anything else one.
std::string FitToColumns(const std::string& line, int columns) {
    std::size_t i = 0;
    int used = 0;
    while (i < line.size()) {
        const auto lead = static_cast<unsigned char>(line[i]);
        std::size_t length = 1;
        int width = 1;
        if (lead >= 0xF0) {
            length = 4, width = 2;
        } else if (lead >= 0xE0) {
            length = 3, width = 2;
        } else if (lead >= 0xC0) {
            length = 2;
        }
        if (used + width > columns || i + length > line.size()) break;
        used += width;
        i += length;
    }
    return line.substr(0, i);
}

std::string StateText(DeviceFigures::State state, std::uint64_t bytes) {
    const Texts& t = Text();
    switch (state) {
        case DeviceFigures::State::Waiting:
            return t.waiting;
        case DeviceFigures::State::Flushing:
            return t.flushing;
        case DeviceFigures::State::Verifying:
            return t.verifying;
        case DeviceFigures::State::Done:
            return t.done;
        case DeviceFigures::State::Failed:
            return t.failed;
        case DeviceFigures::State::Copying:
            break;
    }
    return HumanBytes(bytes);
}

}  // namespace

void RunWatched(const std::function<void()>& work, const std::atomic<bool>& stop,
                const std::function<void()>& onStop) {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::exception_ptr error;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
        finished.notify_one();
    });
    bool restored = false;
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (!done) {
            finished.wait_for(lock, std::chrono::milliseconds(50));
            if (!restored && stop.load()) {
                restored = true;
                RestoreDefaultStop();
                lock.unlock();
                if (onStop) onStop();
                lock.lock();
            }
        }
    }
    worker.join();
    if (error) std::rethrow_exception(error);
}

std::string HumanBytes(std::uint64_t bytes) {
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
    if (bytes < 1024) return std::to_string(bytes) + " B";
    const app::ScaledBytes scaled = app::ScaleBytes(bytes);
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", scaled.value, kUnits[scaled.unit]);
    return text;
}

std::string HumanDuration(double seconds) {
    // Beyond a few decades the figure says nothing more (and must stay a number).
    const auto whole = std::llround(std::clamp(seconds, 0.0, 1e9));
    char text[48];
    if (whole < 60) {
        std::snprintf(text, sizeof text, "%lld s", whole);
    } else if (whole < 3600) {
        std::snprintf(text, sizeof text, "%lld min %02lld s", whole / 60, whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld h %02lld min", whole / 3600, whole / 60 % 60);
    }
    return text;
}

ProgressDisplay::ProgressDisplay(bool enabled) : enabled_(enabled) {}

ProgressDisplay::~ProgressDisplay() {
    erase();
}

void ProgressDisplay::show(const TransferFigures& figures) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    // Never waits: while a question holds the terminal, the figures are simply not drawn,
    // so no writer of the run stalls behind the question.
    std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock()) return;
    if (linesDrawn_ > 0 && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;

    const Texts& t = Text();
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double speed = seconds > 0.05 ? static_cast<double>(figures.bytesDone) / seconds : 0;
    std::string line;
    const int percent = percent_.load(std::memory_order_relaxed);
    if (percent >= 0) {
        char head[16];
        std::snprintf(head, sizeof head, "[%3d%%] ", percent);
        line += head;
    }
    // The whole amount comes from the count of the sources made while the run copies (until
    // then the bytes met so far); the remaining time is the slowest device's.
    const std::uint64_t planned = std::max(figures.bytesPlanned, figures.bytesExpected);
    line += std::to_string(figures.filesDone) + " " + t.files + "  " +
            HumanBytes(figures.bytesDone) + " / " + HumanBytes(planned);
    if (speed > 0) {
        line += "  " + HumanBytes(static_cast<std::uint64_t>(speed)) + "/s";
        const double remaining = RemainingSeconds(figures);
        if (remaining > 0) line += std::string("  ") + t.remaining + " " + HumanDuration(remaining);
    }
    std::vector<std::string> lines{line};
    if (figures.devices.size() > 1) {
        for (const DeviceFigures& device : figures.devices) {
            // A device whose destinations have all had their turn says so at once.
            const bool finished =
                device.finished && device.state == DeviceFigures::State::Copying;
            lines.push_back("  " + device.folder + "  " +
                            StateText(finished ? DeviceFigures::State::Done : device.state,
                                      device.bytesDone));
        }
    }

    const int columns = TerminalColumns() - 1;
    std::string out;
    // Back to the first line drawn, clearing each line on the way.
    if (linesDrawn_ > 0) {
        out += "\r\033[K";
        for (int i = 1; i < linesDrawn_; ++i) out += "\033[1A\033[K";
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) out += "\n";
        out += FitToColumns(lines[i], columns);
    }
    WriteAll(kStandardError, out);
    linesDrawn_ = static_cast<int>(lines.size());
}

void ProgressDisplay::erase() {
    std::lock_guard<std::mutex> lock(mutex_);
    eraseLocked();
}

void ProgressDisplay::eraseLocked() {
    if (linesDrawn_ == 0) return;
    std::string out = "\r\033[K";
    for (int i = 1; i < linesDrawn_; ++i) out += "\033[1A\033[K";
    WriteAll(kStandardError, out);
    linesDrawn_ = 0;
}

bool AskOnTerminal(const std::string& question) {
    WriteAll(kStandardError, question + Text().yesNo);
    std::string answer;
    if (!ReadAnswerLine(answer)) {
        // End of input, or a stop request interrupted the wait: No.
        WriteAll(kStandardError, "\n");
        return false;
    }
    if (!answer.empty() && answer.back() == '\r') answer.pop_back();
    const std::size_t start = answer.find_first_not_of(" \t");
    if (start == std::string::npos) return false;
    const std::string_view given = std::string_view(answer).substr(start);
    return given.starts_with("y") || given.starts_with("Y") || given.starts_with("是");
}

}  // namespace ostrivane::cli
