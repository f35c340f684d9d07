// The platform's part of the console, used by console.cpp: defined there for POSIX and in
// console_win32.cpp for Windows.
#pragma once

#include <string>
#include <string_view>

namespace ostrivane::cli {

// Writes all of `text` (UTF-8) to the descriptor; gives up on an error other than an
// interruption.
void WriteAll(int fd, std::string_view text);

// The width of the terminal on standard error, 80 when unknown.
int TerminalColumns();

// Reads one line from standard input into `answer` (without its line end). False at end of
// input, on an error and when a stop request interrupted the wait.
bool ReadAnswerLine(std::string& answer);

// Gives the stop requests their default action back: a second Ctrl-C ends the program.
void RestoreDefaultStop();

}  // namespace ostrivane::cli
