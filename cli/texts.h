// Every text the command-line program prints, in Chinese when the locale asks for it
// (LC_ALL, else LC_MESSAGES, else LANG beginning with "zh"; when none is set, on Windows,
// the system's language for the user interface) and in English otherwise.
// The Chinese texts that the window shows too are the window's own (app/texts.h); %1, %2, ...
// are filled in by app::FormatText.
#pragma once

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
    // A report the run could overwrite, copy or delete; %1 the report, %2 the entry.
    const char* reportIsSource;
    const char* reportInSource;
    const char* reportInDestination;
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
    // The core's own reasons (the window's words) in this language, in the order of
    // kCoreReasons in main.cpp: a stopped copy, a source changed while read, a source kept
    // by the emptying, the root refused by it, an entry swapped meanwhile (emptying), an
    // entry moved or swapped during the run, a destination gone since the run began (copy),
    // the same (emptying), a copy that differs from its source, the same where it replaced
    // a file, a copy not tried because its device is full, a copy that differs because its
    // source changed while or after it was copied.
    const char* coreReasons[12];
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
// True when LC_ALL, else LC_MESSAGES, else LANG (the first that is set and not empty)
// begins with "zh"; when none is set, true when the system's language for the user
// interface is Chinese (Windows only: GetUserDefaultUILanguage).
bool LocaleIsChinese();

}  // namespace ostrivane::cli
