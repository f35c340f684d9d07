// The Windows side of the console (the POSIX one is in console.cpp): Ctrl-C, Ctrl-Break and
// the closing of the console window ask for a stop through a console control handler; text
// goes to a console as wide characters and to files and pipes as the UTF-8 bytes it is;
// answers are read from the console as wide characters; the arguments come from the wide
// command line.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cli/console.h"
#include "cli/console_platform.h"

namespace ostrivane::cli {
namespace {

std::atomic<bool>* stopFlag = nullptr;

std::wstring Wide(std::string_view text) {
    if (text.empty()) return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

std::string Utf8(std::wstring_view text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    return bytes;
}

HANDLE HandleOf(int fd) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

// Runs on a thread the system starts for the event. Ctrl-C and Ctrl-Break only ask for the
// stop. Closing the console (or logging off, shutting down) ends the process once the
// handler returns: it waits a little first, so that the run can discard its unfinished copy
// and end by itself (the process then ends while this thread still waits).
BOOL WINAPI OnConsoleControl(DWORD event) {
    if (stopFlag == nullptr) return FALSE;
    stopFlag->store(true);
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            return TRUE;
        default:
            Sleep(4000);  // the system allows about five seconds
            return TRUE;
    }
}

DWORD originalErrorMode = 0;
bool errorModeChanged = false;

void RestoreErrorConsole() {
    if (errorModeChanged) SetConsoleMode(HandleOf(kStandardError), originalErrorMode);
}

}  // namespace

void WriteAll(int fd, std::string_view text) {
    const HANDLE handle = HandleOf(fd);
    if (handle == INVALID_HANDLE_VALUE || text.empty()) return;
    if (IsConsole(handle)) {
        // Bytes that are not UTF-8 become U+FFFD.
        const std::wstring wide = Wide(text);
        std::size_t done = 0;
        while (done < wide.size()) {
            DWORD written = 0;
            if (!WriteConsoleW(handle, wide.data() + done, static_cast<DWORD>(wide.size() - done),
                               &written, nullptr) ||
                written == 0) {
                return;
            }
            done += written;
        }
        return;
    }
    while (!text.empty()) {
        DWORD written = 0;
        if (!WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written == 0) {
            return;
        }
        text.remove_prefix(written);
    }
}

int TerminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(HandleOf(kStandardError), &info)) {
        const int columns = info.srWindow.Right - info.srWindow.Left + 1;
        if (columns > 0) return columns;
    }
    return 80;
}

bool ReadAnswerLine(std::string& answer) {
    const HANDLE input = HandleOf(kStandardInput);
    if (IsConsole(input)) {
        // As wide characters, so that "是" arrives whatever the console's code page. Ctrl-C
        // ends the wait with nothing read.
        std::wstring line;
        for (;;) {
            wchar_t buffer[256];
            DWORD read = 0;
            if (!ReadConsoleW(input, buffer, 256, &read, nullptr) || read == 0) return false;
            if (stopFlag != nullptr && stopFlag->load()) return false;
            line.append(buffer, read);
            const auto end = line.find(L'\n');
            if (end != std::wstring::npos) {
                line.erase(end);
                if (!line.empty() && line.back() == L'\r') line.pop_back();
                answer = Utf8(line);
                return true;
            }
        }
    }
    for (;;) {
        char c = 0;
        DWORD read = 0;
        if (!ReadFile(input, &c, 1, &read, nullptr) || read == 0) return false;
        if (c == '\n') return true;
        answer += c;
    }
}

void InstallStopSignals(std::atomic<bool>& stop) {
    stopFlag = &stop;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void RestoreDefaultStop() {
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
}

bool IsTerminal(int fd) {
    // _isatty is true for every character device, the NUL device among them.
    return IsConsole(HandleOf(fd));
}

void PrepareConsole() {
    // Files and pipes get exactly the bytes written, line ends as on Linux, so a report on
    // standard output equals the report file (a quoted line break in it stays a line feed).
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    // The progress display moves the cursor with escape sequences (Windows 10 and later).
    const HANDLE error = HandleOf(kStandardError);
    DWORD mode = 0;
    if (IsConsole(error) && GetConsoleMode(error, &mode) &&
        !(mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
        if (SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
            originalErrorMode = mode;
            errorModeChanged = true;
            std::atexit(RestoreErrorConsole);
        }
    }
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    arguments.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) arguments.push_back(Utf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

std::FILE* OpenFile(const std::string& name, const char* mode) {
    return _wfopen(Wide(name).c_str(), Wide(mode).c_str());
}

void PrintText(std::FILE* stream, const std::string& text) {
    std::fflush(stream);
    const int fd = _fileno(stream);
    if (IsConsole(HandleOf(fd))) {
        WriteAll(fd, text);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

bool SystemLanguageIsChinese() {
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_CHINESE;
}

}  // namespace ostrivane::cli
