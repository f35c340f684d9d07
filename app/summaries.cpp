#include "app/summaries.h"

#include <algorithm>

#include "app/report.h"
#include "app/texts.h"

namespace ostrivane::app {
namespace {

// "path: reason", one line per failure, for the first `limit` of them.
std::string FailureLines(const std::vector<Failure>& failures, std::size_t limit) {
    std::string lines;
    const std::size_t listed = std::min(failures.size(), limit);
    for (std::size_t i = 0; i < listed; ++i) {
        if (i > 0) lines += '\n';
        lines += ValidUtf8(failures[i].path) + ": " + ValidUtf8(failures[i].reason);
    }
    return lines;
}

// The count of failed items (`count` in `heading`, kFailedCount or kLeftOverCount), and how
// many of them follow by name.
std::string FailureHeading(std::size_t count, const char* heading) {
    std::string text = FormatText(heading, {std::to_string(count)});
    if (count > kFailuresListed)
        return text + FormatText(kFirstFailuresFollow, {std::to_string(kFailuresListed)});
    return text + "：";
}

// `first`, then, when some items failed, their number and the first of them.
std::string RunEndText(const char* first, const std::vector<Failure>& failures) {
    if (failures.empty()) return first;
    return std::string(first) + "\n\n" + FailureHeading(failures.size(), kFailedCount) + '\n' +
           FailureLines(failures, kFailuresListed);
}

// What the emptying left behind below the destinations, with the first of it.
std::string LeftOverText(const std::vector<Failure>& leftOver) {
    return FailureHeading(leftOver.size(), kLeftOverCount) + '\n' +
           FailureLines(leftOver, kFailuresListed);
}

}  // namespace

std::string ErrorBoxText(const std::string& message) {
    std::string text = ValidUtf8(message);
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
    return text;
}

std::string CopyCompletionText(const std::vector<Failure>& failures) {
    return RunEndText(kCopyDone, failures);
}

std::string CopyStoppedText(const std::vector<Failure>& failures) {
    return RunEndText(kCopyStopped, failures);
}

std::string WithVerifiedCopies(std::string endText, std::uint64_t copiesVerified) {
    const std::string line = "\n" + FormatText(kVerifiedCopies, {std::to_string(copiesVerified)});
    const size_t firstLineEnd = endText.find('\n');
    endText.insert(firstLineEnd == std::string::npos ? endText.size() : firstLineEnd, line);
    return endText;
}

std::string CopyRunEndText(const RunResult& result, bool verified, const TransferFigures& last) {
    std::string text =
        result.stopped() ? CopyStoppedText(result.failures) : CopyCompletionText(result.failures);
    // A stopped check counts only the copies it reached.
    if (verified) text = WithVerifiedCopies(std::move(text), result.copiesVerified);
    const std::string tally = RunTallyText(last, result.stopped());
    if (!tally.empty()) text += "\n" + tally;
    return text;
}

std::string CopyEndedText(const std::vector<Failure>& failures) {
    return RunEndText(kCopyEnded, failures);
}

std::string EmptyingStoppedText(const std::vector<Failure>& leftOver) {
    if (leftOver.empty()) return kEmptyingStopped;
    return std::string(kEmptyingStopped) + "\n\n" + LeftOverText(leftOver);
}

std::string EmptyingCompletionText(const std::vector<Failure>& leftOver) {
    if (leftOver.empty()) return kEmptyingDone;
    return LeftOverText(leftOver);
}

std::string FailureDetails(const std::vector<Failure>& failures) {
    return FailureLines(failures, failures.size());
}

std::string RunEndNotice(RunEnd end, std::size_t failureCount) {
    std::string notice = end == RunEnd::Ended     ? kCopyEnded
                         : end == RunEnd::Stopped ? kCopyStopped
                                                  : kCopyDone;
    if (failureCount > 0) notice += FormatText(kFailedCountNotice, {std::to_string(failureCount)});
    return notice;
}

std::string ReportNotSavedText(const std::string& file, const std::string& reason) {
    return FormatText(kReportNotSaved, {ValidUtf8(file), ValidUtf8(reason)});
}

std::uint64_t FilesLeftUndone(const TransferFigures& figures) {
    return figures.amountKnown && figures.filesExpected > figures.filesHandled
               ? figures.filesExpected - figures.filesHandled
               : 0;
}

std::string RunTallyText(const TransferFigures& figures, bool stopped) {
    std::string text;
    if (const std::uint64_t undone = FilesLeftUndone(figures); stopped && undone > 0)
        text += FormatText(kUndoneCount, {std::to_string(undone)}) + "。";
    if (figures.filesKept > 0) {
        if (!text.empty()) text += "\n";
        text += FormatText(kKeptCount, {std::to_string(figures.filesKept)}) + "。";
    }
    return text;
}

}  // namespace ostrivane::app
