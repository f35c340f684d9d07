// Every text the command-line program prints, in Chinese when the locale asks for it
// (LC_ALL, else LC_MESSAGES, else LANG beginning with "zh"; when none is set, on Windows,
// the system's language for the user interface) and in English otherwise.
// The Chinese texts that the window shows too are the window's own (app/texts.h); %1, %2, ...
// are filled in by app::FormatText.
#pragma once

#include <string>
#include <vector>

namespace ostrivane::cli {

struct Texts {
    // Help.
    const char* summary;  // one line under the usage
    const char* optSources;
    const char* optTo;
    const char* optToTree;
    const char* optSourcesList;
    const char* optDestinationsList;
    const char* optPolicy;
    const char* optEmptyFirst;
    const char* optEmptyNow;
    const char* optYes;
    const char* optWriters;
    const char* optReport;
    const char* optProgress;
    const char* optVerify;
    const char* optChecksumFile;
    const char* optHelp;
    const char* optVersion;
    const char* footer;  // exit statuses
    // Bad usage or input (status 2); %1 is a path or a value.
    const char* seeHelp;
    const char* nothingToCopy;
    const char* noDestination;
    const char* rootRefused;
    const char* sourceMissing;
    const char* notAFolder;
    const char* depthNotNumber;
    const char* askNeedsTerminal;
    const char* emptyBoth;
    const char* emptyingNeedsAnswer;
    const char* reportNotCreated;  // %1 file, %2 reason
    // A report or checksum file the run could overwrite, copy or delete; %1 the option
    // (--report, --checksum-file), %2 the file, %3 the entry.
    const char* fileIsSource;
    const char* fileInSource;
    const char* fileInDestination;
    // A checksum file that cannot go where it is named; %1 the option, %2 the file.
    const char* checksumIsReport;
    const char* checksumIsFolder;
    const char* checksumIsLink;
    const char* checksumNotAFile;     // a device, FIFO or socket
    const char* checksumCannotWrite;  // %3 the system's reason
    const char* valueNotAllowed;   // %1 option, %2 value, %3 the values allowed
    const char* writersNotNumber;  // %1 value
    const char* unexpectedArguments;  // %1 the arguments
    const char* valueMissing;         // %1 option
    const char* notConvertible;       // %1 option and value
    // Notes while the lists are built.
    const char* someFoldersNotImported;  // %1 list file
    // Questions.
    const char* emptyingWarning;
    const char* overwriteQuestion;  // %1 target
    const char* yesNo;              // the hint after a question
    // The end of a run.
    const char* copyDone;
    const char* failuresHeading;  // %1 count
    const char* emptyingDone;
    const char* emptyingLeftOver;  // %1 count
    const char* stopped;
    const char* emptyingStopped;
    const char* stopping;
    const char* summaryLine;  // %1 files, %2 bytes, %3 seconds
    const char* reportNotWritten;  // %1 file, %2 reason
    const char* cannotEnterFolder;  // %1 folder, %2 the error's message
    const char* copiesVerified;     // %1 count
    const char* checksumsNotWritten;  // %1 file, %2 reason
    const char* checksumLineBreak;    // %1 path: a name xxhsum cannot list
    // The paths the checksum file leaves out because they are not the same in every
    // destination (%1 each): copied under that name into some destinations only (a file of
    // that name kept, a numbered copy, a failed copy); a failure in a destination (a
    // failed check, a failed copy where an earlier one stands); copies of different
    // contents.
    const char* checksumNotEverywhere;
    const char* checksumFailedSomewhere;
    const char* checksumDiffering;
    // The progress line.
    const char* files;
    const char* remaining;
    const char* flushing;
    const char* verifying;
    const char* waiting;
    const char* done;
    const char* failed;
    // The end of a run: the files a stopped run left undone (%1), counted apart from its
    // failures; the files kept because a file of that name stood there (%1).
    const char* undone;
    const char* kept;
};

// The texts of the language the environment asks for.
const Texts& Text();

// The reasons of failures that the core words itself (in the windows' language, Chinese),
// each with its English text: a whole reason, or a part of one that the core joins to
// another or to the system's reason. Every string literal of the core's sources with
// Chinese in it is here (tests/cli/texts_test.cpp checks that): a new reason of the core
// is one more line in this table (cli/texts.cpp, kCoreReasons).
struct CoreReason {
    std::string chinese;
    const char* english;
};
const std::vector<CoreReason>& CoreReasons();
// `reason` with every part that the core worded in English (CoreReasons, the longest part
// first where parts begin alike); the rest (the system's reason, names) as it is.
std::string EnglishReason(const std::string& reason);
// `reason` in the language of the messages: as it is in Chinese, else EnglishReason.
std::string LocalReason(const std::string& reason);
// True when LC_ALL, else LC_MESSAGES, else LANG (the first that is set and not empty)
// begins with "zh"; when none is set, true when the system's language for the user
// interface is Chinese (Windows only: GetUserDefaultUILanguage).
bool LocaleIsChinese();

}  // namespace ostrivane::cli
