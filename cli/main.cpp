// ostrivane-cli: the copy run from the command line, for scripts, timers and machines
// without a desktop. Builds the two lists by the window's rules, then runs one CopyAll (or,
// with --empty-now, one emptying). Exit status: 0 everything done; 1 finished with
// failures (or an unexpected error ended it); 2 bad usage or input, nothing copied or
// deleted; 3 stopped by SIGINT or SIGTERM (on Windows Ctrl-C, Ctrl-Break or the closing of
// the console) with something left undone (a stop during the final flush leaves a complete
// run); 4 a folder that could not be entered ended the run.
#include <algorithm>
#include <atomic>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "app/summaries.h"
#include "app/texts.h"
#include "cli/command_line.h"
#include "cli/console.h"
#include "cli/report.h"
#include "cli/texts.h"
#include "core/copy_run.h"
#include "core/emptying.h"
#include "core/fsops.h"

namespace ostrivane::cli {
namespace {

enum Status { kDone = 0, kFailures = 1, kBadInput = 2, kStopped = 3, kRunEnded = 4 };

constexpr const char* kPrefix = "ostrivane-cli: ";

void PrintLine(std::FILE* stream, const std::string& line) {
    PrintText(stream, line + "\n");
}

int BadInput(const std::string& message) {
    PrintLine(stderr, kPrefix + message + " " + Text().seeHelp);
    return kBadInput;
}

// The core asks in the window's words; in English the target is taken out of the question
// and put into the English one.
std::string LocalQuestion(const std::string& question) {
    if (LocaleIsChinese()) return question;
    const std::string marker = "\x01";
    const std::string shape = OverwriteQuestion(marker);
    const std::string prefix = shape.substr(0, shape.find(marker));
    const std::string suffix = shape.substr(shape.find(marker) + marker.size());
    if (question.size() >= prefix.size() + suffix.size() && question.starts_with(prefix) &&
        question.ends_with(suffix)) {
        return app::FormatText(
            Text().overwriteQuestion,
            {question.substr(prefix.size(), question.size() - prefix.size() - suffix.size())});
    }
    return question;
}

// The failures with the core's reasons in the language of the messages.
std::vector<Failure> LocalReasons(std::vector<Failure> failures) {
    for (Failure& failure : failures) failure.reason = LocalReason(failure.reason);
    return failures;
}

// The error that ended a run: the folder that could not be entered, where known, and the
// error's message.
std::string RunEndedText(const FolderNotEntered& folder) {
    if (folder.path.empty()) return LocalReason(folder.text);
    return app::FormatText(Text().cannotEnterFolder, {folder.path, LocalReason(folder.text)});
}

// "path: reason" under a heading, on standard error.
void ListFailures(const char* heading, const std::vector<Failure>& failures) {
    if (failures.empty()) return;
    PrintLine(stderr, app::FormatText(heading, {std::to_string(failures.size())}));
    for (const Failure& failure : failures) PrintLine(stderr, failure.path + ": " + failure.reason);
}

bool WriteReport(ReportFile* report, const std::string& name,
                 const std::vector<Failure>& failures) {
    if (report == nullptr) return true;
    std::string reason;
    if (report->write(failures, &reason)) return true;
    PrintLine(stderr, kPrefix + app::FormatText(Text().reportNotWritten, {name, reason}));
    return false;
}

// Writes the checksum file: one line "<32 hex digits>  <path>" per copied file, the path
// relative to the destination folder, as `xxhsum -H2 -c` reads it in that folder. What the
// run left out (not alike in every destination) is told, by count and why. A name with a
// line break cannot be written so: it is left out with a note. False with a message when
// the file cannot be written, or no longer may be where it was checked before the run.
bool WriteChecksums(const std::string& name, const std::vector<FileHash>& hashes,
                    const HashesLeftOut& leftOut) {
    const Texts& t = Text();
    for (const auto& [count, text] : {std::pair{leftOut.notEverywhere, t.checksumNotEverywhere},
                                      std::pair{leftOut.failed, t.checksumFailedSomewhere},
                                      std::pair{leftOut.differing, t.checksumDiffering}}) {
        if (count > 0) PrintLine(stderr, kPrefix + app::FormatText(text, {std::to_string(count)}));
    }
    if (const std::string changed = ChecksumPlaceChanged(name); !changed.empty()) {
        PrintLine(stderr, kPrefix + changed);
        return false;
    }
    std::string text;
    for (const FileHash& hash : hashes) {
        if (hash.path.find_first_of("\r\n") != std::string::npos) {
            PrintLine(stderr, kPrefix + app::FormatText(Text().checksumLineBreak, {hash.path}));
            continue;
        }
        text += hash.hash.hex() + "  " + hash.path + "\n";
    }
    if (const int error = WriteFileAtomically(name, text)) {
        PrintLine(stderr, kPrefix + app::FormatText(Text().checksumsNotWritten,
                                                    {name, LocalReason(ErrorText(error))}));
        return false;
    }
    return true;
}

int Run(const std::vector<std::string>& arguments) {
    const Texts& t = Text();

    Request request;
    try {
        std::vector<const char*> argv;
        for (const std::string& argument : arguments) argv.push_back(argument.c_str());
        Parsed parsed = ParseCommandLine(static_cast<int>(argv.size()), argv.data());
        if (!parsed.request) {
            PrintText(stdout, parsed.printed);
            return kDone;
        }
        request = std::move(*parsed.request);
    } catch (const UsageError& error) {
        return BadInput(error.what());
    }

    if (!request.emptyNow && request.sources.count() == 0) return BadInput(t.nothingToCopy);
    if (request.destinations.count() == 0) return BadInput(t.noDestination);
    const bool terminal = IsTerminal(kStandardInput);
    if (!request.emptyNow && request.policy == SameFilePolicy::Ask && !terminal) {
        return BadInput(t.askNeedsTerminal);
    }
    const bool emptying = request.emptyFirst || request.emptyNow;
    if (emptying && !request.yes && !terminal) return BadInput(t.emptyingNeedsAnswer);

    std::unique_ptr<ReportFile> report;
    if (request.report) {
        // Before the file is created: a report on a source would truncate it.
        const std::string refusal =
            ReportPlaceRefusal(*request.report, request.sources, request.destinations);
        if (!refusal.empty()) return BadInput(refusal);
    }
    // Likewise the checksum file, written after the run: refused now rather than after it.
    if (request.checksumFile) {
        const std::string refusal = ChecksumPlaceRefusal(*request.checksumFile, request.report,
                                                         request.sources, request.destinations);
        if (!refusal.empty()) return BadInput(refusal);
    }
    if (request.report) {
        try {
            report = std::make_unique<ReportFile>(*request.report);
        } catch (const std::exception& error) {
            return BadInput(app::FormatText(t.reportNotCreated, {*request.report, error.what()}));
        }
    }
    // With the report on standard output, the summary moves to standard error.
    std::FILE* summaryStream = report && report->toStandardOutput() ? stderr : stdout;

    for (const std::string& note : request.notes) PrintLine(stderr, kPrefix + note);

    // From here on a signal asks for a stop; before, while the lists were built, nothing had
    // been written and the default action ended the program.
    static std::atomic<bool> stop{false};
    InstallStopSignals(stop);

    if (emptying && !request.yes) {
        if (!AskOnTerminal(t.emptyingWarning)) return stop ? kStopped : kBadInput;
    }
    if (stop) return kStopped;

    // Once the first signal is seen: a note on a terminal that a second one quits at once.
    const auto stopping = [&] {
        if (IsTerminal(kStandardError)) PrintLine(stderr, t.stopping);
    };

    if (request.emptyNow) {
        std::vector<Failure> leftOver;
        bool cut = false;
        RunWatched(
            [&] { cut = EmptyDestinations(request.destinations, request.sources, &leftOver, &stop); },
            stop, stopping);
        leftOver = LocalReasons(std::move(leftOver));
        ListFailures(t.emptyingLeftOver, leftOver);
        const bool reported = WriteReport(report.get(), request.report.value_or(""), leftOver);
        if (cut) {
            PrintLine(stderr, t.emptyingStopped);
            return kStopped;
        }
        if (leftOver.empty()) PrintLine(summaryStream, t.emptyingDone);
        return leftOver.empty() && reported ? kDone : kFailures;
    }

    const bool draw = request.progress == ProgressMode::Always ||
                      (request.progress == ProgressMode::Auto && IsTerminal(kStandardError));
    ProgressDisplay display(draw);
    std::mutex figuresMutex;
    TransferFigures last;
    RunOptions options;
    options.maxWriters = request.writers;
    options.stop = &stop;
    options.verify = request.verify;
    options.listHashes = request.checksumFile.has_value();
    options.showTransfer = [&](const TransferFigures& figures) {
        {
            std::lock_guard<std::mutex> lock(figuresMutex);
            last = figures;
        }
        display.show(figures);
    };
    const ShowProgress progress = [&](int percent) { display.percent(percent); };
    // Questions may come from any writer; one at a time, with the display out of the way.
    // A question that a stop request answers (or leaves unasked) leaves its file as it was:
    // the run did not do what it was asked to.
    std::mutex askMutex;
    std::atomic<bool> questionCut{false};
    const AskYesNo ask = [&](const std::string& question) {
        std::lock_guard<std::mutex> lock(askMutex);
        const bool yes = !stop && display.withTerminal(
                                      [&] { return AskOnTerminal(LocalQuestion(question)); });
        if (stop) questionCut = true;
        return yes && !stop;
    };

    RunRequest run;
    run.sources = request.sources;
    run.destinations = request.destinations;
    run.policy = request.policy;
    run.emptyFirst = request.emptyFirst;
    run.options = options;
    run.ask = ask;
    run.progress = progress;
    const auto started = std::chrono::steady_clock::now();
    RunResult result;
    try {
        RunWatched([&] { result = CopyAll(run); }, stop,
                   [&] { display.withTerminal(stopping); });
    } catch (const std::exception& error) {
        display.erase();
        PrintLine(stderr, kPrefix + std::string(error.what()));
        WriteReport(report.get(), request.report.value_or(""), {});
        return kFailures;
    }
    display.erase();
    if (result.ended()) {
        // The failures before the folder that ended the run, then that folder's error.
        const std::vector<Failure> failures = LocalReasons(std::move(result.failures));
        ListFailures(t.failuresHeading, failures);
        PrintLine(stderr, kPrefix + RunEndedText(result.endedBy));
        WriteReport(report.get(), request.report.value_or(""), failures);
        return kRunEnded;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    // A stop request that came when nothing was left to do (during the final flush, which
    // a stop does not cut short) leaves a complete run.
    const bool leftUndone = result.stopped() || questionCut;
    result.failures = LocalReasons(std::move(result.failures));
    ListFailures(t.failuresHeading, result.failures);
    bool reported = WriteReport(report.get(), request.report.value_or(""), result.failures);
    if (request.checksumFile)
        reported =
            WriteChecksums(*request.checksumFile, result.hashes, result.hashesLeftOut) && reported;
    TransferFigures figures;
    {
        std::lock_guard<std::mutex> lock(figuresMutex);
        figures = last;
    }
    char secondsText[32];
    std::snprintf(secondsText, sizeof secondsText, "%.1f", seconds);
    const std::string summary = app::FormatText(
        t.summaryLine,
        {std::to_string(figures.filesDone), HumanBytes(figures.bytesDone), secondsText});
    const std::string verified =
        request.verify ? app::FormatText(t.copiesVerified, {std::to_string(result.copiesVerified)})
                       : std::string();
    if (leftUndone) {
        PrintLine(stderr, t.stopped);
        PrintLine(stderr, summary + verified);
        if (const std::uint64_t undone = app::FilesLeftUndone(figures); undone > 0)
            PrintLine(stderr, app::FormatText(t.undone, {std::to_string(undone)}));
        if (figures.filesKept > 0)
            PrintLine(stderr, app::FormatText(t.kept, {std::to_string(figures.filesKept)}));
        return kStopped;
    }
    PrintLine(summaryStream, std::string(t.copyDone) + " " + summary + verified);
    if (figures.filesKept > 0)
        PrintLine(summaryStream, app::FormatText(t.kept, {std::to_string(figures.filesKept)}));
    return result.failures.empty() && reported ? kDone : kFailures;
}

}  // namespace
}  // namespace ostrivane::cli

int main(int argc, char** argv) {
#ifdef LC_MESSAGES
    // The system's error texts in the language of the run's messages, which LC_ALL,
    // LC_MESSAGES and LANG choose (numbers stay as C writes them). GNU's LANGUAGE list
    // would put the C library's texts in another language than the program's own (Chinese
    // reasons in an English run): it is not consulted.
    ::unsetenv("LANGUAGE");
    std::setlocale(LC_MESSAGES, "");
#endif
    ostrivane::cli::PrepareConsole();
    return ostrivane::cli::Run(ostrivane::cli::ProgramArguments(argc, argv));
}
